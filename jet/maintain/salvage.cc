// Salvage: a patched view of the source file (changed pages kept in memory, new index
// pages appended), and the fixes made through it.
#include "jet/maintain/salvage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <unordered_set>

#include "jet/base/byte_order.h"
#include "jet/base/text.h"
#include "jet/maintain/entry_fingerprint.h"
#include "jet/maintain/row_key_pipeline.h"
#include "jet/maintain/row_validation.h"
#include "jet/maintain/slot_mend.h"
#include "jet/maintain/table_pages.h"
#include "jet/read/catalog.h"
#include "jet/maintain/catalog_rebuild.h"
#include "jet/maintain/column_evidence.h"
#include "jet/maintain/index_drop.h"
#include "jet/write/data_page_builder.h"
#include "jet/write/system_tables.h"
#include "jet/write/tdef_writer.h"
#include "jet/file/data_page.h"
#include "jet/write/entry_sorter.h"
#include "jet/write/index_builder.h"
#include "jet/write/index_key.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/read/overflow_row.h"
#include "jet/file/page_runs.h"
#include "jet/file/page_writer.h"
#include "jet/read/row.h"
#include "jet/read/table_def.h"
#include "jet/read/table_scan.h"
#include "jet/file/usage_map.h"

namespace jet {
namespace {

std::string RowName(RowId id) { return std::to_string(id.page) + ":" + std::to_string(id.row); }

// A table with fewer kept rows has its rebuilt indexes' keys computed on one thread.
constexpr uint64_t kRowsWorthKeysOnASecondThread = 4096;

// The source with changes: pages patched or appended live in memory, every other
// page is read from the source. Readers (ReadTableDef, TableScanner, ...) work on it
// like on any file.
class PatchedFile final : public PageFile {
 public:
  explicit PatchedFile(PageFile& base) : base_(base), count_(base.page_count()) {}

  const Header& header() const override { return base_.header(); }
  uint32_t page_count() const override { return count_; }
  uint64_t file_size() const override { return uint64_t(count_) * page_size(); }
  bool has_partial_page() const override { return false; }
  Status ReadPage(uint32_t number, uint8_t* out) const override {
    if (number >= count_) return Status::Error(ErrorKind::kDamaged, "page " + std::to_string(number) + " is past the end");
    auto it = patches_.find(number);
    if (it == patches_.end()) return base_.ReadPage(number, out);
    std::memcpy(out, it->second.data(), it->second.size());
    return Status::Ok();
  }
  // The pages past the source's end are all patches; the others come from the source
  // in one read, with the patches among them laid over.
  Status ReadPages(uint32_t first, uint32_t count, uint8_t* out) const override {
    if (first >= count_ || count > count_ - first || first >= base_.page_count() ||
        count > base_.page_count() - first)
      return PageFile::ReadPages(first, count, out);
    Status s = base_.ReadPages(first, count, out);
    if (!s.ok()) return s;
    for (auto it = patches_.lower_bound(first); it != patches_.end() && it->first - first < count; ++it)
      std::memcpy(out + size_t(it->first - first) * page_size(), it->second.data(), it->second.size());
    return Status::Ok();
  }

  // The page's bytes for changing; the change is seen by every later read.
  uint8_t* Mutable(uint32_t number) {
    ++changes_;
    auto it = patches_.find(number);
    if (it == patches_.end()) {
      std::vector<uint8_t> page(page_size(), 0);
      if (number < base_.page_count()) base_.ReadPage(number, page.data());
      it = patches_.emplace(number, std::move(page)).first;
    }
    return it->second.data();
  }
  // A new page at the end. It is allocated as Jet allocates one: its bit in the global
  // free map, which marks every page past a file's end free, is cleared, so that a
  // reader that goes by that map (a table's pages found by owner) sees it in use.
  uint32_t Append() {
    ++changes_;
    const uint32_t number = count_++;
    patches_.emplace(number, std::vector<uint8_t>(page_size(), 0));
    MarkInUse(number);
    return number;
  }
  // Counts calls of Mutable and Append: a copy of a page read when it was N is still
  // the page's content while it is N.
  uint64_t changes() const { return changes_; }

 private:
  void MarkInUse(uint32_t number) {
    std::vector<uint8_t> page(page_size());
    DataPageHeader header;
    RowSlot slot;
    MapBit bit;
    if (number < 2 || !ReadPage(1, page.data()).ok() || !ParseDataPage(format(), page.data(), &header).ok() ||
        !GetRowSlot(format(), page.data(), header, 0, &slot).ok() || slot.deleted ||
        !FindMapBit(page_size(), page.data() + slot.start, slot.size(), number, &bit))
      return;
    if (bit.bitmap_page == 0) {
      if (page[slot.start + bit.offset] & bit.mask) Mutable(1)[slot.start + bit.offset] &= uint8_t(~bit.mask);
      return;
    }
    if (bit.bitmap_page < count_ && ReadPage(bit.bitmap_page, page.data()).ok() && page[0] == kPageUsageBitmap &&
        bit.offset < page.size() && (page[bit.offset] & bit.mask))
      Mutable(bit.bitmap_page)[bit.offset] &= uint8_t(~bit.mask);
  }

  PageFile& base_;
  uint32_t count_;
  uint64_t changes_ = 0;
  std::map<uint32_t, std::vector<uint8_t>> patches_;
};

// A list of pages of the view read in its order, neighbours with one call
// (PageRunReader), as the view stands when each page is asked for: pages held from
// before a change (a row dropped or mended, perhaps on a page further down the list)
// are stale, so after one the run is read again from the page asked for. Indexes
// asked for never go down.
class ViewPageRun {
 public:
  ViewPageRun(const PatchedFile& view, std::span<const uint32_t> pages) : view_(view), pages_(pages) {}

  // Copies pages[i] into `out` (a page's size); false when it cannot be read.
  bool Read(size_t i, uint8_t* out) {
    if (!reader_ || read_at_ != view_.changes() || i < first_) {
      first_ = i;
      read_at_ = view_.changes();
      reader_ = std::make_unique<PageRunReader>(view_, pages_.subspan(i));
    }
    const uint8_t* page = reader_->Page(i - first_);
    if (page == nullptr) return false;
    std::memcpy(out, page, view_.page_size());
    return true;
  }

 private:
  const PatchedFile& view_;
  std::span<const uint32_t> pages_;
  std::unique_ptr<PageRunReader> reader_;
  size_t first_ = 0;  // pages_[first_] is the reader's first page
  uint64_t read_at_ = 0;  // view_.changes() when the reader was made
};

// Index pages built during the salvage go to the end of the patched file.
class AppendSink final : public PageSink {
 public:
  explicit AppendSink(PatchedFile* file) : file_(file), format_(file->format()) {}
  const Format& format() const override { return format_; }
  Status Allocate(uint32_t* page_number) override {
    *page_number = file_->Append();
    return Status::Ok();
  }
  Status Write(uint32_t page_number, std::span<const uint8_t> page) override {
    if (page.size() != format_.page_size) return Status::Error(ErrorKind::kInvalidArgument, "page image size");
    std::memcpy(file_->Mutable(page_number), page.data(), page.size());
    return Status::Ok();
  }

 private:
  PatchedFile* file_;
  Format format_;
};

// Where a live row's bytes are: its own slot, or an overflow row's target.
struct RowPlace {
  uint32_t page = 0;
  uint32_t start = 0;
  uint32_t size = 0;
};

// A table's data pages (ascending) with the position of each among them: rows are
// looked up by pointer in the order of an index's entries, which jumps about the
// pages, so a position is read from a table rather than searched for. The table spans
// the page numbers from the first page to the last, 4 bytes each; a span wider than
// any file of either format can have is searched instead.
class TablePageList {
 public:
  explicit TablePageList(std::vector<uint32_t> pages) : pages_(std::move(pages)) {
    if (pages_.empty()) return;
    // Bounds from the values, not the ends, so that no order of the pages can write
    // outside the table.
    const auto [low, high] = std::minmax_element(pages_.begin(), pages_.end());
    first_ = *low;
    const uint64_t span = uint64_t(*high) - first_ + 1;
    if (span > kMaxSpan) return;
    position_.assign(size_t(span), 0);
    for (size_t at = pages_.size(); at-- > 0;) position_[pages_[at] - first_] = uint32_t(at + 1);  // the first of repeats
  }

  const std::vector<uint32_t>& pages() const { return pages_; }
  size_t size() const { return pages_.size(); }
  // Position of `page` among the pages, or -1.
  ptrdiff_t PositionOf(uint32_t page) const {
    if (!position_.empty()) {
      if (page < first_ || page - first_ >= position_.size()) return -1;
      return ptrdiff_t(position_[page - first_]) - 1;
    }
    auto it = std::lower_bound(pages_.begin(), pages_.end(), page);
    return it != pages_.end() && *it == page ? it - pages_.begin() : -1;
  }

 private:
  static constexpr uint64_t kMaxSpan = uint64_t(1) << 22;
  std::vector<uint32_t> pages_;
  uint32_t first_ = 0;
  std::vector<uint32_t> position_;  // by page - first_: its position + 1, 0 when not a page of the list
};

// One bit per row slot of a table's data pages, by row pointer: the rows the salvage
// saw or kept, or the rows an index points at. 32 bytes a page, however many rows the
// table holds, where a list of pointers would take 4 bytes a row.
class RowBits {
 public:
  // `pages` outlives the bits.
  explicit RowBits(const TablePageList* pages) : pages_(pages), bits_(pages->size()) {}

  // Position of `page` among the pages, or -1.
  ptrdiff_t PageAt(uint32_t page) const { return pages_->PositionOf(page); }
  bool Has(uint32_t pointer) const {
    const ptrdiff_t at = PageAt(pointer >> 8);
    return at >= 0 && (bits_[size_t(at)][(pointer & 0xFF) / 64] >> (pointer & 63) & 1) != 0;
  }
  void Set(uint32_t pointer, bool on = true) {
    const ptrdiff_t at = PageAt(pointer >> 8);
    if (at < 0) return;
    uint64_t& word = bits_[size_t(at)][(pointer & 0xFF) / 64];
    const uint64_t bit = uint64_t(1) << (pointer & 63);
    word = on ? word | bit : word & ~bit;
  }
  // Calls visit(pointer) for every set bit of the pages at positions [first, last),
  // in ascending order.
  template <typename Visit>
  void ForEach(size_t first, size_t last, Visit visit) const {
    for (size_t at = first; at < last && at < bits_.size(); ++at)
      for (unsigned w = 0; w < 4; ++w)
        for (uint64_t word = bits_[at][w]; word != 0; word &= word - 1)
          visit((pages_->pages()[at] << 8) | (w * 64 + unsigned(std::countr_zero(word))));
  }
  template <typename Visit>
  void ForEach(Visit visit) const { ForEach(0, bits_.size(), visit); }
  // Bits over the same pages, none set.
  RowBits EmptyLike() const { return RowBits(pages_); }

 private:
  const TablePageList* pages_;
  std::vector<std::array<uint64_t, 4>> bits_;
};

// Table pages per bucket of KeyPrints: a bucket whose rows and entries disagree is
// looked at row by row.
constexpr size_t kPrintBucketPages = 16;

// The entries an index should hold, as fingerprints (EntryMix, see
// jet/maintain/entry_fingerprint.h) summed per bucket of table pages: a few
// kilobytes where a map of keys would take as much as the index.
struct KeyPrints {
  size_t index = 0;  // among the definition's real indexes
  std::vector<uint64_t> sums;
  std::vector<uint64_t> counts;

  void Add(size_t bucket, uint32_t pointer, const std::string& key) {
    sums[bucket] += EntryMix(pointer, KeyHash(key));
    ++counts[bucket];
  }
};

// True when every column of `index` is null in `values` (a row's values).
bool KeyAllNull(const TableDef& def, const RealIndex& index, const std::vector<Value>& values) {
  for (const IndexColumn& ic : index.columns) {
    const int at = def.FindColumnByNumber(ic.column_number);
    if (at >= 0 && !values[size_t(at)].is_null()) return false;
  }
  return true;
}

// True when some column of `index` is null in `values` (a row's values).
bool KeyAnyNull(const TableDef& def, const RealIndex& index, const std::vector<Value>& values) {
  for (const IndexColumn& ic : index.columns) {
    const int at = def.FindColumnByNumber(ic.column_number);
    if (at >= 0 && values[size_t(at)].is_null()) return true;
  }
  return false;
}

class Salvager {
 public:
  // Scratch files of the index sorts go beside `scratch_beside` (the destination).
  Salvager(Env* env, std::string scratch_beside, PageFile& source, const CheckReport& check, RepairReport* report)
      : env_(env), scratch_beside_(std::move(scratch_beside)), view_(source), format_(source.format()), check_(check),
        report_(report), page_(format_.page_size), other_(format_.page_size), row_page_(format_.page_size),
        share_page_(format_.page_size) {}

  Status Run();
  // After Run: the salvaged view, for a reader of its own; the salvager is done
  // with it.
  Status TakeView(std::unique_ptr<PageFile>* salvaged);

