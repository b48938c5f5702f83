// The signals that end the notifier (SIGTERM from the session's end or a
// service manager, SIGINT, SIGHUP) turned into a call on the interface thread.
#pragma once

#include <functional>

class QObject;

// From now on each of the three signals calls `quit` on the thread that owns
// `parent` (its event loop must run). Call once, before the loop starts.
void CatchQuitSignals(QObject* parent, std::function<void()> quit);

// The exit code of the end that comes with the display's loss: the session
// is over, so a service manager does not start the notifier again.
inline constexpr int kDisplayLostExitCode = 2;

// When the display server goes away (the session ends by the display closing,
// no signal comes) Qt ends the process at once after its warning, on X11 with
// exit(), on Wayland with _exit(). This hook ends it at that warning with
// kDisplayLostExitCode, the channel's socket file removed (on X11 by its exit
// handler). Install once, before QApplication is made.
void RemoveChannelWhenDisplayIsLost();
