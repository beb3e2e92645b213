// Format conversion: the header, definitions and long values of a converted
// compaction result (see format_conversion.h).
#include "jet/maintain/format_conversion.h"

#include <chrono>

#include "jet/base/byte_order.h"
#include "jet/base/text.h"
#include "jet/read/catalog.h"
#include "jet/read/properties.h"
#include "jet/write/system_tables.h"
#include "jet/write/table_design.h"
#include "jet/write/tdef_writer.h"

namespace jet {
namespace {

constexpr uint16_t kChinesePrcLcid = 2052;

bool IsTextual(ColumnType type) { return type == ColumnType::kText || type == ColumnType::kMemo; }

// Today in days since 1899-12-30, the date a Jet 4 header records its creation in.
double Today() {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch()).count();
  return 25569.0 + double(seconds) / 86400.0;
}

// The sort order fields of a Text / Memo column record (offsets J3 / J4: LCID 9 / 11;
// J4 sort version 14), written over what the table design put there.
void SetColumnSortOrder(const Format& format, const SortOrder& sort, TableDef* table) {
  for (ColumnDef& c : table->columns) {
    if (!IsTextual(c.type())) continue;
    c.sort_lcid = sort.lcid;
    uint8_t* record = table->buffer.data() + c.def_offset;
    if (IsJet3(format.version)) {
      StoreLe16(record + 9, sort.lcid);
    } else {
      c.sort_version = sort.version;
      StoreLe16(record + 11, sort.lcid);
      record[14] = sort.version;
    }
  }
}

// Column flags are the source's, but for the fixed bit, which follows the layout.
void SetColumnFlags(const Format& format, const TableDef& source, TableDef* table) {
  for (size_t i = 0; i < source.columns.size(); ++i) {
    ColumnDef& c = table->columns[i];
    c.flags = uint8_t((source.columns[i].flags & ~kColumnFixed) | (c.flags & kColumnFixed));
    table->buffer[c.def_offset + ColumnFlagsOffset(format)] = c.flags;
  }
}

// Binary columns of system tables: 255 bytes in every Jet 3 file, 510 in every Jet 4
// file of the test set (MSysObjects.Owner, RmtInfoShort; MSysACEs.SID).
uint16_t SystemBinarySize(const Format& format) { return IsJet3(format.version) ? 255 : 510; }

// `source` (read from a file in `from`) designed again as a new table of `to`.
Status DesignFrom(const Format& from, const Format& to, const std::string& table_name, const TableDef& source,
                  TableDesign* design) {
  design->system = source.table_type == 'S';
  for (const ColumnDef& c : source.columns) {
    ColumnDesign d;
    d.name = c.name;
    d.type = c.type();
    if (c.type() == ColumnType::kText) d.size = IsJet3(from.version) ? c.length : uint16_t(c.length / 2);
    if (c.type() == ColumnType::kBinary) d.size = design->system ? SystemBinarySize(to) : c.length;
    if ((c.type() == ColumnType::kText || c.type() == ColumnType::kBinary) && d.size == 0)
      return Status::Error(ErrorKind::kUnsupportedFormat,
                           "table \"" + table_name + "\" column \"" + c.name + "\" has no length");
    d.autonumber = (c.flags & kColumnAutoNumber) != 0;
    d.precision = c.precision;
    d.scale = c.scale;
    design->columns.push_back(d);
  }
  for (const RealIndex& real : source.real_indexes) {
    RealIndexDesign d;
    for (const IndexColumn& column : real.columns) {
      const int position = source.FindColumnByNumber(column.column_number);
      if (position < 0)
        return Status::Error(ErrorKind::kDamaged, "table \"" + table_name + "\": an index names column number " +
                                                      std::to_string(column.column_number) + ", which it lacks");
      d.columns.push_back({uint16_t(position), column.ascending});
    }
    d.flags = uint8_t(real.flags & ~0x80);  // Jet 4's mark is the design's to set
    design->real_indexes.push_back(d);
  }
  for (const LogicalIndex& logical : source.logical_indexes) {
    LogicalIndexDesign d;
    d.name = logical.name;
    d.real_index = logical.real_index;
    d.index_type = logical.index_type;
    d.related_table_type = logical.related_table_type;
    d.related_index = logical.related_index;
    d.related_table = logical.related_table;
    d.cascade_updates = logical.cascade_updates;
    d.cascade_deletes = logical.cascade_deletes;
    design->logical_indexes.push_back(d);
  }
  return Status::Ok();
}

// The columns the target's own system table of that name has and `design` lacks
// (Jet 4's MSysQueries.LvExtra), added at the end: their values are null.
void AddSystemColumns(Version target, const std::string& table_name, TableDesign* design) {
  for (const SystemTable& table : SystemTables(target)) {
    if (!EqualsIgnoringAsciiCase(table.name, table_name)) continue;
    for (const ColumnDesign& column : table.design.columns) {
      bool present = false;
      for (const ColumnDesign& d : design->columns) present = present || EqualsIgnoringAsciiCase(d.name, column.name);
      if (!present) design->columns.push_back(column);
    }
  }
}

// Text for a property value or a Memo in the encoding of `header`'s format.
Status EncodeText(const Header& header, const std::string& utf8, bool compress, std::vector<uint8_t>* bytes) {
  if (IsJet3(header.version)) return EncodeCodePageText(utf8, TextCodePage(header), bytes);
  return EncodeJet4Text(utf8, compress, bytes);
}

Status DecodeText(const Header& header, const std::vector<uint8_t>& bytes, std::string* utf8) {
  if (IsJet3(header.version)) return DecodeCodePageText(bytes.data(), bytes.size(), TextCodePage(header), utf8);
  return DecodeJet4Text(bytes.data(), bytes.size(), utf8);
}

bool IsTextProperty(const Property& property) {
  return property.type_code == uint8_t(ColumnType::kText) || property.type_code == uint8_t(ColumnType::kMemo);
}

}  // namespace

