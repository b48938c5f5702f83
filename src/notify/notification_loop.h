// The notification worker: reads one frame at a time from the channel,
// decodes the record, hands it to the shell's handler, writes the reply when
// the result is not 0, and starts over. Records are handled one after another
// in the order they arrive.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "log/log_rate_limit.h"

#include "notify/frame_reader.h"
#include "notify/frame_transport.h"
#include "notify/record.h"

class CLogger;

// At most one "Notification frame dropped" line per this interval, so a peer
// sending bad frames without pause cannot flood the log.
inline constexpr std::chrono::seconds kDropLineInterval{1};

using NotificationHandler = std::function<int32_t(const NotificationRecord&)>;

// What one pass of the loop did.
enum class PassOutcome {
    NoClient,      // no client could be connected
    Dropped,       // the frame could not be read or decoded; the client was dropped
    Handled,       // handled; no reply was due, or the reply was written
    ReplyGivenUp,  // handled, but the client had gone or stalled: reply given up, client dropped
};

// The log's lines about dropped frames: at most one per kDropLineInterval.
// The worker reports each drop; those held back are written by a small writer
// thread as soon as they are due, so they reach the log within about an
// interval, with their reasons, even while the worker waits for a client or
// serves one (a box can keep it for minutes), and whatever is still held back
// is written when the log of drops ends.
class CDropLineLog {
public:
    // Nothing is written without a logger. A writer thread runs only while a
    // line is held back.
    explicit CDropLineLog(CLogger* logger);
    ~CDropLineLog();
    CDropLineLog(const CDropLineLog&) = delete;
    CDropLineLog& operator=(const CDropLineLog&) = delete;

    // A frame was dropped for `reason` (one of the program's fixed texts).
    void Dropped(const char* reason);

private:
    void WriteWhenDue();

    CLogger* m_logger;
    CLogRateLimit m_limit{kDropLineInterval};
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_ending = false;
    bool m_writerRunning = false;
    std::thread m_writer;
};

// One pass: read a frame (waiting for a client if none is connected), decode
// it, handle it and reply. A body that does not decode is not handled: the
// client is dropped without a reply. Problems are logged at level 1 when
// `logger` is given; a client closing between frames is not a problem, and a
// client the channel refused is logged by the channel itself. With
// `dropLines`, the lines about dropped frames pass through it. Once `stop` is set, a read cut
// short is the program's own end, not a problem, and is not logged.
PassOutcome ServeNotificationFrame(FrameTransport& transport, const NotificationHandler& handler,
                                   CLogger* logger,
                                   std::chrono::milliseconds waitLimit = kClientWaitLimit,
                                   CDropLineLog* dropLines = nullptr,
                                   const std::atomic<bool>* stop = nullptr);

// Runs passes until `stop` (when given) is set and the transport refuses to
// connect; dropped frames are logged through a CDropLineLog of its own. In the
// program it runs for the life of the process.
void RunNotificationLoop(FrameTransport& transport, const NotificationHandler& handler,
                         CLogger* logger, std::chrono::milliseconds waitLimit = kClientWaitLimit,
                         const std::atomic<bool>* stop = nullptr);
