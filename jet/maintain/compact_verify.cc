// Self-verification of a compaction (see compact_verify.h).
#include "jet/maintain/compact_verify.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>

#include "jet/maintain/entry_fingerprint.h"
#include "jet/maintain/format_conversion.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/read/row.h"
#include "jet/read/row_fetch.h"
#include "jet/read/table_scan.h"
#include "jet/write/index_key.h"
#include "jet/write/tdef_writer.h"

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

// Definitions must agree in everything but the page-dependent fields, with the columns
// packed (jet/write/tdef_writer.h: the space of deleted columns gone).
Status CompareDefinitions(const Header& from, const Header& to, const CompactedTable& t, const TableDef& source,
                          const TableDef& b, const TableIdMap& ids) {
  const std::string where = "table \"" + t.name + "\": ";
  TableDef a;
  Status s = ResultDefinition(from, to, t.name, source, &a);
  if (!s.ok()) return Mismatch(where + s.detail());
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
  for (size_t i = 0; i < a.real_indexes.size(); ++i) {
    const RealIndex& x = a.real_indexes[i];
    const RealIndex& y = b.real_indexes[i];
    bool same = x.columns.size() == y.columns.size() && x.flags == y.flags;
    for (size_t c = 0; same && c < x.columns.size(); ++c)
      same = x.columns[c].column_number == y.columns[c].column_number && x.columns[c].ascending == y.columns[c].ascending;
    if (!same) return Mismatch(where + "real index " + std::to_string(i) + " differs in its definition");
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

// An index's entries summed up as entry_fingerprint.h does, by (new row pointer, key).
struct IndexPrint {
  uint64_t sum = 0;
  uint64_t count = 0;
  void Add(uint32_t pointer, std::string_view key) {
    sum += EntryMix(pointer, KeyHash(key));
    ++count;
  }
};

// Whether `values` (MSysObjects) are a saved query's row; its compiled plan is dropped.
bool IsSavedQuery(const TableDef& def, const std::vector<Value>& values) {
  const int type = def.FindColumnByName("Type");
  return def.first_page == kCatalogTdefPage && type >= 0 && !values[size_t(type)].is_null() &&
         values[size_t(type)].integer() == kObjectQuery;
}

// Rows [begin, end) of the result (by their place k in the order written), each against
// the source row written for it: the decoded values (long values read from both
// files, ids mapped, a saved query's compiled plan null). For every index whose keys
// the compaction computed, the key each of those result rows must have is computed
// from its values into `prints`. The scan of the result starts at its first row: every
// row before `begin` is checked to be where it was written, then the scan stops at
// `end`, or, for the last range, reads on to find any row more than were copied.
// Reads the two files only through calls that share no state (each range has its own
// scanner, fetcher and decoders), so ranges can be compared on threads of their own.
Status CompareRowRange(Database& source, Database& result, const CompactedTable& t, const TableDef& src_def,
                       const TableDef& dst_def, const TableIdMap& ids, size_t begin, size_t end,
                       std::vector<IndexPrint>* prints) {
  prints->assign(dst_def.real_indexes.size(), IndexPrint());
  const bool last = end == t.old_rows.size();
  // A converted file's properties are the same in another layout: compared as values.
  const bool converting = IsConversion(source.header(), result.header());
  const int plan_column = src_def.FindColumnByName("Lv");
  std::string key;
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
        if (k == end && !last) return false;
        if (k >= t.old_rows.size()) {
          failure = Mismatch("table \"" + t.name + "\": more rows than were copied");
          return false;
        }
        // Made only for a failure: building it for every row cost more than the checks.
        const auto where = [&] {
          return "table \"" + t.name + "\" row " + Pointer(t.old_rows[k]) + " (written at " + Pointer(t.NewRow(k)) +
                 ")";
        };
        if (row.ToPointer() != t.NewRow(k)) {
          failure = Mismatch(where() + ": found at " + Pointer(row.ToPointer()));
          return false;
        }
        if (k < begin) {
          ++k;
          return true;
        }
        failure = dst_decoder.Decode(dst_bytes, dst_size, &values);
        if (!failure.ok()) {
          failure = Mismatch(where() + ": " + failure.detail());
          return false;
        }
        const uint8_t* bytes;
        size_t size;
        failure = fetcher.Fetch(RowId::FromPointer(t.old_rows[k]), &bytes, &size);
        if (failure.ok()) failure = src_decoder.Decode(bytes, size, &expected);
        if (!failure.ok()) {
          failure = Status::Error(failure.kind(), where() + ": source row: " + failure.detail());
          return false;
        }
        for (size_t position : t.id_columns) {
          Value& v = expected[position];
          if (v.type() == ValueType::kLong) v = Value::Long(ids.Map(int32_t(v.integer())));
        }
        if (plan_column >= 0 && IsSavedQuery(src_def, expected)) expected[size_t(plan_column)] = Value::Null();
        if (converting && values.size() > expected.size()) expected.resize(values.size());  // added, null
        if (values.size() != expected.size()) {
          failure = Mismatch(where() + ": column count differs");
          return false;
        }
        for (size_t i = 0; i < values.size(); ++i) {
          std::string why;
          const bool as_properties =
              converting && IsPropertyColumn(src_def, i) && !values[i].is_null() && !expected[i].is_null();
          if (as_properties && !SameProperties(source.header(), expected[i].bytes(), result.header(),
                                               values[i].bytes(), &why)) {
            failure = Mismatch(where() + " column \"" + dst_def.columns[i].name + "\": " + why);
            return false;
          }
          if (!as_properties && !(values[i] == expected[i])) {
            failure = Mismatch(where() + " column \"" + dst_def.columns[i].name + "\": source " +
                               Shown(expected[i]) + ", result " + Shown(values[i]));
            return false;
          }
        }
        for (size_t i = 0; i < dst_def.real_indexes.size(); ++i) {
          const RealIndex& index = dst_def.real_indexes[i];
          if (t.keys_copied[i] || !IndexHoldsRow(dst_def, index, values)) continue;
          failure = EncodeIndexKey(result.format(), dst_def, index, values, &key);
          if (!failure.ok()) {
            failure = Mismatch(where() + " index " + std::to_string(i) + ": " + failure.detail());
            return false;
          }
          (*prints)[i].Add(row.ToPointer(), key);
        }
        ++k;
        return true;
      },
      &notes);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: reading table \"" + t.name +
                                                             "\" of the result: " + s.detail());
  if (!failure.ok()) return failure;
  if (k != end)
    return Mismatch("table \"" + t.name + "\": " + std::to_string(k) + " rows in the result, " +
                    std::to_string(t.old_rows.size()) + " copied");
  return Status::Ok();
}

