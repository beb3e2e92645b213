// Row writer: rows encoded from Values must decode (through the reader's CrackRow and
// RowDecoder) to the same Values -- for every column type, at the Jet 3 jump-table
// boundaries, with nulls, gaps and 255 columns -- and every live row of real files
// re-encoded from its decoded values must read back the same.
#include "jet/write/row_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/read/long_value.h"
#include "jet/write/table_design.h"
#include "jet/file/page_file.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"
#include "jet/base/text.h"
#include "tests/jet/reader_synthetic.h"
#include "tests/support/test_support.h"

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Value;

// A table definition built column by column: fixed columns get consecutive fixed
// offsets, variable ones consecutive var indexes, in the order they are added.
class TableBuilder {
 public:
  explicit TableBuilder(jet::Version version) : jet3_(jet::IsJet3(version)) {}

  TableBuilder& Add(ColumnType type, uint16_t length = 0, uint8_t ext_flags = 0) {
    ColumnDef c;
    c.type_code = uint8_t(type);
    c.number = uint16_t(table_.columns.size());
    c.name = "c" + std::to_string(c.number);
    c.ext_flags = ext_flags;
    c.sort_lcid = 1033;
    c.code_page = jet3_ ? 1252 : 0;
    const uint16_t fixed = jet::FixedColumnSize(type);
    if (type == ColumnType::kBoolean) {
      c.flags = jet::kColumnFixed;
    } else if (fixed != 0) {
      c.flags = jet::kColumnFixed;
      c.length = fixed;
      c.fixed_offset = fixed_end_;
      fixed_end_ += fixed;
    } else {
      c.length = length;
      c.var_index = table_.var_columns++;
    }
    table_.columns.push_back(c);
    table_.max_columns = uint16_t(table_.columns.size());
    return *this;
  }
  // A variable slot whose column was deleted: rows still carry its (empty) entry.
  TableBuilder& DeletedVariable() {
    table_.var_columns++;
    table_.max_columns++;
    return *this;
  }
  const jet::TableDef& table() const { return table_; }

 private:
  bool jet3_;
  jet::TableDef table_;
  uint16_t fixed_end_ = 0;
};

// Decodes rows with the reader over an (otherwise empty) synthetic file.
class Decoder {
 public:
  explicit Decoder(jet::Version version) : file_(version, 2) {
    EXPECT_TRUE(jet::PageFile::OpenMemory(file_.bytes().data(), file_.bytes().size(), &pages_).ok());
  }
  std::vector<Value> Decode(const jet::TableDef& table, const std::vector<uint8_t>& row) {
    jet::RowDecoder decoder(*pages_, table);
    std::vector<Value> values;
    jet::Status s = decoder.Decode(row.data(), row.size(), &values);
    EXPECT_TRUE(s.ok()) << s.ToString();
    return values;
  }

 private:
  reader_test::SyntheticFile file_;
  std::unique_ptr<jet::PageFile> pages_;
};

