// Readers: what an Access reader gets out of a file, table by table: ours (the
// engine's reader, in a child process), mdb-reader (Node.js, tests/oracles) and
// mdbtools (mdb-export). Each runs with a time limit; a reader that crashes, hangs or
// throws on a table reads nothing of that table.
//
// A row is the reader's own text of it, so rows compare only with rows the same
// reader gave: a row of a damaged or repaired file is intact when the same reader
// gives the same text for a row of the original file.
//
// All three answer in one format, a line per row and a closing line per table:
//   <table name as a JSON string> TAB <row text>
//   <table name as a JSON string> TAB #<row count>     the table was read whole
//   <table name as a JSON string> TAB !<error>         the reader failed on it
// and a file that cannot be opened at all as one line "x<error>".
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/repair_study/child_process.h"

namespace study {

struct TableRead {
  bool ok = false;  // the reader read the whole table
  std::string error;
  std::map<std::string, uint64_t> rows;  // row text -> how often it occurs

  uint64_t RowCount() const;
};

struct FileRead {
  bool died = false;  // the reader crashed or hung (the tables it finished count)
  std::string error;  // why the file or the reader failed; "" when neither did
  std::map<std::string, TableRead> tables;

  // nullptr when the reader gave nothing for that table.
  const TableRead* Table(const std::string& name) const;
  // The table when the reader read it whole, else nullptr.
  const TableRead* ReadTable(const std::string& name) const;
};

// Parses the answer format above.
void ParseDump(const std::string& text, FileRead* read);

enum class Reader { kOurs, kMdbReader, kMdbtools };
inline constexpr Reader kReaders[] = {Reader::kOurs, Reader::kMdbReader, Reader::kMdbtools};
// "jetdb", "mdb-reader", "mdbtools".
const char* ReaderName(Reader reader);

// Our row text is "[other columns]" US "[memo and OLE columns]" (JSON arrays, US the
// unit separator), so that a row whose long values alone differ -- cut by a repair --
// can be told from a garbled one. The part before the separator:
std::string WithoutLongValues(const std::string& our_row);
// How many values our row text holds, in both arrays.
size_t RowValueCount(const std::string& our_row);
// Our row text without the values at `positions` (ascending, counted through both
// arrays, the other columns first): the row as it reads once those columns are gone.
std::string WithoutValues(const std::string& our_row, const std::vector<size_t>& positions);
// Whether `our_row` is `original_row` with some values taken out of either array, the
// others in their order.
bool ValuesWithin(const std::string& our_row, const std::string& original_row);

// The three readers, with one long-lived Node.js process for mdb-reader.
class Readers {
 public:
  // `oracle_dir` holds tests/oracles (dump-mdb-reader.mjs and its node_modules).
  Readers(const std::string& oracle_dir, double seconds);

  // Reads every user table of `path`. mdbtools exports the tables named in `tables`
  // (those of the original file: a damaged catalog may no longer list them).
  FileRead Read(Reader reader, const std::string& path, const std::vector<std::string>& tables);

  // The user tables mdb-tables lists in `path`.
  std::vector<std::string> MdbtoolsTables(const std::string& path);

 private:
  FileRead ReadOurs(const std::string& path);
  FileRead ReadMdbReader(const std::string& path);
  FileRead ReadMdbtools(const std::string& path, const std::vector<std::string>& tables);

  const double seconds_;
  LineServer node_;
};

// "" when mdb-reader (node and `oracle_dir`/node_modules) and mdbtools can be run,
// else what is missing.
std::string MissingReaders(const std::string& oracle_dir);

}  // namespace study
