// orlivan-close-notifiers: ends the running notifiers of the user who runs it,
// on the desktop it runs on, so that an installer can replace or remove the
// program without waiting for a restart of the computer. The installer runs
// it (as the installing user) before it touches any file; the filter's
// service runs it in each user's session with that user's token. Which
// windows it closes and the steps it takes are the rules of
// update/notifier_closing.h: end-session messages, then WM_CLOSE, then the
// process is ended; the whole close is bounded.
//
// Exit code: 0 when no notifier of the user runs any more (none found
// included), 1 when one still runs after the last step.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/unique_handle_win.h"
#include "channel/pipe_identity_win.h"
#include "update/notifier_closing.h"

namespace {

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

bool Ended(const Target& target) {
    return ::WaitForSingleObject(target.process.Get(), 0) == WAIT_OBJECT_0;
}

void TakeStep(ClosingStep step, const Target& target) {
    switch (step) {
        case ClosingStep::EndSession: {
            // As the Restart Manager asks: may it close, then close (or, when
            // it said no, that the end is called off). A window that hangs is
            // not waited for; the later steps deal with it.
            DWORD_PTR answer = 0;
            const bool asked =
                ::SendMessageTimeoutW(target.window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP,
                                      SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000, &answer) != 0;
            DWORD_PTR ignored = 0;
            ::SendMessageTimeoutW(target.window, WM_ENDSESSION, asked && answer != FALSE,
                                  ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG | SMTO_BLOCK, 2000,
                                  &ignored);
            break;
        }
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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    Search search;
    search.ownSid = ProcessUserSidString();
    if (search.ownSid.empty()) {
        return 1;
    }
    ::EnumWindows(&ConsiderWindow, reinterpret_cast<LPARAM>(&search));

    const auto start = std::chrono::steady_clock::now();
    for (const ClosingStage& stage : kClosingSchedule) {
        // Wait for the stage's time, or until every notifier has ended.
        std::vector<HANDLE> running;
        for (const Target& target : search.targets) {
            if (!Ended(target)) {
                running.push_back(target.process.Get());
            }
        }
        if (running.empty()) {
            return 0;
        }
        const auto due = start + stage.after;
        const auto now = std::chrono::steady_clock::now();
        if (due > now) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now);
            ::WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE,
                                     static_cast<DWORD>(wait.count()) + 1);
        }
        for (const Target& target : search.targets) {
            if (!Ended(target)) {
                TakeStep(stage.step, target);
            }
        }
    }
    for (const Target& target : search.targets) {
        if (!Ended(target)) {
            return 1;
        }
    }
    return 0;
}
