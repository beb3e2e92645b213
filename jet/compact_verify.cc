// Self-verification of a compaction (see compact_verify.h).
#include "jet/compact_verify.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string_view>
#include <tuple>

#include "jet/index_reader.h"
#include "jet/long_value.h"
#include "jet/row.h"
#include "jet/row_fetch.h"
#include "jet/table_scan.h"

namespace jet {
namespace {

Status Mismatch(const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged, "verification of the compacted file failed: " + detail);
}

std::string Pointer(uint32_t pointer) {
  return std::to_string(pointer >> 8) + ":" + std::to_string(pointer & 0xFF);
}

std::string Shown(const Value& value) {
  std::string text = value.is_null() ? "<null>" : "\"" + value.ToText() + "\"";
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  return text;
}

// Definitions must agree in everything but the page-dependent fields.
Status CompareDefinitions(const CompactedTable& t, const TableDef& a, const TableDef& b,
                          const TableIdMap& ids) {
  const std::string where = "table \"" + t.name + "\": ";
  if (a.columns.size() != b.columns.size() || a.real_indexes.size() != b.real_indexes.size() ||
      a.logical_indexes.size() != b.logical_indexes.size() || a.max_columns != b.max_columns ||
      a.var_columns != b.var_columns || a.tdef_length != b.tdef_length)
    return Mismatch(where + "the definition's counts differ");
  for (size_t i = 0; i < a.columns.size(); ++i) {
    const ColumnDef& x = a.columns[i];
    const ColumnDef& y = b.columns[i];
    if (x.name != y.name || x.type_code != y.type_code || x.number != y.number ||
        x.var_index != y.var_index || x.fixed_offset != y.fixed_offset || x.length != y.length ||
        x.flags != y.flags)
      return Mismatch(where + "column \"" + x.name + "\" differs in its definition");
  }
  for (size_t i = 0; i < a.logical_indexes.size(); ++i) {
    const LogicalIndex& x = a.logical_indexes[i];
    const LogicalIndex& y = b.logical_indexes[i];
    uint32_t related = x.related_table;
    if (related != 0) ids.Lookup(related, &related);
    if (x.name != y.name || x.real_index != y.real_index || x.index_type != y.index_type ||
        related != y.related_table)
      return Mismatch(where + "index \"" + x.name + "\" differs in its definition");
  }
  if (b.row_count != t.old_rows.size())
    return Mismatch(where + "the definition counts " + std::to_string(b.row_count) + " rows, " +
                    std::to_string(t.old_rows.size()) + " were copied");
  return Status::Ok();
}

// Whether two copies of a row hold the same bytes, apart from the long-value headers
// (re-pointed) and the id columns (remapped). `raw` is the source row cracked.
bool SameBytesOutsidePointers(const CompactedTable& t, const TableDef& def, const std::vector<RawColumn>& raw,
                              const uint8_t* a, const uint8_t* b, size_t size, std::string* column) {
  std::vector<bool> skip(size, false);
  const auto mark = [&](size_t position, size_t length) {
    for (size_t i = 0; i < length && raw[position].offset + i < size; ++i) skip[raw[position].offset + i] = true;
  };
  for (size_t i = 0; i < def.columns.size() && i < raw.size(); ++i) {
    if (raw[i].is_null) continue;
    if (def.columns[i].is_long_value() && raw[i].size >= kLongValueHeaderSize &&
        (a[raw[i].offset + 3] & kLongValueInline) == 0)
      mark(i, kLongValueHeaderSize);
    if (std::find(t.id_columns.begin(), t.id_columns.end(), i) != t.id_columns.end()) mark(i, 4);
  }
  for (size_t n = 0; n < size; ++n) {
    if (skip[n] || a[n] == b[n]) continue;
    *column = "byte " + std::to_string(n);
    for (size_t i = 0; i < raw.size(); ++i)
      if (!raw[i].is_null && n >= raw[i].offset && n < size_t(raw[i].offset) + raw[i].size)
        *column = "column \"" + def.columns[i].name + "\"";
    return false;
  }
  return true;
}

// Every row of the result, in storage order, against the source row written for it:
// the decoded values (long values read from both files, ids mapped) and the bytes.
Status CompareRows(Database& source, Database& result, const CompactedTable& t,
                   const TableDef& src_def, const TableDef& dst_def, const TableIdMap& ids) {
  RowFetcher fetcher(source.file(), src_def);
  RowDecoder src_decoder(source.file(), src_def);
  RowDecoder dst_decoder(result.file(), dst_def);
  std::vector<Value> expected, values;
  size_t k = 0;
  Status failure;
  TableScanner scanner(result.file(), dst_def);
  std::vector<std::string> notes;
  Status s = scanner.Scan(
      [&](const RowId& row, const uint8_t* dst_bytes, size_t dst_size) {
        if (k >= t.old_rows.size()) {
          failure = Mismatch("table \"" + t.name + "\": more rows than were copied");
          return false;
        }
        const std::string where = "table \"" + t.name + "\" row " + Pointer(t.old_rows[k]) +
                                  " (written at " + Pointer(t.new_rows[k]) + ")";
        if (row.ToPointer() != t.new_rows[k]) {
          failure = Mismatch(where + ": found at " + Pointer(row.ToPointer()));
          return false;
        }
        failure = dst_decoder.Decode(dst_bytes, dst_size, &values);
        if (!failure.ok()) {
          failure = Mismatch(where + ": " + failure.detail());
          return false;
        }
        const uint8_t* bytes;
        size_t size;
        failure = fetcher.Fetch(RowId::FromPointer(t.old_rows[k]), &bytes, &size);
        if (failure.ok()) failure = src_decoder.Decode(bytes, size, &expected);
        if (!failure.ok()) {
          failure = Status::Error(failure.kind(), where + ": source row: " + failure.detail());
          return false;
        }
        for (size_t position : t.id_columns) {
          Value& v = expected[position];
          if (v.type() == ValueType::kLong) v = Value::Long(ids.Map(int32_t(v.integer())));
        }
        if (values.size() != expected.size()) {
          failure = Mismatch(where + ": column count differs");
          return false;
        }
        for (size_t i = 0; i < values.size(); ++i) {
          if (!(values[i] == expected[i])) {
            failure = Mismatch(where + " column \"" + src_def.columns[i].name + "\": source " +
                               Shown(expected[i]) + ", result " + Shown(values[i]));
            return false;
          }
        }
        std::string column;
        if (size != dst_size) {
          failure = Mismatch(where + ": " + std::to_string(dst_size) + " bytes, the source row has " +
                             std::to_string(size));
          return false;
        }
        if (!SameBytesOutsidePointers(t, src_def, src_decoder.raw(), bytes, dst_bytes, size, &column)) {
          failure = Mismatch(where + ": the stored bytes of " + column + " differ");
          return false;
        }
        ++k;
        return true;
      },
      &notes);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: reading table \"" + t.name +
                                                             "\" of the result: " + s.detail());
  if (!failure.ok()) return failure;
  if (k != t.old_rows.size())
    return Mismatch("table \"" + t.name + "\": " + std::to_string(k) + " rows in the result, " +
                    std::to_string(t.old_rows.size()) + " copied");
  return Status::Ok();
}

