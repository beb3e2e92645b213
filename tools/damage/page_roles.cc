// Page roles: finds the candidate pages of each role by walking the catalog, the
// definitions, rows, long values, maps and index trees of the user tables.
#include "tools/damage/page_roles.h"

#include <algorithm>
#include <set>

#include "jet/base/byte_order.h"
#include "jet/file/usage_map.h"
#include "jet/read/catalog.h"
#include "jet/file/data_page.h"
#include "jet/read/database.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/read/overflow_row.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"
#include "tools/damage/names.h"

namespace damage {
namespace {

using jet::Status;

constexpr Named<Role> kRoles[] = {
    {Role::kHeader, "header"},
    {Role::kCatalogDefinition, "catalog-definition"},
    {Role::kCatalogData, "catalog-data"},
    {Role::kTableDefinition, "table-definition"},
    {Role::kData, "data"},
    {Role::kLongValue, "long-value"},
    {Role::kUsageMap, "usage-map"},
    {Role::kIndexNode, "index-node"},
    {Role::kIndexLeaf, "index-leaf"},
};

// Collects pages per role (as sets while learning) and value extents per page.
class RoleFinder {
 public:
  explicit RoleFinder(jet::Database& db)
      : db_(db), file_(db.file()), format_(db.format()), page_(format_.page_size) {}

  Status Run(PageRoles* roles);

 private:
  bool Load(uint32_t number) { return number < file_.page_count() && file_.ReadPage(number, page_.data()).ok(); }
  void Add(Role role, uint32_t page) { found_[role].insert(page); }
  void AddValueBytes(jet::RowId row, uint32_t begin, uint32_t end) {
    if (begin < end) value_bytes_[row.page].push_back(Extent{begin, end, row.ToPointer()});
  }

  void CatalogData();
  void DataPages(const jet::TableDef& def);
  // The long values of `def`'s live rows: each value's rows and its kind.
  std::vector<std::pair<std::vector<jet::RowId>, uint8_t>> LiveLongValues(const jet::TableDef& def);
  void LongValues(const jet::TableDef& def);
  void LongValueRows(const std::vector<jet::RowId>& rows, uint8_t kind);
  // The rows of the long-value pages found that no live value of any table reaches.
  void UnreadLongValueRows();
  void UsageMaps(const jet::TableDef& def);
  void IndexPages(const jet::TableDef& def);

