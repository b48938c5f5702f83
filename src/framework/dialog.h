// Modal dialogs from dialog templates, with message maps and control binding.
// A dialog may run on any thread; its messages are handled on that thread.
#pragma once

#include <windows.h>

#include <vector>

#include "framework/message_map.h"
#include "framework/window.h"

class CDialog;

// The direction of one data exchange: FALSE when the dialog is being set up
// (controls filled from members), TRUE when values are read back.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds `control` to the dialog's control `id`; the binding ends with the
// dialog's window. A missing control leaves `control` without a window.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd {
public:
    // `templateId` names the dialog template in the program's resources;
    // `parent` owns the dialog while it runs (none when null).
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Creates the dialog from its template and runs it modally on the calling
    // thread until EndDialog; returns the value given to EndDialog, or -1 when
    // the dialog could not be created.
    virtual INT_PTR DoModal();

    // DoModal with the template's controls left out: for a window that is
    // never shown, whose buttons and texts would only load the common
    // controls (with version 6 chosen by the manifest, even the plain button
    // and static classes come from that library). -1 also when the template
    // can't be read.
    INT_PTR DoModalWithoutControls();

    // Runs when the window and its controls exist, before it is shown: binds
    // the controls (DoDataExchange). TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();

    // OK and Cancel (also Enter, Escape and closing the window) end the dialog
    // with IDOK and IDCANCEL.
    virtual void OnOK();
    virtual void OnCancel();

    void EndDialog(int result);

    // Runs DoDataExchange in the given direction.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual const MessageMap* GetMessageMap() const;

    // Default processing of the message being handled, with its parameters as
    // they are now (a handler may change what lParam points to first).
    LRESULT Default();

private:
    friend void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Attach(HWND hwnd);
    void Detach();

    UINT m_templateId;
    CWnd* m_pParentWnd;
    WNDPROC m_superProc = nullptr;
    Message m_current{};
    std::vector<CWnd*> m_boundControls;
};
