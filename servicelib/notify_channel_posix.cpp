// The library's channels on posix: Unix domain stream sockets; the users
// with sessions from logind over the system bus.
#include "notify_channel.h"

#include <dbus/dbus.h>

#include "channel/channel_access.h"
#include "channel/channel_name.h"
#include "channel/pipe_client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Waits for `events` on `fd` until `deadline`, or until `stopFd` (an
// eventfd) is signalled: SERVE_FAILED on time-out or error, SERVE_STOPPED,
// or 1 when `fd` is ready.
long WaitFor(int fd, short events, int stopFd, ServeClock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - ServeClock::now()).count();
        pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
        const int ready = poll(p, 2, static_cast<int>(std::clamp<long long>(left, 0, INT32_MAX)));
        if (ready > 0 && p[0].revents != 0) {
            return SERVE_STOPPED;
        }
        if (ready > 0) {
            return 1;
        }
        if (ready == 0 || errno != EINTR) {
            return SERVE_FAILED;
        }
    }
}

bool IsStopped(int stopFd) {
    return WaitFor(-1, 0, stopFd, ServeClock::now()) == SERVE_STOPPED;
}

bool MakeAddress(const std::string& path, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) {
        return false;
    }
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

class CSocketConnection : public CServeConnection {
public:
    CSocketConnection(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}
    ~CSocketConnection() override { close(m_fd); }

    long ReadSome(uint8_t* buffer, uint32_t max, ServeClock::time_point deadline) override {
        for (;;) {
            if (IsStopped(m_stopFd)) {
                return SERVE_STOPPED;
            }
            const ssize_t n = recv(m_fd, buffer, max, 0);
            if (n >= 0) {
                return static_cast<long>(n);
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == ECONNRESET) {
                return SERVE_CLOSED;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return SERVE_FAILED;
            }
            const long waited = WaitFor(m_fd, POLLIN, m_stopFd, deadline);
            if (waited < 0) {
                return waited;
            }
        }
    }

    bool Write(const Bytes& bytes, ServeClock::time_point deadline) override {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (WaitFor(m_fd, POLLOUT, m_stopFd, deadline) < 0) {
                    return false;
                }
            } else {
                return false;
            }
        }
        return true;
    }

    // A socket's reply stays readable after this end is closed.
    bool AwaitClose(ServeClock::time_point) override { return true; }

    std::string PeerKey() override {
        uint32_t uid = 0;
        return PeerUserId(m_fd, &uid) ? "uid " + std::to_string(uid) : std::string();
    }

private:
    int m_fd;
    int m_stopFd;
};

class CSocketListener : public CServeListener {
public:
    CSocketListener(int fd, int stopFd, std::string path)
        : m_fd(fd), m_stopFd(stopFd), m_path(std::move(path)) {}
    ~CSocketListener() override {
        close(m_fd);
        close(m_stopFd);
        unlink(m_path.c_str());
    }

    std::unique_ptr<CServeConnection> Accept(ServeClock::time_point deadline) override {
        for (;;) {
            if (WaitFor(m_fd, POLLIN, m_stopFd, deadline) < 0) {
                return nullptr;
            }
            const int fd = accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                return std::make_unique<CSocketConnection>(fd, m_stopFd);
            }
            if (ServeClock::now() >= deadline) {
                return nullptr;  // a client that came and went; the wait is over
            }
        }
    }

    void Stop() override {
        const uint64_t one = 1;
        // An eventfd only fails to count up at its maximum: stopped anyway.
        [[maybe_unused]] const ssize_t written = write(m_stopFd, &one, sizeof one);
    }

private:
    int m_fd;
    int m_stopFd;
    std::string m_path;
};

}  // namespace

const char* UserIdOption() {
    return "--uid";
}

std::optional<std::string> LookupUserId(const std::string& userName) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(userName.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return std::nullopt;
    }
    return std::to_string(static_cast<unsigned long>(found->pw_uid));
}

std::string CurrentUserId() {
    return std::to_string(static_cast<unsigned long>(getuid()));
}

void ExpectNotifierOf(CPipeClient& client, const std::string& userId) {
    char* end = nullptr;
    errno = 0;
    const unsigned long uid = std::strtoul(userId.c_str(), &end, 10);
    if (!userId.empty() && *end == '\0' && errno == 0 && uid <= UINT32_MAX) {
        client.SetExpectedServerUser(static_cast<uint32_t>(uid));
    }
}

