// Row generator: deterministic test rows for a schema.
#include "jet/row_generator.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace jet {
namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
  bool OneIn(uint64_t n) { return Below(n) == 0; }

 private:
  uint64_t state_;
};

uint64_t NameHash(const std::string& s) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

const char* const kWords[] = {
    "afspraak", "klant", "notitie", "morgen", "middag", "avond", "controle", "behandeling",
    "telefoon", "adres", "straat", "plein", "dorp", "stad", "rekening", "betaald",
    "open", "gesloten", "nieuw", "oud", "groot", "klein", "rood", "blauw", "groen",
    "Jansen", "de Vries", "Bakker", "Visser", "Smit", "Meijer", "Mulder", "Bos",
    "alpha", "beta", "gamma", "delta", "omega", "item", "data", "test", "value"};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

std::string Words(Random& rng, size_t length) {
  std::string out;
  while (out.size() < length) {
    if (!out.empty()) out += ' ';
    out += kWords[rng.Below(kWordCount)];
  }
  out.resize(length);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<uint8_t> Bytes(Random& rng, size_t length) {
  std::vector<uint8_t> out(length);
  for (uint8_t& b : out) b = uint8_t(rng.Next());
  return out;
}

// Length of a long value in one of the storage classes: empty, inline, one LVAL
// row, a chain of a few pages, and (rarely) longer than 64 KB.
size_t LongValueLength(Random& rng) {
  const uint64_t pick = rng.Below(100);
  if (pick < 10) return 0;
  if (pick < 40) return 1 + rng.Below(60);
  if (pick < 75) return 100 + rng.Below(1700);
  if (pick < 97) return 2500 + rng.Below(7000);
  return 66000 + rng.Below(4000);
}

bool InUniqueIndex(const TableSpec& t, size_t column) {
  for (const IndexSpec& index : t.indexes) {
    if (!index.primary && !index.unique) continue;
    for (const IndexColumnSpec& ic : index.columns)
      if (FindColumnSpec(t, ic.column) == int(column)) return true;
  }
  return false;
}

// How many distinct values a column of this type can take in a unique index.
uint64_t Capacity(const ColumnSpec& c) {
  switch (c.type) {
    case ColumnType::kBoolean: return 2;
    case ColumnType::kByte: return 256;
    case ColumnType::kInteger: return 65536;
    default: return UINT64_MAX;
  }
}

// The value of unique column `c` for sequence number `n` (1, 2, ...), distinct for
// distinct n within the column's capacity.
Value SequenceValue(const ColumnSpec& c, uint64_t n) {
  switch (c.type) {
    case ColumnType::kBoolean: return Value::Boolean(n % 2 == 0);
    case ColumnType::kByte: return Value::Byte(uint8_t(n % 256));
    case ColumnType::kInteger: return Value::Integer(int16_t(int64_t(n % 65536) - 32768));
    case ColumnType::kLong: return Value::Long(int32_t(n));
    case ColumnType::kCurrency: return Value::Currency(int64_t(n) * 10000 + 2500);
    case ColumnType::kSingle: return Value::Single(float(n));
    case ColumnType::kDouble: return Value::Double(double(n) + 0.5);
    case ColumnType::kDateTime: return Value::DateTime(36526.0 + double(n) / 1440.0);  // minutes from 2000
    case ColumnType::kText: {
      const size_t size = c.size == 0 ? 255 : c.size;
      std::string text = "k" + std::to_string(n);
      return Value::Text(text.substr(0, size));
    }
    case ColumnType::kMemo: return Value::Text("m" + std::to_string(n));
    case ColumnType::kBinary: {
      std::vector<uint8_t> b;
      for (uint64_t v = n; v != 0; v >>= 8) b.push_back(uint8_t(v));
      std::reverse(b.begin(), b.end());
      return Value::Binary(b);
    }
    case ColumnType::kGuid: {
      std::array<uint8_t, 16> g{};
      for (int i = 0; i < 8; ++i) g[15 - i] = uint8_t(n >> (8 * i));
      g[6] = 0x40;
      return Value::Guid(g);
    }
    case ColumnType::kNumeric: {
      Numeric num;
      num.low = n;
      num.precision = c.precision;
      num.scale = c.scale;
      return Value::NumericValue(num);
    }
    default: return Value::Null();
  }
}

Value RandomValue(const ColumnSpec& c, Random& rng) {
  switch (c.type) {
    case ColumnType::kBoolean: return Value::Boolean(rng.OneIn(2));
    case ColumnType::kByte: return Value::Byte(uint8_t(rng.Next()));
    case ColumnType::kInteger: return Value::Integer(int16_t(rng.Next()));
    case ColumnType::kLong: return Value::Long(int32_t(rng.Below(2000000)) - 1000000);
    case ColumnType::kCurrency: return Value::Currency(int64_t(rng.Below(200000000000ull)) - 100000000000ll);
    case ColumnType::kSingle: return Value::Single(float(int64_t(rng.Below(2000000)) - 1000000) / 64.0f);
    case ColumnType::kDouble: return Value::Double(double(int64_t(rng.Below(2000000000)) - 1000000000) / 1024.0);
    case ColumnType::kDateTime:
      // 1990..2025, whole seconds.
      return Value::DateTime(32874.0 + double(rng.Below(13000)) + double(rng.Below(86400)) / 86400.0);
    case ColumnType::kText: {
      const size_t size = c.size == 0 ? 255 : c.size;
      return Value::Text(Words(rng, std::min<size_t>(size, 1 + rng.Below(std::min<size_t>(size, 60)))));
    }
    case ColumnType::kMemo: return Value::Text(Words(rng, LongValueLength(rng)));
    case ColumnType::kBinary: {
      const size_t size = c.size == 0 ? 255 : c.size;
      return Value::Binary(Bytes(rng, 1 + rng.Below(std::min<size_t>(size, 32))));
    }
    case ColumnType::kOle: return Value::Binary(Bytes(rng, LongValueLength(rng)));
    case ColumnType::kGuid: {
      std::array<uint8_t, 16> g;
      for (uint8_t& b : g) b = uint8_t(rng.Next());
      return Value::Guid(g);
    }
    case ColumnType::kNumeric: {
      Numeric n;
      const unsigned digits = std::min<unsigned>(c.precision, 18);
      uint64_t limit = 1;
      for (unsigned i = 0; i < digits; ++i) limit *= 10;
      n.low = rng.Below(limit);
      n.negative = n.low != 0 && rng.OneIn(3);
      n.precision = c.precision;
      n.scale = c.scale;
      return Value::NumericValue(n);
    }
    default: return Value::Null();
  }
}

// Gives AutoNumber columns explicit values, counting as CreateDatabase would, so that
// relationships can refer to them.
void NumberAutoColumns(TableSpec* t) {
  for (size_t c = 0; c < t->columns.size(); ++c) {
    if (!t->columns[c].autonumber) continue;
    int64_t counter = 0;
    for (RowSpec& row : t->rows) {
      if (row.values.size() <= c) row.values.resize(t->columns.size());
      if (row.values[c].is_null()) row.values[c] = Value::Long(int32_t(++counter));
      else counter = std::max<int64_t>(counter, row.values[c].integer());
    }
  }
}

}  // namespace

