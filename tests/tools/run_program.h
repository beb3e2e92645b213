// Running a program from a test and capturing what it writes, and reading CSV.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tools_test {

struct ProgramResult {
  int exit_code = -1;  // -1 when the program could not be started or was killed
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH when it has no slash) with the arguments, standard
// input from /dev/null, and collects standard output and error.
ProgramResult RunProgram(const std::vector<std::string>& argv);

// True when `name` is an executable on PATH.
bool OnPath(const std::string& name);

// The path of the jetdb program built beside the tests.
std::string JetdbPath();

// One CSV field; std::nullopt for an empty unquoted field (a null), so that it differs
// from a quoted empty text.
using CsvRow = std::vector<std::optional<std::string>>;

// Parses RFC 4180 CSV (quotes doubled inside quoted fields, LF or CRLF line ends,
// line breaks allowed in quoted fields). False on a quote in the wrong place or an
// unterminated quoted field.
bool ParseCsv(const std::string& text, std::vector<CsvRow>* rows);

}  // namespace tools_test
