#include "channel/channel_name.h"

#include <unistd.h>

std::string GetCurrentUserSidString() {
    return std::to_string(static_cast<unsigned long>(getuid()));
}
