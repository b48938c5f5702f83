#include "tool_send.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "channel/channel_name.h"
#include "base/wire_word.h"
#include "notify/record.h"
#include "channel/pipe_client.h"
#include "tool_channel.h"

namespace {

// A notification channel connection over the library's client, whose every
// transfer gives up after its time-out.
class CClientRecordConnection : public CRecordConnection {
public:
    explicit CClientRecordConnection(CPipeClient& client) : m_client(client) {}
    bool Write(const Bytes& bytes) override {
        m_client.SetTimeout(COMMAND_TRANSFER_TIMEOUT_MS);
        return m_client.Write(static_cast<uint32_t>(bytes.size()), bytes.data()) != 0;
    }
    bool ReadReply(uint8_t reply[4], uint32_t timeoutMs) override {
        m_client.SetTimeout(timeoutMs);
        return m_client.Read(4, reply) != 0;
    }

private:
    CPipeClient& m_client;
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
        if (!connection.Write(BuildRecordFrame(record))) {
            print(label + ": the connection broke while sending");
            return TOOL_EXIT_SEND_FAILED;
        }
        if (!RecordExpectsReply(record)) {
            print(label + ": sent, no reply expected");
            continue;
        }
        uint8_t reply[4];
        if (!connection.ReadReply(reply, options.replyTimeoutMs)) {
            print(label + ": sent, no reply within " + std::to_string(options.replyTimeoutMs) +
                  " ms or the notifier closed the connection");
            return TOOL_EXIT_NO_REPLY;
        }
        print(label + ": reply " + std::to_string(static_cast<int32_t>(LoadUint32(reply))) + " (" +
              ToHex(reply, 4) + ")");
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
    CPipeClient client(*channel);
    // Only the addressed user's notifier (or root on posix) may receive that
    // user's records.
    const std::string expected = user.empty() ? CurrentUserId() : user;
    ExpectNotifierOf(client, expected);
    // The notifier serves one client at a time, and notices that the previous
    // one has gone only at its next read: keep trying for a while. While it
    // waits for the user (the first driver error's box, the first new-update
    // notice's dialog or boxes) the channel stays busy for as long as that
    // takes: --wait-free keeps trying, as a service's queue must.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.connectWaitMs);
    uint32_t pauseMs =
        std::max<uint32_t>(1, std::min(options.backoffFirstMs, options.backoffMaxMs));
    // A pipe that is not the user's is closed before a byte is written; with
    // --wait-free the records are kept and tried again like a busy channel
    // (the user's notifier can take the name once the other process lets go).
    for (uint32_t attempt = 1;; ++attempt) {
        std::string stranger;
        if (client.Open() != 0) {
            stranger = NotifierServerProblem(client, expected);
            if (stranger.empty()) {
                break;
            }
            client.Close();
            if (!options.waitFree) {
                printError(stranger);
                return TOOL_EXIT_NOT_THE_USERS;
            }
        } else if (!options.waitFree) {
            if (std::chrono::steady_clock::now() >= deadline) {
                printError("no notifier is listening on " + *channel +
                           " (or it stayed busy, is another user's, or this account may not "
                           "open it); is the notifier running for this user, and may this "
                           "account write to it?");
                return TOOL_EXIT_NO_LISTENER;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
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
    CClientRecordConnection connection(client);
    const int result = SendRecords(connection, options, print);
    client.Close();
    return result;
}
