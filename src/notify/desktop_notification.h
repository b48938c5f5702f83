// A balloon as a desktop notification (the freedesktop notification
// service): which summary, body, icon and time-out it is sent with, and when
// it takes down the one showing instead. The balloon rules of the dispatch
// stay as they are; this only translates them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// the image of the box's kind (a balloon's icon kind: an error for the driver
// error, information for the update boxes), critical (kept on screen until
// the box is answered).
DesktopNotification BoxCompanionNotification(std::u16string_view caption, std::u16string_view text,
                                             uint32_t iconKind, bool bodyMarkup);

// Composes notifications from balloons the way the tray record does: a
// balloon without an icon kind keeps the last one's.
class CDesktopBalloons {
public:
    DesktopNotification Compose(std::u16string_view title, std::u16string_view text,
                                std::optional<uint32_t> infoFlags, bool bodyMarkup);

private:
    uint32_t m_infoFlags = 0;  // NIIF_NONE until a balloon sets one
};

// ---- a server that comes and goes -------------------------------------------

// Which of the notifier's notices a server's id stands for.
enum class NoticeSlot : uint8_t {
    Balloon,       // the last balloon sent (the empty balloon takes it down)
    BoxCompanion,  // the notice beside a waiting box
};

// A notification as a server gave it: the server's owner on the bus (its
// unique name, never reused) and the id it gave.
struct GivenNotification {
    std::string owner;
    uint32_t id = 0;
};

// The log lines of the notices changing hands.
inline constexpr char kNoticesShownByNotifierLine[] =
    "Notification server unavailable: notices shown by the notifier itself\n";
inline constexpr char kNoticesShownByServerLine[] =
    "Notification server available: notices shown by it again\n";

// What the notifier knows of the notification server and of the notices it
// gave ids for. An id means something only to the owner that gave it: a
// server that restarts gives the same ids to other programs. So a notice is
// taken down by the owner that gave it (addressed to its unique name), and
// when that owner leaves the bus its ids are forgotten.
//
// A balloon's kind is its title (each record type has its own): a new balloon
// replaces the shown one of its kind (Notify's replaces_id), as a new balloon
// replaces the shown one on the tray, so a burst of one kind leaves one entry
// in the desktop's history. Balloons of other kinds stay until they expire or
// are closed; the server says so (NotificationClosed) and the id is forgotten.
class CNotificationBook {
public:
    // `owner` gave `id` for the notice of `slot` (a balloon's of `kind`): it
    // takes the place of the balloon of that kind; the box's notice is kept
    // once per server that shows it. False when the slot no longer wants it
    // (the box was answered before the server answered): it is to be taken
    // down at once.
    bool Given(NoticeSlot slot, std::string owner, uint32_t id, std::string_view kind = {});
    // The shown balloon of `kind` a new one replaces; id 0 for none.
    GivenNotification ShownBalloon(std::string_view kind) const;
    // The notices of `slot` to take down, forgotten here: for balloons the
    // last one sent (the empty balloon takes down the one showing, as on the
    // tray), for the box's notice every server's.
    std::vector<GivenNotification> Take(NoticeSlot slot);
    // The server `owner` closed `id` (expired, dismissed, or on request).
    void Closed(std::string_view owner, uint32_t id);
    // The server `owner` left the bus: what it gave is forgotten.
    void ServerGone(std::string_view owner);

    // A box waits (its caption, text and icon kind): its notice is shown
    // again on each new server until the box is answered.
    void BoxWaits(std::u16string caption, std::u16string text, uint32_t iconKind);
    void BoxAnswered();
    bool BoxWaiting() const { return m_boxWaiting; }
    const std::u16string& BoxCaption() const { return m_boxCaption; }
    const std::u16string& BoxText() const { return m_boxText; }
    uint32_t BoxIconKind() const { return m_boxIconKind; }

    // Who shows the notices now: a server (it took one, or one appeared on
    // the bus) or the notifier itself in its own window (none is there, or
    // Notify failed). The line to log when that changes, null otherwise. At
    // the start a server is taken to be there.
    const char* NoticesShownBy(bool server);

private:
    struct Entry {
        NoticeSlot slot;
        GivenNotification given;
        std::string kind;  // a balloon's title
    };
    std::vector<Entry> m_given;
    bool m_boxWaiting = false;
    std::u16string m_boxCaption;
    std::u16string m_boxText;
    uint32_t m_boxIconKind = 0;
    bool m_shownByNotifier = false;
};
