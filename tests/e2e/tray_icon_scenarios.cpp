// The tray icon's life and the hidden main window: the icon record as the
// notification area receives it, a window that refuses to be shown but still
// moves, the end on WM_CLOSE or IDOK with the icon removed, the end when the
// session ends or an installer closes the program (the end-session messages
// the Restart Manager sends, sent here by the test), and re-adding the icon
// when the shell restarts or was not there yet; the icon's drawing follows
// the taskbar's light or dark theme.
#include <cstdio>

#include "harness.h"

using namespace e2e;

namespace {

// The icon record of the add: exactly the fields the notifier sets.
void CheckIconRecord(const TrayCall& add, const Notifier& notifier) {
    CheckEqual(add.uID, kTrayIconId, "uID");
    CheckEqual(add.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP, "uFlags");
    CheckEqual(add.uCallbackMessage, kTrayMessage, "uCallbackMessage");
    CheckEqual(add.tip, L"Orlivan Filter Notifier", "szTip");
    // The small icon size of the display scale (LoadIconW would give 32 px).
    CheckEqual(add.iconWidth, GetSystemMetrics(SM_CXSMICON), "icon width (SM_CXSMICON)");
    CheckEqual(add.iconHeight, GetSystemMetrics(SM_CYSMICON), "icon height (SM_CYSMICON)");
    CheckEqual(add.processId, notifier.ProcessId(), "process owning hWnd");
}

bool Visible(HWND window) {
    return IsWindowVisible(window) != FALSE;
}

RECT WindowRect(HWND window) {
    RECT rect{};
    Check(GetWindowRect(window, &rect) != FALSE, "GetWindowRect on the main window");
    return rect;
}

std::string Describe(const RECT& rect) {
    char text[96];
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", rect.left, rect.top, rect.right,
                  rect.bottom);
    return text;
}

// Runs a notifier, ends it with end(), and checks the process ended within
// `wait` with exit code 0 and the icon it added was deleted.
template <typename End>
void CheckEndRemovesIcon(const char* how, End end, Millis wait = Millis(10000)) {
    Notifier notifier;
    notifier.Start();
    TrayCall add = notifier.WaitForIcon();
    end(notifier);
    notifier.WaitForExit(wait);
    CheckEqual(notifier.ExitCode(), 0, std::string("exit code after ") + how);
    auto deletes = notifier.TrayCalls(NIM_DELETE);
    if (deletes.empty()) {
        Fail(std::string("after ") + how + " the process ended without NIM_DELETE of its icon");
    }
    CheckEqual(reinterpret_cast<uintptr_t>(deletes.back().hWnd),
               reinterpret_cast<uintptr_t>(add.hWnd), "hWnd of NIM_DELETE");
    CheckEqual(deletes.back().uID, kTrayIconId, "uID of NIM_DELETE");
    auto adds = notifier.TrayCalls(NIM_ADD);
    Check(adds.back().when <= deletes.back().when,
          std::string("no NIM_ADD follows the NIM_DELETE after ") + how);
    Note(std::string(how) + ": process ended, icon deleted");
}

}  // namespace

