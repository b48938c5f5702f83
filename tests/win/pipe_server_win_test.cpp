// The notification channel as a real named pipe: server and service-side
// client in one process, the worker loop on its own thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel_name.h"
#include "notify/notification_loop.h"
#include "channel/pipe_security_win.h"
#include "channel/pipe_server.h"
#include "channel/service.h"
#include "channel/user_account.h"
#include "notify/record.h"

namespace {

using namespace std::chrono_literals;

std::string UniquePipeName() {
    static int serial = 0;
    return "\\\\.\\pipe\\orlivan-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The service's end: opens the pipe (waiting while it is busy) and talks to it.
class PipeClient {
public:
    explicit PipeClient(const std::string& name) {
        const std::wstring wide = Wide(name);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            m_pipe = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            if (m_pipe != INVALID_HANDLE_VALUE) {
                break;
            }
            if (GetLastError() == ERROR_PIPE_BUSY) {
                WaitNamedPipeW(wide.c_str(), 200);
            } else {
                Sleep(20);
            }
        }
        m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~PipeClient() {
        Close();
        CloseHandle(m_event);
    }
    bool Connected() const { return m_pipe != INVALID_HANDLE_VALUE; }
    void Send(const std::string& bytes) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_event;
        ResetEvent(m_event);
        DWORD wrote = 0;
        if (!WriteFile(m_pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                       &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            ADD_FAILURE() << "write failed " << GetLastError();
            return;
        }
        ASSERT_TRUE(GetOverlappedResult(m_pipe, &overlapped, &wrote, TRUE));
        EXPECT_EQ(wrote, bytes.size());
    }
    void SendFrame(const NotificationRecord& record) {
        const std::string body = EncodeNotificationRecord(record);
        std::string frame(4, '\0');
        for (int i = 0; i < 4; ++i) {
            frame[i] = static_cast<char>((body.size() >> (8 * i)) & 0xFF);
        }
        Send(frame + body);
    }
    // Up to `count` bytes that arrive within `wait`; stops at the end of the connection.
    std::string Receive(size_t count, std::chrono::milliseconds wait) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (got.size() < count && !m_ended) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            char buffer[64];
            OVERLAPPED overlapped{};
            overlapped.hEvent = m_event;
            ResetEvent(m_event);
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, count - got.size()));
            if (!ReadFile(m_pipe, buffer, want, nullptr, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    m_ended = true;
                    break;
                }
                if (WaitForSingleObject(m_event, static_cast<DWORD>(left.count())) !=
                    WAIT_OBJECT_0) {
                    CancelIo(m_pipe);
                    if (GetOverlappedResult(m_pipe, &overlapped, &n, TRUE)) {
                        got.append(buffer, n);
                    }
                    break;
                }
            }
            if (!GetOverlappedResult(m_pipe, &overlapped, &n, TRUE)) {
                m_ended = true;
                break;
            }
            got.append(buffer, n);
        }
        return got;
    }
    // True when the server ended this connection within `wait`.
    bool EndedBy(std::chrono::milliseconds wait) {
        Receive(1, wait);
        return m_ended;
    }
    void Close() {
        if (m_pipe != INVALID_HANDLE_VALUE) {
            CloseHandle(m_pipe);
            m_pipe = INVALID_HANDLE_VALUE;
        }
    }

private:
    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    HANDLE m_event = nullptr;
    bool m_ended = false;
};

std::string Reply(int32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// A pipe with the worker loop serving it. The handler answers a driver error
// with its error code, a notifier error with 0 and anything else with 1; a
// new-update record is held until the test releases it.
class NamedPipeChannel : public ::testing::Test {
protected:
    void SetUp() override {
        name = UniquePipeName();
        server = std::make_unique<CPipeServer>(name);
        ASSERT_EQ(server->Create(), 1);
    }
    void TearDown() override {
        if (m_worker.joinable()) {
            m_stop = true;
            server->Shutdown();
            m_worker.join();
        }
        server.reset();
    }
    void StartWorker() {
        m_worker = std::thread([this] {
            RunNotificationLoop(
                *server, [this](const NotificationRecord& r) { return Handle(r); }, nullptr,
                waitLimit, &m_stop);
        });
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
    std::string name;
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

TEST_F(NamedPipeChannel, FramesAreAnsweredInOrderAndZeroGetsNoReply) {
    StartWorker();
    PipeClient client(name);
    ASSERT_TRUE(client.Connected());
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 41});
    client.SendFrame({NOTIFY_NOTIFIER_ERROR, "", 0});
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", -42});
    EXPECT_EQ(client.Receive(12, 5s), Reply(41) + Reply(-42));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6, -3, 6}));
}

