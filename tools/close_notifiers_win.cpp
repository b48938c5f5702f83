// orlivan-close-notifiers: ends the running notifiers of the user who runs it,
// on the desktop it runs on, so that an installer can replace or remove the
// program without waiting for a restart of the computer, and starts the
// notifier again once the installer is done. The installer runs it (as the
// installing user) before it touches any file and again after it has finished;
// the filter's service runs it in each user's session with that user's token.
// Run as LocalSystem (a deployment service's installation), it acts for the
// user of its session.
// Which windows it closes, the steps it takes and how it starts the notifier
// again are the rules of update/notifier_closing.h.
//
//   orlivan-close-notifiers                 end the user's notifiers (end-session
//                                           messages, then WM_CLOSE, then the
//                                           process is ended; bounded by 10 s)
//   orlivan-close-notifiers --installer     the same, and remember for this
//                                           logon session when one was ended
//   orlivan-close-notifiers --uninstall     the same as with no option: an
//                                           uninstall starts nothing again, so
//                                           it keeps no record of what it ended
//   orlivan-close-notifiers --start-again PROGRAM
//                                           start PROGRAM (the installed
//                                           notifier) when the --installer run
//                                           ended one, with the user's own
//                                           unelevated token; forget it
//
// Exit code: 0 when no notifier of the user runs any more (none found
// included), or when the notifier was started again or had not to be; 1 when
// one still runs after the last step, or the start failed.
#include <windows.h>

#include <shellapi.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/unique_handle_win.h"
#include "channel/channel_access.h"
#include "channel/pipe_identity_win.h"
#include "locations/paths.h"
#include "log/logger.h"
#include "update/notifier_closing.h"

namespace {

// Where the --installer run leaves its finding for the --start-again run of the
// same installation: a volatile key of the user's own hive, so a finding that
// an installation which failed half-way left behind ends with the logon
// session.
constexpr wchar_t kVendorKey[] = L"Software\\Orlivan";
constexpr wchar_t kRecordSubkey[] = L"Installer";
constexpr wchar_t kRecordKey[] = L"Software\\Orlivan\\Installer";
constexpr wchar_t kRecordValue[] = L"Notifier ended";

std::string Utf8(const wchar_t* text, size_t length) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

std::string ProcessUserSid(HANDLE process) {
    UniqueHandle token;
    if (!::OpenProcessToken(process, TOKEN_QUERY, token.Put())) {
        return std::string();
    }
    return TokenUserSidString(token.Get());
}

std::string ProcessProgramPath(HANDLE process) {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process, 0, path, &length)) {
        return std::string();
    }
    return Utf8(path, length);
}

struct Target {
    HWND window;
    UniqueHandle process;
};

