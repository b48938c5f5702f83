// What the Linux notifier decides: notifications from balloons, its files,
// and the update's package for the machine.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "notify/desktop_application.h"
#include "notify/desktop_notification.h"
#include "notify/dispatch.h"
#include "locations/linux_desktop.h"
#include "update/update_offer.h"

TEST(DesktopNotification, BalloonsBecomeNotificationsWithTheirIcons) {
    CDesktopBalloons balloons;
    DesktopNotification n = balloons.Compose(u"Server Down", u"x < y & z", 3u, false);
    EXPECT_FALSE(n.close);
    EXPECT_EQ(n.summary, "Server Down");
    EXPECT_EQ(n.body, "x < y & z");
    EXPECT_EQ(n.icon, "orlivan-notifier-error");
    EXPECT_EQ(n.urgency, NotificationUrgency::Normal);  // a banner that expires, errors too
    EXPECT_EQ(n.expireTimeoutMs, 10000);
    // No icon kind given: the last one stays, as on the tray record.
    n = balloons.Compose(u"T", u"caf\u00e9", std::nullopt, true);
    EXPECT_EQ(n.icon, "orlivan-notifier-error");
    EXPECT_EQ(n.body, "caf\xc3\xa9");
    EXPECT_EQ(balloons.Compose(u"T", u"<b>&", 1u, true).body, "&lt;b&gt;&amp;");
    // The empty balloon of an unknown record takes the shown one down.
    EXPECT_TRUE(balloons.Compose(u"", u"", std::nullopt, true).close);
    // The kind in the low bits; the other flags (large icon, no sound) change nothing.
    const struct {
        uint32_t flags;
        const char* icon;
    } kinds[] = {
        {0, ""},
        {1, "orlivan-notifier-information"},
        {2, "orlivan-notifier-warning"},
        {3, "orlivan-notifier-error"},
        {4, ""},  // a balloon's own icon: none to name
        {0x23, "orlivan-notifier-error"},
    };
    for (const auto& k : kinds) {
        EXPECT_STREQ(BalloonIconName(k.flags), k.icon) << k.flags;
    }
    EXPECT_EQ(CDesktopBalloons().Compose(u"T", u"t", std::nullopt, false).icon, "");
}

TEST(DesktopNotification, BoxCompanionStaysUntilClosed) {
    const DesktopNotification n =
        BoxCompanionNotification(u"Caption", u"a <b> & c", kBalloonIconError, true);
    EXPECT_FALSE(n.close);
    EXPECT_EQ(n.summary, "Caption");
    EXPECT_EQ(n.body, "a &lt;b&gt; &amp; c");
    EXPECT_EQ(n.icon, "orlivan-notifier-error");
    EXPECT_EQ(n.urgency, NotificationUrgency::Critical);
    EXPECT_EQ(n.expireTimeoutMs, 0);
    const DesktopNotification offer =
        BoxCompanionNotification(u"C", u"a <b>", kBalloonIconInfo, false);
    EXPECT_EQ(offer.body, "a <b>");
    EXPECT_EQ(offer.icon, "orlivan-notifier-information");
}

TEST(DesktopNotification, IdsBelongToTheServerThatGaveThem) {
    using S = NoticeSlot;
    struct Given {
        S slot;
        const char* owner;
        uint32_t id;
    };
    // Whether the box waits, the ids given, the server that left (or none),
    // and what Take then gives for the balloon and the box's notice.
    struct Case {
        bool boxWaits;
        std::vector<Given> given;
        const char* gone;
        const char* balloon;
        const char* box;
    } cases[] = {
        {false, {{S::Balloon, ":1.5", 1}, {S::Balloon, ":1.5", 2}}, "", ":1.5#2", ""},
        {false, {{S::Balloon, ":1.5", 1}}, ":1.5", "", ""},
        {false, {{S::Balloon, ":1.5", 1}, {S::Balloon, ":1.9", 1}}, ":1.5", ":1.9#1", ""},
        {true, {{S::BoxCompanion, ":1.5", 3}, {S::BoxCompanion, ":1.9", 1}}, ":1.5", "", ":1.9#1"},
        {true, {{S::BoxCompanion, ":1.5", 3}, {S::Balloon, ":1.5", 4}}, "", ":1.5#4", ":1.5#3"},
        {false, {{S::BoxCompanion, ":1.5", 3}}, "", "", ""},  // the box was answered
    };
    const auto taken = [](const std::vector<GivenNotification>& given) {
        std::string text;
        for (const GivenNotification& g : given) {
            text += (text.empty() ? "" : ", ") + g.owner + "#" + std::to_string(g.id);
        }
        return text;
    };
    for (const Case& c : cases) {
        CNotificationBook book;
        if (c.boxWaits) {
            book.BoxWaits(u"Caption", u"Text", kBalloonIconError);
        }
        for (const Given& g : c.given) {
            EXPECT_EQ(book.Given(g.slot, g.owner, g.id), c.boxWaits || g.slot == S::Balloon);
        }
        book.ServerGone(c.gone);
        EXPECT_EQ(taken(book.Take(S::Balloon)), c.balloon) << c.balloon;
        EXPECT_EQ(taken(book.Take(S::BoxCompanion)), c.box) << c.box;
    }
    // One line when the notices change hands, none while they stay.
    CNotificationBook book;
    const std::pair<bool, const char*> steps[] = {
        {true, nullptr},
        {false, kNoticesShownByNotifierLine},
        {false, nullptr},
        {true, kNoticesShownByServerLine},
    };
    for (const auto& [server, line] : steps) {
        EXPECT_EQ(book.NoticesShownBy(server), line) << server;
    }
}

