// The program's resources as compiled: dialog templates read back field by
// field (resource compilers add style bits of their own), the icon group and
// the manifest.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/resources/resource.h"

namespace {

std::pair<const BYTE*, DWORD> Resource(const wchar_t* type, UINT id) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) {
        return {nullptr, 0};
    }
    return {static_cast<const BYTE*>(::LockResource(::LoadResource(module, found))),
            ::SizeofResource(module, found)};
}

struct Control {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::wstring className;
    std::wstring text;
};

struct Template {
    DWORD style = 0;
    DWORD exStyle = 0;
    short cx = 0, cy = 0;
    std::wstring caption;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::wstring font;
    std::vector<Control> controls;
};

// Reads an extended dialog template (the only kind the program has).
class TemplateReader {
public:
    TemplateReader(const BYTE* data, DWORD size) : m_data(data), m_size(size) {}

    bool Read(Template& out) {
        if (Word() != 1 || Word() != 0xFFFF) {
            return false;
        }
        Dword();  // help ID
        out.exStyle = Dword();
        out.style = Dword();
        const WORD count = Word();
        Word(), Word();  // x, y
        out.cx = static_cast<short>(Word());
        out.cy = static_cast<short>(Word());
        NameOrOrdinal();  // menu
        NameOrOrdinal();  // class
        out.caption = String();
        if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
            out.pointSize = Word();
            out.weight = Word();
            out.italic = Byte();
            out.charset = Byte();
            out.font = String();
        }
        for (WORD i = 0; i < count && m_ok; ++i) {
            Align();
            Control c;
            Dword();  // help ID
            c.exStyle = Dword();
            c.style = Dword();
            c.x = static_cast<short>(Word());
            c.y = static_cast<short>(Word());
            c.cx = static_cast<short>(Word());
            c.cy = static_cast<short>(Word());
            c.id = static_cast<int>(Dword());
            c.className = NameOrOrdinal();
            c.text = NameOrOrdinal();
            m_at += Word();  // creation data
            out.controls.push_back(c);
        }
        return m_ok && m_at <= m_size;
    }

private:
    BYTE Byte() { return Take(1) ? m_data[m_at - 1] : 0; }
    WORD Word() {
        WORD w = 0;
        if (Take(2))
            std::memcpy(&w, m_data + m_at - 2, 2);
        return w;
    }
    DWORD Dword() {
        DWORD d = 0;
        if (Take(4))
            std::memcpy(&d, m_data + m_at - 4, 4);
        return d;
    }
    std::wstring String() {
        std::wstring s;
        for (WORD w = Word(); w != 0 && m_ok; w = Word()) {
            s += static_cast<wchar_t>(w);
        }
        return s;
    }
    // Predefined control classes are stored as ordinals.
    std::wstring NameOrOrdinal() {
        const WORD first = Word();
        if (first == 0) {
            return L"";
        }
        if (first == 0xFFFF) {
            switch (const WORD ordinal = Word()) {
                case 0x80:
                    return L"Button";
                case 0x82:
                    return L"Static";
                default:
                    return L"#" + std::to_wstring(ordinal);
            }
        }
        std::wstring s(1, static_cast<wchar_t>(first));
        for (WORD w = Word(); w != 0 && m_ok; w = Word()) {
            s += static_cast<wchar_t>(w);
        }
        return s;
    }
    void Align() { m_at = (m_at + 3) & ~static_cast<DWORD>(3); }
    bool Take(DWORD n) {
        if (m_at + n > m_size) {
            m_ok = false;
            return false;
        }
        m_at += n;
        return true;
    }

    const BYTE* m_data;
    DWORD m_size;
    DWORD m_at = 0;
    bool m_ok = true;
};

Template LoadTemplate(UINT id) {
    Template t;
    auto [data, size] = Resource(RT_DIALOG, id);
    EXPECT_NE(data, nullptr) << id;
    if (data != nullptr) {
        EXPECT_TRUE(TemplateReader(data, size).Read(t)) << id;
    }
    return t;
}

void ExpectControl(const Control& c, int id, const wchar_t* className, const wchar_t* text,
                   DWORD style, short x, short y, short cx, short cy) {
    SCOPED_TRACE(id);
    EXPECT_EQ(c.id, id);
    // Class names are case-insensitive; compilers store them in either case.
    EXPECT_EQ(::lstrcmpiW(c.className.c_str(), className), 0) << c.className;
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.style, style) << std::hex << c.style;
    EXPECT_EQ(c.exStyle, 0u);
    EXPECT_EQ((std::vector<short>{c.x, c.y, c.cx, c.cy}), (std::vector<short>{x, y, cx, cy}));
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

