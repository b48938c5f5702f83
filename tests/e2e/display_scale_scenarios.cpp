// The notifier at 150 % display scale (144 DPI): its dialog templates grow
// with the scale, and its tray icon is the small icon size of that scale.
// Each dialog is photographed at 96 and at 144 DPI for the test logs.
#include <cstdio>

#include "harness.h"

using namespace e2e;

namespace {

// What e2e_dialog_viewer measured of one dialog.
struct Layout {
    int dpi = 0, smallIcon = 0;
    long clientWidth = 0, clientHeight = 0, mappedWidth = 0, mappedHeight = 0;
};

// Shows one template in the viewer (found beside the driver), photographs
// its window and closes it again.
Layout ShowTemplate(int id, int dpi) {
    const std::string name = "dialog-" + std::to_string(id) + "-" + std::to_string(dpi) + "dpi";
    std::wstring result;
    struct Ender {
        HANDLE process;
        ~Ender() {
            TerminateProcess(process, 1);  // fails harmlessly once it has ended
            CloseHandle(process);
        }
    } ender{StartDialogViewer(id, name, L"", result)};

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
    Note(name + ": " + line.substr(0, line.find('\n')));
    Pause(Millis(500));  // drawn on the X display
    Screenshot(name, window);

    HWND dialog = FindProcessWindow(GetProcessId(ender.process), L"#32770", nullptr);
    Check(dialog != nullptr && PostMessageW(dialog, WM_CLOSE, 0, 0) != FALSE, "closing the viewer");
    Check(WaitForSingleObject(ender.process, 10000) == WAIT_OBJECT_0, "the viewer ended");
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
    DrawWindowFrames();
    const int templates[] = {102, 133, 134};  // main, update offer, About
    Layout normal[3], large[3];
    SetDisplayDpi(96);
    for (int i = 0; i < 3; ++i) {
        normal[i] = ShowTemplate(templates[i], 96);
        CheckEqual(normal[i].dpi, 96, "display DPI");
    }
    SetDisplayDpi(144);
    for (int i = 0; i < 3; ++i) {
        large[i] = ShowTemplate(templates[i], 144);
        const std::string dialog = "dialog " + std::to_string(templates[i]);
        CheckEqual(large[i].dpi, 144, "display DPI");
        // The client area is the template's size in dialog units, converted
        // with the dialog font at the display's DPI.
        CheckEqual(large[i].clientWidth, large[i].mappedWidth, dialog + " client width");
        CheckEqual(large[i].clientHeight, large[i].mappedHeight, dialog + " client height");
        CheckAboutOneAndAHalf(large[i].clientWidth, normal[i].clientWidth, dialog + " width");
        CheckAboutOneAndAHalf(large[i].clientHeight, normal[i].clientHeight, dialog + " height");
    }

    Notifier notifier;
    notifier.Start();
    const TrayCall add = notifier.WaitForIcon();
    Check(large[0].smallIcon > normal[0].smallIcon, "the small icon size grows with the scale");
    CheckEqual(add.iconWidth, large[0].smallIcon, "tray icon width at 144 DPI (SM_CXSMICON)");
    CheckEqual(add.iconHeight, large[0].smallIcon, "tray icon height at 144 DPI");
}
