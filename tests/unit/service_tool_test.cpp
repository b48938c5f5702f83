#include "tool_arguments.h"
#include "tool_send.h"
#include "tool_serve.h"
#include "notify_channel.h"
#include "orlivan_notify.h"
#include "notify/record.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

std::optional<ToolCommandLine> Parse(std::vector<std::string> args, std::string* error) {
    return ParseToolArguments(args, error);
}

Bytes Hex(const char* text) {
    return ParseHex(text).value();
}

// Records what the sender writes and hands out scripted replies.
class FakeRecordConnection : public CRecordConnection {
public:
    int Send(const Bytes& frame, bool expectReply, uint32_t, int32_t* reply) override {
        writes.push_back(frame);
        if (!writable) {
            return ORLIVAN_NOTIFY_E_SEND_FAILED;
        }
        if (!expectReply) {
            return ORLIVAN_NOTIFY_OK;
        }
        ++replyReads;
        if (replies.empty()) {
            return ORLIVAN_NOTIFY_E_TIMED_OUT;
        }
        *reply = static_cast<int32_t>(LoadUint32(replies.front().data()));
        replies.pop_front();
        return ORLIVAN_NOTIFY_OK;
    }
    std::vector<Bytes> writes;
    std::deque<Bytes> replies;
    int replyReads = 0;
    bool writable = true;
};

// Hands the server the client's writes one by one.
class FakeServeConnection : public CServeConnection {
public:
    long ReadSome(uint8_t* buffer, uint32_t max, ServeClock::time_point) override {
        if (chunks.empty())
            return closedAtEnd ? 0 : -1;
        Bytes chunk = chunks.front();
        chunks.pop_front();
        const size_t n = std::min<size_t>(chunk.size(), max);
        std::copy(chunk.begin(), chunk.begin() + static_cast<long>(n), buffer);
        if (n < chunk.size())
            chunks.push_front(Bytes(chunk.begin() + static_cast<long>(n), chunk.end()));
        return static_cast<long>(n);
    }
    bool Write(const Bytes& bytes, ServeClock::time_point) override {
        written.push_back(bytes);
        return true;
    }
    bool AwaitClose(ServeClock::time_point) override { return true; }
    std::string PeerKey() override { return std::string(); }
    std::deque<Bytes> chunks;
    std::vector<Bytes> written;
    bool closedAtEnd = true;
};

std::vector<std::string> Serve(FakeServeConnection& connection, const ServeOptions& options,
                               std::vector<uint32_t>* sleeps = nullptr) {
    std::vector<std::string> log;
    ServeExchange(
        connection, options, 1, [&log](const std::string& line) { log.push_back(line); },
        [sleeps](uint32_t ms) {
            if (sleeps)
                sleeps->push_back(ms);
        });
    return log;
}

}  // namespace

TEST(ToolArguments, SendTakesSeveralRecordsWithTheirPayloads) {
    std::string error;
    auto line = Parse({"send", "--user", "alice", "--timeout", "500", "https-site-blocked",
                       "--detail", "example.com", "driver-error", "--error-code", "-5", "--raw",
                       "02 00 00 00", "--no-reply", "0x0b"},
                      &error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->job, ToolJob::Send);
    EXPECT_EQ(line->send.userName, "alice");
    EXPECT_EQ(line->send.replyTimeoutMs, 500u);
    ASSERT_EQ(line->send.records.size(), 4u);
    EXPECT_EQ(line->send.records[0].type, 1);
    EXPECT_EQ(line->send.records[0].detail, "example.com");
    EXPECT_EQ(line->send.records[1].type, 6);
    EXPECT_EQ(line->send.records[1].errorCode, -5);
    EXPECT_EQ(line->send.records[2].raw, Hex("02000000"));
    EXPECT_EQ(line->send.records[2].expectReply, false);
    EXPECT_EQ(line->send.records[3].type, 11);
}

TEST(ToolArguments, SendRefusesWhatItCanNotMean) {
    const std::vector<std::vector<std::string>> bad = {
        {"send"},                               // no record
        {"send", "no-such-type"},               // unknown type
        {"send", "--detail", "x", "ack-only"},  // payload before any record
        {"send", "ack-only", "--user", "bob"},  // target after a record
        {"send", "--user", "a", "--sid", "S-1", "ack-only"},
        {"send", "--channel", "/x", "--uid", "5", "ack-only"},
        {"send", "--raw", "0g", "ack-only"},             // not hex
        {"send", "--raw", "010", "ack-only"},            // odd digit count
        {"send", "--raw", "01000000", "--detail", "x"},  // raw takes no payload
        {"send", "driver-error", "--error-code"},        // missing value
        {"send", "ack-only", "--timeout", "-1"},
        {"send", "ack-only", "--bogus"},
        {"send", "driver-error"},  // its error code is required
        {"send", "--wait-free", "--connect-wait", "5", "ack-only"},
        {"send", "--wait-free", "--backoff-max", "0", "ack-only"},
        {"send", std::string(UserIdOption()) == "--sid" ? "--uid" : "--sid", "5", "ack-only"},
        {"fly"},
        {},  // no arguments at all
    };
    for (const auto& args : bad) {
        std::string error;
        const std::string shown = args.empty() ? "(none)" : args.back();
        EXPECT_FALSE(Parse(args, &error)) << shown;
        EXPECT_FALSE(error.empty()) << shown;
    }
}