// A table with fewer rows is compared on one thread: a second one would cost more
// than it saves.
constexpr size_t kRowsWorthASecondThread = 1000;

// Every row of the result against the source, as CompareRowRange says, the keys the
// rows give summed up in `prints`. A large table's second half is compared on a
// thread of its own while this one compares the first half; the outcome does not
// depend on which finishes first: a difference in the first half is reported before
// any in the second, as a single pass in row order would.
Status CompareRows(Database& source, Database& result, const CompactedTable& t, const TableDef& src_def,
                   const TableDef& dst_def, const TableIdMap& ids, std::vector<IndexPrint>* prints) {
  const size_t rows = t.old_rows.size();
  const size_t split = rows >= kRowsWorthASecondThread ? rows / 2 : rows;
  std::vector<IndexPrint> second_prints;
  Status second;
  const auto compare_second = [&] {
    second = CompareRowRange(source, result, t, src_def, dst_def, ids, split, rows, &second_prints);
  };
  std::thread helper;
  if (split < rows) {
    try {
      helper = std::thread(compare_second);
    } catch (const std::system_error&) {
      // No second thread to be had: the second half after the first, on this one.
    }
  }
  Status first = CompareRowRange(source, result, t, src_def, dst_def, ids, 0, split, prints);
  if (helper.joinable()) {
    helper.join();
  } else if (split < rows) {
    compare_second();
  }
  if (!first.ok()) return first;
  if (!second.ok()) return second;
  for (size_t i = 0; i < second_prints.size(); ++i) {
    (*prints)[i].sum += second_prints[i].sum;
    (*prints)[i].count += second_prints[i].count;
  }
  return Status::Ok();
}

// What the walk of one table's result indexes found, by real index: the entries
// summed up, or the first fault (an entry out of order or at a row where none was
// written, a tree that does not read).
struct IndexWalks {
  Status opened;  // the table's definition in the result
  std::vector<IndexPrint> found;
  std::vector<Status> faults;
};

