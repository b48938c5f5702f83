#include "notify/frame_reader.h"

#include <cstdlib>

#include "base/wire_word.h"

const char* FrameErrorText(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "none";
        case FrameError::NotConnected:
            return "no client";
        case FrameError::Ended:
            return "client closed";
        case FrameError::Closed:
            return "client closed mid-frame";
        case FrameError::TimedOut:
            return "client stalled";
        case FrameError::Failed:
            return "read failed";
        case FrameError::Refused:
            return "client refused";
        case FrameError::BadLength:
            return "length out of bounds";
        case FrameError::NoMemory:
            return "out of memory";
    }
    return "unknown";
}

int ReadExactly(FrameTransport& transport, void* buffer, uint32_t count,
                std::chrono::milliseconds limit, uint32_t* doneOut) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + limit;
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t local = 0;
    uint32_t& done = doneOut != nullptr ? *doneOut : local;
    done = 0;
    while (done < count) {
        // The first read may take the whole limit; later ones what is left of it.
        const auto left =
            done == 0
                ? limit
                : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return TRANSFER_TIMED_OUT;
        }
        uint32_t got = 0;
        const int result = transport.ReadSome(bytes + done, count - done, left, &got);
        if (result != TRANSFER_OK) {
            return result;
        }
        if (got == 0 || got > count - done) {
            return TRANSFER_FAILED;  // a transport that breaks its contract
        }
        done += got;
    }
    return TRANSFER_OK;
}

int WriteReplyWord(FrameTransport& transport, int32_t reply, std::chrono::milliseconds limit) {
    unsigned char bytes[4];
    StoreWireWord(static_cast<uint32_t>(reply), bytes);
    return transport.WriteAll(bytes, sizeof bytes, limit);
}

namespace {

FrameError ErrorOf(int result) {
    switch (result) {
        case TRANSFER_CLOSED:
            return FrameError::Closed;
        case TRANSFER_TIMED_OUT:
            return FrameError::TimedOut;
        case TRANSFER_REFUSED:
            return FrameError::Refused;
        default:
            return FrameError::Failed;
    }
}

void* Fail(FrameTransport& transport, FrameError why, FrameError* error) {
    transport.Disconnect();
    if (error != nullptr) {
        *error = why;
    }
    return nullptr;
}

}  // namespace

void* ReadFrameBody(FrameTransport& transport, uint32_t* length, FrameError* error,
                    std::chrono::milliseconds limit) {
    *length = 0;
    if (transport.Connect() != TRANSFER_OK) {
        return Fail(transport, FrameError::NotConnected, error);
    }
    unsigned char word[4];
    uint32_t wordBytes = 0;
    int result = ReadExactly(transport, word, sizeof word, limit, &wordBytes);
    if (result == TRANSFER_CLOSED && wordBytes == 0) {
        return Fail(transport, FrameError::Ended, error);
    }
    if (result != TRANSFER_OK) {
        return Fail(transport, ErrorOf(result), error);
    }
    const uint32_t bodyLength = LoadWireWord(word);
    if (bodyLength == 0 || bodyLength > kMaxFrameBodyLength) {
        return Fail(transport, FrameError::BadLength, error);
    }
    void* body = std::malloc(bodyLength);
    if (body == nullptr) {
        return Fail(transport, FrameError::NoMemory, error);
    }
    result = ReadExactly(transport, body, bodyLength, limit);
    if (result != TRANSFER_OK) {
        std::free(body);
        return Fail(transport, ErrorOf(result), error);
    }
    *length = bodyLength;
    if (error != nullptr) {
        *error = FrameError::None;
    }
    return body;
}
