// The channel suites' transport on posix: Unix domain sockets in private
// folders.
#include "channel_test_transport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "channel/channel_name.h"

namespace {

std::string MakeTempDir() {
    char pattern[] = "/tmp/orlivan-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "";
}

// Removes a channel folder and what servers leave in it: their sockets (a
// server removes its own on a clean end) and lock files.
void RemoveChannelFolder(const std::string& folder, const std::string& baseName) {
    unlink((folder + "/" + baseName).c_str());
    unlink((folder + "/" + baseName + ".lock").c_str());
    rmdir(folder.c_str());
}

}  // namespace

TestChannelName::TestChannelName(const std::string& baseName) : m_folder(MakeTempDir()) {
    EXPECT_FALSE(m_folder.empty());
    m_name = m_folder + "/" + baseName;
}

TestChannelName::~TestChannelName() {
    RemoveChannelFolder(m_folder, m_name.substr(m_folder.size() + 1));
}

std::string TestChannelName::FilePath(const std::string& suffix) const {
    return m_name + suffix;
}

TestUserChannels::TestUserChannels() : m_folder(MakeTempDir()), m_userId("1000") {
    EXPECT_FALSE(m_folder.empty());
    setenv(kChannelDirVariable, m_folder.c_str(), 1);
}

TestUserChannels::~TestUserChannels() {
    unsetenv(kChannelDirVariable);
    unlink(PosixCommandChannelName(m_folder).c_str());
    const std::string notification = PosixNotificationChannelName(m_folder);
    RemoveChannelFolder(m_folder, notification.substr(m_folder.size() + 1));
}

TestClient::TestClient(const std::string& name) {
    m_handle = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.c_str(), sizeof address.sun_path - 1);
    if (connect(static_cast<int>(m_handle), reinterpret_cast<sockaddr*>(&address),
                sizeof address) != 0) {
        Close();
    }
}

TestClient::~TestClient() {
    Close();
}

bool TestClient::Connected() const {
    return m_handle >= 0;
}

void TestClient::Send(const std::string& bytes) {
    ASSERT_EQ(send(static_cast<int>(m_handle), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

std::string TestClient::Receive(size_t count, std::chrono::milliseconds wait) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (got.size() < count && !m_ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fds[1] = {{static_cast<int>(m_handle), POLLIN, 0}};
        if (left.count() <= 0 || poll(fds, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[64];
        const ssize_t n = recv(static_cast<int>(m_handle), buffer,
                               std::min(sizeof buffer, count - got.size()), 0);
        if (n <= 0) {
            m_ended = true;
            break;
        }
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

void TestClient::Close() {
    if (m_handle >= 0) {
        close(static_cast<int>(m_handle));
        m_handle = -1;
    }
}
