// Index key encoding: the per-type value encodings and the two General text
// collations. The layouts are documented in jet/write/index_key.h and
// jet/write/index_key_tables.h; the character codes live in jet/write/index_key_tables.cc.
#include "jet/write/index_key.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "jet/base/thread_scratch.h"
#include "jet/write/index_key_tables.h"

namespace jet {
namespace {

constexpr uint16_t kGeneralLcid = 1033;
constexpr uint16_t kGeneral97CodePage = 1252;
constexpr size_t kMaxKeyTextCharacters = 255;
constexpr uint16_t kChinesePrcLcid = 2052;
// Sort order 2052 gives ASCII text the General legacy key (every such key in the
// files agrees); what it does with other characters no key shows.
constexpr uint32_t kLastChinesePrcCodePoint = 0x7F;

Status Unsupported(const std::string& what) {
  return Status::Error(ErrorKind::kUnsupportedFormat, "cannot compute key: " + what);
}

std::string CodePointName(uint32_t cp) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", cp);
  return buffer;
}

void AppendBigEndian(uint64_t value, int bytes, std::string* out) {
  // Byte by byte: a key is appended to millions of times, and append() of a few bytes
  // costs a call of memcpy each time.
  for (int i = 0; i < bytes; ++i) out->push_back(char((value >> (8 * (bytes - 1 - i))) & 0xFF));
}

void InvertFrom(size_t start, std::string* out) {
  for (size_t i = start; i < out->size(); ++i) (*out)[i] = char(~uint8_t((*out)[i]));
}

// Two's complement, big-endian, top bit flipped: signed order becomes byte order.
void AppendSignedInteger(int64_t value, int bytes, std::string* out) {
  uint64_t bits = uint64_t(value);
  bits ^= uint64_t(1) << (8 * bytes - 1);
  AppendBigEndian(bits, bytes, out);
}

// Ascending form; the descending one is its inverse, like every other type's.
void AppendFloatBits(uint64_t bits, int bytes, std::string* out) {
  const uint64_t sign = uint64_t(1) << (8 * bytes - 1);
  const size_t start = out->size();
  if ((bits & sign) != 0) {
    AppendBigEndian(bits, bytes, out);
    InvertFrom(start, out);
  } else {
    AppendBigEndian(bits ^ sign, bytes, out);
  }
}

void AppendDouble(double value, std::string* out) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  AppendFloatBits(bits, 8, out);
}

void AppendSingle(double widened, std::string* out) {
  float value = float(widened);
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  AppendFloatBits(bits, 4, out);
}

}  // namespace

void AppendNumericKey(const Numeric& n, bool ace, bool ascending, std::string* out) {
  const size_t start = out->size();
  out->push_back(char(n.negative ? 0x80 : 0x00));
  AppendBigEndian(n.high, 8, out);
  AppendBigEndian(n.low, 8, out);
  if (ace) {
    (*out)[start] = char(0xFF);
    if (n.negative == ascending) InvertFrom(start, out);
  } else {
    if (n.negative == ascending) InvertFrom(start, out);
    (*out)[start] = char(n.negative ? 0x00 : 0xFF);
  }
}

namespace {

// 8-byte segments; see the header. An empty value has no confirmed encoding.
Status AppendBinarySegments(const uint8_t* data, size_t size, bool ascending,
                            std::string* out) {
  if (size == 0) return Unsupported("empty binary value");
  size_t pos = 0;
  while (true) {
    const size_t chunk = std::min<size_t>(8, size - pos);
    const size_t start = out->size();
    out->append(reinterpret_cast<const char*>(data + pos), chunk);
    pos += chunk;
    if (pos < size) {
      if (!ascending) InvertFrom(start, out);
      out->push_back(char(0x09));
      continue;
    }
    out->append(8 - chunk, '\0');
    out->push_back(char(chunk));
    if (!ascending) InvertFrom(start, out);
    return Status::Ok();
  }
}

// A GUID is stored in Windows layout (first three fields little-endian); keys use
// the canonical order in which it is written as text.
std::vector<uint8_t> CanonicalGuid(const std::vector<uint8_t>& stored) {
  std::vector<uint8_t> g(stored);
  std::reverse(g.begin(), g.begin() + 4);
  std::reverse(g.begin() + 4, g.begin() + 6);
  std::reverse(g.begin() + 6, g.begin() + 8);
  return g;
}

// Why a column cannot be part of a computed key, or "" when it can.
std::string ColumnRefusal(const Format& format, const ColumnDef& column) {
  switch (column.type()) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBinary:
    case ColumnType::kGuid:
    case ColumnType::kComplex:
    case ColumnType::kBigInt:
      return "";
    case ColumnType::kNumeric:
      // No file here has a Numeric index, and the public notes disagree on how Jet
      // orders negative values in one (see AppendNumericKey).
      return "keys of Numeric columns are not confirmed by any Access-written index";
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (ColumnCollation(format, column) != TextCollation::kOther) return "";
      if (IsJet3(format.version))
        return "keys cannot be computed for sort order " + std::to_string(column.sort_lcid) +
               (column.sort_lcid == kGeneralLcid
                    ? " with code page " + std::to_string(column.code_page) : "");
      return "keys cannot be computed for sort order " + std::to_string(column.sort_lcid) +
             " version " + std::to_string(column.sort_version);
    default:
      return "keys cannot be computed for columns of type " + ColumnTypeName(column.type_code);
  }
}

