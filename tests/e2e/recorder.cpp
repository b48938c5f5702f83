// Recorder: stands in for the settings program and for the browser. Each run
// writes its own path, current folder, command line and arguments into one
// new file in the records folder, then exits.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "record_format.h"

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring RecordsFolder() {
    wchar_t buffer[1024];
    DWORD length = GetEnvironmentVariableW(e2e::kRecordsVariable, buffer, 1024);
    if (length > 0 && length < 1024) {
        return std::wstring(buffer, length);
    }
    return e2e::kDefaultRecordsFolder;
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

std::wstring ModulePath() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::wstring CurrentFolder() {
    std::wstring path(32768, L'\0');
    DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    path.resize(length);
    return path;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::string text;
    text += std::string(e2e::kKeyModule) + "=" + Utf8(ModulePath()) + "\n";
    text += std::string(e2e::kKeyCurrentFolder) + "=" + Utf8(CurrentFolder()) + "\n";
    text += std::string(e2e::kKeyCommandLine) + "=" + Utf8(GetCommandLineW()) + "\n";
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; arguments != nullptr && i < count; ++i) {
        text += std::string(e2e::kKeyArgument) + "=" + Utf8(arguments[i]) + "\n";
    }
    LocalFree(arguments);

    std::wstring folder = RecordsFolder();
    MakeFolders(folder);
    wchar_t name[64];
    swprintf(name, 64, L"\\%016llu-%08lu", static_cast<unsigned long long>(GetTickCount64()),
             static_cast<unsigned long>(GetCurrentProcessId()));
    std::wstring temporary = folder + name + L".tmp";
    std::wstring final = folder + name + L".txt";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != text.size() || !MoveFileExW(temporary.c_str(), final.c_str(), 0)) {
        return 1;
    }
    return 0;
}
