/* orlivan_notify.h: the filter's service side of the Orlivan Notifier's two
 * channels, for services written in any language that can call C.
 *
 * - Send notices to a user's notifier (the notification channel): address the
 *   user, send a record within a deadline, get its reply or a precise error.
 *   A busy channel is retried inside the deadline; a channel that is not the
 *   addressed user's is refused before a byte is written.
 * - Find the users to notify: the sessions with a logged-on user.
 * - Serve the notifier's commands (the command channel): version and update
 *   check, answered by callbacks.
 *
 * Every function may be called from any thread; a handle is used by one
 * thread at a time. Nothing needs setting up first. Texts are UTF-8. The
 * library never throws and never ends the process.
 *
 * Each structure the caller fills starts with its `size`: set it to
 * sizeof(the structure) as this header declares it. A size smaller than this
 * version's is refused (E_ARGUMENT); a larger one (a newer header) is taken,
 * the fields this version does not know being ignored. */
#ifndef ORLIVAN_NOTIFY_H
#define ORLIVAN_NOTIFY_H

#include <stddef.h>
#include <stdint.h>

/* The calling convention of every function and every callback: __cdecl on
 * Windows, whatever the caller's compiler takes by default (/Gz, -mrtd). */
#if defined(_WIN32)
#define ORLIVAN_NOTIFY_CALL __cdecl
#else
#define ORLIVAN_NOTIFY_CALL
#endif

#if defined(ORLIVAN_NOTIFY_STATIC)
#define ORLIVAN_NOTIFY_API
#elif defined(_WIN32)
#if defined(ORLIVAN_NOTIFY_BUILDING)
#define ORLIVAN_NOTIFY_API __declspec(dllexport)
#else
#define ORLIVAN_NOTIFY_API __declspec(dllimport)
#endif
#else
#define ORLIVAN_NOTIFY_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The result of every call that can fail. */
typedef enum orlivan_notify_error {
    ORLIVAN_NOTIFY_OK = 0,
    ORLIVAN_NOTIFY_E_ARGUMENT = 1,      /* a null or invalid argument; nothing was done */
    ORLIVAN_NOTIFY_E_UNKNOWN_USER = 2,  /* no such session, or it has no user */
    ORLIVAN_NOTIFY_E_NO_NOTIFIER = 3,   /* no notifier listens for that user */
    ORLIVAN_NOTIFY_E_ACCESS_DENIED = 4, /* this account may not open that user's channel */
    ORLIVAN_NOTIFY_E_BUSY = 5,          /* the channel stayed busy until the deadline */
    ORLIVAN_NOTIFY_E_NOT_THE_USERS = 6, /* the channel is someone else's: nothing was written */
    ORLIVAN_NOTIFY_E_SEND_FAILED = 7,   /* the record was not written whole (or at all) */
    ORLIVAN_NOTIFY_E_TIMED_OUT = 8,     /* the record was written; no reply by the deadline */
    ORLIVAN_NOTIFY_E_CLOSED = 9,        /* the record was written; the notifier closed unanswered */
    ORLIVAN_NOTIFY_E_MALFORMED_REPLY = 10,     /* the reply was cut short */
    ORLIVAN_NOTIFY_E_CHANNEL_UNAVAILABLE = 11, /* the command channel can't be created or is held */
    ORLIVAN_NOTIFY_E_SYSTEM = 12,              /* the system's session list can't be read */
    ORLIVAN_NOTIFY_E_OUT_OF_MEMORY = 13,       /* memory ran out; nothing was done */
    ORLIVAN_NOTIFY_E_INTERNAL = 14             /* an unforeseen failure inside the library */
} orlivan_notify_error;

/* A short English text for `error` (never null; "unknown error" for a value
 * outside the enum). */
ORLIVAN_NOTIFY_API const char* ORLIVAN_NOTIFY_CALL orlivan_notify_error_text(int error);

/* What the last failing call on this thread found, for a log line (the pipe
 * and its owner for E_NOT_THE_USERS, the channel for E_NO_NOTIFIER); empty
 * when it has nothing to add. Valid until the thread's next call. */
ORLIVAN_NOTIFY_API const char* ORLIVAN_NOTIFY_CALL orlivan_notify_last_detail(void);

/* ---- Records ---------------------------------------------------------- */