TEST(ToolArguments, ServeOptionsAndHelp) {
    std::string error;
    auto line = Parse({"serve", "--version", "1.2.3", "--status", "5", "--text", "a;2.0;x",
                       "--delay", "250", "--count", "3", "--raw-reply", "05030000",
                       "--reply-length", "0", "--drop", "--channel", "/tmp/c"},
                      &error);
    ASSERT_TRUE(line) << error;
    EXPECT_EQ(line->job, ToolJob::Serve);
    EXPECT_EQ(line->serve.version, "1.2.3");
    EXPECT_EQ(line->serve.status, 5);
    EXPECT_EQ(line->serve.text, "a;2.0;x");
    EXPECT_EQ(line->serve.delayMs, 250u);
    EXPECT_EQ(line->serve.count, 3u);
    EXPECT_EQ(line->serve.rawReply, Hex("05030000"));
    EXPECT_EQ(line->serve.replyLength, 0u);
    EXPECT_TRUE(line->serve.drop);
    EXPECT_EQ(line->serve.channel, "/tmp/c");

    EXPECT_FALSE(Parse({"serve", "--status"}, &error));
    EXPECT_EQ(Parse({"serve", "--help"}, &error)->job, ToolJob::Help);
    // --version first asks for the program's version; after serve it is the one served.
    EXPECT_EQ(Parse({"--version"}, &error)->job, ToolJob::Version);
    EXPECT_EQ(Parse({"--version", "serve"}, &error)->job, ToolJob::Version);
    EXPECT_EQ(Parse({"serve", "--version", "2.0"}, &error)->serve.version, "2.0");
}

TEST(ToolRecords, FramesCarryTypePayloadAndLength) {
    RecordToSend site;
    site.type = 1;
    site.detail = "abc";
    EXPECT_EQ(BuildRecordFrame(site), Hex("08000000 01000000 61626300"));

    RecordToSend driver;
    driver.type = 6;
    driver.errorCode = -5;
    EXPECT_EQ(BuildRecordFrame(driver), Hex("08000000 06000000 fbffffff"));

    RecordToSend empty;
    empty.type = 10;
    empty.detail = "";
    EXPECT_EQ(BuildRecordFrame(empty), Hex("05000000 0a000000 00"));
    RecordToSend noDetail;  // a detail type without --detail: the empty detail
    noDetail.type = 1;
    EXPECT_EQ(BuildRecordFrame(noDetail), Hex("05000000 01000000 00"));

    RecordToSend raw;
    raw.raw = Hex("0200");
    raw.lengthWord = 4096;
    EXPECT_EQ(BuildRecordFrame(raw), Hex("00100000 0200"));
}

TEST(ToolRecords, RepliesAreAwaitedOnlyWhereTheNotifierSendsThem) {
    for (const NotificationTypeInfo& type : NotificationTypes()) {
        RecordToSend record;
        record.type = type.code;
        EXPECT_EQ(RecordExpectsReply(record), type.code != -3) << type.name;
    }
    RecordToSend unknown;
    unknown.type = 0;
    EXPECT_FALSE(RecordExpectsReply(unknown));
    RecordToSend raw;
    raw.raw = Hex("04000000");
    EXPECT_TRUE(RecordExpectsReply(raw));
    raw.raw = Hex("0400");  // too short to name a type
    EXPECT_FALSE(RecordExpectsReply(raw));
    raw.expectReply = true;
    EXPECT_TRUE(RecordExpectsReply(raw));
    EXPECT_EQ(ParseRecordType("notifier-error"), -3);
    EXPECT_EQ(ParseRecordType("NOTIFY_CONFLICTING_APPLICATION"), 10);
    EXPECT_EQ(ParseRecordType("-2"), -2);
    EXPECT_EQ(ParseRecordType("0xffffffff"), -1);
    EXPECT_FALSE(ParseRecordType("0x100000000"));
}

