// The notification channel over its Unix domain socket, with the worker loop
// running on its own thread as in the program.
#include "channel/pipe_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "channel/service.h"
#include "log/logger.h"
#include "notify/frame_reader.h"
#include "notify/notification_loop.h"
#include "notify/record.h"

namespace {

using namespace std::chrono_literals;

std::string MakeTempDir() {
    char pattern[] = "/tmp/orlivan-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "";
}

// A service-side client of the channel.
class Client {
public:
    explicit Client(const std::string& path) {
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~Client() { Close(); }
    bool Connected() const { return m_fd >= 0; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void SendFrame(const NotificationRecord& record) {
        const std::string body = EncodeNotificationRecord(record);
        std::string frame(4, '\0');
        for (int i = 0; i < 4; ++i) {
            frame[i] = static_cast<char>((body.size() >> (8 * i)) & 0xFF);
        }
        Send(frame + body);
    }
    // Up to `count` bytes, whatever arrives within `wait`; stops early at end of stream.
    std::string Receive(size_t count, std::chrono::milliseconds wait) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fds[1] = {{m_fd, POLLIN, 0}};
            if (left.count() <= 0 || poll(fds, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            char buffer[64];
            const ssize_t n = recv(m_fd, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n <= 0) {
                m_ended = true;
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }
    // True when the server has closed this connection (within `wait`).
    bool EndedBy(std::chrono::milliseconds wait) {
        Receive(1, wait);
        return m_ended;
    }
    void Close() {
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
    }

private:
    int m_fd = -1;
    bool m_ended = false;
};

std::string Reply(int32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// A channel with the worker loop serving it. The handler answers a driver
// error with its error code, a notifier error with 0 and anything else with
// 1; it records the records it saw.
class ChannelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = MakeTempDir();
        ASSERT_FALSE(m_dir.empty());
        path = m_dir + "/1000";
        server = std::make_unique<CPipeServer>(path);
        ASSERT_EQ(server->Create(), 1);
    }
    void TearDown() override {
        StopWorker();
        server.reset();
        unlink((path + ".lock").c_str());
        rmdir(m_dir.c_str());
    }

    void StartWorker(CLogger* logger = nullptr) {
        m_worker = std::thread([this, logger] {
            RunNotificationLoop(
                *server, [this](const NotificationRecord& r) { return Handle(r); }, logger,
                waitLimit, &m_stop);
        });
    }
    void StopWorker() {
        if (m_worker.joinable()) {
            m_stop = true;
            server->Shutdown();
            m_worker.join();
        }
    }

    int32_t Handle(const NotificationRecord& record) {
        std::unique_lock<std::mutex> lock(m_mutex);
        seen.push_back(record.type);
        m_changed.notify_all();
        if (record.type == NOTIFY_NEW_UPDATE) {  // held until the test releases it
            m_changed.wait(lock, [this] { return m_released; });
        }
        if (record.type == NOTIFY_NOTIFIER_ERROR) {
            return 0;
        }
        return record.type == NOTIFY_DRIVER_ERROR ? record.errorCode : 1;
    }
    void WaitSeen(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, 10s, [&] { return seen.size() >= count; }));
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    std::vector<int32_t> Seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return seen;
    }

    std::chrono::milliseconds waitLimit = 300ms;
    std::string path;
    std::unique_ptr<CPipeServer> server;
    std::vector<int32_t> seen;

private:
    std::string m_dir;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
};

}  // namespace

TEST_F(ChannelFixture, TwoFramesOnOneConnectionAreAnsweredInOrder) {
    StartWorker();
    Client client(path);
    ASSERT_TRUE(client.Connected());
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 41});
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 42});
    EXPECT_EQ(client.Receive(8, 5s), Reply(41) + Reply(42));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6, 6}));
}

TEST_F(ChannelFixture, ZeroResultGetsNoReply) {
    StartWorker();
    Client client(path);
    client.SendFrame({NOTIFY_NOTIFIER_ERROR, "", 0});
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 7});
    EXPECT_EQ(client.Receive(8, 1s), Reply(7));  // only the second record is answered
    EXPECT_EQ(Seen(), (std::vector<int32_t>{-3, 6}));
}

