// Tests of the CSV and JSON forms of values that `jetdb export` writes.
#include "tools/jetdb/export_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/tools/run_program.h"

namespace {

using jet::Value;

TEST(CsvFormatTest, QuotesOnlyWhereNeededAndKeepsNullApartFromEmptyText) {
  EXPECT_EQ(jetdb::CsvField(Value::Text("plain")), "plain");
  EXPECT_EQ(jetdb::CsvField(Value::Text("a,b")), "\"a,b\"");
  EXPECT_EQ(jetdb::CsvField(Value::Text("say \"hi\"")), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(jetdb::CsvField(Value::Text("line\r\nbreak")), "\"line\r\nbreak\"");
  EXPECT_EQ(jetdb::CsvField(Value::Text("")), "\"\"");
  EXPECT_EQ(jetdb::CsvField(Value::Null()), "");
  EXPECT_EQ(jetdb::CsvField(Value::Currency(-15)), "-0.0015");
}

TEST(CsvFormatTest, WhatWeWriteParsesBack) {
  const std::string text = jetdb::CsvText("x,\"y\"\n") + "," + jetdb::CsvField(Value::Null()) + "," +
                           jetdb::CsvField(Value::Text("")) + "\n";
  std::vector<tools_test::CsvRow> rows;
  ASSERT_TRUE(tools_test::ParseCsv(text, &rows));
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 3u);
  EXPECT_EQ(rows[0][0], std::optional<std::string>("x,\"y\"\n"));
  EXPECT_EQ(rows[0][1], std::nullopt);
  EXPECT_EQ(rows[0][2], std::optional<std::string>(""));
  EXPECT_FALSE(tools_test::ParseCsv("\"open", &rows));
  EXPECT_FALSE(tools_test::ParseCsv("a\"b\"", &rows));
}

TEST(JsonFormatTest, ExactValues) {
  EXPECT_EQ(jetdb::JsonValue(Value::Null()), "null");
  EXPECT_EQ(jetdb::JsonValue(Value::Boolean(true)), "true");
  EXPECT_EQ(jetdb::JsonValue(Value::Long(-7)), "-7");
  EXPECT_EQ(jetdb::JsonValue(Value::Double(0.1)), "0.1");
  EXPECT_EQ(jetdb::JsonValue(Value::Double(std::numeric_limits<double>::infinity())), "\"inf\"");
  EXPECT_EQ(jetdb::JsonValue(Value::Double(std::nan(""))), "\"nan\"");
  EXPECT_EQ(jetdb::JsonValue(Value::Currency(std::numeric_limits<int64_t>::min())),
            "\"-922337203685477.5808\"");
  EXPECT_EQ(jetdb::JsonValue(Value::DateTime(36526.5)), "\"2000-01-01T12:00:00\"");
  EXPECT_EQ(jetdb::JsonValue(Value::Binary({0xDE, 0xAD})), "\"dead\"");
  EXPECT_EQ(jetdb::JsonValue(Value::BigInt(int64_t{1} << 53)), "9007199254740992");
  EXPECT_EQ(jetdb::JsonValue(Value::BigInt((int64_t{1} << 53) + 1)), "\"9007199254740993\"");
}

TEST(JsonFormatTest, StringEscapes) {
  EXPECT_EQ(jetdb::JsonString("a\"b\\c\n\t\x01\x1f"), "\"a\\\"b\\\\c\\n\\t\\u0001\\u001f\"");
  EXPECT_EQ(jetdb::JsonString("\xC3\xA4"), "\"\xC3\xA4\"");  // UTF-8 passes through
}

}  // namespace
