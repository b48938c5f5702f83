#include "commands/command_exchange.h"
#include "commands/command_reply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A scripted connection: records what is written, serves reads from `replies`
// (one byte stream per connection), and fails the transfers it is told to.
class FakeTransport : public CCommandTransport {
public:
    int Open() override {
        ++opens;
        if (opens > openLimit) {
            return 0;
        }
        if (!open) {
            open = true;
            ++connections;
            readPos = 0;
        }
        return 1;
    }
    int Write(uint32_t count, const void* buffer, ExchangeDeadline deadline) override {
        if (!open && Open() == 0) {
            return 0;
        }
        ++writeCalls;
        deadlines.push_back(deadline);
        if (writeCalls == failWrite) {
            while (failingWriteTakesItsTime && ExchangeClock::now() < deadline) {
                std::this_thread::sleep_until(deadline);
            }
            return 0;
        }
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        writes.push_back({connections, Bytes(bytes, bytes + count)});
        return 1;
    }
    int Read(uint32_t count, void* buffer, ExchangeDeadline deadline) override {
        if (!open && Open() == 0) {
            return 0;
        }
        ++readCalls;
        deadlines.push_back(deadline);
        readSizes.push_back(count);
        const Bytes& stream = Stream();
        if (readCalls == failRead || readPos + count > stream.size()) {
            return 0;
        }
        std::memcpy(buffer, stream.data() + readPos, count);
        readPos += count;
        return 1;
    }
    void Close() override {
        if (open) {
            ++closes;
        }
        open = false;
    }

    const Bytes& Stream() const {
        static const Bytes empty;
        const size_t index = static_cast<size_t>(connections - 1);
        return index < replies.size() ? replies[index] : empty;
    }

    struct Write_ {
        int connection;
        Bytes bytes;
    };
    std::vector<Bytes> replies;
    std::vector<Write_> writes;
    std::vector<uint32_t> readSizes;
    std::vector<ExchangeDeadline> deadlines;  // of every transfer, in order
    bool failingWriteTakesItsTime = false;    // the failing write waits out the deadline
    int opens = 0, openLimit = 1000, connections = 0, closes = 0;
    int writeCalls = 0, readCalls = 0, failWrite = 0, failRead = 0;
    size_t readPos = 0;
    bool open = false;
};

void Append32(Bytes& bytes, uint32_t value) {
    const size_t at = bytes.size();
    bytes.resize(at + 4);
    for (size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

Bytes Frame(const Bytes& body) {
    Bytes frame;
    Append32(frame, static_cast<uint32_t>(body.size()));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

Bytes VersionBody(const char* text) {
    Bytes body;
    Append32(body, 0x305);
    body.insert(body.end(), text, text + std::strlen(text) + 1);
    return body;
}

Bytes UpdateBody(int32_t status, const char* text) {
    Bytes body;
    Append32(body, 0x300);
    Append32(body, static_cast<uint32_t>(status));
    Append32(body, static_cast<uint32_t>(std::strlen(text)));
    body.insert(body.end(), text, text + std::strlen(text) + 1);
    return body;
}

std::unique_ptr<CCommandReply> Send(FakeTransport& transport, CComand& command) {
    return std::unique_ptr<CCommandReply>(SendCommandOver(transport, command));
}

}  // namespace

TEST(CommandExchange, VersionRequestIsTwoWritesAndTheReplyTwoReads) {
    FakeTransport transport;
    transport.replies = {Frame(VersionBody("1.2.3"))};
    CVersionCommand command;
    auto reply = Send(transport, command);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "1.2.3");
    ASSERT_EQ(transport.writes.size(), 2u);
    EXPECT_EQ(transport.writes[0].bytes, (Bytes{0x04, 0x00, 0x00, 0x00}));
    EXPECT_EQ(transport.writes[1].bytes, (Bytes{0x05, 0x03, 0x00, 0x00}));
    EXPECT_EQ(transport.readSizes, (std::vector<uint32_t>{4, 10}));
    EXPECT_EQ(transport.connections, 1);
    EXPECT_FALSE(transport.open);
}

TEST(CommandExchange, CheckUpdateReplyReachesTheCaller) {
    FakeTransport transport;
    transport.replies = {Frame(UpdateBody(5, "a;2.0;x"))};
    CCheckUpdateCommand command;
    auto reply = Send(transport, command);
    ASSERT_NE(reply, nullptr);
    int32_t status = 0;
    ASSERT_TRUE(GetReplyInteger(*reply, REPLY_KEY_STATUS, &status));
    EXPECT_EQ(status, 5);
    EXPECT_STREQ(GetReplyText(*reply, REPLY_KEY_UPDATE_TEXT), "a;2.0;x");
}

// The reply is read once the whole request is on the connection, and the
// connection is closed afterwards whether a reply came or not.
TEST(CommandExchange, ReplyIsReadAfterTheWholeRequest) {
    class OrderedTransport : public FakeTransport {
    public:
        int Read(uint32_t count, void* buffer, ExchangeDeadline deadline) override {
            if (writesSeen < 0) {
                writesSeen = static_cast<int>(writes.size());
            }
            return FakeTransport::Read(count, buffer, deadline);
        }
        int writesSeen = -1;
    };
    for (bool answers : {true, false}) {
        OrderedTransport transport;
        if (answers) {
            transport.replies = {Frame(UpdateBody(4, "2.5.1"))};
        }
        CCheckUpdateCommand command;
        const auto reply = Send(transport, command);
        EXPECT_EQ(transport.writesSeen, 2);
        EXPECT_EQ(reply != nullptr, answers);
        EXPECT_FALSE(transport.open);
        EXPECT_EQ(transport.closes, 1);
    }
}

TEST(CommandExchange, NoServiceGivesNoReplyAndTouchesNothing) {
    FakeTransport transport;
    transport.openLimit = 0;
    CVersionCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_EQ(transport.opens, 1);  // the open is not retried
}

TEST(CommandExchange, FailedLengthWordIsRepeatedOnceOnANewConnection) {
    FakeTransport transport;
    transport.failWrite = 1;
    transport.replies = {Bytes{}, Frame(VersionBody("4.0"))};
    CVersionCommand command;
    auto reply = Send(transport, command);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "4.0");
    ASSERT_EQ(transport.writes.size(), 2u);
    EXPECT_EQ(transport.writes[0].connection, 2);  // the whole request on the new connection
    EXPECT_EQ(transport.writes[1].connection, 2);
    EXPECT_EQ(transport.closes, 2);
}

