// The stand-in's platform side: user lookup and the listening end of the
// command channel (tool_channel_win.cpp: a message-mode named pipe;
// tool_channel_posix.cpp: a Unix domain socket).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "tool_serve.h"

// The send option that names a user by the platform's identifier: "--sid" on
// Windows, "--uid" on posix. The other platform's option is refused.
const char* UserIdOption();

// The identifier that names a user's notification channel: the SID string on
// Windows, the uid in decimal on posix. Nothing when the user is unknown.
std::optional<std::string> LookupUserId(const std::string& userName);

// The current user's identifier; empty when it can't be found.
std::string CurrentUserId();

class CPipeClient;

// Makes `client` accept only a server run by the user `userId` names (or by
// root) on posix: the notifier of the user addressed; the open then fails for
// any other. Windows: nothing to do here (see NotifierServerProblem).
void ExpectNotifierOf(CPipeClient& client, const std::string& userId);

// Windows: checks, once `client` is connected and before anything is written,
// that the process serving the pipe runs as the user `userId` names (its
// token's user SID); a pipe of that name created by anybody else would get
// the user's records. Empty when it does, else the message to print. posix:
// always empty (ExpectNotifierOf has the open check it).
std::string NotifierServerProblem(CPipeClient& client, const std::string& userId);

// The listening end of the command channel.
class CServeListener {
public:
    virtual ~CServeListener() = default;
    // The next client, or null when none connected within `timeoutMs`.
    virtual std::unique_ptr<CServeConnection> Accept(uint32_t timeoutMs) = 0;
};

// Starts listening on `name`; null with `error` set when the channel can't be
// created (for instance, another server holds it).
std::unique_ptr<CServeListener> CreateServeListener(const std::string& name, std::string* error);
