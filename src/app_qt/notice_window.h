// The notifier's own notices, for the times no notification server takes
// them: each a small window of the notification kind (no taskbar entry, no
// title bar, never given the keyboard when it appears), announced to screen
// readers as a notification with its title and text. Notices shown together
// stack in the top trailing corner of the screen, the newest at the corner;
// each closes after its own time, which stops while the pointer rests on it,
// or when clicked, or on Escape once the person has moved to it.
#pragma once

#include <QWidget>

#include <deque>

#include "notify/desktop_notification.h"

class CNoticeWindow;

class CNoticeStack {
public:
    // At most this many are shown at once; a newer notice closes the oldest.
    static constexpr size_t kMaxShown = 6;

    CNoticeStack();
    ~CNoticeStack();
    CNoticeStack(const CNoticeStack&) = delete;
    CNoticeStack& operator=(const CNoticeStack&) = delete;

    // Shows `notice` at the corner, the others moved along (interface thread).
    void Show(const DesktopNotification& notice);
    // Takes every notice down.
    void CloseAll();

private:
    void Closed(CNoticeWindow* window);
    // Places the shown windows from the corner, the newest first.
    void Arrange();

    std::deque<CNoticeWindow*> m_shown;  // the newest first; owned
};