 private:
  // Reads the definition at `first`, cutting its chain at a pointer that leads off
  // the file, to a page that is not a definition page, or back into the chain.
  Status ReadDefinition(uint32_t first, TableDef* def);
  // The last resort of ReadDefinition: the definition at `first` rewritten with its
  // columns alone (jet/read/table_def.h ReadTableDefColumns), without indexes or
  // long-value maps; the columns placed by their rows (maintain/column_evidence.h).
  // A column whose record no engine writes is left out, and named in
  // columns_dropped_. `why` (the reason the whole definition does not read) when even
  // the columns cannot be read.
  Status KeepColumnsOnly(uint32_t first, const Status& why, TableDef* def);
  // A definition that reads whole, with one fixed column no row holds where it says:
  // that column's offset mended by the rows (jet/maintain/column_evidence.h).
  Status MendFixedOffsetByRows(uint32_t first, TableDef* def);
  // Marks slot `row` of its page deleted, and remembers that the salvage did.
  void DeleteSlot(RowId row);
  // Where the row of `slot` is: the slot's bytes, or the target its overflow pointer
  // reaches (its row pointer into `target_pointer`, when given).
  Status Locate(const TableDef& def, RowId id, const uint8_t* page, const RowSlot& slot, RowPlace* place,
                uint32_t* target_pointer = nullptr);
  // Reads page `number` into row_page_, unless it holds that page unchanged.
  Status ReadRowPage(uint32_t number);
  // The decoder of kept_decoder_, made for `def` when there is none or the view
  // changed since.
  RowDecoder& KeptRowDecoder(const TableDef& def);
  // Checks one row (and mends its long values); an error, and why, when it must be
  // dropped. On success values_ holds the row's values.
  Status SalvageRow(const TableDef& def, RowId id, const RowPlace& place, RepairTableReport* table,
                    LossReason* reason);
  // Makes the long value of column `c` readable: cut at its break, or null. False,
  // with nothing written, when it needs a mend and the row's bytes may be another's.
  bool MendLongValue(const TableDef& def, RowId id, const RowPlace& place, size_t c, RepairTableReport* table);
  void SetNull(const RowPlace& place, uint16_t column_number);
  // Whether the live row at `place` shares bytes with another live row of its page
  // (RowsSharingBytes): a mend written there might land in the other row.
  bool SharesBytes(const RowPlace& place);
  // The size of LVAL row `pointer` when it is a live row of a long-value page that no
  // tear reached: the whole of a value stored in one row.
  bool SingleRowSize(uint32_t pointer, uint32_t* size);
  void SalvageRows(const TableDef& def, RepairTableReport* table);
  void SalvageTableRows(const TableDef& def, RepairTableReport* table);
  // Empty fingerprints for the indexes of `def` whose keys can be computed, over
  // `pages` table pages.
  std::vector<KeyPrints> KeyPrintsFor(const TableDef& def, size_t pages) const;
  // Where the live row `id` is (its slot, or its overflow target).
  Status PlaceOf(const TableDef& def, RowId id, RowPlace* place);
  // The values of the live row at `pointer`.
  Status DecodeKept(const TableDef& def, RowDecoder& decoder, uint32_t pointer, std::vector<Value>* values);
  // The rows of `kept` that the index entries pointing at them show to be garbled (two
  // indexes disagree with the row where it holds a null, or one does and the row's
  // page lost rows, already in `dropped`, or a unique index does in a way no row can;
  // see the definition); each is marked deleted, cleared from `kept`, counted and
  // added to `dropped`. `prints` are the kept rows' keys. Where the row holds a value
  // for each column of the one entry that disagrees with it, and that entry's key is
  // made of numbers, on a page that lost rows: the entry's values are written back
  // into the row (WriteKeyFromEntry), which is kept.
  void DropRowsTheirIndexesDisown(const TableDef& def, const std::vector<KeyPrints>& prints, RowBits* kept,
                                  RepairTableReport* table, std::vector<uint32_t>* dropped);
  // Writes the values of `entry_key` (an entry of `index` pointing at the live row at
  // `pointer`) into the row's fixed fields, when the key decodes to non-null numbers
  // (DecodeIndexKey) that encode back to it. `what` says which values changed how.
  bool WriteKeyFromEntry(const TableDef& def, const RealIndex& index, uint32_t pointer, const std::string& entry_key,
                         std::string* what);
  // An overflow target is stored flagged deleted, so that scans see its row once,
  // through the pointer. When the row holding the pointer is lost (its page zeroed,
  // its pointer garbled), the target still holds the whole row, as other readers
  // show. A target of `orphans` that no pointer `reached` is adopted (its flag cleared,
  // kept) when its row validates and it stands for a lost row: an index entry pointing
  // at a lost row (not `seen`, or of `pointer_rows_dropped`) holds its key, or, in a
  // table without indexes that give keys, the table lost pages and its definition
  // counts rows not yet accounted for, or there are no more such targets than pointer
  // rows dropped. Without such evidence it is the leftover of a row deleted or moved
  // long ago, and stays deleted. The lost rows not seen that it stands for go into
  // `regained`; the pointer rows dropped it stands for out of `dropped` and the count
  // of lost rows.
  void AdoptOrphanTargets(const TableDef& def, const RowBits& orphans, const RowBits& reached, const RowBits& seen,
                          const std::vector<uint32_t>& pointer_rows_dropped, RepairTableReport* table,
                          std::set<uint32_t>* regained, std::vector<uint32_t>* dropped);
  // For a live row of `page` that starts where the page's stored free space says the
  // free gap is (RowInFreeSpace): true when the free-space field is what is garbled,
  // not the slot. Either may be: it is the slot when another slot's row starts where
  // the gap ends, or the row read from there is whole; the free space when neither
  // holds and the row read from the slot is whole.
  bool FreeSpaceGarbled(const TableDef& def, const uint8_t* page, const DataPageHeader& header, const RowSlot& slot);
  // True when most live rows of data page `number` of the view (overflow pointers
  // aside) read whole under `def`: the flipped bytes that garbled its owner field may
  // have garbled a row too, which the row salvage drops.
  bool RowsReadAsTable(const TableDef& def, uint32_t number);
  // The live rows of data page `page` (overflow pointers aside) that read whole
  // under `def`, and those that do not.
  std::pair<unsigned, unsigned> WholeAndBrokenRows(const TableDef& def, const uint8_t* page) const;
  // True when `owner`, a data page's owner field, names no table definition (nor the
  // long-value owner, nor none): a garbled field, not another table's page.
  bool OwnerNamesNoTable(uint32_t owner) const;
  // Counts the rows of lost pages from the index entries that point at rows neither
  // `seen` nor `regained` (by an adopted overflow target), lists their primary-key
  // values, and returns the count.
  uint64_t CountRowsOfLostPages(const TableDef& def, const RowBits& seen, const std::set<uint32_t>& regained,
                                const RowBits& kept, const std::vector<uint32_t>& dropped, RepairTableReport* table);
  // The table's data pages: its map's, and the pages naming it that the map leaves
  // out (jet/maintain/table_pages.h). A map that disagrees is set aside.
  std::vector<uint32_t> TablePages(const TableDef& def, RepairTableReport* table);
  // Page `number` (in page_) with a row count its free space and slots contradict: the
  // count they imply (RowCountFromFreeSpace) is written over the `stored` one.
  void MendRowCount(uint32_t number, uint16_t stored, RepairTableReport* table);
  // Puts back the one changed offset of the slot table of page `number` (in page_ too)
  // where FindChangedSlotOffset (maintain/slot_mend.h) finds it.
  void MendSlotOffset(const TableDef& def, uint32_t number, RepairTableReport* table);
  // True when page `number` (its bytes in page_), which the table's map names, is
  // one of the table's data pages but for its type byte: the rest of its header says
  // so (second byte 1, the table as owner, a free-space count that matches its
  // slots). The byte is set back, rather than lose the page's rows. The flipped bytes
  // that hit the type byte often hit the owner field beside it: an owner that names
  // no table, under a type byte no page has, is taken for the table too where at
  // least half of the page's live rows, and one at least, read whole as the table's
  // (the same bytes may have hit a row). A row count its free space and slots
  // contradict is taken from them (RowCountFromFreeSpace), and then the rows must
  // read so too. The mended header is written to the view and to page_.
  bool MendDataPageType(const TableDef& def, uint32_t number, RepairTableReport* table);
  // The primary-key values of the rows in `lost` (row pointers) that the primary key's
  // index still holds, into table->lost_keys; values in `kept_keys` are kept rows'.
  void ListLostKeys(const TableDef& def, const std::set<uint32_t>& lost, const std::set<std::string>& kept_keys,
                    RepairTableReport* table);
  // The report of a table whose definition cannot be read: lost, with the rows its
  // data pages hold.
  RepairTableReport ReportLostTable(const std::string& name, uint32_t first, const Status& why);
  // Bytes 0 and 4-7 of every page, read once.
  void TakeCensus();
  void RebuildIndexes(const TableDef& def, const std::string& name, bool catalog_changed,
                      RepairTableReport* table);
  // One index's new tree while the table's rows are read for it.
  struct IndexRebuild {
    size_t real = 0;
    std::string name;
    bool computable = false;
    std::string refused;  // why CanComputeKeys refused, when it did
    // The compaction after the salvage reads a tree of the view only for the primary
    // key's row order and for keys it cannot compute itself; an index all of whose
    // keys the rows give is keyed from the rows again there. Such a rebuild counts its
    // keys, and the view gets an empty tree for it. Set for the primary key, the
    // catalog, an index whose keys cannot be computed, a unique index (whether the
    // rows repeat a key shows in its sorted keys), and (after the scan) one with a
    // row whose key could not be.
    bool tree_needed = true;
    std::unique_ptr<EntrySorter> sorter;  // tree_needed only
    std::vector<uint32_t> need_old_key;  // rows whose key is taken from the old tree
    uint64_t computed = 0;
    Status added = Status::Ok();  // the sorter's first failure; it takes no rows after one
    // The flag of a unique index is in doubt: its old tree holds a key twice, which
    // Access never writes, or its definition record was damaged (its root had to be
    // cleared, ReadTableDefMending). Only then do rows that repeat a key clear the
    // flag; otherwise they are rows that should not be there, and the flag stays.
    bool flag_in_doubt = false;
  };
  // Reads the table's rows once and gives each of `rebuilds` the keys computed from
  // them (a sorter for each whose tree is needed). With `threaded`, the keys and their
  // sorts are computed on a second thread while the rows are read (row_key_pipeline.h);
  // the rebuilds come out the same either way.
  Status ComputeRebuiltKeys(const TableDef& def, const std::vector<IndexRebuild*>& rebuilds, bool threaded);
  // Completes one rebuild: the old tree's keys for the rows that need them, then the
  // new tree. `missing` gets the rows the new tree has no entry for (their keys can be
  // neither computed nor taken from the old tree).
  Status FinishIndexRebuild(const TableDef& def, IndexRebuild& rebuild, const std::string& table_name,
                            RepairTableReport* table, uint64_t* missing);
  // Adds to the rebuild's sorter the old tree's keys of the rows in need_old_key;
  // `reused` gets how many were found, `missing` how many were not.
  Status TakeOldKeys(const TableDef& def, IndexRebuild& rebuild, uint64_t* reused, uint64_t* missing);
  // Rewrites the definition at `first` without real index `real` (its rebuilt tree
  // misses rows); false, with why in the table's notes, when it cannot.
  bool DropIndex(uint32_t first, size_t real, const std::string& table_name, uint64_t missing,
                 RepairTableReport* table);
  // True when the check found damage in `index` of `table` that a new tree mends.
  bool IndexFlagged(const std::string& table, const std::string& index) const;
  // Sets `width` bytes at `logical_offset` of the definition (little-endian).
  void PatchDefinition(const TableDef& def, size_t logical_offset, unsigned width, uint32_t value);
  // The catalog's definition: page 2 as stored when it lays out rows as MSysObjects
  // does, otherwise the built-in definition written over it.
  Status OpenCatalog(TableDef* catalog, bool* replaced);
  // Gives the tables no catalog row reaches (and MSysObjects itself) new catalog
  // rows; `recovered` gets where each was found, by definition page.
  // Drops the MSysQueries rows of queries the catalog no longer holds; each such
  // query is named in the report as lost.
  void DropOrphanQueryRows(const TableDef& def, const std::vector<CatalogObject>& objects, RepairTableReport* table);
  Status RecoverTables(TableDef* catalog, const std::vector<CatalogObject>& objects,
                       std::map<uint32_t, std::string>* recovered, bool* wrote);
  // Drops the catalog rows whose fields no intact row has (see the definition);
  // true when one was dropped.
  bool DropImpossibleCatalogRows(std::vector<CatalogObject>* objects);
  // Gives a table whose catalog flags are impossible (CatalogObject::flags_possible)
  // the flags its name says, in place; the row keeps its other values. True when one
  // was mended.
  bool MendCatalogFlags(const TableDef& catalog, std::vector<CatalogObject>* objects);

