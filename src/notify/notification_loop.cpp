#include "notify/notification_loop.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "log/logger.h"

namespace {

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

// After a failed connect the loop waits this long before it tries again, so a
// channel that keeps failing does not spin the worker.
constexpr std::chrono::milliseconds kConnectRetryPause{100};

void LogDroppedFrame(CLogger* logger, CDropLineLog* dropLines, const char* reason) {
    if (dropLines != nullptr) {
        dropLines->Dropped(reason);
    } else if (logger != nullptr) {
        logger->Log(1, "Notification frame dropped: %s\n", reason);
    }
}

}  // namespace

CDropLineLog::CDropLineLog(CLogger* logger) : m_logger(logger) {}

CDropLineLog::~CDropLineLog() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ending = true;
    }
    m_wake.notify_one();
    if (m_writer.joinable()) {
        m_writer.join();
    }
    std::string line;
    if (m_logger != nullptr && m_limit.Flush(&line, true)) {
        m_logger->Log(1, "Notification frame dropped: %s\n", line.c_str());
    }
}

void CDropLineLog::Dropped(const char* reason) {
    if (m_logger == nullptr) {
        return;
    }
    std::string line;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_limit.Admit(reason, &line)) {
        m_logger->Log(1, "Notification frame dropped: %s\n", line.c_str());
    } else if (m_writerRunning) {
        m_wake.notify_one();  // the writer learns when the held-back line is due
    } else {
        // The writer comes when a line is held back and goes when none is.
        if (m_writer.joinable()) {
            m_writer.join();  // out of its loop already
        }
        m_writerRunning = true;
        m_writer = std::thread([this] { WriteWhenDue(); });
    }
}

void CDropLineLog::WriteWhenDue() {
    std::unique_lock<std::mutex> lock(m_lock);
    std::string line;
    while (!m_ending) {
        const auto untilDue = m_limit.UntilFlush();
        if (!untilDue) {
            break;
        } else if (untilDue->count() > 0) {
            m_wake.wait_for(lock, *untilDue);
        } else if (m_limit.Flush(&line)) {
            m_logger->Log(1, "Notification frame dropped: %s\n", line.c_str());
        }
    }
    m_writerRunning = false;
}

PassOutcome ServeNotificationFrame(FrameTransport& transport, const NotificationHandler& handler,
                                   CLogger* logger, std::chrono::milliseconds waitLimit,
                                   CDropLineLog* dropLines, const std::atomic<bool>* stop) {
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
    CDropLineLog dropLines(logger);
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
