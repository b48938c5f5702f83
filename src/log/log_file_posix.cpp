#include "log/log_file.h"

#include <sys/stat.h>

#include <cstdio>

FILE* OpenLogStream(const std::string& utf8Path, bool empty) {
    // "e": close-on-exec, so the settings program and the browser the
    // notifier starts do not inherit the log.
    return std::fopen(utf8Path.c_str(), empty ? "we" : "ae");
}

int64_t LogStreamSize(FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

bool ReplaceLogFile(const std::string& fromUtf8, const std::string& toUtf8) {
    return std::rename(fromUtf8.c_str(), toUtf8.c_str()) == 0;
}

bool ToLocalTime(std::time_t t, std::tm* out) {
    return localtime_r(&t, out) != nullptr;
}
