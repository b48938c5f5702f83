// The user whose notification channel the notifier serves.
#pragma once

#include <string>

// The identifier of the user the notifier runs for: on Windows the SID string
// of the user the process runs as (its token's user), on posix the real uid
// in decimal. Empty when the user can't be resolved.
std::string GetCurrentUserSidString();

// The log line (with its line feed) to write when the logon session names
// another user than the one whose identifier names the channel: on Windows
// when "USERNAME" of the volatile environment does not resolve to `userId`
// (see UserNameMismatchLine); empty when they agree, and always on posix.
std::string UserNameMismatchNote(const std::string& userId);
