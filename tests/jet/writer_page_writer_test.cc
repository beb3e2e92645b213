// PageWriter: a new file written page by page, encoded pages, and failures that must
// leave no file behind.
#include "jet/file/page_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "jet/file/page_file.h"
#include "jet/file/rc4.h"
#include "jet/testing/fault_injection_env.h"
#include "tests/jet/writer_test_util.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

using writer_test::Jet3;
using writer_test::Jet4;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<uint8_t> Filled(const Format& f, uint8_t type, uint8_t value) {
  std::vector<uint8_t> page(f.page_size, value);
  page[0] = type;
  page[1] = 0x01;
  return page;
}

// The real file system, except that writes fail with ENOSPC after `writes_left`.
class DiskFullEnv final : public EnvWrapper {
 public:
  explicit DiskFullEnv(int writes_left) : EnvWrapper(Env::Default()), writes_left_(writes_left) {}
  Status NewWritableFile(const std::string& path, unsigned mode,
                         std::unique_ptr<WritableFile>* result) override {
    std::unique_ptr<WritableFile> real;
    Status s = Env::Default()->NewWritableFile(path, mode, &real);
    if (!s.ok()) return s;
    result->reset(new File(std::move(real), &writes_left_));
    return Status::Ok();
  }

 private:
  class File final : public WritableFile {
   public:
    File(std::unique_ptr<WritableFile> real, int* left) : real_(std::move(real)), left_(left) {}
    Status Append(const void* d, size_t n) override { return real_->Append(d, n); }
    Status WriteAt(uint64_t offset, const void* d, size_t n) override {
      if ((*left_)-- <= 0) return Status::FromErrno(ENOSPC, "write");
      return real_->WriteAt(offset, d, n);
    }
    Status Sync() override { return real_->Sync(); }
    Status Close() override { return real_->Close(); }

   private:
    std::unique_ptr<WritableFile> real_;
    int* left_;
  };
  int writes_left_;
};

TEST(WriterPageWriter, WritesPagesAtTheirNumbersAndRefusesMistakes) {
  testing_support::TempDir dir;
  const std::string path = dir.File("out.mdb");
  const Format& f = Jet4();
  std::unique_ptr<PageWriter> writer;
  ASSERT_TRUE(PageWriter::Create(Env::Default(), path, f, 0, 0644, &writer).ok());
  uint32_t numbers[3];
  for (uint32_t& n : numbers) ASSERT_TRUE(writer->Allocate(&n).ok());
  EXPECT_EQ(numbers[0], 0u);
  EXPECT_EQ(numbers[2], 2u);
  EXPECT_EQ(writer->page_count(), 3u);

  // Out of order is fine; unallocated, twice or a wrong size is not.
  ASSERT_TRUE(writer->Write(2, Filled(f, kPageData, 0x22)).ok());
  EXPECT_EQ(writer->Write(3, Filled(f, kPageData, 0)).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(writer->Write(2, Filled(f, kPageData, 0)).kind(), ErrorKind::kInvalidArgument);
  EXPECT_EQ(writer->Write(1, std::vector<uint8_t>(100)).kind(), ErrorKind::kInvalidArgument);
  ASSERT_TRUE(writer->Write(0, writer_test::MakeHeaderPage(f)).ok());
  // Page 1 is still missing.
  EXPECT_EQ(writer->Finish().kind(), ErrorKind::kInvalidArgument);
  ASSERT_TRUE(writer->Write(1, Filled(f, kPageData, 0x11)).ok());
  ASSERT_TRUE(writer->Finish().ok());
  writer.reset();  // a finished file stays

  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(path, &file).ok());
  EXPECT_EQ(file->page_count(), 3u);
  std::vector<uint8_t> page(f.page_size);
  ASSERT_TRUE(file->ReadPage(2, page.data()).ok());
  EXPECT_EQ(page, Filled(f, kPageData, 0x22));

  // The destination must not exist.
  std::unique_ptr<PageWriter> again;
  EXPECT_EQ(PageWriter::Create(Env::Default(), path, f, 0, 0644, &again).kind(),
            ErrorKind::kDestinationExists);
}

