// The notification channel over a Unix domain socket in a folder private to
// the user. The socket file is guarded by a lock file beside it, held for the
// life of the server, so only one server owns the name and a socket file left
// by a server that died is replaced. Each accepted client is checked by its
// credentials: root or the user's own uid, anybody else is dropped. Every wait
// is bounded, so a stalled client never holds the worker beyond the limit:
// waits for a client or for room to write use poll with a wake pipe, reads
// block with the socket's receive time-out; Shutdown ends them all.
//
// Reads go through a small buffer: one receive takes a whole frame, length
// word and body, when the client has sent it, which keeps an acknowledged
// record to one receive, the log line and the reply. What is left in the
// buffer belongs to the connected client and goes when it is dropped.
//
// A process may end through exit() with its server still alive: the toolkit
// ends the program that way when the display server goes away at the end of
// a session, and no destructor runs then. The socket file of every live
// server is removed by an exit handler too, and on request by a program about
// to end without exit handlers (pipe_server_posix.h).
#include "channel/pipe_server.h"
#include "channel/pipe_server_posix.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "channel/channel_access.h"
#include "log/logger.h"

namespace {

// Bytes taken from the socket in one receive: a few acknowledged records.
constexpr uint32_t kReceiveBufferSize = 512;

// The socket's receive time-out is set again only when the wait asked for
// differs from it by more than this, so a run of records costs no set-up.
constexpr long kReceiveWaitSlackMs = 20;

}  // namespace

struct CPipeServer::Impl {
    int listenFd = -1;
    int clientFd = -1;
    int lockFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    int exitRemoval = -1;  // the slot that removes the socket file at exit; -1: none
    std::atomic<bool> shutDown{false};
    CPeerRefusals refusals;
    // Guards the client's descriptor while it is taken or dropped, so Shutdown
    // from another thread never reaches a number already reused elsewhere.
    std::mutex clientLock;
    long receiveWaitMs = -1;  // the client socket's receive time-out; -1: not set
    unsigned char received[kReceiveBufferSize];
    uint32_t receivedStart = 0;
    uint32_t receivedEnd = 0;

    // Hands out up to `count` bytes read ahead; 0 when none are left.
    uint32_t TakeReceived(void* buffer, uint32_t count) {
        const uint32_t n = std::min(count, receivedEnd - receivedStart);
        std::memcpy(buffer, received + receivedStart, n);
        receivedStart += n;
        return n;
    }

    void DropClient() {
        std::lock_guard<std::mutex> lock(clientLock);
        if (clientFd >= 0) {
            close(clientFd);
            clientFd = -1;
        }
        receiveWaitMs = -1;
        receivedStart = receivedEnd = 0;
    }
};

namespace {

// The socket files the exit handler removes. Slots are taken and given back
// with atomics only, so the handler may run on any thread at any moment; a
// server that finds every slot taken leaves its file to the next server. A
// child forked from the process (a program being started) removes nothing.
constexpr int kExitRemovalSlots = 8;
enum : int { kSlotFree, kSlotFilling, kSlotArmed };
struct ExitRemoval {
    std::atomic<int> state{kSlotFree};
    pid_t owner = 0;
    char path[sizeof(sockaddr_un::sun_path)];
};
ExitRemoval g_exitRemovals[kExitRemovalSlots];

// A slot that removes `path` at exit, or -1. `path` fits sun_path.
int ArmExitRemoval(const std::string& path) {
    static const bool registered = std::atexit(&RemoveLiveSocketFiles) == 0;
    if (!registered) {
        return -1;
    }
    for (int i = 0; i < kExitRemovalSlots; ++i) {
        int expected = kSlotFree;
        if (g_exitRemovals[i].state.compare_exchange_strong(expected, kSlotFilling)) {
            g_exitRemovals[i].owner = getpid();
            std::memcpy(g_exitRemovals[i].path, path.c_str(), path.size() + 1);
            g_exitRemovals[i].state.store(kSlotArmed);
            return i;
        }
    }
    return -1;
}

void DisarmExitRemoval(int* slot) {
    if (*slot >= 0) {
        g_exitRemovals[*slot].state.store(kSlotFree);
        *slot = -1;
    }
}

void CloseFd(int* fd) {
    if (*fd >= 0) {
        close(*fd);
        *fd = -1;
    }
}

int PollTimeout(std::chrono::milliseconds timeout) {
    if (timeout.count() <= 0) {
        return 0;
    }
    return timeout.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(timeout.count());
}

// Waits for `events` on `fd` or for the wake pipe, at most `timeout`: 1 when
// `fd` is ready, 0 on time-out, -1 on failure or shut-down.
int PollOrWake(int fd, short events, int wakeFd, std::chrono::milliseconds timeout) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(fds, wakeFd >= 0 ? 2 : 1, PollTimeout(timeout));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || (fds[1].revents & POLLIN) != 0) {
            return -1;
        }
        return ready == 0 ? 0 : 1;
    }
}

}  // namespace

