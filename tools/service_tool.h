// The service stand-in's own logic: its command line, the notification
// records it sends, the command replies it serves, and what it prints. The
// transports are in tool_channel.h.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Exit codes of the stand-in.
enum ToolExit : int {
    TOOL_EXIT_OK = 0,
    TOOL_EXIT_USAGE = 1,                // bad command line
    TOOL_EXIT_NO_LISTENER = 2,          // send: nobody listens on the channel (or it stayed busy)
    TOOL_EXIT_SEND_FAILED = 3,          // send: the connection broke while writing a record
    TOOL_EXIT_NO_REPLY = 4,             // send: an expected reply did not come in time
    TOOL_EXIT_UNKNOWN_USER = 5,         // send: the user named can't be resolved
    TOOL_EXIT_CHANNEL_UNAVAILABLE = 6,  // serve: the command channel can't be created
};

// ---- notification records ---------------------------------------------------

// What follows a record's type word.
enum class RecordPayload {
    None,
    Detail,     // a text and its NUL (an empty detail is the NUL alone)
    ErrorCode,  // a 32-bit integer
};

struct RecordType {
    int32_t code;
    const char* name;
    bool replied;  // the notifier answers it with a 4-byte reply
    RecordPayload payload;
};

// The record types the notifier knows, by code and name.
const std::vector<RecordType>& RecordTypes();

// The type named `text` (a name from RecordTypes, or a decimal or 0x-hex
// code); nothing when it is neither.
std::optional<int32_t> ParseRecordType(std::string_view text);

// The name of `code`, or "unknown" for a code outside the table.
const char* RecordTypeName(int32_t code);

// Whether the notifier answers a record of type `code` (it does not answer
// NOTIFY_NOTIFIER_ERROR nor codes outside the table).
bool RecordIsReplied(int32_t code);

// The payload a record of type `code` carries (None for codes outside the table).
RecordPayload RecordPayloadOf(int32_t code);

struct RecordToSend {
    std::optional<int32_t> type;         // absent for a raw body
    std::optional<std::string> detail;   // sent with its NUL; absent: empty for a Detail type
    std::optional<int32_t> errorCode;    // 4 bytes, little-endian
    std::optional<Bytes> raw;            // the whole body as given
    std::optional<uint32_t> lengthWord;  // sent instead of the body's size
    std::optional<bool> expectReply;     // overrides the type's rule
};

// The record's body: type, then detail and its NUL (the NUL alone when a type
// that carries a detail has none), then the error code.
Bytes BuildRecordBody(const RecordToSend& record);

// The frame: the length word (the body's size unless overridden), then the body.
Bytes BuildRecordFrame(const RecordToSend& record);

// Whether to wait for a reply to `record`: its override, else the rule of its
// type (for a raw body, the type in its first 4 bytes when it has them).
bool RecordExpectsReply(const RecordToSend& record);

// A short description for the output: "type 1 https-site-blocked" or "raw 5 bytes".
std::string DescribeRecord(const RecordToSend& record);

// ---- command line -----------------------------------------------------------

struct SendOptions {
    std::optional<std::string> userName;  // --user
    std::optional<std::string> userId;    // --sid (Windows) / --uid (posix)
    std::optional<std::string> channel;   // --channel: explicit pipe name or socket path
    uint32_t replyTimeoutMs = 30000;      // --timeout
    uint32_t connectWaitMs = 2000;        // --connect-wait
    // --wait-free: keep trying until the channel takes the records, however
    // long, pausing between tries from backoffFirstMs, doubling up to
    // backoffMaxMs (--backoff-max).
    bool waitFree = false;
    uint32_t backoffFirstMs = 1000;
    uint32_t backoffMaxMs = 30000;
    std::vector<RecordToSend> records;
};

struct ServeOptions {
    std::optional<std::string> channel;
    std::string version = "1.0.0";
    int32_t status = 4;
    std::optional<std::string> text;      // default: the version
    std::optional<Bytes> rawReply;        // body of every reply
    std::optional<uint32_t> replyLength;  // length word instead of the body's size
    uint32_t delayMs = 0;
    bool drop = false;
    uint32_t count = 0;  // 0: until killed
    std::optional<std::string> logFile;
};

enum class ToolJob { Help, Send, Serve };

struct ToolCommandLine {
    ToolJob job = ToolJob::Help;
    SendOptions send;
    ServeOptions serve;
};

// Parses the arguments after the program name. On failure (no arguments at
// all included) returns nothing and sets `error` to a one-line explanation.
std::optional<ToolCommandLine> ParseToolArguments(const std::vector<std::string>& args,
                                                  std::string* error);

// The --help text.
std::string ToolHelpText();

// ---- small helpers ----------------------------------------------------------

// Hex digits (blanks, ':' and '-' between bytes allowed) to bytes; nothing on
// an odd count or a non-hex character.
std::optional<Bytes> ParseHex(std::string_view text);
// Lower-case hex, no separators.
std::string ToHex(const uint8_t* bytes, size_t size);
inline std::string ToHex(const Bytes& bytes) {
    return ToHex(bytes.data(), bytes.size());
}
// Decimal (optionally negative) or 0x-hex 32-bit integer.
std::optional<int64_t> ParseInteger(std::string_view text);

void AppendUint32(Bytes& bytes, uint32_t value);
uint32_t LoadUint32(const uint8_t* bytes);

// ---- sending ------------------------------------------------------------------

// The connection to a notification channel, as the sender sees it (CPipeClient
// implements it with bounded waits).
class CRecordConnection {
public:
    virtual ~CRecordConnection() = default;
    virtual bool Write(const Bytes& bytes) = 0;
    // Reads exactly 4 bytes within `timeoutMs`.
    virtual bool ReadReply(uint8_t reply[4], uint32_t timeoutMs) = 0;
};

// Sends every record on `connection`, printing one line per record through
// `print`. Stops at the first failure; returns the exit code.
int SendRecords(CRecordConnection& connection, const SendOptions& options,
                const std::function<void(const std::string&)>& print);

// ---- serving ------------------------------------------------------------------

// Largest request body the stand-in accepts (a request is 4 bytes).
constexpr uint32_t SERVE_MAX_REQUEST = 4096;

// One accepted connection on the command channel.
class CServeConnection {
public:
    virtual ~CServeConnection() = default;
    // Up to `max` bytes as they arrive: on Windows one client write (message)
    // per call, on posix whatever the socket holds. 0 when the client closed,
    // -1 on error or time-out.
    virtual long ReadSome(uint8_t* buffer, uint32_t max, uint32_t timeoutMs) = 0;
    virtual bool Write(const Bytes& bytes) = 0;
};

// The reply frame for a request with command code `code`, by the options:
// empty when the connection is to be dropped without a reply.
Bytes BuildCommandReply(const ServeOptions& options, int32_t code);

// Serves one exchange on `connection`: reads the request (logging each
// transfer as it arrived), answers it by the options, and logs what it did.
// `number` counts exchanges from 1. `sleepMs` waits (injected for tests).
void ServeExchange(CServeConnection& connection, const ServeOptions& options, uint32_t number,
                   const std::function<void(const std::string&)>& log,
                   const std::function<void(uint32_t)>& sleepMs);
