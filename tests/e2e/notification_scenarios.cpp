// The notification channel end to end: the per-user pipe and its single
// owner, the balloon or box each record type shows with the reply it earns,
// the driver-error box, the conflicting-application balloon with its process
// name and its 120-second gate, details decoded and cut to fit, the log of
// records, and frames or clients that misbehave without stopping the channel.
#include "harness.h"

#include <sddl.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>

using namespace e2e;

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxText = 0xFFFF;
constexpr DWORD kInfoIcon = 1;   // NIIF_INFO
constexpr DWORD kErrorIcon = 3;  // NIIF_ERROR
constexpr wchar_t kConflictSuffix[] =
    L". Please stop the application to help Orlivan work properly";

// ---------------------------------------------------------------- the user's channel

// The SID string of the account named in the volatile environment: under Wine
// the user every process runs as, whose token's SID names the channel.
std::wstring UserSidString() {
    std::wstring user = ReadVolatileEnvironment(L"USERNAME");
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    LookupAccountNameW(nullptr, user.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    Check(sidSize > 0, "LookupAccountNameW reports the SID size of " + Utf8(user));
    std::string sid(sidSize, '\0');
    std::wstring domain(domainSize + 1, L'\0');
    Check(LookupAccountNameW(nullptr, user.c_str(), sid.data(), &sidSize, domain.data(),
                             &domainSize, &use) != FALSE,
          "LookupAccountNameW finds " + Utf8(user));
    wchar_t* text = nullptr;
    Check(ConvertSidToStringSidW(sid.data(), &text) != FALSE && text != nullptr,
          "ConvertSidToStringSidW");
    std::wstring result = text;
    LocalFree(text);
    return result;
}

std::wstring ChannelName() {
    return L"\\\\.\\pipe\\" + UserSidString();
}

std::string Word(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// The parts one after the other.
std::string Join(std::initializer_list<std::string> parts) {
    std::string bytes;
    for (const auto& part : parts) {
        bytes.append(part);
    }
    return bytes;
}

// A frame: the length word, then the body.
std::string Frame(const std::string& body) {
    return Join({Word(static_cast<uint32_t>(body.size())), body});
}

std::string Body(int32_t type, const std::string& payload = {}) {
    return Join({Word(static_cast<uint32_t>(type)), payload});
}

std::string HexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// The driver's own client of the notification channel, for what a
// well-behaved service never does: holding a connection without writing,
// and counting every reply byte. Every wait is bounded.
class ChannelClient {
public:
    explicit ChannelClient(const std::wstring& name, Millis timeout = Millis(10000)) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            m_pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            if (m_pipe != INVALID_HANDLE_VALUE) {
                return;
            }
            DWORD error = GetLastError();
            if (std::chrono::steady_clock::now() >= deadline) {
                Fail("cannot connect to " + Utf8(name) + ": error " + std::to_string(error));
            }
            if (error == ERROR_PIPE_BUSY) {
                WaitNamedPipeW(name.c_str(), 500);
            } else {
                Sleep(50);
            }
        }
    }
    ChannelClient(const ChannelClient&) = delete;
    ChannelClient& operator=(const ChannelClient&) = delete;
    ~ChannelClient() { CloseHandle(m_pipe); }

    void Write(const std::string& bytes) {
        DWORD written = 0;
        Check(WriteFile(m_pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr) != FALSE &&
                  written == bytes.size(),
              "writing " + std::to_string(bytes.size()) + " bytes to the channel");
    }

    // Collects what the notifier sends until at least `count` bytes are in or
    // `timeout` passes; then waits `settle` more for anything that follows.
    std::string Read(size_t count, Millis timeout, Millis settle) {
        std::string received;
        WaitFor([&] { return Take(received) >= count; }, timeout);
        WaitFor([&] { return Take(received) > count; }, settle);
        return received;
    }

    // Whether the notifier dropped this client within `timeout`.
    bool WaitForDrop(Millis timeout) {
        return WaitFor(
            [&] {
                Peek();
                return !m_connected;
            },
            timeout);
    }

private:
    // Bytes waiting in the pipe; marks the client dropped when the pipe broke.
    DWORD Peek() {
        DWORD available = 0;
        if (!PeekNamedPipe(m_pipe, nullptr, 0, nullptr, &available, nullptr)) {
            m_connected = false;
            return 0;
        }
        return available;
    }

    size_t Take(std::string& received) {
        DWORD available = Peek();
        if (available > 0) {
            std::string chunk(available, '\0');
            DWORD got = 0;
            if (ReadFile(m_pipe, chunk.data(), available, &got, nullptr)) {
                received.append(chunk, 0, got);
            }
        }
        return received.size();
    }

    HANDLE m_pipe = INVALID_HANDLE_VALUE;
    bool m_connected = true;
};

