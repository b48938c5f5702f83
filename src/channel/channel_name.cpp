#include "channel/channel_name.h"

#include <cstdlib>

std::string WindowsNotificationChannelName(std::string_view sid) {
    return std::string(kWindowsPipePrefix) + std::string(sid);
}

std::string WindowsCommandChannelName() {
    return std::string(kWindowsPipePrefix) + kCommandPipeBaseName;
}

std::string PosixChannelDir(const char* variable) {
    if (variable != nullptr && variable[0] != '\0') {
        return variable;
    }
    return kDefaultChannelDir;
}

std::string PosixNotificationChannelName(std::string_view dir, std::string_view uid) {
    return std::string(dir) + "/" + std::string(uid);
}

std::string PosixCommandChannelName(std::string_view dir) {
    return std::string(dir) + "/" + kCommandPipeBaseName;
}

#if defined(_WIN32)

std::string NotificationChannelName(std::string_view userId) {
    return WindowsNotificationChannelName(userId);
}

std::string CommandChannelName() {
    return WindowsCommandChannelName();
}

#else

std::string NotificationChannelName(std::string_view userId) {
    return PosixNotificationChannelName(PosixChannelDir(std::getenv(kChannelDirVariable)), userId);
}

std::string CommandChannelName() {
    return PosixCommandChannelName(PosixChannelDir(std::getenv(kChannelDirVariable)));
}

#endif
