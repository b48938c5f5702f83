// The one log file of the program: a time-stamped line per event, flushed at
// once, appended across starts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

// The standard 24-character ctime layout without its line feed, e.g.
// "Mon Dec  7 09:05:03 2026": the day of the month is right-aligned in a field
// of width 3 (blanks, never a zero). Formatted here rather than by the C
// runtime, whose layout differs between platforms.
std::string FormatLogTimeStamp(const std::tm& local);

class CLogger {
public:
    using Clock = std::time_t (*)();

    // Opens `path` (UTF-8) for appending; an empty path or a failed open gives
    // a logger without a stream. `clock` gives the current time (tests pass a
    // fixed one).
    explicit CLogger(std::string path, Clock clock = nullptr);
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // The one logger of the process, created by the first call with `path`;
    // later calls return it and ignore their argument.
    static CLogger* GetInstance(const std::string& path);

    // Writes "<time stamp> <message>" when `level` is not below the minimum
    // level. Without a stream it prints "cannot create Log File <errno>" on
    // standard output instead.
    void Log(int32_t level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    bool IsOpen() const {
        return m_file != nullptr;
    }
    const std::string& Path() const {
        return m_path;
    }

private:
    FILE* m_file = nullptr;
    std::string m_path;
    int32_t m_minLevel = 0;
    Clock m_clock;
    std::mutex m_mutex;
};
