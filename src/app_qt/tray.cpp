#include "app_qt/tray.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QMenu>

#include <unistd.h>

#include "app_qt/status_notifier_item.h"
#include "log/logger.h"

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kHostProperty = QStringLiteral("IsStatusNotifierHostRegistered");
const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const QString kNameOwnerChanged = QStringLiteral("NameOwnerChanged");
// A watcher that does not answer a registration within this is asked again.
constexpr int kRegistrationTimeoutMs = 5000;

QDBusMessage WatcherCall(const QString& interface, const QString& method) {
    return QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, interface, method);
}

QDBusMessage HostQuery() {
    QDBusMessage query = WatcherCall(kProperties, QStringLiteral("Get"));
    query << kWatcherService << kHostProperty;
    return query;
}

bool HostInReply(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

}  // namespace

CTray::CTray(const QString& tip, std::function<void()> activated)
    : m_tip(tip), m_activated(std::move(activated)) {
    m_grace.setSingleShot(true);
    connect(&m_grace, &QTimer::timeout, this, [this] {
        m_graceOver = true;
        Update();
    });
    m_registrationRetry.setSingleShot(true);
    connect(&m_registrationRetry, &QTimer::timeout, this, &CTray::SendRegistration);
}

CTray::~CTray() {
    Hide();
}

void CTray::SetMenu(QMenu* menu) {
    m_menu = menu;
}

void CTray::Show() {
    if (m_shown) {
        return;
    }
    m_shown = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool busUp = bus.isConnected();
    if (busUp) {
        RegisterTrayDbusTypes();
        m_dbusMenu = new CDbusMenu(m_menu, this);
        m_item = new CStatusNotifierItem(QApplication::windowIcon(), m_tip, kMenuPath, this);
        m_item->SetAttention(m_attention);
        m_item->onActivate = m_activated;
        m_item->onContextMenu = [this](int x, int y) {
            // A host that draws no menu of its own (X11's) asks for ours.
            if (m_menu != nullptr && QGuiApplication::platformName() == QLatin1String("xcb")) {
                m_menu->popup(QPoint(x, y));
            }
        };
        const auto contents = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                              QDBusConnection::ExportAllProperties;
        bus.registerObject(kMenuPath, m_dbusMenu, contents);
        bus.registerObject(kItemPath, m_item, contents);
        m_serviceName = QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid());
        bus.registerService(m_serviceName);

        // Every change of the watcher's owner, a direct takeover too (Qt's
        // service watcher tells only appearing and leaving).
        bus.connect(kBus, kBusPath, kBus, kNameOwnerChanged, QStringList{kWatcherService},
                    QString(), this, SLOT(OnWatcherOwnerChanged(QString, QString, QString)));
        // Followed by the name, so they reach us from whichever watcher owns it.
        bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(OnHostRegistered()));
        bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                    QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(QueryHost()));
        bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                    QStringLiteral("StatusNotifierItemUnregistered"), this,
                    SLOT(OnItemUnregistered(QString)));
    }
    const bool watcherUp = busUp && bus.interface()->isServiceRegistered(kWatcherService);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Qt's tray asks the watcher once, when its first icon is made, and
        // keeps the answer: made while no host exists, it embeds for the
        // whole session. (Qt asks the same way, blocking, with its own time-out.)
        m_host = watcherUp && HostInReply(bus.call(HostQuery(), QDBus::Block, 2000));
        if (!m_host) {
            m_xembed = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon());
            m_xembed->setToolTip(m_tip);
            m_xembed->setContextMenu(m_menu);
            connect(m_xembed.get(), &QSystemTrayIcon::activated, this, &CTray::OnXembedActivated);
        }
    }
    if (watcherUp) {
        OnWatcherUp(bus.interface()->serviceOwner(kWatcherService).value());
    }
    m_grace.start(kTrayWatcherGraceMs);
    Update();
}

void CTray::Hide() {
    if (!m_shown) {
        return;
    }
    m_shown = false;
    m_grace.stop();
    m_registrationRetry.stop();
    ++m_registrationAttempt;
    m_xembed.reset();
    if (m_item != nullptr) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(m_serviceName);
        bus.unregisterObject(kItemPath);
        bus.unregisterObject(kMenuPath);
        bus.disconnect(kBus, kBusPath, kBus, kNameOwnerChanged, QStringList{kWatcherService},
                       QString(), this, SLOT(OnWatcherOwnerChanged(QString, QString, QString)));
        bus.disconnect(kWatcherService, kWatcherPath, kWatcherService,
                       QStringLiteral("StatusNotifierItemUnregistered"), this,
                       SLOT(OnItemUnregistered(QString)));
        delete m_item;
        delete m_dbusMenu;
        m_item = nullptr;
        m_dbusMenu = nullptr;
    }
}

