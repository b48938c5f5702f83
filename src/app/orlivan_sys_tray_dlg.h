// The notifier's main dialog: never visible, it owns the tray icon, answers
// the icon's mouse events and menu commands, and is the object the
// notification worker shows its balloons through.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "commands/command_exchange.h"
#include "framework/application.h"
#include "framework/dialog.h"
#include "notify/dispatch.h"
#include "notify/tray_icon_look.h"
#include "notify/record.h"

class CInfoDialog;

// The tray icon's callback message and its ID.
inline constexpr UINT WM_TRAYNOTIFY = WM_USER + 100;
inline constexpr UINT TRAY_ICON_ID = 4001;

// Posted to the main window by the worker of an exchange of the interface
// when it has ended: the About dialog's version request, the menu's update
// check.
inline constexpr UINT WM_VERSION_REQUEST_ENDED = WM_APP + 1;
inline constexpr UINT WM_UPDATE_CHECK_ENDED = WM_APP + 2;

class COrlivanSysTrayDlg : public CDialog, private NotificationView {
public:
    // Reads the install folder, opens the log and writes its start line, and
    // loads the application icon at the window's and the tray's sizes.
    COrlivanSysTrayDlg();
    ~COrlivanSysTrayDlg() override;

    BOOL OnInitDialog() override;

    // Shows one notification record (on the notification worker thread) and
    // returns the reply for the service: 1 handled, 0 no reply.
    int ShowNotification(const NotificationRecord* record);

    // Set once the program ends: the notification worker then stops at its
    // next wait for a client.
    const std::atomic<bool>& Stopping() const { return m_stopping; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    const MessageMap* GetMessageMap() const override;

    void OnWindowPosChanging(WINDOWPOS* pos);
    // The icon's mouse and keyboard events, in the layout of the version the
    // shell accepted (see SetTrayIconVersion).
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    // The taskbar's light or dark theme or high contrast may have changed:
    // the icon follows when its drawing changes.
    LRESULT OnSettingChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnSysColorChange(WPARAM wParam, LPARAM lParam);
    void OnSettings();
    void OnCheckUpdate();
    void OnOnlineHelp();
    void OnReportProblem();
    void OnAbout();
    // An exchange of the interface has ended: About opens with the version
    // learnt, the check's outcome is shown.
    LRESULT OnVersionRequestEnded(WPARAM wParam, LPARAM lParam);
    LRESULT OnUpdateCheckEnded(WPARAM wParam, LPARAM lParam);

    // The shell announces a new notification area (started late, or
    // restarted after a crash): the icon is added to it.
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    // Retries adding the icon while no notification area accepts it.
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    // The program ends: the icon goes with it.
    void OnDestroy();
    // Windows asks whether the session may end, or (ENDSESSION_CLOSEAPP) an
    // installer asks the program to make way: always yes.
    LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
    // The session ends (log-off, shut-down) or an installer closes the
    // program: it lets go of everything at once and the process ends with
    // code 0, from inside the message, whatever box or dialog is open.
    LRESULT OnEndSession(WPARAM wParam, LPARAM lParam);
    // What every end does once: the retry timer and the tray icon go, the
    // channel is shut down and the worker given a bounded time to finish its
    // record, and the log is closed after its last complete line.
    void ReleaseAtEnd();

    // Fills m_trayIconData and adds the icon; returns 1.
    int AddTrayIcon();
    // Asks the shell for the events of NOTIFYICON_VERSION_4 (after every
    // add: the shell forgets it with the icon) and notes whether it agreed.
    void SetTrayIconVersion();
    // Shows the tray menu with its top left corner at `anchor` (screen
    // coordinates) and returns when it closes.
    void ShowTrayMenu(POINT anchor);
    // Chooses the drawing for the taskbar's look now and shows it when it
    // differs from the one shown.
    void UpdateTrayIconArt();
    // Starts the filter's settings program from the install folder.
    void LaunchSettingsProgram();
    // Creates the About dialog object unless it exists; it is never deleted.
    void CreateInfoDialog();
    // Starts `command` on `exchange` unless it is pending; its end is posted
    // to this window as `endedMessage`.
    void StartExchange(CBackgroundExchange& exchange, std::unique_ptr<CComand> command,
                       UINT endedMessage);
    // The wait cursor shows while an exchange of the interface is pending.
    void UpdateWaitCursor();

    // The application icon at the large and small icon sizes (the window's
    // icons); owned by the dialog.
    HICON m_hIcon;
    HICON m_hSmallIcon;
    // The notification area's icon in the drawing for the taskbar's look,
    // loaded when that drawing is chosen; owned by the dialog. UI thread only.
    HICON m_hTrayIcon = nullptr;
    TrayIconArt m_trayIconArt = TrayIconArt::LightTaskbar;
    // The shell sends the events of NOTIFYICON_VERSION_4: the event in
    // LOWORD(lParam), the icon's anchor point in wParam. Otherwise those of
    // version 0 (wParam the icon's ID, lParam the mouse message).
    bool m_trayVersion4 = false;
    // When the last NIN_KEYSELECT came (GetTickCount).
    std::optional<DWORD> m_lastKeySelect;
    // The tray icon record: filled by AddTrayIcon before the notification
    // worker starts, afterwards written only by the worker for its balloons.
    NOTIFYICONDATAW m_trayIconData;
    HANDLE m_hThread;
    // The install folder, UTF-8.
    std::string m_installPath;
    CInfoDialog* m_pInfoDialog;
    // The interface's exchanges with the service (made in OnInitDialog, with
    // the service object): each runs on a worker of its own, so this thread
    // never waits for the service; one of each kind at a time.
    std::unique_ptr<CBackgroundExchange> m_versionRequest;
    std::unique_ptr<CBackgroundExchange> m_updateCheck;
    std::optional<CWaitCursor> m_waitCursor;
    std::atomic<bool> m_stopping{false};
    bool m_released = false;

private:
    // How the notification dispatch acts on this dialog (worker thread).
    void Log(int32_t level, const std::string& line) override;
    void ShowBalloon(std::u16string_view title, std::u16string_view text,
                     std::optional<uint32_t> infoFlags) override;
    void Pause(uint32_t milliseconds) override;
    void ShowErrorBox(std::u16string_view text, std::u16string_view caption) override;
    void CheckForUpdateSilently() override;
    std::string GetProcessName(int32_t processId) override;
    int64_t Now() override;

    void FillTrayIconRecord(NOTIFYICONDATAW& record) const;
    // Adds the icon from a fresh record (m_trayIconData belongs to the worker
    // by then); starts the retry timer when the shell refuses it.
    void RestoreTrayIcon();
};
