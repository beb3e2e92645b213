// Windows code pages: the platform's converter behind DecodeCodePageText and
// EncodeCodePageText (jet/base/text.h), which handle pure-ASCII text themselves.
// iconv on Linux (text_posix.cc), the system's own tables on Windows
// (text_win32.cc); they also answer IsKnownCodePage (text.h). Also the UTF-8 step both
// converters share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/status.h"

namespace jet {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Bytes in `code_page` to UTF-8; bytes the code page cannot map become U+FFFD, except
// that the five bytes Windows' code page 1252 leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) become the C1 controls of the same value, as Windows maps them and
// Access wrote them. An unknown code page is an error.
Status DecodeCodePageBytes(const uint8_t* data, size_t size, uint16_t code_page,
                           std::string* utf8);

// UTF-8 to `code_page` (with the same C1 controls for code page 1252); a character
// the code page cannot hold is an error naming its byte offset.
Status EncodeCodePageBytes(const std::string& utf8, uint16_t code_page,
                           std::vector<uint8_t>* bytes);

// Decodes the next UTF-8 sequence at text[*pos]; false on a malformed sequence
// (overlong forms, surrogates and values past U+10FFFF are malformed). *pos always
// advances by at least one byte.
bool NextUtf8(std::string_view text, size_t* pos, char32_t* out);

}  // namespace jet
