// Compaction: planning the layout, writing the new file, verifying it, putting it in
// place. See compact.h for what the result looks like.
#include "jet/maintain/compact.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "jet/base/byte_order.h"
#include "jet/base/publish_file.h"
#include "jet/read/catalog.h"
#include "jet/maintain/compact_verify.h"
#include "jet/maintain/format_conversion.h"
#include "jet/write/data_page_builder.h"
#include "jet/read/database.h"
#include "jet/write/entry_sorter.h"
#include "jet/file/header.h"
#include "jet/maintain/id_remap.h"
#include "jet/maintain/row_key_pipeline.h"
#include "jet/maintain/row_pointer_index.h"
#include "jet/write/index_builder.h"
#include "jet/write/index_key.h"
#include "jet/write/row_writer.h"
#include "jet/read/long_value.h"
#include "jet/write/long_value_writer.h"
#include "jet/file/page_writer.h"
#include "jet/read/row.h"
#include "jet/read/row_fetch.h"
#include "jet/read/table_scan.h"
#include "jet/write/tdef_writer.h"
#include "jet/write/usage_map_builder.h"

namespace jet {
namespace {

// A data page goes into its table's free-space map when a small row still fits.
constexpr size_t kRoomForInserts = 32;
// Planning rounds before giving up on ids that keep moving the layout.
constexpr int kMaxPlanningRounds = 8;

// The destination file, with the test hook in front of it.
class OutputSink final : public PageSink {
 public:
  OutputSink(PageWriter* writer, const CompactOptions& options) : writer_(writer), options_(options) {}
  const Format& format() const override { return writer_->format(); }
  Status Allocate(uint32_t* page_number) override { return writer_->Allocate(page_number); }
  Status Write(uint32_t page_number, std::span<const uint8_t> page) override {
    if (!options_.alter_page_for_test) return writer_->Write(page_number, page);
    copy_.assign(page.begin(), page.end());
    options_.alter_page_for_test(page_number, &copy_);
    return writer_->Write(page_number, copy_);
  }
  uint32_t next() const { return writer_->page_count(); }

 private:
  PageWriter* writer_;
  const CompactOptions& options_;
  std::vector<uint8_t> copy_;
};

// Pages the planning built that are the ones to write (but for fields the writer
// sets), kept in a scratch file so that the writing pass copies them instead of
// building them again: a table's data pages when its rows do not depend on the layout,
// and its index pages when the layout they were counted for is the final one. Each
// page with the number it was built for (in memory, 4 bytes a page), in the order it
// was built. The file lies beside the destination under the temporary-file name
// pattern, as the sorts' runs do, and is removed once its pages are copied, or when
// this is destroyed. It costs disk space: those pages, until their table is written.
// The pages carry no checksum: one damaged in the scratch file fails the result's
// verification, which compares every row and index entry with the source.
class PageSpill {
 public:
  PageSpill(Env* env, const std::string& beside) : env_(env), path_(TemporaryPathBeside(beside)) {}
  ~PageSpill() {
    writer_.reset();
    reader_.reset();
    if (created_) env_->RemoveFile(path_);
  }
  PageSpill(const PageSpill&) = delete;
  PageSpill& operator=(const PageSpill&) = delete;

  Status Append(uint32_t number, std::span<const uint8_t> page) {
    if (!writer_) {
      Status s = env_->NewWritableFile(path_, 0600, &writer_);
      if (!s.ok()) return s;
      created_ = true;
    }
    buffer_.insert(buffer_.end(), page.begin(), page.end());
    numbers_.push_back(number);
    return buffer_.size() >= kBufferSize ? Drain() : Status::Ok();
  }
  // Ends the writing; the pages are read back once, in order, with Next.
  Status Finish() {
    if (!writer_) return Status::Ok();
    Status s = Drain();
    if (s.ok()) s = writer_->Close();
    writer_.reset();
    std::vector<uint8_t>().swap(buffer_);
    return s;
  }
  // The numbers the pages were built for, in order.
  const std::vector<uint32_t>& numbers() const { return numbers_; }
  // The next page, `page_size` bytes.
  Status Next(size_t page_size, std::vector<uint8_t>* page) {
    if (!reader_) {
      Status s = env_->NewSequentialFile(path_, &reader_);
      if (!s.ok()) return s;
    }
    page->resize(page_size);
    for (size_t got = 0; got < page_size;) {
      size_t n = 0;
      Status s = reader_->Read(page->data() + got, page_size - got, &n);
      if (!s.ok()) return s;
      if (n == 0) return Status::Error(ErrorKind::kIoError, "a scratch file of planned pages ends early");
      got += n;
    }
    return Status::Ok();
  }
  // Removes the scratch file once its pages have been read.
  Status Remove() {
    reader_.reset();
    if (!created_) return Status::Ok();
    Status s = env_->RemoveFile(path_);
    if (s.ok()) created_ = false;
    return s;
  }

 private:
  static constexpr size_t kBufferSize = size_t(256) << 10;
  Status Drain() {
    Status s = writer_->Append(buffer_.data(), buffer_.size());
    buffer_.clear();
    return s;
  }

  Env* env_;
  std::string path_;
  bool created_ = false;
  std::unique_ptr<WritableFile> writer_;
  std::unique_ptr<SequentialFile> reader_;
  std::vector<uint8_t> buffer_;
  std::vector<uint32_t> numbers_;
};

// Drops a spill that will not be read (or has been), removing its file.
Status Discard(std::unique_ptr<PageSpill>* spill) {
  Status s = *spill ? (*spill)->Remove() : Status::Ok();
  if (s.ok()) spill->reset();
  return s;
}

// The planning rounds' sink: hands out page numbers, discards the images or keeps them.
class CountingSink final : public PageSink {
 public:
  // `keep`, when not null, is given every page image written.
  CountingSink(const Format& format, uint32_t first, PageSpill* keep = nullptr)
      : format_(format), next_(first), keep_(keep) {}
  const Format& format() const override { return format_; }
  Status Allocate(uint32_t* page_number) override {
    *page_number = next_++;
    return Status::Ok();
  }
  Status Write(uint32_t page_number, std::span<const uint8_t> page) override {
    return keep_ != nullptr ? keep_->Append(page_number, page) : Status::Ok();
  }
  uint32_t next() const { return next_; }

 private:
  Format format_;
  uint32_t next_;
  PageSpill* keep_;
};

// One usage-map row of a table: what it describes and where its pointer goes.
enum class MapKind { kOwned, kFree, kIndex, kLongValueOwned, kLongValueFree };
struct MapSlot {
  MapKind kind;
  size_t index = 0;  // real index, or entry of long_value_maps
};

// How one table is copied into the compacted file: everything known about it, from
// its preparation to its last page.
struct TableCopyPlan {
  const TableDef* def = nullptr;
  bool system = false;
  std::vector<size_t> long_value_columns;  // positions of MEMO / OLE columns
  int autonumber_column = -1;              // incrementing AutoNumber Long Integer, or -1
  int primary_index = -1;                  // real index of the primary key, or -1
  bool primary_has_ids = false;            // its keys hold table ids (MSysObjects.Id)
  uint32_t source_data_pages = 0;
  const SortScratch* scratch = nullptr;    // where its index sorts spill
  const Header* result = nullptr;          // the result's header: its format, code page, sort order
  bool converting = false;                 // the result is another format or sort order
  TableDef new_def;                        // the definition its rows are written with

