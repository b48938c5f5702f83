// The C interface: opaque handles over the channel client and the command
// server, every failure turned into an error value. Nothing throws across it.
#include "orlivan_notify.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "notify/record.h"
#include "notify_channel.h"
#include "notify_reply.h"
#include "notify_serve.h"

struct orlivan_notify_connection {
    explicit orlivan_notify_connection(const std::string& channel) : client(channel) {}
    CPipeClient client;
    // A record failed on it (cut short, or its reply not read): it is closed
    // for good, so that no later record follows a partial frame or reads a
    // late reply.
    bool broken = false;
};

struct orlivan_notify_command_server {
    std::unique_ptr<CServeListener> listener;
    orlivan_notify_command_handlers handlers{};
    uint32_t exchanges = 0;
    // The clients (by account) whose last connection ran out of its time:
    // their next connections are served only when the whole request is there
    // already, so that one account's connections in a row cannot hold the
    // serving thread from the others. Oldest first, at most kMaxStruck.
    std::deque<std::string> struck;
    static constexpr size_t kMaxStruck = 64;
};

namespace {

using Clock = std::chrono::steady_clock;

// What went wrong last on this thread, for orlivan_notify_last_detail.
thread_local std::string t_detail;

int Fail(int error, std::string detail) {
    t_detail = std::move(detail);
    return error;
}

// Runs `body`, turning an exception into an error: nothing crosses the C
// interface.
template <typename Body>
int Guarded(Body body) {
    try {
        t_detail.clear();
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(ORLIVAN_NOTIFY_E_OUT_OF_MEMORY, "out of memory");
    } catch (const std::length_error&) {
        return Fail(ORLIVAN_NOTIFY_E_OUT_OF_MEMORY, "a text too long to hold");
    } catch (...) {
        return Fail(ORLIVAN_NOTIFY_E_INTERNAL, "an unexpected exception");
    }
}

int OpenFailureError(ChannelOpenFailure failure) {
    switch (failure) {
        case ChannelOpenFailure::Busy:
            return ORLIVAN_NOTIFY_E_BUSY;
        case ChannelOpenFailure::Denied:
            return ORLIVAN_NOTIFY_E_ACCESS_DENIED;
        case ChannelOpenFailure::NotTheUsers:
            return ORLIVAN_NOTIFY_E_NOT_THE_USERS;
        default:
            return ORLIVAN_NOTIFY_E_NO_NOTIFIER;
    }
}

// Opens `channel` for the user `userId` until `deadline`: a busy or absent
// channel is tried again after pauses growing from 20 ms to 1 s (the notifier
// takes the next client only when it has finished the current record);
// refusals are final.
int Connect(const std::string& channel, const std::string& userId, uint32_t deadlineMs,
            orlivan_notify_connection** out) {
    auto connection = std::make_unique<orlivan_notify_connection>(channel);
    ExpectNotifierOf(connection->client, userId);
    const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
    auto pause = std::chrono::milliseconds(20);
    for (;;) {
        if (connection->client.Open() != 0) {
            const std::string problem = ChannelOwnerProblem(connection->client, userId);
            if (!problem.empty()) {
                connection->client.Close();
                return Fail(ORLIVAN_NOTIFY_E_NOT_THE_USERS, problem);
            }
            *out = connection.release();
            return ORLIVAN_NOTIFY_OK;
        }
        const int error = OpenFailureError(connection->client.LastOpenFailure());
        const auto now = Clock::now();
        if ((error != ORLIVAN_NOTIFY_E_BUSY && error != ORLIVAN_NOTIFY_E_NO_NOTIFIER) ||
            now >= deadline) {
            return Fail(error,
                        error == ORLIVAN_NOTIFY_E_NOT_THE_USERS
                            ? "the channel " + channel + " is served by another user than " + userId
                            : channel);
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
    }
}

// Reads the 4-byte reply by `deadline`, telling a time-out from a hang-up
// and from a reply cut short.
int ReadReply(CPipeClient& client, Clock::time_point deadline, int32_t* reply) {
    return ReadReplyWord(
        [&client, deadline](uint8_t* buffer, uint32_t max) {
            return client.ReadSome(buffer, max, deadline);
        },
        reply);
}

// Writes `frame` and reads its reply, both by `deadline`. A failure closes
// the connection for good.
int SendFrame(orlivan_notify_connection* connection, const void* frame, size_t size,
              bool expectReply, Clock::time_point deadline, int32_t* reply) {
    if (reply != nullptr) {
        *reply = 0;
    }
    if (connection->broken) {
        return Fail(ORLIVAN_NOTIFY_E_SEND_FAILED,
                    "an earlier record failed on this connection, which is closed: open a new one");
    }
    CPipeClient& client = connection->client;
    int result = ORLIVAN_NOTIFY_OK;
    // A write is given at least a millisecond: a deadline that has passed
    // still lets a channel that takes the frame at once have it.
    const auto writeDeadline = std::max(deadline, Clock::now() + std::chrono::milliseconds(1));
    if (size > UINT32_MAX || client.Write(static_cast<uint32_t>(size), frame, writeDeadline) == 0) {
        result = ORLIVAN_NOTIFY_E_SEND_FAILED;
    } else if (expectReply) {
        result = ReadReply(client, deadline, reply);
    }
    if (result != ORLIVAN_NOTIFY_OK) {
        connection->broken = true;
        client.Close();
    }
    return result;
}

// A record that gets a reply can't be sent without waiting for it: a time of
// 0 is refused before anything is done.
bool RefusesNoTime(bool expectReply, uint32_t timeMs) {
    return expectReply && timeMs == 0;
}

// Whether the notifier answers `record`.
bool Replied(const orlivan_notify_record& record) {
    const NotificationTypeInfo* type = FindNotificationType(record.type);
    return type != nullptr && type->replied;
}

// Checks `record`; with `timeMs` 0 one that gets a reply is refused, since
// its reply can't come without waiting.
int CheckRecord(const orlivan_notify_record* record, uint32_t timeMs) {
    if (record == nullptr || record->size < sizeof(orlivan_notify_record) ||
        (record->detail != nullptr && std::strlen(record->detail) > ORLIVAN_NOTIFY_MAX_DETAIL)) {
        return ORLIVAN_NOTIFY_E_ARGUMENT;
    }
    if (RefusesNoTime(Replied(*record), timeMs)) {
        return Fail(ORLIVAN_NOTIFY_E_ARGUMENT, "a record that gets a reply needs time for it");
    }
    return ORLIVAN_NOTIFY_OK;
}

// Sends the checked `record` on `connection` and reads its reply, all by
// `deadline`.
int SendRecord(orlivan_notify_connection* connection, const orlivan_notify_record* record,
               Clock::time_point deadline, int32_t* reply) {
    const NotificationTypeInfo* type = FindNotificationType(record->type);
    // The types that carry a detail get at least its NUL; the notifier drops
    // a body whose detail is not ended inside it.
    std::optional<std::string_view> detail;
    std::optional<int32_t> errorCode;
    if (type != nullptr && type->payload == RecordPayload::Detail) {
        detail = record->detail != nullptr ? std::string_view(record->detail) : "";
    } else if (type != nullptr && type->payload == RecordPayload::ErrorCode) {
        errorCode = record->error_code;
    }
    const std::string frame =
        EncodeNotificationFrame(EncodeRecordBody(record->type, detail, errorCode));
    return SendFrame(connection, frame.data(), frame.size(), Replied(*record), deadline, reply);
}

bool CopyText(const std::string& text, char* buffer, size_t size) {
    if (buffer == nullptr || text.size() + 1 > size) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

extern "C" {

const char* ORLIVAN_NOTIFY_CALL orlivan_notify_error_text(int error) {
    switch (error) {
        case ORLIVAN_NOTIFY_OK:
            return "done";
        case ORLIVAN_NOTIFY_E_ARGUMENT:
            return "invalid argument";
        case ORLIVAN_NOTIFY_E_UNKNOWN_USER:
            return "no such session, or no user logged on in it";
        case ORLIVAN_NOTIFY_E_NO_NOTIFIER:
            return "no notifier is running for that user";
        case ORLIVAN_NOTIFY_E_ACCESS_DENIED:
            return "this account may not open that user's channel";
        case ORLIVAN_NOTIFY_E_BUSY:
            return "the notifier stayed busy until the deadline";
        case ORLIVAN_NOTIFY_E_NOT_THE_USERS:
            return "the channel is not that user's notifier; nothing was sent";
        case ORLIVAN_NOTIFY_E_SEND_FAILED:
            return "the record was not written whole: the connection broke, the deadline passed, "
                   "or an earlier record failed on it";
        case ORLIVAN_NOTIFY_E_TIMED_OUT:
            return "the record was delivered; no reply came in time";
        case ORLIVAN_NOTIFY_E_CLOSED:
            return "the record was written; the notifier closed the connection without a reply";
        case ORLIVAN_NOTIFY_E_MALFORMED_REPLY:
            return "the reply was cut short";
        case ORLIVAN_NOTIFY_E_CHANNEL_UNAVAILABLE:
            return "the command channel can't be created";
        case ORLIVAN_NOTIFY_E_SYSTEM:
            return "the system's list of sessions can't be read";
        case ORLIVAN_NOTIFY_E_OUT_OF_MEMORY:
            return "out of memory";
        case ORLIVAN_NOTIFY_E_INTERNAL:
            return "an internal failure of the library";
        default:
            return "unknown error";
    }
}

const char* ORLIVAN_NOTIFY_CALL orlivan_notify_last_detail(void) {
    return t_detail.c_str();
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_conflict_detail(const char* name, uint32_t process_id,
                                                       char* buffer, size_t size) {
    return Guarded([&]() -> int {
        if (name == nullptr) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        const std::string detail =
            std::string(name) + " PID - \"" + std::to_string(process_id) + "\"";
        return detail.size() <= ORLIVAN_NOTIFY_MAX_DETAIL && CopyText(detail, buffer, size)
                   ? ORLIVAN_NOTIFY_OK
                   : ORLIVAN_NOTIFY_E_ARGUMENT;
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_connect_channel(const char* channel, const char* user_id,
                                                       uint32_t deadline_ms,
                                                       orlivan_notify_connection** connection) {
    return Guarded([&]() -> int {
        if (connection == nullptr) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        *connection = nullptr;
        const std::string user = user_id != nullptr ? std::string(user_id) : CurrentUserId();
        if (channel == nullptr || channel[0] == '\0' || user.empty()) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        return Connect(channel, user, deadline_ms, connection);
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_connect(const char* user_id, uint32_t deadline_ms,
                                               orlivan_notify_connection** connection) {
    return Guarded([&]() -> int {
        if (user_id == nullptr || user_id[0] == '\0' || connection == nullptr) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        *connection = nullptr;
        return Connect(ServiceNotificationChannelName(user_id), user_id, deadline_ms, connection);
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_send(orlivan_notify_connection* connection,
                                            const orlivan_notify_record* record,
                                            uint32_t reply_timeout_ms, int32_t* reply) {
    return Guarded([&]() -> int {
        if (reply != nullptr) {
            *reply = 0;
        }
        if (connection == nullptr) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        const int checked = CheckRecord(record, reply_timeout_ms);
        return checked != ORLIVAN_NOTIFY_OK
                   ? checked
                   : SendRecord(connection, record,
                                Clock::now() + std::chrono::milliseconds(reply_timeout_ms), reply);
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_send_frame(orlivan_notify_connection* connection,
                                                  const void* frame, size_t size, int expect_reply,
                                                  uint32_t reply_timeout_ms, int32_t* reply) {
    return Guarded([&]() -> int {
        if (connection == nullptr || (frame == nullptr && size != 0) ||
            RefusesNoTime(expect_reply != 0, reply_timeout_ms)) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        return SendFrame(connection, frame, size, expect_reply != 0,
                         Clock::now() + std::chrono::milliseconds(reply_timeout_ms), reply);
    });
}

void ORLIVAN_NOTIFY_CALL orlivan_notify_close(orlivan_notify_connection* connection) {
    delete connection;
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_send_to_user(const char* user_id,
                                                    const orlivan_notify_record* record,
                                                    uint32_t deadline_ms, int32_t* reply) {
    return Guarded([&]() -> int {
        if (reply != nullptr) {
            *reply = 0;
        }
        if (user_id == nullptr || user_id[0] == '\0') {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        const int checked = CheckRecord(record, deadline_ms);
        if (checked != ORLIVAN_NOTIFY_OK) {
            return checked;
        }
        // One deadline for the connect, the write and the reply.
        const auto deadline = Clock::now() + std::chrono::milliseconds(deadline_ms);
        orlivan_notify_connection* connection = nullptr;
        int result =
            Connect(ServiceNotificationChannelName(user_id), user_id, deadline_ms, &connection);
        if (result == ORLIVAN_NOTIFY_OK) {
            const std::unique_ptr<orlivan_notify_connection> owned(connection);
            result = SendRecord(connection, record, deadline, reply);
        }
        return result;
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_list_sessions(orlivan_notify_session* sessions, size_t max,
                                                     size_t* count) {
    return Guarded([&]() -> int {
        if (count == nullptr || (sessions == nullptr && max != 0)) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        *count = 0;
        const std::optional<std::vector<SessionUser>> users = ListSessionUsers();
        if (!users) {
            return ORLIVAN_NOTIFY_E_SYSTEM;
        }
        // A user has one notification channel however many sessions it has
        // (the notifier of its first session holds it): one entry per user,
        // with the first of its sessions, so that a sweep sends each notice
        // once.
        std::vector<const SessionUser*> distinct;
        for (const SessionUser& user : *users) {
            const bool listed = std::any_of(
                distinct.begin(), distinct.end(),
                [&user](const SessionUser* seen) { return seen->userId == user.userId; });
            if (!listed && user.userId.size() < ORLIVAN_NOTIFY_MAX_USER_ID) {
                distinct.push_back(&user);
            }
        }
        for (size_t i = 0; i < distinct.size() && i < max; ++i) {
            sessions[i].session_id = distinct[i]->sessionId;
            CopyText(distinct[i]->userId, sessions[i].user_id, ORLIVAN_NOTIFY_MAX_USER_ID);
        }
        *count = distinct.size();
        return ORLIVAN_NOTIFY_OK;
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_session_user(uint32_t session_id, char* user_id,
                                                    size_t size) {
    return Guarded([&]() -> int {
        if (user_id == nullptr || size == 0) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        user_id[0] = '\0';
        const std::string user = SessionUserId(session_id);
        if (user.empty()) {
            return ORLIVAN_NOTIFY_E_UNKNOWN_USER;
        }
        return CopyText(user, user_id, size) ? ORLIVAN_NOTIFY_OK : ORLIVAN_NOTIFY_E_ARGUMENT;
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_serve_start(const char* channel,
                                                   const orlivan_notify_command_handlers* handlers,
                                                   orlivan_notify_command_server** server) {
    return Guarded([&]() -> int {
        if (handlers == nullptr || server == nullptr ||
            handlers->size < sizeof(orlivan_notify_command_handlers)) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        *server = nullptr;
        const std::string name = channel != nullptr ? std::string(channel) : CommandChannelName();
        auto created = std::make_unique<orlivan_notify_command_server>();
        std::string error;
        created->listener = CreateServeListener(name, &error);
        if (created->listener == nullptr) {
            return Fail(ORLIVAN_NOTIFY_E_CHANNEL_UNAVAILABLE, name + ": " + error);
        }
        created->handlers = *handlers;
        *server = created.release();
        return ORLIVAN_NOTIFY_OK;
    });
}

int ORLIVAN_NOTIFY_CALL orlivan_notify_serve(orlivan_notify_command_server* server,
                                             uint32_t wait_ms, uint32_t* served) {
    return Guarded([&]() -> int {
        if (served != nullptr) {
            *served = 0;
        }
        if (server == nullptr) {
            return ORLIVAN_NOTIFY_E_ARGUMENT;
        }
        const auto end = Clock::now() + std::chrono::milliseconds(wait_ms);
        std::unique_ptr<CServeConnection> connection = server->listener->Accept(end);
        if (connection == nullptr) {
            return ORLIVAN_NOTIFY_OK;
        }
        const std::string peer = connection->PeerKey();
        auto strike = std::find(server->struck.begin(), server->struck.end(), peer);
        const bool struck = !peer.empty() && strike != server->struck.end();
        const ExchangeResult result = ServeCommandExchange(
            *connection, server->handlers, ++server->exchanges,
            Clock::now() + (struck ? std::chrono::milliseconds(0) : SERVE_REQUEST_TIME));
        if (struck && !result.slow) {
            server->struck.erase(strike);
        } else if (!struck && result.slow && !peer.empty()) {
            if (server->struck.size() >= orlivan_notify_command_server::kMaxStruck) {
                server->struck.pop_front();
            }
            server->struck.push_back(peer);
        }
        if (served != nullptr) {
            *served = result.answered ? 1 : 0;
        }
        return ORLIVAN_NOTIFY_OK;
    });
}

void ORLIVAN_NOTIFY_CALL orlivan_notify_serve_stop(orlivan_notify_command_server* server) {
    if (server != nullptr) {
        server->listener->Stop();
    }
}

void ORLIVAN_NOTIFY_CALL orlivan_notify_serve_end(orlivan_notify_command_server* server) {
    delete server;
}

}  // extern "C"