struct Search {
    std::string ownSid;
    std::vector<Target> targets;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    if (search->targets.size() >= kMaxClosedNotifiers) {
        return FALSE;
    }
    wchar_t className[64] = {};
    wchar_t caption[64] = {};
    const int classLength = ::GetClassNameW(window, className, 64);
    // The caption Windows keeps for the window; no message reaches its owner.
    const int captionLength = ::InternalGetWindowText(window, caption, 64);
    NotifierWindowFacts facts;
    facts.className = Utf8(className, static_cast<size_t>(std::max(classLength, 0)));
    facts.caption = Utf8(caption, static_cast<size_t>(std::max(captionLength, 0)));
    if (facts.className != kNotifierWindowClass || facts.caption != kNotifierWindowCaption) {
        return TRUE;  // not worth opening the process
    }
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    UniqueHandle process(::OpenProcess(
        PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
    if (!process) {
        return TRUE;  // a process this user may not open is not this user's
    }
    facts.programPath = ProcessProgramPath(process.Get());
    facts.ownerSid = ProcessUserSid(process.Get());
    if (JudgeNotifierWindow(facts, search->ownSid) == ClosingVerdict::Close) {
        search->targets.push_back(Target{window, std::move(process)});
    }
    return TRUE;
}

// The user's notifiers on this desktop; empty when the user is unknown.
std::vector<Target> FindOwnNotifiers(const std::string& ownSid) {
    Search search;
    search.ownSid = ownSid;
    if (!ownSid.empty()) {
        ::EnumWindows(&ConsiderWindow, reinterpret_cast<LPARAM>(&search));
    }
    return std::move(search.targets);
}

bool Ended(const Target& target) {
    return ::WaitForSingleObject(target.process.Get(), 0) == WAIT_OBJECT_0;
}

// A window's answer to WM_QUERYENDSESSION, which arrives while the helper
// pumps messages: WM_ENDSESSION follows with that answer, as the Restart
// Manager sends it, again without waiting for the window.
void CALLBACK OnEndSessionAnswer(HWND window, UINT, ULONG_PTR, LRESULT answer) {
    ::SendNotifyMessageW(window, WM_ENDSESSION, answer != FALSE, ENDSESSION_CLOSEAPP);
}

// Every step returns at once, whatever the window does: a hung window costs
// no time of the others.
void TakeStep(ClosingStep step, const Target& target) {
    switch (step) {
        case ClosingStep::EndSession:
            ::SendMessageCallbackW(target.window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                   &OnEndSessionAnswer, 0);
            break;
        case ClosingStep::Close:
            ::PostMessageW(target.window, WM_CLOSE, 0, 0);
            break;
        case ClosingStep::Terminate:
            ::TerminateProcess(target.process.Get(), 1);
            break;
        case ClosingStep::GiveUp:
            break;
    }
}

// Handles the messages waiting for this thread (the windows' answers).
void PumpMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::DispatchMessageW(&message);
    }
}

// Ends the targets by the schedule; returns whether none runs any more.
bool CloseAll(const std::vector<Target>& targets) {
    using std::chrono::milliseconds;
    const auto start = std::chrono::steady_clock::now();
    std::size_t taken = 0;
    for (;;) {
        std::vector<HANDLE> running;
        for (const Target& target : targets) {
            if (!Ended(target)) {
                running.push_back(target.process.Get());
            }
        }
        if (running.empty()) {
            return true;
        }
        const auto elapsed =
            std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
        for (const std::size_t due = ClosingStagesDue(elapsed); taken < due; ++taken) {
            const ClosingStep step = kClosingSchedule[taken].step;
            if (step == ClosingStep::GiveUp) {
                return false;
            }
            for (const Target& target : targets) {
                if (!Ended(target)) {
                    TakeStep(step, target);
                }
            }
        }
        // Until the next stage or a notifier's end; at least every 50 ms the
        // windows' answers are handled (whether an answer's arrival wakes the
        // wait is not documented).
        const milliseconds wait = std::min(UntilNextClosingStage(elapsed), milliseconds(50));
        ::MsgWaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), FALSE,
                                    static_cast<DWORD>(wait.count()) + 1, QS_ALLINPUT);
        PumpMessages();
    }
}

