// Schema: validation of a new database's description, and the text forms of values.
#include "jet/create/schema.h"

#include <cctype>
#include <algorithm>
#include <cmath>
#include <climits>
#include <set>

#include "jet/base/text.h"

namespace jet {
namespace {

constexpr size_t kMaxNameCharacters = 64;  // Jet's limit for object and column names
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexColumns = 10;
constexpr size_t kMaxIndexes = 32;  // real indexes per table, as Jet allows

Status Invalid(const std::string& detail) {
  return Status::Error(ErrorKind::kInvalidArgument, detail);
}

size_t CodePointCount(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// Jet refuses names that are empty, too long, start with a blank or hold . ! ` [ ]
// or control characters.
Status CheckName(const std::string& name, const std::string& what) {
  if (name.empty()) return Invalid(what + " has no name");
  if (CodePointCount(name) > kMaxNameCharacters)
    return Invalid(what + " \"" + name + "\": a name holds at most 64 characters");
  if (name[0] == ' ') return Invalid(what + " \"" + name + "\": a name cannot start with a blank");
  for (unsigned char c : name) {
    if (c < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
      return Invalid(what + " \"" + name + "\": a name cannot hold . ! ` [ ] or control characters");
  }
  return Status::Ok();
}

bool IsSupportedType(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean: case ColumnType::kByte: case ColumnType::kInteger:
    case ColumnType::kLong: case ColumnType::kCurrency: case ColumnType::kSingle:
    case ColumnType::kDouble: case ColumnType::kDateTime: case ColumnType::kBinary:
    case ColumnType::kText: case ColumnType::kOle: case ColumnType::kMemo:
    case ColumnType::kGuid: case ColumnType::kNumeric:
      return true;
    default:
      return false;
  }
}

ValueType ValueTypeOf(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean: return ValueType::kBoolean;
    case ColumnType::kByte: return ValueType::kByte;
    case ColumnType::kInteger: return ValueType::kInteger;
    case ColumnType::kLong: return ValueType::kLong;
    case ColumnType::kCurrency: return ValueType::kCurrency;
    case ColumnType::kSingle: return ValueType::kSingle;
    case ColumnType::kDouble: return ValueType::kDouble;
    case ColumnType::kDateTime: return ValueType::kDateTime;
    case ColumnType::kText: case ColumnType::kMemo: return ValueType::kText;
    case ColumnType::kBinary: case ColumnType::kOle: return ValueType::kBinary;
    case ColumnType::kGuid: return ValueType::kGuid;
    case ColumnType::kNumeric: return ValueType::kNumeric;
    default: return ValueType::kNull;
  }
}

unsigned __int128 PowerOfTen(unsigned n) {
  unsigned __int128 v = 1;
  for (unsigned i = 0; i < n; ++i) v *= 10;
  return v;
}

// The detail names the place only on failure: this runs for every value of every
// generated row.
Status CheckValue(const TableSpec& table, size_t row, size_t column, const Value& value) {
  const ColumnSpec& c = table.columns[column];
  const auto fail = [&](const std::string& what) {
    return Invalid("table \"" + table.name + "\" row " + std::to_string(row + 1) + " column \"" + c.name +
                   "\": " + what);
  };
  if (value.is_null()) {
    if (c.required && !c.autonumber) return fail("a required column cannot be null");
    return Status::Ok();
  }
  if (value.type() != ValueTypeOf(c.type)) return fail("value of the wrong type");
  const uint16_t size = c.size == 0 ? 255 : c.size;
  if (c.type == ColumnType::kText && CodePointCount(value.text()) > size)
    return fail("text longer than " + std::to_string(size) + " characters");
  if (c.type == ColumnType::kBinary && value.bytes().size() > size)
    return fail("more than " + std::to_string(size) + " bytes");
  if (c.type == ColumnType::kGuid && value.bytes().size() != 16) return fail("a GUID has 16 bytes");
  if (c.type == ColumnType::kNumeric) {
    const Numeric& n = value.numeric();
    const unsigned __int128 magnitude = (static_cast<unsigned __int128>(n.high) << 64) | n.low;
    if (n.scale != c.scale || magnitude >= PowerOfTen(c.precision))
      return fail("does not fit precision " + std::to_string(c.precision) + ", scale " + std::to_string(c.scale));
  }
  if (c.type == ColumnType::kOle || c.type == ColumnType::kMemo) {
    const size_t length = c.type == ColumnType::kOle ? value.bytes().size() : value.text().size();
    if (length > 0x3FFFFFFF / 2) return fail("long value too large");
  }
  return Status::Ok();
}

class VectorRowSource : public RowSource {
 public:
  explicit VectorRowSource(const std::vector<RowSpec>& rows) : rows_(rows) {}
  Status Next(RowSpec* row, bool* done) override {
    *done = next_ >= rows_.size();
    if (!*done) *row = rows_[next_++];
    return Status::Ok();
  }

