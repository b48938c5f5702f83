// The service's end of one command-channel exchange: the request read within
// its bounds, answered through the service's handlers, every transfer logged.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "notify_channel.h"
#include "orlivan_notify.h"

// Largest request body accepted (a request is 4 bytes).
constexpr uint32_t SERVE_MAX_REQUEST = 4096;

// The longest text a handler may give (the reply frame stays within the
// notifier's bound on reply bodies).
constexpr size_t SERVE_MAX_TEXT = 4000;

// The reply frame for the version request: the code, the text and its NUL.
Bytes VersionReplyFrame(const std::string& version);

// The reply frame for the update check: the code, the status, the text's
// length, the text and its NUL.
Bytes UpdateReplyFrame(int32_t status, const std::string& text);

// How long a client has for its whole request, from its accept: the
// notifier writes its 8 bytes at once, so only a client that holds the
// serving thread needs more.
constexpr std::chrono::milliseconds SERVE_REQUEST_TIME{2000};
// How long the reply's write, and the wait for the client to close after it
// (Windows: the instance is reused only then), may take.
constexpr std::chrono::milliseconds SERVE_REPLY_TIME{1000};

// What one exchange came to.
struct ExchangeResult {
    bool answered = false;  // the reply was written
    bool slow = false;      // the client ran out of its time (or closed too late)
    bool stopped = false;   // the server was stopped meanwhile
};

// Serves one exchange on `connection`: reads the request until
// `requestDeadline` (logging each transfer as it arrived), answers it through
// `handlers`, and logs what it did. `number` counts exchanges from 1.
ExchangeResult ServeCommandExchange(CServeConnection& connection,
                                    const orlivan_notify_command_handlers& handlers,
                                    uint32_t number, ServeClock::time_point requestDeadline);
