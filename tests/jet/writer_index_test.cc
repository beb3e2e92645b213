// IndexBuilder: trees written into an in-memory image and walked back with the index
// reader, plus page-level checks of the layout.
#include "jet/write/index_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "jet/base/byte_order.h"
#include "jet/read/index_reader.h"
#include "jet/read/table_def.h"
#include "tests/jet/writer_test_util.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

using writer_test::Jet3;
using writer_test::Jet4;
using writer_test::MemorySink;

constexpr uint32_t kOwner = 77;

struct Entry {
  std::string key;
  RowId row;
  bool operator<(const Entry& o) const {
    if (key != o.key)
      return std::lexicographical_compare(key.begin(), key.end(), o.key.begin(), o.key.end(),
                                          [](char a, char b) { return uint8_t(a) < uint8_t(b); });
    return row < o.row;
  }
};

std::string Pseudo(size_t length, uint32_t seed) {
  std::string s(length, '\0');
  uint32_t x = seed * 2654435761u + 7;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = char(x >> 16);
  }
  return s;
}

struct Built {
  MemorySink sink;
  IndexBuildResult result;
  std::vector<uint8_t> image;
  std::unique_ptr<PageFile> file;
  explicit Built(const Format& f) : sink(f) {}
};

std::unique_ptr<Built> Build(const Format& f, std::vector<Entry> entries) {
  std::sort(entries.begin(), entries.end());
  auto built = std::make_unique<Built>(f);
  IndexBuilder builder(&built->sink, kOwner);
  for (const Entry& e : entries) {
    Status s = builder.Add(writer_test::Bytes(e.key), e.row);
    EXPECT_TRUE(s.ok()) << s.ToString();
  }
  EXPECT_TRUE(builder.Finish(&built->result).ok());
  built->image = writer_test::MakeImage(built->sink);
  built->file = writer_test::OpenImage(built->image);
  return built;
}

// Walks the tree and compares its entries with `expected` (sorted here).
void ExpectWalk(const Built& built, std::vector<Entry> expected) {
  std::sort(expected.begin(), expected.end());
  ASSERT_NE(built.file, nullptr);
  std::vector<Entry> seen;
  IndexWalkStats stats;
  Status s = WalkIndex(*built.file, kOwner, built.result.root_page,
                       [&](const std::string& key, const RowId& row) {
                         seen.push_back(Entry{key, row});
                         return true;
                       },
                       &stats);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_TRUE(stats.sibling_links_consistent);
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i) {
    ASSERT_EQ(seen[i].key, expected[i].key) << i;
    ASSERT_EQ(seen[i].row, expected[i].row) << i;
  }
  EXPECT_EQ(built.result.entry_count, expected.size());
  EXPECT_EQ(built.result.pages, built.sink.allocated());
  EXPECT_EQ(built.sink.pages().size(), built.sink.allocated().size());
  EXPECT_EQ(stats.leaf_pages + stats.node_pages, built.result.pages.size());
  // A node's children lie one after another, but for a node page the builder may
  // have put between them, and are read a run at a time.
  writer_test::FlakyFile counted(*built.file, 0);
  IndexWalkStats again;
  ASSERT_TRUE(WalkIndex(counted, kOwner, built.result.root_page, [](const std::string&, const RowId&) { return true; },
                        &again).ok());
  EXPECT_LE(counted.calls, int(2 * again.node_pages + again.leaf_pages / 8 + 1))
      << again.leaf_pages << " leaves, " << again.node_pages << " nodes";
}

// Layout rules every page must follow.
void ExpectPageLayout(const Built& built) {
  const Format& f = built.sink.format();
  for (uint32_t n : built.result.pages) {
    const std::vector<uint8_t>& raw = built.sink.page(n);
    IndexPage page;
    ASSERT_TRUE(DecodeIndexPage(f, raw.data(), &page).ok()) << n;
    EXPECT_EQ(raw[1], 0x01);
    EXPECT_EQ(page.owner, kOwner);
    EXPECT_EQ(raw[f.index_node_flag], page.is_leaf() ? 0 : 1);
    if (!IsJet3(f.version)) {
      EXPECT_EQ(LoadLe32(raw.data() + 8), 0u);
    }
    // Free space: page end minus the end of the last entry (last bitmap bit).
    size_t last = 0;
    for (size_t k = 0; k < size_t(f.index_entries - f.index_bitmap) * 8; ++k)
      if (raw[f.index_bitmap + k / 8] & (1 << (k % 8))) last = k;
    EXPECT_EQ(page.free_space, f.page_size - f.index_entries - last);
    if (page.is_leaf()) {
      EXPECT_EQ(page.tail, 0u);
    }
    if (!page.is_leaf()) {
      EXPECT_FALSE(page.entries.empty());
    }
    if (page.entries.size() > 1) {
      const std::string& a = page.entries.front().key;
      const std::string& b = page.entries.back().key;
      size_t common = 0;
      while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
      // The prefix covers at least the keys' common part (it may reach into the page
      // bytes of the row pointer, never further).
      EXPECT_GE(page.prefix_length, std::min<size_t>(common, IsJet3(f.version) ? 255 : 65535));
      EXPECT_LE(page.prefix_length, a.size() + 3);
    }
  }
}

