#include "update/update_ui.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "commands/command_exchange.h"

namespace {

// The fake's dialogs, handed out as opaque CUpdateDialog pointers.
struct FakeDialog {
    std::string text;
};

FakeDialog* AsFake(CUpdateDialog* dialog) {
    return reinterpret_cast<FakeDialog*>(dialog);
}

using Bytes = std::vector<uint8_t>;

// Records what the check shows; a dialog "runs" by calling `whileOpen`.
class FakeUpdateUi : public CUpdateUi {
public:
    void ExchangeStarting() override { events.push_back("exchange starting"); }
    void ExchangeEnded() override { events.push_back("exchange ended"); }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        events.push_back("message");
        messages.push_back(caption + "|" + text);
    }
    CUpdateDialog* CreateUpdateDialog(const std::string& updateText) override {
        ++created;
        return reinterpret_cast<CUpdateDialog*>(new FakeDialog{updateText});
    }
    void RunUpdateDialog(CUpdateDialog* dialog) override {
        events.push_back("dialog");
        shown.push_back(AsFake(dialog)->text);
        if (whileOpen) {
            whileOpen();
        }
    }
    void DeleteUpdateDialog(CUpdateDialog* dialog) override {
        ++deleted;
        delete AsFake(dialog);
    }
    std::vector<std::string> events;
    std::vector<std::string> messages;
    std::vector<std::string> shown;
    int created = 0;
    int deleted = 0;
    std::function<void()> whileOpen;
};

// Answers every exchange with the same reply frame.
class ScriptedService : public CCommandTransport {
public:
    explicit ScriptedService(Bytes frame) : m_frame(std::move(frame)) {}
    int Open() override {
        m_pos = 0;
        return reachable ? 1 : 0;
    }
    int Write(uint32_t, const void*, ExchangeDeadline) override { return reachable ? 1 : 0; }
    int Read(uint32_t count, void* buffer, ExchangeDeadline) override {
        if (!reachable || m_pos + count > m_frame.size())
            return 0;
        std::memcpy(buffer, m_frame.data() + m_pos, count);
        m_pos += count;
        return 1;
    }
    void Close() override {}
    bool reachable = true;

private:
    Bytes m_frame;
    size_t m_pos = 0;
};

Bytes UpdateFrame(int32_t status, const std::string& text) {
    std::string frame;
    auto put = [&frame](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            frame.push_back(static_cast<char>(v >> (8 * i)));
    };
    put(static_cast<uint32_t>(13 + text.size()));
    put(0x300);
    put(static_cast<uint32_t>(status));
    put(static_cast<uint32_t>(text.size()));
    frame += text;
    frame.push_back('\0');
    return Bytes(frame.begin(), frame.end());
}

// The command side as the service object sends it: one exchange over `service`.
CommandSender Over(CCommandTransport& service) {
    return [&service](CComand& command) { return SendCommandOver(service, command); };
}

const std::string kError =
    "Update Error|Cannot connect to Update Server.\nCheck your Network Connection and try again "
    "later";

}  // namespace

TEST(UpdateCheckRun, LatestVersionMessageOnlyWhenNotSilent) {
    ScriptedService service(UpdateFrame(4, "2.5.1"));
    std::atomic<CUpdateDialog*> open{nullptr};
    FakeUpdateUi ui;
    RunUpdateCheck(Over(service), open, ui, false);
    RunUpdateCheck(Over(service), open, ui, true);
    EXPECT_EQ(ui.messages,
              std::vector<std::string>{"Orlivan|This version of Orlivan(2.5.1) is the latest "
                                       "version."});
    EXPECT_EQ(ui.created, 0);
}

TEST(UpdateCheckRun, ErrorsAreShownEvenWhenSilent) {
    ScriptedService seven(UpdateFrame(7, ""));
    ScriptedService stopped(UpdateFrame(4, "1.0"));
    stopped.reachable = false;
    std::atomic<CUpdateDialog*> open{nullptr};
    FakeUpdateUi ui;
    RunUpdateCheck(Over(seven), open, ui, true);
    RunUpdateCheck(Over(stopped), open, ui, true);
    // No command channel at all: no reply.
    RunUpdateCheck([](CComand&) -> CCommandReply* { return nullptr; }, open, ui, false);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{kError, kError, kError}));
}

TEST(UpdateCheckRun, OfferOpensTheDialogAndFreesTheSlotAfterwards) {
    ScriptedService service(UpdateFrame(5, "a;2.0;Faster blocking"));
    std::atomic<CUpdateDialog*> open{nullptr};
    FakeUpdateUi ui;
    CUpdateDialog* seenWhileOpen = nullptr;
    ui.whileOpen = [&] { seenWhileOpen = open.load(); };
    RunUpdateCheck(Over(service), open, ui, true);
    EXPECT_EQ(ui.shown, std::vector<std::string>{"a;2.0;Faster blocking"});
    EXPECT_NE(seenWhileOpen, nullptr);
    EXPECT_EQ(open.load(), nullptr);
    EXPECT_EQ(ui.deleted, 1);
    RunUpdateCheck(Over(service), open, ui, false);  // the next offer opens a new dialog
    EXPECT_EQ(ui.shown.size(), 2u);
}

TEST(UpdateCheckRun, SecondOfferWhileADialogIsOpenIsDropped) {
    ScriptedService service(UpdateFrame(5, "a;2.0;x"));
    ScriptedService latest(UpdateFrame(4, "2.0"));
    std::atomic<CUpdateDialog*> open{nullptr};
    FakeUpdateUi ui;
    bool nested = false;
    ui.whileOpen = [&] {
        if (nested)
            return;
        nested = true;
        RunUpdateCheck(Over(service), open, ui, false);  // dropped: nothing shown
        RunUpdateCheck(Over(latest), open, ui, false);   // a message still shows
    };
    RunUpdateCheck(Over(service), open, ui, false);
    EXPECT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.created, ui.deleted);
    EXPECT_EQ(ui.messages,
              std::vector<std::string>{"Orlivan|This version of Orlivan(2.0) is the latest "
                                       "version."});
}

// The screen shows that the check is busy for the exchange alone: it has
// ended before any box or dialog opens, whatever the outcome.
TEST(UpdateCheckRun, BusyOnlyWhileTheServiceIsAsked) {
    const struct {
        int32_t status;
        bool reachable;
        const char* shows;
    } cases[] = {{4, true, "message"}, {5, true, "dialog"}, {5, false, "message"}};
    for (const auto& c : cases) {
        ScriptedService service(UpdateFrame(c.status, "a;2.0;x"));
        service.reachable = c.reachable;
        std::atomic<CUpdateDialog*> open{nullptr};
        FakeUpdateUi ui;
        RunUpdateCheck(
            [&](CComand& command) {
                ui.events.push_back("sent");
                return SendCommandOver(service, command);
            },
            open, ui, false);
        EXPECT_EQ(ui.events, (std::vector<std::string>{"exchange starting", "sent",
                                                       "exchange ended", c.shows}))
            << c.status << " " << c.reachable;
    }
}
