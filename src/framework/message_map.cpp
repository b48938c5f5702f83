#include "framework/message_map.h"

const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, WPARAM wParam) {
    for (; map != nullptr; map = map->base) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageMapEntry& entry = map->entries[i];
            const UINT wanted = entry.registered != nullptr ? *entry.registered : entry.message;
            // A registration that failed leaves 0, which matches nothing.
            if (wanted == 0 || wanted != message) {
                continue;
            }
            if (message == WM_COMMAND &&
                (entry.commandId != LOWORD(wParam) || entry.notifyCode != HIWORD(wParam))) {
                continue;
            }
            return &entry;
        }
    }
    return nullptr;
}
