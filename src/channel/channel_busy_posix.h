// How the channel-busy message reaches the user on posix: standard error,
// unless a shell with a display shows it in its own message box.
#pragma once

// `report` shows the message and returns once the user has read it; the
// process then exits with code 0. Null restores standard error.
void SetChannelBusyReporter(void (*report)(const char* message));
