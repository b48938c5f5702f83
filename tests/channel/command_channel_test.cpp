// The command exchange over the platform's client (a Unix domain socket or a
// named pipe) against the service stand-in's server, run on a thread.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel_name.h"
#include "channel/service.h"
#include "channel_test_transport.h"
#include "commands/command_reply.h"
#include "channel/pipe_client.h"
#include "tool_serve.h"

namespace {

// Runs the stand-in's command server on `channel` on a thread until the test
// ends.
class StandInServer {
public:
    explicit StandInServer(ServeOptions options, const std::string& channel) : m_channel(channel) {
        options.channel = m_channel;
        m_thread = std::thread([this, options] {
            RunServe(
                options,
                [this](const std::string& line) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_log.push_back(line);
                },
                [](const std::string& error) { ADD_FAILURE() << error; }, m_stop,
                [this] { SetReady(); });
            SetReady();  // also when it could not serve
        });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_readyChanged.wait(lock, [this] { return m_ready; });
    }
    ~StandInServer() {
        m_stop = true;
        m_thread.join();
    }
    const std::string& Channel() const { return m_channel; }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }

private:
    void SetReady() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ready = true;
        m_readyChanged.notify_all();
    }

    std::string m_channel;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_readyChanged;
    bool m_ready = false;
    std::vector<std::string> m_log;
    std::thread m_thread;
};

// A command channel of the test's own, served by a stand-in when the test
// starts one.
class CommandChannel : public ::testing::Test {
protected:
    std::unique_ptr<StandInServer> Serve(const ServeOptions& options) {
        return std::make_unique<StandInServer>(options, m_name.Name());
    }
    const std::string& Name() const { return m_name.Name(); }

private:
    TestChannelName m_name{kCommandPipeBaseName};
};

ServeOptions Answering(const std::string& version, int32_t status, const std::string& text) {
    ServeOptions options;
    options.version = version;
    options.status = status;
    options.text = text;
    return options;
}

std::unique_ptr<CCommandReply> Exchange(CPipeClient& client, CComand& command) {
    return std::unique_ptr<CCommandReply>(SendCommandOver(client, command));
}

// The transfers the server received in exchange `number`, in order.
std::vector<std::string> Received(const std::vector<std::string>& log, int number) {
    // Built step by step: GCC 12 warns wrongly (-Wrestrict) about "a" + b + "c" here.
    std::string prefix = "exchange ";
    prefix += std::to_string(number);
    prefix += ": received ";
    std::vector<std::string> transfers;
    for (const std::string& line : log) {
        if (line.rfind(prefix, 0) == 0) {
            transfers.push_back(line.substr(prefix.size()));
        }
    }
    return transfers;
}

// The bytes the server received in exchange `number`, joined.
std::string ReceivedBytes(const std::vector<std::string>& log, int number) {
    std::string bytes;
    for (const std::string& transfer : Received(log, number)) {
        bytes += transfer;
    }
    return bytes;
}

}  // namespace

TEST_F(CommandChannel, VersionExchangeWithTheStandIn) {
    auto server = Serve(Answering("1.2.3", 4, "1.2.3"));
    CPipeClient client(server->Channel());
    CVersionCommand command;
    auto reply = Exchange(client, command);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "1.2.3");
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(ReceivedBytes(server->Log(), 1), "0400000005030000");
}

TEST_F(CommandChannel, UpdateCheckExchangesBackToBack) {
    auto server = Serve(Answering("1.0", 5, "a;2.0;Faster blocking"));
    CPipeClient client(server->Channel());
    for (int i = 0; i < 3; ++i) {
        CCheckUpdateCommand command;
        auto reply = Exchange(client, command);
        ASSERT_NE(reply, nullptr) << "exchange " << i;
        int32_t status = 0;
        EXPECT_TRUE(GetReplyInteger(*reply, REPLY_KEY_STATUS, &status));
        EXPECT_EQ(status, 5);
        EXPECT_STREQ(GetReplyText(*reply, REPLY_KEY_UPDATE_TEXT), "a;2.0;Faster blocking");
    }
    EXPECT_EQ(ReceivedBytes(server->Log(), 1), "0400000000030000");
}

