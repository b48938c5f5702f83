#include "tool_serve.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "channel/channel_name.h"
#include "commands/command.h"
#include "tool_channel.h"

Bytes BuildCommandReply(const ServeOptions& options, int32_t code) {
    Bytes body;
    if (options.rawReply) {
        body = *options.rawReply;
    } else if (code == CMD_VERSION) {
        AppendUint32(body, CMD_VERSION);
        body.insert(body.end(), options.version.begin(), options.version.end());
        body.push_back(0);
    } else if (code == CMD_CHECK_UPDATE) {
        const std::string& text = options.text ? *options.text : options.version;
        AppendUint32(body, CMD_CHECK_UPDATE);
        AppendUint32(body, static_cast<uint32_t>(options.status));
        AppendUint32(body, static_cast<uint32_t>(text.size()));
        body.insert(body.end(), text.begin(), text.end());
        body.push_back(0);
    } else {
        return {};
    }
    Bytes frame;
    AppendUint32(frame, options.replyLength.value_or(static_cast<uint32_t>(body.size())));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

void ServeExchange(CServeConnection& connection, const ServeOptions& options, uint32_t number,
                   const PrintFn& log, const std::function<void(uint32_t)>& sleepMs) {
    const std::string label = "exchange " + std::to_string(number);
    constexpr uint32_t kRequestWaitMs = 10000;
    Bytes request;
    uint8_t buffer[SERVE_MAX_REQUEST + 4];
    // Read until the length word and the body it announces are in.
    for (;;) {
        const size_t want =
            request.size() < 4 ? 4 : 4 + static_cast<size_t>(LoadUint32(request.data()));
        if (request.size() >= 4 && LoadUint32(request.data()) > SERVE_MAX_REQUEST) {
            log(label + ": request length " + std::to_string(LoadUint32(request.data())) +
                " is too long; connection dropped");
            return;
        }
        if (request.size() >= want) {
            break;
        }
        const long got = connection.ReadSome(buffer, sizeof buffer, kRequestWaitMs);
        if (got <= 0) {
            log(label + (got == 0 ? ": client closed before the request was complete"
                                  : ": no complete request in time; connection dropped"));
            return;
        }
        log(label + ": received " + ToHex(buffer, static_cast<size_t>(got)));
        request.insert(request.end(), buffer, buffer + got);
    }
    const uint32_t length = LoadUint32(request.data());
    if (request.size() > 4 + static_cast<size_t>(length)) {
        log(label + ": " + std::to_string(request.size() - 4 - length) +
            " bytes after the request ignored");
    }
    const int32_t code = length >= 4 ? static_cast<int32_t>(LoadUint32(request.data() + 4)) : -1;
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "0x%x", static_cast<unsigned>(code));
    log(label + ": request length " + std::to_string(length) + " command " +
        (length >= 4 ? codeText : "none"));
    if (options.delayMs > 0) {
        sleepMs(options.delayMs);
    }
    if (options.drop) {
        log(label + ": dropped without a reply");
        return;
    }
    const Bytes reply = BuildCommandReply(options, length >= 4 ? code : -1);
    if (reply.empty()) {
        log(label + ": unknown command; dropped without a reply");
        return;
    }
    if (!connection.Write(reply)) {
        log(label + ": reply " + ToHex(reply) + " could not be written");
        return;
    }
    log(label + ": replied " + ToHex(reply));
}

int RunServe(const ServeOptions& options, const PrintFn& log, const PrintFn& printError,
             const std::atomic<bool>& stop, const std::function<void()>& ready) {
    const std::string channel = options.channel ? *options.channel : CommandChannelName();
    std::string error;
    std::unique_ptr<CServeListener> listener = CreateServeListener(channel, &error);
    if (listener == nullptr) {
        printError("can't serve " + channel + ": " + error);
        return TOOL_EXIT_CHANNEL_UNAVAILABLE;
    }
    log("serving " + channel);
    if (ready) {
        ready();
    }
    uint32_t served = 0;
    while (!stop.load() && (options.count == 0 || served < options.count)) {
        std::unique_ptr<CServeConnection> connection = listener->Accept(100);
        if (connection == nullptr) {
            continue;
        }
        ++served;
        ServeExchange(*connection, options, served, log, [&stop](uint32_t ms) {
            // Sleeps in small steps so that a stop request ends the wait.
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (!stop.load() && std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    return TOOL_EXIT_OK;
}
