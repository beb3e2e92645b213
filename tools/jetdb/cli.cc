// Option parsing, error output, opening databases and terminal progress for jetdb.
#include "tools/jetdb/cli.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "jet/base/stale_temporary.h"
#include "jet/base/text.h"
#include "tools/jetdb/terminal.h"

namespace jetdb {

int ExitCodeFor(const jet::Status& status) {
  if (status.ok()) return kExitOk;
  return status.kind() == jet::ErrorKind::kDamaged ? kExitDamage : kExitFile;
}

bool ParseArgs(const std::vector<std::string>& args, const std::vector<OptionSpec>& known_options,
               ParsedArgs* parsed, std::string* error) {
  std::vector<OptionSpec> all = known_options;
  all.push_back({"help", 'h', false});
  // Long-only options return 256 + their position; short ones their letter.
  constexpr int kLongBase = 256;
  std::string short_options = ":";  // ':' first: report a missing value as ':'
  std::vector<option> long_options;
  for (size_t n = 0; n < all.size(); ++n) {
    const OptionSpec& o = all[n];
    if (o.short_name != 0) {
      short_options += o.short_name;
      if (o.takes_value) short_options += ':';
    }
    long_options.push_back({o.name.c_str(), o.takes_value ? required_argument : no_argument,
                            nullptr, o.short_name != 0 ? o.short_name : int(kLongBase + n)});
  }
  long_options.push_back({nullptr, 0, nullptr, 0});
  const auto find = [&](int value) -> const OptionSpec* {
    for (size_t n = 0; n < all.size(); ++n)
      if ((all[n].short_name != 0 && value == all[n].short_name) || value == int(kLongBase + n))
        return &all[n];
    return nullptr;
  };

  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.push_back("jetdb");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  opterr = 0;
  optind = 0;  // start afresh: the parser keeps state between calls
  for (;;) {
    const int c = getopt_long(int(storage.size()), argv.data(), short_options.c_str(),
                              long_options.data(), nullptr);
    if (c == -1) break;
    const std::string given = argv[optind - 1];
    if (c == '?' || c == ':') {
      const OptionSpec* known = find(optopt);
      const std::string shown = known == nullptr ? given
                                : given.rfind("--", 0) == 0 ? "--" + known->name
                                                            : std::string("-") + known->short_name;
      if (known == nullptr)
        *error = "unknown option '" + (optopt != 0 && given.rfind("--", 0) != 0
                                            ? std::string("-") + char(optopt)
                                            : given.substr(0, given.find('='))) + "'";
      else if (c == ':')
        *error = "option '" + shown + "' needs a value";
      else
        *error = "option '" + shown + "' takes no value";
      return false;
    }
    const OptionSpec* option = find(c);
    if (option->name == "help")
      parsed->help = true;
    else
      parsed->options[option->name] = option->takes_value && optarg != nullptr ? optarg : "";
  }
  // getopt_long moved the arguments after the options (it permutes argv, not storage).
  for (size_t n = size_t(optind); n < storage.size(); ++n) parsed->positional.push_back(argv[n]);
  return true;
}

int ParseCommandLine(const CommandSpec& command, const std::vector<std::string>& args,
                     ParsedArgs* parsed) {
  std::string error;
  if (!ParseArgs(args, command.options, parsed, &error)) return UsageError(command.name, error);
  if (parsed->help) {
    std::fputs(command.help, stdout);
    return kExitOk;
  }
  if (parsed->positional.size() < command.min_arguments)
    return UsageError(command.name, command.name + " needs " + command.arguments);
  if (parsed->positional.size() > command.max_arguments)
    return UsageError(command.name, "too many arguments for " + command.name);
  return -1;
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "jetdb: %s\n", message.c_str());
  if (command.empty())
    std::fprintf(stderr, "Try 'jetdb --help'.\n");
  else
    std::fprintf(stderr, "Try 'jetdb %s --help'.\n", command.c_str());
  return kExitUsage;
}

