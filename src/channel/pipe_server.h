// The server end of the user's notification channel: created once at start-up
// as the only instance of its name, it serves one client at a time for the
// life of the process. On Windows a named pipe, on posix a Unix domain socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "channel/frame_reader.h"
#include "channel/frame_transport.h"

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
    // secured). Every local account may connect; remote clients may not.
    int Create();

    // Connects a client if none is connected, then reads exactly `count`
    // bytes from it within the wait limit. 1 on success; -1 when the client
    // closed (it has been dropped); -2 when the wait ran out (the client is
    // still connected); 0 on any other failure.
    int Read(void* buffer, uint32_t count);

    // Writes the 4-byte reply, little-endian, to the client that is connected,
    // within the wait limit; never waits for a new client. 1 on success; -1
    // when there is no client or it has gone; -2 when the wait ran out; 0 on
    // any other failure.
    int WriteReply(const int32_t* reply);

    // Ends every wait on this channel for good: a blocked Connect returns
    // TRANSFER_FAILED, as does every later one (on posix a pending read or
    // write of a client fails as well). Safe from another thread.
    void Shutdown();

    // Where the channel logs the clients it refuses (posix: peers that are
    // neither root nor the user); none by default.
    void SetLogger(CLogger* logger) { m_logger = logger; }

    // How long a connected client may take for a transfer (kClientWaitLimit).
    void SetWaitLimit(std::chrono::milliseconds limit) { m_waitLimit = limit; }
    std::chrono::milliseconds WaitLimit() const { return m_waitLimit; }

    const std::string& Name() const { return m_name; }
    bool IsCreated() const;

    // FrameTransport
    int Connect() override;
    int ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds timeout,
                 uint32_t* transferred) override;
    int WriteAll(const void* buffer, uint32_t count, std::chrono::milliseconds timeout) override;
    void Disconnect() override;

private:
    struct Impl;  // the platform's handles
    std::string m_name;
    std::unique_ptr<Impl> m_impl;
    std::chrono::milliseconds m_waitLimit = kClientWaitLimit;
    CLogger* m_logger = nullptr;
};
