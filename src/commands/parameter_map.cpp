#include "commands/parameter_map.h"

#include <cstdlib>
#include <cstring>

ParameterMap::~ParameterMap() {
    for (auto& entry : m_blocks) {
        std::free(entry.second);  // free(nullptr) does nothing
    }
}

void ParameterMap::Set(int32_t key, void* block) {
    auto [it, inserted] = m_blocks.try_emplace(key, block);
    if (!inserted && it->second != block) {
        std::free(it->second);
        it->second = block;
    }
}

void* ParameterMap::Get(int32_t key) const {
    auto it = m_blocks.find(key);
    return it == m_blocks.end() ? nullptr : it->second;
}

void* ParameterMap::NewIntegerBlock(int32_t value) {
    void* block = std::malloc(sizeof value);
    if (block != nullptr) {
        std::memcpy(block, &value, sizeof value);
    }
    return block;
}

char* ParameterMap::NewTextBlock(std::string_view text) {
    char* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (block != nullptr) {
        if (!text.empty()) {
            std::memcpy(block, text.data(), text.size());
        }
        block[text.size()] = '\0';
    }
    return block;
}
