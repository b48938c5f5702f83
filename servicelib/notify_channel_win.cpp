// The library's channels on Windows. The command pipe is a byte pipe with a
// fixed set of instances, all created at the start (the first with
// FILE_FLAG_FIRST_PIPE_INSTANCE, so that a name someone else holds is
// reported rather than shared) and each reused after its client has gone
// (DisconnectNamedPipe, ConnectNamedPipe): no instance is ever closed to make
// another, which would leave a moment for another process to take its place.
// Every wait is overlapped and ends at its deadline or at the stop event.
#include "notify_channel.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "base/text.h"
#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "channel/pipe_identity_win.h"
#include "channel/pipe_security_win.h"
#include "channel/user_account.h"
#include "channel/user_account_win.h"

namespace {

// Each notifier makes one short exchange at a time: a few instances cover
// every session.
constexpr DWORD kInstances = 4;
constexpr DWORD kPipeBufferSize = 4096;

DWORD MsUntil(ServeClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - ServeClock::now());
    return static_cast<DWORD>(std::clamp<long long>(left.count(), 0, INFINITE - 1));
}

// One instance of the pipe and the event its connects and transfers signal.
struct PipeInstance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    bool pending = false;  // a ConnectNamedPipe is under way
    bool inUse = false;    // handed out as a connection
};

class CPipeListener;

class CPipeConnection : public CServeConnection {
public:
    CPipeConnection(CPipeListener& listener, PipeInstance& instance, HANDLE stop)
        : m_listener(listener), m_instance(instance), m_stop(stop) {}
    ~CPipeConnection() override;

    long ReadSome(uint8_t* buffer, uint32_t max, ServeClock::time_point deadline) override {
        return Transfer(false, buffer, max, deadline);
    }

    bool Write(const Bytes& bytes, ServeClock::time_point deadline) override {
        size_t done = 0;
        while (done < bytes.size()) {
            const long moved = Transfer(true, const_cast<uint8_t*>(bytes.data() + done),
                                        static_cast<uint32_t>(bytes.size() - done), deadline);
            if (moved <= 0) {
                return false;
            }
            done += static_cast<size_t>(moved);
        }
        return true;
    }

    bool AwaitClose(ServeClock::time_point deadline) override {
        uint8_t ignored[64];
        for (;;) {
            const long got = ReadSome(ignored, sizeof ignored, deadline);
            if (got <= 0) {
                return got == SERVE_CLOSED;
            }
        }
    }

