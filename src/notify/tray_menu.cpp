#include "notify/tray_menu.h"

std::optional<size_t> TrayMenuEntryOfId(int32_t id) {
    if (id < TrayMenuId(0) || id > TrayMenuId(kTrayMenuSize - 1)) {
        return std::nullopt;
    }
    return static_cast<size_t>(id - TrayMenuId(0));
}

std::optional<size_t> TrayMenuEntryClicked(int32_t id, std::string_view eventId) {
    if (eventId != "clicked") {
        return std::nullopt;
    }
    return TrayMenuEntryOfId(id);
}

TrayShown ChooseTray(const TrayState& state) {
    if (state.hostRegistered || !state.xembedAvailable || !state.graceOver) {
        return TrayShown::Item;
    }
    return TrayShown::Xembed;
}
