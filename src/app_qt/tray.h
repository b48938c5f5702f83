// The tray icon on a Linux desktop: a StatusNotifierItem whenever a panel's
// host shows items, however late its watcher or host comes or however often
// the watcher restarts, and the legacy XEmbed icon of X11 only while no host
// does. The item is the program's own (over QtDBus), so a host that comes
// late is seen: Qt's tray asks once per process and keeps the answer.
#pragma once

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>

#include "notify/tray_menu.h"

class QMenu;
class CStatusNotifierItem;
class CDbusMenu;

// How long the icon waits for a host, at start and after a host went away
// (a panel that starts late, a watcher that restarts), before X11's XEmbed
// icon stands in. Wayland has no such icon: there the item waits for a host.
constexpr int kTrayWatcherGraceMs = 5000;

class CTray : public QObject {
    Q_OBJECT
public:
    // `tip` is the icon's tool tip; `activated` runs for a click or double
    // click on the icon (the host's Activate).
    CTray(const QString& tip, std::function<void()> activated);
    ~CTray() override;

    // The menu of the icon, its actions in the order of the tray menu's
    // table (notify/tray_menu.h); it outlives the tray.
    void SetMenu(QMenu* menu);
    // Puts the icon up: exports the item and follows the watcher and its hosts.
    void Show();
    // Takes the icon down, the item off the bus.
    void Hide();
    // The item asks the host for attention (a box waits for the person) or not.
    void SetAttention(bool attention);

private slots:
    void OnHostRegistered();
    // The watcher dropped an item: ours is registered again.
    void OnItemUnregistered(const QString& item);
    void QueryHost();
    // The watcher's name changed hands: started, ended, or taken over by a
    // new owner (a panel restarting), which knows no items.
    void OnWatcherOwnerChanged(const QString& name, const QString& oldOwner,
                               const QString& newOwner);

private:
    void OnWatcherUp(const QString& owner);
    void OnWatcherDown();
    // Registers the item with the watcher now or after the attempt's wait.
    void Register(const RegistrationAttempt& attempt);
    void SendRegistration();
    void SetHost(bool registered);
    // Shows the XEmbed icon or not, as ChooseTray says.
    void Update();
    void OnXembedActivated(QSystemTrayIcon::ActivationReason reason);

    QString m_tip;
    std::function<void()> m_activated;
    QMenu* m_menu = nullptr;
    bool m_shown = false;
    bool m_attention = false;
    QString m_serviceName;
    QString m_watcherOwner;  // the watcher's owner the item registered with
    CStatusNotifierItem* m_item = nullptr;
    CDbusMenu* m_dbusMenu = nullptr;
    CItemRegistration m_registration;
    ItemRegistrationForm m_registrationForm = ItemRegistrationForm::ServiceName;
    QTimer m_registrationRetry;
    // Counts the attempts: the answer to one superseded by a new owner is ignored.
    unsigned m_registrationAttempt = 0;
    bool m_host = false;
    bool m_graceOver = false;
    QTimer m_grace;
    // X11's icon, made while no host exists (Qt then embeds for good); null
    // when the icon can't be embedded (Wayland, or a host at start).
    std::unique_ptr<QSystemTrayIcon> m_xembed;
};
