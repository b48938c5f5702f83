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

// The channel is named after the token's user; the logon name is only
// compared with it, and the log says when it names someone else.
TEST(ChannelName, UserNameNamingAnotherAccountIsLoggedBesideTheChannelsUser) {
    const std::string sid = "S-1-5-21-7-8-9-1000";
    const std::string head =
        "Notification channel named after S-1-5-21-7-8-9-1000, the user the notifier runs as; "
        "USERNAME ";
    EXPECT_EQ(UserNameMismatchLine(sid, "ana", sid), "");
    EXPECT_EQ(UserNameMismatchLine(sid, "ana", "s-1-5-21-7-8-9-1000"), "");
    EXPECT_EQ(UserNameMismatchLine(sid, "ana", "S-1-5-21-4-5-6-1000"),
              head + "\"ana\" names another account (S-1-5-21-4-5-6-1000)\n");
    EXPECT_EQ(UserNameMismatchLine(sid, "gh\nost", std::nullopt),
              head + "\"gh?ost\" names no account\n");
    EXPECT_EQ(UserNameMismatchLine(sid, std::nullopt, std::nullopt), head + "can't be read\n");
}
