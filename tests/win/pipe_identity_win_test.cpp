// Who is at either end of a named pipe, read from the live tokens. Under Wine
// every process runs as one user, so "another user" is shown by a channel
// that serves a made-up SID: the same client is then refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "channel/pipe_identity_win.h"
#include "channel/pipe_server.h"
#include "channel_test_transport.h"
#include "log/logger.h"
#include "notify/frame_reader.h"
#include "tool_channel.h"
#include "tool_send.h"

namespace {

using namespace std::chrono_literals;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

// The binding reads the client of a raw pipe after the first read, as the
// notifier does, with the client asking for the identification level only;
// the thread acts as itself again afterwards.
TEST(PipeIdentity, ClientReadAfterTheFirstReadAndImpersonationEnded) {
    const TestChannelName channel;
    const HANDLE server = CreateNamedPipeW(Wide(channel.Name()).c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 512, 512, 5000, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const HANDLE client =
        CreateFileW(Wide(channel.Name()).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    DWORD moved = 0;
    char bytes[4] = {1, 0, 0, 0};
    ASSERT_TRUE(WriteFile(client, bytes, 4, &moved, nullptr));
    ASSERT_TRUE(ReadFile(server, bytes, 4, &moved, nullptr));

    const PipeClientIdentity identity = ReadPipeClientIdentity(server, nullptr);
    const std::string self = ProcessUserSidString();
    EXPECT_EQ(identity.token, PipeClientIdentity::Token::Read);
    EXPECT_EQ(identity.userSid, self);
    EXPECT_FALSE(identity.groups.empty());
    std::string groups;
    for (const auto& group : identity.groups) {
        groups += " " + group.sid + (group.enabled ? "" : "(off)");
    }
    std::printf("client %s, groups%s\n", identity.userSid.c_str(), groups.c_str());
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN)) << "still impersonating";

    // The client's side: the process serving the pipe is ours.
    EXPECT_EQ(PipeServerUserSid(client), self);
    CloseHandle(client);
    CloseHandle(server);
}

// The live channel serves its user through the check, and refuses the same
// client when it serves another user: before the frame is handed out, with
// one log line however often the client comes back.
TEST(PipeIdentity, ChannelServesItsUserAndRefusesAnyoneElse) {
    const std::string self = ProcessUserSidString();
    ASSERT_FALSE(self.empty());
    NotificationRecord ackOnly;
    ackOnly.type = 2;
    const std::string frame = EncodeNotificationFrame(EncodeNotificationRecord(ackOnly));
    {
        const TestChannelName channel;
        CPipeServer server(channel.Name());
        ASSERT_EQ(server.Create(), 1);
        TestClient client(channel.Name());
        client.Send(frame);
        uint32_t length = 0;
        FrameError error = FrameError::None;
        void* body = ReadFrameBody(server, &length, &error, 5000ms);
        EXPECT_NE(body, nullptr) << FrameErrorText(error);
        EXPECT_EQ(length, 4u);
        std::free(body);
    }
    const TestChannelName channel;
    const std::string logPath = channel.FilePath(".log");
    std::remove(logPath.c_str());
    {
        CLogger logger(logPath);
        CPipeServer server(channel.Name());
        server.SetServedUser("S-1-5-21-1-2-3-1001");
        server.SetLogger(&logger);
        ASSERT_EQ(server.Create(), 1);
        // The server waits for each client on a thread of its own, as the
        // worker does: a dropped client's successor can open the pipe only
        // once the server listens again.
        FrameError errors[2] = {FrameError::None, FrameError::None};
        void* bodies[2] = {nullptr, nullptr};
        std::thread worker([&] {
            for (int attempt = 0; attempt < 2; ++attempt) {
                uint32_t length = 0;
                bodies[attempt] = ReadFrameBody(server, &length, &errors[attempt], 5000ms);
            }
        });
        for (int attempt = 0; attempt < 2; ++attempt) {
            TestClient client(channel.Name());
            client.Send(frame);
            EXPECT_TRUE(client.EndedBy(5000ms)) << "the refused client is dropped";
        }
        worker.join();
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(bodies[attempt], nullptr);
            EXPECT_EQ(errors[attempt], FrameError::Refused) << FrameErrorText(errors[attempt]);
            std::free(bodies[attempt]);
        }
    }
    const std::string log = FileText(logPath);
    EXPECT_EQ(Count(log, "Notification client refused: " + self +
                             " is neither the user nor a service\r\n"),
              1u)
        << log;
    std::remove(logPath.c_str());
}

// The stand-in writes nothing to a pipe named after a user whose notifier does
// not serve it: here the pipe of a made-up SID, held by this process.
TEST(PipeIdentity, StandInSendsOnlyToTheAddressedUsersNotifier) {
    const std::string self = ProcessUserSidString();
    const std::string other = "S-1-5-21-1-2-3-" + std::to_string(GetCurrentProcessId());
    {
        const TestChannelName channel;
        CPipeServer own(channel.Name());
        ASSERT_EQ(own.Create(), 1);
        CPipeClient client(own.Name());
        ASSERT_EQ(client.Open(), 1);
        EXPECT_EQ(NotifierServerProblem(client, self), "");
        EXPECT_NE(NotifierServerProblem(client, other), "");
    }
    CPipeServer squatter(WindowsNotificationChannelName(other));
    ASSERT_EQ(squatter.Create(), 1);

    SendOptions options;
    options.userId = other;
    options.connectWaitMs = 2000;
    RecordToSend ackOnly;
    ackOnly.type = 2;
    options.records.push_back(ackOnly);
    std::string printed;
    std::string error;
    const int result = RunSend(
        options, [&printed](const std::string& line) { printed += line + "\n"; },
        [&error](const std::string& line) { error = line; });
    EXPECT_EQ(result, TOOL_EXIT_NOT_THE_USERS);
    EXPECT_EQ(error, "the server of \\\\.\\pipe\\" + other + " runs as " + self + ", not as " +
                         other + ": it is not that user's notifier, so nothing was sent");
    EXPECT_EQ(printed.find("connected"), std::string::npos) << printed;
}
