// The notification channel as a named pipe. The pipe is created once, as the
// first and only instance of its name, and never closed between clients, so no
// other process can take the name. Transfers are overlapped so that every wait
// on a client is bounded; only the wait for a client to connect is not.
#include <windows.h>

#include <aclapi.h>

#include <atomic>
#include <vector>

#include "channel/pipe_security_win.h"
#include "channel/pipe_server.h"
#include "notify/text.h"

namespace {

// Rights of every local account: what GENERIC_READ | GENERIC_WRITE map to,
// nothing more (no WRITE_DAC, WRITE_OWNER, DELETE). FILE_GENERIC_WRITE carries
// FILE_APPEND_DATA, the same bit as FILE_CREATE_PIPE_INSTANCE; it must stay,
// or an open for reading and writing is refused to every account but SYSTEM
// and the user. Nobody can add an instance anyway: the pipe allows one, and
// the notifier holds it (FILE_FLAG_FIRST_PIPE_INSTANCE) for its whole life.
constexpr DWORD kClientAccess = FILE_GENERIC_READ | FILE_GENERIC_WRITE;

constexpr DWORD kPipeBufferSize = 512;
constexpr DWORD kDefaultTimeoutMs = 5000;

DWORD WaitMs(std::chrono::milliseconds timeout) {
    if (timeout.count() <= 0) {
        return 0;
    }
    return timeout.count() >= static_cast<long long>(INFINITE)
               ? INFINITE - 1
               : static_cast<DWORD>(timeout.count());
}

bool IsClientGone(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA ||
           error == ERROR_PIPE_NOT_CONNECTED;
}

// The SID of the user the process runs as, copied out of its token.
std::vector<BYTE> ProcessUserSid() {
    std::vector<BYTE> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return sid;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        const DWORD length = GetLengthSid(user->User.Sid);
        sid.resize(length);
        CopySid(length, sid.data(), user->User.Sid);
    }
    CloseHandle(token);
    return sid;
}

}  // namespace

PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor() {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr;
    PSID network = nullptr;
    PSID system = nullptr;
    std::vector<BYTE> user = ProcessUserSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;

    if (!user.empty() &&
        AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone) &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_NETWORK_RID, 0, 0, 0, 0, 0, 0, 0, &network) &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system)) {
        EXPLICIT_ACCESS_W entries[4] = {};
        auto fill = [](EXPLICIT_ACCESS_W& entry, PSID sid, DWORD rights, ACCESS_MODE mode,
                       TRUSTEE_TYPE type) {
            entry.grfAccessPermissions = rights;
            entry.grfAccessMode = mode;
            entry.grfInheritance = NO_INHERITANCE;
            entry.Trustee.pMultipleTrustee = nullptr;
            entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
            entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            entry.Trustee.TrusteeType = type;
            entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);
        };
        // Clients from other machines come in as NETWORK: refused whatever else allows.
        fill(entries[0], network, FILE_ALL_ACCESS, DENY_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP);
        fill(entries[1], system, FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER);
        fill(entries[2], user.data(), FILE_ALL_ACCESS, SET_ACCESS, TRUSTEE_IS_USER);
        fill(entries[3], everyone, kClientAccess, SET_ACCESS, TRUSTEE_IS_WELL_KNOWN_GROUP);
        if (SetEntriesInAclW(4, entries, nullptr, &acl) == ERROR_SUCCESS) {
            descriptor = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
            if (descriptor == nullptr ||
                !InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) ||
                !SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
                if (descriptor != nullptr) {
                    LocalFree(descriptor);
                }
                LocalFree(acl);
                descriptor = nullptr;
            }
        }
    }
    if (everyone != nullptr) {
        FreeSid(everyone);
    }
    if (network != nullptr) {
        FreeSid(network);
    }
    if (system != nullptr) {
        FreeSid(system);
    }
    return descriptor;
}

void FreePipeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    if (descriptor == nullptr) {
        return;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present &&
        acl != nullptr) {
        LocalFree(acl);
    }
    LocalFree(descriptor);
}

struct CPipeServer::Impl {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE ioEvent = nullptr;    // completion of the pending transfer
    HANDLE stopEvent = nullptr;  // set by Shutdown
    bool connected = false;
    std::atomic<bool> shutDown{false};

    // Waits for the pending transfer of `overlapped` for at most `waitMs`; on
    // time-out or shut-down cancels it and waits for the cancel, so the buffer
    // is never written after the call. TRANSFER_OK with the byte count, or the
    // failing result.
    int Finish(OVERLAPPED* overlapped, DWORD waitMs, DWORD* transferred) {
        const HANDLE events[2] = {ioEvent, stopEvent};
        const DWORD waited = WaitForMultipleObjects(2, events, FALSE, waitMs);
        if (waited != WAIT_OBJECT_0) {
            CancelIo(pipe);
        }
        if (GetOverlappedResult(pipe, overlapped, transferred, TRUE)) {
            return TRANSFER_OK;  // also when it completed just before the cancel
        }
        const DWORD error = GetLastError();
        if (waited == WAIT_TIMEOUT) {
            return TRANSFER_TIMED_OUT;
        }
        if (waited != WAIT_OBJECT_0) {
            return TRANSFER_FAILED;
        }
        return IsClientGone(error) ? TRANSFER_CLOSED : TRANSFER_FAILED;
    }

