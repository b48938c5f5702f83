// The notification channel as a real named pipe: server and service-side
// client in one process, the worker loop on its own thread.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel_name.h"
#include "channel/pipe_client_win.h"
#include "notify/notification_loop.h"
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

namespace {

constexpr SECURITY_INFORMATION kStoredParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Owner, group and DACL of the live pipe, as the system stores them, in SDDL.
std::wstring StoredSddl(const std::string& name) {
    const HANDLE pipe =
        CreateFileW(Wide(name).c_str(), READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    PSECURITY_DESCRIPTOR stored = nullptr;
    EXPECT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, kStoredParts, nullptr, nullptr, nullptr,
                              nullptr, &stored),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(pipe);
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(stored, SDDL_REVISION_1,
                                                                     kStoredParts, &text, nullptr));
    const std::wstring sddl = text != nullptr ? text : L"";
    LocalFree(text);
    LocalFree(stored);
    return sddl;
}

// `sddl` with every `from` replaced by `to`.
std::wstring Renamed(std::wstring sddl, const std::wstring& from, const std::wstring& to) {
    for (size_t at = sddl.find(from); at != std::wstring::npos; at = sddl.find(from, at)) {
        sddl.replace(at, from.size(), to);
        at += to.size();
    }
    return sddl;
}

// How generic rights map for files and pipes.
GENERIC_MAPPING FileMapping() {
    return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
}

DWORD Mapped(DWORD rights) {
    GENERIC_MAPPING mapping = FileMapping();
    MapGenericMask(&rights, &mapping);
    return rights;
}

// What AccessCheck grants `token` of `wanted` under `sddl`; 0 when refused.
DWORD Granted(const std::wstring& sddl, HANDLE token, DWORD wanted) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    GENERIC_MAPPING mapping = FileMapping();
    PRIVILEGE_SET privileges{};
    DWORD size = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    EXPECT_TRUE(AccessCheck(descriptor, token, Mapped(wanted), &mapping, &privileges, &size,
                            &granted, &allowed))
        << GetLastError();
    LocalFree(descriptor);
    return allowed ? granted : 0;
}

std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    EXPECT_TRUE(GetTokenInformation(token, kind, buffer.data(), size, &size));
    return buffer;
}

// An impersonation token of this process's logon without privileges, whose
// only enabled group is Everyone: every other group, and the user unless
// `keepUser`, is deny-only. The user's SID string goes to `user`.
HANDLE CheckingToken(bool keepUser, std::wstring* user) {
    HANDLE process = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    std::vector<BYTE> userInfo = TokenInfo(process, TokenUser);
    const PSID userSid = reinterpret_cast<TOKEN_USER*>(userInfo.data())->User.Sid;
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(userSid, &text));
    *user = text != nullptr ? text : L"";
    LocalFree(text);
    std::vector<BYTE> groupInfo = TokenInfo(process, TokenGroups);
    const auto* groups = reinterpret_cast<TOKEN_GROUPS*>(groupInfo.data());
    std::vector<SID_AND_ATTRIBUTES> denyOnly;
    if (!keepUser) {
        denyOnly.push_back({userSid, 0});
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    EXPECT_TRUE(
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (!EqualSid(groups->Groups[i].Sid, everyone) &&
            (groups->Groups[i].Attributes & SE_GROUP_INTEGRITY) == 0) {
            denyOnly.push_back({groups->Groups[i].Sid, 0});
        }
    }
    FreeSid(everyone);
    HANDLE restricted = nullptr;
    EXPECT_TRUE(CreateRestrictedToken(process, DISABLE_MAX_PRIVILEGE,
                                      static_cast<DWORD>(denyOnly.size()), denyOnly.data(), 0,
                                      nullptr, 0, nullptr, &restricted));
    HANDLE impersonation = nullptr;
    EXPECT_TRUE(DuplicateToken(restricted, SecurityImpersonation, &impersonation));
    CloseHandle(restricted);
    CloseHandle(process);
    return impersonation;
}

}  // namespace

// The rights the live pipe's descriptor gives, as AccessCheck computes them
// for tokens whose only group is Everyone. The test runs as the notifier's
// user. Any other account is seen by giving the user's entries to an
// unrelated account (Wine matches the user of a token even when it is
// deny-only); SYSTEM and NETWORK by giving their entries to Everyone, so that
// the order of the entries counts as for a member.
TEST(PipeSecurity, AccessCheckOnTheLivePipe) {
    const std::string name = UniquePipeName();
    CPipeServer server(name);
    ASSERT_EQ(server.Create(), 1);
    const std::wstring stored = StoredSddl(name);  // the one client the pipe admits
    constexpr DWORD kControl = WRITE_DAC | WRITE_OWNER | DELETE;
    const struct {
        const char* who;
        bool asTheUser;             // the user's own entries apply
        const wchar_t* asEveryone;  // SDDL alias whose entries go to Everyone
        DWORD granted;              // wholly granted
        DWORD refused;              // each right of it refused
    } cases[] = {
        {"the user", true, nullptr, GENERIC_READ | GENERIC_WRITE | kControl, 0},
        {"another local account", false, nullptr, GENERIC_READ | GENERIC_WRITE, kControl},
        {"SYSTEM", false, L"SY", GENERIC_READ | GENERIC_WRITE | kControl, 0},
        {"a network client", false, L"NU", 0, FILE_ALL_ACCESS},
    };
    for (const auto& c : cases) {
        std::wstring user;
        const HANDLE token = CheckingToken(c.asTheUser, &user);
        std::wstring sddl = c.asTheUser ? stored : Renamed(stored, user, L"S-1-5-21-1-2-3-1001");
        if (c.asEveryone != nullptr) {
            sddl = Renamed(sddl, std::wstring(L";") + c.asEveryone + L")", L";WD)");
        }
        const std::string shown(sddl.begin(), sddl.end());  // SDDL is ASCII
        if (c.granted != 0) {
            EXPECT_EQ(Granted(sddl, token, c.granted), Mapped(c.granted)) << c.who << " " << shown;
        }
        for (DWORD right = 1; right != 0; right <<= 1) {
            if ((c.refused & right) != 0) {
                EXPECT_EQ(Granted(sddl, token, right), 0u)
                    << c.who << " " << std::hex << right << " " << shown;
            }
        }
        CloseHandle(token);
    }
}

// The service's command pipe, created with the access list the protocol
// reference gives (interactive users read and FILE_WRITE_DATA, never
// FILE_CREATE_PIPE_INSTANCE): the notifier's open mode is granted, the
// creation of an instance refused. Interactive users stand as Everyone here,
// the one group the checking token keeps.
TEST(PipeSecurity, CommandPipeListGrantsTheNotifiersOpenAndNoInstance) {
    // AccessCheck needs an owner and a group; the service's own, SYSTEM here.
    const std::wstring documented = L"O:SYG:SYD:(D;;FA;;;NU)(A;;FA;;;SY)(A;;0x12008b;;;IU)";
    const std::wstring sddl = Renamed(documented, L";IU)", L";WD)");
    std::wstring user;
    const HANDLE token = CheckingToken(false, &user);
    EXPECT_EQ(Granted(sddl, token, kCommandPipeOpenAccess), Mapped(kCommandPipeOpenAccess));
    EXPECT_EQ(Granted(sddl, token, FILE_CREATE_PIPE_INSTANCE), 0u);
    EXPECT_EQ(Granted(sddl, token, WRITE_DAC), 0u);
    CloseHandle(token);
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
