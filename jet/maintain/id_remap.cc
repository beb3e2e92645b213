// Table-id remapping in rows and index keys of the system tables that hold ids.
#include "jet/maintain/id_remap.h"

#include <algorithm>

#include "jet/base/byte_order.h"
#include "jet/base/text.h"
#include "jet/write/index_key.h"

namespace jet {
namespace {

struct IdColumnName {
  const char* table;
  const char* column;
};

// Every column known to hold MSysObjects ids of local tables.
constexpr IdColumnName kIdColumns[] = {
    {"MSysObjects", "Id"},
    {"MSysACEs", "ObjectId"},
    {"MSysNavPaneObjectIDs", "Id"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
};

}  // namespace

void TableIdMap::Add(uint32_t old_id, uint32_t new_id) {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), std::make_pair(old_id, uint32_t(0)));
  if (it != entries_.end() && it->first == old_id) {
    it->second = new_id;
    return;
  }
  entries_.insert(it, {old_id, new_id});
}

bool TableIdMap::Lookup(uint32_t old_id, uint32_t* new_id) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), std::make_pair(old_id, uint32_t(0)));
  if (it == entries_.end() || it->first != old_id) return false;
  *new_id = it->second;
  return true;
}

int32_t TableIdMap::Map(int32_t value) const {
  uint32_t mapped;
  if (value > 0 && Lookup(uint32_t(value), &mapped)) return int32_t(mapped);
  return value;
}

Status TableIdColumns(const TableDef& table, const std::string& table_name,
                      std::vector<size_t>* positions) {
  positions->clear();
  for (const IdColumnName& known : kIdColumns) {
    if (!EqualsIgnoringAsciiCase(table_name, known.table)) continue;
    const int position = table.FindColumnByName(known.column);
    if (position < 0) continue;
    const ColumnDef& column = table.columns[position];
    if (column.type() != ColumnType::kLong)
      return Status::Error(ErrorKind::kUnsupportedFormat,
                           table_name + "." + column.name + " holds table ids but is not a Long Integer");
    positions->push_back(size_t(position));
  }
  return Status::Ok();
}

Status RemapRowIds(const Format& format, const TableDef& table,
                   const std::vector<size_t>& id_columns, const TableIdMap& map,
                   const std::vector<RawColumn>& raw, uint8_t* row, size_t size) {
  for (size_t position : id_columns) {
    if (position >= raw.size()) continue;
    const RawColumn& column = raw[position];
    if (column.is_null) continue;
    if (column.size != 4 || size_t(column.offset) + 4 > size)
      return Status::Error(ErrorKind::kDamaged, "id column \"" + table.columns[position].name +
                                                    "\" does not hold 4 bytes");
    const int32_t value = int32_t(LoadLe32(row + column.offset));
    StoreLe32(row + column.offset, uint32_t(map.Map(value)));
  }
  return Status::Ok();
}

bool IndexHasIdColumn(const TableDef& table, const RealIndex& index,
                      const std::vector<size_t>& id_columns) {
  for (const IndexColumn& key_column : index.columns) {
    const int position = table.FindColumnByNumber(key_column.column_number);
    if (position >= 0 && std::find(id_columns.begin(), id_columns.end(), size_t(position)) != id_columns.end())
      return true;
  }
  return false;
}

Status RemapKeyIds(const TableDef& table, const RealIndex& index,
                   const std::vector<size_t>& id_columns, const TableIdMap& map,
                   std::string* key) {
  size_t at = 0;
  for (const IndexColumn& key_column : index.columns) {
    const int position = table.FindColumnByNumber(key_column.column_number);
    if (position < 0)
      return Status::Error(ErrorKind::kDamaged, "index names column " +
                                                    std::to_string(key_column.column_number) +
                                                    ", which the table does not have");
    const ColumnDef& column = table.columns[position];
    const bool is_id = std::find(id_columns.begin(), id_columns.end(), size_t(position)) != id_columns.end();
    if (at >= key->size()) return Status::Error(ErrorKind::kDamaged, "index key shorter than its columns");
    const uint8_t flag = uint8_t((*key)[at]);
    const bool has_value = flag == kKeyFlagAscending || flag == kKeyFlagDescending ||
                           column.type() == ColumnType::kBoolean;
    if (!has_value) {  // a null item is its flag alone
      ++at;
      continue;
    }
    const size_t width = KeyValueWidth(column.type());
    if (width == 0) {
      // Only a problem when an id item still follows.
      for (const IndexColumn& later : index.columns) {
        const int p = table.FindColumnByNumber(later.column_number);
        if (&later > &key_column && p >= 0 &&
            std::find(id_columns.begin(), id_columns.end(), size_t(p)) != id_columns.end())
          return Status::Error(ErrorKind::kUnsupportedFormat,
                               "an index key has the variable-width column \"" + column.name +
                                   "\" before a table id");
      }
      return Status::Ok();
    }
    if (at + 1 + width > key->size())
      return Status::Error(ErrorKind::kDamaged, "index key shorter than its columns");
    if (is_id) {
      uint8_t* bytes = reinterpret_cast<uint8_t*>(key->data()) + at + 1;
      const bool descending = flag == kKeyFlagDescending;
      uint32_t stored = LoadBe32(bytes);
      if (descending) stored = ~stored;
      const int32_t value = int32_t(stored ^ 0x80000000u);
      uint32_t encoded = uint32_t(map.Map(value)) ^ 0x80000000u;
      if (descending) encoded = ~encoded;
      for (int i = 0; i < 4; ++i) bytes[i] = uint8_t(encoded >> (24 - 8 * i));
    }
    at += 1 + width;
  }
  return Status::Ok();
}

}  // namespace jet
