#include "log/log_rate_limit.h"

#include <algorithm>

CLogRateLimit::CLogRateLimit(std::chrono::milliseconds interval, Clock clock)
    : m_interval(interval), m_clock(clock != nullptr ? clock : &std::chrono::steady_clock::now) {}

bool CLogRateLimit::Admit(std::string_view reason, std::string* line) {
    const auto now = m_clock();
    if (m_written && now - m_lastWritten < m_interval) {
        ++m_heldBack;
        m_lastHeld = reason;
        const auto same = std::find_if(m_held.begin(), m_held.end(), [&](const HeldReason& held) {
            return held.reason == reason;
        });
        if (same != m_held.end()) {
            ++same->count;
        } else {
            m_held.push_back({std::string(reason), 1});
        }
        return false;
    }
    *line = WrittenLine(reason, now);
    return true;
}

bool CLogRateLimit::Flush(std::string* line, bool atEnd) {
    if (m_heldBack == 0) {
        return false;
    }
    const auto now = m_clock();
    if (!atEnd && now - m_lastWritten < m_interval) {
        return false;
    }
    // The last event held back is the line's own; the note accounts for the others.
    const std::string reason = m_lastHeld;
    --m_heldBack;
    const auto own = std::find_if(m_held.begin(), m_held.end(),
                                  [&](const HeldReason& held) { return held.reason == reason; });
    if (own != m_held.end() && --own->count == 0) {
        m_held.erase(own);
    }
    *line = WrittenLine(reason, now);
    return true;
}

std::optional<std::chrono::milliseconds> CLogRateLimit::UntilFlush() const {
    if (m_heldBack == 0) {
        return std::nullopt;
    }
    const auto left = m_lastWritten + m_interval - m_clock();
    if (left.count() <= 0) {
        return std::chrono::milliseconds(0);
    }
    return std::chrono::ceil<std::chrono::milliseconds>(left);
}

std::string CLogRateLimit::WrittenLine(std::string_view reason,
                                       std::chrono::steady_clock::time_point now) {
    std::string line(reason);
    if (m_heldBack > 0) {
        line += " (" + std::to_string(m_heldBack) + " more since the last";
        const bool othersDiffer =
            std::any_of(m_held.begin(), m_held.end(),
                        [&](const HeldReason& held) { return held.reason != reason; });
        if (othersDiffer) {
            const char* separator = ": ";
            for (const HeldReason& held : m_held) {
                line += separator + std::to_string(held.count) + " " + held.reason;
                separator = ", ";
            }
        }
        line += ")";
    }
    m_heldBack = 0;
    m_held.clear();
    m_written = true;
    m_lastWritten = now;
    return line;
}
