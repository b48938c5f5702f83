#include "base/messages.h"

#include <atomic>

#include "base/text.h"

namespace {

constexpr size_t kMessageCount = 0
#define ORLIVAN_MESSAGE(name) +1
#include "message_ids.inc"
#undef ORLIVAN_MESSAGE
    ;

struct Language {
    const char* code;
    const char* texts[kMessageCount];
};

constexpr Language kLanguages[] = {
#include "message_table.inc"
};
constexpr size_t kLanguageCount = sizeof kLanguages / sizeof kLanguages[0];

std::atomic<size_t> g_language{0};

}  // namespace

size_t CatalogueLanguageCount() {
    return kLanguageCount;
}

std::string_view CatalogueLanguage(size_t index) {
    return index < kLanguageCount ? kLanguages[index].code : "";
}

size_t CatalogueMessageCount() {
    return kMessageCount;
}

bool SetMessageLanguage(std::string_view code) {
    for (size_t i = 0; i < kLanguageCount; ++i) {
        if (code == kLanguages[i].code) {
            g_language.store(i);
            return true;
        }
    }
    return false;
}

std::string_view MessageLanguage() {
    return kLanguages[g_language.load()].code;
}

std::string_view MessageTextIn(size_t languageIndex, MessageId id) {
    const auto index = static_cast<size_t>(id);
    if (languageIndex >= kLanguageCount || index >= kMessageCount) {
        return {};
    }
    return kLanguages[languageIndex].texts[index];
}

std::string_view MessageText(MessageId id) {
    return MessageTextIn(g_language.load(), id);
}

std::string FillPlaceholders(std::string_view text,
                             std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(text.size());
    const std::string_view* next = values.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 's' || kind == 'd') {
            if (next != values.end()) {
                out += *next++;
            }
        } else {
            out += '%';
            if (kind != '%') {
                out += kind;
            }
        }
    }
    return out;
}

std::string MessageFormat(MessageId id, std::initializer_list<std::string_view> values) {
    return FillPlaceholders(MessageText(id), values);
}

std::u16string MessageText16(MessageId id) {
    // The table is well-formed UTF-8: the build made it from the .po files.
    return Utf8ToUtf16(MessageText(id)).value_or(std::u16string());
}

std::pair<std::string_view, std::string_view> SplitAtPlaceholder(std::string_view text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '%' && (text[i + 1] == 's' || text[i + 1] == 'd')) {
            return {text.substr(0, i), text.substr(i + 2)};
        }
    }
    return {text, {}};
}
