// CreateDatabase: plans the pages of a new file, then writes every table's rows,
// long values, indexes and definition, the usage maps, page 1 and page 0. Rows are
// streamed from a RowSupplier; index entries and relationship keys go through
// EntrySorters so that memory stays bounded whatever the row count.
#include "jet/create/create.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <utility>

#include "jet/base/byte_order.h"
#include "jet/base/byte_writer.h"
#include "jet/write/data_page_builder.h"
#include "jet/read/database.h"
#include "jet/write/entry_sorter.h"
#include "jet/file/header.h"
#include "jet/write/index_builder.h"
#include "jet/write/index_key.h"
#include "jet/write/long_value_writer.h"
#include "jet/file/page_writer.h"
#include "jet/write/row_writer.h"
#include "jet/base/publish_file.h"
#include "jet/write/system_tables.h"
#include "jet/write/table_design.h"
#include "jet/write/tdef_writer.h"
#include "jet/base/text.h"
#include "jet/write/usage_map_builder.h"

namespace jet {
namespace {

// Memo / OLE values up to this many bytes stay in the row, as Access keeps them.
constexpr size_t kInlineLongValueMax = 64;
// Compressed unicode is used for values up to this many characters (Jet's limit).
constexpr size_t kMaxCompressedCharacters = 1024;
// A data page goes into its table's free-space map when a small row still fits.
constexpr size_t kRoomForInserts = 32;
constexpr int32_t kTablesContainer = kTablesContainerId;

Status Invalid(const std::string& detail) { return Status::Error(ErrorKind::kInvalidArgument, detail); }

struct NewTablePlan {
  std::string name;
  bool system = false;
  TableDesign design;
  TableDef def;
  int schema_table = -1;                    // user tables: position in Schema::tables
  std::vector<RowSpec> rows;        // system tables: their rows, one value per column
  uint32_t last_autonumber = 0;
  uint64_t live_rows = 0;           // rows written and not deleted
  std::vector<uint32_t> tdef_pages; // first page = table id
  size_t first_map_row = 0;         // its first row among all map rows

