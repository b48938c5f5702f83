#include "commands/command.h"

#include <cstdlib>

#include "base/wire_word.h"

namespace {

// Allocates the 4-byte request body holding `code` in little-endian order.
int32_t SerializeCode(int32_t code, void** out) {
    auto* body = static_cast<uint8_t*>(std::malloc(4));
    *out = body;
    if (body == nullptr) {
        return 0;
    }
    StoreWireWord(static_cast<uint32_t>(code), body);
    return 4;
}

}  // namespace

void CComand::SetParameter(int32_t key, void* block) {
    m_params.Set(key, block);
}

void* CComand::GetParameter(int32_t key) {
    return m_params.Get(key);
}

int32_t CCheckUpdateCommand::Serialize(void** out) {
    return SerializeCode(CMD_CHECK_UPDATE, out);
}

int32_t CVersionCommand::Serialize(void** out) {
    return SerializeCode(CMD_VERSION, out);
}
