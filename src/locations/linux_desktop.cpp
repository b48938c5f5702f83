#include "locations/linux_desktop.h"

namespace {

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return std::string_view();
    }
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

}  // namespace

std::string InstallFolderFromConfig(std::optional<std::string_view> text) {
    std::string folder(kLinuxDefaultInstallFolder);
    if (!text) {
        return folder;
    }
    std::string_view rest = text->substr(0, kConfigMaxBytes);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = Trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string_view::npos ||
            Trim(line.substr(0, equals)) != kInstallPathKey) {
            continue;
        }
        const std::string_view value = Trim(line.substr(equals + 1));
        folder = !value.empty() && value[0] == '/' ? std::string(value)
                                                   : std::string(kLinuxDefaultInstallFolder);
    }
    return folder;
}

std::string LinuxSettingsProgramPath(std::string_view installFolder) {
    std::string path(installFolder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path + "ui/orlivan-ui";
}

std::string LinuxLogFolder(const char* stateHome, const char* home) {
    if (IsAbsolute(stateHome)) {
        return std::string(stateHome) + "/orlivan";
    }
    if (IsAbsolute(home)) {
        return std::string(home) + "/.local/state/orlivan";
    }
    return std::string();
}

std::string LinuxLogFilePath(std::string_view logFolder) {
    return std::string(logFolder) + "/OrlivanSysTray.log";
}
