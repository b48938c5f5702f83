#include "log/log_rate_limit.h"

CLogRateLimit::CLogRateLimit(std::chrono::milliseconds interval, Clock clock)
    : m_interval(interval), m_clock(clock != nullptr ? clock : &std::chrono::steady_clock::now) {}

bool CLogRateLimit::Admit(uint64_t* heldBack) {
    const auto now = m_clock();
    if (m_written && now - m_lastWritten < m_interval) {
        ++m_heldBack;
        return false;
    }
    *heldBack = m_heldBack;
    m_heldBack = 0;
    m_written = true;
    m_lastWritten = now;
    return true;
}

std::string CLogRateLimit::HeldBackNote(uint64_t heldBack) {
    if (heldBack == 0) {
        return {};
    }
    return " (" + std::to_string(heldBack) + " more since the last)";
}