    std::string PeerKey() override {
        ULONG session = 0;
        return GetNamedPipeClientSessionId(m_instance.pipe, &session)
                   ? "session " + std::to_string(session)
                   : std::string();
    }

private:
    // One overlapped read or write, waited for until `deadline` or the stop:
    // the bytes moved, or SERVE_CLOSED, SERVE_FAILED or SERVE_STOPPED. On a
    // time-out or stop the transfer is cancelled and its end waited for, so
    // the buffer is never touched after the call.
    long Transfer(bool write, uint8_t* buffer, uint32_t count, ServeClock::time_point deadline) {
        if (WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0) {
            return SERVE_STOPPED;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_instance.event;
        ResetEvent(m_instance.event);
        const BOOL started = write ? WriteFile(m_instance.pipe, buffer, count, nullptr, &overlapped)
                                   : ReadFile(m_instance.pipe, buffer, count, nullptr, &overlapped);
        DWORD error = started ? ERROR_SUCCESS : GetLastError();
        DWORD waited = WAIT_OBJECT_0;
        if (error == ERROR_IO_PENDING) {
            const HANDLE events[2] = {m_instance.event, m_stop};
            waited = WaitForMultipleObjects(2, events, FALSE, MsUntil(deadline));
            if (waited != WAIT_OBJECT_0) {
                CancelIo(m_instance.pipe);
            }
            DWORD moved = 0;
            if (GetOverlappedResult(m_instance.pipe, &overlapped, &moved, TRUE)) {
                return static_cast<long>(moved);  // also when it completed just before the cancel
            }
            error = GetLastError();
        } else if (error == ERROR_SUCCESS) {
            DWORD moved = 0;
            return GetOverlappedResult(m_instance.pipe, &overlapped, &moved, FALSE)
                       ? static_cast<long>(moved)
                       : SERVE_FAILED;
        }
        if (waited == WAIT_OBJECT_0 + 1) {
            return SERVE_STOPPED;
        }
        return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ||
                       error == ERROR_NO_DATA
                   ? SERVE_CLOSED
                   : SERVE_FAILED;
    }

    CPipeListener& m_listener;
    PipeInstance& m_instance;
    HANDLE m_stop;
};

class CPipeListener : public CServeListener {
public:
    explicit CPipeListener(std::wstring name) : m_name(std::move(name)) {
        m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~CPipeListener() override {
        for (PipeInstance& instance : m_instances) {
            if (instance.pending) {
                // The connect must be over before its OVERLAPPED goes away.
                DWORD unused = 0;
                CancelIo(instance.pipe);
                GetOverlappedResult(instance.pipe, &instance.overlapped, &unused, TRUE);
            }
            if (instance.pipe != INVALID_HANDLE_VALUE) {
                CloseHandle(instance.pipe);
            }
            if (instance.event != nullptr) {
                CloseHandle(instance.event);
            }
        }
        if (m_stop != nullptr) {
            CloseHandle(m_stop);
        }
    }

    // Creates every instance and starts listening on each; false with
    // `error` set when one can't be made.
    bool Create(std::string* error) {
        const UniquePipeSecurity descriptor(CreateCommandPipeSecurityDescriptor());
        if (m_stop == nullptr || !descriptor) {
            *error = "the pipe's security can't be set up (error " +
                     std::to_string(GetLastError()) + ")";
            return false;
        }
        // The owner the tests give the command pipe: the notifier uses the
        // pipe only when a service's account owns it, and under Wine every
        // process runs as the same ordinary user. Windows refuses an owner the
        // process's token may not assign (ERROR_INVALID_OWNER), so the
        // variable can't make a pipe look like a service's on a real system.
        PSID testOwner = nullptr;
        wchar_t ownerText[192];
        const DWORD ownerLength =
            GetEnvironmentVariableW(L"ORLIVAN_TEST_COMMAND_PIPE_OWNER", ownerText,
                                    static_cast<DWORD>(std::size(ownerText)));
        if (ownerLength != 0 && ownerLength < std::size(ownerText) &&
            ConvertStringSidToSidW(ownerText, &testOwner)) {
            SetSecurityDescriptorOwner(descriptor.Get(), testOwner, FALSE);
        }
        // The descriptor points at the owner until the instances are made.
        const std::unique_ptr<void, decltype(&LocalFree)> ownerHold(testOwner, &LocalFree);
        SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.Get(), FALSE};
        for (DWORD i = 0; i < kInstances; ++i) {
            PipeInstance& instance = m_instances[i];
            instance.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            instance.pipe = CreateNamedPipeW(
                m_name.c_str(),
                PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                    (i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                kInstances, kPipeBufferSize, kPipeBufferSize, 0, &attributes);
            if (instance.event == nullptr || instance.pipe == INVALID_HANDLE_VALUE) {
                const DWORD code = GetLastError();
                *error = "CreateNamedPipeW failed with error " + std::to_string(code) +
                         (i == 0 && (code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY)
                              ? " (another server holds the name)"
                              : "");
                return false;
            }
        }
        for (PipeInstance& instance : m_instances) {
            Listen(instance);
        }
        return true;
    }

    std::unique_ptr<CServeConnection> Accept(ServeClock::time_point deadline) override {
        for (;;) {
            // The wait takes the first signalled event in the list: the list
            // starts after the instance served last, so that clients waiting
            // on several instances are taken in turn.
            HANDLE events[kInstances + 1] = {m_stop};
            PipeInstance* waiting[kInstances] = {};
            DWORD count = 1;
            for (DWORD i = 0; i < kInstances; ++i) {
                PipeInstance& instance = m_instances[(m_next + i) % kInstances];
                if (!instance.inUse) {
                    waiting[count - 1] = &instance;
                    events[count++] = instance.event;
                }
            }
            const DWORD waited = WaitForMultipleObjects(count, events, FALSE, MsUntil(deadline));
            if (waited <= WAIT_OBJECT_0 || waited >= WAIT_OBJECT_0 + count) {
                return nullptr;  // stopped, the deadline, or a failed wait
            }
            PipeInstance& instance = *waiting[waited - WAIT_OBJECT_0 - 1];
            DWORD unused = 0;
            const bool connected =
                !instance.pending ||
                GetOverlappedResult(instance.pipe, &instance.overlapped, &unused, FALSE);
            instance.pending = false;
            if (connected) {
                instance.inUse = true;
                m_next = static_cast<DWORD>(&instance - m_instances.data() + 1) % kInstances;
                return std::make_unique<CPipeConnection>(*this, instance, m_stop);
            }
            // A client that came and went: this instance listens again.
            DisconnectNamedPipe(instance.pipe);
            Listen(instance);
        }
    }

    void Stop() override { SetEvent(m_stop); }

    // The connection on `instance` is over: the instance listens again.
    void Release(PipeInstance& instance) {
        DisconnectNamedPipe(instance.pipe);
        instance.inUse = false;
        Listen(instance);
    }

private:
    // Starts a connect on `instance`; its event is set once a client is there.
    void Listen(PipeInstance& instance) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            instance.overlapped = OVERLAPPED{};
            instance.overlapped.hEvent = instance.event;
            ResetEvent(instance.event);
            instance.pending = false;
            if (ConnectNamedPipe(instance.pipe, &instance.overlapped)) {
                SetEvent(instance.event);
                return;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                instance.pending = true;
                return;
            }
            if (error == ERROR_PIPE_CONNECTED) {
                SetEvent(instance.event);  // a client came in before the connect
                return;
            }
            // A client that came and went: made ready for the next one.
            DisconnectNamedPipe(instance.pipe);
        }
    }

