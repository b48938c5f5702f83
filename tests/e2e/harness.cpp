#include "harness.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <thread>

#include "record_format.h"

namespace e2e {

// ---------------------------------------------------------------- outcome

void Fail(const std::string& message) {
    throw ScenarioFailure{message};
}

void Check(bool condition, const std::string& what) {
    if (!condition) {
        Fail("check failed: " + what);
    }
}

void CheckEqual(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    if (actual != expected) {
        Fail("expected " + what + " = \"" + Utf8(expected) + "\", got \"" + Utf8(actual) + "\"");
    }
}

void CheckEqual(long long actual, long long expected, const std::string& what) {
    if (actual != expected) {
        Fail("expected " + what + " = " + std::to_string(expected) + ", got " +
             std::to_string(actual));
    }
}

void Note(const std::string& message) {
    std::printf("  . %s\n", message.c_str());
    std::fflush(stdout);
}

// ---------------------------------------------------------------- text

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string Hex(unsigned long long value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llX", value);
    return buffer;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    auto trimmed = [](std::wstring path) {
        if (path.size() > 3 && path.back() == L'\\') {
            path.pop_back();
        }
        for (auto& c : path) {
            c = static_cast<wchar_t>(std::towlower(c));
        }
        return path;
    };
    return trimmed(a) == trimmed(b);
}

// ---------------------------------------------------------------- waiting

bool WaitFor(const std::function<bool()>& predicate, Millis timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        Sleep(50);
    }
}

void WaitOrFail(const std::function<bool()>& predicate, Millis timeout, const std::string& what) {
    if (!WaitFor(predicate, timeout)) {
        Fail("timed out after " + std::to_string(timeout.count()) + " ms waiting for " + what);
    }
}

void Pause(Millis duration) {
    Sleep(static_cast<DWORD>(duration.count()));
}

// ---------------------------------------------------------------- tray calls

namespace {

// The record Wine's Shell_NotifyIconW hands to the notification area in
// WM_COPYDATA; icon bits follow it when an icon is set.
struct NotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    UINT uTimeoutOrVersion;
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    UINT width;
    UINT height;
    UINT planes;
    UINT bpp;
};
static_assert(offsetof(NotifyData, szTip) == 16);
static_assert(offsetof(NotifyData, szInfo) == 280);
static_assert(offsetof(NotifyData, uTimeoutOrVersion) == 792);
static_assert(offsetof(NotifyData, dwInfoFlags) == 924);
static_assert(offsetof(NotifyData, width) == 944);
static_assert(sizeof(NotifyData) == 960);

std::wstring BoundedText(const WCHAR* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != L'\0') {
        ++length;
    }
    return std::wstring(text, length);
}

const char* MessageName(DWORD message) {
    switch (message) {
        case NIM_ADD:
            return "NIM_ADD";
        case NIM_MODIFY:
            return "NIM_MODIFY";
        case NIM_DELETE:
            return "NIM_DELETE";
        case NIM_SETVERSION:
            return "NIM_SETVERSION";
        default:
            return "NIM_?";
    }
}

