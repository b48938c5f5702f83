// The application name that captions the framework's message boxes.
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
