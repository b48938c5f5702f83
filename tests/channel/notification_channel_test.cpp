// The notification channel on the platform's transport (a Unix domain socket
// or a named pipe), with the worker loop running on its own thread as in the
// program, and the service object that owns it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel_name.h"
#include "notify/notification_loop.h"
#include "channel/pipe_server.h"
#include "channel/service.h"
#include "channel_test_transport.h"
#include "log/logger.h"
#include "notify/frame_reader.h"
#include "channel/pipe_client.h"
#include "notify/record.h"

namespace {

using namespace std::chrono_literals;

// A channel with the worker loop serving it. The handler answers a driver
// error with its error code, a notifier error with 0 and anything else with
// 1; a new-update record is held until the test releases it.
class NotificationChannel : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<CPipeServer>(path);
        ASSERT_EQ(server->Create(), 1);
    }
    void TearDown() override {
        StopWorker();
        server.reset();
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
        m_seen.push_back(record.type);
        m_changed.notify_all();
        if (record.type == NOTIFY_NEW_UPDATE) {
            m_changed.wait(lock, [this] { return m_released; });
        }
        if (record.type == NOTIFY_NOTIFIER_ERROR) {
            return 0;
        }
        return record.type == NOTIFY_DRIVER_ERROR ? record.errorCode : 1;
    }
    void WaitSeen(size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, 10s, [&] { return m_seen.size() >= count; }));
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    std::vector<int32_t> Seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

    std::chrono::milliseconds waitLimit = 500ms;
    TestChannelName channel;
    const std::string& path = channel.Name();
    std::unique_ptr<CPipeServer> server;

private:
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int32_t> m_seen;
    bool m_released = false;
};

}  // namespace

TEST_F(NotificationChannel, TwoFramesOnOneConnectionAreAnsweredInOrder) {
    StartWorker();
    TestClient client(path);
    ASSERT_TRUE(client.Connected());
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 41});
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", -42});
    EXPECT_EQ(client.Receive(8, 5s), Reply(41) + Reply(-42));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6, 6}));
}

TEST_F(NotificationChannel, ZeroResultGetsNoReply) {
    StartWorker();
    TestClient client(path);
    client.SendFrame({NOTIFY_NOTIFIER_ERROR, "", 0});
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 7});
    EXPECT_EQ(client.Receive(8, 1s), Reply(7));  // only the second record is answered
    EXPECT_EQ(Seen(), (std::vector<int32_t>{-3, 6}));
}