// An acknowledge-only record on a connection of its own is answered with
// exactly 1: the channel serves the next client.
void ExpectServed(const std::string& after) {
    ChannelClient client(ChannelName());
    client.Write(Frame(Body(2)));
    std::string reply = client.Read(4, Millis(10000), Millis(200));
    if (reply != Word(1)) {
        Fail("after " + after + " an acknowledge-only record got \"" + HexOf(reply) +
             "\" instead of the reply 01000000");
    }
}

// ---------------------------------------------------------------- what is shown

struct Balloon {
    std::wstring title;
    std::wstring text;
    DWORD icon;
};

void CheckBalloon(const TrayCall& call, const Notifier& notifier, const Balloon& expected,
                  const std::string& what) {
    CheckEqual(reinterpret_cast<uintptr_t>(call.hWnd),
               reinterpret_cast<uintptr_t>(notifier.Window()), what + ": hWnd");
    CheckEqual(call.uID, kTrayIconId, what + ": uID");
    CheckEqual(call.uFlags, NIF_INFO, what + ": uFlags");
    CheckEqual(call.infoTitle, expected.title, what + ": szInfoTitle");
    CheckEqual(call.info, expected.text, what + ": szInfo");
    CheckEqual(call.infoFlags, expected.icon, what + ": dwInfoFlags");
    CheckEqual(call.timeoutOrVersion, 4, what + ": uTimeout");
}

// The message box's icon, judged by its colours on the screen: the error
// icon is mostly red, the warning yellow, the information and question blue.
bool ShowsErrorIcon(HWND box) {
    HWND icon = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (WindowClass(child) == L"Static" &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
            icon = child;
        }
    }
    if (icon == nullptr) {
        Note("the box shows no icon control");
        return false;
    }
    RECT rect{};
    GetWindowRect(icon, &rect);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    Check(width > 0 && height > 0, "the icon control has a size");
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    int red = 0;
    int other = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF pixel = GetPixel(memory, x, y);
            int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
            if (r > 150 && g < 110 && b < 110) {
                ++red;
            } else if ((b > 150 && r < 110) || (r > 150 && g > 150 && b < 110)) {
                ++other;  // blue or yellow
            }
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    Note("icon " + std::to_string(width) + "x" + std::to_string(height) + ": " +
         std::to_string(red) + " red pixels, " + std::to_string(other) + " blue or yellow");
    return red > width * height / 5 && other < red / 4;
}

// Waits for the notifier's message box with this caption; checks its text and
// error icon, and that the main window owns it. Returns the box.
HWND ExpectErrorBox(DWORD processId, const wchar_t* caption, const std::wstring& text, HWND owner) {
    HWND box = WaitForProcessWindow(processId, kDialogClass, caption, Millis(20000));
    CheckEqual(ControlText(box, kMessageBoxText), text,
               "text of the \"" + Utf8(caption) + "\" box");
    if (owner != nullptr) {
        CheckEqual(reinterpret_cast<uintptr_t>(GetWindow(box, GW_OWNER)),
                   reinterpret_cast<uintptr_t>(owner), "owner of the box (the main window)");
    }
    Pause(Millis(500));  // drawn
    Check(ShowsErrorIcon(box), "the \"" + Utf8(caption) + "\" box shows the error icon");
    return box;
}

void PressOk(HWND box, const std::string& what) {
    ClickButton(box, IDOK);
    WaitForWindowGone(box, Millis(5000), what);
}

