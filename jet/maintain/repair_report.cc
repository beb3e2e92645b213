// RepairReport: totals and the report as text.
#include "jet/maintain/repair_report.h"

namespace jet {

uint64_t RepairReport::RowsLost() const {
  uint64_t n = 0;
  for (const RepairTableReport& t : tables) n += t.rows_lost;
  return n;
}

uint64_t RepairReport::ValuesCut() const {
  uint64_t n = 0;
  for (const RepairTableReport& t : tables) n += t.values_cut;
  return n;
}

std::vector<std::string> RepairReport::Lines() const {
  std::vector<std::string> lines;
  if (!was_damaged) {
    lines.push_back(commit_state_cleared ? "no damage found; the \"needs repair\" state was cleared"
                                         : "no damage found; the file was not changed");
    return lines;
  }
  lines.push_back(std::to_string(damage_found) + " damage findings; " +
                  (rewritten ? "the file was rebuilt" : "the file was not changed"));
  for (const std::string& r : rebuilt) lines.push_back("rebuilt: " + r);
  for (const std::string& l : lost) lines.push_back("lost: " + l);
  for (const RepairTableReport& t : tables) {
    if (t.rows_lost == 0 && t.values_cut == 0 && t.notes.empty()) continue;
    lines.push_back("table \"" + t.name + "\": " + std::to_string(t.rows_kept) + " rows kept, " +
                    std::to_string(t.rows_lost) + " rows lost, " + std::to_string(t.values_cut) +
                    " long values cut");
    for (const std::string& n : t.notes) lines.push_back("  " + n);
  }
  lines.push_back("in all: " + std::to_string(RowsLost()) + " rows lost, " + std::to_string(ValuesCut()) +
                  " long values cut, " + std::to_string(lost.size()) + " objects lost");
  return lines;
}

}  // namespace jet
