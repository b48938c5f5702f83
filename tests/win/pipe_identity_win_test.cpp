// Who is at either end of the live named pipe. Under Wine every process runs
// as one user, so "another user" is a channel that serves a made-up SID, or a
// pipe named after one: the same client is then refused, the same server
// distrusted.
#include <windows.h>

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

// The stand-in writes nothing to a pipe named after a user whose notifier does
// not serve it: here a made-up SID's pipe, served by this process.
TEST(PipeIdentity, StandInSendsOnlyToTheAddressedUsersNotifier) {
    const std::string other = "S-1-5-21-1-2-3-" + std::to_string(GetCurrentProcessId());
    CPipeServer squatter(WindowsNotificationChannelName(other));
    ASSERT_EQ(squatter.Create(), 1);
    SendOptions options;
    options.userId = other;
    options.records.push_back(RecordToSend{2, {}, {}, {}, {}, {}});
    std::string error;
    const int result = RunSend(
        options, [](const std::string& line) { ADD_FAILURE() << "printed " << line; },
        [&error](const std::string& line) { error = line; });
    EXPECT_EQ(result, TOOL_EXIT_NOT_THE_USERS);
    EXPECT_EQ(error, "the server of \\\\.\\pipe\\" + other + " runs as " + ProcessUserSidString() +
                         ", not as " + other +
                         ": it is not that user's notifier, so nothing was sent");
}