void CTray::SetAttention(bool attention) {
    m_attention = attention;
    if (m_item != nullptr) {
        m_item->SetAttention(attention);
    }
}

void CTray::OnWatcherOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
    if (!m_shown || name != kWatcherService) {
        return;
    }
    if (newOwner.isEmpty()) {
        OnWatcherDown();
    } else if (newOwner != m_watcherOwner) {
        // The owner it registered with already may still be announced.
        OnWatcherUp(newOwner);
    }
}

void CTray::OnWatcherUp(const QString& owner) {
    // A watcher that starts (or restarts, or takes the name over) knows no
    // items: ours registers again, and whether it has a host is asked anew.
    // Once per owner: GNOME's watcher takes a second registration for a
    // reset of the item, which loses it while its first read is under way.
    m_watcherOwner = owner;
    Register(m_registration.Start());
    QueryHost();
}

void CTray::Register(const RegistrationAttempt& attempt) {
    ++m_registrationAttempt;
    m_registrationForm = attempt.form;
    m_registrationRetry.stop();
    if (attempt.delayMs > 0) {
        m_registrationRetry.start(attempt.delayMs);
    } else {
        SendRegistration();
    }
}

void CTray::SendRegistration() {
    QDBusMessage registration =
        WatcherCall(kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    // By the item's service name, or by its object path (the watcher then
    // takes our connection's name).
    registration << (m_registrationForm == ItemRegistrationForm::ServiceName ? m_serviceName
                                                                             : kItemPath);
    auto* pending = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(registration, kRegistrationTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attempt = m_registrationAttempt](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (!m_shown || attempt != m_registrationAttempt) {
                    return;  // the tray was taken down, or the name changed hands since
                }
                const QDBusMessage reply = call->reply();
                const RegistrationAnswer answer =
                    reply.type() == QDBusMessage::ErrorMessage
                        ? RegistrationAnswerOfError(reply.errorName().toStdString())
                        : RegistrationAnswer::Accepted;
                if (const auto next = m_registration.Answered(answer)) {
                    Register(*next);
                } else if (m_registration.GaveUp()) {
                    CLogger::GetInstance(std::string())
                        ->LogLine(0,
                                  "Tray icon not registered: the StatusNotifierWatcher answered " +
                                      reply.errorName().toStdString() + "\n");
                }
            });
}

void CTray::OnItemUnregistered(const QString& item) {
    // A watcher drops an item whose host could not read it (GNOME's, when its
    // first read of the item fails): while the icon is meant to be shown, it
    // is registered again, within this watcher's retries.
    const QString connection = QDBusConnection::sessionBus().baseService();
    if (!m_shown || (item != m_serviceName && !item.startsWith(connection + QLatin1Char('/')) &&
                     !item.startsWith(connection + QLatin1Char('@')))) {
        return;
    }
    if (const auto next = m_registration.Answered(RegistrationAnswer::NoAnswer)) {
        CLogger::GetInstance(std::string())
            ->LogLine(0, "Tray icon dropped by the StatusNotifierWatcher; registering it again\n");
        Register(*next);
    }
}

void CTray::OnWatcherDown() {
    m_watcherOwner.clear();
    m_registrationRetry.stop();
    ++m_registrationAttempt;
    SetHost(false);
}

void CTray::OnHostRegistered() {
    SetHost(true);
}

void CTray::QueryHost() {
    auto* pending =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(HostQuery()), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (m_shown) {
                    SetHost(HostInReply(call->reply()));
                }
            });
}

void CTray::SetHost(bool registered) {
    if (registered == m_host) {
        return;
    }
    m_host = registered;
    if (!registered) {
        // The host may come back soon (a panel restarting): the grace again.
        m_graceOver = false;
        m_grace.start(kTrayWatcherGraceMs);
    }
    Update();
}

void CTray::Update() {
    const TrayShown shown = ChooseTray(TrayState{m_host, m_xembed != nullptr, m_graceOver});
    if (m_shown && m_xembed != nullptr) {
        m_xembed->setVisible(shown == TrayShown::Xembed);
    }
}

void CTray::OnXembedActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
        m_activated();
    }
}
