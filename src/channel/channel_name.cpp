#include "channel/channel_name.h"

#include <cstdlib>

#include "channel/channel_access.h"

std::string WindowsNotificationChannelName(std::string_view sid) {
    return std::string(kWindowsPipePrefix) + std::string(sid);
}

std::string WindowsCommandChannelName() {
    return std::string(kWindowsPipePrefix) + kCommandPipeBaseName;
}

std::string UserNameMismatchLine(std::string_view tokenSid,
                                 const std::optional<std::string>& userName,
                                 const std::optional<std::string>& nameSid) {
    if (userName && nameSid && SameSid(*nameSid, tokenSid)) {
        return std::string();
    }
    std::string line = "Notification channel named after " + std::string(tokenSid) +
                       ", the user the notifier runs as; USERNAME ";
    if (!userName) {
        return line + "can't be read\n";
    }
    std::string shown = *userName;
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    line += "\"" + shown + "\" ";
    return line + (nameSid ? "names another account (" + *nameSid + ")\n" : "names no account\n");
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