  // Index keys. The plan pass computes every key from the row values, once per row
  // and index, into keys[i] as (key, relative row pointer); every later use (counting
  // pages, writing, in each planning round) replays that sorted stream. An index
  // whose keys the encoder refuses for some row (keys_copied, keys_refused says why)
  // takes the source index's entries instead, rows mapped.
  std::vector<std::unique_ptr<EntrySorter>> keys;
  std::vector<bool> keys_copied;
  std::vector<std::string> keys_refused;
  std::vector<bool> key_column;            // by position: some computed key needs its value
  bool keys_on_second_thread = false;      // the plan pass computes keys beside the rows (row_key_pipeline.h)
  size_t key_memory_budget = 0;            // each of keys' sorters while the rows are read
  int type_column = -1;                    // MSysObjects: Type and Lv (a saved query's plan)
  int plan_column = -1;
  uint64_t plans_dropped = 0;

  // Rows, filled by the dry run. While planning, out.data_start is 0 (pointers are
  // relative: data page index << 8 | row); after the real pass the first data page.
  CompactedTable out;
  std::vector<uint16_t> data_free;                   // free space of each data page
  std::unique_ptr<PageSpill> planned_pages;          // the dry run's pages, when they are final
  std::vector<std::vector<uint32_t>> lv_pages;       // per long-value column, relative
  uint32_t lv_page_count = 0;
  uint64_t long_values = 0;
  int64_t max_autonumber = 0;

  // Layout (absolute page numbers), from the last planning round.
  std::vector<MapSlot> maps;
  uint32_t start = 0;
  uint32_t tdef_pages = 0;
  uint32_t host_pages = 0;       // host pages among the table's own pages (0: shares one)
  uint32_t map_page = 0;         // host page of its first map row
  uint32_t map_row = 0;          // ... and that row's number there
  uint32_t data_start = 0;
  uint32_t lv_start = 0;
  uint32_t index_start = 0;
  uint32_t index_pages = 0;
  uint32_t bitmap_pages = 0;
  uint32_t end = 0;
  std::vector<IndexBuildResult> indexes;
  // The planning round that last counted the index pages did so for these pages and
  // ids; a later round with the same ones (or, when no index key holds table ids, the
  // same pages) would count the same, so it reuses index_pages instead of rebuilding.
  bool indexes_counted = false;
  uint32_t counted_start = 0;
  uint32_t counted_data_start = 0;
  uint32_t counted_index_start = 0;
  TableIdMap counted_ids;
  bool keys_hold_ids = false;    // some real index has a column holding table ids
  // The index pages that round built; the writing pass copies them when the table
  // starts where it did then (the owner field), and builds them again otherwise.
  std::unique_ptr<PageSpill> planned_index;

