// Programs the notifier starts (the settings program, the browser) in scopes
// of their own when systemd's user manager runs the notifier as a unit: the
// unit's end (logout, a restart after a crash) then leaves them running, as
// it would had the user started them from the desktop.
#pragma once

#include <QString>
#include <QtGlobal>

// Whether the notifier runs as a systemd unit (the manager sets INVOCATION_ID
// for each unit's processes). Read once, at the start.
bool RunsAsSystemdUnit();

// Moves the process `pid`, just started, into a scope of its own
// (org.freedesktop.systemd1.Manager.StartTransientUnit on the session bus,
// "app-orlivan-<name>-<pid>.scope"). Asked without waiting; where no user
// manager answers, the process stays where it is.
void MoveToOwnScope(qint64 pid, const QString& name);
