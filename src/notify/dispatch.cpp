#include "notify/dispatch.h"

#include <climits>
#include <cstdio>

#include "base/messages.h"

namespace {

// The log line written first for every record, at level 1, with the type code.
// Its wording is fixed: it is the line the log has always carried for a
// record, and readers of the log look for it.
constexpr const char kRecordLogFormat[] = "COrlivanSysTrayDlg::ShowNotification %d\n";
constexpr int32_t kRecordLogLevel = 1;

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

// The catalogue's text with `variable` in place of its placeholder, the
// variable part cut so that the whole fits a balloon text and the fixed
// sentence around it stays whole.
std::u16string ComposeFitted(MessageId id, std::u16string_view variable) {
    const auto [prefix, suffix] = SplitAtPlaceholder(MessageText(id));
    return FitBetween(Utf8ToUtf16(prefix).value_or(u""), variable,
                      Utf8ToUtf16(suffix).value_or(u""), kBalloonTextUnits);
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
            const auto [before, after] =
                SplitAtPlaceholder(MessageText(MessageId::ConflictProcessName));
            subject = Utf8ToUtf16(before).value_or(u"") + DecodeExternalText(name, codePage) +
                      Utf8ToUtf16(after).value_or(u"");
        }
    }
    Balloon balloon{MessageText16(MessageId::ConflictTitle),
                    ComposeFitted(MessageId::ConflictText, subject), kBalloonIconError};
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
                               {MessageText16(MessageId::NotifierErrorTitle),
                                MessageText16(MessageId::NotifierErrorText), kBalloonIconError},
                               0);
        case NOTIFY_HTTPS_SITE_BLOCKED:
            return ShowBalloon(view,
                               {MessageText16(MessageId::SiteBlockedTitle),
                                ComposeFitted(MessageId::SiteBlockedText,
                                              DecodeExternalText(record.detail, codePage)),
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
            return ShowBalloon(view,
                               {MessageText16(MessageId::NewUpdateTitle),
                                MessageText16(MessageId::NewUpdateText), kBalloonIconInfo},
                               1);
        case NOTIFY_SERVER_DOWN:
            return ShowBalloon(view,
                               {MessageText16(MessageId::ServerDownTitle),
                                MessageText16(MessageId::ServerDownText), kBalloonIconError},
                               1);
        case NOTIFY_DRIVER_ERROR: {
            const std::u16string text = Utf8ToUtf16(MessageFormat(MessageId::DriverErrorText,
                                                                  {IntToString(record.errorCode)}))
                                            .value_or(u"");
            const std::u16string title = MessageText16(MessageId::DriverErrorTitle);
            if (!state.s_driverErrorReported) {
                view.ShowErrorBox(text, title);
                state.s_driverErrorReported = true;
                return 1;
            }
            return ShowBalloon(view, {title, text, kBalloonIconError}, 1);
        }
        case NOTIFY_NO_HOTSPOT:
            return ShowBalloon(view,
                               {MessageText16(MessageId::NoHotspotTitle),
                                MessageText16(MessageId::NoHotspotText), kBalloonIconError},
                               1);
        case NOTIFY_HOTSPOT_DETECTED:
            return ShowBalloon(view,
                               {MessageText16(MessageId::HotspotDetectedTitle),
                                MessageText16(MessageId::HotspotDetectedText), kBalloonIconError},
                               1);
        case NOTIFY_NORMAL_MODE:
            return ShowBalloon(view,
                               {MessageText16(MessageId::NormalModeTitle),
                                MessageText16(MessageId::NormalModeText), kBalloonIconError},
                               1);
        case NOTIFY_CONFLICTING_APPLICATION:
            return HandleConflictingApplication(record, view, state, codePage);
        default:
            // An unknown code: an empty balloon (which also takes down one that
            // is showing), icon left as it was, and no reply.
            return ShowBalloon(view, {u"", u"", std::nullopt}, 0);
    }
}
