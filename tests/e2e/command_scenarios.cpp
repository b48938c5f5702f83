// The command channel against the service stand-in: the About dialog's
// version, the update check from the menu with its three outcomes and the
// offer's installer address, a service that never answers, and the update
// notices on the notification channel.
#include "harness.h"

#include <sddl.h>

#include <algorithm>
#include <string>

#include "channel/channel_name.h"
#include "locations/web_addresses.h"

using namespace e2e;

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageBoxText = 0xFFFF;
constexpr int kVersionControl = 1004;
constexpr int kOfferControl = 1001;

constexpr wchar_t kAboutCaption[] = L"Orlivan Info";
constexpr wchar_t kOfferCaption[] = L"Orlivan Update";
constexpr wchar_t kLatestCaption[] = L"Orlivan";
constexpr wchar_t kErrorCaption[] = L"Update Error";
constexpr wchar_t kErrorText[] =
    L"Cannot connect to Update Server.\nCheck your Network Connection and try again later";

// An update text with a new version and what is new, and the offer it makes.
constexpr wchar_t kUpdateText[] = L"\"rel;2.5.1;Faster blocking\"";
constexpr wchar_t kOfferText[] =
    L"New version(2.5.1) of Orlivan is available. Do you want to update?\n\n\n"
    L"Whats new: \n        Faster blocking";

std::wstring Wide(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

// The requests the stand-in has answered or dropped so far (one log line each).
int RequestCount(const StandIn& service) {
    const std::string output = service.Output();
    int count = 0;
    for (size_t at = output.find("request length"); at != std::string::npos;
         at = output.find("request length", at + 1)) {
        ++count;
    }
    return count;
}

StandIn& Serving(StandIn& service) {
    service.WaitForOutput("serving");
    return service;
}

void StartWithIcon(Notifier& notifier) {
    notifier.Start();
    notifier.WaitForIcon();
}

// Waits for a message box of the notifier with this caption, checks its text
// and presses OK.
void ExpectMessageBox(const Notifier& notifier, const wchar_t* caption, const std::wstring& text) {
    HWND box = WaitForProcessWindow(notifier.ProcessId(), kDialogClass, caption, Millis(15000));
    CheckEqual(ControlText(box, kMessageBoxText), text,
               "text of the \"" + Utf8(caption) + "\" box");
    ClickButton(box, IDOK);
    WaitForWindowGone(box, Millis(5000), "the \"" + Utf8(caption) + "\" box after OK");
}

// Lets a moment pass and fails if the notifier shows any window (its main
// dialog stays hidden, so every visible one is a box or dialog).
void ExpectNothingShown(const Notifier& notifier, const std::string& after) {
    Pause(Millis(1500));
    HWND shown = FindProcessWindow(notifier.ProcessId(), nullptr, nullptr);
    Check(shown == nullptr, "nothing is shown after " + after + "; found \"" +
                                Utf8(WindowCaption(shown)) + "\" (" + Utf8(WindowClass(shown)) +
                                ")");
}

// Chooses About and returns its dialog.
HWND OpenAbout(const Notifier& notifier) {
    notifier.PostCommand(kCmdAbout);
    return WaitForProcessWindow(notifier.ProcessId(), kDialogClass, kAboutCaption, Millis(20000));
}

void CloseWithOk(HWND dialog, const std::string& what) {
    ClickButton(dialog, IDOK);
    WaitForWindowGone(dialog, Millis(5000), what + " after OK");
}

// The version control of an open About dialog shows exactly this text.
void ExpectVersionShown(HWND about, const std::wstring& text) {
    HWND control = GetDlgItem(about, kVersionControl);
    Check(control != nullptr, "the About dialog has control 1004");
    Check(IsWindowVisible(control) != FALSE, "the version control is shown");
    CheckEqual(ControlText(about, kVersionControl), text, "text of the version control");
}

// Opens the update dialog from the menu and checks the offer.
HWND OpenOffer(const Notifier& notifier) {
    notifier.PostCommand(kCmdCheckUpdate);
    HWND offer =
        WaitForProcessWindow(notifier.ProcessId(), kDialogClass, kOfferCaption, Millis(20000));
    CheckEqual(ControlText(offer, kOfferControl), kOfferText, "the offer text");
    Check(!IsTopmost(offer), "the update dialog the user asked for is not topmost");
    for (int hidden : {1000, 1002}) {
        HWND control = GetDlgItem(offer, hidden);
        Check(control != nullptr && !IsWindowVisible(control),
              "control " + std::to_string(hidden) + " of the update dialog is hidden");
    }
    return offer;
}

// Accepts the offer and checks the installer address handed to the browser.
void AcceptOfferExpecting(const char* installer) {
    ArrangeStandardInstall();
    StandIn service(L"serve --status 5 --text " + std::wstring(kUpdateText));
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    HWND offer = OpenOffer(notifier);
    ClickButton(offer, IDOK);
    WaitForWindowGone(offer, Millis(5000), "the update dialog after OK");
    auto records = WaitForRecords(1, Millis(15000));
    Check(records[0].arguments.size() == 1,
          "the URL handler got one argument; the recorded run was " + Describe(records[0]));
    CheckEqual(records[0].arguments[0], Wide(installer), "the installer address");
    ExpectRecordCountStays(1, Millis(1000), "accepting the offer");
}

}  // namespace

