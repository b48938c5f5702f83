// The texts of orlivan-service-standin --help and --version. The manual page
// of the Debian package is made from the help at build time.
#include "orlivan_version.h"
#include "tool_arguments.h"

std::string ToolVersionText() {
    return "orlivan-service-standin " ORLIVAN_VERSION_TEXT "\n";
}

std::string ToolHelpText() {
    return R"(orlivan-service-standin: a stand-in for the filter's service, for tests and
for service developers. It speaks both channels of the notifier exactly as
the service must.

USAGE
  orlivan-service-standin send [TARGET] [--timeout MS]
                               [--connect-wait MS | --wait-free] RECORD...
  orlivan-service-standin serve [OPTIONS]
  orlivan-service-standin --help
  orlivan-service-standin --version   (as the first argument)

SEND: write notification records to a user's notification channel
  All records go over one connection, in order. After each record that the
  notifier answers, the 4-byte reply is read and printed before the next
  record is sent; records the notifier does not answer are not waited for.
  Before the first record is written, the channel is checked: it must be the
  addressed user's (the current user's for --channel). Windows: the pipe
  object's owner, read through the open handle, must be that user's SID,
  else nothing is sent and send exits with 7 (another account took the
  pipe's name; with --wait-free the records are kept and tried again).
  posix: the socket's peer must run as that user or root, else nothing is
  sent (exit 7).
  Windows lets only the user, SYSTEM, LocalService, NetworkService and
  services open a user's channel: to write to another user's notifier, run
  send as that user (runas /user:NAME) or as SYSTEM or a service; an
  administrator's own account is refused at the open (exit 2).

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

  --timeout MS       longest wait for each reply, from 1 (default 30000)
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
                     up to 9 connections, so there the wait is mostly in the
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
  --count N          answer N exchanges, then exit (default: until killed)
  --log FILE         append the log to FILE as well as standard output

  Log: one line per transfer received and one per reply, e.g.
    exchange 1: received 04000000
    exchange 1: received 05030000
    exchange 1: request length 4 command 0x305
    exchange 1: replied 0a00000005030000312e322e3300
  On Windows the command pipe is a message pipe: each "received" line is one
  write of the client.

CHANNEL NAMES
  Windows: notification channel \\.\pipe\<the user's SID string> (the SID
  of the user's token: --user looks the name up, the current user is this
  process's token's user), command channel \\.\pipe\orlivan_notifier_cmd_pipe.
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
  7 the channel is another account's than the user addressed (Windows:
    the pipe's owner; posix: the socket's peer): nothing was sent (send)
)";
}
