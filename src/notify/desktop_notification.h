// A balloon as a desktop notification (the freedesktop notification
// service): which summary, body, icon and time-out it is sent with, and when
// it takes down the one showing instead. The balloon rules of the dispatch
// stay as they are; this only translates them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr char kDesktopAppName[] = "Orlivan Notifier";
// The desktop entry (orlivan-notifier.desktop) the notifications belong to.
inline constexpr char kDesktopEntryName[] = "orlivan-notifier";
// A balloon stays at least 10 seconds on Windows, whatever shorter time-out
// the tray record carries (the dispatch's 4), so a notification expires
// after the same time.
constexpr int32_t kDesktopNotificationTimeoutMs = 10000;

struct DesktopNotification {
    // Take down the notification showing (the empty balloon of an unknown
    // record) instead of sending one.
    bool close = false;
    std::string summary;  // the balloon's title, UTF-8
    std::string body;     // the balloon's text, UTF-8 (escaped when the server reads markup)
    std::string icon;     // a themed icon name, or empty for none
    int32_t expireTimeoutMs = kDesktopNotificationTimeoutMs;
};

// The themed icon of a balloon's icon kind (the tray record's dwInfoFlags):
// information, warning, error, or none.
const char* BalloonIconName(uint32_t infoFlags);

// `text` with &, < and > written as entities, for a server that reads the
// body as markup.
std::string EscapeNotificationMarkup(std::string_view text);

// Composes notifications from balloons the way the tray record does: a
// balloon without an icon kind keeps the last one's.
class CDesktopBalloons {
public:
    DesktopNotification Compose(std::u16string_view title, std::u16string_view text,
                                std::optional<uint32_t> infoFlags, bool bodyMarkup);

private:
    uint32_t m_infoFlags = 0;  // NIIF_NONE until a balloon sets one
};
