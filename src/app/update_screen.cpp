#include "app/update_screen.h"

#include <windows.h>

#include "app/update_dialog.h"
#include "base/code_page.h"
#include "base/wide_text_win.h"

namespace {

std::wstring ToWide(const std::string& text) {
    return ToWideString(DecodeExternalText(text, PlatformCodePageDecoder()));
}

class CWindowsUpdateUi : public CUpdateUi {
public:
    void ShowMessage(const std::string& caption, const std::string& text) override {
        ::MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), MB_OK);
    }
    CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override {
        return new CUpdateDialog(updateText);
    }
    void RunUpdateDialog(CUpdateDialog* dialog) override { dialog->DoModal(); }
    void DeleteUpdateDialog(CUpdateDialog* dialog) override { delete dialog; }
};

}  // namespace

CUpdateUi& UpdateScreen() {
    static CWindowsUpdateUi ui;
    return ui;
}
