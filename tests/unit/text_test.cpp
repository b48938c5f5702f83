#include "base/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>

TEST(IntToString, ShortestDecimalForms) {
    EXPECT_EQ(IntToString(0), "0");
    EXPECT_EQ(IntToString(-5), "-5");
    EXPECT_EQ(IntToString(1234567), "1234567");
    EXPECT_EQ(IntToString(INT32_MIN), "-2147483648");
    EXPECT_EQ(IntToString(INT32_MAX), "2147483647");
}

TEST(TextCutters, MissingMarkerGivesEmptyText) {
    EXPECT_EQ(TextBefore("abc", ";"), "");
    EXPECT_EQ(TextAfter(";", "abc"), "");
    EXPECT_EQ(TextAfter("abcdef", "abc"), "");  // marker longer than text
    EXPECT_EQ(TextBefore("abc", "abcdef"), "");
}

TEST(TextCutters, FirstOccurrenceAndEmptyEnds) {
    EXPECT_EQ(TextAfter(";", "a;b;c"), "b;c");
    EXPECT_EQ(TextBefore("a;b;c", ";"), "a");
    EXPECT_EQ(TextAfter(";", "a;"), "");
    EXPECT_EQ(TextBefore(";a", ";"), "");
}

TEST(TextCutters, EmptyMarkerIsFoundAtStart) {
    EXPECT_EQ(TextAfter("", "abc"), "abc");
    EXPECT_EQ(TextBefore("abc", ""), "");
}

TEST(TextCutters, ProcessIdMarker) {
    const std::string detail = "app (PID - \"42\" running)";
    const std::string after = TextAfter("PID - \"", detail);
    EXPECT_EQ(after, "42\" running)");
    EXPECT_EQ(TextBefore(after, "\""), "42");
}

TEST(TextWidths, WideningSignExtends) {
    EXPECT_EQ(WidenBytes("abc"), u"abc");
    EXPECT_EQ(WidenBytes("\xE9"), std::u16string(1, char16_t{0xFFE9}));
}

TEST(TextWidths, Utf8RoundTripAndRejection) {
    EXPECT_EQ(Utf8ToUtf16("Zo\xC3\xAB"), std::u16string(u"Zo\u00EB"));
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));
    EXPECT_EQ(Utf16ToUtf8(u"C:\\Users\\Zo\u00EB"), "C:\\Users\\Zo\xC3\xAB");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_FALSE(Utf8ToUtf16("Zo\xEB").has_value());        // Latin-1 byte
    EXPECT_FALSE(Utf8ToUtf16("\xC0\xAF").has_value());      // overlong
    EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80").has_value());  // surrogate
    EXPECT_FALSE(Utf8ToUtf16("\xE2\x82").has_value());      // truncated
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(TextWidths, ExternalTextFallsBackToCodePage) {
    auto codePage = [](std::string_view) { return std::u16string(u"cp"); };
    EXPECT_EQ(DecodeExternalText("caf\xC3\xA9", codePage), u"caf\u00E9");
    EXPECT_EQ(DecodeExternalText("caf\xE9", codePage), u"cp");
    EXPECT_EQ(DecodeExternalText("caf\xE9", nullptr), u"caf\u00E9");
    // Without a code page: Windows-1252.
    EXPECT_EQ(DecodeExternalText("\x93"
                                 "5 \x80\x94",
                                 nullptr),
              u"\u201C"
              "5 \u20AC\u201D");
}

TEST(TextWidths, Windows1252Table) {
    const std::pair<unsigned char, char16_t> cases[] = {
        {0x41, u'A'},   {0x7F, 0x7F},   {0x80, 0x20AC}, {0x81, 0xFFFD}, {0x82, 0x201A},
        {0x8A, 0x0160}, {0x8D, 0xFFFD}, {0x8E, 0x017D}, {0x8F, 0xFFFD}, {0x90, 0xFFFD},
        {0x91, 0x2018}, {0x96, 0x2013}, {0x99, 0x2122}, {0x9D, 0xFFFD}, {0x9F, 0x0178},
        {0xA0, 0xA0},   {0xE9, 0xE9},   {0xFF, 0xFF},   {0x00, 0x00},
    };
    for (const auto& [byte, unit] : cases) {
        EXPECT_EQ(DecodeWindows1252(std::string(1, static_cast<char>(byte))),
                  std::u16string(1, unit))
            << std::hex << int{byte};
    }
}

TEST(FitText, CutsWithEllipsisWithoutSplittingPairs) {
    EXPECT_EQ(FitText(u"short", 63), u"short");
    const std::u16string long_text(300, u'x');
    const std::u16string fitted = FitText(long_text, 255);
    ASSERT_EQ(fitted.size(), 255u);
    EXPECT_EQ(fitted.substr(252), u"...");
    // A surrogate pair straddling the cut is dropped whole.
    std::u16string pair_at_cut = std::u16string(5, u'a') + u"\U0001F600" + u"bbbb";
    EXPECT_EQ(FitText(pair_at_cut, 9), u"aaaaa...");
    // Full stops at the cut are dropped: the cut shows three dots, not more.
    EXPECT_EQ(FitText(u"abc.defgh", 7), u"abc...");
}

TEST(FitText, BetweenFixedWordsTheCutEndsTheSentence) {
    // The cut's "..." stands for the full stop after it, even one unit too long.
    EXPECT_EQ(FitBetween(u"<", u"abcdefg", u". Stop", 13), u"<abcd... Stop");
    EXPECT_EQ(FitBetween(u"<", u"abc.efghijk", u". Stop", 13), u"<abc... Stop");
    EXPECT_EQ(FitBetween(u"<", u"abcdefghijk", u" end", 13), u"<abcde... end");
}
