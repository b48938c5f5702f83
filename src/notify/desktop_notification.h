// A balloon as a desktop notification (the freedesktop notification
// service): which summary, body, icon and time-out it is sent with, and when
// it takes down the one showing instead. The balloon rules of the dispatch
// stay as they are; this only translates them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "notify/desktop_application.h"

inline constexpr const char* kDesktopAppName = kApplicationDisplayName;
// The desktop entry (com.orlivan.Notifier.desktop) the notifications belong to.
inline constexpr const char* kDesktopEntryName = kApplicationId;
// A balloon stays at least 10 seconds on Windows, whatever shorter time-out
// the tray record carries (the dispatch's 4), so a notification expires
// after the same time.
constexpr int32_t kDesktopNotificationTimeoutMs = 10000;

// The notification's urgency hint. A critical notification stays on screen
// until it is closed (servers ignore its time-out).
enum class NotificationUrgency : uint8_t { Low = 0, Normal = 1, Critical = 2 };

struct DesktopNotification {
    // Take down the notification showing (the empty balloon of an unknown
    // record) instead of sending one.
    bool close = false;
    std::string summary;  // the balloon's title, UTF-8
    std::string body;     // the balloon's text, UTF-8 (escaped when the server reads markup)
    // The product's icon with the record's kind (information, warning,
    // error) as an emblem, a themed icon shown as the notification's image;
    // empty for none. The application's icon is kApplicationIconName.
    std::string icon;
    NotificationUrgency urgency = NotificationUrgency::Normal;
    int32_t expireTimeoutMs = kDesktopNotificationTimeoutMs;
};

// The themed icon of a balloon's icon kind (the tray record's dwInfoFlags):
// the product's icon with an information, warning or error emblem, or none.
const char* BalloonIconName(uint32_t infoFlags);

// `text` with &, < and > written as entities, for a server that reads the
// body as markup.
std::string EscapeNotificationMarkup(std::string_view text);

// The notice shown beside a message box that waits for the user, where the
// desktop may hide the box behind another window: the box's caption and text,
// the error image, critical (kept on screen until the box is answered).
DesktopNotification BoxCompanionNotification(std::u16string_view caption, std::u16string_view text,
                                             bool bodyMarkup);

// Composes notifications from balloons the way the tray record does: a
// balloon without an icon kind keeps the last one's.
class CDesktopBalloons {
public:
    DesktopNotification Compose(std::u16string_view title, std::u16string_view text,
                                std::optional<uint32_t> infoFlags, bool bodyMarkup);

private:
    uint32_t m_infoFlags = 0;  // NIIF_NONE until a balloon sets one
};
