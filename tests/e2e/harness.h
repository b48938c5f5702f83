// Shared machinery of the end-to-end driver: it plays the notification area
// (a Shell_TrayWnd window that decodes every Shell_NotifyIconW call), starts
// the real notifier, arranges the prefix (registry values, settings program,
// URL handler), reads what the recorder program wrote, and finds and drives
// the notifier's windows. Every wait is bounded; a failed check throws
// ScenarioFailure, which ends the scenario with its message.
//
// Adding a scenario: write E2E_SCENARIO(name) { ... } in a *_scenarios.cpp
// file of this folder; the build turns each into the ctest entry e2e.name,
// run by run_scenario.sh in a fresh prefix. A scenario arranges the prefix
// (ArrangeStandardInstall or the single steps), starts a Notifier, waits for
// its icon, acts (tray events, commands, keys, buttons) and checks what it
// observes: tray calls, recorded program starts, windows, the log file.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace e2e {

using Millis = std::chrono::milliseconds;

// ---------------------------------------------------------------- outcome

struct ScenarioFailure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message);
void Check(bool condition, const std::string& what);
// Fails with "expected <what> = <expected>, got <actual>" when they differ.
void CheckEqual(const std::wstring& actual, const std::wstring& expected, const std::string& what);
void CheckEqual(long long actual, long long expected, const std::string& what);
// Progress line on standard output, so a failing run shows how far it got.
void Note(const std::string& message);

// ---------------------------------------------------------------- text

std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
std::string Hex(unsigned long long value);
// Case-insensitive path comparison that ignores one trailing backslash.
bool SamePath(const std::wstring& a, const std::wstring& b);

// ---------------------------------------------------------------- waiting

// Polls predicate every 50 ms until it holds or timeout passes; returns
// whether it held.
bool WaitFor(const std::function<bool()>& predicate, Millis timeout);
// As WaitFor, but a time-out fails the scenario naming what was awaited.
void WaitOrFail(const std::function<bool()>& predicate, Millis timeout, const std::string& what);
void Pause(Millis duration);

// ---------------------------------------------------------------- tray calls

// One Shell_NotifyIconW call as the notification area received it.
struct TrayCall {
    DWORD message = 0;  // NIM_ADD, NIM_MODIFY, NIM_DELETE, NIM_SETVERSION
    HWND hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    std::wstring tip;
    DWORD state = 0;
    DWORD stateMask = 0;
    std::wstring info;
    UINT timeoutOrVersion = 0;
    std::wstring infoTitle;
    DWORD infoFlags = 0;
    UINT iconWidth = 0;
    UINT iconHeight = 0;
    UINT iconBitsPerPixel = 0;
    std::string iconBits;  // the icon's mask and colour bits as sent
    DWORD processId = 0;   // owner of hWnd when the call arrived
    BOOL answered = TRUE;  // what the notification area returned
    std::chrono::steady_clock::time_point when;
};

std::string Describe(const TrayCall& call);

// The notification area: a topmost Shell_TrayWnd window owned by the driver's
// main thread, which Shell_NotifyIconW of every process in the prefix finds.
class FakeTray {
public:
    // Main thread only: waits for the desktop's own tray window, then
    // creates this one above it and checks that it is the one found.
    void Create();

    std::vector<TrayCall> Calls() const;
    // Calls of one kind for the windows of one process, in order of arrival.
    std::vector<TrayCall> CallsFrom(DWORD processId, DWORD message) const;
    // Waits until at least count such calls arrived; returns the count-th
    // (1-based).
    TrayCall WaitForCall(DWORD processId, DWORD message, std::size_t count, Millis timeout) const;
    // The next n NIM_ADD calls are answered FALSE, as when no shell runs yet.
    void RefuseAdds(int n);
    // Whether NIM_SETVERSION is answered TRUE, as by a shell that sends the
    // events of NOTIFYICON_VERSION_4. By default it is refused, as by a shell
    // that knows only version 0, which every scenario's PostTrayEvent plays.
    void AcceptVersions(bool accept);

    LRESULT OnCopyData(HWND from, const COPYDATASTRUCT* data);

private:
    HWND m_window = nullptr;
};

FakeTray& Tray();

// ---------------------------------------------------------------- prefix

// Folders and files the runner handed over (see driver command line).
struct Setup {
    std::wstring notifier;  // OrlivanSysTray.exe to run
    std::wstring recorder;  // recorder program
    std::wstring records;   // where recorder runs leave their files
    std::wstring work;      // the notifier's current folder
};

