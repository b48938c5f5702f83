#include "channel/channel_name.h"
#include "channel/user_account.h"

#include <gtest/gtest.h>

TEST(ChannelName, WindowsNamesArePipeNames) {
    EXPECT_EQ(WindowsNotificationChannelName("S-1-5-21-0-0-0-1000"),
              "\\\\.\\pipe\\S-1-5-21-0-0-0-1000");
    EXPECT_EQ(WindowsNotificationChannelName(""), "\\\\.\\pipe\\");
    EXPECT_EQ(WindowsCommandChannelName(), "\\\\.\\pipe\\orlivan_notifier_cmd_pipe");
}

TEST(ChannelName, PosixNotificationFolderIsTheUsersRuntimeFolder) {
    struct Case {
        const char* channelDir;
        const char* runtimeDir;
        const char* notifier;  // as the notifier finds it
        const char* service;   // as the service computes it from the uid
    } cases[] = {
        {nullptr, nullptr, "/run/user/1000/orlivan", "/run/user/1000/orlivan"},
        {nullptr, "/run/user/1000", "/run/user/1000/orlivan", "/run/user/1000/orlivan"},
        {"", "", "/run/user/1000/orlivan", "/run/user/1000/orlivan"},
        {nullptr, "relative/dir", "/run/user/1000/orlivan", "/run/user/1000/orlivan"},
        {nullptr, "/tmp/xdg", "/tmp/xdg/orlivan", "/run/user/1000/orlivan"},
        {"/tmp/t", "/run/user/1000", "/tmp/t", "/tmp/t"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PosixNotificationFolder(c.channelDir, c.runtimeDir, "1000"), c.notifier);
        EXPECT_EQ(PosixServiceNotificationFolder(c.channelDir, "1000"), c.service);
    }
    EXPECT_EQ(PosixNotificationChannelName("/run/user/7/orlivan"),
              "/run/user/7/orlivan/notification");
}

TEST(ChannelName, PosixCommandChannelIsTheServicesSocket) {
    EXPECT_EQ(PosixCommandChannelName(PosixCommandFolder(nullptr)), "/run/orlivan/command");
    EXPECT_EQ(PosixCommandChannelName(PosixCommandFolder("")), "/run/orlivan/command");
    EXPECT_EQ(PosixCommandChannelName(PosixCommandFolder("/tmp/t")), "/tmp/t/command");
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