TEST(WriterPageWriter, EncodesEveryPageButTheHeader) {
  testing_support::TempDir dir;
  const std::string path = dir.File("enc.mdb");
  const Format& f = Jet3();
  const uint32_t key = 0x6B39DAC7;
  std::unique_ptr<PageWriter> writer;
  ASSERT_TRUE(PageWriter::Create(Env::Default(), path, f, key, 0644, &writer).ok());
  uint32_t n;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer->Allocate(&n).ok());
  const std::vector<uint8_t> header = writer_test::MakeHeaderPage(f, key);
  ASSERT_TRUE(writer->Write(0, header).ok());
  for (uint32_t i = 1; i < 4; ++i) ASSERT_TRUE(writer->Write(i, Filled(f, kPageData, uint8_t(i))).ok());
  ASSERT_TRUE(writer->Finish().ok());

  const std::string text = testing_support::ReadFileBytes(path);
  const std::vector<uint8_t> raw(text.begin(), text.end());
  ASSERT_EQ(raw.size(), 4u * f.page_size);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), raw.begin()));  // page 0 as given
  std::vector<uint8_t> page3(raw.begin() + 3 * f.page_size, raw.end());
  EXPECT_NE(page3, Filled(f, kPageData, 3));
  ApplyPageCipher(key, 3, page3.data(), page3.size());
  EXPECT_EQ(page3, Filled(f, kPageData, 3));

  // The reader, seeing the key in the header, decodes the pages again.
  std::unique_ptr<PageFile> file;
  ASSERT_TRUE(PageFile::Open(path, &file).ok());
  EXPECT_EQ(file->header().db_key, key);
  std::vector<uint8_t> page(f.page_size);
  ASSERT_TRUE(file->ReadPage(2, page.data()).ok());
  EXPECT_EQ(page, Filled(f, kPageData, 2));
}

TEST(WriterPageWriter, DiskFullLeavesNoFile) {
  testing_support::TempDir dir;
  const std::string path = dir.File("full.mdb");
  const Format& f = Jet4();
  {
    DiskFullEnv env(0);
    std::unique_ptr<PageWriter> writer;
    ASSERT_TRUE(PageWriter::Create(&env, path, f, 0, 0644, &writer).ok());
    uint32_t n;
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer->Allocate(&n).ok());
    ASSERT_TRUE(writer->Write(0, writer_test::MakeHeaderPage(f)).ok());  // held
    // Page 2 does not follow page 0, which goes to the file first and fails.
    EXPECT_EQ(writer->Write(2, Filled(f, kPageData, 2)).kind(), ErrorKind::kNoSpace);
    // The failure sticks: nothing later pretends to work.
    EXPECT_EQ(writer->Write(1, Filled(f, kPageData, 1)).kind(), ErrorKind::kNoSpace);
    EXPECT_EQ(writer->Allocate(&n).kind(), ErrorKind::kNoSpace);
    EXPECT_EQ(writer->Finish().kind(), ErrorKind::kNoSpace);
    EXPECT_TRUE(Exists(path));
  }
  EXPECT_FALSE(Exists(path));
  {
    // Pages that follow each other are held to the end: Finish reports their failure.
    DiskFullEnv env(0);
    std::unique_ptr<PageWriter> writer;
    ASSERT_TRUE(PageWriter::Create(&env, path, f, 0, 0644, &writer).ok());
    uint32_t n;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(writer->Allocate(&n).ok());
    ASSERT_TRUE(writer->Write(0, writer_test::MakeHeaderPage(f)).ok());
    ASSERT_TRUE(writer->Write(1, Filled(f, kPageData, 1)).ok());
    EXPECT_EQ(writer->Finish().kind(), ErrorKind::kNoSpace);
  }
  EXPECT_FALSE(Exists(path));

  std::unique_ptr<PageWriter> writer;
  ASSERT_TRUE(PageWriter::Create(Env::Default(), path, f, 0, 0644, &writer).ok());
  writer->Abandon();
  EXPECT_FALSE(Exists(path));
  uint32_t n;
  EXPECT_FALSE(writer->Allocate(&n).ok());
}

TEST(WriterPageWriter, StopsAtTheFormatsSizeLimit) {
  EXPECT_EQ(MaxPageCount(Jet3()), 524288u);  // 1 GiB of 2 KB pages
  EXPECT_EQ(MaxPageCount(Jet4()), 524288u);  // 2 GiB of 4 KB pages
  testing_support::TempDir dir;
  std::unique_ptr<PageWriter> writer;
  ASSERT_TRUE(PageWriter::Create(Env::Default(), dir.File("big.mdb"), Jet4(), 0, 0644, &writer).ok());
  uint32_t n = 0;
  Status s;
  for (uint32_t i = 0; i <= MaxPageCount(Jet4()) && s.ok(); ++i) s = writer->Allocate(&n);
  EXPECT_EQ(s.kind(), ErrorKind::kNoSpace);
  EXPECT_EQ(n, MaxPageCount(Jet4()) - 1);
}

// Finish flushes the file before it closes it: a failed flush fails it.
TEST(WriterPageWriter, FinishFlushes) {
  testing_support::TempDir dir;
  FaultInjectionEnv env(Env::Default());
  std::unique_ptr<PageWriter> writer;
  ASSERT_TRUE(PageWriter::Create(&env, dir.File("published.mdb"), Jet4(), 0, 0644, &writer).ok());
  uint32_t n = 0;
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(writer->Allocate(&n).ok() && writer->Write(n, Filled(Jet4(), 1, 7)).ok());
  env.FailAt(env.calls() + 2, EIO);  // the call after the write of the held pages
  EXPECT_FALSE(writer->Finish().ok());
  EXPECT_EQ(env.injected().rfind("flush ", 0), 0u) << env.injected();
}

}  // namespace
}  // namespace jet
