// Column evidence: see column_evidence.h.
#include "jet/maintain/column_evidence.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/base/byte_order.h"
#include "jet/file/page_file.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"

namespace jet {
namespace {

// Rows enough to tell a column's place; a table's first rows say as much as all.
constexpr size_t kRowsLooked = 20000;

// How well `column` fits `rows`: -1 when a row contradicts it (a value where the
// null mask says there is none, a value longer than the column, fixed bytes past the
// fixed area of a row written with the column), otherwise the rows whose bytes it
// reads as a value.
long Fit(const Format& format, const TableDef& table, const ColumnDef& column,
         const std::vector<std::vector<uint8_t>>& rows) {
  long support = 0;
  const bool bounded = column.type() == ColumnType::kText || column.type() == ColumnType::kBinary;
  RowLayout layout;
  for (const std::vector<uint8_t>& row : rows) {
    if (!ReadRowLayout(format, table, row.data(), row.size(), &layout).ok()) continue;
    const uint32_t n = column.number;
    const bool present =
        n < layout.column_count && ((row[row.size() - layout.mask_size + n / 8] >> (n % 8)) & 1) != 0;
    if (column.is_variable()) {
      const uint32_t v = column.var_index;
      if (v >= layout.var_count) {
        if (present) return -1;
        continue;
      }
      if (layout.var_offsets[v + 1] < layout.var_offsets[v]) continue;
      const uint32_t size = uint32_t(layout.var_offsets[v + 1] - layout.var_offsets[v]);
      if (!present && size > 0) return -1;
      if (present && bounded && column.length > 0 && size > column.length) return -1;
      if (present && size > 0) ++support;
    } else if (column.type() != ColumnType::kBoolean && n < layout.column_count) {
      // A row keeps the fixed bytes of every column it was written with, null or not.
      const uint32_t fixed_end = layout.var_count > 0 ? layout.var_offsets[0] : layout.trailer_start;
      if (format.row_column_count_size + column.fixed_offset + column.length > fixed_end) return -1;
      if (present) ++support;
    }
  }
  return support;
}

// True when `column`, a variable one of a fixed-size type (some system tables store
// those so), holds values of another size in more of `rows` than of its type's: its
// record is damaged, and reading its bytes as its type would give garbage.
bool ValuesOfAnotherSize(const Format& format, const TableDef& table, const ColumnDef& column,
                         const std::vector<std::vector<uint8_t>>& rows) {
  const uint32_t size = FixedColumnSize(column.type());
  if (!column.is_variable() || size == 0) return false;
  size_t same = 0, other = 0;
  RowLayout layout;
  for (const std::vector<uint8_t>& row : rows) {
    if (!ReadRowLayout(format, table, row.data(), row.size(), &layout).ok()) continue;
    const uint32_t v = column.var_index;
    if (v >= layout.var_count || layout.var_offsets[v + 1] <= layout.var_offsets[v]) continue;
    ++(uint32_t(layout.var_offsets[v + 1] - layout.var_offsets[v]) == size ? same : other);
  }
  return other > same;
}

std::string OfAnotherSizeWhy(const ColumnDef& column) {
  return "column \"" + column.name + "\": a variable " + ColumnTypeName(column.type_code) +
         ", but most of its values in the rows are not of that type's size";
}

// The columns of `table` that ValuesOfAnotherSize finds damaged, left out and
// described in `dropped`.
void DropColumnsOfAnotherSize(const Format& format, const TableDef& scanned,
                              const std::vector<std::vector<uint8_t>>& rows, TableDef* table,
                              std::vector<std::string>* dropped) {
  std::erase_if(table->columns, [&](const ColumnDef& column) {
    if (!ValuesOfAnotherSize(format, scanned, column, rows)) return false;
    dropped->push_back(OfAnotherSizeWhy(column));
    return true;
  });
}

// Of the rows written with fixed column `column`, how many hold its bytes within
// their fixed area (`inside`) and how many do not (`outside`).
void CountFixedAreaFits(const Format& format, const TableDef& table, const ColumnDef& column,
                        const std::vector<std::vector<uint8_t>>& rows, size_t* inside, size_t* outside) {
  *inside = *outside = 0;
  RowLayout layout;
  for (const std::vector<uint8_t>& row : rows) {
    if (!ReadRowLayout(format, table, row.data(), row.size(), &layout).ok() || column.number >= layout.column_count)
      continue;
    const uint32_t fixed_end = layout.var_count > 0 ? layout.var_offsets[0] : layout.trailer_start;
    ++(format.row_column_count_size + column.fixed_offset + column.length > fixed_end ? *outside : *inside);
  }
}

// Up to `limit` rows of the table `scanned` describes: of the pages its owned-pages
// map names, or of every data page naming it where it has no map (owned_map 0).
// Its counts must cover every row's offsets.
std::vector<std::vector<uint8_t>> RowsOfTable(PageFile& file, const TableDef& scanned, size_t limit) {
  std::vector<std::vector<uint8_t>> rows;
  TableScanner scanner(file, scanned);
  scanner.SkipDamagedRows([](const RowId&, const Status&) {});
  std::vector<std::string> notes;
  scanner.Scan(
      [&](const RowId&, const uint8_t* bytes, size_t size) {
        rows.emplace_back(bytes, bytes + size);
        return rows.size() < limit;
      },
      &notes);
  return rows;
}

// A fixed column whose bytes run past the fixed area of a row that holds it has a
// damaged offset: it goes to the one gap of its size that lies snug between the
// other fixed columns (or ends the area) and that its rows agree with. Only `only`
// is placed, where given. One that no one gap takes is an error, or, with `dropped`,
// left out of the table and described there.
Status PlaceFixedColumnsByRows(const Format& format, const TableDef& scanned,
                               const std::vector<std::vector<uint8_t>>& rows, TableDef* table,
                               std::vector<std::string>* placed, std::vector<std::string>* dropped,
                               const ColumnDef* only = nullptr) {
  std::vector<size_t> unplaced;
  uint32_t area = 0;  // the widest fixed area a row has
  RowLayout layout;
  for (const std::vector<uint8_t>& row : rows)
    if (ReadRowLayout(format, scanned, row.data(), row.size(), &layout).ok()) {
      const uint32_t end = layout.var_count > 0 ? layout.var_offsets[0] : layout.trailer_start;
      if (end >= format.row_column_count_size) area = std::max<uint32_t>(area, end - format.row_column_count_size);
    }
  for (size_t position = 0; position < table->columns.size(); ++position) {
    ColumnDef& column = table->columns[position];
    if (!column.in_fixed_area() || Fit(format, scanned, column, rows) >= 0) continue;
    if (only != nullptr && column.def_offset != only->def_offset) continue;
    std::vector<std::pair<uint32_t, uint32_t>> others;
    for (const ColumnDef& c : table->columns)
      if (&c != &column && c.in_fixed_area()) others.emplace_back(c.fixed_offset, uint32_t(c.fixed_offset) + c.length);
    std::vector<uint16_t> fitting;
    for (uint32_t at = 0; at + column.length <= area; ++at) {
      const uint32_t end = at + column.length;
      bool free = true, after_one = at == 0, before_one = end == area;
      for (const auto& [from, to] : others) {
        free = free && (end <= from || to <= at);
        after_one = after_one || to == at;
        before_one = before_one || from == end;
      }
      if (!free || !after_one || !before_one) continue;
      ColumnDef trial = column;
      trial.fixed_offset = uint16_t(at);
      if (Fit(format, scanned, trial, rows) >= 0) fitting.push_back(uint16_t(at));
    }
    if (fitting.size() != 1) {
      const std::string why = "column \"" + column.name + "\": its fixed offset " +
                              std::to_string(column.fixed_offset) +
                              " runs past its rows' fixed area, and no one gap takes it";
      if (dropped == nullptr) return Status::Error(ErrorKind::kDamaged, why);
      dropped->push_back(why);
      unplaced.push_back(position);
      continue;
    }
    placed->push_back("column \"" + column.name + "\": its fixed offset " + std::to_string(column.fixed_offset) +
                      " runs past its rows' fixed area; given " + std::to_string(fitting[0]) +
                      ", the one gap of its size between the other columns");
    column.fixed_offset = fitting[0];
    StoreLe16(table->buffer.data() + column.def_offset + ColumnFixedOffsetOffset(format), column.fixed_offset);
  }
  for (auto at = unplaced.rbegin(); at != unplaced.rend(); ++at) table->columns.erase(table->columns.begin() + ptrdiff_t(*at));
  return Status::Ok();
}

}  // namespace

Status PlaceColumnsByRows(PageFile& file, ColumnsOnly* columns, std::vector<std::string>* placed) {
  const Format& format = file.format();
  TableDef& table = columns->table;
  const uint16_t number_limit =
      std::max<uint16_t>(columns->stated_max_columns, uint16_t(table.columns.size() + columns->misplaced.size()));
  uint16_t variables = 0;
  for (const ColumnDef& c : table.columns) variables += c.is_variable();
  for (const ColumnDef& c : columns->misplaced) variables += c.is_variable();
  const uint16_t var_limit = std::max(columns->stated_var_columns, variables);
  // Numbers and indexes the misplaced columns may take: those no sound column uses.
  std::set<uint16_t> numbers, var_indexes;
  for (const ColumnDef& c : table.columns) {
    numbers.insert(c.number);
    if (c.is_variable()) var_indexes.insert(c.var_index);
  }
  // The rows, read with a definition whose counts cover every row's offsets.
  TableDef scanned = table;
  scanned.owned_map = 0;
  scanned.var_columns = std::max(scanned.var_columns, var_limit);
  const std::vector<std::vector<uint8_t>> rows = RowsOfTable(file, scanned, kRowsLooked);
  if (Status s = PlaceFixedColumnsByRows(format, scanned, rows, &table, placed, &columns->dropped); !s.ok()) return s;
  DropColumnsOfAnotherSize(format, scanned, rows, &table, &columns->dropped);
  if (columns->misplaced.empty()) return Status::Ok();
  // A field is damaged when past the counts or shared with another column; the
  // sound fields of misplaced columns are taken too.
  std::map<uint16_t, int> number_uses, var_uses;
  for (const std::vector<ColumnDef>* list : {&table.columns, &columns->misplaced})
    for (const ColumnDef& c : *list) {
      ++number_uses[c.number];
      if (c.is_variable()) ++var_uses[c.var_index];
    }
  const auto number_damaged = [&](const ColumnDef& c) { return c.number >= number_limit || number_uses[c.number] > 1; };
  const auto var_damaged = [&](const ColumnDef& c) {
    return c.is_variable() && (c.var_index >= var_limit || var_uses[c.var_index] > 1);
  };
  for (const ColumnDef& c : columns->misplaced) {
    if (!number_damaged(c)) numbers.insert(c.number);
    if (c.is_variable() && !var_damaged(c)) var_indexes.insert(c.var_index);
  }
  for (ColumnDef& column : columns->misplaced) {
    const bool number_bad = number_damaged(column);
    const bool var_bad = var_damaged(column);
    const std::string what = number_bad ? "number" : "variable index";
    const uint16_t stored = number_bad ? column.number : column.var_index;
    if (number_bad && var_bad) {
      columns->dropped.push_back("column \"" + column.name + "\": its number " + std::to_string(column.number) +
                                 " and variable index " + std::to_string(column.var_index) + " are both damaged");
      continue;
    }
    long best = -1, second = -1;
    uint16_t chosen = 0;
    const uint16_t limit = number_bad ? number_limit : var_limit;
    const std::set<uint16_t>& used = number_bad ? numbers : var_indexes;
    for (uint16_t candidate = 0; candidate < limit; ++candidate) {
      if (used.count(candidate)) continue;
      ColumnDef trial = column;
      (number_bad ? trial.number : trial.var_index) = candidate;
      const long fit = Fit(format, scanned, trial, rows);
      if (fit > best) {
        second = best;
        best = fit;
        chosen = candidate;
      } else if (fit > second) {
        second = fit;
      }
    }
    // With rows, the one value they support best; without, the one value free.
    if (best < 0 || best == second || (!rows.empty() && best == 0 && second >= 0)) {
      columns->dropped.push_back("column \"" + column.name + "\": its " + what + " " + std::to_string(stored) +
                                 " is damaged, and its rows name no one free " + what + " for it");
      continue;
    }
    (number_bad ? column.number : column.var_index) = chosen;
    if (ValuesOfAnotherSize(format, scanned, column, rows)) {
      columns->dropped.push_back(OfAnotherSizeWhy(column));
      continue;
    }
    StoreLe16(table.buffer.data() + column.def_offset + (number_bad ? ColumnNumberOffset(format) : ColumnVarIndexOffset(format)), chosen);
    (number_bad ? numbers : var_indexes).insert(chosen);
    placed->push_back("column \"" + column.name + "\": its " + what + " " + std::to_string(stored) +
                      " is damaged; given " + std::to_string(chosen) + ", the free " + what + " its " +
                      std::to_string(rows.size()) + " rows agree with");
    table.max_columns = std::max<uint16_t>(table.max_columns, uint16_t(column.number + 1));
    if (column.is_variable()) table.var_columns = std::max<uint16_t>(table.var_columns, uint16_t(column.var_index + 1));
    table.columns.push_back(std::move(column));
  }
  columns->misplaced.clear();
  std::sort(table.columns.begin(), table.columns.end(),
            [](const ColumnDef& a, const ColumnDef& b) { return a.def_offset < b.def_offset; });
  return Status::Ok();
}

Status MendFixedOffsetByRows(PageFile& file, const TableDef& table, std::vector<TableDefMend>* mends) {
  const Format& format = file.format();
  // The table's own map, where it reads: scanning every page of a large file for
  // each table would cost more than the repair. A table's first rows are enough to
  // clear every column, as they are for almost every table; the rest are read only
  // for a column they leave in doubt.
  const TableDef& scanned = table;
  constexpr size_t kRowsFirstLooked = 64;
  std::vector<std::vector<uint8_t>> rows = RowsOfTable(file, scanned, kRowsFirstLooked);
  const auto fits_no_row = [&](const ColumnDef& c) {
    if (!c.in_fixed_area()) return false;
    size_t inside = 0, outside = 0;
    CountFixedAreaFits(format, scanned, c, rows, &inside, &outside);
    return inside == 0 && outside > 0;
  };
  const ColumnDef* doubtful = nullptr;
  for (const ColumnDef& column : table.columns) {
    if (!fits_no_row(column)) continue;
    if (doubtful != nullptr) return Status::Ok();  // two: not one field to blame
    doubtful = &column;
  }
  if (doubtful == nullptr) return Status::Ok();
  if (rows.size() >= kRowsFirstLooked) {
    rows = RowsOfTable(file, scanned, kRowsLooked);
    if (!fits_no_row(*doubtful)) return Status::Ok();
  }
  TableDef placed_in = table;
  std::vector<std::string> placed;
  if (Status s = PlaceFixedColumnsByRows(format, scanned, rows, &placed_in, &placed, nullptr, doubtful); !s.ok()) return s;
  const ColumnDef& moved = placed_in.columns[size_t(doubtful - table.columns.data())];
  if (placed.empty() || moved.fixed_offset == doubtful->fixed_offset) return Status::Ok();
  mends->push_back({doubtful->def_offset + ColumnFixedOffsetOffset(format), 2, moved.fixed_offset,
                    placed.front() + " (none of its " + std::to_string(rows.size()) + " rows holds it where it was)"});
  return Status::Ok();
}

}  // namespace jet
