// The notifier in the user's language: German as Wine takes it from LANG
// (run_scenario.sh sets LANG=de_DE.UTF-8 for a scenario whose name ends in
// _de), and the pseudo-language through ORLIVAN_LANG. The menu, the tip, a
// balloon, the driver-error box and the About and update dialogs show the
// catalogue's texts, and in the dialogs every control's text fits its
// rectangle at 96 and 144 DPI. Each window is photographed for the test logs.
#include <cstdio>
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

// The window's frame on the screen as an X geometry, for a screenshot.
std::string Geometry(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    return std::to_string(frame.right - frame.left) + "x" +
           std::to_string(frame.bottom - frame.top) + "+" + std::to_string(frame.left) + "+" +
           std::to_string(frame.top);
}

void SetUserValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                  DWORD size) {
    HKEY opened = nullptr;
    Check(RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened,
                          nullptr) == ERROR_SUCCESS &&
              RegSetValueExW(opened, name, 0, type, static_cast<const BYTE*>(data), size) ==
                  ERROR_SUCCESS,
          "setting HKCU\\" + Utf8(key) + " " + Utf8(name));
    RegCloseKey(opened);
}

// Shows dialog template `id` in the viewer as the notifier shows it, checks
// that every control's text fits, photographs it and closes it.
void CheckDialogFits(int id, DWORD dpi, const std::string& language) {
    SetUserValue(L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, sizeof dpi);
    const std::string name =
        language + "-dialog-" + std::to_string(id) + "-" + std::to_string(dpi) + "dpi";
    MakeFolders(L"C:\\e2e\\dialogs");
    const std::wstring result = L"C:\\e2e\\dialogs\\" + FromUtf8(name) + L".txt";
    wchar_t driver[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, driver, MAX_PATH);
    std::wstring viewer = driver;
    viewer = viewer.substr(0, viewer.find_last_of(L'\\') + 1) + L"e2e_dialog_viewer.exe";
    HANDLE process = StartProgram(viewer, std::to_wstring(id) + L" " + result + L" localized");
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
    Pause(Millis(500));  // drawn on the X display
    Screenshot(name, Geometry(dialog));
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Check(WaitForSingleObject(process, 10000) == WAIT_OBJECT_0, "the viewer ended");
    CloseHandle(process);
}

// Photographs a window of the notifier under `name`.
void Photograph(HWND window, const std::string& name) {
    Pause(Millis(500));
    Screenshot(name, Geometry(window));
}

void RunInLanguage(const std::string& language) {
    ArrangeStandardInstall();
    // Wine draws frames and captions itself, so the screenshots show them.
    const wchar_t unmanaged[] = L"N";
    SetUserValue(L"Software\\Wine\\X11 Driver", L"Managed", REG_SZ, unmanaged, sizeof unmanaged);
    Check(SetMessageLanguage(language), "the catalogue has " + language);
    Check(Text(MessageId::MenuCheckUpdate) != L"Check Update", "the texts are not English");

    for (const DWORD dpi : {96u, 144u}) {
        for (const int id : {133, 134}) {  // update offer, About
            CheckDialogFits(id, dpi, language);
        }
    }
    const DWORD normal = 96;
    SetUserValue(L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &normal, sizeof normal);

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
    CheckEqual(balloon.info, Text(MessageId::ServerDownText), "the balloon's text");

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
    CheckEqual(ControlText(about, -1), Text(MessageId::AboutText), "the About text");
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