std::string ChannelOwnerProblem(CPipeClient&, const std::string&) {
    return std::string();  // checked when the connection was opened
}

namespace {

// logind's users: ListUsers on the system bus, each user's uid. A private
// connection, closed again, so that nothing is shared with the caller's own
// use of libdbus. Nothing when logind can't be asked.
std::optional<std::vector<uint32_t>> LogindUsers() {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
    if (bus == nullptr) {
        dbus_error_free(&error);
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(bus, FALSE);
    std::optional<std::vector<uint32_t>> users;
    DBusMessage* call =
        dbus_message_new_method_call("org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "ListUsers");
    DBusMessage* reply = call != nullptr
                             ? dbus_connection_send_with_reply_and_block(bus, call, 5000, &error)
                             : nullptr;
    DBusMessageIter top;
    if (reply != nullptr && dbus_message_iter_init(reply, &top) &&
        dbus_message_iter_get_arg_type(&top) == DBUS_TYPE_ARRAY) {
        users.emplace();
        DBusMessageIter array;
        dbus_message_iter_recurse(&top, &array);
        // Each entry is (uid, name, object path).
        while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT) {
            DBusMessageIter entry;
            dbus_message_iter_recurse(&array, &entry);
            if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_UINT32) {
                dbus_uint32_t uid = 0;
                dbus_message_iter_get_basic(&entry, &uid);
                users->push_back(uid);
            }
            dbus_message_iter_next(&array);
        }
    }
    dbus_error_free(&error);
    if (reply != nullptr) {
        dbus_message_unref(reply);
    }
    if (call != nullptr) {
        dbus_message_unref(call);
    }
    dbus_connection_close(bus);
    dbus_connection_unref(bus);
    return users;
}

}  // namespace

std::optional<std::vector<SessionUser>> ListSessionUsers() {
    const std::optional<std::vector<uint32_t>> uids = LogindUsers();
    if (!uids) {
        return std::nullopt;
    }
    std::vector<SessionUser> users;
    for (const uint32_t uid : *uids) {
        users.push_back(SessionUser{0, std::to_string(uid)});
    }
    return users;
}

std::string SessionUserId(uint32_t) {
    return std::string();  // logind's sessions are named, not numbered: ListSessionUsers
}

std::unique_ptr<CServeListener> CreateServeListener(const std::string& name, std::string* error) {
    sockaddr_un address;
    if (!MakeAddress(name, &address)) {
        *error = "the socket path is empty or too long";
        return nullptr;
    }
    // The service's own folder lets every user in to reach the socket; any
    // other folder (ORLIVAN_CHANNEL_DIR) is private, as the notifier keeps it.
    const std::string dir = ChannelFolderOf(name);
    if (!dir.empty()) {
        const FolderUse use = dir == kPosixCommandFolder ? FolderUse::Shared : FolderUse::Private;
        switch (PrepareChannelFolder(dir, use)) {
            case FolderVerdict::Usable:
                break;
            case FolderVerdict::Missing:
                *error = "the folder " + dir + " can't be created";
                return nullptr;
            case FolderVerdict::NotAFolder:
                *error = dir + " is not a folder";
                return nullptr;
            case FolderVerdict::SymbolicLink:
                *error = dir + " is a symbolic link";
                return nullptr;
            case FolderVerdict::Unreachable:
                *error = "the folder " + dir + " can't be opened";
                return nullptr;
            case FolderVerdict::NotOwned:
                *error = "the folder " + dir + " belongs to another user";
                return nullptr;
            case FolderVerdict::OpenToOthers:
                *error = "the folder " + dir + " is open to other users";
                return nullptr;
        }
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    // A socket file left behind by a server that has gone is replaced; one
    // that still answers belongs to a running server.
    struct stat info {};
    if (lstat(name.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool alive = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                                 sizeof address) == 0;
        if (probe >= 0) {
            close(probe);
        }
        if (alive) {
            close(fd);
            *error = "another server is listening there";
            return nullptr;
        }
        unlink(name.c_str());
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(name.c_str(), 0666) != 0 || listen(fd, SOMAXCONN) != 0) {
        *error = std::strerror(errno);
        close(fd);
        return nullptr;
    }
    const int stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd < 0) {
        *error = std::strerror(errno);
        close(fd);
        unlink(name.c_str());
        return nullptr;
    }
    return std::make_unique<CSocketListener>(fd, stopFd, name);
}
