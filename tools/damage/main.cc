// jetdb-damage: test tool that writes a damaged copy of a database file.
//   jetdb-damage KIND SOURCE DESTINATION     one kind of damage (see --help)
//   jetdb-damage --role ROLE --mode MODE [--seed N] [--page P] [--bytes N] SOURCE DESTINATION
//                                            one page of a role zeroed, torn or flipped
//   jetdb-damage --roles SOURCE              the candidate pages of every role
// Prints what it damaged: for a kind, the page, the file offset, the table, and how
// many rows of the table were stored on the damaged page; for a role, the page and the
// bytes changed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/damage/damage.h"
#include "tools/damage/page_damage.h"

namespace {

const char kUsage[] =
    "Usage: jetdb-damage KIND SOURCE DESTINATION\n"
    "       jetdb-damage --role ROLE --mode MODE [--seed N] [--page P] [--bytes N] SOURCE DESTINATION\n"
    "       jetdb-damage --roles SOURCE\n";

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "jetdb-damage: %s\n", message.c_str());
  return code;
}

bool ParseNumber(const std::string& text, long long low, long long* out) {
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low) return false;
  *out = value;
  return true;
}

void PrintHelp() {
  std::printf("%s\nKinds:", kUsage);
  for (damage::Kind k : damage::AllKinds()) std::printf(" %s", damage::KindName(k));
  std::printf("\nRoles:");
  for (damage::Role r : damage::AllRoles()) std::printf(" %s", damage::RoleName(r));
  std::printf(
      "\nModes: zero (the whole page), torn (its second half zeroed), flip (--bytes N\n"
      "bytes of the page, default %d, each XORed with a non-zero value). --seed picks\n"
      "the page among the role's candidates and the flipped bytes; --page names a\n"
      "candidate page instead.\n",
      damage::kDefaultFlipBytes);
}

int ListRoles(const std::string& source) {
  damage::PageRoles roles;
  jet::Status s = damage::ListPageRoles(source, &roles);
  if (!s.ok()) return Fail(s.ToString(), 1);
  for (damage::Role role : damage::AllRoles()) {
    std::printf("%s:", damage::RoleName(role));
    for (uint32_t page : roles.Candidates(role)) std::printf(" %u", page);
    std::printf("\n");
  }
  return 0;
}

int DamagePage(const std::vector<std::string>& args) {
  damage::PageDamage damage;
  bool have_role = false, have_mode = false;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    long long number = 0;
    if (arg == "--role" && has_value) {
      if (!damage::ParseRole(args[++i], &damage.role)) return Fail("unknown role '" + args[i] + "'", 2);
      have_role = true;
    } else if (arg == "--mode" && has_value) {
      if (!damage::ParseMode(args[++i], &damage.mode)) return Fail("unknown mode '" + args[i] + "'", 2);
      have_mode = true;
    } else if (arg == "--seed" && has_value && ParseNumber(args[i + 1], 0, &number)) {
      damage.seed = uint64_t(number);
      ++i;
    } else if (arg == "--page" && has_value && ParseNumber(args[i + 1], 0, &number)) {
      damage.page = number;
      ++i;
    } else if (arg == "--bytes" && has_value && ParseNumber(args[i + 1], 1, &number)) {
      damage.flip_bytes = int(std::min(number, 1LL << 16));
      ++i;
    } else if (arg.rfind("--", 0) == 0) {
      return Fail("bad option '" + arg + "'\n" + kUsage, 2);
    } else {
      files.push_back(arg);
    }
  }
  if (!have_role || !have_mode || files.size() != 2) return Fail(std::string("usage:\n") + kUsage, 2);
  damage::PageDamageResult result;
  jet::Status s = damage::MakePageDamagedCopy(files[0], files[1], damage, &result);
  if (!s.ok()) return Fail(s.ToString(), 1);
  std::printf("%s\npage %u of %zu candidates\n", result.description.c_str(), result.page, result.candidates);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    PrintHelp();
    return 0;
  }
  if (args.size() == 2 && args[0] == "--roles") return ListRoles(args[1]);
  if (!args.empty() && args[0].rfind("--", 0) == 0) return DamagePage(args);
  damage::Kind kind;
  if (args.size() != 3 || !damage::ParseKind(args[0], &kind))
    return Fail("usage: jetdb-damage KIND SOURCE DESTINATION (--help lists kinds)", 2);
  damage::Result result;
  jet::Status s = damage::MakeDamagedCopy(args[1], args[2], kind, &result);
  if (!s.ok()) return Fail(s.ToString(), 1);
  std::printf("%s: %s\npage %lld, offset %llu, rows on the page %llu\n", damage::KindName(kind),
              result.description.c_str(), static_cast<long long>(result.page),
              static_cast<unsigned long long>(result.offset),
              static_cast<unsigned long long>(result.rows_on_page));
  return 0;
}
