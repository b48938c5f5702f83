// Small text helpers shared by the log, the notification dispatch, the process
// lookup and the update dialog, and the conversions between the program's
// 8-bit texts and the platform's UTF-16 texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal text of a signed 32-bit integer: minus sign for negative values, no
// leading zeros, no grouping.
std::string IntToString(int32_t value);

// The part of `text` after the first occurrence of `marker`; empty when the
// marker does not occur. An empty marker is found at position 0.
std::string TextAfter(std::string_view marker, std::string_view text);

// The part of `text` before the first occurrence of `marker`; empty when the
// marker does not occur.
std::string TextBefore(std::string_view text, std::string_view marker);

// One UTF-16 unit per byte, each byte taken as a signed 8-bit value (ASCII
// passes unchanged, bytes 0x80..0xFF are sign-extended). The fixed texts of the
// program are ASCII, for which this is exact.
std::u16string WidenBytes(std::string_view text);

// UTF-8 <-> UTF-16. Utf8ToUtf16 gives nothing when `text` is not well-formed
// UTF-8 (overlong forms, surrogates, code points above U+10FFFF, truncated
// sequences). Utf16ToUtf8 replaces an unpaired surrogate with U+FFFD.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Windows-1252, the ANSI code page of Western Windows: bytes below 0x80 and
// from 0xA0 up are the same code points as in Latin-1; 0x80-0x9F are the
// code page's letters and signs ("\x80" is the euro sign, "\x93" and "\x94"
// the curly double quotes); the five bytes it leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) become U+FFFD, so no control character reaches the screen.
std::u16string DecodeWindows1252(std::string_view text);

// Decodes 8-bit text that came from outside the program (a notification's
// detail, a process name): as UTF-8 when it is well-formed UTF-8, otherwise
// through `codePage`, the platform's conversion from the ANSI code page, and
// as Windows-1252 when there is none (null).
using CodePageDecoder = std::u16string (*)(std::string_view);
std::u16string DecodeExternalText(std::string_view text, CodePageDecoder codePage);

// Cuts `text` to at most `maxUnits` UTF-16 units so that it fits a fixed field
// with its terminator. A cut text ends in "..." and never splits a surrogate
// pair; full stops just before the cut are dropped, so the cut shows exactly
// three dots. A text that fits is returned unchanged.
std::u16string FitText(std::u16string_view text, size_t maxUnits);

// head + variable + tail in at most `maxUnits` units: only `variable` is cut
// (FitText), so the fixed words around it stay whole. When the cut variable is
// followed by a full stop, the "..." ends the sentence and the tail's full
// stop is left out rather than shown as a fourth dot.
std::u16string FitBetween(std::u16string_view head, std::u16string_view variable,
                          std::u16string_view tail, size_t maxUnits);
