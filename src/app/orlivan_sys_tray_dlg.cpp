#include "app/orlivan_sys_tray_dlg.h"

#include <windowsx.h>

#include <cstdlib>
#include <initializer_list>
#include <string_view>

#include "app/common_controls.h"
#include "app/info_dialog.h"
#include "app/localized_ui.h"
#include "app/taskbar_look.h"
#include "app/notification_thread.h"
#include "app/resources/resource.h"
#include "app/update_screen.h"
#include "channel/pipe_server.h"
#include "channel/pipe_client.h"
#include "channel/service.h"
#include "commands/command.h"
#include "framework/application.h"
#include "framework/menu.h"
#include "log/logger.h"
#include "locations/paths.h"
#include "locations/paths_win.h"
#include "base/messages.h"
#include "base/text.h"
#include "base/unique_handle_win.h"
#include "base/wide_text_win.h"
#include "locations/web_addresses.h"
#include "update/update_ui.h"

#if !defined(_WIN64)
static_assert(sizeof(NOTIFYICONDATAW) == 956, "the full tray icon record of 32-bit Windows");
#endif

namespace {

// Sent by the shell to every top-level window when a notification area
// (re)appears.
const UINT s_taskbarCreatedMessage = ::RegisterWindowMessageW(L"TaskbarCreated");

constexpr UINT_PTR kTrayRetryTimer = 1;
constexpr UINT kTrayRetryMilliseconds = 2000;

// How long the end waits for the notification worker to finish the record it
// is handling. A worker held by an open box is left to end with the process.
constexpr DWORD kWorkerEndWaitMs = 2000;

// Waits at most `milliseconds` for `thread` to end. Messages other threads
// send to this one (a dialog of the worker's that touches the main window)
// are answered meanwhile, so the two never wait for each other; posted
// messages stay queued.
void WaitForThreadEnd(HANDLE thread, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return;
        }
        const DWORD waited = ::MsgWaitForMultipleObjects(
            1, &thread, FALSE, static_cast<DWORD>(deadline - now), QS_SENDMESSAGE);
        if (waited != WAIT_OBJECT_0 + 1) {
            return;  // ended, timed out, or failed
        }
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// The application icon at the size of a system metric (e.g. SM_CXSMICON):
// the image drawn for that size, so the icon stays sharp at any display
// scale. Owned by the caller.
HICON LoadApplicationIcon(int widthMetric, int heightMetric) {
    return static_cast<HICON>(::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                           IMAGE_ICON, ::GetSystemMetrics(widthMetric),
                                           ::GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}

// The tray icon in a drawing: the notification area shows small icons, and
// this picks the image for the small icon size of the display scale, as the
// shell expects. `controls` (null before the tray icon exists, when the common
// controls are not loaded yet) lets it scale from a larger image. Null when it
// can't be loaded. Owned by the caller.
HICON LoadTrayIcon(TrayIconArt art, const CommonControls* controls) {
    return LoadSmallIcon(AfxGetResourceHandle(), MAKEINTRESOURCEW(TrayIconResource(art)), controls);
}

void OpenWebAddress(const char* url) {
    ::ShellExecuteW(nullptr, L"open", Utf8ToWideString(url).c_str(), nullptr, nullptr,
                    SW_SHOWNORMAL);
}

// The notification channel is held by another notifier of this user (or can't
// be made): say so and end the process before any tray icon exists.
void ReportChannelBusyAndExit() {
    AfxMessageBox(ToWideString(MessageText16(MessageId::ChannelBusy)).c_str(),
                  MB_OK | MB_ICONERROR);
    std::exit(0);
}

}  // namespace

COrlivanSysTrayDlg::COrlivanSysTrayDlg()
    : CDialog(IDD_ORLIVANSYSTRAY_DIALOG, nullptr),
      m_hIcon(nullptr),
      m_hSmallIcon(nullptr),
      m_trayIconData{},
      m_hThread(INVALID_HANDLE_VALUE),
      m_pInfoDialog(nullptr) {
    m_installPath = ReadInstallPath();

    const std::string profile = Utf16ToUtf8(GetUserProfileDir());
    // An existing folder makes this fail, which is fine.
    ::CreateDirectoryW(Utf8ToWideString(LogFolderPath(profile)).c_str(), nullptr);
    CLogger::GetInstance(LogFilePath(profile))->Log(0, "%s\n", kLogStartMessage);

    m_hIcon = LoadApplicationIcon(SM_CXICON, SM_CYICON);
    m_hSmallIcon = LoadApplicationIcon(SM_CXSMICON, SM_CYSMICON);
    m_trayIconArt = ChooseTrayIconArt(ReadTaskbarLook());
    m_hTrayIcon = LoadTrayIcon(m_trayIconArt, nullptr);
}

COrlivanSysTrayDlg::~COrlivanSysTrayDlg() {
    for (HICON icon : {m_hIcon, m_hSmallIcon, m_hTrayIcon}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

void COrlivanSysTrayDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

const MessageMap* COrlivanSysTrayDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnMessage<&COrlivanSysTrayDlg::OnWindowPosChanging>(WM_WINDOWPOSCHANGING),
        OnMessage<&COrlivanSysTrayDlg::OnTrayNotify>(WM_TRAYNOTIFY),
        OnMessage<&COrlivanSysTrayDlg::OnSettingChange>(WM_SETTINGCHANGE),
        OnMessage<&COrlivanSysTrayDlg::OnSysColorChange>(WM_SYSCOLORCHANGE),
        OnCommand<&COrlivanSysTrayDlg::OnSettings>(ID_SETTINGS),
        OnCommand<&COrlivanSysTrayDlg::OnCheckUpdate>(ID_CHECK_UPDATE),
        OnCommand<&COrlivanSysTrayDlg::OnOnlineHelp>(ID_ONLINE_HELP),
        OnCommand<&COrlivanSysTrayDlg::OnReportProblem>(ID_REPORT_PROBLEM),
        OnCommand<&COrlivanSysTrayDlg::OnAbout>(ID_ABOUT),
        OnMessage<&COrlivanSysTrayDlg::OnVersionRequestEnded>(WM_VERSION_REQUEST_ENDED),
        OnMessage<&COrlivanSysTrayDlg::OnUpdateCheckEnded>(WM_UPDATE_CHECK_ENDED),
        OnRegisteredMessage<&COrlivanSysTrayDlg::OnTaskbarCreated>(s_taskbarCreatedMessage),
        OnMessage<&COrlivanSysTrayDlg::OnTimer>(WM_TIMER),
        OnMessage<&COrlivanSysTrayDlg::OnDestroy>(WM_DESTROY),
        OnMessage<&COrlivanSysTrayDlg::OnQueryEndSession>(WM_QUERYENDSESSION),
        OnMessage<&COrlivanSysTrayDlg::OnEndSession>(WM_ENDSESSION),
    };
    static const MessageMap map = MakeMessageMap(CDialog::GetMessageMap(), entries);
    return &map;
}

BOOL COrlivanSysTrayDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // The notification channel, before the tray icon exists: when another
    // notifier of this user holds it, the process ends here with a message.
    // A name held by anyone else is logged and waited out by the worker.
    CService* service = CService::GetInstance(&ReportChannelBusyAndExit);
    m_versionRequest = std::make_unique<CBackgroundExchange>(*service->m_pipeClient);
    m_updateCheck = std::make_unique<CBackgroundExchange>(*service->m_pipeClient);

