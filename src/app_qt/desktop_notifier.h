// The desktop's notification service (org.freedesktop.Notifications) over
// the session bus, called directly so that notifications are shown whether
// or not a tray host runs.
#pragma once

#include <cstdint>

#include "notify/desktop_notification.h"

class CDesktopNotifier {
public:
    // Whether a notification server is on the session bus, running or
    // startable; `bodyMarkup` tells whether it reads the body as markup.
    bool Available(bool* bodyMarkup);
    // Sends `notification`; the server's id for it, 0 when it failed.
    uint32_t Notify(const DesktopNotification& notification);
    // Takes down the notification `id` (when it still shows).
    void Close(uint32_t id);
};
