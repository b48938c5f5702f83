// The reply frame's body on the command channel, turned into a CCommandReply.
//
// Body layouts by reply code (offsets within the body, L = body length,
// integers little-endian):
//   0x300  0 code | 4 status | 8 n | 12 text (n bytes) | 12+n terminating byte
//   0x301  0 code | 4 integer
//   0x302  0 code | 4 integer | 8 integer
//   0x305  0 code | 4 version text (L-5 bytes) | L-1 terminating byte
// The terminating byte must be present; its value is not examined (the text
// blocks get a NUL of their own).
#pragma once

#include <cstdint>
#include <string>

#include "commands/command.h"

// Keys of a reply's parameter map.
constexpr int32_t REPLY_KEY_CODE = 1;            // every code: the reply code
constexpr int32_t REPLY_KEY_STATUS = 2;          // 0x300: the update status
constexpr int32_t REPLY_KEY_TEXT_LENGTH = 3;     // 0x300: n
constexpr int32_t REPLY_KEY_UPDATE_TEXT = 4;     // 0x300: the text
constexpr int32_t REPLY_KEY_FIRST_INTEGER = 2;   // 0x301, 0x302: integer at offset 4
constexpr int32_t REPLY_KEY_SECOND_INTEGER = 3;  // 0x302: integer at offset 8
constexpr int32_t REPLY_KEY_VERSION_SIZE = 2;    // 0x305: L - 4 (text and its NUL)
constexpr int32_t REPLY_KEY_VERSION_TEXT = 3;    // 0x305: the version text

// Builds the reply for a body of `length` bytes, or null when the body is
// shorter than its code's fields, its text runs past the body, or its code is
// none of 0x300, 0x301, 0x302, 0x305. Reads nothing outside the body.
CCommandReply* ParseReplyBody(const uint8_t* body, uint32_t length);

// The integer under `key`; false when the key holds no block.
bool GetReplyInteger(const CCommandReply& reply, int32_t key, int32_t* value);

// The text under `key` (up to its first NUL); null when the key holds no block.
const char* GetReplyText(const CCommandReply& reply, int32_t key);

// The installed version that a 0x305 reply reports; empty without a valid
// reply or without its text.
std::string InstalledVersionFromReply(const CCommandReply* reply);
