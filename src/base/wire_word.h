// The 32-bit words both channels carry (frame lengths, record and command
// codes, reply fields and the reply word): four bytes, least significant first,
// whatever the byte order of the machine.
#pragma once

#include <cstdint>

inline uint32_t LoadWireWord(const void* source) {
    const auto* bytes = static_cast<const unsigned char*>(source);
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

inline void StoreWireWord(uint32_t value, void* target) {
    auto* bytes = static_cast<unsigned char*>(target);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}
