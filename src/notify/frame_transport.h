// The server end of a notification channel as the frame reader and the worker
// loop see it: one client at a time, reads that may deliver fewer bytes than
// asked for, and waits that end. CPipeServer implements it over the platform's
// transport; tests implement it over scripted bytes.
#pragma once

#include <chrono>
#include <cstdint>

// Results of transfers on the channel.
enum TransferResult : int {
    TRANSFER_OK = 1,
    TRANSFER_FAILED = 0,
    TRANSFER_CLOSED = -1,     // the client closed its end
    TRANSFER_TIMED_OUT = -2,  // the bounded wait ran out; the client is still connected
    TRANSFER_REFUSED = -3,    // the channel does not serve this client: dropped (and logged) by it
};

class FrameTransport {
public:
    virtual ~FrameTransport() = default;

    // Waits until a client is connected; returns at once when one already is.
    // TRANSFER_OK when a client is connected; TRANSFER_FAILED when none could
    // be (a client that went before it was served, or the channel was shut down).
    virtual int Connect() = 0;

    // Reads at least 1 and at most `count` bytes from the connected client,
    // waiting at most `timeout` for them. TRANSFER_OK with `*transferred` set;
    // TRANSFER_CLOSED, TRANSFER_TIMED_OUT or TRANSFER_FAILED otherwise, or
    // TRANSFER_REFUSED when the first read shows a client the channel does
    // not serve (nothing it sent is handed out). Never connects a new client.
    virtual int ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds timeout,
                         uint32_t* transferred) = 0;

    // Writes all `count` bytes to the connected client within `timeout`.
    // TRANSFER_CLOSED when there is no client (also when it has gone). Never
    // connects a new client, so nothing meant for one client reaches the next.
    virtual int WriteAll(const void* buffer, uint32_t count, std::chrono::milliseconds timeout) = 0;

    // Drops the connected client, if any; the next Connect waits for a new one.
    virtual void Disconnect() = 0;
};
