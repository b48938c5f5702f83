// Start-up to the tray icon of the Windows notifier against the minimal tray
// program with the same manifest (minimal_tray_win), in alternation in one
// run: this program plays the notification area (a topmost Shell_TrayWnd that
// takes every Shell_NotifyIconW call) and times each start from CreateProcess
// to the program's NIM_ADD, then closes the program with WM_CLOSE.
//
//   win_start_bench NOTIFIER MINIMAL_TRAY [RUNS]
//
// Prints the median and the fastest of RUNS starts of each (after one start of
// each that is not counted) and the ratio of the medians. Figures only.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The first fields of the record Wine's Shell_NotifyIconW hands to the
// notification area in WM_COPYDATA (dwData is the NIM_ message).
struct NotifyDataHead {
    LONG hWnd;
    UINT uID;
};

DWORD g_awaitedProcess = 0;
HWND g_addedWindow = nullptr;
Clock::time_point g_addedAt;

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data != nullptr && data->dwData == NIM_ADD && data->lpData != nullptr &&
            data->cbData >= sizeof(NotifyDataHead)) {
            NotifyDataHead head;
            std::memcpy(&head, data->lpData, sizeof head);
            HWND added =
                reinterpret_cast<HWND>(static_cast<ULONG_PTR>(static_cast<ULONG>(head.hWnd)));
            DWORD process = 0;
            ::GetWindowThreadProcessId(added, &process);
            if (process == g_awaitedProcess && g_addedWindow == nullptr) {
                g_addedAt = Clock::now();
                g_addedWindow = added;
            }
        }
        return TRUE;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// Answers sent messages (the tray calls) until `done` holds or the time is up.
template <typename Done>
bool PumpUntil(Done done, HANDLE handle, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    while (!done()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        ::MsgWaitForMultipleObjects(handle ? 1 : 0, handle ? &handle : nullptr, FALSE,
                                    static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)),
                                    QS_ALLINPUT);
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::DispatchMessageW(&message);
        }
    }
    return true;
}

// One start to the icon, in milliseconds; negative when it failed.
double StartOnce(const std::wstring& program) {
    std::wstring command = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    g_addedWindow = nullptr;
    const Clock::time_point started = Clock::now();
    if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", program.c_str(), ::GetLastError());
        return -1;
    }
    g_awaitedProcess = process.dwProcessId;
    const bool added = PumpUntil([] { return g_addedWindow != nullptr; }, nullptr, 60000);
    const double ms = std::chrono::duration<double, std::milli>(g_addedAt - started).count();
    if (added) {
        ::PostMessageW(g_addedWindow, WM_CLOSE, 0, 0);
    }
    bool ended = false;
    PumpUntil([&] { return ended = ::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; },
              process.hProcess, 20000);
    if (!ended) {
        std::fprintf(stderr, "%ls did not end on WM_CLOSE\n", program.c_str());
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, 5000);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    if (!added) {
        std::fprintf(stderr, "%ls added no tray icon within 60 s\n", program.c_str());
        return -1;
    }
    return ms;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: win_start_bench NOTIFIER MINIMAL_TRAY [RUNS]\n");
        return 2;
    }
    const std::wstring programs[2] = {argv[1], argv[2]};
    const int runs = argc > 3 ? std::max(1, _wtoi(argv[3])) : 10;

    // The desktop's explorer owns a Shell_TrayWnd of its own; Shell_NotifyIconW
    // takes the one highest in z-order, so this one comes after it, on top.
    PumpUntil([] { return ::FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }, nullptr, 10000);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Shell_TrayWnd";
    ::RegisterClassW(&windowClass);
    HWND tray = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP,
                                  0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (tray == nullptr || ::FindWindowW(L"Shell_TrayWnd", nullptr) != tray) {
        std::fprintf(stderr, "cannot play the notification area\n");
        return 1;
    }

    std::vector<double> times[2];
    for (int round = 0; round <= runs; ++round) {
        for (int which = 0; which < 2; ++which) {
            const double ms = StartOnce(programs[which]);
            if (ms < 0) {
                return 1;
            }
            if (round > 0) {  // the first start of each warms the prefix and the file cache
                times[which].push_back(ms);
            }
        }
    }
    const double notifier = Median(times[0]);
    const double minimal = Median(times[1]);
    std::printf(
        "start to tray icon (NIM_ADD), median of %d: notifier %.1f ms (fastest %.1f), "
        "minimal tray %.1f ms (fastest %.1f), ratio %.2f\n",
        runs, notifier, *std::min_element(times[0].begin(), times[0].end()), minimal,
        *std::min_element(times[1].begin(), times[1].end()), notifier / minimal);
    return 0;
}
