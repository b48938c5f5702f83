#include "app_qt/desktop_activation.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>

CDesktopActivation::CDesktopActivation(Run run, QObject* parent)
    : QObject(parent), m_run(std::move(run)) {}

bool CDesktopActivation::Publish() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerObject(QString::fromUtf8(kApplicationObjectPath), this,
                                                  QDBusConnection::ExportAllSlots)) {
        return false;
    }
    if (!bus.registerService(QString::fromUtf8(kApplicationId))) {
        bus.unregisterObject(QString::fromUtf8(kApplicationObjectPath));
        return false;
    }
    return true;
}

void CDesktopActivation::Withdraw() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.unregisterService(QString::fromUtf8(kApplicationId));
        bus.unregisterObject(QString::fromUtf8(kApplicationObjectPath));
    }
}

void CDesktopActivation::Activate(const QVariantMap& platformData) {
    RunLater(kActivationCommand, platformData);
}

void CDesktopActivation::Open(const QStringList&, const QVariantMap& platformData) {
    // The notifier opens no files: opening is activating.
    RunLater(kActivationCommand, platformData);
}

void CDesktopActivation::ActivateAction(const QString& actionName, const QVariantList&,
                                        const QVariantMap& platformData) {
    const std::optional<TrayCommand> command = TrayCommandForAction(actionName.toStdString());
    if (!command.has_value()) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("No action \"%1\" in %2")
                           .arg(actionName, QString::fromUtf8(kApplicationId)));
        return;
    }
    RunLater(*command, platformData);
}

void CDesktopActivation::RunLater(TrayCommand command, const QVariantMap& platformData) {
    QMetaObject::invokeMethod(
        this,
        [this, command, tokens = FocusTokens::FromPlatformData(platformData)] {
            m_run(command, tokens);
        },
        Qt::QueuedConnection);
}
