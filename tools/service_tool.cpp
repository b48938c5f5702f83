#include "service_tool.h"

#include "base/wire_word.h"
#include "notify/record.h"
#include "commands/command.h"
#include "tool_channel.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

bool IsOption(std::string_view arg) {
    return arg.size() > 2 && arg.substr(0, 2) == "--";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the value of option `name` at args[*i + 1]; false (with `error` set)
// when it is missing.
bool TakeValue(const std::vector<std::string>& args, size_t* i, std::string* value,
               std::string* error) {
    if (*i + 1 >= args.size()) {
        *error = "option " + args[*i] + " needs a value";
        return false;
    }
    *value = args[++*i];
    return true;
}

bool TakeUnsigned(const std::vector<std::string>& args, size_t* i, uint32_t* value,
                  std::string* error) {
    std::string text;
    if (!TakeValue(args, i, &text, error)) {
        return false;
    }
    const std::optional<int64_t> number = ParseInteger(text);
    if (!number || *number < 0 || *number > 0xFFFFFFFFll) {
        *error = "option " + args[*i - 1] + " takes a number from 0 to 4294967295, not " + text;
        return false;
    }
    *value = static_cast<uint32_t>(*number);
    return true;
}

bool TakeSigned(const std::vector<std::string>& args, size_t* i, int32_t* value,
                std::string* error) {
    std::string text;
    if (!TakeValue(args, i, &text, error)) {
        return false;
    }
    const std::optional<int64_t> number = ParseInteger(text);
    // Hex forms up to 0xFFFFFFFF are taken as their 32-bit pattern.
    if (!number || *number < INT32_MIN || *number > 0xFFFFFFFFll) {
        *error = "option " + args[*i - 1] + " takes a 32-bit number, not " + text;
        return false;
    }
    *value = static_cast<int32_t>(static_cast<uint32_t>(*number));
    return true;
}

bool TakeHex(const std::vector<std::string>& args, size_t* i, Bytes* value, std::string* error) {
    std::string text;
    if (!TakeValue(args, i, &text, error)) {
        return false;
    }
    std::optional<Bytes> bytes = ParseHex(text);
    if (!bytes) {
        *error = "option " + args[*i - 1] + " takes hex bytes such as 01000000, not " + text;
        return false;
    }
    *value = std::move(*bytes);
    return true;
}

bool ParseSend(const std::vector<std::string>& args, size_t i, SendOptions* send,
               std::string* error) {
    RecordToSend* record = nullptr;
    bool connectWaitGiven = false;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--user" || arg == "--sid" || arg == "--uid" || arg == "--channel") {
            if ((arg == "--sid" || arg == "--uid") && arg != UserIdOption()) {
                *error = arg + " names a user on " + (arg == "--sid" ? "Windows" : "posix") +
                         " only; here give " + UserIdOption() + ", --user or --channel";
                return false;
            }
            if (record != nullptr) {
                *error = arg + " goes before the first record";
                return false;
            }
            if (!TakeValue(args, &i, &value, error)) {
                return false;
            }
            if (arg == "--user") {
                send->userName = value;
            } else if (arg == "--channel") {
                send->channel = value;
            } else {
                send->userId = value;
            }
        } else if (arg == "--timeout") {
            if (!TakeUnsigned(args, &i, &send->replyTimeoutMs, error))
                return false;
        } else if (arg == "--connect-wait") {
            if (!TakeUnsigned(args, &i, &send->connectWaitMs, error))
                return false;
            connectWaitGiven = true;
        } else if (arg == "--wait-free") {
            send->waitFree = true;
        } else if (arg == "--backoff-max") {
            if (!TakeUnsigned(args, &i, &send->backoffMaxMs, error))
                return false;
            if (send->backoffMaxMs == 0) {
                *error = "option --backoff-max takes a pause of at least 1 ms";
                return false;
            }
        } else if (arg == "--raw") {
            send->records.emplace_back();
            record = &send->records.back();
            Bytes body;
            if (!TakeHex(args, &i, &body, error))
                return false;
            record->raw = std::move(body);
        } else if (arg == "--detail" || arg == "--error-code" || arg == "--length" ||
                   arg == "--expect-reply" || arg == "--no-reply") {
            if (record == nullptr) {
                *error = arg + " belongs to a record: give the record's type first";
                return false;
            }
            if (arg == "--detail") {
                if (!TakeValue(args, &i, &value, error))
                    return false;
                record->detail = value;
            } else if (arg == "--error-code") {
                int32_t code = 0;
                if (!TakeSigned(args, &i, &code, error))
                    return false;
                record->errorCode = code;
            } else if (arg == "--length") {
                uint32_t length = 0;
                if (!TakeUnsigned(args, &i, &length, error))
                    return false;
                record->lengthWord = length;
            } else {
                record->expectReply = arg == "--expect-reply";
            }
        } else if (IsOption(arg)) {
            *error = "unknown option " + arg + " for send";
            return false;
        } else {
            const std::optional<int32_t> type = ParseRecordType(arg);
            if (!type) {
                *error = "unknown record type " + arg + " (see --help for the names)";
                return false;
            }
            send->records.emplace_back();
            record = &send->records.back();
            record->type = *type;
        }
    }
    if (send->userName && send->userId) {
        *error = "give either --user or --sid/--uid, not both";
        return false;
    }
    if (send->channel && (send->userName || send->userId)) {
        *error = "--channel names the channel itself: leave out --user, --sid and --uid";
        return false;
    }
    if (send->waitFree && connectWaitGiven) {
        *error = "--wait-free waits without a limit: leave out --connect-wait";
        return false;
    }
    if (send->records.empty()) {
        *error = "send needs at least one record, e.g. send ack-only";
        return false;
    }
    for (const RecordToSend& record : send->records) {
        if (record.raw && (record.detail || record.errorCode)) {
            *error = "a --raw record takes no --detail or --error-code";
            return false;
        }
        if (record.type && RecordPayloadOf(*record.type) == RecordPayload::ErrorCode &&
            !record.errorCode) {
            *error = std::string(RecordTypeName(*record.type)) +
                     " needs --error-code N (the notifier drops it without one; --raw sends "
                     "such a body)";
            return false;
        }
    }
    return true;
}