// Direct lookup of the code points below this, the characters of nearly every key,
// for the two built-in tables; the rest by binary search.
constexpr uint32_t kDirectCodePoints = 0x100;

struct DirectCodes {
  const SortCode* codes[kDirectCodePoints] = {};
};

const SortCode* SearchCode(const SortCodeTable& table, uint32_t code_point) {
  const SortCode* end = table.codes + table.size;
  const SortCode* it = std::lower_bound(
      table.codes, end, code_point, [](const SortCode& c, uint32_t cp) { return c.code_point < cp; });
  return (it != end && it->code_point == code_point) ? it : nullptr;
}

DirectCodes MakeDirectCodes(const SortCodeTable& table) {
  DirectCodes direct;
  for (uint32_t cp = 0; cp < kDirectCodePoints; ++cp) direct.codes[cp] = SearchCode(table, cp);
  return direct;
}

const DirectCodes* DirectCodesOf(const SortCodeTable* table) {
  static const DirectCodes general97 = MakeDirectCodes(General97Codes());
  static const DirectCodes legacy = MakeDirectCodes(GeneralLegacyCodes());
  if (table == &General97Codes()) return &general97;
  if (table == &GeneralLegacyCodes()) return &legacy;
  return nullptr;
}

// SortCodeTable::Find with the table's direct codes (DirectCodesOf) looked up once.
inline const SortCode* FindCode(const SortCodeTable& table, const DirectCodes* direct, uint32_t code_point) {
  if (direct != nullptr && code_point < kDirectCodePoints) return direct->codes[code_point];
  return SearchCode(table, code_point);
}

// The parts of a General 97 key of `text` that depend on `unknown_slots`, how many
// plain slots a kInlineSlotsUnknown character is taken to have (at most one per inline
// byte): its accent nibbles, in `nibbles`. The inline bytes, which do not depend on it,
// are appended to `inline_bytes` when given. *any_unknown (when given) is set when a
// kInlineSlotsUnknown character is met.
Status General97Parts(const SortCodeTable& table, const uint32_t* text, size_t size, int unknown_slots,
                      std::string* inline_bytes, std::string* nibbles, bool* any_unknown) {
  // Written through pointers into room made beforehand (a character gives at most
  // kMaxInline inline bytes and two nibbles), then cut to what was written: a key is
  // computed for every indexed value of every row, and a push a byte costs more than
  // the lookups.
  constexpr size_t kMaxInline = sizeof(SortCode{}.inline_bytes);
  const DirectCodes* direct = DirectCodesOf(&table);
  nibbles->resize(2 * size);
  char* nibble = nibbles->data();
  const size_t inline_start = inline_bytes != nullptr ? inline_bytes->size() : 0;
  char* inline_at = nullptr;
  if (inline_bytes != nullptr) {
    inline_bytes->resize(inline_start + kMaxInline * size);
    inline_at = inline_bytes->data() + inline_start;
  }
  Status status = Status::Ok();
  for (size_t i = 0; i < size; ++i) {
    const uint32_t cp = text[i];
    const SortCode* code = FindCode(table, direct, cp);
    if (code == nullptr || code->kind == SortCodeKind::kUnconfirmed ||
        code->kind == SortCodeKind::kUnprintable) {
      status = Unsupported("unconfirmed character " + CodePointName(cp));
      break;
    }
    if (code->kind == SortCodeKind::kIgnored) continue;
    if (inline_at != nullptr) {
      if (code->inline_size == 1) {
        *inline_at++ = char(code->inline_bytes[0]);
      } else {
        std::memcpy(inline_at, code->inline_bytes, code->inline_size);
        inline_at += code->inline_size;
      }
    }
    if (code->kind == SortCodeKind::kInlineSlotsUnknown) {
      if (any_unknown != nullptr) *any_unknown = true;
      const size_t slots = size_t(std::min<int>(unknown_slots, code->inline_size));
      std::memset(nibble, 2, slots);  // at most two: unknown_slots is 0, 1 or 2
      nibble += slots;
      continue;
    }
    if (code->extra != 0) *nibble++ = char(code->extra);
    if (code->extra2 != 0) *nibble++ = char(code->extra2);
  }
  nibbles->resize(size_t(nibble - nibbles->data()));
  if (inline_bytes != nullptr)
    inline_bytes->resize(status.ok() ? size_t(inline_at - inline_bytes->data()) : inline_start);
  return status;
}

