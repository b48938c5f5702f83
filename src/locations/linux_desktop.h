// Where the Linux notifier finds the filter's files and keeps its own: the
// install folder from a key=value configuration file, the settings program
// inside it, the log in the user's state folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kLinuxDefaultInstallFolder = "/opt/orlivan/";
inline constexpr char kLinuxConfigFile[] = "/etc/orlivan/notifier.conf";
// Names another configuration file (tests, a relocated install).
inline constexpr char kConfigFileVariable[] = "ORLIVAN_CONFIG";
inline constexpr char kInstallPathKey[] = "InstallPath";
// Only this much of the configuration file is read.
constexpr size_t kConfigMaxBytes = 64 * 1024;

// The install folder from the configuration text (nothing when the file
// could not be read): the value of the last "InstallPath=" line, blanks
// around key and value trimmed, lines starting with '#' ignored. A missing,
// empty or relative value gives the default folder.
std::string InstallFolderFromConfig(std::optional<std::string_view> text);

// <install folder>/ui/orlivan-ui, with one slash between the two.
std::string LinuxSettingsProgramPath(std::string_view installFolder);

// $XDG_STATE_HOME/orlivan when `stateHome` is an absolute path, else
// <home>/.local/state/orlivan; empty when neither is usable.
std::string LinuxLogFolder(const char* stateHome, const char* home);
// <folder>/OrlivanSysTray.log
std::string LinuxLogFilePath(std::string_view logFolder);

#if !defined(_WIN32)
// Bindings (linux_desktop_posix.cpp).
// The install folder from $ORLIVAN_CONFIG or /etc/orlivan/notifier.conf.
std::string ReadInstallFolder();
// uname's machine name (which package of an update suits the machine).
std::string MachineName();
// Creates `folder` and its missing parents with mode 0700; true when it exists.
bool MakeFolders(const std::string& folder);
#endif