TEST(DesktopApplication, DesktopActionsRunTheMenuCommands) {
    const struct {
        const char* action;
        std::optional<TrayCommand> command;
    } cases[] = {
        {"settings", TrayCommand::Settings},
        {"check-update", TrayCommand::CheckUpdate},
        {"online-help", TrayCommand::OnlineHelp},
        {"report-problem", TrayCommand::ReportProblem},
        {"about", TrayCommand::About},
        {"About", std::nullopt},
        {"", std::nullopt},
        {"about ", std::nullopt},
        {"quit", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TrayCommandForAction(c.action), c.command) << c.action;
    }
    EXPECT_EQ(kActivationCommand, TrayCommand::Settings);
}

TEST(LinuxDesktop, FocusTokensHandedOnAreBoundedPrintableText) {
    const std::string longest(kFocusTokenMaxBytes, 'a');
    const struct {
        std::string token;
        bool usable;
    } cases[] = {
        {"4bd3c1e0-0f0a-4b51-9d2f-6a1c0e1f2a3b", true},
        {"host-1234-0_TIME5678 x", true},
        {longest, true},
        {longest + "a", false},
        {"", false},
        {"a\nb", false},
        {std::string("a\0b", 3), false},
        {"a\x7f", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsableFocusToken(c.token), c.usable) << c.token.size();
    }
}

TEST(LinuxDesktop, InstallFolderFromTheConfigurationFile) {
    struct Case {
        std::optional<std::string_view> text;
        const char* folder;
    } cases[] = {
        {std::nullopt, "/opt/orlivan/"},
        {"", "/opt/orlivan/"},
        {"InstallPath=/usr/lib/orlivan\n", "/usr/lib/orlivan"},
        {"  InstallPath = /srv/o/ \r\n", "/srv/o/"},
        {"# InstallPath=/x\nOther=/y\n", "/opt/orlivan/"},
        {"InstallPath=/a\nInstallPath=/b", "/b"},
        {"InstallPath=relative/dir\n", "/opt/orlivan/"},
        {"InstallPath=\n", "/opt/orlivan/"},
        {"InstallPathX=/a\n", "/opt/orlivan/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InstallFolderFromConfig(c.text), c.folder) << c.text.value_or("(none)");
    }
    // Only the first 64 KiB are read.
    std::string big(kConfigMaxBytes, '#');
    big += "\nInstallPath=/late\n";
    EXPECT_EQ(InstallFolderFromConfig(big), "/opt/orlivan/");
}

TEST(LinuxDesktop, SettingsProgramLogAndInstaller) {
    EXPECT_EQ(LinuxSettingsProgramPath("/opt/orlivan/"), "/opt/orlivan/ui/orlivan-ui");
    EXPECT_EQ(LinuxSettingsProgramPath("/opt/orlivan"), "/opt/orlivan/ui/orlivan-ui");
    EXPECT_EQ(LinuxLogFolder("/s", "/home/u"), "/s/orlivan");
    EXPECT_EQ(LinuxLogFolder(nullptr, "/home/u"), "/home/u/.local/state/orlivan");
    EXPECT_EQ(LinuxLogFolder("rel", "/home/u"), "/home/u/.local/state/orlivan");
    EXPECT_EQ(LinuxLogFolder(nullptr, nullptr), "");
    EXPECT_EQ(LinuxLogFilePath("/s/orlivan"), "/s/orlivan/OrlivanSysTray.log");
    // The update's package by the machine's architecture; the download page
    // for a machine without one.
    const std::pair<const char*, const char*> packages[] = {
        {"x86_64", "https://download.orlivan.com/linux/amd64/OrlivanUpdate_amd64.deb"},
        {"aarch64", "https://download.orlivan.com/linux/arm64/OrlivanUpdate_arm64.deb"},
        {"armv7l", "https://download.orlivan.com/linux/armhf/OrlivanUpdate_armhf.deb"},
        {"i686", "https://download.orlivan.com/linux/i386/OrlivanUpdate_i386.deb"},
        {"riscv64", "https://download.orlivan.com/linux/"},
        {"x86_64 ", "https://download.orlivan.com/linux/"},
        {"", "https://download.orlivan.com/linux/"},
    };
    for (const auto& [machine, url] : packages) {
        EXPECT_EQ(LinuxPackageUrl(machine), url) << machine;
    }
}
