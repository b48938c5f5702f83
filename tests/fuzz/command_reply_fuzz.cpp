// The command channel's reply reader against any service. Input: a byte whose
// low two bits choose the request that was sent (0x300, 0x305, 0x301, 0x302)
// and whose bit 2 makes an update check silent, then the bytes the service
// sends back. A reply that is read is then decided on as the program does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "base/wire_word.h"
#include "fuzz_check.h"
#include "commands/command_exchange.h"
#include "commands/command_reply.h"
#include "update/update_check.h"
#include "update/update_offer.h"

namespace {

class ScriptedService : public CCommandTransport {
public:
    ScriptedService(const uint8_t* bytes, size_t size) : m_bytes(bytes), m_left(size) {}

    int Open() override { return 1; }
    int Write(uint32_t, const void*, ExchangeDeadline) override { return 1; }
    int Read(uint32_t count, void* buffer, ExchangeDeadline) override {
        // The length word, then a body no longer than the bound.
        FUZZ_CHECK(count > 0 && count <= COMMAND_REPLY_MAX_LENGTH);
        if (count > m_left) {
            m_left = 0;  // the service closed before the whole count came
            return 0;
        }
        std::memcpy(buffer, m_bytes, count);
        m_bytes += count;
        m_left -= count;
        m_read += count;
        return 1;
    }
    void Close() override {}

    size_t BytesRead() const { return m_read; }

private:
    const uint8_t* m_bytes;
    size_t m_left;
    size_t m_read = 0;
};

constexpr int32_t kRequests[] = {CMD_CHECK_UPDATE, CMD_VERSION, CMD_REPLY_INTEGER,
                                 CMD_REPLY_TWO_INTEGERS};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int32_t request = kRequests[data[0] & 3];
    const bool silent = (data[0] & 4) != 0;
    ScriptedService service(data + 1, size - 1);
    std::unique_ptr<CCommandReply> reply(ReadReplyFrom(service, request, ExchangeClock::now() + COMMAND_EXCHANGE_TIMEOUT));
    if (reply == nullptr) {
        return 0;
    }
    int32_t code = 0;
    FUZZ_CHECK(reply->m_valid == 1 && GetReplyInteger(*reply, REPLY_KEY_CODE, &code));
    FUZZ_CHECK(code == request);
    // Nothing past the frame is read: the length word and the body it announces.
    const uint32_t length = LoadWireWord(data + 1);
    FUZZ_CHECK(service.BytesRead() == 4 + static_cast<size_t>(length));

    if (request == CMD_VERSION) {
        FUZZ_CHECK(InstalledVersionFromReply(reply.get()).size() <= length - 5);
    } else if (request == CMD_CHECK_UPDATE) {
        int32_t n = 0;
        FUZZ_CHECK(GetReplyInteger(*reply, REPLY_KEY_TEXT_LENGTH, &n));
        FUZZ_CHECK(static_cast<uint32_t>(n) <= length - 13);
        const char* text = GetReplyText(*reply, REPLY_KEY_UPDATE_TEXT);
        FUZZ_CHECK(text != nullptr && std::strlen(text) <= static_cast<uint32_t>(n));
        const UpdateCheckDecision decision = DecideUpdateCheck(reply.get(), silent);
        if (decision.action == UpdateCheckAction::OfferUpdate) {
            const UpdateText fields = SplitUpdateText(decision.text);
            FUZZ_CHECK(fields.prefix.size() + fields.newVersion.size() + fields.whatsNew.size() <=
                       decision.text.size());
        }
    }
    return 0;
}
