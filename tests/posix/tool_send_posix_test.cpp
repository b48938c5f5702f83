// The stand-in's send job against a scripted notification channel on a Unix
// socket: several records on one connection, replies read only where the
// notifier sends them, and the exit codes a service developer relies on.
#include "tool_jobs.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Accepts one client, reads frames until it closes, and answers each frame
// whose type gets a reply with `reply`. A busy one starts with its queue full
// (a waiting connection and room for no other), as a notifier whose worker
// waits for the user, and serves only after Free.
class ScriptedNotifier {
public:
    explicit ScriptedNotifier(int32_t reply, bool busy = false) : m_reply(reply) {
        char pattern[] = "/tmp/orlivan-send-test-XXXXXX";
        m_dir = mkdtemp(pattern);
        m_path = m_dir + "/1000";
        m_listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        m_path.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(m_listener, busy ? 0 : 1), 0);
        if (busy) {
            m_waiting = socket(AF_UNIX, SOCK_STREAM, 0);
            EXPECT_EQ(connect(m_waiting, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        } else {
            Free();
        }
    }
    // Takes the waiting connection off the queue and starts serving.
    void Free() {
        if (m_waiting >= 0) {
            close(accept(m_listener, nullptr, nullptr));
            close(m_waiting);
            m_waiting = -1;
        }
        m_thread = std::thread([this] { Serve(m_reply); });
    }
    // Waits until the client has closed its connection.
    void Join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    ~ScriptedNotifier() {
        if (m_listener >= 0 && m_thread.joinable()) {
            shutdown(m_listener, SHUT_RDWR);
        }
        Join();
        if (m_waiting >= 0) {
            close(m_waiting);
        }
        close(m_listener);
        unlink(m_path.c_str());
        rmdir(m_dir.c_str());
    }
    const std::string& Path() const { return m_path; }
    std::vector<std::string> frames;  // hex of each frame body, in order

private:
    bool ReadAll(int fd, uint8_t* buffer, size_t size) {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = recv(fd, buffer + done, size - done, 0);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    void Serve(int32_t reply) {
        const int fd = accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        uint8_t word[4];
        while (ReadAll(fd, word, 4)) {
            Bytes body(LoadUint32(word));
            if (!ReadAll(fd, body.data(), body.size()))
                break;
            frames.push_back(ToHex(body));
            const int32_t type =
                body.size() >= 4 ? static_cast<int32_t>(LoadUint32(body.data())) : 0;
            if (RecordIsReplied(type)) {
                send(fd, &reply, 4, MSG_NOSIGNAL);
            }
        }
        close(fd);
    }

    int32_t m_reply;
    std::string m_dir;
    std::string m_path;
    int m_listener = -1;
    int m_waiting = -1;
    std::thread m_thread;
};

SendOptions Parsed(std::vector<std::string> args) {
    std::string error;
    auto line = ParseToolArguments(args, &error);
    EXPECT_TRUE(line) << error;
    return line ? line->send : SendOptions{};
}

}  // namespace

TEST(ToolSendPosix, SeveralRecordsOnOneConnection) {
    ScriptedNotifier notifier(1);
    SendOptions options =
        Parsed({"send", "--channel", notifier.Path(), "https-site-blocked", "--detail", "abc",
                "notifier-error", "driver-error", "--error-code", "-5", "ack-only"});
    std::vector<std::string> out;
    const int result = RunSend(
        options, [&out](const std::string& line) { out.push_back(line); },
        [](const std::string&) {});
    notifier.Join();
    EXPECT_EQ(result, TOOL_EXIT_OK);
    EXPECT_EQ(notifier.frames, (std::vector<std::string>{"0100000061626300", "fdffffff",
                                                         "06000000fbffffff", "02000000"}));
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0], "connected to " + notifier.Path());
    EXPECT_EQ(out[1], "record 1 (type 1 https-site-blocked): reply 1 (01000000)");
    EXPECT_EQ(out[2], "record 2 (type -3 notifier-error): sent, no reply expected");
    EXPECT_EQ(out[3], "record 3 (type 6 driver-error): reply 1 (01000000)");
    EXPECT_EQ(out[4], "record 4 (type 2 ack-only): reply 1 (01000000)");
}

TEST(ToolSendPosix, MissingReplyEndsWithItsExitCode) {
    ScriptedNotifier notifier(1);
    // A code the notifier does not answer, sent as if it expected a reply.
    SendOptions options =
        Parsed({"send", "--channel", notifier.Path(), "--timeout", "100", "11", "--expect-reply"});
    std::vector<std::string> out;
    const int result = RunSend(
        options, [&out](const std::string& line) { out.push_back(line); },
        [](const std::string&) {});
    notifier.Join();
    EXPECT_EQ(result, TOOL_EXIT_NO_REPLY);
    EXPECT_EQ(notifier.frames, std::vector<std::string>{"0b000000"});
}

TEST(ToolSendPosix, NoNotifierListening) {
    std::string error;
    SendOptions options = Parsed(
        {"send", "--channel", "/tmp/orlivan-no-such-dir/1000", "--connect-wait", "50", "ack-only"});
    const int result = RunSend(
        options, [](const std::string&) {}, [&error](const std::string& line) { error = line; });
    EXPECT_EQ(result, TOOL_EXIT_NO_LISTENER);
    EXPECT_NE(error.find("no notifier is listening"), std::string::npos);
}

TEST(ToolSendPosix, UnknownUser) {
    SendOptions options = Parsed({"send", "--user", "no-such-user-orlivan", "ack-only"});
    EXPECT_EQ(RunSend(
                  options, [](const std::string&) {}, [](const std::string&) {}),
              TOOL_EXIT_UNKNOWN_USER);
}

TEST(ToolSendPosix, WaitFreeRetriesWithBackOffUntilTheChannelIsFree) {
    ScriptedNotifier notifier(1, /*busy=*/true);
    SendOptions options = Parsed(
        {"send", "--channel", notifier.Path(), "--wait-free", "--backoff-max", "25", "ack-only"});
    options.backoffFirstMs = 10;
    std::vector<uint32_t> pauses;
    std::vector<std::string> out;
    const int result = RunSend(
        options, [&out](const std::string& line) { out.push_back(line); },
        [](const std::string&) {},
        [&](uint32_t ms) {
            pauses.push_back(ms);
            if (pauses.size() == 4) {
                notifier.Free();  // the user closed the box
            }
        });
    notifier.Join();
    EXPECT_EQ(result, TOOL_EXIT_OK);
    EXPECT_EQ(pauses, (std::vector<uint32_t>{10, 20, 25, 25}));
    EXPECT_EQ(notifier.frames, std::vector<std::string>{"02000000"});
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[1], "channel busy or absent (try 2); trying again in 20 ms");
}
