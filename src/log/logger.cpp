#include "log/logger.h"

#include <cerrno>
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "log/log_file.h"

namespace {

CLogger* g_logger = nullptr;

std::time_t SystemClock() {
    return std::time(nullptr);
}

}  // namespace

std::string FormatLogTimeStamp(const std::tm& local) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int wday = (local.tm_wday >= 0 && local.tm_wday < 7) ? local.tm_wday : 0;
    const int mon = (local.tm_mon >= 0 && local.tm_mon < 12) ? local.tm_mon : 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s%3d %02d:%02d:%02d %04d", kDays[wday], kMonths[mon],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return buf;
}

std::string OldLogPath(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    // A dot that starts the name (".log") or sits in a folder name is no extension.
    if (dot == std::string::npos || dot <= nameStart) {
        return path + ".old";
    }
    return path.substr(0, dot) + ".old" + path.substr(dot);
}

CLogger::CLogger(std::string path, Clock clock, int64_t sizeLimit)
    : m_path(std::move(path)),
      m_clock(clock != nullptr ? clock : &SystemClock),
      m_sizeLimit(sizeLimit) {
    if (!m_path.empty()) {
        m_file = OpenLogStream(m_path);
        m_sizeEstimate = m_file != nullptr ? LogStreamSize(m_file) : 0;
        if (m_file != nullptr && ReachedLimit()) {
            SetAsideFullLog();
        }
    }
}

CLogger::~CLogger() {
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

CLogger* CLogger::GetInstance(const std::string& path) {
    if (g_logger == nullptr) {
        g_logger = new CLogger(path);
    }
    return g_logger;
}

void CLogger::Log(int32_t level, const char* format, ...) {
    if (level < m_minLevel) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!StreamOrReport()) {
        return;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[512];
    std::string large;
    const char* text = small;
    const int length = std::vsnprintf(small, sizeof small, format, args);
    if (length >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = large.c_str();
    }
    va_end(again);
    va_end(args);
    WriteLine(text, length > 0 ? static_cast<size_t>(length) : 0);
}

void CLogger::LogLine(int32_t level, const std::string& line) {
    if (level < m_minLevel) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (StreamOrReport()) {
        WriteLine(line.data(), line.size());
    }
}

void CLogger::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_closed = true;
}

bool CLogger::StreamOrReport() {
    if (m_file != nullptr) {
        return true;
    }
    if (m_closed) {
        return false;
    }
    std::printf("cannot create Log File %d\n", errno);
    std::fflush(stdout);
    return false;
}

void CLogger::WriteLine(const char* text, size_t length) {
    WriteStamp();
    std::fwrite(text, 1, length, m_file);
    m_sizeEstimate += static_cast<int64_t>(length + std::count(text, text + length, '\n'));
    std::fflush(m_file);
    if (ReachedLimit()) {
        SetAsideFullLog();
        if (m_file != nullptr) {
            WriteStamp();
            std::fprintf(m_file, "%s\n", kLogStartMessage);
            m_sizeEstimate += static_cast<int64_t>(std::strlen(kLogStartMessage)) + 2;
            std::fflush(m_file);
        }
    }
}

void CLogger::WriteStamp() {
    // The stamp is formatted once a second at most: lines in a burst reuse it.
    const std::time_t now = m_clock();
    if (m_stamp.empty() || now != m_stampTime) {
        std::tm local{};
        // A clock outside the runtime's range gives an empty stamp; the message
        // is still written.
        m_stamp = ToLocalTime(now, &local) ? FormatLogTimeStamp(local) : "";
        m_stamp.push_back(' ');
        m_stampTime = now;
    }
    std::fwrite(m_stamp.data(), 1, m_stamp.size(), m_file);
    m_sizeEstimate += static_cast<int64_t>(m_stamp.size());
}

bool CLogger::ReachedLimit() {
    if (m_sizeEstimate < m_sizeLimit) {
        return false;
    }
    const int64_t size = LogStreamSize(m_file);
    if (size >= 0) {
        m_sizeEstimate = size;
    }
    return m_sizeEstimate >= m_sizeLimit;
}

void CLogger::SetAsideFullLog() {
    std::fclose(m_file);
    const bool renamed = ReplaceLogFile(m_path, OldLogPath(m_path));
    m_file = OpenLogStream(m_path, !renamed);
    m_sizeEstimate = 0;
}
