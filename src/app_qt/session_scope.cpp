#include "app_qt/session_scope.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>

#include <cstdlib>

namespace {

// One entry of StartTransientUnit's properties, a(sv).
struct UnitProperty {
    QString name;
    QDBusVariant value;
};

// One auxiliary unit, a(sa(sv)): none are sent, but the type must be there.
struct AuxUnit {
    QString name;
    QList<UnitProperty> properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const UnitProperty& property) {
    argument.beginStructure();
    argument << property.name << property.value;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, UnitProperty& property) {
    argument.beginStructure();
    argument >> property.name >> property.value;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const AuxUnit& unit) {
    argument.beginStructure();
    argument << unit.name << unit.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, AuxUnit& unit) {
    argument.beginStructure();
    argument >> unit.name >> unit.properties;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(UnitProperty)
Q_DECLARE_METATYPE(AuxUnit)

bool RunsAsSystemdUnit() {
    static const bool unit = [] {
        const char* id = std::getenv("INVOCATION_ID");
        return id != nullptr && id[0] != '\0';
    }();
    return unit;
}

void MoveToOwnScope(qint64 pid, const QString& name) {
    if (pid <= 0) {
        return;
    }
    qDBusRegisterMetaType<UnitProperty>();
    qDBusRegisterMetaType<QList<UnitProperty>>();
    qDBusRegisterMetaType<AuxUnit>();
    qDBusRegisterMetaType<QList<AuxUnit>>();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
        QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("StartTransientUnit"));
    const QList<UnitProperty> properties = {
        {QStringLiteral("PIDs"), QDBusVariant(QVariant::fromValue(QList<uint>{uint(pid)}))},
        {QStringLiteral("CollectMode"), QDBusVariant(QStringLiteral("inactive-or-failed"))},
    };
    call << QStringLiteral("app-orlivan-%1-%2.scope").arg(name).arg(pid) << QStringLiteral("fail")
         << QVariant::fromValue(properties) << QVariant::fromValue(QList<AuxUnit>());
    call.setAutoStartService(false);
    // The answer does not matter: a process left in the notifier's unit runs
    // all the same.
    QDBusConnection::sessionBus().send(call);
}
