// The common controls loaded on demand, and the small icon with and without
// them.
#include "app/common_controls.h"

#include <gtest/gtest.h>

#include <string>

#include "app/resources/resource.h"

TEST(CommonControls, SmallIconAtTheSystemSizeWithAndWithoutTheLibrary) {
    const CommonControls* loaded = LoadCommonControls();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(LoadCommonControls(), loaded);
    // Version 6 from the side-by-side store, as the program's manifest asks,
    // not the system folder's version 5.
    HMODULE library = nullptr;
    ASSERT_TRUE(::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(loaded->loadIconMetric)), &library));
    wchar_t path[MAX_PATH] = {}, system[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(library, path, MAX_PATH), 0u);
    ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_NE(::lstrcmpiW(path, (std::wstring(system) + L"\\comctl32.dll").c_str()), 0) << path;
    for (const CommonControls* controls : {static_cast<const CommonControls*>(nullptr), loaded}) {
        SCOPED_TRACE(controls != nullptr);
        HICON icon = LoadSmallIcon(::GetModuleHandleW(nullptr),
                                   MAKEINTRESOURCEW(IDI_TRAY_DARK_TASKBAR), controls);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP mask{};
        ::GetObjectW(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, ::GetSystemMetrics(SM_CXSMICON));
        ::DeleteObject(info.hbmMask);
        if (info.hbmColor != nullptr) {
            ::DeleteObject(info.hbmColor);
        }
        ::DestroyIcon(icon);
    }
}
