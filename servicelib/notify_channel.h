// The library's platform side: users and their identifiers, the check that a
// notification channel is the addressed user's, the sessions with a user,
// and the listening end of the command channel (notify_channel_win.cpp:
// named pipes and terminal-services sessions; notify_channel_posix.cpp: Unix
// domain sockets and logind).
#pragma once

#include <chrono>
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

// What a wait on the command channel ended with, besides bytes.
enum : long {
    SERVE_CLOSED = 0,    // the client closed its end
    SERVE_FAILED = -1,   // an error, or the deadline passed
    SERVE_STOPPED = -2,  // the server was asked to stop
};

using ServeClock = std::chrono::steady_clock;

// One accepted connection on the command channel. Every wait ends at its
// deadline or as soon as the listener is stopped, whichever comes first.
class CServeConnection {
public:
    virtual ~CServeConnection() = default;
    // Up to `max` bytes as they arrive: the count, or SERVE_CLOSED,
    // SERVE_FAILED or SERVE_STOPPED.
    virtual long ReadSome(uint8_t* buffer, uint32_t max, ServeClock::time_point deadline) = 0;
    // The whole of `bytes`: true when written by the deadline.
    virtual bool Write(const Bytes& bytes, ServeClock::time_point deadline) = 0;
    // Waits until the client has closed its end (having read the reply), at
    // most until `deadline`; true when it did.
    virtual bool AwaitClose(ServeClock::time_point deadline) = 0;
    // Who is on the other end, for fairness between accounts: "uid N"
    // (posix), "session N" (Windows); empty when it can't be told.
    virtual std::string PeerKey() = 0;
};

// The listening end of the command channel.
class CServeListener {
public:
    virtual ~CServeListener() = default;
    // The next client; null when none connected by `deadline` or on a stop.
    virtual std::unique_ptr<CServeConnection> Accept(ServeClock::time_point deadline) = 0;
    // Ends every wait of Accept and of the connections, now and from now on.
    // Any thread.
    virtual void Stop() = 0;
};

// Starts listening on `name`; null with `error` set when the channel can't be
// created (for instance, another server holds it).
std::unique_ptr<CServeListener> CreateServeListener(const std::string& name, std::string* error);
