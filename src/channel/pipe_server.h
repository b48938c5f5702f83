// The server end of the user's notification channel: created once at start-up
// as the only instance of its name, it serves one client at a time for the
// life of the process. On Windows a named pipe, on posix a Unix domain socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "channel/channel_access.h"
#include "notify/frame_transport.h"

class CLogger;

class CPipeServer : public FrameTransport {
public:
    // `name` is the full channel name (a pipe name or a socket path); nothing
    // is created until Create.
    explicit CPipeServer(std::string name);
    ~CPipeServer() override;
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;

    // Creates the channel. 1 when it was created; 0 when the name is empty or
    // the platform refuses it (another process holds the name, or it can't be
    // secured). Remote clients may not connect. On posix every local account
    // may connect and the peer is checked when it connects; on Windows the
    // pipe's access list admits only the user and the service accounts, and
    // the client is checked again at its first read (Windows tells who a
    // client is only once something was read from it). Either way a refused
    // client is dropped before anything it sent is handed out.
    int Create();

    // After Create failed: what can be learnt about whoever holds the name.
    // Windows: whether the name exists, the existing pipe's owner and the
    // program serving it (read through a client handle that sends nothing).
    // posix: nothing (name not taken): the channel's folder is the user's own,
    // so only the user's own notifier can hold it.
    ChannelHolderFacts HolderFacts() const;

    // Ends every wait on this channel for good: a blocked Connect returns
    // TRANSFER_FAILED, as does every later one (on posix a pending read or
    // write of a client fails as well). Safe from another thread.
    void Shutdown();

    // Where the channel logs the clients it refuses, once per identity
    // (posix: peers that are neither root nor the user; Windows: clients that
    // are neither the user nor a service); none by default.
    void SetLogger(CLogger* logger) { m_logger = logger; }

    // Windows: the user whose channel this is, as a SID string; a client that
    // runs as this user is served, beside the service accounts. Until set,
    // Create takes the user the process runs as. posix always serves the
    // process's own uid and ignores this.
    void SetServedUser(std::string userSid) { m_servedUser = std::move(userSid); }
    const std::string& ServedUser() const { return m_servedUser; }

    const std::string& Name() const { return m_name; }
    bool IsCreated() const;

    // FrameTransport. Windows: while the name is held by someone else,
    // Connect tries to create the pipe again, at most every few seconds, and
    // fails until it could.
    int Connect() override;
    int ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds timeout,
                 uint32_t* transferred) override;
    int WriteAll(const void* buffer, uint32_t count, std::chrono::milliseconds timeout) override;
    void Disconnect() override;

private:
    struct Impl;  // the platform's handles
    std::string m_name;
    std::unique_ptr<Impl> m_impl;
    CLogger* m_logger = nullptr;
    std::string m_servedUser;
};
