#include "app_qt/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
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
    return Call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), method, arguments);
}

}  // namespace

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
    const QVariant capabilities = FirstResult(Call(kService, kPath, kService, "GetCapabilities"));
    *bodyMarkup = capabilities.toStringList().contains(QStringLiteral("body-markup"));
    return true;
}

uint32_t CDesktopNotifier::Notify(const DesktopNotification& notification) {
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
    const QVariantList arguments = {
        QString::fromUtf8(kDesktopAppName),
        QVariant::fromValue(uint32_t{0}),  // a new notification, replacing none
        QString::fromUtf8(kApplicationIconName),
        QString::fromStdString(notification.summary),
        QString::fromStdString(notification.body),
        QStringList(),
        hints,
        QVariant::fromValue(int32_t{notification.expireTimeoutMs}),
    };
    return FirstResult(Call(kService, kPath, kService, QStringLiteral("Notify"), arguments))
        .toUInt();
}

void CDesktopNotifier::Close(uint32_t id) {
    if (id == 0) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, "CloseNotification");
    call.setArguments({QVariant::fromValue(id)});
    QDBusConnection::sessionBus().send(
        call);  // an id that has expired is no error worth waiting for
}
