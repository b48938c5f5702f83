// What the notifier does with one notification record: the log line, then a
// balloon on the tray icon, a message box, a silent update check or nothing,
// by the record's type; and the reply value for the service (1 handled, 0 no
// reply). The decisions live here; the shell carries them out through
// NotificationView.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "notify/record.h"
#include "base/text.h"

// Balloon icons (the values of the tray icon record's dwInfoFlags).
constexpr uint32_t kBalloonIconInfo = 1;   // NIIF_INFO
constexpr uint32_t kBalloonIconError = 3;  // NIIF_ERROR

// Field sizes of the tray icon record, in UTF-16 units without the terminator.
constexpr size_t kBalloonTextUnits = 255;
constexpr size_t kBalloonTitleUnits = 63;

// How long the worker waits after every balloon, so at most one balloon a
// second reaches the notification area.
constexpr uint32_t kBalloonPauseMs = 1000;

// Conflicting-application balloons come at most once in this many seconds.
constexpr int64_t kConflictBalloonIntervalSeconds = 120;

// The platform side of the dispatch: the shell's main window implements it.
class NotificationView {
public:
    virtual ~NotificationView() = default;

    // Writes one log line (already formatted, with its line feed).
    virtual void Log(int32_t level, const std::string& line) = 0;

    // Shows a balloon on the tray icon: flags NIF_INFO alone, `text` and
    // `title` (each fits its field), a time-out of 4, dwInfoFlags set to
    // `infoFlags` when given and otherwise left as the last balloon had it,
    // then NIM_MODIFY.
    virtual void ShowBalloon(std::u16string_view title, std::u16string_view text,
                             std::optional<uint32_t> infoFlags) = 0;

    // Blocks the worker for `milliseconds`.
    virtual void Pause(uint32_t milliseconds) = 0;

    // Shows a modal error message box owned by the main window and returns
    // when the user has closed it.
    virtual void ShowErrorBox(std::u16string_view text, std::u16string_view caption) = 0;

    // Runs the update check with silent = true and returns when it is done.
    virtual void CheckForUpdateSilently() = 0;

    // The name of the process with this id in the platform's 8-bit text;
    // empty when it cannot be found.
    virtual std::string GetProcessName(int32_t processId) = 0;

    // The current time in seconds since 1970-01-01 00:00 UTC.
    virtual int64_t Now() = 0;
};

// The process-wide state of the dispatch: one instance for the life of the
// process, never saved.
struct NotificationDispatchState {
    // The next new-update notice starts a silent update check instead of a balloon.
    bool s_checkUpdateOnNotice = true;
    // The first driver error has been shown in a message box.
    bool s_driverErrorReported = false;
    // When the last conflicting-application balloon was composed (seconds since 1970).
    int64_t s_lastConflictBalloonTime = 0;
};

// The one dispatch state of the process.
NotificationDispatchState& ProcessNotificationState();

// Handles one record and returns the reply value. `codePage` decodes 8-bit
// text from outside (detail, process name) that is not valid UTF-8; null takes
// such bytes as Latin-1.
int32_t DispatchNotification(const NotificationRecord& record, NotificationView& view,
                             NotificationDispatchState& state, CodePageDecoder codePage);

// The process id named in a conflicting-application detail: the decimal text
// between the marker `PID - "` and the next quotation mark; 0 when either is
// missing or the text is not a number that fits 32 bits. Leading blanks and a
// sign are accepted and trailing non-digits end the number.
int32_t ConflictProcessId(std::string_view detail);
