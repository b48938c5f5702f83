#include <windows.h>

#include <cstdlib>

#include "channel/service.h"
#include "framework/application.h"
#include "notify/text.h"

void CService::ReportChannelBusyAndExit() {
    const std::u16string text = WidenBytes(kChannelBusyMessage);
    AfxMessageBox(reinterpret_cast<const wchar_t*>(text.c_str()), MB_OK | MB_ICONERROR);
    std::exit(0);
}
