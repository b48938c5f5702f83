// The send job: notification records laid out by the core's encoder, written
// to a user's notification channel one after another, each reply read and
// printed where the notifier sends one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tool_options.h"

// The short name of `code`, or "unknown" for a code the notifier does not know.
const char* RecordTypeName(int32_t code);

// Whether the notifier answers a record of type `code`.
bool RecordIsReplied(int32_t code);

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

// The connection to a notification channel, as the sender sees it (the
// service library's connection implements it).
class CRecordConnection {
public:
    virtual ~CRecordConnection() = default;
    // Writes `frame` and, when `expectReply`, reads the reply into `reply`
    // within `timeoutMs`: an orlivan_notify_error value.
    virtual int Send(const Bytes& frame, bool expectReply, uint32_t timeoutMs, int32_t* reply) = 0;
};

// Sends every record on `connection`, printing one line per record through
// `print`. Stops at the first failure; returns the exit code.
int SendRecords(CRecordConnection& connection, const SendOptions& options, const PrintFn& print);

// Sends the records of `options` to the notification channel they address and
// prints what happened; returns the exit code. `sleepMs` makes the pauses
// between tries of --wait-free (injected for tests; default: the thread sleeps).
int RunSend(const SendOptions& options, const PrintFn& print, const PrintFn& printError,
            const std::function<void(uint32_t)>& sleepMs = {});
