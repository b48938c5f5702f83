// The service library's reader of a command request against any client.
// Input: a byte whose low two bits choose how the service answers (version,
// update check, a raw reply, or a handler that declines) and whose next bits
// whether the client ends by closing or by running out of time; a byte that
// caps each read; then the bytes the client sends. An exchange must never
// read past the request its length word announces, never answer one over the
// bound, and answer only a complete request of the notifier's form (a raw
// reply excepted) with a frame of its code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "commands/command.h"
#include "fuzz_check.h"
#include "notify_serve.h"

namespace {

class ScriptedClient : public CServeConnection {
public:
    ScriptedClient(const uint8_t* bytes, size_t size, size_t cap, bool closes)
        : m_bytes(bytes), m_left(size), m_cap(cap), m_closes(closes) {}

    long ReadSome(uint8_t* buffer, uint32_t max, ServeClock::time_point) override {
        FUZZ_CHECK(max > 0);
        if (m_left == 0) {
            return m_closes ? SERVE_CLOSED : SERVE_FAILED;
        }
        const size_t n = std::min({static_cast<size_t>(max), m_left, m_cap});
        std::memcpy(buffer, m_bytes, n);
        m_bytes += n;
        m_left -= n;
        read.insert(read.end(), buffer, buffer + n);
        return static_cast<long>(n);
    }
    bool Write(const Bytes& bytes, ServeClock::time_point) override {
        written.push_back(bytes);
        return true;
    }
    bool AwaitClose(ServeClock::time_point) override { return true; }
    std::string PeerKey() override { return std::string(); }

    Bytes read;
    std::vector<Bytes> written;

private:
    const uint8_t* m_bytes;
    size_t m_left;
    size_t m_cap;
    bool m_closes;
};

int ORLIVAN_NOTIFY_CALL Version(void*, char* text, size_t size) {
    std::snprintf(text, size, "1.2.3");
    return 0;
}

int ORLIVAN_NOTIFY_CALL CheckUpdate(void*, int32_t* status, char* text, size_t size) {
    *status = ORLIVAN_NOTIFY_UPDATE_AVAILABLE;
    std::snprintf(text, size, "a;2.0;x");
    return 0;
}

size_t ORLIVAN_NOTIFY_CALL RawReply(void*, int32_t, uint8_t* frame, size_t size) {
    FUZZ_CHECK(size >= 8);
    std::memset(frame, 0xAB, 8);
    return 8;
}

int ORLIVAN_NOTIFY_CALL Decline(void*, char*, size_t) {
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int mode = data[0] & 3;
    orlivan_notify_command_handlers handlers{};
    handlers.size = sizeof handlers;
    handlers.version = mode == 3 ? Decline : Version;
    handlers.check_update = mode == 1 ? CheckUpdate : nullptr;
    handlers.raw_reply = mode == 2 ? RawReply : nullptr;
    ScriptedClient client(data + 2, size - 2, data[1] == 0 ? 1 : data[1], (data[0] & 4) != 0);
    const ExchangeResult result =
        ServeCommandExchange(client, handlers, 1, ServeClock::now() + SERVE_REQUEST_TIME);
    const Bytes& read = client.read;
    const uint32_t length = read.size() >= 4 ? LoadUint32(read.data()) : 0;
    // Nothing past the length word when it is over the bound, nothing past
    // the announced body otherwise.
    FUZZ_CHECK(read.size() <= 4 || (length <= SERVE_MAX_REQUEST && read.size() <= 4 + length));
    FUZZ_CHECK(result.answered == (client.written.size() == 1));
    if (result.answered) {
        FUZZ_CHECK(read.size() == 4 + length);
        if (mode != 2) {
            FUZZ_CHECK(length == 4);
            const Bytes& reply = client.written[0];
            const int32_t code = static_cast<int32_t>(LoadUint32(read.data() + 4));
            FUZZ_CHECK(reply.size() >= 8 && LoadUint32(reply.data()) == reply.size() - 4);
            FUZZ_CHECK(static_cast<int32_t>(LoadUint32(reply.data() + 4)) == code);
            FUZZ_CHECK(code == CMD_VERSION || (mode == 1 && code == CMD_CHECK_UPDATE));
        }
    }
    return 0;
}
