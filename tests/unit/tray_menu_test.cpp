// The tray menu's ids and events, and which tray shows the icon.
#include <gtest/gtest.h>

#include <string>
#include <utility>

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

TEST(TrayMenu, RegistrationRetriesAndFallsBackToTheObjectPath) {
    // The watcher's answers (Accepted, Refused, No answer) and the attempt
    // after each: by Service name or object Path, with its wait; "-": none.
    const std::pair<const char*, const char*> cases[] = {
        {"A", "-"},
        {"RA", "P0 -"},
        {"NNR", "S250 S500 P0"},
        {"RRNRRRR", "P0 P250 P500 P1000 P2000 P4000 -"},  // then left to the next owner
    };
    for (const auto& [answers, attempts] : cases) {
        CItemRegistration registration;
        EXPECT_EQ(registration.Start().form, ItemRegistrationForm::ServiceName);
        std::string got;
        for (const char* a = answers; *a != '\0'; ++a) {
            const auto next = registration.Answered(*a == 'A'   ? RegistrationAnswer::Accepted
                                                    : *a == 'R' ? RegistrationAnswer::Refused
                                                                : RegistrationAnswer::NoAnswer);
            got += got.empty() ? "" : " ";
            if (!next) {
                got += '-';
            } else {
                got += next->form == ItemRegistrationForm::ObjectPath ? 'P' : 'S';
                got += std::to_string(next->delayMs);
            }
        }
        EXPECT_EQ(got, attempts) << answers;
        EXPECT_EQ(registration.GaveUp(), std::string(answers) == "RRNRRRR");
        registration.Start();  // a new owner: from the start
        EXPECT_FALSE(registration.GaveUp());
    }
    EXPECT_EQ(RegistrationAnswerOfError("org.freedesktop.DBus.Error.NoReply"),
              RegistrationAnswer::NoAnswer);
    EXPECT_EQ(RegistrationAnswerOfError("org.freedesktop.DBus.Error.InvalidArgs"),
              RegistrationAnswer::Refused);
}
