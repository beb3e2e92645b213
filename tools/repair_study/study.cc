// Study: files, cases, worker processes, and the tables printed at the end.
#include "tools/repair_study/study.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "jet/file/page_file.h"
#include "jet/maintain/check.h"
#include "jet/maintain/repair.h"

namespace study {
namespace {

namespace fs = std::filesystem;
using jet::ErrorKind;
using jet::Status;
using nlohmann::json;

// Rows generated into each file made from a schema: a few pages of every kind.
constexpr const char* kGeneratedRows = "120";
constexpr const char* kGeneratedSeed = "1998";

// What page 0 says, field by field, for telling whether a damaged header was
// carried over; the password is compared, never shown.
struct HeaderFields {
  bool read = false;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string password;
};

HeaderFields ReadHeaderFields(const std::string& path) {
  HeaderFields h;
  std::unique_ptr<jet::PageFile> file;
  if (!jet::PageFile::Open(path, &file).ok()) return h;
  const jet::Header& header = file->header();
  h.read = true;
  h.fields = {{"format", jet::VersionName(header.version)},
              {"code page", std::to_string(header.code_page)},
              {"sort order", std::to_string(header.sort_lcid) + "/" + std::to_string(header.sort_version)},
              {"database key", header.is_encoded() ? "set" : "none"},
              {"password", header.has_password ? "set" : "none"}};
  h.password = header.password;
  return h;
}

// "" when page 0 of `path` says what the original's says, else how it differs.
std::string HeaderChange(const HeaderFields& original, const std::string& path) {
  const HeaderFields now = ReadHeaderFields(path);
  if (!original.read || !now.read) return original.read == now.read ? "" : "cannot be read";
  for (size_t i = 0; i < original.fields.size(); ++i)
    if (original.fields[i] != now.fields[i])
      return "says " + original.fields[i].first + " " + now.fields[i].second + " where the original says " +
             original.fields[i].second;
  if (original.password != now.password) return "holds another password";
  return "";
}

// One file under study: where it is, how it is shown, and what the readers read of it.
struct StudyFile {
  std::string path;
  std::string shown;
  HeaderFields header;
  damage::PageRoles roles;
  Reads original;
  std::vector<std::string> mdbtools_tables;
};

struct DamageCase {
  damage::Role role;
  damage::Mode mode;
  uint64_t seed;
  uint32_t page;
};

// A temporary folder removed with everything in it when the study ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/jetdb-study-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsDatabaseName(const fs::path& path) {
  const std::string ext = Lower(path.extension().string());
  return ext == ".mdb" || ext == ".accdb";
}

// The files named by the inputs: files as given, folders' database files by name.
std::vector<std::string> InputFiles(const std::vector<std::string>& inputs) {
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (!fs::is_directory(input, error)) {
      files.push_back(input);
      continue;
    }
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(input, error))
      if (entry.is_regular_file() && IsDatabaseName(entry.path())) found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

std::string Shown(const std::string& path, const std::string& testdata_dir) {
  if (testdata_dir.empty()) return path;
  std::error_code error;
  const fs::path relative = fs::relative(path, testdata_dir, error);
  const std::string text = relative.string();
  return error || text.empty() || text.rfind("..", 0) == 0 ? path : text;
}

// "" when the engine can work on the file, else why it is left out.
std::string WhyLeftOut(const std::string& path) {
  std::unique_ptr<jet::PageFile> file;
  const Status s = jet::PageFile::Open(path, &file);
  if (!s.ok()) return s.ToString();
  if (jet::IsAce(file->format().version))
    return std::string(jet::VersionName(file->format().version)) +
           ": the engine refuses ACE files, so there is no repair to study";
  return "";
}

std::string ShellQuoted(const std::string& text) {
  if (text.find_first_of(" '\"\\$`()&;|<>*?") == std::string::npos) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string DamageCommand(const DamageCase& damage_case, const std::string& file, int flip_bytes) {
  std::string command = std::string("jetdb-damage --role ") + damage::RoleName(damage_case.role) + " --mode " +
                        damage::ModeName(damage_case.mode) + " --page " + std::to_string(damage_case.page);
  if (damage_case.mode == damage::Mode::kFlip) {
    command += " --seed " + std::to_string(damage_case.seed);
    if (flip_bytes != damage::kDefaultFlipBytes) command += " --bytes " + std::to_string(flip_bytes);
  }
  return command + " " + ShellQuoted(file) + " damaged.mdb";
}

std::vector<DamageCase> CasesOf(const StudyFile& file, const StudyOptions& options) {
  std::vector<DamageCase> cases;
  for (damage::Role role : options.roles) {
    const uint64_t seed = options.seed * 1000003u + uint64_t(role);
    for (uint32_t page : damage::SamplePages(file.roles.Candidates(role), options.pages_per_role, seed))
      for (damage::Mode mode : options.modes) {
        const int seeds = mode == damage::Mode::kFlip ? options.flip_seeds : 1;
        for (int s = 1; s <= seeds; ++s) cases.push_back(DamageCase{role, mode, uint64_t(s), page});
      }
  }
  return cases;
}

// --- the repair, in a child process ---------------------------------------------------

int RepairAndReport(const std::string& path) {
  jet::RepairReport report;
  const Status s = jet::RepairDatabaseWithReport(path, &report);
  json out = {{"ok", s.ok()},
              {"error", s.ok() ? "" : s.ToString()},
              {"acted", report.rewritten},
              {"password_lost", report.password_lost}};
  json tables = json::array();
  for (const jet::RepairTableReport& t : report.tables)
    tables.push_back(
        {{"name", t.name}, {"lost", t.rows_lost}, {"cut", t.values_cut}, {"dropped", t.columns_dropped.size()}});
  out["tables"] = tables;
  std::printf("%s\n", out.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  return 0;
}

RepairRun Repair(const std::string& path, double seconds) {
  RepairRun run;
  const ChildResult child = RunInChild([&] { return RepairAndReport(path); }, seconds);
  if (child.Died()) {
    run.died = true;
    run.death = child.Describe();
    if (!child.err.empty()) run.death += ": " + child.err.substr(0, child.err.find('\n'));
    return run;
  }
  try {
    const json in = json::parse(child.out);
    run.ok = in.at("ok").get<bool>();
    run.error = in.at("error").get<std::string>();
    run.acted = in.at("acted").get<bool>();
    run.password_lost = in.at("password_lost").get<bool>();
    for (const json& t : in.at("tables")) {
      run.rows_lost[t.at("name").get<std::string>()] += t.at("lost").get<uint64_t>();
      run.values_cut[t.at("name").get<std::string>()] += t.at("cut").get<uint64_t>();
      run.columns_dropped[t.at("name").get<std::string>()] += t.at("dropped").get<uint64_t>();
    }
  } catch (const std::exception&) {
    run.died = true;
    run.death = "the repair gave no report (" + child.Describe() + ")";
  }
  return run;
}

void Check(const std::string& path, double seconds, CaseFacts* facts) {
  const ChildResult child = RunInChild([&] {
    jet::CheckReport report;
    const Status s = jet::CheckDatabase(path, &report);
    std::string first = s.ok() ? "" : s.ToString();
    for (const jet::CheckFinding& f : report.findings)
      if (first.empty() && f.severity == jet::CheckSeverity::kDamage) first = std::string(jet::FindingKindName(f.kind)) + ": " + f.detail;
    std::printf("%zu\n%s\n", s.ok() ? report.DamageCount() : size_t(1), first.c_str());
    return 0;
  }, seconds);
  facts->check_died = child.Died();
  const size_t newline = child.out.find('\n');
  facts->check_damage = std::strtoull(child.out.c_str(), nullptr, 10);
  if (newline != std::string::npos) facts->check_finding = child.out.substr(newline + 1, child.out.find('\n', newline + 1) - newline - 1);
}

// --- one case ---------------------------------------------------------------------

// Runs one case in `folder` (created and removed here). *studied is false when the
// damage changed no byte: nothing to study.
Status RunCase(const StudyFile& file, const DamageCase& damage_case, const StudyOptions& options, Readers& readers,
               const std::string& folder, CaseResult* result, bool* studied) {
  *result = CaseResult();
  result->file = file.shown;
  result->role = damage_case.role;
  result->mode = damage_case.mode;
  result->seed = damage_case.seed;
  result->page = damage_case.page;
  result->command = DamageCommand(damage_case, file.shown == file.path ? file.path : file.shown, options.flip_bytes);
  fs::create_directories(folder);
  const std::string damaged = folder + "/damaged.mdb", repaired = folder + "/repaired.mdb";
  damage::PageDamage damage{damage_case.role, damage_case.mode, damage_case.seed, options.flip_bytes, int64_t(damage_case.page)};
  damage::PageDamageResult done;
  Status s = damage::MakePageDamagedCopy(file.path, damaged, damage, &done);
  std::string bytes;
  if (s.ok()) s = damage::ReadWholeFile(damaged, &bytes);
  if (s.ok() && done.bytes_changed > 0) s = damage::WriteNewFile(repaired, bytes);
  *studied = s.ok() && done.bytes_changed > 0;
  if (!*studied) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return s;
  }
  result->damage = done.description;

  CaseFacts facts;
  facts.original = &file.original;
  // A torn write whose zeros all fell inside stored values (a long value's bytes, say)
  // is set apart as a flip there is: no reader has anything to tell it by.
  facts.value_bytes_only = done.value_bytes_only;
  const bool values_only = done.value_bytes_only || damage_case.mode == damage::Mode::kFlip;
  facts.rows_value_changed = values_only ? done.rows_value_changed : 0;
  facts.repair = Repair(repaired, options.repair_seconds);
  auto read = [&](Reader reader, const std::string& path) {
    return readers.Read(reader, path, file.mdbtools_tables);
  };
  for (Reader reader : {Reader::kMdbReader, Reader::kMdbtools}) facts.damaged[size_t(reader)] = read(reader, damaged);
  if (facts.repair.ok) facts.header_change = HeaderChange(file.header, repaired);
  // A password that went with page 0 cannot be brought back; reported, it is a loss.
  if (facts.repair.password_lost && facts.header_change == "says password none where the original says set") {
    facts.header_change.clear();
    facts.password_lost = true;
  }
  if (facts.repair.ok && facts.repair.acted) {
    for (Reader reader : kReaders) facts.repaired[size_t(reader)] = read(reader, repaired);
    Check(repaired, options.repair_seconds, &facts);
  } else if (facts.repair.ok) {
    facts.damaged[size_t(Reader::kOurs)] = read(Reader::kOurs, damaged);
    facts.repaired = facts.damaged;
  }
  result->verdict = Judge(facts);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return Status::Ok();
}

// --- results as JSON (between workers and for --json) -----------------------------

json CaseJson(const CaseResult& c) {
  const Verdict& v = c.verdict;
  return {{"file", c.file},
          {"role", damage::RoleName(c.role)},
          {"mode", damage::ModeName(c.mode)},
          {"seed", c.seed},
          {"page", c.page},
          {"damage", c.damage},
          {"command", c.command},
          {"outcome", OutcomeName(v.outcome)},
          {"reason", v.reason},
          {"original_rows", v.original_rows},
          {"kept_rows", v.kept_rows},
          {"cut_rows", v.cut_rows},
          {"changed_rows", v.changed_rows},
          {"without_dropped_rows", v.without_dropped_rows},
          {"reported_lost", v.reported_lost},
          {"lost_rows", v.lost_rows},
          {"worse_than_no_tool", v.worse_than_no_tool},
          {"worse_reason", v.worse_reason},
          {"under_reported", v.under_reported},
          {"readable_intact", v.readable_intact}};
}

CaseResult CaseFromJson(const json& j) {
  CaseResult c;
  c.file = j.at("file").get<std::string>();
  damage::ParseRole(j.at("role").get<std::string>(), &c.role);
  damage::ParseMode(j.at("mode").get<std::string>(), &c.mode);
  c.seed = j.at("seed").get<uint64_t>();
  c.page = j.at("page").get<uint32_t>();
  c.damage = j.at("damage").get<std::string>();
  c.command = j.at("command").get<std::string>();
  Verdict& v = c.verdict;
  for (Outcome o : kOutcomes)
    if (j.at("outcome").get<std::string>() == OutcomeName(o)) v.outcome = o;
  v.reason = j.at("reason").get<std::string>();
  v.original_rows = j.at("original_rows").get<uint64_t>();
  v.kept_rows = j.at("kept_rows").get<uint64_t>();
  v.cut_rows = j.at("cut_rows").get<uint64_t>();
  v.changed_rows = j.at("changed_rows").get<uint64_t>();
  v.without_dropped_rows = j.value("without_dropped_rows", uint64_t(0));
  v.reported_lost = j.at("reported_lost").get<uint64_t>();
  v.lost_rows = j.value("lost_rows", v.reported_lost);
  v.worse_than_no_tool = j.at("worse_than_no_tool").get<bool>();
  v.worse_reason = j.at("worse_reason").get<std::string>();
  v.under_reported = j.at("under_reported").get<bool>();
  v.readable_intact = j.at("readable_intact").get<uint64_t>();
  return c;
}

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// --- workers -------------------------------------------------------------------------

volatile sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

// Runs the cases of one file in `jobs` forked workers; worker k takes every k-th
// case and writes one JSON line per case to its own file.
Status RunCases(const StudyFile& file, const std::vector<DamageCase>& cases, const StudyOptions& options,
                const std::string& scratch, StudyResult* result) {
  const int jobs = std::max(1, std::min<int>(options.jobs, int(cases.size())));
  std::vector<pid_t> workers;
  for (int k = 0; k < jobs; ++k) {
    const std::string out_path = scratch + "/worker-" + std::to_string(k) + ".jsonl";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return Status::FromErrno(errno, "start a worker");
    if (pid > 0) {
      workers.push_back(pid);
      continue;
    }
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    Readers readers(options.oracle_dir, options.read_seconds);
    std::ofstream out(out_path);
    for (size_t i = size_t(k); i < cases.size(); i += size_t(jobs)) {
      CaseResult c;
      bool studied = false;
      const Status s = RunCase(file, cases[i], options, readers, scratch + "/case-" + std::to_string(k), &c, &studied);
      if (!s.ok())
        out << Dump({{"error", c.command + ": " + s.ToString()}}) << "\n";
      else if (studied)
        out << Dump(CaseJson(c)) << "\n";
      else
        out << "{\"no_change\":true}\n";
      out.flush();
    }
    out.close();
    std::fflush(nullptr);
    ::_exit(out ? 0 : 1);
  }
  bool failed = false;
  for (pid_t pid : workers) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) break;
      if (g_interrupted)
        for (pid_t w : workers) ::kill(w, SIGTERM);
    }
    failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
  }
  if (g_interrupted) return Status::Error(ErrorKind::kIoError, "interrupted");
  if (failed) return Status::Error(ErrorKind::kIoError, "a worker failed on " + file.shown);
  for (int k = 0; k < jobs; ++k) {
    const std::string path = scratch + "/worker-" + std::to_string(k) + ".jsonl";
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      const json j = json::parse(line);
      if (j.contains("error")) return Status::Error(ErrorKind::kIoError, j.at("error").get<std::string>());
      if (j.contains("no_change"))
        ++result->no_change;
      else
        result->cases.push_back(CaseFromJson(j));
    }
    std::filesystem::remove(path);
  }
  return Status::Ok();
}

