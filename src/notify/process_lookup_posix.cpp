#include <climits>
#include <fstream>
#include <string>

#include <unistd.h>

#include "notify/process_lookup.h"

std::string GetProcessName(int32_t processId) {
    if (processId <= 0) {
        return std::string();
    }
    const std::string dir = "/proc/" + std::to_string(processId);
    char target[PATH_MAX];
    const ssize_t length = readlink((dir + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        const std::string path(target, static_cast<size_t>(length));
        return path.substr(path.rfind('/') + 1);
    }
    // Another user's process: its short name is still readable.
    std::ifstream comm(dir + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}