std::mutex g_trayLock;
std::vector<TrayCall> g_trayCalls;
int g_refuseAdds = 0;
bool g_acceptVersions = false;
// Icon bits beyond this are not kept (a 64 x 64 32-bit icon needs 16.9 kB).
constexpr size_t kMaxIconBits = 64 * 1024;

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        return Tray().OnCopyData(reinterpret_cast<HWND>(wParam),
                                 reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::string Describe(const TrayCall& call) {
    std::string text = std::string(MessageName(call.message)) +
                       " hWnd=" + Hex(reinterpret_cast<uintptr_t>(call.hWnd)) +
                       " pid=" + std::to_string(call.processId) +
                       " uID=" + std::to_string(call.uID) + " uFlags=" + Hex(call.uFlags);
    if (call.uFlags & NIF_MESSAGE) {
        text += " uCallbackMessage=" + Hex(call.uCallbackMessage);
    }
    if (call.uFlags & NIF_ICON) {
        text += " icon=" + std::to_string(call.iconWidth) + "x" + std::to_string(call.iconHeight) +
                "x" + std::to_string(call.iconBitsPerPixel);
    }
    if (call.uFlags & NIF_TIP) {
        text += " tip=\"" + Utf8(call.tip) + "\"";
    }
    if (call.uFlags & NIF_INFO) {
        text += " infoTitle=\"" + Utf8(call.infoTitle) + "\" info=\"" + Utf8(call.info) +
                "\" infoFlags=" + Hex(call.infoFlags) +
                " timeout=" + std::to_string(call.timeoutOrVersion);
    }
    if (!call.answered) {
        text += " (refused)";
    }
    return text;
}

LRESULT FakeTray::OnCopyData(HWND from, const COPYDATASTRUCT* data) {
    (void)from;
    if (data == nullptr || data->cbData < sizeof(NotifyData) || data->lpData == nullptr) {
        Note("notification area: ignored a WM_COPYDATA of " +
             std::to_string(data ? data->cbData : 0) + " bytes");
        return FALSE;
    }
    NotifyData raw;
    std::memcpy(&raw, data->lpData, sizeof raw);
    TrayCall call;
    call.message = static_cast<DWORD>(data->dwData);
    call.hWnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<ULONG>(raw.hWnd)));
    call.uID = raw.uID;
    call.uFlags = raw.uFlags;
    call.uCallbackMessage = raw.uCallbackMessage;
    call.tip = BoundedText(raw.szTip, 128);
    call.state = raw.dwState;
    call.stateMask = raw.dwStateMask;
    call.info = BoundedText(raw.szInfo, 256);
    call.timeoutOrVersion = raw.uTimeoutOrVersion;
    call.infoTitle = BoundedText(raw.szInfoTitle, 64);
    call.infoFlags = raw.dwInfoFlags;
    call.iconWidth = raw.width;
    call.iconHeight = raw.height;
    call.iconBitsPerPixel = raw.bpp;
    if ((raw.uFlags & NIF_ICON) != 0) {
        const size_t extra = data->cbData - sizeof raw;
        call.iconBits.assign(static_cast<const char*>(data->lpData) + sizeof raw,
                             extra < kMaxIconBits ? extra : kMaxIconBits);
    }
    GetWindowThreadProcessId(call.hWnd, &call.processId);
    call.when = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(g_trayLock);
        if (call.message == NIM_ADD && g_refuseAdds > 0) {
            --g_refuseAdds;
            call.answered = FALSE;
        }
        if (call.message == NIM_SETVERSION && !g_acceptVersions) {
            call.answered = FALSE;
        }
        g_trayCalls.push_back(call);
    }
    Note("tray call: " + Describe(call));
    return call.answered;
}

void FakeTray::Create() {
    // The desktop's explorer owns a Shell_TrayWnd of its own; Shell_NotifyIconW
    // takes the one highest in z-order, so this one must come after it and stay
    // on top.
    GetDesktopWindow();
    if (!WaitFor([] { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }, Millis(10000))) {
        Note("the desktop shows no notification area of its own");
    }
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = TrayWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"Shell_TrayWnd";
    if (RegisterClassW(&windowClass) == 0) {
        Fail("cannot register the Shell_TrayWnd class: error " + std::to_string(GetLastError()));
    }
    m_window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0,
                               0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (m_window == nullptr) {
        Fail("cannot create the notification area window: error " + std::to_string(GetLastError()));
    }
    if (FindWindowExW(nullptr, nullptr, L"Shell_TrayWnd", nullptr) != m_window) {
        Fail("Shell_NotifyIconW would not reach the test's notification area window");
    }
}

std::vector<TrayCall> FakeTray::Calls() const {
    std::lock_guard<std::mutex> lock(g_trayLock);
    return g_trayCalls;
}