TEST_F(CommandChannel, NoServiceGivesNoReply) {
    CPipeClient client(Name());
    CVersionCommand command;
    EXPECT_EQ(Exchange(client, command), nullptr);
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(CommandChannel, DroppedConnectionGivesNoReply) {
    ServeOptions options = Answering("1.2.3", 4, "");
    options.drop = true;
    auto server = Serve(options);
    CPipeClient client(server->Channel(), 2000);
    CVersionCommand command;
    EXPECT_EQ(Exchange(client, command), nullptr);
    EXPECT_FALSE(client.IsOpen());
}

// The service accepts and answers only after the client's bound: the client
// gives up with no reply. The same service is answered in time by a client
// whose bound is longer, so the bound is what ended the first exchange.
TEST_F(CommandChannel, ReplyLaterThanTheBoundGivesNoReply) {
    ServeOptions options = Answering("9.9", 4, "");
    options.delayMs = 1000;
    auto server = Serve(options);
    CVersionCommand command;

    CPipeClient impatient(server->Channel(), 200);
    EXPECT_EQ(Exchange(impatient, command), nullptr);
    EXPECT_FALSE(impatient.IsOpen());

    CPipeClient patient(server->Channel(), 10000);
    auto reply = Exchange(patient, command);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "9.9");
}

TEST_F(CommandChannel, MalformedRepliesGiveNoReply) {
    struct Case {
        const char* what;
        bool checkUpdate;  // which command asks: update check, else version
        const char* rawReply;
        std::optional<uint32_t> length;
    };
    const Case cases[] = {
        {"text length past the body", true, "0003000005000000ff000000616200", std::nullopt},
        {"answer to another command", true, "05030000312e3000", std::nullopt},
        {"length word above the maximum", false, "05030000312e3000", COMMAND_REPLY_MAX_LENGTH + 1},
        {"length word beyond the bytes sent", false, "05030000312e3000", 100u},
    };
    for (const Case& c : cases) {
        ServeOptions options;
        options.rawReply = ParseHex(c.rawReply);
        options.replyLength = c.length;
        auto server = Serve(options);
        CPipeClient client(server->Channel(), 2000);
        CCheckUpdateCommand check;
        CVersionCommand version;
        CComand& command = c.checkUpdate ? static_cast<CComand&>(check) : version;
        EXPECT_EQ(Exchange(client, command), nullptr) << c.what;
        EXPECT_FALSE(client.IsOpen()) << c.what;
    }
}

// Two threads share one client, as the interface thread and the notification
// worker share the service's: every exchange must still get its own reply.
TEST_F(CommandChannel, ExchangesFromTwoThreadsAreSerialised) {
    auto server = Serve(Answering("7.1", 4, "7.1"));
    CPipeClient client(server->Channel());
    constexpr int kRounds = 20;
    std::atomic<int> versions{0};
    std::atomic<int> checks{0};
    std::thread first([&] {
        for (int i = 0; i < kRounds; ++i) {
            CVersionCommand command;
            auto reply = Exchange(client, command);
            if (reply != nullptr && InstalledVersionFromReply(reply.get()) == "7.1") {
                ++versions;
            }
        }
    });
    std::thread second([&] {
        for (int i = 0; i < kRounds; ++i) {
            CCheckUpdateCommand command;
            auto reply = Exchange(client, command);
            int32_t status = 0;
            if (reply != nullptr && GetReplyInteger(*reply, REPLY_KEY_STATUS, &status) &&
                status == 4) {
                ++checks;
            }
        }
    });
    first.join();
    second.join();
    EXPECT_EQ(versions.load(), kRounds);
    EXPECT_EQ(checks.load(), kRounds);
    EXPECT_FALSE(client.IsOpen());
}

// The service object's own exchange: the request through its command client,
// the reply through its reply reader, the connection closed afterwards.
TEST(ServiceObjectCommands, ExchangesThroughItsClient) {
    // Both channels are the user's: the stand-in's command channel, and the
    // notification channel the service object makes.
    TestUserChannels channels;
    StandInServer server(Answering("1.2.3", 5, "a;2.0;x"), CommandChannelName());
    CService service(channels.UserId(), [] { ADD_FAILURE() << "channel busy"; });
    ASSERT_NE(service.m_pipeClient, nullptr);

    CVersionCommand version;
    std::unique_ptr<CCommandReply> reply(service.SendCommand(version));
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "1.2.3");
    EXPECT_FALSE(service.m_pipeClient->IsOpen());

    CCheckUpdateCommand check;
    reply.reset(service.SendCommand(check));
    ASSERT_NE(reply, nullptr);
    int32_t status = 0;
    EXPECT_TRUE(GetReplyInteger(*reply, REPLY_KEY_STATUS, &status));
    EXPECT_EQ(status, 5);
    EXPECT_STREQ(GetReplyText(*reply, REPLY_KEY_UPDATE_TEXT), "a;2.0;x");
    EXPECT_FALSE(service.m_pipeClient->IsOpen());
    EXPECT_EQ(ReceivedBytes(server.Log(), 2), "0400000000030000");
}
