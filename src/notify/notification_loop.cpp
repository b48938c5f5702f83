#include "notify/notification_loop.h"

#include <cstdlib>
#include <memory>
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
    uint64_t heldBack = 0;
    if (dropLines != nullptr && !dropLines->Admit(&heldBack)) {
        return;
    }
    logger->Log(1, "Notification frame dropped: %s%s\n", reason,
                CLogRateLimit::HeldBackNote(heldBack).c_str());
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
    for (;;) {
        const PassOutcome outcome =
            ServeNotificationFrame(transport, handler, logger, waitLimit, &dropLines, stop);
        if (outcome == PassOutcome::NoClient) {
            if (stop != nullptr && stop->load()) {
                return;
            }
            std::this_thread::sleep_for(kConnectRetryPause);
        }
    }
}