// An inline long-value field: header (length | 0x80 << 24, then 8 zero bytes) + data.
std::vector<uint8_t> InlineField(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f(jet::kLongValueHeaderSize, 0);
  const uint32_t word = uint32_t(data.size()) | (uint32_t(jet::kLongValueInline) << 24);
  jet::StoreLe32(f.data(), word);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

std::vector<uint8_t> Encode(const jet::Format& format, const jet::TableDef& table,
                            const jet::RowFields& fields) {
  std::vector<uint8_t> row;
  jet::Status s = jet::EncodeRow(format, table, fields, 1252, &row);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return row;
}

void ExpectSameValues(const std::vector<Value>& expected, const std::vector<Value>& actual,
                      const std::string& context) {
  ASSERT_EQ(expected.size(), actual.size()) << context;
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_TRUE(expected[i] == actual[i]) << context << " column " << i << ": wrote \""
                                          << expected[i].ToText() << "\", read \""
                                          << actual[i].ToText() << "\"";
}

jet::Numeric MakeNumeric(bool negative, uint64_t high, uint64_t low, uint8_t precision, uint8_t scale) {
  jet::Numeric n;
  n.negative = negative;
  n.high = high;
  n.low = low;
  n.precision = precision;
  n.scale = scale;
  return n;
}

TEST(RowWriterTest, EveryColumnTypeRoundTrips) {
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const jet::Format& format = jet::FormatFor(version);
    const bool jet3 = jet::IsJet3(version);
    TableBuilder b(version);
    b.Add(ColumnType::kBoolean).Add(ColumnType::kByte).Add(ColumnType::kInteger)
        .Add(ColumnType::kLong).Add(ColumnType::kCurrency).Add(ColumnType::kSingle)
        .Add(ColumnType::kDouble).Add(ColumnType::kDateTime).Add(ColumnType::kGuid)
        .Add(ColumnType::kNumeric).Add(ColumnType::kText, jet3 ? 50 : 100)
        .Add(ColumnType::kText, jet3 ? 50 : 100, jet::kColumnCompressedUnicode)
        .Add(ColumnType::kBinary, 20).Add(ColumnType::kMemo).Add(ColumnType::kOle)
        .Add(ColumnType::kBoolean);
    jet::TableDef table = b.table();
    table.columns[9].precision = 18;
    table.columns[9].scale = 2;

    const std::string text = jet3 ? "Caf\xC3\xA9 \xE2\x82\xAC" : "\xD0\x9C\xD0\xB8\xD1\x80 caf\xC3\xA9";
    std::vector<uint8_t> memo_bytes;
    if (jet3) ASSERT_TRUE(jet::EncodeCodePageText("memo text", 1252, &memo_bytes).ok());
    else ASSERT_TRUE(jet::EncodeJet4Text("memo text", false, &memo_bytes).ok());

    jet::RowFields fields;
    fields.values = {Value::Boolean(true), Value::Byte(200), Value::Integer(-12345),
                     Value::Long(-2000000000), Value::Currency(-85409824234500),
                     Value::Single(2.5f), Value::Double(-1e-300), Value::DateTime(36526.5),
                     Value::Guid({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}),
                     Value::NumericValue(MakeNumeric(true, 1, 12345, 18, 2)), Value::Text(text),
                     Value::Text("compressible text"), Value::Binary({0, 1, 2, 0xFF}),
                     Value::Text("memo text"), Value::Binary({9, 8, 7}), Value::Boolean(false)};
    fields.long_value_fields.resize(fields.values.size());
    fields.long_value_fields[13] = InlineField(memo_bytes);
    fields.long_value_fields[14] = InlineField({9, 8, 7});

    const std::vector<uint8_t> row = Encode(format, table, fields);
    Decoder decoder(version);
    ExpectSameValues(fields.values, decoder.Decode(table, row), jet::VersionName(version));
    if (!jet3) {
      // The column that allows compression holds "FF FE" + one byte per character.
      std::vector<jet::RawColumn> raw;
      ASSERT_TRUE(jet::CrackRow(format, table, row.data(), row.size(), &raw).ok());
      EXPECT_EQ(raw[11].size, 2u + 17u);
      EXPECT_EQ(raw[10].size, 2u * 8u);  // "Мир café": not compressible
    }
  }
}

