// Row generator: deterministic test rows for a schema, made one row at a time.
//
// Each table draws its rows from its own random stream (seed ^ hash of its name); the
// relationships, in schema order, draw from one further stream (seed ^ 0x5EED) that
// runs over the generated rows of each relationship's referencing table in turn.
// Make runs that stream once over every relationship to learn where each one's part
// starts, so a table's rows can then be made in order with nothing else held: a
// referencing row picks the k-th live row of the referenced table (found in a bitmap
// of deleted rows) and takes that row's key, which is a function of the row number.
#include "jet/create/row_generator.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace jet {
namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t state() const { return state_; }
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
// relationships can refer to them. Returns, per column, the counter after the rows.
std::vector<int64_t> NumberAutoColumns(const TableSpec& t, std::vector<RowSpec>* rows) {
  std::vector<int64_t> counters(t.columns.size(), 0);
  for (size_t c = 0; c < t.columns.size(); ++c) {
    if (!t.columns[c].autonumber) continue;
    int64_t counter = 0;
    for (RowSpec& row : *rows) {
      if (row.values.size() <= c) row.values.resize(t.columns.size());
      if (row.values[c].is_null()) row.values[c] = Value::Long(int32_t(++counter));
      else counter = std::max<int64_t>(counter, row.values[c].integer());
    }
    counters[c] = counter;
  }
  return counters;
}

// Which rows of a table are live, with the position of the k-th live row.
class LiveRows {
 public:
  void Add(bool live) {
    if (rows_ % 64 == 0) {
      words_.push_back(0);
      before_.push_back(live_);
    }
    if (live) {
      words_.back() |= uint64_t(1) << (rows_ % 64);
      ++live_;
    }
    ++rows_;
  }
  uint64_t live() const { return live_; }
  // Row number of live row k (0-based); k < live().
  uint64_t Select(uint64_t k) const {
    const size_t w = size_t(std::upper_bound(before_.begin(), before_.end(), k) - before_.begin()) - 1;
    uint64_t bits = words_[w];
    for (uint64_t skip = k - before_[w]; skip > 0; --skip) bits &= bits - 1;
    return uint64_t(w) * 64 + uint64_t(__builtin_ctzll(bits));
  }

 private:
  std::vector<uint64_t> words_;   // bit r % 64 of word r / 64: row r is live
  std::vector<uint64_t> before_;  // live rows before each word
  uint64_t rows_ = 0, live_ = 0;
};

}  // namespace

struct RowGenerator::State {
  struct Table {
    const TableSpec* design = nullptr;
    uint64_t seed = 0;
    std::vector<RowSpec> own;            // the schema's rows, AutoNumbers filled in
    std::vector<int64_t> auto_base;      // per column: AutoNumber counter after `own`
    std::vector<bool> unique;            // per column: in a unique index
    uint64_t generated = 0;
    std::vector<size_t> fills;           // relationships referring from this table
    std::unique_ptr<LiveRows> live;      // for tables others refer to
  };
  struct Relationship {
    size_t from = 0, to = 0;
    std::vector<int> from_columns, to_columns;
    bool first_required = false;
    uint64_t random_start = 0;  // the relationship stream where this one's part starts
  };
  std::vector<Table> tables;
  std::vector<Relationship> relationships;

  // The generated (not own) row g of table t, before relationships.
  void BaseRow(const Table& t, uint64_t g, Random& rng, RowSpec* row) const {
    const TableSpec& design = *t.design;
    row->deleted = design.generated_deleted_percent < 0 ? rng.OneIn(8)
                                                      : rng.Below(100) < uint64_t(design.generated_deleted_percent);
    row->values.clear();
    row->values.reserve(design.columns.size());
    for (size_t c = 0; c < design.columns.size(); ++c) {
      const ColumnSpec& col = design.columns[c];
      if (col.autonumber) {
        row->values.push_back(Value::Long(int32_t(t.auto_base[c] + int64_t(g) + 1)));
      } else if (t.unique[c]) {
        row->values.push_back(SequenceValue(col, t.own.size() + g + 1));
      } else if (!col.required && rng.OneIn(10)) {
        row->values.push_back(Value::Null());
      } else {
        row->values.push_back(RandomValue(col, rng));
      }
    }
  }

