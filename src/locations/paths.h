// Where the notifier finds the filter's files and keeps its own: the install
// folder from the registry, the settings program inside it, and the log in the
// user's profile folder. Paths are UTF-8 inside the program, so folders
// outside ASCII (C:\Users\Zoë) reach the file system unchanged.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Used when the registry names no usable install folder.
inline constexpr std::string_view DEFAULT_INSTALL_PATH = "C:\\Program Files (x86)\\Orlivan\\";

// The longest install folder taken from the registry, in UTF-16 units: the
// value is read into 1000 bytes, terminator included.
inline constexpr std::size_t INSTALL_PATH_MAX_UNITS = 499;
inline constexpr std::size_t INSTALL_PATH_BUFFER_BYTES = 1000;

// The text of a registry string: its units up to the first zero unit.
std::u16string_view UpToTerminator(std::u16string_view units);

// The install folder as UTF-8, from the units of the "Install Path" value as
// read (nothing when the key or value could not be read). A value longer than
// INSTALL_PATH_MAX_UNITS gives the default folder.
std::string InstallFolderFromValue(std::optional<std::u16string_view> units);

// The settings program: the install folder followed directly by its relative
// path. No separator is inserted; install folders end with a backslash.
std::string SettingsProgramPath(std::string_view installFolder);

// The settings program's whole command line: its path in quotation marks, so
// that the program sees its path as one argument even in a folder with blanks
// ("C:\Program Files (x86)\...").
std::string SettingsProgramCommandLine(std::string_view installFolder);

// The log folder and file under the user's profile folder (UTF-8). An empty
// profile folder places them at the root of the current drive.
std::string LogFolderPath(std::string_view profileFolder);
std::string LogFilePath(std::string_view profileFolder);
