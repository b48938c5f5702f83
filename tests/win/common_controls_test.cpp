// The common controls loaded on demand, and the small icon with and without
// them.
#include "app/common_controls.h"

#include <gtest/gtest.h>

#include "app/resources/resource.h"

TEST(CommonControls, SmallIconAtTheSystemSizeWithAndWithoutTheLibrary) {
    const CommonControls* loaded = LoadCommonControls();
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(LoadCommonControls(), loaded);
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
    EXPECT_EQ(LoadSmallIcon(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(4242), loaded), nullptr);
}
