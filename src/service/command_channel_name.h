// Where the channels live. On Windows both are named pipes: the notification
// channel "\\.\pipe\" + the user's SID string, the command channel
// "\\.\pipe\orlivan_notifier_cmd_pipe". On posix both are Unix domain sockets
// in one directory: $ORLIVAN_CHANNEL_DIR when set, else /tmp/orlivan; the
// notification channel is named after the user's uid in decimal, the command
// channel "orlivan_notifier_cmd_pipe".
#pragma once

#include <string>
#include <string_view>

// The service's command channel.
std::string CommandChannelName();

// The notification channel of the user whose SID string (Windows) or decimal
// uid (posix) is `user`.
std::string NotificationChannelName(std::string_view user);