// The type of every record the notifier logged, in order.
std::vector<int> LoggedRecordTypes() {
    const std::string marker = " COrlivanSysTrayDlg::ShowNotification ";
    std::vector<int> types;
    auto lines = LogLines(ReadFileBytes(LogPathFor(ReadVolatileEnvironment(L"USERPROFILE"))));
    for (const auto& line : lines) {
        if (line.size() > 24 && line.compare(24, marker.size(), marker) == 0) {
            ParseStamp(line);
            types.push_back(std::atoi(line.c_str() + 24 + marker.size()));
            Check(line.substr(24 + marker.size()) == std::to_string(types.back()),
                  "log line \"" + line + "\" ends with the type code");
        }
    }
    return types;
}

void CheckLoggedTypes(const std::vector<int>& expected) {
    auto types = LoggedRecordTypes();
    auto list = [](const std::vector<int>& codes) {
        std::string text;
        for (int code : codes) {
            text.append(" ").append(std::to_string(code));
        }
        return text;
    };
    std::string wanted = list(expected);
    std::string seen = list(types);
    Check(types == expected,
          "the log holds one ShowNotification line per record, types" + wanted + "; it has" + seen);
}

// Starts the notifier and waits for its icon.
void StartNotifier(Notifier& notifier) {
    ArrangeStandardInstall();
    notifier.Start();
    notifier.WaitForIcon();
}

// Sends records with the stand-in and waits until it has sent them all and
// read every reply; returns what it printed.
std::string SendWithStandIn(const std::wstring& records, Millis timeout = Millis(30000)) {
    StandIn service(L"send " + records);
    DWORD code = service.WaitForExit(timeout);
    std::string output = service.Output();
    if (code != 0) {
        Fail("the stand-in (send " + Utf8(records) + ") exited with " + std::to_string(code) +
             "; its output: " + output);
    }
    return output;
}

void ExpectOutput(const std::string& output, const std::string& line) {
    Check(output.find(line) != std::string::npos,
          "the stand-in printed \"" + line + "\"; its output: " + output);
}

}  // namespace

E2E_SCENARIO(notification_channel_named_after_user_sid) {
    Notifier notifier;
    StartNotifier(notifier);
    std::wstring sid = UserSidString();
    Note("the user's SID is " + Utf8(sid));
    Check(sid.rfind(L"S-1-5-21-", 0) == 0, "the account has a local user's SID");
    std::wstring name = L"\\\\.\\pipe\\" + sid;
    Check(WaitNamedPipeW(name.c_str(), 5000) != FALSE,
          "WaitNamedPipeW finds " + Utf8(name) + ": error " + std::to_string(GetLastError()));
    ExpectServed("connecting by the user's SID");
    // The stand-in, addressing the current user by default, finds the same pipe.
    std::string output = SendWithStandIn(L"ack-only");
    ExpectOutput(output, "connected to " + Utf8(name));
    ExpectOutput(output, "record 1 (type 2 ack-only): reply 1 (01000000)");
    CheckLoggedTypes({2, 2});
}

// A logon name that resolves to another account (Wine's "SYSTEM") at the
// notifier's start moves nothing: the channel stays named after the token's
// user and serves it through its identity check, and the log says what the
// name resolved to.
E2E_SCENARIO(channel_named_after_token_not_logon_name) {
    const std::wstring user = ReadVolatileEnvironment(L"USERNAME");
    const std::wstring sid = UserSidString();
    SetVolatileEnvironment(L"USERNAME", L"SYSTEM");
    Notifier notifier;
    StartNotifier(notifier);
    SetVolatileEnvironment(L"USERNAME", user);  // read at the start only
    ExpectServed("a USERNAME naming SYSTEM");
    ExpectOutput(SendWithStandIn(L"ack-only"), "connected to " + Utf8(ChannelName()));
    CheckLoggedTypes({2, 2});
    const std::string note = " Notification channel named after " + Utf8(sid) +
                             ", the user the notifier runs as; USERNAME \"SYSTEM\" names another "
                             "account (S-1-5-18)";
    int notes = 0;
    for (const auto& line :
         LogLines(ReadFileBytes(LogPathFor(ReadVolatileEnvironment(L"USERPROFILE"))))) {
        notes += line.size() > 24 && line.substr(24) == note ? 1 : 0;
        Check(line.find("refused") == std::string::npos, "no client was refused: " + line);
    }
    CheckEqual(notes, 1, "log lines naming the logon name's account");
}

