// jetdb-damage: test tool that writes a damaged copy of a database file.
//   jetdb-damage KIND SOURCE DESTINATION     one kind of damage (see --help)
// Prints what it damaged: the page, the file offset, the table, and how many rows of
// the table were stored on the damaged page.
#include <cstdio>
#include <string>

#include "tools/damage/damage.h"

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::printf("Usage: jetdb-damage KIND SOURCE DESTINATION\nKinds:");
    for (damage::Kind k : damage::AllKinds()) std::printf(" %s", damage::KindName(k));
    std::printf("\n");
    return 0;
  }
  damage::Kind kind;
  if (argc != 4 || !damage::ParseKind(argv[1], &kind)) {
    std::fprintf(stderr, "jetdb-damage: usage: jetdb-damage KIND SOURCE DESTINATION (--help lists kinds)\n");
    return 2;
  }
  damage::Result result;
  jet::Status s = damage::MakeDamagedCopy(argv[2], argv[3], kind, &result);
  if (!s.ok()) {
    std::fprintf(stderr, "jetdb-damage: %s\n", s.ToString().c_str());
    return 1;
  }
  std::printf("%s: %s\npage %lld, offset %llu, rows on the page %llu\n", damage::KindName(kind),
              result.description.c_str(), static_cast<long long>(result.page),
              static_cast<unsigned long long>(result.offset),
              static_cast<unsigned long long>(result.rows_on_page));
  return 0;
}
