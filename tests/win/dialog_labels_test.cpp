// What screen readers read on the program's dialogs: the MSAA names (through
// oleacc) of the dialog and its controls in z-order, their reading order; and
// Escape, which closes each dialog as Cancel does.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <string>

#include "app/info_dialog.h"
#include "app/update_dialog.h"

namespace {

std::wstring AccessibleName(HWND window) {
    IAccessible* accessible = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                            IID_IAccessible,
                                            reinterpret_cast<void**>(&accessible)))) {
        return L"(no accessible object)";
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring read = accessible->get_accName(self, &name) == S_OK ? name : L"";
    ::SysFreeString(name);
    accessible->Release();
    return read;
}

// Reads the dialog, then its controls, once it has opened: the first line of
// each name, each followed by "|"; then presses Escape.
template <typename Base>
class ReadDialog : public Base {
public:
    using Base::Base;
    BOOL OnInitDialog() override {
        const BOOL result = Base::OnInitDialog();
        for (HWND w = this->m_hWnd; w != nullptr;
             w = ::GetWindow(w, w == this->m_hWnd ? GW_CHILD : GW_HWNDNEXT)) {
            const std::wstring name = AccessibleName(w);
            read += name.substr(0, name.find_first_of(L"\r\n")) + L"|";
        }
        ::PostMessageW(::GetDlgItem(this->m_hWnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        return result;
    }
    std::wstring read;
};

}  // namespace

TEST(DialogLabels, ReadInOrderByTheirTextsAndEscapeCloses) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ReadDialog<CInfoDialog> about;
    about.SetVersion(L"7.1.2");
    EXPECT_EQ(about.DoModal(), IDCANCEL);
    EXPECT_EQ(about.read, L"Orlivan Info|Orlivan Version 7.1.2|Orlivan Notifier|OK|");

    ReadDialog<CUpdateDialog> offer("a;2.0;Faster blocking");
    EXPECT_EQ(offer.DoModal(), IDCANCEL);
    // The progress bar (after "Please wait...") has no text: Windows names it
    // by the label right before it; Wine's oleacc leaves it unnamed.
    const std::wstring label =
        L"Orlivan Update|New version(2.0) of Orlivan is available. Do you "
        L"want to update?|Please wait...|";
    EXPECT_TRUE(offer.read == label + L"|OK|Cancel|" ||
                offer.read == label + L"Please wait...|OK|Cancel|")
        << std::string(offer.read.begin(), offer.read.end());  // ASCII here
    ::CoUninitialize();
}
