// EntrySorter: the order it gives (unsigned bytes, then row), duplicates once, the
// same result whether or not it spills, and what happens to its scratch files when a
// write fails or a run comes back damaged.
#include "jet/write/entry_sorter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <tuple>
#include <vector>

#include "jet/testing/fault_injection_env.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

struct Item {
  std::string key;
  uint32_t row;
  uint8_t tag;
};

size_t EntriesIn(const std::string& dir) {
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

// Everything the sorter gives back, or the first error.
Status Drain(EntrySorter* sorter, std::vector<Item>* out) {
  Status s = sorter->Finish();
  if (!s.ok()) return s;
  for (;;) {
    SortedEntry entry;
    bool done = false;
    s = sorter->Next(&entry, &done);
    if (!s.ok() || done) return s;
    out->push_back({entry.key, entry.row.ToPointer(), entry.tag});
  }
}

// The expected output, computed the plain way.
std::vector<std::pair<std::string, uint32_t>> Expected(const std::vector<Item>& input) {
  std::vector<std::pair<std::string, uint32_t>> sorted;
  for (const Item& item : input) sorted.emplace_back(item.key, item.row);
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  return sorted;
}

std::vector<std::pair<std::string, uint32_t>> KeysAndRows(const std::vector<Item>& items) {
  std::vector<std::pair<std::string, uint32_t>> out;
  for (const Item& item : items) out.emplace_back(item.key, item.row);
  return out;
}

// Random keys over the whole byte range, with many shared prefixes, repeated keys and
// some exact duplicates.
std::vector<Item> RandomInput(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Item> items;
  for (size_t i = 0; i < count; ++i) {
    if (!items.empty() && random() % 10 == 0) {
      items.push_back(items[random() % items.size()]);  // exact duplicate
      continue;
    }
    std::string key = random() % 3 == 0 ? std::string("\x7F\x80\x00\x00", 4) : std::string();
    const size_t length = random() % 24;
    for (size_t j = 0; j < length; ++j) key.push_back(char(random() % 4 == 0 ? 0xFF - random() % 3 : random() % 256));
    items.push_back({key, uint32_t(random() % 5000) << 8 | uint32_t(random() % 256), uint8_t(random() % 2)});
  }
  return items;
}

Status SortAll(Env* env, const std::string& beside, size_t budget, const std::vector<Item>& input,
               std::vector<Item>* out, size_t* runs = nullptr) {
  EntrySorter sorter(env, beside, budget);
  for (const Item& item : input) {
    Status s = sorter.Add(item.key, RowId::FromPointer(item.row), item.tag);
    if (!s.ok()) return s;
  }
  Status s = Drain(&sorter, out);
  if (runs != nullptr) *runs = sorter.spilled_runs();
  if (s.ok() && sorter.added() != input.size()) return Status::Error(ErrorKind::kIoError, "added() miscounts");
  return s;
}

TEST(EntrySorter, OrdersByUnsignedBytesThenRowAndGivesDuplicatesOnce) {
  testing_support::TempDir dir;
  const std::string x80_00("\x80\x00", 2);
  const std::vector<Item> input = {
      {"\xFF", 1, 0},       {"\x01", 9, 0},  {"", 7, 0},       {x80_00, 3, 0},     {"\x7F", 2, 0},
      {"\x80", 5, 0},       {"\x80", 4, 1},  {"\x01", 9, 0},   {x80_00, 3, 0},     {std::string(1, '\0'), 8, 0},
      {"\x01", 0x100, 0},   {"", 6, 0},
  };
  std::vector<Item> out;
  ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), EntrySorter::kDefaultMemoryBudget, input, &out).ok());
  const std::vector<std::pair<std::string, uint32_t>> want = {
      {"", 6}, {"", 7}, {std::string(1, '\0'), 8}, {"\x01", 9}, {"\x01", 0x100}, {"\x7F", 2},
      {"\x80", 4}, {"\x80", 5}, {x80_00, 3}, {"\xFF", 1},
  };
  EXPECT_EQ(KeysAndRows(out), want);
  // The tag travels with its entry.
  EXPECT_EQ(std::find_if(out.begin(), out.end(), [](const Item& i) { return i.row == 4; })->tag, 1);
  EXPECT_EQ(EntriesIn(dir.path()), 0u) << "a sort within the budget wrote a scratch file";
}

TEST(EntrySorter, EmptyInputGivesNothing) {
  testing_support::TempDir dir;
  std::vector<Item> out;
  ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), 64, {}, &out).ok());
  EXPECT_TRUE(out.empty());

  // Next keeps saying done; calls out of turn are refused.
  EntrySorter sorter(Env::Default(), dir.File("db.mdb"));
  SortedEntry entry;
  bool done = false;
  EXPECT_EQ(sorter.Next(&entry, &done).kind(), ErrorKind::kInvalidArgument);
  ASSERT_TRUE(sorter.Finish().ok());
  EXPECT_EQ(sorter.Add("x", RowId{1, 0}).kind(), ErrorKind::kInvalidArgument);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(sorter.Next(&entry, &done).ok());
    EXPECT_TRUE(done);
  }
}