bool ParseServe(const std::vector<std::string>& args, size_t i, ServeOptions* serve,
                std::string* error) {
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--channel" || arg == "--version" || arg == "--text" || arg == "--log") {
            if (!TakeValue(args, &i, &value, error))
                return false;
            if (arg == "--channel")
                serve->channel = value;
            if (arg == "--version")
                serve->version = value;
            if (arg == "--text")
                serve->text = value;
            if (arg == "--log")
                serve->logFile = value;
        } else if (arg == "--status") {
            if (!TakeSigned(args, &i, &serve->status, error))
                return false;
        } else if (arg == "--raw-reply") {
            Bytes body;
            if (!TakeHex(args, &i, &body, error))
                return false;
            serve->rawReply = std::move(body);
        } else if (arg == "--reply-length") {
            uint32_t length = 0;
            if (!TakeUnsigned(args, &i, &length, error))
                return false;
            serve->replyLength = length;
        } else if (arg == "--delay") {
            if (!TakeUnsigned(args, &i, &serve->delayMs, error))
                return false;
        } else if (arg == "--count") {
            if (!TakeUnsigned(args, &i, &serve->count, error))
                return false;
        } else if (arg == "--drop") {
            serve->drop = true;
        } else {
            *error = "unknown argument " + arg + " for serve";
            return false;
        }
    }
    return true;
}

}  // namespace

