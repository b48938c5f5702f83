#include <windows.h>

#include "base/unique_handle_win.h"
#include "locations/paths.h"
#include "locations/paths_win.h"

std::string ReadInstallPath() {
    // Read into INSTALL_PATH_BUFFER_BYTES: a longer value fails with
    // ERROR_MORE_DATA and the default folder is used.
    wchar_t buffer[INSTALL_PATH_BUFFER_BYTES / sizeof(wchar_t)] = {};
    std::optional<std::u16string> units;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlivan", 0, KEY_READ, key.Put()) ==
        ERROR_SUCCESS) {
        DWORD size = sizeof buffer;
        if (RegQueryValueExW(key.Get(), L"Install Path", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
            units.emplace(reinterpret_cast<const char16_t*>(buffer), size / sizeof(wchar_t));
        }
    }
    if (!units) {
        return InstallFolderFromValue(std::nullopt);
    }
    return InstallFolderFromValue(std::u16string_view(*units));
}

std::u16string GetUserProfileDir() {
    static constexpr DWORD kUnits = 16384;
    std::u16string result;
    std::u16string buffer(kUnits, u'\0');
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Volatile Environment", 0, KEY_READ, key.Put()) ==
        ERROR_SUCCESS) {
        // Given as 16383 bytes, well inside the buffer, so the text read always
        // ends in a zero unit of the buffer.
        DWORD size = kUnits - 1;
        if (RegQueryValueExW(key.Get(), L"USERPROFILE", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS) {
            result = UpToTerminator(std::u16string_view(buffer).substr(0, size / sizeof(wchar_t)));
        }
    }
    return result;
}