E2E_SCENARIO(second_instance_reports_busy_channel) {
    Notifier first;
    StartNotifier(first);
    Notifier second;
    second.Start();
    HWND box = ExpectErrorBox(second.ProcessId(), L"OrlivanSysTray",
                              L"Another instance of Orlivan Notifier is running or communication "
                              L"channel busy",
                              nullptr);
    Check(second.TrayCalls(NIM_ADD).empty(), "the second instance added no icon before the box");
    PressOk(box, "the second instance's box after OK");
    second.WaitForExit(Millis(10000));
    CheckEqual(second.ExitCode(), 0, "exit code of the second instance");
    Check(second.TrayCalls(NIM_ADD).empty(), "the second instance added no icon at all");
    Check(first.Running(), "the first instance keeps running");

    // The first still owns the channel.
    std::string output = SendWithStandIn(L"https-site-blocked --detail first");
    ExpectOutput(output, "record 1 (type 1 https-site-blocked): reply 1 (01000000)");
    TrayCall balloon = first.WaitForTrayCall(NIM_MODIFY, 1, Millis(5000));
    CheckBalloon(balloon, first,
                 {L"HTTPS Site Blocked", L"first was blocked by orlivan", kInfoIcon},
                 "balloon of the first instance");
}

// A pipe of the user's name made first by another account (its owner set to
// that account, which Wine lets any process do) is not the user's notifier:
// the notifier stays with its icon and no box, logs once who holds the name,
// and serves as soon as that pipe is gone.
E2E_SCENARIO(name_held_by_another_account_is_waited_out) {
    const std::wstring other = L"S-1-5-21-1-2-3-1001";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    Check(ConvertStringSecurityDescriptorToSecurityDescriptorW(
              (L"O:" + other + L"D:(A;;GRGW;;;WD)").c_str(), SDDL_REVISION_1, &descriptor,
              nullptr) != FALSE,
          "the squatter's descriptor");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE squatter = CreateNamedPipeW(ChannelName().c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1,
                                       512, 512, 0, &attributes);
    LocalFree(descriptor);
    Check(squatter != INVALID_HANDLE_VALUE, "the squatter made a pipe of the user's name");
    Notifier notifier;
    StartNotifier(notifier);  // a box would come before the icon
    Check(FindProcessWindow(notifier.ProcessId(), kDialogClass, nullptr) == nullptr,
          "the notifier shows no box for a name someone else holds");
    const std::string held = " Notification channel " + Utf8(ChannelName()) +
                             " is held by someone else (owner " + Utf8(other) +
                             ", server process " + std::to_string(GetCurrentProcessId()) + " (";
    const std::string waits = "e2e_driver.exe)); the notifier waits for the name to be free";
    CloseHandle(squatter);
    ExpectServed("the squatter's pipe was closed");
    CheckLoggedTypes({2});
    int heldLines = 0;
    for (const auto& line :
         LogLines(ReadFileBytes(LogPathFor(ReadVolatileEnvironment(L"USERPROFILE"))))) {
        heldLines += line.find(held) == 24 && line.ends_with(waits) ? 1 : 0;
    }
    CheckEqual(heldLines, 1, "log lines beginning \"" + held + "\"");
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(balloon_for_each_record_type) {
    Notifier notifier;
    StartNotifier(notifier);
    // Records that are answered, one connection, each reply read before the
    // next record is sent.
    std::string output = SendWithStandIn(
        L"server-down no-hotspot hotspot-detected normal-mode "
        L"https-site-blocked --detail abc ack-only");
    const char* const replied[] = {
        "record 1 (type 4 server-down)",        "record 2 (type 7 no-hotspot)",
        "record 3 (type 8 hotspot-detected)",   "record 4 (type 9 normal-mode)",
        "record 5 (type 1 https-site-blocked)", "record 6 (type 2 ack-only)"};
    for (const char* record : replied) {
        ExpectOutput(output, std::string(record) + ": reply 1 (01000000)");
    }
    // Records that are not answered: an unknown code and the notifier error.
    // Any reply to them would come before the acknowledge-only record's.
    {
        ChannelClient client(ChannelName());
        client.Write(Join({Frame(Body(11)), Frame(Body(-3)), Frame(Body(2))}));
        std::string replies = client.Read(4, Millis(15000), Millis(1000));
        if (replies != Word(1)) {
            Fail("records 11, -3, 2 were answered with \"" + HexOf(replies) +
                 "\"; only the last one earns a reply, 01000000");
        }
    }

    const Balloon expected[] = {
        {L"Server Down", L"Orlivan Server is down. Try after some time", kErrorIcon},
        {L"No Hotspot", L"Orlivan cannot detect any hotspot. Make sure you are connected to one",
         kErrorIcon},
        {L"Hotspot Detected", L"Orlivan has detected hotspot and is switching to Hotspot mode",
         kErrorIcon},
        {L"Normal mode", L"Orlivan is switching to Normal mode from Hotspot mode", kErrorIcon},
        {L"HTTPS Site Blocked", L"abc was blocked by orlivan", kInfoIcon},
        // The unknown code: empty texts, the icon as the last balloon left it.
        {L"", L"", kInfoIcon},
        {L"Notifier Error", L"Error with Notifier Operation", kErrorIcon},
    };
    auto balloons = notifier.TrayCalls(NIM_MODIFY);
    CheckEqual(static_cast<long long>(balloons.size()), std::size(expected),
               "number of balloons (acknowledge-only records show none)");
    for (size_t i = 0; i < balloons.size(); ++i) {
        CheckBalloon(balloons[i], notifier, expected[i], "balloon " + std::to_string(i + 1));
        if (i > 0) {
            auto gap = std::chrono::duration_cast<Millis>(balloons[i].when - balloons[i - 1].when);
            Check(gap >= Millis(900), "balloon " + std::to_string(i + 1) + " came " +
                                          std::to_string(gap.count()) +
                                          " ms after the one before; each is held a second");
        }
    }
    CheckLoggedTypes({4, 7, 8, 9, 1, 2, 11, -3, 2});
    Check(notifier.Running(), "the notifier keeps running");
}

E2E_SCENARIO(driver_error_box_then_balloon) {
    Notifier notifier;
    StartNotifier(notifier);
    StandIn service(L"send driver-error --error-code -5 driver-error --error-code -5");
    const std::wstring text = L"Orlivan driver failed! to load with error -5";
    HWND box =
        ExpectErrorBox(notifier.ProcessId(), L"Orlivan Driver Error", text, notifier.Window());
    Check(IsTopmost(box), "the driver error box, shown by the worker, is topmost");
    // The reply waits for the user.
    Pause(Millis(1500));
    Check(service.Output().find("record 1") == std::string::npos,
          "no reply while the box is open; the stand-in printed: " + service.Output());
    Check(notifier.TrayCalls(NIM_MODIFY).empty(), "the first driver error shows no balloon");
    PressOk(box, "the driver error box after OK");
    CheckEqual(service.WaitForExit(Millis(15000)), 0, "exit code of the stand-in");
    ExpectOutput(service.Output(), "record 1 (type 6 driver-error): reply 1 (01000000)");
    ExpectOutput(service.Output(), "record 2 (type 6 driver-error): reply 1 (01000000)");
    auto balloons = notifier.TrayCalls(NIM_MODIFY);
    CheckEqual(static_cast<long long>(balloons.size()), 1, "number of balloons");
    CheckBalloon(balloons[0], notifier, {L"Orlivan Driver Error", text, kErrorIcon},
                 "the second driver error's balloon");
    Check(FindProcessWindow(notifier.ProcessId(), kDialogClass, L"Orlivan Driver Error") == nullptr,
          "the second driver error shows no box");
    CheckLoggedTypes({6, 6});
}

E2E_SCENARIO(conflicting_application_named_once_in_120_seconds) {
    Notifier notifier;
    StartNotifier(notifier);
    // The conflicting application is this driver: the notifier looks its
    // name up by the process id in the service's text.
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring exeName = module;
    exeName = exeName.substr(exeName.find_last_of(L"\\/") + 1);
    std::wstring pid = std::to_wstring(GetCurrentProcessId());
    std::string output = SendWithStandIn(
        L"conflicting-application --detail \"Filter bypass, PID - \\\"" + pid +
        L"\\\" (proxy)\" conflicting-application --detail \"PID - \\\"" + pid + L"\\\"\"");
    ExpectOutput(output, "record 1 (type 10 conflicting-application): reply 1 (01000000)");
    ExpectOutput(output, "record 2 (type 10 conflicting-application): reply 1 (01000000)");
    auto balloons = notifier.TrayCalls(NIM_MODIFY);
    CheckEqual(static_cast<long long>(balloons.size()), 1,
               "number of balloons (the second record came within 120 s)");
    CheckBalloon(
        balloons[0], notifier,
        {L"Conflicting Application Found",
         L"Orlivan is blocked by application with name \"" + exeName + L"\"" + kConflictSuffix,
         kErrorIcon},
        "the conflicting application's balloon");
    CheckLoggedTypes({10, 10});
}

E2E_SCENARIO(malformed_frames_drop_only_their_client) {
    Notifier notifier;
    StartNotifier(notifier);
    struct Bad {
        const char* what;
        std::string bytes;
    };
    const Bad bad[] = {
        {"a length word of 0x7FFFFFFF", Join({Word(0x7FFFFFFF), Body(1, std::string("abc\0", 4))})},
        {"a length word of 0", Join({Word(0), Body(2)})},
        {"a 2-byte body", Join({Word(2), std::string("\x02\x00", 2)})},
        {"a driver error without its error code", Frame(Body(6, "\xFB\xFF"))},
        {"a blocked site whose text has no end", Frame(Body(1, "abc"))},
    };
    for (const auto& frame : bad) {
        ChannelClient client(ChannelName());
        client.Write(frame.bytes);
        // The notifier drops the client at once, whatever else it sends.
        Check(client.WaitForDrop(Millis(5000)),
              "the notifier drops a client that sent " + std::string(frame.what));
        Check(notifier.Running(), std::string("the notifier survives ") + frame.what);
        ExpectServed(frame.what);
        Note(std::string(frame.what) + ": client dropped, the next served");
    }
    std::string output = SendWithStandIn(L"https-site-blocked --detail after");
    ExpectOutput(output, "record 1 (type 1 https-site-blocked): reply 1 (01000000)");
    auto balloons = notifier.TrayCalls(NIM_MODIFY);
    CheckEqual(static_cast<long long>(balloons.size()), 1, "number of balloons");
    CheckBalloon(balloons[0], notifier,
                 {L"HTTPS Site Blocked", L"after was blocked by orlivan", kInfoIcon},
                 "the balloon after the bad frames");
    // No bad frame became a record.
    CheckLoggedTypes({2, 2, 2, 2, 2, 1});
}

E2E_SCENARIO(stalled_client_dropped_after_bound) {
    Notifier notifier;
    StartNotifier(notifier);
    ChannelClient stalled(ChannelName());
    auto connected = std::chrono::steady_clock::now();
    // The service, meanwhile, waits for the channel.
    StandIn service(L"send --connect-wait 60000 https-site-blocked --detail next");
    Check(stalled.WaitForDrop(Millis(40000)),
          "the notifier drops a client that connects and writes nothing");
    auto held = std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - connected);
    Note("the silent client was dropped after " + std::to_string(held.count()) + " ms");
    Check(held >= Millis(10000), "a connected client is given time to write");
    CheckEqual(service.WaitForExit(Millis(20000)), 0, "exit code of the waiting stand-in");
    ExpectOutput(service.Output(), "record 1 (type 1 https-site-blocked): reply 1 (01000000)");
    TrayCall balloon = notifier.WaitForTrayCall(NIM_MODIFY, 1, Millis(5000));
    CheckBalloon(balloon, notifier,
                 {L"HTTPS Site Blocked", L"next was blocked by orlivan", kInfoIcon},
                 "the next client's balloon");
    CheckLoggedTypes({1});
}

