#include "notify/notification_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "log/logger.h"

namespace {

size_t LinesIn(const std::filesystem::path& path) {
    std::ifstream in(path);
    size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        ++count;
    }
    return count;
}

// Waits until the file has `count` lines, at most ten seconds.
bool WaitForLines(const std::filesystem::path& path, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (LinesIn(path) < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return LinesIn(path) >= count;
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
