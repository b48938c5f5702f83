#include "base/text.h"

#include <algorithm>
#include <sstream>

std::string IntToString(int32_t value) {
    std::ostringstream out(std::ios_base::out);
    out << value;
    return out.str();
}

std::string TextAfter(std::string_view marker, std::string_view text) {
    const size_t pos = text.find(marker);
    if (pos == std::string_view::npos) {
        return std::string();
    }
    return std::string(text.substr(pos + marker.size()));
}

std::string TextBefore(std::string_view text, std::string_view marker) {
    const size_t pos = text.find(marker);
    if (pos == std::string_view::npos) {
        return std::string();
    }
    return std::string(text.substr(0, pos));
}

std::u16string WidenBytes(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (char c : text) {
        wide.push_back(static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(c))));
    }
    return wide;
}

namespace {

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 < 0x80) {
            out.push_back(b0);
            ++i;
            continue;
        }
        size_t extra;
        char32_t cp;
        char32_t min;
        if ((b0 & 0xE0) == 0xC0) {
            extra = 1;
            cp = b0 & 0x1F;
            min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            extra = 2;
            cp = b0 & 0x0F;
            min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            extra = 3;
            cp = b0 & 0x07;
            min = 0x10000;
        } else {
            return std::nullopt;
        }
        if (text.size() - i <= extra) {
            return std::nullopt;
        }
        for (size_t k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if ((b & 0xC0) != 0x80) {
                return std::nullopt;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return std::nullopt;
        }
        AppendUtf16(out, cp);
        i += extra + 1;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string DecodeWindows1252(std::string_view text) {
    // 0x80-0x9F; 0xFFFD where the code page defines nothing.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
    };
    std::u16string decoded;
    decoded.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        decoded.push_back(byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : char16_t{byte});
    }
    return decoded;
}

std::u16string DecodeExternalText(std::string_view text, CodePageDecoder codePage) {
    if (auto utf16 = Utf8ToUtf16(text)) {
        return *utf16;
    }
    return codePage != nullptr ? codePage(text) : DecodeWindows1252(text);
}

namespace {

// `text` cut to `maxUnits` units ending in "...", however long it is.
std::u16string CutWithEllipsis(std::u16string_view text, size_t maxUnits) {
    static constexpr std::u16string_view kEllipsis = u"...";
    if (maxUnits <= kEllipsis.size()) {
        return std::u16string(kEllipsis.substr(0, maxUnits));
    }
    size_t keep = std::min(text.size(), maxUnits - kEllipsis.size());
    if (keep > 0 && IsHighSurrogate(text[keep - 1])) {
        --keep;
    }
    while (keep > 0 && text[keep - 1] == u'.') {
        --keep;
    }
    std::u16string fitted(text.substr(0, keep));
    fitted += kEllipsis;
    return fitted;
}

}  // namespace

std::u16string FitText(std::u16string_view text, size_t maxUnits) {
    if (text.size() <= maxUnits) {
        return std::u16string(text);
    }
    return CutWithEllipsis(text, maxUnits);
}

std::u16string FitBetween(std::u16string_view head, std::u16string_view variable,
                          std::u16string_view tail, size_t maxUnits) {
    const size_t fixed = head.size() + tail.size();
    const size_t room = fixed < maxUnits ? maxUnits - fixed : 0;
    std::u16string composed(head);
    if (variable.size() <= room) {
        composed += variable;
    } else if (!tail.empty() && tail.front() == u'.') {
        // The "..." takes the place of the full stop that follows it.
        composed += CutWithEllipsis(variable, room + 1);
        tail.remove_prefix(1);
    } else {
        composed += CutWithEllipsis(variable, room);
    }
    composed += tail;
    return composed;
}