// The accent part of a General 97 key: the nibbles without trailing 2s, framed by a 0
// nibble on each side, zero-padded to whole bytes and packed high nibble first; a
// single 0 byte when no nibble is left. Trims `nibbles`.
// The accent part of a General 97 key whose characters carry no accent.
constexpr char kGeneral97NoAccents = '\0';

void AppendGeneral97Accents(std::string* nibbles, std::string* out) {
  while (!nibbles->empty() && nibbles->back() == 2) nibbles->pop_back();
  if (nibbles->empty()) {
    out->push_back(kGeneral97NoAccents);
    return;
  }
  const size_t count = nibbles->size();
  auto stream = [&](size_t i) -> unsigned { return i == 0 || i > count ? 0u : uint8_t((*nibbles)[i - 1]); };
  for (size_t i = 0; i < count + 2; i += 2) out->push_back(char((stream(i) << 4) | stream(i + 1)));
}

// Length of `text` without its trailing spaces.
size_t TrimmedSize(const std::vector<uint32_t>& text) {
  size_t size = text.size();
  while (size > 0 && text[size - 1] == 0x20) --size;
  return size;
}


}  // namespace

const SortCode* SortCodeTable::Find(uint32_t code_point) const {
  if (code_point < kDirectCodePoints) {
    if (const DirectCodes* direct = DirectCodesOf(this)) return direct->codes[code_point];
  }
  return SearchCode(*this, code_point);
}

