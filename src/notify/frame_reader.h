// Reading whole frames from the notification channel: a 32-bit little-endian
// body length, then the body. Every length is checked before anything is
// allocated, short transfers are completed within a bounded time, and nothing
// past the frame is read.
#pragma once

#include <chrono>
#include <cstdint>

#include "notify/frame_transport.h"

// The largest frame body the channel accepts. A record is at most a type word
// and a detail text that a balloon cuts to 255 characters anyway.
constexpr uint32_t kMaxFrameBodyLength = 4096;

// How long a client may take to deliver the length word, and then the body,
// once it is connected (and how long a reply may take to be written).
constexpr std::chrono::milliseconds kClientWaitLimit{15000};

enum class FrameError {
    None,
    NotConnected,  // no client could be connected
    Ended,         // the client closed before a new frame began (its normal end)
    Closed,        // the client closed before the frame was whole
    TimedOut,      // the client stalled
    Failed,        // any other transfer failure
    Refused,       // the channel does not serve this client (it logs that itself)
    BadLength,     // a length of 0 or above kMaxFrameBodyLength
    NoMemory,
};

const char* FrameErrorText(FrameError error);

// Reads exactly `count` bytes, completing short transfers, within `limit`
// from the start of the call. TRANSFER_OK or the failing TransferResult;
// `*done` (when given) tells how many bytes arrived.
int ReadExactly(FrameTransport& transport, void* buffer, uint32_t count,
                std::chrono::milliseconds limit, uint32_t* done = nullptr);

// Writes the 4-byte reply word, little-endian, to the connected client within
// `limit`; never connects a new client. A TransferResult.
int WriteReplyWord(FrameTransport& transport, int32_t reply, std::chrono::milliseconds limit);

// Waits for a client if none is connected, then reads one frame. Returns a
// block allocated with malloc holding the body (the caller frees it) and sets
// `*length`; on any failure returns null, sets `*error` and drops the client so
// that the next call serves the next one. `error` may be null.
void* ReadFrameBody(FrameTransport& transport, uint32_t* length, FrameError* error,
                    std::chrono::milliseconds limit = kClientWaitLimit);
