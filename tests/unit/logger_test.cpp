#include "log/logger.h"
#include "log/log_rate_limit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::time_t FixedClock() {
    // Sunday 7 June 2026, 09:05:03 local time.
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 5;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Line(const char* message) {
#ifdef _WIN32
    return std::string("Sun Jun  7 09:05:03 2026 ") + message + "\r\n";
#else
    return std::string("Sun Jun  7 09:05:03 2026 ") + message + "\n";
#endif
}

class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("orlivan_log_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "OrlivanSysTray.log").string();
    }
    void TearDown() override {
        // The process-wide logger keeps its file open; Windows will not delete it.
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
    std::string path_;
};

}  // namespace

TEST(LogTimeStamp, CtimeLayoutWithBlankPaddedDay) {
    std::tm t{};
    t.tm_wday = 1;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    t.tm_year = 126;
    EXPECT_EQ(FormatLogTimeStamp(t), "Mon Dec  7 09:05:03 2026");
    t.tm_mday = 17;
    EXPECT_EQ(FormatLogTimeStamp(t), "Mon Dec 17 09:05:03 2026");
    EXPECT_EQ(FormatLogTimeStamp(t).size(), 24u);
}

TEST_F(LoggerTest, LineIsStampBlankMessage) {
    {
        CLogger logger(path_, &FixedClock);
        ASSERT_TRUE(logger.IsOpen());
        logger.Log(0, "Orlivan Sys Tray Log\n");
        logger.Log(1, "COrlivanSysTrayDlg::ShowNotification %d\n", 7);
    }
    std::string content = ReadAll(path_);
#ifdef _WIN32
    EXPECT_EQ(content,
              "Sun Jun  7 09:05:03 2026 Orlivan Sys Tray Log\r\n"
              "Sun Jun  7 09:05:03 2026 COrlivanSysTrayDlg::ShowNotification 7\r\n");
#else
    EXPECT_EQ(content,
              "Sun Jun  7 09:05:03 2026 Orlivan Sys Tray Log\n"
              "Sun Jun  7 09:05:03 2026 COrlivanSysTrayDlg::ShowNotification 7\n");
#endif
}

TEST_F(LoggerTest, LevelBelowMinimumWritesNothingAnywhere) {
    {
        CLogger logger(path_, &FixedClock);
        testing::internal::CaptureStdout();
        logger.Log(-1, "dropped\n");
        logger.Log(INT32_MIN, "dropped\n");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    EXPECT_EQ(ReadAll(path_), "");
    CLogger closed("", &FixedClock);
    testing::internal::CaptureStdout();
    closed.Log(-1, "dropped\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(LoggerTest, NoStreamReportsOnStandardOutputEveryTime) {
    CLogger logger("", &FixedClock);
    EXPECT_FALSE(logger.IsOpen());
    testing::internal::CaptureStdout();
    errno = 2;
    logger.Log(0, "first\n");
    errno = 13;
    logger.Log(1, "second %d\n", 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "cannot create Log File 2\ncannot create Log File 13\n");

    CLogger missingFolder((dir_ / "no-such-folder" / "x.log").string(), &FixedClock);
    EXPECT_FALSE(missingFolder.IsOpen());
    testing::internal::CaptureStdout();
    missingFolder.Log(0, "line\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("cannot create Log File ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "no-such-folder"));
}

TEST_F(LoggerTest, ClosedLogKeepsItsLinesAndDropsLaterOnesSilently) {
    CLogger logger(path_, &FixedClock);
    logger.Log(0, "before\n");
    logger.Close();
    EXPECT_FALSE(logger.IsOpen());
    testing::internal::CaptureStdout();
    logger.Log(0, "after\n");
    logger.LogLine(0, "after\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    logger.Close();
    EXPECT_EQ(ReadAll(path_), Line("before"));
}

TEST_F(LoggerTest, SecondLoggerAppends) {
    {
        CLogger first(path_, &FixedClock);
        first.Log(0, "one\n");
    }
    {
        CLogger second(path_, &FixedClock);
        second.Log(0, "two\n");
    }
    const std::string content = ReadAll(path_);
    EXPECT_NE(content.find("one"), std::string::npos);
    EXPECT_LT(content.find("one"), content.find("two"));
}

TEST_F(LoggerTest, NonAsciiPathIsKept) {
    const std::string folder = (dir_ / "Zo\xC3\xAB").string();
    std::filesystem::create_directories(std::filesystem::u8path(folder));
    const std::string path = folder + "/OrlivanSysTray.log";
    {
        CLogger logger(path, &FixedClock);
        ASSERT_TRUE(logger.IsOpen());
        logger.Log(0, "x\n");
    }
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(path)));
}

TEST_F(LoggerTest, InstanceIsCreatedOnceAndKeepsFirstPath) {
    CLogger* first = CLogger::GetInstance(path_);
    CLogger* again = CLogger::GetInstance((dir_ / "other.log").string());
    EXPECT_EQ(first, again);
    EXPECT_EQ(again->Path(), path_);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "other.log"));
}

TEST_F(LoggerTest, EachLineCarriesTheTimeItWasWritten) {
    static std::time_t now = FixedClock();
    {
        CLogger logger(path_, [] { return now; });
        logger.Log(1, "%s", "first\n");
        logger.Log(1, "%s", "second\n");
        now += 61;  // a minute and a second later
        logger.Log(1, "third %d\n", 3);
    }
    const std::string later = Line("third 3");
    EXPECT_EQ(ReadAll(path_),
              Line("first") + Line("second") + later.substr(0, 14) + "06:04" + later.substr(19));
}

