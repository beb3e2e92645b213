// Judge: multiset comparisons of rows, per table and per reader.
#include "tools/repair_study/judge.h"

#include <algorithm>

namespace study {
namespace {

using Rows = std::map<std::string, uint64_t>;

uint64_t Count(const Rows& rows) {
  uint64_t n = 0;
  for (const auto& [row, count] : rows) n += count;
  return n;
}

// The rows in both (multiset intersection).
Rows Common(const Rows& a, const Rows& b) {
  Rows out;
  for (const auto& [row, count] : a) {
    auto it = b.find(row);
    if (it != b.end()) out[row] = std::min(count, it->second);
  }
  return out;
}

// The rows of `a` not matched in `b` (multiset difference).
Rows Minus(const Rows& a, const Rows& b) {
  Rows out;
  for (const auto& [row, count] : a) {
    auto it = b.find(row);
    const uint64_t matched = it == b.end() ? 0 : std::min(count, it->second);
    if (count > matched) out[row] = count - matched;
  }
  return out;
}

Rows WithoutLongValues(const Rows& rows) {
  Rows out;
  for (const auto& [row, count] : rows) out[study::WithoutLongValues(row)] += count;
  return out;
}

bool IsSystemName(const std::string& name) { return name.rfind("MSys", 0) == 0; }

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

size_t Index(Reader reader) { return size_t(reader); }

// Our reading of the output against the original: per original table, the rows back
// unchanged, back with only long values different, and the output's rows that match
// no original row. Rows of output tables the original lacks (a table recovered under
// a new name) count for the original table they match.
struct OurComparison {
  struct Table {
    uint64_t original = 0, kept = 0, long_values_differ = 0, changed = 0, invented = 0;
    uint64_t without_dropped = 0;  // back but for the columns the report dropped
  };
  std::map<std::string, Table> tables;
  uint64_t invented_elsewhere = 0;  // in output tables the original lacks
  std::string failure;              // our reader fails on a table of the output

  // `changeable`: rows whose stored values flipped bytes hit (they are not invented).
  // `cut`: long values the report cut, per table; a row whose long values differ
  // beyond those had a flipped byte in a memo or OLE value stored in the row itself.
  // `dropped`: columns the report dropped, per table.
  OurComparison(const FileRead& original, const FileRead& output, uint64_t changeable,
                const std::map<std::string, uint64_t>& cut, const std::map<std::string, uint64_t>& dropped) {
    std::map<std::string, Rows> missing, extra;
    for (const auto& [name, read] : original.tables) {
      if (!read.ok) continue;
      Table& t = tables[name];
      t.original = Count(read.rows);
      const TableRead* out = output.ReadTable(name);
      if (out == nullptr) {
        const TableRead* failed = output.Table(name);
        if (failed != nullptr && failure.empty())
          failure = "jetdb cannot read table " + Quoted(name) + " of the output: " + failed->error;
        missing[name] = read.rows;
        continue;
      }
      t.kept = Count(Common(read.rows, out->rows));
      missing[name] = Minus(read.rows, out->rows);
      extra[name] = Minus(out->rows, read.rows);
    }
    for (const auto& [name, out] : output.tables) {
      if (original.Table(name) != nullptr || !out.ok) continue;
      Rows rest = out.rows;
      for (auto& [table, lacking] : missing) {
        const Rows found = Common(lacking, rest);
        tables[table].kept += Count(found);
        lacking = Minus(lacking, found);
        rest = Minus(rest, found);
      }
      invented_elsewhere += Count(rest);
    }
    for (const auto& [name, columns] : dropped)
      if (tables.count(name)) tables[name].without_dropped = MatchWithoutColumns(columns, &missing[name], &extra[name]);
    for (auto& [name, t] : tables) {
      const uint64_t differ = Count(Common(WithoutLongValues(missing[name]), WithoutLongValues(extra[name])));
      auto reported = cut.find(name);
      const uint64_t beyond_cut = differ - std::min(differ, reported == cut.end() ? 0 : reported->second);
      const uint64_t value_flips = std::min(beyond_cut, changeable);
      changeable -= value_flips;
      t.long_values_differ = differ - value_flips;
      t.invented = Count(extra[name]) - differ;
      t.changed = value_flips + std::min(t.invented, changeable);
      t.invented -= t.changed - value_flips;
      changeable -= t.changed - value_flips;
    }
  }