  uint32_t data_pages() const { return uint32_t(data_free.size()); }
  uint32_t Absolute(uint32_t relative) const {
    return ((data_start + (relative >> 8)) << 8) | (relative & 0xFF);
  }
};

std::string TableWhere(const TableCopyPlan& p) { return "table \"" + p.out.name + "\""; }

// A converted file cannot take the source's keys: they are another format's or
// collation's.
Status KeysRefused(const TableCopyPlan& p, size_t index, const std::string& reason) {
  return Status::Error(ErrorKind::kUnsupportedFormat, TableWhere(p) + " index " + std::to_string(index) +
                                                          ": its keys cannot be computed for the converted file (" +
                                                          reason + ")");
}

Status Internal(const TableCopyPlan& p, const std::string& what) {
  return Status::Error(ErrorKind::kDamaged,
                       TableWhere(p) + ": the written layout differs from the plan (" + what + ")");
}

uint32_t MapRowsPerHostPage(const Format& format) {
  const size_t per = (format.page_size - format.data_header_size) / (DefaultUsageMapRowSize(format) + 2);
  return uint32_t(std::min<size_t>(per, kMaxRowsPerDataPage));
}

// --- Preparation -------------------------------------------------------------------

// The table's live rows in the order they are written: the order of the primary key's
// entries (with table ids in the keys as `ids` maps them, so that MSysObjects' rows
// follow its Id index in the new file too), then rows that index does not reach, in
// storage order.
Status OrderRows(Database& db, TableCopyPlan* p, const TableIdMap& ids) {
  const TableDef& def = *p->def;
  std::vector<uint32_t> base;
  TableScanner scanner(db.file(), def);
  std::vector<std::string> notes;
  std::vector<uint32_t> data_pages;
  Status s = scanner.DataPages(&data_pages, &notes);
  if (!s.ok()) return s;
  p->source_data_pages = uint32_t(data_pages.size());
  s = scanner.ScanPages(
      data_pages,
      [&](const RowId& row, const uint8_t*, size_t) {
        base.push_back(row.ToPointer());
        return true;
      },
      &notes);
  if (!s.ok()) return s;

  std::vector<uint32_t>& order = p->out.old_rows;
  order.clear();
  if (p->primary_index < 0) {
    order = std::move(base);
    return Status::Ok();
  }
  // The live rows by pointer, for the lookups below: `base` itself when the scan met
  // them in that order (as it does when the owned-pages map lists pages in order), a
  // sorted copy otherwise.
  std::vector<uint32_t> sorted_copy;
  if (!std::is_sorted(base.begin(), base.end())) {
    sorted_copy = base;
    std::sort(sorted_copy.begin(), sorted_copy.end());
  }
  const std::vector<uint32_t>& live = sorted_copy.empty() ? base : sorted_copy;
  RowPointerIndex live_index;
  live_index.Build(live);
  std::vector<bool> taken(live.size(), false);
  const RowMapper live_row = [&](RowId row, RowId* same) {
    *same = row;
    return live_index.Find(live, row.ToPointer()) >= 0;
  };
  EntrySorter entries(p->scratch->env, p->scratch->beside, p->scratch->memory_budget);
  s = SortMappedIndexEntries(db, def, size_t(p->primary_index), p->out.id_columns, ids, live_row, &entries);
  // Parked: a large sort's buffer goes to disk before `order` takes its room, so the
  // two are not held at once (the peak of a compaction's memory).
  if (s.ok()) s = entries.Finish(/*park=*/true);
  order.reserve(base.size());
  SortedEntry entry;
  for (bool done = false; s.ok();) {
    s = entries.Next(&entry, &done);
    if (!s.ok() || done) break;
    const int64_t at = live_index.Find(live, entry.row.ToPointer());  // live_row let only live rows in
    if (at < 0 || taken[size_t(at)]) continue;
    taken[size_t(at)] = true;
    order.push_back(live[size_t(at)]);
  }
  if (!s.ok()) return Status::Error(s.kind(), TableWhere(*p) + " primary key: " + s.detail());
  for (uint32_t row : base) {
    const int64_t at = live_index.Find(live, row);  // `live` holds every row of `base`
    if (at < 0 || taken[size_t(at)]) continue;
    taken[size_t(at)] = true;
    order.push_back(row);
  }
  return Status::Ok();
}

Status PrepareTable(Database& db, const CatalogObject& object, const SortScratch& scratch, const Header& result,
                    TableCopyPlan* p) {
  const TableDef* def;
  Status s = db.GetTableDef(uint32_t(object.id), &def);
  if (!s.ok()) return Status::Error(s.kind(), "table \"" + object.name + "\": " + s.detail());
  p->def = def;
  p->scratch = &scratch;
  p->result = &result;
  p->converting = IsConversion(db.header(), result);
  p->system = object.is_system();
  p->out.name = object.name;
  p->out.old_page = def->first_page;
  s = TableIdColumns(*def, object.name, &p->out.id_columns);
  if (!s.ok()) return s;
  for (size_t i = 0; i < def->columns.size(); ++i) {
    const ColumnDef& c = def->columns[i];
    if (c.is_long_value()) p->long_value_columns.push_back(i);
    // A GUID AutoNumber (replication id) has no seed; only the incrementing kind does.
    if (c.type() == ColumnType::kLong && (c.flags & kColumnAutoNumber) != 0 &&
        (c.flags & kColumnGuidAutoNumber) == 0 && p->autonumber_column < 0)
      p->autonumber_column = int(i);
  }
  for (const LogicalIndex& index : def->logical_indexes)
    if (index.index_type == kLogicalIndexPrimaryKey && index.real_index < def->real_indexes.size())
      p->primary_index = int(index.real_index);
  for (const RealIndex& real : def->real_indexes)
    if (IndexHasIdColumn(*def, real, p->out.id_columns)) p->keys_hold_ids = true;
  p->primary_has_ids = p->primary_index >= 0 &&
                       IndexHasIdColumn(*def, def->real_indexes[size_t(p->primary_index)], p->out.id_columns);
  s = ResultDefinition(db.header(), result, object.name, *def, &p->new_def);
  if (!s.ok()) return s;
  const size_t index_count = def->real_indexes.size();
  p->keys.resize(index_count);
  p->keys_copied.assign(index_count, false);
  p->keys_refused.assign(index_count, std::string());
  p->key_column.assign(def->columns.size(), false);
  p->key_memory_budget = std::max<size_t>(1, scratch.memory_budget / std::max<size_t>(1, index_count));
  for (size_t i = 0; i < index_count; ++i) {
    const RealIndex& real = def->real_indexes[i];
    std::string reason;
    if (!CanComputeKeys(result.format(), p->new_def, p->new_def.real_indexes[i], &reason)) {
      if (p->converting) return KeysRefused(*p, i, reason);
      p->keys_copied[i] = true;
      p->keys_refused[i] = reason;
      continue;
    }
    for (const IndexColumn& column : real.columns) {
      const int position = def->FindColumnByNumber(column.column_number);
      if (position >= 0) p->key_column[size_t(position)] = true;
    }
  }
  if (def->first_page == kCatalogTdefPage) {
    p->type_column = def->FindColumnByName("Type");
    p->plan_column = def->FindColumnByName("Lv");
    if (p->type_column < 0) p->plan_column = -1;
  }
  return OrderRows(db, p, TableIdMap());
}

// --- Rows and long values -----------------------------------------------------------

// The two passes over the rows of a table, which must place every row and long value
// alike: the planning pass counts, the writing pass writes what was counted.
enum class RowPass { kPlan, kWrite };

// Whether the plan pass computes the keys of real index `i` from the row values; false
// for an index the encoder refused, whose entries are copied from the source index.
bool KeysFromValues(const TableCopyPlan& p, size_t i) { return !p.keys_copied[i]; }

// The plan pass's keys of one row (`values` by new_def), written at `written` (a
// relative pointer), into p->keys. An index whose key the encoder does not know for
// this row is given up: it takes the source's entries instead, which the verification
// then holds against the source index; a conversion has none to take and fails.
Status AddRowKeys(TableCopyPlan* p, const std::vector<Value>& values, RowId written, RowId old_row,
                  std::string* key) {
  const auto where = [&]() {
    return TableWhere(*p) + " row " + std::to_string(old_row.page) + ":" + std::to_string(old_row.row);
  };
  for (size_t i = 0; i < p->keys.size(); ++i) {
    const RealIndex& index = p->new_def.real_indexes[i];
    if (!KeysFromValues(*p, i) || !IndexHoldsRow(p->new_def, index, values)) continue;
    Status s = EncodeIndexKey(p->result->format(), p->new_def, index, values, key);
    if (s.kind() == ErrorKind::kUnsupportedFormat && p->converting) return KeysRefused(*p, i, where() + ": " + s.detail());
    if (s.kind() == ErrorKind::kUnsupportedFormat) {
      p->keys_copied[i] = true;
      p->keys_refused[i] = s.detail();
      p->keys[i].reset();
      continue;
    }
    if (s.ok()) s = p->keys[i]->Add(*key, written);
    if (!s.ok()) return Status::Error(s.kind(), where() + " index " + std::to_string(i) + ": " + s.detail());
  }
  return Status::Ok();
}

// The entries of the indexes whose keys were refused: the source index's entries,
// rows mapped to where the plan put them (relative pointers). After out.IndexRowMap().
Status CopySourceEntries(Database& db, TableCopyPlan* p, const TableIdMap& ids) {
  const RowMapper relative = [&](RowId old_row, RowId* new_row) { return p->out.MapRow(old_row, new_row); };
  for (size_t i = 0; i < p->keys.size(); ++i) {
    if (KeysFromValues(*p, i)) continue;
    p->keys[i] = std::make_unique<EntrySorter>(p->scratch->env, p->scratch->beside, p->scratch->memory_budget);
    EntrySorter& sorter = *p->keys[i];
    Status s = SortMappedIndexEntries(db, *p->def, i, p->out.id_columns, ids, relative, &sorter);
    if (!s.ok()) return Status::Error(s.kind(), TableWhere(*p) + " index " + std::to_string(i) + ": " + s.detail());
  }
  return Status::Ok();
}

// Whether the data pages the plan pass builds for `p` are the ones to write, but for
// their owner: no long value stored out of a row (its pointer names a page of the
// layout) and no table id in a row (ids move with the layout).
bool PagesAreFinal(const TableCopyPlan& p) { return p.long_value_columns.empty() && p.out.id_columns.empty(); }

// The writing pass of a table whose plan kept its data pages: they are copied onto
// `data_pages` with the table's definition page as their owner.
Status CopyPlannedPages(TableCopyPlan* p, PageSink* sink, const std::vector<uint32_t>& data_pages) {
  PageSpill& planned = *p->planned_pages;
  if (planned.numbers().size() != data_pages.size()) return Internal(*p, "data page count");
  std::vector<uint8_t> page;
  for (uint32_t number : data_pages) {
    Status s = planned.Next(sink->format().page_size, &page);
    if (!s.ok()) return s;
    StoreLe32(page.data() + kPageOwnerOffset, p->start);
    s = sink->Write(number, page);
    if (!s.ok()) return s;
  }
  return Discard(&p->planned_pages);  // its scratch file goes as soon as the table is written
}

// Writes the rows of `p` anew from their values, in order: the one core of PlanRows and
// WriteRows. Each row is decoded, its table ids mapped by `ids`, a saved query's
// compiled plan dropped, and encoded again (jet/write/row_writer.h); Memo / OLE values
// keep their stored bytes, those out of the row stored again through `sink`.
// kPlan: records where each row goes, the free space of each data page and the
// long-value pages, with `sink` a counter starting at 1, and has `keys` compute every
// index key from the values, once per row and index, into p->keys (relative row
// pointers).
// kWrite: writes the data pages at `data_pages` and the long values through `sink`,
// and checks that everything lands where it was planned.
Status CopyRows(Database& db, TableCopyPlan* p, RowPass pass, PageSink* sink,
                const std::vector<uint32_t>* data_pages, const TableIdMap& ids, RowKeyPipeline* keys = nullptr) {
  const Format& format = db.format();
  const Format& target = p->result->format();
  const TableDef& def = *p->def;
  const bool planning = pass == RowPass::kPlan;
  RowFetcher fetcher(db.file(), def);
  RowDecoder decoder(db.file(), def);
  LongValueReader lv_reader(db.file());
  std::vector<std::unique_ptr<LongValueWriter>> writers;
  for (size_t i = 0; i < p->long_value_columns.size(); ++i)
    writers.push_back(std::make_unique<LongValueWriter>(sink));
  DataPageBuilder builder(target, planning ? 0 : p->start);
  std::vector<uint8_t> source_row, row, value;
  std::vector<RawColumn> raw;
  RowFields fields;
  RowEncoder encoder;
  fields.values.resize(p->new_def.columns.size());  // a conversion's added columns stay null
  fields.long_value_fields.resize(p->new_def.columns.size());
  uint32_t page_index = 0;
  if (!planning && p->planned_pages) return CopyPlannedPages(p, sink, *data_pages);
  if (planning) {
    Status s = Discard(&p->planned_pages);
    if (!s.ok()) return s;
    if (PagesAreFinal(*p)) p->planned_pages = std::make_unique<PageSpill>(p->scratch->env, p->scratch->beside);
    p->out.page_first_row.clear();
    p->data_free.clear();
    p->long_values = 0;
    p->max_autonumber = 0;
    p->plans_dropped = 0;
    for (size_t i = 0; i < p->keys.size(); ++i)
      p->keys[i] = KeysFromValues(*p, i) ? std::make_unique<EntrySorter>(p->scratch->env, p->scratch->beside,
                                                                         p->key_memory_budget)
                                         : nullptr;
  }

  const auto flush = [&]() -> Status {
    if (planning) {
      p->data_free.push_back(uint16_t(builder.free_space()));
      if (p->planned_pages) {
        Status s = p->planned_pages->Append(page_index, builder.page());
        if (!s.ok()) return s;
      }
    } else {
      if (page_index >= data_pages->size()) return Internal(*p, "more data pages");
      Status s = sink->Write((*data_pages)[page_index], builder.page());
      if (!s.ok()) return s;
    }
    ++page_index;
    builder.Reset(planning ? 0 : p->start);
    return Status::Ok();
  };

  for (size_t k = 0; k < p->out.old_rows.size(); ++k) {
    const RowId old_row = RowId::FromPointer(p->out.old_rows[k]);
    const auto where = [&]() {
      return TableWhere(*p) + " row " + std::to_string(old_row.page) + ":" + std::to_string(old_row.row);
    };
    const uint8_t* fetched;
    size_t size;
    Status s = fetcher.Fetch(old_row, &fetched, &size);
    if (s.ok()) {
      source_row.assign(fetched, fetched + size);  // long values are read before it is done with
      s = CrackRow(format, def, source_row.data(), size, &raw);
    }
    const uint8_t* bytes = source_row.data();
    if (!s.ok()) return Status::Error(s.kind(), where() + ": " + s.detail());

    for (size_t i = 0; i < def.columns.size(); ++i) {
      Value& v = fields.values[i];
      fields.long_value_fields[i].clear();
      if (!def.columns[i].is_long_value() || raw[i].is_null) {
        s = decoder.ColumnValue(i, bytes, raw[i], &v);
      } else if (p->key_column[i] || p->converting) {
        s = decoder.ColumnValue(i, bytes, raw[i], &v);  // a key or a conversion needs the value itself
      } else {
        v = Value::Binary({});  // not null; the row takes the field below
      }
      if (!s.ok()) return Status::Error(s.kind(), where() + ": " + s.detail());
    }
    for (size_t position : p->out.id_columns) {
      Value& v = fields.values[position];
      if (v.type() == ValueType::kLong) v = Value::Long(ids.Map(int32_t(v.integer())));
    }
    if (p->plan_column >= 0 && !fields.values[size_t(p->plan_column)].is_null() &&
        fields.values[size_t(p->type_column)].type() != ValueType::kNull &&
        fields.values[size_t(p->type_column)].integer() == kObjectQuery) {
      fields.values[size_t(p->plan_column)] = Value::Null();
      if (planning) ++p->plans_dropped;
    }

    for (size_t j = 0; j < p->long_value_columns.size(); ++j) {
      const size_t position = p->long_value_columns[j];
      const RawColumn& field = raw[position];
      if (fields.values[position].is_null()) continue;
      std::vector<uint8_t>& out = fields.long_value_fields[position];
      LongValueHeader header;
      if (p->converting) {
        s = ConvertLongValue(db.header(), *p->result, p->new_def, position, fields.values[position], &value);
      } else {
        s = field.size == 0 ? Status::Ok() : ParseLongValueHeader(bytes + field.offset, field.size, &header);
      }
      if (!p->converting && s.ok() && (field.size == 0 || header.kind == kLongValueInline)) {
        out.assign(bytes + field.offset, bytes + field.offset + field.size);  // stays in the row
        continue;
      }
      if (s.ok() && !p->converting) s = lv_reader.Read(bytes + field.offset, field.size, &value);
      if (!s.ok())
        return Status::Error(s.kind(), where() + " column \"" + def.columns[position].name + "\": " + s.detail());
      LongValueField stored;
      s = writers[j]->Store(value, &stored);
      if (!s.ok()) return s;
      out.assign(stored.begin(), stored.end());
      if (planning) ++p->long_values;
    }
    if (planning && p->autonumber_column >= 0) {
      const Value& v = fields.values[size_t(p->autonumber_column)];
      if (v.type() == ValueType::kLong) p->max_autonumber = std::max<int64_t>(p->max_autonumber, v.integer());
    }
    s = encoder.Encode(target, p->new_def, fields, p->result->code_page, &row);
    if (!s.ok()) return Status::Error(s.kind(), where() + ": " + s.detail());

    if (!builder.Add(row)) {
      if (builder.empty())
        return Status::Error(ErrorKind::kDamaged, where() + ": a row of " + std::to_string(row.size()) +
                                                      " bytes does not fit on a page");
      s = flush();
      if (!s.ok()) return s;
      if (!builder.Add(row))
        return Status::Error(ErrorKind::kDamaged, where() + ": a row of " + std::to_string(row.size()) +
                                                      " bytes does not fit on a page");
    }
    const RowId written = RowId::FromPointer((page_index << 8) | uint32_t(builder.row_count() - 1));
    if (planning) {
      if (builder.row_count() == 1) p->out.page_first_row.push_back(uint32_t(k));
      s = keys->Add(fields.values, written, k);
      if (!s.ok()) return s;
    } else if (p->out.NewRow(k) != written.ToPointer()) {
      return Internal(*p, "row position");
    }
  }
  if (!builder.empty()) {
    Status s = flush();
    if (!s.ok()) return s;
  }
  for (auto& writer : writers) {
    Status s = writer->Flush();
    if (!s.ok()) return s;
  }

  if (planning) {
    // Relative long-value page numbers: the counter started at 1.
    p->lv_pages.clear();
    p->lv_page_count = 0;
    for (auto& writer : writers) {
      std::vector<uint32_t> pages = writer->pages();
      for (uint32_t& page : pages) page -= 1;
      p->lv_page_count += uint32_t(pages.size());
      p->lv_pages.push_back(std::move(pages));
    }
    Status s = keys->Finish();
    if (!s.ok()) return s;
    p->out.IndexRowMap();
    s = p->planned_pages ? p->planned_pages->Finish() : Status::Ok();
    if (s.ok()) s = CopySourceEntries(db, p, ids);
    // Only copied keys map source rows (here and in the verification): with none, the
    // map's 5 bytes per row go now rather than after the verification.
    if (std::none_of(p->keys_copied.begin(), p->keys_copied.end(), [](bool copied) { return copied; }))
      p->out.ReleaseRowMap();
    for (size_t i = 0; s.ok() && i < p->keys.size(); ++i) s = p->keys[i]->Finish(/*park=*/true);
    if (!s.ok()) return Status::Error(s.kind(), TableWhere(*p) + " index keys: " + s.detail());
    p->indexes_counted = false;
  } else {
    if (page_index != p->data_pages()) return Internal(*p, "data page count");
    for (size_t j = 0; j < writers.size(); ++j) {
      const std::vector<uint32_t>& pages = writers[j]->pages();
      if (pages.size() != p->lv_pages[j].size()) return Internal(*p, "long-value pages");
      for (size_t n = 0; n < pages.size(); ++n)
        if (pages[n] != p->lv_start + p->lv_pages[j][n]) return Internal(*p, "long-value page numbers");
    }
  }
  return Status::Ok();
}

// The planning pass: where the rows and long values of `p` go, with table ids mapped
// by `ids` (a guess while the layout is still moving).
Status PlanRows(Database& db, TableCopyPlan* p, CountingSink* counter, const TableIdMap& ids) {
  RowKeyPipeline keys(p->keys_on_second_thread, p->new_def.columns.size(), IndexKeyColumns(p->new_def),
                      [p, key = std::string()](const std::vector<Value>& values, RowId written, size_t k) mutable {
                        return AddRowKeys(p, values, written, RowId::FromPointer(p->out.old_rows[k]), &key);
                      });
  const Status s = CopyRows(db, p, RowPass::kPlan, counter, nullptr, ids, &keys);
  // The keys of a row before the one that failed may have failed first, as on one thread.
  const Status earlier = keys.Finish();
  return earlier.ok() ? s : earlier;
}

// The writing pass: the rows onto the planned `data_pages`, the long values through `sink`.
Status WriteRows(Database& db, TableCopyPlan* p, PageSink* sink, const std::vector<uint32_t>& data_pages,
                 const TableIdMap& ids) {
  return CopyRows(db, p, RowPass::kWrite, sink, &data_pages, ids);
}

// --- Indexes ------------------------------------------------------------------------

// Builds every real index of `p` through `sink` from the entries the plan pass sorted
// (relative row pointers, made absolute here: the order is the same).
Status BuildIndexes(TableCopyPlan* p, PageSink* sink) {
  p->indexes.assign(p->def->real_indexes.size(), IndexBuildResult{});
  for (size_t i = 0; i < p->def->real_indexes.size(); ++i) {
    EntrySorter& entries = *p->keys[i];
    Status s = entries.Rewind();
    IndexBuilder builder(sink, p->start);
    SortedEntry entry;
    for (bool done = false; s.ok();) {
      s = entries.Next(&entry, &done);
      if (!s.ok() || done) break;
      s = builder.Add(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(entry.key.data()), entry.key.size()),
                      RowId::FromPointer(p->Absolute(entry.row.ToPointer())));
    }
    if (!s.ok()) return Status::Error(s.kind(), TableWhere(*p) + " index " + std::to_string(i) + ": " + s.detail());
    s = builder.Finish(&p->indexes[i]);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

// The writing pass's index pages of `p` from the planning round that counted them for
// the final layout, when the table starts where it did then; built again otherwise.
Status WriteIndexes(TableCopyPlan* p, OutputSink* sink) {
  if (!p->planned_index || p->counted_start != p->start) {
    Status s = Discard(&p->planned_index);
    return s.ok() ? BuildIndexes(p, sink) : s;
  }
  PageSpill& planned = *p->planned_index;
  if (planned.numbers().size() != p->index_pages) return Internal(*p, "index page count");
  for (uint32_t i = 0; i < p->index_pages; ++i) {
    uint32_t number;
    Status s = sink->Allocate(&number);
    if (!s.ok()) return s;
    if (number != p->index_start + i) return Internal(*p, "index pages");
  }
  std::vector<uint8_t> page;
  for (uint32_t number : planned.numbers()) {
    if (number - p->index_start >= p->index_pages) return Internal(*p, "index page numbers");
    Status s = planned.Next(sink->format().page_size, &page);
    if (s.ok()) s = sink->Write(number, page);
    if (!s.ok()) return s;
  }
  return Discard(&p->planned_index);
}

// --- Usage maps -----------------------------------------------------------------------

// The map rows a table gets, in host-page order. The owned-pages, free-space and index
// maps always exist; long-value column maps where the source has them.
std::vector<MapSlot> TableMaps(const TableDef& def) {
  std::vector<MapSlot> maps = {{MapKind::kOwned}, {MapKind::kFree}};
  for (size_t i = 0; i < def.real_indexes.size(); ++i) maps.push_back({MapKind::kIndex, i});
  for (size_t i = 0; i < def.long_value_maps.size(); ++i) {
    if (def.long_value_maps[i].owned_map != 0) maps.push_back({MapKind::kLongValueOwned, i});
    if (def.long_value_maps[i].free_map != 0) maps.push_back({MapKind::kLongValueFree, i});
  }
  return maps;
}

// The (absolute, ascending) pages a map row describes.
std::vector<uint32_t> MapPages(const TableCopyPlan& p, const MapSlot& slot) {
  std::vector<uint32_t> pages;
  switch (slot.kind) {
    case MapKind::kOwned:
      for (uint32_t i = 0; i < p.data_pages(); ++i) pages.push_back(p.data_start + i);
      break;
    case MapKind::kFree:
      for (uint32_t i = 0; i < p.data_pages(); ++i)
        if (p.data_free[i] >= kRoomForInserts + 2) pages.push_back(p.data_start + i);
      break;
    case MapKind::kIndex:
      pages = p.indexes[slot.index].pages;
      break;
    case MapKind::kLongValueOwned:
    case MapKind::kLongValueFree: {
      const int column = p.new_def.FindColumnByNumber(p.new_def.long_value_maps[slot.index].column_number);
      for (size_t j = 0; j < p.long_value_columns.size(); ++j) {
        if (int(p.long_value_columns[j]) != column) continue;
        for (uint32_t relative : p.lv_pages[j]) pages.push_back(p.lv_start + relative);
      }
      // Only the page a column's writer filled last has room left.
      if (slot.kind == MapKind::kLongValueFree && !pages.empty()) pages = {pages.back()};
      std::sort(pages.begin(), pages.end());
      break;
    }
  }
  return pages;
}

// The host page the next tables' map rows may share, as Access shares one host page
// among many tables. Invariant: rows_used <= MapRowsPerHostPage; page 0 = none open.
struct HostCursor {
  uint32_t page = 0;
  uint32_t rows_used = 0;
};

// Where map row `i` of table `p` lives.
RowId MapRowPlace(const Format& format, const TableCopyPlan& p, size_t i) {
  const uint32_t per_host = MapRowsPerHostPage(format);
  if (p.host_pages == 0) return RowId{p.map_page, uint8_t(p.map_row + i)};
  return RowId{uint32_t(p.map_page + i / per_host), uint8_t(i % per_host)};
}

// Places table `p` at `start` with `ids` in its keys: one planning round for it.
Status LayOutTable(Database& db, TableCopyPlan* p, uint32_t start, const TableIdMap& ids, HostCursor* host) {
  const Format& format = p->result->format();
  p->maps = TableMaps(p->new_def);
  p->start = start;
  p->tdef_pages = TableDefPageCount(format, p->new_def.tdef_length);
  const uint32_t per_host = MapRowsPerHostPage(format);
  const uint32_t rows = uint32_t(p->maps.size());
  if (host->page != 0 && host->rows_used + rows <= per_host) {
    // Its rows go on the host page an earlier table opened.
    p->host_pages = 0;
    p->map_page = host->page;
    p->map_row = host->rows_used;
    host->rows_used += rows;
  } else {
    p->host_pages = (rows + per_host - 1) / per_host;
    p->map_page = start + p->tdef_pages;
    p->map_row = 0;
    host->page = p->map_page + p->host_pages - 1;
    host->rows_used = rows - (p->host_pages - 1) * per_host;
  }
  p->data_start = start + p->tdef_pages + p->host_pages;
  p->lv_start = p->data_start + p->data_pages();
  p->index_start = p->lv_start + p->lv_page_count;
  const bool same_as_counted = p->indexes_counted && p->counted_data_start == p->data_start &&
                               p->counted_index_start == p->index_start &&
                               (!p->keys_hold_ids || p->counted_ids == ids);
  if (!same_as_counted) {
    Status s = Discard(&p->planned_index);
    if (!s.ok()) return s;
    p->planned_index = std::make_unique<PageSpill>(p->scratch->env, p->scratch->beside);
    CountingSink counter(format, p->index_start, p->planned_index.get());
    s = BuildIndexes(p, &counter);
    if (s.ok()) s = p->planned_index->Finish();
    if (!s.ok()) return s;
    p->index_pages = counter.next() - p->index_start;
    p->indexes_counted = true;
    p->counted_start = p->start;
    p->counted_data_start = p->data_start;
    p->counted_index_start = p->index_start;
    p->counted_ids = ids;
  }
  p->bitmap_pages = 0;
  for (const MapSlot& slot : p->maps) {
    const std::vector<uint32_t> pages = MapPages(*p, slot);
    p->bitmap_pages += uint32_t(UsageMapBitmapPageCount(format, pages));
  }
  p->end = p->index_start + p->index_pages + p->bitmap_pages;
  return Status::Ok();
}

// Lays out every table, repeating until the table ids the layout gives are the ids
// it was computed with (the ids change index keys, and so index page counts, and the
// row order of tables whose primary key holds ids). Returns the final ids and the first page after the tables.
Status PlanLayout(Database& db, std::vector<TableCopyPlan>* plans, TableIdMap* ids, uint32_t* used_pages,
                  uint32_t* rounds) {
  TableIdMap guess;
  for (const TableCopyPlan& p : *plans) guess.Add(p.out.old_page, p.out.old_page);
  for (int round = 1; round <= kMaxPlanningRounds; ++round) {
    // A primary key on table ids orders its rows by the new ids.
    for (TableCopyPlan& p : *plans) {
      // Keys holding ids are computed again with the ids of this round.
      if (!p.keys_hold_ids || round == 1) continue;
      Status s = p.primary_has_ids ? OrderRows(db, &p, guess) : Status::Ok();
      CountingSink counter(p.result->format(), 1);
      if (s.ok()) s = PlanRows(db, &p, &counter, guess);
      if (!s.ok()) return s;
    }
    TableIdMap placed;
    uint32_t cursor = kCatalogTdefPage;
    HostCursor host;
    for (TableCopyPlan& p : *plans) {
      placed.Add(p.out.old_page, cursor);
      Status s = LayOutTable(db, &p, cursor, guess, &host);
      if (!s.ok()) return s;
      cursor = p.end;
    }
    if (placed == guess) {
      *ids = guess;
      *used_pages = cursor;
      *rounds = uint32_t(round);
      return Status::Ok();
    }
    guess = placed;
  }
  return Status::Error(ErrorKind::kUnsupportedFormat,
                       "the layout of the compacted file did not settle: table ids in index keys keep moving it");
}

// --- Writing ------------------------------------------------------------------------------

Status AllocateRun(OutputSink* sink, const TableCopyPlan& p, uint32_t first, uint32_t count,
                   std::vector<uint32_t>* pages, const char* what) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t number;
    Status s = sink->Allocate(&number);
    if (!s.ok()) return s;
    if (number != first + i) return Internal(p, what);
    if (pages != nullptr) pages->push_back(number);
  }
  return Status::Ok();
}

// The definition of `p` for the new file, with every page-dependent field set.
Status WriteDefinition(const Format& format, const TableCopyPlan& p, const TableIdMap& ids,
                       const std::vector<uint32_t>& map_pointers, OutputSink* sink) {
  TableDef def = p.new_def;
  def.row_count = uint32_t(p.out.old_rows.size());
  if (p.autonumber_column >= 0) def.last_autonumber = uint32_t(p.max_autonumber);
  for (size_t i = 0; i < p.maps.size(); ++i) {
    const MapSlot& slot = p.maps[i];
    switch (slot.kind) {
      case MapKind::kOwned: def.owned_map = map_pointers[i]; break;
      case MapKind::kFree: def.free_map = map_pointers[i]; break;
      case MapKind::kIndex: def.real_indexes[slot.index].usage_map = map_pointers[i]; break;
      case MapKind::kLongValueOwned: def.long_value_maps[slot.index].owned_map = map_pointers[i]; break;
      case MapKind::kLongValueFree: def.long_value_maps[slot.index].free_map = map_pointers[i]; break;
    }
  }
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    def.real_indexes[i].root_page = p.indexes[i].root_page;
    def.real_indexes[i].stat_entries = p.indexes[i].entry_count;
    def.real_indexes[i].stat_unique = p.indexes[i].distinct_keys;
  }
  for (LogicalIndex& index : def.logical_indexes) {
    uint32_t related;
    if (index.related_table != 0 && ids.Lookup(index.related_table, &related)) index.related_table = related;
  }
  std::vector<uint8_t> logical;
  Status s = EncodeTableDef(format, def, &logical);
  if (!s.ok()) return s;
  std::vector<uint32_t> numbers;
  for (uint32_t i = 0; i < p.tdef_pages; ++i) numbers.push_back(p.start + i);
  std::vector<std::vector<uint8_t>> pages;
  s = SplitTableDef(format, logical, numbers, &pages);
  for (size_t i = 0; s.ok() && i < pages.size(); ++i) s = sink->Write(numbers[i], pages[i]);
  return s;
}