TEST_F(NotificationChannel, ClientClosingMidFrameProducesNoRecordAndTheNextIsServed) {
    StartWorker();
    {
        TestClient first(path);
        first.Send(std::string("\x08\0\0\0\x06\0\0", 7));
    }
    {
        TestClient second(path);
        second.Send(std::string("\x08\0", 2));  // inside the length word
    }
    TestClient third(path);
    third.SendFrame({NOTIFY_DRIVER_ERROR, "", 5});
    EXPECT_EQ(third.Receive(4, 5s), Reply(5));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(NotificationChannel, BadFramesDropTheClientAndTheNextIsServed) {
    StartWorker();
    const std::string bad[] = {
        std::string("\0\0\0\0", 4),               // empty body
        std::string("\xFF\xFF\xFF\x7F", 4),       // far too long
        std::string("\xFF\xFF\xFF\xFF", 4),       // longer still
        std::string("\x06\0\0\0\x06\0\0\0", 8),   // driver error without its code
        std::string("\x05\0\0\0\x01\0\0\0a", 9),  // detail without its NUL
    };
    for (const std::string& frame : bad) {
        TestClient client(path);
        client.Send(frame);
        EXPECT_TRUE(client.EndedBy(5s)) << frame.size();
        EXPECT_EQ(client.Receive(4, 50ms), "");
    }
    TestClient good(path);
    good.SendFrame({NOTIFY_DRIVER_ERROR, "", 9});
    EXPECT_EQ(good.Receive(4, 5s), Reply(9));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(NotificationChannel, BurstOfBadFramesLeavesAFewLinesThatAccountForEveryFrame) {
    const std::string logPath = channel.FilePath(".log");
    std::remove(logPath.c_str());
    auto logger = std::make_unique<CLogger>(logPath);
    StartWorker(logger.get());
    const auto start = std::chrono::steady_clock::now();
    // Served in the order they connect: a good frame's reply means every bad
    // one before it has been dropped.
    const auto sendBadFramesThenSync = [&](int count, int32_t code) {
        for (int i = 0; i < count; ++i) {
            TestClient bad(path);
            bad.Send(std::string("\0\0\0\0", 4));  // a body of length 0
            // Stays until it is dropped: what a client wrote to a named pipe
            // is lost if it leaves before the notifier has taken it.
            ASSERT_TRUE(bad.EndedBy(10s));
        }
        TestClient sync(path);
        sync.SendFrame({NOTIFY_DRIVER_ERROR, "", code});
        ASSERT_EQ(sync.Receive(4, 60s), Reply(code));
    };
    // The log's lines so far, and the frames they account for.
    int lines = 0;
    uint64_t accounted = 0;
    const auto readLog = [&] {
        lines = 0;
        accounted = 0;
        std::ifstream in(logPath);
        for (std::string line; std::getline(in, line);) {
            ASSERT_NE(line.find("Notification frame dropped: length out of bounds"),
                      std::string::npos)
                << line;
            ++lines;
            ++accounted;
            const size_t note = line.find(" (");
            if (note != std::string::npos) {
                accounted += std::stoull(line.substr(note + 2));
                EXPECT_EQ(line.substr(line.find(' ', note + 2)), " more since the last)");
            }
        }
    };
    constexpr int kBurst = 10000;
    sendBadFramesThenSync(kBurst, 1);
    std::this_thread::sleep_for(1100ms);
    sendBadFramesThenSync(1, 2);
    // What was held back is written within about a second, with no later drop.
    for (int i = 0; i < 100 && accounted < kBurst + 1; ++i) {
        std::this_thread::sleep_for(50ms);
        readLog();
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    StopWorker();
    logger.reset();  // closes the file, so that it can be removed
    readLog();
    std::printf("%d bad frames in %.1f s left %d log lines\n", kBurst + 1, seconds.count(), lines);
    EXPECT_EQ(accounted, static_cast<uint64_t>(kBurst + 1));
    EXPECT_LE(lines, 1 + static_cast<int>(seconds.count()));  // one a second at most
    EXPECT_GE(lines, 2);
    std::remove(logPath.c_str());
}

TEST_F(NotificationChannel, StalledClientsAreDroppedAndTheNextServed) {
    StartWorker();
    TestClient silent(path);  // connects and never writes
    ASSERT_TRUE(silent.Connected());
    TestClient halfBody(path);  // comes next; stalls in the middle of a body
    halfBody.Send(std::string("\x08\0\0\0\x06\0", 6));
    TestClient patient(path);
    patient.SendFrame({NOTIFY_DRIVER_ERROR, "", 3});
    EXPECT_EQ(patient.Receive(4, 10s), Reply(3));
    EXPECT_TRUE(silent.EndedBy(1s));
    EXPECT_TRUE(halfBody.EndedBy(1s));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(NotificationChannel, ReplyToAClientThatHasGoneIsNotGivenToTheNext) {
    StartWorker();
    {
        TestClient leaving(path);
        leaving.SendFrame({NOTIFY_NEW_UPDATE, "", 0});  // handled slowly, answered 1
        WaitSeen(1);
    }  // gone before its reply
    Release();
    TestClient next(path);
    ASSERT_TRUE(next.Connected());
    next.SendFrame({NOTIFY_DRIVER_ERROR, "", 77});
    EXPECT_EQ(next.Receive(8, 3s), Reply(77));  // its own reply, and nothing before it
    EXPECT_EQ(Seen(), (std::vector<int32_t>{3, 6}));
}

TEST_F(NotificationChannel, TheNameBelongsToTheFirstServer) {
    CPipeServer second(path);
    EXPECT_EQ(second.Create(), 0);
    EXPECT_FALSE(second.IsCreated());
    // The first still serves.
    StartWorker();
    TestClient client(path);
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 2});
    EXPECT_EQ(client.Receive(4, 5s), Reply(2));
}

TEST_F(NotificationChannel, ReadAndReplyOfTheServerObject) {
    TestClient client(path);
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

namespace {
int g_busyCalls = 0;
void CountBusy() {
    ++g_busyCalls;
}
}  // namespace

TEST(ServiceObject, SecondInstanceAndUnresolvedUserAreTurnedAway) {
    TestUserChannels channels;
    g_busyCalls = 0;
    CService first(channels.UserId(), &CountBusy);
    EXPECT_EQ(g_busyCalls, 0);
    EXPECT_EQ(first.m_pipeServer->Name(), NotificationChannelName(channels.UserId()));
    ASSERT_NE(first.m_pipeClient, nullptr);  // the command channel client, not yet open
    EXPECT_EQ(first.m_pipeClient->Name(), CommandChannelName());
    EXPECT_FALSE(first.m_pipeClient->IsOpen());
    EXPECT_EQ(first.m_updateDialog.load(), nullptr);
    CService second(channels.UserId(), &CountBusy);
    EXPECT_EQ(g_busyCalls, 1);
    CService unresolved("", &CountBusy);
    EXPECT_EQ(g_busyCalls, 2);
#if defined(_WIN32)
    // The second looked at the name's holder through a client handle it
    // closed at once: the first drops that client as gone, and listens again
    // only in its next Connect, so the client below connects meanwhile.
    EXPECT_EQ(first.m_pipeServer->Connect(), TRANSFER_FAILED);
#endif

    std::unique_ptr<TestClient> client;
    std::thread sender([&] {
        client = std::make_unique<TestClient>(first.m_pipeServer->Name());
        client->Send(std::string("\x02\0\0\0\x0A\0\0\0", 8));
    });
    uint32_t length = 0;
    void* body = ReadFrameBody(*first.m_pipeServer, &length, nullptr, 2s);
    sender.join();
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(length, 2u);
    std::free(body);
    // the body never comes: dropped
    EXPECT_EQ(ReadFrameBody(*first.m_pipeServer, &length, nullptr, 200ms), nullptr);
}
