// The application name that captions the framework's message boxes, and the
// wait cursor.
#include "framework/application.h"

#include <gtest/gtest.h>

TEST(ApplicationName, RunningFileNameWithoutExtension) {
    EXPECT_EQ(AppNameFromModulePath(L"C:\\Program Files\\Orlivan\\OrlivanSysTray.exe"),
              L"OrlivanSysTray");
    EXPECT_EQ(AppNameFromModulePath(L"C:\\my.tools\\notifier"), L"notifier");
    EXPECT_EQ(AppNameFromModulePath(L"C:\\a\\name.with.dots.exe"), L"name.with.dots");
    EXPECT_EQ(AppNameFromModulePath(L"\\\\?\\D:\\Zo\u00EB\\Tray.exe"), L"Tray");
    EXPECT_EQ(AppNameFromModulePath(L"plain.exe"), L"plain");
}

TEST(ApplicationName, WithoutApplicationObjectIsTheRunningFilesName) {
    // The caption of AfxMessageBox in this test program, which defines none.
    EXPECT_STREQ(AfxGetAppName(), L"win_tests");
}

// The wait cursor shows while the object lives, then the cursor before it:
// the one that was set, or the arrow when none was.
TEST(WaitCursor, ShowsWhileItLivesThenRestores) {
    const HCURSOR cross = LoadCursorW(nullptr, IDC_CROSS);
    for (HCURSOR before : {cross, static_cast<HCURSOR>(nullptr)}) {
        SetCursor(before);
        {
            CWaitCursor busy;
            EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
        }
        EXPECT_EQ(GetCursor(), before != nullptr ? before : LoadCursorW(nullptr, IDC_ARROW));
    }
}