  // Filled in while the table is written.
  std::vector<uint32_t> data_pages;
  std::vector<size_t> data_free;
  std::vector<std::vector<uint32_t>> lv_pages;  // per entry of def.long_value_maps
  std::vector<IndexBuildResult> indexes;        // per real index
};

// Map rows of a table, in host-page order: owned pages, free-space pages, one per
// real index, then owned and free pages of each long-value column.
size_t MapRowCount(const TableDef& def) {
  return 2 + def.real_indexes.size() + 2 * def.long_value_maps.size();
}

// A RelationshipSpec's two logical indexes, whose related table pages are known only
// once the definitions have pages.
struct RelatedFixup {
  size_t plan = 0;
  size_t logical = 0;
  size_t other_plan = 0;
};

TableDesign UserDesign(const TableSpec& t) {
  TableDesign d;
  for (const ColumnSpec& c : t.columns) {
    ColumnDesign cd;
    cd.name = c.name;
    cd.type = c.type;
    cd.size = c.size;
    cd.autonumber = c.autonumber;
    cd.precision = c.precision;
    cd.scale = c.scale;
    d.columns.push_back(cd);
  }
  for (const IndexSpec& index : t.indexes) {
    RealIndexDesign real;
    for (const IndexColumnSpec& ic : index.columns)
      real.columns.push_back(IndexColumn{uint16_t(FindColumnSpec(t, ic.column)), ic.ascending});
    if (index.primary || index.unique) real.flags |= kIndexUnique;
    if (index.ignore_nulls) real.flags |= kIndexIgnoreNulls;
    if (index.primary) real.flags |= kIndexRequired;
    LogicalIndexDesign logical;
    logical.name = index.name;
    logical.real_index = uint32_t(d.real_indexes.size());
    logical.index_type = index.primary ? kLogicalIndexPrimaryKey : 0;
    d.real_indexes.push_back(real);
    d.logical_indexes.push_back(logical);
  }
  return d;
}

bool HasLogicalName(const TableDesign& d, const std::string& name) {
  for (const LogicalIndexDesign& l : d.logical_indexes)
    if (EqualsIgnoringAsciiCase(l.name, name)) return true;
  return false;
}

// Adds the logical indexes of the enforced relationships to the user designs
// (`plans` holds the four system tables first, then the user tables in schema order).
Status AddRelationshipIndexes(const Schema& schema, std::vector<NewTablePlan>* plans,
                              std::vector<RelatedFixup>* fixups) {
  const size_t user_base = 4;
  for (const RelationshipSpec& rel : schema.relationships) {
    if (!rel.enforced) continue;
    const size_t fi = user_base + size_t(FindTableSpec(schema, rel.from_table));
    const size_t ti = user_base + size_t(FindTableSpec(schema, rel.to_table));
    const TableSpec& ft = schema.tables[fi - user_base];
    const TableSpec& tt = schema.tables[ti - user_base];
    std::vector<IndexColumn> from_columns, to_columns;
    for (const std::string& c : rel.from_columns)
      from_columns.push_back(IndexColumn{uint16_t(FindColumnSpec(ft, c)), true});
    for (const std::string& c : rel.to_columns)
      to_columns.push_back(IndexColumn{uint16_t(FindColumnSpec(tt, c)), true});
    const auto same = [](const std::vector<IndexColumn>& a, const std::vector<IndexColumn>& b) {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i)
        if (a[i].column_number != b[i].column_number || a[i].ascending != b[i].ascending) return false;
      return true;
    };
    // Referenced side: the unique index over exactly its columns (ValidateSchema made
    // sure there is one).
    TableDesign& to = (*plans)[ti].design;
    int unique_real = -1;
    for (size_t i = 0; i < to.real_indexes.size() && unique_real < 0; ++i)
      if ((to.real_indexes[i].flags & kIndexUnique) && same(to.real_indexes[i].columns, to_columns))
        unique_real = int(i);
    if (unique_real < 0)
      return Invalid("relationship \"" + rel.name + "\": no unique index on \"" + tt.name + "\"");
    // Referencing side: an index over its columns, shared when one exists.
    TableDesign& from = (*plans)[fi].design;
    int from_real = -1;
    for (size_t i = 0; i < from.real_indexes.size() && from_real < 0; ++i)
      if (same(from.real_indexes[i].columns, from_columns)) from_real = int(i);
    if (from_real < 0) {
      from_real = int(from.real_indexes.size());
      from.real_indexes.push_back(RealIndexDesign{from_columns, 0});
    }
    if (from.real_indexes.size() > 32)
      return Invalid("table \"" + ft.name + "\": more than 32 indexes with its relationships");
    if (HasLogicalName(from, rel.name))
      return Invalid("relationship \"" + rel.name + "\": table \"" + ft.name +
                     "\" has an index of that name already");

    LogicalIndexDesign referencing;
    referencing.name = rel.name;
    referencing.real_index = uint32_t(from_real);
    referencing.index_type = kLogicalIndexForeignKey;
    referencing.related_table_type = 2;
    referencing.cascade_updates = rel.cascade_updates ? 1 : 0;
    referencing.cascade_deletes = rel.cascade_deletes ? 1 : 0;
    const size_t from_pos = from.logical_indexes.size();
    from.logical_indexes.push_back(referencing);

    LogicalIndexDesign referenced = referencing;
    int letter = 0;
    std::string name;
    do {
      name = letter < 26 ? std::string(".r") + char('A' + letter) : ".r" + std::to_string(letter);
      ++letter;
    } while (HasLogicalName(to, name));
    referenced.name = name;
    referenced.real_index = uint32_t(unique_real);
    referenced.related_table_type = 1;
    const size_t to_pos = to.logical_indexes.size();
    to.logical_indexes.push_back(referenced);
    from.logical_indexes[from_pos].related_index = int32_t(to_pos);
    to.logical_indexes[to_pos].related_index = int32_t(from_pos);
    fixups->push_back({fi, from_pos, ti});
    fixups->push_back({ti, to_pos, fi});
  }
  return Status::Ok();
}

double Now() {
  return double(std::time(nullptr)) / 86400.0 + 25569.0;
}

// The key an enforced relationship compares: the columns' values as text, typed.
std::string ReferenceKey(const RowSpec& row, const std::vector<int>& columns, bool* complete) {
  std::string key;
  *complete = true;
  for (int c : columns) {
    const Value& v = row.values[c];
    *complete = *complete && !v.is_null();
    key += std::to_string(int(v.type())) + ":" + v.ToText() + '\x1f';
  }
  return key;
}

// A row's number carried in a sorter entry's row pointer.
RowId RowNumberId(uint64_t r) { return RowId{uint32_t(r >> 8), uint8_t(r & 0xFF)}; }
uint64_t RowNumberOf(const RowId& id) { return (uint64_t(id.page) << 8) | id.row; }

// One enforced relationship's check: the keys of the live referenced rows, and those
// of the live referencing rows with every column set (with their row numbers).
struct ReferenceCheck {
  const RelationshipSpec* rel = nullptr;
  int from = -1, to = -1;
  std::vector<int> from_columns, to_columns;
  std::unique_ptr<EntrySorter> targets;
  std::unique_ptr<EntrySorter> uses;
};

class Creator {
 public:
  Creator(const Schema& schema, RowSupplier* rows, PageWriter* writer, Env* env, const std::string& path,
          const CreateOptions& options)
      : schema_(schema), rows_(rows), format_(FormatFor(schema.version)), writer_(writer), env_(env),
        path_(path), options_(options), date_(schema.creation_date != 0 ? schema.creation_date : Now()) {}

