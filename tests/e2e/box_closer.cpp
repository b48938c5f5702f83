// Finds a message box by its caption, prints its text and presses its OK
// button, as a user would; the demo uses it for the driver-error box.
//
//   e2e_box_closer [--leave-open] [--timeout MS] CAPTION
//
// Exit code 0 when the box was found (and closed, unless --leave-open),
// 1 when none appeared within the time-out (default 20000 ms) or it stayed
// open, 2 on a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct Search {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    wchar_t className[64] = {};
    wchar_t caption[256] = {};
    GetClassNameW(window, className, 64);
    GetWindowTextW(window, caption, 256);
    if (IsWindowVisible(window) && std::wcscmp(className, L"#32770") == 0 &&
        std::wcscmp(caption, search->caption) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::string Utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool leaveOpen = false;
    DWORD timeout = 20000;
    const wchar_t* caption = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--leave-open") == 0) {
            leaveOpen = true;
        } else if (std::wcscmp(argv[i], L"--timeout") == 0 && i + 1 < argc) {
            timeout = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        } else if (caption == nullptr) {
            caption = argv[i];
        } else {
            caption = nullptr;
            break;
        }
    }
    if (caption == nullptr) {
        std::fprintf(stderr, "usage: e2e_box_closer [--leave-open] [--timeout MS] CAPTION\n");
        return 2;
    }
    Search search{caption, nullptr};
    DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            break;
        }
        if (GetTickCount() - start >= timeout) {
            std::printf("no box \"%s\" within %lu ms\n", Utf8(caption).c_str(),
                        static_cast<unsigned long>(timeout));
            return 1;
        }
        Sleep(100);
    }
    wchar_t text[2048] = {};
    // The text of a message box is its static control 0xFFFF.
    GetDlgItemTextW(search.found, 0xFFFF, text, 2048);
    std::printf("box \"%s\": %s\n", Utf8(caption).c_str(), Utf8(text).c_str());
    std::fflush(stdout);
    if (leaveOpen) {
        return 0;
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(search.found, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result);
    for (int i = 0; i < 50 && IsWindow(search.found) && IsWindowVisible(search.found); ++i) {
        Sleep(100);
    }
    if (IsWindow(search.found) && IsWindowVisible(search.found)) {
        std::printf("box \"%s\": still open after OK\n", Utf8(caption).c_str());
        return 1;
    }
    std::printf("box \"%s\": closed with OK\n", Utf8(caption).c_str());
    return 0;
}