  Env* env_;
  const std::string scratch_beside_;
  PatchedFile view_;
  const Format& format_;
  const CheckReport& check_;
  RepairReport* report_;
  std::vector<uint8_t> page_;
  std::vector<uint8_t> other_;
  // SalvageRow's decoder, for the table SalvageRows works on (reset when it starts and
  // ends): one for all its rows, so that long values on consecutive pages are read
  // ahead together. Its reader holds pages, so it is made again after any change to
  // the view.
  std::unique_ptr<RowDecoder> kept_decoder_;
  uint64_t kept_decoder_at_ = 0;  // view_.changes() when it was made
  // The page of the row SalvageRow checks, read once for all the rows it holds.
  std::vector<uint8_t> row_page_;
  std::vector<uint8_t> share_page_;  // SharesBytes' page
  uint32_t row_page_number_ = 0;
  uint64_t row_page_read_at_ = ~uint64_t(0);  // view_.changes() when it was read
  std::vector<Value> values_;  // the values of the row SalvageRow accepted last
  std::vector<uint8_t> row_;
  std::vector<RawColumn> raw_;  // SalvageRow's, kept from row to row
  std::vector<uint8_t> value_;
  std::vector<uint8_t> types_;
  std::vector<uint32_t> owners_;
  // Columns a definition read by its columns alone left out (KeepColumnsOnly), by
  // its first page: every kept row of the table lacks their values.
  std::map<uint32_t, std::vector<std::string>> columns_dropped_;
  // Tables whose owned-pages map was set aside (by definition page): their rows are
  // scanned by owner field, as the compaction will.
  std::set<uint32_t> maps_set_aside_;
  // Tables (by definition page) with adopted overflow targets: their indexes point at
  // the lost pointer rows and are rebuilt.
  std::set<uint32_t> adopted_;
  // Slots the salvage marked deleted (row pointers; as many as the rows it dropped):
  // a row it dropped is never taken back for an orphaned overflow target when a
  // table's rows are checked again.
  std::set<uint32_t> slots_deleted_;
  // Pages whose slot table the salvage mended (MendSlotOffset): damage hit them, so
  // their index entries are evidence as on a page that lost rows.
  std::set<uint32_t> slot_mended_pages_;
  // Tables (by definition page) whose rows the salvage changed in place or found at
  // odds with an index entry: their old trees may hold keys no row gives any more,
  // and are rebuilt, as for a table that lost rows.
  std::set<uint32_t> rows_changed_;
  // Pages dropped from a table (not what its map says): table page -> pages.
  std::map<uint32_t, std::set<uint32_t>> dropped_pages_;
  // Data pages a table's map names whose owner field names another table: table page
  // -> pages. Index entries of the table that point there may be rows the page lost
  // with its owner field.
  std::map<uint32_t, std::set<uint32_t>> mapped_foreign_pages_;
  // Table rows dropped for an impossible id, by the page their id still names (its
  // low three bytes): the name a definition found there that no row reaches goes
  // back under.
  std::map<int32_t, CatalogObject> dropped_table_rows_;
};

// True when an index of `def` names a column `def` does not have: the definition
// reads, but no row can give that index a key.
bool IndexNamesMissingColumn(const TableDef& def) {
  for (const RealIndex& index : def.real_indexes)
    for (const IndexColumn& ic : index.columns)
      if (def.FindColumnByNumber(ic.column_number) < 0) return true;
  return false;
}

// Why `def`, which reads, cannot be carried into a new file as it is: an index naming
// a column the table does not have, a column record no engine writes, or a record
// past its stated length; "" when it can.
std::string UnsoundDefinition(const Format& format, const TableDef& def) {
  if (IndexNamesMissingColumn(def)) return "an index names a column the table does not have";
  if (const ColumnDef* named = UnallowedColumnName(def))
    return "column name \"" + named->name + "\" is none Access allows, or given twice";
  for (const ColumnDef& column : def.columns) {
    if (std::string why = ImpossibleColumnRecord(format, column); !why.empty())
      return "column \"" + column.name + "\": " + why;
    if (IsJet3(format.version) && (column.type() == ColumnType::kText || column.type() == ColumnType::kMemo) &&
        column.code_page != 0 && !IsKnownCodePage(column.code_page))
      return "column \"" + column.name + "\" names code page " + std::to_string(column.code_page) +
             ", which does not exist";
  }
  std::vector<uint8_t> logical;
  const Status s = EncodeTableDef(format, def, &logical);
  return s.ok() ? "" : s.detail();
}

// Whether the catalog's index on (ParentId, Name) can hold a row of this parent and
// name: a name with characters no key table covers cannot be indexed anew.
bool CatalogNameIndexable(const Format& format, const TableDef& catalog, int32_t parent, const std::string& name) {
  const int parent_column = catalog.FindColumnByName("ParentId"), name_column = catalog.FindColumnByName("Name");
  if (parent_column < 0 || name_column < 0) return true;
  std::vector<Value> values(catalog.columns.size());
  values[size_t(parent_column)] = Value::Long(parent);
  values[size_t(name_column)] = Value::Text(name);
  std::string key;
  for (const RealIndex& index : catalog.real_indexes) {
    const bool on_name = std::any_of(index.columns.begin(), index.columns.end(), [&](const IndexColumn& c) {
      return c.column_number == catalog.columns[size_t(name_column)].number;
    });
    if (on_name && !EncodeIndexKey(format, catalog, index, values, &key).ok()) return false;
  }
  return true;
}

Status Salvager::ReadDefinition(uint32_t first, TableDef* def) {
  Status s = ReadTableDef(view_, first, def);
  std::string unsound = s.ok() ? UnsoundDefinition(format_, *def) : "";
  if (s.ok() && unsound.empty()) return MendFixedOffsetByRows(first, def);
  if (s.ok()) s = Status::Error(ErrorKind::kDamaged, unsound);
  // Walk the chain by hand and cut it where it leaves the file's definition pages.
  std::set<uint32_t> seen;
  uint32_t number = first;
  for (;;) {
    if (number == 0 || number >= view_.page_count()) break;
    if (!seen.insert(number).second) break;
    if (!view_.ReadPage(number, page_.data()).ok() || page_[0] != kPageTableDef) break;
    const uint32_t next = LoadLe32(page_.data() + kTableDefNextPageOffset);
    if (next == 0) break;
    bool bad = next >= view_.page_count() || seen.count(next) != 0;
    if (!bad) {
      if (!view_.ReadPage(next, other_.data()).ok() || other_[0] != kPageTableDef) bad = true;
    }
    if (bad) {
      StoreLe32(view_.Mutable(number) + kTableDefNextPageOffset, 0);
      report_->rebuilt.push_back("the definition chain of table page " + std::to_string(first) +
                                 " ended at page " + std::to_string(number) + " (its next-page pointer " +
                                 std::to_string(next) + " led nowhere valid)");
      break;
    }
    number = next;
  }
  *def = TableDef();
  Status again = ReadTableDef(view_, first, def);
  unsound = again.ok() ? UnsoundDefinition(format_, *def) : "";
  if (again.ok() && unsound.empty()) return again;
  s = again.ok() ? Status::Error(ErrorKind::kDamaged, unsound) : again;
  // Mend the parts that are damaged where the columns are intact, rather than lose
  // the table; failing that, keep the columns alone.
  std::vector<TableDefMend> mends;
  if (!ReadTableDefMending(view_, first, def, &mends).ok() || mends.empty()) return KeepColumnsOnly(first, s, def);
  const size_t rebuilt_before = report_->rebuilt.size();
  // Mends of the header and the column records stay in the bytes a rewrite of the
  // columns alone reads; those past them (indexes, long-value maps) it replaces.
  const size_t columns_end = def->columns.empty() ? 0 : def->columns.back().def_offset + format_.column_def_size;
  std::vector<std::string> column_mends;
  for (const TableDefMend& mend : mends) {
    PatchDefinition(*def, mend.offset, mend.width, mend.value);
    report_->rebuilt.push_back("the definition of table page " + std::to_string(first) + " mended: " + mend.what);
    if (mend.offset < columns_end) column_mends.push_back(report_->rebuilt.back());
  }
  *def = TableDef();
  s = ReadTableDef(view_, first, def);
  unsound = s.ok() ? UnsoundDefinition(format_, *def) : "";
  if (s.ok() && unsound.empty()) return s;
  report_->rebuilt.resize(rebuilt_before);
  report_->rebuilt.insert(report_->rebuilt.end(), column_mends.begin(), column_mends.end());
  return KeepColumnsOnly(first, s.ok() ? Status::Error(ErrorKind::kDamaged, unsound) : s, def);
}

Status Salvager::MendFixedOffsetByRows(uint32_t first, TableDef* def) {
  std::vector<TableDefMend> mends;
  if (!jet::MendFixedOffsetByRows(view_, *def, &mends).ok() || mends.empty()) return Status::Ok();
  for (const TableDefMend& mend : mends) {
    PatchDefinition(*def, mend.offset, mend.width, mend.value);
    report_->rebuilt.push_back("the definition of table page " + std::to_string(first) + " mended: " + mend.what);
  }
  *def = TableDef();
  return ReadTableDef(view_, first, def);
}

Status Salvager::KeepColumnsOnly(uint32_t first, const Status& why, TableDef* def) {
  ColumnsOnly read;
  if (!ReadTableDefColumns(view_, first, &read).ok()) return why;
  // A column whose record no engine writes is left out, and the rows keep the other
  // columns: its bytes in a row are where its record says, apart from every other
  // column's. Not so where two columns' fixed bytes overlap: the kept one may be the
  // damaged one, and its values would be another column's bytes.
  if (read.overlap) return Status::Error(why.kind(), why.detail() + "; " + read.dropped.front());
  std::vector<std::string> placed;
  if (Status s = PlaceColumnsByRows(view_, &read, &placed); !s.ok())
    return Status::Error(why.kind(), why.detail() + "; " + s.detail());
  if (read.table.columns.empty()) return Status::Error(why.kind(), why.detail() + "; " + read.dropped.front());
  // The table's page maps stay: its pages are weighed against them as for any table
  // (a map that disagrees with the pages is set aside there), so that the leftovers
  // of rows deleted long ago on pages it gave back stay out.
  TableDef& columns = read.table;
  std::vector<uint8_t> logical;
  std::vector<std::vector<uint8_t>> pages;
  Status s = EncodeColumnsOnlyTableDef(format_, columns, &logical);
  const uint32_t needed = s.ok() ? TableDefPageCount(format_, logical.size()) : 0;
  // Names given in place of lost ones may need a page the damage took from the chain.
  while (s.ok() && needed > columns.pages.size() && needed <= columns.pages.size() + 2)
    columns.pages.push_back(view_.Append());
  if (s.ok() && needed > columns.pages.size()) s = Status::Error(ErrorKind::kDamaged, "the columns need more pages");
  if (s.ok()) s = SplitTableDef(format_, logical, std::span<const uint32_t>(columns.pages.data(), needed), &pages);
  if (!s.ok()) return why;
  for (size_t i = 0; i < pages.size(); ++i)
    std::memcpy(view_.Mutable(columns.pages[i]), pages[i].data(), pages[i].size());
  report_->rebuilt.push_back("the definition of table page " + std::to_string(first) + " could not be read whole (" +
                             why.detail() + "); rewritten with its " + std::to_string(columns.columns.size()) +
                             " readable columns and no indexes or long-value maps");
  for (const std::string& line : read.named)
    report_->assumptions.push_back("table page " + std::to_string(first) + ", " + line);
  for (const std::string& line : placed)
    report_->assumptions.push_back("table page " + std::to_string(first) + ", " + line);
  if (!read.dropped.empty()) columns_dropped_[first] = read.dropped;
  *def = TableDef();
  return ReadTableDef(view_, first, def);
}

void Salvager::DeleteSlot(RowId row) {
  uint8_t* page = view_.Mutable(row.page);
  const uint32_t at = format_.data_header_size + 2u * row.row;
  StoreLe16(page + at, uint16_t(LoadLe16(page + at) | kSlotDeleted));
  slots_deleted_.insert(row.ToPointer());
}

Status Salvager::Locate(const TableDef& def, RowId id, const uint8_t* page, const RowSlot& slot, RowPlace* place,
                        uint32_t* target_pointer) {
  place->page = id.page;
  place->start = slot.start;
  place->size = uint32_t(slot.size());
  if (!slot.overflow) return Status::Ok();
  // Rows are mended between calls: nothing the follower read before may be kept.
  OverflowFollower follower(view_, def.first_page);
  OverflowTarget target;
  if (!follower.Follow(page + slot.start, slot.size(), &target).ok())
    return Status::Error(ErrorKind::kDamaged, follower.failure().Reason());
  place->page = target.row.page;
  place->start = target.start;
  place->size = uint32_t(target.size);
  if (target_pointer) *target_pointer = target.row.ToPointer();
  return Status::Ok();
}

void Salvager::SetNull(const RowPlace& place, uint16_t column_number) {
  uint8_t* row = view_.Mutable(place.page) + place.start;
  const uint32_t count = format_.row_column_count_size == 1 ? row[0] : LoadLe16(row);
  const uint32_t mask_size = (count + 7) / 8;
  if (column_number >= count || mask_size > place.size) return;  // already null
  row[place.size - mask_size + column_number / 8] &= uint8_t(~(1u << (column_number % 8)));
}

bool Salvager::SharesBytes(const RowPlace& place) {
  DataPageHeader header;
  if (!view_.ReadPage(place.page, share_page_.data()).ok() ||
      !ParseDataPage(format_, share_page_.data(), &header).ok())
    return true;
  const std::vector<unsigned> holding = RowsHoldingOtherRows(format_, share_page_.data(), header);
  for (unsigned row : RowsSharingBytes(format_, share_page_.data(), header, holding)) {
    RowSlot slot;
    if (GetRowSlot(format_, share_page_.data(), header, row, &slot).ok() && slot.start == place.start) return true;
  }
  return false;
}

bool Salvager::MendLongValue(const TableDef& def, RowId id, const RowPlace& place, size_t c,
                             RepairTableReport* table) {
  const ColumnDef& column = def.columns[c];
  const std::string where = "row " + RowName(id) + " column \"" + column.name + "\"";
  std::vector<RawColumn> raw;
  std::vector<RowId> lv_rows;
  bool counted = false;  // cut on the first attempt, and counted then
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!ReadRowPage(place.page).ok()) return true;
    const uint8_t* row = row_page_.data() + place.start;
    if (!CrackRow(format_, def, row, place.size, &raw).ok() || raw[c].is_null) return true;
    const uint8_t* field = row + raw[c].offset;
    RowDecoder& decoder = KeptRowDecoder(def);
    Status s = decoder.long_values().Read(field, raw[c].size, &value_, &lv_rows);
    if (s.ok()) {
      // It reads; its content must also be what its column holds (a memo text, not
      // the zeros of a torn page). The bytes just read are the value's: they are not
      // read a second time.
      Value value;
      if (LongValueContentIsJudged(def, c) && decoder.LongColumnValue(c, value_, &value).ok())
        s = ValidateLongValueContent(format_.version, def, c, value);
      if (s.ok()) return true;
      if (SharesBytes(place)) return false;
      if (!counted) ++table->values_cut;
      table->losses.push_back(where + ": long value set to null (" + s.detail() + ")");
      SetNull(place, column.number);
      return true;
    }
    LongValueHeader header;
    const bool parsed = ParseLongValueHeader(field, raw[c].size, &header).ok();
    uint32_t held = 0;
    if (attempt == 0 && parsed && header.kind == kLongValueSingle && SingleRowSize(header.first_row, &held) &&
        held != header.length) {
      // The one row is the value, and it is whole (other readers take it as it is):
      // the length is what is garbled.
      if (SharesBytes(place)) return false;
      const uint32_t word = LoadLe32(field);
      StoreLe32(view_.Mutable(place.page) + place.start + raw[c].offset, (word & 0xC0000000u) | held);
      table->notes.push_back(where + ": long value length " + std::to_string(header.length) +
                             " garbled; its one row holds " + std::to_string(held) + " bytes, taken as the value");
      rows_changed_.insert(def.first_page);
      continue;  // read it again to be sure
    }
    if (attempt == 0 && !value_.empty() && parsed) {
      // Keep what was read: the header says that many bytes, and a chain ends at the
      // last row that was read.
      if (SharesBytes(place)) return false;
      const uint32_t length = header.length;
      const uint32_t word = LoadLe32(field);
      StoreLe32(view_.Mutable(place.page) + place.start + raw[c].offset,
                (word & 0xC0000000u) | uint32_t(value_.size()));
      if (header.kind == kLongValueChain && !lv_rows.empty()) {
        const RowId last = lv_rows.back();
        if (view_.ReadPage(last.page, other_.data()).ok()) {
          DataPageHeader ph;
          RowSlot slot;
          if (ParseDataPage(format_, other_.data(), &ph).ok() &&
              GetRowSlot(format_, other_.data(), ph, last.row, &slot).ok() && slot.size() >= 4)
            StoreLe32(view_.Mutable(last.page) + slot.start, 0);
        }
      }
      ++table->values_cut;
      counted = true;
      table->losses.push_back(where + ": long value cut at byte " + std::to_string(value_.size()) + " of " +
                             std::to_string(length) + " (" + s.detail() + ")");
      continue;  // read it again to be sure
    }
    if (SharesBytes(place)) return false;
    if (attempt == 0) {
      ++table->values_cut;
      table->losses.push_back(where + ": long value unreadable, set to null (" + s.detail() + ")");
    } else {
      table->losses.push_back(where + ": the cut long value is still unreadable, set to null");
    }
    SetNull(place, column.number);
    return true;
  }
  return true;
}

bool Salvager::SingleRowSize(uint32_t pointer, uint32_t* size) {
  const RowId id = RowId::FromPointer(pointer);
  DataPageHeader header;
  RowSlot slot;
  if (id.page == 0 || id.page >= view_.page_count() || !view_.ReadPage(id.page, other_.data()).ok() ||
      !ParseDataPage(format_, other_.data(), &header).ok() || header.owner != kLongValueOwner ||
      !GetRowSlot(format_, other_.data(), header, id.row, &slot).ok() || slot.deleted || slot.size() == 0 ||
      (TornSecondHalf(format_, other_.data()) && slot.end > format_.page_size / 2))
    return false;
  *size = uint32_t(slot.size());
  return true;
}

RowDecoder& Salvager::KeptRowDecoder(const TableDef& def) {
  if (!kept_decoder_ || kept_decoder_at_ != view_.changes()) {
    kept_decoder_ = std::make_unique<RowDecoder>(view_, def);
    kept_decoder_at_ = view_.changes();
  }
  return *kept_decoder_;
}

Status Salvager::ReadRowPage(uint32_t number) {
  if (number == row_page_number_ && row_page_read_at_ == view_.changes()) return Status::Ok();
  row_page_read_at_ = ~uint64_t(0);
  Status s = view_.ReadPage(number, row_page_.data());
  if (!s.ok()) return s;
  row_page_number_ = number;
  row_page_read_at_ = view_.changes();
  return s;
}

Status Salvager::SalvageRow(const TableDef& def, RowId id, const RowPlace& place, RepairTableReport* table,
                            LossReason* reason) {
  std::vector<RawColumn>& raw = raw_;
  *reason = LossReason::kUndecodable;
  Status s = ReadRowPage(place.page);
  if (!s.ok()) return s;
  const uint8_t* row = row_page_.data() + place.start;
  // A torn or garbled row may still crack (zeros read as nulls): its bookkeeping must
  // be what the definition allows, or it is dropped rather than kept as garbage.
  Status valid;
  s = CrackAndValidateRow(format_, def, row, place.size, &raw, &valid);
  std::string mended;
  row_.assign(row, row + place.size);
  if (!valid.ok() && MendRowCounts(format_, def, row_.data(), row_.size(), &mended) && !SharesBytes(place)) {
    // A count byte alone was garbled: the rest of the row names the count.
    std::copy(row_.begin(), row_.end(), view_.Mutable(place.page) + place.start);
    table->notes.push_back("row " + RowName(id) + ": " + mended + "; mended");
    rows_changed_.insert(def.first_page);
    s = ReadRowPage(place.page);
    if (!s.ok()) return s;
    row = row_page_.data() + place.start;
    s = CrackAndValidateRow(format_, def, row, place.size, &raw, &valid);
  }
  if (!s.ok()) return s;
  if (!valid.ok()) {
    *reason = LossReason::kInvalid;
    return valid;
  }
  const uint64_t cracked_at = view_.changes();
  std::vector<size_t> long_values;
  for (size_t c = 0; c < def.columns.size(); ++c)
    if (def.columns[c].is_long_value() && !raw[c].is_null) long_values.push_back(c);
  for (size_t c : long_values)
    if (!MendLongValue(def, id, place, c, table))
      return Status::Error(ErrorKind::kDamaged, "its value of column \"" + def.columns[c].name +
                                                    "\" needs a mend, and its bytes overlap another row's (a changed slot offset)");
  // Every value must decode now, as the compaction and its verification decode them;
  // from the crack above unless a mend has changed the row since.
  s = ReadRowPage(place.page);
  if (!s.ok()) return s;
  RowDecoder& decoder = KeptRowDecoder(def);
  s = view_.changes() == cracked_at ? decoder.DecodeCracked(row_page_.data() + place.start, raw, &values_)
                                    : decoder.Decode(row_page_.data() + place.start, place.size, &values_);
  if (!s.ok()) *reason = LossReason::kInvalid;  // it cracks, but a value is not what its type allows
  return s;
}

void Salvager::TakeCensus() {
  if (!types_.empty()) return;
  types_.assign(view_.page_count(), 0);
  owners_.assign(view_.page_count(), 0);
  ForEachPage(view_, 1, view_.page_count(), [&](uint32_t p, const uint8_t* page) {
    types_[p] = page[0];
    owners_[p] = LoadLe32(page + kPageOwnerOffset);
  });
}

bool Salvager::FreeSpaceGarbled(const TableDef& def, const uint8_t* page, const DataPageHeader& header,
                                const RowSlot& slot) {
  const uint32_t gap_end = format_.data_header_size + 2u * header.row_count + header.free_space;
  // Another slot placing its row where the gap ends bears the free space out.
  for (unsigned i = 0; i < header.row_count; ++i)
    if ((LoadLe16(page + format_.data_header_size + 2 * i) & kSlotOffsetMask) == gap_end) return false;
  // Whole: valid as it is, or but for a garbled count byte (MendRowCounts).
  const auto whole = [&](uint32_t start, uint32_t end) {
    if (ValidateRow(format_, def, page + start, end - start).ok()) return true;
    std::vector<uint8_t> row(page + start, page + end);
    std::string what;
    return MendRowCounts(format_, def, row.data(), row.size(), &what);
  };
  if (gap_end < slot.end && whole(gap_end, slot.end)) return false;
  return whole(slot.start, slot.end);
}

