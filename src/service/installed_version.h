// The installed version as the filter's service reports it, for the About
// dialog. Every call is a new exchange; nothing is cached.
#pragma once

#include <string>

// The version text from the process's service object; empty when the service
// gave no usable answer.
std::string GetInstalledVersionText();

#if defined(_WIN32)
// The same, converted with the thread's ANSI code page (installed_version_win.cpp).
std::wstring GetInstalledVersion();
#endif
