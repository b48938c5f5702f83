// Resource IDs of OrlivanSysTray.exe, shared by the resource script and the code.
#pragma once

// Dialog templates.
#define IDD_ORLIVANSYSTRAY_DIALOG 102
#define IDD_UPDATE_DIALOG 133
#define IDD_INFO_DIALOG 134

// The application icon (group icon) and the tray menu.
#define IDR_MAINFRAME 130
#define IDR_TRAY_MENU 132

// The tray icon's drawings for a dark taskbar and for high-contrast themes.
#define IDI_TRAY_DARK_TASKBAR 135
#define IDI_TRAY_HIGH_CONTRAST_ON_DARK 136
#define IDI_TRAY_HIGH_CONTRAST_ON_LIGHT 137

// Controls of the update dialog.
#define IDC_UPDATE_PROGRESS 1000
#define IDC_UPDATE_MESSAGE 1001
#define IDC_UPDATE_WAIT 1002

// Control of the About dialog showing the installed version.
#define IDC_INFO_VERSION 1004

// Tray menu commands.
#define ID_CHECK_UPDATE 32771
#define ID_ONLINE_HELP 32772
#define ID_SETTINGS 32773
#define ID_REPORT_PROBLEM 32774
#define ID_ABOUT 32775

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
