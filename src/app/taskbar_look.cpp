#include "app/taskbar_look.h"

#include <cwchar>

#include "app/resources/resource.h"

TaskbarLook ReadTaskbarLook() {
    TaskbarLook look;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    if (::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
        look.highContrast = true;
        const COLORREF window = ::GetSysColor(COLOR_WINDOW);
        look.highContrastWindowColour = (static_cast<uint32_t>(GetRValue(window)) << 16) |
                                        (static_cast<uint32_t>(GetGValue(window)) << 8) |
                                        GetBValue(window);
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    // RRF_RT_REG_DWORD: a value of another type counts as missing.
    if (::RegGetValueW(
            HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
            L"SystemUsesLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS) {
        look.systemUsesLightTheme = value;
    }
    return look;
}

bool ChangesTaskbarLook(WPARAM wParam, LPARAM lParam) {
    if (wParam == SPI_SETHIGHCONTRAST) {
        return true;
    }
    // The area is a string the sender chose; only its own terminated text is
    // compared, and a null area names none.
    const auto* area = reinterpret_cast<const wchar_t*>(lParam);
    return area != nullptr && std::wcscmp(area, L"ImmersiveColorSet") == 0;
}

int TrayIconResource(TrayIconArt art) {
    switch (art) {
        case TrayIconArt::DarkTaskbar:
            return IDI_TRAY_DARK_TASKBAR;
        case TrayIconArt::HighContrastOnDark:
            return IDI_TRAY_HIGH_CONTRAST_ON_DARK;
        case TrayIconArt::HighContrastOnLight:
            return IDI_TRAY_HIGH_CONTRAST_ON_LIGHT;
        case TrayIconArt::LightTaskbar:
            break;
    }
    return IDR_MAINFRAME;
}
