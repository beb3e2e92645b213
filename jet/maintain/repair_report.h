// RepairReport: what a repair rebuilt and what it lost, table by table. The salvage
// fills it in as it mends the copy; RepairDatabaseWithReport adds what the check found
// and whether the file was replaced; Lines() is the text `jetdb repair` prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

struct RepairTableReport {
  std::string name;
  uint64_t rows_kept = 0;
  uint64_t rows_lost = 0;       // undecodable rows, rows on pages that are not pages
  uint64_t values_cut = 0;      // long values cut at a break or set to null
  std::vector<std::string> notes;  // per-table details (which rows, which values)
};

struct RepairReport {
  bool was_damaged = false;          // the check found damage
  bool commit_state_cleared = false;
  bool rewritten = false;            // a salvaged copy replaced the file
  size_t damage_found = 0;           // damage findings of the check before the repair
  std::vector<std::string> rebuilt;  // "index X of table Y rebuilt from its rows", ...
  std::vector<RepairTableReport> tables;
  std::vector<std::string> lost;     // tables or objects that could not be carried over

  uint64_t RowsLost() const;
  uint64_t ValuesCut() const;
  // The report as lines of English, for `jetdb repair` and logs.
  std::vector<std::string> Lines() const;
};

}  // namespace jet