std::vector<TrayCall> FakeTray::CallsFrom(DWORD processId, DWORD message) const {
    std::vector<TrayCall> result;
    for (const auto& call : Calls()) {
        if (call.processId == processId && call.message == message) {
            result.push_back(call);
        }
    }
    return result;
}

TrayCall FakeTray::WaitForCall(DWORD processId, DWORD message, std::size_t count,
                               Millis timeout) const {
    std::vector<TrayCall> calls;
    WaitOrFail(
        [&] {
            calls = CallsFrom(processId, message);
            return calls.size() >= count;
        },
        timeout,
        "tray call " + std::string(MessageName(message)) + " number " + std::to_string(count) +
            " from process " + std::to_string(processId) + " (" + std::to_string(calls.size()) +
            " so far)");
    return calls[count - 1];
}

void FakeTray::AcceptVersions(bool accept) {
    std::lock_guard<std::mutex> lock(g_trayLock);
    g_acceptVersions = accept;
}

void FakeTray::RefuseAdds(int n) {
    std::lock_guard<std::mutex> lock(g_trayLock);
    g_refuseAdds = n;
}

FakeTray& Tray() {
    static FakeTray tray;
    return tray;
}

// ---------------------------------------------------------------- prefix

namespace {
Setup g_setup;
}

const Setup& TheSetup() {
    return g_setup;
}
void SetSetup(const Setup& setup) {
    g_setup = setup;
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
    if (!FolderExists(path)) {
        Fail("cannot create folder " + Utf8(path));
    }
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail("cannot open " + Utf8(path) + ": error " + std::to_string(GetLastError()));
    }
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
        if (bytes.size() > (16u << 20)) {
            break;
        }
    }
    CloseHandle(file);
    return bytes;
}

namespace {

void SetRegistryText(HKEY root, const wchar_t* key, const wchar_t* name,
                     const std::wstring& value) {
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) {
        Fail("cannot create registry key " + Utf8(key) + ": error " + std::to_string(status));
    }
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) {
        Fail("cannot write registry value " + Utf8(key) + "\\" + Utf8(name ? name : L"(default)") +
             ": error " + std::to_string(status));
    }
}

}  // namespace

const wchar_t* const kStandardInstallFolder = L"C:\\Program Files\\Orlivan Filter\\";

void SetInstallPath(const std::wstring& folder) {
    SetRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlivan", L"Install Path", folder);
}

void RemoveInstallKey() {
    LONG status = RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlivan");
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        Fail("cannot delete HKLM\\SOFTWARE\\Orlivan: error " + std::to_string(status));
    }
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Orlivan", 0, KEY_READ, &handle) ==
        ERROR_SUCCESS) {
        RegCloseKey(handle);
        Fail("HKLM\\SOFTWARE\\Orlivan still exists after deleting it");
    }
}

std::wstring ReadVolatileEnvironment(const std::wstring& name) {
    wchar_t buffer[4096];
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    LONG status = RegGetValueW(HKEY_CURRENT_USER, L"Volatile Environment", name.c_str(),
                               RRF_RT_REG_SZ | RRF_NOEXPAND, &type, buffer, &size);
    if (status != ERROR_SUCCESS) {
        Fail("HKCU\\Volatile Environment has no " + Utf8(name) + ": error " +
             std::to_string(status));
    }
    return buffer;
}

void SetVolatileEnvironment(const std::wstring& name, const std::wstring& value) {
    SetRegistryText(HKEY_CURRENT_USER, L"Volatile Environment", name.c_str(), value);
}

void SetProfileFolder(const std::wstring& folder) {
    SetVolatileEnvironment(L"USERPROFILE", folder);
}

void SetDisplayDpi(DWORD dpi) {
    HKEY key = nullptr;
    Check(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS &&
              RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                             sizeof dpi) == ERROR_SUCCESS,
          "setting the display's DPI");
    RegCloseKey(key);
}