    // This instance owns the channel: Windows may start it again, with no
    // command line, after a crash or hang (Windows Error Reporting offers it
    // to the user) and after an installer closed it through the Restart
    // Manager to replace its files. Not after a restart of the computer: the
    // logon entry starts the notifier then, and a second start would only
    // find the channel taken.
    ::RegisterApplicationRestart(nullptr, RESTART_NO_REBOOT);

    // Run elevated (started by an elevated installer), the notifier would not
    // get these messages from the shell, which runs with less privilege.
    for (const UINT message : {s_taskbarCreatedMessage, WM_TRAYNOTIFY}) {
        ::ChangeWindowMessageFilterEx(m_hWnd, message, MSGFLT_ALLOW, nullptr);
    }

    AddTrayIcon();

    // What only the hidden window shows comes after the icon.
    LocalizeDialog(m_hWnd, IDD_ORLIVANSYSTRAY_DIALOG);
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));

    CreateInfoDialog();

    m_hThread = ::CreateThread(nullptr, 0, &NotificationThreadProc, this, 0, nullptr);
    if (m_hThread == nullptr) {
        ::MessageBoxW(m_hWnd, ToWideString(MessageText16(MessageId::ThreadFailedText)).c_str(),
                      ToWideString(MessageText16(MessageId::ThreadFailedCaption)).c_str(), MB_OK);
    }

    ShowWindow(SW_HIDE);
    return TRUE;
}

