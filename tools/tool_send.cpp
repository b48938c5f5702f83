#include "tool_send.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/wire_word.h"
#include "channel/channel_name.h"
#include "notify/record.h"
#include "notify_channel.h"
#include "orlivan_notify.h"

namespace {

// A notification channel connection of the service library.
class CLibraryRecordConnection : public CRecordConnection {
public:
    explicit CLibraryRecordConnection(orlivan_notify_connection* connection)
        : m_connection(connection) {}
    ~CLibraryRecordConnection() override { orlivan_notify_close(m_connection); }
    int Send(const Bytes& frame, bool expectReply, uint32_t timeoutMs, int32_t* reply) override {
        return orlivan_notify_send_frame(m_connection, frame.data(), frame.size(),
                                         expectReply ? 1 : 0, timeoutMs, reply);
    }

private:
    orlivan_notify_connection* m_connection;
};

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The channel `options` address, and in `user` the identifier of the user
// they name (empty for --channel); nothing (with the error printed) when the
// user can't be resolved.
std::optional<std::string> ChannelOf(const SendOptions& options, const PrintFn& printError,
                                     std::string* user) {
    if (options.channel) {
        return *options.channel;
    }
    if (options.userName) {
        const std::optional<std::string> id = LookupUserId(*options.userName);
        if (!id) {
            printError("unknown user " + *options.userName);
            return std::nullopt;
        }
        *user = *id;
    } else if (options.userId) {
        *user = *options.userId;
    } else {
        *user = CurrentUserId();
        if (user->empty()) {
            printError("the current user can't be resolved; give --user, --sid/--uid or --channel");
            return std::nullopt;
        }
    }
    return ServiceNotificationChannelName(*user);
}

}  // namespace

const char* RecordTypeName(int32_t code) {
    const NotificationTypeInfo* type = FindNotificationType(code);
    return type != nullptr ? type->name : "unknown";
}

bool RecordIsReplied(int32_t code) {
    const NotificationTypeInfo* type = FindNotificationType(code);
    return type != nullptr && type->replied;
}

Bytes BuildRecordBody(const RecordToSend& record) {
    if (record.raw) {
        return *record.raw;
    }
    const int32_t type = record.type.value_or(0);
    const NotificationTypeInfo* info = FindNotificationType(type);
    // A type that carries a detail gets at least its NUL: the notifier drops a
    // body whose detail is not ended inside it.
    std::optional<std::string_view> detail = record.detail;
    if (!detail && info != nullptr && info->payload == RecordPayload::Detail) {
        detail = std::string_view();
    }
    return ToBytes(EncodeRecordBody(type, detail, record.errorCode));
}

Bytes BuildRecordFrame(const RecordToSend& record) {
    const Bytes body = BuildRecordBody(record);
    Bytes frame = ToBytes(EncodeNotificationFrame(
        std::string_view(reinterpret_cast<const char*>(body.data()), body.size())));
    if (record.lengthWord) {
        StoreWireWord(*record.lengthWord, frame.data());
    }
    return frame;
}

bool RecordExpectsReply(const RecordToSend& record) {
    if (record.expectReply) {
        return *record.expectReply;
    }
    if (record.type) {
        return RecordIsReplied(*record.type);
    }
    return record.raw && record.raw->size() >= 4 &&
           RecordIsReplied(static_cast<int32_t>(LoadUint32(record.raw->data())));
}

std::string DescribeRecord(const RecordToSend& record) {
    if (record.type) {
        return "type " + std::to_string(*record.type) + " " + RecordTypeName(*record.type);
    }
    return "raw " + std::to_string(record.raw ? record.raw->size() : 0) + " bytes";
}

