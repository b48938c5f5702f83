#include "service/command_channel_name.h"

#include <cstdlib>

namespace {

#if !defined(_WIN32)
std::string ChannelDirectory() {
    const char* dir = std::getenv("ORLIVAN_CHANNEL_DIR");
    return dir != nullptr && *dir != '\0' ? std::string(dir) : std::string("/tmp/orlivan");
}
#endif

}  // namespace

std::string CommandChannelName() {
#if defined(_WIN32)
    return "\\\\.\\pipe\\orlivan_notifier_cmd_pipe";
#else
    return ChannelDirectory() + "/orlivan_notifier_cmd_pipe";
#endif
}

std::string NotificationChannelName(std::string_view user) {
#if defined(_WIN32)
    return "\\\\.\\pipe\\" + std::string(user);
#else
    return ChannelDirectory() + "/" + std::string(user);
#endif
}
