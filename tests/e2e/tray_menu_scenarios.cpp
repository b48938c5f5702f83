// The tray icon's mouse events and the menu commands: the settings program
// (started from the install folder with the notifier's current folder), the
// popup menu driven by keyboard, and the two web pages handed to the browser.
#include "harness.h"
#include "locations/web_addresses.h"

using namespace e2e;

namespace {

constexpr wchar_t kHelpPath[] = L"/content/how-setup-internet-parental-controls-windows-7";
constexpr wchar_t kContactPath[] = L"/contact";

// The recorded run is the settings program, started with the notifier's
// current folder and its quoted path as the whole command line (every
// install folder here has blanks).
void CheckSettingsRun(const Record& record, const std::wstring& settingsProgram) {
    Check(SamePath(record.module, settingsProgram),
          "the settings program " + Utf8(settingsProgram) + " ran; the recorded run was " +
              Describe(record));
    CheckEqual(record.commandLine, L"\"" + settingsProgram + L"\"",
               "the settings program's command line");
    Check(SamePath(record.currentFolder, TheSetup().work),
          "the settings program's current folder is the notifier's (" + Utf8(TheSetup().work) +
              "); it was " + Utf8(record.currentFolder));
}

const std::wstring kScheme = L"https://";

// The host part of an https address ("" when it has none).
std::wstring HostOf(const std::wstring& address) {
    if (address.rfind(kScheme, 0) != 0) {
        return {};
    }
    size_t slash = address.find(L'/', kScheme.size());
    return address.substr(
        kScheme.size(), slash == std::wstring::npos ? std::wstring::npos : slash - kScheme.size());
}

// The recorded run is the URL handler, given an https address with this path;
// returns the address.
std::wstring CheckBrowserRun(const Record& record, const std::wstring& path) {
    Check(record.arguments.size() == 1,
          "the URL handler got exactly one argument; the recorded run was " + Describe(record));
    const std::wstring& address = record.arguments[0];
    std::wstring host = HostOf(address);
    Check(!host.empty(), "address " + Utf8(address) + " is https:// with a host");
    CheckEqual(address.substr(kScheme.size() + host.size()), path, "path of the address");
    return address;
}

// Opens the popup menu with a right-button press on the icon; it opens with
// its top-left corner at the cursor.
HWND OpenMenu(const Notifier& notifier) {
    POINT cursor{};
    GetCursorPos(&cursor);
    notifier.PostTrayEvent(WM_RBUTTONDOWN);
    HWND menu = WaitForProcessWindow(notifier.ProcessId(), L"#32768", nullptr, Millis(10000));
    RECT rect{};
    GetWindowRect(menu, &rect);
    Check(rect.left == cursor.x && rect.top == cursor.y,
          "the menu opens at the cursor (" + std::to_string(cursor.x) + "," +
              std::to_string(cursor.y) + "); its corner is at (" + std::to_string(rect.left) + "," +
              std::to_string(rect.top) + ")");
    return menu;
}

// Opens the menu, presses the keys, and waits until the menu has closed.
void ChooseFromMenu(const Notifier& notifier, std::initializer_list<UINT> keys,
                    const std::string& what) {
    HWND menu = OpenMenu(notifier);
    PostKeys(menu, keys);
    WaitForWindowGone(menu, Millis(5000), "the popup menu after " + what);
}

}  // namespace

