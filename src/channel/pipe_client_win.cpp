// Command channel client over a named pipe. The pipe is opened for overlapped
// I/O so that every transfer can give up at its deadline, and with an
// identification-level security quality of service, so that whatever process
// holds the pipe's name can learn who we are but never act as us. The
// service's command pipe is used only when its owner is a service's account:
// while the service does not hold the name, anybody could create it.
#include "channel/pipe_client.h"
#include "channel/pipe_client_win.h"

#include <windows.h>

#include <chrono>

#include "base/text.h"
#include "base/unique_handle_win.h"
#include "channel/channel_access.h"
#include "channel/pipe_identity_win.h"

namespace {

HANDLE AsHandle(intptr_t pipe) {
    return reinterpret_cast<HANDLE>(pipe);
}

// One overlapped transfer of up to `count` bytes; the number moved, or -1 on
// failure or when `timeoutMs` ran out (the transfer is cancelled then).
long Transfer(HANDLE pipe, bool write, void* buffer, DWORD count, DWORD timeoutMs) {
    const UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        return -1;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.Get();
    DWORD moved = 0;
    BOOL ok = write ? WriteFile(pipe, buffer, count, nullptr, &overlapped)
                    : ReadFile(pipe, buffer, count, nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
            CancelIo(pipe);
        }
        ok = GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
    } else if (ok) {
        ok = GetOverlappedResult(pipe, &overlapped, &moved, FALSE);
    }
    return ok ? static_cast<long>(moved) : -1;
}

// Moves exactly `count` bytes by `deadline`, however the pipe splits them.
int TransferAll(HANDLE pipe, bool write, void* buffer, uint32_t count, ExchangeDeadline deadline) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - ExchangeClock::now());
        if (left.count() <= 0) {
            return 0;
        }
        const DWORD waitMs =
            left.count() < INFINITE ? static_cast<DWORD>(left.count()) : INFINITE - 1;
        const long moved = Transfer(pipe, write, bytes + done, count - done, waitMs);
        if (moved <= 0) {
            return 0;
        }
        done += static_cast<uint32_t>(moved);
    }
    return 1;
}

}  // namespace

int CPipeClient::Open() {
    if (m_pipe != INVALID_PIPE) {
        return 1;
    }
    if (m_interrupted) {
        return 0;
    }
    const std::optional<std::u16string> wide = Utf8ToUtf16(m_name);
    if (!wide || wide->empty()) {
        m_openFailure = ChannelOpenFailure::Absent;
        return 0;
    }
    const HANDLE pipe = CreateFileW(
        reinterpret_cast<const wchar_t*>(wide->c_str()), kCommandPipeOpenAccess, 0, nullptr,
        OPEN_EXISTING, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
        nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        // No such pipe, or every instance busy: no waiting, no retry.
        const DWORD error = GetLastError();
        m_openFailure = error == ERROR_PIPE_BUSY       ? ChannelOpenFailure::Busy
                        : error == ERROR_ACCESS_DENIED ? ChannelOpenFailure::Denied
                                                       : ChannelOpenFailure::Absent;
        return 0;
    }
    if (m_requireServiceOwner) {
        // Read through this very handle (GENERIC_READ carries READ_CONTROL):
        // the pipe we would write to, not one looked up by name.
        const std::string owner = ObjectOwnerSid(pipe);
        if (!IsServiceOwner(owner)) {
            CloseHandle(pipe);
            m_openFailure = ChannelOpenFailure::NotTheUsers;
            if (m_serviceOwnerRefused) {
                m_serviceOwnerRefused(CommandPipeOwnerRefusalText(m_name, owner));
            }
            return 0;
        }
    }
    m_openFailure = ChannelOpenFailure::None;
    m_pipe = reinterpret_cast<intptr_t>(pipe);
    return 1;
}

int CPipeClient::Write(uint32_t count, const void* buffer, ExchangeDeadline deadline) {
    if (Open() == 0) {
        return 0;
    }
    return TransferAll(AsHandle(m_pipe), true, const_cast<void*>(buffer), count, deadline);
}

int CPipeClient::Read(uint32_t count, void* buffer, ExchangeDeadline deadline) {
    if (Open() == 0) {
        return 0;
    }
    return TransferAll(AsHandle(m_pipe), false, buffer, count, deadline);
}

long CPipeClient::ReadSome(void* buffer, uint32_t max, ExchangeDeadline deadline) {
    if (m_pipe == INVALID_PIPE) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - ExchangeClock::now());
    if (left.count() <= 0) {
        return -1;
    }
    const DWORD waitMs = left.count() < INFINITE ? static_cast<DWORD>(left.count()) : INFINITE - 1;
    const long moved = Transfer(AsHandle(m_pipe), false, buffer, max, waitMs);
    if (moved < 0) {
        const DWORD error = GetLastError();
        return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ? 0 : -1;
    }
    return moved;
}

void CPipeClient::Close() {
    if (m_pipe != INVALID_PIPE) {
        CloseHandle(AsHandle(m_pipe));
        m_pipe = INVALID_PIPE;
    }
}