  // Column c of row r (own rows first) of table t as a referencing row sees it. Make
  // has made sure it does not depend on anything but r.
  Value KeyValue(const Table& t, int c, uint64_t r) const {
    if (r < t.own.size()) {
      const RowSpec& row = t.own[size_t(r)];
      return row.values.size() > size_t(c) ? row.values[c] : Value::Null();
    }
    const uint64_t g = r - t.own.size();
    if (t.design->columns[c].autonumber) return Value::Long(int32_t(t.auto_base[c] + int64_t(g) + 1));
    return SequenceValue(t.design->columns[c], r + 1);
  }

  // Draws relationship `rel`'s pick for one referencing row and fills in its columns
  // (row == nullptr: only the draws).
  void Refer(const Relationship& rel, Random& rng, RowSpec* row) const {
    const LiveRows& live = *tables[rel.to].live;
    const bool none = live.live() == 0 || (!rel.first_required && rng.OneIn(20));
    const uint64_t pick = none ? 0 : live.Select(rng.Below(live.live()));
    if (row == nullptr) return;
    for (size_t i = 0; i < rel.from_columns.size(); ++i)
      row->values[rel.from_columns[i]] = none ? Value::Null() : KeyValue(tables[rel.to], rel.to_columns[i], pick);
  }
};

namespace {

class GeneratedRows : public RowSource {
 public:
  GeneratedRows(const RowGenerator::State& state, size_t table)
      : state_(state), table_(state.tables[table]), rng_(table_.seed) {
    for (size_t k : table_.fills) relationship_rngs_.emplace_back(state.relationships[k].random_start);
  }

  Status Next(RowSpec* row, bool* done) override {
    *done = false;
    if (own_next_ < table_.own.size()) {
      *row = table_.own[own_next_++];
      return Status::Ok();
    }
    if (generated_ >= table_.generated) {
      *done = true;
      return Status::Ok();
    }
    state_.BaseRow(table_, generated_++, rng_, row);
    for (size_t i = 0; i < table_.fills.size(); ++i)
      state_.Refer(state_.relationships[table_.fills[i]], relationship_rngs_[i], row);
    return Status::Ok();
  }

 private:
  const RowGenerator::State& state_;
  const RowGenerator::State::Table& table_;
  Random rng_;
  std::vector<Random> relationship_rngs_;
  size_t own_next_ = 0;
  uint64_t generated_ = 0;
};

Status Invalid(const std::string& detail) { return Status::Error(ErrorKind::kInvalidArgument, detail); }

}  // namespace

RowGenerator::RowGenerator(std::unique_ptr<State> state) : state_(std::move(state)) {}
RowGenerator::~RowGenerator() = default;

uint64_t RowGenerator::RowCount(size_t table) const {
  const State::Table& t = state_->tables[table];
  return t.own.size() + t.generated;
}

Status RowGenerator::OpenRows(size_t table, std::unique_ptr<RowSource>* source) {
  if (table >= state_->tables.size()) return Invalid("no table " + std::to_string(table));
  *source = std::make_unique<GeneratedRows>(*state_, table);
  return Status::Ok();
}

