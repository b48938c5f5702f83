// The posix channels' privacy: the channel folder as the file system has it,
// and the command client's check of its server, run as another user in a
// child process (needs root; skipped otherwise). The notification channel's
// check of its clients is shown end to end (tests/linux).
#include "channel/channel_access.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "channel/pipe_server.h"
#include "channel/pipe_client.h"

namespace {

constexpr uid_t kNobody = 65534;

std::string TempDir() {
    char pattern[] = "/tmp/orlivan-access-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "";
}

sockaddr_un Address(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// Runs `job` in a child process as the user nobody; returns its pid.
template <typename Job>
pid_t AsNobody(Job job) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(2);
        }
        _exit(job());
    }
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(ChannelFolderPosix, CreatedPrivateAndJudgedAsItIsOnDisk) {
    const std::string top = TempDir();
    const mode_t oldMask = umask(0);
    EXPECT_EQ(PrepareChannelFolder(top + "/new", FolderUse::Private), FolderVerdict::Usable);
    umask(oldMask);
    struct stat info {};
    ASSERT_EQ(stat((top + "/new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    ASSERT_EQ(mkdir((top + "/open").c_str(), 0700), 0);
    chmod((top + "/open").c_str(), 0755);
    EXPECT_EQ(PrepareChannelFolder(top + "/open", FolderUse::Private), FolderVerdict::OpenToOthers);
    EXPECT_EQ(PrepareChannelFolder(top + "/open", FolderUse::Shared), FolderVerdict::Usable);
    ASSERT_EQ(symlink((top + "/new").c_str(), (top + "/link").c_str()), 0);
    EXPECT_EQ(PrepareChannelFolder(top + "/link", FolderUse::Private), FolderVerdict::SymbolicLink);
    ASSERT_EQ(std::system(("touch " + top + "/file").c_str()), 0);
    EXPECT_EQ(PrepareChannelFolder(top + "/file", FolderUse::Private), FolderVerdict::NotAFolder);
    EXPECT_EQ(PrepareChannelFolder(top + "/no/such", FolderUse::Private), FolderVerdict::Missing);
    if (geteuid() == 0) {
        // Seen by another user, who can't open them: root's private folder is
        // another user's, the user's own folder of mode 0 can't be opened, nor
        // can a folder inside root's.
        ASSERT_EQ(chmod(top.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((top + "/own").c_str(), 0), 0);
        ASSERT_EQ(chown((top + "/own").c_str(), kNobody, kNobody), 0);
        const std::pair<std::string, FolderVerdict> unopened[] = {
            {top + "/new", FolderVerdict::NotOwned},
            {top + "/own", FolderVerdict::Unreachable},
            {top + "/new/inner", FolderVerdict::Unreachable},
        };
        for (const auto& [folder, verdict] : unopened) {
            const pid_t child = AsNobody(
                [&] { return static_cast<int>(PrepareChannelFolder(folder, FolderUse::Private)); });
            EXPECT_EQ(ExitCode(child), static_cast<int>(verdict)) << folder;
        }
        ASSERT_EQ(chown((top + "/new").c_str(), kNobody, kNobody), 0);
        EXPECT_EQ(PrepareChannelFolder(top + "/new", FolderUse::Private), FolderVerdict::NotOwned);
    }
    // And the server refuses to make its channel in a folder that is not private.
    CPipeServer server(top + "/open/notification");
    EXPECT_EQ(server.Create(), 0);
    EXPECT_EQ(std::system(("rm -rf " + top).c_str()), 0);
}

TEST(ChannelPeersPosix, ServerOfAnotherUserCountsAsNoServiceUnlessExpected) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run a server as another user";
    }
    const std::string dir = TempDir();
    chmod(dir.c_str(), 0777);
    const std::string path = dir + "/command";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = AsNobody([&] {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un address = Address(path);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd, 8) != 0) {
            return 1;
        }
        [[maybe_unused]] ssize_t n = write(ready[1], "r", 1);
        sleep(5);  // ended by the test
        return 0;
    });
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);

    CPipeClient client(path);
    EXPECT_EQ(client.Open(), 0);
    client.SetExpectedServerUser(kNobody);
    EXPECT_EQ(client.Open(), 1);
    client.Close();

    kill(child, SIGKILL);
    ExitCode(child);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}