Status DecodeUtf8(const std::string& utf8, std::vector<uint32_t>* code_points) {
  // Never more code points than bytes: written through a pointer, then cut.
  code_points->resize(utf8.size());
  uint32_t* to = code_points->data();
  const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
  const size_t size = utf8.size();
  size_t i = 0;
  while (i < size) {
    const uint8_t lead = bytes[i];
    if (lead < 0x80) {  // most text
      *to++ = lead;
      ++i;
      continue;
    }
    const int extra = (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || size - i <= size_t(extra)) {
      code_points->clear();
      return Status::Error(ErrorKind::kInvalidArgument, "malformed UTF-8 text");
    }
    uint32_t cp = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const uint8_t next = bytes[i + k];
      if ((next & 0xC0) != 0x80) {
        code_points->clear();
        return Status::Error(ErrorKind::kInvalidArgument, "malformed UTF-8 text");
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    *to++ = cp;
    i += size_t(extra) + 1;
  }
  code_points->resize(size_t(to - code_points->data()));
  return Status::Ok();
}

Status AppendGeneral97Key(const SortCodeTable& table, const std::vector<uint32_t>& text,
                          std::string* out) {
  const size_t size = TrimmedSize(text);
  const size_t start = out->size();
  // Scratch kept from key to key (a check or a compaction computes millions).
  thread_local std::string* nibbles_slot = nullptr;
  std::string& nibbles = ThreadScratch(&nibbles_slot);
  thread_local std::string* accents_slot = nullptr;
  std::string& accents = ThreadScratch(&accents_slot);
  thread_local std::string* other_slot = nullptr;
  std::string& other = ThreadScratch(&other_slot);
  accents.clear();
  bool any_unknown = false;
  Status s = General97Parts(table, text.data(), size, 0, out, &nibbles, &any_unknown);
  if (!s.ok()) {
    out->resize(start);
    return s;
  }
  AppendGeneral97Accents(&nibbles, &accents);
  // The slot count only matters for kInlineSlotsUnknown characters, and only for the
  // accent part; without one (the usual case) every reading gives `accents`, so no
  // other is computed.
  for (int slots = 1; any_unknown && slots <= 2; ++slots) {
    s = General97Parts(table, text.data(), size, slots, nullptr, &nibbles, nullptr);
    if (!s.ok()) {
      out->resize(start);
      return s;
    }
    other.clear();
    AppendGeneral97Accents(&nibbles, &other);
    if (other == accents) continue;
    out->resize(start);
    for (size_t i = 0; i < size; ++i) {
      if (table.Find(text[i])->kind == SortCodeKind::kInlineSlotsUnknown)
        return Unsupported("accent weight of character " + CodePointName(text[i]) +
                           " before an accented character is not confirmed");
    }
  }
  out->append(accents);
  return Status::Ok();
}

namespace {

// `unknown_positions`: how many positions (1 or 2) a kInlineSlotsUnknown character
// is taken to have. *positions_matter (when given) is set when such a character has
// more than one inline byte: only then does `unknown_positions` change the key.
Status AppendGeneralLegacyVariant(const SortCodeTable& table, const uint32_t* text, size_t size,
                                  int unknown_positions, std::string* out, bool* positions_matter) {
  // Scratch kept from key to key (a check or a compaction computes millions).
  thread_local std::string* extras_slot = nullptr;
  std::string& extras = ThreadScratch(&extras_slot);
  thread_local std::string* unprintables_slot = nullptr;
  std::string& unprintables = ThreadScratch(&unprintables_slot);
  extras.clear();
  unprintables.clear();
  uint32_t printable = 0;
  const DirectCodes* direct = DirectCodesOf(&table);
  for (size_t i = 0; i < size; ++i) {
    const uint32_t cp = text[i];
    const SortCode* code = FindCode(table, direct, cp);
    if (code == nullptr || code->kind == SortCodeKind::kUnconfirmed) {
      return Unsupported("unconfirmed character " + CodePointName(cp));
    }
    if (code->kind == SortCodeKind::kIgnored) continue;
    if (code->kind == SortCodeKind::kUnprintable) {
      const uint32_t position = 0x8000 | (7 + 4 * printable);
      if (position > 0xFFFF) return Unsupported("text too long for its unprintable characters");
      AppendBigEndian(position, 2, &unprintables);
      unprintables.push_back(char(0x06));
      unprintables.push_back(char(code->extra));
      continue;
    }
    for (uint8_t k = 0; k < code->inline_size; ++k) out->push_back(char(code->inline_bytes[k]));  // no memcpy call
    if (code->kind == SortCodeKind::kInlineSlotsUnknown) {
      if (code->inline_size > 1 && positions_matter != nullptr) *positions_matter = true;
      const int positions = code->inline_size > 1 ? unknown_positions : 1;
      extras.append(size_t(positions), char(0x02));
      printable += uint32_t(positions);
      continue;
    }
    if (code->extra == 0) continue;  // takes no position
    extras.push_back(char(code->extra));
    ++printable;
    if (code->extra2 != 0) {
      extras.push_back(char(code->extra2));
      ++printable;
    }
  }
  out->push_back(char(0x01));
  while (!extras.empty() && uint8_t(extras.back()) <= 0x02) extras.pop_back();
  out->append(extras);
  if (!unprintables.empty()) {
    out->append("\x01\x01\x01", 3);
    out->append(unprintables);
  }
  out->push_back('\0');
  return Status::Ok();
}

}  // namespace

Status AppendGeneralLegacyKey(const SortCodeTable& table, const std::vector<uint32_t>& text,
                              std::string* out) {
  const size_t size = TrimmedSize(text);
  const size_t start = out->size();
  bool positions_matter = false;
  // The reading with one position goes straight into `out`; it is taken back on failure.
  Status s = AppendGeneralLegacyVariant(table, text.data(), size, 1, out, &positions_matter);
  if (!s.ok()) {
    out->resize(start);
    return s;
  }
  // Without a character whose position count matters (the usual case) the reading
  // with two positions is the same, so it is not computed.
  if (positions_matter) {
    std::string two;
    s = AppendGeneralLegacyVariant(table, text.data(), size, 2, &two, nullptr);
    if (s.ok() && std::string_view(*out).substr(start) != two) {
      for (size_t i = 0; i < size; ++i) {
        if (table.Find(text[i])->kind == SortCodeKind::kInlineSlotsUnknown) {
          s = Unsupported("sort weight of character " + CodePointName(text[i]) +
                          " before an accented or unprintable character is not confirmed");
          break;
        }
      }
    }
    if (!s.ok()) {
      out->resize(start);
      return s;
    }
  }
  return Status::Ok();
}

namespace {

// The one inline byte of each ASCII character that the General 97 codes give exactly
// that and no accent (a nibble of 0 or 2, which the key's accent part trims away), or
// 0 for a character that must take the code-point route. Every confirmed ASCII
// character qualifies.
struct AsciiGeneral97Bytes {
  uint8_t bytes[0x80] = {};
};

const AsciiGeneral97Bytes& AsciiGeneral97BytesTable() {
  static const AsciiGeneral97Bytes table = [] {
    AsciiGeneral97Bytes t;
    const DirectCodes* direct = DirectCodesOf(&General97Codes());
    const auto unaccented = [](uint8_t nibble) { return nibble == 0 || nibble == 2; };
    for (uint32_t cp = 0; cp < 0x80; ++cp) {
      const SortCode* code = direct->codes[cp];
      if (code != nullptr && code->kind == SortCodeKind::kInline && code->inline_size == 1 &&
          code->inline_bytes[0] != 0 && unaccented(code->extra) && unaccented(code->extra2))
        t.bytes[cp] = code->inline_bytes[0];
    }
    return t;
  }();
  return table;
}

// The General 97 key of `text` when its keyed characters are all ASCII characters of
// AsciiGeneral97BytesTable -- nearly every key -- straight from its bytes: the bytes
// AppendGeneral97Key gives (the inline bytes, then the empty accent part), without
// decoding to code points first. False, with nothing appended, for any other text.
bool AppendAsciiGeneral97Key(const std::string& text, std::string* out) {
  const uint8_t* bytes = AsciiGeneral97BytesTable().bytes;
  // ASCII bytes are characters, so the first 255 bytes are the keyed characters.
  size_t size = std::min(text.size(), kMaxKeyTextCharacters);
  while (size > 0 && text[size - 1] == ' ') --size;
  const size_t start = out->size();
  out->resize(start + size + 1);
  char* inline_at = out->data() + start;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t byte = uint8_t(text[i]);
    const uint8_t key_byte = bytes[byte & 0x7F];
    if (byte >= 0x80 || key_byte == 0) {
      out->resize(start);
      return false;
    }
    *inline_at++ = char(key_byte);
  }
  *inline_at = kGeneral97NoAccents;
  return true;
}

}  // namespace

