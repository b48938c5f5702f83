// The installer of the release package, run by the native msiexec: an older
// release, then this one in its place, then the uninstall, once as a
// double-click on 64-bit Windows runs them and once with the notifier running
// (which the package's helper ends and, after the upgrade and a repair,
// starts again as the child of the desktop's shell, which the driver plays;
// Wine's Restart Manager does nothing). The
// build names the packages and their programs in ORLIVAN_E2E_MSI,
// ORLIVAN_E2E_PREVIOUS_MSI, ORLIVAN_E2E_PROGRAM, ORLIVAN_E2E_PREVIOUS_PROGRAM.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <optional>

#include "harness.h"
#include "locations/paths.h"

using namespace e2e;

namespace {

constexpr wchar_t kOrlivanKey[] = L"SOFTWARE\\Orlivan";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring PackageFrom(const wchar_t* variable) {
    wchar_t path[1024] = {};
    DWORD length = GetEnvironmentVariableW(variable, path, 1024);
    Check(length > 0 && length < 1024, Utf8(variable) + " names the installer package");
    Check(FileExists(path), "the package " + Utf8(path) + " exists");
    return path;
}

// Whether the product of the package (its ProductCode property) is installed.
bool Installed(const std::wstring& package) {
    MSIHANDLE database = 0, view = 0, record = 0;
    wchar_t code[64] = {};
    DWORD size = 64;
    bool read = MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database) == 0 &&
                MsiDatabaseOpenViewW(database,
                                     L"SELECT `Value` FROM `Property` WHERE "
                                     L"`Property` = 'ProductCode'",
                                     &view) == 0 &&
                MsiViewExecute(view, 0) == 0 && MsiViewFetch(view, &record) == 0 &&
                MsiRecordGetStringW(record, 1, code, &size) == 0;
    for (MSIHANDLE handle : {record, view, database}) {
        MsiCloseHandle(handle);
    }
    Check(read, "reading the product code of " + Utf8(package));
    return MsiQueryProductStateW(code) == INSTALLSTATE_DEFAULT;
}

// The program's version record as Windows Installer reads it, e.g. "1.0.0.1".
std::wstring FileVersion(const std::wstring& path) {
    wchar_t version[64] = {};
    DWORD size = 64;
    Check(MsiGetFileVersionW(path.c_str(), version, &size, nullptr, nullptr) == 0,
          "reading the version of " + Utf8(path));
    return version;
}

// What waits for a restart of the computer: files to be replaced or deleted.
void CheckNothingPending(const std::string& after) {
    wchar_t pending[4096] = {};
    DWORD size = sizeof pending;
    const LONG status =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                     L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending, &size);
    Check(status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && pending[0] == 0),
          "nothing in PendingFileRenameOperations after " + after + " (first entry: \"" +
              Utf8(pending) + "\")");
}

// Runs the native msiexec (64-bit on 64-bit Windows) and checks that it
// succeeds with exit code 0 (not 3010, a restart of the computer pending).
void RunInstaller(const std::wstring& arguments) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    std::wstring program = windows + std::wstring(wow64 ? L"\\Sysnative" : L"\\System32");
    program += L"\\msiexec.exe";
    const HANDLE process = StartProgram(program, arguments);
    DWORD code = ERROR_TIMEOUT;
    if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &code);
    } else {
        TerminateProcess(process, 1);
    }
    CloseHandle(process);
    CheckEqual(code, 0, "exit code of msiexec " + Utf8(arguments));
    Note("msiexec " + Utf8(arguments) + ": done");
}

// A string value of HKLM in one registry view: KEY_WOW64_32KEY is what the
// 32-bit notifier reads on 64-bit Windows.
std::optional<std::wstring> MachineText(REGSAM view, const wchar_t* key, const wchar_t* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &handle) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t text[1024] = {};
    DWORD size = sizeof text;
    LONG status = name ? RegGetValueW(handle, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size)
                       : ERROR_SUCCESS;
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? std::optional<std::wstring>(text) : std::nullopt;
}

