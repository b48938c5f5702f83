// Texts handed to the Win32 API, whose wide strings hold the same UTF-16 units
// as the program's std::u16string.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"

inline std::wstring ToWideString(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

// A text or path of the program (UTF-8) as a wide string; text that is not
// well-formed UTF-8 is taken byte by byte (WidenBytes).
inline std::wstring Utf8ToWideString(std::string_view text) {
    const std::optional<std::u16string> units = Utf8ToUtf16(text);
    return ToWideString(units ? *units : WidenBytes(text));
}
