#include "notify/dispatch.h"

#include <climits>
#include <cstdio>

namespace {

// The log line written first for every record, at level 1, with the type code.
// Its wording is fixed: it is the line the log has always carried for a
// record, and readers of the log look for it.
constexpr const char kRecordLogFormat[] = "COrlivanSysTrayDlg::ShowNotification %d\n";
constexpr int32_t kRecordLogLevel = 1;

constexpr std::string_view kSiteBlockedSuffix = " was blocked by orlivan";
constexpr std::string_view kDriverErrorPrefix = "Orlivan driver failed! to load with error ";
constexpr std::string_view kDriverErrorTitle = "Orlivan Driver Error";
constexpr std::string_view kConflictPrefix = "Orlivan is blocked by application with ";
constexpr std::string_view kConflictSuffix =
    ". Please stop the application to help Orlivan work properly";
constexpr std::string_view kProcessIdMarker = "PID - \"";

// A balloon decided by the table; flags stay as they were when not given.
struct Balloon {
    std::u16string title;
    std::u16string text;
    std::optional<uint32_t> infoFlags;
};

int32_t ShowBalloon(NotificationView& view, const Balloon& balloon, int32_t result) {
    view.ShowBalloon(FitText(balloon.title, kBalloonTitleUnits),
                     FitText(balloon.text, kBalloonTextUnits), balloon.infoFlags);
    view.Pause(kBalloonPauseMs);
    return result;
}

// prefix + variable + suffix, the variable part cut so that the whole fits a
// balloon text and the fixed sentence around it stays whole.
std::u16string ComposeFitted(std::string_view prefix, std::u16string_view variable,
                             std::string_view suffix) {
    return FitBetween(WidenBytes(prefix), variable, WidenBytes(suffix), kBalloonTextUnits);
}

int32_t HandleConflictingApplication(const NotificationRecord& record, NotificationView& view,
                                     NotificationDispatchState& state, CodePageDecoder codePage) {
    const int64_t now = view.Now();
    // A clock that went back counts as "too soon", as a difference below the interval.
    if (now - state.s_lastConflictBalloonTime < kConflictBalloonIntervalSeconds) {
        return 1;
    }
    std::u16string subject = DecodeExternalText(record.detail, codePage);
    // Without a usable process id (no marker, no closing quotation mark, not a
    // number, 0 or negative) nothing is looked up: asking for process 0 would
    // name the system's idle process instead of the application, so the
    // service's own text stands.
    const int32_t processId =
        record.detail.find("PID") != std::string::npos ? ConflictProcessId(record.detail) : 0;
    if (processId > 0) {
        const std::string name = view.GetProcessName(processId);
        if (!name.empty()) {
            subject = u"name \"" + DecodeExternalText(name, codePage) + u"\"";
        }
    }
    Balloon balloon{WidenBytes("Conflicting Application Found"),
                    ComposeFitted(kConflictPrefix, subject, kConflictSuffix), kBalloonIconError};
    state.s_lastConflictBalloonTime = view.Now();
    return ShowBalloon(view, balloon, 1);
}

}  // namespace

NotificationDispatchState& ProcessNotificationState() {
    static NotificationDispatchState state;
    return state;
}

int32_t ConflictProcessId(std::string_view detail) {
    const std::string idText = TextBefore(TextAfter(kProcessIdMarker, detail), "\"");
    size_t i = 0;
    while (i < idText.size() && (idText[i] == ' ' || (idText[i] >= '\t' && idText[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < idText.size() && (idText[i] == '+' || idText[i] == '-')) {
        negative = idText[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < idText.size() && idText[i] >= '0' && idText[i] <= '9'; ++i) {
        value = value * 10 + (idText[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) {
            return 0;  // out of range: no process has this id
        }
    }
    value = negative ? -value : value;
    if (value > INT32_MAX || value < INT32_MIN) {
        return 0;
    }
    return static_cast<int32_t>(value);
}

int32_t DispatchNotification(const NotificationRecord& record, NotificationView& view,
                             NotificationDispatchState& state, CodePageDecoder codePage) {
    char line[96];
    std::snprintf(line, sizeof line, kRecordLogFormat, static_cast<int>(record.type));
    view.Log(kRecordLogLevel, line);

    switch (record.type) {
        case NOTIFY_NOTIFIER_ERROR:
            return ShowBalloon(view,
                               {WidenBytes("Notifier Error"),
                                WidenBytes("Error with Notifier Operation"), kBalloonIconError},
                               0);
        case NOTIFY_HTTPS_SITE_BLOCKED:
            return ShowBalloon(
                view,
                {WidenBytes("HTTPS Site Blocked"),
                 ComposeFitted("", DecodeExternalText(record.detail, codePage), kSiteBlockedSuffix),
                 kBalloonIconInfo},
                1);
        case NOTIFY_ACK_ONLY:
            return 1;
        case NOTIFY_NEW_UPDATE:
            if (state.s_checkUpdateOnNotice) {
                view.CheckForUpdateSilently();
                state.s_checkUpdateOnNotice = false;
                return 1;
            }
            return ShowBalloon(
                view,
                {WidenBytes("New Update"),
                 WidenBytes("A new version of Orlivan is available for Update"), kBalloonIconInfo},
                1);
        case NOTIFY_SERVER_DOWN:
            return ShowBalloon(
                view,
                {WidenBytes("Server Down"),
                 WidenBytes("Orlivan Server is down. Try after some time"), kBalloonIconError},
                1);
        case NOTIFY_DRIVER_ERROR: {
            const std::u16string text =
                WidenBytes(std::string(kDriverErrorPrefix) + IntToString(record.errorCode));
            if (!state.s_driverErrorReported) {
                view.ShowErrorBox(text, WidenBytes(kDriverErrorTitle));
                state.s_driverErrorReported = true;
                return 1;
            }
            return ShowBalloon(view, {WidenBytes(kDriverErrorTitle), text, kBalloonIconError}, 1);
        }
        case NOTIFY_NO_HOTSPOT:
            return ShowBalloon(
                view,
                {WidenBytes("No Hotspot"),
                 WidenBytes(
                     "Orlivan cannot detect any hotspot. Make sure you are connected to one"),
                 kBalloonIconError},
                1);
        case NOTIFY_HOTSPOT_DETECTED:
            return ShowBalloon(
                view,
                {WidenBytes("Hotspot Detected"),
                 WidenBytes("Orlivan has detected hotspot and is switching to Hotspot mode"),
                 kBalloonIconError},
                1);
        case NOTIFY_NORMAL_MODE:
            return ShowBalloon(view,
                               {WidenBytes("Normal mode"),
                                WidenBytes("Orlivan is switching to Normal mode from Hotspot mode"),
                                kBalloonIconError},
                               1);
        case NOTIFY_CONFLICTING_APPLICATION:
            return HandleConflictingApplication(record, view, state, codePage);
        default:
            // An unknown code: an empty balloon (which also takes down one that
            // is showing), icon left as it was, and no reply.
            return ShowBalloon(view, {u"", u"", std::nullopt}, 0);
    }
}
