// The log file in the user's profile: its start line, appending across
// starts, and profile folders whose names are not ASCII.
#include "harness.h"

using namespace e2e;

namespace {

constexpr char kStartMessage[] = "Orlivan Sys Tray Log";

// A start line: time stamp within [earliest, latest], one blank, the message.
void CheckStartLine(const std::string& line, const SYSTEMTIME& earliest, const SYSTEMTIME& latest) {
    SYSTEMTIME stamp = ParseStamp(line);
    long long at = SecondsOf(stamp);
    Check(at >= SecondsOf(earliest) - 1 && at <= SecondsOf(latest) + 1,
          "the time stamp of \"" + line + "\" is the local time of the start");
    CheckEqual(FromUtf8(line.substr(24)), FromUtf8(std::string(" ") + kStartMessage),
               "text after the time stamp");
}

// Starts the notifier, waits until it runs (icon added), ends it; returns
// the times around the start.
std::pair<SYSTEMTIME, SYSTEMTIME> RunOnce() {
    SYSTEMTIME before = LocalNow();
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    SYSTEMTIME after = LocalNow();
    notifier.PostClose();
    notifier.WaitForExit(Millis(10000));
    return {before, after};
}

// The log of a profile folder holds exactly one well-formed start line.
void CheckLogOfOneStart(const std::wstring& profile) {
    std::wstring log = LogPathFor(profile);
    Check(!FileExists(log), "no log exists before the start: " + Utf8(log));
    auto [before, after] = RunOnce();
    Check(FileExists(log), "the log file exists: " + Utf8(log));
    auto lines = LogLines(ReadFileBytes(log));
    CheckEqual(static_cast<long long>(lines.size()), 1, "number of log lines");
    CheckStartLine(lines[0], before, after);
    Note("log " + Utf8(log) + ": \"" + lines[0] + "\"");
}

}  // namespace

E2E_SCENARIO(log_start_line_and_append) {
    ArrangeStandardInstall();
    std::wstring profile = ReadVolatileEnvironment(L"USERPROFILE");
    std::wstring user = ReadVolatileEnvironment(L"USERNAME");
    Check(!user.empty(), "the prefix has a USERNAME");
    Note("profile folder " + Utf8(profile) + ", user " + Utf8(user));
    Check(!FolderExists(profile + L"\\OrlivanLog"), "the log folder does not exist yet");
    CheckLogOfOneStart(profile);

    // A second start appends its line and leaves the first as it was.
    std::string firstBytes = ReadFileBytes(LogPathFor(profile));
    Pause(Millis(1100));
    auto [before, after] = RunOnce();
    std::string bytes = ReadFileBytes(LogPathFor(profile));
    Check(bytes.compare(0, firstBytes.size(), firstBytes) == 0,
          "the second start keeps the first start's text unchanged");
    auto lines = LogLines(bytes);
    CheckEqual(static_cast<long long>(lines.size()), 2, "number of log lines after two starts");
    CheckStartLine(lines[1], before, after);
    Check(SecondsOf(ParseStamp(lines[1])) > SecondsOf(ParseStamp(lines[0])),
          "the second start's stamp is later than the first's");
}

E2E_SCENARIO(non_ascii_profile_folder) {
    ArrangeStandardInstall();
    // A Latin-1 letter, which the ANSI code page might still map back.
    const std::wstring latin = L"C:\\users\\Zo\u00eb";
    MakeFolders(latin);
    SetProfileFolder(latin);
    CheckLogOfOneStart(latin);

    // Letters beyond Latin-1, which keeping the low byte would turn into
    // other letters ("Aucja").
    const std::wstring beyond = L"C:\\users\\\u0141ucja \u03a9";
    MakeFolders(beyond);
    SetProfileFolder(beyond);
    CheckLogOfOneStart(beyond);
    Check(!FolderExists(L"C:\\users\\Aucja \xA9"), "no folder with mangled letters was created");
    Check(LogLines(ReadFileBytes(LogPathFor(latin))).size() == 1,
          "the second start wrote to its own profile's log only");
}
