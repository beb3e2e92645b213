// CSV and JSON text of values for `jetdb export`.
#include "tools/jetdb/export_format.h"

#include <cmath>
#include <cstdio>

namespace jetdb {

std::string CsvText(const std::string& text) {
  if (!text.empty() && text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvField(const jet::Value& value) {
  if (value.is_null()) return std::string();
  return CsvText(value.ToText());
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