  Status Run();
  // Live rows written per user table, in schema order.
  std::vector<uint64_t> LiveRows() const;

 private:
  Status Plan();
  void PrepareReferenceChecks();
  Status CheckReferences();
  void AddSystemRows();
  Status NextRow(NewTablePlan& p, RowSource* source, uint64_t r, RowSpec* row, bool* done);
  Status WriteTable(NewTablePlan& p);
  Status MakeLongValueField(const NewTablePlan& p, size_t column, const Value& value, bool allow_inline,
                        LongValueWriter* lv, std::vector<uint8_t>* field, bool* stored_inline);
  Status BuildIndexes(NewTablePlan& p, std::vector<std::unique_ptr<EntrySorter>>& sorters);
  Status WriteDefinition(NewTablePlan& p);
  Status WriteMaps();
  Status WriteGlobalMapAndHeader();
  RowId MapRowPlace(size_t map_row) const {
    return RowId{host_pages_[map_row / rows_per_host_], uint8_t(map_row % rows_per_host_)};
  }
  std::string Where(const NewTablePlan& p) const { return "table \"" + p.name + "\""; }

  const Schema& schema_;
  RowSupplier* const rows_;
  const Format& format_;
  PageWriter* writer_;
  Env* const env_;
  const std::string path_;  // the destination; scratch files go beside it
  // Sort memory: the indexes of the table being written share three quarters; the
  // keys of the enforced relationships (kept until every table is written) the rest.
  const CreateOptions options_;
  const double date_;
  std::vector<NewTablePlan> plans_;
  std::vector<ReferenceCheck> references_;
  std::vector<uint32_t> host_pages_;
  size_t rows_per_host_ = 1;
  size_t map_rows_ = 0;
};

Status Creator::Plan() {
  for (SystemTable& st : SystemTables(schema_.version)) {
    NewTablePlan p;
    p.name = st.name;
    p.system = true;
    p.design = std::move(st.design);
    plans_.push_back(std::move(p));
  }
  for (size_t i = 0; i < schema_.tables.size(); ++i) {
    NewTablePlan p;
    p.name = schema_.tables[i].name;
    p.design = UserDesign(schema_.tables[i]);
    p.schema_table = int(i);
    plans_.push_back(std::move(p));
  }
  std::vector<RelatedFixup> fixups;
  Status s = AddRelationshipIndexes(schema_, &plans_, &fixups);
  if (!s.ok()) return s;
  PrepareReferenceChecks();

  // Definition pages: their sizes do not depend on page numbers, so a first build
  // sizes them; the system tables must land on pages 2 to 5.
  uint32_t number;
  for (int i = 0; i < 2; ++i) {
    s = writer_->Allocate(&number);
    if (!s.ok()) return s;
  }
  for (NewTablePlan& p : plans_) {
    s = BuildTableDef(format_, schema_.code_page, p.design, &p.def);
    if (!s.ok()) return Status::Error(s.kind(), Where(p) + ": " + s.detail());
    const uint32_t count = TableDefPageCount(format_, p.def.tdef_length);
    if (p.system && count != 1) return Status::Error(ErrorKind::kInvalidArgument, "internal: system table definition too long");
    for (uint32_t i = 0; i < count; ++i) {
      s = writer_->Allocate(&number);
      if (!s.ok()) return s;
      p.tdef_pages.push_back(number);
    }
  }
  for (const RelatedFixup& f : fixups)
    plans_[f.plan].design.logical_indexes[f.logical].related_table = plans_[f.other_plan].tdef_pages[0];
  for (NewTablePlan& p : plans_) {
    s = BuildTableDef(format_, schema_.code_page, p.design, &p.def);
    if (!s.ok()) return s;
    p.def.first_page = p.tdef_pages[0];
    p.def.pages = p.tdef_pages;
    p.first_map_row = map_rows_;
    map_rows_ += MapRowCount(p.def);
    p.lv_pages.resize(p.def.long_value_maps.size());
  }
  // Host pages for all map rows, right after the definitions (as in Jet's own files).
  const size_t row_size = DefaultUsageMapRowSize(format_);
  rows_per_host_ = std::min<size_t>(kMaxRowsPerDataPage,
                                    (format_.page_size - format_.data_header_size) / (row_size + 2));
  for (size_t i = 0; i < (map_rows_ + rows_per_host_ - 1) / rows_per_host_; ++i) {
    s = writer_->Allocate(&number);
    if (!s.ok()) return s;
    host_pages_.push_back(number);
  }
  AddSystemRows();
  return Status::Ok();
}

// One pair of sorters per enforced relationship, filled while the tables are written.
void Creator::PrepareReferenceChecks() {
  size_t enforced = 0;
  for (const RelationshipSpec& rel : schema_.relationships) enforced += rel.enforced ? 1 : 0;
  const size_t budget = enforced == 0 ? 0 : std::max<size_t>(1, options_.sort_memory / 4 / (2 * enforced));
  for (const RelationshipSpec& rel : schema_.relationships) {
    if (!rel.enforced) continue;
    ReferenceCheck check;
    check.rel = &rel;
    check.from = FindTableSpec(schema_, rel.from_table);
    check.to = FindTableSpec(schema_, rel.to_table);
    for (const std::string& c : rel.from_columns)
      check.from_columns.push_back(FindColumnSpec(schema_.tables[check.from], c));
    for (const std::string& c : rel.to_columns)
      check.to_columns.push_back(FindColumnSpec(schema_.tables[check.to], c));
    check.targets = std::make_unique<EntrySorter>(env_, path_, budget);
    check.uses = std::make_unique<EntrySorter>(env_, path_, budget);
    references_.push_back(std::move(check));
  }
}

// An enforced relationship promises that every live referencing row whose columns
// are all set names a live referenced row; a file that broke that promise would be
// one Access itself reports as inconsistent. Both sides' keys come out of their
// sorters in order, so one merge finds every referencing key without a target; the
// error names the first such row.
Status Creator::CheckReferences() {
  for (ReferenceCheck& check : references_) {
    Status s = check.targets->Finish();
    if (s.ok()) s = check.uses->Finish();
    SortedEntry target, use;
    bool targets_done = false, uses_done = false, have_target = false;
    uint64_t first_bad = UINT64_MAX;
    while (s.ok()) {
      s = check.uses->Next(&use, &uses_done);
      if (!s.ok() || uses_done) break;
      while (s.ok() && !targets_done && (!have_target || target.key < use.key)) {
        s = check.targets->Next(&target, &targets_done);
        have_target = s.ok() && !targets_done;
      }
      if (s.ok() && (!have_target || target.key != use.key)) first_bad = std::min(first_bad, RowNumberOf(use.row));
    }
    if (!s.ok()) return s;
    check.targets.reset();
    check.uses.reset();
    if (first_bad != UINT64_MAX)
      return Invalid("relationship \"" + check.rel->name + "\": row " + std::to_string(first_bad + 1) + " of \"" +
                     schema_.tables[check.from].name + "\" refers to no row of \"" +
                     schema_.tables[check.to].name + "\"");
  }
  return Status::Ok();
}

void Creator::AddSystemRows() {
  const auto add = [](NewTablePlan& p, std::vector<Value> values) {
    RowSpec row;
    row.values = std::move(values);
    p.rows.push_back(std::move(row));
  };
  NewTablePlan& objects = plans_[0];
  NewTablePlan& aces = plans_[1];
  NewTablePlan& relationships = plans_[3];
  struct Entry {
    int32_t id, parent;
    std::string name;
    int16_t type;
    uint32_t flags;
  };
  std::vector<Entry> entries = {
      {kTablesContainer, kRootContainerId, "Tables", kObjectContainer, kSystemObjectFlags},
      {kDatabasesContainerId, kRootContainerId, "Databases", kObjectContainer, kSystemObjectFlags},
      {kRelationshipsContainerId, kRootContainerId, "Relationships", kObjectContainer, kSystemObjectFlags},
      {kMSysDbId, kDatabasesContainerId, "MSysDb", kObjectDatabase, kSystemObjectFlags}};
  for (size_t i = 0; i < plans_.size(); ++i) {
    const NewTablePlan& p = plans_[i];
    entries.push_back({int32_t(p.tdef_pages[0]), kTablesContainer, p.name, kObjectLocalTable,
                       p.system ? kSystemObjectFlags : 0u});
  }
  int32_t synthetic = kFirstSyntheticId;
  for (const RelationshipSpec& rel : schema_.relationships)
    entries.push_back({synthetic++, kRelationshipsContainerId, rel.name, kObjectRelationship, 0});
  for (const Entry& e : entries) {
    add(objects, CatalogRow(e.id, e.parent, e.name, e.type, e.flags, date_));
    if (e.type != kObjectRelationship) add(aces, AceRow(e.id, e.type == kObjectContainer));
  }
  for (const RelationshipSpec& rel : schema_.relationships) {
    int32_t grbit = 0;
    if (!rel.enforced) grbit |= kRelationNotEnforced;
    if (rel.cascade_updates) grbit |= kRelationCascadeUpdates;
    if (rel.cascade_deletes) grbit |= kRelationCascadeDeletes;
    // Names as the tables spell them.
    const TableSpec& ft = schema_.tables[FindTableSpec(schema_, rel.from_table)];
    const TableSpec& tt = schema_.tables[FindTableSpec(schema_, rel.to_table)];
    for (size_t i = 0; i < rel.from_columns.size(); ++i) {
      add(relationships,
          RelationshipRow(rel.name, grbit, int32_t(rel.from_columns.size()), int32_t(i), ft.name,
                          ft.columns[FindColumnSpec(ft, rel.from_columns[i])].name, tt.name,
                          tt.columns[FindColumnSpec(tt, rel.to_columns[i])].name));
    }
  }
}

// The field a Memo / OLE column keeps in the row: inline for short values (when
// allowed), otherwise the header of the value stored on LVAL pages by `lv`.
Status Creator::MakeLongValueField(const NewTablePlan& p, size_t column, const Value& value,
                               bool allow_inline, LongValueWriter* lv, std::vector<uint8_t>* field,
                               bool* stored_inline) {
  const ColumnDef& c = p.def.columns[column];
  std::vector<uint8_t> bytes;
  if (c.type() == ColumnType::kMemo) {
    Status s;
    if (IsJet3(format_.version)) {
      s = EncodeCodePageText(value.text(), c.code_page != 0 ? c.code_page : schema_.code_page, &bytes);
    } else {
      size_t characters = 0;
      for (unsigned char ch : value.text())
        if ((ch & 0xC0) != 0x80) ++characters;
      const bool compress = (c.ext_flags & kColumnCompressedUnicode) && characters <= kMaxCompressedCharacters;
      s = EncodeJet4Text(value.text(), compress, &bytes);
    }
    if (!s.ok()) return Status::Error(s.kind(), "column \"" + c.name + "\": " + s.detail());
  } else {
    bytes = value.bytes();
  }
  *stored_inline = false;
  if (bytes.empty() || (allow_inline && bytes.size() <= kInlineLongValueMax)) {
    field->assign(kLongValueHeaderSize, 0);
    StoreLe32(field->data(), uint32_t(bytes.size()) | (uint32_t(kLongValueInline) << 24));
    field->insert(field->end(), bytes.begin(), bytes.end());
    *stored_inline = !bytes.empty();
    return Status::Ok();
  }
  jet::LongValueField header;
  Status s = lv->Store(bytes, &header);
  if (!s.ok()) return s;
  field->assign(header.begin(), header.end());
  return Status::Ok();
}

// The next row of table p, checked as ValidateSchema checks the schema's rows and
// given a value per column: a Yes/No value is its null-mask bit, so null is No, and
// AutoNumber columns count up from 1 over the rows as given, deleted rows included
// (their numbers are used up, as in Access).
Status Creator::NextRow(NewTablePlan& p, RowSource* source, uint64_t r, RowSpec* row, bool* done) {
  Status s = source->Next(row, done);
  if (!s.ok() || *done || p.system) return s;
  const TableSpec& t = schema_.tables[p.schema_table];
  s = ValidateRow(t, size_t(r), *row);
  if (!s.ok()) return s;
  row->values.resize(t.columns.size());
  for (size_t c = 0; c < t.columns.size(); ++c) {
    Value& v = row->values[c];
    if (t.columns[c].type == ColumnType::kBoolean && v.is_null()) v = Value::Boolean(false);
    if (!t.columns[c].autonumber) continue;
    if (v.is_null()) {
      v = Value::Long(int32_t(++p.last_autonumber));
    } else if (v.integer() > 0) {
      p.last_autonumber = std::max<uint32_t>(p.last_autonumber, uint32_t(v.integer()));
    }
  }
  return Status::Ok();
}

Status Creator::WriteTable(NewTablePlan& p) {
  const Format& f = format_;
  const uint32_t owner = p.tdef_pages[0];
  TableDef& def = p.def;

  // One long-value writer per Memo / OLE column, so each column's values stay together.
  std::vector<int> lv_slot(def.columns.size(), -1);
  std::vector<std::unique_ptr<LongValueWriter>> lv_writers;
  for (size_t k = 0; k < def.long_value_maps.size(); ++k) {
    lv_slot[def.FindColumnByNumber(def.long_value_maps[k].column_number)] = int(k);
    lv_writers.push_back(std::make_unique<LongValueWriter>(writer_));
  }
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    std::string reason;
    if (!CanComputeKeys(f, def, def.real_indexes[i], &reason))
      return Status::Error(ErrorKind::kUnsupportedFormat, Where(p) + " index " + std::to_string(i) + ": " + reason);
  }