TEST(WriterIndex, LongSharedPrefixesRoundTrip) {
  for (const Format* f : {&Jet3(), &Jet4()}) {
    std::vector<Entry> entries;
    const std::string prefix(60, 'P');
    for (uint32_t i = 0; i < 5000; ++i) {
      char digits[16];
      std::snprintf(digits, sizeof digits, "%07u", i * 7919 % 100000);
      entries.push_back(Entry{prefix + digits + '\x01', RowId{100 + i / 50, uint8_t(i % 50)}});
    }
    std::unique_ptr<Built> built = Build(*f, entries);
    ExpectWalk(*built, entries);
    ExpectPageLayout(*built);
    EXPECT_EQ(built->result.distinct_keys, 5000u);
    EXPECT_GE(built->result.levels, 2u);
    // Prefix compression must make a leaf hold far more than uncompressed entries would.
    const size_t uncompressed_per_leaf = IndexBuilder::EntryAreaSize(*f) / (60 + 8 + 4);
    EXPECT_LT(built->result.pages.size(), 5000 / uncompressed_per_leaf / 3);
  }
}

TEST(WriterIndex, DuplicateKeysOrderedByRow) {
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < 3000; ++i)
    entries.push_back(Entry{std::string("\x7f") + char('A' + i % 10) + '\0', RowId{5 + i, uint8_t(i)}});
  std::unique_ptr<Built> built = Build(Jet4(), entries);
  ExpectWalk(*built, entries);
  ExpectPageLayout(*built);
  EXPECT_EQ(built->result.distinct_keys, 10u);
}

TEST(WriterIndex, ThreeLevelsAndEveryTreeShape) {
  // 200-byte keys without common bytes: 8 per J3 leaf, so a few hundred entries need
  // several node pages. Every count up to 300 gives a different last-page shape.
  std::vector<Entry> all;
  for (uint32_t i = 0; i < 300; ++i) all.push_back(Entry{Pseudo(200, i), RowId{i + 1, 0}});
  uint32_t deepest = 0;
  for (size_t count = 1; count <= all.size(); count += (count < 100 ? 1 : 7)) {
    SCOPED_TRACE(count);
    std::vector<Entry> entries(all.begin(), all.begin() + count);
    std::unique_ptr<Built> built = Build(Jet3(), entries);
    ExpectWalk(*built, entries);
    ExpectPageLayout(*built);
    deepest = std::max(deepest, built->result.levels);
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(deepest, 3u);
}

TEST(WriterIndex, NodePagesNameTheirLastChildInTheTail) {
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < 40; ++i) entries.push_back(Entry{Pseudo(200, i), RowId{i + 1, 0}});
  std::unique_ptr<Built> built = Build(Jet3(), entries);
  ASSERT_EQ(built->result.levels, 2u);
  IndexPage root;
  ASSERT_TRUE(DecodeIndexPage(Jet3(), built->sink.page(built->result.root_page).data(), &root).ok());
  EXPECT_FALSE(root.is_leaf());
  ASSERT_NE(root.tail, 0u);
  // The tail is the last leaf: no entry names it and it has no next page.
  for (const IndexPageEntry& e : root.entries) EXPECT_NE(e.child, root.tail);
  IndexPage tail;
  ASSERT_TRUE(DecodeIndexPage(Jet3(), built->sink.page(root.tail).data(), &tail).ok());
  EXPECT_TRUE(tail.is_leaf());
  EXPECT_EQ(tail.next, 0u);
  // Each node entry copies the last entry of its child.
  for (const IndexPageEntry& e : root.entries) {
    IndexPage child;
    ASSERT_TRUE(DecodeIndexPage(Jet3(), built->sink.page(e.child).data(), &child).ok());
    EXPECT_EQ(child.entries.back().key, e.key);
    EXPECT_EQ(child.entries.back().row, e.row);
  }
}

