// Page roles: what each page of a database file is for, as far as damage to it
// matters. A crash or a bad sector hits pages, not rows, and what it costs depends on
// what the page held: the header, the catalog, a table definition, rows, long values,
// a usage map or an index. The damage study (tools/repair_study) damages one page of
// one role at a time; this file finds the candidate pages of each role in an
// undamaged file with the engine's reader.
//
// Only pages something live depends on are candidates: data pages holding at least
// one live row of a user table, long-value pages a live value of a user table uses,
// index pages reachable from a user table's index roots, the pages hosting the usage
// maps of user tables and the bitmap pages of their reference maps.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace jet {
class Database;
}

namespace damage {

enum class Role {
  kHeader,             // page 0
  kCatalogDefinition,  // page 2, the definition of MSysObjects
  kCatalogData,        // data pages of MSysObjects
  kTableDefinition,    // definition pages (first and continuation) of a user table
  kData,               // data pages of a user table
  kLongValue,          // LVAL pages holding a user table's long values
  kUsageMap,           // pages hosting user tables' map rows, and reference map bitmaps
  kIndexNode,          // index node pages of a user table
  kIndexLeaf,          // index leaf pages of a user table
};

// "header", "catalog-definition", "catalog-data", "table-definition", "data",
// "long-value", "usage-map", "index-node", "index-leaf".
const char* RoleName(Role role);
bool ParseRole(const std::string& name, Role* role);
std::vector<Role> AllRoles();

// A byte range [begin, end) inside one page.
struct Extent {
  uint32_t begin = 0;
  uint32_t end = 0;
  uint32_t row = 0;  // for value bytes: the row pointer (page << 8 | row) they belong to
};

struct PageRoles {
  // Candidate pages of each role, ascending; a role with no candidate is absent.
  std::map<Role, std::vector<uint32_t>> pages;
  // Per data or long-value page: the bytes that hold stored values (column values of
  // live rows, long-value data), as opposed to the structure around them, with the
  // row (table row or long-value row) each belongs to. A change confined to these
  // bytes alters values but leaves every structure valid.
  std::map<uint32_t, std::vector<Extent>> value_bytes;
  // Per long-value page: the bytes of rows no live value of any table (system tables
  // too) reaches, an earlier value's left in place. No reader reads them, so a change
  // there alters nothing anyone sees.
  std::map<uint32_t, std::vector<Extent>> unread_bytes;

  const std::vector<uint32_t>& Candidates(Role role) const;
};

// Learns the roles of the pages of `db` (an undamaged file).
jet::Status LearnPageRoles(jet::Database& db, PageRoles* roles);

}  // namespace damage
