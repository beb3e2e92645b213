// Compaction failures: whatever goes wrong -- a destination in the way, a source that
// is no Jet file, a full disk at any single write, a result that does not match its
// source -- the compaction reports it and leaves neither a destination nor a
// temporary file behind, and never touches the source.
#include "jet/maintain/compact.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <vector>

#include "jet/file/data_page.h"
#include "jet/maintain/engine.h"
#include "jet/testing/fault_injection_env.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

// A small real file (Jet 3, 32 pages) to compact.
std::string SmallSource() {
  for (const std::string& f : testing_support::TestDataFiles("jet3"))
    if (f.size() >= 10 && f.substr(f.size() - 10) == "jk_del.mdb") return f;
  return "";
}

size_t EntriesIn(const std::string& dir) {
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
  return n;
}

TEST(CompactFailure, DestinationThatExistsIsRefusedAndLeftAlone) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  const std::string source = SmallSource();
  ASSERT_FALSE(source.empty());
  const std::string file = dir.File("there.mdb");
  ASSERT_TRUE(testing_support::WriteFileBytes(file, "keep me"));
  Status s = CompactDatabase(source, file);
  EXPECT_EQ(s.kind(), ErrorKind::kDestinationExists) << s.ToString();
  EXPECT_EQ(testing_support::ReadFileBytes(file), "keep me");

  // A folder, and (on Linux) a dangling link, count as existing too.
  fs::create_directory(dir.File("folder.mdb"));
  EXPECT_EQ(CompactDatabase(source, dir.File("folder.mdb")).kind(), ErrorKind::kDestinationExists);
#ifndef _WIN32
  const std::string link = dir.File("link.mdb");
  ASSERT_EQ(::symlink(dir.File("nowhere").c_str(), link.c_str()), 0);
  EXPECT_EQ(CompactDatabase(source, link).kind(), ErrorKind::kDestinationExists);
  EXPECT_EQ(EntriesIn(dir.path()), 3u);
#endif
}

TEST(CompactFailure, SourceThatIsNoJetFileLeavesNothing) {
  testing_support::TempDir dir;
  const std::string text = dir.File("notes.txt");
  ASSERT_TRUE(testing_support::WriteFileBytes(text, std::string(8192, 'x')));
  const std::string out = dir.File("out.mdb");
  EXPECT_EQ(CompactDatabase(text, out).kind(), ErrorKind::kNotJetDatabase);
  EXPECT_EQ(CompactDatabase(dir.File("missing.mdb"), out).kind(), ErrorKind::kNotFound);
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(CompactFailure, AceFilesAreRefusedWithAReason) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  for (const std::string& source : testing_support::TestDataFiles("ace")) {
    SCOPED_TRACE(source);
    const Status s = CompactDatabase(source, dir.File("out.accdb"));
    EXPECT_EQ(s.kind(), ErrorKind::kUnsupportedFormat) << s.ToString();
    EXPECT_EQ(EntriesIn(dir.path()), 0u);
  }
}

TEST(CompactFailure, DiskFullAtAnyCallLeavesNoFile) {
  SKIP_WITHOUT_TESTDATA();
  const std::string source = SmallSource();
  ASSERT_FALSE(source.empty());
  const std::string before = testing_support::ReadFileBytes(source);
  testing_support::TempDir dir;
  const std::string out = dir.File("out.mdb");

  // A clean run counts the calls: look at the destination, list its folder, create,
  // one write per page, sync, close, look again, rename, folder sync.
  uint64_t calls = 0;
  {
    FaultInjectionEnv env(Env::Default());
    ASSERT_TRUE(Compact(&env, source, out, CompactOptions(), nullptr).ok());
    calls = env.calls();
    ASSERT_GT(calls, 20u);
    fs::remove(out);
  }
  for (uint64_t call = 1; call <= calls; ++call) {
    SCOPED_TRACE("ENOSPC at call " + std::to_string(call));
    FaultInjectionEnv env(Env::Default());
    env.FailAt(call, ENOSPC);
    const Status s = Compact(&env, source, out, CompactOptions(), nullptr);
    if (s.ok()) {
      // Only the sweep of stale files may fail without failing the compaction.
      EXPECT_EQ(env.injected().rfind("list folder", 0), 0u) << env.injected();
      fs::remove(out);
      continue;
    }
    EXPECT_EQ(s.kind(), ErrorKind::kNoSpace) << s.ToString();
    EXPECT_EQ(EntriesIn(dir.path()), 0u) << "a file was left behind";
  }
  EXPECT_TRUE(testing_support::ReadFileBytes(source) == before) << "the source changed";
}

