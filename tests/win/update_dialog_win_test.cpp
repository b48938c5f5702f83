// The update dialog built from the program's own template.
#include "app/update_dialog.h"
#include "update/update_offer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/resources/resource.h"

namespace {

std::vector<std::wstring> g_openedUrls;
void RecordUrl(const wchar_t* url) {
    g_openedUrls.emplace_back(url);
}

WORD Amd64() {
    return 9;
}
WORD X86() {
    return 0;
}

// The update dialog with a scripted end: after its own initialisation it
// records what the user would see and posts the given message.
class ScriptedUpdateDialog : public CUpdateDialog {
public:
    ScriptedUpdateDialog(std::string text, UINT message, WPARAM wParam)
        : CUpdateDialog(std::move(text)), m_message(message), m_wParam(wParam) {
        m_openUrl = &RecordUrl;
    }
    BOOL OnInitDialog() override {
        const BOOL result = CUpdateDialog::OnInitDialog();
        wchar_t text[512] = {};
        ::GetDlgItemTextW(m_hWnd, IDC_UPDATE_MESSAGE, text, 512);
        shownText = text;
        const auto visible = [this](int id) {
            return (::GetWindowLongW(GetDlgItem(id), GWL_STYLE) & WS_VISIBLE) != 0;
        };
        progressVisible = visible(IDC_UPDATE_PROGRESS);
        waitVisible = visible(IDC_UPDATE_WAIT);
        messageVisible = visible(IDC_UPDATE_MESSAGE);
        ::GetWindowTextW(m_hWnd, text, 512);
        caption = text;
        ::PostMessageW(m_hWnd, m_message, m_wParam, 0);
        return result;
    }
    std::wstring shownText;
    std::wstring caption;
    bool progressVisible = true;
    bool waitVisible = true;
    bool messageVisible = false;

private:
    UINT m_message;
    WPARAM m_wParam;
};

}  // namespace

TEST(UpdateDialogWin, ShowsTheOfferAndOkOpensTheInstallerForTheArchitecture) {
    for (bool amd64 : {true, false}) {
        g_openedUrls.clear();
        ScriptedUpdateDialog dialog("a;2.0;Faster blocking", WM_COMMAND,
                                    MAKEWPARAM(IDOK, BN_CLICKED));
        dialog.m_nativeArchitecture = amd64 ? &Amd64 : &X86;
        EXPECT_EQ(dialog.m_prefix, "a");
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(dialog.caption, L"Orlivan Update");
        EXPECT_EQ(dialog.shownText,
                  L"New version(2.0) of Orlivan is available. Do you want to update?\n\n\n"
                  L"Whats new: \n        Faster blocking");
        EXPECT_FALSE(dialog.progressVisible);
        EXPECT_FALSE(dialog.waitVisible);
        EXPECT_TRUE(dialog.messageVisible);
        ASSERT_EQ(g_openedUrls.size(), 1u);
        const std::wstring path = amd64 ? L"/windows7/amd64/OrlivanUpdate_amd64.exe"
                                        : L"/windows7/x86/OrlivanUpdate_x86.exe";
        EXPECT_EQ(g_openedUrls[0].rfind(L"https://", 0), 0u);
        EXPECT_TRUE(g_openedUrls[0].ends_with(path));
    }
}

TEST(UpdateDialogWin, CancelAndCloseOpenNothing) {
    g_openedUrls.clear();
    ScriptedUpdateDialog cancel("a;2.0;x", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_EQ(cancel.DoModal(), IDCANCEL);
    ScriptedUpdateDialog close("a;2.0;x", WM_CLOSE, 0);
    EXPECT_EQ(close.DoModal(), IDCANCEL);
    EXPECT_TRUE(g_openedUrls.empty());
}

TEST(UpdateDialogWin, NativeArchitectureIsReadFromTheSystem) {
    // Wine's 32-bit prefix reports x86; a 64-bit Windows reports AMD64.
    const WORD architecture = NativeProcessorArchitecture();
    EXPECT_TRUE(architecture == PROCESSOR_ARCHITECTURE_INTEL ||
                architecture == PROCESSOR_ARCHITECTURE_AMD64)
        << architecture;
    EXPECT_EQ(UsesAmd64Installer(architecture), architecture == PROCESSOR_ARCHITECTURE_AMD64);
}
