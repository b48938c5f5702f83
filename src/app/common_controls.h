// The common controls library, loaded when first needed rather than with the
// program: starting it (version 6, chosen by the program's manifest) is a good
// part of the start-up, and nothing before the tray icon needs it. The hidden
// main dialog holds only buttons and a static text; the progress bar of the
// update offer and the sharper icon loading come after the icon.
#pragma once

#include <windows.h>

#include <commctrl.h>

// The functions of the library this program calls.
struct CommonControls {
    decltype(&::LoadIconMetric) loadIconMetric;
};

// Loads the library and registers its window classes the first time (any
// thread); null when it or one of its functions can't be had. It stays loaded.
const CommonControls* LoadCommonControls();

// The icon `id` of `instance` at the small icon size (SM_CXSMICON by
// SM_CYSMICON): through the library's LoadIconMetric when `controls` is given,
// which scales down from a larger image when the file lacks that size, else
// (or when that fails) the image the file holds nearest that size. Null when
// neither gives one. Owned by the caller.
HICON LoadSmallIcon(HINSTANCE instance, PCWSTR id, const CommonControls* controls);
