// What screen readers read on the program's dialogs (MSAA names through
// oleacc, in z-order, which is their reading order), and Escape, which closes
// each dialog as Cancel does.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "app/info_dialog.h"
#include "app/resources/resource.h"
#include "app/update_dialog.h"

namespace {

// The window's text, then the accessible name of its client area.
std::vector<std::wstring> Read(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    std::vector<std::wstring> read{text, L"(none)"};
    IAccessible* accessible = nullptr;
    if (SUCCEEDED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                               IID_IAccessible,
                                               reinterpret_cast<void**>(&accessible)))) {
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR name = nullptr;
        read[1] = accessible->get_accName(self, &name) == S_OK ? name : L"";
        ::SysFreeString(name);
        accessible->Release();
    }
    return read;
}

// Reads the dialog and its controls once it has opened, then presses Escape.
template <typename Base>
class ReadDialog : public Base {
public:
    using Base::Base;
    BOOL OnInitDialog() override {
        const BOOL result = Base::OnInitDialog();
        read.push_back(Read(this->m_hWnd));
        for (HWND child = ::GetWindow(this->m_hWnd, GW_CHILD); child != nullptr;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            ids.push_back(::GetDlgCtrlID(child));
            read.push_back(Read(child));
        }
        ::PostMessageW(::GetDlgItem(this->m_hWnd, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        return result;
    }
    std::vector<int> ids;
    std::vector<std::vector<std::wstring>> read;  // the dialog first
};

}  // namespace

TEST(DialogLabels, ReadInOrderByTheirTextsAndEscapeCloses) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ReadDialog<CInfoDialog> about;
    about.SetVersion(L"7.1.2");
    EXPECT_EQ(about.DoModal(), IDCANCEL);
    EXPECT_EQ(about.ids, (std::vector<int>{IDC_INFO_VERSION, IDC_STATIC, IDOK}));
    ReadDialog<CUpdateDialog> offer("a;2.0;Faster blocking");
    EXPECT_EQ(offer.DoModal(), IDCANCEL);
    // The progress bar has no text: Windows names it by the label right
    // before it (Wine's oleacc leaves it unnamed).
    EXPECT_EQ(offer.ids, (std::vector<int>{IDC_UPDATE_MESSAGE, IDC_UPDATE_WAIT, IDC_UPDATE_PROGRESS,
                                           IDOK, IDCANCEL}));
    for (const auto* read : {&about.read, &offer.read}) {
        for (const auto& control : *read) {
            if (!control[0].empty()) {
                EXPECT_EQ(control[1], control[0]);
            }
        }
    }
    EXPECT_EQ(about.read[0][1], L"Orlivan Info");
    EXPECT_EQ(about.read[1][1], L"Orlivan Version 7.1.2");
    EXPECT_EQ(offer.read[0][1], L"Orlivan Update");
    EXPECT_EQ(offer.read[1][1].rfind(L"New version(2.0)", 0), 0u);
    ::CoUninitialize();
}
