// The user's identifier on Windows: the SID string of the account that the
// logon session's volatile environment names.
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "base/code_page.h"
#include "base/unique_handle_win.h"
#include "channel/user_account.h"
#include "channel/user_account_win.h"

std::wstring GetSessionUserName() {
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Volatile Environment", 0, KEY_READ, key.Put()) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    wchar_t buffer[500] = {};  // 1000 bytes, terminator included
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key.Get(), L"USERNAME", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    // The stored value need not carry its terminator: never read past what was returned.
    const size_t units = size / sizeof(wchar_t);
    std::wstring name(buffer, units < 500 ? units : 500);
    const size_t nul = name.find(L'\0');
    if (nul != std::wstring::npos) {
        name.resize(nul);
    }
    return name;
}

int LookupAccountSidString(const wchar_t* accountName, wchar_t** sidString) {
    if (accountName == nullptr || sidString == nullptr) {
        return 0;
    }
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    LookupAccountNameW(nullptr, accountName, nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0 || domainSize == 0) {
        return 0;
    }
    std::vector<BYTE> sid(sidSize);
    std::vector<wchar_t> domain(domainSize);
    if (!LookupAccountNameW(nullptr, accountName, sid.data(), &sidSize, domain.data(), &domainSize,
                            &use)) {
        return 0;
    }
    return ConvertSidToStringSidW(sid.data(), sidString) ? 1 : 0;
}

std::string GetCurrentUserSidString() {
    const std::wstring user = GetSessionUserName();
    if (user.empty()) {
        return std::string();
    }
    UniqueLocal<wchar_t*> sid;
    if (LookupAccountSidString(user.c_str(), sid.Put()) != 1 || !sid) {
        return std::string();
    }
    return EncodeThreadAnsi(sid.Get());
}