uint32_t PageOwner(const std::vector<uint8_t>& page) {
  return uint32_t(page[4]) | uint32_t(page[5]) << 8 | uint32_t(page[6]) << 16 | uint32_t(page[7]) << 24;
}

// Changes one byte in the fixed area of the first row of a data page of a table other
// than the catalog (a value, not a structure: the file still reads, but differs).
// False, and the page left alone, for any other page.
bool ChangeFirstRowValue(std::vector<uint8_t>* page) {
  const uint32_t owner = PageOwner(*page);
  // Not the catalog (owner 2), page 1, usage-map hosts (0) or long values.
  if ((*page)[0] != kPageData || owner <= 2 || owner == kLongValueOwner) return false;
  const uint16_t first_row = uint16_t((*page)[10] | (*page)[11] << 8) & kSlotOffsetMask;  // Jet 3 slot 0
  (*page)[first_row + 1] ^= 0x01;  // the first fixed byte after the 1-byte column count
  return true;
}

// Changes the first key byte of a (Jet 3) index leaf page; false for any other page.
bool BreakFirstKey(std::vector<uint8_t>* page) {
  constexpr size_t kJet3EntryArea = 248;
  const size_t free_space = size_t((*page)[2] | (*page)[3] << 8);
  if ((*page)[0] != kPageIndexLeaf || free_space + kJet3EntryArea + 8 > page->size()) return false;
  (*page)[kJet3EntryArea + 1] ^= 0x5A;  // the first key byte after its flag
  return true;
}