Status GenerateRows(uint32_t rows_per_table, uint64_t seed, Schema* schema) {
  for (TableSpec& t : schema->tables) {
    Random rng(seed ^ NameHash(t.name));
    for (const IndexSpec& index : t.indexes) {
      if (!index.primary && !index.unique) continue;
      uint64_t capacity = 1;
      for (const IndexColumnSpec& ic : index.columns) {
        const int c = FindColumnSpec(t, ic.column);
        if (c < 0) return Status::Error(ErrorKind::kInvalidArgument, "table \"" + t.name + "\": unknown index column");
        const uint64_t cap = Capacity(t.columns[c]);
        capacity = cap == UINT64_MAX || capacity > UINT64_MAX / cap ? UINT64_MAX : capacity * cap;
      }
      if (uint64_t(t.rows.size()) + uint64_t(rows_per_table) * t.generated_rows_factor > capacity)
        return Status::Error(ErrorKind::kInvalidArgument,
                             "table \"" + t.name + "\": unique index \"" + index.name +
                                 "\" cannot take " +
                                 std::to_string(t.rows.size() + uint64_t(rows_per_table) * t.generated_rows_factor) +
                                 " distinct values");
    }
    const uint64_t first = t.rows.size();
    const uint64_t count = uint64_t(rows_per_table) * t.generated_rows_factor;
    if (first + count > UINT32_MAX)
      return Status::Error(ErrorKind::kInvalidArgument, "table \"" + t.name + "\": too many rows");
    t.rows.reserve(first + count);
    for (uint64_t i = 0; i < count; ++i) {
      RowSpec row;
      row.deleted = t.generated_deleted_percent < 0 ? rng.OneIn(8)
                                                    : rng.Below(100) < uint64_t(t.generated_deleted_percent);
      for (size_t c = 0; c < t.columns.size(); ++c) {
        const ColumnSpec& col = t.columns[c];
        if (col.autonumber) {
          row.values.push_back(Value::Null());
        } else if (InUniqueIndex(t, c)) {
          row.values.push_back(SequenceValue(col, first + i + 1));
        } else if (!col.required && rng.OneIn(10)) {
          row.values.push_back(Value::Null());
        } else {
          row.values.push_back(RandomValue(col, rng));
        }
      }
      t.rows.push_back(std::move(row));
    }
    NumberAutoColumns(&t);
  }
  // Referencing columns take the values of a live referenced row.
  Random rng(seed ^ 0x5EEDull);
  for (const RelationshipSpec& rel : schema->relationships) {
    const int fi = FindTableSpec(*schema, rel.from_table);
    const int ti = FindTableSpec(*schema, rel.to_table);
    if (fi < 0 || ti < 0) return Status::Error(ErrorKind::kInvalidArgument, "relationship \"" + rel.name + "\": unknown table");
    TableSpec& from = schema->tables[fi];
    const TableSpec& to = schema->tables[ti];
    std::vector<size_t> live;
    for (size_t r = 0; r < to.rows.size(); ++r)
      if (!to.rows[r].deleted) live.push_back(r);
    std::vector<int> fc, tc;
    for (size_t i = 0; i < rel.from_columns.size() && i < rel.to_columns.size(); ++i) {
      fc.push_back(FindColumnSpec(from, rel.from_columns[i]));
      tc.push_back(FindColumnSpec(to, rel.to_columns[i]));
      if (fc.back() < 0 || tc.back() < 0)
        return Status::Error(ErrorKind::kInvalidArgument, "relationship \"" + rel.name + "\": unknown column");
    }
    const size_t added = size_t(uint64_t(rows_per_table) * from.generated_rows_factor);
    for (size_t r = from.rows.size() - std::min(added, from.rows.size()); r < from.rows.size(); ++r) {
      RowSpec& row = from.rows[r];
      row.values.resize(from.columns.size());
      const bool none = live.empty() || (!from.columns[fc[0]].required && rng.OneIn(20));
      const size_t pick = none ? 0 : live[rng.Below(live.size())];
      for (size_t i = 0; i < fc.size(); ++i) {
        Value v = none ? Value::Null() : (to.rows[pick].values.size() > size_t(tc[i]) ? to.rows[pick].values[tc[i]] : Value::Null());
        row.values[fc[i]] = v;
      }
    }
  }
  return Status::Ok();
}

}  // namespace jet
