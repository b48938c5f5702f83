// The command channel client over real named pipes served by the service
// stand-in's server (message mode, so each client write is one message), and
// the update dialog built from the program's own template.
#include "commands/command_reply.h"
#include "channel/pipe_client.h"
#include "app/update_dialog.h"
#include "tool_jobs.h"
#include "update/update_offer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/resources/resource.h"

namespace {

std::string UniquePipeName() {
    static int counter = 0;
    return "\\\\.\\pipe\\orlivan_cmd_test_" + std::to_string(GetCurrentProcessId()) + "_" +
           std::to_string(++counter);
}

// Runs the stand-in's command server on a thread until the test ends.
class StandInServer {
public:
    explicit StandInServer(ServeOptions options) : m_channel(UniquePipeName()) {
        options.channel = m_channel;
        m_thread = std::thread([this, options] {
            m_result = RunServe(
                options,
                [this](const std::string& line) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_log.push_back(line);
                },
                [](const std::string&) {}, m_stop,
                [this] {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_ready = true;
                    m_changed.notify_all();
                });
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready = true;
            m_changed.notify_all();
        });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_ready; });
    }
    ~StandInServer() {
        m_stop = true;
        m_thread.join();
    }
    const std::string& Channel() const { return m_channel; }
    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }

private:
    std::string m_channel;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ready = false;
    int m_result = -1;
    std::vector<std::string> m_log;
    std::thread m_thread;
};

std::unique_ptr<CCommandReply> Exchange(CPipeClient& client, CComand& command) {
    return std::unique_ptr<CCommandReply>(SendCommandOver(client, command));
}

std::vector<std::string> Received(const std::vector<std::string>& log) {
    std::vector<std::string> messages;
    for (const std::string& line : log) {
        const std::string marker = ": received ";
        const size_t at = line.find(marker);
        if (at != std::string::npos) {
            messages.push_back(line.substr(at + marker.size()));
        }
    }
    return messages;
}

}  // namespace

TEST(CommandPipeWin, VersionRequestArrivesInTwoWrites) {
    ServeOptions options;
    options.version = "1.2.3";
    StandInServer server(options);
    CPipeClient client(server.Channel());
    CVersionCommand command;
    auto reply = Exchange(client, command);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(InstalledVersionFromReply(reply.get()), "1.2.3");
    EXPECT_EQ(client.m_pipe, CPipeClient::INVALID_PIPE);
    EXPECT_EQ(Received(server.Log()), (std::vector<std::string>{"04000000", "05030000"}));
}

TEST(CommandPipeWin, UpdateCheckReplyAndBackToBackExchanges) {
    ServeOptions options;
    options.status = 5;
    options.text = "a;2.0;x";
    StandInServer server(options);
    CPipeClient client(server.Channel());
    for (int i = 0; i < 3; ++i) {
        CCheckUpdateCommand command;
        auto reply = Exchange(client, command);
        ASSERT_NE(reply, nullptr) << "exchange " << i;
        int32_t status = 0;
        EXPECT_TRUE(GetReplyInteger(*reply, REPLY_KEY_STATUS, &status));
        EXPECT_EQ(status, 5);
        EXPECT_STREQ(GetReplyText(*reply, REPLY_KEY_UPDATE_TEXT), "a;2.0;x");
    }
}

TEST(CommandPipeWin, NoServiceGivesNoReplyAtOnce) {
    CPipeClient client(UniquePipeName());
    CVersionCommand command;
    EXPECT_EQ(Exchange(client, command), nullptr);
    EXPECT_EQ(client.m_pipe, CPipeClient::INVALID_PIPE);
}

TEST(CommandPipeWin, DroppedDelayedAndMalformedRepliesGiveNoReply) {
    ServeOptions drop;
    drop.drop = true;
    {
        StandInServer server(drop);
        CPipeClient client(server.Channel(), 2000);
        CVersionCommand command;
        EXPECT_EQ(Exchange(client, command), nullptr);
        EXPECT_EQ(client.m_pipe, CPipeClient::INVALID_PIPE);
    }
    ServeOptions late;
    late.delayMs = 1500;
    late.version = "9.9";
    {
        StandInServer server(late);
        CPipeClient impatient(server.Channel(), 200);
        CVersionCommand command;
        EXPECT_EQ(Exchange(impatient, command), nullptr);
        EXPECT_EQ(impatient.m_pipe, CPipeClient::INVALID_PIPE);
        CPipeClient patient(server.Channel(), 10000);
        auto reply = Exchange(patient, command);
        ASSERT_NE(reply, nullptr);
        EXPECT_EQ(InstalledVersionFromReply(reply.get()), "9.9");
    }
    {
        ServeOptions malformed;  // the text length runs past the body
        malformed.rawReply = ParseHex("0003000005000000ff000000616200");
        StandInServer server(malformed);
        CPipeClient client(server.Channel(), 2000);
        CCheckUpdateCommand command;
        EXPECT_EQ(Exchange(client, command), nullptr);
    }
    ServeOptions huge;
    huge.rawReply = ParseHex("05030000312e3000");
    huge.replyLength = COMMAND_REPLY_MAX_LENGTH + 1;
    StandInServer server(huge);
    CPipeClient client(server.Channel(), 2000);
    CVersionCommand command;
    EXPECT_EQ(Exchange(client, command), nullptr);
}

