// The integrity check: a census of every page, then each structure reached from the
// catalog, claiming the pages it owns; pages claimed twice, rows that do not decode
// and indexes that disagree with their rows become findings.
#include "jet/maintain/check.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "jet/base/byte_order.h"
#include "jet/base/text.h"
#include "jet/maintain/entry_fingerprint.h"
#include "jet/maintain/row_pointer_index.h"
#include "jet/maintain/row_validation.h"
#include "jet/maintain/table_pages.h"
#include "jet/read/catalog.h"
#include "jet/file/data_page.h"
#include "jet/file/header.h"
#include "jet/write/index_key.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/read/overflow_row.h"
#include "jet/file/page_file.h"
#include "jet/file/page_runs.h"
#include "jet/read/row.h"
#include "jet/read/table_def.h"
#include "jet/file/usage_map.h"

namespace jet {

bool RowInFreeSpace(const Format& format, const DataPageHeader& header, const RowSlot& slot) {
  if (header.free_space_matches) return false;
  const uint32_t row_area = format.data_header_size + 2u * header.row_count + header.free_space;
  return slot.start < row_area;
}

std::string RealIndexName(const TableDef& table, size_t real) {
  for (const LogicalIndex& li : table.logical_indexes)
    if (li.real_index == real) return li.name;
  return "real index " + std::to_string(real);
}

size_t CheckReport::DamageCount() const {
  size_t n = 0;
  for (const CheckFinding& f : findings) n += f.severity == CheckSeverity::kDamage;
  return n;
}

bool CheckReport::HasStructuralDamage() const {
  for (const CheckFinding& f : findings)
    if (f.severity == CheckSeverity::kDamage && FindingKindInfoOf(f.kind).repair != RepairAction::kClearCommitState)
      return true;
  return false;
}

bool CheckReport::Has(FindingKind kind) const {
  for (const CheckFinding& f : findings)
    if (f.kind == kind) return true;
  return false;
}

namespace {

// More findings of one kind than this are counted, not listed.
constexpr size_t kMaxFindingsPerKind = 100;
constexpr int kMaxIndexDepth = 32;

// Who owns a page. Map host pages and LVAL pages are shared by design (several map
// rows, several long values); every other page has exactly one owner.
enum class Claim : uint8_t { kNone, kHeader, kGlobalMap, kMapHost, kBitmap, kTableDef, kData, kIndex, kLongValue };

bool Shareable(Claim c) { return c == Claim::kMapHost || c == Claim::kLongValue; }

const char* ClaimName(Claim c) {
  switch (c) {
    case Claim::kNone: return "nothing";
    case Claim::kHeader: return "the header";
    case Claim::kGlobalMap: return "the global map";
    case Claim::kMapHost: return "usage-map rows";
    case Claim::kBitmap: return "a usage bitmap";
    case Claim::kTableDef: return "a table definition";
    case Claim::kData: return "table rows";
    case Claim::kIndex: return "an index";
    case Claim::kLongValue: return "long values";
  }
  return "?";
}

// What one index should hold for one row. Only a 64-bit hash of the expected key is
// kept, not the key: a stored key is only ever compared with it for equality (a wrong
// key is missed with probability about 2^-64).
struct ExpectedEntry {
  bool eligible = true;    // false: all key columns null in an index that ignores nulls
  bool key_known = false;
  uint64_t key_hash = 0;
};

// One entry's share of an index fingerprint: EntryMix of its row pointer and key
// hash, or this mix of the pointer alone for a row whose key is not known.
uint64_t PointerEntryMix(uint32_t pointer) { return Mix64((uint64_t(pointer) << 1 | 1) * 0xD6E8FEB86659FD93ull); }

// What the rows of a table say one of its indexes must hold, summarised so that its
// size does not depend on the row count: the expectations of every index of a table
// are gathered in one scan of its rows. The walk of the index sums the same mixes
// over its entries; when count and fingerprint agree, the entries are exactly the
// eligible rows with their keys (missed with probability about 2^-64), so only an
// index that disagrees is compared entry by entry (ExpectedRows).
struct IndexExpectation {
  bool keys_computable = false;  // CanComputeKeys: otherwise every row is matched by pointer
  uint64_t eligible = 0;         // rows that belong in the index
  uint64_t fingerprint = 0;      // sum of the entry mixes of those rows
  // Eligible rows whose key is unknown although keys are computable (a value the code
  // tables refuse, a value that does not decode): matched by pointer. Ascending; 4
  // bytes a row, and few rows in practice.
  std::vector<uint32_t> unknown_keys;

  bool KeyKnown(uint32_t pointer) const {
    return keys_computable && !std::binary_search(unknown_keys.begin(), unknown_keys.end(), pointer);
  }
  // Adds what the rows of the pages after this one's said (their pointers are all
  // higher, so unknown_keys stays ascending).
  void Append(const IndexExpectation& later) {
    eligible += later.eligible;
    fingerprint += later.fingerprint;
    unknown_keys.insert(unknown_keys.end(), later.unknown_keys.begin(), later.unknown_keys.end());
  }
  void Add(uint32_t pointer, const ExpectedEntry& e) {
    if (!e.eligible) return;
    ++eligible;
    if (e.key_known) {
      fingerprint += EntryMix(pointer, e.key_hash);
      return;
    }
    fingerprint += PointerEntryMix(pointer);
    if (keys_computable) unknown_keys.push_back(pointer);
  }
};

// The detailed comparison's view of one index over a run of a table's data pages:
// every live row there with its ExpectedEntry, by ascending row pointer (13 bytes a
// row, and half as much again while a second thread's half is appended). Row
// pointers in [lo, hi) belong to the run; a table with more rows than
// CheckOptions::detailed_run_rows is compared run by run, so this too stays bounded.
struct ExpectedRows {
  static constexpr uint8_t kEligible = 1, kKeyKnown = 2, kSeen = 4;
  static constexpr uint64_t kBytesPerRow = sizeof(uint32_t) + sizeof(uint64_t) + sizeof(uint8_t);
  uint64_t lo = 0;
  uint64_t hi = 0;
  std::vector<uint32_t> pointers;
  std::vector<uint64_t> key_hashes;
  std::vector<uint8_t> flags;

  RowPointerIndex index;  // of `pointers`, once they are complete

  void Reserve(size_t rows) {
    pointers.reserve(rows);
    key_hashes.reserve(rows);
    flags.reserve(rows);
  }
  void Add(uint32_t pointer, const ExpectedEntry& e) {
    pointers.push_back(pointer);
    key_hashes.push_back(e.key_hash);
    flags.push_back(uint8_t((e.eligible ? kEligible : 0) | (e.key_known ? kKeyKnown : 0)));
  }
  // Appends the rows of `more`, which all come after these.
  void Append(const ExpectedRows& more) {
    pointers.insert(pointers.end(), more.pointers.begin(), more.pointers.end());
    key_hashes.insert(key_hashes.end(), more.key_hashes.begin(), more.key_hashes.end());
    flags.insert(flags.end(), more.flags.begin(), more.flags.end());
  }

  bool Covers(uint32_t pointer) const { return pointer >= lo && pointer < hi; }
  // Indexes `pointers` once they are complete.
  void IndexPages() { index.Build(pointers); }
  // Position of `pointer`, or -1.
  int64_t Find(uint32_t pointer) const { return index.Find(pointers, pointer); }
};

// The rows a leaf's entries point at, found before the entries are compared one by
// one. An index comes in key order, so its entries send the comparison to rows far
// apart in memory; asking for all of a leaf's rows first lets the memory fetch them
// together instead of one after another.
class LeafRows {
 public:
  void Look(const std::vector<IndexPageEntry>& entries, const ExpectedRows& rows) {
    found_.clear();
    next_ = 0;
    for (const IndexPageEntry& e : entries) {
      const uint32_t pointer = e.row.ToPointer();
      const int64_t k = rows.Covers(pointer) ? rows.Find(pointer) : -1;
      if (k >= 0) {
        __builtin_prefetch(&rows.key_hashes[size_t(k)]);
        __builtin_prefetch(&rows.flags[size_t(k)]);
      }
      found_.push_back({pointer, k});
    }
  }
  // rows.Find(pointer), for the leaf's entries taken in their order, some skipped (a
  // pointer the leaf does not hold is looked up afresh).
  int64_t Take(uint32_t pointer, const ExpectedRows& rows) {
    while (next_ < found_.size() && found_[next_].first != pointer) ++next_;
    if (next_ < found_.size()) return found_[next_++].second;
    return rows.Find(pointer);
  }

 private:
  std::vector<std::pair<uint32_t, int64_t>> found_;
  size_t next_ = 0;
};

// The order of an index's entries, judged one entry after another: each comes after
// the one before (by key, then row), and a unique index holds no key twice.
class EntryOrder {
 public:
  explicit EntryOrder(bool unique) : unique_(unique) {}

  struct Step {
    bool new_key = true;        // the first entry, or a key other than the one before
    bool out_of_order = false;
    bool repeated_key = false;  // a unique index's key again
  };
  Step Next(const IndexPageEntry& e) {
    Step step;
    if (started_) {
      const int c = previous_key_.compare(e.key);
      step.new_key = c != 0;
      step.out_of_order = c > 0 || (c == 0 && !(previous_row_ < e.row));
      step.repeated_key = c == 0 && unique_ && UniqueKeysCollide(previous_key_, e.key);
    }
    started_ = true;
    previous_key_.assign(e.key);
    previous_row_ = e.row;
    return step;
  }

