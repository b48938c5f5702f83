// An update check's messages and the update dialog on Windows.
#include <windows.h>

#include "notify/code_page.h"
#include "notify/text.h"
#include "service/update_dialog.h"
#include "service/update_ui.h"

namespace {

std::wstring ToWide(const std::string& text) {
    const std::u16string wide = DecodeExternalText(text, PlatformCodePageDecoder());
    return std::wstring(wide.begin(), wide.end());
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

CUpdateUi& PlatformUpdateUi() {
    static CWindowsUpdateUi ui;
    return ui;
}
