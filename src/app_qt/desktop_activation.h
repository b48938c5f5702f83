// The running notifier as the desktop's application com.orlivan.Notifier:
// org.freedesktop.Application on the session bus, so that the overview, a
// notification's banner or a desktop action reach this notifier instead of
// starting a second one.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

#include "app_qt/focus_hand_over.h"
#include "notify/desktop_application.h"

class CDesktopActivation : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    // `run` carries out a menu command on the interface thread, with the
    // focus tokens of the call's platform data.
    using Run = std::function<void(TrayCommand, const FocusTokens&)>;
    CDesktopActivation(Run run, QObject* parent);

    // Exports the object, then takes the bus name (calls that started the
    // notifier by D-Bus activation are delivered from then on). False when
    // there is no session bus or the name belongs to another program.
    bool Publish();
    // Gives the bus name back and removes the object: at the end, before the
    // notifier waits for its threads, so the bus delivers activations to
    // whatever starts next instead of to a notifier that no longer serves them.
    void Withdraw();

public Q_SLOTS:
    // org.freedesktop.Application. Each answers at once and runs its command
    // from the event loop, so a box the command opens does not hold the caller.
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& actionName, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    void RunLater(TrayCommand command, const QVariantMap& platformData);

    Run m_run;
};
