// The service library's reader of a record's reply against any notifier.
// Input: a byte whose value modulo 8 is the count of control bytes that follow,
// each the count one read delivers at most (0 as 1; 0xFF: the notifier closes,
// 0xFE: the time runs out; past them: 4), then the bytes the notifier sends. The
// reader must never ask for more than the word's missing bytes, and must give
// the word, or tell a hang-up before it from one within it and a time-out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "notify_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const size_t controls = std::min<size_t>(data[0] % 8, size - 1);
    const uint8_t* control = data + 1;
    const uint8_t* wire = data + 1 + controls;
    size_t wireLeft = size - 1 - controls;
    size_t step = 0;
    size_t delivered = 0;
    long last = 1;
    int32_t reply = 0;
    const int result = ReadReplyWord(
        [&](uint8_t* buffer, uint32_t max) -> long {
            FUZZ_CHECK(max >= 1 && max <= 4 - delivered);
            const uint8_t c = step < controls ? control[step] : 4;
            ++step;
            if (c == 0xFF || wireLeft == 0) {
                return last = 0;
            }
            if (c == 0xFE) {
                return last = -1;
            }
            const size_t n = std::min({static_cast<size_t>(max), wireLeft, c == 0 ? size_t{1} : c});
            std::memcpy(buffer, wire, n);
            wire += n;
            wireLeft -= n;
            delivered += n;
            return last = static_cast<long>(n);
        },
        &reply);
    switch (result) {
        case ORLIVAN_NOTIFY_OK:
            FUZZ_CHECK(delivered == 4);
            FUZZ_CHECK(std::memcmp(&reply, data + 1 + controls, 4) == 0);
            break;
        case ORLIVAN_NOTIFY_E_CLOSED:
            FUZZ_CHECK(delivered == 0 && last == 0);
            break;
        case ORLIVAN_NOTIFY_E_MALFORMED_REPLY:
            FUZZ_CHECK(delivered > 0 && delivered < 4 && last == 0);
            break;
        case ORLIVAN_NOTIFY_E_TIMED_OUT:
            FUZZ_CHECK(delivered < 4 && last < 0);
            break;
        default:
            FUZZ_CHECK(false);
    }
    return 0;
}