 private:
  const std::vector<RowSpec>& rows_;
  size_t next_ = 0;
};

}  // namespace

std::unique_ptr<RowSource> RowsInMemory(const std::vector<RowSpec>& rows) {
  return std::make_unique<VectorRowSource>(rows);
}

namespace {

class SchemaRowSupplier : public RowSupplier {
 public:
  explicit SchemaRowSupplier(const Schema& schema) : schema_(schema) {}
  Status OpenRows(size_t table, std::unique_ptr<RowSource>* source) override {
    if (table >= schema_.tables.size()) return Invalid("no table " + std::to_string(table));
    *source = RowsInMemory(schema_.tables[table].rows);
    return Status::Ok();
  }

 private:
  const Schema& schema_;
};

Status CheckTable(const TableSpec& table, Version version) {
  const std::string what = "table \"" + table.name + "\"";
  Status s = CheckName(table.name, "a table");
  if (!s.ok()) return s;
  if (AsciiLower(table.name).rfind("msys", 0) == 0)
    return Invalid(what + ": names starting with MSys belong to the system tables");
  if (table.columns.empty() || table.columns.size() > kMaxColumns)
    return Invalid(what + ": a table has 1 to 255 columns");
  std::set<std::string> names;
  for (const ColumnSpec& c : table.columns) {
    s = CheckName(c.name, what + ": a column");
    if (!s.ok()) return s;
    if (!names.insert(AsciiLower(c.name)).second) return Invalid(what + ": two columns named \"" + c.name + "\"");
    if (!IsSupportedType(c.type))
      return Invalid(what + " column \"" + c.name + "\": unsupported type " + ColumnTypeName(uint8_t(c.type)));
    if ((c.type == ColumnType::kText || c.type == ColumnType::kBinary) && c.size > 255)
      return Invalid(what + " column \"" + c.name + "\": size is 1 to 255");
    if (c.autonumber && c.type != ColumnType::kLong)
      return Invalid(what + " column \"" + c.name + "\": only a Long column can be an AutoNumber");
    if (IsJet3(version) && !Jet3HasType(c.type))
      return Invalid(what + " column \"" + c.name + "\": Jet 3 files have no " + ColumnTypeName(uint8_t(c.type)) +
                     " columns");
    if (c.type == ColumnType::kNumeric && (c.precision < 1 || c.precision > 28 || c.scale > c.precision))
      return Invalid(what + " column \"" + c.name + "\": precision 1..28 and scale 0..precision");
  }
  if (table.indexes.size() > kMaxIndexes) return Invalid(what + ": more than 32 indexes");
  std::set<std::string> index_names;
  int primaries = 0;
  for (const IndexSpec& index : table.indexes) {
    s = CheckName(index.name, what + ": an index");
    if (!s.ok()) return s;
    if (!index_names.insert(AsciiLower(index.name)).second)
      return Invalid(what + ": two indexes named \"" + index.name + "\"");
    if (index.primary) ++primaries;
    if (index.columns.empty() || index.columns.size() > kMaxIndexColumns)
      return Invalid(what + " index \"" + index.name + "\": an index has 1 to 10 columns");
    std::set<int> used;
    for (const IndexColumnSpec& ic : index.columns) {
      const int at = FindColumnSpec(table, ic.column);
      if (at < 0) return Invalid(what + " index \"" + index.name + "\": no column \"" + ic.column + "\"");
      if (!used.insert(at).second)
        return Invalid(what + " index \"" + index.name + "\": column \"" + ic.column + "\" twice");
      if (table.columns[at].type == ColumnType::kOle)
        return Invalid(what + " index \"" + index.name + "\": OLE columns cannot be indexed");
    }
  }
  if (primaries > 1) return Invalid(what + ": more than one primary key");
  for (size_t r = 0; r < table.rows.size(); ++r) {
    s = ValidateRow(table, r, table.rows[r]);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status CheckRelationship(const Schema& schema, const RelationshipSpec& rel) {
  const std::string what = "relationship \"" + rel.name + "\"";
  Status s = CheckName(rel.name, "a relationship");
  if (!s.ok()) return s;
  const int from = FindTableSpec(schema, rel.from_table);
  const int to = FindTableSpec(schema, rel.to_table);
  if (from < 0) return Invalid(what + ": no table \"" + rel.from_table + "\"");
  if (to < 0) return Invalid(what + ": no table \"" + rel.to_table + "\"");
  if (rel.from_columns.empty() || rel.from_columns.size() > kMaxIndexColumns ||
      rel.from_columns.size() != rel.to_columns.size())
    return Invalid(what + ": both sides need the same number of columns, 1 to 10");
  const TableSpec& ft = schema.tables[from];
  const TableSpec& tt = schema.tables[to];
  std::vector<int> to_positions;
  for (size_t i = 0; i < rel.from_columns.size(); ++i) {
    const int fc = FindColumnSpec(ft, rel.from_columns[i]);
    const int tc = FindColumnSpec(tt, rel.to_columns[i]);
    if (fc < 0) return Invalid(what + ": no column \"" + rel.from_columns[i] + "\" in \"" + ft.name + "\"");
    if (tc < 0) return Invalid(what + ": no column \"" + rel.to_columns[i] + "\" in \"" + tt.name + "\"");
    const ColumnType a = ft.columns[fc].type, b = tt.columns[tc].type;
    if (a != b) return Invalid(what + ": columns \"" + rel.from_columns[i] + "\" and \"" +
                               rel.to_columns[i] + "\" have different types");
    if (a == ColumnType::kMemo || a == ColumnType::kOle)
      return Invalid(what + ": Memo and OLE columns cannot relate tables");
    to_positions.push_back(tc);
  }
  if (!rel.enforced) return Status::Ok();
  for (const IndexSpec& index : tt.indexes) {
    if (!index.primary && !index.unique) continue;
    if (index.columns.size() != to_positions.size()) continue;
    bool same = true;
    for (size_t i = 0; i < to_positions.size(); ++i)
      same = same && FindColumnSpec(tt, index.columns[i].column) == to_positions[i];
    if (same) return Status::Ok();
  }
  return Invalid(what + ": an enforced relationship needs a primary key or unique index on \"" +
                 tt.name + "\" over exactly its columns");
}

bool ParseUnsigned(const std::string& text, size_t* at, size_t digits, int* value) {
  int v = 0;
  for (size_t i = 0; i < digits; ++i) {
    if (*at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[*at]))) return false;
    v = v * 10 + (text[(*at)++] - '0');
  }
  *value = v;
  return true;
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian), after H. Hinnant.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Parses [-]digits[.digits] into a magnitude scaled to `scale` decimals, with at most
// `max_integer_digits` significant digits before the point (so that the magnitude
// always fits in 128 bits) and at most `scale` decimals (zeros beyond are accepted).
bool ParseScaled(const std::string& text, unsigned scale, unsigned max_integer_digits,
                 bool* negative, unsigned __int128* magnitude) {
  size_t at = 0;
  *negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) *negative = text[at++] == '-';
  unsigned __int128 v = 0;
  unsigned integer_digits = 0, decimals = 0;
  bool seen_point = false, any = false;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '.' && !seen_point) {
      seen_point = true;
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    any = true;
    if (seen_point) {
      if (++decimals > scale) {
        if (c != '0') return false;
        continue;
      }
    } else if (v != 0 || c != '0') {
      if (++integer_digits > max_integer_digits) return false;
    }
    v = v * 10 + unsigned(c - '0');
  }
  if (!any) return false;
  for (unsigned i = std::min(decimals, scale); i < scale; ++i) v *= 10;
  *magnitude = v;
  if (v == 0) *negative = false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int FindColumnSpec(const TableSpec& table, const std::string& name) {
  const std::string wanted = AsciiLower(name);
  for (size_t i = 0; i < table.columns.size(); ++i)
    if (AsciiLower(table.columns[i].name) == wanted) return int(i);
  return -1;
}

int FindTableSpec(const Schema& schema, const std::string& name) {
  const std::string wanted = AsciiLower(name);
  for (size_t i = 0; i < schema.tables.size(); ++i)
    if (AsciiLower(schema.tables[i].name) == wanted) return int(i);
  return -1;
}

Status ValidateRow(const TableSpec& table, size_t row_index, const RowSpec& row) {
  if (row.values.size() > table.columns.size())
    return Invalid("table \"" + table.name + "\" row " + std::to_string(row_index + 1) + ": more values than columns");
  for (size_t c = 0; c < table.columns.size(); ++c) {
    Status s = CheckValue(table, row_index, c, c < row.values.size() ? row.values[c] : Value());
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

std::unique_ptr<RowSupplier> SchemaRows(const Schema& schema) {
  return std::make_unique<SchemaRowSupplier>(schema);
}

Status ValidateSchema(const Schema& schema) {
  if (schema.version != Version::kJet3 && schema.version != Version::kJet4)
    return Invalid("new databases are Jet 3 or Jet 4 files");
  std::set<std::string> names;
  for (const TableSpec& table : schema.tables) {
    Status s = CheckTable(table, schema.version);
    if (!s.ok()) return s;
    if (!names.insert(AsciiLower(table.name)).second) return Invalid("two tables named \"" + table.name + "\"");
  }
  std::set<std::string> relationship_names;
  for (const RelationshipSpec& rel : schema.relationships) {
    Status s = CheckRelationship(schema, rel);
    if (!s.ok()) return s;
    if (!relationship_names.insert(AsciiLower(rel.name)).second)
      return Invalid("two relationships named \"" + rel.name + "\"");
  }
  return Status::Ok();
}

Status ParseDateTimeText(const std::string& text, double* days) {
  const Status bad = Invalid("not a date (YYYY-MM-DD[ HH:MM:SS], years 100..9999): \"" + text + "\"");
  size_t at = 0;
  int y, mo, d, h = 0, mi = 0, se = 0;
  if (!ParseUnsigned(text, &at, 4, &y) || at >= text.size() || text[at++] != '-' ||
      !ParseUnsigned(text, &at, 2, &mo) || at >= text.size() || text[at++] != '-' ||
      !ParseUnsigned(text, &at, 2, &d))
    return bad;
  if (at < text.size()) {
    if (text[at] != ' ' && text[at] != 'T') return bad;
    ++at;
    if (!ParseUnsigned(text, &at, 2, &h) || at >= text.size() || text[at++] != ':' ||
        !ParseUnsigned(text, &at, 2, &mi) || at >= text.size() || text[at++] != ':' ||
        !ParseUnsigned(text, &at, 2, &se) || at != text.size())
      return bad;
  }
  static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || se > 59) return bad;
  if (d > kMonthDays[mo - 1] + (mo == 2 && IsLeap(y) ? 1 : 0)) return bad;
  // The integer part counts days from 1899-12-30; the fraction is the time of day and
  // is added away from zero, so dates before 1899-12-30 are -(days + fraction).
  const double whole = double(DaysFromCivil(y, unsigned(mo), unsigned(d)) + 25569);
  const double fraction = double(h * 3600 + mi * 60 + se) / 86400.0;
  *days = whole < 0 ? whole - fraction : whole + fraction;
  return Status::Ok();
}

Status ParseCurrencyText(const std::string& text, int64_t* scaled) {
  bool negative;
  unsigned __int128 magnitude;
  if (!ParseScaled(text, 4, 15, &negative, &magnitude))
    return Invalid("not a currency amount (at most 4 decimals): \"" + text + "\"");
  const unsigned __int128 limit = negative ? (unsigned __int128)(INT64_MAX) + 1 : INT64_MAX;
  if (magnitude > limit) return Invalid("currency amount out of range: \"" + text + "\"");
  *scaled = negative ? int64_t(-static_cast<__int128>(magnitude)) : int64_t(magnitude);
  return Status::Ok();
}

Status ParseNumericText(const std::string& text, uint8_t precision, uint8_t scale, Numeric* value) {
  bool negative;
  unsigned __int128 magnitude;
  if (scale > precision || precision > 38 ||
      !ParseScaled(text, scale, unsigned(precision - scale), &negative, &magnitude) ||
      magnitude >= PowerOfTen(precision))
    return Invalid("not a decimal number of precision " + std::to_string(precision) + ", scale " +
                   std::to_string(scale) + ": \"" + text + "\"");
  value->negative = negative;
  value->high = uint64_t(magnitude >> 64);
  value->low = uint64_t(magnitude);
  value->precision = precision;
  value->scale = scale;
  return Status::Ok();
}

Status ParseGuidText(const std::string& text, std::array<uint8_t, 16>* bytes) {
  std::string hex;
  std::string body = text;
  if (body.size() == 38 && body.front() == '{' && body.back() == '}') body = body.substr(1, 36);
  static const size_t kDashes[4] = {8, 13, 18, 23};
  if (body.size() != 36) return Invalid("not a GUID: \"" + text + "\"");
  for (size_t i = 0; i < body.size(); ++i) {
    const bool dash_here = i == kDashes[0] || i == kDashes[1] || i == kDashes[2] || i == kDashes[3];
    if (dash_here != (body[i] == '-')) return Invalid("not a GUID: \"" + text + "\"");
    if (!dash_here) hex += body[i];
  }
  std::vector<uint8_t> canonical;
  Status s = ParseHexText(hex, &canonical);
  if (!s.ok()) return Invalid("not a GUID: \"" + text + "\"");
  // Stored in the Windows layout: the first three fields little-endian.
  static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) (*bytes)[kOrder[i]] = canonical[i];
  return Status::Ok();
}

Status ParseHexText(const std::string& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0) return Invalid("hexadecimal text of odd length");
  bytes->clear();
  bytes->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return Invalid("not hexadecimal text: \"" + text.substr(0, 40) + "\"");
    bytes->push_back(uint8_t(hi << 4 | lo));
  }
  return Status::Ok();
}

}  // namespace jet
