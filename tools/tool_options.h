// What the stand-in is asked to do: its jobs, their options and its exit codes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tool_bytes.h"

// Exit codes of the stand-in.
enum ToolExit : int {
    TOOL_EXIT_OK = 0,
    TOOL_EXIT_USAGE = 1,                // bad command line
    TOOL_EXIT_NO_LISTENER = 2,          // send: nobody listens on the channel (or it stayed busy)
    TOOL_EXIT_SEND_FAILED = 3,          // send: the connection broke while writing a record
    TOOL_EXIT_NO_REPLY = 4,             // send: an expected reply did not come in time
    TOOL_EXIT_UNKNOWN_USER = 5,         // send: the user named can't be resolved
    TOOL_EXIT_CHANNEL_UNAVAILABLE = 6,  // serve: the command channel can't be created
    TOOL_EXIT_NOT_THE_USERS = 7,        // send (Windows): the channel's server is not the user's
};

using PrintFn = std::function<void(const std::string&)>;

struct RecordToSend {
    std::optional<int32_t> type;         // absent for a raw body
    std::optional<std::string> detail;   // sent with its NUL; absent: empty for a Detail type
    std::optional<int32_t> errorCode;    // 4 bytes, little-endian
    std::optional<Bytes> raw;            // the whole body as given
    std::optional<uint32_t> lengthWord;  // sent instead of the body's size
    std::optional<bool> expectReply;     // overrides the type's rule
};

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

enum class ToolJob { Help, Version, Send, Serve };

struct ToolCommandLine {
    ToolJob job = ToolJob::Help;
    SendOptions send;
    ServeOptions serve;
};
