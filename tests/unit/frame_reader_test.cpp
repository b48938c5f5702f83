#include "notify/frame_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "log/logger.h"
#include "notify/notification_loop.h"

namespace {

// A client scripted as a sequence of deliveries: bytes (handed out no more
// than asked for, and no more than the step holds), a close, or a stall.
class ScriptedTransport : public FrameTransport {
public:
    struct Step {
        enum Kind { Bytes, Close, Stall, Fail } kind;
        std::string bytes;
    };

    void Send(const std::string& bytes) { m_steps.push_back({Step::Bytes, bytes}); }
    void SendByteByByte(const std::string& bytes) {
        for (char c : bytes) {
            Send(std::string(1, c));
        }
    }
    void Close() { m_steps.push_back({Step::Close, {}}); }
    void Stall() { m_steps.push_back({Step::Stall, {}}); }
    void FailNext() { m_steps.push_back({Step::Fail, {}}); }

    int Connect() override {
        ++connects;
        if (refuseConnect) {
            return TRANSFER_FAILED;
        }
        connected = true;
        return TRANSFER_OK;
    }

    int ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds,
                 uint32_t* transferred) override {
        ++reads;
        *transferred = 0;
        largestRequest = std::max(largestRequest, count);
        if (!connected) {
            return TRANSFER_CLOSED;
        }
        if (m_steps.empty()) {
            return TRANSFER_TIMED_OUT;
        }
        Step& step = m_steps.front();
        switch (step.kind) {
            case Step::Close:
                return TRANSFER_CLOSED;
            case Step::Stall:
                m_steps.pop_front();
                return TRANSFER_TIMED_OUT;
            case Step::Fail:
                m_steps.pop_front();
                return TRANSFER_FAILED;
            case Step::Bytes:
                break;
        }
        const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(step.bytes.size()));
        std::memcpy(buffer, step.bytes.data(), n);
        step.bytes.erase(0, n);
        if (step.bytes.empty()) {
            m_steps.pop_front();
        }
        *transferred = overDeliver ? n + 1 : n;
        return TRANSFER_OK;
    }

    int WriteAll(const void* buffer, uint32_t count, std::chrono::milliseconds) override {
        if (!connected || writeResult != TRANSFER_OK) {
            return connected ? writeResult : TRANSFER_CLOSED;
        }
        written.append(static_cast<const char*>(buffer), count);
        return TRANSFER_OK;
    }

    void Disconnect() override {
        if (connected) {
            ++disconnects;
        }
        connected = false;
    }

    // What has not been read yet.
    std::string Unread() const {
        std::string rest;
        for (const Step& step : m_steps) {
            rest += step.bytes;
        }
        return rest;
    }

    bool connected = false;
    bool refuseConnect = false;
    bool overDeliver = false;
    int writeResult = TRANSFER_OK;
    int connects = 0;
    int reads = 0;
    int disconnects = 0;
    uint32_t largestRequest = 0;
    std::string written;

private:
    std::deque<Step> m_steps;
};