// The parent of the process `processId`; 0 when it is not found.
DWORD ParentOf(DWORD processId) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        parent = entry.th32ProcessID == processId ? entry.th32ParentProcessID : parent;
    CloseHandle(snapshot);
    return parent;
}

}  // namespace

E2E_SCENARIO(msi_install_upgrade_uninstall_win64) {
    const std::wstring package = PackageFrom(L"ORLIVAN_E2E_MSI");
    const std::wstring previous = PackageFrom(L"ORLIVAN_E2E_PREVIOUS_MSI");
    // The program's own default folder, with the trailing backslash it expects.
    wchar_t programFiles[MAX_PATH] = {};
    Check(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, programFiles) == S_OK,
          "the 32-bit program files folder");
    const std::wstring folder = std::wstring(programFiles) + L"\\Orlivan\\";
    CheckEqual(folder, FromUtf8(std::string(DEFAULT_INSTALL_PATH)), "install folder");
    const std::wstring program = folder + L"OrlivanSysTray.exe";

    RunInstaller(L"/i \"" + previous + L"\" /qn");
    Check(Installed(previous), "the older release is installed");
    RunInstaller(L"/i \"" + package + L"\" /qn");
    Check(Installed(package) && !Installed(previous), "this release replaced the older one");
    Check(FileExists(program) && FileExists(folder + L"LICENSE.txt") &&
              FileExists(folder + L"THIRD-PARTY-NOTICES.txt"),
          "the installed files");

    CheckEqual(MachineText(KEY_WOW64_32KEY, kOrlivanKey, L"Install Path").value_or(L"(none)"),
               folder, "Install Path in the 32-bit view");
    const std::wstring run = L"\"" + program + L"\"";
    CheckEqual(MachineText(KEY_WOW64_32KEY, kRunKey, L"OrlivanSysTray").value_or(L"(none)"), run,
               "logon entry in the 32-bit view");
    Check(!MachineText(KEY_WOW64_64KEY, kOrlivanKey, nullptr) &&
              !MachineText(KEY_WOW64_64KEY, kRunKey, L"OrlivanSysTray"),
          "nothing written to the 64-bit view");

    {
        Notifier notifier;
        notifier.StartCommandLine(run);
        notifier.WaitForIcon();
        notifier.PostClose();
        notifier.WaitForExit(Millis(10000));
    }

    RunInstaller(L"/x \"" + package + L"\" /qn");
    Check(!Installed(package), "this release is uninstalled");
    Check(!FolderExists(folder), "the install folder is removed");
    // The value it created stays: from now on it is the filter's.
    CheckEqual(MachineText(KEY_WOW64_32KEY, kOrlivanKey, L"Install Path").value_or(L"(none)"),
               folder, "Install Path in the 32-bit view after the uninstall");
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        Check(!MachineText(view, kRunKey, L"OrlivanSysTray"), "the logon entry is removed");
    }
    Check(!MachineText(KEY_WOW64_64KEY, kOrlivanKey, nullptr), "nothing in the 64-bit view");
}

