// The command channel against the service stand-in: the update check from the
// menu, the About dialog's version, and the update notices.
#include "harness.h"

using namespace e2e;

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxText = 0xFFFF;

// Waits for a message box of the notifier with this caption, checks its text
// and presses OK.
void ExpectMessageBox(const Notifier& notifier, const wchar_t* caption, const std::wstring& text) {
    HWND box = WaitForProcessWindow(notifier.ProcessId(), kDialogClass, caption, Millis(15000));
    CheckEqual(ControlText(box, kMessageBoxText), text,
               "text of the \"" + Utf8(caption) + "\" box");
    ClickButton(box, IDOK);
    WaitForWindowGone(box, Millis(5000), "the \"" + Utf8(caption) + "\" box after OK");
}

}  // namespace

E2E_SCENARIO(check_update_latest_version) {
    StandIn service(L"serve --status 4 --text 2.5.1");
    service.WaitForOutput("serving");
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    notifier.PostCommand(kCmdCheckUpdate);
    ExpectMessageBox(notifier, L"Orlivan",
                     L"This version of Orlivan(2.5.1) is the latest version.");
    service.WaitForOutput("exchange 1: request length 4 command 0x300");
}