TEST(CompactFailure, MismatchFoundByVerificationRemovesTheResult) {
  SKIP_WITHOUT_TESTDATA();
  const std::string source = SmallSource();
  ASSERT_FALSE(source.empty());
  testing_support::TempDir dir;
  const std::string out = dir.File("out.mdb");

  bool altered = false;
  CompactOptions change_a_value;
  change_a_value.alter_page_for_test = [&](uint32_t, std::vector<uint8_t>* page) {
    if (!altered) altered = ChangeFirstRowValue(page);
  };
  Status s = Compact(Env::Default(), source, out, change_a_value, nullptr);
  ASSERT_TRUE(altered);
  EXPECT_EQ(s.kind(), ErrorKind::kDamaged) << s.ToString();
  EXPECT_NE(s.detail().find("verification"), std::string::npos) << s.detail();
  EXPECT_NE(s.detail().find("column"), std::string::npos) << "names the column: " << s.detail();
  EXPECT_EQ(EntriesIn(dir.path()), 0u);

  // A broken index page is caught too.
  CompactOptions break_an_index;
  bool broke = false;
  break_an_index.alter_page_for_test = [&](uint32_t, std::vector<uint8_t>* page) {
    if (!broke) broke = BreakFirstKey(page);
  };
  s = Compact(Env::Default(), source, out, break_an_index, nullptr);
  ASSERT_TRUE(broke);
  EXPECT_EQ(s.kind(), ErrorKind::kDamaged) << s.ToString();
  EXPECT_EQ(EntriesIn(dir.path()), 0u);

  // Rows are compared on one thread while the result's indexes are walked on another;
  // with a row and an index both changed, whichever thread finds its difference first,
  // the one reported is the first in the result's table order. `index_first`: the
  // broken index belongs to an earlier table than the changed row.
  for (const bool index_first : {true, false}) {
    SCOPED_TRACE(index_first ? "index of an earlier table" : "row of an earlier table");
    uint32_t row_owner = 0, index_owner = 0;
    CompactOptions both;
    both.alter_page_for_test = [&](uint32_t, std::vector<uint8_t>* page) {
      const uint32_t owner = PageOwner(*page);
      if (index_first ? index_owner == 0 : row_owner != 0 && index_owner == 0 && owner > row_owner) {
        if (BreakFirstKey(page)) index_owner = owner;
      } else if (row_owner == 0 && (!index_first || owner > index_owner)) {
        if (ChangeFirstRowValue(page)) row_owner = owner;
      }
    };
    s = Compact(Env::Default(), source, out, both, nullptr);
    ASSERT_NE(row_owner, 0u);
    ASSERT_NE(index_owner, 0u);
    EXPECT_EQ(s.kind(), ErrorKind::kDamaged) << s.ToString();
    EXPECT_EQ(s.detail().find("column") == std::string::npos, index_first) << s.detail();
    EXPECT_EQ(s.detail().find(" index ") != std::string::npos, index_first) << s.detail();
    EXPECT_EQ(EntriesIn(dir.path()), 0u);
  }

  // And without a hook the same compaction succeeds.
  EXPECT_TRUE(Compact(Env::Default(), source, out, CompactOptions(), nullptr).ok());
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// A large table's rows are compared in two halves on two threads: a difference in
// either half is found, and with one in each, the first half's is the one reported.
TEST(CompactFailure, VerificationComparesBothHalvesOfALargeTable) {
  SKIP_WITHOUT_TESTDATA();
  std::string source;
  for (const std::string& f : testing_support::TestDataFiles("jet3"))
    if (fs::path(f).filename() == "nwind.mdb") source = f;
  ASSERT_FALSE(source.empty());
  testing_support::TempDir dir;
  const std::string out = dir.File("out.mdb");

  // The data pages of each table, in the order they are written.
  std::map<uint32_t, std::vector<uint32_t>> data_pages;
  CompactOptions record;
  record.alter_page_for_test = [&](uint32_t number, std::vector<uint8_t>* page) {
    const uint32_t owner = PageOwner(*page);
    if ((*page)[0] == kPageData && owner > 2 && owner != kLongValueOwner) data_pages[owner].push_back(number);
  };
  ASSERT_TRUE(Compact(Env::Default(), source, out, record, nullptr).ok());
  fs::remove(out);
  std::vector<uint32_t> pages;  // the table with the most data pages: Order Details, 2,155 rows
  for (const auto& [owner, numbers] : data_pages)
    if (numbers.size() > pages.size()) pages = numbers;
  ASSERT_GE(pages.size(), 4u);

  for (const bool both : {false, true}) {
    CompactOptions change;
    change.alter_page_for_test = [&](uint32_t number, std::vector<uint8_t>* page) {
      if (number == pages.back() || (both && number == pages.front())) { ASSERT_TRUE(ChangeFirstRowValue(page)); }
    };
    const Status s = Compact(Env::Default(), source, out, change, nullptr);
    EXPECT_EQ(s.kind(), ErrorKind::kDamaged) << s.ToString();
    const std::string at = "written at " + std::to_string(both ? pages.front() : pages.back()) + ":0)";
    EXPECT_NE(s.detail().find(at), std::string::npos) << at << " in " << s.detail();
    EXPECT_EQ(EntriesIn(dir.path()), 0u);
  }
}

// Damaged sources: random bytes changed in copies of real files. Each compaction
// either succeeds -- and then its result passed verification against that damaged
// source -- or fails with an error; it never crashes, and a failure leaves no file.
TEST(CompactFailure, DamagedSourcesNeverCrashAndFailCleanly) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  std::vector<std::string> sources;
  for (const char* folder : {"jet3", "jet4"})
    for (const std::string& f : testing_support::TestDataFiles(folder))
      if (f.find("jk_del.mdb") != std::string::npos || f.find("mr_nopwd2003.mdb") != std::string::npos)
        sources.push_back(f);
  ASSERT_EQ(sources.size(), 2u);
  uint32_t seed = 12345;
  const auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  size_t succeeded = 0, failed = 0;
  for (const std::string& source : sources) {
    const std::string original = testing_support::ReadFileBytes(source);
    const size_t page_size = original[0x14] == 0 ? 2048 : 4096;
    for (int round = 0; round < 150; ++round) {
      std::string damaged = original;
      const int changes = 1 + int(next() % 8);
      for (int c = 0; c < changes; ++c) {
        const size_t at = page_size + next() % (damaged.size() - page_size);  // page 0 stays valid
        damaged[at] = char(next());
      }
      const std::string input = dir.File("input.mdb");
      const std::string out = dir.File("out.mdb");
      ASSERT_TRUE(testing_support::WriteFileBytes(input, damaged));
      const Status s = Compact(Env::Default(), input, out, CompactOptions(), nullptr);
      if (s.ok()) {
        ++succeeded;
        fs::remove(out);
      } else {
        ++failed;
        EXPECT_NE(s.kind(), ErrorKind::kInvalidArgument) << s.ToString();
      }
      fs::remove(input);
      ASSERT_EQ(EntriesIn(dir.path()), 0u) << "round " << round << ": " << s.ToString();
    }
  }
  EXPECT_GT(failed, 0u);  // the damage was seen at least sometimes
  std::printf("damaged sources: %zu compacted, %zu refused\n", succeeded, failed);
}

