// Option parsing, error output, opening databases and terminal progress for jetdb.
#include "tools/jetdb/cli.h"

#include <unistd.h>

#include <cerrno>

namespace jetdb {

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
               ParsedArgs* parsed, std::string* error) {
  bool options_done = false;
  for (size_t n = 0; n < args.size(); ++n) {
    const std::string& arg = args[n];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed->help = true;
      continue;
    }
    if (arg.compare(0, 2, "--") != 0) {
      *error = "unknown option '" + arg + "'";
      return false;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool has_inline_value = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      has_inline_value = true;
    }
    const OptionSpec* option = nullptr;
    for (const OptionSpec& s : specs)
      if (s.name == name) option = &s;
    if (option == nullptr) {
      *error = "unknown option '--" + name + "'";
      return false;
    }
    if (option->takes_value && !has_inline_value) {
      if (n + 1 >= args.size()) {
        *error = "option '--" + name + "' needs a value";
        return false;
      }
      value = args[++n];
    } else if (!option->takes_value && has_inline_value) {
      *error = "option '--" + name + "' takes no value";
      return false;
    }
    parsed->options[name] = value;
  }
  return true;
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "jetdb: %s\n", message.c_str());
  if (command.empty())
    std::fprintf(stderr, "Try 'jetdb --help'.\n");
  else
    std::fprintf(stderr, "Try 'jetdb %s --help'.\n", command.c_str());
  return kExitUsage;
}

int DatabaseError(const jet::Status& status) {
  std::fflush(stdout);
  std::fprintf(stderr, "jetdb: %s\n", status.ToString().c_str());
  return kExitDatabaseError;
}

jet::Status OpenDatabase(const std::string& path, std::unique_ptr<jet::Database>* db) {
  jet::Status status = jet::Database::Open(path, db);
  if (!status.ok() && status.detail().find(path) == std::string::npos) {
    // Name the file, so the message stands on its own in a script's log.
    status = jet::Status::Error(status.kind(), path + ": " + status.detail());
  }
  return status;
}

jet::Status FinishOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    return jet::Status::FromErrno(errno != 0 ? errno : EIO, "writing standard output");
  return jet::Status::Ok();
}

namespace {
// An operation shorter than this shows no progress at all, so quick commands never
// flicker a line on the terminal.
constexpr auto kProgressDelay = std::chrono::milliseconds(400);
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(std::string what, std::string unit, uint64_t total)
    : what_(std::move(what)),
      unit_(std::move(unit)),
      total_(total),
      enabled_(isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() {
  if (shown_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Update(uint64_t done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kProgressDelay) return;
  if (shown_ && now - last_draw_ < kProgressInterval) return;
  last_draw_ = now;
  shown_ = true;
  if (done > total_) done = total_;
  std::fprintf(stderr, "\r%s: %s %llu of %llu", what_.c_str(), unit_.c_str(),
               static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_));
  std::fflush(stderr);
}

}  // namespace jetdb