// The host page being filled while tables are written; rows arrive in page order.
class HostPageWriter {
 public:
  explicit HostPageWriter(const Format& format) : builder_(format, 0) {}
  // Adds `row` as row `place.row` of page `place.page`, writing out the previous page
  // when `place` starts a new one.
  Status Add(const RowId& place, std::span<const uint8_t> row, OutputSink* sink) {
    if (place.page != page_) {
      Status s = Flush(sink);
      if (!s.ok()) return s;
      page_ = place.page;
    }
    if (builder_.row_count() != place.row || !builder_.Add(row))
      return Status::Error(ErrorKind::kDamaged, "a usage-map row does not land where it was planned");
    return Status::Ok();
  }
  Status Flush(OutputSink* sink) {
    if (page_ == 0) return Status::Ok();
    Status s = sink->Write(page_, builder_.page());
    builder_.Reset(0);
    page_ = 0;
    return s;
  }

 private:
  DataPageBuilder builder_;
  uint32_t page_ = 0;  // 0: none open
};

Status WriteTable(Database& db, TableCopyPlan* p, OutputSink* sink, const TableIdMap& ids, HostPageWriter* host) {
  const Format& format = p->result->format();
  if (sink->next() != p->start) return Internal(*p, "first page");
  Status s = AllocateRun(sink, *p, p->start, p->tdef_pages, nullptr, "definition pages");
  if (s.ok()) s = AllocateRun(sink, *p, p->start + p->tdef_pages, p->host_pages, nullptr, "host pages");
  std::vector<uint32_t> data_pages;
  if (s.ok()) s = AllocateRun(sink, *p, p->data_start, p->data_pages(), &data_pages, "data pages");
  if (s.ok()) s = WriteRows(db, p, sink, data_pages, ids);
  if (!s.ok()) return s;
  if (sink->next() != p->index_start) return Internal(*p, "index start");
  s = WriteIndexes(p, sink);
  if (!s.ok()) return s;
  if (sink->next() != p->index_start + p->index_pages) return Internal(*p, "index pages");

  // Usage maps: bitmap pages (if any) at the end of the table, rows on the host pages.
  std::vector<uint32_t> map_pointers;
  for (size_t i = 0; i < p->maps.size(); ++i) {
    const std::vector<uint32_t> pages = MapPages(*p, p->maps[i]);
    std::vector<uint32_t> bitmap_numbers;
    s = AllocateRun(sink, *p, sink->next(), uint32_t(UsageMapBitmapPageCount(format, pages)), &bitmap_numbers,
                    "bitmap pages");
    UsageMapImage image;
    if (s.ok()) s = BuildUsageMap(format, pages, bitmap_numbers, &image);
    for (size_t b = 0; s.ok() && b < image.bitmap_pages.size(); ++b)
      s = sink->Write(image.bitmap_pages[b].page_number, image.bitmap_pages[b].image);
    if (!s.ok()) return s;
    if (image.row.size() != DefaultUsageMapRowSize(format)) return Internal(*p, "usage-map row size");
    const RowId place = MapRowPlace(format, *p, i);
    s = host->Add(place, image.row, sink);
    if (!s.ok()) return s;
    map_pointers.push_back(place.ToPointer());
  }
  if (sink->next() != p->end) return Internal(*p, "last page");
  return WriteDefinition(format, *p, ids, map_pointers, sink);
}