BOOL CALLBACK NoteFound(HMODULE, LPCWSTR, LPWSTR, LONG_PTR found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

// A setting of the process's manifest as the activation context reports it;
// empty when it has none.
std::wstring ManifestSetting(const wchar_t* nameSpace, const wchar_t* name) {
    wchar_t value[128] = {};
    SIZE_T written = 0;
    if (!::QueryActCtxSettingsW(0, nullptr, nameSpace, name, value, 128, &written)) {
        return L"";
    }
    return value;
}

// The Windows versions the process's manifest names as supported, in order.
std::vector<std::wstring> SupportedSystems() {
    alignas(8) BYTE buffer[1024] = {};
    SIZE_T written = 0;
    std::vector<std::wstring> ids;
    if (!::QueryActCtxW(0, nullptr, nullptr, CompatibilityInformationInActivationContext, buffer,
                        sizeof buffer, &written)) {
        ADD_FAILURE() << "QueryActCtxW error " << ::GetLastError();
        return ids;
    }
    // A count, then per element a GUID and its type; newer systems add a 64-bit
    // "highest version tested" to each element, which aligns them to 8 bytes.
    DWORD count = 0;
    std::memcpy(&count, buffer, sizeof count);
    const bool wide = written == 8 + 32 * static_cast<SIZE_T>(count);
    const size_t first = wide ? 8 : 4, stride = wide ? 32 : 20;
    for (DWORD i = 0; i < count && first + (i + 1) * stride <= written; ++i) {
        GUID id;
        DWORD type = 0;
        std::memcpy(&id, buffer + first + i * stride, sizeof id);
        std::memcpy(&type, buffer + first + i * stride + sizeof id, sizeof type);
        if (type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS) {
            wchar_t text[40] = {};
            ::StringFromGUID2(id, text, 40);
            ids.emplace_back(text);
        }
    }
    return ids;
}

}  // namespace

TEST(DialogTemplates, UpdateOfferExactly) {
    const Template t = LoadTemplate(IDD_UPDATE_DIALOG);
    // 0x14C802C8 without DS_SETFOREGROUND: an offer a notification brings
    // must not take the keyboard.
    EXPECT_EQ(t.style, 0x14C800C8u) << std::hex << t.style;
    EXPECT_EQ(t.exStyle, 0x40100u) << std::hex << t.exStyle;
    EXPECT_EQ(t.cx, 309);
    EXPECT_EQ(t.cy, 151);
    EXPECT_EQ(t.caption, L"Orlivan Update");
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, DEFAULT_CHARSET);
    // In reading order: the offer, the progress bar's label, the bar, the buttons.
    ASSERT_EQ(t.controls.size(), 5u);
    ExpectControl(t.controls[0], 1001, L"Static", L"Downloading Files...",
                  kChild | WS_GROUP | SS_LEFT, 14, 20, 268, 88);
    ExpectControl(t.controls[1], 1002, L"Static", L"Please wait...",
                  kChild | WS_GROUP | SS_WORDELLIPSIS | SS_LEFTNOWORDWRAP, 20, 58, 114, 8);
    ExpectControl(t.controls[2], 1000, L"msctls_progress32", L"", kChild | WS_BORDER | PBS_SMOOTH,
                  19, 68, 268, 10);
    ExpectControl(t.controls[3], IDOK, L"Button", L"OK", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON,
                  186, 123, 50, 16);
    ExpectControl(t.controls[4], IDCANCEL, L"Button", L"Cancel",
                  kChild | WS_TABSTOP | BS_PUSHBUTTON, 245, 123, 50, 16);
}

TEST(DialogTemplates, HiddenMainDialog) {
    const Template t = LoadTemplate(IDD_ORLIVANSYSTRAY_DIALOG);
    EXPECT_EQ(t.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SHELLFONT))
        << std::hex << t.style;
    EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
    EXPECT_EQ(t.cx, 320);
    EXPECT_EQ(t.cy, 200);
    EXPECT_EQ(t.caption, L"OrlivanSysTray");
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    ASSERT_EQ(t.controls.size(), 3u);
    EXPECT_EQ(t.controls[0].id, IDOK);
    EXPECT_EQ(t.controls[0].style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(t.controls[1].id, IDCANCEL);
    EXPECT_EQ(t.controls[1].style & 0xF, static_cast<DWORD>(BS_PUSHBUTTON));
    EXPECT_EQ(t.controls[2].className, L"Static");
    EXPECT_FALSE(t.controls[2].text.empty());
}

