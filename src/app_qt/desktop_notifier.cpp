#include "app_qt/desktop_notifier.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <QStringList>
#include <QStyle>
#include <QTimer>
#include <QVariantMap>

#include <string>
#include <vector>

#include "log/logger.h"
#include "notify/dispatch.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
// A server or bus that does not answer holds the worker at most this long.
constexpr int kCallTimeoutMs = 2000;
// The own window's distance from the screen's top right corner (X11).
constexpr int kWindowMargin = 16;

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

// A small window of the notifier's own, for a notice no server shows: the
// notice's title as the window's (and, for a desktop that draws no title
// bars, above the text), its icon and text; it closes after the notice's
// time-out, or when clicked.
class CNoticeWindow : public QWidget {
public:
    CNoticeWindow() : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setMinimumWidth(280);  // room for the title where the title bar shows it
        auto* layout = new QHBoxLayout(this);
        m_icon.setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        layout->addWidget(&m_icon, 0, Qt::AlignTop);
        auto* words = new QVBoxLayout();
        layout->addLayout(words, 1);
        QFont bold = m_title.font();
        bold.setBold(true);
        m_title.setFont(bold);
        for (QLabel* label : {&m_title, &m_text}) {
            label->setTextFormat(Qt::PlainText);  // the service's words, never markup
            label->setWordWrap(true);
            label->setMaximumWidth(320);
            words->addWidget(label);
        }
        m_expiry.setSingleShot(true);
        QObject::connect(&m_expiry, &QTimer::timeout, this, &QWidget::close);
    }

    void Show(const DesktopNotification& notification) {
        const QString title = QString::fromStdString(notification.summary);
        setWindowTitle(title);
        m_title.setText(title);
        m_text.setText(QString::fromStdString(notification.body));
        m_icon.setPixmap(KindIcon(notification.icon).pixmap(48, 48));
        adjustSize();
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            // Top right, where notices show on most X11 desktops. A Wayland
            // compositor places windows itself.
            const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
            move(area.right() + 1 - width() - kWindowMargin, area.top() + kWindowMargin);
        }
        show();
        raise();
        m_expiry.start(notification.expireTimeoutMs > 0 ? notification.expireTimeoutMs
                                                        : kDesktopNotificationTimeoutMs);
    }

protected:
    void mousePressEvent(QMouseEvent*) override { close(); }

private:
    // The kind's themed icon (the product's with an emblem, when installed),
    // else the style's icon of the kind, else the program's.
    QIcon KindIcon(const std::string& name) const {
        const struct {
            uint32_t kind;
            QStyle::StandardPixmap standard;
        } kinds[] = {
            {kBalloonIconInfo, QStyle::SP_MessageBoxInformation},
            {2, QStyle::SP_MessageBoxWarning},  // NIIF_WARNING
            {kBalloonIconError, QStyle::SP_MessageBoxCritical},
        };
        for (const auto& k : kinds) {
            if (name == BalloonIconName(k.kind)) {
                return QIcon::fromTheme(QString::fromStdString(name),
                                        style()->standardIcon(k.standard));
            }
        }
        return QApplication::windowIcon();
    }

    QLabel m_icon;
    QLabel m_title;
    QLabel m_text;
    QTimer m_expiry;
};

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

void CDesktopNotifier::ShowBoxNotice(std::u16string_view caption, std::u16string_view text) {
    {
        // Set first: a server that comes while this one is asked gets it too.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_book.BoxWaits(std::u16string(caption), std::u16string(text));
    }
    bool markup = false;
    if (!Available(&markup)) {
        return;  // the box is the notifier's own window already
    }
    KeepBoxNotice(Notify(BoxCompanionNotification(caption, text, false), markup));
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
        notice = BoxCompanionNotification(m_book.BoxCaption(), m_book.BoxText(), false);
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
        m_windowRequested = true;
        m_windowNotice = std::move(notice);
    }
    QMetaObject::invokeMethod(this, "UpdateOwnWindow", Qt::QueuedConnection);
}

void CDesktopNotifier::UpdateOwnWindow() {
    std::optional<DesktopNotification> notice;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_windowRequested) {
            return;  // carried out by an earlier call
        }
        m_windowRequested = false;
        notice = std::move(m_windowNotice);
    }
    if (notice.has_value()) {
        if (m_window == nullptr) {
            m_window = std::make_unique<CNoticeWindow>();
        }
        static_cast<CNoticeWindow*>(m_window.get())->Show(*notice);
    } else if (m_window != nullptr) {
        m_window->close();
    }
}