 private:
  const bool unique_;
  bool started_ = false;
  std::string previous_key_;
  RowId previous_row_;
};

// MSysACEs, MSysQueries and MSysRelationships: rows whose values the catalog
// cross-checks need (Checker::RecordCatalogReference).
bool KeepsCatalogReferences(const std::string& table) {
  return table == "MSysACEs" || table == "MSysQueries" || table == "MSysRelationships";
}

// A row lane stops after the page at which it has recorded this many events (24 bytes
// each); the main checker goes on from there.
constexpr size_t kMaxLaneEvents = size_t(1) << 16;

class Checker {
 public:
  Checker(PageFile& file, const CheckOptions& options, CheckReport* report)
      : file_(file), format_(file.format()), options_(options), report_(report), types_(census_types_),
        owners_(census_owners_), claims_(file.page_count(), Claim::kNone), claim_owner_(file.page_count(), 0),
        page_(file.page_size()), other_(file.page_size()) {}

  void Run();

 private:
  struct Place {
    int64_t page = -1;
    int row = -1;
    std::string table;
    std::string index;
  };
  static Place AtPage(int64_t page) {
    Place place;
    place.page = page;
    return place;
  }

  // Two threads. Some work of a table -- the second half of its rows, the first walks
  // of its indexes -- is done by a lane: a checker of its own (its own scratch, the
  // census of the main one) that records what it would have done to the report and
  // to the page claims instead of doing it. The main checker then replays the record
  // at the point where the work comes in sequence, so the report is the one a single
  // thread makes, whatever the timing. A lane reads the file, the census and the
  // table; it writes nothing the main checker reads until it has been joined.
  struct LaneRecord {
    enum class Type : uint8_t { kFinding, kLongValuePage, kIndexPage };
    struct Event {
      Type type = Type::kFinding;
      FindingKind kind = FindingKind::kPartialPage;  // kFinding only
      int row = -1;         // the place of the event
      int64_t page = -1;
      uint32_t target = 0;  // the page claimed
      bool target_sound = false;  // kLongValuePage: its header was seen sound when read
    };
    Place place;         // table and index of every event
    uint32_t owner = 0;  // the table's first page (index pages)
    std::vector<Event> events;
    std::vector<std::string> details;  // of the kFinding events, in order
    // Findings past the cap of their kind within the lane are only counted: in
    // sequence they come after at least as many of their kind, past the cap there too.
    std::map<FindingKind, size_t> listed;
    std::map<FindingKind, size_t> unlisted;
    // Pages the walk being recorded has claimed, by page number.
    std::vector<bool> index_pages;

    bool Full() const { return events.size() >= kMaxLaneEvents; }
    void Push(Type type, FindingKind kind, const Place& at, uint32_t target, bool target_sound = false) {
      events.push_back(Event{type, kind, at.row, at.page, target, target_sound});
    }
  };
  // A lane of `main`, with no record yet (record_ is set before it works).
  explicit Checker(const Checker& main)
      : file_(main.file_), format_(main.format_), options_(main.options_), report_(nullptr), types_(main.types_),
        owners_(main.owners_), page_(main.page_.size()), other_(main.other_.size()) {}
  bool UseSecondThread(size_t data_pages) const { return data_pages >= options_.second_thread_pages; }
  // Does what `record` says in its order. An index walk's record is refused (false,
  // nothing done) when one of the pages it claims is claimed by now: the walk would
  // have gone otherwise in sequence.
  bool Replay(const LaneRecord& record);

  // Reports a finding of `kind` (with the kind's severity).
  void Add(FindingKind kind, const Place& place, const std::string& detail);
  // Records that `owner` (a TDEF page, or 0) holds `page` as `claim`; a second
  // exclusive owner is damage. False when the page was already claimed.
  bool ClaimPage(uint32_t page, Claim claim, uint32_t owner, const Place& place);
  // Claims `page`, which a long value of the row at `place` reaches, when the census
  // says it is an LVAL page; checks its header when nothing had claimed it, unless
  // `sound` says it was seen sound (LongValuePageSound) when the value was read.
  void ClaimLongValuePage(uint32_t page, const Place& place, bool sound);
  // The header of LVAL page `number`, which a value of the row at `place` reaches:
  // its free space must match its rows, and its second byte is 0x01 as on every data
  // page Jet writes. A value there reads whatever the header says, so the damage is
  // the header's, which the repair writes anew.
  void CheckLongValuePage(uint32_t number, const Place& place);
  // True when CheckLongValuePage would find nothing on `page`.
  bool LongValuePageSound(const uint8_t* page) const;

  void CheckHeader();
  void Census();
  void CheckGlobalMap();
  // Reads the map row at `pointer`, claims its host and bitmap pages.
  Status ReadMap(uint32_t pointer, const Place& place, UsageMap* map);
  void CheckCatalog();
  void CheckTable(const CatalogObject& object);
  void CheckTableDefinition(const TableDef& table, const Place& place);
  // The first pass over a table's rows: the findings, the live row count and what the
  // rows say each index must hold.
  void CheckTableRows(const TableDef& table, const Place& place, const std::vector<uint32_t>& pages,
                      std::vector<IndexExpectation>* expected, uint64_t* live_rows);
  // Receives each live row that cracks, with its values (values_ok false when one
  // does not decode).
  using RowSink = std::function<void(RowId id, bool values_ok, const std::vector<Value>& values)>;
  // Scans the rows of pages[first...], stopping after the page at which `row_limit`
  // rows have gone to `sink` (or a lane's record is full); returns the position of
  // the next page. `pages` is ascending, so rows reach the sink by ascending row
  // pointer.
  size_t CheckRows(const TableDef& table, const Place& place, std::span<const uint32_t> pages, size_t first,
                   uint64_t row_limit, const RowSink& sink, uint64_t* live_rows);
  void CheckRow(const TableDef& table, const Place& place, RowId id, const uint8_t* bytes, size_t size,
                RowDecoder* decoder, LongValueReader* long_values, const RowSink& sink);
  // What real index `real` expects of a row with `values`.
  ExpectedEntry Expect(const TableDef& table, size_t real, bool keys_computable, bool values_ok,
                       const std::vector<Value>& values);

  // One walk of an index tree: the leaf entries go to `visit` in tree order, and the
  // leaves' sibling links are followed along.
  struct IndexWalk {
    IndexWalk(const TableDef& t, const Place& p, std::function<void(const IndexPageEntry&)> v)
        : table(&t), place(p), visit(std::move(v)) {}
    const TableDef* table;
    Place place;
    std::function<void(const IndexPageEntry&)> visit;
    // When set, told of a leaf's entries before `visit` gets them one by one.
    std::function<void(const std::vector<IndexPageEntry>&)> before_leaf;
    bool repeat = false;           // repeats a walk that succeeded: reports and claims nothing
    std::vector<uint8_t> buffer;   // the page being decoded
    std::vector<IndexPage> levels = std::vector<IndexPage>(kMaxIndexDepth);  // one decoded page per depth, reused
    uint32_t leaves = 0;
    uint32_t last_leaf = 0;
    uint32_t last_leaf_next = 0;
    int64_t bad_link_leaf = -1;    // first leaf whose links disagree with the tree
  };
  // What the first walk of an index found besides its findings.
  struct IndexScan {
    bool walked = false;  // the walk reached every page of the tree
    uint64_t entries = 0;
    uint64_t fingerprint = 0;
    uint64_t misordered = 0;  // entries out of order, or repeating a key of a unique index
    uint32_t distinct = 0;
  };
  // Whether the entries a first walk met are not the ones the rows expect.
  static bool RowsDiffer(const IndexScan& scan, const IndexExpectation& expected) {
    return scan.entries != expected.eligible || scan.fingerprint != expected.fingerprint;
  }
  // The most the rows of several disagreeing indexes, read again together, may take
  // (ExpectedRows::kBytesPerRow for each row and index); more indexes than fit are
  // read again a group at a time.
  static constexpr uint64_t kSharedRereadBytes = uint64_t(128) << 20;
  // A first walk done by a lane ahead of its turn.
  struct IndexAhead {
    LaneRecord record;
    IndexScan scan;
  };
  // The place findings about real index `real` of the table at `table_place` have.
  static Place IndexPlace(const TableDef& table, size_t real, const Place& table_place);
  // Checks every index of a table against what its rows expect.
  // `live_rows` is what the first pass over its rows counted.
  void CheckIndexes(const TableDef& table, const Place& place, const std::vector<uint32_t>& pages,
                    uint64_t live_rows, const std::vector<IndexExpectation>& expected);
  // `ahead`, when not null, is the index's first walk done by a lane; `reread`, when
  // not null, the index's rows as ReadExpectedRows gives them for a table compared in
  // one run, read already with those of other indexes (the comparison takes them).
  void CheckIndex(const TableDef& table, size_t real, const Place& table_place, const std::vector<uint32_t>& pages,
                  uint64_t live_rows, const IndexExpectation& expectation, const IndexAhead* ahead,
                  ExpectedRows* reread);
  // The first walk: the structure, the order and the fingerprint of the entries.
  IndexScan ScanIndex(const TableDef& table, size_t real, const Place& place, const IndexExpectation& expected);
  // Claims index page `number` for the walk, or reports why it cannot be: reached
  // twice (a cycle), or owned by another structure. False when the walk must stop.
  bool ClaimIndexPage(const IndexWalk& walk, uint32_t number, const Place& at);
  // The entry-by-entry comparison of an index whose fingerprint or order disagreed;
  // reports the same findings, entry by entry, as a comparison with every row in hand.
  // `rows_differ` false: only the order is wrong, the entries are those of the rows.
  void CompareIndexEntries(const TableDef& table, size_t real, const Place& place,
                           const std::vector<uint32_t>& pages, uint64_t live_rows, bool rows_differ,
                           uint64_t entry_count, ExpectedRows* reread);
  // Reads the rows of pages[first...] again, without reporting, stopping as CheckRows
  // does after `row_limit` rows; returns the position of the next page. rows[n] gets
  // what the rows expect of real index reals[n]. A run that takes every page of a
  // large table (`live_rows` below the limit) is read on two threads, one half of the
  // pages each.
  size_t ReadExpectedRows(const TableDef& table, const std::vector<size_t>& reals, const Place& place,
                          const std::vector<uint32_t>& pages, size_t first, uint64_t row_limit, uint64_t live_rows,
                          const std::vector<ExpectedRows*>& rows);
  // Walks the subtree at `number`; `last` gets the subtree's last entry. False when
  // the walk had to stop.
  // `bytes`: the page when the caller has read it already, else null.
  bool WalkIndexPage(IndexWalk* walk, uint32_t number, int depth, IndexPageEntry* last, bool* has_last,
                     const uint8_t* bytes = nullptr);
  void VisitLeaf(IndexWalk* walk, uint32_t number, uint32_t prev, uint32_t next);
  // Keeps the values of MSysACEs, MSysQueries and MSysRelationships rows that the
  // catalog cross-checks need.
  void RecordCatalogReference(const Place& at, const TableDef& table, const std::vector<Value>& values);
  void CheckCatalogReferences();
  void CheckUnreachable();

