// What the logger asks of the platform.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

// Opens a UTF-8 path in append text mode; null with errno set on failure.
FILE* OpenLogStream(const std::string& utf8Path);

// Local broken-down time of `t`; false when it cannot be represented.
bool ToLocalTime(std::time_t t, std::tm* out);
