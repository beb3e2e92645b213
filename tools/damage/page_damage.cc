// Page damage: picks the page, works out its used bytes from the decoded page, and
// patches the stored bytes of a copy.
#include "tools/damage/page_damage.h"

#include <algorithm>
#include <memory>
#include <set>

#include "jet/base/env.h"
#include "jet/file/data_page.h"
#include "jet/read/database.h"
#include "tools/damage/names.h"

namespace damage {
namespace {

using jet::ErrorKind;
using jet::Status;

// Page 0's identification and masked fields: what a reader takes from the header.
constexpr uint32_t kHeaderMaskStart = 0x18;

constexpr Named<Mode> kModes[] = {{Mode::kZero, "zero"}, {Mode::kTorn, "torn"}, {Mode::kFlip, "flip"}};

// SplitMix64: a small generator whose output is fixed by its seed on every platform,
// so that a seed names the same damage everywhere.
uint64_t NextRandom(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::vector<Extent> UsedBytes(const jet::Format& format, Role role, const uint8_t* page) {
  const uint32_t size = format.page_size;
  if (role == Role::kHeader) return {Extent{0, std::min(size, kHeaderMaskStart + format.header_mask_size)}};
  jet::DataPageHeader header;
  if (page[0] == jet::kPageData && jet::ParseDataPage(format, page, &header).ok()) {
    const uint32_t slots_end = format.data_header_size + 2u * header.row_count;
    const uint32_t rows_begin = slots_end + header.free_space;
    if (rows_begin <= size) return {Extent{0, slots_end}, Extent{rows_begin, size}};
  }
  uint32_t end = size;
  while (end > 0 && page[end - 1] == 0) --end;
  return {Extent{0, end == 0 ? size : end}};
}

// The extent holding `at`, or nullptr.
const Extent* Holding(const std::vector<Extent>& extents, uint32_t at) {
  for (const Extent& e : extents)
    if (at >= e.begin && at < e.end) return &e;
  return nullptr;
}

// Offsets (within the page) of `count` distinct bytes drawn from `used`.
std::vector<uint32_t> DrawOffsets(const std::vector<Extent>& used, int count, uint64_t* state) {
  uint64_t total = 0;
  for (const Extent& e : used) total += e.end - e.begin;
  std::vector<uint32_t> offsets;
  if (total == 0) return offsets;
  const uint64_t want = std::min<uint64_t>(uint64_t(std::max(count, 0)), total);
  while (offsets.size() < want) {
    uint64_t pick = NextRandom(state) % total;
    uint32_t at = 0;
    for (const Extent& e : used) {
      if (pick < e.end - e.begin) {
        at = e.begin + uint32_t(pick);
        break;
      }
      pick -= e.end - e.begin;
    }
    if (std::find(offsets.begin(), offsets.end(), at) == offsets.end()) offsets.push_back(at);
  }
  std::sort(offsets.begin(), offsets.end());
  return offsets;
}

// Reads the file at `path` into `bytes` and opens a reader over them.
Status OpenBytes(const std::string& path, std::string* bytes, std::unique_ptr<jet::Database>* db) {
  Status s = ReadWholeFile(path, bytes);
  if (!s.ok()) return s;
  return jet::Database::OpenMemory(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size(), db);
}

std::string ValueNote(const PageDamageResult& r) {
  if (r.rows_value_changed == 0) return "";
  return std::string("; ") + (r.value_bytes_only ? "only " : "") + "stored values of " +
         std::to_string(r.rows_value_changed) + " rows";
}

}  // namespace

const char* ModeName(Mode mode) { return NameIn(kModes, mode); }
bool ParseMode(const std::string& name, Mode* mode) { return ParseIn(kModes, name, mode); }

Status PickPage(const PageRoles& roles, const PageDamage& damage, uint32_t* page) {
  const std::vector<uint32_t>& candidates = roles.Candidates(damage.role);
  if (candidates.empty())
    return Status::Error(ErrorKind::kNotFound, std::string("the file has no ") + RoleName(damage.role) + " page");
  if (damage.page >= 0) {
    if (!std::binary_search(candidates.begin(), candidates.end(), uint32_t(damage.page)))
      return Status::Error(ErrorKind::kInvalidArgument, "page " + std::to_string(damage.page) + " is not a " +
                                                            RoleName(damage.role) + " page of the file");
    *page = uint32_t(damage.page);
    return Status::Ok();
  }
  uint64_t state = damage.seed;
  *page = candidates[NextRandom(&state) % candidates.size()];
  return Status::Ok();
}

std::vector<uint32_t> SamplePages(const std::vector<uint32_t>& candidates, size_t count, uint64_t seed) {
  std::vector<uint32_t> pages = candidates;
  if (count == 0 || count >= pages.size()) return pages;
  for (size_t i = 0; i < count; ++i)
    std::swap(pages[i], pages[i + NextRandom(&seed) % (pages.size() - i)]);
  pages.resize(count);
  std::sort(pages.begin(), pages.end());
  return pages;
}

Status MakePageDamagedCopy(const std::string& source, const std::string& destination, const PageDamage& damage,
                           PageDamageResult* result) {
  *result = PageDamageResult();
  std::string bytes;
  std::unique_ptr<jet::Database> db;
  Status s = OpenBytes(source, &bytes, &db);
  if (!s.ok()) return s;
  PageRoles roles;
  s = LearnPageRoles(*db, &roles);
  if (s.ok()) s = PickPage(roles, damage, &result->page);
  if (!s.ok()) return s;
  result->candidates = roles.Candidates(damage.role).size();

  const jet::Format& format = db->format();
  std::vector<uint8_t> decoded(format.page_size);
  s = db->file().ReadPage(result->page, decoded.data());
  if (!s.ok()) return s;
  std::vector<uint32_t> offsets;
  std::vector<uint8_t> values;
  if (damage.mode == Mode::kFlip) {
    uint64_t state = damage.seed ^ (uint64_t(result->page) << 32) ^ 0xF1u;
    offsets = DrawOffsets(UsedBytes(format, damage.role, decoded.data()), damage.flip_bytes, &state);
    for (size_t i = 0; i < offsets.size(); ++i) values.push_back(uint8_t(1 + NextRandom(&state) % 255));
  } else {
    for (uint32_t at = damage.mode == Mode::kTorn ? format.page_size / 2 : 0; at < format.page_size; ++at) {
      offsets.push_back(at);
      values.push_back(0);
    }
  }

  // The copy: stored bytes patched; a flip XORs, the other modes write zeros.
  std::string damaged = bytes;
  uint8_t* stored = reinterpret_cast<uint8_t*>(damaged.data()) + uint64_t(result->page) * format.page_size;
  const std::vector<Extent>& value_bytes = roles.value_bytes[result->page];
  const std::vector<Extent>& unread_bytes = roles.unread_bytes[result->page];
  result->value_bytes_only = true;
  std::set<uint32_t> rows_hit;
  std::string places;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const uint8_t before = stored[offsets[i]];
    stored[offsets[i]] = damage.mode == Mode::kFlip ? uint8_t(before ^ values[i]) : values[i];
    if (stored[offsets[i]] == before) continue;
    ++result->bytes_changed;
    const Extent* value = Holding(value_bytes, offsets[i]);
    if (value != nullptr)
      rows_hit.insert(value->row);
    else if (Holding(unread_bytes, offsets[i]) == nullptr)
      result->value_bytes_only = false;
    if (damage.mode == Mode::kFlip) places += (places.empty() ? " at " : ", ") + std::to_string(offsets[i]);
  }
  if (result->bytes_changed == 0) result->value_bytes_only = false;
  result->rows_value_changed = rows_hit.size();
  result->description = std::string(ModeName(damage.mode)) + " " + RoleName(damage.role) + " page " +
                        std::to_string(result->page) + " (" + std::to_string(result->bytes_changed) +
                        " bytes changed" + places + ValueNote(*result) + ")";
  return WriteNewFile(destination, damaged);
}

Status ListPageRoles(const std::string& path, PageRoles* roles) {
  std::string bytes;
  std::unique_ptr<jet::Database> db;
  Status s = OpenBytes(path, &bytes, &db);
  return s.ok() ? LearnPageRoles(*db, roles) : s;
}

Status ReadWholeFile(const std::string& path, std::string* bytes) {
  std::unique_ptr<jet::SequentialFile> file;
  Status s = jet::Env::Default()->NewSequentialFile(path, &file);
  if (!s.ok()) return s;
  bytes->clear();
  char buffer[65536];
  for (;;) {
    size_t n = 0;
    s = file->Read(buffer, sizeof buffer, &n);
    if (!s.ok()) return s;
    if (n == 0) return Status::Ok();
    bytes->append(buffer, n);
  }
}

// Not flushed: these are test copies, made by the thousand in a study.
Status WriteNewFile(const std::string& path, const std::string& bytes) {
  std::unique_ptr<jet::WritableFile> out;
  Status s = jet::Env::Default()->NewWritableFile(path, 0644, &out);
  if (s.ok()) s = out->Append(bytes.data(), bytes.size());
  if (s.ok()) s = out->Close();
  return s;
}

}  // namespace damage
