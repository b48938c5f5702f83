// The posix channels' privacy: the channel folder as the file system has it,
// and the command client's check of its server, run as another user in a
// child process. The checks that need a second user need root: without it
// they are skipped, and fail under CI (CI=true), where they must run. The
// notification channel's check of its clients is shown end to end (tests/linux).
#include "channel/channel_access.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "channel/pipe_server.h"
#include "channel/pipe_client.h"

namespace {

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The second user the cross-user checks act as: nobody (every Debian system
// has it). uid 0 when this process cannot act as another user (not root).
User SecondUser() {
    const passwd* entry = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    return entry != nullptr ? User{entry->pw_uid, entry->pw_gid} : User{};
}

// Ends a check that has no second user: a skip, or a failure under CI.
#define REQUIRE_SECOND_USER(user)                                                             \
    if ((user).uid == 0) {                                                                    \
        if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true") { \
            GTEST_FAIL() << "security check not run under CI: not root";                      \
        }                                                                                     \
        GTEST_SKIP() << "needs root to act as a second user";                                 \
    }

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

// Runs `job` in a child process as `user`; returns its pid.
template <typename Job>
pid_t AsUser(User user, Job job) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(user.gid) != 0 || setuid(user.uid) != 0) {
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
    // And the server refuses to make its channel in a folder that is not private.
    CPipeServer server(top + "/open/notification");
    EXPECT_EQ(server.Create(), 0);
    EXPECT_EQ(std::system(("rm -rf " + top).c_str()), 0);
}

TEST(ChannelFolderPosix, FolderOfAnotherUserIsNotOwned) {
    const User other = SecondUser();
    REQUIRE_SECOND_USER(other)
    const std::string top = TempDir();
    ASSERT_EQ(mkdir((top + "/theirs").c_str(), 0700), 0);
    ASSERT_EQ(chown((top + "/theirs").c_str(), other.uid, other.gid), 0);
    EXPECT_EQ(PrepareChannelFolder(top + "/theirs", FolderUse::Private), FolderVerdict::NotOwned);
    // Seen by the other user, who can't open them: root's private folder is
    // another user's, the user's own folder of mode 0 can't be opened, nor can
    // a folder inside root's.
    ASSERT_EQ(chmod(top.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((top + "/mine").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((top + "/own").c_str(), 0), 0);
    ASSERT_EQ(chown((top + "/own").c_str(), other.uid, other.gid), 0);
    const std::pair<std::string, FolderVerdict> unopened[] = {
        {top + "/mine", FolderVerdict::NotOwned},
        {top + "/own", FolderVerdict::Unreachable},
        {top + "/mine/inner", FolderVerdict::Unreachable},
    };
    for (const auto& [folder, verdict] : unopened) {
        const pid_t child = AsUser(other, [&] {
            return static_cast<int>(PrepareChannelFolder(folder, FolderUse::Private));
        });
        EXPECT_EQ(ExitCode(child), static_cast<int>(verdict)) << folder;
    }
    EXPECT_EQ(std::system(("rm -rf " + top).c_str()), 0);
}

TEST(ChannelPeersPosix, ServerOfAnotherUserCountsAsNoServiceUnlessExpected) {
    const User other = SecondUser();
    REQUIRE_SECOND_USER(other)
    const std::string dir = TempDir();
    chmod(dir.c_str(), 0777);
    const std::string path = dir + "/command";
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = AsUser(other, [&] {
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
    client.SetExpectedServerUser(other.uid);
    EXPECT_EQ(client.Open(), 1);
    client.Close();

    kill(child, SIGKILL);
    ExitCode(child);
    close(ready[0]);
    close(ready[1]);
    EXPECT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
}
