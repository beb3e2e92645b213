// Index keys computed from values. Two kinds of evidence: every entry of every index
// of the real Jet 3 / Jet 4 files (and the ACE ones, whose legacy-sorted and non-text
// keys follow the same rules) recomputed from its row and compared with the bytes
// Access stored, and order-preservation checks of the non-text encodings (sorted
// values must give keys that sort the same as plain bytes).
#include "jet/write/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/write/index_key_tables.h"
#include "tests/support/test_support.h"

namespace {

using jet::ColumnDef;
using jet::ColumnType;
using jet::Value;

// ---------------------------------------------------------------------------
// Recomputing every stored key.

// Character class of an entry: the most unusual kind of character in its texts.
enum CharClass { kNoText, kLetters, kDigits, kPunctuation, kLatin1Accented, kOtherChars, kClassCount };
const char* const kClassNames[kClassCount] = {"no text", "ASCII letters", "digits",
                                              "punctuation", "Latin-1 accented", "other"};

CharClass ClassOf(uint32_t cp) {
  if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z')) return kLetters;
  if (cp >= '0' && cp <= '9') return kDigits;
  if (cp < 0x80) return kPunctuation;  // space, punctuation, control characters
  if (cp >= 0xC0 && cp <= 0xFF && cp != 0xD7 && cp != 0xF7) return kLatin1Accented;
  return kOtherChars;
}

struct Tally {
  int match = 0;
  int refused_unconfirmed = 0;  // a character or reading the tables do not confirm
  int refused_other = 0;        // the index's sort order or type is not computable
  int mismatch = 0;
};

std::string SortOrderName(const jet::Format& format, const jet::TableDef& table,
                          const jet::RealIndex& index) {
  std::string name;
  for (const jet::IndexColumn& ic : index.columns) {
    const int pos = table.FindColumnByNumber(ic.column_number);
    if (pos < 0) continue;
    const ColumnDef& c = table.columns[pos];
    if (c.type() != ColumnType::kText && c.type() != ColumnType::kMemo) continue;
    switch (jet::ColumnCollation(format, c)) {
      case jet::TextCollation::kGeneral97: return "General 97";
      case jet::TextCollation::kGeneralLegacy: return "General legacy";
      case jet::TextCollation::kChinesePrc: return "Chinese PRC";
      case jet::TextCollation::kOther:
        return "LCID " + std::to_string(c.sort_lcid) + " v" + std::to_string(c.sort_version);
    }
  }
  return "(no text column)";
}

CharClass EntryClass(const jet::TableDef& table, const jet::RealIndex& index,
                     const std::vector<Value>& values) {
  CharClass worst = kNoText;
  for (const jet::IndexColumn& ic : index.columns) {
    const int pos = table.FindColumnByNumber(ic.column_number);
    if (pos < 0 || values[pos].type() != jet::ValueType::kText) continue;
    std::vector<uint32_t> text;
    if (!jet::DecodeUtf8(values[pos].text(), &text).ok()) return kOtherChars;
    worst = std::max(worst, kLetters);
    for (uint32_t cp : text) worst = std::max(worst, ClassOf(cp));
  }
  return worst;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x ", c);
    out += b;
  }
  return out;
}

