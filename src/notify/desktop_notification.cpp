#include "notify/desktop_notification.h"

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
                                             bool bodyMarkup) {
    DesktopNotification notification;
    notification.summary = Utf16ToUtf8(caption);
    notification.body = Utf16ToUtf8(text);
    if (bodyMarkup) {
        notification.body = EscapeNotificationMarkup(notification.body);
    }
    notification.icon = BalloonIconName(kBalloonIconError);
    notification.urgency = NotificationUrgency::Critical;
    notification.expireTimeoutMs = 0;  // never expires: closed with the box
    return notification;
}
