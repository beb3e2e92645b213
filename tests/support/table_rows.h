// The rows of a database's user tables as text, for tests that compare a repaired
// file with its original: which rows were kept unchanged, lost, or invented.
#pragma once

#include <map>
#include <set>
#include <string>

namespace testing_support {

// Table name -> its rows, each row its values' text joined by '\x1f'.
using TableRows = std::map<std::string, std::multiset<std::string>>;

// The rows of every user table of the file at `path`; false (and `error`) when the
// file or one of its tables cannot be read.
bool ReadTableRows(const std::string& path, TableRows* rows, std::string* error);

// Rows of `after` that `before` does not hold (per table, as multisets).
size_t RowsNotIn(const TableRows& after, const TableRows& before);
// Rows of `before` that `after` holds unchanged.
size_t RowsKept(const TableRows& before, const TableRows& after);

}  // namespace testing_support