bool Salvager::RowsReadAsTable(const TableDef& def, uint32_t number) {
  std::vector<uint8_t> page(format_.page_size);
  if (!view_.ReadPage(number, page.data()).ok()) return false;
  const auto [whole, broken] = WholeAndBrokenRows(def, page.data());
  return whole > broken;
}

std::pair<unsigned, unsigned> Salvager::WholeAndBrokenRows(const TableDef& def, const uint8_t* page) const {
  DataPageHeader header;
  if (!ParseDataPage(format_, page, &header).ok() || header.row_count > kMaxRowsPerDataPage) return {0, 0};
  unsigned whole = 0, broken = 0;
  for (unsigned i = 0; i < header.row_count; ++i) {
    RowSlot slot;
    if (!GetRowSlot(format_, page, header, i, &slot).ok()) {
      ++broken;
      continue;
    }
    if (slot.deleted || slot.overflow || slot.size() == 0) continue;
    if (ValidateRow(format_, def, page + slot.start, slot.size()).ok())
      ++whole;
    else
      ++broken;
  }
  return {whole, broken};
}

bool Salvager::OwnerNamesNoTable(uint32_t owner) const {
  if (owner == 0 || owner == kLongValueOwner) return false;
  return owner >= types_.size() || types_[owner] != kPageTableDef;
}

void Salvager::MendRowCount(uint32_t number, uint16_t stored, RepairTableReport* table) {
  const uint16_t implied = RowCountFromFreeSpace(format_, page_.data());
  if (implied == 0 || implied == stored) return;
  StoreLe16(view_.Mutable(number) + format_.data_row_count, implied);
  StoreLe16(page_.data() + format_.data_row_count, implied);
  table->notes.push_back("page " + std::to_string(number) + ": its row count " + std::to_string(stored) +
                         " disagreed with its free space and slot table; " + std::to_string(implied) +
                         " taken from them");
}

void Salvager::MendSlotOffset(const TableDef& def, uint32_t number, RepairTableReport* table) {
  unsigned slot = 0;
  uint16_t value = 0;
  // Each round puts one offset back; a page has as many rounds as it has slots at most.
  for (uint32_t round = 0; round < kMaxRowsPerDataPage; ++round) {
    if (!FindChangedSlotOffset(format_, def, page_.data(), &slot, &value)) return;
    const uint32_t at = format_.data_header_size + 2u * slot;
    const uint16_t stored = LoadLe16(page_.data() + at);
    StoreLe16(view_.Mutable(number) + at, value);
    StoreLe16(page_.data() + at, value);
    slot_mended_pages_.insert(number);
    rows_changed_.insert(def.first_page);
    table->notes.push_back("page " + std::to_string(number) + ": the offset of row " + std::to_string(slot) + ", " +
                           std::to_string(stored & kSlotOffsetMask) + ", was changed; " +
                           std::to_string(value & kSlotOffsetMask) +
                           " put back, where it and the row after it read whole");
  }
}

bool Salvager::MendDataPageType(const TableDef& def, uint32_t number, RepairTableReport* table) {
  if (page_[0] == kPageData || page_[1] != 1) return false;
  const uint32_t owner = LoadLe32(page_.data() + kPageOwnerOffset);
  const bool owner_garbled = owner != def.first_page;
  if (owner_garbled && (WrongPageForOwnedMap(page_[0]) || !OwnerNamesNoTable(owner))) return false;
  std::vector<uint8_t> mended = page_;
  mended[0] = kPageData;
  StoreLe32(mended.data() + kPageOwnerOffset, def.first_page);
  const auto sound = [&] {
    DataPageHeader header;
    return ParseDataPage(format_, mended.data(), &header).ok() && header.free_space_matches &&
           header.row_count != 0 && header.row_count <= kMaxRowsPerDataPage;
  };
  const uint16_t stored_count = LoadLe16(mended.data() + format_.data_row_count);
  if (!sound()) {
    const uint16_t implied = RowCountFromFreeSpace(format_, mended.data());
    if (implied != 0) StoreLe16(mended.data() + format_.data_row_count, implied);
  }
  if (!sound()) return false;
  const uint16_t count = LoadLe16(mended.data() + format_.data_row_count);
  // A second field damaged besides the type byte: the rows must show the page is
  // the table's.
  if (owner_garbled || count != stored_count) {
    const auto [whole, broken] = WholeAndBrokenRows(def, mended.data());
    if (whole == 0 || whole < broken) return false;
  }
  std::string line = "page " + std::to_string(number) + " of table \"" + table->name + "\": its type byte (" +
                     std::to_string(page_[0]) + ")";
  if (owner_garbled) line += std::string(count != stored_count ? ", " : " and ") + "owner field (" + std::to_string(owner) + ")";
  if (count != stored_count) line += " and row count (" + std::to_string(stored_count) + ")";
  line += owner_garbled ? " were damaged, the rest of the page is the table's data page" :
                          " was damaged, the rest of its header is that of the table's data page";
  report_->rebuilt.push_back(line + "; set back");
  uint8_t* view_page = view_.Mutable(number);
  view_page[0] = kPageData;
  StoreLe32(view_page + kPageOwnerOffset, def.first_page);
  StoreLe16(view_page + format_.data_row_count, count);
  if (number < types_.size()) {
    types_[number] = kPageData;
    owners_[number] = def.first_page;
  }
  page_ = std::move(mended);
  return true;
}

std::vector<uint32_t> Salvager::TablePages(const TableDef& def, RepairTableReport* table) {
  TakeCensus();
  UsageMap owned;
  std::vector<uint32_t> candidates;
  const bool readable = ReadUsageMap(view_, def.owned_map, &owned).ok();
  if (readable) candidates = owned.pages;
  // A page of the map with a damaged type byte is mended first, so that it counts
  // as the table's page below and the map is not set aside for it.
  for (uint32_t p : candidates)
    if (p < types_.size() && types_[p] != kPageData && view_.ReadPage(p, page_.data()).ok())
      MendDataPageType(def, p, table);
  // A data page of the map whose owner field names no table definition (nor LVAL, nor
  // a map host) has a garbled owner: the map is the better evidence, as long as it
  // names nothing else that is not the table's. A map with other wrong bits is itself
  // damaged, and the pages it names may be another, deleted table's leftovers.
  // An owner naming another table's definition is garbled too where that table's own
  // map, read whole, leaves the page out and most of the page's rows read whole as
  // this table's.
  std::map<uint32_t, std::vector<uint32_t>> other_maps;  // by definition page; empty: no evidence
  const auto other_map_leaves_out = [&](uint32_t owner, uint32_t p) {
    auto it = other_maps.find(owner);
    if (it == other_maps.end()) {
      std::vector<uint32_t> pages;
      TableDef other;
      UsageMap map;
      if (ReadTableDef(view_, owner, &other).ok() && ReadUsageMap(view_, other.owned_map, &map).ok() &&
          map.pages_past_end == 0)
        pages = map.pages;
      std::sort(pages.begin(), pages.end());
      it = other_maps.emplace(owner, std::move(pages)).first;
    }
    return !it->second.empty() && !std::binary_search(it->second.begin(), it->second.end(), p);
  };
  const auto owner_garbled = [&](uint32_t p) {
    if (p >= types_.size() || types_[p] != kPageData || owners_[p] == def.first_page) return false;
    const uint32_t owner = owners_[p];
    if (owner == 0 || owner == kLongValueOwner) return false;
    if (owner >= types_.size() || types_[owner] != kPageTableDef) return true;
    return other_map_leaves_out(owner, p) && RowsReadAsTable(def, p);
  };
  bool map_otherwise_sound = owned.pages_past_end == 0;
  for (uint32_t p : candidates)
    if (map_otherwise_sound && (p >= types_.size() || owners_[p] != def.first_page) && !owner_garbled(p))
      map_otherwise_sound = false;
  for (uint32_t p : candidates) {
    if (!map_otherwise_sound || !owner_garbled(p)) continue;
    const uint32_t owner = owners_[p];
    StoreLe32(view_.Mutable(p) + kPageOwnerOffset, def.first_page);
    owners_[p] = def.first_page;
    table->notes.push_back("page " + std::to_string(p) + ": its owner field (" + std::to_string(owner) +
                           ") names no table that holds it; the table's map names the page, which was given back "
                           "to it");
  }
  // The pages are the truth, the map is evidence: pages that name the table and hold
  // rows count whatever the map says.
  std::vector<uint32_t> own_mapped;
  for (uint32_t p : candidates)
    if (p < types_.size() && types_[p] == kPageData && owners_[p] == def.first_page) own_mapped.push_back(p);
  const std::vector<uint32_t> unmapped = UnmappedDataPages(view_, types_, owners_, def, own_mapped);
  size_t wrong = 0;
  // A page of the map that does not name the table is a wrong bit (readers that
  // trust the map fail on it); one that names it under another type is a damaged
  // data page, handled below.
  for (uint32_t p : candidates) {
    if (p >= types_.size() || owners_[p] == def.first_page) continue;
    ++wrong;
    if (types_[p] == kPageData) mapped_foreign_pages_[def.first_page].insert(p);
  }
  wrong += owned.pages_past_end;
  if (readable && (!unmapped.empty() || wrong > 0)) {
    // The compaction, which trusts the map, finds the pages by their owner field when
    // the table has none; it writes a new map either way.
    PatchDefinition(def, format_.tdef_owned_map, 4, 0);
    maps_set_aside_.insert(def.first_page);
    std::string line = "the owned-pages map of table \"" + table->name + "\" disagreed with the pages (";
    if (!unmapped.empty()) line += std::to_string(unmapped.size()) + " pages with its rows left out";
    if (!unmapped.empty() && wrong > 0) line += ", ";
    if (wrong > 0) line += std::to_string(wrong) + " pages named that are not its own, or past the end";
    report_->rebuilt.push_back(line + "); its pages were found by their owner field and the map rebuilt");
  }
  candidates.insert(candidates.end(), unmapped.begin(), unmapped.end());
  std::sort(candidates.begin(), candidates.end());
  std::vector<uint32_t> pages;
  ViewPageRun run(view_, candidates);
  for (size_t at = 0; at < candidates.size(); ++at) {
    const uint32_t p = candidates[at];
    if (!run.Read(at, page_.data())) continue;
    if (WrongPageForOwnedMap(page_[0])) continue;  // a wrong bit, reported above
    DataPageHeader header;
    const bool parsed = ParseDataPage(format_, page_.data(), &header).ok();
    if (page_[0] == kPageData && (!parsed || header.row_count > kMaxRowsPerDataPage || !header.free_space_matches))
      MendRowCount(p, header.row_count, table);
    if (!ParseDataPage(format_, page_.data(), &header).ok() || header.row_count > kMaxRowsPerDataPage) {
      dropped_pages_[def.first_page].insert(p);
      table->notes.push_back("page " + std::to_string(p) + " of the table's map is not a readable data page (type " +
                             std::to_string(page_[0]) + "); whatever rows it held are lost");
      continue;
    }
    if (header.owner != def.first_page) continue;  // another table's page: not ours to judge
    MendSlotOffset(def, p, table);
    pages.push_back(p);
  }
  return pages;
}

void Salvager::SalvageRows(const TableDef& def, RepairTableReport* table) {
  kept_decoder_.reset();  // it may hold another table's definition
  SalvageTableRows(def, table);
  kept_decoder_.reset();  // `def` may not outlive the call
}

void Salvager::SalvageTableRows(const TableDef& def, RepairTableReport* table) {
  const TablePageList page_list(TablePages(def, table));
  const std::vector<uint32_t>& pages = page_list.pages();
  RowBits seen(&page_list);  // rows kept or dropped here
  RowBits kept(&page_list);
  std::vector<uint32_t> dropped;  // rows dropped here
  RowBits orphans(&page_list);    // overflow targets, reached or not
  RowBits reached(&page_list);    // targets an overflow pointer reached
  std::vector<uint32_t> pointer_rows_dropped;  // overflow rows whose pointer led nowhere
  uint64_t garbled_slots = 0;                  // deleted slots with extents no row has
  uint64_t live_slots_garbled = 0;             // live slots dropped for extents no row has
  std::vector<KeyPrints> prints = KeyPrintsFor(def, pages.size());
  std::vector<uint8_t> scanned(format_.page_size);
  std::string key;
  ViewPageRun run(view_, pages);
  for (size_t at = 0; at < pages.size(); ++at) {
    const uint32_t p = pages[at];
    uint64_t read_at = ~uint64_t(0);  // view_.changes() when `scanned` was read
    DataPageHeader header;
    std::vector<unsigned> holding;  // rows holding others' bytes, as the page came
    for (unsigned i = 0;; ++i) {
      // Read again only after a change: a row of it dropped or mended.
      if (read_at != view_.changes()) {
        if (!run.Read(at, scanned.data()) || !ParseDataPage(format_, scanned.data(), &header).ok()) break;
        if (i == 0) holding = RowsHoldingOtherRows(format_, scanned.data(), header);
        read_at = view_.changes();
        // Its rows are checked next, from a page of their own (SalvageRow's).
        std::memcpy(row_page_.data(), scanned.data(), scanned.size());
        row_page_number_ = p;
        row_page_read_at_ = read_at;
      }
      if (i >= header.row_count) break;
      const RowId id{p, uint8_t(i)};
      RowSlot slot;
      Status s = GetRowSlot(format_, scanned.data(), header, i, &slot);
      // A deleted row keeps its bytes where they were: a deleted slot placing them in
      // the free space is as garbled as one with an impossible extent.
      if (s.ok() && slot.deleted &&
          (slot.impossible_extent || (slot.size() > 0 && RowInFreeSpace(format_, header, slot))))
        ++garbled_slots;
      if (s.ok() && slot.deleted) {
        // The target of an overflow pointer carries the deleted flag alone; it is
        // adopted below if the row whose pointer reached it is lost.
        if (!slot.overflow && slot.size() > 0) orphans.Set(id.ToPointer());
        continue;
      }
      if (s.ok() && RowInFreeSpace(format_, header, slot) && !FreeSpaceGarbled(def, scanned.data(), header, slot))
        s = Status::Error(ErrorKind::kDamaged, "the row starts inside the page's free space");
      if (s.ok() && std::binary_search(holding.begin(), holding.end(), i))
        s = Status::Error(ErrorKind::kDamaged, "its extent holds all of another row's bytes (a changed slot offset)");
      const bool slot_fault = !s.ok();
      seen.Set(id.ToPointer());
      RowPlace place;
      LossReason reason = LossReason::kUndecodable;
      uint32_t target = 0;
      if (s.ok()) s = Locate(def, id, scanned.data(), slot, &place, &target);
      const bool located = s.ok();
      if (located && slot.overflow) reached.Set(target);
      if (s.ok()) s = SalvageRow(def, id, place, table, &reason);
      if (!s.ok()) {
        DeleteSlot(id);
        dropped.push_back(id.ToPointer());
        if (slot.overflow && !located) pointer_rows_dropped.push_back(id.ToPointer());
        table->Lose(reason);
        table->losses.push_back("row " + RowName(id) + " dropped: " + s.detail());
        live_slots_garbled += slot_fault;
        continue;
      }
      ++table->rows_kept;
      kept.Set(id.ToPointer());
      for (KeyPrints& print : prints) {
        const RealIndex& index = def.real_indexes[print.index];
        if ((index.flags & kIndexIgnoreNulls) && KeyAllNull(def, index, values_)) continue;
        if (!EncodeIndexKey(format_, def, index, values_, &key).ok()) continue;
        print.Add(at / kPrintBucketPages, id.ToPointer(), key);
      }
    }
    // Slots may have been marked deleted: the stored free space stays what the rows
    // take, which the compaction recomputes anyway.
  }
  DropRowsTheirIndexesDisown(def, prints, &kept, table, &dropped);
  std::set<uint32_t> regained;  // lost rows not seen that adopted overflow targets stand for
  AdoptOrphanTargets(def, orphans, reached, seen, pointer_rows_dropped, table, &regained, &dropped);
  const uint64_t most = CountRowsOfLostPages(def, seen, regained, kept, dropped, table);
  if (garbled_slots > 0 && most == 0 && def.row_count > table->RowsFound()) {
    // Slots flagged deleted whose extents no row can have: a garbled slot may hide a
    // live row. The definition's row count tells, up to their number.
    const uint64_t more = std::min<uint64_t>(def.row_count - table->RowsFound(), garbled_slots);
    table->Lose(LossReason::kUndecodable, more);
    table->losses.push_back(std::to_string(more) + " rows had slots garbled into deleted ones (counted from the " +
                           "row count the table's definition stores)");
  }
  if (live_slots_garbled > 0 && most == 0 && table->RowsFound() > def.row_count) {
    // The other way round: a deleted slot whose flag was garbled reads as a live one
    // with an extent no row has, just as a live row's garbled slot does. The
    // definition's row count tells how many of those were rows, so that no row is
    // reported lost that the table did not have.
    const uint64_t fewer = std::min<uint64_t>(table->RowsFound() - def.row_count, live_slots_garbled);
    for (uint64_t i = 0; i < fewer; ++i) table->Regain(LossReason::kUndecodable);
    table->losses.push_back(std::to_string(fewer) + " of the slots dropped for their extents are not counted as " +
                            "lost rows: the table's definition stores that many rows fewer (deleted slots " +
                            "garbled into live ones)");
  }
  // Pages lost: dropped, or named by the map while their owner field names another
  // table (a flipped owner: the page's rows are no longer the table's).
  size_t gone = 0;
  for (const auto* pages : {&dropped_pages_, &mapped_foreign_pages_}) {
    auto it = pages->find(def.first_page);
    if (it != pages->end()) gone += it->second.size();
  }
  if (gone == 0) return;
  // Pages were lost: the row count the definition stores says how many rows there
  // were where no index tells, or tells fewer (an index that leaves out nulls). The
  // count may be stale, so it is believed only up to what the lost pages can hold.
  const uint64_t found = table->RowsFound();
  const uint64_t capacity = uint64_t(gone) * kMaxRowsPerDataPage;
  const uint64_t more = def.row_count > found ? std::min<uint64_t>(def.row_count - found, capacity) : 0;
  if (more > 0) {
    table->Lose(LossReason::kPageLost, more);
    table->notes.push_back(std::to_string(more) + " rows were on pages that are lost (counted from the row count " +
                           "the table's definition stores" + (most > 0 ? ", beyond what its indexes show)" : ")"));
  } else if (most == 0) {
    table->notes.push_back("the number of rows on the lost pages is not known (no index points at them, and the "
                           "table's definition counts no more rows than were found)");
  }
}