void RemoveLiveSocketFiles() {
    const pid_t self = getpid();
    for (ExitRemoval& slot : g_exitRemovals) {
        if (slot.state.load() == kSlotArmed && slot.owner == self) {
            unlink(slot.path);  // the server's lock is held until the process is gone
        }
    }
}

CPipeServer::CPipeServer(std::string name) : m_name(std::move(name)), m_impl(new Impl) {}

CPipeServer::~CPipeServer() {
    m_impl->DropClient();
    DisarmExitRemoval(&m_impl->exitRemoval);
    if (m_impl->listenFd >= 0) {
        CloseFd(&m_impl->listenFd);
        unlink(m_name.c_str());  // still under the lock: nobody else can own it yet
    }
    CloseFd(&m_impl->lockFd);
    CloseFd(&m_impl->wakeRead);
    CloseFd(&m_impl->wakeWrite);
}

bool CPipeServer::IsCreated() const {
    return m_impl->listenFd >= 0;
}

ChannelHolderFacts CPipeServer::HolderFacts() const {
    // The folder is private to the user (JudgeChannelFolder): a live socket in
    // it is the user's own notifier's, or the folder was refused.
    return ChannelHolderFacts{};
}

int CPipeServer::Create() {
    if (m_name.empty() || m_name.back() == '/' || IsCreated()) {
        return 0;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_name.size() >= sizeof address.sun_path) {
        return 0;
    }
    std::memcpy(address.sun_path, m_name.c_str(), m_name.size() + 1);

    // The folder is made private (0700) when missing; one that another user
    // owns or that others may enter is refused, so no one else can take the
    // name first or read what is sent.
    if (PrepareChannelFolder(ChannelFolderOf(m_name), FolderUse::Private) !=
        FolderVerdict::Usable) {
        return 0;
    }
    const std::string lockPath = m_name + ".lock";
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) {
        return 0;
    }
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd);  // another server holds the name
        return 0;
    }
    int wake[2];
    if (pipe(wake) != 0) {
        close(lockFd);
        return 0;
    }
    fcntl(wake[0], F_SETFD, FD_CLOEXEC);
    fcntl(wake[1], F_SETFD, FD_CLOEXEC);

    unlink(m_name.c_str());  // left by a server that is gone
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(m_name.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        close(wake[0]);
        close(wake[1]);
        close(lockFd);
        return 0;
    }
    m_impl->listenFd = fd;
    m_impl->lockFd = lockFd;
    m_impl->wakeRead = wake[0];
    m_impl->wakeWrite = wake[1];
    m_impl->exitRemoval = ArmExitRemoval(m_name);
    return 1;
}

void CPipeServer::Shutdown() {
    m_impl->shutDown = true;
    if (m_impl->wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t written = write(m_impl->wakeWrite, &byte, 1);
    }
    // A read blocked on the client ends when its socket is shut down.
    std::lock_guard<std::mutex> lock(m_impl->clientLock);
    if (m_impl->clientFd >= 0) {
        shutdown(m_impl->clientFd, SHUT_RDWR);
    }
}

