// End-to-end driver: runs one named scenario against the real notifier.
//
//   e2e_driver --notifier EXE --recorder EXE [--records DIR] [--work DIR] SCENARIO
//   e2e_driver --list
//
// The main thread owns the notification area window and keeps pumping its
// messages (Shell_NotifyIconW waits on it without a time-out); the scenario
// runs on a second thread. Exit code 0 when the scenario passed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "harness.h"
#include "record_format.h"

namespace {

// Bound of one whole scenario; each wait inside has its own, shorter bound.
constexpr DWORD kScenarioLimitMs = 150000;

const e2e::Scenario* g_scenario = nullptr;
std::string g_failure;
bool g_passed = false;

DWORD WINAPI ScenarioThread(LPVOID) {
    try {
        g_scenario->run();
        g_passed = true;
    } catch (const e2e::ScenarioFailure& failure) {
        g_failure = failure.message;
    } catch (const std::exception& error) {
        g_failure = std::string("unexpected exception: ") + error.what();
    }
    return 0;
}

int Usage() {
    std::printf(
        "usage: e2e_driver --notifier EXE --recorder EXE [--records DIR] [--work DIR] "
        "SCENARIO\n       e2e_driver --list\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    e2e::Setup setup;
    setup.records = e2e::kDefaultRecordsFolder;
    setup.work = L"C:\\e2e\\work";
    std::string name;
    for (int i = 1; i < argc; ++i) {
        std::wstring argument = argv[i];
        bool hasValue = i + 1 < argc;
        if (argument == L"--list") {
            for (const auto& scenario : e2e::Scenarios()) {
                std::printf("%s\n", scenario.name);
            }
            return 0;
        } else if (argument == L"--notifier" && hasValue) {
            setup.notifier = argv[++i];
        } else if (argument == L"--recorder" && hasValue) {
            setup.recorder = argv[++i];
        } else if (argument == L"--records" && hasValue) {
            setup.records = argv[++i];
        } else if (argument == L"--work" && hasValue) {
            setup.work = argv[++i];
        } else if (name.empty() && argument.rfind(L"--", 0) != 0) {
            name = e2e::Utf8(argument);
        } else {
            return Usage();
        }
    }
    if (name.empty() || setup.notifier.empty() || setup.recorder.empty()) {
        return Usage();
    }
    for (const auto& scenario : e2e::Scenarios()) {
        if (name == scenario.name) {
            g_scenario = &scenario;
        }
    }
    if (g_scenario == nullptr) {
        std::printf("unknown scenario %s\n", name.c_str());
        return 2;
    }
    e2e::SetSetup(setup);
    // Programs started from here (and what they start) find the records folder.
    SetEnvironmentVariableW(e2e::kRecordsVariable, setup.records.c_str());
    // The stand-in's command pipe is owned by LocalSystem, as the service's is:
    // the notifier uses no other (Wine lets any process name that owner).
    SetEnvironmentVariableW(L"ORLIVAN_TEST_COMMAND_PIPE_OWNER", L"S-1-5-18");

    std::printf("scenario %s\n", name.c_str());
    std::fflush(stdout);
    try {
        e2e::MakeFolders(setup.records);
        e2e::Tray().Create();
    } catch (const e2e::ScenarioFailure& failure) {
        std::printf("FAIL %s: %s\n", name.c_str(), failure.message.c_str());
        return 1;
    }

    HANDLE thread = CreateThread(nullptr, 0, ScenarioThread, nullptr, 0, nullptr);
    if (thread == nullptr) {
        std::printf("FAIL %s: cannot start the scenario thread\n", name.c_str());
        return 1;
    }
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kScenarioLimitMs) {
            std::printf("FAIL %s: the scenario did not finish within %lu ms\n", name.c_str(),
                        static_cast<unsigned long>(kScenarioLimitMs));
            std::fflush(stdout);
            e2e::EndStartedProcesses();
            ExitProcess(1);
        }
        DWORD wait =
            MsgWaitForMultipleObjects(1, &thread, FALSE, kScenarioLimitMs - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            break;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    CloseHandle(thread);
    e2e::EndStartedProcesses();
    if (!g_passed) {
        std::printf("FAIL %s: %s\n", name.c_str(), g_failure.c_str());
        return 1;
    }
    std::printf("PASS %s\n", name.c_str());
    return 0;
}
