#include "channel/channel_name.h"

#include <cstdlib>

std::string WindowsNotificationChannelName(std::string_view sid) {
    return std::string(kWindowsPipePrefix) + std::string(sid);
}

std::string WindowsCommandChannelName() {
    return std::string(kWindowsPipePrefix) + kCommandPipeBaseName;
}

namespace {

bool IsSet(const char* variable) {
    return variable != nullptr && variable[0] != '\0';
}

}  // namespace

std::string PosixNotificationFolder(const char* channelDir, const char* runtimeDir,
                                    std::string_view uid) {
    if (IsSet(channelDir)) {
        return channelDir;
    }
    // A relative runtime folder would depend on the current folder: ignored.
    if (IsSet(runtimeDir) && runtimeDir[0] == '/') {
        return std::string(runtimeDir) + "/orlivan";
    }
    return PosixServiceNotificationFolder(nullptr, uid);
}

std::string PosixServiceNotificationFolder(const char* channelDir, std::string_view uid) {
    if (IsSet(channelDir)) {
        return channelDir;
    }
    return "/run/user/" + std::string(uid) + "/orlivan";
}

std::string PosixCommandFolder(const char* channelDir) {
    return IsSet(channelDir) ? std::string(channelDir) : std::string(kPosixCommandFolder);
}

std::string PosixNotificationChannelName(std::string_view folder) {
    return std::string(folder) + "/notification";
}

std::string PosixCommandChannelName(std::string_view folder) {
    return std::string(folder) + "/command";
}

#if defined(_WIN32)

std::string NotificationChannelName(std::string_view userId) {
    return WindowsNotificationChannelName(userId);
}

std::string ServiceNotificationChannelName(std::string_view userId) {
    return WindowsNotificationChannelName(userId);
}

std::string CommandChannelName() {
    return WindowsCommandChannelName();
}

#else

std::string NotificationChannelName(std::string_view userId) {
    if (userId.empty()) {
        return std::string();  // never created: the user is unknown
    }
    return PosixNotificationChannelName(PosixNotificationFolder(
        std::getenv(kChannelDirVariable), std::getenv(kRuntimeDirVariable), userId));
}

std::string ServiceNotificationChannelName(std::string_view userId) {
    if (userId.empty()) {
        return std::string();
    }
    return PosixNotificationChannelName(
        PosixServiceNotificationFolder(std::getenv(kChannelDirVariable), userId));
}

std::string CommandChannelName() {
    return PosixCommandChannelName(PosixCommandFolder(std::getenv(kChannelDirVariable)));
}

#endif
