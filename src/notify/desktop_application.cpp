#include "notify/desktop_application.h"

std::optional<TrayCommand> TrayCommandForAction(std::string_view actionName) {
    for (const TrayMenuItem& item : kTrayMenu) {
        if (actionName == item.actionName) {
            return item.command;
        }
    }
    return std::nullopt;
}
