// The decoders of 8-bit text from outside the program (UTF-8, else the code
// page, here Windows-1252), the UTF-16 to UTF-8 encoder, and the cut that fits a
// text to a field. Input: the field size in units, then the text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "base/text.h"

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const size_t fieldUnits = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    // Well-formed UTF-8 decodes to what encodes back to the same bytes.
    const std::optional<std::u16string> utf16 = Utf8ToUtf16(bytes);
    if (utf16) {
        FUZZ_CHECK(Utf16ToUtf8(*utf16) == bytes);
    }
    const std::u16string decoded = DecodeExternalText(bytes, nullptr);
    FUZZ_CHECK(utf16 ? decoded == *utf16 : decoded.size() == bytes.size());

    // Any UTF-16 (unpaired surrogates too) encodes to well-formed UTF-8.
    std::u16string units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                              (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    }
    FUZZ_CHECK(Utf8ToUtf16(Utf16ToUtf8(units)).has_value());

    // Widening keeps each byte in the low 8 bits of its unit.
    const std::u16string widened = WidenBytes(bytes);
    FUZZ_CHECK(widened.size() == bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        FUZZ_CHECK(static_cast<char>(widened[i] & 0xFF) == bytes[i]);
    }

    // A cut text fits, keeps the start and ends in "..." without half a pair.
    const std::u16string fitted = FitText(decoded, fieldUnits);
    FUZZ_CHECK(fitted.size() <= fieldUnits);
    if (decoded.size() <= fieldUnits) {
        FUZZ_CHECK(fitted == decoded);
    } else if (fieldUnits > 3) {
        const size_t kept = fitted.size() - 3;
        FUZZ_CHECK(fitted.compare(kept, 3, u"...") == 0);
        FUZZ_CHECK(decoded.compare(0, kept, fitted, 0, kept) == 0);
        FUZZ_CHECK(kept == 0 || !IsHighSurrogate(fitted[kept - 1]));
    }
    return 0;
}
