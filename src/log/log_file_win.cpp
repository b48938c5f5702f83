#include <windows.h>

#include "base/wide_text_win.h"
#include "log/log_file.h"

FILE* OpenLogStream(const std::string& utf8Path) {
    // The path stays Unicode all the way to the file system, so a profile
    // folder such as C:\Users\Zoë still finds its log.
    return _wfopen(Utf8ToWideString(utf8Path).c_str(), L"a");
}

bool ToLocalTime(std::time_t t, std::tm* out) {
    return localtime_s(out, &t) == 0;
}
