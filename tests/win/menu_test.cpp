// The tray menu resource through CMenu, and CMenu's ownership of menus.
#include "framework/menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/resource.h"
#include "framework/dialog.h"

namespace {

std::wstring ItemText(HMENU menu, UINT position) {
    wchar_t text[64] = {};
    ::GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

}  // namespace

TEST(TrayMenu, OneUntitledPopupWithTheFiveCommandsInOrder) {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_TRAY_MENU));
    ASSERT_EQ(::GetMenuItemCount(menu.m_hMenu), 1);
    EXPECT_EQ(ItemText(menu.m_hMenu, 0), L"");

    CMenu popup = menu.GetSubMenu(0);
    ASSERT_NE(popup.m_hMenu, nullptr);
    const std::vector<std::pair<UINT, std::wstring>> expected = {
        {32773, L"Settings"},       {32771, L"Check Update"}, {32772, L"Online Help"},
        {32774, L"Report Problem"}, {32775, L"About"},
    };
    ASSERT_EQ(::GetMenuItemCount(popup.m_hMenu), static_cast<int>(expected.size()));
    for (UINT i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(::GetMenuItemID(popup.m_hMenu, static_cast<int>(i)), expected[i].first);
        EXPECT_EQ(ItemText(popup.m_hMenu, i), expected[i].second);
        const UINT state = ::GetMenuState(popup.m_hMenu, i, MF_BYPOSITION);
        EXPECT_EQ(state & (MF_SEPARATOR | MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_DEFAULT), 0u);
    }
    EXPECT_EQ(::GetMenuDefaultItem(popup.m_hMenu, FALSE, 0), static_cast<UINT>(-1));
}

TEST(MenuOwnership, OwnedMenusAreDestroyedBorrowedOnesAreNot) {
    HMENU loaded = nullptr;
    HMENU sub = nullptr;
    {
        CMenu menu;
        ASSERT_TRUE(menu.LoadMenu(IDR_TRAY_MENU));
        loaded = menu.m_hMenu;
        {
            CMenu popup = menu.GetSubMenu(0);
            sub = popup.m_hMenu;
        }
        EXPECT_TRUE(::IsMenu(sub)) << "letting go of a sub-menu must not destroy it";
        EXPECT_FALSE(menu.Attach(::CreatePopupMenu())) << "holds one already";
    }
    EXPECT_FALSE(::IsMenu(loaded)) << "the owner's end destroys the menu";

    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(IDR_TRAY_MENU));
    HMENU kept = menu.Detach();
    EXPECT_EQ(menu.m_hMenu, nullptr);
    EXPECT_TRUE(::IsMenu(kept));

    CMenu moved;
    ASSERT_TRUE(moved.Attach(kept));
    CMenu target = std::move(moved);
    EXPECT_EQ(moved.m_hMenu, nullptr);
    EXPECT_TRUE(target.DestroyMenu());
    EXPECT_EQ(target.m_hMenu, nullptr);
    EXPECT_FALSE(::IsMenu(kept));
}

namespace {

// Opens the tray menu's popup from a timer and picks its second item with the
// keyboard, as a user would.
class MenuOwnerDialog : public CDialog {
public:
    MenuOwnerDialog() : CDialog(IDD_ORLIVANSYSTRAY_DIALOG) {}
    std::vector<UINT> commands;
    BOOL tracked = FALSE;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        ::SetTimer(m_hWnd, 1, 100, nullptr);
        return TRUE;
    }

protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnMessage<&MenuOwnerDialog::OnTimer>(WM_TIMER),
            OnCommand<&MenuOwnerDialog::OnCheckUpdate>(ID_CHECK_UPDATE),
            OnCommand<&MenuOwnerDialog::OnSettings>(ID_SETTINGS),
        };
        static const MessageMap map = MakeMessageMap(CDialog::GetMessageMap(), entries);
        return &map;
    }

    LRESULT OnTimer(WPARAM id, LPARAM) {
        if (id == 1) {
            ::KillTimer(m_hWnd, 1);
            ::SetTimer(m_hWnd, 2, 300, nullptr);
            CMenu menu;
            menu.LoadMenu(IDR_TRAY_MENU);
            CMenu popup = menu.GetSubMenu(0);
            ::SetForegroundWindow(m_hWnd);
            tracked =
                popup.TrackPopupMenu(TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, 50, 50, this);
            menu.DestroyMenu();
            ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        } else if (id == 2) {
            // Runs inside the menu's own loop.
            ::KillTimer(m_hWnd, 2);
            if (HWND popupWindow = ::FindWindowW(L"#32768", nullptr)) {
                ::PostMessageW(popupWindow, WM_KEYDOWN, VK_DOWN, 0);
                ::PostMessageW(popupWindow, WM_KEYDOWN, VK_DOWN, 0);
                ::PostMessageW(popupWindow, WM_KEYDOWN, VK_RETURN, 0);
            }
        }
        return 0;
    }
    void OnCheckUpdate() { commands.push_back(ID_CHECK_UPDATE); }
    void OnSettings() { commands.push_back(ID_SETTINGS); }
};

}  // namespace

TEST(TrayMenu, ChosenItemReachesTheOwnersMessageMap) {
    MenuOwnerDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(dialog.tracked);
    EXPECT_EQ(dialog.commands, std::vector<UINT>{ID_CHECK_UPDATE});
}
