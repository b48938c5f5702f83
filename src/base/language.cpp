#include "base/language.h"

#include "base/messages.h"

namespace {

// "de_DE.UTF-8@euro" -> "de-de": lower case, "-" between the parts, codeset
// and modifier dropped.
std::string Normalise(std::string_view tag) {
    tag = tag.substr(0, tag.find_first_of(".@"));
    std::string out;
    for (const char c : tag) {
        out += c == '_' ? '-' : (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

std::string LanguageOnly(const std::string& normalised) {
    return normalised.substr(0, normalised.find('-'));
}

// The catalogue code whose normalised form satisfies `matches`, or empty.
template <typename Predicate>
std::string FindInCatalogue(Predicate matches) {
    for (size_t i = 0; i < CatalogueLanguageCount(); ++i) {
        const std::string_view code = CatalogueLanguage(i);
        if (matches(Normalise(code))) {
            return std::string(code);
        }
    }
    return {};
}

void AddList(std::vector<std::string>& out, std::string_view list, char separator) {
    while (!list.empty()) {
        const size_t end = list.find(separator);
        if (end != 0) {
            out.emplace_back(list.substr(0, end));
        }
        if (end == std::string_view::npos) {
            break;
        }
        list.remove_prefix(end + 1);
    }
}

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

}  // namespace

std::string ChooseLanguage(const std::vector<std::string>& preferences) {
    for (const std::string& preference : preferences) {
        const std::string wanted = Normalise(preference);
        if (wanted == "c" || wanted == "posix") {
            return "en";
        }
        if (wanted.empty()) {
            continue;
        }
        std::string found =
            FindInCatalogue([&](const std::string& code) { return code == wanted; });
        if (found.empty()) {
            const std::string language = LanguageOnly(wanted);
            found = FindInCatalogue(
                [&](const std::string& code) { return LanguageOnly(code) == language; });
        }
        if (!found.empty()) {
            return found;
        }
    }
    return "en";
}

std::vector<std::string> LinuxLanguagePreferences(const char* orlivanLang, const char* language,
                                                  const char* lcAll, const char* lcMessages,
                                                  const char* lang) {
    // ORLIVAN_LANG alone: a code the catalogue lacks gives English rather than
    // the user's language, so whoever sets it (a test rig, a demo) gets a
    // fixed language.
    if (IsSet(orlivanLang)) {
        return {orlivanLang};
    }
    std::vector<std::string> out;
    const char* locale = IsSet(lcAll) ? lcAll : IsSet(lcMessages) ? lcMessages : lang;
    // A session in the plain "C" locale gets English whatever LANGUAGE says,
    // as with gettext ("C.UTF-8" is not plain).
    const bool plainC =
        IsSet(locale) && (std::string_view(locale) == "C" || std::string_view(locale) == "POSIX");
    if (IsSet(language) && !plainC) {
        AddList(out, language, ':');
    }
    if (IsSet(locale)) {
        out.emplace_back(locale);
    }
    return out;
}

std::vector<std::string> WindowsLanguagePreferences(const char* orlivanLang,
                                                    const std::vector<std::string>& uiLanguages) {
    if (IsSet(orlivanLang)) {
        return {orlivanLang};
    }
    return uiLanguages;
}
