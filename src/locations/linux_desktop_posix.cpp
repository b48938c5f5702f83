#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <sys/utsname.h>

#include "locations/linux_desktop.h"

std::string ReadInstallFolder() {
    const char* named = std::getenv(kConfigFileVariable);
    FILE* file = std::fopen(named != nullptr && named[0] != '\0' ? named : kLinuxConfigFile, "r");
    if (file == nullptr) {
        return InstallFolderFromConfig(std::nullopt);
    }
    std::string text(kConfigMaxBytes, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return InstallFolderFromConfig(text);
}

std::string MachineName() {
    utsname names{};
    return uname(&names) == 0 ? std::string(names.machine) : std::string();
}

bool MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); !folder.empty(); slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    return !folder.empty() && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
