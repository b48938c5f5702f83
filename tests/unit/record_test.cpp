#include "notify/record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

RecordError Decode(const std::string& body, NotificationRecord* out) {
    return DecodeNotificationRecord(body.data(), body.size(), out);
}

}  // namespace

TEST(NotificationRecord, DecodesEachPayloadKind) {
    NotificationRecord record;
    ASSERT_EQ(Decode(std::string("\x01\0\0\0abc\0", 8), &record), RecordError::None);
    EXPECT_EQ(record.type, NOTIFY_HTTPS_SITE_BLOCKED);
    EXPECT_EQ(record.detail, "abc");

    ASSERT_EQ(Decode(std::string("\x06\0\0\0\xFB\xFF\xFF\xFF", 8), &record), RecordError::None);
    EXPECT_EQ(record.type, NOTIFY_DRIVER_ERROR);
    EXPECT_EQ(record.errorCode, -5);
    EXPECT_EQ(record.detail, "");

    ASSERT_EQ(Decode(std::string("\xFD\xFF\xFF\xFF", 4), &record), RecordError::None);
    EXPECT_EQ(record.type, NOTIFY_NOTIFIER_ERROR);
}

TEST(NotificationRecord, EmptyDetailIsTheLoneNul) {
    NotificationRecord record;
    ASSERT_EQ(Decode(std::string("\x0A\0\0\0\0", 5), &record), RecordError::None);
    EXPECT_EQ(record.type, NOTIFY_CONFLICTING_APPLICATION);
    EXPECT_EQ(record.detail, "");
}

TEST(NotificationRecord, BytesAfterTheFieldsAreIgnored) {
    NotificationRecord record;
    ASSERT_EQ(Decode(std::string("\x01\0\0\0ab\0cd", 9), &record), RecordError::None);
    EXPECT_EQ(record.detail, "ab");
    ASSERT_EQ(Decode(std::string("\x02\0\0\0xyz", 7), &record), RecordError::None);
    EXPECT_EQ(record.type, NOTIFY_ACK_ONLY);
    EXPECT_EQ(record.detail, "");
    ASSERT_EQ(Decode(std::string("\x06\0\0\0\x07\0\0\0\x09", 9), &record), RecordError::None);
    EXPECT_EQ(record.errorCode, 7);
}

TEST(NotificationRecord, RefusesBodiesTooShortForTheirType) {
    NotificationRecord record;
    record.type = 99;
    for (size_t n = 0; n < 4; ++n) {
        EXPECT_EQ(Decode(std::string("\x02\0\0\0", n), &record), RecordError::TooShort) << n;
    }
    for (size_t n = 4; n < 8; ++n) {
        EXPECT_EQ(Decode(std::string("\x06\0\0\0\x01\0\0\0", n), &record), RecordError::TooShort)
            << n;
    }
    EXPECT_EQ(record.type, 99);  // left alone on failure
    EXPECT_EQ(DecodeNotificationRecord(nullptr, 8, &record), RecordError::TooShort);
}

TEST(NotificationRecord, RefusesDetailWithoutNulInsideTheBody) {
    NotificationRecord record;
    // The bytes after the body hold a NUL: the decoder must not look there.
    const std::string buffer("\x01\0\0\0abc\0", 8);
    EXPECT_EQ(DecodeNotificationRecord(buffer.data(), 7, &record), RecordError::DetailNotEnded);
    EXPECT_EQ(DecodeNotificationRecord(buffer.data(), 4, &record), RecordError::DetailNotEnded);
    EXPECT_EQ(Decode(std::string("\x0A\0\0\0PID - \"12\"", 14), &record),
              RecordError::DetailNotEnded);
}

TEST(NotificationRecord, TypeNamesRoundTrip) {
    const int32_t codes[] = {-3, 1, 2, 3, 4, 6, 7, 8, 9, 10};
    for (int32_t code : codes) {
        const char* name = NotificationTypeName(code);
        ASSERT_NE(name, nullptr) << code;
        EXPECT_EQ(NotificationTypeFromName(name), code);
    }
    EXPECT_STREQ(NotificationTypeName(4), "NOTIFY_SERVER_DOWN");
    EXPECT_STREQ(NotificationTypeName(-3), "NOTIFY_NOTIFIER_ERROR");
    for (int32_t code : {-2, -1, 0, 5, 11}) {
        EXPECT_EQ(NotificationTypeName(code), nullptr) << code;
    }
    EXPECT_FALSE(NotificationTypeFromName("notify_server_down").has_value());
}

TEST(NotificationRecord, EncodeGivesWhatTheDecoderReads) {
    EXPECT_EQ(EncodeNotificationRecord({NOTIFY_HTTPS_SITE_BLOCKED, "abc", 0}),
              std::string("\x01\0\0\0abc\0", 8));
    EXPECT_EQ(EncodeNotificationRecord({NOTIFY_DRIVER_ERROR, "", -5}),
              std::string("\x06\0\0\0\xFB\xFF\xFF\xFF", 8));
    EXPECT_EQ(EncodeNotificationRecord({NOTIFY_SERVER_DOWN, "ignored", 3}),
              std::string("\x04\0\0\0", 4));
}
