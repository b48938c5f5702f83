#include "update/notifier_closing.h"

#include <gtest/gtest.h>

namespace {

constexpr char kDialog[] = "#32770";
constexpr char kCaption[] = "OrlivanSysTray";
constexpr char kPath[] = "C:\\Program Files (x86)\\Orlivan\\OrlivanSysTray.exe";
constexpr char kOwn[] = "S-1-5-21-1-2-3-1001";
constexpr char kOther[] = "S-1-5-21-1-2-3-1002";

TEST(NotifierClosing, OnlyTheOwnUsersNotifierWindowIsClosed) {
    using V = ClosingVerdict;
    const struct {
        NotifierWindowFacts window;
        const char* ownSid;
        ClosingVerdict expected;
    } cases[] = {
        {{kDialog, kCaption, kPath, kOwn}, kOwn, V::Close},
        {{kDialog, kCaption, "d:\\apps\\ORLIVANSYSTRAY.EXE", kOwn}, kOwn, V::Close},
        {{kDialog, kCaption, kPath, kOther}, kOwn, V::OtherUser},
        {{kDialog, kCaption, kPath, ""}, kOwn, V::OtherUser},  // owner unreadable
        {{kDialog, kCaption, kPath, ""}, "", V::OtherUser},    // helper's own user unknown
        {{kDialog, "About OrlivanSysTray", kPath, kOwn}, kOwn, V::NotNotifier},
        {{"Shell_TrayWnd", kCaption, kPath, kOwn}, kOwn, V::NotNotifier},
        {{kDialog, kCaption, "C:\\Tools\\OrlivanSysTray.exe.bak", kOwn}, kOwn, V::NotNotifier},
        {{kDialog, kCaption, "", kOwn}, kOwn, V::NotNotifier},  // program unreadable
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JudgeNotifierWindow(c.window, c.ownSid), c.expected)
            << c.window.className << " | " << c.window.caption << " | " << c.window.programPath
            << " | " << c.window.ownerSid << " | own " << c.ownSid;
    }
}

// One deadline for all notifiers: the stages fall due by the time since the
// start of the close, whatever the windows did.
TEST(NotifierClosing, StagesFallDueByTheTimeSinceTheStart) {
    using std::chrono::milliseconds;
    const struct {
        int elapsed;
        std::size_t due;
        int untilNext;
    } cases[] = {
        {0, 1, 2000}, {1999, 1, 1}, {2000, 2, 6000}, {9999, 3, 1}, {10000, 4, 0}, {60000, 4, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClosingStagesDue(milliseconds(c.elapsed)), c.due) << c.elapsed;
        EXPECT_EQ(UntilNextClosingStage(milliseconds(c.elapsed)), milliseconds(c.untilNext))
            << c.elapsed;
    }
}

TEST(NotifierClosing, StartedAgainOnlyWhereEndedAndNeverElevated) {
    using S = NotifierStart;
    const struct {
        NotifierStartFacts facts;  // ended, running, shell is own user, elevated, session token
        NotifierStart expected;
    } cases[] = {
        {{true, false, true, true, false}, S::ThroughShell},
        {{true, false, true, false, false}, S::ThroughShell},
        {{true, false, false, false, false}, S::Directly},
        {{true, false, false, true, false}, S::LeftToService},  // no cut-down elevated token
        {{true, false, false, true, true}, S::SessionUserToken},
        {{true, true, true, false, false}, S::None},   // one runs already
        {{false, false, true, false, true}, S::None},  // none was ended by this installation
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseNotifierStart(c.facts), c.expected)
            << c.facts.endedByInstallation << c.facts.running << c.facts.shellIsOwnUser
            << c.facts.elevated << c.facts.sessionUserToken;
    }
}

}  // namespace