TEST(RowWriterTest, AllNullRowsAndRowsWithoutVariableColumns) {
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const jet::Format& format = jet::FormatFor(version);
    TableBuilder b(version);
    b.Add(ColumnType::kLong).Add(ColumnType::kText, 40).Add(ColumnType::kBoolean)
        .Add(ColumnType::kDouble).Add(ColumnType::kMemo);
    jet::RowFields fields;
    fields.values.resize(5);
    const std::vector<uint8_t> row = Encode(format, b.table(), fields);
    Decoder decoder(version);
    std::vector<Value> read = decoder.Decode(b.table(), row);
    // A null boolean is a clear bit, which reads as false.
    fields.values[2] = Value::Boolean(false);
    ExpectSameValues(fields.values, read, "all null");
    // Null fixed columns keep their bytes: count + 12 fixed bytes come first.
    EXPECT_GE(row.size(), format.row_column_count_size + 12);

    // Without variable columns there is no trailer: count, fixed area, null mask.
    TableBuilder fixed_only(version);
    fixed_only.Add(ColumnType::kLong).Add(ColumnType::kBoolean).Add(ColumnType::kInteger);
    jet::RowFields f2;
    f2.values = {Value::Long(7), Value::Boolean(true), Value::Null()};
    const std::vector<uint8_t> fixed_row = Encode(format, fixed_only.table(), f2);
    EXPECT_EQ(fixed_row.size(), format.row_column_count_size + 6 + 1);
    EXPECT_EQ(fixed_row.back(), 0x03);  // bits 0 and 1: the long and the true boolean
    ExpectSameValues(f2.values, decoder.Decode(fixed_only.table(), fixed_row), "fixed only");
  }
}

// Jet 3 rows of every length across the 256- and 512-byte boundaries, with several
// variable columns, so the jump table is exercised with and without its dummy byte.
TEST(RowWriterTest, Jet3JumpTableAtEveryLengthAroundTheBoundaries) {
  const jet::Version version = jet::Version::kJet3;
  const jet::Format& format = jet::FormatFor(version);
  TableBuilder b(version);
  b.Add(ColumnType::kLong).Add(ColumnType::kText, 255).Add(ColumnType::kText, 255)
      .DeletedVariable().Add(ColumnType::kBinary, 255).Add(ColumnType::kText, 255);
  Decoder decoder(version);
  int rows = 0, with_jumps = 0;
  for (size_t total = 0; total <= 760; ++total) {
    // Spread `total` bytes over the four variable columns, unevenly.
    const size_t a = total / 2, c = total / 5, d = total / 7 < 255 ? total / 7 : 255;
    size_t e = total - a - c - d;
    size_t a2 = a;
    if (a2 > 255) { e += a2 - 255; a2 = 255; }
    if (e > 255) continue;
    jet::RowFields fields;
    fields.values = {Value::Long(int32_t(total)), Value::Text(std::string(a2, 'x')),
                     c == 0 ? Value::Null() : Value::Text(std::string(c, 'y')),
                     Value::Binary(std::vector<uint8_t>(d, 0xAB)), Value::Text(std::string(e, 'z'))};
    if (d == 0) fields.values[3] = Value::Null();
    const std::vector<uint8_t> row = Encode(format, b.table(), fields);
    ExpectSameValues(fields.values, decoder.Decode(b.table(), row),
                     "row of " + std::to_string(row.size()) + " bytes");
    ++rows;
    if (row.size() > 256) ++with_jumps;
  }
  EXPECT_GT(rows, 700);
  EXPECT_GT(with_jumps, 400);
}

