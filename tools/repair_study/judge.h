// Judge: the outcome of one case of the repair study -- one damaged copy of a file,
// repaired -- from what the repair reported and what the three readers (readers.h)
// read from the original, the damaged copy and the repaired file.
//
// Outcomes, the first that applies:
//   crash or hang  the repair, or our reader or check of its output, died or ran out
//                  of time;
//   refused        the repair gave up and left the file as it was;
//   (the repair found no damage and left the file as it was:)
//     lossless     every reader reads every table as in the original, and page 0
//                  says what it said (format, code page, sort order, key, password);
//     invisible    flipped bytes inside stored values only, and every reader reads
//                  the same number of changed rows and nothing else changed: Jet has
//                  no page checksums, so no reader can tell;
//     silent       anything else: the data or page 0 differs and the check said clean;
//   (the repair rewrote the file:)
//     corrupted    a row in the output that is not an original row (garbled,
//                  all-NULL, or with long values changed beyond what the report cut),
//                  a table of the output a reader cannot read, page 0 saying other
//                  than the original's (but for a password the report says went
//                  with page 0), or damage the check finds in the output;
//     lossless     every original row is back unchanged;
//     with loss    otherwise: rows are missing, long values were cut and counted, or
//                  the password is lost with page 0, as reported.
// Flipped bytes inside the stored values of N rows change those rows for every
// reader; up to N rows of the output that are not original rows are counted as
// "changed in stored values", not as corrupted, lost or kept.
// Counted beside the outcome:
//   worse than no tool  mdb-reader or mdbtools reads an intact row of a table from the
//                       damaged copy that it does not read from the repaired file
//                       (per table, as multisets, each reader against itself);
//   under-reported      the report's lost rows are fewer than the original rows
//                       minus the rows kept (or its cut values fewer than the rows
//                       kept with cut long values);
//   over-reported       the report's lost rows are more than that (rows it says
//                       were lost that the table never had).
// None of the counts applies to crashes, refusals and invisible cases.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "tools/repair_study/readers.h"

namespace study {

enum class Outcome { kLossless, kWithLoss, kRefused, kCorrupted, kSilent, kInvisible, kCrash };
inline constexpr Outcome kOutcomes[] = {Outcome::kLossless, Outcome::kWithLoss,  Outcome::kRefused,
                                        Outcome::kCorrupted, Outcome::kSilent,   Outcome::kInvisible,
                                        Outcome::kCrash};
// "lossless", "with loss", "refused", "corrupted", "silent", "invisible", "crash or hang".
const char* OutcomeName(Outcome outcome);

struct RepairRun {
  bool died = false;
  std::string death;   // how it died
  bool ok = false;     // the repair succeeded
  std::string error;   // why it refused
  bool acted = false;  // it found damage and rewrote the file
  bool password_lost = false;  // it reported the database password lost
  std::map<std::string, uint64_t> rows_lost;   // per table, as reported
  std::map<std::string, uint64_t> values_cut;  // per table, as reported
  std::map<std::string, uint64_t> columns_dropped;  // per table, as reported
};

// What a reader read of each of the three files, by Reader.
using Reads = std::array<FileRead, std::size(kReaders)>;

struct CaseFacts {
  bool value_bytes_only = false;  // changed bytes (flipped or torn), all inside stored values
  uint64_t rows_value_changed = 0;  // rows whose stored values the changed bytes hit
  RepairRun repair;
  const Reads* original = nullptr;
  Reads damaged;   // mdb-reader and mdbtools always; ours when the repair did not act
  Reads repaired;  // when the repair did not act, the same as `damaged`
  std::string header_change;  // how page 0 of the output differs from the original's; ""
  bool password_lost = false;  // the output lacks the original's password, as the report says
  bool check_died = false;
  size_t check_damage = 0;    // damage findings of the check of the output
  std::string check_finding;  // the first of them
};

struct Verdict {
  Outcome outcome = Outcome::kLossless;
  std::string reason;  // one line; "" for lossless
  uint64_t original_rows = 0;
  uint64_t kept_rows = 0;  // original rows back unchanged
  uint64_t cut_rows = 0;   // original rows back with long values cut, as reported
  uint64_t changed_rows = 0;  // rows changed by flipped or torn bytes in their stored values
  uint64_t without_dropped_rows = 0;  // original rows back but for the columns the report dropped
  uint64_t reported_lost = 0;
  uint64_t lost_rows = 0;  // original rows neither kept, cut, changed nor without dropped columns
  bool worse_than_no_tool = false;
  std::string worse_reason;
  bool under_reported = false;
  bool over_reported() const { return reported_lost > lost_rows; }
  uint64_t readable_intact = 0;  // the most intact rows mdb-reader or mdbtools read from the damaged copy
};

Verdict Judge(const CaseFacts& facts);

}  // namespace study
