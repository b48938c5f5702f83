// Which of the catalogue's languages the user gets: the user's preferred
// languages, most wanted first, matched against the catalogue.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The catalogue code for the first preference the catalogue can serve, else
// "en". A preference is a language tag or locale name ("de-DE", "de_DE.UTF-8",
// "pt-BR", "sr@latin"); case, "-"/"_", the codeset and the modifier don't
// matter. Each preference is tried whole (pt_BR -> pt_BR), then by its
// language alone (de_AT -> de), where a catalogue language with a region
// serves its language too (pt, pt_PT -> pt_BR). "C" and "POSIX" are English.
std::string ChooseLanguage(const std::vector<std::string>& preferences);

// The preferences of a Linux session: the program's own ORLIVAN_LANG alone
// when it is set (a code the catalogue lacks then gives English), else the
// colon-separated LANGUAGE list, then the first set of LC_ALL, LC_MESSAGES,
// LANG (LANGUAGE not when that is the plain "C" or "POSIX" locale). Arguments
// are the variables' values or null.
std::vector<std::string> LinuxLanguagePreferences(const char* orlivanLang, const char* language,
                                                  const char* lcAll, const char* lcMessages,
                                                  const char* lang);

// The preferences of a Windows user: ORLIVAN_LANG alone when it is set (as on
// Linux), else the user's preferred UI languages.
std::vector<std::string> WindowsLanguagePreferences(const char* orlivanLang,
                                                    const std::vector<std::string>& uiLanguages);
