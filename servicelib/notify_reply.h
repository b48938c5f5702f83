// The reader of a notification record's reply: a bare 4-byte word, which
// may come in pieces, be cut short by the notifier closing, or not come.
#pragma once

#include <cstdint>

#include "orlivan_notify.h"
#include "tool_bytes.h"

// Reads the 4-byte reply through `readSome(buffer, max)`, which gives the
// count of bytes read (at most `max`), 0 when the notifier closed, or a
// negative value on time-out or error. OK with `*reply` (may be null) set;
// E_CLOSED when the notifier closed before the first byte, E_MALFORMED_REPLY
// when it closed within the word, E_TIMED_OUT otherwise. Never asks for more
// than the word's missing bytes.
template <typename ReadSome>
int ReadReplyWord(ReadSome&& readSome, int32_t* reply) {
    uint8_t bytes[4];
    uint32_t got = 0;
    while (got < 4) {
        const long n = readSome(bytes + got, 4 - got);
        if (n < 0) {
            return ORLIVAN_NOTIFY_E_TIMED_OUT;
        }
        if (n == 0) {
            return got == 0 ? ORLIVAN_NOTIFY_E_CLOSED : ORLIVAN_NOTIFY_E_MALFORMED_REPLY;
        }
        got += static_cast<uint32_t>(n > static_cast<long>(4 - got) ? 4 - got : n);
    }
    if (reply != nullptr) {
        *reply = static_cast<int32_t>(LoadUint32(bytes));
    }
    return ORLIVAN_NOTIFY_OK;
}
