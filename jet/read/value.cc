// Value: constructors, equality and the exact text form of every column type.
#include "jet/read/value.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace jet {
namespace {

const char kHexLower[] = "0123456789abcdef";
const char kHexUpper[] = "0123456789ABCDEF";

template <typename Float>
std::string ShortestText(Float v) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

// A sign and a magnitude scaled by 10^scale as exact decimal text with `scale`
// decimals ("-123.4500" for currency, whose INT64_MIN magnitude fits no int64).
std::string ScaledText(bool negative, unsigned __int128 magnitude, unsigned scale) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
  // A negative zero (possible in a stored decimal) reads as plain zero.
  const bool all_zero = digits.find_first_not_of("0.") == std::string::npos;
  if (negative && !all_zero) digits.insert(0, 1, '-');
  return digits;
}

// Proleptic Gregorian date of a day number counted from 1970-01-01 (H. Hinnant's
// civil_from_days); exact for the whole int64 range used here.
void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

// The inverse: the day number (from 1970-01-01) of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void AppendPadded(std::string* out, int64_t value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out->append(width - digits.size(), '0');
  *out += digits;
}

}  // namespace

// A Jet date is a double counting days from 1899-12-30. The integer part is the day
// (towards zero) and the magnitude of the fraction is the time of that day, so -1.25
// is 1899-12-29 06:00. Seconds are rounded to the nearest one, as Access shows them;
// a time that rounds to 24:00:00 is midnight of the next calendar day.
bool SplitDate(double days, DateParts* parts) {
  constexpr int64_t kEpochFromUnix = -25569;  // 1899-12-30 counted from 1970-01-01
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return false;
  const double whole = std::trunc(days);
  const double fraction = std::fabs(days - whole);  // exact: whole is days' integer part
  int64_t seconds = std::llround(fraction * 86400.0);
  int64_t day_number = static_cast<int64_t>(whole) + kEpochFromUnix;
  if (seconds >= 86400) {
    seconds -= 86400;
    ++day_number;
  }
  int64_t year;
  unsigned month, day;
  CivilFromDays(day_number, &year, &month, &day);
  if (year < 1 || year > 9999) return false;
  parts->year = static_cast<int>(year);
  parts->month = static_cast<int>(month);
  parts->day = static_cast<int>(day);
  parts->hour = static_cast<int>(seconds / 3600);
  parts->minute = static_cast<int>(seconds / 60 % 60);
  parts->second = static_cast<int>(seconds % 60);
  parts->weekday = static_cast<int>(((day_number % 7) + 7 + 4) % 7);  // 1970-01-01: Thursday
  parts->day_of_year = static_cast<int>(day_number - DaysFromCivil(year, 1, 1));
  return true;
}

namespace {

// A value that is not finite or falls outside the years 1..9999 (Access itself keeps
// to 100..9999) is given as the stored number, so nothing is silently clamped or
// wrapped.
std::string DateText(double days) {
  DateParts parts;
  if (!SplitDate(days, &parts)) return ShortestText(days);
  std::string out;
  out.reserve(19);
  AppendPadded(&out, parts.year, 4);
  out += '-';
  AppendPadded(&out, parts.month, 2);
  out += '-';
  AppendPadded(&out, parts.day, 2);
  out += ' ';
  AppendPadded(&out, parts.hour, 2);
  out += ':';
  AppendPadded(&out, parts.minute, 2);
  out += ':';
  AppendPadded(&out, parts.second, 2);
  return out;
}

// Windows GUID layout: Data1 (4 bytes), Data2 and Data3 (2 each) little-endian,
// then 8 bytes in order.
std::string GuidText(const std::vector<uint8_t>& b) {
  if (b.size() != 16) return std::string();
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string out = "{";
  for (int n = 0; n < 16; ++n) {
    if (n == 4 || n == 6 || n == 8 || n == 10) out += '-';
    const uint8_t byte = b[kOrder[n]];
    out += kHexUpper[byte >> 4];
    out += kHexUpper[byte & 0xF];
  }
  out += '}';
  return out;
}

std::string HexText(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    out += kHexLower[byte >> 4];
    out += kHexLower[byte & 0xF];
  }
  return out;
}

}  // namespace

Value Value::Boolean(bool v) {
  Value value;
  value.type_ = ValueType::kBoolean;
  value.int_ = v ? 1 : 0;
  return value;
}

