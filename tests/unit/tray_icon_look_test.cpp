// Which tray icon drawing suits the taskbar.
#include <gtest/gtest.h>

#include "notify/tray_icon_look.h"

TEST(TrayIconLook, HighContrastThenTheTaskbarsTheme) {
    using Art = TrayIconArt;
    struct Case {
        TaskbarLook look;
        Art art;
    } cases[] = {
        {{false, 0, std::nullopt}, Art::DarkTaskbar},  // missing: dark, as before the light theme
        {{false, 0, 0u}, Art::DarkTaskbar},
        {{false, 0, 1u}, Art::LightTaskbar},
        {{false, 0xFFFFFF, 7u}, Art::LightTaskbar},  // any other number is "yes"
        {{true, 0x000000, 1u}, Art::HighContrastOnDark},
        {{true, 0xFFFFFF, 0u}, Art::HighContrastOnLight},
        {{true, 0x202020, std::nullopt}, Art::HighContrastOnDark},
        {{true, 0xFFFF00, 0u}, Art::HighContrastOnLight},  // yellow is light
        {{true, 0x0000FF, 1u}, Art::HighContrastOnDark},   // blue is dark
        {{true, 0x808080, 1u}, Art::HighContrastOnLight},  // mid grey counts as light
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseTrayIconArt(c.look), c.art)
            << c.look.highContrast << " " << std::hex << c.look.highContrastWindowColour << " "
            << c.look.systemUsesLightTheme.value_or(99);
    }
}
