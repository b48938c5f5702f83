#include "notify/record.h"

#include <cstring>

#include "base/wire_word.h"

namespace {

struct TypeName {
    int32_t code;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {NOTIFY_NOTIFIER_ERROR, "NOTIFY_NOTIFIER_ERROR"},
    {NOTIFY_HTTPS_SITE_BLOCKED, "NOTIFY_HTTPS_SITE_BLOCKED"},
    {NOTIFY_ACK_ONLY, "NOTIFY_ACK_ONLY"},
    {NOTIFY_NEW_UPDATE, "NOTIFY_NEW_UPDATE"},
    {NOTIFY_SERVER_DOWN, "NOTIFY_SERVER_DOWN"},
    {NOTIFY_DRIVER_ERROR, "NOTIFY_DRIVER_ERROR"},
    {NOTIFY_NO_HOTSPOT, "NOTIFY_NO_HOTSPOT"},
    {NOTIFY_HOTSPOT_DETECTED, "NOTIFY_HOTSPOT_DETECTED"},
    {NOTIFY_NORMAL_MODE, "NOTIFY_NORMAL_MODE"},
    {NOTIFY_CONFLICTING_APPLICATION, "NOTIFY_CONFLICTING_APPLICATION"},
};

int32_t ReadInt32(const unsigned char* p) {
    return static_cast<int32_t>(LoadWireWord(p));
}

void AppendInt32(std::string* out, int32_t value) {
    char word[4];
    StoreWireWord(static_cast<uint32_t>(value), word);
    out->append(word, sizeof word);
}

bool CarriesDetail(int32_t type) {
    return type == NOTIFY_HTTPS_SITE_BLOCKED || type == NOTIFY_CONFLICTING_APPLICATION;
}

}  // namespace

const char* NotificationTypeName(int32_t type) {
    for (const TypeName& entry : kTypeNames) {
        if (entry.code == type) {
            return entry.name;
        }
    }
    return nullptr;
}

std::optional<int32_t> NotificationTypeFromName(std::string_view name) {
    for (const TypeName& entry : kTypeNames) {
        if (name == entry.name) {
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
    if (record.type == NOTIFY_DRIVER_ERROR) {
        if (length < 8) {
            return RecordError::TooShort;
        }
        record.errorCode = ReadInt32(bytes + 4);
    } else if (CarriesDetail(record.type)) {
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
    std::string body;
    AppendInt32(&body, record.type);
    if (record.type == NOTIFY_DRIVER_ERROR) {
        AppendInt32(&body, record.errorCode);
    } else if (CarriesDetail(record.type)) {
        body += record.detail;
        body.push_back('\0');
    }
    return body;
}
