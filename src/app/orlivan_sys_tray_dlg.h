// The notifier's main dialog: never visible, it owns the tray icon, answers
// the icon's mouse events and menu commands, and is the object the
// notification worker shows its balloons through.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "framework/dialog.h"

class CInfoDialog;

// The tray icon's callback message and its ID.
inline constexpr UINT WM_TRAYNOTIFY = WM_USER + 100;
inline constexpr UINT TRAY_ICON_ID = 4001;

class COrlivanSysTrayDlg : public CDialog {
public:
    // Reads the install folder, opens the log and writes its start line, and
    // loads the application icon.
    COrlivanSysTrayDlg();
    ~COrlivanSysTrayDlg() override;

    BOOL OnInitDialog() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    const MessageMap* GetMessageMap() const override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnWindowPosChanging(WINDOWPOS* pos);
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    void OnSettings();
    void OnCheckUpdate();
    void OnOnlineHelp();
    void OnReportProblem();
    void OnAbout();

    // The shell announces a new notification area (started late, or
    // restarted after a crash): the icon is added to it.
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    // Retries adding the icon while no notification area accepts it.
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    // The program ends: the icon goes with it.
    void OnDestroy();

    // Fills m_trayIconData and adds the icon; returns 1.
    int AddTrayIcon();
    // Starts the filter's settings program from the install folder.
    void LaunchSettingsProgram();

    HICON m_hIcon;
    // The tray icon record: filled by AddTrayIcon before the notification
    // worker starts, afterwards written only by the worker for its balloons.
    NOTIFYICONDATAW m_trayIconData;
    HANDLE m_hThread;
    // The install folder, UTF-8.
    std::string m_installPath;
    bool m_bVisible;
    CInfoDialog* m_pInfoDialog;

private:
    void FillTrayIconRecord(NOTIFYICONDATAW& record) const;
    // Adds the icon from a fresh record (m_trayIconData belongs to the worker
    // by then); starts the retry timer when the shell refuses it.
    void RestoreTrayIcon();
};