namespace {

std::vector<std::wstring> g_openedUrls;
void RecordUrl(const wchar_t* url) {
    g_openedUrls.emplace_back(url);
}

WORD Amd64() {
    return 9;
}
WORD X86() {
    return 0;
}

// The update dialog with a scripted end: after its own initialisation it
// records what the user would see and posts the given message.
class ScriptedUpdateDialog : public CUpdateDialog {
public:
    ScriptedUpdateDialog(std::string text, UINT message, WPARAM wParam)
        : CUpdateDialog(std::move(text)), m_message(message), m_wParam(wParam) {
        m_openUrl = &RecordUrl;
    }
    BOOL OnInitDialog() override {
        const BOOL result = CUpdateDialog::OnInitDialog();
        wchar_t text[512] = {};
        ::GetDlgItemTextW(m_hWnd, IDC_UPDATE_MESSAGE, text, 512);
        shownText = text;
        const auto visible = [this](int id) {
            return (::GetWindowLongW(GetDlgItem(id), GWL_STYLE) & WS_VISIBLE) != 0;
        };
        progressVisible = visible(IDC_UPDATE_PROGRESS);
        waitVisible = visible(IDC_UPDATE_WAIT);
        messageVisible = visible(IDC_UPDATE_MESSAGE);
        ::GetWindowTextW(m_hWnd, text, 512);
        caption = text;
        ::PostMessageW(m_hWnd, m_message, m_wParam, 0);
        return result;
    }
    std::wstring shownText;
    std::wstring caption;
    bool progressVisible = true;
    bool waitVisible = true;
    bool messageVisible = false;

private:
    UINT m_message;
    WPARAM m_wParam;
};

}  // namespace

TEST(UpdateDialogWin, ShowsTheOfferAndOkOpensTheInstallerForTheArchitecture) {
    for (bool amd64 : {true, false}) {
        g_openedUrls.clear();
        ScriptedUpdateDialog dialog("a;2.0;Faster blocking", WM_COMMAND,
                                    MAKEWPARAM(IDOK, BN_CLICKED));
        dialog.m_nativeArchitecture = amd64 ? &Amd64 : &X86;
        EXPECT_EQ(dialog.m_prefix, "a");
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(dialog.caption, L"Orlivan Update");
        EXPECT_EQ(dialog.shownText,
                  L"New version(2.0) of Orlivan is available. Do you want to update?\n\n\n"
                  L"Whats new: \n        Faster blocking");
        EXPECT_FALSE(dialog.progressVisible);
        EXPECT_FALSE(dialog.waitVisible);
        EXPECT_TRUE(dialog.messageVisible);
        ASSERT_EQ(g_openedUrls.size(), 1u);
        const std::wstring path = amd64 ? L"/windows7/amd64/OrlivanUpdate_amd64.exe"
                                        : L"/windows7/x86/OrlivanUpdate_x86.exe";
        EXPECT_EQ(g_openedUrls[0].rfind(L"http://", 0), 0u);
        EXPECT_TRUE(g_openedUrls[0].ends_with(path));
    }
}

TEST(UpdateDialogWin, CancelAndCloseOpenNothing) {
    g_openedUrls.clear();
    ScriptedUpdateDialog cancel("a;2.0;x", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED));
    EXPECT_EQ(cancel.DoModal(), IDCANCEL);
    ScriptedUpdateDialog close("a;2.0;x", WM_CLOSE, 0);
    EXPECT_EQ(close.DoModal(), IDCANCEL);
    EXPECT_TRUE(g_openedUrls.empty());
}

TEST(UpdateDialogWin, NativeArchitectureIsReadFromTheSystem) {
    // Wine's 32-bit prefix reports x86; a 64-bit Windows reports AMD64.
    const WORD architecture = NativeProcessorArchitecture();
    EXPECT_TRUE(architecture == PROCESSOR_ARCHITECTURE_INTEL ||
                architecture == PROCESSOR_ARCHITECTURE_AMD64)
        << architecture;
    EXPECT_EQ(UsesAmd64Installer(architecture), architecture == PROCESSOR_ARCHITECTURE_AMD64);
}