// Index sorts that spill: with a sort budget of a few entries every index sort of the
// compaction (row order, index builds, verification) goes through scratch files, and
// the result must be byte for byte the one made in memory on one thread, with no
// scratch file left.
TEST(CompactFailure, SpillingSortsGiveTheSameFile) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  for (const char* name : {"nwind.mdb", "jk_del.mdb", "jk_index.mdb"}) {
    std::string source;
    for (const std::string& f : testing_support::TestDataFiles("jet3"))
      if (fs::path(f).filename() == name) source = f;
    ASSERT_FALSE(source.empty()) << name;
    SCOPED_TRACE(source);
    ASSERT_TRUE(Compact(Env::Default(), source, dir.File("memory.mdb"), CompactOptions(), nullptr).ok());
    CompactOptions tiny;
    tiny.sort_memory_budget = 1024;
    tiny.second_thread_pages = 0;  // the runs spilled from the second thread
    FaultInjectionEnv counting(Env::Default());  // counts the calls, fails none
    const Status s = Compact(&counting, source, dir.File("spilled.mdb"), tiny, nullptr);
    ASSERT_TRUE(s.ok()) << s.ToString();
    const uint64_t pages = fs::file_size(dir.File("memory.mdb")) / 2048;  // Jet 3: one write each
    EXPECT_GT(counting.calls(), pages + 20) << "the sorts did not spill";
    EXPECT_TRUE(testing_support::ReadFileBytes(dir.File("memory.mdb")) ==
                testing_support::ReadFileBytes(dir.File("spilled.mdb")));
    EXPECT_EQ(EntriesIn(dir.path()), 2u) << "scratch files left behind";
    fs::remove(dir.File("memory.mdb"));
    fs::remove(dir.File("spilled.mdb"));
  }
}

// A crash at any call of a compaction whose sorts spill -- while a run is written,
// read back or removed, as well as while the result is written -- leaves files that
// the next compaction of the same destination removes before it succeeds.
TEST(CompactFailure, CrashWithSpilledSortsIsCleanedUpByTheNextRun) {
  SKIP_WITHOUT_TESTDATA();
  const std::string source = SmallSource();
  ASSERT_FALSE(source.empty());
  testing_support::TempDir dir;
  const std::string out = dir.File("out.mdb");
  CompactOptions tiny;
  tiny.sort_memory_budget = 512;
  uint64_t calls = 0, calls_in_memory = 0;
  const CompactOptions in_memory;
  const CompactOptions* const both[] = {&tiny, &in_memory};
  for (const CompactOptions* options : both) {
    FaultInjectionEnv env(Env::Default());
    ASSERT_TRUE(Compact(&env, source, out, *options, nullptr).ok());
    (options == &tiny ? calls : calls_in_memory) = env.calls();
    fs::remove(out);
  }
  ASSERT_GT(calls, calls_in_memory + 20) << "the sorts did not spill";
  std::printf("%llu calls, %llu of them for scratch files\n", (unsigned long long)calls,
              (unsigned long long)(calls - calls_in_memory));
  const std::string expected = [&] {
    EXPECT_TRUE(Compact(Env::Default(), source, out, CompactOptions(), nullptr).ok());
    const std::string bytes = testing_support::ReadFileBytes(out);
    fs::remove(out);
    return bytes;
  }();
  ::testing::FLAGS_gtest_death_test_style = "fast";
  size_t left_files = 0;
  for (uint64_t call = 1; call <= calls; ++call) {
    SCOPED_TRACE("crash at call " + std::to_string(call));
    EXPECT_EXIT(
        {
          FaultInjectionEnv env(Env::Default());
          env.CrashAt(call, /*drop_unsynced=*/true);
          Compact(&env, source, out, tiny, nullptr);
          std::_Exit(0);
        },
        ::testing::ExitedWithCode(FaultInjectionEnv::kCrashExitStatus), "");
    // A crash after the rename leaves the result in place: sound, or cut back to what
    // was flushed -- then it is no result at all, and is taken away by hand here.
    if (fs::exists(out)) fs::remove(out);
    if (EntriesIn(dir.path()) > 0) ++left_files;
    const Status s = Compact(Env::Default(), source, out, tiny, nullptr);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(EntriesIn(dir.path()), 1u) << "the next run left files behind";
    EXPECT_TRUE(testing_support::ReadFileBytes(out) == expected);
    fs::remove(out);
  }
  // Most crash points fall while scratch files or the result are on disk.
  EXPECT_GT(left_files, calls / 2);
}

}  // namespace
}  // namespace jet
