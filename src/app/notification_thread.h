// The notification worker thread of the main dialog.
#pragma once

#include <windows.h>

// Serves the user's notification channel for the life of the process: reads
// each record, shows it through the main dialog given as `parameter` (a
// COrlivanSysTrayDlg) and answers the service. Returns 0 at once when
// `parameter` is null; otherwise never returns.
DWORD WINAPI NotificationThreadProc(LPVOID parameter);
