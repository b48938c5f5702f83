// The desktop's focus handed on: the tokens an activation brings (its
// platform data, a launcher's environment, the tray host) go to what the
// command started or shows, so that the window the user asked for comes to
// the front. A program started gets them as XDG_ACTIVATION_TOKEN and
// DESKTOP_STARTUP_ID; a window of the notifier's own, on Wayland, asks the
// compositor for activation with the xdg-activation token (Qt reads it from
// XDG_ACTIVATION_TOKEN when the window asks to be activated). A box the
// notifier opens by itself takes no focus at all.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

class QWidget;

#include <array>
#include <functional>

#include "notify/desktop_application.h"

// One activation's tokens, by kFocusTokenKinds; empty where none was given.
struct FocusTokens {
    std::array<QString, kFocusTokenKindCount> values;

    // The usable tokens of org.freedesktop.Application's platform data. On
    // Wayland a startup id without an activation token is one too: the
    // launcher made it for this activation (older GLib sends only the startup
    // id, and the compositor takes it as an xdg-activation token).
    static FocusTokens FromPlatformData(const QVariantMap& platformData);
    // The usable tokens of this process's environment, which then holds none:
    // neither a later program nor a later window takes them for its own.
    // Before QApplication (the X11 plugin takes DESKTOP_STARTUP_ID).
    static FocusTokens TakeFromEnvironment();
    QVariantMap PlatformData() const;
};

// Who opened a box, and so whether it may take the keyboard: the person,
// with a menu command (it comes to the front, focused), or the notifier by
// itself (a notice's box: kept on top but never given the keyboard when it
// appears, so a key meant for another window cannot answer it; a click, or
// the person moving to it, does).
enum class BoxOpener { Person, Program };

// Sets `box`'s focus rules before it is first shown (interface thread). On
// X11 a box of the notifier's own is mapped with user time 0, which window
// managers read as "do not focus"; on Wayland it asks for no activation.
void PresentBox(QWidget& box, BoxOpener opener);

// The tray host's token for its next Activate (org.kde.StatusNotifierItem's
// ProvideXdgActivationToken); interface thread.
void KeepTrayActivationToken(const QString& token);
FocusTokens TakeTrayActivationTokens();

// The time of the tray menu's click (com.canonical.dbusmenu's Event, the X
// server's time of the host's click); interface thread.
void KeepTrayMenuTime(uint timestamp);
// Runs a command of the tray menu with its tokens (interface thread). On X11
// the click's time becomes a startup id of the command's own
// ("..._TIME<time>", the startup notification's form), so the window manager
// weighs the program started against the click, not against the notifier's
// last input; at once. On Wayland the compositor is asked for an
// xdg-activation token first, and `run` runs when it arrives or after a short
// bound without one; it does not run once `context` is gone.
void RunWithTrayMenuTokens(QObject* context, std::function<void(const FocusTokens&)> run);

// The tokens of the command that runs now (interface thread). A token is
// spent only where it was given: on the program the command starts, or on the
// window of the notifier's own that the command shows, never on a window
// shown meanwhile for something else (a notice, a box of the service's).
class CFocusHandOver : public QObject {
    Q_OBJECT
public:
    explicit CFocusHandOver(QObject* parent);

    // A command begins with the tokens of its activation (none for a click
    // in the notifier's own menu).
    void Begin(const FocusTokens& tokens);
    // Starts a program (`launch` runs at once) with the command's tokens in
    // its environment; they are used up.
    void Launch(const std::function<void()>& launch);
    // `window`, which the command shows now, asks for activation with the
    // command's xdg-activation token once it is on screen (Wayland; on X11 Qt
    // reads a startup id only when the application starts); used up.
    void Activate(QWidget* window);
    // The command's answer comes later (from the service): its token waits
    // for the window that shows the answer (ActivateAnswer), and for no other.
    void KeepForAnswer();
    void ActivateAnswer(QWidget* window);
    // The command has run: what it did not use is dropped.
    void End();

private:
    FocusTokens m_current;
    QString m_forAnswer;  // an xdg-activation token, on Wayland
};
