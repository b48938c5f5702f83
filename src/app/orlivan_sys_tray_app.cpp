#include "app/orlivan_sys_tray_app.h"

#include <commctrl.h>

#include "app/localized_ui.h"
#include "app/orlivan_sys_tray_dlg.h"

// The one application object.
COrlivanSysTrayApp theApp;

BOOL COrlivanSysTrayApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);

    CWinApp::InitInstance();
    ChooseUserLanguage();
    // The dialogs host no ActiveX controls, so no control container is set up.
    SetRegistryKey(L"Local AppWizard-Generated Applications");

    // The notification worker uses the dialog object until the process ends,
    // so the object is not destroyed when the dialog's window closes.
    auto* dialog = new COrlivanSysTrayDlg();
    m_pMainWnd = dialog;
    dialog->DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}