Status SortOrderByName(const std::string& name, Version target, SortOrder* order) {
  const std::string lower = AsciiLower(name);
  const bool jet3 = IsJet3(target);
  if (lower == "general") {
    *order = SortOrder{kGeneralSortLcid, 0};
    return Status::Ok();
  }
  if (lower == "general-legacy" && !jet3) {
    *order = SortOrder{kGeneralSortLcid, 0};
    return Status::Ok();
  }
  if (lower == "chinese-prc" && !jet3) {
    *order = SortOrder{kChinesePrcLcid, 0};
    return Status::Ok();
  }
  return Status::Error(ErrorKind::kInvalidArgument,
                       "sort order \"" + name + "\" is not one a " + VersionName(target) + " file can be given (" +
                           (jet3 ? std::string("general") : std::string(SortOrderNames())) + ")");
}

const char* SortOrderNames() { return "general, general-legacy, chinese-prc"; }

bool IsConversion(const Header& source, const Header& result) {
  // A Jet 3 header may name no sort order: General.
  const auto lcid = [](const Header& h) { return h.sort_lcid == 0 ? kGeneralSortLcid : h.sort_lcid; };
  return source.version != result.version || lcid(source) != lcid(result) ||
         source.sort_version != result.sort_version;
}

Status ConvertHeader(const Header& source, Version target, const SortOrder& sort, Header* result) {
  if (IsAce(source.version) || IsAce(target))
    return Status::Error(ErrorKind::kUnsupportedFormat, "conversion to or from ACE files is not supported");
  if (source.version == target) {
    *result = source;
  } else {
    *result = NewHeader(target, TextCodePage(source), Today());
    result->db_key = source.db_key;
    if (source.has_password) {
      Status s = SetHeaderPassword(source.password, result);
      if (!s.ok())
        return Status::Error(ErrorKind::kInvalidArgument,
                             std::string("the database password does not fit a ") + VersionName(target) +
                                 " file: " + s.detail());
    }
  }
  result->sort_lcid = sort.lcid;
  result->sort_version = IsJet3(target) ? 0 : sort.version;
  // The raw page must carry the new fields for every later EncodeHeader.
  std::vector<uint8_t> page;
  Status s = EncodeHeader(*result, &page);
  if (!s.ok()) return s;
  result->raw_page = std::move(page);
  return Status::Ok();
}

