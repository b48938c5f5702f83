// The taskbar's look as Windows reports it, and the tray icon drawn for it.
#pragma once

#include <windows.h>

#include "notify/tray_icon_look.h"

// Reads the high-contrast setting (SPI_GETHIGHCONTRAST), the window colour of
// its theme and the user's SystemUsesLightTheme value under
// HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize.
TaskbarLook ReadTaskbarLook();

// Whether a WM_SETTINGCHANGE may have changed the taskbar's look: the light
// or dark theme ("ImmersiveColorSet") or high contrast (SPI_SETHIGHCONTRAST).
bool ChangesTaskbarLook(WPARAM wParam, LPARAM lParam);

// The icon resource of a drawing.
int TrayIconResource(TrayIconArt art);