TEST(IndexKeyFilesTest, EveryStoredKeyIsRecomputedOrRefused) {
  SKIP_WITHOUT_TESTDATA();
  std::map<std::string, std::array<Tally, kClassCount>> tallies;
  std::vector<std::string> failures;
  int files = 0, entries_without_row = 0;
  for (const char* folder : {"jet3", "jet4", "ace"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      std::unique_ptr<jet::Database> db;
      jet::Status s = jet::Database::Open(path, &db);
      ASSERT_TRUE(s.ok()) << path << ": " << s.ToString();
      ++files;
      const jet::Format& format = db->format();
      for (const jet::CatalogObject* object : db->Tables(true)) {
        const jet::TableDef* table = nullptr;
        ASSERT_TRUE(db->GetTableDef(uint32_t(object->id) & 0xFFFFFF, &table).ok()) << object->name;
        std::map<uint32_t, std::vector<Value>> rows;
        ASSERT_TRUE(db->ScanRows(*table, [&](const jet::RowId& row, const std::vector<Value>& v) {
                         rows[row.ToPointer()] = v;
                         return true;
                       }).ok()) << path << " " << object->name;
        for (size_t i = 0; i < table->real_indexes.size(); ++i) {
          const jet::RealIndex& index = table->real_indexes[i];
          std::vector<jet::IndexEntry> entries;
          ASSERT_TRUE(db->ReadIndexEntries(*table, i, &entries).ok()) << path << " " << object->name;
          auto& per_class = tallies[SortOrderName(format, *table, index)];
          const bool computable = jet::CanComputeKeys(format, *table, index);
          for (const jet::IndexEntry& entry : entries) {
            auto row = rows.find(entry.row.ToPointer());
            if (row == rows.end()) {
              ++entries_without_row;
              continue;
            }
            Tally& t = per_class[EntryClass(*table, index, row->second)];
            std::string key;
            s = jet::EncodeIndexKey(format, *table, index, row->second, &key);
            if (!s.ok()) {
              ASSERT_EQ(s.kind(), jet::ErrorKind::kUnsupportedFormat) << s.ToString();
              (computable ? t.refused_unconfirmed : t.refused_other)++;
            } else if (key == entry.key) {
              ++t.match;
            } else {
              ++t.mismatch;
              if (failures.size() < 20)
                failures.push_back(path + " " + object->name + " index " + std::to_string(i) +
                                   "\n   stored   " + Hex(entry.key) + "\n   computed " + Hex(key));
            }
          }
        }
      }
    }
  }
  ASSERT_GT(files, 0);
  std::printf("Index keys recomputed from rows (%d files; %d entries point at no live row):\n",
              files, entries_without_row);
  std::printf("  %-18s %-17s %8s %9s %11s %9s\n", "sort order", "characters", "match",
              "refused", "not comput.", "MISMATCH");
  Tally total;
  for (const auto& [order, per_class] : tallies) {
    for (int c = 0; c < kClassCount; ++c) {
      const Tally& t = per_class[c];
      if (t.match + t.refused_unconfirmed + t.refused_other + t.mismatch == 0) continue;
      std::printf("  %-18s %-17s %8d %9d %11d %9d\n", order.c_str(), kClassNames[c], t.match,
                  t.refused_unconfirmed, t.refused_other, t.mismatch);
      total.match += t.match;
      total.refused_unconfirmed += t.refused_unconfirmed;
      total.refused_other += t.refused_other;
      total.mismatch += t.mismatch;
      // Every text of Latin-1 letters, digits and punctuation has a computed key.
      if (c != kOtherChars) {
        EXPECT_EQ(t.refused_unconfirmed, 0) << order << ", " << kClassNames[c];
      }
    }
  }
  std::printf("  %-18s %-17s %8d %9d %11d %9d\n", "all", "", total.match, total.refused_unconfirmed,
              total.refused_other, total.mismatch);
  for (const std::string& f : failures) ADD_FAILURE() << "key mismatch: " << f;
  EXPECT_EQ(total.mismatch, 0);
  EXPECT_GT(total.match, 10000);  // the bulk of the entries must actually be computed
}

// ---------------------------------------------------------------------------
// Order preservation and refusals, on synthetic columns.

ColumnDef MakeColumn(ColumnType type, uint16_t lcid = 0, uint8_t sort_version = 0) {
  ColumnDef c;
  c.type_code = uint8_t(type);
  c.name = "c";
  c.sort_lcid = lcid;
  c.sort_version = sort_version;
  c.code_page = 1252;  // as in every Jet 3 text column; Jet 4 ignores it
  return c;
}

const jet::Format& Jet3() { return jet::FormatFor(jet::Version::kJet3); }
const jet::Format& Jet4() { return jet::FormatFor(jet::Version::kJet4); }

std::string KeyOf(const jet::Format& format, const ColumnDef& column, bool ascending,
                  const Value& value) {
  std::string key;
  jet::Status s = jet::AppendIndexKeyColumn(format, column, ascending, value, &key);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return key;
}

// `sorted` is in ascending value order: ascending keys must be strictly increasing
// and descending keys strictly decreasing (as unsigned bytes).
void ExpectOrderPreserved(const jet::Format& format, const ColumnDef& column,
                          const std::vector<Value>& sorted) {
  for (size_t i = 1; i < sorted.size(); ++i) {
    EXPECT_LT(KeyOf(format, column, true, sorted[i - 1]), KeyOf(format, column, true, sorted[i]))
        << "ascending, between " << sorted[i - 1].ToText() << " and " << sorted[i].ToText();
    EXPECT_GT(KeyOf(format, column, false, sorted[i - 1]), KeyOf(format, column, false, sorted[i]))
        << "descending, between " << sorted[i - 1].ToText() << " and " << sorted[i].ToText();
  }
}