  std::unique_ptr<RowSource> source;
  if (p.system) {
    source = RowsInMemory(p.rows);  // a system table: the creator makes its rows
  } else {
    Status s = rows_->OpenRows(size_t(p.schema_table), &source);
    if (!s.ok()) return s;
  }
  std::vector<std::unique_ptr<EntrySorter>> sorters;
  const size_t budget = def.real_indexes.empty()
                            ? 0
                            : std::max<size_t>(1, options_.sort_memory / 4 * 3 / def.real_indexes.size());
  for (size_t i = 0; i < def.real_indexes.size(); ++i)
    sorters.push_back(std::make_unique<EntrySorter>(env_, path_, budget));
  DataPageBuilder page(f, owner);
  uint32_t page_number = 0;
  bool page_open = false;
  // Bytes the open page would have used had no row been deleted from it.
  size_t room = 0;
  const auto flush_page = [&]() -> Status {
    if (!page_open) return Status::Ok();
    p.data_pages.push_back(page_number);
    p.data_free.push_back(page.free_space());
    page_open = false;
    return writer_->Write(page_number, page.page());
  };

  uint32_t live_rows = 0;
  std::vector<uint8_t> bytes;
  RowEncoder encoder;
  RowSpec row;
  for (uint64_t r = 0;; ++r) {
    bool done = false;
    Status s = NextRow(p, source.get(), r, &row, &done);
    if (!s.ok()) return s;
    if (done) break;
    if (r >= UINT32_MAX) return Invalid(Where(p) + ": too many rows");
    RowFields fields;
    fields.values = row.values;
    fields.long_value_fields.resize(def.columns.size());
    std::vector<bool> inline_field(def.columns.size(), false);
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (lv_slot[c] < 0 || row.values[c].is_null()) continue;
      bool was_inline = false;
      Status s = MakeLongValueField(p, c, row.values[c], true, lv_writers[lv_slot[c]].get(),
                                &fields.long_value_fields[c], &was_inline);
      if (!s.ok()) return Status::Error(s.kind(), Where(p) + " row " + std::to_string(r + 1) + ": " + s.detail());
      inline_field[c] = was_inline;
    }
    s = encoder.Encode(f, def, fields, schema_.code_page, &bytes);
    if (!s.ok() && std::find(inline_field.begin(), inline_field.end(), true) != inline_field.end()) {
      // Too long with its short long values inline: store those out of the row too.
      for (size_t c = 0; c < def.columns.size(); ++c) {
        if (!inline_field[c]) continue;
        bool unused;
        s = MakeLongValueField(p, c, row.values[c], false, lv_writers[lv_slot[c]].get(),
                           &fields.long_value_fields[c], &unused);
        if (!s.ok()) return s;
      }
      s = encoder.Encode(f, def, fields, schema_.code_page, &bytes);
    }
    if (!s.ok()) return Status::Error(s.kind(), Where(p) + " row " + std::to_string(r + 1) + ": " + s.detail());