Status RowGenerator::Make(const Schema& schema, uint32_t rows_per_table, uint64_t seed,
                          std::unique_ptr<RowGenerator>* generator) {
  auto state = std::make_unique<State>();
  for (const TableSpec& t : schema.tables) {
    for (const IndexSpec& index : t.indexes) {
      if (!index.primary && !index.unique) continue;
      uint64_t capacity = 1;
      for (const IndexColumnSpec& ic : index.columns) {
        const int c = FindColumnSpec(t, ic.column);
        if (c < 0) return Invalid("table \"" + t.name + "\": unknown index column");
        const uint64_t cap = Capacity(t.columns[c]);
        capacity = cap == UINT64_MAX || capacity > UINT64_MAX / cap ? UINT64_MAX : capacity * cap;
      }
      if (uint64_t(t.rows.size()) + uint64_t(rows_per_table) * t.generated_rows_factor > capacity)
        return Invalid("table \"" + t.name + "\": unique index \"" + index.name + "\" cannot take " +
                       std::to_string(t.rows.size() + uint64_t(rows_per_table) * t.generated_rows_factor) +
                       " distinct values");
    }
    const uint64_t count = uint64_t(rows_per_table) * t.generated_rows_factor;
    if (t.rows.size() + count > UINT32_MAX) return Invalid("table \"" + t.name + "\": too many rows");
    State::Table table;
    table.design = &t;
    table.seed = seed ^ NameHash(t.name);
    table.own = t.rows;
    table.auto_base = NumberAutoColumns(t, &table.own);
    for (size_t c = 0; c < t.columns.size(); ++c) table.unique.push_back(InUniqueIndex(t, c));
    table.generated = count;
    state->tables.push_back(std::move(table));
  }

  Random rng(seed ^ 0x5EEDull);
  for (size_t k = 0; k < schema.relationships.size(); ++k) {
    const RelationshipSpec& rel = schema.relationships[k];
    const int fi = FindTableSpec(schema, rel.from_table);
    const int ti = FindTableSpec(schema, rel.to_table);
    if (fi < 0 || ti < 0) return Invalid("relationship \"" + rel.name + "\": unknown table");
    State::Relationship r;
    r.from = size_t(fi);
    r.to = size_t(ti);
    const TableSpec& from = schema.tables[r.from];
    const TableSpec& to = schema.tables[r.to];
    for (size_t i = 0; i < rel.from_columns.size() && i < rel.to_columns.size(); ++i) {
      r.from_columns.push_back(FindColumnSpec(from, rel.from_columns[i]));
      r.to_columns.push_back(FindColumnSpec(to, rel.to_columns[i]));
      if (r.from_columns.back() < 0 || r.to_columns.back() < 0)
        return Invalid("relationship \"" + rel.name + "\": unknown column");
    }
    State::Table& from_table = state->tables[r.from];
    State::Table& to_table = state->tables[r.to];
    r.first_required = !r.from_columns.empty() && from.columns[r.from_columns[0]].required;
    // A referencing row copies the key of the row it picks; that key must be known
    // from the row number alone, so that no row has to be kept.
    if (from_table.generated > 0 && to_table.generated > 0) {
      for (int c : r.to_columns) {
        bool filled = false;
        for (size_t j = 0; j <= k; ++j) {
          const State::Relationship& earlier = j < k ? state->relationships[j] : r;
          if (earlier.from != r.to) continue;
          filled = filled || std::find(earlier.from_columns.begin(), earlier.from_columns.end(), c) !=
                                 earlier.from_columns.end();
        }
        if (filled || !(to.columns[c].autonumber || to_table.unique[c]))
          return Invalid("relationship \"" + rel.name + "\": generated rows cannot refer to column \"" +
                         to.columns[c].name + "\" of \"" + to.name +
                         "\" (only to AutoNumber or unique columns no relationship fills)");
      }
    }
    if (from_table.generated > 0 && !to_table.live) {
      to_table.live = std::make_unique<LiveRows>();
      for (const RowSpec& row : to_table.own) to_table.live->Add(!row.deleted);
      Random table_rng(to_table.seed);
      RowSpec row;
      for (uint64_t g = 0; g < to_table.generated; ++g) {
        state->BaseRow(to_table, g, table_rng, &row);
        to_table.live->Add(!row.deleted);
      }
    }
    r.random_start = rng.state();
    if (from_table.generated > 0) {
      for (uint64_t g = 0; g < from_table.generated; ++g) state->Refer(r, rng, nullptr);
    }
    from_table.fills.push_back(k);
    state->relationships.push_back(std::move(r));
  }
  generator->reset(new RowGenerator(std::move(state)));
  return Status::Ok();
}

Status GenerateRows(uint32_t rows_per_table, uint64_t seed, Schema* schema) {
  const Schema original = *schema;
  std::unique_ptr<RowGenerator> generator;
  Status s = RowGenerator::Make(original, rows_per_table, seed, &generator);
  for (size_t t = 0; s.ok() && t < original.tables.size(); ++t) {
    std::unique_ptr<RowSource> source;
    s = generator->OpenRows(t, &source);
    std::vector<RowSpec> rows;
    rows.reserve(size_t(generator->RowCount(t)));
    for (bool done = false; s.ok();) {
      RowSpec row;
      s = source->Next(&row, &done);
      if (done) break;
      rows.push_back(std::move(row));
    }
    if (s.ok()) schema->tables[t].rows = std::move(rows);
  }
  return s;
}

}  // namespace jet