  jet::Database& db_;
  jet::PageFile& file_;
  const jet::Format& format_;
  std::vector<uint8_t> page_;
  std::map<Role, std::set<uint32_t>> found_;
  std::map<uint32_t, std::vector<Extent>> value_bytes_;
  std::map<uint32_t, std::vector<Extent>> unread_bytes_;
};

Status RoleFinder::Run(PageRoles* roles) {
  Add(Role::kHeader, 0);
  if (file_.page_count() > jet::kCatalogTdefPage) Add(Role::kCatalogDefinition, jet::kCatalogTdefPage);
  CatalogData();
  for (const jet::CatalogObject* table : db_.Tables(false)) {
    const jet::TableDef* def;
    if (!db_.GetTableDef(uint32_t(table->id), &def).ok()) continue;
    for (uint32_t page : def->pages) Add(Role::kTableDefinition, page);
    DataPages(*def);
    LongValues(*def);
    UsageMaps(*def);
    IndexPages(*def);
  }
  UnreadLongValueRows();
  *roles = PageRoles();
  for (auto& [role, pages] : found_)
    if (!pages.empty()) roles->pages[role].assign(pages.begin(), pages.end());
  roles->value_bytes = std::move(value_bytes_);
  roles->unread_bytes = std::move(unread_bytes_);
  return Status::Ok();
}

void RoleFinder::CatalogData() {
  const jet::TableDef* catalog;
  if (!db_.GetTableDef(jet::kCatalogTdefPage, &catalog).ok()) return;
  std::vector<uint32_t> pages;
  std::vector<std::string> notes;
  if (!jet::TableScanner(file_, *catalog).DataPages(&pages, &notes).ok()) return;
  for (uint32_t number : pages) {
    jet::DataPageHeader header;
    if (Load(number) && jet::ParseDataPage(format_, page_.data(), &header).ok() &&
        header.owner == jet::kCatalogTdefPage)
      Add(Role::kCatalogData, number);
  }
}

// Data pages with at least one live row; the column values of rows (an overflow row's
// in its target, wherever that is) are value bytes (the in-row header of a long value is structure).
void RoleFinder::DataPages(const jet::TableDef& def) {
  std::vector<uint32_t> pages;
  std::vector<std::string> notes;
  if (!jet::TableScanner(file_, def).DataPages(&pages, &notes).ok()) return;
  std::vector<jet::RawColumn> raw;
  jet::OverflowFollower follower(file_, def.first_page);
  for (uint32_t number : pages) {
    jet::DataPageHeader header;
    if (!Load(number) || !jet::ParseDataPage(format_, page_.data(), &header).ok() ||
        header.owner != def.first_page)
      continue;
    bool live = false;
    for (unsigned i = 0; i < header.row_count; ++i) {
      jet::RowSlot slot;
      if (!jet::GetRowSlot(format_, page_.data(), header, i, &slot).ok() || slot.deleted) continue;
      live = true;
      // An overflow row's values are in its target, which may be on another page.
      jet::RowId id{number, uint8_t(i)};
      const uint8_t* row = page_.data() + slot.start;
      uint32_t start = slot.start;
      size_t size = slot.size();
      jet::OverflowTarget target;
      if (slot.overflow) {
        if (!follower.Follow(row, size, &target).ok()) continue;
        id = target.row;
        row = target.bytes;
        start = target.start;
        size = target.size;
      }
      jet::RowLayout layout;
      if (!jet::ReadRowLayout(format_, def, row, size, &layout).ok() ||
          !jet::CrackRowWithLayout(format_, def, row, size, layout, &raw).ok())
        continue;
      // The null mask says which values are there (and holds the Yes/No values): a
      // flipped bit of it is a changed value that every reader reads alike, as a
      // flipped byte of a value is; the row's structure does not depend on it.
      AddValueBytes(id, start + uint32_t(size - layout.mask_size), start + uint32_t(size));
      for (size_t c = 0; c < def.columns.size(); ++c) {
        if (raw[c].is_null || raw[c].size == 0) continue;
        uint32_t begin = start + raw[c].offset;
        if (def.columns[c].is_long_value()) {
          jet::LongValueHeader lv;
          if (!jet::ParseLongValueHeader(row + raw[c].offset, raw[c].size, &lv).ok() ||
              lv.kind != jet::kLongValueInline)
            continue;
          begin += jet::kLongValueHeaderSize;
        }
        AddValueBytes(id, begin, start + raw[c].offset + raw[c].size);
      }
    }
    if (live) Add(Role::kData, number);
  }
}

std::vector<std::pair<std::vector<jet::RowId>, uint8_t>> RoleFinder::LiveLongValues(const jet::TableDef& def) {
  std::vector<std::pair<std::vector<jet::RowId>, uint8_t>> values;
  std::vector<jet::RawColumn> raw;
  std::vector<uint8_t> bytes;
  jet::LongValueReader reader(file_);
  std::vector<std::string> notes;
  jet::TableScanner(file_, def).Scan([&](const jet::RowId&, const uint8_t* row, size_t size) {
    if (!jet::CrackRow(format_, def, row, size, &raw).ok()) return true;
    for (size_t c = 0; c < def.columns.size(); ++c) {
      jet::LongValueHeader lv;
      if (!def.columns[c].is_long_value() || raw[c].is_null ||
          !jet::ParseLongValueHeader(row + raw[c].offset, raw[c].size, &lv).ok() ||
          lv.kind == jet::kLongValueInline)
        continue;
      std::vector<jet::RowId> rows;
      reader.Read(row + raw[c].offset, raw[c].size, &bytes, &rows);  // rows up to any break
      values.emplace_back(std::move(rows), lv.kind);
    }
    return true;
  }, &notes);
  return values;
}

void RoleFinder::LongValues(const jet::TableDef& def) {
  for (const auto& [rows, kind] : LiveLongValues(def)) LongValueRows(rows, kind);
}

void RoleFinder::UnreadLongValueRows() {
  const auto found = found_.find(Role::kLongValue);
  if (found == found_.end()) return;
  std::set<uint32_t> reached;
  for (const jet::CatalogObject* table : db_.Tables(true)) {
    const jet::TableDef* def;
    if (!db_.GetTableDef(uint32_t(table->id), &def).ok()) return;  // a value might go unseen
    for (const auto& [rows, kind] : LiveLongValues(*def))
      for (const jet::RowId& row : rows) reached.insert(row.ToPointer());
  }
  for (uint32_t number : found->second) {
    jet::DataPageHeader header;
    if (!Load(number) || !jet::ParseDataPage(format_, page_.data(), &header).ok()) continue;
    for (unsigned i = 0; i < header.row_count; ++i) {
      jet::RowSlot slot;
      const jet::RowId id{number, uint8_t(i)};
      if (jet::GetRowSlot(format_, page_.data(), header, i, &slot).ok() && !slot.deleted && slot.start < slot.end &&
          !reached.count(id.ToPointer()))
        unread_bytes_[number].push_back(Extent{slot.start, slot.end, id.ToPointer()});
    }
  }
}

// A single-row value is the whole row; each row of a chain starts with the pointer to
// the next one.
void RoleFinder::LongValueRows(const std::vector<jet::RowId>& rows, uint8_t kind) {
  for (const jet::RowId& id : rows) {
    jet::DataPageHeader header;
    jet::RowSlot slot;
    if (!Load(id.page) || !jet::ParseDataPage(format_, page_.data(), &header).ok() ||
        header.owner != jet::kLongValueOwner ||
        !jet::GetRowSlot(format_, page_.data(), header, id.row, &slot).ok())
      continue;
    Add(Role::kLongValue, id.page);
    AddValueBytes(id, slot.start + (kind == jet::kLongValueChain ? 4u : 0u), slot.end);
  }
}

// The host page of every map the definition names, and the bitmap pages of reference
// maps.
void RoleFinder::UsageMaps(const jet::TableDef& def) {
  std::vector<uint32_t> pointers = {def.owned_map, def.free_map};
  for (const jet::RealIndex& index : def.real_indexes) pointers.push_back(index.usage_map);
  for (const jet::LongValueMaps& maps : def.long_value_maps) {
    pointers.push_back(maps.owned_map);
    pointers.push_back(maps.free_map);
  }
  for (uint32_t pointer : pointers) {
    const jet::RowId id = jet::RowId::FromPointer(pointer);
    jet::DataPageHeader header;
    jet::RowSlot slot;
    if (pointer == 0 || !Load(id.page) || !jet::ParseDataPage(format_, page_.data(), &header).ok() ||
        !jet::GetRowSlot(format_, page_.data(), header, id.row, &slot).ok() || slot.size() == 0)
      continue;
    Add(Role::kUsageMap, id.page);
    if (page_[slot.start] != jet::kUsageMapReference) continue;
    for (uint32_t at = slot.start + 1; at + 4 <= slot.end; at += 4) {
      const uint32_t bitmap = jet::LoadLe32(page_.data() + at);
      if (bitmap != 0 && bitmap < file_.page_count()) Add(Role::kUsageMap, bitmap);
    }
  }
}

// Every page reachable from the roots, through node entries' child pointers.
void RoleFinder::IndexPages(const jet::TableDef& def) {
  std::set<uint32_t> seen;
  std::vector<uint32_t> pending;
  for (const jet::RealIndex& index : def.real_indexes) pending.push_back(index.root_page);
  while (!pending.empty()) {
    const uint32_t number = pending.back();
    pending.pop_back();
    jet::IndexPage decoded;
    if (number == 0 || !seen.insert(number).second || !Load(number) ||
        !jet::DecodeIndexPage(format_, page_.data(), &decoded).ok())
      continue;
    Add(decoded.is_leaf() ? Role::kIndexLeaf : Role::kIndexNode, number);
    if (!decoded.is_leaf())
      for (const jet::IndexPageEntry& entry : decoded.entries) pending.push_back(entry.child);
  }
}

}  // namespace

const char* RoleName(Role role) { return NameIn(kRoles, role); }
bool ParseRole(const std::string& name, Role* role) { return ParseIn(kRoles, name, role); }
std::vector<Role> AllRoles() { return ValuesIn(kRoles); }

const std::vector<uint32_t>& PageRoles::Candidates(Role role) const {
  static const std::vector<uint32_t> kNone;
  auto it = pages.find(role);
  return it == pages.end() ? kNone : it->second;
}

jet::Status LearnPageRoles(jet::Database& db, PageRoles* roles) { return RoleFinder(db).Run(roles); }

}  // namespace damage
