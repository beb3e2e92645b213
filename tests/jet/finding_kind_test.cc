// Finding kinds a repair acts on are kinds the check really reports: for each kind
// with a repair action, a damage that makes the check report it, and the repair's
// answer (the index named rebuilt, or the commit state cleared in place).
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/header.h"
#include "jet/maintain/check.h"
#include "jet/maintain/finding_kind.h"
#include "jet/maintain/repair.h"
#include "jet/read/database.h"
#include "jet/read/index_reader.h"
#include "jet/read/row.h"
#include "tests/support/database_bytes.h"
#include "tests/support/test_support.h"

namespace {

using jet::FindingKind;
using jet::RowId;
using jet::Value;

constexpr int kRows = 2000;

// Table "t": id (primary key), code (two rows a value), ref (unique, ignoring nulls;
// null in every tenth row). Enough rows for index trees with node pages.
jet::TableSpec IndexedTable() {
  jet::TableSpec t;
  t.name = "t";
  t.columns = {{"id", jet::ColumnType::kLong}, {"code", jet::ColumnType::kLong}, {"ref", jet::ColumnType::kLong}};
  t.indexes = {{"PrimaryKey", {{"id", true}}, true}, {"code", {{"code", true}}}, {"ref", {{"ref", true}}, false, true, true}};
  for (int i = 0; i < kRows; ++i)
    t.rows.push_back({{Value::Long(i), Value::Long(i / 2), i % 10 == 0 ? Value() : Value::Long(i)}});
  return t;
}

// What a damage needs to know of the file, read before it is damaged.
struct Layout {
  jet::TableDef def;
  std::vector<RowId> rows;  // by id
  std::map<std::string, const jet::RealIndex*> indexes;
  std::map<std::string, uint32_t> first_leaf;

