// The notification channel as a named pipe. The pipe is created once, as the
// first and only instance of its name, and never closed between clients, so no
// other process can take the name. Transfers are overlapped so that every wait
// on a client is bounded; only the wait for a client to connect is not.
//
// Who may open the pipe is decided by Windows at the open, from the pipe's
// access list (the user, LocalSystem, the service accounts and the SERVICE
// group; pipe_security_win.cpp). A second layer judges each connection at its
// first read, which Windows requires before it tells who the client is: the
// client's token is read and judged (JudgePipeClient). A refused client is
// dropped before anything it sent is handed out, and logged once per identity.
//
// When the name is held by someone else at the start, the server tries to
// create the pipe again while it waits for a client, at most every
// kCreateRetryInterval, and serves as soon as the name is free.
#include <windows.h>

#include <atomic>

#include "base/text.h"
#include "base/wide_text_win.h"
#include "base/unique_handle_win.h"
#include "channel/channel_access.h"
#include "channel/pipe_identity_win.h"
#include "channel/pipe_security_win.h"
#include "channel/pipe_server.h"
#include "log/logger.h"

namespace {

constexpr DWORD kPipeBufferSize = 512;
constexpr DWORD kDefaultTimeoutMs = 5000;
constexpr std::chrono::seconds kCreateRetryInterval{5};

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

}  // namespace

struct CPipeServer::Impl {
    UniqueFileHandle pipe;
    UniqueHandle ioEvent;    // completion of the pending transfer
    UniqueHandle stopEvent;  // set by Shutdown
    bool connected = false;
    bool clientServed = false;  // the connected client's identity was checked and served
    CPeerRefusals refusals;
    bool uncheckedLogged = false;  // a client served without a readable identity was logged
    // The session marker: a mutex named after the pipe in this session's own
    // namespace, owned by the user, made or opened before the pipe and held
    // for the server's life. A second start of the notifier in the same
    // session finds it even while the pipe is busy with a client (a box
    // waiting for its answer).
    UniqueHandle sessionMarker;
    bool sessionNotifier = false;  // the marker existed, the user's: this session's notifier runs
    bool nameTaken = false;        // the last creation failed because the name exists
    bool awaitingName = false;     // a creation failed so; Connect tries again until one works
    std::chrono::steady_clock::time_point nextCreate;  // the earliest next creation
    std::atomic<bool> shutDown{false};