// Order-independent fingerprint of a multiset of (source row, key) pairs: the sum of
// a 64-bit mix of each pair. Two multisets with equal counts and equal sums are the
// same but with probability about 2^-64.
uint64_t EntryFingerprint(uint32_t old_row, const std::string& key) {
  uint64_t x = std::hash<std::string_view>()(key) ^ (uint64_t(old_row) * 0x9E3779B97F4A7C15ull);
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

// The result's index is walked once, entry by entry, and never held: each entry must
// equal the next of `expected` (MappedIndexEntries of the source) and come strictly
// after the one before it. As a second look that does not go through
// MappedIndexEntries, the entries are also taken back to the source rows they were
// written for (through the rows' written order, not the row map) and fingerprinted;
// the source index, walked as well, must give the same fingerprint over the entries
// of its copied rows. Exact duplicates in the source (adjacent in a sound index) count
// once, as the compaction writes them once.
Status CompareIndexes(Database& source, Database& result, const CompactedTable& t,
                      const TableDef& src_def, const TableDef& dst_def, const TableIdMap& ids) {
  std::vector<IndexEntry> expected;
  const auto map_row = [&](RowId old_row, RowId* new_row) { return t.MapRow(old_row, new_row); };
  for (size_t i = 0; i < src_def.real_indexes.size(); ++i) {
    const std::string where = "table \"" + t.name + "\" index " + std::to_string(i);
    Status s = MappedIndexEntries(source, src_def, i, t.id_columns, ids, map_row, &expected);
    if (!s.ok()) return Status::Error(s.kind(), where + " of the source: " + s.detail());

    size_t e = 0;
    std::string previous_key;
    RowId previous_row;
    uint64_t found_print = 0;
    Status mismatch = Status::Ok();
    IndexWalkStats stats;
    s = WalkIndex(result.file(), dst_def.first_page, dst_def.real_indexes[i].root_page,
                  [&](const std::string& key, const RowId& row) {
                    if (e >= expected.size()) {
                      mismatch = Mismatch(where + ": more than the " + std::to_string(expected.size()) +
                                          " entries expected");
                      return false;
                    }
                    if (e > 0) {
                      const int c = previous_key.compare(key);
                      if (c > 0 || (c == 0 && !(previous_row < row))) {
                        mismatch = Mismatch(where + ": entry " + std::to_string(e) + " is out of order");
                        return false;
                      }
                    }
                    if (key != expected[e].key || !(row == expected[e].row)) {
                      mismatch = Mismatch(where + ": entry " + std::to_string(e) + " (row " +
                                          Pointer(row.ToPointer()) + ") differs, expected row " +
                                          Pointer(expected[e].row.ToPointer()));
                      return false;
                    }
                    // new_rows ascends: rows were written in increasing page and slot order.
                    const uint32_t pointer = row.ToPointer();
                    auto it = std::lower_bound(t.new_rows.begin(), t.new_rows.end(), pointer);
                    if (it == t.new_rows.end() || *it != pointer) {
                      mismatch = Mismatch(where + ": entry " + std::to_string(e) + " points at " +
                                          Pointer(pointer) + ", where no row was written");
                      return false;
                    }
                    found_print += EntryFingerprint(t.old_rows[size_t(it - t.new_rows.begin())], key);
                    previous_key = key;
                    previous_row = row;
                    ++e;
                    return true;
                  },
                  &stats);
    if (!mismatch.ok()) return mismatch;
    if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: " + where + " of the result: " + s.detail());
    if (e != expected.size())
      return Mismatch(where + ": " + std::to_string(e) + " entries, expected " + std::to_string(expected.size()));
    const size_t found_count = e;
    std::vector<IndexEntry>().swap(expected);  // not needed past this point

    const RealIndex& real = src_def.real_indexes[i];
    const bool remap = IndexHasIdColumn(src_def, real, t.id_columns);
    uint64_t source_print = 0;
    size_t source_count = 0;
    std::string last_key;
    uint32_t last_row = 0;
    bool any = false;
    IndexWalkStats source_stats;
    s = WalkIndex(source.file(), src_def.first_page, real.root_page,
                  [&](const std::string& raw_key, const RowId& row) {
                    RowId unused;
                    if (!t.MapRow(row, &unused)) return true;  // the row was not copied
                    std::string key = raw_key;
                    if (remap) {
                      mismatch = RemapKeyIds(src_def, real, t.id_columns, ids, &key);
                      if (!mismatch.ok()) return false;
                    }
                    const uint32_t pointer = row.ToPointer();
                    if (any && pointer == last_row && key == last_key) return true;
                    any = true;
                    last_row = pointer;
                    last_key = key;
                    source_print += EntryFingerprint(pointer, key);
                    ++source_count;
                    return true;
                  },
                  &source_stats);
    if (!mismatch.ok()) return mismatch;
    if (!s.ok()) return Status::Error(s.kind(), where + " of the source: " + s.detail());
    if (source_count != found_count || source_print != found_print)
      return Mismatch(where + ": the entries are not those of the source rows they were written for");
    if (dst_def.real_indexes[i].stat_entries != 0 && dst_def.real_indexes[i].stat_entries != uint32_t(found_count))
      return Mismatch(where + ": statistics count " + std::to_string(dst_def.real_indexes[i].stat_entries) +
                      " entries, the tree holds " + std::to_string(found_count));
  }
  return Status::Ok();
}

Status CompareCatalog(const Database& source, const Database& result, const TableIdMap& ids) {
  using Key = std::tuple<int32_t, int32_t, std::string, int16_t, uint32_t>;
  std::multiset<Key> a, b;
  for (const CatalogObject& o : source.objects()) a.insert({ids.Map(o.id), o.parent_id, o.name, o.type, o.flags});
  for (const CatalogObject& o : result.objects()) b.insert({o.id, o.parent_id, o.name, o.type, o.flags});
  if (a != b) return Mismatch("the catalogs differ (" + std::to_string(a.size()) + " objects in the source, " +
                              std::to_string(b.size()) + " in the result)");
  return Status::Ok();
}

Status CompareHeaders(const Header& a, const Header& b) {
  if (a.version != b.version || a.code_page != b.code_page || a.sort_lcid != b.sort_lcid ||
      a.sort_version != b.sort_version || a.db_key != b.db_key || a.has_password != b.has_password ||
      a.password_bytes != b.password_bytes || a.creation_date != b.creation_date)
    return Mismatch("the file headers differ");
  return Status::Ok();
}

}  // namespace

