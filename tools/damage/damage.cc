// Damage generator: finds a place for each kind of damage with the engine's reader
// and patches the stored bytes of a copy.
#include "tools/damage/damage.h"

#include <memory>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/read/database.h"
#include "jet/base/env.h"
#include "jet/file/header.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"
#include "tools/damage/names.h"
#include "tools/damage/page_damage.h"

namespace damage {
namespace {

using jet::ErrorKind;
using jet::Status;

using jet::FindingKind;

struct KindInfo {
  Kind value;
  const char* name;
  ExpectedFindings findings;
};

const KindInfo kKinds[] = {
    {Kind::kIndexLeaf, "index-leaf",
     {{FindingKind::kIndexKey, FindingKind::kIndexOrder, FindingKind::kIndexPage, FindingKind::kIndexNodeEntry,
       FindingKind::kIndexDanglingEntry},
      false}},
    {Kind::kIndexNode, "index-node",
     {{FindingKind::kIndexNodeEntry, FindingKind::kIndexOrder, FindingKind::kIndexPage}, true}},
    {Kind::kZeroDataPage, "zero-data-page", {{FindingKind::kIndexDanglingEntry, FindingKind::kRowCount}, false}},
    {Kind::kWrongPageType, "wrong-page-type", {{FindingKind::kPageType}, true}},
    {Kind::kRowInFreeSpace, "row-in-free-space", {{FindingKind::kRowSlot}, true}},
    {Kind::kBrokenLongValue, "broken-long-value", {{FindingKind::kLongValueBroken}, false}},
    {Kind::kLongValueCycle, "long-value-cycle", {{FindingKind::kLongValueBroken}, false}},
    {Kind::kTdefContinuation, "tdef-continuation", {{FindingKind::kTdefUnreadable}, false}},
    {Kind::kStaleRowCount, "stale-row-count", {{FindingKind::kRowCount}, false}},
    {Kind::kColumnFlags, "column-flags", {{FindingKind::kTdefColumnRecord}, true}},
    {Kind::kCommitState, "commit-state", {{FindingKind::kCommitState}, true}},
    {Kind::kTruncated, "truncated", {{FindingKind::kPartialPage}, false}},
};

Status NotFound(const std::string& what) { return Status::Error(ErrorKind::kNotFound, "no place for damage: " + what); }

// The file being damaged: its bytes, and a reader over the unchanged original.
class Damager {
 public:
  Damager(std::string bytes, std::unique_ptr<jet::Database> db)
      : bytes_(std::move(bytes)), db_(std::move(db)), format_(db_->format()) {}

  Status Apply(Kind kind, Result* result);
  const std::string& bytes() const { return bytes_; }

 private:
  uint8_t* Page(uint32_t page) { return reinterpret_cast<uint8_t*>(bytes_.data()) + uint64_t(page) * format_.page_size; }
  uint64_t Offset(uint32_t page, uint32_t at) const { return uint64_t(page) * format_.page_size + at; }
  // User tables first, then system tables other than the catalog.
  std::vector<const jet::CatalogObject*> Tables();
  void Describe(Result* r, const jet::CatalogObject* table, uint32_t page, uint64_t offset, const std::string& what);

  Status IndexPage(bool leaf, Result* r);
  Status DataPage(Kind kind, Result* r);
  Status LongValue(bool cycle, Result* r);
  Status TableDefinition(Kind kind, Result* r);

