// The tray icon's menu and which tray shows it, on a desktop where the icon
// is either a StatusNotifierItem shown by a panel's host or a legacy XEmbed
// icon: the entries in their order with their commands, the ids the exported
// menu gives them, and the choice between the two trays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/messages.h"

enum class TrayCommand { Settings, CheckUpdate, OnlineHelp, ReportProblem, About };

struct TrayMenuEntry {
    MessageId label;  // the catalogue's text, in the user's language
    TrayCommand command;
    const char* actionName;  // the desktop entry's action ([Desktop Action <name>])
};

// The menu, top to bottom.
inline constexpr TrayMenuEntry kTrayMenu[] = {
    {MessageId::MenuSettings, TrayCommand::Settings, "settings"},
    {MessageId::MenuCheckUpdate, TrayCommand::CheckUpdate, "check-update"},
    {MessageId::MenuOnlineHelp, TrayCommand::OnlineHelp, "online-help"},
    {MessageId::MenuReportProblem, TrayCommand::ReportProblem, "report-problem"},
    {MessageId::MenuAbout, TrayCommand::About, "about"},
};
inline constexpr size_t kTrayMenuSize = sizeof kTrayMenu / sizeof kTrayMenu[0];

// The exported menu's ids: 0 is the menu itself, entry i is i + 1.
constexpr int32_t kTrayMenuRootId = 0;
constexpr int32_t TrayMenuId(size_t entry) {
    return static_cast<int32_t>(entry) + 1;
}
// The entry of an id; nothing for the root and unknown ids.
std::optional<size_t> TrayMenuEntryOfId(int32_t id);
// The entry a host's menu event runs: a "clicked" on an entry; nothing for
// other events (hovered, opened, closed) and unknown ids.
std::optional<size_t> TrayMenuEntryClicked(int32_t id, std::string_view eventId);

// A menu text with its access key marked as the catalogue and Win32 mark it
// ("&" before the key, "&&" a plain "&") as a dbusmenu label marks it: "_"
// before the key, "__" a plain "_". A "&" ending the text is dropped.
std::string DbusMenuLabel(std::string_view text);

// What the desktop offers the icon right now.
struct TrayState {
    bool hostRegistered;   // a StatusNotifierWatcher says a host shows items
    bool xembedAvailable;  // X11, and the toolkit's tray still embeds
    bool graceOver;        // no host for the whole grace time
};

enum class TrayShown {
    Item,    // the StatusNotifierItem alone (or, without a host, nothing yet)
    Xembed,  // the legacy XEmbed icon
};

// A host shows the item; without one, the XEmbed icon once the grace time
// has passed (a panel that starts late, a watcher that restarts), where X11
// has it.
TrayShown ChooseTray(const TrayState& state);

// How the item registers with a StatusNotifierWatcher: by its service name,
// or, with a watcher that refuses that, by its object path (the watcher then
// takes the caller's bus name with it).
enum class ItemRegistrationForm { ServiceName, ObjectPath };

// A watcher's answer to RegisterStatusNotifierItem.
enum class RegistrationAnswer {
    Accepted,
    Refused,   // an error of the watcher's own
    NoAnswer,  // the watcher is busy, gone or unreachable
};

// The answer a D-Bus error name stands for.
RegistrationAnswer RegistrationAnswerOfError(std::string_view errorName);

struct RegistrationAttempt {
    ItemRegistrationForm form;
    int32_t delayMs;  // how long to wait before it
};

// The waits before the retries; after the last the item waits for the
// watcher's next owner.
inline constexpr int32_t kRegistrationRetryMs[] = {250, 500, 1000, 2000, 4000};

// The registration with one owner of the watcher's name.
class CItemRegistration {
public:
    // A watcher appeared (or its name changed hands): the first attempt, at once.
    RegistrationAttempt Start();
    // The answer to the last attempt: the next attempt, or none (registered,
    // or given up: see GaveUp).
    std::optional<RegistrationAttempt> Answered(RegistrationAnswer answer);
    bool GaveUp() const { return m_gaveUp; }

private:
    ItemRegistrationForm m_form = ItemRegistrationForm::ServiceName;
    size_t m_retries = 0;
    bool m_gaveUp = false;
};
