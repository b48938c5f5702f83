#include "notify/desktop_application.h"

std::optional<TrayCommand> TrayCommandForAction(std::string_view actionName) {
    for (const TrayMenuEntry& item : kTrayMenu) {
        if (actionName == item.actionName) {
            return item.command;
        }
    }
    return std::nullopt;
}

SecondStart AnswerSecondStart(bool startedByBus, bool activateOption) {
    if (startedByBus) {
        return SecondStart::Quiet;
    }
    return activateOption ? SecondStart::ActivateRunning : SecondStart::Report;
}

bool UsableFocusToken(std::string_view token) {
    if (token.empty() || token.size() > kFocusTokenMaxBytes) {
        return false;
    }
    for (const char c : token) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}
