// Keeps a flood of one kind of log line down to a line per interval: the first
// line goes through, the ones that follow within the interval are held back
// and counted, and the next line let through carries that count, so every
// event is still accounted for.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class CLogRateLimit {
public:
    using Clock = std::chrono::steady_clock::time_point (*)();

    // `clock` gives the current time (tests pass a controlled one).
    explicit CLogRateLimit(std::chrono::milliseconds interval, Clock clock = nullptr);

    // True when a line may be written now: the first one, or one at least an
    // interval after the last written. *heldBack is then the number of lines
    // held back since the last written, and the count starts again. False when
    // this line is held back (and counted). One thread at a time.
    bool Admit(uint64_t* heldBack);

    // What a written line appends for the lines held back before it:
    // " (N more since the last)", or nothing when there were none.
    static std::string HeldBackNote(uint64_t heldBack);

private:
    std::chrono::milliseconds m_interval;
    Clock m_clock;
    bool m_written = false;
    std::chrono::steady_clock::time_point m_lastWritten{};
    uint64_t m_heldBack = 0;
};
