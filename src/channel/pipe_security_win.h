// The security of the notification pipe.
#pragma once

#include <windows.h>

// A descriptor whose DACL lets every local account connect, read and write,
// keeps changing the pipe's security, owner or instances to the user and
// SYSTEM, and refuses network clients outright. Null on failure. Released
// with FreePipeSecurityDescriptor.
PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor();
void FreePipeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