TEST(RowWriterTest, RefusesRowsOverTheMaximumAndValuesThatDoNotFit) {
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const jet::Format& format = jet::FormatFor(version);
    const bool jet3 = jet::IsJet3(version);
    TableBuilder b(version);
    for (int i = 0; i < 20; ++i) b.Add(ColumnType::kText, jet3 ? 255 : 510);
    jet::RowFields fields;
    for (int i = 0; i < 20; ++i) fields.values.push_back(Value::Text(std::string(jet3 ? 100 : 102, 'q')));
    std::vector<uint8_t> row;
    // 20 x 100 bytes fits Jet 3's 2,012 only without the trailer: refused. Jet 4:
    // 20 x 204 bytes is over 4,060.
    jet::Status s = jet::EncodeRow(format, b.table(), fields, 1252, &row);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument) << jet::VersionName(version);
    EXPECT_NE(s.detail().find("maximum row size"), std::string::npos) << s.detail();
    fields.values[0] = Value::Null();  // now it fits
    EXPECT_TRUE(jet::EncodeRow(format, b.table(), fields, 1252, &row).ok()) << jet::VersionName(version);
    EXPECT_LE(row.size(), format.max_row_size);

    // Too long for the column, and a type that does not fit.
    TableBuilder small(version);
    small.Add(ColumnType::kText, jet3 ? 5 : 10).Add(ColumnType::kLong);
    jet::RowFields f2;
    f2.values = {Value::Text("abcdef"), Value::Null()};
    EXPECT_EQ(jet::EncodeRow(format, small.table(), f2, 1252, &row).kind(), jet::ErrorKind::kInvalidArgument);
    f2.values = {Value::Text("abc"), Value::Text("12")};
    EXPECT_EQ(jet::EncodeRow(format, small.table(), f2, 1252, &row).kind(), jet::ErrorKind::kInvalidArgument);
  }
  // A Jet 3 text needs the code page to hold every character.
  TableBuilder j3(jet::Version::kJet3);
  j3.Add(ColumnType::kText, 50);
  jet::RowFields f3;
  f3.values = {Value::Text("\xD0\x9C\xD0\xB8\xD1\x80")};
  std::vector<uint8_t> row;
  EXPECT_EQ(jet::EncodeRow(jet::FormatFor(jet::Version::kJet3), j3.table(), f3, 1252, &row).kind(),
            jet::ErrorKind::kInvalidArgument);
}

TEST(RowWriterTest, TwoHundredFiftyFiveColumns) {
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const jet::Format& format = jet::FormatFor(version);
    TableBuilder b(version);
    jet::RowFields fields;
    for (int i = 0; i < 255; ++i) {
      switch (i % 4) {
        case 0: b.Add(ColumnType::kInteger); fields.values.push_back(Value::Integer(int16_t(i))); break;
        case 1: b.Add(ColumnType::kBoolean); fields.values.push_back(Value::Boolean(i % 8 == 1)); break;
        case 2: b.Add(ColumnType::kText, 20);
                fields.values.push_back(i % 3 ? Value::Text(std::to_string(i)) : Value::Null()); break;
        default: b.Add(ColumnType::kByte); fields.values.push_back(Value::Byte(uint8_t(i))); break;
      }
    }
    const std::vector<uint8_t> row = Encode(format, b.table(), fields);
    Decoder decoder(version);
    ExpectSameValues(fields.values, decoder.Decode(b.table(), row), jet::VersionName(version));
  }
}

// ---------------------------------------------------------------------------
// Real rows: decode, re-encode, decode again.

struct RewriteCounts {
  int rows = 0;
  int identical = 0;
  int longer = 0;
  int shorter = 0;
  int null_fixed_bytes = 0;  // differ only inside null fixed columns (Access keeps old bytes)
  int other_same_size = 0;
  int column_count_differs = 0;  // rows written before columns were added
  int long_rows_same = 0;  // rows over 256 bytes identical but for null fixed columns
                           // (in Jet 3 their trailers hold a jump table)
};

bool OnlyNullFixedBytesDiffer(const jet::Format& format, const jet::TableDef& table,
                              const std::vector<Value>& values, const uint8_t* stored,
                              const std::vector<uint8_t>& written) {
  for (size_t k = 0; k < written.size(); ++k) {
    if (written[k] == stored[k]) continue;
    bool inside = false;
    for (size_t i = 0; i < table.columns.size() && !inside; ++i) {
      const ColumnDef& c = table.columns[i];
      const size_t start = format.row_column_count_size + c.fixed_offset;
      inside = c.is_fixed() && c.type() != ColumnType::kBoolean && values[i].is_null() &&
               k >= start && k < start + c.length;
    }
    if (!inside) return false;
  }
  return true;
}