// Only ever set, never cleared here: the uninstall of an earlier release
// that an upgrade runs may run this helper again (Wine does not tell it
// apart, UPGRADINGPRODUCTCODE unset) and finds nothing left to end.
bool RecordEnd() {
    UniqueRegKey user;
    if (::RegOpenCurrentUser(KEY_CREATE_SUB_KEY, user.Put()) != ERROR_SUCCESS) {
        return false;
    }
    // The vendor's key stays as any key of the user's settings (a volatile
    // key would take every later key under it with it); the record's own
    // key is volatile.
    UniqueRegKey vendor;
    UniqueRegKey key;
    const DWORD one = 1;
    return ::RegCreateKeyExW(user.Get(), kVendorKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_CREATE_SUB_KEY, nullptr, vendor.Put(), nullptr) == ERROR_SUCCESS &&
           ::RegCreateKeyExW(vendor.Get(), kRecordSubkey, 0, nullptr, REG_OPTION_VOLATILE,
                             KEY_SET_VALUE, nullptr, key.Put(), nullptr) == ERROR_SUCCESS &&
           ::RegSetValueExW(key.Get(), kRecordValue, 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
}

// Reads and forgets what the --installer run recorded.
bool TakeRecordedEnd() {
    UniqueRegKey user;
    if (::RegOpenCurrentUser(KEY_READ | KEY_WRITE, user.Put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    const bool ended = ::RegGetValueW(user.Get(), kRecordKey, kRecordValue, RRF_RT_REG_DWORD,
                                      nullptr, &value, &size) == ERROR_SUCCESS &&
                       value == 1;
    ::RegDeleteKeyW(user.Get(), kRecordKey);
    return ended;
}

bool OwnTokenElevated() {
    UniqueHandle token;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()) &&
           ::GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation,
                                 &size) &&
           elevation.TokenIsElevated != 0;
}

// The process of this desktop's shell when it runs as the user `ownSid`,
// opened so that it can be made the parent of a new process.
UniqueHandle OwnShellProcess(const std::string& ownSid) {
    const HWND shell = ::GetShellWindow();
    DWORD processId = 0;
    if (shell == nullptr || ::GetWindowThreadProcessId(shell, &processId) == 0) {
        return UniqueHandle();
    }
    UniqueHandle process(::OpenProcess(PROCESS_CREATE_PROCESS | PROCESS_QUERY_LIMITED_INFORMATION,
                                       FALSE, processId));
    if (!process || ProcessUserSid(process.Get()) != ownSid) {
        return UniqueHandle();
    }
    return process;
}

// Starts `program` with no arguments, as the logon entry does, in the system
// folder (never the install folder, which an uninstall must be able to
// remove), with the user's own environment. With `parent`, the new process
// is the shell's child and takes the shell's token (and job), not the
// helper's; with `token`, it runs with that token.
bool StartNotifier(const std::wstring& program, HANDLE parent, HANDLE token) {
    wchar_t folder[MAX_PATH] = {};
    const UINT folderLength = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) {
        return false;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    // With the session user's token the process goes to that user's session:
    // onto its interactive desktop, not the helper's (session 0's).
    wchar_t desktop[] = L"winsta0\\default";
    if (token != nullptr) {
        startup.StartupInfo.lpDesktop = desktop;
    }
    DWORD flags = 0;
    std::vector<char> attributes;
    if (parent != nullptr) {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            return false;
        }
        if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent,
                                         sizeof parent, nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(list);
            return false;
        }
        startup.lpAttributeList = list;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    void* environment = nullptr;
    UniqueHandle own;
    if ((token != nullptr ||
         ::OpenProcessToken(::GetCurrentProcess(),
                            TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, own.Put())) &&
        ::CreateEnvironmentBlock(&environment, token != nullptr ? token : own.Get(), FALSE)) {
        flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    std::wstring commandLine = L"\"" + program + L"\"";
    PROCESS_INFORMATION info{};
    auto create = [&](DWORD creationFlags) {
        return token != nullptr
                   ? ::CreateProcessAsUserW(token, program.c_str(), commandLine.data(), nullptr,
                                            nullptr, FALSE, creationFlags, environment, folder,
                                            &startup.StartupInfo, &info) != FALSE
                   : ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                      creationFlags, environment, folder, &startup.StartupInfo,
                                      &info) != FALSE;
    };
    // A child of the helper leaves a job the installer may run its actions
    // in (and end with them) where the job allows it; the shell's child is in
    // the shell's job already.
    const bool started =
        (parent == nullptr && create(flags | CREATE_BREAKAWAY_FROM_JOB)) || create(flags);
    if (started) {
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    if (environment != nullptr) {
        ::DestroyEnvironmentBlock(environment);
    }
    if (startup.lpAttributeList != nullptr) {
        ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    }
    return started;
}

// The profile folder of the user `token` belongs to; empty when unknown.
std::string ProfileFolder(HANDLE token) {
    wchar_t folder[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (!::GetUserProfileDirectoryW(token, folder, &length) || length == 0) {
        return std::string();
    }
    return Utf8(folder, wcsnlen(folder, MAX_PATH * 2));
}

// Starts the notifier again where the rule says so. `sessionUser`: the
// session user's token where the helper runs as LocalSystem (it then acts as
// that user until the record is read), else null.
int StartAgain(const std::wstring& program, const std::string& ownSid, HANDLE sessionUser) {
    NotifierStartFacts facts{};
    facts.endedByInstallation = TakeRecordedEnd();
    facts.running = !FindOwnNotifiers(ownSid).empty();
    const UniqueHandle shell = OwnShellProcess(ownSid);
    facts.shellIsOwnUser = static_cast<bool>(shell);
    facts.elevated = OwnTokenElevated();
    facts.sessionUserToken = sessionUser != nullptr;
    // Processes are created as ourselves (CreateProcessAsUser checks the
    // caller's privileges against the token it acts with).
    if (sessionUser != nullptr && !::RevertToSelf()) {
        ::ExitProcess(1);
    }
    switch (ChooseNotifierStart(facts)) {
        case NotifierStart::None:
            return 0;
        case NotifierStart::ThroughShell:
            return StartNotifier(program, shell.Get(), nullptr) ? 0 : 1;
        case NotifierStart::Directly:
            return StartNotifier(program, nullptr, nullptr) ? 0 : 1;
        case NotifierStart::SessionUserToken:
            return StartNotifier(program, nullptr, sessionUser) ? 0 : 1;
        case NotifierStart::LeftToService: {
            UniqueHandle own;
            if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.Put())) {
                const std::string profile = ProfileFolder(own.Get());
                CLogger log(profile.empty() ? std::string() : LogFilePath(profile));
                if (log.IsOpen()) {
                    log.LogLine(1,
                                "Installer: the notifier is not started again: the helper runs "
                                "elevated and the desktop's shell is not the user's; the "
                                "filter's service or the next logon starts it\n");
                }
            }
            return 0;
        }
    }
    return 1;
}