void COrlivanSysTrayDlg::OnWindowPosChanging(WINDOWPOS* pos) {
    // Whoever asks to show the window (its own modal loop included), it stays
    // hidden; moves, resizes and the other changes go through.
    pos->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    Default();
}

void COrlivanSysTrayDlg::FillTrayIconRecord(NOTIFYICONDATAW& record) const {
    record.cbSize = sizeof(NOTIFYICONDATAW);
    record.hWnd = m_hWnd;
    record.uID = TRAY_ICON_ID;
    // NIF_SHOWTIP: with version 4 the shell shows the tip only when asked to.
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
    record.uCallbackMessage = WM_TRAYNOTIFY;
    record.hIcon = m_hTrayIcon != nullptr ? m_hTrayIcon : m_hSmallIcon;
    ::lstrcpynW(record.szTip, ToWideString(MessageText16(MessageId::TrayTip)).c_str(),
                static_cast<int>(sizeof record.szTip / sizeof(wchar_t)));
}

int COrlivanSysTrayDlg::AddTrayIcon() {
    FillTrayIconRecord(m_trayIconData);
    if (::Shell_NotifyIconW(NIM_ADD, &m_trayIconData)) {
        SetTrayIconVersion();
    } else {
        // No notification area yet (an early start at logon): try again until
        // one takes the icon, so that balloons are not lost for the whole run.
        ::SetTimer(m_hWnd, kTrayRetryTimer, kTrayRetryMilliseconds, nullptr);
    }
    return 1;
}

void COrlivanSysTrayDlg::SetTrayIconVersion() {
    // Version 4 lets the icon be used from the keyboard (Win+B, the arrows,
    // Enter, the menu key) and tells where the icon is. A shell that refuses
    // it keeps sending version 0's mouse messages, which are handled too.
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(NOTIFYICONDATAW);
    record.hWnd = m_hWnd;
    record.uID = TRAY_ICON_ID;
    record.uVersion = NOTIFYICON_VERSION_4;
    m_trayVersion4 = ::Shell_NotifyIconW(NIM_SETVERSION, &record) != FALSE;
}

void COrlivanSysTrayDlg::RestoreTrayIcon() {
    NOTIFYICONDATAW record{};
    FillTrayIconRecord(record);
    // A shell that still has the icon refuses the add; updating it is enough.
    if (::Shell_NotifyIconW(NIM_ADD, &record) || ::Shell_NotifyIconW(NIM_MODIFY, &record)) {
        ::KillTimer(m_hWnd, kTrayRetryTimer);
        SetTrayIconVersion();
    } else {
        ::SetTimer(m_hWnd, kTrayRetryTimer, kTrayRetryMilliseconds, nullptr);
    }
}

LRESULT COrlivanSysTrayDlg::OnTaskbarCreated(WPARAM, LPARAM) {
    RestoreTrayIcon();
    return 0;
}

LRESULT COrlivanSysTrayDlg::OnTimer(WPARAM wParam, LPARAM) {
    if (wParam == kTrayRetryTimer) {
        RestoreTrayIcon();
        return 0;
    }
    return Default();
}

void COrlivanSysTrayDlg::OnDestroy() {
    ReleaseAtEnd();
    Default();
}

LRESULT COrlivanSysTrayDlg::OnQueryEndSession(WPARAM, LPARAM) {
    return TRUE;
}

LRESULT COrlivanSysTrayDlg::OnEndSession(WPARAM wParam, LPARAM) {
    if (wParam == FALSE) {
        return 0;  // the end was called off; the program goes on
    }
    // After this message returns the system may end the process at any
    // moment (log-off), and an installer waits for it to end (close-app); a
    // nested modal loop (About, a box) would hold up the dialog's own end, so
    // the process ends here. An exchange still pending with the service ends
    // with it: its worker uses only its own state and the service object,
    // and nothing here waits for it.
    ReleaseAtEnd();
    ::ExitProcess(0);
}

