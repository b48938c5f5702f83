// What screen readers read on the program's dialogs: the accessible name of
// each dialog and control (MSAA, through oleacc), their reading order, and
// Escape, which closes each dialog as Cancel does.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "app/info_dialog.h"
#include "app/resources/resource.h"
#include "app/update_dialog.h"

namespace {

struct Readout {
    std::wstring className;
    std::wstring text;
    std::wstring name;  // the accessible name
    bool visible = false;
};

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    ::GetWindowTextW(window, text, 512);
    return text;
}

// The name a screen reader announces for the window's client area.
std::wstring AccessibleName(HWND window) {
    IAccessible* accessible = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                            IID_IAccessible,
                                            reinterpret_cast<void**>(&accessible)))) {
        return L"(no accessible object)";
    }
    VARIANT self;
    ::VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring result;
    if (accessible->get_accName(self, &name) == S_OK && name != nullptr) {
        result = name;
    }
    ::SysFreeString(name);
    accessible->Release();
    return result;
}

// The dialog and its controls in z-order, which is the reading order, read
// when it has opened; then Escape is pressed on its default button.
template <typename Base>
class ReadDialog : public Base {
public:
    using Base::Base;
    BOOL OnInitDialog() override {
        const BOOL result = Base::OnInitDialog();
        const HWND dialog = this->m_hWnd;
        caption = TextOf(dialog);
        captionName = AccessibleName(dialog);
        for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            controls.push_back({ClassOf(child), TextOf(child), AccessibleName(child),
                                (::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0});
        }
        ::PostMessageW(::GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
        return result;
    }
    std::wstring caption;
    std::wstring captionName;
    std::vector<Readout> controls;
};

struct ComApartment {
    ComApartment() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { ::CoUninitialize(); }
};

// Every control with a text of its own is read by that text.
void ExpectNamedByText(const std::vector<Readout>& controls) {
    for (const Readout& control : controls) {
        if (!control.text.empty()) {
            EXPECT_EQ(control.name, control.text)
                << "the " << std::string(control.className.begin(), control.className.end());
        }
    }
}

}  // namespace

TEST(DialogLabels, AboutReadsItsVersionFirstAndEscapeCloses) {
    ComApartment com;
    ReadDialog<CInfoDialog> about;
    about.SetVersion(L"7.1.2");
    EXPECT_EQ(about.DoModal(), IDCANCEL);
    EXPECT_EQ(about.caption, L"Orlivan Info");
    EXPECT_EQ(about.captionName, L"Orlivan Info");
    ASSERT_EQ(about.controls.size(), 3u);
    EXPECT_EQ(about.controls[0].text, L"Orlivan Version 7.1.2");
    EXPECT_TRUE(about.controls[0].visible);
    EXPECT_NE(about.controls[1].text.find(L"Support:"), std::wstring::npos);
    EXPECT_EQ(about.controls[2].text, L"OK");
    ExpectNamedByText(about.controls);
}

TEST(DialogLabels, UpdateOfferReadsTheOfferFirstAndEscapeCancels) {
    ComApartment com;
    ReadDialog<CUpdateDialog> offer("a;2.0;Faster blocking");
    EXPECT_EQ(offer.DoModal(), IDCANCEL);
    EXPECT_EQ(offer.captionName, L"Orlivan Update");
    ASSERT_EQ(offer.controls.size(), 5u);
    EXPECT_EQ(offer.controls[0].text.rfind(L"New version(2.0)", 0), 0u);
    // The progress bar has no text: Windows names it by the label right
    // before it (Wine's oleacc leaves it unnamed, so only the order shows).
    EXPECT_EQ(offer.controls[1].text, L"Please wait...");
    EXPECT_EQ(offer.controls[2].className, L"msctls_progress32");
    EXPECT_EQ(offer.controls[3].text, L"OK");
    EXPECT_EQ(offer.controls[4].text, L"Cancel");
    ExpectNamedByText(offer.controls);
}