// The result's header: the source's, with the password and database key the options
// ask for.
Status ResultHeader(const Header& source, const CompactOptions& options, Header* result) {
  *result = source;
  if (options.format.has_value() || options.sort_order.has_value()) {
    const Version target = options.format.value_or(source.version);
    SortOrder sort{source.sort_lcid == 0 ? kGeneralSortLcid : source.sort_lcid, source.sort_version};
    Status s = options.sort_order.has_value() ? SortOrderByName(*options.sort_order, target, &sort) : Status::Ok();
    if (s.ok()) s = ConvertHeader(source, target, sort, result);
    if (!s.ok()) return s;
  }
  if (options.password.has_value()) {
    Status s = SetHeaderPassword(*options.password, result);
    if (!s.ok()) return s;
  }
  if (options.encoding == PageEncoding::kDecode) result->db_key = 0;
  if (options.encoding == PageEncoding::kEncode && result->db_key == 0) {
    std::random_device random;
    while (result->db_key == 0) result->db_key = random();
  }
  return Status::Ok();
}

// Page 0: the source's, byte for byte, unless the options changed a field of it, with
// every commit slot neutral.
Status HeaderPage(const Header& source, const Header& result, const Format& format, std::vector<uint8_t>* page) {
  if (result.db_key != source.db_key || result.password_bytes != source.password_bytes ||
      IsConversion(source, result)) {
    Status s = EncodeHeader(result, page);
    if (!s.ok()) return s;
  } else {
    *page = source.raw_page;
  }
  page->resize(format.page_size, 0);
  SetCommitAreaIdle(format, page->data());
  return Status::Ok();
}

