// The library's reader of a record's reply against any notifier. Input: each
// byte is one read: below 0xF0 it delivers at most (byte % 4) + 1 bytes of
// the 4-byte word 01 02 03 04, 0xF0 to 0xF7 the notifier closes, from 0xF8
// the time runs out. The reader must never ask for more than the word's
// missing bytes, and give the word or tell the three failures apart.
#include <algorithm>
#include <cstring>

#include "fuzz_check.h"
#include "notify_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t kWord[4] = {1, 2, 3, 4};
    size_t step = 0;
    uint32_t delivered = 0;
    long last = 0;
    int32_t reply = 0;
    const int result = ReadReplyWord(
        [&](uint8_t* buffer, uint32_t max) -> long {
            FUZZ_CHECK(max >= 1 && max <= 4 - delivered);
            const uint8_t c = step < size ? data[step++] : 0xF0;
            if (c >= 0xF0) {
                return last = c < 0xF8 ? 0 : -1;
            }
            const uint32_t n = std::min<uint32_t>(max, c % 4 + 1u);
            std::memcpy(buffer, kWord + delivered, n);
            delivered += n;
            return last = static_cast<long>(n);
        },
        &reply);
    FUZZ_CHECK(result != ORLIVAN_NOTIFY_OK || std::memcmp(&reply, kWord, 4) == 0);
    FUZZ_CHECK((result == ORLIVAN_NOTIFY_OK) == (delivered == 4));
    FUZZ_CHECK((result == ORLIVAN_NOTIFY_E_CLOSED) == (delivered == 0 && last == 0));
    FUZZ_CHECK((result == ORLIVAN_NOTIFY_E_MALFORMED_REPLY) == (delivered % 4 != 0 && last == 0));
    FUZZ_CHECK((result == ORLIVAN_NOTIFY_E_TIMED_OUT) == (last < 0));
    return 0;
}
