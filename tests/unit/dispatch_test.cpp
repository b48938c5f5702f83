#include "notify/dispatch.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Records every effect of the dispatch in order, as one line each.
class RecordingView : public NotificationView {
public:
    void Log(int32_t level, const std::string& line) override {
        events.push_back("log " + std::to_string(level) + " " + line);
    }
    void ShowBalloon(std::u16string_view title, std::u16string_view text,
                     std::optional<uint32_t> infoFlags) override {
        balloons.push_back({std::u16string(title), std::u16string(text), infoFlags});
        events.push_back("balloon");
    }
    void Pause(uint32_t milliseconds) override {
        events.push_back("pause " + std::to_string(milliseconds));
    }
    void ShowErrorBox(std::u16string_view text, std::u16string_view caption) override {
        boxText = std::u16string(text);
        boxCaption = std::u16string(caption);
        events.push_back("box");
    }
    void CheckForUpdateSilently() override { events.push_back("update check"); }
    std::string GetProcessName(int32_t processId) override {
        events.push_back("lookup " + std::to_string(processId));
        auto it = processes.find(processId);
        return it == processes.end() ? "" : it->second;
    }
    int64_t Now() override {
        ++clockReads;
        return now;
    }

    struct Balloon {
        std::u16string title;
        std::u16string text;
        std::optional<uint32_t> infoFlags;
    };
    std::vector<std::string> events;
    std::vector<Balloon> balloons;
    std::u16string boxText;
    std::u16string boxCaption;
    std::map<int32_t, std::string> processes;
    int64_t now = 1'800'000'000;
    int clockReads = 0;
};

class Dispatch : public ::testing::Test {
protected:
    int32_t Show(int32_t type, std::string detail = "", int32_t errorCode = 0) {
        view.events.clear();
        view.balloons.clear();
        return DispatchNotification({type, std::move(detail), errorCode}, view, state, nullptr);
    }
    // The single balloon the last record showed, with the log line and pause around it.
    const RecordingView::Balloon& OnlyBalloon(int32_t type) {
        const std::vector<std::string> expected = {
            "log 1 COrlivanSysTrayDlg::ShowNotification " + std::to_string(type) + "\n", "balloon",
            "pause 1000"};
        EXPECT_EQ(view.events, expected);
        EXPECT_EQ(view.balloons.size(), 1u);
        static const RecordingView::Balloon none;
        return view.balloons.empty() ? none : view.balloons.front();
    }
    std::vector<std::string> LogOnly(int32_t type) {
        return {"log 1 COrlivanSysTrayDlg::ShowNotification " + std::to_string(type) + "\n"};
    }

    RecordingView view;
    NotificationDispatchState state;
};

constexpr char16_t kConflictHead[] = u"Orlivan is blocked by application with ";
constexpr char16_t kConflictTail[] = u". Please stop the application to help Orlivan work properly";

}  // namespace

TEST_F(Dispatch, FixedBalloonRows) {
    struct Row {
        int32_t type;
        std::u16string title;
        std::u16string text;
        uint32_t flags;
        int32_t result;
    } rows[] = {
        {-3, u"Notifier Error", u"Error with Notifier Operation", 3, 0},
        {4, u"Server Down", u"Orlivan Server is down. Try after some time", 3, 1},
        {7, u"No Hotspot", u"Orlivan cannot detect any hotspot. Make sure you are connected to one",
         3, 1},
        {8, u"Hotspot Detected", u"Orlivan has detected hotspot and is switching to Hotspot mode",
         3, 1},
        {9, u"Normal mode", u"Orlivan is switching to Normal mode from Hotspot mode", 3, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        EXPECT_EQ(Show(row.type), row.result);
        const auto& balloon = OnlyBalloon(row.type);
        EXPECT_EQ(balloon.title, row.title);
        EXPECT_EQ(balloon.text, row.text);
        EXPECT_EQ(balloon.infoFlags, row.flags);
    }
}

TEST_F(Dispatch, SiteBlockedAppendsToTheDetail) {
    EXPECT_EQ(Show(1, "abc"), 1);
    const auto& balloon = OnlyBalloon(1);
    EXPECT_EQ(balloon.title, u"HTTPS Site Blocked");
    EXPECT_EQ(balloon.text, u"abc was blocked by orlivan");
    EXPECT_EQ(balloon.infoFlags, 1u);

    EXPECT_EQ(Show(1, ""), 1);
    EXPECT_EQ(OnlyBalloon(1).text, u" was blocked by orlivan");
}

TEST_F(Dispatch, AckOnlyLogsAndAnswers) {
    EXPECT_EQ(Show(2), 1);
    EXPECT_EQ(view.events, LogOnly(2));
}

// The type table that service tools read says which records get a reply.
TEST_F(Dispatch, AnswersExactlyTheTypesTheTableMarksReplied) {
    for (const NotificationTypeInfo& type : NotificationTypes()) {
        state = NotificationDispatchState{};
        EXPECT_EQ(Show(type.code, "x", 5) != 0, type.replied) << type.name;
    }
}

TEST_F(Dispatch, UnknownCodesGetAnEmptyBalloonAndNoReply) {
    for (int32_t type : {0, -1, -2, 5, 11, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(Show(type), 0);
        const auto& balloon = OnlyBalloon(type);
        EXPECT_EQ(balloon.title, u"");
        EXPECT_EQ(balloon.text, u"");
        EXPECT_FALSE(balloon.infoFlags.has_value());  // the icon stays as it was
    }
}

TEST_F(Dispatch, FirstNewUpdateChecksLaterOnesShowABalloon) {
    EXPECT_EQ(Show(3), 1);
    std::vector<std::string> expected = LogOnly(3);
    expected.push_back("update check");
    EXPECT_EQ(view.events, expected);
    EXPECT_FALSE(state.s_checkUpdateOnNotice);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Show(3), 1);
        const auto& balloon = OnlyBalloon(3);
        EXPECT_EQ(balloon.title, u"New Update");
        EXPECT_EQ(balloon.text, u"A new version of Orlivan is available for Update");
        EXPECT_EQ(balloon.infoFlags, 1u);
    }
}