Status WriteGlobalMap(const Format& format, uint32_t used_pages, OutputSink* sink) {
  const uint32_t extra = GlobalMapExtraPages(format, used_pages);
  std::vector<uint32_t> bitmap_numbers;
  for (uint32_t i = 0; i < extra; ++i) {
    uint32_t number;
    Status s = sink->Allocate(&number);
    if (!s.ok()) return s;
    bitmap_numbers.push_back(number);
  }
  std::vector<uint8_t> page1;
  std::vector<UsageBitmapPage> bitmap_pages;
  Status s = BuildGlobalMapPage(format, used_pages + extra, bitmap_numbers, &page1, &bitmap_pages);
  if (s.ok()) s = sink->Write(1, page1);
  for (size_t i = 0; s.ok() && i < bitmap_pages.size(); ++i)
    s = sink->Write(bitmap_pages[i].page_number, bitmap_pages[i].image);
  return s;
}

// The tables in the order of the new file: MSysObjects, the other system tables,
// the user tables, each group by old definition page. Every local table of the
// catalog once.
Status CollectTables(Database& db, const SortScratch& scratch, const Header& result,
                     std::vector<TableCopyPlan>* plans) {
  std::vector<const CatalogObject*> tables = db.Tables(true);
  std::stable_sort(tables.begin(), tables.end(), [](const CatalogObject* a, const CatalogObject* b) {
    const auto rank = [](const CatalogObject* o) {
      return o->id == int32_t(kCatalogTdefPage) ? 0 : o->is_system() ? 1 : 2;
    };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return uint32_t(a->id) < uint32_t(b->id);
  });
  if (tables.empty() || tables[0]->id != int32_t(kCatalogTdefPage))
    return Status::Error(ErrorKind::kDamaged, "the catalog has no row for MSysObjects (definition page 2)");
  for (size_t i = 0; i < tables.size(); ++i) {
    if (i > 0 && tables[i]->id == tables[i - 1]->id)
      return Status::Error(ErrorKind::kDamaged, "the catalog lists table id " + std::to_string(tables[i]->id) +
                                                    " twice (\"" + tables[i]->name + "\")");
    if (tables[i]->id <= 0 || uint32_t(tables[i]->id) >= db.file().page_count())
      return Status::Error(ErrorKind::kDamaged, "table \"" + tables[i]->name + "\" has id " +
                                                    std::to_string(tables[i]->id) + ", not a page of the file");
    TableCopyPlan plan;
    Status s = PrepareTable(db, *tables[i], scratch, result, &plan);
    if (!s.ok()) return s;
    plans->push_back(std::move(plan));
  }
  return Status::Ok();
}