int ReportError(const jet::Status& status, bool after_repair) {
  std::fflush(stdout);
  // "damaged beyond repair" is the engine's word for what the repair cannot mend; a
  // reader or the compaction meeting damage does not know that yet.
  const char* kind = status.kind() == jet::ErrorKind::kDamaged && !after_repair ? "damaged"
                                                                                : jet::ErrorKindName(status.kind());
  std::fprintf(stderr, "jetdb: %s: %s\n", kind, jet::WithoutTemporaryNames(status.detail()).c_str());
  return ExitCodeFor(status);
}

bool ParseCodePage(const ParsedArgs& parsed, uint16_t* code_page, std::string* error) {
  *code_page = 0;
  if (!parsed.Has("codepage")) return true;
  const std::string text = parsed.Get("codepage", "");
  // "936", "cp936" and "CP936" all name code page 936.
  const size_t digits = text.size() > 2 && (text[0] == 'c' || text[0] == 'C') &&
                                (text[1] == 'p' || text[1] == 'P')
                            ? 2 : 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text.c_str() + digits, &end, 10);
  if (text.size() == digits || *end != '\0' || errno != 0 || value == 0 || value > 65535 ||
      !jet::IsKnownCodePage(uint16_t(value))) {
    *error = "--codepage takes a Windows code page this system converts (1252, 936, ...), not '" +
             text + "'";
    return false;
  }
  *code_page = uint16_t(value);
  return true;
}

jet::Status OpenDatabase(const std::string& path, uint16_t code_page,
                         std::unique_ptr<jet::Database>* db) {
  jet::OpenOptions options;
  options.text_code_page = code_page;
  jet::Status status = jet::Database::Open(path, options, db);
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

// 0.25 -> "0.25", 2.5 -> "2.5", 1234 -> "1234", 12345 -> "12.3k", 1234567 -> "1.2M".
std::string ShortCount(double value) {
  char buffer[32];
  if (value < 1)
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
  else if (value < 10)
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
  else if (value < 10000)
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  else if (value < 1e6)
    std::snprintf(buffer, sizeof buffer, "%.1fk", value / 1e3);
  else
    std::snprintf(buffer, sizeof buffer, "%.1fM", value / 1e6);
  return buffer;
}

std::string Duration(double seconds) {
  const long total = std::lround(seconds);
  char buffer[32];
  if (total >= 3600)
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  else
    std::snprintf(buffer, sizeof buffer, "%ld:%02ld", total / 60, total % 60);
  return buffer;
}

}  // namespace

std::string ProgressLine(const std::string& what, const std::string& unit, uint64_t done,
                         uint64_t total, double seconds, int columns) {
  if (done > total) done = total;
  const double share = total == 0 ? 1.0 : double(done) / double(total);
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", int(share * 100));
  std::string tail = std::string("  ") + percent;
  if (seconds > 0 && done > 0) {
    const double rate = double(done) / seconds;
    tail += "  " + ShortCount(rate) + " " + unit + "/s";
    tail += "  " + Duration(double(total - done) / rate) + " left";
  }
  // The bar takes what the name and the figures leave, within reason.
  const int room = columns - 1 - int(what.size()) - 4 - int(tail.size());
  const int width = room < 10 ? 0 : room > 40 ? 40 : room;
  std::string line = what;
  if (width > 0) {
    const int filled = int(share * width);
    line += " [" + std::string(size_t(filled), '=') + (filled < width ? ">" : "") +
            std::string(size_t(width - filled - (filled < width ? 1 : 0)), ' ') + "]";
  }
  line += tail;
  if (columns > 1 && line.size() > size_t(columns - 1)) line.resize(size_t(columns - 1));
  return line;
}

Progress::Progress(std::string what, std::string unit, bool quiet)
    : what_(std::move(what)),
      unit_(std::move(unit)),
      enabled_(!quiet && StderrIsTerminal()),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() {
  if (shown_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Update(uint64_t done, uint64_t total) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kProgressDelay) return;
  if (shown_ && now - last_draw_ < kProgressInterval) return;
  last_draw_ = now;
  shown_ = true;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const std::string line = ProgressLine(what_, unit_, done, total, seconds, StderrColumns());
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  std::fflush(stderr);
}

}  // namespace jetdb
