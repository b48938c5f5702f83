// The tray menu's ids and events, and which tray shows the icon.
#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <utility>

#include "notify/tray_menu.h"

TEST(TrayMenu, EntriesInTheirOrderWithIdsFromOne) {
    std::string labels;
    for (const TrayMenuEntry& entry : kTrayMenu) {
        labels += std::string(MessageText(entry.label)) + ";";
    }
    EXPECT_EQ(labels, "&Settings;&Check Update;&Online Help;&Report Problem;&About;");
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

// Each entry in every language has one access key, a different one in each
// entry (the key's character as its UTF-8 bytes, ASCII letters in either case).
TEST(TrayMenu, EveryLanguageMarksOneDistinctAccessKeyPerEntry) {
    for (size_t language = 0; language < CatalogueLanguageCount(); ++language) {
        std::set<std::string> keys;
        for (const TrayMenuEntry& entry : kTrayMenu) {
            const std::string_view text = MessageTextIn(language, entry.label);
            std::string key;
            int marks = 0;
            for (size_t i = 0; i + 1 < text.size(); ++i) {
                if (text[i] == '&' && text[++i] != '&') {  // "&&" is a plain "&"
                    ++marks;
                    size_t end = i + 1;  // the character's continuation bytes too
                    while (end < text.size() && (text[end] & 0xC0) == 0x80)
                        ++end;
                    key = text.substr(i, end - i);
                    key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
                }
            }
            EXPECT_EQ(marks, 1) << CatalogueLanguage(language) << ": " << text;
            EXPECT_TRUE(keys.insert(key).second) << CatalogueLanguage(language) << ": " << text;
        }
    }
}

TEST(TrayMenu, AccessKeysBecomeDbusMenuUnderscores) {
    const std::pair<const char*, const char*> cases[] = {
        {"&About", "_About"},
        {"Acerca &de", "Acerca _de"},
        {"Fish && Chips", "Fish & Chips"},
        {"snake_case &x", "snake__case _x"},
        {"&\xD0\x9E \xD0\xBF", "_\xD0\x9E \xD0\xBF"},  // a key of two bytes
        {"end&", "end"},
        {"", ""},
    };
    for (const auto& [text, label] : cases) {
        EXPECT_EQ(DbusMenuLabel(text), label) << text;
    }
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
