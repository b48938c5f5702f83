// Which drawing of the tray icon suits the taskbar it sits on: the shield
// with a navy rim fades on a dark taskbar, so a dark taskbar gets one with a
// light rim, and a high-contrast theme gets a two-colour drawing in the
// theme's own contrast.
#pragma once

#include <cstdint>
#include <optional>

enum class TrayIconArt {
    LightTaskbar,         // teal shield, navy rim (the application icon)
    DarkTaskbar,          // teal shield, pale rim
    HighContrastOnDark,   // white rim and funnel on black
    HighContrastOnLight,  // black rim and funnel on white
};

// What the system says about the taskbar's look.
struct TaskbarLook {
    // A high-contrast theme is on.
    bool highContrast = false;
    // The theme's window colour as 0xRRGGBB; read only in high contrast.
    uint32_t highContrastWindowColour = 0;
    // The user's "apps and taskbar use the light theme" setting as stored;
    // nothing where it is missing (Windows before the light taskbar, whose
    // taskbar is dark) or not a number.
    std::optional<uint32_t> systemUsesLightTheme;
};

// High contrast first (its colours are the person's choice for legibility),
// then the taskbar's light or dark theme; a missing setting means dark.
TrayIconArt ChooseTrayIconArt(const TaskbarLook& look);

// Whether a colour 0xRRGGBB is dark: its luma below the middle.
bool IsDarkColour(uint32_t rgb);