// ---------------------------------------------------------------- About

E2E_SCENARIO(version_request_is_its_length_and_code) {
    StandIn service(L"serve --version 1.2.3");
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    HWND about = OpenAbout(notifier);
    service.WaitForOutput("exchange 1: replied");
    // A byte pipe: the service reads the length word, then the body it
    // announces. (That the notifier writes them as two writes is
    // CommandExchange.VersionRequestIsTwoWritesAndTheReplyTwoReads.)
    const std::string output = service.Output();
    const std::string expected =
        "exchange 1: received 04000000\n"
        "exchange 1: received 05030000\n"
        "exchange 1: request length 4 command 0x305\n";
    Check(output.find(expected) != std::string::npos,
          "the request is 04000000 then 05030000; the stand-in logged:\n" + output);
    CheckEqual(RequestCount(service), 1, "requests for one About");
    CloseWithOk(about, "the About dialog");
}

E2E_SCENARIO(about_shows_installed_version_and_keeps_it) {
    StandIn service(L"serve --version 1.2.3");
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    HWND about = OpenAbout(notifier);
    ExpectVersionShown(about, L"Orlivan Version 1.2.3");

    // About again while it is open: the open one stays, alone, and the
    // service is not asked again.
    notifier.PostCommand(kCmdAbout);
    Pause(Millis(1000));
    CheckEqual(CountProcessWindows(notifier.ProcessId(), kDialogClass, kAboutCaption), 1,
               "About dialogs open after a second About");
    CloseWithOk(about, "the About dialog");

    // Once known, the version is shown without a new request.
    about = OpenAbout(notifier);
    ExpectVersionShown(about, L"Orlivan Version 1.2.3");
    CloseWithOk(about, "the second About dialog");
    CheckEqual(RequestCount(service), 1, "requests after two showings");
}

E2E_SCENARIO(about_asks_again_until_the_service_answers) {
    Notifier notifier;
    StartWithIcon(notifier);

    // No service: the version control is hidden.
    HWND about = OpenAbout(notifier);
    HWND control = GetDlgItem(about, kVersionControl);
    Check(control != nullptr && !IsWindowVisible(control),
          "the version control is hidden while no service answers");
    CloseWithOk(about, "the About dialog without a service");

    // The service has started: the next showing asks and shows the version.
    {
        StandIn service(L"serve --version 1.2.3");
        Serving(service);
        about = OpenAbout(notifier);
        ExpectVersionShown(about, L"Orlivan Version 1.2.3");
        CloseWithOk(about, "the About dialog with the service up");
        CheckEqual(RequestCount(service), 1, "requests for the showing with the service up");
    }

    // A service that would now report another version is never asked.
    StandIn later(L"serve --version 9.9.9");
    Serving(later);
    about = OpenAbout(notifier);
    ExpectVersionShown(about, L"Orlivan Version 1.2.3");
    CloseWithOk(about, "the About dialog once the version is known");
    CheckEqual(RequestCount(later), 0, "requests once the version is known");
}

