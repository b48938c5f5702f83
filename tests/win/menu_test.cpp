// The tray menu resource through CMenu, and CMenu's ownership of menus.
#include "framework/menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/resources/resource.h"

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
