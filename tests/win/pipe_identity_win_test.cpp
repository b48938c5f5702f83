// Who is at either end of the live named pipe. Under Wine every process runs
// as one user, so "another user" is a channel that serves a made-up SID, or a
// pipe named after one: the same client is then refused, the same server
// distrusted.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "channel/channel_name.h"
#include "channel/pipe_identity_win.h"
#include "channel/pipe_server.h"
#include "channel_test_transport.h"
#include "log/logger.h"
#include "notify/frame_reader.h"
#include "tool_send.h"

using namespace std::chrono_literals;

// The client's token is read at the first read, and the client dropped before
// its frame is handed out, with one log line however often it comes back; the
// reading thread acts as itself again afterwards.
TEST(PipeIdentity, ChannelOfAnotherUserRefusesTheClientAndLogsItOnce) {
    const TestChannelName channel;
    const std::string logPath = channel.FilePath(".log");
    std::remove(logPath.c_str());
    {
        CLogger logger(logPath);
        CPipeServer server(channel.Name());
        server.SetServedUser("S-1-5-21-1-2-3-1001");
        server.SetLogger(&logger);
        ASSERT_EQ(server.Create(), 1);
        // The server reads on a thread of its own, as the worker does: a dropped
        // client's successor can open the pipe only once the server listens again.
        FrameError errors[2] = {FrameError::None, FrameError::None};
        bool impersonating = true;
        std::thread worker([&] {
            for (FrameError& error : errors) {
                uint32_t length = 0;
                EXPECT_EQ(ReadFrameBody(server, &length, &error, 5000ms), nullptr);
            }
            HANDLE token = nullptr;
            impersonating = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
        });
        for (int attempt = 0; attempt < 2; ++attempt) {
            TestClient client(channel.Name());
            client.SendFrame({2, "", 0});
            EXPECT_TRUE(client.EndedBy(5000ms)) << "the refused client is dropped";
        }
        worker.join();
        EXPECT_EQ(errors[0], FrameError::Refused);
        EXPECT_EQ(errors[1], FrameError::Refused);
        EXPECT_FALSE(impersonating);
    }
    std::ifstream file(logPath, std::ios::binary);
    std::stringstream log;
    log << file.rdbuf();
    file.close();
    // The one line, after its time stamp.
    EXPECT_EQ(log.str().substr(log.str().find(' ', 20) + 1),
              "Notification client refused: " + ProcessUserSidString() +
                  " is neither the user nor a service\r\n");
    std::remove(logPath.c_str());
}

// A client's token that keeps us out is read through the thread's effective
// token while impersonating: the impersonated user and groups.
TEST(PipeIdentity, EffectiveTokenGivesTheImpersonatedIdentity) {
    ASSERT_TRUE(ImpersonateSelf(SecurityIdentification));
    const PipeClientIdentity identity = ReadEffectiveTokenIdentity();
    ASSERT_TRUE(RevertToSelf());
    EXPECT_EQ(identity.token, PipeClientIdentity::Token::Read);
    EXPECT_EQ(identity.userSid, ProcessUserSidString());
    EXPECT_FALSE(identity.groups.empty());
}

// The stand-in writes only into a pipe whose owner is the addressed user, and
// nothing (not a byte) into any other: a made-up user's pipe held by this
// user, and this user's own channel name held by a pipe owned by someone else
// (served by a process of this very user, which a check of the server's
// process would let through).
TEST(PipeIdentity, StandInSendsOnlyToTheAddressedUsersNotifier) {
    const std::string self = ProcessUserSidString();
    const std::string other = "S-1-5-21-1-2-3-" + std::to_string(GetCurrentProcessId());
    const TestChannelName ownChannel;
    struct Row {
        std::string pipe;     // the pipe's name
        std::string owner;    // the owner set on the pipe object
        bool byUserId;        // addressed by --sid `other` (else --channel, the current user)
        std::string refusal;  // the error printed; empty: sent
    };
    const std::string otherPipe = WindowsNotificationChannelName(other);
    const Row rows[] = {
        {otherPipe, self, true,
         "the pipe " + otherPipe + " is owned by " + self + ", not by " + other +
             ": it is not that user's notifier, so nothing was sent"},
        {ownChannel.Name(), other, false,
         "the pipe " + ownChannel.Name() + " is owned by " + other + ", not by " + self +
             ": it is not that user's notifier, so nothing was sent"},
        {ownChannel.Name(), self, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pipe + " owned by " + row.owner);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const std::wstring sddl =
            L"O:" + std::wstring(row.owner.begin(), row.owner.end()) + L"D:(A;;GA;;;WD)";
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
        const std::wstring name(row.pipe.begin(), row.pipe.end());
        const HANDLE server =
            CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                             4096, 0, &attributes);
        LocalFree(descriptor);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        SendOptions options;
        if (row.byUserId) {
            options.userId = other;
        } else {
            options.channel = row.pipe;
        }
        options.records.push_back(RecordToSend{-3, {}, {}, {}, {}, {}});
        std::string error;
        const int result = RunSend(
            options, [](const std::string&) {},
            [&error](const std::string& line) { error = line; });
        DWORD written = 0;
        PeekNamedPipe(server, nullptr, 0, nullptr, &written, nullptr);
        CloseHandle(server);
        EXPECT_EQ(result, row.refusal.empty() ? TOOL_EXIT_OK : TOOL_EXIT_NOT_THE_USERS);
        EXPECT_EQ(error, row.refusal);
        EXPECT_EQ(written != 0, row.refusal.empty()) << written << " bytes written";
    }
}