void RewriteFile(const std::string& path, RewriteCounts* counts) {
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(path, &db).ok()) << path;
  const jet::Format& format = db->format();
  for (const jet::CatalogObject* object : db->Tables(true)) {
    const jet::TableDef* table = nullptr;
    ASSERT_TRUE(db->GetTableDef(uint32_t(object->id) & 0xFFFFFF, &table).ok());
    jet::TableScanner scanner(db->file(), *table);
    jet::RowDecoder decoder(db->file(), *table);
    jet::RowDecoder reread(db->file(), *table);
    std::vector<std::string> notes;
    jet::Status scan = scanner.Scan(
        [&](const jet::RowId&, const uint8_t* bytes, size_t size) {
          jet::RowFields fields;
          jet::Status s = decoder.Decode(bytes, size, &fields.values);
          if (!s.ok()) return true;  // undecodable rows belong to the reader's tests
          fields.long_value_fields.resize(table->columns.size());
          for (size_t i = 0; i < table->columns.size(); ++i) {
            const jet::RawColumn& raw = decoder.raw()[i];
            if (table->columns[i].is_long_value() && !raw.is_null)
              fields.long_value_fields[i].assign(bytes + raw.offset, bytes + raw.offset + raw.size);
          }
          std::vector<uint8_t> row;
          s = jet::EncodeRow(format, *table, fields, db->header().code_page, &row);
          EXPECT_TRUE(s.ok()) << path << " " << object->name << ": " << s.ToString();
          if (!s.ok()) return true;
          std::vector<Value> again;
          s = reread.Decode(row.data(), row.size(), &again);
          EXPECT_TRUE(s.ok()) << path << " " << object->name << ": " << s.ToString();
          if (!s.ok()) return true;
          ExpectSameValues(fields.values, again, path + " " + object->name);
          ++counts->rows;
          const uint32_t stored_count =
              format.row_column_count_size == 1 ? bytes[0] : jet::LoadLe16(bytes);
          if (stored_count != table->max_columns) ++counts->column_count_differs;
          if (row.size() == size && std::equal(row.begin(), row.end(), bytes)) {
            ++counts->identical;
            if (size > 256) ++counts->long_rows_same;
          } else if (row.size() > size) {
            ++counts->longer;
          } else if (row.size() < size) {
            ++counts->shorter;
          } else if (OnlyNullFixedBytesDiffer(format, *table, fields.values, bytes, row)) {
            ++counts->null_fixed_bytes;
            if (size > 256) ++counts->long_rows_same;
          } else {
            ++counts->other_same_size;
          }
          return true;
        },
        &notes);
    ASSERT_TRUE(scan.ok()) << path << " " << object->name << ": " << scan.ToString();
  }
}

TEST(RowWriterFilesTest, RealRowsReEncodeToTheSameValues) {
  SKIP_WITHOUT_TESTDATA();
  std::printf("Real rows re-encoded from their values:\n");
  std::printf("  %-24s %6s %9s %9s %11s %7s %7s %7s %14s\n", "file", "rows", "identical",
              ">256 same", "null-fixed", "other", "longer", "shorter", "fewer columns");
  int total = 0;
  for (const char* name : {"jet3/nwind.mdb", "jet3/jk_test2.mdb", "jet3/jk_test2_old.mdb", "jet3/jk_delcol.mdb",
                           "jet3/jk_indexcodes.mdb", "jet3/jk_overflow.mdb", "jet4/sqlp_northwind.mdb",
                           "jet4/jk_test2_2000.mdb", "jet4/jk_delcol_2003.mdb",
                           "jet4/jk_unicomp_2003.mdb", "jet4/mdbtd_dates.mdb"}) {
    const std::string path = testing_support::TestDataDir() + "/" + name;
    RewriteCounts c;
    RewriteFile(path, &c);
    std::printf("  %-24s %6d %9d %9d %11d %7d %7d %7d %14d\n", name, c.rows, c.identical,
                c.long_rows_same, c.null_fixed_bytes, c.other_same_size, c.longer, c.shorter, c.column_count_differs);
    total += c.rows;
    // Same length must mean same bytes, apart from what Access leaves in null fixed
    // columns; a longer row would mean wasted or misplaced bytes.
    EXPECT_EQ(c.other_same_size, 0) << name;
    EXPECT_EQ(c.longer, 0) << name;
  }
  EXPECT_GT(total, 7000);
}

}  // namespace
