#include "commands/command_reply.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Append32(Bytes& bytes, uint32_t value) {
    const size_t at = bytes.size();
    bytes.resize(at + 4);
    for (size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void AppendText(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

std::unique_ptr<CCommandReply> Parse(const Bytes& body) {
    return std::unique_ptr<CCommandReply>(
        ParseReplyBody(body.data(), static_cast<uint32_t>(body.size())));
}

int32_t Integer(const CCommandReply& reply, int32_t key) {
    int32_t value = 0;
    EXPECT_TRUE(GetReplyInteger(reply, key, &value)) << "key " << key;
    return value;
}

Bytes UpdateBody(int32_t status, const std::string& text, uint32_t n) {
    Bytes body;
    Append32(body, 0x300);
    Append32(body, static_cast<uint32_t>(status));
    Append32(body, n);
    AppendText(body, text);
    body.push_back(0);
    return body;
}

}  // namespace

TEST(ReplyReader, CheckUpdateReplyFillsKeysOneToFour) {
    const Bytes body = UpdateBody(5, "a;2.0;x", 7);
    ASSERT_EQ(body.size(), 20u);
    auto reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->m_valid, 1);
    EXPECT_EQ(Integer(*reply, 1), 0x300);
    EXPECT_EQ(Integer(*reply, 2), 5);
    EXPECT_EQ(Integer(*reply, 3), 7);
    EXPECT_STREQ(GetReplyText(*reply, 4), "a;2.0;x");
}

TEST(ReplyReader, CheckUpdateTextIsTakenByItsLengthNotItsTerminator) {
    Bytes body = UpdateBody(4, "2.5.1", 3);  // n shorter than the text: the text is cut
    auto reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(GetReplyText(*reply, 4), "2.5");

    body = UpdateBody(4, "", 0);
    body.back() = 'Z';  // the terminating byte's value is not examined
    reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_STREQ(GetReplyText(*reply, 4), "");
}

TEST(ReplyReader, VersionReplyTakesItsLengthFromTheFrame) {
    Bytes body;
    Append32(body, 0x305);
    AppendText(body, "1.2.3");
    body.push_back(0);
    ASSERT_EQ(body.size(), 10u);
    auto reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Integer(*reply, 1), 0x305);
    EXPECT_EQ(Integer(*reply, 2), 6);
    EXPECT_STREQ(GetReplyText(*reply, 3), "1.2.3");
    EXPECT_EQ(reply->GetParameter(4), nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "1.2.3");

    body.resize(5);  // the code and the terminating byte alone: an empty version
    reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Integer(*reply, 2), 1);
    EXPECT_STREQ(GetReplyText(*reply, 3), "");
}

TEST(ReplyReader, IntegerRepliesAreBuiltToo) {
    Bytes body;
    Append32(body, 0x301);
    Append32(body, static_cast<uint32_t>(-9));
    auto reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Integer(*reply, 1), 0x301);
    EXPECT_EQ(Integer(*reply, 2), -9);
    EXPECT_EQ(reply->GetParameter(3), nullptr);

    body.clear();
    Append32(body, 0x302);
    Append32(body, 11);
    Append32(body, 12);
    reply = Parse(body);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Integer(*reply, 2), 11);
    EXPECT_EQ(Integer(*reply, 3), 12);
}

TEST(ReplyReader, UnknownCodesGiveNoReply) {
    for (uint32_t code : {0x303u, 0x304u, 0x2FFu, 0x306u, 0u, 0xFFFFFFFFu}) {
        Bytes body;
        Append32(body, code);
        Append32(body, 0);
        Append32(body, 0);
        body.push_back(0);
        EXPECT_EQ(Parse(body), nullptr) << std::hex << code;
    }
}

// Each body is one byte short of its code's fields; the reader must refuse it
// without reading past the end (ASan checks the bound: the vector is exact).
TEST(ReplyReader, BodiesShorterThanTheirFieldsAreRefused) {
    Bytes update = UpdateBody(5, "abc", 3);
    update.pop_back();  // no terminating byte
    EXPECT_EQ(Parse(update), nullptr);
    EXPECT_EQ(Parse(Bytes(update.begin(), update.begin() + 11)), nullptr);  // no n

    Bytes version;
    Append32(version, 0x305);
    EXPECT_EQ(Parse(version), nullptr);

    Bytes one;
    Append32(one, 0x301);
    one.resize(7);
    EXPECT_EQ(Parse(one), nullptr);

    Bytes two;
    Append32(two, 0x302);
    Append32(two, 1);
    two.resize(11);
    EXPECT_EQ(Parse(two), nullptr);

    EXPECT_EQ(Parse(Bytes{0x00, 0x03, 0x00}), nullptr);
    EXPECT_EQ(ParseReplyBody(nullptr, 0), nullptr);
}

TEST(ReplyReader, TextLengthRunningPastTheBodyIsRefused) {
    EXPECT_EQ(Parse(UpdateBody(5, "abc", 4)), nullptr);
    EXPECT_EQ(Parse(UpdateBody(5, "abc", 0xFFFFFFFFu)), nullptr);  // 12 + n wraps
    EXPECT_EQ(Parse(UpdateBody(5, "abc", 0xFFFFFFF4u)), nullptr);
    EXPECT_NE(Parse(UpdateBody(5, "abc", 3)), nullptr);
}

TEST(ReplyReader, InstalledVersionNeedsAValidReplyWithText) {
    EXPECT_EQ(InstalledVersionFromReply(nullptr), "");
    CCommandReply unfinished;
    unfinished.SetParameter(REPLY_KEY_VERSION_TEXT, ParameterMap::NewTextBlock("9.9"));
    EXPECT_EQ(InstalledVersionFromReply(&unfinished), "");  // m_valid still 0
    CCommandReply noText;
    noText.m_valid = 1;
    EXPECT_EQ(InstalledVersionFromReply(&noText), "");
}
