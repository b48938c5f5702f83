// Command channel client over a Unix domain stream socket. Before anything is
// sent the server's credentials are checked: root, or the expected user.
// Transfers use non-blocking I/O with poll, so no transfer waits past its
// deadline.
#include "channel/pipe_client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "channel/channel_access.h"

namespace {

using Clock = ExchangeClock;

// Waits for `events` on `fd` until `deadline`; false on time-out, error or
// interruption (looked at every kInterruptCheckMs).
bool WaitFor(int fd, short events, Clock::time_point deadline,
             const std::atomic<bool>& interrupted) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || interrupted) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int ready = poll(
            &p, 1, static_cast<int>(std::min<long long>(left, CPipeClient::kInterruptCheckMs)));
        if (ready > 0) {
            return true;  // readable, writable, or an error the transfer will report
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

int CPipeClient::Open() {
    if (m_pipe != INVALID_PIPE) {
        return 1;
    }
    if (m_interrupted) {
        return 0;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_name.empty() || m_name.size() >= sizeof address.sun_path) {
        m_openFailure = ChannelOpenFailure::Absent;
        return 0;
    }
    std::memcpy(address.sun_path, m_name.data(), m_name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_openFailure = ChannelOpenFailure::Absent;
        return 0;
    }
    // A non-blocking connect to a local socket completes at once or fails at
    // once (no listener, or its queue is full: the channel is busy).
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        m_openFailure = error == EAGAIN || error == EWOULDBLOCK ? ChannelOpenFailure::Busy
                        : error == EACCES || error == EPERM     ? ChannelOpenFailure::Denied
                                                                : ChannelOpenFailure::Absent;
        close(fd);
        return 0;
    }
    uint32_t server = 0;
    if (!PeerUserId(fd, &server) ||
        !IsTrustedServer(server, m_expectedServerUid.value_or(ProcessUserId()))) {
        close(fd);  // somebody else's socket: no service
        m_openFailure = ChannelOpenFailure::NotTheUsers;
        return 0;
    }
    m_openFailure = ChannelOpenFailure::None;
    m_pipe = fd;
    return 1;
}

int CPipeClient::Write(uint32_t count, const void* buffer, ExchangeDeadline deadline) {
    if (Open() == 0) {
        return 0;
    }
    const int fd = static_cast<int>(m_pipe);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = send(fd, bytes + done, count - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline, m_interrupted)) {
                return 0;
            }
        } else {
            return 0;
        }
    }
    return 1;
}

int CPipeClient::Read(uint32_t count, void* buffer, ExchangeDeadline deadline) {
    if (Open() == 0) {
        return 0;
    }
    const int fd = static_cast<int>(m_pipe);
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = recv(fd, bytes + done, count - done, 0);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
        } else if (n == 0) {
            return 0;  // the service closed the connection
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(fd, POLLIN, deadline, m_interrupted)) {
                return 0;
            }
        } else {
            return 0;
        }
    }
    return 1;
}

long CPipeClient::ReadSome(void* buffer, uint32_t max, ExchangeDeadline deadline) {
    if (m_pipe == INVALID_PIPE) {
        return -1;
    }
    const int fd = static_cast<int>(m_pipe);
    for (;;) {
        const ssize_t n = recv(fd, buffer, max, 0);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == ECONNRESET) {
            return 0;  // the server dropped the connection
        }
        if (errno == EINTR) {
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) ||
            !WaitFor(fd, POLLIN, deadline, m_interrupted)) {
            return -1;
        }
    }
}

void CPipeClient::Close() {
    if (m_pipe != INVALID_PIPE) {
        close(static_cast<int>(m_pipe));
        m_pipe = INVALID_PIPE;
    }
}
