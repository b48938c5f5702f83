// orlivan-service-standin: command-line stand-in for the filter's service.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "tool_arguments.h"
#include "tool_send.h"
#include "tool_serve.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<ToolCommandLine> line = ParseToolArguments(args, &error);
    if (!line) {
        std::cerr << "orlivan-service-standin: " << error << "\n";
        if (args.empty()) {
            std::cerr << "\n" << ToolHelpText();
        }
        return TOOL_EXIT_USAGE;
    }
    const PrintFn printError = [](const std::string& text) {
        std::cerr << "orlivan-service-standin: " << text << std::endl;
    };
    switch (line->job) {
        case ToolJob::Help:
            std::cout << ToolHelpText();
            return TOOL_EXIT_OK;
        case ToolJob::Version:
            std::cout << ToolVersionText();
            return TOOL_EXIT_OK;
        case ToolJob::Send:
            return RunSend(
                line->send, [](const std::string& text) { std::cout << text << std::endl; },
                printError);
        case ToolJob::Serve: {
            std::ofstream logFile;
            if (line->serve.logFile) {
                logFile.open(*line->serve.logFile, std::ios::app);
                if (!logFile) {
                    printError("can't open the log file " + *line->serve.logFile);
                    return TOOL_EXIT_USAGE;
                }
            }
            const PrintFn log = [&logFile](const std::string& text) {
                std::cout << text << std::endl;
                if (logFile.is_open()) {
                    logFile << text << std::endl;
                }
            };
            static std::atomic<bool> stop{false};
            return RunServe(line->serve, log, printError, stop);
        }
    }
    return TOOL_EXIT_USAGE;
}