    const size_t need = bytes.size() + 2;
    if (!page_open || need > room || page.row_count() >= kMaxRowsPerDataPage) {
      s = flush_page();
      if (s.ok()) s = writer_->Allocate(&page_number);
      if (!s.ok()) return s;
      page.Reset(owner);
      page_open = true;
      room = f.page_size - f.data_header_size;
    }
    const RowId id{page_number, uint8_t(page.row_count())};
    const bool added = row.deleted ? page.AddDeletedSlot() : page.Add(bytes);
    if (!added) return Status::Error(ErrorKind::kInvalidArgument, Where(p) + ": internal: row does not fit its page");
    room -= need;
    if (row.deleted) continue;
    ++live_rows;
    for (ReferenceCheck& check : references_) {
      bool complete;
      if (check.to == p.schema_table) {
        s = check.targets->Add(ReferenceKey(row, check.to_columns, &complete), RowNumberId(r));
        if (!s.ok()) return s;
      }
      if (check.from == p.schema_table) {
        const std::string key = ReferenceKey(row, check.from_columns, &complete);
        if (complete) s = check.uses->Add(key, RowNumberId(r));
        if (!s.ok()) return s;
      }
    }
    for (size_t i = 0; i < def.real_indexes.size(); ++i) {
      const RealIndex& index = def.real_indexes[i];
      bool any_null = false, all_null = true;
      for (const IndexColumn& ic : index.columns) {
        const bool null = row.values[def.FindColumnByNumber(ic.column_number)].is_null();
        any_null = any_null || null;
        all_null = all_null && null;
      }
      if (all_null && (index.flags & kIndexIgnoreNulls)) continue;
      std::string key;
      s = EncodeIndexKey(f, def, index, row.values, &key);
      if (!s.ok())
        return Status::Error(s.kind(), Where(p) + " row " + std::to_string(r + 1) + " index " +
                                           std::to_string(i) + ": " + s.detail());
      s = sorters[i]->Add(key, id, any_null ? 1 : 0);
      if (!s.ok()) return s;
    }
  }
  Status s = flush_page();
  for (size_t k = 0; s.ok() && k < lv_writers.size(); ++k) {
    s = lv_writers[k]->Flush();
    p.lv_pages[k] = lv_writers[k]->pages();
  }
  if (!s.ok()) return s;
  def.row_count = live_rows;
  def.last_autonumber = p.last_autonumber;
  p.live_rows = live_rows;
  s = BuildIndexes(p, sorters);
  if (!s.ok()) return s;
  return WriteDefinition(p);
}