const std::vector<RecordType>& RecordTypes() {
    static const std::vector<RecordType> types = {
        {NOTIFY_NOTIFIER_ERROR, "notifier-error", false, RecordPayload::None},
        {NOTIFY_HTTPS_SITE_BLOCKED, "https-site-blocked", true, RecordPayload::Detail},
        {NOTIFY_ACK_ONLY, "ack-only", true, RecordPayload::None},
        {NOTIFY_NEW_UPDATE, "new-update", true, RecordPayload::None},
        {NOTIFY_SERVER_DOWN, "server-down", true, RecordPayload::None},
        {NOTIFY_DRIVER_ERROR, "driver-error", true, RecordPayload::ErrorCode},
        {NOTIFY_NO_HOTSPOT, "no-hotspot", true, RecordPayload::None},
        {NOTIFY_HOTSPOT_DETECTED, "hotspot-detected", true, RecordPayload::None},
        {NOTIFY_NORMAL_MODE, "normal-mode", true, RecordPayload::None},
        {NOTIFY_CONFLICTING_APPLICATION, "conflicting-application", true, RecordPayload::Detail},
    };
    return types;
}

std::optional<int32_t> ParseRecordType(std::string_view text) {
    for (const RecordType& type : RecordTypes()) {
        if (text == type.name) {
            return type.code;
        }
    }
    if (const std::optional<int32_t> code = NotificationTypeFromName(text)) {
        return code;  // the constant's name, e.g. NOTIFY_SERVER_DOWN
    }
    const std::optional<int64_t> number = ParseInteger(text);
    if (!number || *number < INT32_MIN || *number > 0xFFFFFFFFll) {
        return std::nullopt;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(*number));
}

const char* RecordTypeName(int32_t code) {
    for (const RecordType& type : RecordTypes()) {
        if (type.code == code) {
            return type.name;
        }
    }
    return "unknown";
}

bool RecordIsReplied(int32_t code) {
    for (const RecordType& type : RecordTypes()) {
        if (type.code == code) {
            return type.replied;
        }
    }
    return false;
}

RecordPayload RecordPayloadOf(int32_t code) {
    for (const RecordType& type : RecordTypes()) {
        if (type.code == code) {
            return type.payload;
        }
    }
    return RecordPayload::None;
}

Bytes BuildRecordBody(const RecordToSend& record) {
    if (record.raw) {
        return *record.raw;
    }
    Bytes body;
    AppendUint32(body, static_cast<uint32_t>(record.type.value_or(0)));
    // A type that carries a detail gets at least its NUL: the notifier drops a
    // body whose detail is not ended inside it.
    if (record.detail || (record.type && RecordPayloadOf(*record.type) == RecordPayload::Detail)) {
        const std::string detail = record.detail.value_or(std::string());
        body.insert(body.end(), detail.begin(), detail.end());
        body.push_back(0);
    }
    if (record.errorCode) {
        AppendUint32(body, static_cast<uint32_t>(*record.errorCode));
    }
    return body;
}

Bytes BuildRecordFrame(const RecordToSend& record) {
    const Bytes body = BuildRecordBody(record);
    Bytes frame;
    AppendUint32(frame, record.lengthWord.value_or(static_cast<uint32_t>(body.size())));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

bool RecordExpectsReply(const RecordToSend& record) {
    if (record.expectReply) {
        return *record.expectReply;
    }
    if (record.type) {
        return RecordIsReplied(*record.type);
    }
    return record.raw && record.raw->size() >= 4 &&
           RecordIsReplied(static_cast<int32_t>(LoadUint32(record.raw->data())));
}

std::string DescribeRecord(const RecordToSend& record) {
    if (record.type) {
        return "type " + std::to_string(*record.type) + " " + RecordTypeName(*record.type);
    }
    return "raw " + std::to_string(record.raw ? record.raw->size() : 0) + " bytes";
}

std::optional<ToolCommandLine> ParseToolArguments(const std::vector<std::string>& args,
                                                  std::string* error) {
    ToolCommandLine line;
    if (args.empty()) {
        *error = "no job given: use send or serve (see --help)";
        return std::nullopt;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        line.job = ToolJob::Help;
        return line;
    }
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            line.job = ToolJob::Help;
            return line;
        }
    }
    if (args[0] == "send") {
        line.job = ToolJob::Send;
        if (!ParseSend(args, 1, &line.send, error))
            return std::nullopt;
    } else if (args[0] == "serve") {
        line.job = ToolJob::Serve;
        if (!ParseServe(args, 1, &line.serve, error))
            return std::nullopt;
    } else {
        *error = "unknown job " + args[0] + ": use send or serve (see --help)";
        return std::nullopt;
    }
    return line;
}

