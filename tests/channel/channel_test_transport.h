// What the channel suites in this folder need from the transport under them:
// channel names no other test uses, and the service's end of a channel that
// writes raw bytes and reads whatever comes back. tests/posix/ implements it
// over Unix domain sockets, tests/win/ over named pipes, so every case here
// runs on both.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/wire_word.h"
#include "notify/record.h"

// A channel name of its own: on posix a socket path in a private folder, on
// Windows a pipe name with the process id and a serial number. What the test
// leaves behind under that name is removed when this ends.
class TestChannelName {
public:
    // `baseName` ends the name (a uid for a notification channel, the
    // command channel's base name).
    explicit TestChannelName(const std::string& baseName = "1000");
    ~TestChannelName();
    TestChannelName(const TestChannelName&) = delete;
    TestChannelName& operator=(const TestChannelName&) = delete;
    const std::string& Name() const { return m_name; }
    // A file of its own for the test, named after the channel and `suffix`;
    // the test removes it.
    std::string FilePath(const std::string& suffix) const;

private:
    std::string m_folder;  // posix only
    std::string m_name;
};

// A user whose channels, while this lives, no other test uses: on posix the
// channel folder (ORLIVAN_CHANNEL_DIR) is a private one, on Windows the user
// identifier is unique to the process.
class TestUserChannels {
public:
    TestUserChannels();
    ~TestUserChannels();
    TestUserChannels(const TestUserChannels&) = delete;
    TestUserChannels& operator=(const TestUserChannels&) = delete;
    const std::string& UserId() const { return m_userId; }

private:
    std::string m_folder;  // posix only
    std::string m_userId;
};

// The service's end of a channel. Opening a named pipe that is busy with
// another client waits for it (up to 10 s); a socket's connection waits in
// the server's queue instead.
class TestClient {
public:
    explicit TestClient(const std::string& name);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connected() const;
    void Send(const std::string& bytes);
    void SendFrame(const NotificationRecord& record) {
        Send(EncodeNotificationFrame(EncodeNotificationRecord(record)));
    }
    // Up to `count` bytes, whatever arrives within `wait`; stops early at the
    // end of the connection.
    std::string Receive(size_t count, std::chrono::milliseconds wait);
    // True when the server has ended this connection (within `wait`).
    bool EndedBy(std::chrono::milliseconds wait) {
        Receive(1, wait);
        return m_ended;
    }
    void Close();

private:
    intptr_t m_handle;     // a descriptor (posix) or a HANDLE (Windows)
    intptr_t m_event = 0;  // Windows: the event of overlapped transfers
    bool m_ended = false;
};

// The reply word the notifier writes for `value`.
inline std::string Reply(int32_t value) {
    std::string bytes(4, '\0');
    StoreWireWord(static_cast<uint32_t>(value), bytes.data());
    return bytes;
}
