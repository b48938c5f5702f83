#include "commands/command_exchange.h"

#include <cstdlib>
#include <memory>

#include "base/wire_word.h"
#include "commands/command_reply.h"

namespace {

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};
using Block = std::unique_ptr<void, FreeBlock>;

// Writes the request frame. The length word is repeated once on a new
// connection when its write fails (nothing of the exchange has reached the
// service then); the body is written once.
bool WriteRequest(CCommandTransport& transport, const void* body, uint32_t size) {
    uint8_t lengthWord[4];
    StoreWireWord(size, lengthWord);
    if (transport.Write(sizeof lengthWord, lengthWord) == 0) {
        transport.Close();
        if (transport.Open() == 0 || transport.Write(sizeof lengthWord, lengthWord) == 0) {
            return false;
        }
    }
    return transport.Write(size, body) != 0;
}

}  // namespace

CCommandReply* SendCommandOver(CCommandTransport& transport, CComand& command) {
    void* raw = nullptr;
    const int32_t size = command.Serialize(&raw);
    Block body(raw);
    // A request body is at least the 4-byte command code.
    if (body == nullptr || size < 4) {
        return nullptr;
    }
    const auto requestCode = static_cast<int32_t>(LoadWireWord(body.get()));

    std::lock_guard<std::mutex> exchange(transport.ExchangeMutex());
    CCommandReply* reply = nullptr;
    if (transport.Open() != 0 && WriteRequest(transport, body.get(), static_cast<uint32_t>(size))) {
        reply = ReadReplyFrom(transport, requestCode);
    }
    transport.Close();
    return reply;
}

CCommandReply* ReadReplyFrom(CCommandTransport& transport, int32_t requestCode) {
    uint8_t lengthWord[4];
    if (transport.Read(sizeof lengthWord, lengthWord) == 0) {
        return nullptr;
    }
    const uint32_t length = LoadWireWord(lengthWord);
    if (length == 0 || length > COMMAND_REPLY_MAX_LENGTH) {
        return nullptr;
    }
    Block body(std::malloc(length));
    if (body == nullptr || transport.Read(length, body.get()) == 0) {
        return nullptr;
    }
    std::unique_ptr<CCommandReply> reply(
        ParseReplyBody(static_cast<const uint8_t*>(body.get()), length));
    int32_t code = 0;
    if (reply == nullptr || !GetReplyInteger(*reply, REPLY_KEY_CODE, &code) ||
        code != requestCode) {
        return nullptr;
    }
    return reply.release();
}