    std::wstring m_name;
    HANDLE m_stop = nullptr;
    std::array<PipeInstance, kInstances> m_instances;
    DWORD m_next = 0;  // where the next wait's list of instances starts
};

CPipeConnection::~CPipeConnection() {
    m_listener.Release(m_instance);
}

// The SID string of the owner of the pipe object that the client handle
// `pipe` is connected to, read through that handle (GENERIC_READ carries
// READ_CONTROL); empty when the pipe has no owner or it can't be read.
std::string PipeOwnerSid(HANDLE pipe) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return std::string();
    }
    std::string text;
    wchar_t* wide = nullptr;
    if (owner != nullptr && ConvertSidToStringSidW(owner, &wide) && wide != nullptr) {
        text = Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide));
        LocalFree(wide);
    }
    LocalFree(descriptor);
    return text;
}

}  // namespace

const char* UserIdOption() {
    return "--sid";
}

std::optional<std::string> LookupUserId(const std::string& userName) {
    const std::optional<std::u16string> wide = Utf8ToUtf16(userName);
    wchar_t* sid = nullptr;
    if (!wide || wide->empty() ||
        LookupAccountSidString(reinterpret_cast<const wchar_t*>(wide->c_str()), &sid) != 1 ||
        sid == nullptr) {
        return std::nullopt;
    }
    std::string text = Utf16ToUtf8(reinterpret_cast<const char16_t*>(sid));
    LocalFree(sid);
    return text;
}

std::string CurrentUserId() {
    return GetCurrentUserSidString();
}

std::unique_ptr<CServeListener> CreateServeListener(const std::string& name, std::string* error) {
    const std::optional<std::u16string> wide = Utf8ToUtf16(name);
    if (!wide) {
        *error = "the pipe name is not valid UTF-8";
        return nullptr;
    }
    auto listener = std::make_unique<CPipeListener>(std::wstring(wide->begin(), wide->end()));
    if (!listener->Create(error)) {
        return nullptr;
    }
    return listener;
}

void ExpectNotifierOf(CPipeClient&, const std::string&) {
    // Windows tells whose a pipe is only once it is open: ChannelOwnerProblem.
}

std::string ChannelOwnerProblem(CPipeClient& client, const std::string& userId) {
    // The owner of the pipe object, not the process serving it: a process id
    // can be reused once its process has gone, and a server handle can be
    // handed to another process. Only the user (or an administrator or
    // service, which the user trusts anyway) can make a pipe the user owns.
    const std::string owner = PipeOwnerSid(reinterpret_cast<HANDLE>(client.m_pipe));
    if (SameSid(owner, userId)) {
        return std::string();
    }
    const std::string who = owner.empty() ? "no owner that can be read" : owner;
    return "the pipe " + client.Name() + " is owned by " + who + ", not by " + userId;
}

std::string SessionUserId(uint32_t sessionId) {
    // As LocalSystem the session's own token names its user; without that
    // privilege, the session's user and domain names are looked up.
    HANDLE token = nullptr;
    if (WTSQueryUserToken(sessionId, &token)) {
        const std::string sid = TokenUserSidString(token);
        CloseHandle(token);
        if (!sid.empty()) {
            return sid;
        }
    }
    wchar_t* user = nullptr;
    wchar_t* domain = nullptr;
    DWORD size = 0;
    std::string sid;
    if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName, &user,
                                    &size) &&
        user != nullptr && user[0] != L'\0') {
        std::wstring account = user;
        if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSDomainName,
                                        &domain, &size) &&
            domain != nullptr && domain[0] != L'\0') {
            account = std::wstring(domain) + L"\\" + account;
        }
        wchar_t* text = nullptr;
        if (LookupAccountSidString(account.c_str(), &text) == 1 && text != nullptr) {
            sid = Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
            LocalFree(text);
        }
    }
    if (user != nullptr) {
        WTSFreeMemory(user);
    }
    if (domain != nullptr) {
        WTSFreeMemory(domain);
    }
    return sid;
}

std::optional<std::vector<SessionUser>> ListSessionUsers() {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        return std::nullopt;
    }
    std::vector<SessionUser> users;
    // The console session always exists, so it is asked for even when the
    // list leaves it out (as Wine's, which is always empty, does); on Windows
    // it is in the list already.
    const DWORD console = WTSGetActiveConsoleSessionId();
    bool consoleListed = console == 0xFFFFFFFF;
    for (DWORD i = 0; i < count; ++i) {
        consoleListed = consoleListed || sessions[i].SessionId == console;
        // Listening and down sessions have nobody logged on; a disconnected
        // one keeps its user (and its notifier).
        if (sessions[i].State != WTSActive && sessions[i].State != WTSDisconnected &&
            sessions[i].State != WTSConnected) {
            continue;
        }
        std::string user = SessionUserId(sessions[i].SessionId);
        if (!user.empty()) {
            users.push_back(SessionUser{sessions[i].SessionId, std::move(user)});
        }
    }
    WTSFreeMemory(sessions);
    if (!consoleListed) {
        std::string user = SessionUserId(console);
        if (!user.empty()) {
            users.push_back(SessionUser{console, std::move(user)});
        }
    }
    return users;
}
