#include "notify_serve.h"

#include <cstdio>
#include <vector>

#include "commands/command.h"

namespace {

void Log(const orlivan_notify_command_handlers& handlers, const std::string& line) {
    if (handlers.log != nullptr) {
        handlers.log(handlers.context, line.c_str());
    }
}

// The text a handler wrote into `buffer`, cut at its NUL or at the buffer's end.
std::string TextOf(const std::vector<char>& buffer) {
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != '\0') {
        ++length;
    }
    return std::string(buffer.data(), length);
}

// The reply frame to `code` by the handlers; empty to close without a reply.
Bytes ReplyFrame(const orlivan_notify_command_handlers& handlers, int32_t code) {
    if (handlers.raw_reply != nullptr) {
        std::vector<uint8_t> frame(SERVE_MAX_REQUEST + 4 + SERVE_MAX_TEXT);
        const size_t size = handlers.raw_reply(handlers.context, code, frame.data(), frame.size());
        return Bytes(frame.begin(),
                     frame.begin() + static_cast<long>(std::min(size, frame.size())));
    }
    std::vector<char> text(SERVE_MAX_TEXT + 1, '\0');
    if (code == CMD_VERSION && handlers.version != nullptr) {
        if (handlers.version(handlers.context, text.data(), SERVE_MAX_TEXT + 1) != 0) {
            return {};
        }
        return VersionReplyFrame(TextOf(text));
    }
    if (code == CMD_CHECK_UPDATE && handlers.check_update != nullptr) {
        int32_t status = 0;
        if (handlers.check_update(handlers.context, &status, text.data(), SERVE_MAX_TEXT + 1) !=
            0) {
            return {};
        }
        return UpdateReplyFrame(status, TextOf(text));
    }
    return {};
}

}  // namespace

Bytes VersionReplyFrame(const std::string& version) {
    Bytes frame;
    AppendUint32(frame, static_cast<uint32_t>(4 + version.size() + 1));
    AppendUint32(frame, CMD_VERSION);
    frame.insert(frame.end(), version.begin(), version.end());
    frame.push_back(0);
    return frame;
}

Bytes UpdateReplyFrame(int32_t status, const std::string& text) {
    Bytes frame;
    AppendUint32(frame, static_cast<uint32_t>(12 + text.size() + 1));
    AppendUint32(frame, CMD_CHECK_UPDATE);
    AppendUint32(frame, static_cast<uint32_t>(status));
    AppendUint32(frame, static_cast<uint32_t>(text.size()));
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(0);
    return frame;
}

ExchangeResult ServeCommandExchange(CServeConnection& connection,
                                    const orlivan_notify_command_handlers& handlers,
                                    uint32_t number, ServeClock::time_point requestDeadline) {
    const std::string label = "exchange " + std::to_string(number);
    ExchangeResult result;
    Bytes request;
    uint8_t buffer[SERVE_MAX_REQUEST + 4];
    // Read until the length word and the body it announces are in, all of it
    // by one deadline: a client that trickles its bytes gains nothing.
    for (;;) {
        const size_t want =
            request.size() < 4 ? 4 : 4 + static_cast<size_t>(LoadUint32(request.data()));
        if (request.size() >= 4 && LoadUint32(request.data()) > SERVE_MAX_REQUEST) {
            Log(handlers, label + ": request length " + std::to_string(LoadUint32(request.data())) +
                              " is too long; connection dropped");
            return result;
        }
        if (request.size() >= want) {
            break;
        }
        const long got = connection.ReadSome(buffer, static_cast<uint32_t>(want - request.size()),
                                             requestDeadline);
        if (got <= 0) {
            result.stopped = got == SERVE_STOPPED;
            result.slow = got == SERVE_FAILED && ServeClock::now() >= requestDeadline;
            Log(handlers, label + (got == SERVE_CLOSED    ? ": client closed before the request "
                                                            "was complete"
                                   : got == SERVE_STOPPED ? ": stopped; connection dropped"
                                                          : ": no complete request in time; "
                                                            "connection dropped"));
            return result;
        }
        Log(handlers, label + ": received " + ToHex(buffer, static_cast<size_t>(got)));
        request.insert(request.end(), buffer, buffer + got);
    }
    const uint32_t length = LoadUint32(request.data());
    const int32_t code = length >= 4 ? static_cast<int32_t>(LoadUint32(request.data() + 4)) : -1;
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "0x%x", static_cast<unsigned>(code));
    Log(handlers, label + ": request length " + std::to_string(length) + " command " +
                      (length >= 4 ? codeText : "none"));
    // A request is its code alone; any other length is no request the
    // notifier makes (a raw reply, for protocol tests, answers anything).
    const bool known =
        handlers.raw_reply != nullptr ||
        (length == 4 && code == CMD_VERSION && handlers.version != nullptr) ||
        (length == 4 && code == CMD_CHECK_UPDATE && handlers.check_update != nullptr);
    if (!known) {
        Log(handlers, label + ": unknown command; dropped without a reply");
        return result;
    }
    const Bytes reply = ReplyFrame(handlers, code);
    if (reply.empty()) {
        Log(handlers, label + ": dropped without a reply");
        return result;
    }
    if (!connection.Write(reply, ServeClock::now() + SERVE_REPLY_TIME)) {
        Log(handlers, label + ": reply " + ToHex(reply) + " could not be written");
        return result;
    }
    result.answered = true;
    Log(handlers, label + ": replied " + ToHex(reply));
    // The reply stays readable until the client has closed; only then is the
    // connection's end reused.
    if (!connection.AwaitClose(ServeClock::now() + SERVE_REPLY_TIME)) {
        result.slow = true;
        Log(handlers, label + ": the client did not close after the reply; connection dropped");
    }
    return result;
}
