// An xdg-activation token asked of the Wayland compositor for a program the
// notifier starts from its tray menu. The menu is drawn by the tray host, so
// at the click the notifier has no surface and no input serial of its own to
// name (Qt 6.4 does not expose its last input serial either): the token names
// only the application id, and the compositor weighs it as it weighs any
// token without an input event behind it.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Asks for one token on a Wayland connection of its own (made for the
// request, closed after it) and calls `done` once, on the interface thread,
// with the token, or with an empty string when there is no compositor, it
// does not offer xdg-activation, or it has not answered within `bound_ms`.
// Never blocks: the connection's replies are read when its socket has data.
// Destroying `context` drops the request and its callback.
void RequestXdgActivationToken(QObject* context, int bound_ms,
                               std::function<void(const QString&)> done);
