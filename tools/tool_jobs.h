// The stand-in's two jobs, over the platform's channels.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "service_tool.h"

using PrintFn = std::function<void(const std::string&)>;

// Sends the records of `options` to the notification channel they address and
// prints what happened; returns the exit code. `sleepMs` makes the pauses
// between tries of --wait-free (injected for tests; default: the thread sleeps).
int RunSend(const SendOptions& options, const PrintFn& print, const PrintFn& printError,
            const std::function<void(uint32_t)>& sleepMs = {});

// Serves the command channel until `options.count` exchanges are done (0:
// for ever) or `stop` becomes true; returns the exit code. `ready`, when
// given, is called once the channel is listening.
int RunServe(const ServeOptions& options, const PrintFn& log, const PrintFn& printError,
             const std::atomic<bool>& stop, const std::function<void()>& ready = {});
