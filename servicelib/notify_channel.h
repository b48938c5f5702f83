// The library's platform side: users and their identifiers, the check that a
// notification channel is the addressed user's, the sessions with a user,
// and the listening end of the command channel (notify_channel_win.cpp:
// named pipes and terminal-services sessions; notify_channel_posix.cpp: Unix
// domain sockets and logind).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tool_bytes.h"

// The option that names a user by the platform's identifier: "--sid" on
// Windows, "--uid" on posix.
const char* UserIdOption();

// The identifier that names a user's notification channel: the SID string on
// Windows, the uid in decimal on posix. Nothing when the user is unknown.
std::optional<std::string> LookupUserId(const std::string& userName);

// The current user's identifier; empty when it can't be found.
std::string CurrentUserId();

class CPipeClient;

// Makes `client` accept only a server run by the user `userId` names (or by
// root) on posix: the open then fails (NotTheUsers) for any other. Windows:
// nothing to do here (see ChannelOwnerProblem).
void ExpectNotifierOf(CPipeClient& client, const std::string& userId);

// Windows: checks, once `client` is connected and before anything is
// written, that the pipe object is owned by the user `userId` names. Empty
// when it is, else what is wrong ("the pipe X is owned by Y, not by Z").
// posix: always empty (ExpectNotifierOf has the open check it).
std::string ChannelOwnerProblem(CPipeClient& client, const std::string& userId);

// A session with a logged-on user.
struct SessionUser {
    uint32_t sessionId = 0;
    std::string userId;
};

// The sessions with a logged-on user; nothing when the system's list can't
// be read.
std::optional<std::vector<SessionUser>> ListSessionUsers();

// The user of the session `sessionId`; empty when it has none (or is unknown).
std::string SessionUserId(uint32_t sessionId);

// One accepted connection on the command channel.
class CServeConnection {
public:
    virtual ~CServeConnection() = default;
    // Up to `max` bytes as they arrive: on Windows one client write (message)
    // per call, on posix whatever the socket holds. 0 when the client closed,
    // -1 on error or time-out.
    virtual long ReadSome(uint8_t* buffer, uint32_t max, uint32_t timeoutMs) = 0;
    virtual bool Write(const Bytes& bytes) = 0;
};

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