// Writes the whole file at `path`; on success the writer has finished it.
Status WriteFile(Database& db, std::vector<TableCopyPlan>* plans, const TableIdMap& ids, uint32_t used_pages,
                 const Header& header, const CompactOptions& options, Env* env, const std::string& path,
                 std::unique_ptr<PageWriter>* writer) {
  const Format& format = header.format();
  std::vector<uint8_t> page0_image;
  Status s = HeaderPage(db.header(), header, format, &page0_image);
  if (s.ok()) s = PageWriter::Create(env, path, format, header.db_key, 0666, writer);
  if (!s.ok()) return s;
  OutputSink sink(writer->get(), options);
  uint32_t page0, page1;
  s = sink.Allocate(&page0);
  if (s.ok()) s = sink.Allocate(&page1);
  if (s.ok()) s = sink.Write(page0, page0_image);
  HostPageWriter host(format);
  for (size_t i = 0; s.ok() && i < plans->size(); ++i) s = WriteTable(db, &(*plans)[i], &sink, ids, &host);
  if (s.ok()) s = host.Flush(&sink);
  if (s.ok() && sink.next() != used_pages)
    s = Status::Error(ErrorKind::kDamaged, "the written layout differs from the plan (page count)");
  if (s.ok()) s = WriteGlobalMap(format, used_pages, &sink);
  if (s.ok()) s = (*writer)->Finish();
  return s;
}

