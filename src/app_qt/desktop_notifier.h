// The desktop's notification service (org.freedesktop.Notifications) over
// the session bus, called directly so that notifications are shown whether
// or not a tray host runs; and, while no server takes them, the notifier's
// own notice windows (notice_window.h). The server's owner is followed: a server that restarts
// or leaves takes its ids with it.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "notify/desktop_notification.h"

class CNoticeStack;

class CDesktopNotifier : public QObject {
    Q_OBJECT
public:
    // Made on the interface thread, whose event loop follows the server's owner.
    explicit CDesktopNotifier(QObject* parent = nullptr);
    ~CDesktopNotifier() override;

    // A balloon (worker thread): sent to the server, or shown in the
    // notifier's own window when none is there or it does not take it. The
    // empty balloon takes the shown one down.
    void ShowBalloon(std::u16string_view title, std::u16string_view text,
                     std::optional<uint32_t> infoFlags);
    // The notice beside a box while it waits (worker thread): a critical
    // notification with the image of `iconKind`, sent again to each server
    // that comes while the box waits; taken down when the box is answered.
    void ShowBoxNotice(std::u16string_view caption, std::u16string_view text, uint32_t iconKind);
    void BoxAnswered();

private slots:
    void OnServerOwnerChanged(const QString& name, const QString& oldOwner,
                              const QString& newOwner);
    void OnNotificationClosed(uint id, uint reason, const QDBusMessage& signal);

private:
    // Whether a server is on the bus, running or startable; `bodyMarkup`
    // tells whether it reads the body as markup.
    bool Available(bool* bodyMarkup);
    // Sends `notification`, in place of the server's `replacesId` when not 0;
    // the owner that gave an id for it, empty when it failed.
    GivenNotification Notify(DesktopNotification notification, bool bodyMarkup,
                             uint32_t replacesId = 0);
    // Takes down a notification, addressed to the owner that gave it.
    void Close(const GivenNotification& given);
    void Log(const char* line);
    // Asks the interface thread to show `notice` in a window of the
    // notifier's own, or to take them all down (none), in the order asked.
    void RequestOwnWindow(std::optional<DesktopNotification> notice);
    // Carries out the requests (interface thread).
    Q_INVOKABLE void UpdateOwnWindow();
    // The waiting box's notice to a new server (interface thread, without blocking).
    void ResendBoxNotice();
    // Books the box's notice a server gave; takes it down again when the box
    // was answered meanwhile.
    void KeepBoxNotice(const GivenNotification& given);

    // Guards m_book (the worker sends, the interface thread follows the
    // owner) and the own windows' requests (handed over here, not in the
    // queued call, so a ThreadSanitizer build sees the order).
    std::mutex m_mutex;
    CNotificationBook m_book;
    std::deque<std::optional<DesktopNotification>> m_windowRequests;
    CDesktopBalloons m_balloons;              // worker only
    std::unique_ptr<CNoticeStack> m_windows;  // interface thread
};
