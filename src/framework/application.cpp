#include "framework/application.h"

#include <vector>

namespace {

CWinApp* g_app = nullptr;

std::wstring RunningFilePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        if (buffer.size() >= 32768) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

CWinApp::CWinApp(const wchar_t* appName) {
    if (appName != nullptr) {
        m_appName = appName;
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

void CWinApp::SetRegistryKey(const wchar_t* key) {
    m_registryKey = key != nullptr ? key : L"";
}

int CWinApp::Run(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    app->m_hInstance = instance;
    app->m_threadId = ::GetCurrentThreadId();
    if (app->m_appName.empty()) {
        app->m_appName = AppNameFromModulePath(RunningFilePath());
    }
    app->InitInstance();
    return 0;
}

CWinApp* AfxGetApp() {
    return g_app;
}

const wchar_t* AfxGetAppName() {
    if (g_app != nullptr && !g_app->m_appName.empty()) {
        return g_app->m_appName.c_str();
    }
    static const std::wstring fromModule = AppNameFromModulePath(RunningFilePath());
    return fromModule.c_str();
}

CWnd* AfxGetMainWnd() {
    if (g_app == nullptr || g_app->m_threadId != ::GetCurrentThreadId()) {
        return nullptr;
    }
    return g_app->m_pMainWnd;
}

HINSTANCE AfxGetResourceHandle() {
    if (g_app != nullptr && g_app->m_hInstance != nullptr) {
        return g_app->m_hInstance;
    }
    return ::GetModuleHandleW(nullptr);
}

int AfxMessageBox(const wchar_t* text, UINT type) {
    return ::MessageBoxW(nullptr, text, AfxGetAppName(), type);
}

CWaitCursor::CWaitCursor() : m_previous(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}

CWaitCursor::~CWaitCursor() {
    ::SetCursor(m_previous != nullptr ? m_previous : ::LoadCursorW(nullptr, IDC_ARROW));
}

std::wstring AppNameFromModulePath(std::wstring_view modulePath) {
    const size_t slash = modulePath.find_last_of(L"\\/");
    std::wstring_view name =
        slash == std::wstring_view::npos ? modulePath : modulePath.substr(slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return std::wstring(name);
}

// The entry point of a program built on the framework: runs its application
// object. Kept in this file so that a program defining its application object
// (and so using CWinApp) always links it.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    return CWinApp::Run(instance);
}