std::vector<KeyPrints> Salvager::KeyPrintsFor(const TableDef& def, size_t pages) const {
  std::vector<KeyPrints> prints;
  const size_t buckets = (pages + kPrintBucketPages - 1) / kPrintBucketPages;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndex& index = def.real_indexes[i];
    if (!CanComputeKeys(format_, def, index)) continue;
    prints.emplace_back();
    prints.back().index = i;
    prints.back().sums.assign(buckets, 0);
    prints.back().counts.assign(buckets, 0);
  }
  return prints;
}

Status Salvager::PlaceOf(const TableDef& def, RowId id, RowPlace* place) {
  // Through SalvageRow's page: the row is mostly read from that page next.
  Status s = ReadRowPage(id.page);
  if (!s.ok()) return s;
  DataPageHeader header;
  s = ParseDataPage(format_, row_page_.data(), &header);
  if (!s.ok()) return s;
  RowSlot slot;
  s = GetRowSlot(format_, row_page_.data(), header, id.row, &slot);
  if (!s.ok()) return s;
  if (slot.deleted) return Status::Error(ErrorKind::kDamaged, "the row is deleted");
  return Locate(def, id, row_page_.data(), slot, place);
}

Status Salvager::DecodeKept(const TableDef& def, RowDecoder& decoder, uint32_t pointer, std::vector<Value>* values) {
  RowPlace place;
  Status s = PlaceOf(def, RowId::FromPointer(pointer), &place);
  if (s.ok()) s = ReadRowPage(place.page);
  if (s.ok()) s = decoder.Decode(row_page_.data() + place.start, place.size, values);
  return s;
}

// A byte flipped inside a row can leave its bookkeeping intact and change a value.
// Jet keeps no checksum, but every index holds each row's key beside a pointer to it:
// where the key computed from a row differs from the entry pointing at it, the row or
// the entry is garbled. Which one is judged conservatively. A value the row holds may
// be changed by a flipped byte, as every reader reads it, and such a row is kept; but
// a key column the row holds as null where the entry differs is a flipped null-mask
// bit, the row's bookkeeping. That row is dropped when the entries of two indexes (two
// trees, on pages of their own) both disagree with it: damage to one page cannot
// garble both, so it is the row; likewise when one entry disagrees and the row's page
// lost other rows to damage. With one unique index, whose keys identify their rows,
// the row is dropped when its key is impossible for the index (a null where the index
// requires a value) or is the key of another row's entry (it would repeat that row's
// key). With any index, a row holding a fixed key column as null whose stored bytes
// give the very key of the entry pointing at it has a flipped null-mask bit: the value
// is still there, the entry is the row's own, and the row is dropped; so is a row
// that gives that key once the gap before its trailer is closed (a flipped end offset
// cut its last variable value short). Any other difference is noted and the row kept: a garbled entry is no reason
// to lose a row, and the index is rebuilt anyway.
//
bool Salvager::WriteKeyFromEntry(const TableDef& def, const RealIndex& index, uint32_t pointer,
                                 const std::string& entry_key, std::string* what) {
  RowDecoder decoder(view_, def);
  std::vector<Value> values, wanted;
  std::string key;
  if (!DecodeKept(def, decoder, pointer, &values).ok()) return false;
  wanted = values;
  if (!DecodeIndexKey(def, index, entry_key, &wanted) || !EncodeIndexKey(format_, def, index, wanted, &key).ok() ||
      key != entry_key)
    return false;
  RowPlace place;
  std::vector<RawColumn> raw;
  if (!PlaceOf(def, RowId::FromPointer(pointer), &place).ok() || SharesBytes(place) || !ReadRowPage(place.page).ok() ||
      !CrackRow(format_, def, row_page_.data() + place.start, place.size, &raw).ok())
    return false;
  for (const IndexColumn& ic : index.columns) {
    const size_t p = size_t(def.FindColumnByNumber(ic.column_number));
    if (wanted[p].is_null() || values[p].is_null() || raw[p].is_null ||
        raw[p].size != KeyValueWidth(def.columns[p].type()))
      return false;
  }
  what->clear();
  for (const IndexColumn& ic : index.columns) {
    const size_t p = size_t(def.FindColumnByNumber(ic.column_number));
    if (wanted[p] == values[p]) continue;
    uint8_t* field = view_.Mutable(place.page) + place.start + raw[p].offset;
    const int64_t n = wanted[p].integer();
    if (raw[p].size == 1) field[0] = uint8_t(n);
    else if (raw[p].size == 2) StoreLe16(field, uint16_t(n));
    else StoreLe32(field, uint32_t(n));
    *what += (what->empty() ? "" : ", ") + def.columns[p].name + " " + values[p].ToText() + " to " + wanted[p].ToText();
  }
  return true;
}

// The rows' keys were summed per bucket of pages as they were checked; the index's
// entries are summed the same way, and only the buckets whose sums differ are looked
// at row by row, so that memory stays small however large the table.
void Salvager::DropRowsTheirIndexesDisown(const TableDef& def, const std::vector<KeyPrints>& prints, RowBits* kept,
                                          RepairTableReport* table, std::vector<uint32_t>* dropped) {
  std::set<uint32_t> damaged_pages;  // pages damage hit (rows lost, slots mended): their index entries are the evidence
  for (uint32_t pointer : *dropped) damaged_pages.insert(RowId::FromPointer(pointer).page);
  damaged_pages.insert(slot_mended_pages_.begin(), slot_mended_pages_.end());
  // Of the rows whose key differs from an entry pointing at them: the first index
  // that differs, and the indexes that differ where the row holds a null.
  std::map<uint32_t, std::string> first_differing;
  std::map<uint32_t, std::vector<std::string>> disowned_by;
  std::set<uint32_t> mended;  // rows given their values back from an entry
  RowDecoder decoder(view_, def);
  std::vector<Value> values;
  std::string key;
  const auto drop = [&](uint32_t pointer, const std::string& why) {
    const RowId id = RowId::FromPointer(pointer);
    DeleteSlot(id);
    kept->Set(pointer, false);
    dropped->push_back(pointer);
    damaged_pages.insert(id.page);
    --table->rows_kept;
    table->Lose(LossReason::kInvalid);
    table->losses.push_back("row " + RowName(id) + " dropped: its values are garbled (" + why + ")");
  };
  for (const KeyPrints& print : prints) {
    const size_t i = print.index;
    const RealIndex& index = def.real_indexes[i];
    const bool unique = (index.flags & kIndexUnique) != 0;
    const bool required = (index.flags & kIndexRequired) != 0 || def.IsPrimaryKey(i);
    const auto bucket_of = [&](uint32_t pointer) {
      const ptrdiff_t at = kept->PageAt(pointer >> 8);
      return at < 0 ? -1 : at / ptrdiff_t(kPrintBucketPages);
    };
    KeyPrints entries_print;
    entries_print.sums.assign(print.sums.size(), 0);
    entries_print.counts.assign(print.counts.size(), 0);
    IndexWalkStats stats;
    const Status walked = WalkIndex(view_, def.first_page, index.root_page,
                                    [&](const std::string& k, const RowId& row) {
                                      const ptrdiff_t b = bucket_of(row.ToPointer());
                                      if (b >= 0) entries_print.Add(size_t(b), row.ToPointer(), k);
                                      return true;
                                    },
                                    &stats);
    if (!walked.ok()) continue;  // a broken tree is no evidence
    std::vector<bool> differs(print.sums.size(), false);
    bool any = false;
    for (size_t b = 0; b < differs.size(); ++b)
      if (print.sums[b] != entries_print.sums[b] || print.counts[b] != entries_print.counts[b]) differs[b] = any = true;
    if (!any) continue;
    // The entries pointing into those buckets, by row pointer.
    std::vector<std::pair<uint32_t, std::string>> entries;
    WalkIndex(view_, def.first_page, index.root_page,
              [&](const std::string& k, const RowId& row) {
                const ptrdiff_t b = bucket_of(row.ToPointer());
                if (b >= 0 && differs[size_t(b)]) entries.emplace_back(row.ToPointer(), k);
                return true;
              },
              &stats);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // The kept rows there that entries point at, none of them with the row's key.
    struct Suspect {
      uint32_t pointer;
      std::string key;
      bool key_null;
      bool some_null;
      bool unmasked = false;  // an entry holds the key its bytes under null bits or a cut end give
      bool repeats = false;
      std::string entry_key;  // the key of the one entry pointing at it ("" when several do)
    };
    std::vector<Suspect> suspects;
    // The key of the row at `pointer` (its values `v`) with the fixed key columns it
    // holds as null read from the bytes they keep, or else with the gap before its
    // trailer closed (CloseGapBeforeTrailer); false when neither applies.
    const auto key_under_nulls = [&](uint32_t pointer, std::vector<Value> v, std::string* out) {
      RowPlace place;
      if (!PlaceOf(def, RowId::FromPointer(pointer), &place).ok() || !ReadRowPage(place.page).ok()) return false;
      const uint8_t* row = row_page_.data() + place.start;
      std::vector<uint8_t> closed(row, row + place.size);
      std::vector<Value> w;
      if (CloseGapBeforeTrailer(format_, def, closed.data(), closed.size()) &&
          decoder.Decode(closed.data(), closed.size(), &w).ok() && EncodeIndexKey(format_, def, index, w, out).ok())
        return true;
      bool any = false;
      for (const IndexColumn& ic : index.columns) {
        const int pos = def.FindColumnByNumber(ic.column_number);
        RawColumn raw;
        if (pos < 0 || !v[size_t(pos)].is_null() || !FixedBytesUnderNull(format_, def, row, place.size, size_t(pos), &raw))
          continue;
        if (!decoder.ColumnValue(size_t(pos), row, raw, &v[size_t(pos)]).ok()) return false;
        any = true;
      }
      return any && EncodeIndexKey(format_, def, index, v, out).ok();
    };
    std::string hidden;
    for (size_t b = 0; b < differs.size(); ++b) {
      if (!differs[b]) continue;
      kept->ForEach(b * kPrintBucketPages, (b + 1) * kPrintBucketPages, [&](uint32_t pointer) {
        auto lo = std::lower_bound(entries.begin(), entries.end(), pointer,
                                   [](const auto& e, uint32_t p) { return e.first < p; });
        auto hi = lo;
        while (hi != entries.end() && hi->first == pointer) ++hi;
        if (lo == hi || !DecodeKept(def, decoder, pointer, &values).ok() ||
            !EncodeIndexKey(format_, def, index, values, &key).ok())
          return;
        for (auto e = lo; e != hi; ++e)
          if (e->second == key) return;
        suspects.push_back(
            Suspect{pointer, key, KeyAllNull(def, index, values), KeyAnyNull(def, index, values), false, false, {}});
        if (hi - lo == 1) suspects.back().entry_key = lo->second;
        if (key_under_nulls(pointer, values, &hidden))
          for (auto e = lo; e != hi; ++e) suspects.back().unmasked = suspects.back().unmasked || e->second == hidden;
      });
    }
    if (suspects.empty()) continue;
    const std::string index_name = RealIndexName(def, i);
    // The value is still there, under a null bit or past a cut end offset: the entry
    // is the row's own, and the row's bookkeeping is what is garbled.
    for (const Suspect& suspect : suspects)
      if (suspect.unmasked)
        drop(suspect.pointer, "the entry of index \"" + index_name + "\" that points at it holds the key that " +
                                  "its bytes give where its null mask or its offset table hides them");
    for (const Suspect& suspect : suspects) {
      // A garbled number on a page damage has hit, where the index still holds it.
      std::string what;
      if (!suspect.unmasked && !suspect.some_null && !suspect.entry_key.empty() && !mended.count(suspect.pointer) &&
          damaged_pages.count(RowId::FromPointer(suspect.pointer).page) &&
          WriteKeyFromEntry(def, index, suspect.pointer, suspect.entry_key, &what)) {
        mended.insert(suspect.pointer);
        rows_changed_.insert(def.first_page);
        table->notes.push_back("row " + RowName(RowId::FromPointer(suspect.pointer)) + ": its key differs from the " +
                               "entry of index \"" + index_name + "\" that points at it, and other rows of its " +
                               "page are damaged; the entry's values written back (" + what + ")");
        continue;
      }
      first_differing.emplace(suspect.pointer, index_name);
      if (suspect.some_null) disowned_by[suspect.pointer].push_back(index_name);
    }
    if (!unique) continue;
    // Whether another row's entry holds a suspect's key.
    std::vector<size_t> by_key(suspects.size());
    for (size_t k = 0; k < by_key.size(); ++k) by_key[k] = k;
    std::sort(by_key.begin(), by_key.end(), [&](size_t a, size_t b) { return suspects[a].key < suspects[b].key; });
    WalkIndex(view_, def.first_page, index.root_page,
              [&](const std::string& k, const RowId& row) {
                auto it = std::lower_bound(by_key.begin(), by_key.end(), k,
                                           [&](size_t a, const std::string& x) { return suspects[a].key < x; });
                for (; it != by_key.end() && suspects[*it].key == k; ++it)
                  if (suspects[*it].pointer != row.ToPointer()) suspects[*it].repeats = true;
                return true;
              },
              &stats);
    for (const Suspect& suspect : suspects) {
      if (mended.count(suspect.pointer) || !kept->Has(suspect.pointer) ||
          (!(required && suspect.key_null) && !suspect.repeats))
        continue;
      drop(suspect.pointer, "the entry of unique index \"" + index_name + "\" that points at it holds another key, " +
                                "and the row's own key " +
                                (suspect.repeats ? "is that of another row" : "is null, which the index does not allow"));
    }
  }
  for (const auto& [pointer, index_name] : first_differing) {
    if (!kept->Has(pointer)) continue;  // dropped above
    auto it = disowned_by.find(pointer);
    const size_t disowning = it == disowned_by.end() ? 0 : it->second.size();
    if (disowning >= 2) {
      drop(pointer, "the entries of indexes \"" + it->second[0] + "\" and \"" + it->second[1] + "\" that point at " +
                        "it both hold other keys than its values give, where it holds a null");
      continue;
    }
    if (disowning == 1 && damaged_pages.count(RowId::FromPointer(pointer).page)) {
      drop(pointer, "the entry of index \"" + it->second[0] + "\" that points at it holds another key than its " +
                        "values give, where it holds a null, and other rows of its page are damaged");
      continue;
    }
    table->notes.push_back("row " + RowName(RowId::FromPointer(pointer)) + ": its key differs from the entry of index \"" +
                           index_name + "\" that points at it; kept as it reads");
    rows_changed_.insert(def.first_page);
  }
}