Status AppendTextSortKey(TextCollation collation, const std::string& utf8, bool ascending,
                         std::string* out) {
  if (collation == TextCollation::kGeneral97) {
    const size_t key_start = out->size();
    if (AppendAsciiGeneral97Key(utf8, out)) {
      if (!ascending) InvertFrom(key_start, out);
      return Status::Ok();
    }
  }
  thread_local std::vector<uint32_t>* text_slot = nullptr;  // kept from key to key
  std::vector<uint32_t>& text = ThreadScratch(&text_slot);
  Status s = DecodeUtf8(utf8, &text);
  if (!s.ok()) return s;
  // Only the first 255 characters are keyed (a Memo can be longer).
  if (text.size() > kMaxKeyTextCharacters) text.resize(kMaxKeyTextCharacters);
  const size_t start = out->size();
  switch (collation) {
    case TextCollation::kGeneral97:
      s = AppendGeneral97Key(General97Codes(), text, out);
      break;
    case TextCollation::kChinesePrc:
      for (uint32_t cp : text)
        if (cp > kLastChinesePrcCodePoint)
          return Unsupported("character " + CodePointName(cp) + " in sort order 2052 is not confirmed");
      [[fallthrough]];
    case TextCollation::kGeneralLegacy:
      s = AppendGeneralLegacyKey(GeneralLegacyCodes(), text, out);
      break;
    case TextCollation::kOther:
      return Unsupported("sort order not supported");
  }
  if (!s.ok()) {
    out->resize(start);
    return s;
  }
  if (!ascending) {
    InvertFrom(start, out);
    // A descending General legacy value ends in its own 0x00 after the inverted one.
    if (collation != TextCollation::kGeneral97) out->push_back('\0');
  }
  return Status::Ok();
}

