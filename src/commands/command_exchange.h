// One request/reply exchange with the filter's service on the command channel.
//
// Every exchange is one connection: open, write the request frame (the length
// word 4, then the 4-byte body: two writes), read the reply frame (the length
// word L, then L body bytes: two reads), close. Exchanges on one transport run
// one at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "commands/command.h"

// The clock of exchanges, and the moment by which one must be over.
using ExchangeClock = std::chrono::steady_clock;
using ExchangeDeadline = ExchangeClock::time_point;

// Longest one whole exchange may take, counted from its start: the wait for
// an exchange another thread is making, every transfer, and the repeat of the
// length word. Past it the exchange ends with no reply, so a service that
// accepts and never answers holds the caller no longer than this.
constexpr std::chrono::milliseconds COMMAND_EXCHANGE_TIMEOUT{10000};

// Largest reply body accepted. A longer length word is refused before anything
// is allocated, and the exchange ends with no reply.
constexpr uint32_t COMMAND_REPLY_MAX_LENGTH = 64 * 1024;

// Lets one exchange at a time run on a transport; a caller that finds one
// running waits for its turn, with try_lock_until no longer than its
// deadline. Built on a plain mutex and a condition variable, which every
// platform's thread library (and its race checker) handles alike.
class CExchangeLock {
public:
    void lock();
    bool try_lock_until(ExchangeDeadline deadline);
    void unlock();

private:
    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_held = false;
};

// The connection to the service's command channel, as the exchange sees it.
// Open, Write and Read return 1 on success and 0 on failure; Write and Read
// open a connection first when none is open, move the whole count or fail,
// and wait no longer than `deadline` (one that has passed fails them at once
// unless the bytes can move without waiting). Close ends the connection (if
// any).
class CCommandTransport {
public:
    virtual ~CCommandTransport() = default;
    virtual int Open() = 0;
    virtual int Write(uint32_t count, const void* buffer, ExchangeDeadline deadline) = 0;
    virtual int Read(uint32_t count, void* buffer, ExchangeDeadline deadline) = 0;
    virtual void Close() = 0;

    // Held for the whole of an exchange: the interface thread and the
    // notification worker may both start one on the same transport.
    CExchangeLock& ExchangeLock() { return m_exchangeLock; }

    // The bound of one exchange on this transport (COMMAND_EXCHANGE_TIMEOUT
    // unless set otherwise).
    std::chrono::milliseconds ExchangeTimeout() const { return m_exchangeTimeout; }
    void SetExchangeTimeout(std::chrono::milliseconds timeout) { m_exchangeTimeout = timeout; }

private:
    CExchangeLock m_exchangeLock;
    std::chrono::milliseconds m_exchangeTimeout = COMMAND_EXCHANGE_TIMEOUT;
};

// Sends `command` and reads its reply; the caller deletes the reply. Null when
// there is no usable reply: nothing to send, no connection, a failed transfer,
// a refused reply (see ReadReplyFrom), or the exchange's bound ran out (while
// waiting for another exchange to end included). Only a failed length word,
// the first transfer, is repeated once on a new connection, and only while
// time is left; a failed body write or reply read ends the exchange at once,
// since on a new connection the service would never have seen the request.
// The connection is always closed on return.
CCommandReply* SendCommandOver(CCommandTransport& transport, CComand& command);

// Reads one reply frame from an open connection on which the request with
// command code `requestCode` has been written, by `deadline`. Null when the
// length word or body can't be read in time, L is 0 or above
// COMMAND_REPLY_MAX_LENGTH, the body is malformed (ParseReplyBody), or its
// code does not answer the request.
CCommandReply* ReadReplyFrom(CCommandTransport& transport, int32_t requestCode,
                             ExchangeDeadline deadline);

// An exchange made on a worker thread of its own, for a thread that must not
// wait for the service: the user interface, which keeps answering the system
// (end of session), the user (clicks) and repaints while the service is slow.
// Start returns at once; the exchange ends within the transport's bound, and
// `ended` is then called on the worker (the platform posts a message to the
// asking thread from it), after which the asking thread takes the reply.
//
// One exchange at a time per object: it is pending from Start until its reply
// is taken, and a Start meanwhile starts nothing, so a command chosen twice
// asks the service once and shows its outcome once. The object itself belongs
// to the asking thread.
//
// The worker shares only its own state with the object (command, reply, the
// callback) and keeps that alive itself, so it never outlives what it uses;
// `transport` must live as long as any worker (the service's command client
// lives for the process).
class CBackgroundExchange {
public:
    explicit CBackgroundExchange(CCommandTransport& transport) : m_transport(transport) {}
    CBackgroundExchange(const CBackgroundExchange&) = delete;
    CBackgroundExchange& operator=(const CBackgroundExchange&) = delete;

    // Sends `command` on a new worker and returns true; false, with nothing
    // started, while an exchange is pending. When no worker can be started the
    // exchange ends at once with no reply (and `ended` is called here).
    bool Start(std::unique_ptr<CComand> command, std::function<void()> ended);

    bool Pending() const { return m_state != nullptr; }

    // Once the pending exchange has ended: stores its reply through `reply`
    // (null when no usable reply came), frees the object for the next
    // exchange and returns true. False, with `reply` untouched, while the
    // exchange still runs or none was started.
    bool TakeReply(std::unique_ptr<CCommandReply>* reply);

private:
    struct State;
    CCommandTransport& m_transport;
    std::shared_ptr<State> m_state;
};
