#include "app/common_controls.h"

namespace {

const CommonControls* Load() {
    static CommonControls controls{};
    // By its name, not a path, so that the program's activation context picks
    // version 6; the search for it is kept to the system folder.
    const HMODULE library =
        ::LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        return nullptr;
    }
    using InitFunction = decltype(&::InitCommonControlsEx);
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "InitCommonControlsEx")));
    controls.loadIconMetric = reinterpret_cast<decltype(&::LoadIconMetric)>(
        reinterpret_cast<void*>(::GetProcAddress(library, "LoadIconMetric")));
    if (init == nullptr || controls.loadIconMetric == nullptr) {
        return nullptr;
    }
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_WIN95_CLASSES;
    return init(&classes) ? &controls : nullptr;
}

}  // namespace

const CommonControls* LoadCommonControls() {
    static const CommonControls* const controls = Load();
    return controls;
}

HICON LoadSmallIcon(HINSTANCE instance, PCWSTR id, const CommonControls* controls) {
    HICON icon = nullptr;
    if (controls != nullptr &&
        SUCCEEDED(controls->loadIconMetric(instance, id, LIM_SMALL, &icon))) {
        return icon;
    }
    return static_cast<HICON>(::LoadImageW(instance, id, IMAGE_ICON,
                                           ::GetSystemMetrics(SM_CXSMICON),
                                           ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}
