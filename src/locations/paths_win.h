// The folders the notifier reads from the registry.
#pragma once

#include <string>

// HKLM "SOFTWARE\Orlivan" "Install Path", as UTF-8; the default folder when
// it is missing, unreadable or too long.
std::string ReadInstallPath();

// HKCU "Volatile Environment" "USERPROFILE"; empty when it cannot be read.
std::u16string GetUserProfileDir();