  // Field `field` of the definition record of `index`.
  uint8_t* Definition(testing_support::DatabaseBytes& db, const char* index, uint32_t field) const {
    return db.Page(def.first_page) + indexes.at(index)->def_offset + field;
  }
};

Layout Read(testing_support::DatabaseBytes& db) {
  Layout l;
  auto reader = db.Open();
  const jet::TableDef* def = nullptr;
  EXPECT_TRUE(reader != nullptr && reader->GetTableDefByName("t", &def).ok());
  if (def == nullptr) return l;
  l.def = *def;
  EXPECT_EQ(l.def.pages.size(), 1u);
  reader->ScanRows(*def, [&](const RowId& id, const std::vector<Value>&) { return l.rows.push_back(id), true; });
  for (const jet::LogicalIndex& li : l.def.logical_indexes) {
    const jet::RealIndex& real = l.def.real_indexes[li.real_index];
    l.indexes[li.name] = &real;
    jet::IndexPage page;
    for (uint32_t number = real.root_page;; number = page.entries[0].child) {
      EXPECT_TRUE(jet::DecodeIndexPage(db.format(), db.Page(number), &page).ok());
      if (page.is_leaf() || page.entries.empty()) {
        l.first_leaf[li.name] = number;
        break;
      }
    }
  }
  return l;
}

// Where the entries of an index page end in its entry area (one past each).
std::vector<size_t> EntryEnds(const jet::Format& format, const uint8_t* page) {
  std::vector<size_t> ends;
  for (size_t bit = 0; bit < 8 * size_t(format.index_entries - format.index_bitmap); ++bit)
    if (page[format.index_bitmap + bit / 8] & (1u << (bit % 8))) ends.push_back(bit);
  return ends;
}

using Damage = std::function<void(testing_support::DatabaseBytes&, const Layout&)>;

// A row's code changed under the entry of index "code" that points at it.
void ChangeACode(testing_support::DatabaseBytes& db, const Layout& l) {
  size_t size;
  uint8_t* row = db.Row(l.rows[7], &size);
  std::vector<jet::RawColumn> raw;
  ASSERT_TRUE(jet::CrackRow(db.format(), l.def, row, size, &raw).ok());
  jet::StoreLe32(row + raw[size_t(l.def.FindColumnByName("code"))].offset, 123456);
}

// One damage for each kind a repair acts on.
const std::map<FindingKind, Damage>& Damages() {
  static const std::map<FindingKind, Damage> damages = {
      {FindingKind::kCommitState,
       [](auto& db, const Layout&) { db.Page(0)[jet::CommitAreaOffset(db.format()) + 1] = 0; }},
      {FindingKind::kIndexTree,  // the root's first child made the root itself
       [](auto& db, const Layout& l) {
         const uint32_t root = l.indexes.at("code")->root_page;
         const std::vector<size_t> ends = EntryEnds(db.format(), db.Page(root));
         uint8_t* child = db.Page(root) + db.format().index_entries + ends[0] - 4;  // big-endian
         for (int b = 0; b < 4; ++b) child[b] = uint8_t(root >> (24 - 8 * b));
       }},
      {FindingKind::kIndexMap,
       [](auto& db, const Layout& l) {
         jet::StoreLe32(l.Definition(db, "code", jet::RealIndexUsageMapOffset(db.format())), (db.page_count() + 5) << 8);
       }},
      {FindingKind::kIndexPage,
       [](auto& db, const Layout& l) { jet::StoreLe32(db.Page(l.first_leaf.at("code")) + jet::kPageOwnerOffset, 99); }},
      {FindingKind::kIndexNodeEntry,
       [](auto& db, const Layout& l) { db.Page(l.indexes.at("code")->root_page)[db.format().index_entries + 1] ^= 0xFF; }},
      {FindingKind::kIndexLinks,
       [](auto& db, const Layout& l) {
         jet::StoreLe32(db.Page(l.first_leaf.at("code")) + db.format().index_prev_page, 7);
       }},
      {FindingKind::kIndexOrder,
       [](auto& db, const Layout& l) {  // the first two entries share a key: swap their rows
         uint8_t* area = db.Page(l.first_leaf.at("code")) + db.format().index_entries;
         const std::vector<size_t> ends = EntryEnds(db.format(), db.Page(l.first_leaf.at("code")));
         std::swap(area[ends[0] - 1], area[ends[1] - 1]);
       }},
      {FindingKind::kIndexDuplicateEntry,
       [](auto& db, const Layout& l) {
         uint8_t* area = db.Page(l.first_leaf.at("code")) + db.format().index_entries;
         const std::vector<size_t> ends = EntryEnds(db.format(), db.Page(l.first_leaf.at("code")));
         area[ends[1] - 1] = area[ends[0] - 1];
       }},
      {FindingKind::kIndexUnique,
       [](auto& db, const Layout& l) {  // the second entry's key made the first's
         uint8_t* leaf = db.Page(l.first_leaf.at("ref"));
         uint8_t* area = leaf + db.format().index_entries;
         const std::vector<size_t> ends = EntryEnds(db.format(), leaf);
         const size_t prefix = jet::LoadLe16(leaf + db.format().index_prefix_length);
         for (size_t k = prefix; k + 4 < ends[0]; ++k) area[ends[0] + k - prefix] = area[k];
       }},
      {FindingKind::kIndexDanglingEntry,
       [](auto& db, const Layout& l) {
         uint8_t* slot = db.Slot(l.rows[5]);
         jet::StoreLe16(slot, uint16_t(jet::LoadLe16(slot) | jet::kSlotDeleted));
       }},
      {FindingKind::kIndexKey, ChangeACode},
      {FindingKind::kIndexRowsDiffer, ChangeACode},  // found when entries are not compared
      {FindingKind::kIndexExtraEntry,  // a row with a ref made null
       [](auto& db, const Layout& l) { db.SetPresent(l.rows[3], l.def.columns[2].number, false); }},
      {FindingKind::kIndexMissingRows,  // a row without a ref given one
       [](auto& db, const Layout& l) { db.SetPresent(l.rows[10], l.def.columns[2].number, true); }},
  };
  return damages;
}

TEST(FindingKinds, EveryKindRepairActsOnIsFoundByTheCheck) {
  testing_support::DatabaseBytes original;
  ASSERT_TRUE(original.Create({IndexedTable()})) << original.error();
  const Layout layout = Read(original);
  ASSERT_EQ(layout.rows.size(), size_t(kRows));
  for (const char* index : {"code", "ref"}) {
    const uint8_t* root = original.Page(layout.indexes.at(index)->root_page);
    ASSERT_EQ(root[0], jet::kPageIndexNode) << index;
  }
  testing_support::TempDir dir;
  for (const jet::FindingKindInfo& kind : jet::AllFindingKinds()) {
    if (kind.repair == jet::RepairAction::kNone) continue;
    SCOPED_TRACE(kind.name);
    auto damage = Damages().find(kind.kind);
    ASSERT_NE(damage, Damages().end()) << "no damage makes the check report it";
    testing_support::DatabaseBytes db = original;
    damage->second(db, layout);
    const std::string path = dir.File(std::string(kind.name) + ".mdb");
    ASSERT_TRUE(db.WriteTo(path));

    // The repair's own check names a disagreeing index without comparing its entries.
    jet::CheckOptions options;
    options.compare_disagreeing_entries = kind.kind != FindingKind::kIndexRowsDiffer;
    jet::CheckReport check;
    ASSERT_TRUE(jet::CheckDatabase(path, options, &check).ok());
    const jet::CheckFinding* found = nullptr;
    for (const jet::CheckFinding& f : check.findings)
      if (f.kind == kind.kind && found == nullptr) found = &f;
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->severity, jet::CheckSeverity::kDamage);

    jet::RepairReport repair;
    const jet::Status s = jet::RepairDatabaseWithReport(path, &repair);
    ASSERT_TRUE(s.ok()) << s.ToString();
    if (kind.repair == jet::RepairAction::kClearCommitState) {
      EXPECT_TRUE(repair.commit_state_cleared);
      EXPECT_FALSE(repair.rewritten);
      continue;
    }
    EXPECT_TRUE(repair.rewritten);
    const std::string rebuilt = "index \"" + found->index + "\" of table \"" + found->table + "\" rebuilt";
    bool was_rebuilt = false;
    for (const std::string& line : repair.rebuilt) was_rebuilt |= line.rfind(rebuilt, 0) == 0;
    EXPECT_TRUE(was_rebuilt) << rebuilt;
  }
}

}  // namespace
