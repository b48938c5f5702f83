// The tray menu's ids and events, and which tray shows the icon.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    using A = RegistrationAnswer;
    using F = ItemRegistrationForm;
    // The answers to successive attempts, and the attempt that follows each
    // (the form and the wait before it; {F::ServiceName, -1}: none).
    struct Case {
        std::vector<A> answers;
        std::vector<RegistrationAttempt> next;
    } cases[] = {
        {{A::Accepted}, {{F::ServiceName, -1}}},
        {{A::Refused, A::Accepted}, {{F::ObjectPath, 0}, {F::ServiceName, -1}}},
        {{A::NoAnswer, A::NoAnswer, A::Refused},
         {{F::ServiceName, 250}, {F::ServiceName, 500}, {F::ObjectPath, 0}}},
        {{A::Refused, A::Refused, A::NoAnswer, A::Refused, A::Refused, A::Refused, A::Refused},
         {{F::ObjectPath, 0},
          {F::ObjectPath, 250},
          {F::ObjectPath, 500},
          {F::ObjectPath, 1000},
          {F::ObjectPath, 2000},
          {F::ObjectPath, 4000},
          {F::ServiceName, -1}}},  // given up until the watcher changes hands
    };
    for (const Case& c : cases) {
        CItemRegistration registration;
        const RegistrationAttempt first = registration.Start();
        EXPECT_TRUE(first.form == F::ServiceName && first.delayMs == 0);
        for (size_t i = 0; i < c.answers.size(); ++i) {
            const auto next = registration.Answered(c.answers[i]);
            const RegistrationAttempt got = next.value_or(RegistrationAttempt{F::ServiceName, -1});
            EXPECT_TRUE(got.form == c.next[i].form && got.delayMs == c.next[i].delayMs) << i;
        }
        EXPECT_EQ(registration.GaveUp(), c.answers.size() == 7);
        EXPECT_EQ(registration.Start().form, F::ServiceName);  // a new owner: from the start
        EXPECT_FALSE(registration.GaveUp());
    }
    EXPECT_EQ(RegistrationAnswerOfError("org.freedesktop.DBus.Error.NoReply"), A::NoAnswer);
    EXPECT_EQ(RegistrationAnswerOfError("org.freedesktop.DBus.Error.InvalidArgs"), A::Refused);
}