void Salvager::AdoptOrphanTargets(const TableDef& def, const RowBits& orphans, const RowBits& reached,
                                  const RowBits& seen, const std::vector<uint32_t>& pointer_rows_dropped,
                                  RepairTableReport* table, std::set<uint32_t>* regained,
                                  std::vector<uint32_t>* dropped) {
  RowDecoder decoder(view_, def);
  std::vector<Value> values;
  // True when the target at `pointer` is one no pointer reached and its row is whole:
  // its place into `place`, its values into `values`.
  const auto whole = [&](uint32_t pointer, RowPlace* place) {
    const RowId id = RowId::FromPointer(pointer);
    DataPageHeader header;
    RowSlot slot;
    if (reached.Has(pointer) || slots_deleted_.count(pointer) || !ReadRowPage(id.page).ok() || !ParseDataPage(format_, row_page_.data(), &header).ok() ||
        !GetRowSlot(format_, row_page_.data(), header, id.row, &slot).ok())
      return false;
    const uint8_t* row = row_page_.data() + slot.start;
    if (!ValidateRow(format_, def, row, slot.size()).ok() || !decoder.Decode(row, slot.size(), &values).ok())
      return false;
    *place = RowPlace{id.page, slot.start, uint32_t(slot.size())};
    return true;
  };
  size_t wholes = 0;
  RowPlace place;
  orphans.ForEach([&](uint32_t pointer) { wholes += whole(pointer, &place) ? 1 : 0; });
  if (wholes == 0) return;
  // The lost rows whose pointers may have reached them, and the keys their entries
  // hold: few, as they are rows lost to damage.
  std::vector<size_t> keyed;  // indexes whose keys can be computed from a row
  std::vector<std::multimap<std::string, uint32_t>> lost_by_key;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndex& index = def.real_indexes[i];
    std::multimap<std::string, uint32_t> entries;
    IndexWalkStats stats;
    const bool walked = WalkIndex(view_, def.first_page, index.root_page,
                                  [&](const std::string& key, const RowId& row) {
                                    const uint32_t pointer = row.ToPointer();
                                    if (!seen.Has(pointer) || std::binary_search(pointer_rows_dropped.begin(),
                                                                                 pointer_rows_dropped.end(), pointer))
                                      entries.emplace(key, pointer);
                                    return true;
                                  },
                                  &stats)
                            .ok();
    if (!walked || !CanComputeKeys(format_, def, index)) continue;
    keyed.push_back(i);
    lost_by_key.push_back(std::move(entries));
  }
  // Without an index to tell, only pages lost are evidence, and the definition's row
  // count says how many rows are unaccounted for. Or the pointer rows dropped are at
  // least as many as these targets: each target then is the row of one of them.
  uint64_t unaccounted = 0;
  const bool one_each = keyed.empty() && wholes <= pointer_rows_dropped.size();
  if (keyed.empty() && dropped_pages_.count(def.first_page) && def.row_count > table->RowsFound())
    unaccounted = def.row_count - table->RowsFound();
  std::set<uint32_t> stood_for;  // lost rows an adopted target is
  std::string key;
  size_t next_pointer = 0;
  orphans.ForEach([&](uint32_t pointer) {
    if (!whole(pointer, &place)) return;
    const RowId id = RowId::FromPointer(pointer);
    uint32_t stands_for = 0;
    bool adopt = unaccounted > 0;
    if (one_each && next_pointer < pointer_rows_dropped.size()) {
      stands_for = pointer_rows_dropped[next_pointer++];
      adopt = true;
    }
    for (size_t k = 0; k < keyed.size() && !adopt; ++k) {
      if (!EncodeIndexKey(format_, def, def.real_indexes[keyed[k]], values, &key).ok()) continue;
      auto [first, last] = lost_by_key[k].equal_range(key);
      for (auto it = first; it != last && !adopt; ++it) {
        if (stood_for.count(it->second)) continue;
        stands_for = it->second;
        adopt = true;
      }
    }
    if (!adopt) return;
    if (keyed.empty() && !one_each) --unaccounted;
    uint8_t* page = view_.Mutable(id.page);
    const uint32_t at = format_.data_header_size + 2u * id.row;
    StoreLe16(page + at, uint16_t(LoadLe16(page + at) & ~kSlotDeleted));
    LossReason reason;
    if (!SalvageRow(def, id, place, table, &reason).ok()) {
      DeleteSlot(id);
      return;
    }
    ++table->rows_kept;
    adopted_.insert(def.first_page);
    std::string line = "row " + RowName(id) + ", an overflow target no pointer reaches, kept";
    if (stands_for != 0) {
      stood_for.insert(stands_for);
      line += ": it is the row of lost row " + RowName(RowId::FromPointer(stands_for));
    }
    table->notes.push_back(line);
  });
  // The lost rows regained are lost no more.
  for (uint32_t pointer : stood_for) {
    if (std::binary_search(pointer_rows_dropped.begin(), pointer_rows_dropped.end(), pointer)) {
      table->Regain(LossReason::kUndecodable);
      dropped->erase(std::remove(dropped->begin(), dropped->end(), pointer), dropped->end());
    } else {
      regained->insert(pointer);
    }
  }
}

// Rows on pages that are gone (zeroed, retyped, cut off): the index entries that point
// at rows the salvage neither kept nor dropped say how many there were. A flipped byte
// can garble an entry's row pointer instead, which then points at no row it saw
// either; such entries are told apart where the evidence allows:
//   - an entry pointing past the largest file the format allows, or into a page that
//     reads as another table's page (unless the table's map names it: then its owner
//     field may be what is garbled) or as a definition or map, points at no lost row;
//   - a lost row has an entry in every index that holds all rows (one that keeps
//     nulls); a pointer that such an index, read whole and found sound by the
//     check, does not share is garbled;
//   - where the index reads whole, a kept row that no entry of the index points at
//     is the row of one garbled entry: the entry holding its key where keys can be
//     computed, otherwise any one, so it balances one entry pointing at no row seen.
// A kept row's key is never listed as a lost row's.
uint64_t Salvager::CountRowsOfLostPages(const TableDef& def, const RowBits& seen, const std::set<uint32_t>& regained,
                                        const RowBits& kept, const std::vector<uint32_t>& dropped,
                                        RepairTableReport* table) {
  TakeCensus();
  auto lost_pages = dropped_pages_.find(def.first_page);
  auto foreign_pages = mapped_foreign_pages_.find(def.first_page);
  const uint32_t max_pages = MaxPageCount(format_);
  const auto may_be_lost = [&](uint32_t page) {
    if (page >= max_pages) return false;           // no file of the format reaches it
    if (page >= view_.page_count()) return true;  // the file was cut short
    if (page == 0 || page >= types_.size()) return false;  // the header, or a page the salvage wrote
    if (lost_pages != dropped_pages_.end() && lost_pages->second.count(page)) return true;
    switch (types_[page]) {
      case kPageData:
      case kPageIndexNode:  // or one of its data pages with a garbled type byte
      case kPageIndexLeaf:
        // The table's own, or a page its map names whose owner field may be garbled.
        return owners_[page] == def.first_page ||
               (foreign_pages != mapped_foreign_pages_.end() && foreign_pages->second.count(page));
      case kPageTableDef:
      case kPageUsageBitmap:
        return false;
      default:
        return true;  // zeroed or garbled
    }
  };
  const RealIndex* primary = nullptr;
  for (const LogicalIndex& logical : def.logical_indexes)
    if (logical.index_type == kLogicalIndexPrimaryKey && logical.real_index < def.real_indexes.size())
      primary = &def.real_indexes[logical.real_index];
  // Per index: the entries pointing at no row seen (key by pointer), and whether the
  // index read whole.
  struct Unseen {
    std::map<uint32_t, std::string> entries;
    bool whole = false;
  };
  std::vector<Unseen> unseen(def.real_indexes.size());
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    IndexWalkStats stats;
    unseen[i].whole = WalkIndex(view_, def.first_page, def.real_indexes[i].root_page,
                                [&](const std::string& k, const RowId& row) {
                                  if (!seen.Has(row.ToPointer()) && !regained.count(row.ToPointer()) &&
                                      may_be_lost(row.page))
                                    unseen[i].entries.emplace(row.ToPointer(), k);
                                  return true;
                                },
                                &stats)
                          .ok();
  }
  uint64_t most = 0;
  std::set<uint32_t> lost(dropped.begin(), dropped.end());
  std::set<std::string> kept_keys;  // primary-key values of kept rows no entry points at
  RowDecoder decoder(view_, def);
  std::vector<Value> values;
  std::string key;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const RealIndex& index = def.real_indexes[i];
    std::map<uint32_t, std::string>& entries = unseen[i].entries;
    for (size_t j = 0; j < def.real_indexes.size(); ++j) {
      if (j == i || !unseen[j].whole || (def.real_indexes[j].flags & kIndexIgnoreNulls) ||
          IndexFlagged(table->name, RealIndexName(def, j)))
        continue;
      for (auto it = entries.begin(); it != entries.end();)
        it = unseen[j].entries.count(it->first) ? std::next(it) : entries.erase(it);
    }
    if (entries.empty()) continue;
    uint64_t count = entries.size();
    if (unseen[i].whole) {
      RowBits pointed = seen.EmptyLike();
      IndexWalkStats stats;
      WalkIndex(view_, def.first_page, index.root_page,
                [&](const std::string&, const RowId& row) {
                  pointed.Set(row.ToPointer());
                  return true;
                },
                &stats);
      const bool computable = CanComputeKeys(format_, def, index);
      const bool ignores_nulls = (index.flags & kIndexIgnoreNulls) != 0;
      std::multiset<std::string> orphan_keys;
      uint64_t orphans = 0;
      kept.ForEach([&](uint32_t pointer) {
        if (pointed.Has(pointer)) return;
        if ((computable || ignores_nulls) && DecodeKept(def, decoder, pointer, &values).ok()) {
          if (ignores_nulls && KeyAllNull(def, index, values)) return;  // no entry is owed
          if (computable && EncodeIndexKey(format_, def, index, values, &key).ok()) {
            orphan_keys.insert(key);
            if (&index == primary) kept_keys.insert(key);
          }
        }
        ++orphans;
      });
      for (auto it = entries.begin(); it != entries.end();) {
        auto match = orphan_keys.find(it->second);
        if (match == orphan_keys.end()) {
          ++it;
          continue;
        }
        orphan_keys.erase(match);
        --orphans;
        it = entries.erase(it);
      }
      count = entries.size() - std::min<uint64_t>(orphans, entries.size());
    }
    most = std::max(most, count);
    if (count > 0)
      for (const auto& entry : entries) lost.insert(entry.first);
  }
  ListLostKeys(def, lost, kept_keys, table);
  if (most > 0) {
    table->Lose(LossReason::kPageLost, most);
    table->notes.push_back(std::to_string(most) + " rows were on pages that are lost (counted from the index " +
                           "entries that still point at them)");
  }
  return most;
}

void Salvager::ListLostKeys(const TableDef& def, const std::set<uint32_t>& lost, const std::set<std::string>& kept_keys,
                            RepairTableReport* table) {
  if (lost.empty()) return;
  for (const LogicalIndex& logical : def.logical_indexes) {
    if (logical.index_type != kLogicalIndexPrimaryKey || logical.real_index >= def.real_indexes.size()) continue;
    const RealIndex& index = def.real_indexes[logical.real_index];
    std::set<uint32_t> listed;
    std::string text;
    IndexWalkStats stats;
    WalkIndex(view_, def.first_page, index.root_page,
              [&](const std::string& key, const RowId& row) {
                if (lost.count(row.ToPointer()) && !kept_keys.count(key) && listed.insert(row.ToPointer()).second &&
                    DescribeIndexKey(def, index, key, &text))
                  table->lost_keys.push_back(text);
                return true;
              },
              &stats);
    return;
  }
}

RepairTableReport Salvager::ReportLostTable(const std::string& name, uint32_t first, const Status& why) {
  TakeCensus();
  // Without a definition no row can be decoded; the pages that name the table say
  // how many there were, but for those the free map gives back (their rows are an
  // earlier life's: the table let them go).
  RepairTableReport table;
  table.name = name;
  std::vector<uint32_t> owned;
  for (uint32_t p = 1; p < types_.size() && first != 0; ++p)
    if (types_[p] == kPageData && owners_[p] == first) owned.push_back(p);
  DropPagesMarkedFree(view_, &owned);
  uint64_t pages = 0, rows = 0;
  for (uint32_t p : owned) {
    if (!view_.ReadPage(p, page_.data()).ok()) continue;
    ++pages;
    DataPageHeader header;
    if (!ParseDataPage(format_, page_.data(), &header).ok() || header.row_count > kMaxRowsPerDataPage) continue;
    for (unsigned i = 0; i < header.row_count; ++i) {
      RowSlot slot;
      if (GetRowSlot(format_, page_.data(), header, i, &slot).ok() && !slot.deleted) ++rows;
    }
  }
  table.Lose(LossReason::kUndecodable, rows);
  report_->lost.push_back("table \"" + name + "\": its definition cannot be read (" + why.detail() +
                          "); the table is lost with the " + std::to_string(rows) + " rows on the " +
                          std::to_string(pages) + " data pages it leaves behind");
  return table;
}

bool Salvager::IndexFlagged(const std::string& table, const std::string& index) const {
  for (const CheckFinding& f : check_.findings)
    if (FindingKindInfoOf(f.kind).repair == RepairAction::kRebuildIndex && f.table == table && f.index == index)
      return true;
  return false;
}

void Salvager::PatchDefinition(const TableDef& def, size_t logical_offset, unsigned width, uint32_t value) {
  // The logical definition is page 1 whole, then every further page from byte 8.
  size_t at = logical_offset;
  size_t page = 0;
  if (at >= format_.page_size) {
    const size_t rest = at - format_.page_size;
    const size_t per_page = format_.page_size - kTableDefPageHeaderSize;
    page = 1 + rest / per_page;
    at = kTableDefPageHeaderSize + rest % per_page;
  }
  for (unsigned b = 0; b < width; ++b) {
    // A field may straddle two pages.
    size_t p = page, o = at + b;
    if (o >= format_.page_size) {
      ++p;
      o = kTableDefPageHeaderSize + (o - format_.page_size);
    }
    if (p >= def.pages.size()) return;
    view_.Mutable(def.pages[p])[o] = uint8_t(value >> (8 * b));
  }
}