int SendRecords(CRecordConnection& connection, const SendOptions& options, const PrintFn& print) {
    int number = 0;
    for (const RecordToSend& record : options.records) {
        ++number;
        const std::string label =
            "record " + std::to_string(number) + " (" + DescribeRecord(record) + ")";
        const bool expectReply = RecordExpectsReply(record);
        int32_t reply = 0;
        const int result =
            connection.Send(BuildRecordFrame(record), expectReply, options.replyTimeoutMs, &reply);
        switch (result) {
            case ORLIVAN_NOTIFY_OK:
                break;
            case ORLIVAN_NOTIFY_E_SEND_FAILED:
                print(label + ": the connection broke while sending");
                return TOOL_EXIT_SEND_FAILED;
            case ORLIVAN_NOTIFY_E_TIMED_OUT:
                print(label + ": sent, no reply within " + std::to_string(options.replyTimeoutMs) +
                      " ms");
                return TOOL_EXIT_NO_REPLY;
            default:
                print(label + ": sent, " + orlivan_notify_error_text(result));
                return TOOL_EXIT_NO_REPLY;
        }
        if (!expectReply) {
            print(label + ": sent, no reply expected");
            continue;
        }
        uint8_t bytes[4];
        StoreWireWord(static_cast<uint32_t>(reply), bytes);
        print(label + ": reply " + std::to_string(reply) + " (" + ToHex(bytes, 4) + ")");
    }
    return TOOL_EXIT_OK;
}

int RunSend(const SendOptions& options, const PrintFn& print, const PrintFn& printError,
            const std::function<void(uint32_t)>& sleepMs) {
    std::string user;
    const std::optional<std::string> channel = ChannelOf(options, printError, &user);
    if (!channel) {
        return TOOL_EXIT_UNKNOWN_USER;
    }
    // Only the addressed user's notifier (or root on posix) may receive that
    // user's records: the library refuses any other before a byte is written.
    const std::string expected = user.empty() ? CurrentUserId() : user;
    // The notifier serves one client at a time, and notices that the previous
    // one has gone only at its next read: the library keeps trying for
    // --connect-wait. While it waits for the user (the first driver error's
    // box, the first new-update notice's dialog or boxes) the channel stays
    // busy for as long as that takes: --wait-free keeps trying, as a service's
    // queue must, and so does it while someone else's pipe holds the name.
    uint32_t pauseMs =
        std::max<uint32_t>(1, std::min(options.backoffFirstMs, options.backoffMaxMs));
    orlivan_notify_connection* opened = nullptr;
    for (uint32_t attempt = 1;; ++attempt) {
        const int result =
            orlivan_notify_connect_channel(channel->c_str(), expected.c_str(),
                                           options.waitFree ? 0 : options.connectWaitMs, &opened);
        if (result == ORLIVAN_NOTIFY_OK) {
            break;
        }
        const std::string stranger = result == ORLIVAN_NOTIFY_E_NOT_THE_USERS
                                         ? std::string(orlivan_notify_last_detail()) +
                                               ": it is not that user's notifier, so nothing "
                                               "was sent"
                                         : std::string();
        if (!options.waitFree) {
            if (!stranger.empty()) {
                printError(stranger);
                return TOOL_EXIT_NOT_THE_USERS;
            }
            printError("no notifier is listening on " + *channel + " (" +
                       orlivan_notify_error_text(result) +
                       "); is the notifier running for this user, and may this account write "
                       "to it?");
            return TOOL_EXIT_NO_LISTENER;
        }
        if (result == ORLIVAN_NOTIFY_E_ACCESS_DENIED) {
            printError(*channel + ": " + orlivan_notify_error_text(result));
            return TOOL_EXIT_NO_LISTENER;
        }
        print((stranger.empty() ? std::string("channel busy or absent") : stranger) + " (try " +
              std::to_string(attempt) + "); trying again in " + std::to_string(pauseMs) + " ms");
        if (sleepMs) {
            sleepMs(pauseMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        pauseMs = pauseMs > options.backoffMaxMs / 2 ? options.backoffMaxMs : pauseMs * 2;
    }
    print("connected to " + *channel);
    CLibraryRecordConnection connection(opened);
    return SendRecords(connection, options, print);
}
