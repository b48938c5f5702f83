// The application object of a dialog-based program. The program defines one
// global object of a class derived from CWinApp; the framework's wWinMain runs
// its InitInstance, which does the program's work (typically running the main
// dialog modally), and the process ends when it returns.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "framework/window.h"

class CWinApp {
public:
    // `appName` names the application in message box captions; without one
    // the running file's name without its extension is used.
    explicit CWinApp(const wchar_t* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The program's start-up; the base does nothing and returns TRUE. The
    // result does not change how the program ends: it has no message loop of
    // its own, so the process exits when InitInstance returns.
    virtual BOOL InitInstance();

    // Records the registry key under which the application would keep its
    // settings (HKCU\Software\<key>\<application name>).
    void SetRegistryKey(const wchar_t* key);

    HINSTANCE m_hInstance = nullptr;
    // The main window: owner of the tray menu and of the application's boxes.
    CWnd* m_pMainWnd = nullptr;
    std::wstring m_appName;
    std::wstring m_registryKey;
    // The thread that runs InitInstance, the application's user-interface thread.
    DWORD m_threadId = 0;

    // Runs the one application object; called by wWinMain.
    static int Run(HINSTANCE instance);
};

// The one application object, or null when the program defines none.
CWinApp* AfxGetApp();

// The application's name: the name given to the application object or else
// the running file's name without its extension ("OrlivanSysTray").
const wchar_t* AfxGetAppName();

// The application's main window when called on its user-interface thread;
// null on any other thread or when there is none.
CWnd* AfxGetMainWnd();

// The module that holds the program's resources (dialogs, menus, icons).
HINSTANCE AfxGetResourceHandle();

// MessageBoxW captioned with the application's name; returns the button pressed.
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);

// Message box styles for a box that a background thread shows unasked: it is
// topmost, so it can't open unseen behind other programs' windows (the thread
// that waits for it waits in vain then). MB_SYSTEMMODAL gives the box
// WS_EX_TOPMOST.
//
// It does not take the keyboard: no MB_SETFOREGROUND, so the box never asks
// for the foreground. A program the person is not working in may not take the
// foreground from the one they are typing in (the foreground lock: only the
// process that received the last input, or one that process allowed, may call
// SetForegroundWindow with effect), and a window a background thread shows
// becomes active in its own thread only; the taskbar flashes its button
// instead. A key typed elsewhere therefore never presses its OK. The box takes
// the keyboard once the person clicks it or switches to it. MB_SETFOREGROUND
// would defeat that: its SetForegroundWindow succeeds once no input came for
// the foreground lock time-out (SPI_GETFOREGROUNDLOCKTIMEOUT), and the first
// key of a person coming back would answer the box.
inline constexpr UINT kInFrontBoxStyle = MB_SYSTEMMODAL;

// Shows the wait cursor for its lifetime on the calling thread, then the
// cursor it replaced (the arrow when there was none).
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_previous;
};

// The file name of `modulePath` without folders and without its extension.
std::wstring AppNameFromModulePath(std::wstring_view modulePath);
