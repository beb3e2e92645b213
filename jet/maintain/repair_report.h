// RepairReport: what a repair rebuilt, assumed and lost, table by table. The salvage
// fills it in as it mends the copy; RepairDatabaseWithReport adds what the check found
// and whether the file was replaced; Lines() is the text `jetdb repair` prints.
//
// Invariant the repair keeps, and the repair study checks: for every table,
// rows_kept + rows_lost is the number of rows the damaged file held for it, and each
// lost row is counted under exactly one LossReason (rows_lost is their sum).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

// Why a row did not survive the repair.
enum class LossReason {
  kUndecodable,  // its slot, offset or overflow pointer leads nowhere readable
  kInvalid,      // it reads, but fails its table's definition or its index entries
                 // (a torn or garbled row): dropped rather than kept as garbage
  kPageLost,     // its page is gone (zeroed, not a data page); counted from the indexes
  kCount
};
constexpr size_t kLossReasonCount = static_cast<size_t>(LossReason::kCount);
const char* LossReasonName(LossReason reason);  // "undecodable", "invalid", "page-lost"

struct RepairTableReport {
  std::string name;
  std::string recovered_from;   // set when the catalog row was lost: where the table was found
  uint64_t rows_kept = 0;
  uint64_t rows_lost = 0;       // the sum of lost_by_reason; change both through Lose()
  std::array<uint64_t, kLossReasonCount> lost_by_reason{};
  uint64_t values_cut = 0;      // long values cut at a break or set to null
  std::vector<std::string> columns_dropped;  // columns whose definition could not be decoded
  // Key values of lost rows that an index entry still holds, e.g. "ID=17", so that the
  // user can enter those rows again.
  std::vector<std::string> lost_keys;
  // One line for each row the salvage of the rows dropped and each long value it cut or
  // set to null. Apart from `notes` so that a second pass over the same rows can pass
  // on what it lost itself without repeating the first pass's other details.
  std::vector<std::string> losses;
  std::vector<std::string> notes;  // other details: counts from lost pages, mends, indexes

  void Lose(LossReason reason, uint64_t rows = 1);
  // Takes back one row lost for `reason`: the salvage found it after all.
  void Regain(LossReason reason);
  uint64_t RowsFound() const { return rows_kept + rows_lost; }
};

struct RepairReport {
  bool was_damaged = false;          // the check found damage
  bool commit_state_cleared = false;
  bool rewritten = false;            // a salvaged, compacted copy replaced the file
  size_t damage_found = 0;           // damage findings of the check before the repair
  std::vector<std::string> rebuilt;  // "index X of table Y rebuilt from its rows", ...
  // What the repair had to assume because the evidence was gone, e.g. "page 0 rebuilt:
  // code page 1252 assumed (no text in the file shows another)".
  std::vector<std::string> assumptions;
  std::vector<RepairTableReport> tables;
  std::vector<std::string> lost;     // tables or objects that could not be carried over
  // Page 0 was lost, or its password damaged: the repaired file has no password, and
  // the user sets it again (`lost` says so in words).
  bool password_lost = false;

  uint64_t RowsLost() const;
  uint64_t ValuesCut() const;
  uint64_t ColumnsDropped() const;
  // The report as lines of English, for `jetdb repair` and logs.
  std::vector<std::string> Lines() const;
};

}  // namespace jet