const Setup& TheSetup();
void SetSetup(const Setup& setup);

// Creates a folder and its missing parents.
void MakeFolders(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// Whole file as bytes; fails the scenario when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// Registry values the notifier reads.
void SetInstallPath(const std::wstring& folder);
void RemoveInstallKey();
std::wstring ReadVolatileEnvironment(const std::wstring& name);
void SetVolatileEnvironment(const std::wstring& name, const std::wstring& value);
void SetProfileFolder(const std::wstring& folder);
// The display's DPI for programs started from now on (Wine reads it at each
// process start, as Windows does at logon).
void SetDisplayDpi(DWORD dpi);
// Wine draws frames and captions itself (no window manager runs on the test
// display), so screenshots show them.
void DrawWindowFrames();

// Copies the recorder to folder + "User Interface Files\OrlivanUi.exe" (the
// folder ends with a backslash) and returns that path.
std::wstring PlaceSettingsProgram(const std::wstring& installFolder);
// Makes the recorder the prefix's handler of https addresses.
void RegisterUrlHandler();
// The usual arrangement: install folder in the registry, settings program in
// it, recorder as URL handler. Returns the settings program's path.
std::wstring ArrangeStandardInstall();
extern const wchar_t* const kStandardInstallFolder;

// ---------------------------------------------------------------- recorder

// What one run of the recorder program wrote.
struct Record {
    std::wstring file;
    std::wstring module;
    std::wstring currentFolder;
    std::wstring commandLine;
    std::vector<std::wstring> arguments;  // after the program name
};

std::string Describe(const Record& record);
std::vector<Record> ReadRecords();
// Waits until at least count records exist; returns them in order of writing.
std::vector<Record> WaitForRecords(std::size_t count, Millis timeout);
// Lets settle pass and fails if the number of records is no longer count.
void ExpectRecordCountStays(std::size_t count, Millis settle, const std::string& after);

// ---------------------------------------------------------------- notifier

constexpr UINT kTrayMessage = WM_USER + 100;
constexpr UINT kTrayIconId = 4001;
constexpr UINT kCmdSettings = 32773;
constexpr UINT kCmdCheckUpdate = 32771;
constexpr UINT kCmdOnlineHelp = 32772;
constexpr UINT kCmdReportProblem = 32774;
constexpr UINT kCmdAbout = 32775;

// One run of OrlivanSysTray.exe. Ended by force when the object goes away
// while it still runs, so no scenario leaves one behind.
class Notifier {
public:
    Notifier() = default;
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;
    ~Notifier();

    // Starts the program with the work folder as its current folder.
    void Start();
    // Starts it as the shell starts a logon (Run) entry: from the whole
    // command line, with no separate program name.
    void StartCommandLine(const std::wstring& commandLine);
    // Takes on a notifier another program started (an installer), by its
    // process id, as if this object had started it.
    void Attach(DWORD processId);
    // Waits for this process's NIM_ADD and returns it; remembers its hWnd.
    TrayCall WaitForIcon(Millis timeout = Millis(20000));
    HWND Window() const { return m_window; }
    std::vector<TrayCall> TrayCalls(DWORD message) const;
    TrayCall WaitForTrayCall(DWORD message, std::size_t count, Millis timeout) const;
    DWORD ProcessId() const { return m_processId; }
    bool Running() const;
    // Waits for the process to end; fails on time-out.
    void WaitForExit(Millis timeout);
    // The exit code of the ended process.
    DWORD ExitCode() const;

    // A tray callback as the notification area posts it.
    void PostTrayEvent(UINT mouseMessage) const;
    // A tray callback in the layout of NOTIFYICON_VERSION_4: the event and
    // the icon's ID in lParam, the icon's anchor point in wParam.
    void PostTrayEvent4(UINT event, POINT anchor) const;
    // A menu command as TrackPopupMenu delivers it (posted, never sent).
    void PostCommand(UINT id) const;
    void PostClose() const;
    // What Windows sends when the session ends (and the Restart Manager when
    // an installer closes the program): WM_QUERYENDSESSION, which must be
    // answered yes, then WM_ENDSESSION, inside which the process may end.
    void SendEndSession(LPARAM reason) const;

private:
    void Launch(const wchar_t* program, std::wstring commandLine);

    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    HWND m_window = nullptr;
};

// Ends every notifier still running (the driver's last resort on time-out).
void EndStartedProcesses();

// Starts a helper program (`program` quoted, then `arguments`) and returns its
// process handle, which the caller closes; fails the scenario when it can't.
HANDLE StartProgram(const std::wstring& program, const std::wstring& arguments);

// ---------------------------------------------------------------- stand-in

// Where the runner placed the service stand-in in every prefix.
extern const wchar_t* const kStandInPath;

// One run of the service stand-in, e.g. StandIn(L"serve --version 1.2.3") or
// StandIn(L"send new-update"). Its output goes to a numbered file in
// C:\e2e\stand-in (named in the driver's log). Ended by force when the object goes
// away while it still runs.
class StandIn {
public:
    explicit StandIn(const std::wstring& arguments);
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;
    ~StandIn();

    bool Running() const;
    // Waits for the run to end and returns its exit code; fails on time-out.
    DWORD WaitForExit(Millis timeout);
    // Ends the run by force (a stopped service) and waits until it is gone.
    void Stop();
    // What the run wrote to its standard output and error so far, lines
    // ending in a line feed.
    std::string Output() const;
    // Waits until the output holds text (e.g. "serving" once a serve run
    // listens); fails on time-out.
    void WaitForOutput(const std::string& text, Millis timeout = Millis(10000)) const;

private:
    HANDLE m_process = nullptr;
    std::wstring m_outputFile;
};

// Runs the stand-in to its end and fails unless it exits with 0 in time.
void RunStandIn(const std::wstring& arguments, Millis timeout = Millis(20000));

// ---------------------------------------------------------------- windows

// A visible top-level window of the class (and caption, when given) that
// belongs to the process; null when there is none.
HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* caption);
// How many visible top-level windows of the process match (null matches any).
int CountProcessWindows(DWORD processId, const wchar_t* className, const wchar_t* caption);
HWND WaitForProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* caption,
                          Millis timeout);
