// Keeps a flood of one kind of log line down to a line per interval: the first
// line goes through, the ones that follow within the interval are held back
// and counted with their reasons, and what was held back is written no later
// than an interval after the last line: on the next line let through, or on a
// line of its own (Flush) when no other comes. So every event is accounted
// for, with its reason, and none waits much longer than an interval.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CLogRateLimit {
public:
    using Clock = std::chrono::steady_clock::time_point (*)();

    // `clock` gives the current time (tests pass a controlled one).
    explicit CLogRateLimit(std::chrono::milliseconds interval, Clock clock = nullptr);

    // An event for `reason` (one of the program's own fixed texts, so the
    // reasons held back stay few). True when its line may be written now: the
    // first one, or one at least an interval after the last written; *line is
    // then the reason and the note on the events held back before it, and the
    // count starts again. False when the event is held back. One thread at a
    // time, for every member.
    bool Admit(std::string_view reason, std::string* line);

    // The line for the events held back, once an interval has passed since the
    // last line written (at once with `atEnd`, when no more lines will follow):
    // the reason of the last one held back, and the note on the others. False
    // when nothing is held back or it is not due yet.
    bool Flush(std::string* line, bool atEnd = false);

    // How long until Flush has a line: none when nothing is held back, zero
    // when it has one now.
    std::optional<std::chrono::milliseconds> UntilFlush() const;

private:
    struct HeldReason {
        std::string reason;
        uint64_t count;
    };

    // The line for `reason`, ending in " (N more since the last)" when N
    // events were held back, with their reasons and counts after a colon when
    // any differs from `reason`; the count starts again from now.
    std::string WrittenLine(std::string_view reason, std::chrono::steady_clock::time_point now);

    std::chrono::milliseconds m_interval;
    Clock m_clock;
    bool m_written = false;
    std::chrono::steady_clock::time_point m_lastWritten{};
    uint64_t m_heldBack = 0;
    std::vector<HeldReason> m_held;  // per reason, in the order first held back
    std::string m_lastHeld;
};