Status Salvager::ComputeRebuiltKeys(const TableDef& def, const std::vector<IndexRebuild*>& rebuilds,
                                    bool threaded) {
  // Keys computed from the rows go straight to the sorters; the rows whose key cannot
  // be computed are kept by pointer, to take their keys from the old tree after. The
  // sorters share the memory one sorter would have.
  const size_t sorters = size_t(std::count_if(rebuilds.begin(), rebuilds.end(),
                                              [](const IndexRebuild* r) { return r->tree_needed; }));
  const size_t budget = EntrySorter::kDefaultMemoryBudget / std::max<size_t>(1, sorters);
  for (IndexRebuild* r : rebuilds)
    if (r->tree_needed) r->sorter = std::make_unique<EntrySorter>(env_, scratch_beside_, budget);
  // The rebuilds are the pipeline's until Finish. Its one failure is this one, which
  // ends the scan once no rebuild takes keys any more; each rebuild keeps its own
  // failure in `added`.
  const Status none_open = Status::Error(ErrorKind::kIoError, "no index rebuild takes keys");
  RowKeyPipeline keys(threaded, def.columns.size(), IndexKeyColumns(def),
                      [&, key = std::string()](const std::vector<Value>& values, RowId row, size_t) mutable {
                        bool any_open = false;
                        for (IndexRebuild* r : rebuilds) {
                          if (!r->added.ok()) continue;
                          any_open = true;
                          const RealIndex& index = def.real_indexes[r->real];
                          if ((index.flags & kIndexIgnoreNulls) && KeyAllNull(def, index, values)) continue;
                          if (r->computable && EncodeIndexKey(format_, def, index, values, &key).ok()) {
                            ++r->computed;
                            if (r->sorter != nullptr) r->added = r->sorter->Add(key, row);
                          } else {
                            r->need_old_key.push_back(row.ToPointer());
                          }
                        }
                        return any_open ? Status::Ok() : none_open;
                      });
  RowDecoder decoder(view_, def);
  std::vector<Value> values;
  TableDef scanned = def;
  if (maps_set_aside_.count(def.first_page)) scanned.owned_map = 0;
  TableScanner scanner(view_, scanned);
  std::vector<std::string> notes;
  const Status s = scanner.Scan(
      [&](const RowId& row, const uint8_t* bytes, size_t size) {
        if (!decoder.Decode(bytes, size, &values).ok()) return true;
        return keys.Add(values, row, 0).ok();
      },
      &notes);
  (void)keys.Finish();  // none_open at most: nothing but the end of the scan
  return s;
}

Status Salvager::FinishIndexRebuild(const TableDef& def, IndexRebuild& rebuild, const std::string& table_name,
                                    RepairTableReport* table, uint64_t* missing_rows) {
  if (!rebuild.added.ok()) return rebuild.added;
  const RealIndex& index = def.real_indexes[rebuild.real];
  uint64_t reused = 0, missing = 0;
  Status s = Status::Ok();
  if (rebuild.tree_needed) {
    s = TakeOldKeys(def, rebuild, &reused, &missing);
    if (s.ok()) s = rebuild.sorter->Finish();
    if (!s.ok()) return s;
  }
  AppendSink sink(&view_);
  IndexBuilder builder(&sink, def.first_page);
  uint64_t entries = 0;
  if (!rebuild.tree_needed) entries = rebuild.computed;  // the view's tree stays empty
  const bool unique = (index.flags & kIndexUnique) != 0;
  uint64_t repeated = 0;  // entries of a unique index whose key the entry before holds
  SortedEntry e;
  std::string previous;
  while (rebuild.tree_needed) {
    bool done = false;
    s = rebuild.sorter->Next(&e, &done);
    if (!s.ok()) return s;
    if (done) break;
    if (unique && entries > 0 && UniqueKeysCollide(previous, e.key)) ++repeated;
    s = builder.Add(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(e.key.data()), e.key.size()), e.row);
    if (!s.ok()) return s;
    ++entries;
    previous.swap(e.key);
  }
  IndexBuildResult result;
  s = builder.Finish(&result);
  if (!s.ok()) return s;
  PatchDefinition(def, index.def_offset + RealIndexRootPageOffset(format_), 4, result.root_page);

  std::string line = "index \"" + rebuild.name + "\" of table \"" + table_name + "\" rebuilt: " +
                     std::to_string(entries) + " entries";
  if (rebuild.computed > 0) line += ", " + std::to_string(rebuild.computed) + " keys computed from the rows";
  if (reused > 0) line += ", " + std::to_string(reused) + " keys taken from the old index";
  report_->rebuilt.push_back(line);
  // Rows that repeat a key under a flag in doubt: both rows read whole, so the flag is
  // what gives way (the catalog's indexes are Jet's own).
  if (repeated > 0 && rebuild.flag_in_doubt && def.first_page != kCatalogTdefPage) {
    PatchDefinition(def, index.def_offset + RealIndexFlagsOffset(format_), 1, index.flags & ~kIndexUnique);
    report_->rebuilt.push_back("index \"" + rebuild.name + "\" of table \"" + table_name + "\": " +
                               std::to_string(repeated) + " rows repeat the key of another row, which a unique " +
                               "index does not allow; rebuilt as an index that is not unique, every row kept");
  }
  *missing_rows = missing;
  if (missing > 0)
    table->notes.push_back("index \"" + rebuild.name + "\": " + std::to_string(missing) +
                           " rows have no entry, their keys cannot be computed (" +
                           (rebuild.computable ? "a value the key tables do not cover" : rebuild.refused) +
                           ") and the old index has none for them");
  return Status::Ok();
}

Status Salvager::TakeOldKeys(const TableDef& def, IndexRebuild& rebuild, uint64_t* reused_keys,
                             uint64_t* missing_rows) {
  std::vector<uint32_t>& need_old_key = rebuild.need_old_key;
  if (need_old_key.empty()) return Status::Ok();
  const RealIndex& index = def.real_indexes[rebuild.real];
  EntrySorter& sorter = *rebuild.sorter;
  uint64_t reused = 0;
  Status added = Status::Ok();
  // The old tree's entries that can still be read, the first one for each row; when
  // the tree is broken, also those of every leaf its page map names.
  std::sort(need_old_key.begin(), need_old_key.end());
  std::vector<bool> taken(need_old_key.size(), false);
  auto take = [&](const std::string& old_key, const RowId& row) {
    auto it = std::lower_bound(need_old_key.begin(), need_old_key.end(), row.ToPointer());
    if (it == need_old_key.end() || *it != row.ToPointer()) return true;
    const size_t k = size_t(it - need_old_key.begin());
    if (taken[k]) return true;
    taken[k] = true;
    ++reused;
    added = sorter.Add(old_key, row);
    return added.ok();
  };
  IndexWalkStats stats;
  Status walk = WalkIndex(view_, def.first_page, index.root_page, take, &stats);
  if (!added.ok()) return added;
  if (!walk.ok()) {
    UsageMap map;
    if (ReadUsageMap(view_, index.usage_map, &map).ok()) {
      for (uint32_t p : map.pages) {
        if (!view_.ReadPage(p, other_.data()).ok() || other_[0] != kPageIndexLeaf) continue;
        IndexPage leaf;
        if (!DecodeIndexPage(format_, other_.data(), &leaf).ok() || leaf.owner != def.first_page) continue;
        for (const IndexPageEntry& e : leaf.entries)
          if (!take(e.key, e.row)) return added;
      }
    }
  }
  *reused_keys = reused;
  *missing_rows = need_old_key.size() - reused;
  return Status::Ok();
}

void Salvager::RebuildIndexes(const TableDef& def, const std::string& name, bool catalog_changed,
                              RepairTableReport* table) {
  // Which trees are rebuilt is settled first: a rebuild only appends pages and sets
  // its own root, so it changes nothing another index's walk reads.
  std::vector<IndexRebuild> rebuilds;
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const std::string index_name = RealIndexName(def, i);
    bool need = catalog_changed || IndexFlagged(name, index_name);
    // Whether the old tree of a unique index holds a key twice: the check says so (and
    // names the index for a rebuild), or, where it could not read the definition,
    // the walk below finds it.
    bool tree_repeats = std::any_of(check_.findings.begin(), check_.findings.end(), [&](const CheckFinding& f) {
      return f.kind == FindingKind::kIndexUnique && f.table == name && f.index == index_name;
    });
    if (!need) {
      const bool unique = (def.real_indexes[i].flags & kIndexUnique) != 0;
      std::string previous;
      bool started = false;
      IndexWalkStats stats;
      const Status walked = WalkIndex(view_, def.first_page, def.real_indexes[i].root_page,
                                      [&](const std::string& key, const RowId&) {
                                        tree_repeats = unique && started && UniqueKeysCollide(previous, key);
                                        started = true;
                                        if (unique) previous = key;
                                        return !tree_repeats;
                                      },
                                      &stats);
      need = !walked.ok() || tree_repeats;
    }
    if (!need) continue;
    rebuilds.emplace_back();
    rebuilds.back().real = i;
    rebuilds.back().name = index_name;
    rebuilds.back().flag_in_doubt = tree_repeats || def.real_indexes[i].root_page == 0;
  }
  if (rebuilds.empty()) return;
  std::vector<IndexRebuild*> all;
  for (IndexRebuild& r : rebuilds) {
    r.computable = CanComputeKeys(format_, def, def.real_indexes[r.real], &r.refused);
    r.tree_needed = !r.computable || def.IsPrimaryKey(r.real) || def.first_page == kCatalogTdefPage ||
                    (def.real_indexes[r.real].flags & kIndexUnique) != 0;
    all.push_back(&r);
  }
  // A large table's keys on a second thread: a small one's would not pay for it.
  const bool threaded = table->rows_kept >= kRowsWorthKeysOnASecondThread;
  Status scanned = ComputeRebuiltKeys(def, all, threaded);
  // An index with a row whose key could not be computed takes that key from the old
  // tree, which the compaction cannot: it gets a tree after all, from a second scan.
  std::vector<IndexRebuild*> again;
  for (IndexRebuild& r : rebuilds) {
    if (r.tree_needed || r.need_old_key.empty()) continue;
    r.tree_needed = true;
    r.computed = 0;
    r.need_old_key.clear();
    again.push_back(&r);
  }
  if (scanned.ok() && !again.empty()) scanned = ComputeRebuiltKeys(def, again, threaded);
  std::vector<std::pair<size_t, uint64_t>> short_of_rows;  // real index, rows it misses
  for (IndexRebuild& rebuild : rebuilds) {
    uint64_t missing = 0;
    Status s = scanned.ok() ? FinishIndexRebuild(def, rebuild, name, table, &missing) : scanned;
    rebuild.sorter.reset();  // its scratch files go now, not after every other tree
    if (!s.ok()) table->notes.push_back("index \"" + rebuild.name + "\" could not be rebuilt: " + s.detail());
    if (s.ok() && missing > 0 && def.first_page != kCatalogTdefPage) short_of_rows.emplace_back(rebuild.real, missing);
  }
  // Last first: dropping one renumbers those after it.
  for (auto it = short_of_rows.rbegin(); it != short_of_rows.rend(); ++it)
    DropIndex(def.first_page, it->first, name, it->second, table);
}

bool Salvager::DropIndex(uint32_t first, size_t real, const std::string& table_name, uint64_t missing,
                         RepairTableReport* table) {
  TableDef def;  // as the rebuilt trees left it (their roots patched in)
  Status s = ReadTableDef(view_, first, &def);
  std::vector<uint8_t> logical;
  std::vector<std::string> names;
  std::vector<std::vector<uint8_t>> pages;
  const std::string index_name = s.ok() ? RealIndexName(def, real) : "real index " + std::to_string(real);
  if (s.ok()) s = DefinitionWithoutIndex(format_, def, real, &logical, &names);
  const uint32_t needed = s.ok() ? TableDefPageCount(format_, logical.size()) : 0;
  if (s.ok() && needed > def.pages.size()) s = Status::Error(ErrorKind::kDamaged, "the definition grew");
  if (s.ok()) s = SplitTableDef(format_, logical, std::span<const uint32_t>(def.pages.data(), needed), &pages);
  if (!s.ok()) {
    table->notes.push_back("index \"" + index_name + "\" misses " + std::to_string(missing) +
                           " rows and cannot be left out: " + s.detail());
    return false;
  }
  for (size_t i = 0; i < pages.size(); ++i) std::memcpy(view_.Mutable(def.pages[i]), pages[i].data(), pages[i].size());
  report_->lost.push_back("index \"" + index_name + "\" of table \"" + table_name + "\": " + std::to_string(missing) +
                          " rows have keys this engine cannot compute, and the damaged index held none for them; the "
                          "index is left out and every row kept (create the index again in Access)");
  return true;
}

Status Salvager::OpenCatalog(TableDef* catalog, bool* replaced) {
  *replaced = false;
  TableDef built_in;
  std::vector<std::vector<uint8_t>> pages;
  Status s = BuiltInTablePages(format_, TextCodePage(view_.header()), "MSysObjects", kCatalogTdefPage, &built_in, &pages);
  if (!s.ok()) return s;
  s = ReadDefinition(kCatalogTdefPage, catalog);
  if (s.ok() && SameLayout(*catalog, built_in)) return s;
  if (pages.size() != 1) return Status::Error(ErrorKind::kDamaged, "the built-in catalog definition takes more than a page");
  report_->rebuilt.push_back(std::string("the catalog's definition (page 2) ") +
                             (s.ok() ? "does not lay out rows as MSysObjects does"
                                     : "cannot be read (" + s.detail() + ")") +
                             "; replaced by the built-in definition, its data pages found by owner");
  std::memcpy(view_.Mutable(kCatalogTdefPage), pages[0].data(), pages[0].size());
  *replaced = true;
  return ReadTableDef(view_, kCatalogTdefPage, catalog);
}

