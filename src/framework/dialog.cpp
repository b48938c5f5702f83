#include "framework/dialog.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/application.h"

namespace {

// The window property that leads from a dialog window to its object.
constexpr wchar_t kObjectProperty[] = L"OrlivanDialogObject";

}  // namespace

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    CDialog* dialog = pDX->m_pDlgWnd;
    control.m_hWnd = ::GetDlgItem(dialog->m_hWnd, id);
    auto& bound = dialog->m_boundControls;
    if (std::find(bound.begin(), bound.end(), &control) == bound.end()) {
        bound.push_back(&control);
    }
}

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    // Normally the window is gone when the object goes; if not, it must no
    // longer lead here.
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
        ::RemovePropW(m_hWnd, kObjectProperty);
    }
}

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_templateId), owner,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialog::DoModalWithoutControls() {
    const HINSTANCE instance = AfxGetResourceHandle();
    const HRSRC found = ::FindResourceW(instance, MAKEINTRESOURCEW(m_templateId), RT_DIALOG);
    const HGLOBAL loaded = found != nullptr ? ::LoadResource(instance, found) : nullptr;
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    const DWORD size = found != nullptr ? ::SizeofResource(instance, found) : 0;
    // The item count is a WORD after the header's fixed fields: at byte 16 of
    // an extended template (version 1, signature 0xFFFF), at byte 8 of a
    // plain one. The copy is DWORD-aligned, as the system requires.
    constexpr size_t kExtendedCountAt = 16;
    constexpr size_t kPlainCountAt = 8;
    constexpr DWORD kLargestTemplate = 64 * 1024;
    if (data == nullptr || size < kExtendedCountAt + sizeof(WORD) || size > kLargestTemplate) {
        return -1;
    }
    std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* bytes = reinterpret_cast<unsigned char*>(copy.data());
    std::memcpy(bytes, data, size);
    WORD version = 0, signature = 0;
    std::memcpy(&version, bytes, sizeof version);
    std::memcpy(&signature, bytes + sizeof version, sizeof signature);
    const bool extended = version == 1 && signature == 0xFFFF;
    const WORD none = 0;
    std::memcpy(bytes + (extended ? kExtendedCountAt : kPlainCountAt), &none, sizeof none);
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    return ::DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(bytes), owner,
                                     &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result) {
    ::EndDialog(m_hWnd, result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

const MessageMap* CDialog::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnCommand<&CDialog::OnOK>(IDOK),
        OnCommand<&CDialog::OnCancel>(IDCANCEL),
    };
    static const MessageMap map = MakeMessageMap(nullptr, entries);
    return &map;
}

LRESULT CDialog::Default() {
    return ::CallWindowProcW(m_superProc, m_hWnd, m_current.message, m_current.wParam,
                             m_current.lParam);
}

void CDialog::Attach(HWND hwnd) {
    m_hWnd = hwnd;
    ::SetPropW(hwnd, kObjectProperty, this);
    // From here on every message passes through WindowProc, which hands what
    // the message map does not handle to the dialog manager's own procedure.
    m_superProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CDialog::WindowProc)));
}

void CDialog::Detach() {
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
    ::RemovePropW(m_hWnd, kObjectProperty);
    m_hWnd = nullptr;
    m_superProc = nullptr;
    // Bound controls died with the window; the next run binds them afresh.
    for (CWnd* control : m_boundControls) {
        control->m_hWnd = nullptr;
    }
    m_boundControls.clear();
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    // Every message but the first reaches the object through WindowProc; the
    // dialog manager's default handling follows whatever this returns.
    if (message != WM_INITDIALOG) {
        return FALSE;
    }
    auto* self = reinterpret_cast<CDialog*>(lParam);
    self->Attach(hwnd);
    const Message saved = self->m_current;
    self->m_current = Message{message, wParam, lParam};
    const BOOL result = self->OnInitDialog();
    self->m_current = saved;
    return result;
}

LRESULT CALLBACK CDialog::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CDialog*>(::GetPropW(hwnd, kObjectProperty));
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        const WNDPROC super = self->m_superProc;
        self->Detach();
        return ::CallWindowProcW(super, hwnd, message, wParam, lParam);
    }
    const Message saved = self->m_current;
    self->m_current = Message{message, wParam, lParam};
    LRESULT result;
    if (const MessageMapEntry* entry = FindMessageEntry(self->GetMessageMap(), message, wParam)) {
        result = entry->handler(*self, wParam, lParam);
    } else {
        result = ::CallWindowProcW(self->m_superProc, hwnd, message, wParam, lParam);
    }
    self->m_current = saved;
    return result;
}
