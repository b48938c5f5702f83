// The channel suites' transport on Windows: named pipes with names unique to
// the process.
#include "channel_test_transport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string UniqueName(const std::string& baseName) {
    static int serial = 0;
    return "orlivan-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++serial) + "-" + baseName;
}

HANDLE Handle(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

TestChannelName::TestChannelName(const std::string& baseName)
    : m_name("\\\\.\\pipe\\" + UniqueName(baseName)) {}

TestChannelName::~TestChannelName() = default;

std::string TestChannelName::FilePath(const std::string& suffix) const {
    char folder[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH + 1, folder);
    return folder + m_name.substr(m_name.rfind('\\') + 1) + suffix;
}

// Meanwhile the stand-in's command pipes are owned by LocalSystem, as a
// service's, for the service object's client to use them.
TestUserChannels::TestUserChannels() : m_userId(UniqueName("user")) {
    SetEnvironmentVariableW(L"ORLIVAN_TEST_COMMAND_PIPE_OWNER", L"S-1-5-18");
}

TestUserChannels::~TestUserChannels() {
    SetEnvironmentVariableW(L"ORLIVAN_TEST_COMMAND_PIPE_OWNER", nullptr);
}

TestClient::TestClient(const std::string& name)
    : m_handle(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE)) {
    const std::wstring wide = Wide(name);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        const HANDLE pipe = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            m_handle = reinterpret_cast<intptr_t>(pipe);
            break;
        }
        if (GetLastError() == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(wide.c_str(), 200);
        } else {
            std::this_thread::sleep_for(20ms);
        }
    }
    m_event = reinterpret_cast<intptr_t>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

TestClient::~TestClient() {
    Close();
    CloseHandle(Handle(m_event));
}

bool TestClient::Connected() const {
    return Handle(m_handle) != INVALID_HANDLE_VALUE;
}

void TestClient::Send(const std::string& bytes) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = Handle(m_event);
    ResetEvent(overlapped.hEvent);
    DWORD wrote = 0;
    if (!WriteFile(Handle(m_handle), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr,
                   &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
        ADD_FAILURE() << "write failed " << GetLastError();
        return;
    }
    ASSERT_TRUE(GetOverlappedResult(Handle(m_handle), &overlapped, &wrote, TRUE));
    EXPECT_EQ(wrote, bytes.size());
}

std::string TestClient::Receive(size_t count, std::chrono::milliseconds wait) {
    std::string got;
    const HANDLE pipe = Handle(m_handle);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (got.size() < count && !m_ended) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        char buffer[64];
        OVERLAPPED overlapped{};
        overlapped.hEvent = Handle(m_event);
        ResetEvent(overlapped.hEvent);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, count - got.size()));
        if (!ReadFile(pipe, buffer, want, nullptr, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                m_ended = true;
                break;
            }
            if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(left.count())) !=
                WAIT_OBJECT_0) {
                CancelIo(pipe);
                if (GetOverlappedResult(pipe, &overlapped, &n, TRUE)) {
                    got.append(buffer, n);
                }
                break;
            }
        }
        if (!GetOverlappedResult(pipe, &overlapped, &n, TRUE)) {
            m_ended = true;
            break;
        }
        got.append(buffer, n);
    }
    return got;
}

void TestClient::Close() {
    if (Connected()) {
        CloseHandle(Handle(m_handle));
        m_handle = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
    }
}
