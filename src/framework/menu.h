// Menus loaded from the program's resources.
#pragma once

#include <windows.h>

#include "framework/window.h"

class CMenu {
public:
    CMenu() = default;
    // Destroys the menu it owns (one loaded or attached), not a borrowed one.
    ~CMenu();
    CMenu(CMenu&& other) noexcept;
    CMenu& operator=(CMenu&& other) noexcept;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    // Loads menu resource `id` and owns it.
    BOOL LoadMenu(UINT id);
    // Takes ownership of `menu`; fails when this object already holds one.
    BOOL Attach(HMENU menu);
    // Gives up the menu without destroying it.
    HMENU Detach();
    // Destroys an owned menu with its sub-menus; a borrowed one is only let go.
    BOOL DestroyMenu();

    // The sub-menu at `position`, borrowed: it lives as long as this menu.
    // Holds no menu when there is none at that position.
    CMenu GetSubMenu(int position) const;

    // Shows the menu as a popup at (x, y) and returns when it closes; a chosen
    // item arrives at `owner` as WM_COMMAND.
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, const RECT* exclude = nullptr) const;

    HMENU m_hMenu = nullptr;

private:
    bool m_owned = false;
};
