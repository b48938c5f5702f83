#include "framework/menu.h"

#include <utility>

#include "framework/application.h"

CMenu::~CMenu() {
    DestroyMenu();
}

CMenu::CMenu(CMenu&& other) noexcept
    : m_hMenu(std::exchange(other.m_hMenu, nullptr)),
      m_owned(std::exchange(other.m_owned, false)) {}

CMenu& CMenu::operator=(CMenu&& other) noexcept {
    if (this != &other) {
        DestroyMenu();
        m_hMenu = std::exchange(other.m_hMenu, nullptr);
        m_owned = std::exchange(other.m_owned, false);
    }
    return *this;
}

BOOL CMenu::LoadMenu(UINT id) {
    return Attach(::LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(id)));
}

BOOL CMenu::Attach(HMENU menu) {
    if (menu == nullptr || m_hMenu != nullptr) {
        return FALSE;
    }
    m_hMenu = menu;
    m_owned = true;
    return TRUE;
}

HMENU CMenu::Detach() {
    m_owned = false;
    return std::exchange(m_hMenu, nullptr);
}

BOOL CMenu::DestroyMenu() {
    if (m_hMenu == nullptr) {
        return FALSE;
    }
    BOOL destroyed = TRUE;
    if (m_owned) {
        destroyed = ::DestroyMenu(m_hMenu);
    }
    m_hMenu = nullptr;
    m_owned = false;
    return destroyed;
}

CMenu CMenu::GetSubMenu(int position) const {
    CMenu sub;
    sub.m_hMenu = ::GetSubMenu(m_hMenu, position);
    return sub;
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, const RECT* exclude) const {
    return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner != nullptr ? owner->m_hWnd : nullptr,
                            exclude);
}