E2E_SCENARIO(balloon_text_from_outside_is_decoded_and_fitted) {
    Notifier notifier;
    StartNotifier(notifier);
    // Details as the service writes them: UTF-8, a byte of the ANSI code page,
    // and a text longer than a balloon holds.
    const std::string utf8 = "caf\xC3\xA9.example";
    const std::string ansi = "caf\xE9.example";
    const std::string longName(300, 'a');
    {
        ChannelClient client(ChannelName());
        client.Write(Join({Frame(Body(1, utf8 + '\0')), Frame(Body(1, ansi + '\0')),
                           Frame(Body(1, longName + '\0'))}));
        std::string replies = client.Read(12, Millis(15000), Millis(500));
        CheckEqual(FromUtf8(HexOf(replies)), FromUtf8(HexOf(Join({Word(1), Word(1), Word(1)}))),
                   "replies to three blocked sites");
    }
    wchar_t e9 = 0;
    Check(MultiByteToWideChar(CP_ACP, 0, "\xE9", 1, &e9, 1) == 1, "the ANSI code page maps 0xE9");
    const std::wstring suffix = L" was blocked by orlivan";
    auto balloons = notifier.TrayCalls(NIM_MODIFY);
    CheckEqual(static_cast<long long>(balloons.size()), 3, "number of balloons");
    CheckBalloon(balloons[0], notifier,
                 {L"HTTPS Site Blocked", L"caf\u00e9.example" + suffix, kInfoIcon},
                 "balloon of a UTF-8 detail");
    CheckBalloon(
        balloons[1], notifier,
        {L"HTTPS Site Blocked", std::wstring(L"caf") + e9 + L".example" + suffix, kInfoIcon},
        "balloon of a detail in the ANSI code page");
    // The field holds 255 characters and its terminator: the site's name is
    // cut, with a mark, so that the sentence keeps its end.
    const std::wstring& cut = balloons[2].info;
    CheckEqual(static_cast<long long>(cut.size()), 255, "length of the cut balloon text");
    CheckEqual(cut, std::wstring(255 - suffix.size() - 3, L'a') + L"..." + suffix,
               "the cut balloon text");
    CheckLoggedTypes({1, 1, 1});
}

