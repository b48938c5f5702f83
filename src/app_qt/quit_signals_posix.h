// The signals that end the notifier (SIGTERM from the session's end or a
// service manager, SIGINT, SIGHUP) turned into a call on the interface thread.
#pragma once

#include <functional>

class QObject;

// From now on each of the three signals calls `quit` on the thread that owns
// `parent` (its event loop must run). Call once, before the loop starts.
void CatchQuitSignals(QObject* parent, std::function<void()> quit);
