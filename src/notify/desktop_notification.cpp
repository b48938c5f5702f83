#include "notify/desktop_notification.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "base/text.h"
#include "notify/dispatch.h"

// The product's icon with the kind's emblem (installed beside it in hicolor),
// so the banner shows both whichever of app icon and image a server draws.
const char* BalloonIconName(uint32_t infoFlags) {
    switch (infoFlags & 0x0F) {  // NIIF_ICON_MASK
        case 1:
            return "orlivan-notifier-information";
        case 2:
            return "orlivan-notifier-warning";
        case 3:
            return "orlivan-notifier-error";
        default:
            return "";
    }
}

std::string EscapeNotificationMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

DesktopNotification CDesktopBalloons::Compose(std::u16string_view title, std::u16string_view text,
                                              std::optional<uint32_t> infoFlags, bool bodyMarkup) {
    if (infoFlags.has_value()) {
        m_infoFlags = *infoFlags;
    }
    DesktopNotification notification;
    // A balloon without text takes down the one showing, as on the tray.
    notification.close = text.empty();
    notification.summary = Utf16ToUtf8(title);
    notification.body = Utf16ToUtf8(text);
    if (bodyMarkup) {
        notification.body = EscapeNotificationMarkup(notification.body);
    }
    notification.icon = BalloonIconName(m_infoFlags);
    return notification;
}

DesktopNotification BoxCompanionNotification(std::u16string_view caption, std::u16string_view text,
                                             uint32_t iconKind, bool bodyMarkup) {
    DesktopNotification notification;
    notification.summary = Utf16ToUtf8(caption);
    notification.body = Utf16ToUtf8(text);
    if (bodyMarkup) {
        notification.body = EscapeNotificationMarkup(notification.body);
    }
    notification.icon = BalloonIconName(iconKind);
    notification.urgency = NotificationUrgency::Critical;
    notification.expireTimeoutMs = 0;  // never expires: closed with the box
    return notification;
}

bool CNotificationBook::Given(NoticeSlot slot, std::string owner, uint32_t id,
                              std::string_view kind) {
    if (slot == NoticeSlot::BoxCompanion && !m_boxWaiting) {
        return false;
    }
    if (slot == NoticeSlot::Balloon) {
        // The one of its kind was replaced (or the server showed a new one
        // in its place); balloons of other kinds stay until they close.
        std::erase_if(m_given, [&](const Entry& e) {
            return e.slot == NoticeSlot::Balloon &&
                   (e.kind == kind || (e.given.owner == owner && e.given.id == id));
        });
    }
    m_given.push_back(Entry{slot, GivenNotification{std::move(owner), id}, std::string(kind)});
    return true;
}

GivenNotification CNotificationBook::ShownBalloon(std::string_view kind) const {
    for (const Entry& e : m_given) {
        if (e.slot == NoticeSlot::Balloon && e.kind == kind) {
            return e.given;
        }
    }
    return {};
}

std::vector<GivenNotification> CNotificationBook::Take(NoticeSlot slot) {
    std::vector<GivenNotification> taken;
    if (slot == NoticeSlot::Balloon) {
        // Entries are kept in the order given: the last balloon is the last one.
        const auto last = std::find_if(m_given.rbegin(), m_given.rend(), [](const Entry& e) {
            return e.slot == NoticeSlot::Balloon;
        });
        if (last != m_given.rend()) {
            taken.push_back(std::move(last->given));
            m_given.erase(std::next(last).base());
        }
        return taken;
    }
    std::erase_if(m_given, [&](Entry& e) {
        if (e.slot != slot) {
            return false;
        }
        taken.push_back(std::move(e.given));
        return true;
    });
    return taken;
}

void CNotificationBook::Closed(std::string_view owner, uint32_t id) {
    std::erase_if(m_given,
                  [&](const Entry& e) { return e.given.owner == owner && e.given.id == id; });
}

void CNotificationBook::ServerGone(std::string_view owner) {
    std::erase_if(m_given, [owner](const Entry& e) { return e.given.owner == owner; });
}

void CNotificationBook::BoxWaits(std::u16string caption, std::u16string text, uint32_t iconKind) {
    m_boxWaiting = true;
    m_boxCaption = std::move(caption);
    m_boxText = std::move(text);
    m_boxIconKind = iconKind;
}

void CNotificationBook::BoxAnswered() {
    m_boxWaiting = false;
    m_boxCaption.clear();
    m_boxText.clear();
}

const char* CNotificationBook::NoticesShownBy(bool server) {
    if (m_shownByNotifier == !server) {
        return nullptr;
    }
    m_shownByNotifier = !server;
    return server ? kNoticesShownByServerLine : kNoticesShownByNotifierLine;
}