// ---------------------------------------------------------------- Check Update

E2E_SCENARIO(check_update_latest_version) {
    StandIn service(L"serve --status 4 --text 2.5.1");
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    notifier.PostCommand(kCmdCheckUpdate);
    ExpectMessageBox(notifier, kLatestCaption,
                     L"This version of Orlivan(2.5.1) is the latest version.");
    service.WaitForOutput("exchange 1: request length 4 command 0x300");
}

E2E_SCENARIO(check_update_offer_accepted_x86) {
    AcceptOfferExpecting(URL_INSTALLER_X86.data());
}

// The same 32-bit notifier on 64-bit Windows offers the amd64 installer.
E2E_SCENARIO(check_update_offer_accepted_win64) {
    AcceptOfferExpecting(URL_INSTALLER_AMD64.data());
}

E2E_SCENARIO(check_update_offer_cancelled) {
    ArrangeStandardInstall();
    StandIn service(L"serve --status 5 --text " + std::wstring(kUpdateText));
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    HWND offer = OpenOffer(notifier);
    ClickButton(offer, IDCANCEL);
    WaitForWindowGone(offer, Millis(5000), "the update dialog after Cancel");
    ExpectRecordCountStays(0, Millis(1500), "cancelling the offer");

    // Nothing of the choice is kept: the next check offers again.
    offer = OpenOffer(notifier);
    ClickButton(offer, IDCANCEL);
    WaitForWindowGone(offer, Millis(5000), "the second update dialog after Cancel");
    ExpectRecordCountStays(0, Millis(500), "cancelling the second offer");
}

E2E_SCENARIO(check_update_errors) {
    ArrangeStandardInstall();
    Notifier notifier;
    {
        StandIn service(L"serve --status 7 --text 2.5.1");
        Serving(service);
        StartWithIcon(notifier);
        notifier.PostCommand(kCmdCheckUpdate);
        ExpectMessageBox(notifier, kErrorCaption, kErrorText);
        CheckEqual(RequestCount(service), 1, "requests for one check");
        service.Stop();
    }
    // The service has stopped.
    notifier.PostCommand(kCmdCheckUpdate);
    ExpectMessageBox(notifier, kErrorCaption, kErrorText);

    // While the name is free, another account makes the command pipe (its
    // owner set to that account, which Wine lets any process do): the
    // notifier opens it, logs who owns it, sends nothing and shows the error.
    const std::wstring other = L"S-1-5-21-1-2-3-1001";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        (L"O:" + other + L"D:(A;;GRGW;;;WD)").c_str(), SDDL_REVISION_1, &descriptor, nullptr);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const std::wstring name = Wide(kWindowsPipePrefix) + Wide(kCommandPipeBaseName);
    HANDLE forged = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 512, 512,
                                     0, &attributes);
    LocalFree(descriptor);
    Check(forged != INVALID_HANDLE_VALUE, "the forged command pipe");
    notifier.PostCommand(kCmdCheckUpdate);
    ExpectMessageBox(notifier, kErrorCaption, kErrorText);
    const std::string refused = " Command channel " + Utf8(name) + " is owned by " + Utf8(other) +
                                ", not by a service; nothing was sent to it";
    const auto lines = LogLines(ReadFileBytes(LogPathFor(ReadVolatileEnvironment(L"USERPROFILE"))));
    CheckEqual(std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(refused) == 24; }),
               1, "log lines \"" + refused + "\"");
    // The notifier has come and gone: a read gives what it wrote, or fails.
    char byte = 0;
    DWORD got = 0;
    Check(!ReadFile(forged, &byte, 1, &got, nullptr) && got == 0, "the forged pipe got no byte");
    CloseHandle(forged);

    // A service that accepts and never answers: while Check Update and About
    // wait for it, the window answers, a double click starts the settings
    // program, and the end of the session ends the program at once.
    StandIn hung(L"serve --delay 60000");
    Serving(hung);
    notifier.PostCommand(kCmdCheckUpdate);
    hung.WaitForOutput("exchange 1: request length 4 command 0x300");
    notifier.PostCommand(kCmdAbout);
    DWORD_PTR answer = 0;
    Check(SendMessageTimeoutW(notifier.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &answer) != 0,
          "the window answers a plain message within 2 s while the service is asked");
    notifier.PostTrayEvent(WM_LBUTTONDBLCLK);
    WaitForRecords(1, Millis(5000));
    Check(FindProcessWindow(notifier.ProcessId(), kDialogClass, nullptr) == nullptr,
          "the exchange is still pending (no box or dialog yet) when the session ends");
    notifier.SendEndSession(ENDSESSION_LOGOFF);
    notifier.WaitForExit(Millis(5000));
    CheckEqual(notifier.ExitCode(), 0, "exit code at the end of the session");
    // The log ends with whole lines (LogLines fails otherwise).
    LogLines(ReadFileBytes(LogPathFor(ReadVolatileEnvironment(L"USERPROFILE"))));
}

