#include "notify/record.h"

#include <cstring>

#include "base/wire_word.h"

namespace {

constexpr NotificationTypeInfo kTypes[] = {
    {NOTIFY_NOTIFIER_ERROR, "NOTIFY_NOTIFIER_ERROR", "notifier-error", RecordPayload::None, false},
    {NOTIFY_HTTPS_SITE_BLOCKED, "NOTIFY_HTTPS_SITE_BLOCKED", "https-site-blocked",
     RecordPayload::Detail, true},
    {NOTIFY_ACK_ONLY, "NOTIFY_ACK_ONLY", "ack-only", RecordPayload::None, true},
    {NOTIFY_NEW_UPDATE, "NOTIFY_NEW_UPDATE", "new-update", RecordPayload::None, true},
    {NOTIFY_SERVER_DOWN, "NOTIFY_SERVER_DOWN", "server-down", RecordPayload::None, true},
    {NOTIFY_DRIVER_ERROR, "NOTIFY_DRIVER_ERROR", "driver-error", RecordPayload::ErrorCode, true},
    {NOTIFY_NO_HOTSPOT, "NOTIFY_NO_HOTSPOT", "no-hotspot", RecordPayload::None, true},
    {NOTIFY_HOTSPOT_DETECTED, "NOTIFY_HOTSPOT_DETECTED", "hotspot-detected", RecordPayload::None,
     true},
    {NOTIFY_NORMAL_MODE, "NOTIFY_NORMAL_MODE", "normal-mode", RecordPayload::None, true},
    {NOTIFY_CONFLICTING_APPLICATION, "NOTIFY_CONFLICTING_APPLICATION", "conflicting-application",
     RecordPayload::Detail, true},
};

int32_t ReadInt32(const unsigned char* p) {
    return static_cast<int32_t>(LoadWireWord(p));
}

void AppendInt32(std::string* out, int32_t value) {
    char word[4];
    StoreWireWord(static_cast<uint32_t>(value), word);
    out->append(word, sizeof word);
}

RecordPayload PayloadOf(int32_t type) {
    const NotificationTypeInfo* info = FindNotificationType(type);
    return info != nullptr ? info->payload : RecordPayload::None;
}

}  // namespace

std::span<const NotificationTypeInfo> NotificationTypes() {
    return kTypes;
}

const NotificationTypeInfo* FindNotificationType(int32_t code) {
    for (const NotificationTypeInfo& entry : kTypes) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

const char* NotificationTypeName(int32_t type) {
    const NotificationTypeInfo* info = FindNotificationType(type);
    return info != nullptr ? info->constant : nullptr;
}

std::optional<int32_t> NotificationTypeFromName(std::string_view name) {
    for (const NotificationTypeInfo& entry : kTypes) {
        if (name == entry.constant) {
            return entry.code;
        }
    }
    return std::nullopt;
}

RecordError DecodeNotificationRecord(const void* body, size_t length, NotificationRecord* out) {
    const auto* bytes = static_cast<const unsigned char*>(body);
    if (bytes == nullptr || length < 4) {
        return RecordError::TooShort;
    }
    NotificationRecord record;
    record.type = ReadInt32(bytes);
    const RecordPayload payload = PayloadOf(record.type);
    if (payload == RecordPayload::ErrorCode) {
        if (length < 8) {
            return RecordError::TooShort;
        }
        record.errorCode = ReadInt32(bytes + 4);
    } else if (payload == RecordPayload::Detail) {
        const unsigned char* text = bytes + 4;
        const size_t room = length - 4;
        const void* nul = std::memchr(text, 0, room);
        if (nul == nullptr) {
            return RecordError::DetailNotEnded;
        }
        record.detail.assign(reinterpret_cast<const char*>(text),
                             static_cast<const unsigned char*>(nul) - text);
    }
    *out = std::move(record);
    return RecordError::None;
}

const char* RecordErrorText(RecordError error) {
    switch (error) {
        case RecordError::None:
            return "none";
        case RecordError::TooShort:
            return "body too short for its type";
        case RecordError::DetailNotEnded:
            return "detail text without its terminating NUL";
    }
    return "unknown";
}

std::string EncodeNotificationRecord(const NotificationRecord& record) {
    switch (PayloadOf(record.type)) {
        case RecordPayload::Detail:
            return EncodeRecordBody(record.type, record.detail, std::nullopt);
        case RecordPayload::ErrorCode:
            return EncodeRecordBody(record.type, std::nullopt, record.errorCode);
        case RecordPayload::None:
            break;
    }
    return EncodeRecordBody(record.type, std::nullopt, std::nullopt);
}

std::string EncodeRecordBody(int32_t type, std::optional<std::string_view> detail,
                             std::optional<int32_t> errorCode) {
    std::string body;
    AppendInt32(&body, type);
    if (detail) {
        body += *detail;
        body.push_back('\0');
    }
    if (errorCode) {
        AppendInt32(&body, *errorCode);
    }
    return body;
}

std::string EncodeNotificationFrame(std::string_view body) {
    std::string frame;
    AppendInt32(&frame, static_cast<int32_t>(body.size()));
    frame += body;
    return frame;
}