TextCollation ColumnCollation(const Format& format, const ColumnDef& column) {
  if (!IsJet3(format.version) && column.sort_lcid == kChinesePrcLcid && column.sort_version == 0)
    return TextCollation::kChinesePrc;
  if (column.sort_lcid != kGeneralLcid) return TextCollation::kOther;
  // The General 97 codes were derived from code page 1252 text.
  if (IsJet3(format.version))
    return column.code_page == kGeneral97CodePage ? TextCollation::kGeneral97 : TextCollation::kOther;
  if (column.sort_version == 0) return TextCollation::kGeneralLegacy;
  return TextCollation::kOther;
}

bool CanComputeKeys(const Format& format, const TableDef& table, const RealIndex& index,
                    std::string* reason) {
  for (const IndexColumn& ic : index.columns) {
    const int position = table.FindColumnByNumber(ic.column_number);
    if (position < 0) {
      if (reason) *reason = "index names column number " + std::to_string(ic.column_number) +
                            ", which the table does not have";
      return false;
    }
    std::string refusal = ColumnRefusal(format, table.columns[position]);
    if (!refusal.empty()) {
      if (reason) *reason = refusal;
      return false;
    }
  }
  return true;
}

size_t KeyValueWidth(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kComplex:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBigInt:
      return 8;
    case ColumnType::kNumeric:
      return 17;
    default:
      return 0;
  }
}

Status AppendIndexKeyColumn(const Format& format, const ColumnDef& column, bool ascending,
                            const Value& value, std::string* key) {
  std::string refusal = ColumnRefusal(format, column);
  if (!refusal.empty()) return Unsupported(refusal);
  const ColumnType type = column.type();
  // A boolean is never null in a key: its value is the null-mask bit itself.
  if (value.is_null() && type != ColumnType::kBoolean) {
    key->push_back(char(ascending ? kKeyFlagNullAscending : kKeyFlagNullDescending));
    return Status::Ok();
  }
  const size_t flag_at = key->size();
  key->push_back(char(ascending ? kKeyFlagAscending : kKeyFlagDescending));
  const size_t start = key->size();
  auto mismatch = [&]() {
    key->resize(flag_at);
    return Status::Error(ErrorKind::kInvalidArgument,
                         "value does not fit column \"" + column.name + "\" of type " +
                             ColumnTypeName(column.type_code));
  };
  const ValueType vt = value.type();
  switch (type) {
    case ColumnType::kBoolean: {
      const bool truth = vt == ValueType::kBoolean && value.boolean();
      key->push_back(char(truth == ascending ? 0x00 : 0xFF));
      return Status::Ok();
    }
    case ColumnType::kByte:
      if (vt != ValueType::kByte) return mismatch();
      key->push_back(char(uint8_t(value.integer())));
      break;
    case ColumnType::kInteger:
      if (vt != ValueType::kInteger) return mismatch();
      AppendSignedInteger(value.integer(), KeyValueWidth(type), key);
      break;
    case ColumnType::kLong:
    case ColumnType::kComplex:
      if (vt != ValueType::kLong && vt != ValueType::kComplex) return mismatch();
      AppendSignedInteger(value.integer(), KeyValueWidth(type), key);
      break;
    case ColumnType::kCurrency:
    case ColumnType::kBigInt:
      if (vt != ValueType::kCurrency && vt != ValueType::kBigInt) return mismatch();
      AppendSignedInteger(value.integer(), KeyValueWidth(type), key);
      break;
    case ColumnType::kSingle:
      if (vt != ValueType::kSingle) return mismatch();
      AppendSingle(value.real(), key);
      break;
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      if (vt != ValueType::kDouble && vt != ValueType::kDateTime) return mismatch();
      AppendDouble(value.real(), key);
      break;
    case ColumnType::kBinary: {
      if (vt != ValueType::kBinary) return mismatch();
      Status s = AppendBinarySegments(value.bytes().data(), value.bytes().size(), ascending, key);
      if (!s.ok()) key->resize(flag_at);
      return s;
    }
    case ColumnType::kGuid: {
      if (vt != ValueType::kGuid || value.bytes().size() != 16) return mismatch();
      std::vector<uint8_t> g = CanonicalGuid(value.bytes());
      return AppendBinarySegments(g.data(), g.size(), ascending, key);
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      if (vt != ValueType::kText) return mismatch();
      Status s = AppendTextSortKey(ColumnCollation(format, column), value.text(), ascending, key);
      if (!s.ok()) key->resize(flag_at);
      return s;
    }
    default:
      key->resize(flag_at);
      return Unsupported("keys cannot be computed for columns of type " +
                         ColumnTypeName(column.type_code));
  }
  if (!ascending) InvertFrom(start, key);
  return Status::Ok();
}