// ---------------------------------------------------------------- update notices

E2E_SCENARIO(new_update_notices) {
    StandIn service(L"serve --status 4 --text 2.5.1");
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);

    // The first notice runs a silent check: asked, replied, nothing shown.
    RunStandIn(L"send new-update");
    CheckEqual(RequestCount(service), 1, "update checks after the first notice");
    Check(service.Output().find("command 0x300") != std::string::npos,
          "the first notice's check asked for an update");
    ExpectNothingShown(notifier, "a silent check at the latest version");
    CheckEqual(static_cast<long long>(notifier.TrayCalls(NIM_MODIFY).size()), 0,
               "balloons after the first notice");

    // The second shows the balloon and asks nothing.
    RunStandIn(L"send new-update");
    TrayCall balloon = notifier.WaitForTrayCall(NIM_MODIFY, 1, Millis(10000));
    CheckEqual(balloon.infoTitle, L"New Update", "balloon title");
    CheckEqual(balloon.info, L"A new version of Orlivan is available for Update", "balloon text");
    CheckEqual(balloon.infoFlags, NIIF_INFO, "balloon icon flags");
    CheckEqual(balloon.timeoutOrVersion, 4, "balloon time-out");
    CheckEqual(RequestCount(service), 1, "update checks after the second notice");
}

// The offer of a notice's check is shown by the worker, unasked: it stays on
// top (without asking for the keyboard); the notice is answered once it is
// closed.
E2E_SCENARIO(notice_offer_comes_to_front) {
    StandIn service(L"serve --status 5 --text " + std::wstring(kUpdateText));
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    StandIn notice(L"send new-update");
    HWND offer =
        WaitForProcessWindow(notifier.ProcessId(), kDialogClass, kOfferCaption, Millis(20000));
    CheckEqual(ControlText(offer, kOfferControl), kOfferText, "the offer text");
    Check(IsTopmost(offer), "the update dialog a notice opened is topmost");
    ClickButton(offer, IDCANCEL);
    WaitForWindowGone(offer, Millis(5000), "the update dialog after Cancel");
    CheckEqual(notice.WaitForExit(Millis(15000)), 0, "exit code of the notice's sender");
}

// An update dialog is open from the menu when the first notice's check gets
// an offer too: that offer is dropped, the notice is still answered.
E2E_SCENARIO(second_offer_dropped_while_dialog_open) {
    ArrangeStandardInstall();
    StandIn service(L"serve --status 5 --text " + std::wstring(kUpdateText));
    Serving(service);
    Notifier notifier;
    StartWithIcon(notifier);
    HWND offer = OpenOffer(notifier);

    RunStandIn(L"send new-update");  // fails unless the reply comes
    CheckEqual(RequestCount(service), 2, "update checks (menu, then notice)");
    Pause(Millis(1000));
    CheckEqual(CountProcessWindows(notifier.ProcessId(), kDialogClass, kOfferCaption), 1,
               "update dialogs open after the second offer");
    Check(IsWindow(offer) != FALSE, "the first update dialog is still open");

    ClickButton(offer, IDCANCEL);
    WaitForWindowGone(offer, Millis(5000), "the update dialog after Cancel");
    ExpectNothingShown(notifier, "closing the one update dialog");
    ExpectRecordCountStays(0, Millis(0), "cancelling the offer");
}
