#include "app/update_screen.h"

#include <windows.h>

#include "app/update_dialog.h"
#include "base/code_page.h"
#include "base/wide_text_win.h"
#include "framework/application.h"

namespace {

std::wstring ToWide(const std::string& text) {
    return ToWideString(DecodeExternalText(text, PlatformCodePageDecoder()));
}

class CWindowsUpdateUi : public CUpdateUi {
public:
    explicit CWindowsUpdateUi(UpdateCheckOrigin origin) : m_origin(origin) {}
    void ShowMessage(const std::string& caption, const std::string& text) override {
        const UINT inFront = m_origin == UpdateCheckOrigin::Notification ? kInFrontBoxStyle : 0;
        ::MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(caption).c_str(), MB_OK | inFront);
    }
    CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override {
        auto* dialog = new CUpdateDialog(updateText);
        dialog->m_openedUnasked = m_origin == UpdateCheckOrigin::Notification;
        return dialog;
    }
    void RunUpdateDialog(CUpdateDialog* dialog) override { dialog->DoModal(); }
    void DeleteUpdateDialog(CUpdateDialog* dialog) override { delete dialog; }

private:
    UpdateCheckOrigin m_origin;
};

}  // namespace

CUpdateUi& UpdateScreen(UpdateCheckOrigin origin) {
    static CWindowsUpdateUi menu(UpdateCheckOrigin::Menu);
    static CWindowsUpdateUi notification(UpdateCheckOrigin::Notification);
    return origin == UpdateCheckOrigin::Menu ? menu : notification;
}
