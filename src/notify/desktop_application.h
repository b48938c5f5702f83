// The Linux notifier as a desktop application: the name the desktop knows it
// by (its desktop entry, its bus name and object, the icon in the theme), the
// tray menu's commands with the names the desktop entry gives them as
// actions, and what activating the application does.
#pragma once

#include <array>
#include <optional>
#include <string_view>

// The application id: the desktop entry is <id>.desktop, the running notifier
// owns it as its bus name and answers org.freedesktop.Application at
// kApplicationObjectPath.
inline constexpr char kApplicationId[] = "com.orlivan.Notifier";
inline constexpr char kApplicationObjectPath[] = "/com/orlivan/Notifier";
// The name people see: the desktop entry's Name, the tray item's title, the
// notifications' application name.
inline constexpr char kApplicationDisplayName[] = "Orlivan Notifier";
// The product's icon in the hicolor theme.
inline constexpr char kApplicationIconName[] = "orlivan-notifier";

// The tray menu's five commands.
enum class TrayCommand { Settings, CheckUpdate, OnlineHelp, ReportProblem, About };

struct TrayMenuItem {
    TrayCommand command;
    const char* label;       // the menu's text
    const char* actionName;  // the desktop entry's action ([Desktop Action <name>])
};

// The menu, top to bottom.
inline constexpr std::array<TrayMenuItem, 5> kTrayMenu{{
    {TrayCommand::Settings, "Settings", "settings"},
    {TrayCommand::CheckUpdate, "Check Update", "check-update"},
    {TrayCommand::OnlineHelp, "Online Help", "online-help"},
    {TrayCommand::ReportProblem, "Report Problem", "report-problem"},
    {TrayCommand::About, "About", "about"},
}};

// Activating the application (the overview, a notification's banner, Open)
// does what a double click on the tray icon does.
inline constexpr TrayCommand kActivationCommand = TrayCommand::Settings;

// The command of a desktop action; nothing for a name the entry does not list
// (matched exactly: action names are case-sensitive).
std::optional<TrayCommand> TrayCommandForAction(std::string_view actionName);