void DrawWindowFrames() {
    SetRegistryText(HKEY_CURRENT_USER, L"Software\\Wine\\X11 Driver", L"Managed", L"N");
}

std::wstring PlaceSettingsProgram(const std::wstring& installFolder) {
    MakeFolders(installFolder + L"User Interface Files");
    std::wstring path = installFolder + L"User Interface Files\\OrlivanUi.exe";
    if (!CopyFileW(TheSetup().recorder.c_str(), path.c_str(), FALSE)) {
        Fail("cannot copy the recorder to " + Utf8(path) + ": error " +
             std::to_string(GetLastError()));
    }
    return path;
}

void RegisterUrlHandler() {
    SetRegistryText(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", nullptr,
                    L"\"" + TheSetup().recorder + L"\" \"%1\"");
}

std::wstring ArrangeStandardInstall() {
    SetInstallPath(kStandardInstallFolder);
    RegisterUrlHandler();
    return PlaceSettingsProgram(kStandardInstallFolder);
}

// ---------------------------------------------------------------- recorder

std::string Describe(const Record& record) {
    std::string text =
        "module=\"" + Utf8(record.module) + "\" cwd=\"" + Utf8(record.currentFolder) + "\"";
    for (const auto& argument : record.arguments) {
        text += " arg=\"" + Utf8(argument) + "\"";
    }
    return text;
}

std::vector<Record> ReadRecords() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((TheSetup().records + L"\\*.txt").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::vector<Record> records;
    for (const auto& name : names) {
        Record record;
        record.file = TheSetup().records + L"\\" + name;
        std::string bytes = ReadFileBytes(record.file);
        size_t start = 0;
        while (start < bytes.size()) {
            size_t end = bytes.find('\n', start);
            if (end == std::string::npos) {
                end = bytes.size();
            }
            std::string line = bytes.substr(start, end - start);
            start = end + 1;
            size_t equals = line.find('=');
            if (equals == std::string::npos) {
                continue;
            }
            std::string key = line.substr(0, equals);
            std::wstring value = FromUtf8(line.substr(equals + 1));
            if (key == kKeyModule) {
                record.module = value;
            } else if (key == kKeyCurrentFolder) {
                record.currentFolder = value;
            } else if (key == kKeyCommandLine) {
                record.commandLine = value;
            } else if (key == kKeyArgument) {
                record.arguments.push_back(value);
            }
        }
        records.push_back(record);
    }
    return records;
}

std::vector<Record> WaitForRecords(std::size_t count, Millis timeout) {
    std::vector<Record> records;
    WaitOrFail(
        [&] {
            records = ReadRecords();
            return records.size() >= count;
        },
        timeout, std::to_string(count) + " recorded program start(s)");
    for (size_t i = count - 1; i < records.size(); ++i) {
        Note("record " + std::to_string(i + 1) + ": " + Describe(records[i]));
    }
    return records;
}

void ExpectRecordCountStays(std::size_t count, Millis settle, const std::string& after) {
    Pause(settle);
    auto records = ReadRecords();
    if (records.size() != count) {
        Fail("after " + after + " expected " + std::to_string(count) +
             " recorded program start(s), found " + std::to_string(records.size()) +
             (records.empty() ? "" : "; last: " + Describe(records.back())));
    }
}

// ---------------------------------------------------------------- notifier

namespace {
std::mutex g_processLock;
std::vector<HANDLE> g_processes;
}  // namespace

void EndStartedProcesses() {
    std::lock_guard<std::mutex> lock(g_processLock);
    for (HANDLE process : g_processes) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
    }
}

HANDLE StartProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    Check(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         nullptr, &startup, &info) != FALSE,
          "starting " + Utf8(commandLine));
    CloseHandle(info.hThread);
    return info.hProcess;
}

Notifier::~Notifier() {
    if (m_process == nullptr) {
        return;
    }
    if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
    std::lock_guard<std::mutex> lock(g_processLock);
    g_processes.erase(std::remove(g_processes.begin(), g_processes.end(), m_process),
                      g_processes.end());
    CloseHandle(m_process);
}

