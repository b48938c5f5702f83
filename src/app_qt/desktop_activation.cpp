#include "app_qt/desktop_activation.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>

CDesktopActivation::CDesktopActivation(std::function<void(TrayCommand)> run, QObject* parent)
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

void CDesktopActivation::Activate(const QVariantMap&) {
    RunLater(kActivationCommand);
}

void CDesktopActivation::Open(const QStringList&, const QVariantMap&) {
    // The notifier opens no files: opening is activating.
    RunLater(kActivationCommand);
}

void CDesktopActivation::ActivateAction(const QString& actionName, const QVariantList&,
                                        const QVariantMap&) {
    const std::optional<TrayCommand> command = TrayCommandForAction(actionName.toStdString());
    if (!command.has_value()) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("No action \"%1\" in %2")
                           .arg(actionName, QString::fromUtf8(kApplicationId)));
        return;
    }
    RunLater(*command);
}

void CDesktopActivation::RunLater(TrayCommand command) {
    QMetaObject::invokeMethod(
        this, [this, command] { m_run(command); }, Qt::QueuedConnection);
}
