#include "app_qt/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>
#include <QVariantMap>

#include <string>
#include <vector>

#include "app_qt/notice_window.h"
#include "log/logger.h"
#include "notify/dispatch.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// A server or bus that does not answer holds the worker at most this long.
constexpr int kCallTimeoutMs = 2000;

QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
}

QVariant FirstResult(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return QVariant();
    }
    return reply.arguments().first();
}

QDBusMessage BusCall(const QString& method, const QVariantList& arguments = {}) {
    return Call(kBus, kBusPath, kBus, method, arguments);
}

bool ReadsMarkup(const QDBusMessage& capabilities) {
    return FirstResult(capabilities).toStringList().contains(QStringLiteral("body-markup"));
}

QDBusMessage NotifyCall(const DesktopNotification& notification, bool bodyMarkup,
                        uint32_t replacesId = 0) {
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromUtf8(kDesktopEntryName));
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(static_cast<uchar>(notification.urgency)));  // a byte
    if (!notification.icon.empty()) {
        // The product's icon with the record's kind as its emblem, as the
        // notification's image (the shell shows the image in place of the
        // application's icon).
        hints.insert(QStringLiteral("image-path"), QString::fromStdString(notification.icon));
    }
    const std::string body =
        bodyMarkup ? EscapeNotificationMarkup(notification.body) : notification.body;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "Notify");
    call.setArguments({
        QString::fromUtf8(kDesktopAppName),
        QVariant::fromValue(replacesId),  // the shown one of its kind, or 0 for none
        QString::fromUtf8(kApplicationIconName),
        QString::fromStdString(notification.summary),
        QString::fromStdString(body),
        QStringList(),
        hints,
        QVariant::fromValue(int32_t{notification.expireTimeoutMs}),
    });
    return call;
}

// The server's answer to Notify: the owner that gave the id (the reply's
// sender), or nothing when it failed.
GivenNotification GivenBy(const QDBusMessage& reply) {
    const uint32_t id = FirstResult(reply).toUInt();
    if (id == 0 || reply.service().isEmpty()) {
        return {};
    }
    return GivenNotification{reply.service().toStdString(), id};
}

}  // namespace

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent) {
    // The name's owner changes when a server starts, ends or is replaced;
    // Qt's service watcher tells only the first two.
    QDBusConnection::sessionBus().connect(kBus, kBusPath, kBus, QStringLiteral("NameOwnerChanged"),
                                          QStringList{kService}, QString(), this,
                                          SLOT(OnServerOwnerChanged(QString, QString, QString)));
    // A notification the server closed is not replaced: the next of its kind is new.
    QDBusConnection::sessionBus().connect(kService, kPath, kService,
                                          QStringLiteral("NotificationClosed"), this,
                                          SLOT(OnNotificationClosed(uint, uint, QDBusMessage)));
}

CDesktopNotifier::~CDesktopNotifier() = default;

bool CDesktopNotifier::Available(bool* bodyMarkup) {
    *bodyMarkup = false;
    if (!QDBusConnection::sessionBus().isConnected()) {
        return false;
    }
    // A server that runs, or one the bus starts on the first call.
    const bool present =
        FirstResult(BusCall(QStringLiteral("NameHasOwner"), {kService})).toBool() ||
        FirstResult(BusCall(QStringLiteral("ListActivatableNames")))
            .toStringList()
            .contains(kService);
    if (!present) {
        return false;
    }
    *bodyMarkup = ReadsMarkup(Call(kService, kPath, kService, "GetCapabilities"));
    return true;
}

GivenNotification CDesktopNotifier::Notify(DesktopNotification notification, bool bodyMarkup,
                                           uint32_t replacesId) {
    return GivenBy(QDBusConnection::sessionBus().call(
        NotifyCall(notification, bodyMarkup, replacesId), QDBus::Block, kCallTimeoutMs));
}

void CDesktopNotifier::Close(const GivenNotification& given) {
    // To the owner that gave the id: after a restart another program may have
    // the same id from the new server.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromStdString(given.owner), kPath, kService, QStringLiteral("CloseNotification"));
    call.setArguments({QVariant::fromValue(given.id)});
    QDBusConnection::sessionBus().send(
        call);  // an id that has expired is no error worth waiting for
}

void CDesktopNotifier::Log(const char* line) {
    if (line != nullptr) {
        CLogger::GetInstance(std::string())->LogLine(0, line);
    }
}

