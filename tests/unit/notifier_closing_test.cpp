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

}  // namespace
