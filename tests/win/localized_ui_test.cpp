// The catalogue's texts on the program's menu and dialogs, and dialogs grown
// where a text needs more room than the template gave.
#include "app/localized_ui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/resources/resource.h"
#include "base/messages.h"
#include "base/wide_text_win.h"
#include "framework/menu.h"

namespace {

struct German {
    German() { SetMessageLanguage("de"); }
    ~German() { SetMessageLanguage("en"); }
};

INT_PTR CALLBACK QuietProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

RECT ClientRectOf(HWND dialog, int id) {
    RECT rect{};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

TEST(LocalizedUi, MenuItemsTakeTheChosenLanguageByCommand) {
    German german;
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_TRAY_MENU));
    LocalizeMenu(menu.m_hMenu);
    const std::pair<UINT, MessageId> items[] = {
        {ID_SETTINGS, MessageId::MenuSettings},
        {ID_CHECK_UPDATE, MessageId::MenuCheckUpdate},
        {ID_ONLINE_HELP, MessageId::MenuOnlineHelp},
        {ID_REPORT_PROBLEM, MessageId::MenuReportProblem},
        {ID_ABOUT, MessageId::MenuAbout},
    };
    for (const auto& [command, id] : items) {
        wchar_t text[64] = {};
        ::GetMenuStringW(menu.m_hMenu, command, text, 64, MF_BYCOMMAND);
        EXPECT_EQ(std::wstring(text), ToWideString(MessageText16(id))) << command;
    }
}

// A longer button text widens the button and moves its neighbour; a longer
// static text makes the static taller and moves what is below it; the dialog
// grows by as much and keeps its margins.
TEST(LocalizedUi, DialogGrowsWhereATextNeedsMoreRoom) {
    HWND dialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                       MAKEINTRESOURCEW(IDD_UPDATE_DIALOG), nullptr, QuietProc, 0);
    ASSERT_NE(dialog, nullptr);
    RECT client{};
    ::GetClientRect(dialog, &client);
    const RECT ok = ClientRectOf(dialog, IDOK), cancel = ClientRectOf(dialog, IDCANCEL);
    const RECT message = ClientRectOf(dialog, IDC_UPDATE_MESSAGE);

    FitDialogToTexts(dialog);  // the English template fits as it is
    EXPECT_EQ(ClientRectOf(dialog, IDOK).right, ok.right);

    ::SetDlgItemTextW(dialog, IDOK, L"A very long button text for this button");
    ::SetDlgItemTextW(dialog, IDC_UPDATE_MESSAGE, std::wstring(40, L'\n').c_str());
    FitDialogToTexts(dialog);
    const RECT grownOk = ClientRectOf(dialog, IDOK), movedCancel = ClientRectOf(dialog, IDCANCEL);
    const RECT grownMessage = ClientRectOf(dialog, IDC_UPDATE_MESSAGE);
    EXPECT_EQ(grownOk.right - grownOk.left, NeededTextSize(::GetDlgItem(dialog, IDOK)).cx);
    EXPECT_EQ(movedCancel.left - cancel.left, grownOk.right - ok.right);
    EXPECT_EQ(grownMessage.bottom - grownMessage.top,
              NeededTextSize(::GetDlgItem(dialog, IDC_UPDATE_MESSAGE)).cy);
    EXPECT_EQ(grownOk.top - ok.top, grownMessage.bottom - message.bottom);  // moved below
    RECT grown{};
    ::GetClientRect(dialog, &grown);
    EXPECT_EQ(grown.right - movedCancel.right, client.right - cancel.right);  // same margins
    EXPECT_EQ(grown.bottom - movedCancel.bottom, client.bottom - cancel.bottom);
    ::DestroyWindow(dialog);
}

TEST(LocalizedUi, CentredControlsStayCentred) {
    HWND dialog = ::CreateDialogParamW(::GetModuleHandleW(nullptr),
                                       MAKEINTRESOURCEW(IDD_INFO_DIALOG), nullptr, QuietProc, 0);
    ASSERT_NE(dialog, nullptr);
    ::SetDlgItemTextW(dialog, IDC_STATIC, std::wstring(60, L'W').c_str());
    FitDialogToTexts(dialog);
    RECT client{};
    ::GetClientRect(dialog, &client);
    for (const int id : {IDC_STATIC, IDOK}) {
        const RECT rect = ClientRectOf(dialog, id);
        EXPECT_LE(std::abs(rect.left - (client.right - rect.right)), 1) << id;
    }
    EXPECT_GE(ClientRectOf(dialog, IDC_STATIC).right - ClientRectOf(dialog, IDC_STATIC).left,
              NeededTextSize(::GetDlgItem(dialog, IDC_STATIC)).cx);
    ::DestroyWindow(dialog);
}