Status Salvager::RecoverTables(TableDef* catalog, const std::vector<CatalogObject>& objects,
                               std::map<uint32_t, std::string>* recovered, bool* wrote) {
  *wrote = false;
  std::set<uint32_t> reached;
  for (const CatalogObject& o : objects)
    if (o.is_table()) reached.insert(static_cast<uint32_t>(o.id) & 0x00FFFFFF);
  const uint16_t code_page = TextCodePage(view_.header());
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t> row;
  auto add_row = [&](int32_t id, int32_t parent, const std::string& name, int16_t type, uint32_t flags) {
    Status s = NewCatalogRow(format_, code_page, *catalog, id, parent, name, type, flags, &row);
    if (s.ok()) rows.push_back(row);
    return s;
  };
  auto add = [&](uint32_t first, const std::string& name, bool system) {
    return add_row(int32_t(first), kTablesContainerId, name, kObjectLocalTable, system ? kSystemObjectFlags : 0);
  };
  Status s;
  for (const CatalogContainer& container : kRequiredContainers) {
    if (std::any_of(objects.begin(), objects.end(), [&](const CatalogObject& o) { return o.id == container.id; }))
      continue;
    s = add_row(container.id, kRootContainerId, container.name, kObjectContainer, kSystemObjectFlags);
    if (!s.ok()) return s;
    report_->rebuilt.push_back(std::string("the catalog row of the ") + container.name +
                               " container was lost; a new one was written");
  }
  if (!reached.count(kCatalogTdefPage)) {
    s = add(kCatalogTdefPage, "MSysObjects", true);
    if (!s.ok()) return s;
    report_->rebuilt.push_back("the catalog row of MSysObjects itself was lost; a new one was written");
  }
  reached.insert(kCatalogTdefPage);
  std::map<int32_t, CatalogObject> survivors = CatalogRowsOfLostPointers(view_, *catalog);
  // The rows dropped above are deleted slots too, read there as they were.
  for (const auto& [page, o] : dropped_table_rows_) survivors.insert_or_assign(page, o);
  const std::map<uint32_t, uint32_t> data_pages = DataPagesByOwner(view_);
  // Queries whose rows survive that way come back under their names.
  for (const auto& [id, o] : survivors) {
    const int32_t query_id = id;  // clang before 16 cannot capture a structured binding
    if (o.type != kObjectQuery ||
        std::any_of(objects.begin(), objects.end(), [&](const CatalogObject& x) { return x.id == query_id; }))
      continue;
    // A name the catalog's index cannot hold is a garbled one.
    const std::string name =
        CatalogNameIndexable(format_, *catalog, o.parent_id, o.name) ? o.name : "Recovered_Query_" + std::to_string(id & 0x00FFFFFF);
    s = add_row(id, o.parent_id, name, o.type, o.flags);
    if (!s.ok()) return s;
    report_->rebuilt.push_back("query \"" + name + "\": its catalog row written anew from what is left of it");
    if (name != o.name)
      report_->assumptions.push_back("query " + std::to_string(id) + ": what is left of its name (\"" + o.name +
                                     "\") has characters no index key covers; named " + name);
  }
  std::set<std::string> taken;  // table names in the catalog, to give no name twice
  for (const CatalogObject& o : objects)
    if (o.is_table()) taken.insert(o.name);
  for (uint32_t first : UnreachedDefinitions(view_, reached)) {
    TableDef def;
    if (!ReadDefinition(first, &def).ok()) continue;
    const std::string where = "definition page " + std::to_string(first) + ", which no catalog row reached";
    if (auto it = survivors.find(int32_t(first));
        it != survivors.end() && it->second.is_table() && !taken.count(it->second.name) &&
        CatalogNameIndexable(format_, *catalog, it->second.parent_id, it->second.name)) {
      taken.insert(it->second.name);
      s = add_row(int32_t(first), it->second.parent_id, it->second.name, kObjectLocalTable, it->second.flags);
      if (!s.ok()) return s;
      (*recovered)[first] = where + " (its name from what is left of its catalog row)";
      continue;
    }
    std::string name = SystemTableNamed(format_, code_page, def);
    if (name.empty()) {
      name = AccessSystemTableNamed(def, taken);
      if (!name.empty())
        report_->rebuilt.push_back(where + ": its columns are those of Access's system table " + name +
                                   ", which it goes back as");
    }
    if (name.empty() && IsAttachmentFlatTable(def)) {
      name = "f_Recovered_Table_" + std::to_string(first) + "_Data";
      report_->rebuilt.push_back(where + ": its columns are those of the flat table of an attachment column, a "
                                 "system object; it goes back as one, named " + name);
    }
    if (name.empty() && !data_pages.count(first)) {
      // Nothing names it and it holds no rows: most likely a table deleted long ago.
      report_->lost.push_back(where + ": it holds no rows and nothing names it; left out");
      continue;
    }
    const bool system = !name.empty() || def.table_type == 'S';
    if (name.empty()) name = "Recovered_Table_" + std::to_string(first);
    taken.insert(name);
    s = add(first, name, system);
    if (!s.ok()) return s;
    (*recovered)[first] = where;
  }
  // The system tables every file has, rebuilt empty where nothing of them is left.
  std::set<std::string> names;
  for (const CatalogObject& o : objects)
    if (o.is_table()) names.insert(o.name);
  for (const auto& [first, where] : *recovered) {
    TableDef def;
    if (ReadDefinition(first, &def).ok()) names.insert(SystemTableNamed(format_, code_page, def));
  }
  for (const char* name : {"MSysACEs", "MSysQueries", "MSysRelationships"}) {
    if (names.count(name)) continue;
    TableDef def;
    std::vector<std::vector<uint8_t>> pages;
    s = BuiltInTablePages(format_, code_page, name, view_.page_count(), &def, &pages);
    if (!s.ok()) return s;
    for (const std::vector<uint8_t>& page : pages) std::memcpy(view_.Mutable(view_.Append()), page.data(), page.size());
    s = add(def.first_page, name, true);
    if (!s.ok()) return s;
    report_->rebuilt.push_back(std::string(name) + " was lost; rebuilt empty");
  }
  if (rows.empty()) return Status::Ok();
  // The rows go on a catalog page the damage emptied, which the catalog's map still
  // lists; without one, on new pages found by owner (the map is dropped).
  const std::set<uint32_t> lost = dropped_pages_[kCatalogTdefPage];
  auto spare = lost.begin();
  DataPageBuilder builder(format_, kCatalogTdefPage);
  bool by_owner = false;
  auto place = [&] {
    uint32_t number;
    if (spare != lost.end()) {
      number = *spare++;
    } else {
      number = view_.Append();
      by_owner = true;
    }
    std::memcpy(view_.Mutable(number), builder.page().data(), builder.page().size());
    builder.Reset(kCatalogTdefPage);
  };
  for (const std::vector<uint8_t>& r : rows) {
    if (!builder.Add(r)) {
      place();
      if (!builder.Add(r)) return Status::Error(ErrorKind::kDamaged, "a new catalog row does not fit on a page");
    }
  }
  place();
  if (by_owner) PatchDefinition(*catalog, format_.tdef_owned_map, 4, 0);
  for (uint32_t p : lost) dropped_pages_[kCatalogTdefPage].erase(p);
  *wrote = true;
  if (!recovered->empty())
    report_->rebuilt.push_back(std::to_string(recovered->size()) + " catalog rows written for tables no catalog row reached");
  return ReadTableDef(view_, kCatalogTdefPage, catalog);
}

bool Salvager::MendCatalogFlags(const TableDef& catalog, std::vector<CatalogObject>* objects) {
  const int flags_at = catalog.FindColumnByName("Flags");
  if (flags_at < 0) return false;
  bool mended = false;
  std::vector<RawColumn> raw;
  for (CatalogObject& o : *objects) {
    if (o.flags_possible()) continue;
    RowPlace place;
    if (!PlaceOf(catalog, o.row, &place).ok() || !ReadRowPage(place.page).ok() ||
        !CrackRow(format_, catalog, row_page_.data() + place.start, place.size, &raw).ok())
      continue;
    const RawColumn& field = raw[size_t(flags_at)];
    if (field.is_null || field.size != 4) continue;
    // Only the name is left to say what the table was.
    const uint32_t flags = o.has_system_name() ? kSystemObjectFlags : 0;
    StoreLe32(view_.Mutable(place.page) + place.start + field.offset, flags);
    report_->assumptions.push_back("table \"" + o.name + "\": its catalog flags " + std::to_string(o.flags) +
                                   " have bits no table's flags have (a damaged field); taken as " +
                                   (flags ? "a system table's" : "a user table's, 0"));
    o.flags = flags;
    mended = true;
  }
  return mended;
}

// A row no intact catalog holds: the row of MSysObjects itself (id 2) that is not the
// table "MSysObjects"; a table whose id names no page of the file (a local table's id
// is its definition page); a table with the columns of a system table the engine
// defines under another name, while no table has that name (that table would be
// written again, empty, beside it); a container under the root with the name of a
// required container and another id, or a row with such a container's id and another
// name or type. Each comes from a flipped or torn field; it is
// dropped, and the row it should have been is written anew by RecoverTables.
bool Salvager::DropImpossibleCatalogRows(std::vector<CatalogObject>* objects) {
  const uint16_t code_page = TextCodePage(view_.header());
  std::set<std::string> table_names;
  for (const CatalogObject& o : *objects)
    if (o.is_table()) table_names.insert(o.name);
  // Rows the old indexes on names hold an entry for: a name no key table covers came
  // through them, so it was written that way, not garbled since.
  TableDef catalog;
  std::set<uint32_t> indexed;
  if (ReadTableDef(view_, kCatalogTdefPage, &catalog).ok())
    for (const RealIndex& index : catalog.real_indexes) {
      IndexWalkStats stats;
      WalkIndex(view_, kCatalogTdefPage, index.root_page,
                [&](const std::string&, const RowId& row) { return indexed.insert(row.ToPointer()), true; }, &stats);
    }
  // Why the row is impossible ("" when it is not), and the name it should have had.
  const auto judge = [&](const CatalogObject& o, std::string* name) -> std::string {
    if (o.id == int32_t(kCatalogTdefPage))
      return o.is_table() && o.name == "MSysObjects" ? "" : "it has the id of MSysObjects but is not its row";
    if (o.is_table()) {
      if (o.id <= 0 || uint32_t(o.id) >= view_.page_count()) return "its id names no page of the file";
      if (!catalog.columns.empty() && !indexed.count(o.row.ToPointer()) &&
          !CatalogNameIndexable(format_, catalog, o.parent_id, o.name))
        return "its name has characters no index key covers, and no index entry holds it: a damaged name";
      TableDef def;
      const std::string system =
          ReadTableDef(view_, uint32_t(o.id), &def).ok() ? SystemTableNamed(format_, code_page, def) : "";
      if (!system.empty() && o.name != system && !table_names.count(system)) {
        *name = system;
        return "its columns are those of " + system + ", under a damaged name";
      }
    }
    for (const CatalogContainer& container : kRequiredContainers) {
      if (o.type == kObjectContainer && o.parent_id == kRootContainerId && o.name == container.name &&
          o.id != container.id)
        return "the container's id is not its own";
      if (o.id == container.id && (o.type != kObjectContainer || o.name != container.name))
        return std::string("it has the id of the ") + container.name + " container but is not its row";
    }
    return "";
  };
  std::vector<CatalogObject> kept;
  for (CatalogObject& o : *objects) {
    std::string name = o.name;
    const std::string why = judge(o, &name);
    if (why.empty()) {
      kept.push_back(std::move(o));
      continue;
    }
    DeleteSlot(o.row);
    report_->rebuilt.push_back("catalog row " + RowName(o.row) + " (\"" + o.name + "\", id " + std::to_string(o.id) +
                               ", type " + std::to_string(o.type) + ") dropped: " + why);
    if (o.is_table() && o.id != int32_t(kCatalogTdefPage)) {
      o.name = name;
      dropped_table_rows_.emplace(o.id & 0x00FFFFFF, std::move(o));
    }
  }
  const bool dropped = kept.size() != objects->size();
  *objects = std::move(kept);
  return dropped;
}

void Salvager::DropOrphanQueryRows(const TableDef& def, const std::vector<CatalogObject>& objects,
                                   RepairTableReport* table) {
  const int object_id = def.FindColumnByName("ObjectId");
  if (object_id < 0) return;
  std::set<int32_t> queries;
  for (const CatalogObject& o : objects)
    if (o.type == kObjectQuery) queries.insert(o.id);
  std::map<int32_t, std::vector<RowId>> orphans;
  RowDecoder decoder(view_, def);
  std::vector<Value> values;
  TableScanner scanner(view_, def);
  std::vector<std::string> notes;
  scanner.Scan(
      [&](const RowId& row, const uint8_t* bytes, size_t size) {
        if (!decoder.Decode(bytes, size, &values).ok() || values[size_t(object_id)].is_null()) return true;
        const int32_t id = int32_t(values[size_t(object_id)].integer());
        if (!queries.count(id)) orphans[id].push_back(row);
        return true;
      },
      &notes);
  for (const auto& [id, rows] : orphans) {
    for (const RowId& row : rows) DeleteSlot(row);
    table->rows_kept -= std::min<uint64_t>(table->rows_kept, rows.size());
    table->Lose(LossReason::kInvalid, rows.size());
    report_->lost.push_back("query (object id " + std::to_string(id) + "): its catalog row is lost; its " +
                            std::to_string(rows.size()) + " definition rows in MSysQueries were dropped");
  }
}

Status Salvager::Run() {
  RepairTableReport catalog_report;
  catalog_report.name = "MSysObjects";
  TableDef catalog;
  bool catalog_replaced = false;
  Status s = OpenCatalog(&catalog, &catalog_replaced);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the catalog's definition cannot be read: " + s.detail());
  SalvageRows(catalog, &catalog_report);
  std::vector<CatalogObject> objects;
  std::vector<std::string> notes;
  s = ReadCatalog(view_, catalog, &objects, &notes);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the catalog cannot be read: " + s.detail());
  std::map<uint32_t, std::string> recovered;
  bool rows_written = false;
  // Rows the catalog cannot do without: its own and the containers'.
  const auto has = [&](int32_t id) {
    return std::any_of(objects.begin(), objects.end(), [&](const CatalogObject& o) { return o.id == id; });
  };
  const bool flags_mended = MendCatalogFlags(catalog, &objects);
  bool incomplete = DropImpossibleCatalogRows(&objects);
  incomplete = !has(int32_t(kCatalogTdefPage)) || incomplete;
  for (const CatalogContainer& container : kRequiredContainers) incomplete = incomplete || !has(container.id);
  bool again_needed =
      incomplete || catalog_replaced || catalog_report.rows_lost > 0 || dropped_pages_.count(kCatalogTdefPage);
  // A row the first pass mended may fail the second (a long value set to null): a
  // table whose row goes then is found again by its definition, in one more round.
  for (int round = 0; again_needed && round < 2; ++round) {
    again_needed = false;
    bool wrote = false;
    s = RecoverTables(&catalog, objects, &recovered, &wrote);
    if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the lost catalog rows cannot be rebuilt: " + s.detail());
    if (!wrote) break;
    rows_written = true;
    // The new rows, and pages now found by owner, checked once more. The indexes
    // still point at the rows the first pass dropped, and are rebuilt below: read
    // without them, what this pass drops is a loss of its own, counted once (rows of
    // lost pages were counted by the first).
    RepairTableReport again;
    TableDef unindexed = catalog;
    unindexed.real_indexes.clear();
    SalvageRows(unindexed, &again);
    catalog_report.rows_kept = again.rows_kept;
    for (LossReason reason : {LossReason::kUndecodable, LossReason::kInvalid}) {
      catalog_report.Lose(reason, again.lost_by_reason[size_t(reason)]);
      again_needed = again_needed || again.lost_by_reason[size_t(reason)] > 0;
    }
    catalog_report.values_cut += again.values_cut;
    catalog_report.losses.insert(catalog_report.losses.end(), again.losses.begin(), again.losses.end());
    objects.clear();
    s = ReadCatalog(view_, catalog, &objects, &notes);
    if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the rebuilt catalog cannot be read: " + s.detail());
  }

  bool catalog_changed =
      flags_mended || incomplete || catalog_replaced || rows_written || catalog_report.rows_lost > 0 || catalog_report.values_cut > 0;
  std::unordered_set<int32_t> ids;
  std::vector<RepairTableReport> tables;
  for (const CatalogObject& o : objects) {
    if (!ids.insert(o.id).second) {
      DeleteSlot(o.row);
      catalog_changed = true;
      report_->lost.push_back("catalog row " + RowName(o.row) + " (\"" + o.name + "\") repeats id " +
                              std::to_string(o.id) + "; dropped");
      continue;
    }
    if (!o.is_table()) continue;
    const uint32_t first = static_cast<uint32_t>(o.id) & 0x00FFFFFF;
    RepairTableReport table;
    table.name = o.name;
    if (first == kCatalogTdefPage) continue;
    if (auto found = recovered.find(first); found != recovered.end()) table.recovered_from = found->second;
    TableDef def;
    s = first == 0 || first >= view_.page_count() ? Status::Error(ErrorKind::kDamaged, "its id names no page of the file")
                                                  : ReadDefinition(first, &def);
    if (!s.ok()) {
      DeleteSlot(o.row);
      catalog_changed = true;
      tables.push_back(ReportLostTable(o.name, first, s));
      continue;
    }
    if (auto dropped = columns_dropped_.find(first); dropped != columns_dropped_.end())
      table.columns_dropped = dropped->second;
    SalvageRows(def, &table);
    if (o.name == "MSysQueries") DropOrphanQueryRows(def, objects, &table);
    // Rows that were changed or dropped may have hidden index damage from the check
    // (it computes no keys for a row it cannot decode): rebuild all of the table's.
    RebuildIndexes(def, o.name,
                   table.rows_lost > 0 || table.values_cut > 0 || adopted_.count(first) || rows_changed_.count(first),
                   &table);
    tables.push_back(std::move(table));
  }
  // The catalog last: its indexes must match the rows that are left of it.
  s = ReadTableDef(view_, kCatalogTdefPage, &catalog);
  if (!s.ok()) return s;
  RebuildIndexes(catalog, "MSysObjects", catalog_changed || rows_changed_.count(kCatalogTdefPage), &catalog_report);
  report_->tables.push_back(std::move(catalog_report));
  for (RepairTableReport& t : tables) report_->tables.push_back(std::move(t));
  return Status::Ok();
}

Status Salvager::TakeView(std::unique_ptr<PageFile>* salvaged) {
  // The rebuilt trees appended past a file near the format's limit may take the view
  // past it (the compaction's result stays within it), but not past the page numbers
  // a row pointer holds.
  if (view_.page_count() > uint64_t(kMaxRowPointerPage) + 1)
    return Status::Error(ErrorKind::kNoSpace, "the salvaged database would pass page " +
                                                  std::to_string(kMaxRowPointerPage) + ", the last a row pointer reaches");
  *salvaged = std::make_unique<PatchedFile>(std::move(view_));
  return Status::Ok();
}

}  // namespace

Status Salvage(Env* env, PageFile& source, const CheckReport& check, const std::string& scratch_beside,
               RepairReport* report, std::unique_ptr<PageFile>* salvaged) {
  Salvager salvager(env, scratch_beside, source, check, report);
  Status s = salvager.Run();
  if (!s.ok()) return s;
  return salvager.TakeView(salvaged);
}

}  // namespace jet