Value Value::Byte(uint8_t v) {
  Value value;
  value.type_ = ValueType::kByte;
  value.int_ = v;
  return value;
}

Value Value::Integer(int16_t v) {
  Value value;
  value.type_ = ValueType::kInteger;
  value.int_ = v;
  return value;
}

Value Value::Long(int32_t v) {
  Value value;
  value.type_ = ValueType::kLong;
  value.int_ = v;
  return value;
}

Value Value::Currency(int64_t scaled) {
  Value value;
  value.type_ = ValueType::kCurrency;
  value.int_ = scaled;
  return value;
}

Value Value::Single(float v) {
  Value value;
  value.type_ = ValueType::kSingle;
  value.real_ = v;
  return value;
}

Value Value::Double(double v) {
  Value value;
  value.type_ = ValueType::kDouble;
  value.real_ = v;
  return value;
}

Value Value::DateTime(double days) {
  Value value;
  value.type_ = ValueType::kDateTime;
  value.real_ = days;
  return value;
}

Value Value::Text(std::string utf8) {
  Value value;
  value.type_ = ValueType::kText;
  value.text_ = std::move(utf8);
  return value;
}

std::string* Value::ResetToText() {
  Clear();
  type_ = ValueType::kText;
  return &text_;
}

Value Value::Binary(std::vector<uint8_t> bytes) {
  Value value;
  value.type_ = ValueType::kBinary;
  value.bytes_ = std::move(bytes);
  return value;
}

Value Value::Guid(const std::array<uint8_t, 16>& bytes) {
  Value value;
  value.type_ = ValueType::kGuid;
  value.bytes_.assign(bytes.begin(), bytes.end());
  return value;
}

Value Value::NumericValue(const Numeric& n) {
  Value value;
  value.type_ = ValueType::kNumeric;
  value.numeric_ = n;
  return value;
}

Value Value::Complex(int32_t key) {
  Value value;
  value.type_ = ValueType::kComplex;
  value.int_ = key;
  return value;
}

Value Value::BigInt(int64_t v) {
  Value value;
  value.type_ = ValueType::kBigInt;
  value.int_ = v;
  return value;
}

std::string Value::ToText() const {
  switch (type_) {
    case ValueType::kNull:
      return std::string();
    case ValueType::kBoolean:
      return int_ != 0 ? "1" : "0";
    case ValueType::kByte:
    case ValueType::kInteger:
    case ValueType::kLong:
    case ValueType::kComplex:
    case ValueType::kBigInt:
      return std::to_string(int_);
    case ValueType::kCurrency: {
      const bool negative = int_ < 0;
      // Negate in unsigned arithmetic so INT64_MIN has a magnitude too.
      const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(int_) : static_cast<uint64_t>(int_);
      return ScaledText(negative, magnitude, 4);
    }
    case ValueType::kSingle:
      return ShortestText(static_cast<float>(real_));
    case ValueType::kDouble:
      return ShortestText(real_);
    case ValueType::kDateTime:
      return DateText(real_);
    case ValueType::kText:
      return text_;
    case ValueType::kBinary:
      return HexText(bytes_);
    case ValueType::kGuid:
      return GuidText(bytes_);
    case ValueType::kNumeric: {
      const unsigned __int128 magnitude =
          (static_cast<unsigned __int128>(numeric_.high) << 64) | numeric_.low;
      return ScaledText(numeric_.negative, magnitude, numeric_.scale);
    }
  }
  return std::string();
}

bool Value::operator==(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case ValueType::kNull:
      return true;
    case ValueType::kBoolean:
    case ValueType::kByte:
    case ValueType::kInteger:
    case ValueType::kLong:
    case ValueType::kCurrency:
    case ValueType::kComplex:
    case ValueType::kBigInt:
      return int_ == other.int_;
    case ValueType::kSingle:
    case ValueType::kDouble:
    case ValueType::kDateTime:
      // Bitwise, so that a value equals itself even when it is a NaN read from a
      // file, and 0.0 and -0.0 stay distinct as stored.
      return std::memcmp(&real_, &other.real_, sizeof real_) == 0;
    case ValueType::kText:
      return text_ == other.text_;
    case ValueType::kBinary:
    case ValueType::kGuid:
      return bytes_ == other.bytes_;
    case ValueType::kNumeric:
      return numeric_ == other.numeric_;
  }
  return false;
}

}  // namespace jet
