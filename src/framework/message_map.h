// Message maps: per-class tables that route window messages, and WM_COMMAND
// messages by command ID and notification code, to member handlers. A class's
// table names its base class's table; the most derived entry wins, and a
// message without an entry gets the window's default processing.
//
//   const MessageMap* CMyDialog::GetMessageMap() const {
//       static const MessageMapEntry entries[] = {
//           OnMessage<&CMyDialog::OnTimer>(WM_TIMER),
//           OnCommand<&CMyDialog::OnSettings>(ID_SETTINGS),
//       };
//       static const MessageMap map = MakeMessageMap(CDialog::GetMessageMap(), entries);
//       return &map;
//   }
//
// Handlers take one of these forms: void (), LRESULT (WPARAM, LPARAM),
// HCURSOR () (the result becomes the message's result), void (WINDOWPOS*).
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>

class CWnd;

using MessageHandler = LRESULT (*)(CWnd& target, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry {
    UINT message;            // the window message, or 0 when registered is set
    const UINT* registered;  // a message registered at run time, read when dispatching
    UINT commandId;          // WM_COMMAND only: the command or control ID
    UINT notifyCode;         // WM_COMMAND only: the notification code
    MessageHandler handler;
};

struct MessageMap {
    const MessageMap* base;
    const MessageMapEntry* entries;
    std::size_t count;
};

template <std::size_t N>
constexpr MessageMap MakeMessageMap(const MessageMap* base, const MessageMapEntry (&entries)[N]) {
    return MessageMap{base, entries, N};
}

// The entry for `message` (and, for WM_COMMAND, the command ID and the
// notification code in wParam), searched from `map` through its bases; null
// when there is none.
const MessageMapEntry* FindMessageEntry(const MessageMap* map, UINT message, WPARAM wParam);

namespace message_map_detail {

template <class F>
struct HandlerClass;
template <class T, class R, class... A>
struct HandlerClass<R (T::*)(A...)> {
    using type = T;
};

template <auto F>
LRESULT Invoke(CWnd& target, WPARAM wParam, LPARAM lParam) {
    using Fn = decltype(F);
    using Class = typename HandlerClass<Fn>::type;
    Class& self = static_cast<Class&>(target);
    if constexpr (std::is_same_v<Fn, void (Class::*)()>) {
        (self.*F)();
        return 0;
    } else if constexpr (std::is_same_v<Fn, LRESULT (Class::*)(WPARAM, LPARAM)>) {
        return (self.*F)(wParam, lParam);
    } else if constexpr (std::is_same_v<Fn, HCURSOR (Class::*)()>) {
        return reinterpret_cast<LRESULT>((self.*F)());
    } else {
        static_assert(std::is_same_v<Fn, void (Class::*)(WINDOWPOS*)>,
                      "unsupported message handler signature");
        (self.*F)(reinterpret_cast<WINDOWPOS*>(lParam));
        return 0;
    }
}

}  // namespace message_map_detail

// A window message.
template <auto F>
constexpr MessageMapEntry OnMessage(UINT message) {
    return MessageMapEntry{message, nullptr, 0, 0, &message_map_detail::Invoke<F>};
}

// A message registered at run time (RegisterWindowMessageW); `message` is read
// at dispatch time, so it may be filled after the table is built.
template <auto F>
constexpr MessageMapEntry OnRegisteredMessage(const UINT& message) {
    return MessageMapEntry{0, &message, 0, 0, &message_map_detail::Invoke<F>};
}

// A WM_COMMAND with a notification code from control `id`.
template <auto F>
constexpr MessageMapEntry OnNotify(UINT id, UINT code) {
    return MessageMapEntry{WM_COMMAND, nullptr, id, code, &message_map_detail::Invoke<F>};
}

// A menu command or a button click (both arrive with code 0, BN_CLICKED).
template <auto F>
constexpr MessageMapEntry OnCommand(UINT id) {
    return OnNotify<F>(id, BN_CLICKED);
}