TEST(IndexKeyOrderTest, IntegersOfEveryWidth) {
  std::vector<Value> longs, ints, currency, bytes;
  for (int64_t v : {int64_t(INT32_MIN), int64_t(-70000), int64_t(-256), int64_t(-1), int64_t(0),
                    int64_t(1), int64_t(255), int64_t(256), int64_t(70000), int64_t(INT32_MAX)})
    longs.push_back(Value::Long(int32_t(v)));
  for (int v : {-32768, -300, -1, 0, 1, 127, 128, 32767}) ints.push_back(Value::Integer(int16_t(v)));
  for (int64_t v : {INT64_MIN, int64_t(-85409824234500), int64_t(-10000), int64_t(-1), int64_t(0),
                    int64_t(1), int64_t(10000), INT64_MAX})
    currency.push_back(Value::Currency(v));
  for (int v : {0, 1, 127, 128, 255}) bytes.push_back(Value::Byte(uint8_t(v)));
  ExpectOrderPreserved(Jet4(), MakeColumn(ColumnType::kLong), longs);
  ExpectOrderPreserved(Jet4(), MakeColumn(ColumnType::kInteger), ints);
  ExpectOrderPreserved(Jet3(), MakeColumn(ColumnType::kCurrency), currency);
  ExpectOrderPreserved(Jet3(), MakeColumn(ColumnType::kByte), bytes);
  // The layout itself: big-endian with the top bit flipped, as Access stores it.
  EXPECT_EQ(KeyOf(Jet4(), MakeColumn(ColumnType::kLong), true, Value::Long(13)),
            std::string("\x7f\x80\x00\x00\x0d", 5));
  EXPECT_EQ(KeyOf(Jet4(), MakeColumn(ColumnType::kLong), false, Value::Long(13)),
            std::string("\x80\x7f\xff\xff\xf2", 5));
}

TEST(IndexKeyOrderTest, FloatingPointAndDatesWithNegativesAndZeros) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Value> doubles, singles, dates;
  for (double v : {-inf, -1e300, -2.5, -1.0, -1e-300, -0.0, 0.0, 1e-300, 1.0, 2.5, 1e300, inf})
    doubles.push_back(Value::Double(v));
  for (float v : {-3.4e38f, -2.5f, -1e-30f, -0.0f, 0.0f, 1e-30f, 2.5f, 3.4e38f})
    singles.push_back(Value::Single(v));
  // Dates are day counts; before 1899-12-30 they are negative.
  for (double v : {-657434.0, -1.25, -0.5, 0.0, 0.25, 36526.5, 2958465.99})
    dates.push_back(Value::DateTime(v));
  ExpectOrderPreserved(Jet4(), MakeColumn(ColumnType::kDouble), doubles);
  ExpectOrderPreserved(Jet3(), MakeColumn(ColumnType::kSingle), singles);
  ExpectOrderPreserved(Jet4(), MakeColumn(ColumnType::kDateTime), dates);
}

jet::Numeric MakeNumeric(bool negative, uint64_t high, uint64_t low) {
  jet::Numeric n;
  n.negative = negative;
  n.high = high;
  n.low = low;
  n.precision = 28;
  return n;
}

std::string NumericKey(bool ace, bool ascending, const Value& v) {
  std::string key;
  jet::AppendNumericKey(v.numeric(), ace, ascending, &key);
  return key;
}

