// The one log file of the program: a time-stamped line per event, flushed at
// once, appended across starts. A log that reaches its size limit becomes the
// old log and a new one starts, so the two files together stay near twice the
// limit whatever a peer makes the program log.
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

// The size at which the log is renamed to the old log and a new one started.
inline constexpr int64_t kLogSizeLimit = 1024 * 1024;

// The first line of every log the program starts: at each program start, and
// at the top of the new log after a full one was set aside.
inline constexpr char kLogStartMessage[] = "Orlivan Sys Tray Log";

// The old log beside `path`: ".old" goes before the extension of the file
// name ("OrlivanSysTray.log" gives "OrlivanSysTray.old.log"), or at the end
// when the name has none.
std::string OldLogPath(const std::string& path);

class CLogger {
public:
    using Clock = std::time_t (*)();

    // Opens `path` (UTF-8) for appending; an empty path or a failed open gives
    // a logger without a stream. A log already at `sizeLimit` bytes or more is
    // first set aside as the old log (the program then writes its start line
    // to the new one). `clock` gives the current time (tests pass a fixed one).
    explicit CLogger(std::string path, Clock clock = nullptr, int64_t sizeLimit = kLogSizeLimit);
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // The one logger of the process, created by the first call with `path`;
    // later calls return it and ignore their argument.
    static CLogger* GetInstance(const std::string& path);

    // Writes "<time stamp> <message>" when `level` is not below the minimum
    // level. Without a stream it prints "cannot create Log File <errno>" on
    // standard output instead. When the line brings the log to its size limit,
    // the log is renamed to the old log (replacing an older one) and a new log
    // starts with the start line.
    void Log(int32_t level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    // The same for a line the caller has formatted (with its line feed),
    // written as it stands.
    void LogLine(int32_t level, const std::string& line);

    // The program's end: waits for a line being written to be complete, then
    // closes the log. Every later line is dropped without a word, so a thread
    // still running when the process ends can't leave half a line behind.
    void Close();

    bool IsOpen() const {
        return m_file != nullptr;
    }
    const std::string& Path() const {
        return m_path;
    }

private:
    // With m_mutex held (or from the constructor).
    // Whether there is a stream; without one, says so on standard output.
    bool StreamOrReport();
    // Writes the stamp and the line, flushes, and sets a full log aside.
    void WriteLine(const char* text, size_t length);
    void WriteStamp();
    // Closes the log, renames it to the old log and opens a new, empty one.
    // When the rename fails (the old name is taken by a folder, or another
    // process holds a file open), the log is emptied in place instead: the
    // limit holds either way.
    void SetAsideFullLog();
    // Whether the log has reached its limit. Asks the file only when the
    // estimate says it may have, so a line costs no look-up of the file's size.
    bool ReachedLimit();

    FILE* m_file = nullptr;
    // At least the log's size in bytes: measured when the log is opened, then
    // grown by every line, each line feed counted twice (text mode may write a
    // carriage return before it).
    int64_t m_sizeEstimate = 0;
    std::string m_path;
    int32_t m_minLevel = 0;
    Clock m_clock;
    int64_t m_sizeLimit;
    // The last stamp written, with its blank (empty before the first line),
    // and the time it shows.
    std::string m_stamp;
    std::time_t m_stampTime = 0;
    bool m_closed = false;
    std::mutex m_mutex;
};
