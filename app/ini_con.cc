// IniCon: reading the settings file, decoding its bytes, and finding one value.
#include "app/ini_con.h"

#include <cstdint>
#include <memory>

#include "jet/base/read_only_file.h"
#include "jet/base/text.h"

namespace app {
namespace {

// Windows-1252 code points of the bytes 0x80..0x9F. The five bytes Windows leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same
// value, as Windows' own conversion does; 0xA0..0xFF equal their code points.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0xA0) {
      jet::AppendUtf8(kWindows1252High[c - 0x80], &out);
    } else {
      jet::AppendUtf8(c, &out);
    }
  }
  return out;
}

// UTF-16 without its byte-order mark; an unpaired surrogate becomes U+FFFD and an odd
// last byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool little_endian) {
  auto unit_at = [&](size_t i) -> uint32_t {
    const uint32_t a = static_cast<unsigned char>(bytes[i]);
    const uint32_t b = static_cast<unsigned char>(bytes[i + 1]);
    return little_endian ? (a | (b << 8)) : ((a << 8) | b);
  };
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i + 1 < bytes.size()) {
    uint32_t unit = unit_at(i);
    i += 2;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < bytes.size()) {
      const uint32_t low = unit_at(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        i += 2;
        jet::AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
    jet::AppendUtf8(unit, &out);
  }
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Reads the whole of a regular file of at most kMaxSettingsFileBytes. *missing is set
// when there is no file at `path` (which is not an error for a settings file).
jet::Status ReadSettingsFile(const std::string& path, std::string* bytes, bool* missing) {
  *missing = false;
  bytes->clear();
  if (path.find('\0') != std::string::npos) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument,
                              "settings file name holds a NUL byte");
  }
  std::unique_ptr<jet::ReadOnlyFile> file;
  jet::Status status = jet::ReadOnlyFile::Open(path, &file);
  if (status.kind() == jet::ErrorKind::kNotFound) {
    *missing = true;
    return jet::Status::Ok();
  }
  if (!status.ok()) return status;
  if (file->size() > kMaxSettingsFileBytes) {
    return jet::Status::Error(
        jet::ErrorKind::kInvalidArgument,
        path + " is larger than " + std::to_string(kMaxSettingsFileBytes) + " bytes");
  }
  bytes->resize(static_cast<size_t>(file->size()));
  status = file->ReadAt(0, bytes->data(), bytes->size());
  if (!status.ok()) bytes->clear();
  return status;
}

}  // namespace

std::string ProfileBytesToUtf8(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    return Utf16ToUtf8(bytes.substr(2), /*little_endian=*/true);
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    return Utf16ToUtf8(bytes.substr(2), /*little_endian=*/false);
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (jet::IsValidUtf8(bytes)) return std::string(bytes);
  return Windows1252ToUtf8(bytes);
}

std::string FindProfileValue(std::string_view text, std::string_view section,
                             std::string_view key) {
  bool in_section = false;  // inside the first section whose name matches
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      if (close == std::string_view::npos) continue;
      // Only the first matching section is searched: leaving it ends the search.
      if (in_section) return "";
      in_section = jet::EqualsIgnoringAsciiCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section) continue;
    // A line without '=' is a key whose value is empty.
    const size_t equals = line.find('=');
    const std::string_view name = equals == std::string_view::npos ? line : line.substr(0, equals);
    if (!jet::EqualsIgnoringAsciiCase(Trim(name), key)) continue;
    if (equals == std::string_view::npos) return "";
    std::string_view value = Unquote(Trim(line.substr(equals + 1)));
    const size_t nul = value.find('\0');
    if (nul != std::string_view::npos) value = value.substr(0, nul);
    return std::string(value);
  }
  return "";
}

jet::Status IniCon::Value(std::string* value) const {
  value->clear();
  std::string bytes;
  bool missing = false;
  jet::Status s = ReadSettingsFile(file_name_, &bytes, &missing);
  if (!s.ok() || missing) return s;
  *value = FindProfileValue(ProfileBytesToUtf8(bytes), section_, key_);
  return jet::Status::Ok();
}

}  // namespace app
