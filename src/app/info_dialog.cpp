#include "app/info_dialog.h"

#include <utility>

#include "app/localized_ui.h"
#include "app/resources/resource.h"
#include "base/messages.h"
#include "base/code_page.h"
#include "base/wide_text_win.h"
#include "commands/command_reply.h"

CInfoDialog::CInfoDialog() : CDialog(IDD_INFO_DIALOG, nullptr) {}

CInfoDialog::~CInfoDialog() = default;

void CInfoDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_INFO_VERSION, m_versionStatic);
}

void CInfoDialog::SetVersion(std::wstring text) {
    m_version = std::move(text);
}

void CInfoDialog::SetVersionFromReply(const CCommandReply* reply) {
    // The service reports the version in the thread's ANSI code page.
    SetVersion(ToWideString(PlatformCodePageDecoder()(InstalledVersionFromReply(reply))));
}

BOOL CInfoDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    LocalizeDialog(m_hWnd, IDD_INFO_DIALOG);
    if (!m_version.empty()) {
        const auto [label, after] = SplitAtPlaceholder(MessageText(MessageId::AboutVersion));
        m_versionStatic.SetWindowText(
            (Utf8ToWideString(label) + m_version + Utf8ToWideString(after)).c_str());
        FitDialogToTexts(m_hWnd);
    } else {
        m_versionStatic.ShowWindow(SW_HIDE);
    }
    // The dialog manager puts the keyboard on OK, which a screen reader
    // announces with the dialog.
    return TRUE;
}
