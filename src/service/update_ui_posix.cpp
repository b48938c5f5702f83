// The update check's screen on posix: the shell's (the Linux notifier sets
// its dialogs), or standard error, where the offer is not taken.
#include <cstdio>

#include "service/update_dialog_posix.h"
#include "service/update_ui.h"

namespace {

class CConsoleUpdateUi : public CUpdateUi {
public:
    void ShowMessage(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override {
        return new CUpdateDialog(updateText);
    }
    void RunUpdateDialog(CUpdateDialog* dialog) override {
        std::fprintf(stderr, "Orlivan Update: %s\n", dialog->OfferText().c_str());
    }
    void DeleteUpdateDialog(CUpdateDialog* dialog) override { delete dialog; }
};

CUpdateUi* g_shellUi = nullptr;

}  // namespace

void SetPlatformUpdateUi(CUpdateUi* ui) {
    g_shellUi = ui;
}

CUpdateUi& PlatformUpdateUi(UpdateCheckOrigin) {
    static CConsoleUpdateUi console;
    return g_shellUi != nullptr ? *g_shellUi : console;
}
