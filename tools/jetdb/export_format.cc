// CSV and JSON text of values for `jetdb export`.
#include "tools/jetdb/export_format.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace jetdb {

std::string CsvText(const std::string& text, char delimiter) {
  const char special[] = {delimiter, '"', '\r', '\n', '\0'};
  if (!text.empty() && text.find_first_of(special) == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvField(const jet::Value& value, const CsvOptions& options) {
  if (value.is_null()) return options.null_text;
  if (value.type() == jet::ValueType::kDateTime && !options.date_format.empty())
    return CsvText(FormatDate(value, options.date_format), options.delimiter);
  return CsvText(value.ToText(), options.delimiter);
}

std::string FormatDate(const jet::Value& value, const std::string& format) {
  jet::DateParts parts;
  if (!jet::SplitDate(value.real(), &parts)) return value.ToText();
  std::tm tm = {};
  tm.tm_year = parts.year - 1900;
  tm.tm_mon = parts.month - 1;
  tm.tm_mday = parts.day;
  tm.tm_hour = parts.hour;
  tm.tm_min = parts.minute;
  tm.tm_sec = parts.second;
  tm.tm_wday = parts.weekday;
  tm.tm_yday = parts.day_of_year;
  // strftime gives 0 both for "no room" and for an empty result; grow until it fits
  // or the room is plainly more than any format needs.
  for (size_t room = 64; room <= 64 * format.size() + 64; room *= 4) {
    std::string out(room, '\0');
    const size_t n = std::strftime(out.data(), out.size(), format.c_str(), &tm);
    if (n > 0) return out.substr(0, n);
  }
  return std::string();
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonValue(const jet::Value& value) {
  using jet::ValueType;
  switch (value.type()) {
    case ValueType::kNull:
      return "null";
    case ValueType::kBoolean:
      return value.boolean() ? "true" : "false";
    case ValueType::kByte:
    case ValueType::kInteger:
    case ValueType::kLong:
    case ValueType::kComplex:
      return value.ToText();
    case ValueType::kBigInt: {
      // Many JSON readers hold numbers in doubles; beyond 2^53 an integer would be
      // rounded, so it goes out as a string.
      const int64_t v = value.integer();
      if (v > (int64_t{1} << 53) || v < -(int64_t{1} << 53)) return JsonString(value.ToText());
      return value.ToText();
    }
    case ValueType::kSingle:
    case ValueType::kDouble:
      // The shortest round-trip text is exact for the stored float; NaN and the
      // infinities have no JSON number.
      if (std::isfinite(value.real())) return value.ToText();
      return JsonString(value.ToText());
    case ValueType::kDateTime: {
      std::string text = value.ToText();
      if (text.size() == 19 && text[10] == ' ') text[10] = 'T';
      return JsonString(text);
    }
    case ValueType::kCurrency:
    case ValueType::kNumeric:
    case ValueType::kText:
    case ValueType::kBinary:
    case ValueType::kGuid:
      return JsonString(value.ToText());
  }
  return "null";
}

}  // namespace jetdb
