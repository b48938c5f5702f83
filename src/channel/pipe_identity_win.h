// Who is at either end of a named pipe, as the system's tokens tell it: the
// user a process runs as, the client of the notification pipe, and the
// process that serves a pipe. These read; the rules that decide live in
// channel_access.h.
#pragma once

#include <windows.h>

#include <string>

#include "channel/channel_access.h"

class CLogger;

// The SID string of the user `token` belongs to; empty when it can't be read.
std::string TokenUserSidString(HANDLE token);

// The SID string of the user this process runs as (its token's user); empty
// when it can't be read.
std::string ProcessUserSidString();

// The exit code of a notifier that could not stop acting as a client whose
// identity it read (RevertToSelf failed): the thread would go on in the
// client's security context, so the process ends at once rather than handle
// anything more.
constexpr UINT kRevertFailedExitCode = 3;

// The identity of the client connected to the server end `pipe`: the user
// and groups of its token, read while impersonating it
// (ImpersonateNamedPipeClient, OpenThreadToken as ourselves, which works at
// the identification level, then RevertToSelf). Windows impersonates the
// sender of the last message read, so call it only after a read on the
// connection. A client that connected at the anonymous level has no token to
// read. If RevertToSelf fails, the line saying so goes to `logger` (when
// given) and the process ends with kRevertFailedExitCode.
PipeClientIdentity ReadPipeClientIdentity(HANDLE pipe, CLogger* logger);

// The identity of the thread's effective token (the impersonated client's
// while impersonating) read through its pseudo-handle, which needs no opening
// and so no access to the token's own access list; Windows 8 and later
// (unreadable on Windows 7). The fallback of ReadPipeClientIdentity when the
// client's token keeps us out.
PipeClientIdentity ReadEffectiveTokenIdentity();

// The SID string of the user whose process serves the pipe that the client
// handle `pipe` is connected to (GetNamedPipeServerProcessId, then that
// process's token). Empty when it can't be read: the process has gone, or
// belongs to a user who keeps us out of it.
std::string PipeServerUserSid(HANDLE pipe);

// The SID string of the owner of the kernel object `object` (a pipe, a
// mutex); empty when it can't be read.
std::string ObjectOwnerSid(HANDLE object);

// What a notifier that could not create the pipe `name` learns about whoever
// holds it: the existing pipe's owner, and the process serving it with its
// program file (by its id: enough to tell the user's own notifier, not to
// trust anyone). Read through a client handle opened at the anonymous level
// (the holder can't act as us with it) that sends nothing and is closed at
// once; a pipe busy with another client is waited for briefly. Whatever can't
// be read stays empty. `nameTaken` is set; `ownImage` is this process's.
ChannelHolderFacts ReadPipeHolderFacts(const std::wstring& name);