TEST_F(NamedPipeChannel, TheNameBelongsToTheFirstInstance) {
    CPipeServer second(name);
    EXPECT_EQ(second.Create(), 0);
    const std::wstring wide = Wide(name);
    const HANDLE raw =
        CreateNamedPipeW(wide.c_str(), PIPE_ACCESS_DUPLEX, 0, 1, 512, 512, 5000, nullptr);
    EXPECT_EQ(raw, INVALID_HANDLE_VALUE);
    if (raw != INVALID_HANDLE_VALUE) {
        CloseHandle(raw);
    }
    // The first still serves.
    StartWorker();
    PipeClient client(name);
    client.SendFrame({NOTIFY_DRIVER_ERROR, "", 2});
    EXPECT_EQ(client.Receive(4, 5s), Reply(2));
}

TEST_F(NamedPipeChannel, StalledAndBrokenClientsAreDroppedAndTheNextServed) {
    StartWorker();
    {
        PipeClient silent(name);  // connects and never writes
        ASSERT_TRUE(silent.Connected());
        EXPECT_TRUE(silent.EndedBy(10s));
    }
    {
        PipeClient halfBody(name);
        halfBody.Send(std::string("\x08\0\0\0\x06\0", 6));
        EXPECT_TRUE(halfBody.EndedBy(10s));
    }
    {
        PipeClient oversized(name);
        oversized.Send(std::string("\xFF\xFF\xFF\x7F", 4));
        EXPECT_TRUE(oversized.EndedBy(10s));
    }
    {
        PipeClient closing(name);
        closing.Send(std::string("\x08\0\0\0\x06", 5));
    }
    PipeClient next(name);
    next.SendFrame({NOTIFY_DRIVER_ERROR, "", 3});
    EXPECT_EQ(next.Receive(4, 10s), Reply(3));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{6}));
}

TEST_F(NamedPipeChannel, ReplyToAClientThatHasGoneIsNotGivenToTheNext) {
    StartWorker();
    {
        PipeClient leaving(name);
        leaving.SendFrame({NOTIFY_NEW_UPDATE, "", 0});
        WaitSeen(1);
    }
    Release();
    PipeClient next(name);
    ASSERT_TRUE(next.Connected());
    next.SendFrame({NOTIFY_DRIVER_ERROR, "", 77});
    EXPECT_EQ(next.Receive(8, 3s), Reply(77));
    EXPECT_EQ(Seen(), (std::vector<int32_t>{3, 6}));
}

TEST(PipeSecurity, LocalAccountsReadAndWriteOnlyNetworkIsRefused) {
    PSECURITY_DESCRIPTOR descriptor = CreatePipeSecurityDescriptor();
    ASSERT_NE(descriptor, nullptr);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(acl, nullptr);

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr;
    PSID network = nullptr;
    ASSERT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    ASSERT_TRUE(
        AllocateAndInitializeSid(&nt, 1, SECURITY_NETWORK_RID, 0, 0, 0, 0, 0, 0, 0, &network));
    bool sawEveryone = false;
    bool networkDeniedFirst = false;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&header)));
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_DENIED_ACE*>(header);
            if (EqualSid(&ace->SidStart, network)) {
                networkDeniedFirst = i == 0;
                EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
            }
        } else if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if (EqualSid(&ace->SidStart, everyone)) {
                sawEveryone = true;
                EXPECT_EQ(ace->Mask & (FILE_READ_DATA | FILE_WRITE_DATA),
                          static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA));
                EXPECT_EQ(
                    ace->Mask & (WRITE_DAC | WRITE_OWNER | DELETE | FILE_CREATE_PIPE_INSTANCE), 0u);
            }
        }
    }
    EXPECT_TRUE(sawEveryone);
    EXPECT_TRUE(networkDeniedFirst);
    FreeSid(everyone);
    FreeSid(network);
    FreePipeSecurityDescriptor(descriptor);
}

TEST(UserChannelName, IsThePipePrefixAndTheSidString) {
    const std::string sid = GetCurrentUserSidString();
    EXPECT_TRUE(std::regex_match(sid, std::regex("S-1-[0-9]+(-[0-9]+)+"))) << sid;
    EXPECT_EQ(NotificationChannelName(sid), "\\\\.\\pipe\\" + sid);
}

namespace {
int g_busyCalls = 0;
void CountBusy() {
    ++g_busyCalls;
}
}  // namespace

TEST(ServiceWin, SecondInstanceAndUnresolvedUserAreTurnedAway) {
    g_busyCalls = 0;
    const std::string id = "orlivan-test-" + std::to_string(GetCurrentProcessId());
    CService first(id, &CountBusy);
    EXPECT_EQ(g_busyCalls, 0);
    EXPECT_EQ(first.m_pipeServer->Name(), "\\\\.\\pipe\\" + id);
    CService second(id, &CountBusy);
    EXPECT_EQ(g_busyCalls, 1);
    CService unresolved("", &CountBusy);
    EXPECT_EQ(g_busyCalls, 2);
}