// The result's index is walked once, entry by entry, and never held: its entries must
// come in strictly ascending (key, row) order, each at a row that was written.
Status WalkResultIndex(Database& result, const CompactedTable& t, const TableDef& dst_def, size_t i,
                       IndexPrint* found) {
  const std::string where = "table \"" + t.name + "\" index " + std::to_string(i);
  std::string previous_key;
  RowId previous_row;
  Status mismatch = Status::Ok();
  IndexWalkStats stats;
  Status s = WalkIndex(result.file(), dst_def.first_page, dst_def.real_indexes[i].root_page,
                       [&](const std::string& key, const RowId& row) {
                         if (found->count > 0) {
                           const int c = previous_key.compare(key);
                           if (c > 0 || (c == 0 && !(previous_row < row))) {
                             mismatch = Mismatch(where + ": entry " + std::to_string(found->count) +
                                                 " is out of order");
                             return false;
                           }
                         }
                         size_t k;
                         if (!t.WrittenAt(row.ToPointer(), &k)) {
                           mismatch = Mismatch(where + ": entry " + std::to_string(found->count) + " points at " +
                                               Pointer(row.ToPointer()) + ", where no row was written");
                           return false;
                         }
                         found->Add(row.ToPointer(), key);
                         previous_key = key;
                         previous_row = row;
                         return true;
                       },
                       &stats);
  if (!mismatch.ok()) return mismatch;
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: " + where + " of the result: " + s.detail());
  return Status::Ok();
}

IndexWalks WalkResultIndexes(Database& result, const CompactedTable& t) {
  IndexWalks walks;
  const TableDef* dst_def;
  walks.opened = result.GetTableDef(t.new_page, &dst_def);
  if (!walks.opened.ok()) return walks;
  walks.found.assign(dst_def->real_indexes.size(), IndexPrint());
  walks.faults.assign(dst_def->real_indexes.size(), Status::Ok());
  for (size_t i = 0; i < dst_def->real_indexes.size(); ++i) {
    walks.faults[i] = WalkResultIndex(result, t, *dst_def, i, &walks.found[i]);
    if (!walks.faults[i].ok()) break;  // the verification stops at the first fault
  }
  return walks;
}

// Every index of the result against what it must hold, from its walk (`walks`): for an
// index whose keys the compaction computed, the keys of the result's own rows
// (`from_rows`, CompareRows), so a key that is not its row's, an entry at the wrong row,
// a missing or an extra entry all fail it; for an index whose keys were copied, the
// source index's entries of the copied rows, rows and ids mapped (exact duplicates
// once, as the compaction writes them once).
Status CompareIndexes(Database& source, const CompactedTable& t, const TableDef& src_def, const TableDef& dst_def,
                      const TableIdMap& ids, const std::vector<IndexPrint>& from_rows, const IndexWalks& walks) {
  if (!walks.opened.ok())
    return Status::Error(ErrorKind::kDamaged,
                         "verification: table \"" + t.name + "\" of the result: " + walks.opened.detail());
  for (size_t i = 0; i < src_def.real_indexes.size(); ++i) {
    const std::string where = "table \"" + t.name + "\" index " + std::to_string(i);
    if (i >= walks.faults.size()) return Mismatch(where + ": missing from the result");
    if (!walks.faults[i].ok()) return walks.faults[i];
    const IndexPrint& found = walks.found[i];
    Status mismatch = Status::Ok();

    IndexPrint expected = from_rows[i];
    if (t.keys_copied[i]) {
      const RealIndex& real = src_def.real_indexes[i];
      const bool remap = IndexHasIdColumn(src_def, real, t.id_columns);
      expected = IndexPrint();
      std::string last_key, remapped;
      uint32_t last_row = 0;
      IndexWalkStats source_stats;
      Status s = WalkIndex(source.file(), src_def.first_page, real.root_page,
                           [&](const std::string& raw_key, const RowId& row) {
                             RowId new_row;
                             if (!t.MapRow(row, &new_row)) return true;  // the row was not copied
                             const std::string* key = &raw_key;
                             if (remap) {
                               remapped = raw_key;
                               mismatch = RemapKeyIds(src_def, real, t.id_columns, ids, &remapped);
                               if (!mismatch.ok()) return false;
                               key = &remapped;
                             }
                             const uint32_t pointer = new_row.ToPointer();
                             if (expected.count > 0 && pointer == last_row && *key == last_key) return true;
                             last_row = pointer;
                             last_key = *key;
                             expected.Add(pointer, *key);
                             return true;
                           },
                           &source_stats);
      if (!mismatch.ok()) return mismatch;
      if (!s.ok()) return Status::Error(s.kind(), where + " of the source: " + s.detail());
    }
    if (found.count != expected.count)
      return Mismatch(where + ": " + std::to_string(found.count) + " entries, " + std::to_string(expected.count) +
                      " expected");
    if (found.sum != expected.sum)
      return Mismatch(where + (t.keys_copied[i] ? ": the entries are not those of the source index"
                                                : ": the keys are not those of the rows they point at"));
    if (dst_def.real_indexes[i].stat_entries != 0 && dst_def.real_indexes[i].stat_entries != uint32_t(found.count))
      return Mismatch(where + ": statistics count " + std::to_string(dst_def.real_indexes[i].stat_entries) +
                      " entries, the tree holds " + std::to_string(found.count));
  }
  return Status::Ok();
}