TEST(ToolSend, PrintsEachReplyAndDoesNotWaitWhereNoneComes) {
    SendOptions options;
    options.records.resize(3);
    options.records[0].type = 2;
    options.records[1].type = -3;
    options.records[2].type = 4;
    FakeRecordConnection connection;
    connection.replies = {Hex("01000000"), Hex("ffffffff")};
    std::vector<std::string> out;
    EXPECT_EQ(SendRecords(connection, options, [&out](const std::string& l) { out.push_back(l); }),
              TOOL_EXIT_OK);
    EXPECT_EQ(connection.writes.size(), 3u);
    EXPECT_EQ(connection.replyReads, 2);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "record 1 (type 2 ack-only): reply 1 (01000000)");
    EXPECT_EQ(out[1], "record 2 (type -3 notifier-error): sent, no reply expected");
    EXPECT_EQ(out[2], "record 3 (type 4 server-down): reply -1 (ffffffff)");
}

TEST(ToolSend, StopsAtTheFirstMissingReplyOrBrokenWrite) {
    SendOptions options;
    options.records.resize(2);
    options.records[0].type = 2;
    options.records[1].type = 2;
    FakeRecordConnection silent;
    std::vector<std::string> out;
    auto print = [&out](const std::string& l) { out.push_back(l); };
    EXPECT_EQ(SendRecords(silent, options, print), TOOL_EXIT_NO_REPLY);
    EXPECT_EQ(silent.writes.size(), 1u);

    FakeRecordConnection broken;
    broken.writable = false;
    EXPECT_EQ(SendRecords(broken, options, print), TOOL_EXIT_SEND_FAILED);
    EXPECT_EQ(broken.replyReads, 0);
}

TEST(ToolServe, RepliesByCommandCode) {
    ServeOptions options;
    options.version = "1.2.3";
    EXPECT_EQ(BuildCommandReply(options, 0x305), Hex("0a000000 05030000 312e322e33 00"));
    options.status = 4;
    options.text = "2.5.1";
    EXPECT_EQ(BuildCommandReply(options, 0x300),
              Hex("12000000 00030000 04000000 05000000 322e352e31 00"));
    EXPECT_TRUE(BuildCommandReply(options, 0x301).empty());
    options.rawReply = Hex("0303");
    options.replyLength = 0x10000;
    EXPECT_EQ(BuildCommandReply(options, 0x305), Hex("00000100 0303"));
}

TEST(ToolServe, LogsEachTransferAndTheReply) {
    ServeOptions options;
    options.version = "1.2.3";
    options.delayMs = 40;
    FakeServeConnection connection;
    connection.chunks = {Hex("04000000"), Hex("05030000")};
    std::vector<uint32_t> sleeps;
    const auto log = Serve(connection, options, &sleeps);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "exchange 1: received 04000000");
    EXPECT_EQ(log[1], "exchange 1: received 05030000");
    EXPECT_EQ(log[2], "exchange 1: request length 4 command 0x305");
    EXPECT_EQ(log[3], "exchange 1: replied 0a00000005030000312e322e3300");
    EXPECT_EQ(sleeps, std::vector<uint32_t>{40});
    ASSERT_EQ(connection.written.size(), 1u);
}

TEST(ToolServe, DropsWithoutReplyWhenToldOrWhenTheRequestIsBad) {
    ServeOptions drop;
    drop.drop = true;
    FakeServeConnection first;
    first.chunks = {Hex("0400000005030000")};
    Serve(first, drop);
    EXPECT_TRUE(first.written.empty());

    FakeServeConnection tooLong;
    tooLong.chunks = {Hex("ffffff7f")};
    const auto log = Serve(tooLong, ServeOptions{});
    EXPECT_TRUE(tooLong.written.empty());
    EXPECT_NE(log.back().find("too long"), std::string::npos);

    FakeServeConnection halfway;
    halfway.chunks = {Hex("0400000005")};
    Serve(halfway, ServeOptions{});
    EXPECT_TRUE(halfway.written.empty());

    FakeServeConnection unknown;
    unknown.chunks = {Hex("0400000001030000")};
    Serve(unknown, ServeOptions{});
    EXPECT_TRUE(unknown.written.empty());
}

TEST(ToolHex, ParsesAndPrintsBytes) {
    EXPECT_EQ(ParseHex("0A:ff-10 7b"), (Bytes{0x0a, 0xff, 0x10, 0x7b}));
    EXPECT_EQ(ParseHex(""), Bytes{});
    EXPECT_FALSE(ParseHex("0 a"));  // a separator inside a byte
    EXPECT_EQ(ToHex(Bytes{0x00, 0xab}), "00ab");
    EXPECT_EQ(ParseInteger("-2147483648"), -2147483648ll);
    EXPECT_EQ(ParseInteger("0x305"), 0x305);
    EXPECT_FALSE(ParseInteger("12a"));
    EXPECT_FALSE(ParseInteger("99999999999"));
}
