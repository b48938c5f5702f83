#include "app/update_dialog.h"

#include <shellapi.h>

#include "app/common_controls.h"
#include "app/localized_ui.h"
#include "app/resources/resource.h"
#include "base/messages.h"
#include "base/code_page.h"
#include "base/wide_text_win.h"
#include "update/update_offer.h"

namespace {

void OpenWithShell(const wchar_t* url) {
    // The result is not examined: a failure is not reported and the dialog
    // closes as on success.
    ::ShellExecuteW(nullptr, L"open", url, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

WORD NativeProcessorArchitecture() {
    using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
    SYSTEM_INFO info{};
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto native = kernel != nullptr
                            ? reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void*>(
                                  ::GetProcAddress(kernel, "GetNativeSystemInfo")))
                            : nullptr;
    if (native != nullptr) {
        native(&info);
    } else {
        ::GetSystemInfo(&info);
    }
    return info.wProcessorArchitecture;
}

CUpdateDialog::CUpdateDialog(std::string updateText)
    : CDialog(IDD_UPDATE_DIALOG, nullptr),
      m_openUrl(&OpenWithShell),
      m_nativeArchitecture(&NativeProcessorArchitecture) {
    // The offer's progress bar is the program's first common control.
    LoadCommonControls();
    UpdateText fields = SplitUpdateText(updateText);
    m_prefix = std::move(fields.prefix);
    m_newVersion = std::move(fields.newVersion);
    m_whatsNew = std::move(fields.whatsNew);
}

CUpdateDialog::~CUpdateDialog() = default;

void CUpdateDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_UPDATE_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_UPDATE_MESSAGE, m_messageText);
    DDX_Control(pDX, IDC_UPDATE_WAIT, m_waitText);
    DDX_Control(pDX, IDOK, m_okButton);
    DDX_Control(pDX, IDCANCEL, m_cancelButton);
}

const MessageMap* CUpdateDialog::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnCommand<&CUpdateDialog::OnBnClickedOk>(IDOK),
        OnCommand<&CUpdateDialog::OnBnClickedCancel>(IDCANCEL),
    };
    static const MessageMap map = MakeMessageMap(CDialog::GetMessageMap(), entries);
    return &map;
}

std::wstring CUpdateDialog::OfferText() const {
    // The service's text: UTF-8 when it is valid UTF-8, else the ANSI code page.
    // Each field is decoded by itself, so the translated words around them
    // (UTF-8) never pass through the ANSI code page.
    const CodePageDecoder codePage = PlatformCodePageDecoder();
    const std::string offer =
        UpdateOfferText(Utf16ToUtf8(DecodeExternalText(m_newVersion, codePage)),
                        Utf16ToUtf8(DecodeExternalText(m_whatsNew, codePage)));
    return Utf8ToWideString(offer);
}

BOOL CUpdateDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    LocalizeDialog(m_hWnd, IDD_UPDATE_DIALOG);
    m_messageText.SetWindowText(OfferText().c_str());
    FitDialogToTexts(m_hWnd);
    m_waitText.ShowWindow(SW_HIDE);
    m_progress.ShowWindow(SW_HIDE);
    if (m_openedUnasked) {
        // Opened by the worker of a program in the background: topmost, or it
        // may open behind the window the person works in, but it never asks
        // for the foreground, so a key typed into that window can't answer it
        // (kInFrontBoxStyle tells why Windows keeps it in the background).
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    } else {
        // The person chose Check Update from the menu: the answer comes to the
        // front (Windows allows it while the menu's choice was the last input).
        ::SetForegroundWindow(m_hWnd);
    }
    return TRUE;
}

void CUpdateDialog::OnBnClickedOk() {
    const bool amd64 = UsesAmd64Installer(m_nativeArchitecture());
    m_openUrl(ToWideString(WidenBytes(InstallerUrl(amd64))).c_str());
    CDialog::OnOK();
}

void CUpdateDialog::OnBnClickedCancel() {
    CDialog::OnCancel();
}
