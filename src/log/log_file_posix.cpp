#include "log/log_file.h"

FILE* OpenLogStream(const std::string& utf8Path) {
    return std::fopen(utf8Path.c_str(), "a");
}

bool ToLocalTime(std::time_t t, std::tm* out) {
    return localtime_r(&t, out) != nullptr;
}