  // The rows of `missing` that are rows of `extra` once the columns the output lacks
  // are taken out of them (no more than the `reported` number dropped: the report
  // names them, not their places); both lose the rows matched, and their number is
  // returned. One or two columns are taken out at the places that match the most
  // rows; more than two (too many places to try), wherever each row's values stand
  // in its original's order.
  static uint64_t MatchWithoutColumns(uint64_t reported, Rows* missing, Rows* extra) {
    if (reported == 0 || missing->empty() || extra->empty()) return 0;
    const size_t width = RowValueCount(missing->begin()->first);
    const size_t output_width = RowValueCount(extra->begin()->first);
    if (output_width >= width || width - output_width > reported) return 0;
    const size_t count = width - output_width;
    if (count > 2) return MatchInOrder(missing, extra);
    const auto without = [&](const std::vector<size_t>& places) {
      Rows out;
      for (const auto& [row, n] : *missing) out[WithoutValues(row, places)] += n;
      return out;
    };
    std::vector<std::vector<size_t>> choices;
    for (size_t a = 0; a < width; ++a) {
      if (count == 1) choices.push_back({a});
      for (size_t b = a + 1; count == 2 && b < width; ++b) choices.push_back({a, b});
    }
    std::vector<size_t> best;
    uint64_t best_matched = 0;
    for (const std::vector<size_t>& places : choices) {
      const uint64_t matched = Count(Common(without(places), *extra));
      if (matched > best_matched) best_matched = matched, best = places;
    }
    if (best_matched == 0) return 0;
    const Rows matched = Common(without(best), *extra);
    Rows budget = matched, taken;
    for (const auto& [row, n] : *missing) {
      uint64_t& left = budget[WithoutValues(row, best)];
      const uint64_t take = std::min(n, left);
      left -= take;
      if (take > 0) taken[row] = take;
    }
    *extra = Minus(*extra, matched);
    *missing = Minus(*missing, taken);
    return best_matched;
  }

