#include "notify/tray_icon_look.h"

bool IsDarkColour(uint32_t rgb) {
    const uint32_t red = (rgb >> 16) & 0xFF, green = (rgb >> 8) & 0xFF, blue = rgb & 0xFF;
    // Rec. 601 luma, in thousandths.
    return red * 299 + green * 587 + blue * 114 < 128 * 1000;
}

TrayIconArt ChooseTrayIconArt(const TaskbarLook& look) {
    if (look.highContrast) {
        return IsDarkColour(look.highContrastWindowColour) ? TrayIconArt::HighContrastOnDark
                                                           : TrayIconArt::HighContrastOnLight;
    }
    if (look.systemUsesLightTheme.value_or(0) != 0) {
        return TrayIconArt::LightTaskbar;
    }
    return TrayIconArt::DarkTaskbar;
}