TEST(EntrySorter, SpillingGivesTheSameOutputAsMemory) {
  testing_support::TempDir dir;
  const std::vector<Item> input = RandomInput(20000, 7);
  std::vector<Item> in_memory, spilled, one_per_run;
  size_t runs = 0;
  ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), size_t(64) << 20, input, &in_memory, &runs).ok());
  EXPECT_EQ(runs, 0u);
  ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), 16 << 10, input, &spilled, &runs).ok());
  EXPECT_GT(runs, 10u);
  EXPECT_LE(runs, 64u) << "this input is meant to merge in one pass";
  EXPECT_EQ(KeysAndRows(in_memory), Expected(input));
  EXPECT_EQ(KeysAndRows(spilled), KeysAndRows(in_memory));
  // Tags: each entry keeps the tag of one of its copies.
  for (const Item& item : spilled) {
    const bool seen = std::any_of(input.begin(), input.end(), [&](const Item& i) {
      return i.key == item.key && i.row == item.row && i.tag == item.tag;
    });
    ASSERT_TRUE(seen);
  }
  EXPECT_EQ(EntriesIn(dir.path()), 0u) << "scratch files left behind";
}

// A parked sorter (its large last buffer spilled too) replays the same output after
// each Rewind, also from the middle of a pass.
TEST(EntrySorter, RewindReplaysAParkedSort) {
  testing_support::TempDir dir;
  const std::vector<Item> input = RandomInput(20000, 11);
  for (size_t budget : {size_t(64) << 20, size_t(16) << 10}) {
    EntrySorter sorter(Env::Default(), dir.File("db.mdb"), budget);
    for (const Item& item : input) ASSERT_TRUE(sorter.Add(item.key, RowId::FromPointer(item.row), item.tag).ok());
    ASSERT_TRUE(sorter.Finish(/*park=*/true).ok());
    EXPECT_GT(sorter.spilled_runs(), 0u) << "more than 64 KiB is parked on disk";
    for (size_t pass = 0; pass < 3; ++pass) {
      std::vector<Item> out;
      SortedEntry entry;
      bool done = false;
      while (true) {
        ASSERT_TRUE(sorter.Next(&entry, &done).ok());
        if (done || (pass == 1 && out.size() == 100)) break;
        out.push_back({entry.key, entry.row.ToPointer(), entry.tag});
      }
      if (pass != 1) {
        EXPECT_EQ(KeysAndRows(out), Expected(input));
      }
      ASSERT_TRUE(sorter.Rewind().ok());
    }
  }
  EXPECT_EQ(EntriesIn(dir.path()), 0u) << "scratch files left behind";
}

// Input already in order skips the sort of a buffer; one entry out of place at either
// end, or repeated entries, must still come out right.
TEST(EntrySorter, InputInOrderOrAlmost) {
  testing_support::TempDir dir;
  std::vector<Item> sorted;
  for (const auto& [key, row] : Expected(RandomInput(5000, 3))) sorted.push_back({key, row, 0});
  std::vector<std::vector<Item>> inputs(4, sorted);
  std::swap(inputs[1].front(), inputs[1].back());
  std::swap(inputs[2][inputs[2].size() - 1], inputs[2][inputs[2].size() - 2]);
  for (size_t i = 0; i < sorted.size(); i += 7) inputs[3].insert(inputs[3].begin() + ptrdiff_t(i), sorted[i]);
  for (const std::vector<Item>& input : inputs) {
    for (size_t budget : {size_t(1) << 20, size_t(2) << 10}) {
      std::vector<Item> out;
      ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), budget, input, &out).ok());
      EXPECT_EQ(KeysAndRows(out), KeysAndRows(sorted)) << budget;
    }
  }
  EXPECT_EQ(EntriesIn(dir.path()), 0u);
}

TEST(EntrySorter, ManyRunsAreMergedInSeveralPasses) {
  testing_support::TempDir dir;
  const std::vector<Item> input = RandomInput(30000, 11);
  std::vector<Item> out;
  size_t runs = 0;
  // A budget of a few entries: a run per handful of entries, thousands in all, far
  // more than can be open at once.
  ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), 400, input, &out, &runs).ok());
  EXPECT_GT(runs, 2000u);
  EXPECT_EQ(KeysAndRows(out), Expected(input));
  EXPECT_EQ(EntriesIn(dir.path()), 0u);

  // An entry larger than the budget still goes through (as a run of its own).
  const std::vector<Item> big = {{std::string(5000, 'b'), 2, 0}, {std::string(5000, 'a'), 1, 0}, {"c", 3, 0}};
  out.clear();
  ASSERT_TRUE(SortAll(Env::Default(), dir.File("db.mdb"), 100, big, &out, &runs).ok());
  EXPECT_EQ(KeysAndRows(out), Expected(big));
}