  PageFile& file_;
  const Format& format_;
  const CheckOptions options_;
  CheckReport* report_;    // null in a lane
  LaneRecord* record_ = nullptr;  // a lane's: where Add and the claims go
  // Byte 0 and bytes 4-7 of every page, from the census (written by Census only);
  // types_ and owners_ are the main checker's in a lane.
  std::vector<uint8_t> census_types_;
  std::vector<uint32_t> census_owners_;
  const std::vector<uint8_t>& types_;
  const std::vector<uint32_t>& owners_;
  std::vector<Claim> claims_;          // empty in a lane
  std::vector<uint32_t> claim_owner_;
  uint64_t data_pages_ = 0;          // tables' data pages, not LVAL (progress: all the work)
  uint64_t data_pages_checked_ = 0;  // ... of the tables checked so far
  uint64_t progress_shown_ = 0;      // what progress was last told; it never goes back

  void ShowProgress(uint64_t done) {
    done = std::min(done, data_pages_);
    if (done <= progress_shown_) return;
    progress_shown_ = done;
    ReportProgress(options_.progress, done, data_pages_);
  }
  std::vector<bool> free_;           // set in the global free-page map
  std::vector<uint8_t> page_;
  std::vector<uint8_t> other_;
  // Set while rows or an index are read a second time for the detailed comparison:
  // nothing is reported, claimed or recorded then, as the first pass did that.
  bool quiet_ = false;
  std::string key_;                   // scratch key of Expect
  RowLayout layout_;                  // scratch of CheckRow
  std::vector<RawColumn> raw_;
  std::vector<Value> values_;
  std::vector<uint8_t> long_value_;
  std::vector<uint8_t> long_value_page_;
  std::vector<RowId> long_value_rows_;
  // LVAL pages seen sound as the long-value reader loaded them, by page number modulo
  // the size (0: none): an LVAL page is then not read a second time for its header.
  // A page's bytes do not change during the check, so an entry never goes stale.
  std::array<uint32_t, 64> sound_long_value_pages_{};
  std::map<FindingKind, size_t> kind_counts_;
  // Findings past the cap of their kind, by kind name, table and index.
  struct Unlisted {
    FindingKind kind = FindingKind::kPartialPage;
    size_t count = 0;
  };
  std::map<std::tuple<std::string, std::string, std::string>, Unlisted> unlisted_;
  std::vector<CatalogObject> objects_;
  std::vector<std::pair<int32_t, Place>> ace_objects_;    // MSysACEs.ObjectId
  std::vector<std::pair<int32_t, Place>> query_objects_;  // MSysQueries.ObjectId
  std::vector<std::pair<std::string, Place>> related_tables_;  // MSysRelationships names
};

void Checker::Add(FindingKind kind, const Place& place, const std::string& detail) {
  if (quiet_) return;
  if (record_ != nullptr) {
    if (++record_->listed[kind] > kMaxFindingsPerKind) {
      ++record_->unlisted[kind];
      return;
    }
    record_->Push(LaneRecord::Type::kFinding, kind, place, 0);
    record_->details.push_back(detail);
    return;
  }
  size_t& count = kind_counts_[kind];
  if (++count > kMaxFindingsPerKind) {
    Unlisted& more = unlisted_[{FindingKindName(kind), place.table, place.index}];
    more.kind = kind;
    ++more.count;
    return;
  }
  CheckFinding f;
  f.severity = FindingKindInfoOf(kind).severity;
  f.kind = kind;
  f.page = place.page;
  f.row = place.row;
  f.table = place.table;
  f.index = place.index;
  f.detail = detail;
  report_->findings.push_back(std::move(f));
}

bool Checker::ClaimPage(uint32_t page, Claim claim, uint32_t owner, const Place& place) {
  if (page >= claims_.size()) return false;
  if (quiet_) return true;
  if (claims_[page] == Claim::kNone) {
    claims_[page] = claim;
    claim_owner_[page] = owner;
    return true;
  }
  if (claims_[page] == claim && Shareable(claim)) return true;
  Place at = place;
  at.page = page;
  Add(FindingKind::kPageMultiplyOwned, at,
      std::string("page is reached as ") + ClaimName(claim) + " but already belongs to " +
          ClaimName(claims_[page]) +
          (claim_owner_[page] != 0 ? " of table " + std::to_string(claim_owner_[page]) : ""));
  return false;
}

void Checker::ClaimLongValuePage(uint32_t page, const Place& place, bool sound) {
  if (quiet_) return;  // the first pass claimed it; a quiet lane has no claims to look at
  if (page >= file_.page_count() || types_[page] != kPageData || owners_[page] != kLongValueOwner) return;
  if (record_ != nullptr) {
    record_->Push(LaneRecord::Type::kLongValuePage, FindingKind::kPartialPage, place, page, sound);
    return;
  }
  const bool first = claims_[page] == Claim::kNone;
  ClaimPage(page, Claim::kLongValue, 0, place);
  if (first && !quiet_ && !sound) CheckLongValuePage(page, place);
}

bool Checker::Replay(const LaneRecord& record) {
  for (const LaneRecord::Event& e : record.events)
    if (e.type == LaneRecord::Type::kIndexPage && claims_[e.target] != Claim::kNone) return false;
  size_t detail = 0;
  for (const LaneRecord::Event& e : record.events) {
    Place at = record.place;
    at.page = e.page;
    at.row = e.row;
    switch (e.type) {
      case LaneRecord::Type::kFinding: Add(e.kind, at, record.details[detail++]); break;
      case LaneRecord::Type::kLongValuePage: ClaimLongValuePage(e.target, at, e.target_sound); break;
      case LaneRecord::Type::kIndexPage: ClaimPage(e.target, Claim::kIndex, record.owner, at); break;
    }
  }
  for (const auto& [kind, count] : record.unlisted) {
    kind_counts_[kind] += count;
    Unlisted& more = unlisted_[{FindingKindName(kind), record.place.table, record.place.index}];
    more.kind = kind;
    more.count += count;
  }
  return true;
}

void Checker::CheckLongValuePage(uint32_t number, const Place& place) {
  long_value_page_.resize(format_.page_size);
  DataPageHeader header;
  if (!file_.ReadPage(number, long_value_page_.data()).ok() ||
      !ParseDataPage(format_, long_value_page_.data(), &header).ok())
    return;  // the value's read has said so
  Place at = place;
  at.page = number;
  at.row = -1;
  if (!header.free_space_matches)
    Add(FindingKind::kDataPageFreeSpace, at,
        "long-value page: the stored free space " + std::to_string(header.free_space) + " does not match the rows");
  if (long_value_page_[1] != 0x01)
    Add(FindingKind::kDataPage, at,
        "long-value page: its second byte is " + std::to_string(long_value_page_[1]) + ", not 1");
}

bool Checker::LongValuePageSound(const uint8_t* page) const {
  DataPageHeader header;
  return ParseDataPage(format_, page, &header).ok() && header.free_space_matches && page[1] == 0x01;
}

void Checker::Run() {
  report_->version = format_.version;
  report_->page_count = file_.page_count();
  CheckHeader();
  Census();
  CheckGlobalMap();
  CheckCatalog();
  CheckUnreachable();
  // One line for what the cap left out, per kind, table and index; these lines are
  // not themselves subject to the cap.
  for (const auto& [where, unlisted] : unlisted_) {
    CheckFinding more;
    more.kind = unlisted.kind;
    more.severity = FindingKindInfoOf(unlisted.kind).severity;
    std::tie(std::ignore, more.table, more.index) = where;
    more.detail = std::to_string(unlisted.count) + " more findings of this kind are not listed";
    report_->findings.push_back(std::move(more));
  }
}

void Checker::CheckHeader() {
  const Header& header = file_.header();
  Place p0;
  p0.page = 0;
  if (file_.has_partial_page())
    Add(FindingKind::kPartialPage, AtPage(int64_t(file_.page_count())),
        "the file is " + std::to_string(file_.file_size()) + " bytes, not a whole number of " +
            std::to_string(format_.page_size) + "-byte pages; the last page is cut short");
  if (header.raw_page.size() >= format_.page_size && CommitStateSet(format_, header.raw_page.data()))
    Add(FindingKind::kCommitState, p0,
        "the commit bytes record a write that never finished (the database needs repair)");
  if (header.is_encoded())
    Add(FindingKind::kEncoded, p0, "pages are RC4-encoded with the database key");
  for (const ImpossibleField& f : ImpossibleHeaderFields(header)) Add(FindingKind::kHeaderField, p0, f.detail);
  if (IsJet3(format_.version) ? header.sort_lcid != 1033 && header.sort_lcid != 0 : header.sort_lcid != 1033)
    Add(FindingKind::kSortOrder, p0,
        "default sort order " + std::to_string(header.sort_lcid) + " is not General (1033)");
  ClaimPage(0, Claim::kHeader, 0, p0);
}

void Checker::Census() {
  const uint32_t n = file_.page_count();
  census_types_.assign(n, 0);
  census_owners_.assign(n, 0);
  // Pages [first, end) into the census; their data pages are counted, the ones that
  // cannot be read listed.
  const auto take = [this](uint32_t first, uint32_t end, uint64_t* data_pages, std::vector<uint32_t>* unreadable) {
    ForEachPage(
        file_, first, end,
        [&](uint32_t i, const uint8_t* page) {
          census_types_[i] = page[0];
          census_owners_[i] = LoadLe32(page + 4);
          if (census_types_[i] == kPageData && census_owners_[i] != kLongValueOwner) ++*data_pages;
        },
        [&](uint32_t i) { unreadable->push_back(i); });
  };
  // The second half of the pages on the second thread: disjoint entries of the census.
  const uint32_t half = n > 1 && UseSecondThread(n) ? 1 + (n - 1) / 2 : n;
  uint64_t other_data_pages = 0;
  std::vector<uint32_t> unreadable, other_unreadable;
  std::thread helper;
  if (half < n) helper = std::thread(take, half, n, &other_data_pages, &other_unreadable);
  take(1, half, &data_pages_, &unreadable);
  if (helper.joinable()) helper.join();
  data_pages_ += other_data_pages;
  unreadable.insert(unreadable.end(), other_unreadable.begin(), other_unreadable.end());
  for (uint32_t i : unreadable) Add(FindingKind::kPageUnreadable, AtPage(int64_t(i)), "the page cannot be read");
}

void Checker::CheckGlobalMap() {
  free_.assign(file_.page_count(), false);
  Place place = AtPage(1);
  if (file_.page_count() < 2) return;
  if (!file_.ReadPage(1, page_.data()).ok()) return;
  DataPageHeader header;
  Status s = ParseDataPage(format_, page_.data(), &header);
  RowSlot slot;
  if (s.ok()) s = GetRowSlot(format_, page_.data(), header, 0, &slot);
  if (s.ok() && slot.deleted) s = Status::Error(ErrorKind::kDamaged, "its row is deleted");
  if (!s.ok()) {
    Add(FindingKind::kGlobalMap, place, "the global free-page map on page 1 cannot be read: " + s.detail());
    return;
  }
  ClaimPage(1, Claim::kGlobalMap, 0, place);
  UsageMap map;
  s = DecodeUsageMap(file_, page_.data() + slot.start, slot.size(), &map);
  if (!s.ok()) {
    Add(FindingKind::kGlobalMap, place, "the global free-page map cannot be decoded: " + s.detail());
    return;
  }
  for (uint32_t p : map.pages) free_[p] = true;
}

Status Checker::ReadMap(uint32_t pointer, const Place& place, UsageMap* map) {
  const RowId id = RowId::FromPointer(pointer);
  if (id.page == 0 || id.page >= file_.page_count())
    return Status::Error(ErrorKind::kDamaged, "map row pointer names page " + std::to_string(id.page));
  Status s = file_.ReadPage(id.page, other_.data());
  if (!s.ok()) return s;
  DataPageHeader header;
  s = ParseDataPage(format_, other_.data(), &header);
  RowSlot slot;
  if (s.ok()) s = GetRowSlot(format_, other_.data(), header, id.row, &slot);
  if (s.ok() && slot.deleted) s = Status::Error(ErrorKind::kDamaged, "map row is deleted");
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "map row " + std::to_string(id.page) + ":" +
                                                             std::to_string(id.row) + ": " + s.detail());
  ClaimPage(id.page, Claim::kMapHost, 0, place);
  const uint8_t* row = other_.data() + slot.start;
  const size_t size = slot.size();
  if (size > 0 && row[0] == kUsageMapReference) {
    for (size_t i = 0; 1 + 4 * i + 4 <= size; ++i) {
      const uint32_t bitmap = LoadLe32(row + 1 + 4 * i);
      if (bitmap != 0) ClaimPage(bitmap, Claim::kBitmap, 0, place);
    }
  }
  std::vector<uint8_t> copy(row, row + size);  // DecodeUsageMap reads pages itself
  return DecodeUsageMap(file_, copy.data(), copy.size(), map);
}

void Checker::CheckCatalog() {
  Place place = AtPage(kCatalogTdefPage);
  place.table = "MSysObjects";
  if (file_.page_count() <= kCatalogTdefPage) {
    Add(FindingKind::kCatalogUnreadable, place, "the file is too short to hold the catalog");
    return;
  }
  TableDef catalog;
  Status s = ReadTableDef(file_, kCatalogTdefPage, &catalog);
  std::vector<std::string> notes;
  if (s.ok()) s = ReadCatalog(file_, catalog, &objects_, &notes);
  if (!s.ok()) {
    Add(FindingKind::kCatalogUnreadable, place, "the catalog (MSysObjects) cannot be read: " + s.detail());
    return;
  }
  bool catalog_listed = false;
  std::unordered_set<int32_t> ids;
  for (const CatalogObject& o : objects_) {
    Place at;
    at.page = o.row.page;
    at.row = o.row.row;
    at.table = "MSysObjects";
    if (!ids.insert(o.id).second)
      Add(FindingKind::kCatalogDuplicateId, at, "object \"" + o.name + "\" reuses id " + std::to_string(o.id));
    // Such flags come from a flipped or torn field; with them a table may read as a
    // hidden system table, and vanish from the user's list.
    if (!o.flags_possible())
      Add(FindingKind::kCatalogFlags, at, "table \"" + o.name + "\" has flags " + std::to_string(o.flags) +
                                              ", with bits no table's flags have");
    if (o.is_table()) {
      const uint32_t page = static_cast<uint32_t>(o.id) & 0x00FFFFFF;
      if (page == kCatalogTdefPage) catalog_listed = true;
    }
  }
  if (!catalog_listed) Add(FindingKind::kCatalogSelf, place, "MSysObjects does not list itself at page 2");
  for (const CatalogObject& o : objects_)
    if (o.is_table()) CheckTable(o);
  CheckCatalogReferences();
}

void Checker::CheckTable(const CatalogObject& object) {
  const uint32_t first = static_cast<uint32_t>(object.id) & 0x00FFFFFF;
  Place place;
  place.page = first;
  place.table = object.name;
  if (first == 0 || first >= file_.page_count() || types_[first] != kPageTableDef) {
    Add(FindingKind::kCatalogTablePage, place,
        "table \"" + object.name + "\" names page " + std::to_string(first) +
            (first < types_.size() ? ", which is not a table definition (type " + std::to_string(types_[first]) + ")"
                                   : ", past the end of the file"));
    return;
  }
  TableDef table;
  Status s = ReadTableDef(file_, first, &table);
  if (!s.ok()) {
    Add(FindingKind::kTdefUnreadable, place, "the table definition cannot be read: " + s.detail());
    return;
  }
  for (uint32_t p : table.pages) {
    Place at = place;
    at.page = p;
    ClaimPage(p, Claim::kTableDef, first, at);
  }
  CheckTableDefinition(table, place);

  // Owned pages: from the map, or (map unreadable) every data page naming the table.
  std::vector<uint32_t> pages;
  UsageMap owned;
  s = ReadMap(table.owned_map, place, &owned);
  if (s.ok()) {
    for (uint32_t p : owned.pages) {
      if (types_[p] == kPageData && owners_[p] == first) {
        pages.push_back(p);
      } else if (owners_[p] == first && types_[p] != 0) {
        // Bytes 4-7 still name the table but the type byte says something else: a
        // data page whose type was overwritten, not a page the table gave back.
        Place at = place;
        at.page = p;
        Add(FindingKind::kPageType, at, "a page of the table's owned-pages map names the table but has type " +
                                          std::to_string(types_[p]));
      } else if (WrongPageForOwnedMap(types_[p])) {
        Place at = place;
        at.page = p;
        Add(FindingKind::kOwnedMapWrongPage, at,
            "the owned-pages map lists a page of type " + std::to_string(types_[p]) +
                ", which no table ever owns as a data page");
      } else {
        Place at = place;
        at.page = p;
        Add(FindingKind::kOwnedMapForeignPage, at,
            "the owned-pages map lists a page that is not one of the table's data pages (type " +
                std::to_string(types_[p]) + ")");
      }
    }
    std::vector<uint32_t> own_mapped = pages;
    std::sort(own_mapped.begin(), own_mapped.end());
    for (uint32_t p : UnmappedDataPages(file_, types_, owners_, table, own_mapped)) {
      Place at = place;
      at.page = p;
      Add(FindingKind::kOwnedMapMissingPage, at,
          "a data page naming the table holds live rows, but the owned-pages map leaves it out");
      pages.push_back(p);
    }
    if (owned.pages_past_end > 0)
      Add(FindingKind::kMapPastEnd, place,
          "the owned-pages map names " + std::to_string(owned.pages_past_end) + " pages past the end of the file");
  } else {
    Add(FindingKind::kOwnedMap, place, "the owned-pages map cannot be read: " + s.detail());
    for (uint32_t p = 1; p < file_.page_count(); ++p)
      if (types_[p] == kPageData && owners_[p] == first) pages.push_back(p);
  }
  // Ascending and once each (both sources are already), so that rows are scanned by
  // ascending row pointer.
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  for (uint32_t p : pages) {
    Place at = place;
    at.page = p;
    ClaimPage(p, Claim::kData, first, at);
  }
  if (table.free_map != 0) {
    UsageMap free_map;
    s = ReadMap(table.free_map, place, &free_map);
    if (!s.ok()) {
      Add(FindingKind::kFreeSpaceMap, place, "the free-space map cannot be read: " + s.detail());
    } else {
      for (uint32_t p : free_map.pages)
        if (!std::binary_search(owned.pages.begin(), owned.pages.end(), p)) {
          Place at = place;
          at.page = p;
          Add(FindingKind::kFreeMapNotOwned, at, "the free-space map lists a page the table does not own");
        }
    }
  }
  for (const LongValueMaps& maps : table.long_value_maps) {
    for (uint32_t pointer : {maps.owned_map, maps.free_map}) {
      if (pointer == 0) continue;
      UsageMap lv_map;
      s = ReadMap(pointer, place, &lv_map);
      if (!s.ok()) {
        Add(FindingKind::kLongValueMap, place,
            "a long-value page map of column " + std::to_string(maps.column_number) + " cannot be read: " + s.detail());
        continue;
      }
      for (uint32_t p : lv_map.pages)
        if (types_[p] != kPageData || owners_[p] != kLongValueOwner) {
          Place at = place;
          at.page = p;
          Add(FindingKind::kLongValueMapForeignPage, at, "a long-value page map lists a page that is not an LVAL page");
        }
    }
  }

  std::vector<IndexExpectation> expected(table.real_indexes.size());
  for (size_t i = 0; i < expected.size(); ++i)
    expected[i].keys_computable = CanComputeKeys(format_, table, table.real_indexes[i]);
  uint64_t live_rows = 0;
  CheckTableRows(table, place, pages, &expected, &live_rows);
  report_->live_rows += live_rows;
  // Access keeps the counts of its own system tables loosely (real files disagree by a
  // few rows); nothing reads them. A user table's count is what readers report.
  const bool system = object.is_system();
  if (live_rows != table.row_count)
    Add(system ? FindingKind::kRowCountSystem : FindingKind::kRowCount, place,
        "the definition says " + std::to_string(table.row_count) + " rows, the pages hold " +
            std::to_string(live_rows));
  CheckIndexes(table, place, pages, live_rows, expected);
  data_pages_checked_ += pages.size();
  ShowProgress(data_pages_checked_);
}

void Checker::CheckTableDefinition(const TableDef& table, const Place& place) {
  std::set<uint16_t> numbers, var_indexes;
  std::vector<std::pair<uint32_t, uint32_t>> fixed;
  // A control character or a name given twice is what a hit name leaves: Access lets
  // no such name stand, and a writer would carry it on.
  if (const ColumnDef* named = UnallowedColumnName(table))
    Add(FindingKind::kTdefColumnRecord, place, "column name \"" + named->name + "\" is none Access allows, or given twice");
  for (const ColumnDef& c : table.columns) {
    if (!numbers.insert(c.number).second)
      Add(FindingKind::kTdefColumnNumber, place, "column number " + std::to_string(c.number) + " is used twice");
    // Rows may still read through such a record (a flipped AutoNumber or hyperlink
    // bit changes no byte of them), but no engine writes it, and a writer that
    // trusted it would number or store the column wrongly.
    if (std::string why = ImpossibleColumnRecord(file_.format(), c); !why.empty())
      Add(FindingKind::kTdefColumnRecord, place, "column \"" + c.name + "\": " + why);
    if (c.type() == ColumnType::kBoolean) continue;
    if (c.is_fixed()) {
      fixed.emplace_back(c.fixed_offset, uint32_t(c.fixed_offset) + c.length);
    } else if (!var_indexes.insert(c.var_index).second) {
      Add(FindingKind::kTdefVarIndex, place, "variable index " + std::to_string(c.var_index) + " is used twice");
    }
  }
  std::sort(fixed.begin(), fixed.end());
  for (size_t i = 1; i < fixed.size(); ++i)
    if (fixed[i].first < fixed[i - 1].second)
      Add(FindingKind::kTdefFixedOverlap, place,
          "fixed columns overlap at offset " + std::to_string(fixed[i].first));
  for (size_t i = 0; i < table.real_indexes.size(); ++i) {
    for (const IndexColumn& ic : table.real_indexes[i].columns)
      if (table.FindColumnByNumber(ic.column_number) < 0) {
        Place at = place;
        at.index = "real index " + std::to_string(i);
        Add(FindingKind::kTdefIndexColumn, at, "the index names column number " + std::to_string(ic.column_number) +
                                                  ", which the table does not have");
      }
  }
  for (const LogicalIndex& li : table.logical_indexes) {
    if (li.related_table != 0 &&
        (li.related_table >= file_.page_count() || types_[li.related_table] != kPageTableDef)) {
      Place at = place;
      at.index = li.name;
      Add(FindingKind::kTdefRelatedTable, at,
          "the relationship names page " + std::to_string(li.related_table) + ", which is not a table definition");
    }
  }
}

void Checker::CheckTableRows(const TableDef& table, const Place& place, const std::vector<uint32_t>& pages,
                             std::vector<IndexExpectation>* expected, uint64_t* live_rows) {
  const auto expect_into = [&table](Checker* checker, std::vector<IndexExpectation>* into) -> RowSink {
    return [&table, checker, into](RowId id, bool values_ok, const std::vector<Value>& values) {
      for (size_t i = 0; i < into->size(); ++i)
        (*into)[i].Add(id.ToPointer(), checker->Expect(table, i, (*into)[i].keys_computable, values_ok, values));
    };
  };
  const std::span<const uint32_t> all(pages);
  // The catalog references are recorded by whoever reads the row: those tables stay
  // on one thread (they are small).
  if (!UseSecondThread(pages.size()) || KeepsCatalogReferences(place.table)) {
    CheckRows(table, place, all, 0, UINT64_MAX, expect_into(this, expected), live_rows);
    return;
  }
  // The second half of the pages goes to a lane; its record follows the first half.
  const size_t half = pages.size() / 2;
  LaneRecord record;
  record.place = place;
  Checker lane(*this);
  lane.record_ = &record;
  std::vector<IndexExpectation> lane_expected(expected->size());
  for (size_t i = 0; i < expected->size(); ++i) lane_expected[i].keys_computable = (*expected)[i].keys_computable;
  uint64_t lane_rows = 0;
  size_t lane_end = half;
  std::thread helper([&] {
    lane_end += lane.CheckRows(table, place, all.subspan(half), 0, UINT64_MAX, expect_into(&lane, &lane_expected),
                               &lane_rows);
  });
  CheckRows(table, place, all.first(half), 0, UINT64_MAX, expect_into(this, expected), live_rows);
  helper.join();
  Replay(record);
  for (size_t i = 0; i < expected->size(); ++i) (*expected)[i].Append(lane_expected[i]);
  *live_rows += lane_rows;
  // A lane whose record filled up stopped early: the rest is done here.
  if (lane_end < pages.size())
    CheckRows(table, place, all.subspan(lane_end), 0, UINT64_MAX, expect_into(this, expected), live_rows);
}

size_t Checker::CheckRows(const TableDef& table, const Place& place, std::span<const uint32_t> pages,
                          size_t first, uint64_t row_limit, const RowSink& sink, uint64_t* live_rows) {
  PageRunReader reader(file_, pages);
  RowDecoder decoder(file_, table);
  LongValueReader long_values(file_);
  long_values.set_on_page_load([this](uint32_t number, const uint8_t* page) {
    if (LongValuePageSound(page)) sound_long_value_pages_[number % sound_long_value_pages_.size()] = number;
  });
  OverflowFollower overflow(file_, table.first_page);
  uint64_t rows = 0;
  Place at = place;
  size_t next = first;
  while (next < pages.size() && rows < row_limit && !(record_ != nullptr && record_->Full())) {
    const uint8_t* page = reader.Page(next);
    const uint32_t number = pages[next++];
    if (record_ == nullptr) ShowProgress(data_pages_checked_ + next);  // this table's pages come after the ones before
    at.row = -1;
    at.page = number;
    if (page == nullptr) continue;
    DataPageHeader header;
    Status s = ParseDataPage(format_, page, &header);
    if (!s.ok()) {
      Add(FindingKind::kDataPage, at, s.detail());
      continue;
    }
    if (header.row_count > kMaxRowsPerDataPage) {
      Add(FindingKind::kDataPage, at, std::to_string(header.row_count) + " slots, more than 255");
      continue;
    }
    if (!header.free_space_matches)
      Add(FindingKind::kDataPageFreeSpace, at,
          "the stored free space " + std::to_string(header.free_space) + " does not match the rows");
    for (unsigned i = 0; i < header.row_count; ++i) {
      RowSlot slot;
      at.row = int(i);
      s = GetRowSlot(format_, page, header, i, &slot);
      if (!s.ok()) {
        Add(FindingKind::kRowSlot, at, s.detail());
        continue;
      }
      if (slot.deleted) continue;
      if (RowInFreeSpace(format_, header, slot)) {
        Add(FindingKind::kRowSlot, at, "the row starts at " + std::to_string(slot.start) +
                                         ", inside the page's free space");
        continue;
      }
      const RowId id{number, uint8_t(i)};
      const uint8_t* bytes = page + slot.start;
      size_t size = slot.size();
      if (slot.overflow) {
        OverflowTarget target;
        s = overflow.Follow(bytes, size, &target);
        if (!s.ok()) {
          Add(FindingKind::kOverflowPointer, at, s.detail());
          continue;
        }
        bytes = target.bytes;
        size = target.size;
      }
      ++*live_rows;
      ++rows;
      CheckRow(table, at, id, bytes, size, &decoder, &long_values, sink);
    }
  }
  return next;
}

void Checker::CheckRow(const TableDef& table, const Place& at, RowId id, const uint8_t* row, size_t size,
                       RowDecoder* decoder, LongValueReader* long_values, const RowSink& sink) {
  // `row` stays where it is (the page's buffer, or the overflow follower's): the long
  // values below are read through buffers of their own.
  const size_t count_size = format_.row_column_count_size;
  if (size >= count_size) {
    const uint32_t count = count_size == 1 ? row[0] : LoadLe16(row);
    if (count > table.max_columns) {
      Add(FindingKind::kRowUndecodable, at, "the row claims " + std::to_string(count) + " columns of " +
                                              std::to_string(table.max_columns));
      return;
    }
  }
  // The trailer is read once, for the split and for both validations.
  std::vector<RawColumn>& raw = raw_;
  Status s = ReadRowLayout(format_, table, row, size, &layout_);
  if (s.ok()) s = CrackRowWithLayout(format_, table, row, size, layout_, &raw);
  if (!s.ok()) {
    Add(FindingKind::kRowUndecodable, at, s.detail());
    return;
  }
  s = ValidateCrackedRow(format_, table, layout_, raw);
  if (!s.ok()) {
    Add(FindingKind::kRowInvalid, at, s.detail());
    return;
  }
  if (Status o = ValidateUnreadOffsets(layout_); !o.ok()) Add(FindingKind::kRowInvalid, at, o.detail());
  std::vector<Value>& values = values_;
  values.resize(table.columns.size());
  bool values_ok = true;
  for (size_t c = 0; c < table.columns.size(); ++c) {
    const ColumnDef& column = table.columns[c];
    if (column.is_long_value() && !raw[c].is_null) {
      // Read once: the pages it takes are claimed, and its bytes give the value.
      Status ls = long_values->Read(row + raw[c].offset, raw[c].size, &long_value_, &long_value_rows_);
      for (const RowId& r : long_value_rows_)
        ClaimLongValuePage(r.page, at, sound_long_value_pages_[r.page % sound_long_value_pages_.size()] == r.page);
      if (!ls.ok()) {
        Add(FindingKind::kLongValueBroken, at, "column \"" + column.name + "\": " + ls.detail());
        values_ok = false;
        values[c] = Value();
        continue;
      }
      s = decoder->LongColumnValue(c, long_value_, &values[c]);
    } else {
      s = decoder->ColumnValue(c, row, raw[c], &values[c]);
    }
    if (!s.ok()) {
      Add(FindingKind::kRowValue, at, s.detail());
      values_ok = false;
      continue;
    }
    s = ValidateLongValueContent(format_.version, table, c, values[c]);
    if (!s.ok()) {
      Add(FindingKind::kLongValueBroken, at, s.detail());
      values_ok = false;
    }
  }
  if (values_ok && !quiet_) RecordCatalogReference(at, table, values);
  sink(id, values_ok, values);
}

ExpectedEntry Checker::Expect(const TableDef& table, size_t real, bool keys_computable, bool values_ok,
                              const std::vector<Value>& values) {
  const RealIndex& index = table.real_indexes[real];
  ExpectedEntry e;
  if (!values_ok) return e;
  bool all_null = true;
  for (const IndexColumn& ic : index.columns) {
    const int pos = table.FindColumnByNumber(ic.column_number);
    if (pos >= 0 && !values[pos].is_null()) all_null = false;
  }
  e.eligible = !((index.flags & kIndexIgnoreNulls) && all_null);
  if (keys_computable) {
    e.key_known = EncodeIndexKey(format_, table, index, values, &key_).ok();
    if (e.key_known) e.key_hash = KeyHash(key_);
  }
  return e;
}

void Checker::VisitLeaf(IndexWalk* walk, uint32_t number, uint32_t prev, uint32_t next) {
  // Leaves are doubly linked in tree order: the first leaf whose previous or next
  // link disagrees is reported.
  if (walk->bad_link_leaf < 0) {
    if (walk->leaves > 0 && walk->last_leaf_next != number)
      walk->bad_link_leaf = walk->last_leaf;
    else if (prev != (walk->leaves == 0 ? 0 : walk->last_leaf))
      walk->bad_link_leaf = number;
  }
  ++walk->leaves;
  walk->last_leaf = number;
  walk->last_leaf_next = next;
}

bool Checker::WalkIndexPage(IndexWalk* walk, uint32_t number, int depth, IndexPageEntry* last, bool* has_last,
                            const uint8_t* bytes) {
  const TableDef& table = *walk->table;
  Place at = walk->place;
  at.page = number;
  // A repeated walk follows one that succeeded, reported its problems and claimed
  // every page once.
  auto report = [&](FindingKind kind, const std::string& detail) {
    if (!walk->repeat) Add(kind, at, detail);
  };
  if (depth >= kMaxIndexDepth) {
    report(FindingKind::kIndexTree, "the tree is deeper than 32 levels");
    return false;
  }
  if (number == 0 || number >= file_.page_count()) {
    report(FindingKind::kIndexTree, "a pointer of the tree leads outside the file");
    return false;
  }
  if (!walk->repeat && !ClaimIndexPage(*walk, number, at)) return false;
  if (bytes == nullptr) {
    walk->buffer.resize(format_.page_size);
    if (!file_.ReadPage(number, walk->buffer.data()).ok()) return false;
    bytes = walk->buffer.data();
  }
  IndexPage& page = walk->levels[depth];  // deeper levels use the slots after this one
  Status s = DecodeIndexPage(format_, bytes, &page);
  if (!s.ok()) {
    report(FindingKind::kIndexPage, s.detail());
    return false;
  }
  if (page.owner != table.first_page) {
    report(FindingKind::kIndexPage, "the index page belongs to table " + std::to_string(page.owner));
    return false;
  }
  if (page.is_leaf()) {
    if (!walk->repeat) VisitLeaf(walk, number, page.prev, page.next);
    if (walk->before_leaf) walk->before_leaf(page.entries);
    for (const IndexPageEntry& e : page.entries) walk->visit(e);
    if (!page.entries.empty()) {
      *last = std::move(page.entries.back());
      *has_last = true;
    }
    return true;
  }
  std::vector<IndexPageEntry>& children = page.entries;
  if (page.tail != 0) {
    IndexPageEntry tail;
    tail.child = page.tail;
    children.push_back(tail);
  }
  // Children that lie one after another are read a run at a time; one that does not
  // read is read again alone, and fails there as it would.
  std::vector<uint32_t> numbers;
  numbers.reserve(children.size());
  for (const IndexPageEntry& child : children) numbers.push_back(child.child);
  PageRunReader run(file_, numbers);
  for (size_t i = 0; i < children.size(); ++i) {
    IndexPageEntry child_last;
    bool child_has_last = false;
    const uint8_t* child = numbers[i] != 0 && numbers[i] < file_.page_count() ? run.Page(i) : nullptr;
    if (!WalkIndexPage(walk, numbers[i], depth + 1, &child_last, &child_has_last, child)) return false;
    const bool is_tail = page.tail != 0 && i + 1 == children.size();
    if (!is_tail && child_has_last &&
        (child_last.key != children[i].key || child_last.row != children[i].row))
      report(FindingKind::kIndexNodeEntry,
             "node entry " + std::to_string(i) + " is not the last entry of its child page " +
              std::to_string(children[i].child));
    if (child_has_last) {
      *last = std::move(child_last);
      *has_last = true;
    }
  }
  return true;
}

bool Checker::ClaimIndexPage(const IndexWalk& walk, uint32_t number, const Place& at) {
  const uint32_t owner = walk.table->first_page;
  const bool again = record_ != nullptr ? bool(record_->index_pages[number])
                                        : claims_[number] == Claim::kIndex && claim_owner_[number] == owner;
  if (again) {
    Add(FindingKind::kIndexTree, at, "the page is reached twice (a cycle in the tree)");
    return false;
  }
  if (record_ == nullptr) return ClaimPage(number, Claim::kIndex, owner, at);
  // A lane's claims hold when no page of them is claimed at its turn (Replay).
  record_->index_pages[number] = true;
  record_->Push(LaneRecord::Type::kIndexPage, FindingKind::kPartialPage, at, number);
  return true;
}

Checker::Place Checker::IndexPlace(const TableDef& table, size_t real, const Place& table_place) {
  Place place = table_place;
  place.index = RealIndexName(table, real);
  return place;
}

void Checker::CheckIndexes(const TableDef& table, const Place& place, const std::vector<uint32_t>& pages,
                           uint64_t live_rows, const std::vector<IndexExpectation>& expected) {
  const size_t count = table.real_indexes.size();
  // The first walks of a large table's indexes go to two lanes, one on each thread,
  // which take the indexes in turn; each walk's record is replayed at its index's turn.
  std::vector<IndexAhead> ahead;
  if (count >= 2 && UseSecondThread(pages.size())) {
    ahead.resize(count);
    std::atomic<size_t> next{0};
    const auto walk_ahead = [&](Checker* lane) {
      for (size_t i = next++; i < count; i = next++) {
        LaneRecord& record = ahead[i].record;
        record.place = IndexPlace(table, i, place);
        record.owner = table.first_page;
        record.index_pages.assign(file_.page_count(), false);
        lane->record_ = &record;
        ahead[i].scan = lane->ScanIndex(table, i, record.place, expected[i]);
        record.index_pages = std::vector<bool>();
      }
    };
    Checker here(*this), there(*this);
    std::thread helper(walk_ahead, &there);
    walk_ahead(&here);
    helper.join();
  }
  // The indexes whose first walk disagreed with the rows of a table compared in one
  // run: their rows are read again together, a group at a time (kSharedRereadBytes),
  // rather than once for each. The reading reports and claims nothing, so reading a
  // group before its first index is checked changes nothing else.
  std::vector<size_t> differing;
  if (options_.compare_disagreeing_entries && !ahead.empty() &&
      live_rows < std::max<uint64_t>(1, options_.detailed_run_rows))
    for (size_t i = 0; i < count; ++i)
      if (ahead[i].scan.walked && RowsDiffer(ahead[i].scan, expected[i])) differing.push_back(i);
  const uint64_t group = kSharedRereadBytes / (ExpectedRows::kBytesPerRow * std::max<uint64_t>(1, live_rows));
  std::vector<ExpectedRows> reread(count);
  std::vector<bool> has_reread(count, false);
  size_t next_group = 0;  // position in `differing` of the next group's first index
  for (size_t i = 0; i < count; ++i) {
    if (group >= 2 && next_group + 1 < differing.size() && differing[next_group] == i) {
      const size_t end = next_group + std::min<size_t>(group, differing.size() - next_group);
      const std::vector<size_t> members(differing.begin() + next_group, differing.begin() + end);
      next_group = end;
      std::vector<ExpectedRows*> into;
      for (size_t m : members) {
        into.push_back(&reread[m]);
        has_reread[m] = true;
      }
      ReadExpectedRows(table, members, place, pages, 0, std::max<uint64_t>(1, options_.detailed_run_rows), live_rows,
                       into);
    }
    CheckIndex(table, i, place, pages, live_rows, expected[i], ahead.empty() ? nullptr : &ahead[i],
               has_reread[i] ? &reread[i] : nullptr);
    reread[i] = ExpectedRows();  // when the comparison did not take them
  }
}

void Checker::CheckIndex(const TableDef& table, size_t real, const Place& table_place,
                         const std::vector<uint32_t>& pages, uint64_t live_rows, const IndexExpectation& expected,
                         const IndexAhead* ahead, ExpectedRows* reread) {
  const RealIndex& index = table.real_indexes[real];
  const Place place = IndexPlace(table, real, table_place);

  UsageMap map;
  Status s = ReadMap(index.usage_map, place, &map);
  if (!s.ok()) Add(FindingKind::kIndexMap, place, "the index's page map cannot be read: " + s.detail());

  const IndexScan scan =
      ahead != nullptr && Replay(ahead->record) ? ahead->scan : ScanIndex(table, real, place, expected);
  if (!scan.walked) return;
  const bool rows_differ = RowsDiffer(scan, expected);
  const bool compare_rows = rows_differ && options_.compare_disagreeing_entries;
  if (rows_differ && !compare_rows)
    Add(FindingKind::kIndexRowsDiffer, place,
        "the entries disagree with the rows (" + std::to_string(scan.entries) + " entries, " +
            std::to_string(expected.eligible) + " rows to index)");
  if (compare_rows || scan.misordered > 0)
    CompareIndexEntries(table, real, place, pages, live_rows, compare_rows, scan.entries, reread);
  if (scan.entries > 0 && index.stat_unique != scan.distinct)
    Add(FindingKind::kIndexStatistics, place,
        "the stored distinct-key count " + std::to_string(index.stat_unique) + " differs from " +
            std::to_string(scan.distinct));
}

Checker::IndexScan Checker::ScanIndex(const TableDef& table, size_t real, const Place& place,
                                      const IndexExpectation& expected) {
  const RealIndex& index = table.real_indexes[real];
  IndexScan scan;
  EntryOrder order((index.flags & kIndexUnique) != 0);
  IndexWalk walk(table, place, [&](const IndexPageEntry& e) {
    const EntryOrder::Step step = order.Next(e);
    scan.misordered += step.out_of_order + step.repeated_key;
    scan.distinct += step.new_key;
    ++scan.entries;
    const uint32_t pointer = e.row.ToPointer();
    scan.fingerprint += expected.KeyKnown(pointer) ? EntryMix(pointer, KeyHash(e.key)) : PointerEntryMix(pointer);
  });
  IndexPageEntry last;
  bool has_last = false;
  if (!WalkIndexPage(&walk, index.root_page, 0, &last, &has_last)) return scan;
  scan.walked = true;
  if (walk.bad_link_leaf < 0 && walk.leaves > 0 && walk.last_leaf_next != 0) walk.bad_link_leaf = walk.last_leaf;
  if (walk.bad_link_leaf >= 0) {
    Place at = place;
    at.page = walk.bad_link_leaf;
    Add(FindingKind::kIndexLinks, at, "the leaf's previous/next links disagree with the tree");
  }
  return scan;
}

void Checker::CompareIndexEntries(const TableDef& table, size_t real, const Place& place,
                                  const std::vector<uint32_t>& pages, uint64_t live_rows, bool rows_differ,
                                  uint64_t entry_count, ExpectedRows* reread) {
  const RealIndex& index = table.real_indexes[real];
  const bool unique = (index.flags & kIndexUnique) != 0;
  uint64_t matched = 0;
  uint64_t eligible = 0;
  size_t next_page = 0;
  bool first_run = true;
  do {
    // The rows of the next run of pages, read again without reporting.
    ExpectedRows rows;
    if (rows_differ) {
      const uint64_t lo = first_run ? 0 : uint64_t(pages[next_page]) << 8;
      if (reread != nullptr) {
        rows = std::move(*reread);  // the one run, read with other indexes' rows
        next_page = pages.size();
      } else {
        next_page = ReadExpectedRows(table, {real}, place, pages, next_page,
                                     std::max<uint64_t>(1, options_.detailed_run_rows), live_rows, {&rows});
      }
      rows.lo = lo;
      rows.hi = next_page < pages.size() ? uint64_t(pages[next_page]) << 8 : uint64_t(1) << 32;
      for (uint8_t f : rows.flags) eligible += (f & ExpectedRows::kEligible) != 0;
      rows.IndexPages();
    }
    // The order is judged in the first run only; the rows in every run.
    uint64_t i = 0;
    LeafRows leaf_rows;
    EntryOrder order(unique);
    IndexWalk walk(table, place, [&](const IndexPageEntry& e) {
      // The place of a finding about this entry; made only for a finding, since most
      // entries have none and a place holds two names.
      auto add = [&](FindingKind kind, const std::string& detail) {
        Place at = place;
        at.page = e.row.page;
        at.row = e.row.row;
        Add(kind, at, detail);
      };
      if (first_run) {
        const EntryOrder::Step step = order.Next(e);
        if (step.out_of_order) add(FindingKind::kIndexOrder, "entry " + std::to_string(i) + " is out of order");
        if (step.repeated_key) add(FindingKind::kIndexUnique, "a unique index holds the same key twice");
      }
      ++i;
      const uint32_t pointer = e.row.ToPointer();
      if (!rows_differ || !rows.Covers(pointer)) return;
      const int64_t k = leaf_rows.Take(pointer, rows);
      if (k < 0) {
        add(FindingKind::kIndexDanglingEntry, "the entry points at a row that does not exist");
        return;
      }
      uint8_t& flags = rows.flags[size_t(k)];
      if (flags & ExpectedRows::kSeen) {
        add(FindingKind::kIndexDuplicateEntry, "two entries point at the same row");
        return;
      }
      flags |= ExpectedRows::kSeen;
      if (!(flags & ExpectedRows::kEligible)) {
        add(FindingKind::kIndexExtraEntry, "the row has only nulls in an index that ignores nulls");
        return;
      }
      ++matched;
      if ((flags & ExpectedRows::kKeyKnown) && rows.key_hashes[size_t(k)] != KeyHash(e.key))
        add(FindingKind::kIndexKey, "the stored key differs from the key of the row's values");
    });
    walk.repeat = true;
    if (rows_differ) walk.before_leaf = [&](const std::vector<IndexPageEntry>& entries) { leaf_rows.Look(entries, rows); };
    IndexPageEntry last;
    bool has_last = false;
    if (!WalkIndexPage(&walk, index.root_page, 0, &last, &has_last)) return;  // the first walk succeeded
    first_run = false;
  } while (rows_differ && next_page < pages.size());
  if (matched < eligible)
    Add(FindingKind::kIndexMissingRows, place,
        std::to_string(eligible - matched) + " rows have no entry in the index (" + std::to_string(entry_count) +
            " entries, " + std::to_string(eligible) + " rows to index)");
}

size_t Checker::ReadExpectedRows(const TableDef& table, const std::vector<size_t>& reals, const Place& place,
                                 const std::vector<uint32_t>& pages, size_t first, uint64_t row_limit,
                                 uint64_t live_rows, const std::vector<ExpectedRows*>& rows) {
  std::vector<bool> keys_computable;
  for (size_t real : reals) keys_computable.push_back(CanComputeKeys(format_, table, table.real_indexes[real]));
  const auto expect_into = [&](Checker* checker, const std::vector<ExpectedRows*>& into) -> RowSink {
    return [&, checker, into](RowId id, bool values_ok, const std::vector<Value>& values) {
      for (size_t n = 0; n < reals.size(); ++n)
        into[n]->Add(id.ToPointer(), checker->Expect(table, reals[n], keys_computable[n], values_ok, values));
    };
  };
  const std::span<const uint32_t> all(pages);
  uint64_t ignored = 0;
  quiet_ = true;
  size_t next;
  // The re-read reports and claims nothing, so a lane here keeps no record: its rows
  // follow the first half's.
  if (first == 0 && live_rows < row_limit && UseSecondThread(pages.size())) {
    for (ExpectedRows* r : rows) r->Reserve(live_rows);
    const size_t half = pages.size() / 2;
    Checker lane(*this);
    lane.quiet_ = true;
    std::vector<ExpectedRows> lane_rows(reals.size());
    std::vector<ExpectedRows*> lane_into;
    for (ExpectedRows& r : lane_rows) lane_into.push_back(&r);
    uint64_t lane_ignored = 0;
    std::thread helper([&] {
      lane.CheckRows(table, place, all.subspan(half), 0, UINT64_MAX, expect_into(&lane, lane_into), &lane_ignored);
    });
    CheckRows(table, place, all.first(half), 0, UINT64_MAX, expect_into(this, rows), &ignored);
    helper.join();
    for (size_t n = 0; n < reals.size(); ++n) rows[n]->Append(lane_rows[n]);
    next = pages.size();
  } else {
    next = CheckRows(table, place, all, first, row_limit, expect_into(this, rows), &ignored);
  }
  quiet_ = false;
  return next;
}

void Checker::RecordCatalogReference(const Place& place, const TableDef& table, const std::vector<Value>& values) {
  const std::string& table_name = place.table;
  auto column = [&](const char* name) -> const Value* {
    const int pos = table.FindColumnByName(name);
    return pos < 0 ? nullptr : &values[size_t(pos)];
  };
  if (table_name == "MSysACEs" || table_name == "MSysQueries") {
    const Value* id = column("ObjectId");
    if (id == nullptr || id->type() != ValueType::kLong) return;
    (table_name == "MSysACEs" ? ace_objects_ : query_objects_).emplace_back(int32_t(id->integer()), place);
  } else if (table_name == "MSysRelationships") {
    for (const char* name : {"szObject", "szReferencedObject"}) {
      const Value* v = column(name);
      if (v != nullptr && v->type() == ValueType::kText) related_tables_.emplace_back(v->text(), place);
    }
  }
}

void Checker::CheckCatalogReferences() {
  std::unordered_map<int32_t, const CatalogObject*> by_id;
  std::set<std::string> table_names;  // lower case, local and linked tables
  for (const CatalogObject& o : objects_) {
    by_id.emplace(o.id, &o);
    if (o.is_table() || o.type == kObjectLinkedTable || o.type == 4) {
      table_names.insert(AsciiLower(o.name));
    }
  }
  for (const auto& [id, at] : ace_objects_)
    if (!by_id.count(id))
      Add(FindingKind::kCatalogAceObject, at, "an access-control entry names object " + std::to_string(id) +
                                                   ", which does not exist");
  for (const auto& [id, at] : query_objects_) {
    auto it = by_id.find(id);
    if (it == by_id.end() || it->second->type != kObjectQuery)
      Add(FindingKind::kCatalogQueryObject, at, "a query row names object " + std::to_string(id) +
                                                   ", which is not a query");
  }
  for (const auto& [name, at] : related_tables_) {
    if (!table_names.count(AsciiLower(name)))
      Add(FindingKind::kCatalogRelationshipTable, at, "a relationship names table \"" + name +
                                                           "\", which does not exist");
  }
  Place place = AtPage(kCatalogTdefPage);
  place.table = "MSysObjects";
  for (const CatalogContainer& container : kRequiredContainers)
    if (!by_id.count(container.id))
      Add(FindingKind::kCatalogContainer, place, "the catalog lacks container " + std::to_string(container.id));
  for (const CatalogObject& o : objects_) {
    if (o.parent_id == 0x0F000000 || by_id.count(o.parent_id)) continue;
    Place at = place;
    at.page = o.row.page;
    at.row = o.row.row;
    Add(FindingKind::kCatalogParent, at, "object \"" + o.name + "\" names parent " + std::to_string(o.parent_id) +
                                             ", which does not exist");
  }
}

void Checker::CheckUnreachable() {
  uint32_t count = 0, first = 0;
  uint32_t reachable_free = 0, first_free = 0;
  for (uint32_t p = 1; p < file_.page_count(); ++p) {
    if (claims_[p] != Claim::kNone) {
      if (free_[p] && reachable_free++ == 0) first_free = p;
      continue;
    }
    if (free_[p] || types_[p] == 0) continue;
    if (count++ == 0) first = p;
  }
  if (reachable_free > 0)
    Add(FindingKind::kFreeMapReachable, AtPage(int64_t(first_free)),
        std::to_string(reachable_free) + " pages in use are marked free in the global map (first: page " +
            std::to_string(first_free) + ")");
  if (count > 0)
    Add(FindingKind::kUnreachablePages, AtPage(int64_t(first)),
        std::to_string(count) + " pages are neither free nor reached from any structure (first: page " +
            std::to_string(first) + ")");
}

}  // namespace

Status CheckPageFile(PageFile& file, CheckReport* report) { return CheckPageFile(file, CheckOptions(), report); }

Status CheckPageFile(PageFile& file, const CheckOptions& options, CheckReport* report) {
  *report = CheckReport();
  Checker checker(file, options, report);
  checker.Run();
  return Status::Ok();
}

Status CheckDatabase(const std::string& path, CheckReport* report) {
  return CheckDatabase(path, CheckOptions(), report);
}

Status CheckDatabase(const std::string& path, const CheckOptions& options, CheckReport* report) {
  std::unique_ptr<PageFile> file;
  Status s = PageFile::Open(path, &file);
  if (!s.ok()) return s;
  return CheckPageFile(*file, options, report);
}

Status CheckDatabaseBytes(const uint8_t* bytes, size_t size, CheckReport* report) {
  std::unique_ptr<PageFile> file;
  Status s = PageFile::OpenMemory(bytes, size, &file);
  if (!s.ok()) return s;
  return CheckPageFile(*file, report);
}

}  // namespace jet
