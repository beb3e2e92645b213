// Page damage: the damage a crash or a bad sector does to one page, applied to a copy
// of a database file. Three modes, the ways real pages get hit:
//   zero  the write never reached the disk: the whole page reads as zeros;
//   torn  the write stopped halfway: the second half of the page is zeros;
//   flip  a bad sector: N bytes at random places of the page's used bytes, each XORed
//         with a random non-zero value.
// Used bytes are where the page holds something: page 0's masked header fields; a
// data page's header, slot table and rows (not the free gap between them); any other
// page up to its last non-zero byte.
//
// The page is picked among the candidates of a role (page_roles.h), and the flipped
// places and values drawn, from a seed, so that the same file, role, mode and seed
// always give the same damage. The bytes are patched as stored: in a file with
// RC4-encoded pages a flipped stored byte flips the same decoded byte, and a zeroed
// page decodes to noise, as it would after a real crash.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "tools/damage/page_roles.h"

namespace damage {

enum class Mode { kZero, kTorn, kFlip };

// "zero", "torn", "flip".
const char* ModeName(Mode mode);
bool ParseMode(const std::string& name, Mode* mode);

inline constexpr int kDefaultFlipBytes = 8;

struct PageDamage {
  Role role = Role::kData;
  Mode mode = Mode::kZero;
  uint64_t seed = 1;
  int flip_bytes = kDefaultFlipBytes;
  int64_t page = -1;  // a given candidate page; -1 picks one from the seed
};

struct PageDamageResult {
  uint32_t page = 0;
  size_t candidates = 0;          // pages of the role in the file
  size_t bytes_changed = 0;       // 0 when the page already held what the mode writes
  bool value_bytes_only = false;  // every changed byte lies in a stored value, or where no reader reads
  size_t rows_value_changed = 0;  // rows (table or long-value rows) with a changed value byte
  std::string description;        // English, e.g. "torn data page 17 (1024 bytes changed)"
};

// The page `damage` picks in a file with `roles`; kNotFound when the role has no
// candidate, kInvalidArgument when damage.page is not one of them.
jet::Status PickPage(const PageRoles& roles, const PageDamage& damage, uint32_t* page);

// `count` pages of `candidates` (ascending) drawn by `seed`; all of them when `count`
// is 0 or not less than their number. For studies that sample pages of a role.
std::vector<uint32_t> SamplePages(const std::vector<uint32_t>& candidates, size_t count, uint64_t seed);

// Copies `source` to `destination` (which must not exist) with `damage` applied.
jet::Status MakePageDamagedCopy(const std::string& source, const std::string& destination,
                                const PageDamage& damage, PageDamageResult* result);

// The candidate pages of every role of the file at `path`.
jet::Status ListPageRoles(const std::string& path, PageRoles* roles);

// Whole files as bytes, for the damage tools. WriteNewFile fails when `path` exists.
jet::Status ReadWholeFile(const std::string& path, std::string* bytes);
jet::Status WriteNewFile(const std::string& path, const std::string& bytes);

}  // namespace damage
