// The library's channels on Windows. The command pipe is served in message
// mode, so each write of the client arrives as one message and the log shows
// how a request was split. One instance is always listening: a new one is
// created as soon as a client is connected, so back-to-back exchanges never
// find the pipe busy.
#include "notify_channel.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <wtsapi32.h>

#include <string>

#include "base/text.h"
#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "channel/pipe_identity_win.h"
#include "channel/user_account.h"
#include "channel/user_account_win.h"

namespace {

// Runs one overlapped transfer or connect to completion within `timeoutMs`.
// Returns the bytes moved (connects: 0), or -1 on failure or time-out.
// `moreData` reports a message longer than the buffer.
long Complete(HANDLE pipe, OVERLAPPED* overlapped, BOOL started, uint32_t timeoutMs,
              bool* moreData = nullptr) {
    DWORD moved = 0;
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped->hEvent, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, overlapped, &moved, TRUE);
            return -1;
        }
        error =
            GetOverlappedResult(pipe, overlapped, &moved, FALSE) ? ERROR_SUCCESS : GetLastError();
    } else if (error == ERROR_SUCCESS) {
        GetOverlappedResult(pipe, overlapped, &moved, FALSE);
    }
    if (error == ERROR_MORE_DATA && moreData != nullptr) {
        *moreData = true;
        return static_cast<long>(moved);
    }
    return error == ERROR_SUCCESS ? static_cast<long>(moved) : -1;
}

class CPipeConnection : public CServeConnection {
public:
    explicit CPipeConnection(HANDLE pipe) : m_pipe(pipe) {
        m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    // Closing the instance (rather than disconnecting it) leaves a reply that
    // the client has not read yet readable until it is read.
    ~CPipeConnection() override {
        CloseHandle(m_event);
        CloseHandle(m_pipe);
    }

    long ReadSome(uint8_t* buffer, uint32_t max, uint32_t timeoutMs) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_event;
        ResetEvent(m_event);
        const BOOL started = ReadFile(m_pipe, buffer, max, nullptr, &overlapped);
        bool more = false;
        const long got = Complete(m_pipe, &overlapped, started, timeoutMs, &more);
        if (got < 0) {
            const DWORD error = GetLastError();
            return error == ERROR_BROKEN_PIPE ? 0 : -1;
        }
        return got;
    }

    bool Write(const Bytes& bytes) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = m_event;
        ResetEvent(m_event);
        const BOOL started =
            WriteFile(m_pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
        return Complete(m_pipe, &overlapped, started, 10000) == static_cast<long>(bytes.size());
    }

private:
    HANDLE m_pipe;
    HANDLE m_event;
};

// The owner the tests give the command pipe: the notifier uses the pipe only
// when a service's account owns it, and under Wine every process runs as the
// same ordinary user. ORLIVAN_TEST_COMMAND_PIPE_OWNER names a SID (S-1-5-18
// in the end-to-end tests); the descriptor then names the owner alone and
// no access list of its own. Windows refuses an
// owner the process's token may not assign (ERROR_INVALID_OWNER), so the
// variable can't make a pipe look like a service's on a real system.
class OwnerOverride {
public:
    OwnerOverride() {
        wchar_t sid[192];
        const DWORD length =
            GetEnvironmentVariableW(L"ORLIVAN_TEST_COMMAND_PIPE_OWNER", sid,
                                    static_cast<DWORD>(sizeof sid / sizeof sid[0]));
        if (length == 0 || length >= sizeof sid / sizeof sid[0] ||
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                (std::wstring(L"O:") + sid).c_str(), SDDL_REVISION_1, &m_descriptor, nullptr)) {
            m_descriptor = nullptr;
        }
        m_attributes.lpSecurityDescriptor = m_descriptor;
    }
    ~OwnerOverride() { LocalFree(m_descriptor); }
    OwnerOverride(const OwnerOverride&) = delete;
    OwnerOverride& operator=(const OwnerOverride&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return m_descriptor != nullptr ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

class CPipeListener : public CServeListener {
public:
    explicit CPipeListener(std::wstring name) : m_name(std::move(name)) {
        m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~CPipeListener() override {
        if (m_pending) {
            // The connect must be over before its OVERLAPPED goes away.
            DWORD unused = 0;
            CancelIo(m_listening);
            GetOverlappedResult(m_listening, &m_overlapped, &unused, TRUE);
        }
        if (m_listening != INVALID_HANDLE_VALUE) {
            CloseHandle(m_listening);
        }
        CloseHandle(m_event);
    }

    bool CreateInstance(bool first) {
        OwnerOverride owner;
        m_listening = CreateNamedPipeW(
            m_name.c_str(),
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, owner.Attributes());
        m_pending = false;
        return m_listening != INVALID_HANDLE_VALUE;
    }

    std::unique_ptr<CServeConnection> Accept(uint32_t timeoutMs) override {
        if (m_listening == INVALID_HANDLE_VALUE && !CreateInstance(false)) {
            Sleep(timeoutMs);
            return nullptr;
        }
        if (!m_pending) {
            m_overlapped = OVERLAPPED{};
            m_overlapped.hEvent = m_event;
            ResetEvent(m_event);
            if (!ConnectNamedPipe(m_listening, &m_overlapped)) {
                const DWORD error = GetLastError();
                if (error == ERROR_IO_PENDING) {
                    m_pending = true;
                } else if (error != ERROR_PIPE_CONNECTED) {
                    // A client that came and went: start over on this instance.
                    DisconnectNamedPipe(m_listening);
                    return nullptr;
                }
            }
        }
        if (m_pending) {
            if (WaitForSingleObject(m_event, timeoutMs) != WAIT_OBJECT_0) {
                return nullptr;
            }
            DWORD unused = 0;
            m_pending = false;
            if (!GetOverlappedResult(m_listening, &m_overlapped, &unused, FALSE)) {
                DisconnectNamedPipe(m_listening);
                return nullptr;
            }
        }
        const HANDLE connected = m_listening;
        m_listening = INVALID_HANDLE_VALUE;
        CreateInstance(false);
        return std::make_unique<CPipeConnection>(connected);
    }

private:
    std::wstring m_name;
    HANDLE m_listening = INVALID_HANDLE_VALUE;
    HANDLE m_event = nullptr;
    OVERLAPPED m_overlapped{};
    bool m_pending = false;
};

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
    if (!listener->CreateInstance(true)) {
        *error = "CreateNamedPipeW failed with error " + std::to_string(GetLastError()) +
                 " (another server may hold the name)";
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