// The compaction of the source `open` gives.
Status CompactOpened(Env* env, const std::function<Status(std::unique_ptr<Database>*)>& open,
                     const std::string& destination, const CompactOptions& options, CompactReport* report) {
  // Also takes away what a compaction that crashed left: its result and the index
  // sorts' scratch files, which lie beside the destination too.
  Publication publication;
  Status s = publication.Begin(env, destination, PublishOptions());
  if (!s.ok()) return s;
  std::unique_ptr<Database> db;
  s = open(&db);
  if (!s.ok()) return s;
  if (IsAce(db->format().version))
    return Status::Error(ErrorKind::kUnsupportedFormat,
                         std::string("compaction of ") + VersionName(db->format().version) +
                             " files is not supported: their complex columns keep table ids in "
                             "MSysComplexColumns and flat tables this engine does not rewrite yet");

  Header header;
  s = ResultHeader(db->header(), options, &header);
  if (!s.ok()) return s;

  SortScratch scratch;
  scratch.env = env;
  scratch.beside = destination;
  scratch.memory_budget = options.sort_memory_budget;
  std::vector<TableCopyPlan> plans;
  s = CollectTables(*db, scratch, header, &plans);
  for (TableCopyPlan& p : plans) p.keys_on_second_thread = p.source_data_pages >= options.second_thread_pages;
  TableIdMap ids;
  // Work: every table's data pages, once per pass (counting, planning, writing and
  // verification), plus one so that an empty file has some.
  uint64_t pass = 1, done = 0;
  for (const TableCopyPlan& p : plans) pass += p.source_data_pages;
  const uint64_t work = 4 * pass;
  for (TableCopyPlan& p : plans) {
    if (!s.ok()) break;
    CountingSink counter(header.format(), 1);
    s = PlanRows(*db, &p, &counter, ids);
    ReportProgress(options.progress, done += p.source_data_pages, work);
  }
  uint32_t used_pages = 0, rounds = 0;
  if (s.ok()) s = PlanLayout(*db, &plans, &ids, &used_pages, &rounds);
  ReportProgress(options.progress, done = 2 * pass, work);
  if (!s.ok()) return s;
  if (used_pages > MaxPageCount(header.format()))
    return Status::Error(ErrorKind::kNoSpace, "the compacted file would pass the format's size limit");

  const std::string& temporary = publication.temporary();
  std::unique_ptr<PageWriter> writer;
  s = WriteFile(*db, &plans, ids, used_pages, header, options, env, temporary, &writer);
  if (!s.ok()) return s;  // the unfinished writer removes its file
  ReportProgress(options.progress, done = 3 * pass, work);
  const uint32_t result_pages = writer->page_count();
  writer.reset();

  CompactionMap map;
  map.header = header;
  map.table_ids = ids;
  for (TableCopyPlan& p : plans) {
    p.out.new_page = p.start;
    p.out.data_start = p.data_start;
    p.out.keys_copied = p.keys_copied;
    p.keys.clear();  // their scratch files go before the verification reads
  }
  for (TableCopyPlan& p : plans) map.tables.push_back(std::move(p.out));
  s = VerifyCompaction(*db, temporary, map, StageProgress(options.progress, 3 * pass, work, work));
  if (s.ok()) s = publication.Commit();
  if (!s.ok()) return s;

  if (report != nullptr) {
    report->source_pages = db->file().page_count();
    report->source_bytes = db->file().file_size();
    report->result_pages = result_pages;
    report->result_bytes = uint64_t(result_pages) * header.format().page_size;
    report->planning_rounds = rounds;
    report->query_plans_dropped = 0;
    report->tables.clear();
    for (size_t i = 0; i < plans.size(); ++i) {
      const TableCopyPlan& p = plans[i];
      const CompactedTable& out = map.tables[i];
      CompactTableReport t;
      t.name = out.name;
      t.system = p.system;
      t.old_page = out.old_page;
      t.new_page = p.start;
      t.source_data_pages = p.source_data_pages;
      t.pages = p.end - p.start;
      t.data_pages = p.data_pages();
      t.long_value_pages = p.lv_page_count;
      t.index_pages = p.index_pages;
      t.rows = out.old_rows.size();
      t.long_values = p.long_values;
      for (size_t i = 0; i < p.keys_copied.size(); ++i)
        if (p.keys_copied[i]) t.copied_keys.push_back("index " + std::to_string(i) + ": " + p.keys_refused[i]);
      report->query_plans_dropped += p.plans_dropped;
      report->tables.push_back(std::move(t));
    }
  }
  return Status::Ok();
}

}  // namespace

Status Compact(Env* env, const std::string& source, const std::string& destination,
               const CompactOptions& options, CompactReport* report) {
  return CompactOpened(
      env, [&](std::unique_ptr<Database>* db) { return Database::Open(source, db); }, destination, options, report);
}

Status CompactPageFile(Env* env, std::unique_ptr<PageFile> source, const std::string& destination,
                       const CompactOptions& options, CompactReport* report) {
  return CompactOpened(
      env, [&](std::unique_ptr<Database>* db) { return Database::OpenPageFile(std::move(source), db); }, destination,
      options, report);
}

}  // namespace jet
