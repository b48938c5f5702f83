#include <cstdio>
#include <cstdlib>

#include "channel/service.h"

void CService::ReportChannelBusyAndExit() {
    std::fprintf(stderr, "%s\n", kChannelBusyMessage);
    std::exit(0);
}