bool UniqueKeysCollide(std::string_view a, std::string_view b) {
  if (a != b) return false;
  for (unsigned char c : a)
    if (c != kKeyFlagNullAscending && c != kKeyFlagNullDescending) return true;
  return false;
}

bool DecodeIndexKey(const TableDef& table, const RealIndex& index, const std::string& key, std::vector<Value>* values) {
  values->resize(std::max(values->size(), table.columns.size()));
  size_t at = 0;
  for (const IndexColumn& ic : index.columns) {
    const int position = table.FindColumnByNumber(ic.column_number);
    if (position < 0 || at >= key.size()) return false;
    const ColumnType type = table.columns[position].type();
    if (type != ColumnType::kByte && type != ColumnType::kInteger && type != ColumnType::kLong) return false;
    Value& value = (*values)[size_t(position)];
    const uint8_t flag = uint8_t(key[at++]);
    if (flag == kKeyFlagNullAscending || flag == kKeyFlagNullDescending) {
      value = Value();
      continue;
    }
    if (flag != (ic.ascending ? kKeyFlagAscending : kKeyFlagDescending)) return false;
    const size_t width = KeyValueWidth(type);
    if (at + width > key.size()) return false;
    uint64_t bits = 0;
    for (size_t b = 0; b < width; ++b) bits = bits << 8 | uint8_t(ic.ascending ? key[at + b] : ~key[at + b]);
    at += width;
    if (type == ColumnType::kByte) {
      value = Value::Byte(uint8_t(bits));
      continue;
    }
    bits ^= uint64_t(1) << (8 * width - 1);  // undo the flipped top bit, then sign-extend
    value = width == 2 ? Value::Integer(int16_t(bits)) : Value::Long(int32_t(bits));
  }
  return at == key.size();
}

bool DescribeIndexKey(const TableDef& table, const RealIndex& index, const std::string& key, std::string* text) {
  std::vector<Value> values;
  if (!DecodeIndexKey(table, index, key, &values)) return false;
  text->clear();
  for (const IndexColumn& ic : index.columns) {
    const int position = table.FindColumnByNumber(ic.column_number);
    const Value& value = values[size_t(position)];
    if (!text->empty()) *text += ", ";
    *text += table.columns[size_t(position)].name + "=" + (value.is_null() ? "Null" : value.ToText());
  }
  return true;
}

Status EncodeIndexKey(const Format& format, const TableDef& table, const RealIndex& index,
                      const std::vector<Value>& values, std::string* key) {
  key->clear();
  for (const IndexColumn& ic : index.columns) {
    const int position = table.FindColumnByNumber(ic.column_number);
    if (position < 0 || size_t(position) >= values.size()) {
      return Status::Error(ErrorKind::kInvalidArgument,
                           "no value for index column number " + std::to_string(ic.column_number));
    }
    Status s = AppendIndexKeyColumn(format, table.columns[position], ic.ascending,
                                    values[position], key);
    if (!s.ok()) {
      key->clear();
      return s;
    }
  }
  return Status::Ok();
}

bool IndexHoldsRow(const TableDef& table, const RealIndex& index, const std::vector<Value>& values) {
  if ((index.flags & kIndexIgnoreNulls) == 0) return true;
  for (const IndexColumn& column : index.columns) {
    const int position = table.FindColumnByNumber(column.column_number);
    if (position >= 0 && size_t(position) < values.size() && !values[size_t(position)].is_null()) return true;
  }
  return false;
}

std::vector<size_t> IndexKeyColumns(const TableDef& table) {
  std::vector<bool> used(table.columns.size(), false);
  for (const RealIndex& index : table.real_indexes)
    for (const IndexColumn& column : index.columns) {
      const int position = table.FindColumnByNumber(column.column_number);
      if (position >= 0) used[size_t(position)] = true;
    }
  std::vector<size_t> positions;
  for (size_t i = 0; i < used.size(); ++i)
    if (used[i]) positions.push_back(i);
  return positions;
}

}  // namespace jet