std::optional<Bytes> ParseHex(std::string_view text) {
    Bytes bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == '\t') {
            if (high >= 0)
                return std::nullopt;  // a separator inside a byte
            continue;
        }
        const int value = HexValue(c);
        if (value < 0)
            return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

std::string ToHex(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || value > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

void AppendUint32(Bytes& bytes, uint32_t value) {
    const size_t at = bytes.size();
    bytes.resize(at + 4);
    StoreWireWord(value, bytes.data() + at);
}

uint32_t LoadUint32(const uint8_t* bytes) {
    return LoadWireWord(bytes);
}

int SendRecords(CRecordConnection& connection, const SendOptions& options,
                const std::function<void(const std::string&)>& print) {
    int number = 0;
    for (const RecordToSend& record : options.records) {
        ++number;
        const std::string label =
            "record " + std::to_string(number) + " (" + DescribeRecord(record) + ")";
        if (!connection.Write(BuildRecordFrame(record))) {
            print(label + ": the connection broke while sending");
            return TOOL_EXIT_SEND_FAILED;
        }
        if (!RecordExpectsReply(record)) {
            print(label + ": sent, no reply expected");
            continue;
        }
        uint8_t reply[4];
        if (!connection.ReadReply(reply, options.replyTimeoutMs)) {
            print(label + ": sent, no reply within " + std::to_string(options.replyTimeoutMs) +
                  " ms or the notifier closed the connection");
            return TOOL_EXIT_NO_REPLY;
        }
        print(label + ": reply " + std::to_string(static_cast<int32_t>(LoadUint32(reply))) + " (" +
              ToHex(reply, 4) + ")");
    }
    return TOOL_EXIT_OK;
}

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
                   const std::function<void(const std::string&)>& log,
                   const std::function<void(uint32_t)>& sleepMs) {
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

std::string ToolHelpText() {
    return R"(orlivan-service: a stand-in for the filter's service, for tests and for
service developers. It speaks both channels of the notifier exactly as the
service must.

USAGE
  orlivan-service send [TARGET] [--timeout MS] [--connect-wait MS | --wait-free]
                       RECORD...
  orlivan-service serve [OPTIONS]
  orlivan-service --help

SEND: write notification records to a user's notification channel
  All records go over one connection, in order. After each record that the
  notifier answers, the 4-byte reply is read and printed before the next
  record is sent; records the notifier does not answer are not waited for.

  TARGET (default: the current user)
    --user NAME        the channel of the account NAME
    --sid SID          Windows only: the channel of the user with this SID string
    --uid N            posix only: the channel of the user with this uid
    --channel NAME     this pipe name (\\.\pipe\...) or socket path exactly

  RECORD: a type, then its payload options
    TYPE               a name below (or its constant, e.g. NOTIFY_ACK_ONLY),
                       or a code (decimal, or 0x hex)
      --detail TEXT    text payload, sent with its terminating NUL
                       (https-site-blocked, conflicting-application; without
                       it the empty detail, a lone NUL, is sent)
      --error-code N   32-bit payload (driver-error: required)
      --length N       send N as the length word instead of the body's size
      --expect-reply   wait for a reply even if the type gets none
      --no-reply       do not wait for a reply
    --raw HEX          a body given in hex, e.g. --raw 0100000061626300
                       (takes --length, --expect-reply, --no-reply too)

  Types, codes, payloads and replies:
    notifier-error           -3  none                 no reply
    https-site-blocked        1  [--detail "site"]    reply 1
    ack-only                  2  none                 reply 1
    new-update                3  none                 reply 1 (first: after the update check)
    server-down               4  none                 reply 1
    driver-error              6  --error-code N       reply 1 (first: after the box is closed)
    no-hotspot                7  none                 reply 1
    hotspot-detected          8  none                 reply 1
    normal-mode               9  none                 reply 1
    conflicting-application  10  [--detail "...PID - \"1234\"..."]  reply 1
    any other code               anything             no reply (an empty balloon)

  --timeout MS       longest wait for each reply (default 30000)
  --connect-wait MS  how long to keep trying while the channel is busy or
                     absent (default 2000)
  --wait-free        keep trying until the channel is free, however long
                     that takes, as a service must: while the first driver
                     error's box (or the update dialog or boxes of the first
                     new-update notice) waits for the user, the channel is
                     busy for every client, for minutes or hours. The pause
                     between tries starts at 1 s and doubles up to
                     --backoff-max; each try is printed. Not with
                     --connect-wait. (posix: a busy notifier's socket queues
                     up to 8 connections, so there the wait is mostly in the
                     reply, bounded by --timeout.)
  --backoff-max MS   longest pause between tries of --wait-free
                     (default 30000)

  Output: the channel, then one line per record, e.g.
    channel busy or absent (try 1); trying again in 1000 ms   (--wait-free)
    connected to /run/user/1000/orlivan/notification
    record 1 (type 1 https-site-blocked): reply 1 (01000000)
    record 2 (type -3 notifier-error): sent, no reply expected

SERVE: answer the notifier's requests on the command channel
  Each exchange is one connection: the request frame (length word 4, then the
  command code) and one reply frame (length word L, then L bytes).

  --channel NAME     serve this pipe name or socket path (default: the
                     command channel)
  --version TEXT     installed version for version requests (default 1.0.0)
  --status N         update status for update checks (default 4):
                     4 latest, 5 update available, anything else: error
  --text TEXT        update text (default: the version); for status 5 it is
                     "prefix;new version;what's new", e.g. "a;2.0;Faster"
  --raw-reply HEX    answer every request with this body instead
  --reply-length N   send N as the reply's length word instead of its size
  --delay MS         wait MS before answering
  --drop             read the request and close without answering
  --count N          serve N exchanges, then exit (default: until killed)
  --log FILE         append the log to FILE as well as standard output

  Log: one line per transfer received and one per reply, e.g.
    exchange 1: received 04000000
    exchange 1: received 05030000
    exchange 1: request length 4 command 0x305
    exchange 1: replied 0a00000005030000312e322e3300
  On Windows the command pipe is a message pipe: each "received" line is one
  write of the client.

CHANNEL NAMES
  Windows: notification channel \\.\pipe\<the user's SID string>, command
  channel \\.\pipe\orlivan_notifier_cmd_pipe.
  posix: Unix domain sockets: notification channel
  /run/user/<uid>/orlivan/notification (only the user and root can enter the
  folder), command channel /run/orlivan/command. $ORLIVAN_CHANNEL_DIR, when
  set, replaces both folders: <dir>/notification and <dir>/command. send
  delivers only to a notifier run by the addressed user (or by root); serve
  makes its folder like the notifier does (0700, or 0755 for /run/orlivan) and
  refuses one owned by another user or open to others.

EXIT CODES
  0 done
  1 bad command line (no arguments at all: this help on standard error),
    or the --log file can't be opened
  2 no notifier listening, or it stayed busy (send)
  3 the connection broke while sending (send)
  4 an expected reply did not come: time-out, or the notifier hung up (send)
  5 unknown user (send)
  6 the command channel can't be served (serve)
)";
}
