#include <windows.h>

#include <climits>

#include "service/installed_version.h"

std::wstring GetInstalledVersion() {
    const std::string text = GetInstalledVersionText();
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
        return std::wstring();
    }
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (units <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, wide.data(), units);
    return wide;
}
