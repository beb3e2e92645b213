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

#include "jet/base/status.h"
#include "jet/read/database.h"

namespace jetdb {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDamage = 1;  // damage found (check), or met while reading
inline constexpr int kExitUsage = 2;   // the command line itself is wrong
inline constexpr int kExitFile = 3;    // a file cannot be read or written

// The exit code for a failure of this kind: kExitDamage for damage, else kExitFile.
int ExitCodeFor(const jet::Status& status);

// An option a command accepts: "--name" or "-c" alone, or with a value
// ("--name VALUE", "--name=VALUE", "-c VALUE", "-cVALUE").
struct OptionSpec {
  std::string name;     // long name, without the leading "--"
  char short_name = 0;  // 0 when there is only the long form
  bool takes_value = false;
};

// The options every command that reads a database accepts, and the one every command
// with progress accepts.
inline const OptionSpec kCodePageOption{"codepage", 'c', true};
inline const OptionSpec kQuietOption{"quiet", 'q', false};

// A command's name, help text, options and how many positional arguments it takes.
struct CommandSpec {
  std::string name;
  const char* help;
  std::vector<OptionSpec> options;  // -h/--help is always accepted
  size_t min_arguments;
  size_t max_arguments;
  const char* arguments;  // as the usage error names them: "a FILE", "FILE and TABLE"
};

struct ParsedArgs {
  bool help = false;                          // -h or --help was given
  std::map<std::string, std::string> options; // by long name ("" for flags)
  std::vector<std::string> positional;

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& otherwise) const {
    auto it = options.find(name);
    return it == options.end() ? otherwise : it->second;
  }
};

// Parses `args` against `known_options` with getopt_long; on a usage error fills *error and
// returns false. Options may follow the arguments; "--" ends the options, so a table
// called "-x" can still be named.
bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& known_options,
               ParsedArgs* parsed, std::string* error);

// ParseArgs for `command`, then --help (printed, kExitOk) and the argument count
// (a usage error). Returns -1 when the command should carry on, else its exit code.
int ParseCommandLine(const CommandSpec& command, const std::vector<std::string>& args,
                     ParsedArgs* parsed);

// Prints "jetdb: <message>" and a pointer to the command's help; returns kExitUsage.
int UsageError(const std::string& command, const std::string& message);
// Prints "jetdb: <kind>: <detail>" (temporary file names replaced by the names they
// stand for); returns ExitCodeFor(status). Damage is "damaged", or "damaged beyond
// repair" when the repair itself met it (`after_repair`).
int ReportError(const jet::Status& status, bool after_repair = false);

// The code page given with --codepage: 0 when none was given; false (and a usage
// error in *error) when it is not a number or not a code page this system converts.
bool ParseCodePage(const ParsedArgs& parsed, uint16_t* code_page, std::string* error);

// Opens `path` read-only; `code_page`, when not 0, is the code page Jet 3 text is
// read in instead of the one the file names.
jet::Status OpenDatabase(const std::string& path, uint16_t code_page,
                         std::unique_ptr<jet::Database>* db);

// Writes to standard output through stdio and reports a failed write (a full disk, a
// closed pipe) once at the end as an I/O error, rather than losing output silently.
jet::Status FinishOutput();

// One progress line: "what [=====>     ]  45%  1.2k rows/s  0:12 left", at most
// `columns` - 1 characters wide. `seconds` is the time since the work began.
std::string ProgressLine(const std::string& what, const std::string& unit, uint64_t done,
                         uint64_t total, double seconds, int columns);

// Progress of one operation on standard error, drawn only when standard error is a
// terminal, `quiet` is false and the operation has taken longer than a moment; the
// line is cleared when the object goes away.
class Progress {
 public:
  Progress(std::string what, std::string unit, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(uint64_t done, uint64_t total);

 private:
  const std::string what_;
  const std::string unit_;
  const bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace jetdb
