// Text codecs: UTF-8 <-> UTF-16LE by hand, Jet 4 compressed unicode, and Windows code
// pages (pure ASCII here, the rest by the platform's converter, jet/base/code_page.h).
#include "jet/base/text.h"

#include <cstring>
#include <utility>

#include "jet/base/code_page.h"

namespace jet {

bool NextUtf8(std::string_view text, size_t* pos, char32_t* out) {
  const auto byte = [&](size_t n) { return static_cast<uint8_t>(text[n]); };
  const uint8_t lead = byte(*pos);
  size_t extra;
  char32_t c;
  char32_t min;
  if (lead < 0x80) {
    *out = lead;
    ++*pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, c = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, c = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, c = lead & 0x07, min = 0x10000;
  } else {
    ++*pos;
    return false;
  }
  size_t n = *pos + 1;
  for (size_t k = 0; k < extra; ++k, ++n) {
    if (n >= text.size() || (byte(n) & 0xC0) != 0x80) {
      *pos = n;
      return false;
    }
    c = (c << 6) | (byte(n) & 0x3F);
  }
  *pos = n;
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  *out = c;
  return true;
}

namespace {

// UTF-16LE code units to UTF-8; an odd trailing byte is dropped and a surrogate
// without its partner becomes U+FFFD.
void AppendUtf16Le(const uint8_t* data, size_t size, std::string* out) {
  const size_t units = size / 2;
  const auto unit = [&](size_t n) -> char16_t { return data[2 * n] | (data[2 * n + 1] << 8); };
  size_t n = 0;
  while (n < units) {
    // Most text is ASCII: a run of it is appended at once, one byte a unit.
    size_t run_end = n;
    while (run_end < units && data[2 * run_end + 1] == 0 && data[2 * run_end] < 0x80) ++run_end;
    if (run_end > n) {
      const size_t at = out->size();
      out->resize(at + (run_end - n));
      char* to = out->data() + at;
      for (size_t k = n; k < run_end; ++k) *to++ = static_cast<char>(data[2 * k]);
      n = run_end;
      continue;
    }
    const char16_t u = unit(n);
    if (u >= 0xD800 && u <= 0xDBFF && n + 1 < units) {
      const char16_t low = unit(n + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00), out);
        n += 2;
        continue;
      }
    }
    AppendUtf8((u >= 0xD800 && u <= 0xDFFF) ? kReplacementCharacter : char32_t(u), out);
    ++n;
  }
}

// UTF-8 to UTF-32; false on malformed input.
bool ToCodePoints(const std::string& utf8, std::u32string* out) {
  out->clear();
  out->reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c;
    if (!NextUtf8(utf8, &pos, &c)) return false;
    out->push_back(c);
  }
  return true;
}

void AppendUtf16Unit(char16_t u, std::vector<uint8_t>* out) {
  out->push_back(static_cast<uint8_t>(u & 0xFF));
  out->push_back(static_cast<uint8_t>(u >> 8));
}

void AppendUtf16(char32_t c, std::vector<uint8_t>* out) {
  if (c >= 0x10000) {
    c -= 0x10000;
    AppendUtf16Unit(static_cast<char16_t>(0xD800 + (c >> 10)), out);
    AppendUtf16Unit(static_cast<char16_t>(0xDC00 + (c & 0x3FF)), out);
  } else {
    AppendUtf16Unit(static_cast<char16_t>(c), out);
  }
}

// Windows code pages whose bytes 0x00..0x7F are ASCII, so pure-ASCII text needs no
// conversion (the EBCDIC and some DOS code pages are not in this list).
bool IsAsciiCompatible(uint16_t code_page) {
  return code_page == 874 || code_page == 932 || code_page == 936 || code_page == 949 ||
         code_page == 950 || (code_page >= 1250 && code_page <= 1258);
}

bool IsAscii(const uint8_t* data, size_t size) {
  // Eight bytes at a time and without an early exit, which the compiler turns into
  // vector code: every text and memo of every row comes through here.
  uint64_t high = 0;
  size_t n = 0;
  for (; n + 8 <= size; n += 8) {
    uint64_t word;
    std::memcpy(&word, data + n, 8);
    high |= word;
  }
  for (; n < size; ++n) high |= data[n];
  return (high & 0x8080808080808080ull) == 0;
}

}  // namespace

Status DecodeCodePageText(const uint8_t* data, size_t size, uint16_t code_page,
                          std::string* utf8) {
  utf8->clear();
  if (IsAsciiCompatible(code_page) && IsAscii(data, size)) {
    utf8->assign(reinterpret_cast<const char*>(data), size);
    return Status::Ok();
  }
  return DecodeCodePageBytes(data, size, code_page, utf8);
}

