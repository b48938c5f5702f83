#include "locations/paths.h"

#include "base/text.h"

namespace {

constexpr std::string_view kSettingsProgram = "User Interface Files\\OrlivanUi.exe";
constexpr std::string_view kLogFolder = "\\OrlivanLog";
constexpr std::string_view kLogFile = "\\OrlivanSysTray.log";

}  // namespace

std::u16string_view UpToTerminator(std::u16string_view units) {
    const size_t end = units.find(u'\0');
    return end == std::u16string_view::npos ? units : units.substr(0, end);
}

std::string InstallFolderFromValue(std::optional<std::u16string_view> units) {
    if (!units) {
        return std::string(DEFAULT_INSTALL_PATH);
    }
    const std::u16string_view text = UpToTerminator(*units);
    if (text.size() > INSTALL_PATH_MAX_UNITS) {
        return std::string(DEFAULT_INSTALL_PATH);
    }
    return Utf16ToUtf8(text);
}

std::string SettingsProgramPath(std::string_view installFolder) {
    std::string path(installFolder);
    path += kSettingsProgram;
    return path;
}

std::string SettingsProgramCommandLine(std::string_view installFolder) {
    return '"' + SettingsProgramPath(installFolder) + '"';
}

std::string LogFolderPath(std::string_view profileFolder) {
    std::string path(profileFolder);
    path += kLogFolder;
    return path;
}

std::string LogFilePath(std::string_view profileFolder) {
    std::string path = LogFolderPath(profileFolder);
    path += kLogFile;
    return path;
}
