// The posix build has no dialogs yet: an update check's messages and the
// update offer are written to standard error, and the offer is not taken.
#include <cstdio>

#include "update/update_offer.h"
#include "update/update_ui.h"

class CUpdateDialog {
public:
    explicit CUpdateDialog(const UpdateText& text) : m_text(text) {}
    UpdateText m_text;
};

namespace {

class CConsoleUpdateUi : public CUpdateUi {
public:
    void ShowMessage(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override {
        return new CUpdateDialog(SplitUpdateText(updateText));
    }
    void RunUpdateDialog(CUpdateDialog* dialog) override {
        const std::string offer =
            UpdateOfferText(dialog->m_text.newVersion, dialog->m_text.whatsNew);
        std::fprintf(stderr, "Orlivan Update: %s\n", offer.c_str());
    }
    void DeleteUpdateDialog(CUpdateDialog* dialog) override { delete dialog; }
};

}  // namespace

CUpdateUi& PlatformUpdateUi() {
    static CConsoleUpdateUi ui;
    return ui;
}