TEST(IndexKeyOrderTest, NumericLegacyAndAceRules) {
  std::vector<Value> negatives, positives, mixed;
  for (auto [high, low] : std::vector<std::pair<uint64_t, uint64_t>>{{1, 0}, {0, 1000}, {0, 1}})
    negatives.push_back(Value::NumericValue(MakeNumeric(true, high, low)));
  for (auto [high, low] : std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}, {0, 1}, {0, 1000}, {1, 0}})
    positives.push_back(Value::NumericValue(MakeNumeric(false, high, low)));
  mixed = negatives;
  mixed.insert(mixed.end(), positives.begin(), positives.end());
  for (size_t i = 1; i < mixed.size(); ++i) {
    // ACE orders every sign combination in both directions; Jet 3 / Jet 4 ascending.
    EXPECT_LT(NumericKey(true, true, mixed[i - 1]), NumericKey(true, true, mixed[i])) << i;
    EXPECT_GT(NumericKey(true, false, mixed[i - 1]), NumericKey(true, false, mixed[i])) << i;
    EXPECT_LT(NumericKey(false, true, mixed[i - 1]), NumericKey(false, true, mixed[i])) << i;
  }
  // Jet 3 / Jet 4 descending orders within one sign, but puts every negative before
  // every positive, as Jet itself does.
  for (const std::vector<Value>* same_sign : {&negatives, &positives})
    for (size_t i = 1; i < same_sign->size(); ++i)
      EXPECT_GT(NumericKey(false, false, (*same_sign)[i - 1]), NumericKey(false, false, (*same_sign)[i]));
  EXPECT_LT(NumericKey(false, false, negatives.back()), NumericKey(false, false, positives.front()));
  EXPECT_EQ(NumericKey(false, true, positives[1]).size(), 17u);
  // Unconfirmed by any stored key, so index keys over Numeric columns are refused.
  std::string key;
  EXPECT_EQ(jet::AppendIndexKeyColumn(Jet4(), MakeColumn(ColumnType::kNumeric), true, positives[1], &key).kind(),
            jet::ErrorKind::kUnsupportedFormat);
}

TEST(IndexKeyOrderTest, NullsBooleansGuidsAndBinary) {
  const ColumnDef long_column = MakeColumn(ColumnType::kLong);
  // Nulls sort before every value ascending and after every value descending.
  EXPECT_LT(KeyOf(Jet4(), long_column, true, Value::Null()),
            KeyOf(Jet4(), long_column, true, Value::Long(INT32_MIN)));
  EXPECT_GT(KeyOf(Jet4(), long_column, false, Value::Null()),
            KeyOf(Jet4(), long_column, false, Value::Long(INT32_MIN)));
  EXPECT_EQ(KeyOf(Jet4(), long_column, false, Value::Null()), "\xff");

  const ColumnDef boolean = MakeColumn(ColumnType::kBoolean);
  EXPECT_EQ(KeyOf(Jet3(), boolean, true, Value::Boolean(true)), std::string("\x7f\x00", 2));
  EXPECT_EQ(KeyOf(Jet3(), boolean, true, Value::Boolean(false)), "\x7f\xff");
  EXPECT_EQ(KeyOf(Jet3(), boolean, false, Value::Boolean(false)), std::string("\x80\x00", 2));
  EXPECT_EQ(KeyOf(Jet3(), boolean, true, Value::Null()), "\x7f\xff");  // null bit = false

  // Binary segments order by content, shorter first on a shared prefix.
  const ColumnDef binary = MakeColumn(ColumnType::kBinary);
  std::vector<Value> blobs;
  for (std::vector<uint8_t> b : std::vector<std::vector<uint8_t>>{
           {0x00}, {0x00, 0x00}, {0x01}, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8, 0},
           {1, 2, 3, 4, 5, 6, 7, 9}, {0xFF}})
    blobs.push_back(Value::Binary(b));
  ExpectOrderPreserved(Jet4(), binary, blobs);
  std::string empty;
  EXPECT_EQ(jet::AppendIndexKeyColumn(Jet4(), binary, true, Value::Binary({}), &empty).kind(),
            jet::ErrorKind::kUnsupportedFormat);
  EXPECT_TRUE(empty.empty());

  // A GUID is keyed in its canonical order: the stored {7B9BC40F-56E6-2842-...} layout
  // gives the key Access wrote for {0FC49B7B-E656-4228-AEDC-DF8BDF4C4A64}.
  std::array<uint8_t, 16> stored = {0x7B, 0x9B, 0xC4, 0x0F, 0x56, 0xE6, 0x28, 0x42,
                                    0xAE, 0xDC, 0xDF, 0x8B, 0xDF, 0x4C, 0x4A, 0x64};
  EXPECT_EQ(Hex(KeyOf(Jet3(), MakeColumn(ColumnType::kGuid), true, Value::Guid(stored))),
            "7f 0f c4 9b 7b e6 56 42 28 09 ae dc df 8b df 4c 4a 64 08 ");
}