E2E_SCENARIO(double_click_starts_settings) {
    std::wstring settings = ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    // A single left click, a right button release, the pointer passing over
    // the icon and a balloon click do nothing.
    for (UINT event :
         {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONUP, WM_MOUSEMOVE, NIN_BALLOONUSERCLICK}) {
        notifier.PostTrayEvent(event);
    }
    ExpectRecordCountStays(0, Millis(1500), "clicks and moves that are not a double click");
    Check(FindProcessWindow(notifier.ProcessId(), nullptr, nullptr) == nullptr,
          "no window shows after clicks and moves that are not a double click");

    notifier.PostTrayEvent(WM_LBUTTONDBLCLK);
    auto records = WaitForRecords(1, Millis(15000));
    CheckSettingsRun(records[0], settings);
    Check(FindProcessWindow(notifier.ProcessId(), L"#32768", nullptr) == nullptr,
          "a double click shows no menu");
    ExpectRecordCountStays(1, Millis(1000), "one double click");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(settings_command_starts_settings) {
    std::wstring settings = ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    notifier.PostCommand(kCmdSettings);
    auto records = WaitForRecords(1, Millis(15000));
    CheckSettingsRun(records[0], settings);
    // Each command starts one more settings process.
    notifier.PostCommand(kCmdSettings);
    records = WaitForRecords(2, Millis(15000));
    CheckSettingsRun(records[1], settings);
    ExpectRecordCountStays(2, Millis(1000), "two Settings commands");
}

E2E_SCENARIO(web_pages_open) {
    ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    notifier.PostCommand(kCmdOnlineHelp);
    auto records = WaitForRecords(1, Millis(15000));
    std::wstring help = CheckBrowserRun(records[0], kHelpPath);
    notifier.PostCommand(kCmdReportProblem);
    records = WaitForRecords(2, Millis(15000));
    std::wstring contact = CheckBrowserRun(records[1], kContactPath);
    // The hosts are the program's own settings; nothing may alter them on the way.
    CheckEqual(help, FromUtf8(URL_ONLINE_HELP.data()), "online help address");
    CheckEqual(contact, FromUtf8(URL_CONTACT.data()), "contact address");
    Check(HostOf(help) != HostOf(contact),
          "online help (content site) and contact page (main site) are on different hosts");
    ExpectRecordCountStays(2, Millis(1000), "Online Help and Report Problem");
}

E2E_SCENARIO(popup_menu_items) {
    std::wstring settings = ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    SetCursorPos(420, 310);

    // Escape closes the menu and nothing is chosen.
    ChooseFromMenu(notifier, {VK_ESCAPE}, "Escape");
    ExpectRecordCountStays(0, Millis(1500), "Escape on the menu");

    // Item 1 starts the settings program.
    ChooseFromMenu(notifier, {VK_DOWN, VK_RETURN}, "item 1");
    auto records = WaitForRecords(1, Millis(15000));
    CheckSettingsRun(records[0], settings);

    // Item 2 checks for an update; with no service to ask, that check
    // reports the update server out of reach.
    ChooseFromMenu(notifier, {VK_DOWN, VK_DOWN, VK_RETURN}, "item 2");
    HWND box =
        WaitForProcessWindow(notifier.ProcessId(), L"#32770", L"Update Error", Millis(15000));
    CheckEqual(ControlText(box, 0xFFFF),
               L"Cannot connect to Update Server.\nCheck your Network Connection and try again "
               L"later",
               "text of the update check's message box");
    ClickButton(box, IDOK);
    WaitForWindowGone(box, Millis(5000), "the update check's message box");
    ExpectRecordCountStays(1, Millis(500), "item 2");

    // Item 3 opens the online help, item 4 the contact page.
    ChooseFromMenu(notifier, {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, "item 3");
    records = WaitForRecords(2, Millis(15000));
    CheckBrowserRun(records[1], kHelpPath);
    ChooseFromMenu(notifier, {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, "item 4");
    records = WaitForRecords(3, Millis(15000));
    CheckBrowserRun(records[2], kContactPath);

    // Five items in all: the second from the bottom is Report Problem, and
    // six steps down wrap round to Settings.
    ChooseFromMenu(notifier, {VK_UP, VK_UP, VK_RETURN}, "the second item from the bottom");
    records = WaitForRecords(4, Millis(15000));
    CheckBrowserRun(records[3], kContactPath);
    ChooseFromMenu(notifier, {VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN},
                   "six steps down");
    records = WaitForRecords(5, Millis(15000));
    CheckSettingsRun(records[4], settings);

    ExpectRecordCountStays(5, Millis(1000), "five menu choices");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(default_install_folder) {
    // Without the install key the settings program is looked for in the
    // default folder.
    RemoveInstallKey();
    RegisterUrlHandler();
    std::wstring settings = PlaceSettingsProgram(L"C:\\Program Files (x86)\\Orlivan\\");
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    notifier.PostCommand(kCmdSettings);
    auto records = WaitForRecords(1, Millis(15000));
    CheckSettingsRun(records[0], settings);
}

E2E_SCENARIO(non_ascii_install_folder) {
    // Letters outside Latin-1 as well, which low-byte narrowing would turn
    // into other letters.
    const std::wstring folder = L"C:\\Program Files\\Orlivan \u0141\u00f3d\u017a\\";
    SetInstallPath(folder);
    std::wstring settings = PlaceSettingsProgram(folder);
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    notifier.PostCommand(kCmdSettings);
    auto records = WaitForRecords(1, Millis(15000));
    CheckSettingsRun(records[0], settings);
}

E2E_SCENARIO(missing_settings_program_is_silent) {
    // The install folder is known but holds no settings program.
    SetInstallPath(kStandardInstallFolder);
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    notifier.PostCommand(kCmdSettings);
    notifier.PostTrayEvent(WM_LBUTTONDBLCLK);
    ExpectRecordCountStays(0, Millis(1500), "Settings without a settings program");
    Check(FindProcessWindow(notifier.ProcessId(), nullptr, nullptr) == nullptr,
          "nothing is shown when the settings program is missing");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(keyboard_opens_menu_at_icon_and_selects_settings) {
    Tray().AcceptVersions(true);  // a shell that sends version 4's events
    std::wstring settings = ArrangeStandardInstall();
    Notifier notifier;
    notifier.Start();
    notifier.WaitForIcon();
    const TrayCall version = notifier.WaitForTrayCall(NIM_SETVERSION, 1, Millis(10000));
    CheckEqual(version.timeoutOrVersion, NOTIFYICON_VERSION_4, "uVersion of NIM_SETVERSION");
    // The menu key on the focused icon: the menu opens at the icon's anchor,
    // not at the pointer. A right button press alone opens none (version 4
    // follows a right click with WM_CONTEXTMENU).
    SetCursorPos(30, 40);
    notifier.PostTrayEvent4(WM_RBUTTONDOWN, {30, 40});
    notifier.PostTrayEvent4(WM_CONTEXTMENU, {420, 310});
    HWND menu = WaitForProcessWindow(notifier.ProcessId(), L"#32768", nullptr, Millis(10000));
    RECT rect{};
    GetWindowRect(menu, &rect);
    CheckEqual(rect.left, 420, "the menu's left edge (the anchor's x)");
    CheckEqual(rect.top, 310, "the menu's top edge (the anchor's y)");
    PostKeys(menu, {VK_ESCAPE});
    WaitForWindowGone(menu, Millis(5000), "the popup menu after Escape");
    // Enter on the focused icon does what a double click does.
    notifier.PostTrayEvent4(NIN_KEYSELECT, {420, 310});
    CheckSettingsRun(WaitForRecords(1, Millis(15000))[0], settings);
    ExpectRecordCountStays(1, Millis(1000), "one NIN_KEYSELECT");
}
