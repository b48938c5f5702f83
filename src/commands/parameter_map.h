// The map that commands and replies carry: signed 32-bit keys, each naming a
// heap block allocated with malloc (a 4-byte integer or a NUL-terminated 8-bit
// text). The map owns its blocks and releases every non-null one with free.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>

class ParameterMap {
public:
    ParameterMap() = default;
    ~ParameterMap();
    ParameterMap(const ParameterMap&) = delete;
    ParameterMap& operator=(const ParameterMap&) = delete;

    // Stores `block` under `key`; from then on the map owns it. A block already
    // stored under the key is released first, so nothing leaks.
    void Set(int32_t key, void* block);

    // The block stored under `key`, or null when the key was never stored.
    void* Get(int32_t key) const;

    size_t Size() const { return m_blocks.size(); }

    // Block helpers for the two kinds of value. Both return null when the
    // block can't be allocated.
    static void* NewIntegerBlock(int32_t value);
    static char* NewTextBlock(std::string_view text);  // the bytes, then a NUL

private:
    std::map<int32_t, void*> m_blocks;
};
