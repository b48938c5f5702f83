// What screen readers read on the program's dialogs: the MSAA names (through
// oleacc) of the dialog and its controls in z-order, their reading order; and
// Escape, which closes each dialog as Cancel does.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

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

// Reads the dialog, then its controls, once it has opened; then presses Escape.
template <typename Base>
class ReadDialog : public Base {
public:
    using Base::Base;
    BOOL OnInitDialog() override {
        const BOOL result = Base::OnInitDialog();
        for (HWND w = this->m_hWnd; w != nullptr;
             w = ::GetWindow(w, w == this->m_hWnd ? GW_CHILD : GW_HWNDNEXT)) {
            names.push_back(AccessibleName(w));
        }
        ::PostMessageW(::GetDlgItem(this->m_hWnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        return result;
    }
    std::vector<std::wstring> names;
};

}  // namespace

TEST(DialogLabels, ReadInOrderByTheirTextsAndEscapeCloses) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ReadDialog<CInfoDialog> about;
    about.SetVersion(L"7.1.2");
    EXPECT_EQ(about.DoModal(), IDCANCEL);
    ASSERT_EQ(about.names.size(), 4u);
    EXPECT_EQ(about.names[0] + L"|" + about.names[1] + L"|" + about.names[3],
              L"Orlivan Info|Orlivan Version 7.1.2|OK");
    EXPECT_EQ(about.names[2].rfind(L"Orlivan Notifier", 0), 0u) << "the maker and contacts";

    ReadDialog<CUpdateDialog> offer("a;2.0;Faster blocking");
    EXPECT_EQ(offer.DoModal(), IDCANCEL);
    ASSERT_EQ(offer.names.size(), 6u);
    EXPECT_EQ(offer.names[1].rfind(L"New version(2.0)", 0), 0u) << "the offer";
    // The progress bar (5th) has no text: Windows names it by the label right
    // before it; Wine's oleacc leaves it unnamed.
    EXPECT_EQ(
        offer.names[0] + L"|" + offer.names[2] + L"|" + offer.names[4] + L"|" + offer.names[5],
        L"Orlivan Update|Please wait...|OK|Cancel");
    ::CoUninitialize();
}
