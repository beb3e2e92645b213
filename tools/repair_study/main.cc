// jetdb-study: the repair measured against crash damage (study.h). Prints the outcome
// table; --json the whole result, --list the cases that are not lossless. The --max-*
// options turn it into a test: exit status 1 when a count is over its limit.
// Exit status 77 when it cannot run here (an input file absent, a reader missing), so
// that a test built on it is skipped rather than failed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tools/repair_study/readers.h"
#include "tools/repair_study/study.h"

namespace {

constexpr int kExitCannotRun = 77;

const char kHelp[] =
    "Usage: jetdb-study [OPTION...] [FILE|FOLDER...]\n"
    "Damages copies of each file, one page at a time, repairs each copy, and compares\n"
    "the result with the original and with what mdb-reader and mdbtools read from the\n"
    "damaged copy. Without FILE, the Jet 3, Jet 4 and ACE folders of the test data.\n\n"
    "  --generate SCHEMA   also study a Jet 3 and a Jet 4 file made from SCHEMA\n"
    "  --jetdb PATH        the jetdb program that makes them (default: " JETDB_PATH ")\n"
    "  --oracles DIR       folder of the mdb-reader oracle (default: " ORACLE_DIR ")\n"
    "  --roles R,R...      page roles to damage (default: all; see jetdb-damage --help)\n"
    "  --modes M,M...      zero, torn, flip (default: all three)\n"
    "  --pages N           pages per role, a seeded sample (default 2; 0: every page)\n"
    "  --flip-seeds N      seeds per flipped page (default 3)\n"
    "  --flip-bytes N      bytes flipped (default 8)\n"
    "  --seed N            seed of the page sample (default 1)\n"
    "  --jobs N            cases run at once (default 1)\n"
    "  --timeout S         seconds a repair or a reader may take (default 60)\n"
    "  --json              the whole result as JSON instead of the table\n"
    "  --list              after the table, one line per case that is not lossless\n"
    "  --json-file PATH    also write the JSON result to PATH\n"
    "  --max-crashes N, --max-corrupted N, --max-silent N, --max-refused N,\n"
    "  --max-worse N, --max-under-reported N\n"
    "                      exit 1 when more cases than N have that outcome or count\n";

int Usage(const std::string& message) {
  std::fprintf(stderr, "jetdb-study: %s (--help for usage)\n", message.c_str());
  return 2;
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t comma = text.find(',', begin);
    parts.push_back(text.substr(begin, comma - begin));
    if (comma == std::string::npos) return parts;
    begin = comma + 1;
  }
}

// "a,b,c" as values of an enumeration; false on an unknown name.
template <typename E>
bool ParseList(const std::string& text, bool (*parse)(const std::string&, E*), std::vector<E>* out) {
  out->clear();
  for (const std::string& name : SplitCommas(text)) {
    E value;
    if (!parse(name, &value)) return false;
    out->push_back(value);
  }
  return true;
}