E2E_SCENARIO(slow_writer_served_and_gone_client_not_answered) {
    Notifier notifier;
    StartNotifier(notifier);
    // A frame that arrives in pieces is read whole.
    {
        ChannelClient client(ChannelName());
        std::string frame = Frame(Body(1, std::string("slow\0", 5)));
        client.Write(frame.substr(0, 2));
        Pause(Millis(300));
        client.Write(frame.substr(2, 5));
        Pause(Millis(300));
        client.Write(frame.substr(7));
        std::string reply = client.Read(4, Millis(10000), Millis(200));
        CheckEqual(FromUtf8(HexOf(reply)), L"01000000", "reply to a frame written in pieces");
    }
    // A client that leaves before its reply: the reply is not handed to the
    // next client, which gets exactly the reply to its own record.
    {
        ChannelClient client(ChannelName());
        client.Write(Frame(Body(1, std::string("gone\0", 5))));
    }
    ExpectServed("a client that left before its reply");
    auto balloons = notifier.TrayCalls(NIM_MODIFY);
    CheckEqual(static_cast<long long>(balloons.size()), 2, "number of balloons");
    CheckEqual(balloons[0].info, L"slow was blocked by orlivan", "text of the first balloon");
    CheckEqual(balloons[1].info, L"gone was blocked by orlivan", "text of the second balloon");
    CheckLoggedTypes({1, 1, 2});
}

// The service library's Windows example (docs/service-library.md), as a
// service team builds it against the DLL: it finds the logged-on session's
// user and tells that user's notifier that example.com was blocked.
E2E_SCENARIO(service_library_example_notifies_the_sessions_user) {
    Notifier notifier;
    StartNotifier(notifier);
    wchar_t example[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"ORLIVAN_E2E_LIBRARY_EXAMPLE", example, 1024);
    Check(length > 0 && length < 1024 && FileExists(example),
          "ORLIVAN_E2E_LIBRARY_EXAMPLE names the built example");
    HANDLE process = StartProgram(example, L"");
    const bool ended = WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    Check(ended, "the example ended within 30 s");
    CheckEqual(code, 0, "the example's exit code (every session's user notified)");
    TrayCall balloon = notifier.WaitForTrayCall(NIM_MODIFY, 1, Millis(5000));
    CheckBalloon(balloon, notifier,
                 {L"HTTPS Site Blocked", L"example.com was blocked by orlivan", kInfoIcon},
                 "the example's balloon");
}