// Index entries come out of their sorter in key order, then row order -- the order
// of the leaf entries. A sorter entry's tag says a column of its key is null.
Status Creator::BuildIndexes(NewTablePlan& p, std::vector<std::unique_ptr<EntrySorter>>& sorters) {
  const TableDef& def = p.def;
  p.indexes.resize(def.real_indexes.size());
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    const bool unique = def.real_indexes[i].flags & kIndexUnique;
    IndexBuilder builder(writer_, p.tdef_pages[0]);
    Status s = sorters[i]->Finish();
    SortedEntry entry;
    std::string previous_key;
    bool previous_null = false, first = true;
    for (bool done = false; s.ok();) {
      s = sorters[i]->Next(&entry, &done);
      if (!s.ok() || done) break;
      const bool null = entry.tag != 0;
      // Several rows with a null in a unique index's columns are no conflict (Jet's rule).
      if (unique && !first && previous_key == entry.key && !null && !previous_null) {
        std::string name;
        for (const LogicalIndex& l : def.logical_indexes)
          if (l.real_index == i) name = l.name;
        return Status::Error(ErrorKind::kInvalidArgument,
                             Where(p) + ": two rows have the same key in unique index \"" + name + "\"");
      }
      s = builder.Add(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(entry.key.data()), entry.key.size()),
                      entry.row);
      if (!s.ok()) return Status::Error(s.kind(), Where(p) + " index " + std::to_string(i) + ": " + s.detail());
      previous_key.swap(entry.key);
      previous_null = null;
      first = false;
    }
    if (s.ok()) s = builder.Finish(&p.indexes[i]);
    if (!s.ok()) return s;
    sorters[i].reset();  // its memory and scratch files go before the next index's
  }
  return Status::Ok();
}

