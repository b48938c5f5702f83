// Closing running notifiers so that an installer can replace or remove the
// program, and starting them again once it is done: which top-level windows
// are notifiers that may be closed, the steps of a bounded close, and how the
// notifier is started again. A helper run by the installer in a user's
// session (and by the filter's service in every session) follows these
// rules; it only looks at windows of its own desktop, so one session never
// reaches another.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

// The notifier's hidden main window: a dialog with the program's name as
// caption, run by OrlivanSysTray.exe.
inline constexpr char kNotifierWindowClass[] = "#32770";
inline constexpr char kNotifierWindowCaption[] = "OrlivanSysTray";
inline constexpr char kNotifierProgramName[] = "OrlivanSysTray.exe";

// What the helper learnt of one top-level window (UTF-8). A field it could
// not read is empty.
struct NotifierWindowFacts {
    std::string className;
    std::string caption;
    std::string programPath;  // the full path of the process's program
    std::string ownerSid;     // the user SID of the process's token
};

enum class ClosingVerdict {
    Close,        // a notifier of the helper's own user
    NotNotifier,  // some other window: left alone
    OtherUser,    // a notifier of another user, or one whose user is unknown: left alone
};

// A window is closed only when it is the notifier's main window, its process
// runs OrlivanSysTray.exe (any folder, file name compared without case), and
// the process's user is the helper's own user (`ownSid`, never empty).
ClosingVerdict JudgeNotifierWindow(const NotifierWindowFacts& window, std::string_view ownSid);

enum class ClosingStep {
    EndSession,  // WM_QUERYENDSESSION and WM_ENDSESSION with ENDSESSION_CLOSEAPP
    Close,       // WM_CLOSE, for a release that ignores the end-session messages
    Terminate,   // end the process; the user's own process, as the Restart Manager would
    GiveUp,      // stop waiting; whatever still runs stays
};

struct ClosingStage {
    std::chrono::milliseconds after;  // since the start of the close
    ClosingStep step;
};

// The steps in order. Each is taken for the notifiers still running once its
// time has come; the close ends early when none runs any more. The times
// count from the start of the close and hold for all notifiers together: a
// step is taken for every notifier at once and never waits on one of them, so
// several hung windows end within the same bound as one.
inline constexpr ClosingStage kClosingSchedule[] = {
    {std::chrono::milliseconds(0), ClosingStep::EndSession},
    {std::chrono::milliseconds(2000), ClosingStep::Close},
    {std::chrono::milliseconds(8000), ClosingStep::Terminate},
    {std::chrono::milliseconds(10000), ClosingStep::GiveUp},
};

// At most this many notifiers are closed in one run (one per user of a desktop
// is the normal case).
inline constexpr std::size_t kMaxClosedNotifiers = 32;

// How many stages of kClosingSchedule are due `elapsed` after the start of
// the close (the first is due at once).
std::size_t ClosingStagesDue(std::chrono::milliseconds elapsed);

// How long after `elapsed` the next stage is due; zero once all are due.
std::chrono::milliseconds UntilNextClosingStage(std::chrono::milliseconds elapsed);

// After an installation has put the files in place, the helper starts the
// notifier again for the installing user (run as that user), or for the user
// of its session (run as LocalSystem). What it knows:
struct NotifierStartFacts {
    bool endedByInstallation;  // this installation's close ended a notifier of the user
    bool running;              // a notifier of the user runs on this desktop now
    bool shellIsOwnUser;       // the desktop's shell runs as the helper's user
    bool elevated;             // the helper's token is elevated (an administrator's full token)
    bool sessionUserToken;     // the helper runs as LocalSystem and holds the token the
                               // session's user logged on with (WTSQueryUserToken)
};

enum class NotifierStart {
    None,              // nothing to start
    ThroughShell,      // a child of the shell: the shell's token, as at logon
    Directly,          // a child of the helper, with its own (unelevated) token
    SessionUserToken,  // with the token of the session's user, as at logon
    LeftToService,     // no token of the user's own to start it with: the filter's
                       // service (or the next logon) starts it; the helper logs that
};

// Starts one only where this installation ended one (a notifier the Restart
// Manager ended is started again by the Restart Manager, and a first
// installation starts none: the logon entry or the filter's service does) and
// none runs now. Only ever with a token the user's own logon made, never
// elevated: through the shell when it is the user's, else with the session
// user's token when the helper runs as LocalSystem, else directly when the
// helper's token is not elevated. An elevated helper with no shell of its
// user starts nothing: a token cut down from its own would keep the elevated
// logon session and groups that UAC's filtered token takes away.
NotifierStart ChooseNotifierStart(const NotifierStartFacts& facts);