TEST_F(Dispatch, FirstDriverErrorIsABoxLaterOnesBalloons) {
    EXPECT_EQ(Show(6, "", -5), 1);
    std::vector<std::string> expected = LogOnly(6);
    expected.push_back("box");
    EXPECT_EQ(view.events, expected);
    EXPECT_EQ(view.boxText, u"Orlivan driver failed! to load with error -5");
    EXPECT_EQ(view.boxCaption, u"Orlivan Driver Error");
    EXPECT_TRUE(state.s_driverErrorReported);

    EXPECT_EQ(Show(6, "", 1234567), 1);
    const auto& balloon = OnlyBalloon(6);
    EXPECT_EQ(balloon.title, u"Orlivan Driver Error");
    EXPECT_EQ(balloon.text, u"Orlivan driver failed! to load with error 1234567");
    EXPECT_EQ(balloon.infoFlags, 3u);
}

TEST_F(Dispatch, ConflictWithoutProcessIdKeepsTheDetail) {
    EXPECT_EQ(Show(10, "abc"), 1);
    const auto& balloon = OnlyBalloon(10);  // no lookup among the events
    EXPECT_EQ(balloon.title, u"Conflicting Application Found");
    EXPECT_EQ(balloon.text, std::u16string(kConflictHead) + u"abc" + kConflictTail);
    EXPECT_EQ(balloon.infoFlags, 3u);
}

TEST_F(Dispatch, ConflictWithEmptyDetail) {
    EXPECT_EQ(Show(10, ""), 1);
    EXPECT_EQ(OnlyBalloon(10).text, std::u16string(kConflictHead) + kConflictTail);
}

TEST_F(Dispatch, ConflictNamesTheProcessFoundByItsId) {
    view.processes[1234] = "app.exe";
    EXPECT_EQ(Show(10, "PID - \"1234\" (vpn)"), 1);
    ASSERT_EQ(view.events.size(), 4u);
    EXPECT_EQ(view.events[1], "lookup 1234");
    EXPECT_EQ(view.balloons[0].text,
              std::u16string(kConflictHead) + u"name \"app.exe\"" + kConflictTail);
}

TEST_F(Dispatch, ConflictKeepsTheDetailWhenTheLookupFindsNothing) {
    const std::string detail = "PID - \"4321\"";
    EXPECT_EQ(Show(10, detail), 1);
    EXPECT_EQ(view.events[1], "lookup 4321");
    EXPECT_EQ(view.balloons[0].text,
              std::u16string(kConflictHead) + u"PID - \"4321\"" + kConflictTail);
}

TEST_F(Dispatch, ConflictWithoutUsableProcessIdKeepsServiceText) {
    for (const char* detail :
         {"PID 77", "PID - \"77", "xPIDx", "PID - \"0\"", "PID - \"-8\"", "PID - \"abc\""}) {
        state = NotificationDispatchState{};
        view = RecordingView{};
        Show(10, detail);
        // Exactly log, balloon, pause: no lookup among the events.
        EXPECT_EQ(OnlyBalloon(10).text,
                  std::u16string(kConflictHead) + WidenBytes(detail) + kConflictTail)
            << detail;
    }
}

TEST(ConflictProcessId, ReadsTheNumberInsideTheMarker) {
    EXPECT_EQ(ConflictProcessId("PID - \"1234\""), 1234);
    EXPECT_EQ(ConflictProcessId("app PID - \" 42x\" PID - \"7\""), 42);
    EXPECT_EQ(ConflictProcessId("PID - \"-8\""), -8);
    EXPECT_EQ(ConflictProcessId("PID - \"\""), 0);
    EXPECT_EQ(ConflictProcessId("PID - \"abc\""), 0);
    EXPECT_EQ(ConflictProcessId("PID - \"2147483647\""), 2147483647);
    EXPECT_EQ(ConflictProcessId("PID - \"-2147483648\""), INT32_MIN);
    // Out of range is no process, not undefined behaviour.
    EXPECT_EQ(ConflictProcessId("PID - \"2147483648\""), 0);
    EXPECT_EQ(ConflictProcessId("PID - \"99999999999999999999999\""), 0);
}

