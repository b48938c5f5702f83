#include "base/code_page.h"
#include "base/wide_text_win.h"
#include "service/installed_version.h"

std::wstring GetInstalledVersion() {
    // The service reports the version in the thread's ANSI code page.
    return ToWideString(PlatformCodePageDecoder()(GetInstalledVersionText()));
}