TEST(EntrySorter, ScratchFilesLieBesideTheGivenPath) {
  testing_support::TempDir dir;
  fs::create_directory(dir.File("sub"));
  EntrySorter sorter(Env::Default(), dir.File("sub/result.mdb"), 64);
  for (uint32_t i = 0; i < 100; ++i) ASSERT_TRUE(sorter.Add(std::string(10, char(i)), RowId{i, 0}).ok());
  ASSERT_GT(sorter.spilled_runs(), 0u);
  size_t scratch = 0;
  for (const auto& entry : fs::directory_iterator(dir.File("sub"))) {
    EXPECT_EQ(entry.path().filename().string().rfind(".result.mdb.tmp-", 0), 0u) << entry.path();
    ++scratch;
  }
  EXPECT_EQ(scratch, sorter.spilled_runs());
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(EntrySorter, AFailedScratchWriteIsReportedAndLeavesNothing) {
  testing_support::TempDir dir;
  const std::vector<Item> input = RandomInput(3000, 5);
  // Count the Env calls of a clean sort that spills, then fail each one in turn.
  uint64_t calls = 0;
  {
    FaultInjectionEnv env(Env::Default());
    std::vector<Item> out;
    ASSERT_TRUE(SortAll(&env, dir.File("db.mdb"), 4 << 10, input, &out).ok());
    calls = env.calls();
  }
  ASSERT_GT(calls, 10u);
  size_t failures = 0, kept_by_failed_removal = 0;
  for (uint64_t call = 1; call <= calls; ++call) {
    SCOPED_TRACE("ENOSPC at call " + std::to_string(call));
    FaultInjectionEnv env(Env::Default());
    env.FailAt(call, ENOSPC);
    std::vector<Item> out;
    const Status s = SortAll(&env, dir.File("db.mdb"), 4 << 10, input, &out);
    if (!s.ok()) {
      ++failures;
      EXPECT_EQ(s.kind(), ErrorKind::kNoSpace) << s.ToString();
      EXPECT_EQ(EntriesIn(dir.path()), 0u) << "a scratch file was left behind";
      continue;
    }
    // Only a failed removal does not fail the sort; it leaves that one file, for the
    // stale-temporary cleanup of the next run.
    EXPECT_EQ(KeysAndRows(out), Expected(input));
    EXPECT_LE(EntriesIn(dir.path()), 1u);
    if (EntriesIn(dir.path()) == 1) {
      ++kept_by_failed_removal;
      for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove(entry.path());
    }
  }
  EXPECT_GT(failures, calls / 2);
  EXPECT_GT(kept_by_failed_removal, 0u);
}

// An Env that damages every scratch file just before it is read back.
class DamagingEnv final : public EnvWrapper {
 public:
  enum class Damage { kFlipByte, kTruncate, kAppend, kSwapRecords };
  DamagingEnv(Env* base, Damage damage) : EnvWrapper(base), damage_(damage) {}
  Status NewSequentialFile(const std::string& path, std::unique_ptr<SequentialFile>* result) override {
    std::string bytes = testing_support::ReadFileBytes(path);
    if (bytes.size() > 40) {
      switch (damage_) {
        case Damage::kFlipByte: bytes[bytes.size() / 2] ^= 0x10; break;
        case Damage::kTruncate: bytes.resize(bytes.size() - 3); break;
        case Damage::kAppend: bytes += "x"; break;
        case Damage::kSwapRecords: {
          // Records are 9 + key bytes; with keys of 3 bytes the first two are 12 each.
          std::rotate(bytes.begin(), bytes.begin() + 12, bytes.begin() + 24);
          break;
        }
      }
      testing_support::WriteFileBytes(path, bytes);
    }
    return target()->NewSequentialFile(path, result);
  }

 private:
  Damage damage_;
};

TEST(EntrySorter, ADamagedRunFileFailsTheSort) {
  testing_support::TempDir dir;
  std::vector<Item> input;
  for (uint32_t i = 0; i < 400; ++i) input.push_back({std::string("k") + char('a' + i % 26) + char('a' + i / 26), i, 0});
  for (auto damage : {DamagingEnv::Damage::kFlipByte, DamagingEnv::Damage::kTruncate, DamagingEnv::Damage::kAppend,
                      DamagingEnv::Damage::kSwapRecords}) {
    SCOPED_TRACE(int(damage));
    DamagingEnv env(Env::Default(), damage);
    std::vector<Item> out;
    const Status s = SortAll(&env, dir.File("db.mdb"), 1 << 10, input, &out);
    EXPECT_EQ(s.kind(), ErrorKind::kIoError) << s.ToString();
    EXPECT_NE(s.detail().find("damaged"), std::string::npos) << s.detail();
    EXPECT_EQ(EntriesIn(dir.path()), 0u);
  }
}

}  // namespace
}  // namespace jet
