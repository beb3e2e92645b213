// System tables of a new database: the definitions of the four tables every Jet file
// has (MSysObjects on page 2, MSysACEs 3, MSysQueries 4, MSysRelationships 5) with
// the columns and indexes Jet gives them, and the rows a new file's catalog needs.
//
//   MSysObjects        Id, ParentId, Name, Type, DateCreate, DateUpdate, Owner, Flags,
//                      Database, Connect, ForeignName, RmtInfoShort, RmtInfoLong, Lv,
//                      LvProp, LvModule, LvExtra; indexes ParentIdName (ParentId, Name;
//                      unique) and Id (primary key)
//   MSysACEs           ObjectId, SID, ACM, FInheritable; index ObjectId (required)
//   MSysQueries        ObjectId, Attribute, Order, Name1, Name2, Expression, Flag
//                      (+ LvExtra in Jet 4); primary key ObjectIdAttribute
//   MSysRelationships  szRelationship, grbit, ccolumn, icolumn, szObject, szColumn,
//                      szReferencedObject, szReferencedColumn; indexes (ignore nulls)
//                      szRelationship, szObject, szReferencedObject
//
// Catalog ids: containers Tables 0x0F000001, Databases 0x0F000002, Relationships
// 0x0F000003 (parent 0x0F000000); MSysDb 0x10000000; a local table's id is its TDEF
// page; relationships get synthetic ids counted up from 0x80000000.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/write/table_design.h"
#include "jet/read/value.h"

namespace jet {

inline constexpr int32_t kRootContainerId = 0x0F000000;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kMSysDbId = 0x10000000;
inline constexpr int32_t kFirstSyntheticId = INT32_MIN;  // 0x80000000
inline constexpr uint32_t kSystemObjectFlags = 0x80000000;
inline constexpr int16_t kObjectContainer = 3;
inline constexpr int16_t kObjectDatabase = 2;
inline constexpr int16_t kObjectRelationship = 8;

// MSysRelationships.grbit bits.
inline constexpr int32_t kRelationNotEnforced = 0x2;
inline constexpr int32_t kRelationCascadeUpdates = 0x100;
inline constexpr int32_t kRelationCascadeDeletes = 0x1000;

struct SystemTable {
  std::string name;
  uint32_t page = 0;  // its fixed TDEF page
  TableDesign design;
};

// The four system tables in page order (2, 3, 4, 5).
std::vector<SystemTable> SystemTables(Version version);

// An MSysObjects row, by column position of SystemTables()[0].
std::vector<Value> CatalogRow(int32_t id, int32_t parent_id, const std::string& name,
                              int16_t type, uint32_t flags, double date);
// An MSysACEs row: full rights of the owners' group on `object_id`.
std::vector<Value> AceRow(int32_t object_id, bool inheritable);
// An MSysRelationships row for column pair `column` of `column_count`.
std::vector<Value> RelationshipRow(const std::string& name, int32_t grbit, int32_t column_count,
                                   int32_t column, const std::string& from_table,
                                   const std::string& from_column, const std::string& to_table,
                                   const std::string& to_column);

}  // namespace jet
