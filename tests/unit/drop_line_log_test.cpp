#include "notify/notification_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "log/logger.h"

namespace {

// Waits until the file has `count` lines, at most ten seconds.
bool WaitForLines(const std::filesystem::path& path, long count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        std::ifstream in(path);
        const auto lines = std::count(std::istreambuf_iterator<char>(in), {}, '\n');
        if (lines >= count || std::chrono::steady_clock::now() > deadline)
            return lines >= count;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

// The writer of held-back lines ends once nothing is held back; a drop held
// back later gets a writer again, so its line comes when due, not at the end.
TEST(DropLineLog, HeldBackLineAfterAnEarlierFlushIsWrittenWhenDue) {
    const auto path = std::filesystem::temp_directory_path() / "orlivan_drop_line_log_test.log";
    std::filesystem::remove(path);
    {
        CLogger logger(path.string());
        CDropLineLog drops(&logger);
        drops.Dropped("length out of bounds");  // written at once
        drops.Dropped("length out of bounds");  // held back
        ASSERT_TRUE(WaitForLines(path, 2));
        drops.Dropped("length out of bounds");  // within an interval of that line: held back
        EXPECT_TRUE(WaitForLines(path, 3));
    }
    std::filesystem::remove(path);
}
