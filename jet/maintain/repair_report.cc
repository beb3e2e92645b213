// RepairReport: totals and the report as text.
#include "jet/maintain/repair_report.h"

namespace jet {

const char* LossReasonName(LossReason reason) {
  switch (reason) {
    case LossReason::kUndecodable: return "undecodable";
    case LossReason::kInvalid: return "invalid";
    case LossReason::kPageLost: return "page-lost";
    case LossReason::kCount: break;
  }
  return "?";
}

void RepairTableReport::Lose(LossReason reason, uint64_t rows) {
  lost_by_reason[static_cast<size_t>(reason)] += rows;
  rows_lost += rows;
}

void RepairTableReport::Regain(LossReason reason) {
  uint64_t& count = lost_by_reason[static_cast<size_t>(reason)];
  if (count == 0) return;
  --count;
  --rows_lost;
}

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

uint64_t RepairReport::ColumnsDropped() const {
  uint64_t n = 0;
  for (const RepairTableReport& t : tables) n += t.columns_dropped.size();
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
  for (const std::string& a : assumptions) lines.push_back("assumed: " + a);
  for (const std::string& r : rebuilt) lines.push_back("rebuilt: " + r);
  for (const std::string& l : lost) lines.push_back("lost: " + l);
  for (const RepairTableReport& t : tables) {
    if (t.rows_lost == 0 && t.values_cut == 0 && t.losses.empty() && t.notes.empty() && t.recovered_from.empty() &&
        t.columns_dropped.empty())
      continue;
    std::string line = "table \"" + t.name + "\": " + std::to_string(t.rows_kept) + " rows kept, " +
                       std::to_string(t.rows_lost) + " rows lost";
    std::string reasons;
    for (size_t r = 0; r < kLossReasonCount; ++r)
      if (t.lost_by_reason[r] != 0)
        reasons += (reasons.empty() ? "" : ", ") + std::to_string(t.lost_by_reason[r]) + " " +
                   LossReasonName(static_cast<LossReason>(r));
    if (!reasons.empty()) line += " (" + reasons + ")";
    lines.push_back(line + ", " + std::to_string(t.values_cut) + " long values cut");
    if (!t.recovered_from.empty()) lines.push_back("  recovered from " + t.recovered_from);
    for (const std::string& c : t.columns_dropped) lines.push_back("  column dropped: " + c);
    for (const std::string& k : t.lost_keys) lines.push_back("  lost row with key " + k);
    for (const std::string& l : t.losses) lines.push_back("  " + l);
    for (const std::string& n : t.notes) lines.push_back("  " + n);
  }
  std::string all = "in all: " + std::to_string(RowsLost()) + " rows lost, " + std::to_string(ValuesCut()) +
                    " long values cut, " + std::to_string(lost.size()) + " objects lost";
  if (ColumnsDropped() != 0) all += ", " + std::to_string(ColumnsDropped()) + " columns dropped";
  lines.push_back(all);
  return lines;
}

}  // namespace jet