TEST(LogFiles, OldLogNameGoesBeforeTheExtension) {
    EXPECT_EQ(OldLogPath("C:\\Users\\x\\OrlivanLog\\OrlivanSysTray.log"),
              "C:\\Users\\x\\OrlivanLog\\OrlivanSysTray.old.log");
    EXPECT_EQ(OldLogPath("/home/x.y/log"), "/home/x.y/log.old");
    EXPECT_EQ(OldLogPath("dir/.log"), "dir/.log.old");
}

TEST_F(LoggerTest, FullLogIsSetAsideAndANewOneStartsWithTheStartLine) {
    const std::string line = Line("0123456789");  // 36 or 37 bytes
    const std::string oldPath = (dir_ / "OrlivanSysTray.old.log").string();
    { std::ofstream(oldPath) << "an older log"; }
    {
        CLogger logger(path_, &FixedClock, static_cast<int64_t>(3 * line.size()));
        logger.Log(0, "0123456789\n");
        logger.Log(0, "0123456789\n");
        EXPECT_EQ(ReadAll(oldPath), "an older log");
        logger.Log(0, "0123456789\n");  // reaches the limit
        logger.Log(0, "after\n");
    }
    EXPECT_EQ(ReadAll(oldPath), line + line + line);
    EXPECT_EQ(ReadAll(path_), Line(kLogStartMessage) + Line("after"));
}

TEST_F(LoggerTest, LogAtTheLimitIsSetAsideAtStart) {
    const int64_t limit = 100;
    for (const int64_t existing : {limit - 1, limit, limit + 5000}) {
        SCOPED_TRACE(existing);
        std::filesystem::remove(dir_ / "OrlivanSysTray.old.log");
        const std::string before(static_cast<size_t>(existing), 'x');
        { std::ofstream(path_, std::ios::binary) << before; }
        { CLogger logger(path_, &FixedClock, limit); }
        if (existing < limit) {
            EXPECT_EQ(ReadAll(path_), before);  // kept and appended to
            EXPECT_FALSE(std::filesystem::exists(dir_ / "OrlivanSysTray.old.log"));
        } else {
            EXPECT_EQ(ReadAll(path_), "");  // the program writes its start line
            EXPECT_EQ(ReadAll(dir_ / "OrlivanSysTray.old.log"), before);
        }
    }
}

TEST_F(LoggerTest, LogIsEmptiedInPlaceWhenItCannotBeRenamed) {
    // A folder in the way of the old log's name.
    std::filesystem::create_directories(dir_ / "OrlivanSysTray.old.log" / "x");
    {
        CLogger logger(path_, &FixedClock, 100);
        logger.Log(0, "%s\n", std::string(80, 'x').c_str());  // reaches the limit at once
        logger.Log(0, "next\n");
    }
    EXPECT_EQ(ReadAll(path_), Line(kLogStartMessage) + Line("next"));
}

namespace {
std::chrono::steady_clock::time_point g_now;
std::chrono::steady_clock::time_point ControlledNow() {
    return g_now;
}
}  // namespace

TEST(LogRateLimit, OneLinePerIntervalAndWhatWasHeldBackWrittenWhenDue) {
    using std::chrono::milliseconds;
    g_now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    const auto start = g_now;
    CLogRateLimit limit(milliseconds(1000), &ControlledNow);
    enum Op { Drop, Flush, FlushAtEnd };
    struct Step {
        int atMs;
        Op op;
        const char* reason;  // of a drop
        const char* line;    // written, or "" for none
        int untilFlushMs;    // afterwards; -1 for nothing held back
    };
    const Step steps[] = {
        {0, Drop, "stalled", "stalled", -1},
        {0, Drop, "stalled", "", 1000},
        {10, Drop, "stalled", "", 990},
        {999, Flush, "", "", 1},
        {999, Drop, "stalled", "", 1},
        {1000, Drop, "stalled", "stalled (3 more since the last)", -1},
        {1500, Drop, "closed", "", 500},
        {2000, Flush, "", "closed", -1},  // no later drop needed
        {2100, Flush, "", "", -1},
        {2200, Drop, "closed", "", 800},
        {2300, Drop, "stalled", "", 700},
        {2400, Drop, "closed", "", 600},
        {3000, Flush, "", "closed (2 more since the last: 1 closed, 1 stalled)", -1},
        {3500, Drop, "stalled", "", 500},
        {3600, FlushAtEnd, "", "stalled", -1},
        {3700, Drop, "stalled", "", 900},
        {5000, Drop, "closed", "closed (1 more since the last: 1 stalled)", -1},
        {6000, Drop, "closed", "closed", -1},
        {6001, Drop, "closed", "", 999},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.atMs);
        g_now = start + milliseconds(step.atMs);
        std::string line;
        const bool written = step.op == Drop ? limit.Admit(step.reason, &line)
                                             : limit.Flush(&line, step.op == FlushAtEnd);
        EXPECT_EQ(written, *step.line != '\0');
        EXPECT_EQ(line, step.line);
        const auto untilFlush = limit.UntilFlush();
        EXPECT_EQ(untilFlush ? untilFlush->count() : -1, step.untilFlushMs);
    }
}
