// The notification channel's Unix domain socket as a file: its mode, and what
// a server left behind.
#include "channel/pipe_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "channel_test_transport.h"

TEST(PipeServerPosix, TheSocketIsTheUsersAndALeftoverFileIsNoObstacle) {
    TestChannelName channel;
    const std::string& path = channel.Name();
    {
        CPipeServer first(path);
        ASSERT_EQ(first.Create(), 1);
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);  // the folder keeps others out; root gets in
    }
    // A socket file left behind does not keep the next server out.
    ASSERT_EQ(close(open(path.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    CPipeServer next(path);
    EXPECT_EQ(next.Create(), 1);
    EXPECT_EQ(CPipeServer("").Create(), 0);
    EXPECT_EQ(CPipeServer(path.substr(0, path.rfind('/') + 1)).Create(), 0);
}

// Bytes read ahead from a client go with it, and Shutdown ends a read that is
// waiting on a silent client long before its time-out.
TEST(PipeServerPosix, ReadAheadStaysWithItsClientAndShutdownEndsAWait) {
    using namespace std::chrono_literals;
    TestChannelName channel;
    CPipeServer server(channel.Name());
    ASSERT_EQ(server.Create(), 1);
    char bytes[8] = {};
    uint32_t got = 0;
    {
        TestClient first(channel.Name());
        first.Send("abcdefgh");
        ASSERT_EQ(server.Connect(), TRANSFER_OK);
        ASSERT_EQ(server.ReadSome(bytes, 2, 5s, &got), TRANSFER_OK);
        EXPECT_EQ(std::string(bytes, got), "ab");
        server.Disconnect();  // "cdefgh" was read ahead
    }
    TestClient second(channel.Name());
    second.Send("XY");
    ASSERT_EQ(server.Connect(), TRANSFER_OK);
    ASSERT_EQ(server.ReadSome(bytes, sizeof bytes, 5s, &got), TRANSFER_OK);
    EXPECT_EQ(std::string(bytes, got), "XY");

    int result = TRANSFER_OK;
    std::thread reader([&] { result = server.ReadSome(bytes, sizeof bytes, 60s, &got); });
    std::this_thread::sleep_for(100ms);
    server.Shutdown();
    reader.join();
    EXPECT_EQ(result, TRANSFER_FAILED);  // not TRANSFER_TIMED_OUT a minute later
}

// A process that ends through exit() with its server alive (the toolkit does
// that when the display goes away) leaves no socket file; a file at the name
// of a server that was already destroyed is not touched, nor one of the
// parent's by a forked child's exit.
TEST(PipeServerPosix, ExitRemovesTheSocketFileOfALiveServerOnly) {
    for (const bool alive : {true, false}) {
        TestChannelName channel;
        const std::string& path = channel.Name();
        EXPECT_EXIT(
            {
                static CPipeServer* kept = nullptr;  // reachable: no leak at exit
                kept = new CPipeServer(path);
                if (kept->Create() != 1) {
                    std::exit(3);
                }
                if (!alive) {
                    delete kept;
                    close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
                }
                const pid_t child = fork();
                if (child == 0) {
                    std::exit(0);
                }
                waitpid(child, nullptr, 0);
                std::exit(access(path.c_str(), F_OK) == 0 ? 0 : 4);
            },
            ::testing::ExitedWithCode(0), "");
        EXPECT_EQ(access(path.c_str(), F_OK) == 0, !alive) << (alive ? "alive" : "destroyed");
    }
}