TEST_F(ChannelFixture, ClientClosingMidFrameProducesNoRecordAndTheNextIsServed) {
    StartWorker();
    {
        Client first(path);
        first.Send(std::string("\x08\0\0\0\x06\0\0", 7));
    }
    {
        Client second(path);
        second.Send(std::string("\x08\0", 2));  // inside the length word
    }
    Client third(path);
    third.SendFrame({NOTIFY_DRIVER_ERROR, "", 5});
    EXPECT_EQ(third.Receive(4, 5s), Reply(5));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(ChannelFixture, BadFramesDropTheClientAndTheNextIsServed) {
    StartWorker();
    const std::string bad[] = {
        std::string("\0\0\0\0", 4),               // empty body
        std::string("\xFF\xFF\xFF\xFF", 4),       // far too long
        std::string("\x06\0\0\0\x06\0\0\0", 8),   // driver error without its code
        std::string("\x05\0\0\0\x01\0\0\0a", 9),  // detail without its NUL
    };
    for (const std::string& frame : bad) {
        Client client(path);
        client.Send(frame);
        EXPECT_TRUE(client.EndedBy(5s)) << frame.size();
        EXPECT_EQ(client.Receive(4, 50ms), "");
    }
    Client good(path);
    good.SendFrame({NOTIFY_DRIVER_ERROR, "", 9});
    EXPECT_EQ(good.Receive(4, 5s), Reply(9));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(ChannelFixture, BurstOfBadFramesLeavesAFewLinesThatAccountForEveryFrame) {
    const std::string logPath = path + ".log";
    CLogger logger(logPath);
    StartWorker(&logger);
    const auto start = std::chrono::steady_clock::now();
    // Served in the order they connect: a good frame's reply means every bad
    // one before it has been dropped.
    const auto sendBadFramesThenSync = [&](int count, int32_t code) {
        for (int i = 0; i < count; ++i) {
            Client(path).Send(std::string("\0\0\0\0", 4));  // a body of length 0
        }
        Client sync(path);
        sync.SendFrame({NOTIFY_DRIVER_ERROR, "", code});
        ASSERT_EQ(sync.Receive(4, 60s), Reply(code));
    };
    constexpr int kBurst = 10000;
    sendBadFramesThenSync(kBurst, 1);
    std::this_thread::sleep_for(1100ms);
    sendBadFramesThenSync(1, 2);  // after a quiet second: written, with the count
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    StopWorker();

    std::ifstream in(logPath);
    int lines = 0;
    uint64_t accounted = 0;
    for (std::string line; std::getline(in, line);) {
        ASSERT_NE(line.find("Notification frame dropped: length out of bounds"), std::string::npos)
            << line;
        ++lines;
        ++accounted;
        const size_t note = line.find(" (");
        if (note != std::string::npos) {
            accounted += std::stoull(line.substr(note + 2));
            EXPECT_EQ(line.substr(line.find(' ', note + 2)), " more since the last)");
        }
    }
    std::printf("%d bad frames in %.1f s left %d log lines\n", kBurst + 1, seconds.count(), lines);
    EXPECT_EQ(accounted, static_cast<uint64_t>(kBurst + 1));
    EXPECT_LE(lines, 1 + static_cast<int>(seconds.count()));  // one a second at most
    EXPECT_GE(lines, 2);
    unlink(logPath.c_str());
}

TEST_F(ChannelFixture, StalledClientsAreDroppedAndTheNextServed) {
    StartWorker();
    Client silent(path);  // connects and never writes
    ASSERT_TRUE(silent.Connected());
    Client halfBody(path);  // queued behind it; stalls in the middle of a body
    halfBody.Send(std::string("\x08\0\0\0\x06\0", 6));
    Client patient(path);
    patient.SendFrame({NOTIFY_DRIVER_ERROR, "", 3});
    EXPECT_EQ(patient.Receive(4, 10s), Reply(3));
    EXPECT_TRUE(silent.EndedBy(1s));
    EXPECT_TRUE(halfBody.EndedBy(1s));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(ChannelFixture, ReplyToAClientThatHasGoneIsNotGivenToTheNext) {
    StartWorker();
    {
        Client leaving(path);
        leaving.SendFrame({NOTIFY_NEW_UPDATE, "", 0});  // handled slowly, answered 1
        WaitSeen(1);
    }  // gone before its reply
    Release();
    Client next(path);
    next.SendFrame({NOTIFY_DRIVER_ERROR, "", 77});
    EXPECT_EQ(next.Receive(8, 2s), Reply(77));  // its own reply, and nothing before it
    EXPECT_EQ(Seen(), (std::vector<int32_t>{3, 6}));
}

TEST_F(ChannelFixture, ReadAndReplyOfTheServerObject) {
    Client client(path);
    client.Send("abcdef");
    char buffer[6] = {};
    ASSERT_EQ(server->Connect(), TRANSFER_OK);
    EXPECT_EQ(ReadExactly(*server, buffer, 6, waitLimit), TRANSFER_OK);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
    EXPECT_EQ(WriteReplyWord(*server, -7, waitLimit), TRANSFER_OK);
    EXPECT_EQ(client.Receive(4, 1s), Reply(-7));
    // nothing sent within the limit
    EXPECT_EQ(ReadExactly(*server, buffer, 1, waitLimit), TRANSFER_TIMED_OUT);
    client.Close();
    EXPECT_EQ(ReadExactly(*server, buffer, 1, waitLimit), TRANSFER_CLOSED);
    server->Disconnect();  // closed: dropped
    // and no reply without a client
    EXPECT_EQ(WriteReplyWord(*server, -7, waitLimit), TRANSFER_CLOSED);
}

TEST(PipeServerPosix, OnlyOneServerOwnsTheName) {
    const std::string dir = MakeTempDir();
    const std::string path = dir + "/1000";
    {
        CPipeServer first(path);
        ASSERT_EQ(first.Create(), 1);
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);  // the folder keeps others out; root gets in
        CPipeServer second(path);
        EXPECT_EQ(second.Create(), 0);
        EXPECT_FALSE(second.IsCreated());
        Client client(path);
        EXPECT_TRUE(client.Connected());  // the first still has it
    }
    // A socket file left behind does not keep the next server out.
    ASSERT_EQ(close(open(path.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
    CPipeServer third(path);
    EXPECT_EQ(third.Create(), 1);
    EXPECT_EQ(CPipeServer("").Create(), 0);
    EXPECT_EQ(CPipeServer(dir + "/").Create(), 0);
    unlink((path + ".lock").c_str());
}

namespace {
int g_busyCalls = 0;
void CountBusy() {
    ++g_busyCalls;
}
}  // namespace

TEST(ServicePosix, SecondInstanceOfTheSameUserIsTurnedAway) {
    const std::string dir = MakeTempDir();
    setenv(kChannelDirVariable, dir.c_str(), 1);
    g_busyCalls = 0;
    {
        CService first("1000", &CountBusy);
        EXPECT_EQ(g_busyCalls, 0);
        EXPECT_EQ(first.m_pipeServer->Name(), dir + "/notification");
        ASSERT_NE(first.m_pipeClient, nullptr);  // the command channel client, not yet open
        EXPECT_EQ(first.m_pipeClient->Name(), dir + "/command");
        EXPECT_FALSE(first.m_pipeClient->IsOpen());
        EXPECT_EQ(first.m_updateDialog.load(), nullptr);
        CService second("1000", &CountBusy);
        EXPECT_EQ(g_busyCalls, 1);
        CService unresolved("", &CountBusy);
        EXPECT_EQ(g_busyCalls, 2);

        Client client(dir + "/notification");
        client.Send(std::string("\x02\0\0\0\x0A\0\0\0", 8));
        uint32_t length = 0;
        void* body = ReadFrameBody(*first.m_pipeServer, &length, nullptr, 200ms);
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(length, 2u);
        std::free(body);
        // the body never comes: dropped
        EXPECT_EQ(ReadFrameBody(*first.m_pipeServer, &length, nullptr, 200ms), nullptr);
    }
    unsetenv(kChannelDirVariable);
    unlink((dir + "/notification.lock").c_str());
    rmdir(dir.c_str());
}
