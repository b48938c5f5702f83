#include "tool_jobs.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "channel/channel_name.h"
#include "channel/pipe_client.h"
#include "tool_channel.h"

namespace {

// A notification channel connection over the library's client, whose every
// transfer gives up after its time-out.
class CClientRecordConnection : public CRecordConnection {
public:
    explicit CClientRecordConnection(CPipeClient& client) : m_client(client) {}
    bool Write(const Bytes& bytes) override {
        m_client.SetTimeout(COMMAND_TRANSFER_TIMEOUT_MS);
        return m_client.Write(static_cast<uint32_t>(bytes.size()), bytes.data()) != 0;
    }
    bool ReadReply(uint8_t reply[4], uint32_t timeoutMs) override {
        m_client.SetTimeout(timeoutMs);
        return m_client.Read(4, reply) != 0;
    }

private:
    CPipeClient& m_client;
};

}  // namespace

int RunSend(const SendOptions& options, const PrintFn& print, const PrintFn& printError,
            const std::function<void(uint32_t)>& sleepMs) {
    std::string channel;
    std::string user;
    if (options.channel) {
        channel = *options.channel;
    } else {
        if (options.userName) {
            const std::optional<std::string> id = LookupUserId(*options.userName);
            if (!id) {
                printError("unknown user " + *options.userName);
                return TOOL_EXIT_UNKNOWN_USER;
            }
            user = *id;
        } else if (options.userId) {
            user = *options.userId;
        } else {
            user = CurrentUserId();
            if (user.empty()) {
                printError(
                    "the current user can't be resolved; give --user, --sid/--uid or --channel");
                return TOOL_EXIT_UNKNOWN_USER;
            }
        }
        channel = ServiceNotificationChannelName(user);
    }

    CPipeClient client(channel);
    // Only the addressed user's notifier (or root) may receive that user's records.
    ExpectNotifierOf(client, user.empty() ? CurrentUserId() : user);
    // The notifier serves one client at a time, and notices that the previous
    // one has gone only at its next read: keep trying for a while. While it
    // waits for the user (the first driver error's box, the first new-update
    // notice's dialog or boxes) the channel stays busy for as long as that
    // takes: --wait-free keeps trying, as a service's queue must.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.connectWaitMs);
    uint32_t pauseMs =
        std::max<uint32_t>(1, std::min(options.backoffFirstMs, options.backoffMaxMs));
    for (uint32_t attempt = 1; client.Open() == 0; ++attempt) {
        if (options.waitFree) {
            print("channel busy or absent (try " + std::to_string(attempt) + "); trying again in " +
                  std::to_string(pauseMs) + " ms");
            if (sleepMs) {
                sleepMs(pauseMs);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            pauseMs = pauseMs > options.backoffMaxMs / 2 ? options.backoffMaxMs : pauseMs * 2;
            continue;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            printError("no notifier is listening on " + channel +
                       " (or it stayed busy, or runs as another user); is the notifier running for "
                       "this user?");
            return TOOL_EXIT_NO_LISTENER;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    print("connected to " + channel);
    CClientRecordConnection connection(client);
    const int result = SendRecords(connection, options, print);
    client.Close();
    return result;
}

int RunServe(const ServeOptions& options, const PrintFn& log, const PrintFn& printError,
             const std::atomic<bool>& stop, const std::function<void()>& ready) {
    const std::string channel = options.channel ? *options.channel : CommandChannelName();
    std::string error;
    std::unique_ptr<CServeListener> listener = CreateServeListener(channel, &error);
    if (listener == nullptr) {
        printError("can't serve " + channel + ": " + error);
        return TOOL_EXIT_CHANNEL_UNAVAILABLE;
    }
    log("serving " + channel);
    if (ready) {
        ready();
    }
    uint32_t served = 0;
    while (!stop.load() && (options.count == 0 || served < options.count)) {
        std::unique_ptr<CServeConnection> connection = listener->Accept(100);
        if (connection == nullptr) {
            continue;
        }
        ++served;
        ServeExchange(*connection, options, served, log, [&stop](uint32_t ms) {
            // Sleeps in small steps so that a stop request ends the wait.
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (!stop.load() && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    return TOOL_EXIT_OK;
}