Status Creator::WriteDefinition(NewTablePlan& p) {
  TableDef& def = p.def;
  size_t map_row = p.first_map_row;
  def.owned_map = MapRowPlace(map_row++).ToPointer();
  def.free_map = MapRowPlace(map_row++).ToPointer();
  for (size_t i = 0; i < def.real_indexes.size(); ++i) {
    RealIndex& index = def.real_indexes[i];
    index.usage_map = MapRowPlace(map_row++).ToPointer();
    index.root_page = p.indexes[i].root_page;
    index.stat_entries = p.indexes[i].entry_count;
    index.stat_unique = p.indexes[i].distinct_keys;
  }
  for (LongValueMaps& maps : def.long_value_maps) {
    maps.owned_map = MapRowPlace(map_row++).ToPointer();
    maps.free_map = MapRowPlace(map_row++).ToPointer();
  }
  std::vector<uint8_t> logical;
  std::vector<std::vector<uint8_t>> pages;
  Status s = EncodeTableDef(format_, def, &logical);
  if (s.ok()) s = SplitTableDef(format_, logical, p.tdef_pages, &pages);
  for (size_t i = 0; s.ok() && i < pages.size(); ++i) s = writer_->Write(p.tdef_pages[i], pages[i]);
  return s;
}

Status Creator::WriteMaps() {
  DataPageBuilder host(format_, 0);
  size_t host_index = 0;
  const auto flush = [&]() -> Status {
    Status s = writer_->Write(host_pages_[host_index], host.page());
    host.Reset(0);
    ++host_index;
    return s;
  };
  size_t written = 0;
  for (const NewTablePlan& p : plans_) {
    std::vector<std::vector<uint32_t>> maps;
    maps.push_back(p.data_pages);
    std::vector<uint32_t> roomy;
    for (size_t i = 0; i < p.data_pages.size(); ++i)
      if (p.data_free[i] >= kRoomForInserts + 2) roomy.push_back(p.data_pages[i]);
    maps.push_back(roomy);
    for (const IndexBuildResult& index : p.indexes) maps.push_back(index.pages);
    for (const std::vector<uint32_t>& lv : p.lv_pages) {
      maps.push_back(lv);
      // Only the page each column's writer filled last has room left.
      maps.push_back(lv.empty() ? std::vector<uint32_t>() : std::vector<uint32_t>{lv.back()});
    }
    for (std::vector<uint32_t>& pages : maps) {
      std::sort(pages.begin(), pages.end());
      std::vector<uint32_t> bitmap_numbers(UsageMapBitmapPageCount(format_, pages));
      for (uint32_t& n : bitmap_numbers) {
        Status s = writer_->Allocate(&n);
        if (!s.ok()) return s;
      }
      UsageMapImage image;
      Status s = BuildUsageMap(format_, pages, bitmap_numbers, &image);
      for (size_t i = 0; s.ok() && i < image.bitmap_pages.size(); ++i)
        s = writer_->Write(image.bitmap_pages[i].page_number, image.bitmap_pages[i].image);
      if (!s.ok()) return s;
      if (written / rows_per_host_ != host_index) {
        s = flush();
        if (!s.ok()) return s;
      }
      if (!host.Add(image.row))
        return Status::Error(ErrorKind::kInvalidArgument, "internal: usage map row does not fit its host page");
      ++written;
    }
  }
  if (written != map_rows_) return Status::Error(ErrorKind::kInvalidArgument, "internal: map row count");
  return host_pages_.empty() ? Status::Ok() : flush();
}

