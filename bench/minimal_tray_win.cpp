// The yardstick of the Windows notifier's start-up figure: the smallest tray
// program (a hidden window and its icon with a tip), with the notifier's
// manifest and icon, built in the same run. WM_CLOSE removes the icon and ends it.
#include <windows.h>
#include <shellapi.h>

namespace {

NOTIFYICONDATAW g_icon{};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            ::Shell_NotifyIconW(NIM_DELETE, &g_icon);
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"MinimalTray";
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, L"MinimalTray", L"minimal tray", WS_OVERLAPPED, 0, 0, 0, 0,
                                    nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    g_icon.cbSize = sizeof g_icon;
    g_icon.hWnd = window;
    g_icon.uID = 1;
    g_icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    g_icon.uCallbackMessage = WM_APP;
    g_icon.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXSMICON),
                                                   ::GetSystemMetrics(SM_CYSMICON), 0));
    ::lstrcpynW(g_icon.szTip, L"minimal tray", ARRAYSIZE(g_icon.szTip));
    ::Shell_NotifyIconW(NIM_ADD, &g_icon);
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
