// The Linux notifier as a desktop application: the name the desktop knows it
// by (its desktop entry, its bus name and object, the icon in the theme), the
// tray menu's commands with the names the desktop entry gives them as
// actions, and what activating the application does.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "notify/tray_menu.h"

// The application id: the desktop entry is <id>.desktop, the running notifier
// owns it as its bus name and answers org.freedesktop.Application at
// kApplicationObjectPath.
inline constexpr char kApplicationId[] = "com.orlivan.Notifier";
inline constexpr char kApplicationObjectPath[] = "/com/orlivan/Notifier";
// The name people see: the desktop entry's Name, the tray item's title, the
// notifications' application name.
inline constexpr char kApplicationDisplayName[] = "Orlivan Notifier";
inline constexpr const char* kTrayTitle = kApplicationDisplayName;
// The product's icon in the hicolor theme.
inline constexpr char kApplicationIconName[] = "orlivan-notifier";

// Activating the application (the overview, a notification's banner, Open)
// does what a double click on the tray icon does.
inline constexpr TrayCommand kActivationCommand = TrayCommand::Settings;

// The command of a desktop action; nothing for a name the entry does not list
// (matched exactly: action names are case-sensitive).
std::optional<TrayCommand> TrayCommandForAction(std::string_view actionName);

// The desktop entry's Exec line starts the notifier with this option, so that a
// launcher that ignores DBusActivatable gets what activation over D-Bus gives:
// the running notifier activated (or one started, then activated).
inline constexpr char kActivateOption[] = "--activate";

// What a notifier that finds this user's channel taken does.
enum class SecondStart {
    Quiet,            // started by the bus for an activation: ends without a word
    ActivateRunning,  // started by the desktop entry: activates the running one
    Report,           // started otherwise: says that another notifier runs
};
// `startedByBus`: the bus daemon's mark is in the environment; `activateOption`:
// kActivateOption is on the command line. A failed ActivateRunning is reported.
SecondStart AnswerSecondStart(bool startedByBus, bool activateOption);

// How the desktop hands its focus on to the window an activation opens: the
// key of the token in org.freedesktop.Application's platform data, and the
// environment variable in which a launcher gives it to the program it starts.
struct FocusTokenKind {
    const char* platformDataKey;
    const char* environmentVariable;
};
inline constexpr FocusTokenKind kFocusTokenKinds[] = {
    {"activation-token", "XDG_ACTIVATION_TOKEN"},  // Wayland (xdg-activation)
    {"desktop-startup-id", "DESKTOP_STARTUP_ID"},  // X11 (startup notification)
};
inline constexpr size_t kFocusTokenKindCount = sizeof kFocusTokenKinds / sizeof kFocusTokenKinds[0];
// The longest token handed on.
constexpr size_t kFocusTokenMaxBytes = 1024;

// Whether a token from the desktop (or whoever calls) is handed on: 1 to
// kFocusTokenMaxBytes bytes, none of them a control character.
bool UsableFocusToken(std::string_view token);
