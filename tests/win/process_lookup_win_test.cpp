#include "notify/process_lookup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The file name of this test program.
std::string OwnExeName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path);
    return full.substr(full.find_last_of("\\/") + 1);
}

}  // namespace

TEST(ProcessLookup, NamesARunningProcessOnEveryCall) {
    const int32_t self = static_cast<int32_t>(GetCurrentProcessId());
    // The second call meets COM security set by the first.
    for (int call = 0; call < 2; ++call) {
        const std::string name = GetProcessName(self);
        ASSERT_FALSE(name.empty()) << call;
        // The bare name, or the executable's path, a backslash and the name.
        const std::string tail = name.substr(name.find_last_of('\\') + 1);
        EXPECT_EQ(Lower(tail), Lower(OwnExeName())) << name;
    }
}

TEST(ProcessLookup, NoProcessGivesNoName) {
    PROCESS_INFORMATION info{};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    wchar_t command[] = L"cmd.exe /c exit 0";
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &info));
    WaitForSingleObject(info.hProcess, 10000);
    const int32_t dead = static_cast<int32_t>(info.dwProcessId);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);  // the id is free once the last handle is closed
    EXPECT_EQ(GetProcessName(dead), "");
    EXPECT_EQ(GetProcessName(-1), "");
}
