// The security of the notification pipe and of the service's command pipe.
#pragma once

#include <windows.h>

#include "base/unique_handle_win.h"

// A descriptor owned by the user the process runs as, whose DACL lets the
// user, LocalSystem, LocalService, NetworkService and every service process
// (the SERVICE group) open the pipe for reading and writing (GENERIC_READ |
// GENERIC_WRITE), keeps changing the pipe's security or owner and deleting it
// to the user and SYSTEM, names no other account or group (Windows refuses
// them at the open), and refuses network clients outright. Null on failure.
// Released with FreePipeSecurityDescriptor, which UniquePipeSecurity calls.
PSECURITY_DESCRIPTOR CreatePipeSecurityDescriptor();
// The same for the service's command pipe: owned by the account the service
// runs as, which keeps full access with SYSTEM; every interactive user
// (INTERACTIVE) may open it as the notifier does (FILE_GENERIC_READ |
// FILE_WRITE_DATA: no FILE_APPEND_DATA, which on a pipe creates an instance,
// and no control over it); network clients are refused outright.
PSECURITY_DESCRIPTOR CreateCommandPipeSecurityDescriptor();
void FreePipeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);

namespace resource_traits {

struct PipeSecurity {
    using Value = PSECURITY_DESCRIPTOR;
    static Value Empty() { return nullptr; }
    static void Close(Value value) { FreePipeSecurityDescriptor(value); }
};

}  // namespace resource_traits

using UniquePipeSecurity = UniqueResource<resource_traits::PipeSecurity>;