E2E_SCENARIO(tray_icon_added) {
    ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    TrayCall add = notifier.WaitForIcon();
    CheckIconRecord(add, notifier);
    CheckEqual(WindowClass(add.hWnd), L"#32770", "class of the icon's window (a dialog)");
    CheckEqual(WindowCaption(add.hWnd), L"OrlivanSysTray", "caption of the icon's window");
    // Nothing else goes to the notification area while the program idles.
    Pause(Millis(1500));
    CheckEqual(static_cast<long long>(notifier.TrayCalls(NIM_ADD).size()), 1, "number of NIM_ADD");
    CheckEqual(static_cast<long long>(notifier.TrayCalls(NIM_DELETE).size()), 0,
               "number of NIM_DELETE");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(main_window_stays_hidden) {
    ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    HWND window = notifier.WaitForIcon().hWnd;
    // The dialog's own modal loop shows it once its queue is empty.
    Pause(Millis(1000));
    Check(!Visible(window), "the main window is hidden after start-up");

    ShowWindow(window, SW_SHOW);
    Pause(Millis(300));
    Check(!Visible(window), "the main window stays hidden after ShowWindow(SW_SHOW)");
    ShowWindow(window, SW_SHOWNORMAL);
    Pause(Millis(300));
    Check(!Visible(window), "the main window stays hidden after ShowWindow(SW_SHOWNORMAL)");

    // A move combined with a show request: the move applies, the show does not.
    SetWindowPos(window, nullptr, 37, 41, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    RECT moved{};
    WaitOrFail(
        [&] {
            moved = WindowRect(window);
            return moved.left == 37 && moved.top == 41;
        },
        Millis(3000), "the main window to move to (37,41); it is at " + Describe(moved));
    Check(!Visible(window), "the main window stays hidden after SetWindowPos with SWP_SHOWWINDOW");

    // A resize with a show request: the size applies, the show does not.
    SetWindowPos(window, nullptr, 0, 0, 411, 233,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    RECT resized{};
    WaitOrFail(
        [&] {
            resized = WindowRect(window);
            return resized.right - resized.left == 411 && resized.bottom - resized.top == 233 &&
                   resized.left == 37 && resized.top == 41;
        },
        Millis(3000), "the main window to become 411 x 233 at (37,41); it is " + Describe(resized));
    Pause(Millis(500));
    Check(!Visible(window), "the main window stays hidden after a resize with SWP_SHOWWINDOW");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(close_removes_icon) {
    ArrangeStandardInstall();
    CheckEndRemovesIcon("WM_CLOSE", [](Notifier& notifier) { notifier.PostClose(); });
    CheckEndRemovesIcon("IDOK", [](Notifier& notifier) { notifier.PostCommand(IDOK); });
    CheckEndRemovesIcon("IDCANCEL", [](Notifier& notifier) { notifier.PostCommand(IDCANCEL); });
}

E2E_SCENARIO(end_session_ends_the_program) {
    ArrangeStandardInstall();
    CheckEndRemovesIcon(
        "WM_ENDSESSION with ENDSESSION_CLOSEAPP",
        [](Notifier& notifier) { notifier.SendEndSession(ENDSESSION_CLOSEAPP); }, Millis(5000));
    // At a log-off with the About dialog open: its modal loop would hold up
    // an end through WM_CLOSE until the user closed it.
    StandIn service(L"serve --version 1.2.3");
    service.WaitForOutput("serving");
    CheckEndRemovesIcon(
        "WM_ENDSESSION at a log-off with About open",
        [](Notifier& notifier) {
            notifier.PostCommand(kCmdAbout);
            WaitForProcessWindow(notifier.ProcessId(), L"#32770", L"Orlivan Info", Millis(20000));
            notifier.SendEndSession(ENDSESSION_LOGOFF);
        },
        Millis(5000));
    // Every run's lines are whole (LogLines fails on a line without CR LF).
    const auto lines = LogLines(ReadFileBytes(LogPathFor(ReadVolatileEnvironment(L"USERPROFILE"))));
    Check(lines.size() >= 2, "the log holds the start line of each run");
}

E2E_SCENARIO(taskbar_created_readds_icon) {
    ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    TrayCall first = notifier.WaitForIcon();
    Pause(Millis(500));
    // What a restarted shell broadcasts to every top-level window.
    UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    Check(taskbarCreated != 0, "RegisterWindowMessageW(TaskbarCreated)");
    Check(PostMessageW(HWND_BROADCAST, taskbarCreated, 0, 0) != FALSE,
          "broadcasting TaskbarCreated");
    TrayCall again = notifier.WaitForTrayCall(NIM_ADD, 2, Millis(10000));
    CheckIconRecord(again, notifier);
    CheckEqual(reinterpret_cast<uintptr_t>(again.hWnd), reinterpret_cast<uintptr_t>(first.hWnd),
               "hWnd of the second NIM_ADD");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(failed_add_is_retried) {
    ArrangeStandardInstall();
    // The shell is not ready when the program starts: the first add fails.
    Tray().RefuseAdds(1);
    Notifier notifier;
    notifier.Start();
    TrayCall refused = notifier.WaitForIcon(Millis(20000));
    Check(!refused.answered, "the first NIM_ADD was refused");
    TrayCall retried = notifier.WaitForTrayCall(NIM_ADD, 2, Millis(30000));
    CheckIconRecord(retried, notifier);
    auto interval = std::chrono::duration_cast<Millis>(retried.when - refused.when);
    Note("the add was retried after " + std::to_string(interval.count()) + " ms");
    Check(interval >= Millis(100), "the retry waits (a timer, not a busy loop)");
    // Once added, the retrying stops.
    Pause(std::min(interval * 2 + Millis(1000), Millis(30000)));
    CheckEqual(static_cast<long long>(notifier.TrayCalls(NIM_ADD).size()), 2,
               "number of NIM_ADD after the successful retry");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(tray_icon_follows_taskbar_theme) {
    ArrangeStandardInstall();
    // No setting: Windows 10 before the light taskbar, whose taskbar is dark.
    const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"SystemUsesLightTheme");
    Notifier notifier;
    notifier.Start();
    const TrayCall add = notifier.WaitForIcon();
    std::vector<std::string> bits{add.iconBits};
    for (DWORD light : {1, 0}) {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"SystemUsesLightTheme", REG_DWORD, &light, 4);
        // Sent as Windows sends it, to every window; the system copies the text.
        DWORD_PTR result = 0;
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"ImmersiveColorSet"), SMTO_ABORTIFHUNG, 5000,
                            &result);
        const TrayCall change = notifier.WaitForTrayCall(NIM_MODIFY, bits.size(), Millis(10000));
        CheckEqual(change.uFlags, NIF_ICON, "uFlags of the icon's change");
        bits.push_back(change.iconBits);
    }
    Check(!bits[0].empty() && bits[1] != bits[0],
          "the light taskbar's icon differs from the dark's");
    Check(bits[2] == bits[0], "a dark taskbar brings back the icon the notifier started with");
}
