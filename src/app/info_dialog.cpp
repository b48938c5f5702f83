#include "app/info_dialog.h"

#include <utility>

#include "app/localized_ui.h"
#include "app/resources/resource.h"
#include "base/messages.h"
#include "base/code_page.h"
#include "base/wide_text_win.h"
#include "channel/service.h"
#include "framework/application.h"

namespace {

// The installed version from the service, which reports it in the thread's
// ANSI code page; empty when the service gave no usable answer.
std::wstring GetInstalledVersion() {
    return ToWideString(
        PlatformCodePageDecoder()(CService::GetInstance()->GetInstalledVersionText()));
}

}  // namespace

CInfoDialog::CInfoDialog() : CDialog(IDD_INFO_DIALOG, nullptr) {}

CInfoDialog::~CInfoDialog() = default;

void CInfoDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_INFO_VERSION, m_versionStatic);
}

void CInfoDialog::SetVersion(std::wstring text) {
    m_version = std::move(text);
}

BOOL CInfoDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    LocalizeDialog(m_hWnd, IDD_INFO_DIALOG);
    CService::GetInstance();
    if (m_version.empty()) {
        // Synchronous: the dialog appears once the service has answered, or
        // once the exchange has given up after its bound; the wait cursor
        // shows meanwhile.
        CWaitCursor wait;
        SetVersion(GetInstalledVersion());
    }
    if (!m_version.empty()) {
        const auto [label, after] = SplitAtPlaceholder(MessageText(MessageId::AboutVersion));
        m_versionStatic.SetWindowText(
            (Utf8ToWideString(label) + m_version + Utf8ToWideString(after)).c_str());
        FitDialogToTexts(m_hWnd);
    } else {
        m_versionStatic.ShowWindow(SW_HIDE);
    }
    return FALSE;
}
