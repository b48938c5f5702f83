// The notifier at 150 % display scale (144 DPI): its dialog templates grow
// with the scale, and its tray icon is the small icon size of that scale.
// Each dialog is photographed at 96 and at 144 DPI for the test logs.
#include <cstdio>
#include <map>

#include "harness.h"

using namespace e2e;

namespace {

// What e2e_dialog_viewer measured of one dialog.
struct Layout {
    int dpi = 0;
    long clientWidth = 0, clientHeight = 0;
    long mappedWidth = 0, mappedHeight = 0;
    int smallIcon = 0;
    std::string window;  // the frame as WxH+X+Y
};

// The display's DPI for programs started from now on (Wine reads it at each
// process start, as Windows does at logon).
void SetDisplayDpi(DWORD dpi) {
    HKEY key = nullptr;
    Check(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS,
          "opening HKCU\\Control Panel\\Desktop");
    const LONG set = RegSetValueExW(key, L"LogPixels", 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    RegCloseKey(key);
    Check(set == ERROR_SUCCESS, "setting LogPixels");
}

// Wine draws the windows' frames and captions itself instead of leaving them
// to a window manager (none runs on the test display), so the screenshots
// show them.
void DrawWindowFrames() {
    HKEY key = nullptr;
    Check(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS,
          "opening Wine's X11 driver settings");
    const wchar_t no[] = L"N";
    const LONG set =
        RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
    RegCloseKey(key);
    Check(set == ERROR_SUCCESS, "setting Managed");
}

std::wstring ViewerPath() {
    wchar_t driver[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, driver, MAX_PATH);
    std::wstring path = driver;
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"e2e_dialog_viewer.exe";
}

// Shows one template in the viewer, photographs it and closes it again.
Layout ShowTemplate(int id, int dpi) {
    const std::string name = "dialog-" + std::to_string(id) + "-" + std::to_string(dpi) + "dpi";
    MakeFolders(L"C:\\e2e\\dialogs");
    const std::wstring result = L"C:\\e2e\\dialogs\\" + FromUtf8(name) + L".txt";
    const std::wstring viewer = ViewerPath();
    std::wstring commandLine = L"\"" + viewer + L"\" " + std::to_wstring(id) + L" " + result;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    Check(CreateProcessW(viewer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &process) != FALSE,
          "starting " + Utf8(viewer));
    CloseHandle(process.hThread);
    struct Ender {
        HANDLE process;
        ~Ender() {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process, 1);
            }
            CloseHandle(process);
        }
    } ender{process.hProcess};

    std::string line;
    WaitOrFail(
        [&] {
            line = FileExists(result) ? ReadFileBytes(result) : "";
            return line.find('\n') != std::string::npos;
        },
        Millis(20000), "the viewer to show dialog " + std::to_string(id));
    Layout layout;
    char window[64] = {};
    Check(std::sscanf(line.c_str(), "dpi=%d client=%ldx%ld mapped=%ldx%ld smallicon=%d window=%63s",
                      &layout.dpi, &layout.clientWidth, &layout.clientHeight, &layout.mappedWidth,
                      &layout.mappedHeight, &layout.smallIcon, window) == 7,
          "the viewer's measurements: " + line);
    layout.window = window;
    Note(name + ": " + line.substr(0, line.find('\n')));
    Pause(Millis(500));  // drawn on the X display
    Screenshot(name, layout.window);

    HWND dialog = FindProcessWindow(process.dwProcessId, L"#32770", nullptr);
    Check(dialog != nullptr, "the viewer's dialog is on screen");
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Check(WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0, "the viewer ended");
    return layout;
}

void CheckAboutOneAndAHalf(long large, long normal, const std::string& what) {
    const double ratio = static_cast<double>(large) / static_cast<double>(normal);
    Check(ratio >= 1.35 && ratio <= 1.65,
          what + " at 144 DPI is about 1.5 times that at 96 DPI: " + std::to_string(large) +
              " against " + std::to_string(normal));
}

}  // namespace

E2E_SCENARIO(dialogs_and_tray_icon_at_144_dpi) {
    ArrangeStandardInstall();
    const int templates[] = {102, 133, 134};  // main, update offer, About
    std::map<int, Layout> normal;
    DrawWindowFrames();
    SetDisplayDpi(96);
    for (int id : templates) {
        normal[id] = ShowTemplate(id, 96);
        CheckEqual(normal[id].dpi, 96, "display DPI");
    }
    SetDisplayDpi(144);
    int smallIcon = 0;
    for (int id : templates) {
        const Layout large = ShowTemplate(id, 144);
        const std::string dialog = "dialog " + std::to_string(id);
        CheckEqual(large.dpi, 144, "display DPI");
        // The client area is the template's size in dialog units, converted
        // with the dialog font at the display's DPI.
        CheckEqual(large.clientWidth, large.mappedWidth, dialog + " client width");
        CheckEqual(large.clientHeight, large.mappedHeight, dialog + " client height");
        CheckAboutOneAndAHalf(large.clientWidth, normal[id].clientWidth, dialog + " width");
        CheckAboutOneAndAHalf(large.clientHeight, normal[id].clientHeight, dialog + " height");
        smallIcon = large.smallIcon;
    }

    Notifier notifier;
    notifier.Start();
    const TrayCall add = notifier.WaitForIcon();
    CheckEqual(add.iconWidth, smallIcon, "tray icon width at 144 DPI (SM_CXSMICON)");
    CheckEqual(add.iconHeight, smallIcon, "tray icon height at 144 DPI");
    Check(smallIcon > normal[102].smallIcon, "the small icon size grows with the scale");
}
