#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/language.h"
#include "base/messages.h"

namespace {

// The placeholders of a text in order ("%%" is none).
std::string Placeholders(std::string_view text) {
    std::string found;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '%') {
            if (text[i + 1] != '%') {
                found += text.substr(i, 2);
            }
            ++i;
        }
    }
    return found;
}

}  // namespace

TEST(MessageCatalogue, EveryLanguageIsCompleteWithTheEnglishPlaceholders) {
    const std::vector<std::string> expected = {"en", "de", "fr", "es", "pt_BR", "ru", "qps-ploc"};
    ASSERT_EQ(CatalogueLanguageCount(), expected.size());
    for (size_t language = 0; language < expected.size(); ++language) {
        EXPECT_EQ(CatalogueLanguage(language), expected[language]);
        for (size_t i = 0; i < CatalogueMessageCount(); ++i) {
            const auto id = static_cast<MessageId>(i);
            const std::string_view english = MessageTextIn(0, id);
            const std::string_view text = MessageTextIn(language, id);
            EXPECT_FALSE(text.empty()) << expected[language] << " #" << i;
            EXPECT_EQ(Placeholders(text), Placeholders(english))
                << expected[language] << " " << text;
            if (language != 0 && expected[language] != "qps-ploc" && english.size() > 8) {
                // Names and "OK" may stay; a whole sentence left in English may not.
                EXPECT_NE(text, english) << expected[language] << " #" << i;
            }
        }
    }
    // The pseudo-language is about 40 % longer and has no plain vowel left.
    const std::string_view pseudo = MessageTextIn(6, MessageId::MenuCheckUpdate);
    EXPECT_GE(pseudo.size(), std::string_view("Check Update").size() * 14 / 10);
    EXPECT_EQ(std::string(pseudo).find_first_of("aeiouAEIOU"), std::string::npos) << pseudo;
}

TEST(MessageCatalogue, EnglishIsTheDefaultAndUnknownCodesChangeNothing) {
    EXPECT_EQ(MessageLanguage(), "en");
    EXPECT_EQ(MessageText(MessageId::TrayTip), "Orlivan Filter Notifier");
    EXPECT_FALSE(SetMessageLanguage("xx"));
    EXPECT_EQ(MessageLanguage(), "en");
}

TEST(MessageCatalogue, FormatFillsPlaceholdersInOrder) {
    EXPECT_EQ(SplitAtPlaceholder("%s was blocked"),
              std::make_pair(std::string_view(""), std::string_view(" was blocked")));
    EXPECT_EQ(FillPlaceholders("a %s b %d c", {"X", "7"}), "a X b 7 c");
    EXPECT_EQ(FillPlaceholders("100%% %s and %s", {"%d"}),
              "100% %d and ");  // values stay as they are
    EXPECT_EQ(FillPlaceholders("%x ends in %", {"v"}), "%x ends in %");
}

TEST(LanguageChoice, PreferencesAgainstTheCatalogue) {
    struct Case {
        std::vector<std::string> preferences;
        std::string expected;
    } cases[] = {
        {{"de-DE"}, "de"},
        {{"fr_CA.UTF-8@euro"}, "fr"},
        {{"pt-BR"}, "pt_BR"},
        {{"pt_PT"}, "pt_BR"},  // the only Portuguese: closer than English
        {{"RU"}, "ru"},
        {{"es-419"}, "es"},
        {{"qps_PLOC"}, "qps-ploc"},
        {{"ja-JP", "es-ES", "de-DE"}, "es"},  // first one served wins
        {{"ja-JP", "zh-CN"}, "en"},
        {{}, "en"},
        {{"", "de"}, "de"},
        {{"C", "de"}, "en"},
        {{"POSIX"}, "en"},
        {{"C.UTF-8"}, "en"},
        {{"en-GB", "de"}, "en"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseLanguage(c.preferences), c.expected)
            << (c.preferences.empty() ? "(none)" : c.preferences[0]);
    }
}

TEST(LanguageChoice, LinuxVariablesInTheirOrder) {
    struct Case {
        const char *orlivan, *language, *lcAll, *lcMessages, *lang;
        std::string expected;
    } cases[] = {
        {nullptr, "de", nullptr, nullptr, nullptr, "de"},
        {nullptr, "ja:fr:de", nullptr, nullptr, "en_US.UTF-8", "fr"},
        {nullptr, nullptr, "es_ES.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8", "es"},
        {nullptr, nullptr, "", "de_DE.UTF-8", "fr_FR.UTF-8", "de"},
        {nullptr, "de", "C", nullptr, nullptr, "en"},  // LANGUAGE is ignored in the C locale
        {nullptr, "de", nullptr, nullptr, "C.UTF-8", "de"},
        {nullptr, "ja", nullptr, nullptr, "de_DE.UTF-8", "de"},
        {"qps-ploc", "de", nullptr, nullptr, "fr_FR", "qps-ploc"},
        {"xx", "de", nullptr, nullptr, "de_DE.UTF-8", "en"},  // unknown: English, not the user's
        {nullptr, nullptr, nullptr, nullptr, nullptr, "en"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseLanguage(LinuxLanguagePreferences(c.orlivan, c.language, c.lcAll,
                                                          c.lcMessages, c.lang)),
                  c.expected)
            << (c.language ? c.language : "-") << " " << (c.lang ? c.lang : "-");
    }
    EXPECT_EQ(ChooseLanguage(WindowsLanguagePreferences(nullptr, {"ja-JP", "de-DE"})), "de");
    EXPECT_EQ(ChooseLanguage(WindowsLanguagePreferences("fr", {"de-DE"})), "fr");
}