bool ParseCount(const std::string& text, long long* out) {
  char* end = nullptr;
  *out = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && *out >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  study::StudyOptions options;
  options.jetdb = JETDB_PATH;
  options.oracle_dir = ORACLE_DIR;
  options.testdata_dir = TESTDATA_DIR;
  options.roles = damage::AllRoles();
  options.modes = {damage::Mode::kZero, damage::Mode::kTorn, damage::Mode::kFlip};
  bool json = false, list = false;
  std::string json_file;
  std::map<std::string, long long> limits;  // option name -> cases allowed

  const std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--json" || arg == "--list") {
      (arg == "--json" ? json : list) = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      options.inputs.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) return Usage(arg + " needs a value");
    const std::string& value = args[++i];
    long long n = 0;
    const bool number = ParseCount(value, &n);
    if (arg == "--generate") {
      options.schemas.push_back(value);
    } else if (arg == "--jetdb") {
      options.jetdb = value;
    } else if (arg == "--json-file") {
      json_file = value;
    } else if (arg == "--oracles") {
      options.oracle_dir = value;
    } else if (arg == "--roles") {
      if (!ParseList(value, damage::ParseRole, &options.roles)) return Usage("unknown role in '" + value + "'");
    } else if (arg == "--modes") {
      if (!ParseList(value, damage::ParseMode, &options.modes)) return Usage("unknown mode in '" + value + "'");
    } else if (!number) {
      return Usage(arg + " takes a number, not '" + value + "'");
    } else if (arg == "--pages") {
      options.pages_per_role = size_t(n);
    } else if (arg == "--flip-seeds") {
      options.flip_seeds = int(n);
    } else if (arg == "--flip-bytes" && n > 0) {
      options.flip_bytes = int(n);
    } else if (arg == "--seed") {
      options.seed = uint64_t(n);
    } else if (arg == "--jobs" && n > 0) {
      options.jobs = int(n);
    } else if (arg == "--timeout" && n > 0) {
      options.repair_seconds = options.read_seconds = double(n);
    } else if (arg.rfind("--max-", 0) == 0) {
      limits[arg] = n;
    } else {
      return Usage("unknown option '" + arg + "'");
    }
  }

  if (options.inputs.empty()) {
    if (options.testdata_dir.empty() || !std::filesystem::is_directory(options.testdata_dir)) {
      std::fprintf(stderr, "jetdb-study: skipped: the real test databases (../shared/testdata) are not present\n");
      return kExitCannotRun;
    }
    for (const char* folder : {"jet3", "jet4", "ace"}) options.inputs.push_back(options.testdata_dir + "/" + folder);
  }
  for (const std::string& input : options.inputs) {
    if (!std::filesystem::exists(input)) {
      std::fprintf(stderr, "jetdb-study: skipped: %s is not present\n", input.c_str());
      return kExitCannotRun;
    }
  }
  const std::string missing = study::MissingReaders(options.oracle_dir);
  if (!missing.empty()) {
    std::fprintf(stderr, "jetdb-study: skipped: %s\n", missing.c_str());
    return kExitCannotRun;
  }

  study::StudyResult result;
  const jet::Status s = study::RunStudy(options, &result);
  if (!s.ok()) {
    std::fprintf(stderr, "jetdb-study: %s\n", s.ToString().c_str());
    return 1;
  }
  if (!json_file.empty()) {
    std::FILE* out = std::fopen(json_file.c_str(), "w");
    if (out == nullptr || std::fprintf(out, "%s\n", study::ResultJson(result).c_str()) < 0 || std::fclose(out) != 0) {
      std::fprintf(stderr, "jetdb-study: cannot write %s\n", json_file.c_str());
      return 1;
    }
  }
  if (json) {
    std::printf("%s\n", study::ResultJson(result).c_str());
  } else {
    study::PrintTable(result, stdout);
    if (list) {
      std::printf("\n");
      study::PrintList(result, stdout);
    }
  }

  const std::map<std::string, size_t> counts = {
      {"--max-crashes", study::CountOutcome(result, study::Outcome::kCrash)},
      {"--max-corrupted", study::CountOutcome(result, study::Outcome::kCorrupted)},
      {"--max-silent", study::CountOutcome(result, study::Outcome::kSilent)},
      {"--max-refused", study::CountOutcome(result, study::Outcome::kRefused)},
      {"--max-worse", study::CountWorse(result)},
      {"--max-under-reported", study::CountUnderReported(result)},
  };
  int code = 0;
  for (const auto& [option, allowed] : limits) {
    auto it = counts.find(option);
    if (it == counts.end()) return Usage("unknown option '" + option + "'");
    if (it->second > size_t(allowed)) {
      std::fprintf(stderr, "jetdb-study: %zu cases for %s, more than the %lld allowed\n", it->second,
                   option.c_str(), allowed);
      code = 1;
    }
  }
  return code;
}
