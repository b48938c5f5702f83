// Names of the two channels between the notifier and the filter's service.
// The notification channel is per user: on Windows a fixed prefix and the
// user's SID string, on posix a socket in the user's private runtime folder
// (/run/user/<uid>/orlivan/notification), which only the user and root can
// enter. A user who can't be resolved gives the empty identifier, and a
// channel with that name is never created.
#pragma once

#include <optional>
#include <string>
#include <string_view>

constexpr const char kWindowsPipePrefix[] = "\\\\.\\pipe\\";
constexpr const char kCommandPipeBaseName[] = "orlivan_notifier_cmd_pipe";
// Replaces both posix channel folders when set (tests, the stand-in run by hand).
constexpr const char kChannelDirVariable[] = "ORLIVAN_CHANNEL_DIR";
constexpr const char kRuntimeDirVariable[] = "XDG_RUNTIME_DIR";
// The service's command channel folder on posix; only root can create it.
constexpr const char kPosixCommandFolder[] = "/run/orlivan";

// "\\.\pipe\" + the SID string.
std::string WindowsNotificationChannelName(std::string_view sid);
// "\\.\pipe\orlivan_notifier_cmd_pipe"
std::string WindowsCommandChannelName();

// The folder of the user's notification channel as the notifier finds it:
// `channelDir` (ORLIVAN_CHANNEL_DIR) when set, else <runtimeDir>/orlivan for
// an absolute `runtimeDir` (XDG_RUNTIME_DIR), else /run/user/<uid>/orlivan.
std::string PosixNotificationFolder(const char* channelDir, const char* runtimeDir,
                                    std::string_view uid);
// The same folder as the service computes it, from the uid alone:
// `channelDir` when set, else /run/user/<uid>/orlivan.
std::string PosixServiceNotificationFolder(const char* channelDir, std::string_view uid);
// The folder of the command channel: `channelDir` when set, else /run/orlivan.
std::string PosixCommandFolder(const char* channelDir);
// <folder>/notification
std::string PosixNotificationChannelName(std::string_view folder);
// <folder>/command
std::string PosixCommandChannelName(std::string_view folder);

// On Windows the channel is named after the user the notifier's process runs
// as (its token's user SID), which is the user the service addresses by the
// session's token. The logon name ("USERNAME" of the volatile environment) is
// only compared with it: the log line (with its line feed) to write when the
// name does not resolve to `tokenSid`, or empty when it does. `userName` is
// the name in UTF-8 (nothing when it can't be read), `nameSid` the SID it
// resolves to (nothing when it names no account). Control characters of the
// name are shown as "?", so the line stays one line.
std::string UserNameMismatchLine(std::string_view tokenSid,
                                 const std::optional<std::string>& userName,
                                 const std::optional<std::string>& nameSid);

// This platform's names (the posix ones read ORLIVAN_CHANNEL_DIR, and the
// notifier's XDG_RUNTIME_DIR). NotificationChannelName is the notifier's;
// ServiceNotificationChannelName is the one the service opens for a user.
std::string NotificationChannelName(std::string_view userId);
std::string ServiceNotificationChannelName(std::string_view userId);
std::string CommandChannelName();
