#include <windows.h>

#include <cstdlib>

#include "channel/service.h"
#include "framework/application.h"
#include "base/wide_text_win.h"

void CService::ReportChannelBusyAndExit() {
    AfxMessageBox(ToWideString(WidenBytes(kChannelBusyMessage)).c_str(), MB_OK | MB_ICONERROR);
    std::exit(0);
}