// One deadline, set when the exchange starts, bounds every transfer of it,
// the repeated length word included.
TEST(CommandExchange, EveryTransferEndsByTheExchangesOneDeadline) {
    FakeTransport transport;
    transport.failWrite = 1;
    transport.replies = {Bytes{}, Frame(VersionBody("4.0"))};
    CVersionCommand command;
    const ExchangeDeadline earliest = ExchangeClock::now() + COMMAND_EXCHANGE_TIMEOUT;
    ASSERT_NE(Send(transport, command), nullptr);
    const ExchangeDeadline latest = ExchangeClock::now() + COMMAND_EXCHANGE_TIMEOUT;
    ASSERT_EQ(transport.deadlines.size(), 5u);  // failed length word, length word, body, 2 reads
    for (const ExchangeDeadline& deadline : transport.deadlines) {
        EXPECT_EQ(deadline, transport.deadlines[0]);
    }
    EXPECT_GE(transport.deadlines[0], earliest);
    EXPECT_LE(transport.deadlines[0], latest);
}

TEST(CommandExchange, LengthWordIsNotRepeatedOnceTheTimeIsUp) {
    FakeTransport transport;
    transport.SetExchangeTimeout(std::chrono::milliseconds(50));
    transport.failWrite = 1;
    transport.failingWriteTakesItsTime = true;
    transport.replies = {Bytes{}, Frame(VersionBody("4.0"))};
    CVersionCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);
    EXPECT_EQ(transport.connections, 1);
    EXPECT_FALSE(transport.open);
}

// The wait for an exchange another thread is making counts against the
// bound: when that one outlasts it, this exchange gives up untried.
TEST(CommandExchange, WaitForAnotherExchangeIsPartOfTheBound) {
    FakeTransport transport;
    transport.SetExchangeTimeout(std::chrono::milliseconds(100));
    transport.replies = {Frame(VersionBody("1.0"))};
    std::promise<void> holding;
    std::promise<void> release;
    std::thread other([&] {
        std::lock_guard<CExchangeLock> exchange(transport.ExchangeLock());
        holding.set_value();
        // Far longer than the bound, yet not for ever should the bound fail.
        release.get_future().wait_for(std::chrono::seconds(5));
    });
    holding.get_future().wait();
    CVersionCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);
    EXPECT_EQ(transport.opens, 0);
    release.set_value();
    other.join();
}