void CompactedTable::IndexRowMap() {
  page_starts.clear();
  if (row_map.empty()) return;
  first_page = row_map.front().first >> 8;
  const uint32_t span = (row_map.back().first >> 8) - first_page + 1;
  page_starts.resize(size_t(span) + 1);
  size_t k = 0;
  for (uint32_t i = 0; i <= span; ++i) {
    while (k < row_map.size() && (row_map[k].first >> 8) < first_page + i) ++k;
    page_starts[i] = uint32_t(k);
  }
}

bool CompactedTable::MapRow(RowId old_row, RowId* new_row) const {
  const uint32_t pointer = old_row.ToPointer();
  auto begin = row_map.begin();
  auto end = row_map.end();
  if (!page_starts.empty()) {
    const uint32_t page = pointer >> 8;
    if (page < first_page || size_t(page - first_page) + 1 >= page_starts.size()) return false;
    end = row_map.begin() + page_starts[page - first_page + 1];
    begin = row_map.begin() + page_starts[page - first_page];
  }
  auto it = std::lower_bound(begin, end, std::make_pair(pointer, uint32_t(0)));
  if (it == end || it->first != pointer) return false;
  *new_row = RowId::FromPointer(it->second);
  return true;
}

Status MappedIndexEntries(Database& source, const TableDef& table, size_t index,
                          const std::vector<size_t>& id_columns, const TableIdMap& ids,
                          const std::function<bool(RowId, RowId*)>& map_row,
                          std::vector<IndexEntry>* entries) {
  Status s = source.ReadIndexEntries(table, index, entries);
  if (!s.ok()) return s;
  const RealIndex& real = table.real_indexes[index];
  const bool remap_keys = IndexHasIdColumn(table, real, id_columns);
  size_t kept = 0;
  for (size_t n = 0; n < entries->size(); ++n) {
    IndexEntry& entry = (*entries)[n];
    RowId new_row;
    if (!map_row(entry.row, &new_row)) continue;  // the row is gone
    entry.row = new_row;
    if (remap_keys) {
      s = RemapKeyIds(table, real, id_columns, ids, &entry.key);
      if (!s.ok()) return s;
    }
    if (kept != n) (*entries)[kept] = std::move(entry);  // never a self-move: it empties the key
    ++kept;
  }
  entries->resize(kept);
  const auto less = [](const IndexEntry& x, const IndexEntry& y) {
    // std::string compares char as unsigned char, the order of index keys.
    const int c = x.key.compare(y.key);
    return c != 0 ? c < 0 : x.row < y.row;
  };
  std::sort(entries->begin(), entries->end(), less);
  entries->erase(std::unique(entries->begin(), entries->end(),
                             [](const IndexEntry& x, const IndexEntry& y) {
                               return x.key == y.key && x.row == y.row;
                             }),
                 entries->end());
  return Status::Ok();
}

Status VerifyCompaction(Database& source, const std::string& result_path, const CompactionMap& map) {
  std::unique_ptr<Database> result;
  Status s = Database::Open(result_path, &result);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: the compacted file does not open: " + s.detail());
  s = CompareHeaders(source.header(), result->header());
  if (s.ok()) s = CompareCatalog(source, *result, map.table_ids);
  if (!s.ok()) return s;
  for (const CompactedTable& t : map.tables) {
    const TableDef* src_def;
    const TableDef* dst_def;
    s = source.GetTableDef(t.old_page, &src_def);
    if (!s.ok()) return s;
    s = result->GetTableDef(t.new_page, &dst_def);
    if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: table \"" + t.name +
                                                               "\" of the result: " + s.detail());
    s = CompareDefinitions(t, *src_def, *dst_def, map.table_ids);
    if (s.ok()) s = CompareRows(source, *result, t, *src_def, *dst_def, map.table_ids);
    if (s.ok()) s = CompareIndexes(source, *result, t, *src_def, *dst_def, map.table_ids);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace jet
