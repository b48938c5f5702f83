#include "app/localized_ui.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/resources/resource.h"
#include "base/language.h"
#include "base/messages.h"
#include "base/text.h"
#include "base/wide_text_win.h"

namespace {

struct ControlText {
    int templateId;
    int controlId;  // 0: the dialog's caption; IDC_STATIC: its one static without an id
    MessageId text;
};

constexpr ControlText kDialogTexts[] = {
    {IDD_ORLIVANSYSTRAY_DIALOG, IDOK, MessageId::ButtonOk},
    {IDD_ORLIVANSYSTRAY_DIALOG, IDCANCEL, MessageId::ButtonCancel},
    {IDD_ORLIVANSYSTRAY_DIALOG, IDC_STATIC, MessageId::MainDialogText},
    {IDD_UPDATE_DIALOG, 0, MessageId::UpdateDialogTitle},
    {IDD_UPDATE_DIALOG, IDOK, MessageId::ButtonOk},
    {IDD_UPDATE_DIALOG, IDCANCEL, MessageId::ButtonCancel},
    {IDD_UPDATE_DIALOG, IDC_UPDATE_MESSAGE, MessageId::UpdateDownloading},
    {IDD_UPDATE_DIALOG, IDC_UPDATE_WAIT, MessageId::UpdatePleaseWait},
    {IDD_INFO_DIALOG, 0, MessageId::AboutTitle},
    {IDD_INFO_DIALOG, IDOK, MessageId::ButtonOk},
    {IDD_INFO_DIALOG, IDC_STATIC, MessageId::AboutText},
};

struct MenuText {
    UINT command;
    MessageId text;
};

constexpr MenuText kMenuTexts[] = {
    {ID_SETTINGS, MessageId::MenuSettings},
    {ID_CHECK_UPDATE, MessageId::MenuCheckUpdate},
    {ID_ONLINE_HELP, MessageId::MenuOnlineHelp},
    {ID_REPORT_PROBLEM, MessageId::MenuReportProblem},
    {ID_ABOUT, MessageId::MenuAbout},
};

std::wstring Wide(MessageId id) {
    return ToWideString(MessageText16(id));
}

// The user's preferred UI languages, most wanted first.
std::vector<std::string> UserUiLanguages() {
    std::vector<std::string> names;
    ULONG count = 0, size = 0;
    if (::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &size) && size > 0) {
        std::wstring list(size, L'\0');
        if (::GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, list.data(), &size)) {
            for (const wchar_t* name = list.c_str(); *name != L'\0'; name += wcslen(name) + 1) {
                names.push_back(Utf16ToUtf8(std::u16string(name, name + wcslen(name))));
            }
        }
    }
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    if (::LCIDToLocaleName(MAKELCID(::GetUserDefaultUILanguage(), SORT_DEFAULT), name,
                           LOCALE_NAME_MAX_LENGTH, 0) > 0) {
        names.push_back(Utf16ToUtf8(std::u16string(name, name + wcslen(name))));
    }
    return names;
}

bool IsPushButton(HWND control, LONG style) {
    wchar_t className[16] = {};
    ::GetClassNameW(control, className, 16);
    const LONG kind = style & BS_TYPEMASK;
    return lstrcmpiW(className, L"Button") == 0 &&
           (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON);
}

bool IsMultiLineStatic(HWND control, LONG style) {
    wchar_t className[16] = {};
    ::GetClassNameW(control, className, 16);
    const LONG kind = style & SS_TYPEMASK;
    return lstrcmpiW(className, L"Static") == 0 &&
           (kind == SS_LEFT || kind == SS_CENTER || kind == SS_RIGHT) &&
           (style & SS_CENTERIMAGE) == 0;
}

struct Child {
    HWND window;
    RECT rect;  // in the dialog's client coordinates
    bool centered = false;
};

std::vector<Child> Children(HWND dialog) {
    std::vector<Child> children;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        RECT rect{};
        ::GetWindowRect(child, &rect);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        children.push_back({child, rect});
    }
    return children;
}

bool Overlap(LONG a1, LONG a2, LONG b1, LONG b2) {
    return a1 < b2 && b1 < a2;
}

}  // namespace

void ChooseUserLanguage() {
    SetMessageLanguage(
        ChooseLanguage(WindowsLanguagePreferences(std::getenv("ORLIVAN_LANG"), UserUiLanguages())));
}

