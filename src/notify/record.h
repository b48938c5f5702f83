// The notification record: the body of one frame on the notification channel.
// A signed 32-bit type code at offset 0, then a payload by type: a
// NUL-terminated 8-bit `detail` text for site-blocked and conflicting-application
// notices, a signed 32-bit `errorCode` for driver errors. Little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum NotificationType : int32_t {
    NOTIFY_NOTIFIER_ERROR = -3,
    NOTIFY_HTTPS_SITE_BLOCKED = 1,
    NOTIFY_ACK_ONLY = 2,
    NOTIFY_NEW_UPDATE = 3,
    NOTIFY_SERVER_DOWN = 4,
    NOTIFY_DRIVER_ERROR = 6,
    NOTIFY_NO_HOTSPOT = 7,
    NOTIFY_HOTSPOT_DETECTED = 8,
    NOTIFY_NORMAL_MODE = 9,
    NOTIFY_CONFLICTING_APPLICATION = 10,
};

// What follows a record's type word.
enum class RecordPayload {
    None,
    Detail,     // an 8-bit text and its NUL (an empty detail is the NUL alone)
    ErrorCode,  // a signed 32-bit integer
};

// A type the notifier knows.
struct NotificationTypeInfo {
    int32_t code;
    const char* constant;  // the constant's name, "NOTIFY_SERVER_DOWN"
    const char* name;      // the short name service tools use, "server-down"
    RecordPayload payload;
    // The notifier answers it with a 4-byte reply. It does not answer
    // NOTIFY_NOTIFIER_ERROR, nor any code outside the table.
    bool replied;
};

// The known types, by code.
std::span<const NotificationTypeInfo> NotificationTypes();

// The entry of `code`; null for a code outside the table.
const NotificationTypeInfo* FindNotificationType(int32_t code);

// The name of a known type code ("NOTIFY_SERVER_DOWN"), or null for any other code.
const char* NotificationTypeName(int32_t type);

// The code of a type name, exactly as NotificationTypeName spells it.
std::optional<int32_t> NotificationTypeFromName(std::string_view name);

// A decoded record. `detail` is set for the two text-carrying types and
// `errorCode` for driver errors; both stay empty/0 for the others.
struct NotificationRecord {
    int32_t type = 0;
    std::string detail;
    int32_t errorCode = 0;
};

// Why a body could not be decoded.
enum class RecordError {
    None,
    TooShort,        // fewer than 4 bytes, or a driver error without its 8 bytes
    DetailNotEnded,  // a detail text without its NUL inside the body
};

// Decodes `length` bytes at `body` into `out`. Reads only inside the body.
// Fields of the type must lie wholly inside it: the type word, the errorCode
// word for driver errors, and the detail text with its NUL for the two text
// types (an empty detail is the single NUL). Bytes after the fields are
// ignored. A body that fails these checks is refused; the channel then drops
// the client without a reply, so the service sees its connection end instead
// of waiting for an answer that will not come.
RecordError DecodeNotificationRecord(const void* body, size_t length, NotificationRecord* out);

// Text for a RecordError, for the log.
const char* RecordErrorText(RecordError error);

// Encodes a record as a frame body: the type word, then the payload its type
// carries (the sender's side, used by tools and tests).
std::string EncodeNotificationRecord(const NotificationRecord& record);

// A frame body as a sender lays it out: the type word, then `detail` and its
// NUL when given, then the `errorCode` word when given, whatever the type
// carries. EncodeNotificationRecord gives each type its own payload through
// it; a service's test tool may send any other mix.
std::string EncodeRecordBody(int32_t type, std::optional<std::string_view> detail,
                             std::optional<int32_t> errorCode);

// A frame: the length word (the body's size), then the body.
std::string EncodeNotificationFrame(std::string_view body);