Status Creator::WriteGlobalMapAndHeader() {
  const uint32_t used = writer_->page_count();
  const uint32_t extra = GlobalMapExtraPages(format_, used);
  std::vector<uint32_t> bitmap_numbers(extra);
  for (uint32_t& n : bitmap_numbers) {
    Status s = writer_->Allocate(&n);
    if (!s.ok()) return s;
  }
  std::vector<uint8_t> page1;
  std::vector<UsageBitmapPage> bitmap_pages;
  Status s = BuildGlobalMapPage(format_, used + extra, bitmap_numbers, &page1, &bitmap_pages);
  if (s.ok()) s = writer_->Write(1, page1);
  for (size_t i = 0; s.ok() && i < bitmap_pages.size(); ++i)
    s = writer_->Write(bitmap_pages[i].page_number, bitmap_pages[i].image);
  if (!s.ok()) return s;

  // Page 0: EncodeHeader fills in code page, sort order, key, date and the (empty)
  // password over the constant bytes.
  const Header header = NewHeader(format_.version, schema_.code_page, IsJet3(format_.version) ? 0 : date_);
  std::vector<uint8_t> page0;
  s = EncodeHeader(header, &page0);
  if (s.ok()) s = writer_->Write(0, page0);
  return s;
}

std::vector<uint64_t> Creator::LiveRows() const {
  std::vector<uint64_t> out;
  for (const NewTablePlan& p : plans_)
    if (!p.system) out.push_back(p.live_rows);
  return out;
}

Status Creator::Run() {
  Status s = Plan();
  for (size_t i = 0; s.ok() && i < plans_.size(); ++i) {
    s = WriteTable(plans_[i]);
    ReportProgress(options_.progress, i + 1, plans_.size() + 1);
  }
  if (s.ok()) s = CheckReferences();
  if (s.ok()) s = WriteMaps();
  if (s.ok()) s = WriteGlobalMapAndHeader();
  return s;
}

// Reads the new file back with the engine's reader: every table must be in the
// catalog and hold exactly its live rows (`expected`, per table). A file that fails
// this is not put in place.
Status CheckWritten(const Schema& schema, const std::vector<uint64_t>& expected_rows,
                    const std::string& path) {
  std::unique_ptr<Database> db;
  Status s = Database::Open(path, &db);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the new file does not read back: " + s.detail());
  for (size_t i = 0; i < schema.tables.size(); ++i) {
    const TableSpec& t = schema.tables[i];
    const TableDef* def;
    s = db->GetTableDefByName(t.name, &def);
    uint64_t rows = 0;
    if (s.ok()) s = db->ScanRows(*def, [&](const RowId&, const std::vector<Value>&) { ++rows; return true; });
    if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the new file does not read back: " + s.detail());
    const uint64_t expected = i < expected_rows.size() ? expected_rows[i] : 0;
    if (rows != expected)
      return Status::Error(ErrorKind::kDamaged, "the new file reads back " + std::to_string(rows) +
                                                    " rows of table \"" + t.name + "\", not " +
                                                    std::to_string(expected));
  }
  return Status::Ok();
}

}  // namespace

Status CreateDatabase(const Schema& schema, const std::string& path, Env* env) {
  std::unique_ptr<RowSupplier> rows = SchemaRows(schema);
  return CreateDatabase(schema, rows.get(), path, env);
}

Status CreateDatabase(const Schema& schema, RowSupplier* rows, const std::string& path, Env* env,
                      const CreateOptions& options) {
  Status s = ValidateSchema(schema);
  if (!s.ok()) return s;
  // Also takes away what a killed earlier run left beside `path` (its file, its sorts'
  // scratch files).
  Publication publication;
  s = publication.Begin(env, path, PublishOptions());
  if (!s.ok()) return s;
  const std::string& temporary = publication.temporary();
  std::unique_ptr<PageWriter> writer;
  s = PageWriter::Create(env, temporary, FormatFor(schema.version), 0, 0644, &writer);
  if (!s.ok()) return s;
  std::vector<uint64_t> live_rows;
  {
    Creator creator(schema, rows, writer.get(), env, path, options);
    s = creator.Run();
    live_rows = creator.LiveRows();
  }
  if (s.ok()) s = writer->Finish();
  if (!s.ok()) return s;  // an unfinished writer removes its file
  writer.reset();
  s = CheckWritten(schema, live_rows, temporary);
  if (s.ok()) s = publication.Commit();
  return s;
}

}  // namespace jet