void Notifier::Start() {
    Launch(TheSetup().notifier.c_str(), L"\"" + TheSetup().notifier + L"\"");
}

void Notifier::StartCommandLine(const std::wstring& commandLine) {
    Launch(nullptr, commandLine);
}

void Notifier::Launch(const wchar_t* program, std::wstring commandLine) {
    Check(m_process == nullptr, "a Notifier object starts its program once");
    MakeFolders(TheSetup().work);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        TheSetup().work.c_str(), &startup, &info)) {
        Fail("cannot start " + Utf8(commandLine) + ": error " + std::to_string(GetLastError()));
    }
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    std::lock_guard<std::mutex> lock(g_processLock);
    g_processes.push_back(m_process);
    Note("started the notifier, process " + std::to_string(m_processId));
}

void Notifier::Attach(DWORD processId) {
    Check(m_process == nullptr, "a Notifier object takes on one program");
    m_process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                            FALSE, processId);
    Check(m_process != nullptr, "opening the notifier's process " + std::to_string(processId));
    m_processId = processId;
    std::lock_guard<std::mutex> lock(g_processLock);
    g_processes.push_back(m_process);
    Note("took on the notifier, process " + std::to_string(m_processId));
}

TrayCall Notifier::WaitForIcon(Millis timeout) {
    TrayCall call = WaitForTrayCall(NIM_ADD, 1, timeout);
    m_window = call.hWnd;
    return call;
}

std::vector<TrayCall> Notifier::TrayCalls(DWORD message) const {
    return Tray().CallsFrom(m_processId, message);
}

TrayCall Notifier::WaitForTrayCall(DWORD message, std::size_t count, Millis timeout) const {
    if (!Running() && Tray().CallsFrom(m_processId, message).size() < count) {
        Fail("the notifier is no longer running");
    }
    return Tray().WaitForCall(m_processId, message, count, timeout);
}

