// The user's identifier on Windows: the SID string of the user the process
// runs as, the one its token names. The service addresses the logged-on user
// by the session's token as well; the logon name of the volatile environment
// ("USERNAME") may name another account of the same name (a local account
// beside the domain's), so it is only compared with it.
#include <windows.h>

#include <sddl.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/unique_handle_win.h"
#include "channel/channel_name.h"
#include "channel/pipe_identity_win.h"
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
    return ProcessUserSidString();
}

std::string UserNameMismatchNote(const std::string& userId) {
    std::optional<std::string> name;
    std::optional<std::string> nameSid;
    const std::wstring user = GetSessionUserName();
    if (!user.empty()) {
        name = Utf16ToUtf8(
            std::u16string_view(reinterpret_cast<const char16_t*>(user.data()), user.size()));
        UniqueLocal<wchar_t*> sid;
        if (LookupAccountSidString(user.c_str(), sid.Put()) == 1 && sid) {
            const std::wstring text = sid.Get();
            nameSid = std::string(text.begin(), text.end());  // SID strings are ASCII
        }
    }
    return UserNameMismatchLine(userId, name, nameSid);
}