// The walks of the result's indexes, table by table in the order of the map, on a
// thread of their own beside the row comparison (which is the larger part of the
// work): it opens the result for itself, so nothing is shared but the map (read only)
// and what this class guards. Whatever the timing, the verification's outcome is the
// same: the row comparison waits for a table's walks before it judges them, and a
// stop only skips tables after the first that failed.
class IndexWalker {
 public:
  IndexWalker(const std::string& result_path, const CompactionMap& map) : path_(result_path), map_(map) {
    walks_.resize(map.tables.size());
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      Run();  // no second thread to be had: the walks first, on this one
    }
  }
  ~IndexWalker() {
    Stop();
    if (thread_.joinable()) thread_.join();
  }
  IndexWalker(const IndexWalker&) = delete;
  IndexWalker& operator=(const IndexWalker&) = delete;

  // The walks of table `j` of the map, once they are done.
  const IndexWalks& Await(size_t j) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return walked_ > j || finished_; });
    if (walked_ <= j) {  // it stopped before: its result does not open for it
      walks_[j].opened = opened_.ok() ? Status::Error(ErrorKind::kDamaged, "the index walk stopped") : opened_;
    }
    return walks_[j];
  }
  // No more walks are needed.
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }

 private:
  void Run() {
    std::unique_ptr<Database> result;
    Status s = Database::Open(path_, &result);
    for (size_t j = 0; s.ok() && j < map_.tables.size(); ++j) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) break;
      }
      IndexWalks walks = WalkResultIndexes(*result, map_.tables[j]);
      std::lock_guard<std::mutex> lock(mutex_);
      walks_[j] = std::move(walks);
      walked_ = j + 1;
      ready_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    opened_ = s;
    finished_ = true;
    ready_.notify_all();
  }

  const std::string path_;
  const CompactionMap& map_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;
  // Guarded by mutex_: walks_[j] is written once, before walked_ passes j, and not
  // touched by the walker after that.
  std::vector<IndexWalks> walks_;
  size_t walked_ = 0;
  bool finished_ = false;
  bool stop_ = false;
  Status opened_;
};

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
  map_slots.clear();
  map_new.clear();
  if (old_rows.empty()) return;
  // The rows counted per source page, put in their page's range in the order written,
  // then each page's few rows sorted by row number: nothing per row beyond the map.
  uint32_t low = UINT32_MAX, high = 0;
  for (uint32_t pointer : old_rows) {
    low = std::min(low, pointer >> 8);
    high = std::max(high, pointer >> 8);
  }
  first_page = low;
  page_starts.assign(size_t(high - low) + 2, 0);
  for (uint32_t pointer : old_rows) ++page_starts[(pointer >> 8) - first_page + 1];
  for (size_t i = 1; i < page_starts.size(); ++i) page_starts[i] += page_starts[i - 1];
  map_slots.resize(old_rows.size());
  map_new.resize(old_rows.size());
  std::vector<uint32_t> next(page_starts.begin(), page_starts.end() - 1);  // 4 bytes per page
  for (size_t k = 0; k < old_rows.size(); ++k) {
    const uint32_t at = next[(old_rows[k] >> 8) - first_page]++;
    map_slots[at] = uint8_t(old_rows[k] & 0xFF);
    map_new[at] = NewRow(k) - (data_start << 8);
  }
  for (size_t page = 0; page + 1 < page_starts.size(); ++page) {
    for (uint32_t i = page_starts[page] + 1; i < page_starts[page + 1]; ++i) {
      const uint8_t slot = map_slots[i];
      const uint32_t written = map_new[i];
      uint32_t j = i;
      for (; j > page_starts[page] && map_slots[j - 1] > slot; --j) {
        map_slots[j] = map_slots[j - 1];
        map_new[j] = map_new[j - 1];
      }
      map_slots[j] = slot;
      map_new[j] = written;
    }
  }
}