E2E_SCENARIO(msi_upgrade_and_uninstall_while_running) {
    const std::wstring package = PackageFrom(L"ORLIVAN_E2E_MSI");
    const std::wstring previous = PackageFrom(L"ORLIVAN_E2E_PREVIOUS_MSI");
    const std::wstring newProgram = PackageFrom(L"ORLIVAN_E2E_PROGRAM");
    Check(FileVersion(newProgram) != FileVersion(PackageFrom(L"ORLIVAN_E2E_PREVIOUS_PROGRAM")),
          "the two releases' programs have different versions");
    wchar_t programFiles[MAX_PATH] = {};
    Check(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, programFiles) == S_OK,
          "the 32-bit program files folder");
    const std::wstring folder = std::wstring(programFiles) + L"\\Orlivan\\";
    const std::wstring program = folder + L"OrlivanSysTray.exe";
    CheckNothingPending("the prefix was made");
    // The filter's installer was first and names another folder.
    const std::wstring filterFolder = L"C:\\Orlivan Filter\\";
    SetInstallPath(filterFolder);
    // Runs msiexec while `running` runs: both end with code 0, the icon is
    // gone, nothing waits for a restart, and the filter's value is as it was.
    auto whileRunning = [&](Notifier& running, const std::wstring& arguments,
                            const std::string& what) {
        RunInstaller(arguments);
        running.WaitForExit(Millis(5000));
        CheckEqual(running.ExitCode(), 0, "exit code of the notifier " + what + " ended");
        Check(!running.TrayCalls(NIM_DELETE).empty(),
              "the notifier " + what + " ended removed its icon");
        CheckNothingPending(what);
        CheckEqual(MachineText(KEY_WOW64_32KEY, kOrlivanKey, L"Install Path").value_or(L"(none)"),
                   filterFolder, "the filter's Install Path after " + what);
    };
    // The installer started the installed program again (its first icon since
    // `callsBefore` tray calls), as this user and not elevated, and it serves:
    // a record sent to the channel gets its reply.
    auto startedAgain = [&](Notifier& again, std::size_t callsBefore, const std::string& what) {
        DWORD processId = 0;
        WaitOrFail(
            [&] {
                const std::vector<TrayCall> calls = Tray().Calls();
                for (std::size_t i = callsBefore; i < calls.size() && processId == 0; ++i) {
                    processId = calls[i].message == NIM_ADD ? calls[i].processId : 0;
                }
                return processId != 0;
            },
            Millis(20000), "a notifier started again after " + what);
        again.Attach(processId);
        again.WaitForIcon();
        // Never elevated: the shell's child (the driver plays the shell), with
        // the shell's token; under Wine every token is an administrator's.
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
        wchar_t image[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        Check(process && QueryFullProcessImageNameW(process, 0, image, &length),
              "reading the program of the notifier started after " + what);
        CloseHandle(process);
        Check(SamePath(image, program), "the notifier started after " + what + " runs " +
                                            Utf8(program) + " (runs " + Utf8(image) + ")");
        CheckEqual(ParentOf(processId), GetCurrentProcessId(),
                   "the parent of the notifier started after " + what + " (the shell)");
        RunStandIn(L"send ack-only");
    };

    // Wine's desktop has no shell window: a window of the driver's is made it.
    const auto setShellWindow = reinterpret_cast<BOOL(WINAPI*)(HWND)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
    HWND shell = CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    Check(setShellWindow && setShellWindow(shell) && GetShellWindow() == shell, "the shell window");
    RunInstaller(L"/i \"" + previous + L"\" /qn");
    Notifier fromLogon;
    fromLogon.StartCommandLine(L"\"" + program + L"\"");
    fromLogon.WaitForIcon();
    std::size_t calls = Tray().Calls().size();
    whileRunning(fromLogon, L"/i \"" + package + L"\" /qn", "the upgrade");
    Check(Installed(package) && !Installed(previous), "this release replaced the older one");
    Check(ReadFileBytes(program) == ReadFileBytes(newProgram), "the new program's bytes on disk");
    Notifier upgraded;
    startedAgain(upgraded, calls, "the upgrade");
    // A repair (msiexec /f exits 1 under Wine 8; these properties make the
    // same repair).
    calls = Tray().Calls().size();
    whileRunning(upgraded, L"/i \"" + package + L"\" REINSTALL=ALL REINSTALLMODE=vamus /qn",
                 "the repair");
    Check(Installed(package), "this release is still installed after the repair");
    Notifier repaired;
    startedAgain(repaired, calls, "the repair");
    whileRunning(repaired, L"/x \"" + package + L"\" /qn", "the uninstall");
    Check(!Installed(package), "this release is uninstalled");
    HKEY record = nullptr;
    Check(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Orlivan\\Installer", 0, KEY_READ, &record) ==
              ERROR_FILE_NOT_FOUND,
          "the uninstall keeps no record of the notifier it ended");
    Check(!FileExists(program) && !FolderExists(folder), "the program and its folder are gone");
}
