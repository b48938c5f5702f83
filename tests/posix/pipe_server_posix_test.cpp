// The notification channel's Unix domain socket as a file: its mode, and what
// a server left behind.
#include "channel/pipe_server.h"

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sys/stat.h>
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
