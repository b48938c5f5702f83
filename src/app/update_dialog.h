// The update dialog (Windows): offers a newer version, and on OK hands the
// installer's web address for this machine to the user's browser.
#pragma once

#include <windows.h>

#include <string>

#include "framework/dialog.h"

class CUpdateDialog : public CDialog {
public:
    // Opens a web address with the user's default handler.
    using UrlOpener = void (*)(const wchar_t* url);
    // The machine's native processor architecture code.
    using ArchitectureProbe = WORD (*)();

    // Splits `updateText` ("prefix;new version;what's new") into the three
    // fields; creates no window.
    explicit CUpdateDialog(std::string updateText);
    ~CUpdateDialog() override;

    BOOL OnInitDialog() override;
    void OnBnClickedOk();
    void OnBnClickedCancel();

    // The offer shown in control 1001 (set by OnInitDialog).
    std::wstring OfferText() const;

    CProgressCtrl m_progress;
    CStatic m_messageText;
    CStatic m_waitText;
    CButton m_okButton;
    std::string m_prefix;
    std::string m_newVersion;
    std::string m_whatsNew;
    CButton m_cancelButton;

    // How OK opens the address and learns the architecture; tests replace them.
    UrlOpener m_openUrl;
    ArchitectureProbe m_nativeArchitecture;

    // Set for an offer a notification brought, which the person did not ask
    // for: the dialog is topmost but leaves the keyboard where it is. Unset
    // (the menu's check), the dialog comes to the foreground.
    bool m_openedUnasked = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    const MessageMap* GetMessageMap() const override;
};

// The native processor architecture code (wProcessorArchitecture):
// GetNativeSystemInfo, looked up in kernel32 (GetSystemInfo where it is missing).
WORD NativeProcessorArchitecture();
