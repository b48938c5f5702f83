// The serve job: the service's end of the command channel, answering each
// request by the options and logging every transfer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "tool_options.h"

struct orlivan_notify_command_handlers;
class CServeConnection;

// The reply frame for a request with command code `code`, by the options:
// empty when the connection is to be dropped without a reply.
Bytes BuildCommandReply(const ServeOptions& options, int32_t code);

// Serves one exchange on `connection`: reads the request (logging each
// transfer as it arrived), answers it by the options, and logs what it did.
// `number` counts exchanges from 1. `sleepMs` waits (injected for tests).
void ServeExchange(CServeConnection& connection, const ServeOptions& options, uint32_t number,
                   const PrintFn& log, const std::function<void(uint32_t)>& sleepMs);

// Serves the command channel until `options.count` exchanges are done (0:
// for ever) or `stop` becomes true; returns the exit code. `ready`, when
// given, is called once the channel is listening.
int RunServe(const ServeOptions& options, const PrintFn& log, const PrintFn& printError,
             const std::atomic<bool>& stop, const std::function<void()>& ready = {});
