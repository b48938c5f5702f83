// The security of the notification pipe.
#pragma once

#include <windows.h>

// A descriptor whose DACL lets every local account open the pipe for reading
// and writing (GENERIC_READ | GENERIC_WRITE), keeps changing the pipe's
// security or owner and deleting it to the user and SYSTEM, and refuses
// network clients outright. Null on failure. Released with
// FreePipeSecurityDescriptor.
PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor();
void FreePipeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
