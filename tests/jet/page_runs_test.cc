// Page runs: every page comes back right and whole, a page that cannot be read fails
// alone, and the runs save the calls they are for.
#include <gtest/gtest.h>

#include <vector>

#include "jet/file/page_file.h"
#include "jet/file/page_runs.h"
#include "tests/jet/writer_test_util.h"

namespace {

using writer_test::FlakyFile;
using writer_test::Jet3;

// 300 pages, each page's bytes 1..3 holding its number.
std::vector<uint8_t> NumberedImage() {
  const jet::Format& f = Jet3();
  std::vector<uint8_t> image(300 * size_t(f.page_size), 0);
  const std::vector<uint8_t> header = writer_test::MakeHeaderPage(f);
  std::copy(header.begin(), header.end(), image.begin());
  for (uint32_t n = 1; n < 300; ++n) {
    uint8_t* page = image.data() + size_t(n) * f.page_size;
    page[1] = uint8_t(n);
    page[2] = uint8_t(n >> 8);
    page[f.page_size - 1] = uint8_t(n);  // the last byte too: the whole page is there
  }
  return image;
}

uint32_t NumberOf(const uint8_t* page) { return page[1] | uint32_t(page[2]) << 8; }

TEST(PageRuns, EveryPageOnceInOrderAndABadPageAlone) {
  const std::vector<uint8_t> image = NumberedImage();
  std::unique_ptr<jet::PageFile> base = writer_test::OpenImage(image);
  ASSERT_NE(base, nullptr);
  FlakyFile file(*base, 70);
  const uint32_t last_byte = Jet3().page_size - 1;

  std::vector<uint32_t> seen, unreadable;
  jet::ForEachPage(
      file, 1, 300,
      [&](uint32_t n, const uint8_t* page) {
        EXPECT_EQ(NumberOf(page), n);
        EXPECT_EQ(page[last_byte], uint8_t(n));
        seen.push_back(n);
      },
      [&](uint32_t n) { unreadable.push_back(n); });
  ASSERT_EQ(seen.size(), 298u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i + 1 + (i + 1 >= 70));
  EXPECT_EQ(unreadable, std::vector<uint32_t>{70});
  EXPECT_LT(file.calls, 80);  // 5 runs, and the failed run's 64 pages one by one

  // Ascending pages come in runs; going back and forth between two neighbours reads
  // nothing more; a bad page fails alone.
  file.calls = 0;
  file.pages = 0;
  jet::PageReadAhead ahead(file);
  const uint8_t* page = nullptr;
  for (uint32_t n = 100; n < 200; ++n) {
    ASSERT_TRUE(ahead.Get(n, &page).ok());
    EXPECT_EQ(NumberOf(page), n);
    EXPECT_EQ(page[last_byte], uint8_t(n));
  }
  EXPECT_LE(file.calls, 10);  // runs of 2, 4, 8, then 16 pages
  file.calls = 0;
  for (int i = 0; i < 20; ++i) {
    const uint32_t n = 40 + i % 2;
    ASSERT_TRUE(ahead.Get(n, &page).ok());
    EXPECT_EQ(NumberOf(page), n);
  }
  EXPECT_LE(file.calls, 2);
  // A value whose pages a page a little before interrupts (another value's rows)
  // still comes in runs.
  file.calls = 0;
  for (uint32_t n = 203; n < 240; ++n) {
    for (uint32_t asked : {195u, n}) {
      ASSERT_TRUE(ahead.Get(asked, &page).ok());
      EXPECT_EQ(NumberOf(page), asked);
    }
  }
  EXPECT_LE(file.calls, 8);
  // A short ascending stretch after a jump (a long value of three pages) reads
  // hardly more than it asks for.
  file.pages = 0;
  for (uint32_t n = 150; n < 153; ++n) ASSERT_TRUE(ahead.Get(n, &page).ok());
  EXPECT_LE(file.pages, 4u);
  EXPECT_FALSE(ahead.Get(70, &page).ok());
  ASSERT_TRUE(ahead.Get(71, &page).ok());  // its run holds the bad page: read alone
  EXPECT_EQ(NumberOf(page), 71u);
  EXPECT_FALSE(ahead.Get(300, &page).ok());
}

}  // namespace
