#include "commands/command_reply.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "base/wire_word.h"

namespace {

int32_t ReadInt32(const uint8_t* bytes) {
    return static_cast<int32_t>(LoadWireWord(bytes));
}

// Stores a new block under `key`; false when it can't be allocated.
bool PutInteger(CCommandReply& reply, int32_t key, int32_t value) {
    void* block = ParameterMap::NewIntegerBlock(value);
    if (block == nullptr) {
        return false;
    }
    reply.SetParameter(key, block);
    return true;
}

bool PutText(CCommandReply& reply, int32_t key, const uint8_t* bytes, uint32_t size) {
    char* block =
        ParameterMap::NewTextBlock(std::string_view(reinterpret_cast<const char*>(bytes), size));
    if (block == nullptr) {
        return false;
    }
    reply.SetParameter(key, block);
    return true;
}

}  // namespace

CCommandReply* ParseReplyBody(const uint8_t* body, uint32_t length) {
    if (body == nullptr || length < 4) {
        return nullptr;
    }
    const int32_t code = ReadInt32(body);
    auto reply = std::make_unique<CCommandReply>();
    bool stored = false;
    switch (code) {
        case CMD_CHECK_UPDATE: {
            if (length < 12) {
                return nullptr;
            }
            const auto n = static_cast<uint32_t>(ReadInt32(body + 8));
            // 12 + n + 1 <= length, written so that it can't overflow.
            if (length < 13 || n > length - 13) {
                return nullptr;
            }
            stored = PutInteger(*reply, REPLY_KEY_CODE, code) &&
                     PutInteger(*reply, REPLY_KEY_STATUS, ReadInt32(body + 4)) &&
                     PutInteger(*reply, REPLY_KEY_TEXT_LENGTH, static_cast<int32_t>(n)) &&
                     PutText(*reply, REPLY_KEY_UPDATE_TEXT, body + 12, n);
            break;
        }
        case CMD_REPLY_INTEGER:
            if (length < 8) {
                return nullptr;
            }
            stored = PutInteger(*reply, REPLY_KEY_CODE, code) &&
                     PutInteger(*reply, REPLY_KEY_FIRST_INTEGER, ReadInt32(body + 4));
            break;
        case CMD_REPLY_TWO_INTEGERS:
            if (length < 12) {
                return nullptr;
            }
            stored = PutInteger(*reply, REPLY_KEY_CODE, code) &&
                     PutInteger(*reply, REPLY_KEY_FIRST_INTEGER, ReadInt32(body + 4)) &&
                     PutInteger(*reply, REPLY_KEY_SECOND_INTEGER, ReadInt32(body + 8));
            break;
        case CMD_VERSION:
            if (length < 5) {
                return nullptr;
            }
            stored = PutInteger(*reply, REPLY_KEY_CODE, code) &&
                     PutInteger(*reply, REPLY_KEY_VERSION_SIZE, static_cast<int32_t>(length - 4)) &&
                     PutText(*reply, REPLY_KEY_VERSION_TEXT, body + 4, length - 5);
            break;
        default:
            return nullptr;
    }
    if (!stored) {
        return nullptr;
    }
    reply->m_valid = 1;
    return reply.release();
}

bool GetReplyInteger(const CCommandReply& reply, int32_t key, int32_t* value) {
    const void* block = reply.GetParameter(key);
    if (block == nullptr) {
        return false;
    }
    std::memcpy(value, block, sizeof *value);
    return true;
}

const char* GetReplyText(const CCommandReply& reply, int32_t key) {
    return static_cast<const char*>(reply.GetParameter(key));
}

std::string InstalledVersionFromReply(const CCommandReply* reply) {
    if (reply == nullptr || reply->m_valid == 0) {
        return {};
    }
    const char* text = GetReplyText(*reply, REPLY_KEY_VERSION_TEXT);
    return text == nullptr ? std::string() : std::string(text);
}
