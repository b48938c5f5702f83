// The signals that end the notifier (SIGTERM from the session's end or a
// service manager, SIGINT, SIGHUP) turned into a call on the interface thread.
#pragma once

#include <functional>

class QObject;

// From now on each of the three signals calls `quit` on the thread that owns
// `parent` (its event loop must run). Call once, before the loop starts.
void CatchQuitSignals(QObject* parent, std::function<void()> quit);

// When the display server goes away (the session ends by the display closing,
// no signal comes) Qt ends the process at once: on X11 with exit(), which
// removes the channel's socket file through its exit handler, on Wayland with
// _exit() right after its warning on the same thread. This hook removes the
// socket file at that warning. Install once, before QApplication is made.
void RemoveChannelWhenDisplayIsLost();