  // MatchWithoutColumns for each row of `extra` alone: the first row of `missing` whose
  // values it holds in order (ValuesWithin). Pairs are tried up to a bound, as tables
  // of thousands of rows on both sides would take too long; past it nothing matches.
  static uint64_t MatchInOrder(Rows* missing, Rows* extra) {
    constexpr uint64_t kMaxPairs = 4'000'000;
    if (uint64_t(missing->size()) * extra->size() > kMaxPairs) return 0;
    uint64_t matched = 0;
    for (auto out = extra->begin(); out != extra->end();) {
      for (auto in = missing->begin(); in != missing->end() && out->second > 0;) {
        if (!ValuesWithin(out->first, in->first)) {
          ++in;
          continue;
        }
        const uint64_t take = std::min(out->second, in->second);
        matched += take;
        out->second -= take;
        in->second -= take;
        in = in->second == 0 ? missing->erase(in) : std::next(in);
      }
      out = out->second == 0 ? extra->erase(out) : std::next(out);
    }
    return matched;
  }
};

// How one reader's reading of a file differs from its reading of the original; ""
// when it reads every table the same.
std::string Difference(Reader reader, const FileRead& original, const FileRead& read) {
  for (const auto& [name, table] : original.tables) {
    if (!table.ok) continue;
    const TableRead* now = read.ReadTable(name);
    const std::string who = std::string(ReaderName(reader)) + " ";
    if (now == nullptr) {
      const TableRead* failed = read.Table(name);
      return who + "cannot read table " + Quoted(name) + ": " +
             (failed != nullptr ? failed->error : read.error.empty() ? "no such table" : read.error);
    }
    if (now->rows != table.rows)
      return who + "reads " + std::to_string(Count(Common(table.rows, now->rows))) + " of " +
             std::to_string(table.RowCount()) + " rows of " + Quoted(name) + " unchanged and " +
             std::to_string(Count(Minus(now->rows, table.rows))) + " other rows";
  }
  return "";
}

// Flipped value bytes every reader sees alike: each reads every table with its row
// count, and all read the same number of rows changed.
bool SeenAlikeByAll(const CaseFacts& f) {
  int64_t changed_by_all = -1;
  for (Reader reader : kReaders) {
    const FileRead& original = (*f.original)[Index(reader)];
    const FileRead& damaged = f.damaged[Index(reader)];
    uint64_t changed = 0;
    for (const auto& [name, table] : original.tables) {
      if (!table.ok) continue;
      const TableRead* now = damaged.ReadTable(name);
      if (now == nullptr || now->RowCount() != table.RowCount()) return false;
      changed += Count(Minus(now->rows, table.rows));
    }
    if (changed_by_all >= 0 && uint64_t(changed_by_all) != changed) return false;
    changed_by_all = int64_t(changed);
  }
  return changed_by_all > 0;
}

// Intact rows the other readers get from the damaged copy: the most any one gets,
// and how many that one reads from the original.
std::pair<uint64_t, uint64_t> ReadableIntact(const CaseFacts& f) {
  std::pair<uint64_t, uint64_t> most = {0, 0};
  for (Reader reader : {Reader::kMdbReader, Reader::kMdbtools}) {
    uint64_t intact = 0, all = 0;
    for (const auto& [name, table] : (*f.original)[Index(reader)].tables) {
      if (table.ok) all += table.RowCount();
      const TableRead* damaged = f.damaged[Index(reader)].ReadTable(name);
      if (table.ok && damaged != nullptr) intact += Count(Common(table.rows, damaged->rows));
    }
    if (intact > most.first) most = {intact, all};
  }
  return most;
}

void JudgeWorseThanNoTool(const CaseFacts& f, Verdict* v) {
  for (Reader reader : {Reader::kMdbReader, Reader::kMdbtools}) {
    for (const auto& [name, table] : (*f.original)[Index(reader)].tables) {
      const TableRead* damaged = f.damaged[Index(reader)].ReadTable(name);
      if (!table.ok || damaged == nullptr) continue;
      const TableRead* repaired = f.repaired[Index(reader)].ReadTable(name);
      const Rows intact = Common(table.rows, damaged->rows);
      const uint64_t lacking = Count(repaired == nullptr ? intact : Minus(intact, repaired->rows));
      if (lacking == 0) continue;
      v->worse_than_no_tool = true;
      v->worse_reason = std::string(ReaderName(reader)) + " reads " + std::to_string(lacking) + " intact rows of " +
                        Quoted(name) + " from the damaged copy that it does not read from the repaired file";
      return;
    }
  }
}

// The first sign of a corrupted output, or "".
std::string Corruption(const CaseFacts& f, const OurComparison& ours) {
  for (const auto& [name, t] : ours.tables) {
    if (t.invented > 0)
      return std::to_string(t.invented) + " rows of " + Quoted(name) +
             " in the output are not original rows (garbled or all-NULL)";
    auto cut = f.repair.values_cut.find(name);
    const uint64_t reported = cut == f.repair.values_cut.end() ? 0 : cut->second;
    if (t.long_values_differ > reported)
      return std::to_string(t.long_values_differ) + " rows of " + Quoted(name) +
             " in the output have long values that differ from the original; the report cut " +
             std::to_string(reported);
  }
  if (ours.invented_elsewhere > 0)
    return std::to_string(ours.invented_elsewhere) + " rows in tables the original lacks match no original row";
  if (!ours.failure.empty()) return ours.failure;
  for (Reader reader : {Reader::kMdbReader, Reader::kMdbtools}) {
    for (const auto& [name, table] : (*f.original)[Index(reader)].tables) {
      if (!table.ok || f.repaired[Index(Reader::kOurs)].ReadTable(name) == nullptr) continue;
      const FileRead& output = f.repaired[Index(reader)];
      const TableRead* read = output.ReadTable(name);
      const std::string who = ReaderName(reader);
      if (read == nullptr) {
        const TableRead* failed = output.Table(name);
        return who + " cannot read table " + Quoted(name) + " of the output: " +
               (failed != nullptr ? failed->error : output.error.empty() ? "no such table" : output.error);
      }
      auto it = ours.tables.find(name);
      // Readers differ in how finely they show values (a date to the second or to the
      // millisecond), so a flipped value byte may change a row for one and not another.
      const uint64_t allowed =
          f.rows_value_changed + (it == ours.tables.end() ? 0
                                  : it->second.long_values_differ + it->second.invented + it->second.without_dropped);
      const uint64_t other = Count(Minus(read->rows, table.rows));
      if (other > allowed)
        return who + " reads " + std::to_string(other) + " rows of " + Quoted(name) +
               " in the output that are not original rows";
    }
  }
  if (!f.header_change.empty()) return "page 0 of the output " + f.header_change;
  if (f.check_damage > 0) return "the check of the output finds damage: " + f.check_finding;
  return "";
}

std::string LossText(const OurComparison& ours, uint64_t kept, uint64_t original) {
  std::string text = "kept " + std::to_string(kept) + " of " + std::to_string(original) + " rows unchanged";
  int shown = 0;
  for (const auto& [name, t] : ours.tables) {
    if (t.kept + t.changed == t.original && t.long_values_differ == 0 && t.without_dropped == 0) continue;
    if (shown++ == 2) break;
    text += (shown == 1 ? " (" : ", ") + Quoted(name) + " " + std::to_string(t.kept) + " of " +
            std::to_string(t.original);
    if (t.long_values_differ > 0) text += ", " + std::to_string(t.long_values_differ) + " with long values cut";
    if (t.changed > 0) text += ", " + std::to_string(t.changed) + " changed in stored values";
    if (t.without_dropped > 0) text += ", " + std::to_string(t.without_dropped) + " without the dropped columns";
  }
  return shown > 0 ? text + ")" : text;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kLossless: return "lossless";
    case Outcome::kWithLoss: return "with loss";
    case Outcome::kRefused: return "refused";
    case Outcome::kCorrupted: return "corrupted";
    case Outcome::kSilent: return "silent";
    case Outcome::kInvisible: return "invisible";
    case Outcome::kCrash: return "crash or hang";
  }
  return "?";
}

Verdict Judge(const CaseFacts& f) {
  Verdict v;
  const FileRead& our_original = (*f.original)[Index(Reader::kOurs)];
  for (const auto& [name, table] : our_original.tables)
    if (table.ok) v.original_rows += table.RowCount();
  const auto [readable, readable_of] = ReadableIntact(f);
  v.readable_intact = readable;

  const FileRead& our_output = f.repaired[Index(Reader::kOurs)];
  if (f.repair.died || f.check_died || our_output.died) {
    v.outcome = Outcome::kCrash;
    v.reason = f.repair.died ? "the repair: " + f.repair.death
               : f.check_died ? "the check of the output died"
                              : "our reader on the output: " + our_output.error;
    return v;
  }
  if (!f.repair.ok) {
    v.outcome = Outcome::kRefused;
    v.reason = f.repair.error;
    if (v.readable_intact > 0)
      v.reason += "; another reader reads " + std::to_string(readable) + " of its " + std::to_string(readable_of) +
                  " rows intact";
    return v;
  }

  const OurComparison ours(our_original, our_output, f.rows_value_changed, f.repair.values_cut,
                           f.repair.columns_dropped);
  for (const auto& [name, t] : ours.tables) {
    v.kept_rows += t.kept;
    v.cut_rows += t.long_values_differ;
    v.changed_rows += t.changed;
    v.without_dropped_rows += t.without_dropped;
  }
  if (!f.repair.acted) {
    std::string difference = f.header_change.empty() ? "" : "page 0 " + f.header_change;
    for (Reader reader : kReaders)
      if (difference.empty()) difference = Difference(reader, (*f.original)[Index(reader)], f.repaired[Index(reader)]);
    if (difference.empty()) {
      v.outcome = Outcome::kLossless;
    } else if (f.value_bytes_only && f.header_change.empty() && SeenAlikeByAll(f)) {
      v.outcome = Outcome::kInvisible;
      v.reason = "stored values changed alike for every reader: " + difference;
    } else {
      v.outcome = Outcome::kSilent;
      v.reason = "the check found no damage, but " + difference;
    }
  } else {
    v.reason = Corruption(f, ours);
    if (!v.reason.empty()) {
      v.outcome = Outcome::kCorrupted;
    } else if (v.kept_rows + v.changed_rows == v.original_rows && !f.password_lost) {
      v.outcome = Outcome::kLossless;
      if (v.changed_rows > 0)
        v.reason = std::to_string(v.changed_rows) + " rows changed in stored values, as every reader reads them";
    } else {
      v.outcome = Outcome::kWithLoss;
      v.reason = LossText(ours, v.kept_rows, v.original_rows);
      if (f.password_lost) v.reason += "; the database password is lost, as reported";
    }
  }
  if (v.outcome == Outcome::kInvisible) return v;

  JudgeWorseThanNoTool(f, &v);
  // Corrupted rows count as lost: they are not the rows the user had.
  uint64_t cut_reported = 0;
  for (const auto& [name, n] : f.repair.rows_lost)
    if (!IsSystemName(name)) v.reported_lost += n;
  for (const auto& [name, n] : f.repair.values_cut)
    if (!IsSystemName(name)) cut_reported += n;
  const uint64_t cut = v.outcome == Outcome::kCorrupted ? 0 : v.cut_rows;
  // A row back without the columns the report dropped is reported: not lost.
  const uint64_t lost = v.original_rows - v.kept_rows - cut - v.changed_rows - v.without_dropped_rows;
  v.under_reported = v.reported_lost < lost || cut_reported < cut;
  v.lost_rows = lost;
  return v;
}

}  // namespace study
