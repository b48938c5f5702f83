// Names of the two channels between the notifier and the filter's service.
// The notification channel is per user: a fixed prefix and an identifier of
// the user that the service computes the same way (the SID string on Windows,
// the numeric uid on posix). A user who can't be resolved gives the empty
// identifier, and a channel with that name is never created.
#pragma once

#include <string>
#include <string_view>

constexpr const char kWindowsPipePrefix[] = "\\\\.\\pipe\\";
constexpr const char kCommandPipeBaseName[] = "orlivan_notifier_cmd_pipe";
constexpr const char kChannelDirVariable[] = "ORLIVAN_CHANNEL_DIR";
constexpr const char kDefaultChannelDir[] = "/tmp/orlivan";

// "\\.\pipe\" + the SID string.
std::string WindowsNotificationChannelName(std::string_view sid);
// "\\.\pipe\orlivan_notifier_cmd_pipe"
std::string WindowsCommandChannelName();

// The directory of the posix sockets: `variable` (the value of
// ORLIVAN_CHANNEL_DIR) when set and not empty, else /tmp/orlivan.
std::string PosixChannelDir(const char* variable);
// <dir>/<uid>
std::string PosixNotificationChannelName(std::string_view dir, std::string_view uid);
// <dir>/orlivan_notifier_cmd_pipe
std::string PosixCommandChannelName(std::string_view dir);

// This platform's names (the posix ones read ORLIVAN_CHANNEL_DIR).
std::string NotificationChannelName(std::string_view userId);
std::string CommandChannelName();