int CPipeServer::Connect() {
    if (m_impl->listenFd < 0 || m_impl->shutDown) {
        return TRANSFER_FAILED;
    }
    if (m_impl->clientFd >= 0) {
        return TRANSFER_OK;
    }
    for (;;) {
        pollfd fds[2] = {{m_impl->listenFd, POLLIN, 0}, {m_impl->wakeRead, POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return TRANSFER_FAILED;
        }
        if (m_impl->shutDown || (fds[1].revents & POLLIN) != 0) {
            return TRANSFER_FAILED;
        }
        const int client = accept4(m_impl->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            uint32_t peer = 0;
            const bool known = PeerUserId(client, &peer);
            if (known && MayServePeer(peer, ProcessUserId())) {
                // Taken under the lock, and only while the channel is open:
                // Shutdown either sees this client or is seen here.
                std::lock_guard<std::mutex> lock(m_impl->clientLock);
                if (m_impl->shutDown) {
                    close(client);
                    return TRANSFER_FAILED;
                }
                m_impl->clientFd = client;
                return TRANSFER_OK;
            }
            close(client);
            if (m_logger != nullptr && m_impl->refusals.FirstRefusal(known ? peer : UINT32_MAX)) {
                m_logger->Log(1, "Notification client refused: user %ld is not the service\n",
                              known ? static_cast<long>(peer) : -1L);
            }
            continue;
        }
        if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) {
            return TRANSFER_FAILED;
        }
    }
}

int CPipeServer::ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds timeout,
                          uint32_t* transferred) {
    *transferred = 0;
    Impl& impl = *m_impl;
    if (impl.clientFd < 0) {
        return TRANSFER_CLOSED;
    }
    if (count == 0 || impl.shutDown) {
        return TRANSFER_FAILED;
    }
    *transferred = impl.TakeReceived(buffer, count);
    if (*transferred > 0) {
        return TRANSFER_OK;
    }
    if (timeout.count() <= 0) {
        return TRANSFER_TIMED_OUT;
    }
    const long waitMs = PollTimeout(timeout);
    if (impl.receiveWaitMs < 0 || std::labs(impl.receiveWaitMs - waitMs) > kReceiveWaitSlackMs) {
        const timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
        if (setsockopt(impl.clientFd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0) {
            return TRANSFER_FAILED;
        }
        impl.receiveWaitMs = waitMs;
    }
    // Large reads go straight to the caller; small ones fill the buffer.
    const bool direct = count >= kReceiveBufferSize;
    ssize_t got;
    do {
        got = direct ? recv(impl.clientFd, buffer, count, 0)
                     : recv(impl.clientFd, impl.received, kReceiveBufferSize, 0);
    } while (got < 0 && errno == EINTR && !impl.shutDown);
    if (impl.shutDown) {
        return TRANSFER_FAILED;
    }
    if (got > 0) {
        if (direct) {
            *transferred = static_cast<uint32_t>(got);
        } else {
            impl.receivedStart = 0;
            impl.receivedEnd = static_cast<uint32_t>(got);
            *transferred = impl.TakeReceived(buffer, count);
        }
        return TRANSFER_OK;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return TRANSFER_TIMED_OUT;
    }
    if (got == 0 || errno == ECONNRESET || errno == EPIPE) {
        return TRANSFER_CLOSED;
    }
    return TRANSFER_FAILED;
}

int CPipeServer::WriteAll(const void* buffer, uint32_t count, std::chrono::milliseconds timeout) {
    if (m_impl->clientFd < 0) {
        return TRANSFER_CLOSED;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return TRANSFER_TIMED_OUT;
        }
        if (m_impl->shutDown) {
            return TRANSFER_FAILED;
        }
        const ssize_t sent =
            send(m_impl->clientFd, bytes + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<uint32_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The socket's buffer is full: wait until the client takes some.
            const int ready = PollOrWake(m_impl->clientFd, POLLOUT, m_impl->wakeRead, left);
            if (ready < 0) {
                return TRANSFER_FAILED;
            }
            if (ready == 0) {
                return TRANSFER_TIMED_OUT;
            }
            continue;
        }
        if (sent < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            return TRANSFER_CLOSED;
        }
        return TRANSFER_FAILED;
    }
    return TRANSFER_OK;
}

void CPipeServer::Disconnect() {
    m_impl->DropClient();
}
