#include <cstdio>
#include <cstdlib>

#include "channel/channel_busy_posix.h"
#include "channel/service.h"

namespace {

void (*g_busyReporter)(const char* message) = nullptr;

}  // namespace

void SetChannelBusyReporter(void (*report)(const char* message)) {
    g_busyReporter = report;
}

void CService::ReportChannelBusyAndExit() {
    if (g_busyReporter != nullptr) {
        g_busyReporter(kChannelBusyMessage);
    } else {
        std::fprintf(stderr, "%s\n", kChannelBusyMessage);
    }
    std::exit(0);
}
