#include "tool_serve.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "channel/channel_name.h"
#include "commands/command.h"
#include "notify_serve.h"
#include "orlivan_notify.h"

namespace {

// What the stand-in's handlers need: its options, its log and its sleep.
struct ServeContext {
    const ServeOptions* options;
    const PrintFn* log;
    const std::function<void(uint32_t)>* sleepMs;
};

// The --delay and --drop options: waits, then whether to answer at all.
bool Answers(const ServeContext& serve) {
    if (serve.options->delayMs > 0) {
        (*serve.sleepMs)(serve.options->delayMs);
    }
    return !serve.options->drop;
}

// Copies `text` with its NUL into the handler's buffer; false when it does not fit.
bool CopyText(const std::string& text, char* buffer, size_t size) {
    if (text.size() + 1 > size) {
        return false;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

int ORLIVAN_NOTIFY_CALL Version(void* context, char* text, size_t size) {
    const auto& serve = *static_cast<const ServeContext*>(context);
    return Answers(serve) && CopyText(serve.options->version, text, size) ? 0 : 1;
}

int ORLIVAN_NOTIFY_CALL CheckUpdate(void* context, int32_t* status, char* text, size_t size) {
    const auto& serve = *static_cast<const ServeContext*>(context);
    *status = serve.options->status;
    const ServeOptions& options = *serve.options;
    return Answers(serve) && CopyText(options.text ? *options.text : options.version, text, size)
               ? 0
               : 1;
}

// --raw-reply and --reply-length: the whole reply frame, for every request.
size_t ORLIVAN_NOTIFY_CALL RawReply(void* context, int32_t command, uint8_t* frame, size_t size) {
    const auto& serve = *static_cast<const ServeContext*>(context);
    if (!Answers(serve)) {
        return 0;
    }
    const Bytes reply = BuildCommandReply(*serve.options, command);
    if (reply.size() > size) {
        return 0;
    }
    std::memcpy(frame, reply.data(), reply.size());
    return reply.size();
}

void ORLIVAN_NOTIFY_CALL LogLine(void* context, const char* line) {
    (*static_cast<const ServeContext*>(context)->log)(line);
}

orlivan_notify_command_handlers HandlersOf(const ServeContext& context) {
    orlivan_notify_command_handlers handlers{};
    handlers.size = sizeof handlers;
    handlers.context = const_cast<ServeContext*>(&context);
    handlers.version = Version;
    handlers.check_update = CheckUpdate;
    if (context.options->rawReply || context.options->replyLength) {
        handlers.raw_reply = RawReply;
    }
    handlers.log = LogLine;
    return handlers;
}

}  // namespace

Bytes BuildCommandReply(const ServeOptions& options, int32_t code) {
    if (!options.rawReply && !options.replyLength) {
        if (code == CMD_VERSION) {
            return VersionReplyFrame(options.version);
        }
        if (code == CMD_CHECK_UPDATE) {
            return UpdateReplyFrame(options.status, options.text ? *options.text : options.version);
        }
        return {};
    }
    Bytes body;
    if (options.rawReply) {
        body = *options.rawReply;
    } else {
        ServeOptions plain = options;
        plain.replyLength.reset();
        const Bytes frame = BuildCommandReply(plain, code);
        if (frame.empty()) {
            return {};
        }
        body.assign(frame.begin() + 4, frame.end());
    }
    Bytes frame;
    AppendUint32(frame, options.replyLength.value_or(static_cast<uint32_t>(body.size())));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

void ServeExchange(CServeConnection& connection, const ServeOptions& options, uint32_t number,
                   const PrintFn& log, const std::function<void(uint32_t)>& sleepMs) {
    const ServeContext context{&options, &log, &sleepMs};
    ServeCommandExchange(connection, HandlersOf(context), number,
                         ServeClock::now() + SERVE_REQUEST_TIME);
}

int RunServe(const ServeOptions& options, const PrintFn& log, const PrintFn& printError,
             const std::atomic<bool>& stop, const std::function<void()>& ready) {
    const std::string channel = options.channel ? *options.channel : CommandChannelName();
    // Sleeps in small steps so that a stop request ends the wait.
    const std::function<void(uint32_t)> sleepMs = [&stop](uint32_t ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stop.load() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    const ServeContext context{&options, &log, &sleepMs};
    const orlivan_notify_command_handlers handlers = HandlersOf(context);
    orlivan_notify_command_server* server = nullptr;
    if (orlivan_notify_serve_start(channel.c_str(), &handlers, &server) != ORLIVAN_NOTIFY_OK) {
        printError("can't serve " + std::string(orlivan_notify_last_detail()));
        return TOOL_EXIT_CHANNEL_UNAVAILABLE;
    }
    log("serving " + channel);
    if (ready) {
        ready();
    }
    uint32_t served = 0;
    while (!stop.load() && (options.count == 0 || served < options.count)) {
        uint32_t now = 0;
        orlivan_notify_serve(server, 100, &now);
        served += now;
    }
    orlivan_notify_serve_end(server);
    return TOOL_EXIT_OK;
}