    // Waits for the pending transfer of `overlapped` for at most `waitMs`; on
    // time-out or shut-down cancels it and waits for the cancel, so the buffer
    // is never written after the call. TRANSFER_OK with the byte count, or the
    // failing result.
    int Finish(OVERLAPPED* overlapped, DWORD waitMs, DWORD* transferred) {
        const HANDLE events[2] = {ioEvent.Get(), stopEvent.Get()};
        const DWORD waited = WaitForMultipleObjects(2, events, FALSE, waitMs);
        if (waited != WAIT_OBJECT_0) {
            CancelIo(pipe.Get());
        }
        if (GetOverlappedResult(pipe.Get(), overlapped, transferred, TRUE)) {
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
        overlapped.hEvent = ioEvent.Get();
        ResetEvent(ioEvent.Get());
        *moved = 0;
        const BOOL started = write ? WriteFile(pipe.Get(), buffer, count, nullptr, &overlapped)
                                   : ReadFile(pipe.Get(), buffer, count, nullptr, &overlapped);
        if (started) {
            return GetOverlappedResult(pipe.Get(), &overlapped, moved, FALSE) ? TRANSFER_OK
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

CPipeServer::~CPipeServer() = default;

bool CPipeServer::IsCreated() const {
    return static_cast<bool>(m_impl->pipe);
}

int CPipeServer::Create() {
    if (m_name.empty() || IsCreated()) {
        return 0;
    }
    if (m_servedUser.empty()) {
        m_servedUser = ProcessUserSidString();
        if (m_servedUser.empty()) {
            return 0;
        }
    }
    // The events exist from the first attempt on, so that Shutdown ends the
    // wait of a server that waits for its name.
    if (!m_impl->ioEvent) {
        m_impl->ioEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        m_impl->stopEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!m_impl->ioEvent || !m_impl->stopEvent) {
            return 0;
        }
    }
    // The pipe keeps its own copy of the descriptor.
    const UniquePipeSecurity descriptor(CreatePipeSecurityDescriptor());
    if (!descriptor) {
        return 0;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.Get(), FALSE};
    const std::u16string wide = WidenBytes(m_name);  // the name is plain ASCII
    if (!m_impl->sessionMarker && !m_impl->sessionNotifier) {
        // Someone else's object of that name is no marker of ours: one of
        // another owner is ignored, one that keeps us out can't be opened.
        const std::u16string marker = u"Local\\" + wide.substr(wide.find_last_of(u'\\') + 1);
        m_impl->sessionMarker.Reset(
            CreateMutexW(&attributes, FALSE, reinterpret_cast<const wchar_t*>(marker.c_str())));
        if (m_impl->sessionMarker && GetLastError() == ERROR_ALREADY_EXISTS) {
            m_impl->sessionNotifier =
                SameSid(ObjectOwnerSid(m_impl->sessionMarker.Get()), m_servedUser);
            // The user's marker is held on to: two notifiers starting together
            // both hold it before either makes the pipe, so whichever wins the
            // pipe keeps the marker alive when the other ends. One that lost
            // ends, or waits, and releases it with its process.
            if (!m_impl->sessionNotifier) {
                m_impl->sessionMarker.Reset();
            }
        }
    }
    UniqueFileHandle pipe(CreateNamedPipeW(
        reinterpret_cast<const wchar_t*>(wide.c_str()),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        kPipeBufferSize, kPipeBufferSize, kDefaultTimeoutMs, &attributes));
    if (!pipe) {
        // An existing name: Windows refuses the first instance with
        // ERROR_ACCESS_DENIED; Wine reports the instance limit, ERROR_PIPE_BUSY.
        const DWORD error = GetLastError();
        m_impl->nameTaken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY;
        m_impl->awaitingName = m_impl->awaitingName || m_impl->nameTaken;
        m_impl->nextCreate = std::chrono::steady_clock::now() + kCreateRetryInterval;
        return 0;
    }
    m_impl->nameTaken = m_impl->awaitingName = false;
    m_impl->pipe = std::move(pipe);
    return 1;
}

ChannelHolderFacts CPipeServer::HolderFacts() const {
    if (IsCreated() || !m_impl->nameTaken) {
        return ChannelHolderFacts{};
    }
    ChannelHolderFacts facts = ReadPipeHolderFacts(ToWideString(WidenBytes(m_name)));
    facts.sessionNotifier = m_impl->sessionNotifier;
    return facts;
}

void CPipeServer::Shutdown() {
    m_impl->shutDown = true;
    if (m_impl->stopEvent) {
        SetEvent(m_impl->stopEvent.Get());
    }
}

int CPipeServer::Connect() {
    if (!IsCreated() && m_impl->awaitingName && !m_impl->shutDown) {
        // Someone else holds the name: wait until the next attempt (or the
        // shut-down), then try to create the pipe again.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_impl->nextCreate - std::chrono::steady_clock::now());
        if (WaitForSingleObject(m_impl->stopEvent.Get(), WaitMs(left)) != WAIT_TIMEOUT) {
            return TRANSFER_FAILED;
        }
        if (!m_impl->shutDown && Create() == 1 && m_logger != nullptr) {
            m_logger->Log(1, "Notification channel: the name is free now; serving\n");
        }
    }
    if (!IsCreated() || m_impl->shutDown) {
        return TRANSFER_FAILED;
    }
    if (m_impl->connected) {
        return TRANSFER_OK;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_impl->ioEvent.Get();
    ResetEvent(m_impl->ioEvent.Get());
    bool connected = ConnectNamedPipe(m_impl->pipe.Get(), &overlapped) != FALSE;
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
        DisconnectNamedPipe(m_impl->pipe.Get());
        return TRANSFER_FAILED;
    }
    m_impl->connected = true;
    m_impl->clientServed = false;
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
    if (result == TRANSFER_OK && !m_impl->clientServed) {
        const PipeClientVerdict verdict =
            JudgePipeClient(ReadPipeClientIdentity(m_impl->pipe.Get(), m_logger), m_servedUser);
        if (!verdict.served) {
            if (m_logger != nullptr && m_impl->refusals.FirstRefusal(verdict.note)) {
                m_logger->Log(1, "Notification client refused: %s\n", verdict.note.c_str());
            }
            Disconnect();
            return TRANSFER_REFUSED;
        }
        if (!verdict.note.empty() && m_logger != nullptr && !m_impl->uncheckedLogged) {
            m_impl->uncheckedLogged = true;
            m_logger->Log(1,
                          "Notification client served unchecked: %s; the pipe's access list "
                          "admitted it\n",
                          verdict.note.c_str());
        }
        m_impl->clientServed = true;
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
        DisconnectNamedPipe(m_impl->pipe.Get());
        m_impl->connected = false;
    }
}
