// The user whose notification channel the notifier serves.
#pragma once

#include <string>

// The identifier of the user the notifier runs for: on Windows the SID string
// of the account named by "USERNAME" in the volatile environment, on posix
// the real uid in decimal. Empty when the user can't be resolved.
std::string GetCurrentUserSidString();
