// LongValueWriter: values stored on LVAL pages and read back with the long-value
// reader through a whole in-memory database image.
#include "jet/write/long_value_writer.h"

#include <gtest/gtest.h>

#include <set>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/read/long_value.h"
#include "tests/jet/writer_test_util.h"

namespace jet {
namespace {

using writer_test::Jet3;
using writer_test::Jet4;
using writer_test::MemorySink;

std::vector<uint8_t> ValueOf(size_t length, uint32_t seed) {
  std::vector<uint8_t> v(length);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = uint8_t(x >> 16);
  }
  return v;
}

void ExpectLvalPages(const MemorySink& sink, const std::vector<uint32_t>& pages) {
  const Format& f = sink.format();
  for (uint32_t n : pages) {
    const std::vector<uint8_t>& page = sink.page(n);
    DataPageHeader header;
    ASSERT_TRUE(ParseDataPage(f, page.data(), &header).ok()) << n;
    EXPECT_EQ(header.owner, kLongValueOwner);
    EXPECT_TRUE(header.free_space_matches);
    if (!IsJet3(f.version)) {
      EXPECT_EQ(LoadLe32(page.data() + 8), 0u);
    }
  }
}

TEST(WriterLongValue, ValuesOfEverySizeReadBack) {
  for (const Format* f : {&Jet3(), &Jet4()}) {
    MemorySink sink(*f);
    LongValueWriter writer(&sink);
    const size_t max_row = LongValueWriter::MaxRowSize(*f);
    EXPECT_EQ(max_row, IsJet3(f->version) ? 2036u : 4076u);
    const std::vector<size_t> sizes = {1,           50,          max_row, max_row + 1, 300,
                                       3 * f->page_size + 17, 100000, 2 * max_row, 0, 7};
    std::vector<std::vector<uint8_t>> values;
    std::vector<LongValueField> fields;
    for (size_t i = 0; i < sizes.size(); ++i) {
      values.push_back(ValueOf(sizes[i], uint32_t(i)));
      LongValueField field;
      ASSERT_TRUE(writer.Store(values.back(), &field).ok());
      fields.push_back(field);
    }
    ASSERT_TRUE(writer.Flush().ok());
    EXPECT_EQ(writer.values_stored(), sizes.size());
    // Every allocated page was written and is listed, in order.
    EXPECT_EQ(writer.pages(), sink.allocated());
    EXPECT_EQ(sink.pages().size(), sink.allocated().size());
    ExpectLvalPages(sink, writer.pages());

    std::vector<uint8_t> image = writer_test::MakeImage(sink);
    std::unique_ptr<PageFile> file = writer_test::OpenImage(image);
    ASSERT_NE(file, nullptr);
    LongValueReader reader(*file);
    for (size_t i = 0; i < sizes.size(); ++i) {
      SCOPED_TRACE(sizes[i]);
      LongValueHeader header;
      ASSERT_TRUE(ParseLongValueHeader(fields[i].data(), fields[i].size(), &header).ok());
      EXPECT_EQ(header.length, sizes[i]);
      const uint8_t expected_kind = sizes[i] == 0          ? kLongValueInline
                                    : sizes[i] <= max_row ? kLongValueSingle
                                                          : kLongValueChain;
      EXPECT_EQ(header.kind, expected_kind);
      EXPECT_EQ(LoadLe32(fields[i].data() + 8), 0u);
      std::vector<uint8_t> out;
      std::vector<RowId> rows;
      ASSERT_TRUE(reader.Read(fields[i].data(), fields[i].size(), &out, &rows).ok());
      EXPECT_EQ(out, values[i]);
      if (expected_kind == kLongValueChain) {
        // Rows after the first each fill a page of their own.
        const size_t chunk = max_row - 4;
        EXPECT_GE(rows.size(), (sizes[i] + chunk - 1) / chunk);
        EXPECT_LE(rows.size(), (sizes[i] + chunk - 1) / chunk + 1);
        std::set<uint32_t> distinct;
        for (const RowId& r : rows) distinct.insert(r.page);
        EXPECT_EQ(distinct.size(), rows.size());
      }
    }
  }
}

TEST(WriterLongValue, SmallValuesShareAPage) {
  MemorySink sink(Jet4());
  LongValueWriter writer(&sink);
  std::set<uint32_t> pages_used;
  for (int i = 0; i < 100; ++i) {
    LongValueField field;
    ASSERT_TRUE(writer.Store(ValueOf(100, i), &field).ok());
    pages_used.insert(LoadLe32(field.data() + 4) >> 8);
  }
  ASSERT_TRUE(writer.Flush().ok());
  // 4,082 bytes of room per page hold 40 rows of 100 bytes plus their slots.
  EXPECT_EQ(pages_used.size(), 3u);
  EXPECT_EQ(writer.pages().size(), 3u);
  ExpectLvalPages(sink, writer.pages());

  // A chain starts in what the open page has left when that is worth a row.
  MemorySink sink2(Jet4());
  LongValueWriter chained(&sink2);
  LongValueField small, big;
  ASSERT_TRUE(chained.Store(ValueOf(1000, 1), &small).ok());
  ASSERT_TRUE(chained.Store(ValueOf(5000, 2), &big).ok());
  ASSERT_TRUE(chained.Flush().ok());
  EXPECT_EQ(LoadLe32(small.data() + 4) >> 8, LoadLe32(big.data() + 4) >> 8);
  EXPECT_EQ(chained.pages().size(), 2u);
}

// A sink that runs out of pages after a few.
class FailingSink final : public PageSink {
 public:
  explicit FailingSink(int pages) : left_(pages) {}
  const Format& format() const override { return Jet4(); }
  Status Allocate(uint32_t* n) override {
    if (left_-- <= 0) return Status::Error(ErrorKind::kNoSpace, "full");
    *n = next_++;
    return Status::Ok();
  }
  Status Write(uint32_t, std::span<const uint8_t>) override { return Status::Ok(); }

 private:
  int left_;
  uint32_t next_ = 2;
};

TEST(WriterLongValue, SinkFailureIsReturned) {
  FailingSink sink(2);
  LongValueWriter writer(&sink);
  LongValueField field;
  EXPECT_EQ(writer.Store(ValueOf(20000, 3), &field).kind(), ErrorKind::kNoSpace);
}

}  // namespace
}  // namespace jet
