// The client end of a local channel: the service's command channel for the
// notifier (on Windows a named pipe, on posix a Unix domain socket at a path).
// The service stand-in also uses it to reach a notifier's notification channel.
#pragma once

#include <atomic>
#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "commands/command_exchange.h"

// Longest one direct Write or Read of the client may wait (the stand-in's
// transfers on a notification channel).
constexpr uint32_t COMMAND_TRANSFER_TIMEOUT_MS = 10000;

// Why the last Open of a CPipeClient failed.
enum class ChannelOpenFailure {
    None,
    Absent,       // nobody listens on that name
    Busy,         // every instance is busy (Windows), or the queue is full (posix)
    Denied,       // this account may not open it
    NotTheUsers,  // posix: the server runs as neither the expected user nor root;
                  // Windows: a command pipe that must be a service's is owned by
                  // another account (RequireServiceOwner)
};

class CPipeClient : public CCommandTransport {
public:
    // No connection is opened here. `name` is the pipe name (Windows, UTF-8)
    // or the socket path (posix); a whole exchange, and a direct Write or
    // Read, waits at most `timeoutMs`.
    explicit CPipeClient(std::string name, uint32_t timeoutMs = static_cast<uint32_t>(
                                               COMMAND_EXCHANGE_TIMEOUT.count()));
    ~CPipeClient() override;
    CPipeClient(const CPipeClient&) = delete;
    CPipeClient& operator=(const CPipeClient&) = delete;

    // 1 when a connection is open (already, or newly made), 0 when the channel
    // can't be opened (nobody listens, or every instance is busy). Never waits
    // for a free instance.
    int Open() override;
    // Moves exactly `count` bytes, opening a connection first when none is
    // open: 1 on success, 0 on failure or when `deadline` came first. A
    // failure leaves the connection as it is; the caller closes it.
    int Write(uint32_t count, const void* buffer, ExchangeDeadline deadline) override;
    int Read(uint32_t count, void* buffer, ExchangeDeadline deadline) override;
    // The same, waiting at most the time-out from now.
    int Write(uint32_t count, const void* buffer);
    int Read(uint32_t count, void* buffer);
    void Close() override;
    // Why the last Open failed (None after one that succeeded).
    ChannelOpenFailure LastOpenFailure() const { return m_openFailure; }
    // Reads what has arrived, up to `max` bytes, waiting until `deadline` for
    // the first: the count (> 0), 0 when the server closed the connection,
    // -1 on time-out or error.
    long ReadSome(void* buffer, uint32_t max, ExchangeDeadline deadline);

    bool IsOpen() const { return m_pipe != INVALID_PIPE; }
    const std::string& Name() const { return m_name; }
    void SetTimeout(uint32_t timeoutMs) {
        SetExchangeTimeout(std::chrono::milliseconds(timeoutMs));
    }

    // posix: the user the server must run as besides root (the current user
    // when not set); a server run by anybody else counts as no server.
    // Windows identifies itself to the server instead and checks only when
    // told to (RequireServiceOwner).
    void SetExpectedServerUser(uint32_t uid) { m_expectedServerUid = uid; }

    // Windows: the pipe is the service's command channel. Every connection's
    // pipe owner is read through the new handle before anything is sent; one
    // that is not a service's (IsServiceOwner) is closed at once, the open
    // fails (NotTheUsers), and `refused` gets the log line naming the owner,
    // on the thread that opened. No effect on posix, where every open checks
    // the server's user.
    void RequireServiceOwner(std::function<void(const std::string&)> refused) {
        m_serviceOwnerRefused = std::move(refused);
        m_requireServiceOwner = true;
    }

    // The program is ending and waits for no service: from now on no
    // connection is opened, and on posix a transfer under way gives up within
    // kInterruptCheckMs. Any thread.
    void Interrupt() { m_interrupted = true; }
    static constexpr int kInterruptCheckMs = 50;

    // The value of `m_pipe` while no connection is open: a Windows
    // INVALID_HANDLE_VALUE, or a posix descriptor of -1.
    static constexpr intptr_t INVALID_PIPE = -1;

    // The connection's handle (Windows) or descriptor (posix).
    intptr_t m_pipe = INVALID_PIPE;

private:
    std::string m_name;
    std::optional<uint32_t> m_expectedServerUid;
    bool m_requireServiceOwner = false;
    std::function<void(const std::string&)> m_serviceOwnerRefused;
    std::atomic<bool> m_interrupted{false};
    ChannelOpenFailure m_openFailure = ChannelOpenFailure::None;
};