TEST(CommandExchange, LengthWordFailingTwiceGivesNoReply) {
    FakeTransport transport;
    transport.failWrite = 1;
    transport.openLimit = 1;  // the second connection can't be made
    CVersionCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);
    EXPECT_FALSE(transport.open);
}

TEST(CommandExchange, FailedBodyWriteEndsTheExchangeAtOnce) {
    FakeTransport transport;
    transport.failWrite = 2;
    transport.replies = {Frame(VersionBody("1.0")), Frame(VersionBody("1.0"))};
    CVersionCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);
    EXPECT_EQ(transport.connections, 1);
    EXPECT_EQ(transport.readCalls, 0);
    EXPECT_FALSE(transport.open);
}

TEST(CommandExchange, FailedReplyReadsEndTheExchangeAtOnce) {
    for (int failing : {1, 2}) {
        FakeTransport transport;
        transport.failRead = failing;
        transport.replies = {Frame(VersionBody("1.0")), Frame(VersionBody("1.0"))};
        CVersionCommand command;
        EXPECT_EQ(Send(transport, command), nullptr) << "read " << failing;
        EXPECT_EQ(transport.connections, 1) << "read " << failing;
        EXPECT_EQ(transport.readCalls, failing);
        EXPECT_FALSE(transport.open);
    }
}

TEST(CommandExchange, LengthWordsOutOfBoundsAreRefusedBeforeReadingABody) {
    for (uint32_t length : {0u, COMMAND_REPLY_MAX_LENGTH + 1, 0xFFFFFFFFu}) {
        FakeTransport transport;
        Bytes stream;
        Append32(stream, length);
        transport.replies = {stream};
        CVersionCommand command;
        EXPECT_EQ(Send(transport, command), nullptr) << length;
        EXPECT_EQ(transport.readSizes, (std::vector<uint32_t>{4})) << length;
        EXPECT_FALSE(transport.open);
    }
}

TEST(CommandExchange, LongestAllowedReplyIsRead) {
    FakeTransport transport;
    Bytes body;
    Append32(body, 0x305);
    body.resize(COMMAND_REPLY_MAX_LENGTH, 'v');
    body.back() = 0;
    transport.replies = {Frame(body)};
    CVersionCommand command;
    auto reply = Send(transport, command);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()).size(), COMMAND_REPLY_MAX_LENGTH - 5);
}

TEST(CommandExchange, ReplyThatDoesNotAnswerTheRequestIsRefused) {
    FakeTransport transport;
    transport.replies = {Frame(UpdateBody(4, "2.5.1"))};
    CVersionCommand version;
    EXPECT_EQ(Send(transport, version), nullptr);

    FakeTransport other;
    other.replies = {Frame(VersionBody("1.2.3"))};
    CCheckUpdateCommand check;
    EXPECT_EQ(Send(other, check), nullptr);
}

TEST(CommandExchange, ShortOrMalformedBodiesGiveNoReply) {
    FakeTransport transport;
    Bytes body = UpdateBody(5, "abc");
    body[8] = 40;  // n runs past the body
    transport.replies = {Frame(body)};
    CCheckUpdateCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);

    FakeTransport shortBody;
    Bytes stream;
    Append32(stream, 10);  // announces 10 bytes, sends 4, then closes
    Append32(stream, 0x305);
    shortBody.replies = {stream};
    CVersionCommand version;
    EXPECT_EQ(Send(shortBody, version), nullptr);
}

namespace {

class UnserializableCommand : public CComand {
public:
    int32_t Serialize(void** out) override {
        *out = nullptr;
        return 4;
    }
};

}  // namespace

TEST(CommandExchange, RequestThatCanNotBeBuiltSendsNothing) {
    FakeTransport transport;
    UnserializableCommand command;
    EXPECT_EQ(Send(transport, command), nullptr);
    EXPECT_EQ(transport.opens, 0);
}

// The installed-version query as the service object makes it: a version
// command's exchange, its reply read for the version text.
TEST(InstalledVersion, IsTheVersionTextOrEmpty) {
    FakeTransport transport;
    transport.replies = {Frame(VersionBody("1.2.3")), Frame(UpdateBody(4, "1.2.3"))};
    auto ask = [&transport] {
        CVersionCommand command;
        return InstalledVersionFromReply(Send(transport, command).get());
    };
    EXPECT_EQ(ask(), "1.2.3");
    EXPECT_EQ(ask(), "");  // a reply to another command
    EXPECT_EQ(ask(), "");  // the service is gone
}
