#include <windows.h>

#include <io.h>

#include "base/wide_text_win.h"
#include "log/log_file.h"

FILE* OpenLogStream(const std::string& utf8Path, bool empty) {
    // The path stays Unicode all the way to the file system, so a profile
    // folder such as C:\Users\Zoë still finds its log.
    return _wfopen(Utf8ToWideString(utf8Path).c_str(), empty ? L"w" : L"a");
}

int64_t LogStreamSize(FILE* stream) {
    return static_cast<int64_t>(_filelengthi64(_fileno(stream)));
}

bool ReplaceLogFile(const std::string& fromUtf8, const std::string& toUtf8) {
    return ::MoveFileExW(Utf8ToWideString(fromUtf8).c_str(), Utf8ToWideString(toUtf8).c_str(),
                         MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool ToLocalTime(std::time_t t, std::tm* out) {
    return localtime_s(out, &t) == 0;
}