void CDesktopNotifier::ShowBalloon(std::u16string_view title, std::u16string_view text,
                                   std::optional<uint32_t> infoFlags) {
    const DesktopNotification notification = m_balloons.Compose(title, text, infoFlags, false);
    if (notification.close) {
        std::vector<GivenNotification> shown;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            shown = m_book.Take(NoticeSlot::Balloon);
        }
        for (const GivenNotification& given : shown) {
            Close(given);
        }
        RequestOwnWindow(std::nullopt);
        return;
    }
    bool markup = false;
    GivenNotification given;
    if (Available(&markup)) {
        GivenNotification shown;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            shown = m_book.ShownBalloon(notification.summary);
        }
        given = Notify(notification, markup, shown.id);
    }
    const bool byServer = !given.owner.empty();
    const char* line = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (byServer) {
            m_book.Given(NoticeSlot::Balloon, given.owner, given.id, notification.summary);
        }
        line = m_book.NoticesShownBy(byServer);
    }
    Log(line);
    if (!byServer) {
        RequestOwnWindow(notification);
    }
}

void CDesktopNotifier::ShowBoxNotice(std::u16string_view caption, std::u16string_view text,
                                     uint32_t iconKind) {
    {
        // Set first: a server that comes while this one is asked gets it too.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_book.BoxWaits(std::u16string(caption), std::u16string(text), iconKind);
    }
    bool markup = false;
    if (!Available(&markup)) {
        return;  // the box is the notifier's own window already
    }
    KeepBoxNotice(Notify(BoxCompanionNotification(caption, text, iconKind, false), markup));
}

void CDesktopNotifier::KeepBoxNotice(const GivenNotification& given) {
    if (given.owner.empty()) {
        return;
    }
    bool wanted = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wanted = m_book.Given(NoticeSlot::BoxCompanion, given.owner, given.id);
    }
    if (!wanted) {
        Close(given);  // the box was answered meanwhile
    }
}

void CDesktopNotifier::BoxAnswered() {
    std::vector<GivenNotification> shown;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_book.BoxAnswered();
        shown = m_book.Take(NoticeSlot::BoxCompanion);
    }
    for (const GivenNotification& given : shown) {
        Close(given);
    }
}

void CDesktopNotifier::OnServerOwnerChanged(const QString& name, const QString& oldOwner,
                                            const QString& newOwner) {
    if (name != kService) {
        return;
    }
    const char* line = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!oldOwner.isEmpty()) {
            m_book.ServerGone(oldOwner.toStdString());
        }
        if (!newOwner.isEmpty()) {
            line = m_book.NoticesShownBy(true);
        }
    }
    Log(line);
    if (!newOwner.isEmpty()) {
        ResendBoxNotice();
    }
}

void CDesktopNotifier::OnNotificationClosed(uint id, uint, const QDBusMessage& signal) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_book.Closed(signal.service().toStdString(), id);
}

void CDesktopNotifier::ResendBoxNotice() {
    DesktopNotification notice;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_book.BoxWaiting()) {
            return;
        }
        notice = BoxCompanionNotification(m_book.BoxCaption(), m_book.BoxText(),
                                          m_book.BoxIconKind(), false);
    }
    // Asked without blocking: the interface thread keeps serving meanwhile.
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* capabilities = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage::createMethodCall(kService, kPath, kService, "GetCapabilities"),
                      kCallTimeoutMs),
        this);
    connect(
        capabilities, &QDBusPendingCallWatcher::finished, this,
        [this, notice](QDBusPendingCallWatcher* asked) {
            asked->deleteLater();
            const bool markup = ReadsMarkup(asked->reply());
            auto* sent = new QDBusPendingCallWatcher(
                QDBusConnection::sessionBus().asyncCall(NotifyCall(notice, markup), kCallTimeoutMs),
                this);
            connect(sent, &QDBusPendingCallWatcher::finished, this,
                    [this](QDBusPendingCallWatcher* call) {
                        call->deleteLater();
                        KeepBoxNotice(GivenBy(call->reply()));
                    });
        });
}

void CDesktopNotifier::RequestOwnWindow(std::optional<DesktopNotification> notice) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!notice.has_value()) {
            m_windowRequests.clear();  // what waits to be shown is taken down too
        } else if (m_windowRequests.size() > CNoticeStack::kMaxShown) {
            m_windowRequests.pop_front();  // it would be pushed off the stack at once
        }
        m_windowRequests.push_back(std::move(notice));
    }
    QMetaObject::invokeMethod(this, "UpdateOwnWindow", Qt::QueuedConnection);
}

void CDesktopNotifier::UpdateOwnWindow() {
    std::deque<std::optional<DesktopNotification>> requests;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        requests.swap(m_windowRequests);  // empty when an earlier call took them
    }
    for (const std::optional<DesktopNotification>& notice : requests) {
        if (notice.has_value()) {
            if (m_windows == nullptr) {
                m_windows = std::make_unique<CNoticeStack>();
            }
            m_windows->Show(*notice);
        } else if (m_windows != nullptr) {
            m_windows->CloseAll();
        }
    }
}