std::string LengthWord(uint32_t n) {
    std::string word(4, '\0');
    for (int i = 0; i < 4; ++i) {
        word[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    return word;
}

std::string Frame(const std::string& body) {
    return LengthWord(static_cast<uint32_t>(body.size())) + body;
}

struct Read {
    std::string body;
    FrameError error = FrameError::None;
    bool gotBlock = false;
};

Read ReadOne(FrameTransport& transport,
             std::chrono::milliseconds limit = std::chrono::milliseconds(1000)) {
    Read result;
    uint32_t length = 0;
    void* block = ReadFrameBody(transport, &length, &result.error, limit);
    if (block != nullptr) {
        result.gotBlock = true;
        result.body.assign(static_cast<const char*>(block), length);
        std::free(block);
    }
    return result;
}

const std::string kSiteBlocked("\x01\0\0\0abc\0", 8);
const std::string kAckOnly("\x02\0\0\0", 4);

}  // namespace

TEST(FrameReader, ReadsWholeFramesInOrderWithoutReadingAhead) {
    ScriptedTransport transport;
    transport.Send(Frame(kSiteBlocked) + Frame(kAckOnly));  // both in one delivery
    Read first = ReadOne(transport);
    ASSERT_TRUE(first.gotBlock);
    EXPECT_EQ(first.body, kSiteBlocked);
    EXPECT_EQ(transport.Unread(), Frame(kAckOnly));  // the next frame is untouched
    Read second = ReadOne(transport);
    ASSERT_TRUE(second.gotBlock);
    EXPECT_EQ(second.body, kAckOnly);
    EXPECT_EQ(transport.disconnects, 0);
}

TEST(FrameReader, CompletesShortTransfers) {
    ScriptedTransport transport;
    transport.SendByteByByte(Frame(kSiteBlocked));
    Read read = ReadOne(transport);
    ASSERT_TRUE(read.gotBlock);
    EXPECT_EQ(read.body, kSiteBlocked);
    EXPECT_EQ(transport.reads, 12);
}

TEST(FrameReader, RefusesBadLengthsBeforeReadingTheBody) {
    for (uint32_t length : {0u, kMaxFrameBodyLength + 1, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        ScriptedTransport transport;
        transport.Send(LengthWord(length) + std::string(64, 'x'));
        Read read = ReadOne(transport);
        EXPECT_FALSE(read.gotBlock) << length;
        EXPECT_EQ(read.error, FrameError::BadLength) << length;
        EXPECT_EQ(transport.reads, 1) << length;  // nothing asked for after the length word
        EXPECT_EQ(transport.disconnects, 1) << length;
    }
}

TEST(FrameReader, AcceptsTheLargestBody) {
    ScriptedTransport transport;
    const std::string body = kAckOnly + std::string(kMaxFrameBodyLength - 4, 'z');
    transport.Send(Frame(body));
    Read read = ReadOne(transport);
    ASSERT_TRUE(read.gotBlock);
    EXPECT_EQ(read.body, body);
}

TEST(FrameReader, ClientClosingIsToldApartByWhereItHappened) {
    struct Case {
        std::string sent;
        FrameError expected;
    } cases[] = {
        {"", FrameError::Ended},
        {LengthWord(8).substr(0, 2), FrameError::Closed},
        {LengthWord(8), FrameError::Closed},
        {LengthWord(8) + "\x01\0\0", FrameError::Closed},
    };
    for (const Case& c : cases) {
        ScriptedTransport transport;
        if (!c.sent.empty()) {
            transport.Send(c.sent);
        }
        transport.Close();
        Read read = ReadOne(transport);
        EXPECT_FALSE(read.gotBlock) << c.sent.size();
        EXPECT_EQ(read.error, c.expected) << c.sent.size();
        EXPECT_EQ(transport.disconnects, 1) << c.sent.size();
    }
}

TEST(FrameReader, StalledOrFailingClientIsDropped) {
    {
        ScriptedTransport transport;
        transport.Stall();
        EXPECT_EQ(ReadOne(transport).error, FrameError::TimedOut);
        EXPECT_EQ(transport.disconnects, 1);
    }
    {
        ScriptedTransport transport;
        transport.Send(LengthWord(8) + "\x01");
        transport.Stall();
        EXPECT_EQ(ReadOne(transport).error, FrameError::TimedOut);
        EXPECT_EQ(transport.disconnects, 1);
    }
    {
        ScriptedTransport transport;
        transport.Send(LengthWord(8));
        transport.FailNext();
        EXPECT_EQ(ReadOne(transport).error, FrameError::Failed);
        EXPECT_EQ(transport.disconnects, 1);
    }
}

TEST(FrameReader, TheWaitLimitCoversTheWholeBodyNotEachPiece) {
    // A client that trickles one byte at a time must not stretch the limit.
    class Trickle : public ScriptedTransport {
    public:
        int ReadSome(void* buffer, uint32_t count, std::chrono::milliseconds timeout,
                     uint32_t* transferred) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return ScriptedTransport::ReadSome(buffer, std::min<uint32_t>(count, 1), timeout,
                                               transferred);
        }
    } transport;
    transport.Send(Frame(kAckOnly + std::string(200, 'x')));
    const Read read = ReadOne(transport, std::chrono::milliseconds(100));
    EXPECT_EQ(read.error, FrameError::TimedOut);
    EXPECT_LT(transport.reads, 50);
}

TEST(FrameReader, TransportDeliveringMoreThanAskedIsRefused) {
    ScriptedTransport transport;
    transport.overDeliver = true;
    transport.Send(Frame(kAckOnly));
    EXPECT_EQ(ReadOne(transport).error, FrameError::Failed);
}

TEST(FrameReader, NoClientIsReportedAsSuch) {
    ScriptedTransport transport;
    transport.refuseConnect = true;
    EXPECT_EQ(ReadOne(transport).error, FrameError::NotConnected);
    EXPECT_EQ(transport.reads, 0);
}

TEST(FrameReader, ReplyWordIsLittleEndian) {
    ScriptedTransport transport;
    transport.connected = true;
    EXPECT_EQ(WriteReplyWord(transport, 1, std::chrono::milliseconds(10)), TRANSFER_OK);
    EXPECT_EQ(WriteReplyWord(transport, -2, std::chrono::milliseconds(10)), TRANSFER_OK);
    EXPECT_EQ(transport.written, std::string("\x01\0\0\0\xFE\xFF\xFF\xFF", 8));
}

// One pass of the worker over a scripted client.
TEST(NotificationPass, RepliesOnlyWhenTheResultIsNotZero) {
    ScriptedTransport transport;
    const std::string notifierError("\xFD\xFF\xFF\xFF", 4);
    transport.Send(Frame(notifierError) + Frame(kSiteBlocked));
    std::vector<int32_t> seen;
    auto handler = [&](const NotificationRecord& record) {
        seen.push_back(record.type);
        return record.type == NOTIFY_NOTIFIER_ERROR ? 0 : 1;
    };
    EXPECT_EQ(ServeNotificationFrame(transport, handler, nullptr), PassOutcome::Handled);
    EXPECT_EQ(transport.written, "");
    EXPECT_EQ(ServeNotificationFrame(transport, handler, nullptr), PassOutcome::Handled);
    EXPECT_EQ(transport.written, std::string("\x01\0\0\0", 4));
    EXPECT_EQ(seen, (std::vector<int32_t>{-3, 1}));
}

TEST(NotificationPass, UndecodableBodyDropsTheClientUnhandledAndUnanswered) {
    ScriptedTransport transport;
    transport.Send(Frame(std::string("\x01\0\0\0abc", 7)) + Frame(kAckOnly));
    int calls = 0;
    auto handler = [&](const NotificationRecord&) { return ++calls; };
    EXPECT_EQ(ServeNotificationFrame(transport, handler, nullptr), PassOutcome::Dropped);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(transport.written, "");
    EXPECT_EQ(transport.disconnects, 1);
}

TEST(NotificationPass, ReplyToAClientThatHasGoneIsGivenUp) {
    ScriptedTransport transport;
    transport.Send(Frame(kAckOnly));
    transport.writeResult = TRANSFER_CLOSED;
    auto handler = [](const NotificationRecord&) { return 1; };
    EXPECT_EQ(ServeNotificationFrame(transport, handler, nullptr), PassOutcome::ReplyGivenUp);
    EXPECT_EQ(transport.disconnects, 1);
    EXPECT_EQ(transport.connects, 1);  // no new client was waited for to take the reply
}

TEST(NotificationPass, AReadCutShortByTheProgramsEndIsNotLogged) {
    const std::string path = testing::TempDir() + "orlivan_pass_stop.log";
    for (const bool stopping : {false, true}) {
        std::remove(path.c_str());
        {
            CLogger logger(path);
            ScriptedTransport transport;
            transport.FailNext();
            const std::atomic<bool> stop{stopping};
            auto handler = [](const NotificationRecord&) { return 1; };
            EXPECT_EQ(ServeNotificationFrame(transport, handler, &logger, kClientWaitLimit, nullptr,
                                             &stop),
                      PassOutcome::Dropped);
        }
        std::ifstream log(path);
        const std::string text((std::istreambuf_iterator<char>(log)), {});
        EXPECT_EQ(text.find("Notification frame dropped: read failed") != std::string::npos,
                  !stopping);
    }
    std::remove(path.c_str());
}

// The writer of held-back drop lines ends once nothing is held back; a drop
// held back later gets a writer again, so its line comes when due, not at the end.
TEST(DropLineLog, HeldBackLineAfterAnEarlierFlushIsWrittenWhenDue) {
    const std::string path = testing::TempDir() + "orlivan_drop_line_log.log";
    std::remove(path.c_str());
    const auto hasLines = [&path](long count) {  // within ten seconds
        for (int waited = 0;; ++waited) {
            std::ifstream log(path);
            if (std::count(std::istreambuf_iterator<char>(log), {}, '\n') >= count)
                return true;
            if (waited == 1000)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    {
        CLogger logger(path);
        CDropLineLog drops(&logger);
        drops.Dropped("length out of bounds");  // written at once
        drops.Dropped("length out of bounds");  // held back
        ASSERT_TRUE(hasLines(2));
        drops.Dropped("length out of bounds");  // within an interval of that line: held back
        EXPECT_TRUE(hasLines(3));
    }
    std::remove(path.c_str());
}