/* The record types (the notifier's codes). */
enum {
    ORLIVAN_NOTIFY_NOTIFIER_ERROR = -3,
    ORLIVAN_NOTIFY_HTTPS_SITE_BLOCKED = 1, /* detail: the site */
    ORLIVAN_NOTIFY_ACK_ONLY = 2,
    ORLIVAN_NOTIFY_NEW_UPDATE = 3,
    ORLIVAN_NOTIFY_SERVER_DOWN = 4,
    ORLIVAN_NOTIFY_DRIVER_ERROR = 6, /* error_code */
    ORLIVAN_NOTIFY_NO_HOTSPOT = 7,
    ORLIVAN_NOTIFY_HOTSPOT_DETECTED = 8,
    ORLIVAN_NOTIFY_NORMAL_MODE = 9,
    ORLIVAN_NOTIFY_CONFLICTING_APPLICATION = 10 /* detail: see orlivan_notify_conflict_detail */
};

/* The longest detail, in bytes, that fits a frame. */
#define ORLIVAN_NOTIFY_MAX_DETAIL 4091

/* One record. `size`: sizeof(orlivan_notify_record). `detail` (for the
 * types that carry one; null: empty) is sent with its terminating NUL, at
 * most ORLIVAN_NOTIFY_MAX_DETAIL bytes; the notifier reads it as UTF-8 when
 * it is well-formed UTF-8, otherwise in the user's ANSI code page.
 * `error_code` goes with driver errors. */
typedef struct orlivan_notify_record {
    uint32_t size;
    int32_t type;
    const char* detail;
    int32_t error_code;
} orlivan_notify_record;

/* Writes the detail of a conflicting-application record naming the program
 * `name` and its process id, as the notifier reads it, into `buffer`
 * (NUL-terminated). E_ARGUMENT when it does not fit. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL orlivan_notify_conflict_detail(const char* name,
                                                                          uint32_t process_id,
                                                                          char* buffer,
                                                                          size_t size);

/* ---- Sending ---------------------------------------------------------- */

/* A connection to one user's notification channel. */
typedef struct orlivan_notify_connection orlivan_notify_connection;

/* Opens the notification channel of the user `user_id` (Windows: the SID
 * string, "S-1-5-21-..."; Linux: the uid in decimal) and checks that it is
 * that user's before anything is written. A busy channel, or one not there
 * yet (a notifier starting), is tried again with growing pauses until
 * `deadline_ms` from now; 0 tries once. On success `*connection` is set;
 * close it with orlivan_notify_close. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL orlivan_notify_connect(
    const char* user_id, uint32_t deadline_ms, orlivan_notify_connection** connection);

/* The same for the channel at `channel` (a pipe name or socket path), which
 * must be the user `user_id`'s (null: the calling process's user). */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL
orlivan_notify_connect_channel(const char* channel, const char* user_id, uint32_t deadline_ms,
                               orlivan_notify_connection** connection);

/* Sends `record` and, for the types the notifier answers, reads its reply,
 * the write and the reply within `reply_timeout_ms`; `*reply` (may be null)
 * gets it, or 0 for the types that get none. 0 ms is refused (E_ARGUMENT) for
 * a type that gets a reply; for one that gets none it writes only what the
 * channel takes at once. A reply can take long: the first driver error is
 * answered when the user has closed its box. After E_TIMED_OUT or E_CLOSED
 * the record was delivered: do not send it again. Any failure closes the
 * connection for good: later sends on it return E_SEND_FAILED, writing
 * nothing; close it and connect anew. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL
orlivan_notify_send(orlivan_notify_connection* connection, const orlivan_notify_record* record,
                    uint32_t reply_timeout_ms, int32_t* reply);

/* For protocol tests: writes `size` bytes of `frame` exactly as given and,
 * when `expect_reply` is non-zero, reads a reply, as orlivan_notify_send
 * does (the same time, refusals and closing on failure). */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL
orlivan_notify_send_frame(orlivan_notify_connection* connection, const void* frame, size_t size,
                          int expect_reply, uint32_t reply_timeout_ms, int32_t* reply);

/* Closes the connection and frees it; null is ignored. */
ORLIVAN_NOTIFY_API void ORLIVAN_NOTIFY_CALL
orlivan_notify_close(orlivan_notify_connection* connection);

/* Connect, send one record, close: the connect (with its retries), the write
 * and the reply all within the one `deadline_ms`. 0 is refused (E_ARGUMENT)
 * for a record that gets a reply, since it can't come without waiting; for
 * one that gets none, 0 sends it only if the channel is free and takes it at
 * once. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL orlivan_notify_send_to_user(
    const char* user_id, const orlivan_notify_record* record, uint32_t deadline_ms, int32_t* reply);

/* ---- Users ------------------------------------------------------------ */

