// The library's reader of a command request against any client. Input: a
// byte that caps each read (bit 7: the client ends by closing, else by
// running out of time), then the bytes the client sends. The reader must
// never read past the request its length word announces or past the bound,
// and answer only the notifier's 4-byte requests, with a frame of their code.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "commands/command.h"
#include "fuzz_check.h"
#include "notify_serve.h"

namespace {

struct ScriptedClient : CServeConnection {
    const uint8_t* bytes;
    size_t left;
    uint8_t control;
    std::vector<Bytes> written;

    long ReadSome(uint8_t* buffer, uint32_t max, ServeClock::time_point) override {
        FUZZ_CHECK(max > 0);
        if (left == 0) {
            return (control & 0x80) != 0 ? SERVE_CLOSED : SERVE_FAILED;
        }
        const size_t n = std::min<size_t>({max, left, (control & 0x7F) + 1u});
        std::memcpy(buffer, bytes, n);
        bytes += n;
        left -= n;
        return static_cast<long>(n);
    }
    bool Write(const Bytes& reply, ServeClock::time_point) override {
        written.push_back(reply);
        return true;
    }
    bool AwaitClose(ServeClock::time_point) override { return true; }
    std::string PeerKey() override { return std::string(); }
};

int ORLIVAN_NOTIFY_CALL Version(void*, char* text, size_t size) {
    return std::snprintf(text, size, "1.2.3") < 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    orlivan_notify_command_handlers handlers{};
    handlers.size = sizeof handlers;
    handlers.version = Version;
    ScriptedClient client;
    client.bytes = data + 1;
    client.left = size - 1;
    client.control = data[0];
    const ExchangeResult result =
        ServeCommandExchange(client, handlers, 1, ServeClock::now() + SERVE_REQUEST_TIME);
    const Bytes read(data + 1, client.bytes);  // what the reader took
    const uint32_t length = read.size() >= 4 ? LoadUint32(read.data()) : 0;
    FUZZ_CHECK(read.size() <= 4 || (length <= SERVE_MAX_REQUEST && read.size() <= 4 + length));
    FUZZ_CHECK(result.answered == (client.written.size() == 1));
    if (result.answered) {
        const Bytes& reply = client.written[0];
        FUZZ_CHECK(read.size() == 8 && length == 4 && LoadUint32(read.data() + 4) == CMD_VERSION);
        FUZZ_CHECK(LoadUint32(reply.data()) == reply.size() - 4);
        FUZZ_CHECK(LoadUint32(reply.data() + 4) == CMD_VERSION);
    }
    return 0;
}
