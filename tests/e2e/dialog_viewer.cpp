// Shows one of the notifier's dialog templates, laid out by the system's
// dialog manager in a process that carries the notifier's resources and
// manifest (so its DPI awareness), writes what it measured, and stays on
// screen until it is closed. The notifier itself never shows its main
// dialog, and its other dialogs do not move or resize their controls, so
// this is how they look in the program.
//
//   e2e_dialog_viewer TEMPLATE_ID RESULT_FILE [localized]
//
// Once the dialog is shown and painted, RESULT_FILE gets one line:
//   dpi=<D> client=<W>x<H> mapped=<W>x<H> smallicon=<S> window=<W>x<H>+<X>+<Y>
// dpi being the display's, client the dialog's client area in pixels, mapped
// the template's size mapped from dialog units (MapDialogRect), smallicon
// the SM_CXSMICON metric, window the dialog's frame on the screen. The dialog
// stays in front of other programs' windows (topmost) for its photograph.
// With "localized" the dialog is shown as the notifier shows it in the user's
// language (its texts from the catalogue, grown to fit; the update dialog with
// an offer and its progress controls hidden, About with a version), and a
// line "fits <id> <needed W>x<H> in <W>x<H>" or "clipped ..." follows for
// every control with text, then "end".
// WM_CLOSE ends the program; it also ends by itself after a minute.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "app/localized_ui.h"
#include "base/wide_text_win.h"
#include "base/messages.h"
#include "update/update_offer.h"

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

// The dialog as the notifier shows it in the user's language.
void ShowAsTheNotifier(HWND dialog, int id) {
    ChooseUserLanguage();
    LocalizeDialog(dialog, id);
    if (id == 133) {
        const std::string offer = UpdateOfferText("2.5.1", "Faster blocking");
        ::SetDlgItemTextW(dialog, 1001, ToWideString(Utf8ToUtf16(offer).value_or(u"")).c_str());
        ::ShowWindow(::GetDlgItem(dialog, 1000), SW_HIDE);
        ::ShowWindow(::GetDlgItem(dialog, 1002), SW_HIDE);
    } else if (id == 134) {
        const std::string version = MessageFormat(MessageId::AboutVersion, {"2.5.1"});
        ::SetDlgItemTextW(dialog, 1004, ToWideString(Utf8ToUtf16(version).value_or(u"")).c_str());
    }
    FitDialogToTexts(dialog);
}

void WriteFits(FILE* result, HWND dialog) {
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetWindowTextLengthW(child) == 0) {
            continue;
        }
        RECT client{};
        ::GetClientRect(child, &client);
        const SIZE needs = NeededTextSize(child);
        const bool fits = needs.cx <= client.right && needs.cy <= client.bottom;
        std::fprintf(result, "%s %d %ldx%ld in %ldx%ld\n", fits ? "fits" : "clipped",
                     ::GetDlgCtrlID(child), needs.cx, needs.cy, client.right, client.bottom);
    }
    std::fprintf(result, "end\n");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || (argc != 3 && argc != 4)) {
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
    const bool localized = argc == 4 && std::wcscmp(argv[3], L"localized") == 0;
    if (localized) {
        ShowAsTheNotifier(dialog, id);
    }
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
    if (localized) {
        WriteFits(result, dialog);
    }
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
