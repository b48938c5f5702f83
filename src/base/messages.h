// The message catalogue: every text the person at the desk sees, by a stable
// id, in each language the catalogue holds. The English texts are the source
// (po/orlivan.pot) and the translations are po/<language>.po; the build
// compiles them into a table (po/compile_catalogue.py). Log lines, the bytes
// of the channels and the texts the service sends never go through here.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

enum class MessageId {
#define ORLIVAN_MESSAGE(name) name,
#include "message_ids.inc"
#undef ORLIVAN_MESSAGE
};

// The catalogue's languages by code, English ("en") first.
size_t CatalogueLanguageCount();
std::string_view CatalogueLanguage(size_t index);
size_t CatalogueMessageCount();

// The language every later MessageText uses; chosen once at start, before any
// thread shows a text. An unknown code leaves the language as it was and
// gives false.
bool SetMessageLanguage(std::string_view code);
std::string_view MessageLanguage();

// The text (UTF-8) in the chosen language, or in the language at `index`.
std::string_view MessageText(MessageId id);
std::string_view MessageTextIn(size_t languageIndex, MessageId id);

// The text with its placeholders (%s, %d) replaced by `values` in order; "%%"
// is one "%". A placeholder without a value stays empty.
std::string FillPlaceholders(std::string_view text, std::initializer_list<std::string_view> values);
std::string MessageFormat(MessageId id, std::initializer_list<std::string_view> values);

// The text in UTF-16, for the platform's wide texts.
std::u16string MessageText16(MessageId id);

// The parts of a text around its first placeholder (prefix, suffix), so a
// caller can fit the value between the fixed words.
std::pair<std::string_view, std::string_view> SplitAtPlaceholder(std::string_view text);
