// The plumbing every jetdb command shares: exit codes, option parsing, the one error
// format ("jetdb: <kind>: <detail>"), opening a database, and progress on a terminal.
// A command is a function `int Run<Name>(const std::vector<std::string>& args)`
// (commands.h) that returns one of the exit codes below.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/base/status.h"

namespace jetdb {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDatabaseError = 1;  // anything the database or the system refused
inline constexpr int kExitUsage = 2;          // the command line itself is wrong

// An option a command accepts: "--name" alone, or "--name VALUE" / "--name=VALUE".
struct OptionSpec {
  std::string name;  // without the leading "--"
  bool takes_value = false;
};

struct ParsedArgs {
  bool help = false;                          // -h or --help was given
  std::map<std::string, std::string> options; // given options ("" for flags)
  std::vector<std::string> positional;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
};

// Parses `args` against `specs`; on a usage error fills *error and returns false.
// "--" ends the options, so a table called "-x" can still be named.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
               ParsedArgs* parsed, std::string* error);

// Prints "jetdb: <message>" and a pointer to the command's help; returns kExitUsage.
int UsageError(const std::string& command, const std::string& message);
// Prints "jetdb: <kind>: <detail>"; returns kExitDatabaseError.
int DatabaseError(const jet::Status& status);

// Opens `path` read-only.
jet::Status OpenDatabase(const std::string& path, std::unique_ptr<jet::Database>* db);

// Writes to standard output through stdio and reports a failed write (a full disk, a
// closed pipe) once at the end as an I/O error, rather than losing output silently.
jet::Status FinishOutput();

// "<what>: <unit> <done> of <total>" (pages done of all pages, tables counted of all
// tables) on standard error, only when it is a terminal and only once the operation
// has taken longer than a moment; the line is cleared when done.
class Progress {
 public:
  Progress(std::string what, std::string unit, uint64_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(uint64_t done);

 private:
  const std::string what_;
  const std::string unit_;
  const uint64_t total_;
  const bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace jetdb
