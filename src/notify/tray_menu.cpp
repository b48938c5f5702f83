#include "notify/tray_menu.h"

#include <iterator>

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

std::string DbusMenuLabel(std::string_view text) {
    std::string label;
    label.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size(); ++i) {
        const bool last = i + 1 == text.size();
        if (text[i] == '_') {
            label += "__";
        } else if (text[i] != '&') {
            label += text[i];
        } else if (!last && text[i + 1] == '&') {
            label += '&';
            ++i;
        } else if (!last) {
            label += '_';  // before the key's bytes, whatever character they make
        }
    }
    return label;
}

TrayShown ChooseTray(const TrayState& state) {
    if (state.hostRegistered || !state.xembedAvailable || !state.graceOver) {
        return TrayShown::Item;
    }
    return TrayShown::Xembed;
}

RegistrationAnswer RegistrationAnswerOfError(std::string_view errorName) {
    // The bus's own errors for a call that reached no one or was not answered.
    constexpr std::string_view kUnanswered[] = {
        "org.freedesktop.DBus.Error.NoReply",        "org.freedesktop.DBus.Error.Timeout",
        "org.freedesktop.DBus.Error.TimedOut",       "org.freedesktop.DBus.Error.ServiceUnknown",
        "org.freedesktop.DBus.Error.NameHasNoOwner", "org.freedesktop.DBus.Error.Disconnected",
        "org.freedesktop.DBus.Error.NoServer",       "org.freedesktop.DBus.Error.LimitsExceeded",
    };
    for (const std::string_view name : kUnanswered) {
        if (errorName == name) {
            return RegistrationAnswer::NoAnswer;
        }
    }
    return RegistrationAnswer::Refused;
}

RegistrationAttempt CItemRegistration::Start() {
    m_form = ItemRegistrationForm::ServiceName;
    m_retries = 0;
    m_gaveUp = false;
    return RegistrationAttempt{m_form, 0};
}

std::optional<RegistrationAttempt> CItemRegistration::Answered(RegistrationAnswer answer) {
    if (answer == RegistrationAnswer::Accepted || m_gaveUp) {
        return std::nullopt;
    }
    if (answer == RegistrationAnswer::Refused && m_form == ItemRegistrationForm::ServiceName) {
        // The other form at once; it keeps the rest of this watcher's attempts.
        m_form = ItemRegistrationForm::ObjectPath;
        return RegistrationAttempt{m_form, 0};
    }
    if (m_retries == std::size(kRegistrationRetryMs)) {
        m_gaveUp = true;
        return std::nullopt;
    }
    return RegistrationAttempt{m_form, kRegistrationRetryMs[m_retries++]};
}
