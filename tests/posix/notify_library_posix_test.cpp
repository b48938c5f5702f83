// Each error value of the service library, provoked once through its C
// interface against scripted Unix sockets (E_NOT_THE_USERS is provoked on
// Windows, PipeIdentity.StandInSendsOnlyToTheAddressedUsersNotifier); the
// deadline of a send, and a stop of serving while a client trickles.
#include "orlivan_notify.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A notifier's socket that takes one client and does `act` with it.
class ScriptedSocket {
public:
    explicit ScriptedSocket(int backlog = 1) {
        char pattern[] = "/tmp/orlivan-lib-test-XXXXXX";
        m_dir = mkdtemp(pattern);
        path = m_dir + "/notification";
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener, backlog), 0);
        m_address = address;
    }
    // Reads the client's 8-byte frame (an acknowledge-only record), then writes `reply` (of `size`
    // bytes) and closes.
    void AnswerFrame(int32_t reply, size_t size) {
        m_thread = std::thread([this, reply, size] {
            const int fd = accept(listener, nullptr, nullptr);
            char frame[8];
            EXPECT_EQ(recv(fd, frame, sizeof frame, MSG_WAITALL), 8);
            send(fd, &reply, size, MSG_NOSIGNAL);
            usleep(size == 0 ? 300000 : 0);  // 0 bytes: hold past the reader's time-out
            close(fd);
        });
    }
    // Fills the queue: the next connection finds it full.
    void Queue() {
        m_queued = socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(connect(m_queued, reinterpret_cast<sockaddr*>(&m_address), sizeof m_address), 0);
    }
    ~ScriptedSocket() {
        if (m_thread.joinable())
            m_thread.join();
        if (m_queued >= 0)
            close(m_queued);
        if (listener >= 0)
            close(listener);
        unlink(path.c_str());
        rmdir(m_dir.c_str());
    }
    std::string path;
    int listener = -1;
    std::string m_dir;

private:
    sockaddr_un m_address{};
    int m_queued = -1;
    std::thread m_thread;
};

// Connects to `socket` and sends an acknowledge-only record (answered).
int SendAck(const ScriptedSocket& socket, uint32_t replyTimeoutMs,
            const std::function<void()>& beforeSending = {}) {
    orlivan_notify_connection* connection = nullptr;
    int error = orlivan_notify_connect_channel(socket.path.c_str(), nullptr, 0, &connection);
    if (error == ORLIVAN_NOTIFY_OK) {
        if (beforeSending)
            beforeSending();
        const orlivan_notify_record record{sizeof record, ORLIVAN_NOTIFY_ACK_ONLY, nullptr, 0};
        int32_t reply = 0;
        error = orlivan_notify_send(connection, &record, replyTimeoutMs, &reply);
        orlivan_notify_close(connection);
    }
    return error;
}

}  // namespace

