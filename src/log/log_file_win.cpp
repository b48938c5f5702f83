#include <windows.h>

#include "log/logger.h"
#include "notify/text.h"

FILE* OpenLogStream(const std::string& utf8Path) {
    // The path stays Unicode all the way to the file system, so a profile
    // folder such as C:\Users\Zoë still finds its log.
    std::u16string wide = Utf8ToUtf16(utf8Path).value_or(WidenBytes(utf8Path));
    return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"a");
}

bool ToLocalTime(std::time_t t, std::tm* out) {
    return localtime_s(out, &t) == 0;
}
