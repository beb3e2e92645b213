// Windows code pages on Windows: the system's own tables (MultiByteToWideChar and
// WideCharToMultiByte), the very conversion Access used when it wrote the text.
#include <windows.h>

#include "jet/base/code_page.h"
#include "jet/base/text.h"

namespace jet {
namespace {

Status UnknownCodePage(uint16_t code_page) {
  return Status::Error(ErrorKind::kInvalidArgument,
                       "code page " + std::to_string(code_page) + " is not known to Windows");
}

// UTF-16 code units as the little-endian bytes Utf16LeToUtf8 takes.
std::string WideToUtf8(const std::wstring& wide) {
  std::vector<uint8_t> bytes;
  bytes.reserve(wide.size() * 2);
  for (wchar_t unit : wide) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>((unit >> 8) & 0xFF));
  }
  return Utf16LeToUtf8(bytes.data(), bytes.size());
}

// `utf8` as UTF-16 code units; false when it is not valid UTF-8.
bool Utf8ToWide(const std::string& utf8, std::wstring* wide, std::vector<size_t>* offsets) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t at = pos;
    char32_t c = 0;
    if (!NextUtf8(utf8, &pos, &c)) return false;
    if (c >= 0x10000) {
      wide->push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide->push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      offsets->push_back(at);
    } else {
      wide->push_back(static_cast<wchar_t>(c));
    }
    offsets->push_back(at);
  }
  return true;
}

// Decodes `size` bytes of `code_page`; false when a byte or sequence has no character.
// Windows gives the bytes a single-byte code page leaves undefined characters of the
// private use area; they are no characters of the text, so they count as undecodable.
// (The double-byte code pages put user-defined characters there, which are kept.)
bool DecodeStrictly(uint16_t code_page, const uint8_t* data, size_t size, std::wstring* wide) {
  const auto* bytes = reinterpret_cast<const char*>(data);
  const int length = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes,
                                           static_cast<int>(size), nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size),
                        wide->data(), length);
  CPINFO info;
  const bool single_byte = ::GetCPInfo(code_page, &info) && info.MaxCharSize == 1;
  for (wchar_t unit : *wide) {
    if (single_byte && unit >= 0xE000 && unit <= 0xF8FF) return false;
  }
  return true;
}

// Converts `count` units of `wide`; false when some character has no form in the
// code page (WC_NO_BEST_FIT_CHARS: no look-alike stands in for it).
bool Narrow(uint16_t code_page, const wchar_t* wide, int count, std::vector<uint8_t>* out) {
  BOOL used_default = FALSE;
  const int length = ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, count, nullptr,
                                           0, nullptr, &used_default);
  if (length <= 0 || used_default) return false;
  const size_t start = out->size();
  out->resize(start + static_cast<size_t>(length));
  ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide, count,
                        reinterpret_cast<char*>(out->data() + start), length, nullptr, nullptr);
  return true;
}

}  // namespace

bool IsKnownCodePage(uint16_t code_page) { return ::IsValidCodePage(code_page); }

Status DecodeCodePageBytes(const uint8_t* data, size_t size, uint16_t code_page,
                           std::string* utf8) {
  if (!IsKnownCodePage(code_page)) return UnknownCodePage(code_page);
  utf8->clear();
  if (size == 0) return Status::Ok();
  std::wstring wide;
  if (!DecodeStrictly(code_page, data, size, &wide)) {
    // Some byte has no character: one character (one or two bytes) at a time, with
    // U+FFFD for each byte that does not decode, as iconv's converter does on Linux.
    wide.clear();
    size_t i = 0;
    while (i < size) {
      const bool lead = ::IsDBCSLeadByteEx(code_page, data[i]) && i + 1 < size;
      std::wstring one;
      if (lead && DecodeStrictly(code_page, data + i, 2, &one)) {
        wide += one;
        i += 2;
      } else if (!::IsDBCSLeadByteEx(code_page, data[i]) &&
                 DecodeStrictly(code_page, data + i, 1, &one)) {
        wide += one;
        i += 1;
      } else {
        wide += static_cast<wchar_t>(kReplacementCharacter);
        i += 1;
      }
    }
  }
  *utf8 = WideToUtf8(wide);
  return Status::Ok();
}

Status EncodeCodePageBytes(const std::string& utf8, uint16_t code_page,
                           std::vector<uint8_t>* bytes) {
  if (!IsKnownCodePage(code_page)) return UnknownCodePage(code_page);
  bytes->clear();
  std::wstring wide;
  std::vector<size_t> offsets;  // byte offset in `utf8` of each unit of `wide`
  if (!Utf8ToWide(utf8, &wide, &offsets))
    return Status::Error(ErrorKind::kInvalidArgument, "text is not valid UTF-8");
  if (wide.empty() || Narrow(code_page, wide.data(), static_cast<int>(wide.size()), bytes))
    return Status::Ok();
  // Find the first character that cannot be written, for the message.
  size_t unit = 0;
  std::vector<uint8_t> scratch;
  while (unit < wide.size()) {
    const int count = (wide[unit] >= 0xD800 && wide[unit] <= 0xDBFF) ? 2 : 1;
    if (!Narrow(code_page, wide.data() + unit, count, &scratch)) break;
    unit += static_cast<size_t>(count);
  }
  const size_t at = unit < offsets.size() ? offsets[unit] : utf8.size();
  bytes->clear();
  return Status::Error(ErrorKind::kInvalidArgument,
                       "text cannot be written in code page " + std::to_string(code_page) +
                           " (at byte " + std::to_string(at) + ")");
}

}  // namespace jet
