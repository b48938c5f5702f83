// What the command channel client asks for when it opens the service's pipe.
#pragma once

#include <windows.h>

// Reading, and writing the request with FILE_WRITE_DATA alone. On a pipe,
// GENERIC_WRITE would also ask for FILE_APPEND_DATA, which is the same bit as
// FILE_CREATE_PIPE_INSTANCE: a service whose access list rightly refuses
// users the creation of instances would then refuse the notifier too.
constexpr DWORD kCommandPipeOpenAccess = GENERIC_READ | FILE_WRITE_DATA;