TEST_F(Dispatch, ConflictGateHoldsFor120Seconds) {
    const int64_t start = view.now;
    EXPECT_EQ(Show(10, "a"), 1);  // the first of a run is always shown
    EXPECT_EQ(view.balloons.size(), 1u);
    EXPECT_EQ(state.s_lastConflictBalloonTime, start);

    view.now = start + 119;
    EXPECT_EQ(Show(10, "b"), 1);
    EXPECT_EQ(view.events, LogOnly(10));  // answered, nothing shown
    EXPECT_EQ(state.s_lastConflictBalloonTime, start);

    view.now = start + 120;
    EXPECT_EQ(Show(10, "c"), 1);
    EXPECT_EQ(view.balloons.size(), 1u);
    EXPECT_EQ(state.s_lastConflictBalloonTime, start + 120);

    view.now = start + 100;  // the clock went back
    EXPECT_EQ(Show(10, "d"), 1);
    EXPECT_TRUE(view.balloons.empty());
}

TEST_F(Dispatch, ConflictTimeIsTakenAfterTheLookup) {
    class SlowLookup : public RecordingView {
    public:
        std::string GetProcessName(int32_t) override {
            now += 30;
            return "slow.exe";
        }
    } slow;
    slow.now = 1'800'000'000;
    DispatchNotification({10, "PID - \"5\"", 0}, slow, state, nullptr);
    EXPECT_EQ(state.s_lastConflictBalloonTime, 1'800'000'030);
}

TEST_F(Dispatch, LongTextsAreCutToTheirFieldsKeepingTheSentence) {
    const std::string longDetail(600, 'x');
    Show(1, longDetail);
    const std::u16string& text = view.balloons.at(0).text;
    EXPECT_EQ(text.size(), kBalloonTextUnits);
    EXPECT_EQ(text.substr(text.size() - 26), u"... was blocked by orlivan");

    Show(10, longDetail);  // first conflict of this fixture: shown
    const std::u16string& conflict = view.balloons.at(0).text;
    EXPECT_EQ(conflict.size(), kBalloonTextUnits);
    EXPECT_EQ(conflict.rfind(kConflictHead, 0), 0u);
    EXPECT_EQ(conflict.substr(conflict.size() - std::u16string(kConflictTail).size()),
              kConflictTail);
    EXPECT_EQ(conflict.find(u"...."), std::u16string::npos);  // the cut ends the sentence

    // A text that just fits is left whole.
    const std::string fits(kBalloonTextUnits - 23, 'y');
    Show(1, fits);
    EXPECT_EQ(view.balloons.at(0).text, WidenBytes(fits) + u" was blocked by orlivan");
}

TEST_F(Dispatch, LongProcessNameIsCut) {
    view.processes[9] = std::string(400, 'n') + ".exe";
    Show(10, "PID - \"9\"");
    const std::u16string& text = view.balloons.at(0).text;
    EXPECT_EQ(text.size(), kBalloonTextUnits);
    EXPECT_NE(text.find(u"name \"nnn"), std::u16string::npos);
    EXPECT_EQ(text.substr(text.size() - std::u16string(kConflictTail).size()), kConflictTail);
}

TEST_F(Dispatch, UpperBytesAreDecodedNotSignExtended) {
    Show(1, "caf\xC3\xA9.example");  // valid UTF-8
    EXPECT_EQ(view.balloons.at(0).text, u"caf\u00E9.example was blocked by orlivan");

    Show(1, "caf\xE9");  // not UTF-8: the code page decides; Windows-1252 without one
    EXPECT_EQ(view.balloons.at(0).text, u"caf\u00E9 was blocked by orlivan");

    auto cyrillic = [](std::string_view text) {
        std::u16string out;
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            out.push_back(byte >= 0xC0 ? static_cast<char16_t>(0x0410 + byte - 0xC0) : byte);
        }
        return out;
    };
    view.events.clear();
    view.balloons.clear();
    DispatchNotification({1, "\xCF\xF0\xE8", 0}, view, state, +cyrillic);
    EXPECT_EQ(view.balloons.at(0).text, u"\u041F\u0440\u0438 was blocked by orlivan");
    // The same decoding applies to a process name.
    view.processes[3] = "\xE9.exe";
    view.balloons.clear();
    DispatchNotification({10, "PID - \"3\"", 0}, view, state, nullptr);
    EXPECT_EQ(view.balloons.at(0).text,
              std::u16string(kConflictHead) + u"name \"\u00E9.exe\"" + kConflictTail);
}

TEST_F(Dispatch, EveryRecordIsLoggedFirst) {
    view.processes[1] = "x.exe";
    for (int32_t type : {-3, -2, 0, 1, 2, 3, 3, 4, 6, 6, 7, 8, 9, 10, 10, 11}) {
        Show(type, "PID - \"1\"");
        ASSERT_FALSE(view.events.empty());
        EXPECT_EQ(view.events.front(),
                  "log 1 COrlivanSysTrayDlg::ShowNotification " + std::to_string(type) + "\n");
    }
}