void CompactedTable::ReleaseRowMap() {
  std::vector<uint32_t>().swap(page_starts);
  std::vector<uint8_t>().swap(map_slots);
  std::vector<uint32_t>().swap(map_new);
}

uint32_t CompactedTable::NewRow(size_t k) const {
  const auto after = std::upper_bound(page_first_row.begin(), page_first_row.end(), uint32_t(k));
  const size_t page = size_t(after - page_first_row.begin()) - 1;  // page_first_row[0] == 0
  return (uint32_t(data_start + page) << 8) | uint32_t(k - page_first_row[page]);
}

bool CompactedTable::WrittenAt(uint32_t pointer, size_t* k) const {
  const uint32_t page = pointer >> 8;
  if (page < data_start || page - data_start >= page_first_row.size()) return false;
  const size_t i = page - data_start;
  const size_t end = i + 1 < page_first_row.size() ? page_first_row[i + 1] : old_rows.size();
  const size_t at = size_t(page_first_row[i]) + (pointer & 0xFF);
  if (at >= end) return false;
  *k = at;
  return true;
}

bool CompactedTable::MapRow(RowId old_row, RowId* new_row) const {
  if (old_row.page < first_page || size_t(old_row.page - first_page) + 1 >= page_starts.size()) return false;
  const uint32_t begin = page_starts[old_row.page - first_page];
  const uint32_t end = page_starts[old_row.page - first_page + 1];
  for (uint32_t i = begin; i < end; ++i) {
    if (map_slots[i] < old_row.row) continue;
    if (map_slots[i] != old_row.row) return false;
    *new_row = RowId::FromPointer(map_new[i] + (data_start << 8));
    return true;
  }
  return false;
}

Status SortMappedIndexEntries(Database& source, const TableDef& table, size_t index,
                              const std::vector<size_t>& id_columns, const TableIdMap& ids,
                              const RowMapper& map_row, EntrySorter* sorter) {
  if (index >= table.real_indexes.size())
    return Status::Error(ErrorKind::kInvalidArgument, "table has no real index " + std::to_string(index));
  const RealIndex& real = table.real_indexes[index];
  const bool remap_keys = IndexHasIdColumn(table, real, id_columns);
  Status failure;
  std::string remapped;
  IndexWalkStats stats;
  Status s = WalkIndex(source.file(), table.first_page, real.root_page,
                       [&](const std::string& key, const RowId& row) {
                         RowId new_row;
                         if (!map_row(row, &new_row)) return true;  // the row is gone
                         if (remap_keys) {
                           remapped = key;
                           failure = RemapKeyIds(table, real, id_columns, ids, &remapped);
                           if (failure.ok()) failure = sorter->Add(remapped, new_row);
                         } else {
                           failure = sorter->Add(key, new_row);
                         }
                         return failure.ok();
                       },
                       &stats);
  if (!failure.ok()) return failure;
  return s;
}

Status VerifyCompaction(Database& source, const std::string& result_path, const CompactionMap& map,
                        const ProgressFn& progress) {
  std::unique_ptr<Database> result;
  Status s = Database::Open(result_path, &result);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: the compacted file does not open: " + s.detail());
  s = CompareHeaders(map.header, result->header());
  if (s.ok()) s = CompareCatalog(source, *result, map.table_ids);
  if (!s.ok()) return s;
  IndexWalker walker(result_path, map);
  for (size_t j = 0; j < map.tables.size(); ++j) {
    const CompactedTable& t = map.tables[j];
    const TableDef* src_def;
    const TableDef* dst_def;
    s = source.GetTableDef(t.old_page, &src_def);
    if (!s.ok()) return s;
    s = result->GetTableDef(t.new_page, &dst_def);
    if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "verification: table \"" + t.name +
                                                               "\" of the result: " + s.detail());
    std::vector<IndexPrint> prints;
    s = CompareDefinitions(source.header(), map.header, t, *src_def, *dst_def, map.table_ids);
    if (s.ok()) s = CompareRows(source, *result, t, *src_def, *dst_def, map.table_ids, &prints);
    if (s.ok()) s = CompareIndexes(source, t, *src_def, *dst_def, map.table_ids, prints, walker.Await(j));
    if (!s.ok()) return s;  // the walker stops as it goes
    ReportProgress(progress, j + 1, map.tables.size());
  }
  return Status::Ok();
}

}  // namespace jet
