// The notification worker against clients that misbehave at will. Input: a
// count K, then K control bytes, then the bytes the clients send. Each read or
// reply write of the fake channel takes the next control byte, which decides
// how many bytes a read delivers (0: all that was asked) or that the transfer
// fails (client closed, stalled, failed, an empty read, a read that claims
// more than was asked); once they are used up every read delivers all it was
// asked. A closed client's remaining bytes come from the next client.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "notify/notification_loop.h"
#include "fuzz_check.h"

namespace {

enum : uint8_t {
    kClosed = 0xFF,
    kStalled = 0xFE,
    kFailed = 0xFD,
    kEmptyRead = 0xFC,
    kOverlongRead = 0xFB,
};

class ScriptedClients : public FrameTransport {
public:
    ScriptedClients(const uint8_t* control, size_t controlSize, const uint8_t* wire,
                    size_t wireSize)
        : m_control(control), m_controlLeft(controlSize), m_wire(wire), m_wireLeft(wireSize) {}

    int Connect() override {
        if (!m_connected && m_wireLeft == 0) {
            return TRANSFER_FAILED;  // no further client
        }
        m_connected = true;
        return TRANSFER_OK;
    }

    int ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds,
                 uint32_t* transferred) override {
        // Only a connected client is read, never for nothing and never more
        // than a frame body may hold.
        FUZZ_CHECK(m_connected);
        FUZZ_CHECK(count > 0 && count <= kMaxFrameBodyLength);
        *transferred = 0;
        const uint8_t step = NextControl();
        switch (step) {
            case kClosed:
                return TRANSFER_CLOSED;
            case kStalled:
                return TRANSFER_TIMED_OUT;
            case kFailed:
                return TRANSFER_FAILED;
            case kEmptyRead:
                return TRANSFER_OK;
            case kOverlongRead:
                *transferred = count + 1;
                return TRANSFER_OK;
            default:
                break;
        }
        if (m_wireLeft == 0) {
            return TRANSFER_CLOSED;
        }
        size_t size = step == 0 ? count : std::min<size_t>(step, count);
        size = std::min(size, m_wireLeft);
        std::memcpy(buffer, m_wire, size);
        m_wire += size;
        m_wireLeft -= size;
        *transferred = static_cast<uint32_t>(size);
        return TRANSFER_OK;
    }

    int WriteAll(const void*, uint32_t count, std::chrono::milliseconds) override {
        // A reply goes only to the client that is connected, never to the next one.
        FUZZ_CHECK(m_connected);
        FUZZ_CHECK(count == 4);
        switch (NextControl()) {
            case kClosed:
                return TRANSFER_CLOSED;
            case kStalled:
                return TRANSFER_TIMED_OUT;
            default:
                return TRANSFER_OK;
        }
    }

    void Disconnect() override { m_connected = false; }

private:
    uint8_t NextControl() {
        if (m_controlLeft == 0) {
            return 0;
        }
        --m_controlLeft;
        return *m_control++;
    }

    const uint8_t* m_control;
    size_t m_controlLeft;
    const uint8_t* m_wire;
    size_t m_wireLeft;
    bool m_connected = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t controlSize = std::min<size_t>(data[0], size - 1);
    ScriptedClients clients(data + 1, controlSize, data + 1 + controlSize, size - 1 - controlSize);
    const NotificationHandler handler = [](const NotificationRecord& record) {
        // A decoded detail is the text before its NUL.
        FUZZ_CHECK(record.detail.size() < kMaxFrameBodyLength);
        FUZZ_CHECK(record.detail.find('\0') == std::string::npos);
        return static_cast<int32_t>(record.type & 1);
    };
    // Every pass uses up control or client bytes, so the input's end ends the loop.
    while (ServeNotificationFrame(clients, handler, nullptr) != PassOutcome::NoClient) {
    }
    return 0;
}