    // One overlapped read or write of up to `count` bytes, waited for at most
    // `waitMs` (see Finish). TRANSFER_OK with the byte count, or the failing result.
    int Transfer(bool write, void* buffer, DWORD count, DWORD waitMs, DWORD* moved) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent;
        ResetEvent(ioEvent);
        *moved = 0;
        const BOOL started = write ? WriteFile(pipe, buffer, count, nullptr, &overlapped)
                                   : ReadFile(pipe, buffer, count, nullptr, &overlapped);
        if (started) {
            return GetOverlappedResult(pipe, &overlapped, moved, FALSE) ? TRANSFER_OK
                                                                        : TRANSFER_FAILED;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            return Finish(&overlapped, waitMs, moved);
        }
        return IsClientGone(error) ? TRANSFER_CLOSED : TRANSFER_FAILED;
    }
};

CPipeServer::CPipeServer(std::string name) : m_name(std::move(name)), m_impl(new Impl) {}

CPipeServer::~CPipeServer() {
    if (m_impl->pipe != INVALID_HANDLE_VALUE) {
        CloseHandle(m_impl->pipe);
    }
    if (m_impl->ioEvent != nullptr) {
        CloseHandle(m_impl->ioEvent);
    }
    if (m_impl->stopEvent != nullptr) {
        CloseHandle(m_impl->stopEvent);
    }
}

bool CPipeServer::IsCreated() const {
    return m_impl->pipe != INVALID_HANDLE_VALUE;
}

int CPipeServer::Create() {
    if (m_name.empty() || IsCreated()) {
        return 0;
    }
    PSECURITY_DESCRIPTOR descriptor = CreatePipeSecurityDescriptor();
    if (descriptor == nullptr) {
        return 0;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    const std::u16string wide = WidenBytes(m_name);  // the name is plain ASCII
    const HANDLE pipe = CreateNamedPipeW(
        reinterpret_cast<const wchar_t*>(wide.c_str()),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferSize, kPipeBufferSize, kDefaultTimeoutMs, &attributes);
    FreePipeSecurityDescriptor(descriptor);  // the pipe keeps its own copy
    if (pipe == INVALID_HANDLE_VALUE) {
        return 0;
    }
    m_impl->ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_impl->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_impl->ioEvent == nullptr || m_impl->stopEvent == nullptr) {
        CloseHandle(pipe);
        return 0;
    }
    m_impl->pipe = pipe;
    return 1;
}

void CPipeServer::Shutdown() {
    m_impl->shutDown = true;
    if (m_impl->stopEvent != nullptr) {
        SetEvent(m_impl->stopEvent);
    }
}

int CPipeServer::Connect() {
    if (!IsCreated() || m_impl->shutDown) {
        return TRANSFER_FAILED;
    }
    if (m_impl->connected) {
        return TRANSFER_OK;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_impl->ioEvent;
    ResetEvent(m_impl->ioEvent);
    bool connected = ConnectNamedPipe(m_impl->pipe, &overlapped) != FALSE;
    if (!connected) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            connected = true;
        } else if (error == ERROR_IO_PENDING) {
            DWORD ignored = 0;
            connected = m_impl->Finish(&overlapped, INFINITE, &ignored) == TRANSFER_OK;
        }
    }
    if (!connected) {
        // A client that came and went before it was served, or a failure: the
        // pipe is made ready for the next client.
        DisconnectNamedPipe(m_impl->pipe);
        return TRANSFER_FAILED;
    }
    m_impl->connected = true;
    return TRANSFER_OK;
}

int CPipeServer::ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds timeout,
                          uint32_t* transferred) {
    *transferred = 0;
    if (!m_impl->connected) {
        return TRANSFER_CLOSED;
    }
    if (count == 0) {
        return TRANSFER_FAILED;
    }
    DWORD got = 0;
    const int result = m_impl->Transfer(false, buffer, count, WaitMs(timeout), &got);
    if (result == TRANSFER_OK && got == 0) {
        return TRANSFER_FAILED;
    }
    *transferred = result == TRANSFER_OK ? got : 0;
    return result;
}

int CPipeServer::WriteAll(const void* buffer, uint32_t count, std::chrono::milliseconds timeout) {
    if (!m_impl->connected) {
        return TRANSFER_CLOSED;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    const auto* bytes = static_cast<const BYTE*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return TRANSFER_TIMED_OUT;
        }
        DWORD wrote = 0;
        const int result = m_impl->Transfer(true, const_cast<BYTE*>(bytes + done), count - done,
                                            WaitMs(left), &wrote);
        if (result != TRANSFER_OK) {
            return result;
        }
        done += wrote;
    }
    return TRANSFER_OK;
}

void CPipeServer::Disconnect() {
    if (m_impl->connected) {
        DisconnectNamedPipe(m_impl->pipe);
        m_impl->connected = false;
    }
}
