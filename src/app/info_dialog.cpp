#include "app/info_dialog.h"

#include <utility>

#include "app/resources/resource.h"
#include "base/code_page.h"
#include "base/wide_text_win.h"
#include "channel/service.h"
#include "framework/application.h"

namespace {

constexpr wchar_t kVersionLabel[] = L"Orlivan Version ";

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
    CService::GetInstance();
    if (m_version.empty()) {
        // Synchronous: the dialog appears once the service has answered, or
        // once the exchange has given up after its bound; the wait cursor
        // shows meanwhile.
        CWaitCursor wait;
        SetVersion(GetInstalledVersion());
    }
    if (!m_version.empty()) {
        m_versionStatic.SetWindowText((kVersionLabel + m_version).c_str());
    } else {
        m_versionStatic.ShowWindow(SW_HIDE);
    }
    return FALSE;
}
