#include "notify/notification_loop.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "log/log_rate_limit.h"
#include "log/logger.h"

namespace {

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

// After a failed connect the loop waits this long before it tries again, so a
// channel that keeps failing does not spin the worker.
constexpr std::chrono::milliseconds kConnectRetryPause{100};

void LogDroppedFrame(CLogger* logger, CLogRateLimit* dropLines, const char* reason) {
    if (logger == nullptr) {
        return;
    }
    std::string line = reason;
    if (dropLines != nullptr && !dropLines->Admit(reason, &line)) {
        return;
    }
    logger->Log(1, "Notification frame dropped: %s\n", line.c_str());
}

// Writes the dropped frames held back, when they are due (or at once `atEnd`).
void WriteHeldBackDrops(CLogger* logger, CLogRateLimit* dropLines, bool atEnd = false) {
    std::string line;
    if (logger != nullptr && dropLines->Flush(&line, atEnd)) {
        logger->Log(1, "Notification frame dropped: %s\n", line.c_str());
    }
}

}  // namespace

PassOutcome ServeNotificationFrame(FrameTransport& transport, const NotificationHandler& handler,
                                   CLogger* logger, std::chrono::milliseconds waitLimit,
                                   CLogRateLimit* dropLines, const std::atomic<bool>* stop) {
    uint32_t length = 0;
    FrameError error = FrameError::None;
    std::unique_ptr<void, FreeDeleter> body(ReadFrameBody(transport, &length, &error, waitLimit));
    if (body == nullptr) {
        if (error == FrameError::NotConnected) {
            return PassOutcome::NoClient;
        }
        const bool stopping = stop != nullptr && stop->load();
        // A refused client is logged by the channel, once per identity.
        if (error != FrameError::Ended && error != FrameError::Refused && !stopping) {
            LogDroppedFrame(logger, dropLines, FrameErrorText(error));
        }
        return PassOutcome::Dropped;
    }

    NotificationRecord record;
    const RecordError bad = DecodeNotificationRecord(body.get(), length, &record);
    if (bad != RecordError::None) {
        transport.Disconnect();
        LogDroppedFrame(logger, dropLines, RecordErrorText(bad));
        return PassOutcome::Dropped;
    }

    const int32_t reply = handler(record);
    if (reply == 0) {
        return PassOutcome::Handled;
    }
    if (WriteReplyWord(transport, reply, waitLimit) != TRANSFER_OK) {
        // The client that sent the record has gone or stopped reading: its reply
        // is not carried over to the next client.
        transport.Disconnect();
        if (logger != nullptr) {
            logger->Log(1, "Notification reply given up: client gone\n");
        }
        return PassOutcome::ReplyGivenUp;
    }
    return PassOutcome::Handled;
}

void RunNotificationLoop(FrameTransport& transport, const NotificationHandler& handler,
                         CLogger* logger, std::chrono::milliseconds waitLimit,
                         const std::atomic<bool>* stop) {
    CLogRateLimit dropLines(kDropLineInterval);
    // No client could be connected: false when the loop is to end.
    const auto carryOn = [&] {
        if (stop != nullptr && stop->load()) {
            WriteHeldBackDrops(logger, &dropLines, true);
            return false;
        }
        std::this_thread::sleep_for(kConnectRetryPause);
        return true;
    };
    for (;;) {
        WriteHeldBackDrops(logger, &dropLines);
        // While drop lines are held back, the wait for the next client ends
        // when they are due, so they are written even if no client comes.
        if (const auto untilDue = dropLines.UntilFlush()) {
            const int connected = transport.ConnectWithin(*untilDue);
            if (connected == TRANSFER_TIMED_OUT) {
                continue;
            }
            if (connected != TRANSFER_OK) {
                if (!carryOn()) {
                    return;
                }
                continue;
            }
        }
        const PassOutcome outcome =
            ServeNotificationFrame(transport, handler, logger, waitLimit, &dropLines, stop);
        if (outcome == PassOutcome::NoClient && !carryOn()) {
            return;
        }
    }
}