// Makes a Jet 3 and a Jet 4 file from each schema.
std::vector<std::pair<std::string, std::string>> Generate(const StudyOptions& options, const std::string& scratch,
                                                          StudyResult* result) {
  std::vector<std::pair<std::string, std::string>> files;  // path, shown
  for (const std::string& schema : options.schemas) {
    for (const char* format : {"jet3", "jet4"}) {
      const std::string shown = fs::path(schema).filename().string() + " as " + format;
      const std::string path = scratch + "/" + fs::path(schema).stem().string() + "-" + format + ".mdb";
      const std::vector<std::string> argv = {options.jetdb, "create",      "--format", format, "--rows",
                                             kGeneratedRows, "--seed", kGeneratedSeed, schema, path};
      const ChildResult child = RunProgram(argv, 300);
      if (child.Died() || child.exit_code != 0) {
        result->left_out.push_back(shown + ": jetdb create failed: " + child.Describe() + " " + child.err);
        continue;
      }
      std::string made;
      for (size_t i = 0; i + 1 < argv.size(); ++i) made += ShellQuoted(argv[i]) + " ";
      result->generated.push_back(shown + ": " + made + "OUT.mdb");
      files.emplace_back(path, shown);
    }
  }
  return files;
}

// --- printing ------------------------------------------------------------------------

