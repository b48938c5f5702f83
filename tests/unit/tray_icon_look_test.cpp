// Which tray icon drawing suits the taskbar.
#include <gtest/gtest.h>

#include "notify/tray_icon_look.h"

TEST(TrayIconLook, HighContrastThenTheTaskbarsTheme) {
    using Art = TrayIconArt;
    const std::pair<TaskbarLook, Art> cases[] = {
        {{false, 0, std::nullopt}, Art::DarkTaskbar},  // missing: dark, as before the light theme
        {{false, 0, 0u}, Art::DarkTaskbar},
        {{false, 0xFFFFFF, 7u}, Art::LightTaskbar},  // any number but 0 is "yes"
        {{true, 0x000000, 1u}, Art::HighContrastOnDark},
        {{true, 0x0000FF, std::nullopt}, Art::HighContrastOnDark},  // blue is dark
        {{true, 0xFFFF00, 0u}, Art::HighContrastOnLight},           // yellow is light
        {{true, 0x808080, 1u}, Art::HighContrastOnLight},           // the middle counts as light
    };
    for (const auto& [look, art] : cases) {
        EXPECT_EQ(ChooseTrayIconArt(look), art)
            << look.highContrast << " " << std::hex << look.highContrastWindowColour;
    }
}
