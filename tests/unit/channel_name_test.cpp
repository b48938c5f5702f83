#include "channel/channel_name.h"
#include "channel/user_account.h"

#include <gtest/gtest.h>

TEST(ChannelName, WindowsNamesArePipeNames) {
    EXPECT_EQ(WindowsNotificationChannelName("S-1-5-21-0-0-0-1000"),
              "\\\\.\\pipe\\S-1-5-21-0-0-0-1000");
    EXPECT_EQ(WindowsNotificationChannelName(""), "\\\\.\\pipe\\");
    EXPECT_EQ(WindowsCommandChannelName(), "\\\\.\\pipe\\orlivan_notifier_cmd_pipe");
}

TEST(ChannelName, PosixNamesLiveInTheChannelDirectory) {
    EXPECT_EQ(PosixChannelDir(nullptr), "/tmp/orlivan");
    EXPECT_EQ(PosixChannelDir(""), "/tmp/orlivan");
    EXPECT_EQ(PosixChannelDir("/run/user/1000/orlivan"), "/run/user/1000/orlivan");
    EXPECT_EQ(PosixNotificationChannelName("/tmp/orlivan", "1000"), "/tmp/orlivan/1000");
    EXPECT_EQ(PosixCommandChannelName("/tmp/orlivan"), "/tmp/orlivan/orlivan_notifier_cmd_pipe");
}

TEST(ChannelName, CurrentUserHasAnIdentifier) {
    const std::string id = GetCurrentUserSidString();
    ASSERT_FALSE(id.empty());
#if defined(_WIN32)
    EXPECT_EQ(id.rfind("S-1-", 0), 0u) << id;
#else
    EXPECT_EQ(id.find_first_not_of("0123456789"), std::string::npos) << id;
#endif
}