bool Notifier::Running() const {
    return m_process != nullptr && WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

void Notifier::WaitForExit(Millis timeout) {
    Check(m_process != nullptr, "the notifier was started");
    if (WaitForSingleObject(m_process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        Fail("the notifier did not end within " + std::to_string(timeout.count()) + " ms");
    }
}

DWORD Notifier::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    Check(m_process != nullptr && GetExitCodeProcess(m_process, &code) != FALSE && !Running(),
          "the notifier has ended");
    return code;
}

void Notifier::PostTrayEvent(UINT mouseMessage) const {
    Check(m_window != nullptr, "the notifier's window is known (icon added)");
    Check(PostMessageW(m_window, kTrayMessage, kTrayIconId, mouseMessage) != FALSE,
          "posting the tray callback to the notifier's window");
}

void Notifier::PostTrayEvent4(UINT event, POINT anchor) const {
    Check(m_window != nullptr, "the notifier's window is known (icon added)");
    Check(PostMessageW(m_window, kTrayMessage, MAKEWPARAM(anchor.x, anchor.y),
                       MAKELPARAM(event, kTrayIconId)) != FALSE,
          "posting the tray callback (version 4) to the notifier's window");
}

void Notifier::PostCommand(UINT id) const {
    Check(m_window != nullptr, "the notifier's window is known (icon added)");
    Check(PostMessageW(m_window, WM_COMMAND, MAKEWPARAM(id, 0), 0) != FALSE,
          "posting command " + std::to_string(id) + " to the notifier's window");
}

void Notifier::PostClose() const {
    Check(m_window != nullptr, "the notifier's window is known (icon added)");
    Check(PostMessageW(m_window, WM_CLOSE, 0, 0) != FALSE, "posting WM_CLOSE");
}

void Notifier::SendEndSession(LPARAM reason) const {
    DWORD_PTR answer = 0;
    Check(SendMessageTimeoutW(m_window, WM_QUERYENDSESSION, 0, reason, SMTO_ABORTIFHUNG, 5000,
                              &answer) != 0,
          "WM_QUERYENDSESSION is answered");
    CheckEqual(static_cast<long long>(answer), TRUE, "answer to WM_QUERYENDSESSION");
    SendMessageTimeoutW(m_window, WM_ENDSESSION, TRUE, reason, SMTO_ABORTIFHUNG, 5000, &answer);
}

// ---------------------------------------------------------------- stand-in

const wchar_t* const kStandInPath = L"C:\\e2e\\orlivan-service-standin.exe";

namespace {
std::atomic<int> g_standInRuns{0};
constexpr wchar_t kStandInOutputFolder[] = L"C:\\e2e\\stand-in";

void Forget(HANDLE process) {
    std::lock_guard<std::mutex> lock(g_processLock);
    g_processes.erase(std::remove(g_processes.begin(), g_processes.end(), process),
                      g_processes.end());
}
}  // namespace

StandIn::StandIn(const std::wstring& arguments) {
    Check(FileExists(kStandInPath), "the runner placed the stand-in at " + Utf8(kStandInPath));
    int run = ++g_standInRuns;
    // Not in the records folder: every .txt there is taken for a recorded run.
    MakeFolders(kStandInOutputFolder);
    m_outputFile = std::wstring(kStandInOutputFolder) + L"\\run-" + std::to_wstring(run) + L".log";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output =
        CreateFileW(m_outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(output != INVALID_HANDLE_VALUE, "creating " + Utf8(m_outputFile));
    std::wstring commandLine = L"\"" + std::wstring(kStandInPath) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info{};
    BOOL started = CreateProcessW(kStandInPath, commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info);
    DWORD error = GetLastError();
    CloseHandle(output);
    if (!started) {
        Fail("cannot start the stand-in: error " + std::to_string(error));
    }
    CloseHandle(info.hThread);
    m_process = info.hProcess;
    {
        std::lock_guard<std::mutex> lock(g_processLock);
        g_processes.push_back(m_process);
    }
    Note("stand-in run " + std::to_string(run) + " (" + Utf8(arguments) + "), output in " +
         Utf8(m_outputFile));
}

StandIn::~StandIn() {
    if (Running()) {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, 5000);
    }
    Forget(m_process);
    CloseHandle(m_process);
}

bool StandIn::Running() const {
    return WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT;
}

DWORD StandIn::WaitForExit(Millis timeout) {
    if (WaitForSingleObject(m_process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        Fail("the stand-in did not end within " + std::to_string(timeout.count()) +
             " ms; its output: " + Output());
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    return code;
}

void StandIn::Stop() {
    if (Running()) {
        TerminateProcess(m_process, 1);
    }
    Check(WaitForSingleObject(m_process, 5000) == WAIT_OBJECT_0, "the stand-in ended when stopped");
}

std::string StandIn::Output() const {
    std::string text = FileExists(m_outputFile) ? ReadFileBytes(m_outputFile) : std::string();
    // Lines end in CR LF on Windows; scenarios compare with plain line feeds.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

void StandIn::WaitForOutput(const std::string& text, Millis timeout) const {
    if (!WaitFor([&] { return Output().find(text) != std::string::npos; }, timeout)) {
        Fail("the stand-in did not write \"" + text + "\" within " +
             std::to_string(timeout.count()) + " ms; its output: " + Output());
    }
}

void RunStandIn(const std::wstring& arguments, Millis timeout) {
    StandIn run(arguments);
    DWORD code = run.WaitForExit(timeout);
    if (code != 0) {
        Fail("the stand-in (" + Utf8(arguments) + ") exited with " + std::to_string(code) +
             "; its output: " + run.Output());
    }
}

// ---------------------------------------------------------------- windows

std::wstring WindowClass(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

bool IsTopmost(HWND window) {
    return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

std::wstring WindowCaption(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

namespace {

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* caption;
    bool countAll;  // go on after the first match, counting
    HWND found;
    int count;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (search->className != nullptr && WindowClass(window) != search->className) {
        return TRUE;
    }
    if (search->caption != nullptr && WindowCaption(window) != search->caption) {
        return TRUE;
    }
    if (search->found == nullptr) {
        search->found = window;
    }
    ++search->count;
    return search->countAll ? TRUE : FALSE;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    WindowSearch search{processId, className, caption, false, nullptr, 0};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int CountProcessWindows(DWORD processId, const wchar_t* className, const wchar_t* caption) {
    WindowSearch search{processId, className, caption, true, nullptr, 0};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

HWND WaitForProcessWindow(DWORD processId, const wchar_t* className, const wchar_t* caption,
                          Millis timeout) {
    HWND window = nullptr;
    WaitOrFail(
        [&] {
            window = FindProcessWindow(processId, className, caption);
            return window != nullptr;
        },
        timeout,
        "a visible window of class \"" + Utf8(className ? className : L"*") + "\" caption \"" +
            Utf8(caption ? caption : L"*") + "\"");
    return window;
}

void WaitForWindowGone(HWND window, Millis timeout, const std::string& what) {
    WaitOrFail([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout,
               what + " to close");
}

std::wstring ControlText(HWND dialog, int controlId) {
    wchar_t text[4096] = {};
    GetDlgItemTextW(dialog, controlId, text, 4096);
    return text;
}

void ClickButton(HWND dialog, int controlId) {
    HWND button = GetDlgItem(dialog, controlId);
    Check(button != nullptr, "the dialog has a control " + std::to_string(controlId));
    DWORD_PTR result = 0;
    Check(SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &result) != 0,
          "pressing button " + std::to_string(controlId) + " within 5 s");
}

void PostKeys(HWND window, std::initializer_list<UINT> virtualKeys) {
    for (UINT key : virtualKeys) {
        LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
        PostMessageW(window, WM_KEYDOWN, key, scan | 1);
        PostMessageW(window, WM_KEYUP, key, scan | 1 | (LPARAM(3) << 30));
    }
}

// ---------------------------------------------------------------- screen

void Screenshot(const std::string& name, const std::string& area) {
    // The runner answers a request file here (holding the area, if any) by
    // renaming it to .done, or to .failed (its reason in <name>.error).
    const std::wstring folder = L"C:\\e2e\\screenshots";
    const std::wstring base = folder + L"\\" + FromUtf8(name);
    MakeFolders(folder);
    HANDLE request = CreateFileW((base + L".request").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    Check(request != INVALID_HANDLE_VALUE, "creating the screenshot request " + name);
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(request, area.data(), static_cast<DWORD>(area.size()), &written, nullptr);
    CloseHandle(request);
    Check(wrote != FALSE && written == area.size(), "writing the screenshot request " + name);
    WaitOrFail([&] { return FileExists(base + L".done") || FileExists(base + L".failed"); },
               Millis(20000), "the runner to take the screenshot " + name);
    if (FileExists(base + L".failed")) {
        Fail("the screenshot " + name + " failed: " + ReadFileBytes(base + L".error"));
    }
    Note("screenshot " + name + ".png");
}

void Photograph(HWND window, const std::string& name) {
    Pause(Millis(500));  // drawn on the X display
    RECT frame{};
    GetWindowRect(window, &frame);
    Screenshot(name, std::to_string(frame.right - frame.left) + "x" +
                         std::to_string(frame.bottom - frame.top) + "+" +
                         std::to_string(frame.left) + "+" + std::to_string(frame.top));
}

HANDLE StartDialogViewer(int id, const std::string& name, const std::wstring& mode,
                         std::wstring& result) {
    MakeFolders(L"C:\\e2e\\dialogs");
    result = L"C:\\e2e\\dialogs\\" + FromUtf8(name) + L".txt";
    wchar_t driver[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, driver, MAX_PATH);
    std::wstring viewer = driver;
    viewer = viewer.substr(0, viewer.find_last_of(L'\\') + 1) + L"e2e_dialog_viewer.exe";
    return StartProgram(viewer, std::to_wstring(id) + L" " + result + mode);
}

// ---------------------------------------------------------------- log

std::wstring LogPathFor(const std::wstring& profileFolder) {
    return profileFolder + L"\\OrlivanLog\\OrlivanSysTray.log";
}

std::vector<std::string> LogLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            Fail("log text after line " + std::to_string(lines.size()) +
                 " does not end with CR LF: \"" + bytes.substr(start) + "\"");
        }
        std::string line = bytes.substr(start, end - start);
        if (line.find_first_of("\r\n") != std::string::npos) {
            Fail("log line " + std::to_string(lines.size() + 1) + " holds a lone CR or LF");
        }
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

SYSTEMTIME ParseStamp(const std::string& line) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    auto bad = [&](const std::string& why) {
        Fail("log line \"" + line +
             "\" does not start with a time stamp like "
             "\"Mon Dec  7 09:05:03 2026\": " +
             why);
    };
    auto digit = [&](size_t at) {
        if (at >= line.size() || line[at] < '0' || line[at] > '9') {
            bad("digit expected at column " + std::to_string(at + 1));
        }
        return line[at] - '0';
    };
    auto blank = [&](size_t at) {
        if (at >= line.size() || line[at] != ' ') {
            bad("blank expected at column " + std::to_string(at + 1));
        }
    };
    if (line.size() < 24) {
        bad("shorter than 24 characters");
    }
    int weekday = -1;
    for (int i = 0; i < 7; ++i) {
        if (line.compare(0, 3, kDays[i]) == 0) {
            weekday = i;
        }
    }
    if (weekday < 0) {
        bad("no English weekday");
    }
    blank(3);
    int month = -1;
    for (int i = 0; i < 12; ++i) {
        if (line.compare(4, 3, kMonths[i]) == 0) {
            month = i + 1;
        }
    }
    if (month < 0) {
        bad("no English month");
    }
    blank(7);
    int day = 0;
    if (line[8] == ' ') {
        day = digit(9);
    } else {
        day = digit(8) * 10 + digit(9);
        if (day < 10) {
            bad("a day below 10 must be padded with a blank, not a zero");
        }
    }
    blank(10);
    int hour = digit(11) * 10 + digit(12);
    if (line[13] != ':') {
        bad("colon expected at column 14");
    }
    int minute = digit(14) * 10 + digit(15);
    if (line[16] != ':') {
        bad("colon expected at column 17");
    }
    int second = digit(17) * 10 + digit(18);
    blank(19);
    int year = digit(20) * 1000 + digit(21) * 100 + digit(22) * 10 + digit(23);
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    FILETIME asFileTime;
    SYSTEMTIME checked;
    if (day < 1 || hour > 23 || minute > 59 || second > 60 ||
        !SystemTimeToFileTime(&time, &asFileTime) || !FileTimeToSystemTime(&asFileTime, &checked)) {
        bad("not a valid date and time");
    }
    if (checked.wDayOfWeek != weekday) {
        bad("weekday does not match the date");
    }
    return checked;
}

long long SecondsOf(const SYSTEMTIME& time) {
    FILETIME asFileTime;
    SystemTimeToFileTime(&time, &asFileTime);
    ULARGE_INTEGER value;
    value.LowPart = asFileTime.dwLowDateTime;
    value.HighPart = asFileTime.dwHighDateTime;
    return static_cast<long long>(value.QuadPart / 10000000ULL);
}

SYSTEMTIME LocalNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

// ---------------------------------------------------------------- scenarios

std::vector<Scenario>& Scenarios() {
    static std::vector<Scenario> scenarios;
    return scenarios;
}

ScenarioRegistration::ScenarioRegistration(const char* name, ScenarioFunction run) {
    Scenarios().push_back(Scenario{name, run});
}

}  // namespace e2e
