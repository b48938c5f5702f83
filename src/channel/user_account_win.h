// The steps that name the user's notification channel on Windows, and the
// account lookup that the service stand-in shares.
#pragma once

#include <string>

// "USERNAME" from the volatile environment of the current user; empty when the
// key or the value can't be read (a value over 1000 bytes included).
std::wstring GetSessionUserName();

// Looks up the account's SID and stores its string form (allocated by the
// system, released with LocalFree) in `*sidString`. 1 on success, 0 otherwise
// (also when either argument is null).
int LookupAccountSidString(const wchar_t* accountName, wchar_t** sidString);
