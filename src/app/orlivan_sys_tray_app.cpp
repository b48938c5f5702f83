#include "app/orlivan_sys_tray_app.h"

#include "app/localized_ui.h"
#include "app/orlivan_sys_tray_dlg.h"

// The one application object.
COrlivanSysTrayApp theApp;

BOOL COrlivanSysTrayApp::InitInstance() {
    // The common controls are loaded when first needed (app/common_controls.h),
    // after the tray icon.
    CWinApp::InitInstance();
    ChooseUserLanguage();
    // The dialogs host no ActiveX controls, so no control container is set up.
    SetRegistryKey(L"Local AppWizard-Generated Applications");

    // The notification worker uses the dialog object until the process ends,
    // so the object is not destroyed when the dialog's window closes. The
    // window is never shown, so its buttons and text are left out.
    auto* dialog = new COrlivanSysTrayDlg();
    m_pMainWnd = dialog;
    dialog->DoModalWithoutControls();
    m_pMainWnd = nullptr;
    return FALSE;
}
