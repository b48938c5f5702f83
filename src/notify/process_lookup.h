// The name of a running process, for the conflicting-application balloon.
#pragma once

#include <cstdint>
#include <string>

// Longest the lookup waits for the system's answer (Windows: the results of
// the management query); past it the lookup has failed.
constexpr uint32_t PROCESS_LOOKUP_TIMEOUT_MS = 5000;

// The name of the process with this id (its executable's file name) as 8-bit
// text: the ANSI code page on Windows, the file system's bytes on posix. Empty
// when there is no such process or the lookup fails.
std::string GetProcessName(int32_t processId);
