#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "channel/channel_access.h"

FolderVerdict PrepareChannelFolder(const std::string& folder, FolderUse use) {
    if (folder.empty()) {
        return FolderVerdict::Missing;
    }
    const mode_t mode = use == FolderUse::Private ? 0700 : 0755;
    if (mkdir(folder.c_str(), mode) == 0) {
        chmod(folder.c_str(), mode);  // mkdir's mode is narrowed by the umask
    }
    // Opened without following a symbolic link, then judged by the open
    // folder itself, so nothing can be swapped in between.
    FolderFacts facts;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    bool examined = false;
    if (fd >= 0) {
        facts.opened = true;
        examined = fstat(fd, &info) == 0;
        close(fd);
    } else if (errno == ENOENT) {
        return JudgeChannelFolder(facts, ProcessUserId(), use);
    } else {
        // Refused in any case; looking at the entry itself only names the reason.
        examined = lstat(folder.c_str(), &info) == 0;
    }
    if (!examined) {
        facts.kind = FolderKind::Unknown;
        return JudgeChannelFolder(facts, ProcessUserId(), use);
    }
    facts.kind = S_ISDIR(info.st_mode)   ? FolderKind::Folder
                 : S_ISLNK(info.st_mode) ? FolderKind::SymbolicLink
                                         : FolderKind::Other;
    facts.ownerUid = static_cast<uint32_t>(info.st_uid);
    facts.mode = static_cast<uint32_t>(info.st_mode & 07777);
    return JudgeChannelFolder(facts, ProcessUserId(), use);
}

bool PeerUserId(int socketFd, uint32_t* uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        size != sizeof credentials) {
        return false;
    }
    *uid = static_cast<uint32_t>(credentials.uid);
    return true;
}

uint32_t ProcessUserId() {
    return static_cast<uint32_t>(geteuid());
}