TEST(DialogTemplates, AboutDialog) {
    const Template t = LoadTemplate(IDD_INFO_DIALOG);
    EXPECT_EQ(t.style,
              static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT))
        << std::hex << t.style;
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.cx, 167);
    EXPECT_EQ(t.cy, 127);
    EXPECT_EQ(t.caption, L"Orlivan Info");
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 400);
    // In reading order: the version, the maker and contacts, OK.
    ASSERT_EQ(t.controls.size(), 3u);
    ExpectControl(t.controls[2], IDOK, L"Button", L"OK", kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 57,
                  96, 53, 16);
    const Control& text = t.controls[1];
    EXPECT_EQ(text.id, IDC_STATIC);
    EXPECT_EQ(text.style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
    EXPECT_EQ((std::vector<short>{text.x, text.y, text.cx, text.cy}),
              (std::vector<short>{22, 33, 124, 51}));
    EXPECT_NE(text.text.find(L"@"), std::wstring::npos) << "a support e-mail address";
    ExpectControl(t.controls[0], IDC_INFO_VERSION, L"Static", L"Version",
                  kChild | WS_GROUP | SS_CENTER | SS_CENTERIMAGE, 32, 15, 110, 10);
}

TEST(ApplicationIcon, TwentyFourImagesInEightSizesAndThreeDepths) {
    auto [data, size] = Resource(RT_GROUP_ICON, IDR_MAINFRAME);
    ASSERT_NE(data, nullptr);
    ASSERT_GE(size, 6u);
    WORD header[3];
    std::memcpy(header, data, sizeof header);
    EXPECT_EQ(header[1], 1);  // icons, not cursors
    ASSERT_EQ(header[2], 24);
    ASSERT_GE(size, 6u + 24u * 14u);
    std::vector<std::pair<int, int>> images;
    for (int i = 0; i < 24; ++i) {
        const BYTE* entry = data + 6 + 14 * i;
        WORD bits = 0;
        std::memcpy(&bits, entry + 6, 2);
        images.emplace_back(entry[0] == 0 ? 256 : entry[0], bits);
    }
    // The small and large icon sizes at 100 %, 125 %, 150 % and 200 % scale.
    for (int px : {16, 20, 24, 32, 40, 48, 64, 256}) {
        for (int bits : {4, 24, 32}) {
            EXPECT_EQ(std::count(images.begin(), images.end(), std::make_pair(px, bits)), 1)
                << px << " px, " << bits << " bit";
        }
    }
    EXPECT_NE(::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)), nullptr);
    HANDLE small = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                IMAGE_ICON, 16, 16, 0);
    EXPECT_NE(small, nullptr);
    ::DestroyIcon(static_cast<HICON>(small));
}

TEST(ProgramResources, ManifestAndNoStringTable) {
    auto [data, size] = Resource(RT_MANIFEST, 1);
    ASSERT_NE(data, nullptr);
    const std::string manifest(reinterpret_cast<const char*>(data), size);
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);

    // How the system itself reads the manifest (this process carries it too).
    EXPECT_EQ(
        ManifestSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
        L"true/pm");
    EXPECT_EQ(
        ManifestSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
        L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(SupportedSystems(), (std::vector<std::wstring>{
                                      L"{35138B9A-5D96-4FBD-8E2D-A2440225F93A}",  // 7
                                      L"{4A2F28E3-53B9-4441-BA9C-D69D4A4A6E38}",  // 8
                                      L"{1F676C76-80E1-4239-95BB-83D0F6D0DA78}",  // 8.1
                                      L"{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}",  // 10, 11
                                  }));
    using GetContext = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using GetAwareness = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    auto getContext = reinterpret_cast<GetContext>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    auto getAwareness = reinterpret_cast<GetAwareness>(
        reinterpret_cast<void*>(::GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (getContext != nullptr && getAwareness != nullptr) {  // Windows 10 1607 and later
        EXPECT_EQ(getAwareness(getContext()), DPI_AWARENESS_PER_MONITOR_AWARE);
    }

    bool anyStrings = false;
    ::EnumResourceNamesW(::GetModuleHandleW(nullptr), RT_STRING, &NoteFound,
                         reinterpret_cast<LONG_PTR>(&anyStrings));
    EXPECT_FALSE(anyStrings);
}