/* The longest user identifier, with its NUL. */
#define ORLIVAN_NOTIFY_MAX_USER_ID 192

/* A logged-on user and one of its sessions (filled by the library). */
typedef struct orlivan_notify_session {
    uint32_t session_id;                      /* Windows: a session of the user; Linux: 0 */
    char user_id[ORLIVAN_NOTIFY_MAX_USER_ID]; /* SID string / uid in decimal */
} orlivan_notify_session;

/* Lists the users logged on, one entry per user: a user has one
 * notification channel however many sessions it has, so send each notice
 * once per entry. Windows: from the terminal-services sessions, with the
 * first session of the user; Linux: logind's users. Fills up to `max`
 * entries of `sessions` and sets `*count` to how many there are (which may
 * be more than `max`: call again with more room). */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL
orlivan_notify_list_sessions(orlivan_notify_session* sessions, size_t max, size_t* count);

/* The user of the session `session_id` (Windows), as a user id. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL orlivan_notify_session_user(uint32_t session_id,
                                                                       char* user_id, size_t size);

/* ---- Serving the command channel -------------------------------------- */

/* The update statuses of a check. */
enum { ORLIVAN_NOTIFY_UPDATE_LATEST = 4, ORLIVAN_NOTIFY_UPDATE_AVAILABLE = 5 };

/* What the service answers. `size`: sizeof(orlivan_notify_command_handlers).
 * Each callback writes a NUL-terminated text into
 * `text` (room for `size` bytes) and returns 0, or returns non-zero to close
 * the connection without an answer (the notifier then shows "no service").
 * A null callback answers nothing. */
typedef struct orlivan_notify_command_handlers {
    uint32_t size;
    void* context;
    /* The installed version, e.g. "2.5.1": ASCII (the Windows notifier reads
     * it in the user's ANSI code page). */
    int(ORLIVAN_NOTIFY_CALL* version)(void* context, char* text, size_t size);
    /* The update check: `*status` ORLIVAN_NOTIFY_UPDATE_LATEST (text: the
     * version) or ORLIVAN_NOTIFY_UPDATE_AVAILABLE (text: "prefix;new version;
     * what's new"); any other status shows the notifier's update error. */
    int(ORLIVAN_NOTIFY_CALL* check_update)(void* context, int32_t* status, char* text, size_t size);
    /* Optional: one line per transfer and per decision, for a log. */
    void(ORLIVAN_NOTIFY_CALL* log)(void* context, const char* line);
    /* Optional, for protocol tests: replaces the reply frame to `command`;
     * returns its length (at most `size`), 0 to close without a reply. */
    size_t(ORLIVAN_NOTIFY_CALL* raw_reply)(void* context, int32_t command, uint8_t* frame,
                                           size_t size);
} orlivan_notify_command_handlers;

typedef struct orlivan_notify_command_server orlivan_notify_command_server;

/* Creates the command channel (null `channel`: the notifier's) and listens.
 * The handlers are copied; `context` must live as long as the server. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL
orlivan_notify_serve_start(const char* channel, const orlivan_notify_command_handlers* handlers,
                           orlivan_notify_command_server** server);

/* Waits up to `wait_ms` for a client to connect and serves that one
 * exchange: the whole request within 2 s of the accept (none for an account
 * whose last connection ran out of its time: its request must be there at
 * once), the handler's answer written within 1 s. `*served` (may be null)
 * gets 1 when a reply was written, else 0. Call it in a loop on the thread
 * that serves. After orlivan_notify_serve_stop it returns at once, also in
 * the middle of an exchange (which is dropped), and so does every later
 * call. */
ORLIVAN_NOTIFY_API int ORLIVAN_NOTIFY_CALL
orlivan_notify_serve(orlivan_notify_command_server* server, uint32_t wait_ms, uint32_t* served);

/* Makes a running orlivan_notify_serve return at once, and every later one;
 * from any thread. */
ORLIVAN_NOTIFY_API void ORLIVAN_NOTIFY_CALL
orlivan_notify_serve_stop(orlivan_notify_command_server* server);

/* Closes the channel and frees the server (no serve may be running). */
ORLIVAN_NOTIFY_API void ORLIVAN_NOTIFY_CALL
orlivan_notify_serve_end(orlivan_notify_command_server* server);

#ifdef __cplusplus
}
#endif

#endif
