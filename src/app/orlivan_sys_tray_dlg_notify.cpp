// The main dialog's side of the notification dispatch: balloons on its tray
// icon, the driver-error box, the process lookup and the clock. Runs on the
// notification worker thread, which alone writes m_trayIconData once started.
#include <time.h>

#include "app/orlivan_sys_tray_dlg.h"
#include "app/update_screen.h"
#include "channel/service.h"
#include "framework/application.h"
#include "log/logger.h"
#include "base/code_page.h"
#include "notify/process_lookup.h"
#include "base/wide_text_win.h"

namespace {

// Copies `text` into a fixed field of `units` characters, terminator included.
template <size_t units>
void CopyField(wchar_t (&field)[units], std::u16string_view text) {
    const size_t count = text.size() < units ? text.size() : units - 1;
    for (size_t i = 0; i < count; ++i) {
        field[i] = static_cast<wchar_t>(text[i]);
    }
    field[count] = L'\0';
}

}  // namespace

int COrlivanSysTrayDlg::ShowNotification(const NotificationRecord* record) {
    return DispatchNotification(*record, *this, ProcessNotificationState(),
                                PlatformCodePageDecoder());
}

void COrlivanSysTrayDlg::Log(int32_t level, const std::string& line) {
    CLogger::GetInstance(std::string())->LogLine(level, line);
}

void COrlivanSysTrayDlg::ShowBalloon(std::u16string_view title, std::u16string_view text,
                                     std::optional<uint32_t> infoFlags) {
    m_trayIconData.uFlags = NIF_INFO;
    CopyField(m_trayIconData.szInfo, text);
    CopyField(m_trayIconData.szInfoTitle, title);
    m_trayIconData.uTimeout = 4;
    if (infoFlags.has_value()) {
        m_trayIconData.dwInfoFlags = *infoFlags;
    }
    ::Shell_NotifyIconW(NIM_MODIFY, &m_trayIconData);
}

void COrlivanSysTrayDlg::Pause(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void COrlivanSysTrayDlg::ShowErrorBox(std::u16string_view text, std::u16string_view caption) {
    // Shown by the worker, unasked: in front, or it may open unseen while the
    // worker (and every later notification) waits for it.
    ::MessageBoxW(m_hWnd, ToWideString(text).c_str(), ToWideString(caption).c_str(),
                  MB_OK | MB_ICONERROR | kInFrontBoxStyle);
}

void COrlivanSysTrayDlg::CheckForUpdateSilently() {
    // Shows nothing when the installed version is the latest; an offer or an
    // error is shown from this (the worker) thread.
    CService::GetInstance()->CheckForUpdate(true, UpdateScreen(UpdateCheckOrigin::Notification));
}

std::string COrlivanSysTrayDlg::GetProcessName(int32_t processId) {
    return ::GetProcessName(processId);
}

int64_t COrlivanSysTrayDlg::Now() {
    return static_cast<int64_t>(_time64(nullptr));
}