void COrlivanSysTrayDlg::ReleaseAtEnd() {
    if (m_released) {
        return;
    }
    m_released = true;
    m_stopping = true;
    ::KillTimer(m_hWnd, kTrayRetryTimer);
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(NOTIFYICONDATAW);
    record.hWnd = m_hWnd;
    record.uID = TRAY_ICON_ID;
    ::Shell_NotifyIconW(NIM_DELETE, &record);

    CService* service = CService::GetInstance();
    service->m_pipeServer->Shutdown();
    if (m_hThread != nullptr && m_hThread != INVALID_HANDLE_VALUE) {
        WaitForThreadEnd(m_hThread, kWorkerEndWaitMs);
        if (::WaitForSingleObject(m_hThread, 0) == WAIT_OBJECT_0) {
            // The worker is done with the channel: closing it now tells a
            // connected service at once that no one listens any more.
            service->m_pipeServer.reset();
        }
    }
    CLogger::GetInstance(std::string())->Close();
}

LRESULT COrlivanSysTrayDlg::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(lParam)) {
        case WM_LBUTTONDBLCLK:
            LaunchSettingsProgram();
            break;
        case NIN_KEYSELECT: {
            // Enter or Space on the focused icon does what a double click
            // does. The shell may report one Enter twice; a second selection
            // within the double-click time is the same one.
            const DWORD now = ::GetTickCount();
            const bool repeated =
                m_lastKeySelect.has_value() && now - *m_lastKeySelect <= ::GetDoubleClickTime();
            m_lastKeySelect = now;
            if (!repeated) {
                LaunchSettingsProgram();
            }
            break;
        }
        case NIN_SELECT:
            // A single click (version 4 reports it after the button's
            // release). It stays without effect, as before: every double
            // click begins with one, and the settings program must start
            // once per double click.
            break;
        case WM_CONTEXTMENU: {
            // Version 4: a right click or the menu key (Shift+F10) on the
            // focused icon; wParam holds the icon's anchor point, which is
            // where the menu opens, under the pointer or at the icon.
            POINT anchor{GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
            if (!m_trayVersion4) {
                ::GetCursorPos(&anchor);
            }
            ShowTrayMenu(anchor);
            break;
        }
        case WM_RBUTTONDOWN:
            // Version 0 opens the menu at the press; version 4 follows the
            // right click with WM_CONTEXTMENU.
            if (!m_trayVersion4) {
                POINT cursor{};
                ::GetCursorPos(&cursor);
                ShowTrayMenu(cursor);
            }
            break;
        default:
            break;
    }
    return 0;
}

void COrlivanSysTrayDlg::ShowTrayMenu(POINT anchor) {
    // The menu is loaded afresh for every showing and destroyed before return.
    CMenu menu;
    menu.LoadMenu(IDR_TRAY_MENU);
    LocalizeMenu(menu.m_hMenu);
    CMenu popup = menu.GetSubMenu(0);
    // The person opened the menu: its owner comes to the foreground, which
    // the shell allows the icon's owner now, or the menu would not close when
    // they click elsewhere nor take the keyboard.
    SetForegroundWindow();
    popup.TrackPopupMenu(TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, anchor.x, anchor.y,
                         AfxGetMainWnd());
    // Lets the shell see the menu's end, so the next menu opens reliably.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
    menu.DestroyMenu();
}

LRESULT COrlivanSysTrayDlg::OnSettingChange(WPARAM wParam, LPARAM lParam) {
    if (ChangesTaskbarLook(wParam, lParam)) {
        UpdateTrayIconArt();
    }
    return Default();
}

void COrlivanSysTrayDlg::UpdateTrayIconArt() {
    const TrayIconArt art = ChooseTrayIconArt(ReadTaskbarLook());
    if (art == m_trayIconArt && m_hTrayIcon != nullptr) {
        return;
    }
    HICON icon = LoadTrayIcon(art, LoadCommonControls());
    if (icon == nullptr) {
        return;  // the drawing shown stays
    }
    HICON shown = m_hTrayIcon;
    m_hTrayIcon = icon;
    m_trayIconArt = art;
    // A fresh record with the icon alone: m_trayIconData belongs to the
    // worker by now.
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(NOTIFYICONDATAW);
    record.hWnd = m_hWnd;
    record.uID = TRAY_ICON_ID;
    record.uFlags = NIF_ICON;
    record.hIcon = m_hTrayIcon;
    ::Shell_NotifyIconW(NIM_MODIFY, &record);
    if (shown != nullptr) {
        ::DestroyIcon(shown);
    }
}

LRESULT COrlivanSysTrayDlg::OnSysColorChange(WPARAM, LPARAM) {
    // A high-contrast theme's colours changed (the theme switched while high
    // contrast stays on): its drawing may change with them.
    return OnSettingChange(SPI_SETHIGHCONTRAST, 0);
}