// Where the helper runs as LocalSystem (an installation by a deployment
// service): the token the user of the helper's session (else of the
// console) logged on with, which is the one the user's shell runs with, not
// an elevated one. Null when the helper runs as anyone else, or no user is
// logged on there.
UniqueHandle SessionUserToken(const std::string& ownSid) {
    if (!SameSid(ownSid, kLocalSystemSid)) {
        return UniqueHandle();
    }
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session) || session == 0) {
        session = ::WTSGetActiveConsoleSessionId();
    }
    UniqueHandle token;
    if (session == 0xFFFFFFFF || !::WTSQueryUserToken(session, token.Put())) {
        return UniqueHandle();
    }
    return token;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    int count = 0;
    UniqueLocal<LPWSTR*> arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
    const std::wstring mode = arguments && count > 1 ? arguments.Get()[1] : L"";
    std::string ownSid = ProcessUserSidString();
    // As LocalSystem the helper acts for the user of its session: it finds
    // that user's notifiers, and reads and writes the record in that user's
    // hive while acting as the user (RegOpenCurrentUser follows the thread's
    // token).
    const UniqueHandle sessionUser = SessionUserToken(ownSid);
    if (sessionUser) {
        ownSid = TokenUserSidString(sessionUser.Get());
        if (ownSid.empty() || !::ImpersonateLoggedOnUser(sessionUser.Get())) {
            return 1;
        }
    }
    if (ownSid.empty()) {
        return 1;
    }
    if (mode == L"--start-again") {
        return count == 3 ? StartAgain(arguments.Get()[2], ownSid, sessionUser.Get()) : 1;
    }
    if (!(count == 1 || (count == 2 && (mode == L"--installer" || mode == L"--uninstall")))) {
        return 1;
    }
    const std::vector<Target> targets = FindOwnNotifiers(ownSid);
    const bool allEnded = CloseAll(targets);
    if (mode == L"--installer" && !targets.empty()) {
        RecordEnd();
    }
    return allEnded ? 0 : 1;
}
