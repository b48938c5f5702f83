// The tray menu's ids and events, and which tray shows the icon.
#include <gtest/gtest.h>

#include <string>

#include "notify/tray_menu.h"

TEST(TrayMenu, EntriesInTheirOrderWithIdsFromOne) {
    std::string labels;
    for (const TrayMenuEntry& entry : kTrayMenu) {
        labels += std::string(MessageText(entry.label)) + ";";
    }
    EXPECT_EQ(labels, "Settings;Check Update;Online Help;Report Problem;About;");
    struct Case {
        int32_t id;
        const char* event;
        std::optional<size_t> entry;
    } cases[] = {
        {1, "clicked", 0},
        {5, "clicked", 4},
        {0, "clicked", std::nullopt},
        {6, "clicked", std::nullopt},
        {-1, "clicked", std::nullopt},
        {2, "hovered", std::nullopt},
        {2, "", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TrayMenuEntryClicked(c.id, c.event), c.entry) << c.id << " " << c.event;
    }
    EXPECT_EQ(TrayMenuEntryOfId(3), 2u);
    EXPECT_EQ(TrayMenuEntryOfId(kTrayMenuRootId), std::nullopt);
}

TEST(TrayMenu, TheXembedIconOnlyWhileNoHostAfterTheGrace) {
    struct Case {
        TrayState state;
        TrayShown shown;
    } cases[] = {
        {{true, true, true}, TrayShown::Item},  // a host: always the item
        {{true, false, false}, TrayShown::Item},
        {{false, true, false}, TrayShown::Item},   // still in the grace time
        {{false, true, true}, TrayShown::Xembed},  // no host on X11
        {{false, false, true}, TrayShown::Item},   // Wayland: waits for a host
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseTray(c.state), c.shown)
            << c.state.hostRegistered << c.state.xembedAvailable << c.state.graceOver;
    }
}