void COrlivanSysTrayDlg::OnSettings() {
    LaunchSettingsProgram();
}

void COrlivanSysTrayDlg::StartExchange(CBackgroundExchange& exchange,
                                       std::unique_ptr<CComand> command, UINT endedMessage) {
    const HWND window = m_hWnd;
    // A window that is gone by then refuses the message; the worker's state,
    // the reply included, goes with the worker or with this object.
    exchange.Start(std::move(command),
                   [window, endedMessage] { ::PostMessageW(window, endedMessage, 0, 0); });
    UpdateWaitCursor();
}

void COrlivanSysTrayDlg::UpdateWaitCursor() {
    if (m_versionRequest->Pending() || m_updateCheck->Pending()) {
        if (!m_waitCursor.has_value()) {
            m_waitCursor.emplace();
        }
    } else {
        m_waitCursor.reset();
    }
}

void COrlivanSysTrayDlg::OnCheckUpdate() {
    // The interactive check: every outcome is shown, the latest version too.
    // A check chosen again while one is pending is the same check: its
    // outcome shows once.
    StartExchange(*m_updateCheck, std::make_unique<CCheckUpdateCommand>(), WM_UPDATE_CHECK_ENDED);
}

LRESULT COrlivanSysTrayDlg::OnUpdateCheckEnded(WPARAM, LPARAM) {
    std::unique_ptr<CCommandReply> reply;
    if (!m_updateCheck->TakeReply(&reply)) {
        return 0;  // not from an ended check of ours
    }
    UpdateWaitCursor();
    // The offer is claimed through the service's one dialog slot, which the
    // notification worker's checks claim too: one update dialog at a time.
    ShowUpdateCheckOutcome(reply.get(), CService::GetInstance()->m_updateDialog,
                           UpdateScreen(UpdateCheckOrigin::Menu), false);
    return 0;
}

void COrlivanSysTrayDlg::OnOnlineHelp() {
    OpenWebAddress(URL_ONLINE_HELP.data());
}

void COrlivanSysTrayDlg::OnReportProblem() {
    OpenWebAddress(URL_CONTACT.data());
}

void COrlivanSysTrayDlg::CreateInfoDialog() {
    // One object for the life of the process: it keeps the version it learnt.
    if (m_pInfoDialog == nullptr) {
        m_pInfoDialog = new CInfoDialog();
    }
}

void COrlivanSysTrayDlg::OnAbout() {
    CreateInfoDialog();
    // The tray menu stays usable while About is open (the dialog has no
    // owner): a second About brings the open one forward instead of running
    // the same object twice.
    if (m_pInfoDialog->GetSafeHwnd() != nullptr) {
        m_pInfoDialog->SetForegroundWindow();
        return;
    }
    if (!m_pInfoDialog->m_version.empty()) {
        m_pInfoDialog->DoModal();
        return;
    }
    // The version is asked for first, away from this thread; the dialog opens
    // when the exchange has ended. About chosen again meanwhile asks nothing
    // more and opens one dialog.
    StartExchange(*m_versionRequest, std::make_unique<CVersionCommand>(), WM_VERSION_REQUEST_ENDED);
}

LRESULT COrlivanSysTrayDlg::OnVersionRequestEnded(WPARAM, LPARAM) {
    std::unique_ptr<CCommandReply> reply;
    if (!m_versionRequest->TakeReply(&reply)) {
        return 0;  // not from an ended request of ours
    }
    UpdateWaitCursor();
    m_pInfoDialog->SetVersionFromReply(reply.get());
    reply.reset();
    if (m_pInfoDialog->GetSafeHwnd() == nullptr) {
        m_pInfoDialog->DoModal();
    }
    return 0;
}

void COrlivanSysTrayDlg::LaunchSettingsProgram() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const std::wstring path = Utf8ToWideString(SettingsProgramPath(m_installPath));
    // Without a command line of its own the program would see its path split
    // at every blank ("C:\Program", "Files", ...).
    std::wstring commandLine = Utf8ToWideString(SettingsProgramCommandLine(m_installPath));
    // Runs in the notifier's current folder with its environment; a missing
    // program is not reported.
    if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &process)) {
        // The program runs on its own; the notifier keeps nothing of it.
        const UniqueHandle thread(process.hThread);
        const UniqueHandle started(process.hProcess);
    }
}
