#include "notify/code_page.h"
#include "service/installed_version.h"

std::wstring GetInstalledVersion() {
    // The service reports the version in the thread's ANSI code page.
    const std::u16string wide = PlatformCodePageDecoder()(GetInstalledVersionText());
    return std::wstring(wide.begin(), wide.end());
}