TEST(IndexKeyTextTest, General97KeysAndTheirOrder) {
  const ColumnDef text = MakeColumn(ColumnType::kText, 1033);
  // Keys of these texts as Access 97 stored them (jk_indexcodes.mdb).
  EXPECT_EQ(Hex(KeyOf(Jet3(), text, true, Value::Text("AA"))), "7f 60 60 00 ");
  EXPECT_EQ(Hex(KeyOf(Jet3(), text, true, Value::Text("-\xC3\x81" "A-\xC3\x81"))),  // -ÁA-Á
            "7f 1e 60 60 1e 60 04 24 00 ");
  EXPECT_EQ(Hex(KeyOf(Jet3(), text, false, Value::Text("stuff"))), "80 89 88 87 98 98 ff ");
  // Trailing spaces do not count; case does not either, also where the keys show only
  // the lower case taking an accent slot (e before à) and the rule settles E.
  EXPECT_EQ(KeyOf(Jet3(), text, true, Value::Text("Abc  ")), KeyOf(Jet3(), text, true, Value::Text("aBC")));
  EXPECT_EQ(Hex(KeyOf(Jet3(), text, true, Value::Text("E\xC3\xA0"))), "7f 66 60 02 30 ");
  EXPECT_EQ(KeyOf(Jet3(), text, true, Value::Text("e\xC3\xA0")), KeyOf(Jet3(), text, true, Value::Text("E\xC3\xA0")));
  std::vector<Value> sorted;
  for (const char* s : {"", "0", "9", "a", "\xC3\xA1" /* á */, "ab", "b", "z"})
    sorted.push_back(Value::Text(s));
  ExpectOrderPreserved(Jet3(), text, sorted);
}

// ASCII text takes a shorter road to its General 97 key; it must end where the road
// through code points ends, at the cap of 255 characters, with trailing spaces, both
// ways, and where a character sends the text back to the long road.
TEST(IndexKeyTextTest, General97AsciiKeysMatchTheCodePointRoute) {
  uint64_t state = 12345;
  for (int n = 0; n < 2000; ++n) {
    std::string text;
    const size_t length = n % 7 == 0 ? 250 + n % 20 : n % 40;
    for (size_t i = 0; i < length; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      text.push_back(char(n % 5 == 0 ? ' ' + (state >> 33) % 95 : (state >> 33) % 0x80));
    }
    if (n % 3 == 0) text += "   ";
    if (n % 11 == 0) text += "\xC3\xA9";  // é: the long road throughout
    std::vector<uint32_t> points;
    ASSERT_TRUE(jet::DecodeUtf8(text, &points).ok());
    if (points.size() > 255) points.resize(255);
    std::string expected;
    const jet::Status long_road = jet::AppendGeneral97Key(jet::General97Codes(), points, &expected);
    for (bool ascending : {true, false}) {
      std::string key = "x";  // keys are appended
      const jet::Status s = jet::AppendTextSortKey(jet::TextCollation::kGeneral97, text, ascending, &key);
      ASSERT_EQ(s.ok(), long_road.ok()) << n;
      if (!s.ok()) continue;
      std::string want = "x" + expected;
      if (!ascending)
        for (size_t i = 1; i < want.size(); ++i) want[i] = char(~uint8_t(want[i]));
      EXPECT_EQ(key, want) << n;
    }
  }
}