void LocalizeMenu(HMENU menu) {
    for (int i = 0, count = ::GetMenuItemCount(menu); i < count; ++i) {
        if (HMENU sub = ::GetSubMenu(menu, i); sub != nullptr) {
            LocalizeMenu(sub);
            continue;
        }
        const UINT command = ::GetMenuItemID(menu, i);
        for (const MenuText& item : kMenuTexts) {
            if (item.command == command) {
                std::wstring text = Wide(item.text);
                MENUITEMINFOW info{};
                info.cbSize = sizeof info;
                info.fMask = MIIM_STRING;
                info.dwTypeData = text.data();
                ::SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
            }
        }
    }
}

SIZE NeededTextSize(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    if (length <= 0) {
        return {0, 0};
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), length + 1)));
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    RECT client{};
    ::GetClientRect(control, &client);
    HDC dc = ::GetDC(control);
    const HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    const bool multiLine = IsMultiLineStatic(control, style);
    RECT needed{0, 0, multiLine ? client.right : 0, 0};
    UINT format = DT_CALCRECT | DT_EXPANDTABS | (multiLine ? DT_WORDBREAK : DT_SINGLELINE);
    if ((style & SS_NOPREFIX) != 0 && !IsPushButton(control, style)) {
        format |= DT_NOPREFIX;
    }
    ::DrawTextW(dc, text.c_str(), -1, &needed, format);
    SIZE size{needed.right, needed.bottom};
    if (IsPushButton(control, style)) {
        // The frame and focus rectangle take about a character's width on
        // each side of a button's text.
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc, &metrics);
        size.cx += 2 * metrics.tmAveCharWidth + 2 * ::GetSystemMetrics(SM_CXEDGE);
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    return size;
}

void LocalizeDialog(HWND dialog, int templateId) {
    for (const ControlText& entry : kDialogTexts) {
        if (entry.templateId != templateId) {
            continue;
        }
        HWND target = entry.controlId == 0 ? dialog : ::GetDlgItem(dialog, entry.controlId);
        if (target != nullptr) {
            ::SetWindowTextW(target, Wide(entry.text).c_str());
        }
    }
    FitDialogToTexts(dialog);
}

void FitDialogToTexts(HWND dialog) {
    RECT client{};
    ::GetClientRect(dialog, &client);
    std::vector<Child> children = Children(dialog);
    LONG right = 0, bottom = 0;
    for (const Child& child : children) {
        right = std::max(right, child.rect.right);
        bottom = std::max(bottom, child.rect.bottom);
    }
    const LONG marginX = std::max<LONG>(client.right - right, 0);
    const LONG marginY = std::max<LONG>(client.bottom - bottom, 0);
    for (Child& child : children) {
        child.centered = std::abs(child.rect.left - (client.right - child.rect.right)) <= 2;
    }

    bool changed = false;
    for (Child& grown : children) {
        const SIZE needed = NeededTextSize(grown.window);
        const LONG dx = needed.cx - (grown.rect.right - grown.rect.left);
        const LONG dy = needed.cy - (grown.rect.bottom - grown.rect.top);
        const RECT before = grown.rect;
        for (Child& other : children) {
            if (&other == &grown) {
                continue;
            }
            // Controls beside it move right, controls below it move down.
            if (dx > 0 && other.rect.left >= before.right &&
                Overlap(other.rect.top, other.rect.bottom, before.top, before.bottom)) {
                ::OffsetRect(&other.rect, dx, 0);
            }
            if (dy > 0 && other.rect.top >= before.bottom) {
                ::OffsetRect(&other.rect, 0, dy);
            }
        }
        grown.rect.right += std::max<LONG>(dx, 0);
        grown.rect.bottom += std::max<LONG>(dy, 0);
        changed = changed || dx > 0 || dy > 0;
    }
    if (!changed) {
        return;
    }
    right = bottom = 0;
    for (const Child& child : children) {
        right = std::max(right, child.rect.right);
        bottom = std::max(bottom, child.rect.bottom);
    }
    const LONG width = std::max(client.right, right + marginX);
    for (Child& child : children) {
        // A control centred in the template stays centred in the grown dialog.
        if (child.centered) {
            ::OffsetRect(&child.rect, (width - child.rect.right - child.rect.left) / 2, 0);
        }
        ::SetWindowPos(child.window, nullptr, child.rect.left, child.rect.top,
                       child.rect.right - child.rect.left, child.rect.bottom - child.rect.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT frame{0, 0, width, std::max(client.bottom, bottom + marginY)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(dialog, GWL_EXSTYLE)));
    ::SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}
