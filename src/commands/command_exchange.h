// One request/reply exchange with the filter's service on the command channel.
//
// Every exchange is one connection: open, write the request frame (the length
// word 4, then the 4-byte body: two writes), read the reply frame (the length
// word L, then L body bytes: two reads), close. Exchanges on one transport run
// one at a time.
#pragma once

#include <cstdint>
#include <mutex>

#include "commands/command.h"

// Longest a single transfer (one write or one read) may wait for the service.
// A service that accepts and never answers therefore costs at most this long
// per transfer; then the exchange ends with no reply.
constexpr uint32_t COMMAND_TRANSFER_TIMEOUT_MS = 10000;

// Largest reply body accepted. A longer length word is refused before anything
// is allocated, and the exchange ends with no reply.
constexpr uint32_t COMMAND_REPLY_MAX_LENGTH = 64 * 1024;

// The connection to the service's command channel, as the exchange sees it.
// Open, Write and Read return 1 on success and 0 on failure; Write and Read
// open a connection first when none is open, move the whole count or fail, and
// give up after a bounded wait. Close ends the connection (if any).
class CCommandTransport {
public:
    virtual ~CCommandTransport() = default;
    virtual int Open() = 0;
    virtual int Write(uint32_t count, const void* buffer) = 0;
    virtual int Read(uint32_t count, void* buffer) = 0;
    virtual void Close() = 0;

    // Held for the whole of an exchange: the interface thread and the
    // notification worker may both start one on the same transport.
    std::mutex& ExchangeMutex() { return m_exchangeMutex; }

private:
    std::mutex m_exchangeMutex;
};

// Sends `command` and reads its reply; the caller deletes the reply. Null when
// there is no usable reply: nothing to send, no connection, a failed transfer,
// a refused reply (see ReadReplyFrom). Only a failed length word, the first
// transfer, is repeated once on a new connection; a failed body write or reply
// read ends the exchange at once, since on a new connection the service would
// never have seen the request. The connection is always closed on return.
CCommandReply* SendCommandOver(CCommandTransport& transport, CComand& command);

// Reads one reply frame from an open connection on which the request with
// command code `requestCode` has been written. Null when the length word or
// body can't be read, L is 0 or above COMMAND_REPLY_MAX_LENGTH, the body is
// malformed (ParseReplyBody), or its code does not answer the request.
CCommandReply* ReadReplyFrom(CCommandTransport& transport, int32_t requestCode);