void WaitForWindowGone(HWND window, Millis timeout, const std::string& what);
std::wstring WindowClass(HWND window);
std::wstring WindowCaption(HWND window);
// Whether the window stays above all non-topmost windows (WS_EX_TOPMOST).
bool IsTopmost(HWND window);
// Text of a control of a dialog in another process (message box text is 0xFFFF).
std::wstring ControlText(HWND dialog, int controlId);
// Presses a push button of a dialog in another process.
void ClickButton(HWND dialog, int controlId);
// Posts key presses (down and up) to a window, one after the other.
void PostKeys(HWND window, std::initializer_list<UINT> virtualKeys);

// ---------------------------------------------------------------- screen

// A picture of the display, taken by the runner (run_scenario.sh) and kept in
// the test logs as <name>.png under the scenario's folder: the whole display,
// or the part `area` names as an X geometry ("640x480+10+20"). Fails when
// none comes within 20 s.
void Screenshot(const std::string& name, const std::string& area = "");
// A screenshot of one window once it is drawn.
void Photograph(HWND window, const std::string& name);
// Starts e2e_dialog_viewer (beside the driver) on dialog template `id`; it
// writes its measurements to the returned `result` file, named after `name`.
HANDLE StartDialogViewer(int id, const std::string& name, const std::wstring& mode,
                         std::wstring& result);

// ---------------------------------------------------------------- log

// Profile folder + "\OrlivanLog\OrlivanSysTray.log".
std::wstring LogPathFor(const std::wstring& profileFolder);
// Splits the log into lines; fails unless every line ends with CR LF.
std::vector<std::string> LogLines(const std::string& bytes);
// Reads the 24-character time stamp at the start of a line in the layout
// "Mon Dec  7 09:05:03 2026" (day blank-padded); fails on any deviation.
SYSTEMTIME ParseStamp(const std::string& line);
// Seconds since 1601 of a SYSTEMTIME, for ordering stamps.
long long SecondsOf(const SYSTEMTIME& time);
SYSTEMTIME LocalNow();

// ---------------------------------------------------------------- scenarios

using ScenarioFunction = void (*)();

struct Scenario {
    const char* name;
    ScenarioFunction run;
};

std::vector<Scenario>& Scenarios();

struct ScenarioRegistration {
    ScenarioRegistration(const char* name, ScenarioFunction run);
};

}  // namespace e2e

// Defines a scenario the driver can run by name.
#define E2E_SCENARIO(name)                                                      \
    static void name();                                                         \
    static const ::e2e::ScenarioRegistration name##_registration(#name, &name); \
    static void name()
