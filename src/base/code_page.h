// The platform's decoder of 8-bit text in the local code page, for text from
// outside the program that is not valid UTF-8 (see DecodeExternalText).
#pragma once

#include "base/text.h"

// On Windows the thread's ANSI code page; on posix Windows-1252, the code page
// a service written for Western Windows sends.
CodePageDecoder PlatformCodePageDecoder();

#if defined(_WIN32)
// `text` up to its first NUL in the thread's ANSI code page; characters the
// code page lacks become its default character. Empty when it can't be converted.
std::string EncodeThreadAnsi(const wchar_t* text);
#endif