TEST(WriterIndex, PrefixNeverTakesTheRowByte) {
  // The second key starts with the first entry's complete bytes, row byte included.
  const std::vector<Entry> entries = {
      Entry{"a", RowId{0x010203, 4}},
      Entry{std::string("a\x01\x02\x03\x04zz"), RowId{0x010203, 5}},
      Entry{std::string("a\x01\x02\x03\x04zz"), RowId{0x010203, 6}}};
  std::unique_ptr<Built> built = Build(Jet4(), entries);
  ExpectWalk(*built, entries);
  IndexPage page;
  ASSERT_TRUE(DecodeIndexPage(Jet4(), built->sink.page(built->result.root_page).data(), &page).ok());
  EXPECT_EQ(page.prefix_length, 4u);
}

TEST(WriterIndex, EmptyIndexIsOneEmptyLeaf) {
  std::unique_ptr<Built> built = Build(Jet4(), {});
  EXPECT_EQ(built->result.levels, 1u);
  EXPECT_EQ(built->result.pages, std::vector<uint32_t>{built->result.root_page});
  EXPECT_EQ(built->result.distinct_keys, 0u);
  ExpectWalk(*built, {});
  IndexPage page;
  ASSERT_TRUE(DecodeIndexPage(Jet4(), built->sink.page(built->result.root_page).data(), &page).ok());
  EXPECT_TRUE(page.is_leaf());
  EXPECT_EQ(page.free_space, 4096u - 480u);
}

TEST(WriterIndex, RefusesEntriesOutOfOrderOrTooLong) {
  MemorySink sink(Jet4());
  IndexBuilder builder(&sink, kOwner);
  ASSERT_TRUE(builder.Add(writer_test::Bytes("b"), RowId{3, 1}).ok());
  EXPECT_EQ(builder.Add(writer_test::Bytes("a"), RowId{9, 0}).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(builder.Add(writer_test::Bytes("b"), RowId{3, 1}).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(builder.Add(writer_test::Bytes("b"), RowId{3, 0}).kind(), ErrorKind::kInvalidArgument);
  EXPECT_TRUE(builder.Add(writer_test::Bytes("b"), RowId{3, 2}).ok());
  // "b" < "b\x00": a key that extends the previous one sorts after it.
  EXPECT_TRUE(builder.Add(std::vector<uint8_t>{'b', 0}, RowId{1, 0}).ok());
  const std::vector<uint8_t> too_long(IndexBuilder::MaxKeySize(Jet4()) + 1, 'z');
  EXPECT_EQ(builder.Add(too_long, RowId{1, 0}).kind(), ErrorKind::kInvalidArgument);
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

// Every index of the Access files, rebuilt from its own entries, walks back the same.
TEST(WriterIndex, AccessIndexesRebuildToTheSameEntries) {
  SKIP_WITHOUT_TESTDATA();
  int indexes = 0, multi_level = 0;
  for (const char* folder : {"jet3", "jet4"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      SCOPED_TRACE(path);
      std::unique_ptr<PageFile> file;
      if (!PageFile::Open(path, &file).ok()) continue;
      std::vector<uint8_t> page(file->page_size());
      for (uint32_t n = 2; n < file->page_count(); ++n) {
        if (!file->ReadPage(n, page.data()).ok() || page[0] != kPageTableDef) continue;
        TableDef table;
        if (!ReadTableDef(*file, n, &table).ok()) continue;
        for (const RealIndex& index : table.real_indexes) {
          std::vector<Entry> entries;
          IndexWalkStats stats;
          Status s = WalkIndex(*file, n, index.root_page,
                               [&](const std::string& key, const RowId& row) {
                                 entries.push_back(Entry{key, row});
                                 return true;
                               },
                               &stats);
          if (!s.ok()) continue;  // definitions on scratch pages point at nothing
          SCOPED_TRACE(n);
          std::unique_ptr<Built> built = Build(file->format(), entries);
          ExpectWalk(*built, entries);
          ExpectPageLayout(*built);
          // Never more pages than Access used for the same entries.
          EXPECT_LE(built->result.pages.size(), stats.leaf_pages + stats.node_pages);
          if (built->result.levels > 1) ++multi_level;
          ++indexes;
          if (HasFatalFailure()) return;
        }
      }
    }
  }
  EXPECT_GE(indexes, 100);
  EXPECT_GE(multi_level, 10);
}

}  // namespace
}  // namespace jet