  std::string bytes_;
  std::unique_ptr<jet::Database> db_;
  const jet::Format& format_;
};

std::vector<const jet::CatalogObject*> Damager::Tables() {
  std::vector<const jet::CatalogObject*> out = db_->Tables(false);
  for (const jet::CatalogObject* o : db_->Tables(true))
    if (o->is_system() && o->id != 2) out.push_back(o);
  return out;
}

void Damager::Describe(Result* r, const jet::CatalogObject* table, uint32_t page, uint64_t offset,
                       const std::string& what) {
  r->page = page;
  r->offset = offset;
  if (table != nullptr) {
    r->table = table->name;
    r->table_page = table->id;
  }
  r->description = what + " at page " + std::to_string(page) + ", file offset " + std::to_string(offset) +
                   (table != nullptr ? " (table \"" + table->name + "\")" : "");
}

Status Damager::Apply(Kind kind, Result* r) {
  r->kind = kind;
  switch (kind) {
    case Kind::kIndexLeaf: return IndexPage(true, r);
    case Kind::kIndexNode: return IndexPage(false, r);
    case Kind::kZeroDataPage:
    case Kind::kWrongPageType:
    case Kind::kRowInFreeSpace: return DataPage(kind, r);
    case Kind::kBrokenLongValue: return LongValue(false, r);
    case Kind::kLongValueCycle: return LongValue(true, r);
    case Kind::kTdefContinuation:
    case Kind::kStaleRowCount:
    case Kind::kColumnFlags: return TableDefinition(kind, r);
    case Kind::kCommitState: {
      const uint32_t at = uint32_t(jet::CommitAreaOffset(format_));
      Page(0)[at + 1] = 0x00;
      Describe(r, nullptr, 0, at + 1, "set the \"needs repair\" commit state");
      return Status::Ok();
    }
    case Kind::kTruncated: {
      const uint32_t last = uint32_t(bytes_.size() / format_.page_size) - 1;
      // Rows whose slot or whose bytes (an overflow row's target) are on the last page.
      std::vector<uint8_t> page(format_.page_size);
      for (const jet::CatalogObject* table : db_->Tables(true)) {
        const jet::TableDef* def;
        if (!db_->GetTableDef(uint32_t(table->id), &def).ok()) continue;
        jet::TableScanner scanner(db_->file(), *def);
        std::vector<std::string> notes;
        std::vector<uint32_t> pages;
        if (!scanner.DataPages(&pages, &notes).ok()) continue;
        for (uint32_t number : pages) {
          jet::DataPageHeader header;
          if (!db_->file().ReadPage(number, page.data()).ok() ||
              !jet::ParseDataPage(format_, page.data(), &header).ok() || header.owner != def->first_page)
            continue;
          for (unsigned i = 0; i < header.row_count; ++i) {
            jet::RowSlot slot;
            if (!jet::GetRowSlot(format_, page.data(), header, i, &slot).ok() || slot.deleted) continue;
            const bool target_last = slot.overflow && slot.size() >= 4 &&
                                     jet::RowId::FromPointer(jet::LoadLe32(page.data() + slot.start)).page == last;
            if (number != last && !target_last) continue;
            ++r->rows_on_page;
            r->table = table->name;
            r->table_page = table->id;
          }
        }
      }
      const uint64_t size = bytes_.size() - format_.page_size / 2;
      bytes_.resize(size);
      const std::string table = r->table;
      Describe(r, nullptr, last, size, "cut the file in the middle of its last page");
      r->table = table;
      return Status::Ok();
    }
  }
  return Status::Error(ErrorKind::kInvalidArgument, "unknown damage kind");
}

Status Damager::IndexPage(bool leaf, Result* r) {
  std::vector<uint8_t> page(format_.page_size);
  for (const jet::CatalogObject* table : Tables()) {
    const jet::TableDef* def;
    if (!db_->GetTableDef(uint32_t(table->id), &def).ok()) continue;
    for (const jet::RealIndex& index : def->real_indexes) {
      // Down the leftmost path: the root, its first child, ... to a leaf.
      uint32_t number = index.root_page;
      for (int depth = 0; depth < 32 && number != 0 && number < db_->file().page_count(); ++depth) {
        if (!db_->file().ReadPage(number, page.data()).ok()) break;
        jet::IndexPage decoded;
        if (!jet::DecodeIndexPage(format_, page.data(), &decoded).ok() || decoded.entries.empty()) break;
        if (decoded.is_leaf() == leaf && decoded.entries[0].key.size() >= 2) {
          // Bytes 1 and 2 of the first entry: the key after its flag byte, stored whole.
          const uint32_t at = format_.index_entries + 1;
          Page(number)[at] ^= 0xFF;
          Page(number)[at + 1] ^= 0x5A;
          Describe(r, table, number, Offset(number, at),
                   std::string("flipped key bytes of the first entry of an index ") + (leaf ? "leaf" : "node"));
          return Status::Ok();
        }
        if (decoded.is_leaf()) break;
        number = decoded.entries[0].child;
      }
    }
  }
  return NotFound(leaf ? "no index leaf with entries" : "no index node page");
}

Status Damager::DataPage(Kind kind, Result* r) {
  std::vector<uint8_t> page(format_.page_size);
  for (const jet::CatalogObject* table : db_->Tables(false)) {
    const jet::TableDef* def;
    if (!db_->GetTableDef(uint32_t(table->id), &def).ok()) continue;
    jet::TableScanner scanner(db_->file(), *def);
    std::vector<std::string> notes;
    std::vector<uint32_t> pages;
    if (!scanner.DataPages(&pages, &notes).ok()) continue;
    for (uint32_t number : pages) {
      if (!db_->file().ReadPage(number, page.data()).ok()) continue;
      jet::DataPageHeader header;
      if (!jet::ParseDataPage(format_, page.data(), &header).ok() || header.owner != def->first_page) continue;
      // Pages whose rows are all plain (no overflow rows, no moved-row targets), so
      // that the rows lost are exactly the rows on the page.
      uint32_t live = 0;
      bool plain = true;
      jet::RowSlot last;
      for (unsigned i = 0; i < header.row_count && plain; ++i) {
        jet::RowSlot slot;
        if (!jet::GetRowSlot(format_, page.data(), header, i, &slot).ok()) plain = false;
        if (slot.overflow || (slot.deleted && slot.size() > 0)) plain = false;
        if (!slot.deleted) ++live;
        last = slot;
      }
      if (!plain || live == 0) continue;
      if (kind == Kind::kZeroDataPage) {
        std::fill(Page(number), Page(number) + format_.page_size, 0);
        r->rows_on_page = live;
        Describe(r, table, number, Offset(number, 0), "zeroed a data page of " + std::to_string(live) + " rows");
        return Status::Ok();
      }
      if (kind == Kind::kWrongPageType) {
        Page(number)[0] = jet::kPageIndexLeaf;
        r->rows_on_page = live;
        Describe(r, table, number, Offset(number, 0), "changed the type byte of a data page of " +
                                                          std::to_string(live) + " rows to 0x04");
        return Status::Ok();
      }
      // Row in free space: the last slot, moved to just after the slot table.
      const uint32_t slot_table_end = format_.data_header_size + 2u * header.row_count;
      if (last.deleted || header.free_space < 8) continue;
      const uint32_t at = format_.data_header_size + 2u * (header.row_count - 1);
      const uint16_t value = jet::LoadLe16(page.data() + at);
      jet::StoreLe16(Page(number) + at, uint16_t((value & ~jet::kSlotOffsetMask) | (slot_table_end + 2)));
      r->rows_on_page = 1;
      Describe(r, table, number, Offset(number, at),
               "moved the offset of row " + std::to_string(header.row_count - 1) + " into the free space");
      r->row = int(header.row_count - 1);
      return Status::Ok();
    }
  }
  return NotFound("no user table data page with plain rows");
}

Status Damager::LongValue(bool cycle, Result* r) {
  std::vector<uint8_t> page(format_.page_size), value;
  std::vector<jet::RowId> rows;
  std::vector<jet::RawColumn> raw;
  jet::LongValueReader reader(db_->file());
  for (const jet::CatalogObject* table : Tables()) {
    const jet::TableDef* def;
    if (!db_->GetTableDef(uint32_t(table->id), &def).ok()) continue;
    jet::TableScanner scanner(db_->file(), *def);
    std::vector<std::string> notes;
    Status found = NotFound("");
    scanner.Scan([&](const jet::RowId&, const uint8_t* bytes, size_t size) {
      if (!jet::CrackRow(format_, *def, bytes, size, &raw).ok()) return true;
      for (size_t c = 0; c < def->columns.size(); ++c) {
        if (!def->columns[c].is_long_value() || raw[c].is_null) continue;
        jet::LongValueHeader header;
        if (!jet::ParseLongValueHeader(bytes + raw[c].offset, raw[c].size, &header).ok()) continue;
        if (header.kind != jet::kLongValueChain) continue;
        if (!reader.Read(bytes + raw[c].offset, raw[c].size, &value, &rows).ok() || rows.size() < 2) continue;
        // The first LVAL row of the chain starts with the pointer to the next one.
        const jet::RowId first = rows[0];
        if (!db_->file().ReadPage(first.page, page.data()).ok()) continue;
        jet::DataPageHeader ph;
        jet::RowSlot slot;
        if (!jet::ParseDataPage(format_, page.data(), &ph).ok() ||
            !jet::GetRowSlot(format_, page.data(), ph, first.row, &slot).ok() || slot.size() < 4)
          continue;
        const jet::RowId target = cycle ? first : jet::RowId{db_->file().page_count() + 5, 0};
        jet::StoreLe32(Page(first.page) + slot.start, target.ToPointer());
        Describe(r, table, first.page, Offset(first.page, slot.start),
                 cycle ? "pointed a long value's chain back at its first row"
                       : "pointed a long value's chain past the end of the file");
        r->description += ", column \"" + def->columns[c].name + "\", " + std::to_string(value.size()) + " bytes in " +
                          std::to_string(rows.size()) + " rows";
        found = Status::Ok();
        return false;
      }
      return true;
    }, &notes);
    if (found.ok()) return found;
  }
  return NotFound("no long value stored as a chain of two or more rows");
}

Status Damager::TableDefinition(Kind kind, Result* r) {
  for (const jet::CatalogObject* table : Tables()) {
    const jet::TableDef* def;
    if (!db_->GetTableDef(uint32_t(table->id), &def).ok()) continue;
    if (kind == Kind::kStaleRowCount) {
      if (def->row_count == 0 || table->is_system()) continue;
      const uint32_t at = format_.tdef_row_count;
      jet::StoreLe32(Page(def->first_page) + at, def->row_count + 3);
      Describe(r, table, def->first_page, Offset(def->first_page, at),
               "raised the stored row count from " + std::to_string(def->row_count) + " to " +
                   std::to_string(def->row_count + 3));
      return Status::Ok();
    }
    if (kind == Kind::kColumnFlags) {
      // A one-page definition, so that the record's offset is its offset in the page.
      if (table->is_system() || def->pages.size() != 1) continue;
      for (const jet::ColumnDef& column : def->columns) {
        if (column.type() == jet::ColumnType::kMemo || column.type() == jet::ColumnType::kBoolean) continue;
        const uint64_t at = column.def_offset + jet::ColumnFlagsOffset(format_);
        Page(def->first_page)[at] = uint8_t(column.flags | jet::kColumnHyperlink);
        Describe(r, table, def->first_page, Offset(def->first_page, uint32_t(at)),
                 "set the hyperlink bit in the flags of column \"" + column.name + "\"");
        return Status::Ok();
      }
      continue;
    }
    const uint32_t last = def->pages.back();
    const uint32_t beyond = db_->file().page_count() + 10;
    jet::StoreLe32(Page(last) + jet::kTableDefNextPageOffset, beyond);
    Describe(r, table, last, Offset(last, jet::kTableDefNextPageOffset),
             "pointed the definition's next-page field at page " + std::to_string(beyond) + ", past the end");
    return Status::Ok();
  }
  return NotFound("no suitable table definition");
}

}  // namespace

const char* KindName(Kind kind) { return NameIn(kKinds, kind); }
bool ParseKind(const std::string& name, Kind* kind) { return ParseIn(kKinds, name, kind); }
std::vector<Kind> AllKinds() { return ValuesIn(kKinds); }

const ExpectedFindings& FindingsOf(Kind kind) {
  for (const KindInfo& k : kKinds)
    if (k.value == kind) return k.findings;
  static const ExpectedFindings kNone;
  return kNone;
}

jet::Status MakeDamagedCopy(const std::string& source, const std::string& destination, Kind kind,
                            Result* result) {
  *result = Result();
  std::string bytes;
  Status s = ReadWholeFile(source, &bytes);
  if (!s.ok()) return s;
  std::unique_ptr<jet::Database> db;
  s = jet::Database::OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &db);
  if (!s.ok()) return s;
  if (db->header().is_encoded())
    return Status::Error(ErrorKind::kUnsupportedFormat, "the damage generator does not patch page-encoded files");
  // The reader reads `bytes`; the damager patches its own copy.
  Damager damager(bytes, std::move(db));
  s = damager.Apply(kind, result);
  if (!s.ok()) return s;
  std::unique_ptr<jet::WritableFile> out;
  s = jet::Env::Default()->NewWritableFile(destination, 0644, &out);
  if (s.ok()) s = out->Append(damager.bytes().data(), damager.bytes().size());
  if (s.ok()) s = out->Sync();
  if (s.ok()) s = out->Close();
  return s;
}

}  // namespace damage