struct Tally {
  size_t cases = 0, worse = 0, under = 0, over = 0;
  uint64_t rows = 0, kept = 0;
  std::map<Outcome, size_t> outcomes;

  void Add(const CaseResult& c) {
    ++cases;
    ++outcomes[c.verdict.outcome];
    worse += c.verdict.worse_than_no_tool;
    under += c.verdict.under_reported;
    over += c.verdict.over_reported();
    rows += c.verdict.original_rows;
    kept += c.verdict.kept_rows;
  }
  static Tally Of(const StudyResult& result) {
    Tally all;
    for (const CaseResult& c : result.cases) all.Add(c);
    return all;
  }
};

std::map<damage::Role, Tally> ByRole(const StudyResult& result) {
  std::map<damage::Role, Tally> roles;
  for (const CaseResult& c : result.cases) roles[c.role].Add(c);
  return roles;
}

}  // namespace

Status RunStudy(const StudyOptions& options, StudyResult* result) {
  *result = StudyResult();
  ScratchFolder scratch;
  if (scratch.path().empty()) return Status::FromErrno(errno, "make a temporary folder");
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;  // no SA_RESTART: a wait for workers returns
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);  // a reader that dies mid-request is an answer, not our end

  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& path : InputFiles(options.inputs)) files.emplace_back(path, Shown(path, options.testdata_dir));
  for (auto& generated : Generate(options, scratch.path(), result)) files.push_back(generated);

  Readers readers(options.oracle_dir, options.read_seconds);
  size_t done = 0;
  for (const auto& [path, shown] : files) {
    ++done;
    const std::string why = WhyLeftOut(path);
    StudyFile file{path, shown, ReadHeaderFields(path), {}, {}, {}};
    Status s = why.empty() ? damage::ListPageRoles(path, &file.roles) : Status::Ok();
    if (!why.empty() || !s.ok()) {
      result->left_out.push_back(shown + ": " + (why.empty() ? s.ToString() : why));
      continue;
    }
    file.mdbtools_tables = readers.MdbtoolsTables(path);
    for (Reader reader : kReaders) file.original[size_t(reader)] = readers.Read(reader, path, file.mdbtools_tables);
    const std::vector<DamageCase> cases = CasesOf(file, options);
    if (options.progress) std::fprintf(stderr, "[%zu/%zu] %s: %zu cases\n", done, files.size(), shown.c_str(), cases.size());
    result->files.push_back(shown);
    if (cases.empty()) continue;
    s = RunCases(file, cases, options, scratch.path(), result);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

size_t CountOutcome(const StudyResult& result, Outcome outcome) {
  return size_t(std::count_if(result.cases.begin(), result.cases.end(),
                              [&](const CaseResult& c) { return c.verdict.outcome == outcome; }));
}

size_t CountWorse(const StudyResult& result) {
  return size_t(std::count_if(result.cases.begin(), result.cases.end(),
                              [](const CaseResult& c) { return c.verdict.worse_than_no_tool; }));
}

size_t CountUnderReported(const StudyResult& result) {
  return size_t(std::count_if(result.cases.begin(), result.cases.end(),
                              [](const CaseResult& c) { return c.verdict.under_reported; }));
}

void PrintTable(const StudyResult& result, std::FILE* out) {
  Tally all;
  std::map<Outcome, Tally> by_outcome;
  for (const CaseResult& c : result.cases) {
    all.Add(c);
    by_outcome[c.verdict.outcome].Add(c);
  }
  std::fprintf(out, "Repair study: %zu files, %zu cases", result.files.size(), result.cases.size());
  if (result.no_change > 0) std::fprintf(out, " (%zu more damages changed no byte and are not counted)", result.no_change);
  std::fprintf(out, "\n");
  for (const std::string& g : result.generated) std::fprintf(out, "generated: %s\n", g.c_str());
  for (const std::string& l : result.left_out) std::fprintf(out, "left out: %s\n", l.c_str());
  std::fprintf(out, "\n%-14s %7s %6s %10s %10s\n", "outcome", "cases", "%", "rows", "rows kept");
  for (Outcome o : kOutcomes) {
    const Tally& t = by_outcome[o];
    std::fprintf(out, "%-14s %7zu %6.1f %10llu %10llu\n", OutcomeName(o), t.cases,
                 all.cases == 0 ? 0.0 : 100.0 * double(t.cases) / double(all.cases),
                 static_cast<unsigned long long>(t.rows), static_cast<unsigned long long>(t.kept));
  }
  std::fprintf(out, "%-14s %7zu %6s %10llu %10llu\n", "total", all.cases, "100.0",
               static_cast<unsigned long long>(all.rows), static_cast<unsigned long long>(all.kept));
  std::fprintf(out, "\nworse than no tool: %zu cases\nunder-reported:     %zu cases\nover-reported:      %zu cases\n",
               all.worse, all.under, all.over);

  size_t changed = 0;
  for (const CaseResult& c : result.cases) changed += c.verdict.changed_rows > 0;
  std::fprintf(out, "rows changed in stored values by flipped or torn bytes, as every reader reads them: %zu cases\n", changed);
  uint64_t without_dropped = 0;
  size_t dropping = 0;
  for (const CaseResult& c : result.cases) {
    without_dropped += c.verdict.without_dropped_rows;
    dropping += c.verdict.without_dropped_rows > 0;
  }
  if (dropping > 0)
    std::fprintf(out, "rows kept without the columns the repair dropped (reported): %llu, in %zu cases\n",
                 static_cast<unsigned long long>(without_dropped), dropping);

  // Per role: the outcomes in the order above, under short names.
  std::fprintf(out, "\n%-19s %6s %9s %9s %9s %9s %9s %9s %9s %6s %6s\n", "role", "cases", "lossless", "loss",
               "refused", "corrupt", "silent", "invisible", "crash", "worse", "under");
  for (const auto& [role, t] : ByRole(result)) {
    std::fprintf(out, "%-19s %6zu", damage::RoleName(role), t.cases);
    for (Outcome o : kOutcomes) {
      auto it = t.outcomes.find(o);
      std::fprintf(out, " %9zu", it == t.outcomes.end() ? size_t(0) : it->second);
    }
    std::fprintf(out, " %6zu %6zu\n", t.worse, t.under);
  }
}

void PrintList(const StudyResult& result, std::FILE* out) {
  for (const CaseResult& c : result.cases) {
    const Verdict& v = c.verdict;
    if (v.outcome == Outcome::kLossless && !v.worse_than_no_tool && !v.under_reported && !v.over_reported()) continue;
    std::string line = std::string(OutcomeName(v.outcome)) + ": " + c.file + ", " + damage::RoleName(c.role) + " " +
                       damage::ModeName(c.mode) + " page " + std::to_string(c.page);
    if (c.mode == damage::Mode::kFlip) line += " seed " + std::to_string(c.seed);
    if (!v.reason.empty()) line += ": " + v.reason;
    if (v.worse_than_no_tool) line += " [worse than no tool: " + v.worse_reason + "]";
    if (v.under_reported)
      line += " [under-reported: " + std::to_string(v.reported_lost) + " rows reported lost]";
    if (v.over_reported())
      line += " [over-reported: " + std::to_string(v.reported_lost) + " rows reported lost of " +
              std::to_string(v.lost_rows) + "]";
    line += " [" + c.command + "]";
    std::fprintf(out, "%s\n", line.c_str());
  }
}

std::string ResultJson(const StudyResult& result) {
  json outcomes = json::object();
  std::map<Outcome, Tally> by_outcome;
  for (const CaseResult& c : result.cases) by_outcome[c.verdict.outcome].Add(c);
  for (Outcome o : kOutcomes)
    outcomes[OutcomeName(o)] = {{"cases", by_outcome[o].cases}, {"rows", by_outcome[o].rows}, {"rows_kept", by_outcome[o].kept}};
  json roles = json::object();
  for (const auto& [role, t] : ByRole(result)) {
    json counts = {{"cases", t.cases}, {"worse_than_no_tool", t.worse}, {"under_reported", t.under}, {"over_reported", t.over}};
    for (Outcome o : kOutcomes) counts[OutcomeName(o)] = t.outcomes.count(o) ? t.outcomes.at(o) : 0;
    roles[damage::RoleName(role)] = counts;
  }
  json cases = json::array();
  for (const CaseResult& c : result.cases) cases.push_back(CaseJson(c));
  const json doc = {{"files", result.files},
                    {"left_out", result.left_out},
                    {"generated", result.generated},
                    {"no_change", result.no_change},
                    {"outcomes", outcomes},
                    {"worse_than_no_tool", CountWorse(result)},
                    {"under_reported", CountUnderReported(result)},
                    {"over_reported", Tally::Of(result).over},
                    {"roles", roles},
                    {"cases", cases}};
  return Dump(doc);
}

}  // namespace study
