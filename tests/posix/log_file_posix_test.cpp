// The log file as the posix binding opens it: not inherited by the programs
// the notifier starts (the settings program, the browser).
#include "log/log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

TEST(LogFilePosix, OpenedCloseOnExecWhetherAppendedOrEmptied) {
    char pattern[] = "/tmp/orlivan-log-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/OrlivanSysTray.log";
    for (const bool empty : {false, true}) {
        FILE* stream = OpenLogStream(path, empty);
        ASSERT_NE(stream, nullptr);
        EXPECT_NE(fcntl(fileno(stream), F_GETFD) & FD_CLOEXEC, 0) << "empty " << empty;
        std::fclose(stream);
    }
    unlink(path.c_str());
    rmdir(pattern);
}