TEST(IndexKeyTextTest, GeneralLegacyKeysBothWaysAndTheirOrder) {
  const ColumnDef legacy = MakeColumn(ColumnType::kText, 1033, 0);
  // As Access 2000 stored them (MSysObjects, jk_unicomp_2003.mdb).
  EXPECT_EQ(Hex(KeyOf(Jet4(), legacy, true, Value::Text("Admin"))), "7f 4a 4f 60 59 62 01 00 ");
  EXPECT_EQ(Hex(KeyOf(Jet4(), legacy, true, Value::Text("@[]!\"#"))), "7f 26 27 2a 09 0a 0c 01 00 ");
  // Empty and all-space texts have the key of no characters; trailing spaces do not count.
  EXPECT_EQ(Hex(KeyOf(Jet4(), legacy, true, Value::Text(""))), "7f 01 00 ");
  EXPECT_EQ(KeyOf(Jet4(), legacy, true, Value::Text("  ")), KeyOf(Jet4(), legacy, true, Value::Text("")));
  EXPECT_EQ(Hex(KeyOf(Jet3(), MakeColumn(ColumnType::kText, 1033), true, Value::Text(" "))), "7f 00 ");
  // Descending: the value inverted, then a 0x00 of its own.
  EXPECT_EQ(Hex(KeyOf(Jet4(), legacy, false, Value::Text("Admin"))), "80 b5 b0 9f a6 9d fe ff 00 ");
  // Only the first 255 characters of a Memo are keyed.
  const ColumnDef memo = MakeColumn(ColumnType::kMemo, 1033, 0);
  EXPECT_EQ(KeyOf(Jet4(), memo, true, Value::Text(std::string(255, 'x') + "yz")),
            KeyOf(Jet4(), memo, true, Value::Text(std::string(255, 'x'))));
  std::vector<Value> sorted;
  for (const char* t : {"", "!", "#", "@", "[", "]", "0", "a", "\xC3\xA1" /* á */, "ab", "b", "\xC3\x9F" /* ß */, "z"})
    sorted.push_back(Value::Text(t));
  ExpectOrderPreserved(Jet4(), legacy, sorted);
  // ASCII text in the Chinese PRC order has the General legacy key.
  EXPECT_EQ(KeyOf(Jet4(), MakeColumn(ColumnType::kText, 2052, 0), false, Value::Text("MSysDb_1")),
            KeyOf(Jet4(), legacy, false, Value::Text("MSysDb_1")));
}

TEST(IndexKeyTextTest, RefusesWhatIsNotConfirmed) {
  const ColumnDef jet3_text = MakeColumn(ColumnType::kText, 1033);
  std::string key = "keep";
  jet::Status s = jet::AppendIndexKeyColumn(Jet3(), jet3_text, true, Value::Text("A\xE4\xB8\x80"), &key);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kUnsupportedFormat);
  EXPECT_EQ(s.detail(), "cannot compute key: unconfirmed character U+4E00");
  EXPECT_EQ(key, "keep");  // nothing half-appended
  // Greek in General legacy; anything past ASCII in the Chinese PRC order.
  EXPECT_EQ(jet::AppendIndexKeyColumn(Jet4(), MakeColumn(ColumnType::kText, 1033, 0), false,
                                      Value::Text("\xCE\xB1"), &key).kind(),
            jet::ErrorKind::kUnsupportedFormat);
  s = jet::AppendIndexKeyColumn(Jet4(), MakeColumn(ColumnType::kText, 2052, 0), true,
                                Value::Text("\xC3\xA9"), &key);
  EXPECT_EQ(s.detail(), "cannot compute key: character U+00E9 in sort order 2052 is not confirmed");
  EXPECT_EQ(key, "keep");

  // Other sort orders are detected per index.
  jet::TableDef table;
  table.columns.push_back(MakeColumn(ColumnType::kLong));
  table.columns[0].number = 0;
  table.columns.push_back(MakeColumn(ColumnType::kText, 1041));
  table.columns[1].number = 1;
  jet::RealIndex index;
  index.columns = {{0, true}, {1, false}};
  std::string reason;
  EXPECT_FALSE(jet::CanComputeKeys(Jet4(), table, index, &reason));
  EXPECT_EQ(reason, "keys cannot be computed for sort order 1041 version 0");
  table.columns[1].sort_lcid = 1033;
  EXPECT_TRUE(jet::CanComputeKeys(Jet4(), table, index, &reason));
  table.columns[1].sort_version = 1;  // ACE's new General
  EXPECT_FALSE(jet::CanComputeKeys(Jet4(), table, index, &reason));
  // General 97 codes hold for code page 1252 text only.
  table.columns[1].sort_version = 0;
  table.columns[1].code_page = 936;
  EXPECT_FALSE(jet::CanComputeKeys(Jet3(), table, index, &reason));
  EXPECT_EQ(reason, "keys cannot be computed for sort order 1033 with code page 936");
  table.columns[1].code_page = 1252;
  EXPECT_TRUE(jet::CanComputeKeys(Jet3(), table, index, &reason));

  // A multi-column key is the items in index order.
  std::string full;
  ASSERT_TRUE(jet::EncodeIndexKey(Jet4(), table, index, {Value::Long(1), Value::Null()}, &full).ok());
  EXPECT_EQ(Hex(full), "7f 80 00 00 01 ff ");
}

}  // namespace
