#include <windows.h>

#include <climits>

#include "base/code_page.h"

namespace {

std::u16string DecodeThreadAnsi(std::string_view text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) {
        return std::u16string();
    }
    const int length = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (units <= 0) {
        return std::u16string();
    }
    std::u16string wide(static_cast<size_t>(units), u'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length,
                        reinterpret_cast<wchar_t*>(wide.data()), units);
    return wide;
}

}  // namespace

std::string EncodeThreadAnsi(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size - 1));
    return narrow;
}

CodePageDecoder PlatformCodePageDecoder() {
    return &DecodeThreadAnsi;
}
