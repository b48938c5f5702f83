// The application name that titles the framework's message boxes.
#include "framework/application.h"

#include <gtest/gtest.h>

#include <thread>

TEST(ApplicationName, RunningFileNameWithoutExtension) {
    EXPECT_EQ(AppNameFromModulePath(L"C:\\Program Files\\Orlivan\\OrlivanSysTray.exe"),
              L"OrlivanSysTray");
    EXPECT_EQ(AppNameFromModulePath(L"C:\\my.tools\\notifier"), L"notifier");
    EXPECT_EQ(AppNameFromModulePath(L"C:\\a\\name.with.dots.exe"), L"name.with.dots");
    EXPECT_EQ(AppNameFromModulePath(L"\\\\?\\D:\\Zo\u00EB\\Tray.exe"), L"Tray");
    EXPECT_EQ(AppNameFromModulePath(L"plain.exe"), L"plain");
}

TEST(ApplicationName, CaptionsTheMessageBox) {
    // This test program has no application object: its own file name is used.
    EXPECT_STREQ(AfxGetAppName(), L"win_tests");

    std::thread presser([] {
        for (int i = 0; i < 100; ++i) {
            if (HWND box = ::FindWindowW(L"#32770", L"win_tests")) {
                wchar_t text[128] = {};
                ::GetDlgItemTextW(box, 0xFFFF, text, 128);
                const int answer = std::wstring(text) == L"Pipe busy" ? IDRETRY : IDCANCEL;
                ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(box, answer)));
                return;
            }
            ::Sleep(50);
        }
    });
    const int pressed = AfxMessageBox(L"Pipe busy", MB_RETRYCANCEL | MB_ICONERROR);
    presser.join();
    EXPECT_EQ(pressed, IDRETRY);
}