TEST(NotifyLibrary, EachErrorValue) {
    struct Row {
        orlivan_notify_error expected;
        std::function<int()> provoke;
    };
    const Row rows[] = {
        {ORLIVAN_NOTIFY_E_ARGUMENT,
         [] {
             orlivan_notify_connection* connection = nullptr;
             return orlivan_notify_connect(nullptr, 0, &connection);
         }},
        {ORLIVAN_NOTIFY_E_UNKNOWN_USER,
         [] {
             char user[ORLIVAN_NOTIFY_MAX_USER_ID];
             return orlivan_notify_session_user(1, user, sizeof user);
         }},
        {ORLIVAN_NOTIFY_E_NO_NOTIFIER,
         [] {
             orlivan_notify_connection* connection = nullptr;
             return orlivan_notify_connect_channel("/tmp/orlivan-lib-test-absent/notification",
                                                   nullptr, 50, &connection);
         }},
        {ORLIVAN_NOTIFY_E_BUSY,
         [] {
             ScriptedSocket socket(0);
             socket.Queue();
             return SendAck(socket, 100);
         }},
        {ORLIVAN_NOTIFY_E_SEND_FAILED,
         [] {
             // The notifier goes away with the connection still in its queue.
             ScriptedSocket socket;
             return SendAck(socket, 100, [&socket] {
                 close(socket.listener);
                 socket.listener = -1;
             });
         }},
        {ORLIVAN_NOTIFY_E_TIMED_OUT,
         [] {
             ScriptedSocket socket;
             socket.AnswerFrame(1, 0);
             return SendAck(socket, 100);
         }},
        {ORLIVAN_NOTIFY_E_CLOSED,
         [] {
             ScriptedSocket socket;
             socket.AnswerFrame(1, 0);
             return SendAck(socket, 2000);
         }},
        {ORLIVAN_NOTIFY_E_MALFORMED_REPLY,
         [] {
             ScriptedSocket socket;
             socket.AnswerFrame(1, 2);
             return SendAck(socket, 2000);
         }},
        {ORLIVAN_NOTIFY_E_CHANNEL_UNAVAILABLE,
         [] {
             ScriptedSocket socket;  // another server holds the name
             orlivan_notify_command_handlers handlers{};
             handlers.size = sizeof handlers;
             orlivan_notify_command_server* server = nullptr;
             return orlivan_notify_serve_start(socket.path.c_str(), &handlers, &server);
         }},
        {ORLIVAN_NOTIFY_E_SYSTEM,
         [] {
             setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/tmp/orlivan-lib-test-no-bus", 1);
             orlivan_notify_session users[4];
             size_t count = 0;
             return orlivan_notify_list_sessions(users, 4, &count);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(orlivan_notify_error_text(row.expected));
        EXPECT_EQ(row.provoke(), row.expected);
        EXPECT_STRNE(orlivan_notify_error_text(row.expected), "unknown error");
    }
}

TEST(NotifyLibrary, SendKeepsItsDeadlineOrRefusesNone) {
    // A notifier that answers at once, and one that never takes the
    // connection. 0 ms is refused before the connect for a record that gets
    // a reply, and sends one that gets none if the channel takes it at once.
    // A loaded machine may miss 10 ms; the deadline must still hold.
    constexpr int32_t kAck = ORLIVAN_NOTIFY_ACK_ONLY, kUnanswered = ORLIVAN_NOTIFY_NOTIFIER_ERROR;
    const struct {
        bool answers;
        uint32_t ms;
        int32_t type;
        orlivan_notify_error expected;
    } rows[] = {
        {true, 0, kAck, ORLIVAN_NOTIFY_E_ARGUMENT},
        {true, 10, kAck, ORLIVAN_NOTIFY_OK},
        {true, 1000, kAck, ORLIVAN_NOTIFY_OK},
        {false, 0, kAck, ORLIVAN_NOTIFY_E_ARGUMENT},
        {false, 10, kAck, ORLIVAN_NOTIFY_E_TIMED_OUT},
        {false, 1000, kAck, ORLIVAN_NOTIFY_E_TIMED_OUT},
        {false, 0, kUnanswered, ORLIVAN_NOTIFY_OK},
    };
    const std::string user = std::to_string(getuid());
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.ms) + " ms, type " + std::to_string(row.type) +
                     (row.answers ? ", answers" : ", mute"));
        ScriptedSocket socket;
        if (row.answers && row.ms > 0)
            socket.AnswerFrame(1, sizeof(int32_t));
        setenv("ORLIVAN_CHANNEL_DIR", socket.m_dir.c_str(), 1);
        const orlivan_notify_record record{sizeof record, row.type, nullptr, 0};
        int32_t reply = -1;
        const auto start = std::chrono::steady_clock::now();
        const int error = orlivan_notify_send_to_user(user.c_str(), &record, row.ms, &reply);
        const auto took = std::chrono::steady_clock::now() - start;
        unsetenv("ORLIVAN_CHANNEL_DIR");
        EXPECT_TRUE(error == row.expected || (row.ms == 10 && error == ORLIVAN_NOTIFY_E_TIMED_OUT))
            << orlivan_notify_error_text(error);
        EXPECT_EQ(reply, error == ORLIVAN_NOTIFY_OK && row.type == kAck ? 1 : 0);
        EXPECT_LT(took, std::chrono::milliseconds(row.ms + 500));
        pollfd queued{socket.listener, POLLIN, 0};
        EXPECT_TRUE(row.expected != ORLIVAN_NOTIFY_E_ARGUMENT || poll(&queued, 1, 0) == 0)
            << "refused, yet it connected";
    }
}

// A client that sends a byte every 150 ms, its request never complete;
// serving is stopped at 1 s.
TEST(NotifyLibrary, StopEndsServingWhileAClientTrickles) {
    ScriptedSocket folder;  // only its folder is used
    const std::string path = folder.m_dir + "/command";
    orlivan_notify_command_handlers handlers{};
    handlers.size = sizeof handlers;
    orlivan_notify_command_server* server = nullptr;
    ASSERT_EQ(orlivan_notify_serve_start(path.c_str(), &handlers, &server), ORLIVAN_NOTIFY_OK);
    uint32_t served = 7;
    std::chrono::steady_clock::time_point returned;
    std::thread serving([&] {
        orlivan_notify_serve(server, 10000, &served);
        returned = std::chrono::steady_clock::now();
    });
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const char request[] = {4, 0, 0, 0, 5, 3, 0};  // a version request but its last byte
    for (const char byte : request) {              // 7 x 150 ms: about a second
        send(fd, &byte, 1, MSG_NOSIGNAL);
        usleep(150000);
    }
    const auto stopped = std::chrono::steady_clock::now();
    orlivan_notify_serve_stop(server);
    serving.join();
    close(fd);
    EXPECT_LT(returned - stopped, std::chrono::milliseconds(200));
    EXPECT_EQ(served, 0u);  // nothing was answered
    orlivan_notify_serve_end(server);
}
