#include "channel/user_account.h"

#include <unistd.h>

std::string GetCurrentUserSidString() {
    return std::to_string(static_cast<unsigned long>(getuid()));
}

std::string UserNameMismatchNote(const std::string&) {
    return std::string();  // the channel is named by the uid alone
}
