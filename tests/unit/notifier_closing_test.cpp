#include "update/notifier_closing.h"

#include <gtest/gtest.h>

namespace {

constexpr char kOwnSid[] = "S-1-5-21-1-2-3-1001";

struct JudgeCase {
    const char* what;
    NotifierWindowFacts window;
    const char* ownSid;
    ClosingVerdict expected;
};

const NotifierWindowFacts kOwnNotifier{
    "#32770", "OrlivanSysTray", "C:\\Program Files (x86)\\Orlivan\\OrlivanSysTray.exe", kOwnSid};

NotifierWindowFacts With(NotifierWindowFacts window, std::string NotifierWindowFacts::*field,
                         std::string value) {
    window.*field = std::move(value);
    return window;
}

TEST(NotifierClosing, OnlyTheOwnUsersNotifierWindowIsClosed) {
    using F = NotifierWindowFacts;
    const JudgeCase cases[] = {
        {"own notifier", kOwnNotifier, kOwnSid, ClosingVerdict::Close},
        {"program name in another case, another folder",
         With(kOwnNotifier, &F::programPath, "d:\\apps\\ORLIVANSYSTRAY.EXE"), kOwnSid,
         ClosingVerdict::Close},
        {"another user's notifier", With(kOwnNotifier, &F::ownerSid, "S-1-5-21-1-2-3-1002"),
         kOwnSid, ClosingVerdict::OtherUser},
        {"SYSTEM's notifier", With(kOwnNotifier, &F::ownerSid, "S-1-5-18"), kOwnSid,
         ClosingVerdict::OtherUser},
        {"owner unreadable", With(kOwnNotifier, &F::ownerSid, ""), kOwnSid,
         ClosingVerdict::OtherUser},
        {"helper's own user unknown", With(kOwnNotifier, &F::ownerSid, ""), "",
         ClosingVerdict::OtherUser},
        {"About dialog of the notifier", With(kOwnNotifier, &F::caption, "About OrlivanSysTray"),
         kOwnSid, ClosingVerdict::NotNotifier},
        {"a window that is no dialog", With(kOwnNotifier, &F::className, "Shell_TrayWnd"), kOwnSid,
         ClosingVerdict::NotNotifier},
        {"same caption, other program",
         With(kOwnNotifier, &F::programPath, "C:\\Tools\\OrlivanSysTray.exe.bak"), kOwnSid,
         ClosingVerdict::NotNotifier},
        {"program path unreadable", With(kOwnNotifier, &F::programPath, ""), kOwnSid,
         ClosingVerdict::NotNotifier},
    };
    for (const JudgeCase& c : cases) {
        EXPECT_EQ(JudgeNotifierWindow(c.window, c.ownSid), c.expected) << c.what;
    }
}

TEST(NotifierClosing, ScheduleEscalatesInOrderAndEndsWaiting) {
    auto previous = std::chrono::milliseconds(-1);
    for (const ClosingStage& stage : kClosingSchedule) {
        EXPECT_GT(stage.after, previous);
        previous = stage.after;
    }
    EXPECT_EQ(kClosingSchedule[0].step, ClosingStep::EndSession);
    EXPECT_EQ(std::end(kClosingSchedule)[-1].step, ClosingStep::GiveUp);
}

}  // namespace
