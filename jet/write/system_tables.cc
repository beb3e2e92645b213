// System tables: the definitions and catalog rows of a new database.
#include "jet/write/system_tables.h"

namespace jet {
namespace {

ColumnDesign Col(const char* name, ColumnType type, uint8_t extra_flags = 0) {
  ColumnDesign c;
  c.name = name;
  c.type = type;
  c.extra_flags = extra_flags;
  return c;
}

IndexColumn Asc(uint16_t number) { return IndexColumn{number, true}; }

LogicalIndexDesign Logical(const char* name, uint32_t real, uint8_t type) {
  LogicalIndexDesign l;
  l.name = name;
  l.real_index = real;
  l.index_type = type;
  return l;
}

// SID bytes of the owners' group, as short opaque strings like Jet's own.
const std::vector<uint8_t> kOwnerSid = {0x02, 0x03};
const std::vector<uint8_t> kAdminsSid = {0x03, 0x01};
constexpr int32_t kFullAccess = 1048575;
constexpr uint8_t kOwnerFlag = 0x20;  // seen on MSysObjects.Owner and MSysACEs.SID

}  // namespace

std::vector<SystemTable> SystemTables(Version version) {
  using T = ColumnType;
  std::vector<SystemTable> tables(4);

  SystemTable& objects = tables[0];
  objects.name = "MSysObjects";
  objects.page = 2;
  objects.design.system = true;
  objects.design.columns = {
      Col("Id", T::kLong),          Col("ParentId", T::kLong),   Col("Name", T::kText),
      Col("Type", T::kInteger),     Col("DateCreate", T::kDateTime),
      Col("DateUpdate", T::kDateTime), Col("Owner", T::kBinary, kOwnerFlag),
      Col("Flags", T::kLong),       Col("Database", T::kMemo),   Col("Connect", T::kMemo),
      Col("ForeignName", T::kText), Col("RmtInfoShort", T::kBinary), Col("RmtInfoLong", T::kOle),
      Col("Lv", T::kOle),           Col("LvProp", T::kOle),      Col("LvModule", T::kOle),
      Col("LvExtra", T::kOle)};
  objects.design.real_indexes = {{{Asc(1), Asc(2)}, kIndexUnique}, {{Asc(0)}, kIndexUnique}};
  objects.design.logical_indexes = {Logical("ParentIdName", 0, 0),
                                    Logical("Id", 1, kLogicalIndexPrimaryKey)};

  SystemTable& aces = tables[1];
  aces.name = "MSysACEs";
  aces.page = 3;
  aces.design.system = true;
  aces.design.columns = {Col("ObjectId", T::kLong), Col("SID", T::kBinary, kOwnerFlag),
                         Col("ACM", T::kLong), Col("FInheritable", T::kBoolean)};
  aces.design.real_indexes = {{{Asc(0)}, kIndexRequired}};
  aces.design.logical_indexes = {Logical("ObjectId", 0, 0)};

  SystemTable& queries = tables[2];
  queries.name = "MSysQueries";
  queries.page = 4;
  queries.design.system = true;
  queries.design.columns = {Col("ObjectId", T::kLong), Col("Attribute", T::kByte),
                            Col("Order", T::kBinary),  Col("Name1", T::kText),
                            Col("Name2", T::kText),    Col("Expression", T::kMemo),
                            Col("Flag", T::kInteger)};
  if (!IsJet3(version)) queries.design.columns.push_back(Col("LvExtra", T::kLong));
  queries.design.real_indexes = {{{Asc(0), Asc(1), Asc(2)}, kIndexUnique}};
  queries.design.logical_indexes = {Logical("ObjectIdAttribute", 0, kLogicalIndexPrimaryKey)};

  SystemTable& relationships = tables[3];
  relationships.name = "MSysRelationships";
  relationships.page = 5;
  relationships.design.system = true;
  relationships.design.columns = {
      Col("szRelationship", T::kText), Col("grbit", T::kLong),   Col("ccolumn", T::kLong),
      Col("icolumn", T::kLong),        Col("szObject", T::kText), Col("szColumn", T::kText),
      Col("szReferencedObject", T::kText), Col("szReferencedColumn", T::kText)};
  relationships.design.real_indexes = {{{Asc(0)}, kIndexIgnoreNulls},
                                       {{Asc(4)}, kIndexIgnoreNulls},
                                       {{Asc(6)}, kIndexIgnoreNulls}};
  relationships.design.logical_indexes = {Logical("szRelationship", 0, 0),
                                          Logical("szObject", 1, 0),
                                          Logical("szReferencedObject", 2, 0)};
  return tables;
}

std::vector<Value> CatalogRow(int32_t id, int32_t parent_id, const std::string& name,
                              int16_t type, uint32_t flags, double date) {
  std::vector<Value> row(17);
  row[0] = Value::Long(id);
  row[1] = Value::Long(parent_id);
  row[2] = Value::Text(name);
  row[3] = Value::Integer(type);
  row[4] = Value::DateTime(date);
  row[5] = Value::DateTime(date);
  row[6] = Value::Binary(flags == kSystemObjectFlags ? kOwnerSid : kAdminsSid);
  row[7] = Value::Long(int32_t(flags));
  return row;
}

std::vector<Value> AceRow(int32_t object_id, bool inheritable) {
  return {Value::Long(object_id), Value::Binary(kAdminsSid), Value::Long(kFullAccess),
          Value::Boolean(inheritable)};
}

std::vector<Value> RelationshipRow(const std::string& name, int32_t grbit, int32_t column_count,
                                   int32_t column, const std::string& from_table,
                                   const std::string& from_column, const std::string& to_table,
                                   const std::string& to_column) {
  return {Value::Text(name),       Value::Long(grbit),        Value::Long(column_count),
          Value::Long(column),     Value::Text(from_table),   Value::Text(from_column),
          Value::Text(to_table),   Value::Text(to_column)};
}

}  // namespace jet
