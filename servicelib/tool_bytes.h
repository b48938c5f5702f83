// Bytes as the stand-in takes them from its command line and prints them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Hex digits (blanks, ':' and '-' between bytes allowed) to bytes; nothing on
// an odd count or a non-hex character.
std::optional<Bytes> ParseHex(std::string_view text);
// Lower-case hex, no separators.
std::string ToHex(const uint8_t* bytes, size_t size);
inline std::string ToHex(const Bytes& bytes) {
    return ToHex(bytes.data(), bytes.size());
}
// Decimal (optionally negative) or 0x-hex 32-bit integer.
std::optional<int64_t> ParseInteger(std::string_view text);

void AppendUint32(Bytes& bytes, uint32_t value);
uint32_t LoadUint32(const uint8_t* bytes);
