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

    // The usable tokens of org.freedesktop.Application's platform data.
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

// The tokens of the command that runs now (interface thread).
class CFocusHandOver : public QObject {
    Q_OBJECT
public:
    explicit CFocusHandOver(QObject* parent);

    // A command begins with the tokens of its activation (none for a click
    // in the notifier's own menu). Unless a program started uses them, the
    // next window of the notifier's own that is shown (a dialog that opens
    // now or when its answer comes) takes them, where the platform can.
    void Begin(const FocusTokens& tokens);
    // Starts a program (`launch` runs at once) with the command's tokens in
    // its environment; they are used up.
    void Launch(const std::function<void()>& launch);
    // The command has run: a program it did not start gets no tokens.
    void End();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FocusTokens m_current;
    QString m_forNextWindow;  // an xdg-activation token, on Wayland
};
