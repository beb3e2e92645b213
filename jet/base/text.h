// Text codecs of the Jet formats: Jet 3 single-byte text in the database code page,
// Jet 4 UCS-2 and its "compressed unicode" form, all given out as UTF-8; and the
// UTF-8 and name-comparison rules the rest of the program shares with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/status.h"

namespace jet {

// True when text in Windows code page `code_page` can be converted (iconv knows it).
bool IsKnownCodePage(uint16_t code_page);

// Jet 3: bytes in Windows code page `code_page` (1252, 936, ...) to UTF-8, by iconv.
// Bytes the code page cannot map become U+FFFD; an unknown code page is an error.
Status DecodeCodePageText(const uint8_t* data, size_t size, uint16_t code_page,
                          std::string* utf8);
// UTF-8 to code page `code_page`; characters it cannot hold are an error.
Status EncodeCodePageText(const std::string& utf8, uint16_t code_page,
                          std::vector<uint8_t>* bytes);

// Jet 4: a stored text value to UTF-8. A value that starts with FF FE is compressed
// unicode (segments toggled by 0x00 bytes, starting compressed); anything else is
// UTF-16LE. An odd trailing byte of UTF-16 is dropped; lone surrogates become U+FFFD.
Status DecodeJet4Text(const uint8_t* data, size_t size, std::string* utf8);

// UTF-8 to UTF-16LE, and to the compressed form when `allow_compression` and every
// character is in U+0001..U+00FF (so no toggles are needed) and it saves space.
Status EncodeJet4Text(const std::string& utf8, bool allow_compression,
                      std::vector<uint8_t>* bytes);

// UTF-16LE code units (no compression marker) to UTF-8, for names in table definitions.
std::string Utf16LeToUtf8(const uint8_t* data, size_t size);
std::vector<uint8_t> Utf8ToUtf16Le(const std::string& utf8);
// Utf8ToUtf16Le(utf8).size(), without building the bytes.
size_t Utf16LeSize(const std::string& utf8);

// Appends the UTF-8 form of `code_point` (at most U+10FFFF) to `out`.
void AppendUtf8(char32_t code_point, std::string* out);
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Names (of tables, columns, indexes, settings) compare without regard to case. Only
// A-Z fold to a-z: the result never depends on the process's locale, and the bytes of
// a multi-byte UTF-8 character are never changed.
std::string AsciiLower(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace jet