Status EncodeCodePageText(const std::string& utf8, uint16_t code_page,
                          std::vector<uint8_t>* bytes) {
  bytes->clear();
  const auto* raw = reinterpret_cast<const uint8_t*>(utf8.data());
  if (IsAsciiCompatible(code_page) && IsAscii(raw, utf8.size())) {
    bytes->assign(raw, raw + utf8.size());
    return Status::Ok();
  }
  return EncodeCodePageBytes(utf8, code_page, bytes);
}

Status DecodeJet4Text(const uint8_t* data, size_t size, std::string* utf8) {
  utf8->clear();
  if (size < 2 || data[0] != 0xFF || data[1] != 0xFE) {
    utf8->reserve(size / 2);
    AppendUtf16Le(data, size, utf8);
    return Status::Ok();
  }
  // Compressed unicode: after FF FE, segments alternate starting compressed (one
  // byte per character, high byte 0) and uncompressed (UTF-16LE); every 0x00 byte
  // switches between them, so neither kind of segment contains a zero byte.
  utf8->reserve(size);
  bool compressed = true;
  size_t start = 2;
  while (true) {
    const void* zero = std::memchr(data + start, 0x00, size - start);
    const size_t n = zero != nullptr ? size_t(static_cast<const uint8_t*>(zero) - data) : size;
    if (compressed) {
      for (size_t k = start; k < n;) {
        // A run of ASCII bytes is already UTF-8.
        size_t run_end = k;
        while (run_end < n && data[run_end] < 0x80) ++run_end;
        utf8->append(reinterpret_cast<const char*>(data + k), run_end - k);
        if (run_end < n) AppendUtf8(data[run_end++], utf8);
        k = run_end;
      }
    } else {
      AppendUtf16Le(data + start, n - start, utf8);
    }
    if (n == size) break;
    compressed = !compressed;
    start = n + 1;
  }
  return Status::Ok();
}

Status EncodeJet4Text(const std::string& utf8, bool allow_compression,
                      std::vector<uint8_t>* bytes) {
  bytes->clear();
  const auto* raw = reinterpret_cast<const uint8_t*>(utf8.data());
  if (IsAscii(raw, utf8.size())) {
    // One code point per byte, each at most 0xFF: the rule below, without the
    // detour through code points.
    if (allow_compression && utf8.size() > 2 && std::memchr(raw, 0, utf8.size()) == nullptr) {
      bytes->reserve(utf8.size() + 2);
      bytes->push_back(0xFF);
      bytes->push_back(0xFE);
      bytes->insert(bytes->end(), raw, raw + utf8.size());
      return Status::Ok();
    }
    bytes->resize(utf8.size() * 2, 0);
    for (size_t n = 0; n < utf8.size(); ++n) (*bytes)[2 * n] = raw[n];
    return Status::Ok();
  }
  std::u32string points;
  if (!ToCodePoints(utf8, &points))
    return Status::Error(ErrorKind::kInvalidArgument, "text is not valid UTF-8");

  bool compressible = allow_compression && points.size() > 2;  // FF FE costs 2 bytes
  for (char32_t c : points) {
    if (c == 0 || c > 0xFF) {
      compressible = false;
      break;
    }
  }
  if (compressible) {
    bytes->reserve(points.size() + 2);
    bytes->push_back(0xFF);
    bytes->push_back(0xFE);
    for (char32_t c : points) bytes->push_back(static_cast<uint8_t>(c));
    return Status::Ok();
  }
  bytes->reserve(points.size() * 2);
  for (char32_t c : points) AppendUtf16(c, bytes);
  return Status::Ok();
}

std::string Utf16LeToUtf8(const uint8_t* data, size_t size) {
  std::string out;
  out.reserve(size / 2);
  AppendUtf16Le(data, size, &out);
  return out;
}

std::vector<uint8_t> Utf8ToUtf16Le(const std::string& utf8) {
  std::vector<uint8_t> out;
  out.reserve(utf8.size() * 2);
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c;
    if (!NextUtf8(utf8, &pos, &c)) c = kReplacementCharacter;
    AppendUtf16(c, &out);
  }
  return out;
}

size_t Utf16LeSize(const std::string& utf8) {
  const auto* raw = reinterpret_cast<const uint8_t*>(utf8.data());
  if (IsAscii(raw, utf8.size())) return utf8.size() * 2;
  size_t size = 0, pos = 0;
  while (pos < utf8.size()) {
    char32_t c;
    if (!NextUtf8(utf8, &pos, &c)) c = kReplacementCharacter;
    size += c > 0xFFFF ? 4 : 2;  // a surrogate pair beyond the BMP
  }
  return size;
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  char32_t c;
  while (pos < text.size())
    if (!NextUtf8(text, &pos, &c)) return false;
  return true;
}

namespace {
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
}  // namespace

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = FoldAscii(c);
  return lower;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

}  // namespace jet
