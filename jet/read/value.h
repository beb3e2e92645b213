// Value: one column value of a row, holding each Jet column type exactly.
// Currency stays a scaled 64-bit integer, decimal a sign and 128-bit magnitude with
// its scale, dates the stored double; nothing is converted through a lossy type.
// Text is UTF-8 (decoded from the file's code page or UCS-2 by jet/base/text.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

enum class ValueType : uint8_t {
  kNull,
  kBoolean,
  kByte,
  kInteger,    // 16-bit signed
  kLong,       // 32-bit signed
  kCurrency,   // 64-bit signed, value x 10,000
  kSingle,
  kDouble,
  kDateTime,   // double: days since 1899-12-30, fraction = time of day
  kText,       // UTF-8 (Text and Memo columns)
  kBinary,     // raw bytes (Binary, OLE and unknown variable types)
  kGuid,       // 16 bytes as stored (Windows layout)
  kNumeric,    // sign + 128-bit magnitude + scale
  kComplex,    // ACE complex column: 32-bit key into its flat table
  kBigInt,     // ACE 16: 64-bit signed
};

struct Numeric {
  bool negative = false;
  uint64_t high = 0;  // most significant 64 bits of the magnitude
  uint64_t low = 0;   // least significant 64 bits
  uint8_t precision = 0;
  uint8_t scale = 0;

  bool operator==(const Numeric&) const = default;
};

// The calendar fields of a date as ToText shows it (proleptic Gregorian, seconds
// rounded), for callers that format dates their own way.
struct DateParts {
  int year = 0, month = 0, day = 0;   // 1..9999, 1..12, 1..31
  int hour = 0, minute = 0, second = 0;
  int weekday = 0;                    // 0 = Sunday
  int day_of_year = 0;                // 0 = the 1st of January
};

// Splits a Jet date (days since 1899-12-30); false when it is not finite or falls
// outside the years 1..9999.
bool SplitDate(double days, DateParts* parts);

class Value {
 public:
  Value() = default;  // null

  static Value Null() { return Value(); }
  static Value Boolean(bool v);
  static Value Byte(uint8_t v);
  static Value Integer(int16_t v);
  static Value Long(int32_t v);
  static Value Currency(int64_t scaled);  // scaled by 10,000
  static Value Single(float v);
  static Value Double(double v);
  static Value DateTime(double days);
  static Value Text(std::string utf8);
  static Value Binary(std::vector<uint8_t> bytes);
  static Value Guid(const std::array<uint8_t, 16>& bytes);
  static Value NumericValue(const Numeric& n);
  static Value Complex(int32_t key);
  static Value BigInt(int64_t v);

  // Makes this an empty text and gives its UTF-8 buffer to be filled, with the
  // capacity it had: a decoder that refills the same Values row after row allocates
  // only for a text longer than the ones before it in that place.
  std::string* ResetToText();

  // The same as assigning Null(), or the value of a type held in integer() (Boolean,
  // Byte, Integer, Long, Currency, Complex, BigInt) or in real() (Single, Double,
  // DateTime), made in place: a decoder that refills the same Values row after row
  // builds no new Value for each of them, and keeps the buffers for the texts.
  void SetNull() { Clear(); }
  void SetInteger(ValueType type, int64_t v) {
    Clear();
    type_ = type;
    int_ = v;
  }
  void SetReal(ValueType type, double v) {
    Clear();
    type_ = type;
    real_ = v;
  }

  ValueType type() const { return type_; }
  bool is_null() const { return type_ == ValueType::kNull; }

  // Accessors; each is valid only for the matching type(s).
  bool boolean() const { return int_ != 0; }
  int64_t integer() const { return int_; }  // Byte, Integer, Long, Currency, Complex, BigInt
  double real() const { return real_; }     // Single (widened exactly), Double, DateTime
  const std::string& text() const { return text_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }  // Binary, Guid (16 bytes)
  const Numeric& numeric() const { return numeric_; }

  // Exact text form, used by `jetdb export` and the tests:
  //   boolean "1"/"0"; integers in decimal; currency "-12.3400" (4 decimals);
  //   single/double the shortest text that reads back to the same value;
  //   date "YYYY-MM-DD HH:MM:SS" (seconds rounded as Access shows them);
  //   text as is; binary as lowercase hex; GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  //   numeric with exactly `scale` decimals; null as the empty text.
  std::string ToText() const;

  bool operator==(const Value& other) const;

 private:
  // Null, with the capacity of the buffers kept (the Set* functions and ResetToText
  // start from it).
  void Clear() {
    type_ = ValueType::kNull;
    int_ = 0;
    real_ = 0;
    text_.clear();
    bytes_.clear();
    numeric_ = Numeric();
  }

  ValueType type_ = ValueType::kNull;
  int64_t int_ = 0;
  double real_ = 0;
  std::string text_;
  std::vector<uint8_t> bytes_;
  Numeric numeric_;
};

}  // namespace jet