Status ResultDefinition(const Header& from, const Header& to, const std::string& table_name,
                        const TableDef& source, TableDef* result) {
  const Format& target = to.format();
  if (from.version == to.version) {
    *result = source;
    Status s = PackColumns(target, result);
    if (s.ok() && IsConversion(from, to)) SetColumnSortOrder(target, SortOrder{to.sort_lcid, to.sort_version}, result);
    return s;
  }
  if (IsJet3(to.version)) {
    for (const ColumnDef& c : source.columns)
      if (!Jet3HasType(c.type()))
        return Status::Error(ErrorKind::kUnsupportedFormat,
                             "table \"" + table_name + "\" column \"" + c.name + "\" is of type " +
                                 ColumnTypeName(c.type_code) + ", which a Jet 3 file cannot hold" +
                                 (c.type() == ColumnType::kUnknown11
                                      ? " (Access 2000 and later keep their forms, reports and modules there; "
                                        "Access's own conversion to an earlier version converts them)"
                                      : ""));
      else if (c.type() == ColumnType::kBinary && c.length > 255 && source.table_type != 'S')
        return Status::Error(ErrorKind::kUnsupportedFormat, "table \"" + table_name + "\" column \"" + c.name +
                                                                "\" holds " + std::to_string(c.length) +
                                                                " bytes; a Jet 3 Binary column holds at most 255");
  }
  TableDesign design;
  Status s = DesignFrom(from.format(), target, table_name, source, &design);
  if (s.ok() && design.system) AddSystemColumns(to.version, table_name, &design);
  if (s.ok()) s = BuildTableDef(target, TextCodePage(to), design, result);
  if (!s.ok()) return Status::Error(s.kind(), "table \"" + table_name + "\": " + s.detail());
  SetColumnFlags(target, source, result);
  SetColumnSortOrder(target, SortOrder{to.sort_lcid, to.sort_version}, result);
  result->first_page = source.first_page;
  result->last_autonumber = source.last_autonumber;
  // Every Memo / OLE column keeps its pages in maps of its own in the result (pointers
  // are the compaction's to set; non-zero marks that the map exists).
  for (LongValueMaps& maps : result->long_value_maps) maps.owned_map = maps.free_map = 1;
  return Status::Ok();
}

bool IsPropertyColumn(const TableDef& table, size_t position) {
  return table.first_page == kCatalogTdefPage && position < table.columns.size() &&
         EqualsIgnoringAsciiCase(table.columns[position].name, "LvProp");
}

Status ConvertLongValue(const Header& from, const Header& to, const TableDef& result_def, size_t position,
                        const Value& value, std::vector<uint8_t>* bytes) {
  const ColumnDef& column = result_def.columns[position];
  if (column.type() == ColumnType::kMemo) {
    Status s = EncodeText(to, value.text(), (column.ext_flags & kColumnCompressedUnicode) != 0, bytes);
    if (!s.ok()) return Status::Error(ErrorKind::kInvalidArgument, "column \"" + column.name + "\": " + s.detail());
    return Status::Ok();
  }
  *bytes = value.bytes();
  if (!IsPropertyColumn(result_def, position) || from.version == to.version) return Status::Ok();
  std::vector<PropertyBlock> blocks;
  std::vector<std::string> names;
  Status s = ParseProperties(*bytes, from.version, TextCodePage(from), &blocks, &names);
  for (PropertyBlock& block : blocks) {
    for (Property& property : block.properties) {
      if (!s.ok() || !IsTextProperty(property)) continue;
      std::string text;
      s = DecodeText(from, property.data, &text);
      if (s.ok()) s = EncodeText(to, text, /*compress=*/false, &property.data);
      if (!s.ok()) s = Status::Error(ErrorKind::kInvalidArgument, "property \"" + property.name + "\": " + s.detail());
    }
  }
  if (s.ok()) s = EncodeProperties(blocks, names, to.version, TextCodePage(to), bytes);
  return s;
}

bool SameProperties(const Header& a_header, const std::vector<uint8_t>& a, const Header& b_header,
                    const std::vector<uint8_t>& b, std::string* why) {
  std::vector<PropertyBlock> x, y;
  if (!ParseProperties(a, a_header.version, TextCodePage(a_header), &x).ok() ||
      !ParseProperties(b, b_header.version, TextCodePage(b_header), &y).ok()) {
    *why = "a properties value does not parse";
    return false;
  }
  if (x.size() != y.size()) {
    *why = "the properties have " + std::to_string(x.size()) + " and " + std::to_string(y.size()) + " blocks";
    return false;
  }
  for (size_t i = 0; i < x.size(); ++i) {
    const PropertyBlock& p = x[i];
    const PropertyBlock& q = y[i];
    if (p.object != q.object || p.target != q.target || p.properties.size() != q.properties.size()) {
      *why = "the properties of \"" + p.target + "\" differ";
      return false;
    }
    for (size_t j = 0; j < p.properties.size(); ++j) {
      const Property& u = p.properties[j];
      const Property& v = q.properties[j];
      bool same = u.name == v.name && u.type_code == v.type_code && u.ddl == v.ddl;
      if (same && IsTextProperty(u)) {
        std::string s, t;
        same = DecodeText(a_header, u.data, &s).ok() && DecodeText(b_header, v.data, &t).ok() && s == t;
      } else if (same) {
        same = u.data == v.data;
      }
      if (!same) {
        *why = "property \"" + u.name + "\" of \"" + p.target + "\" differs";
        return false;
      }
    }
  }
  return true;
}

}  // namespace jet
