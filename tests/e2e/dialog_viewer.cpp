// Shows one of the notifier's dialog templates, laid out by the system's
// dialog manager in a process that carries the notifier's resources and
// manifest (so its DPI awareness), writes what it measured, and stays on
// screen until it is closed. The notifier itself never shows its main
// dialog, and its other dialogs do not move or resize their controls, so
// this is how they look in the program.
//
//   e2e_dialog_viewer TEMPLATE_ID RESULT_FILE
//
// Once the dialog is shown and painted, RESULT_FILE gets one line:
//   dpi=<D> client=<W>x<H> mapped=<W>x<H> smallicon=<S> window=<W>x<H>+<X>+<Y>
// dpi being the display's, client the dialog's client area in pixels, mapped
// the template's size mapped from dialog units (MapDialogRect), smallicon
// the SM_CXSMICON metric, window the dialog's frame on the screen. The dialog
// stays in front of other programs' windows (topmost) for its photograph.
// WM_CLOSE ends the program; it also ends by itself after a minute.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT kGiveUpMilliseconds = 60000;

INT_PTR CALLBACK ViewerProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetTimer(dialog, kGiveUpTimer, kGiveUpMilliseconds, nullptr);
            return TRUE;
        case WM_TIMER:
        case WM_CLOSE:
            ::DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return TRUE;
        default:
            return FALSE;
    }
}

// The width and height, in dialog units, of an extended dialog template.
bool TemplateSize(HINSTANCE instance, int id, short* cx, short* cy) {
    HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (found == nullptr || ::SizeofResource(instance, found) < 26) {
        return false;
    }
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(instance, found)));
    // Version, signature, help ID, extended style, style, item count, x, y come first.
    std::memcpy(cx, data + 22, sizeof *cx);
    std::memcpy(cy, data + 24, sizeof *cy);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 3) {
        return 2;
    }
    const int id = static_cast<int>(std::wcstol(argv[1], nullptr, 10));
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    short cx = 0, cy = 0;
    HWND dialog = ::CreateDialogParamW(instance, MAKEINTRESOURCEW(id), nullptr, ViewerProc, 0);
    if (dialog == nullptr || !TemplateSize(instance, id, &cx, &cy)) {
        return 3;
    }
    RECT mapped{0, 0, cx, cy};
    ::MapDialogRect(dialog, &mapped);
    ::SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::UpdateWindow(dialog);
    RECT client{}, frame{};
    ::GetClientRect(dialog, &client);
    ::GetWindowRect(dialog, &frame);
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);

    FILE* result = _wfopen(argv[2], L"w");
    if (result == nullptr) {
        return 4;
    }
    std::fprintf(
        result, "dpi=%d client=%ldx%ld mapped=%ldx%ld smallicon=%d window=%ldx%ld+%ld+%ld\n", dpi,
        client.right, client.bottom, mapped.right, mapped.bottom, ::GetSystemMetrics(SM_CXSMICON),
        frame.right - frame.left, frame.bottom - frame.top, frame.left, frame.top);
    std::fclose(result);

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(dialog, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return 0;
}
