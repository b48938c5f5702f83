// What the logger asks of the platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

// Opens a UTF-8 path in text mode, appending or (`empty`) truncated; null with
// errno set on failure.
FILE* OpenLogStream(const std::string& utf8Path, bool empty = false);

// Size in bytes of the file behind a flushed stream; -1 when it cannot be told.
int64_t LogStreamSize(FILE* stream);

// Renames a closed log file, replacing a file of the new name; false on failure.
bool ReplaceLogFile(const std::string& fromUtf8, const std::string& toUtf8);

// Local broken-down time of `t`; false when it cannot be represented.
bool ToLocalTime(std::time_t t, std::tm* out);
