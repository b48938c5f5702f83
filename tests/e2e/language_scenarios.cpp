// The notifier in the user's language: German as Wine takes it from LANG
// (run_scenario.sh sets LANG=de_DE.UTF-8 for a scenario whose name ends in
// _de), and the pseudo-language through ORLIVAN_LANG. The menu, the tip, a
// balloon, the driver-error box and the About and update dialogs show the
// catalogue's texts, and in the dialogs every control's text fits its
// rectangle at 96 and 144 DPI. Each window is photographed for the test logs.
#include <string>

#include "base/messages.h"
#include "harness.h"

using namespace e2e;

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";

std::wstring Text(MessageId id) {
    return FromUtf8(std::string(MessageText(id)));
}

std::wstring Format(MessageId id, std::initializer_list<std::string_view> values) {
    return FromUtf8(MessageFormat(id, values));
}

// Shows dialog template `id` in the viewer as the notifier shows it, checks
// that every control's text fits, photographs it and closes it.
void CheckDialogFits(int id, DWORD dpi, const std::string& language) {
    SetDisplayDpi(dpi);
    const std::string name =
        language + "-dialog-" + std::to_string(id) + "-" + std::to_string(dpi) + "dpi";
    std::wstring result;
    HANDLE process = StartDialogViewer(id, name, L" localized", result);
    std::string measured;
    WaitOrFail(
        [&] {
            measured = FileExists(result) ? ReadFileBytes(result) : "";
            return measured.find("\nend") != std::string::npos;
        },
        Millis(20000), "the viewer to show dialog " + std::to_string(id));
    Note(name + ":\n" + measured);
    Check(measured.find("dpi=" + std::to_string(dpi) + " ") == 0, "the display is at the DPI");
    Check(
        measured.find("clipped") == std::string::npos,
        "every text of dialog " + std::to_string(id) + " fits at " + std::to_string(dpi) + " DPI");
    HWND dialog = nullptr;
    WaitOrFail(
        [&] {
            return (dialog = FindProcessWindow(GetProcessId(process), kDialogClass, nullptr)) !=
                   nullptr;
        },
        Millis(10000), "the viewer's dialog");
    Photograph(dialog, name);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Check(WaitForSingleObject(process, 10000) == WAIT_OBJECT_0, "the viewer ended");
    CloseHandle(process);
}

void RunInLanguage(const std::string& language) {
    ArrangeStandardInstall();
    DrawWindowFrames();
    Check(SetMessageLanguage(language), "the catalogue has " + language);

    for (const DWORD dpi : {96u, 144u}) {
        for (const int id : {133, 134}) {  // update offer, About
            CheckDialogFits(id, dpi, language);
        }
    }
    SetDisplayDpi(96);

    StandIn service(L"serve --version 2.5.1 --status 5 --text \"rel;2.5.1;Faster blocking\"");
    service.WaitForOutput("serving");
    Notifier notifier;
    notifier.Start();
    const TrayCall add = notifier.WaitForIcon();
    CheckEqual(add.tip, Text(MessageId::TrayTip), "the tray tip");

    // The menu: its texts are checked where they are set (win_tests); here it
    // is photographed as the user sees it.
    notifier.PostTrayEvent(WM_RBUTTONDOWN);
    HWND menu = WaitForProcessWindow(notifier.ProcessId(), L"#32768", nullptr, Millis(10000));
    Photograph(menu, language + "-menu");
    PostKeys(menu, {VK_ESCAPE});
    WaitForWindowGone(menu, Millis(5000), "the menu after Escape");

    RunStandIn(L"send server-down");
    const TrayCall balloon = notifier.WaitForTrayCall(NIM_MODIFY, 1, Millis(15000));
    CheckEqual(balloon.infoTitle, Text(MessageId::ServerDownTitle), "the balloon's title");

    StandIn driverError(L"send driver-error --error-code 1275");
    HWND box = WaitForProcessWindow(notifier.ProcessId(), kDialogClass,
                                    Text(MessageId::DriverErrorTitle).c_str(), Millis(20000));
    CheckEqual(ControlText(box, 0xFFFF), Format(MessageId::DriverErrorText, {"1275"}),
               "the driver-error box's text");
    Photograph(box, language + "-driver-error-box");
    ClickButton(box, IDOK);
    WaitForWindowGone(box, Millis(5000), "the driver-error box after OK");
    Check(driverError.WaitForExit(Millis(20000)) == 0, "the driver error was answered");

    notifier.PostCommand(kCmdAbout);
    HWND about = WaitForProcessWindow(notifier.ProcessId(), kDialogClass,
                                      Text(MessageId::AboutTitle).c_str(), Millis(20000));
    CheckEqual(ControlText(about, 1004), Format(MessageId::AboutVersion, {"2.5.1"}),
               "the About version");
    Photograph(about, language + "-about");
    ClickButton(about, IDOK);
    WaitForWindowGone(about, Millis(5000), "About after OK");

    notifier.PostCommand(kCmdCheckUpdate);
    HWND offer = WaitForProcessWindow(notifier.ProcessId(), kDialogClass,
                                      Text(MessageId::UpdateDialogTitle).c_str(), Millis(20000));
    CheckEqual(ControlText(offer, 1001),
               Format(MessageId::UpdateOfferText, {"2.5.1", "Faster blocking"}), "the offer");
    CheckEqual(ControlText(offer, IDCANCEL), Text(MessageId::ButtonCancel), "the Cancel button");
    Photograph(offer, language + "-update");
    ClickButton(offer, IDCANCEL);
    WaitForWindowGone(offer, Millis(5000), "the update dialog after Cancel");
}

}  // namespace

E2E_SCENARIO(texts_in_the_users_language_de) {
    RunInLanguage("de");
}

E2E_SCENARIO(texts_in_the_pseudo_language) {
    SetEnvironmentVariableW(L"ORLIVAN_LANG", L"qps-ploc");
    RunInLanguage("qps-ploc");
}
