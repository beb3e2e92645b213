// Header: page-0 validation, unmasking and re-masking.
#include "jet/file/header.h"

#include <cmath>
#include <cstring>

#include "jet/base/byte_order.h"
#include "jet/file/rc4.h"
#include "jet/base/text.h"

namespace jet {
namespace {

constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

Status NotJet(const std::string& why) {
  return Status::Error(ErrorKind::kNotJetDatabase, why);
}

size_t PasswordSize(Version v) { return IsJet3(v) ? 20 : 40; }

// Jet 4 masks the password with the integer part of the creation date, as four
// little-endian bytes repeated over the field.
void ApplyPasswordDateMask(double creation_date, uint8_t* bytes, size_t size) {
  int32_t mask_value = 0;
  if (std::isfinite(creation_date) && creation_date > -2147483648.0 &&
      creation_date < 2147483648.0)
    mask_value = static_cast<int32_t>(creation_date);
  uint8_t mask[4];
  StoreLe32(mask, static_cast<uint32_t>(mask_value));
  for (size_t i = 0; i < size; ++i) bytes[i] ^= mask[i % 4];
}

std::string DecodePassword(Version version, uint16_t code_page,
                           const std::vector<uint8_t>& bytes) {
  if (IsJet3(version)) {
    size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0) ++n;
    std::string text;
    if (DecodeCodePageText(bytes.data(), n, code_page, &text).ok()) return text;
    // Unknown code page: keep the ASCII part readable.
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
  }
  size_t n = 0;
  while (n + 1 < bytes.size() && (bytes[n] != 0 || bytes[n + 1] != 0)) n += 2;
  return Utf16LeToUtf8(bytes.data(), n);
}

bool IsControl(uint32_t c) { return c < 0x20 || c == 0x7F; }

// Days since 1899-12-30 of 1980-01-01 and 2200-01-01: a Jet 4 file was created in
// between (some writers leave 0).
constexpr double kFirstCreationDay = 29221;
constexpr double kLastCreationDay = 109575;

}  // namespace

Header NewHeader(Version version, uint16_t code_page, double creation_date) {
  const Format& format = FormatFor(version);
  const bool j3 = IsJet3(version);
  Header header;
  header.version = version;
  header.engine_name = IsAce(version) ? "Standard ACE DB" : "Standard Jet DB";
  header.code_page = code_page;
  header.sort_lcid = kGeneralSortLcid;
  header.has_creation_date = !j3;
  header.creation_date = j3 ? 0 : creation_date;
  header.password_bytes.assign(PasswordSize(version), 0);
  // The masked region is built plain and masked here; EncodeHeader writes the fields.
  std::vector<uint8_t>& raw = header.raw_page;
  raw.assign(format.page_size, 0);
  raw[1] = 0x01;
  std::memcpy(raw.data() + kHeaderEngineNameOffset, header.engine_name.data(), kHeaderEngineNameSize);
  raw[kHeaderVersionOffset] = static_cast<uint8_t>(version);
  // Constant in every file Jet writes; their meaning is not known.
  static const uint8_t kFixedStart[28] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0,
                                          0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(raw.data() + kHeaderMaskOffset, kFixedStart, sizeof kFixedStart);
  if (j3) StoreLe16(raw.data() + 0x38, 0x0001);
  ApplyHeaderMask(version, raw.data(), raw.size());
  if (!j3) {
    static const uint8_t kJet4Tail[8] = {0x54, 0x06, 0, 0, '4', '.', '0', 0};
    std::memcpy(raw.data() + 0x98, kJet4Tail, sizeof kJet4Tail);
  }
  SetCommitAreaIdle(format, raw.data());
  return header;
}

bool IsJetCodePage(uint16_t code_page) {
  // The ANSI code pages of Windows, which Access writes; 0 stands for the default.
  return code_page == 0 || code_page == 874 || code_page == 932 || code_page == 936 ||
         code_page == 949 || code_page == 950 || (code_page >= 1250 && code_page <= 1258);
}

bool IsPasswordCharacter(uint32_t c) { return !IsControl(c) && !(c >= 0xD800 && c <= 0xDFFF) && c < 0xFFFE; }

bool IsPlausibleSortLcid(uint16_t lcid) {
  const unsigned primary = lcid & 0x3FF;   // LANG_* ids run from 0x01 to 0x92
  const unsigned sub = lcid >> 10;         // SUBLANG_* ids of those languages: 1..0x14
  return primary >= 0x01 && primary <= 0x92 && sub >= 1 && sub <= 0x14;
}

const char* HeaderFieldName(HeaderField field) {
  switch (field) {
    case HeaderField::kCodePage: return "code page";
    case HeaderField::kSortOrder: return "sort order";
    case HeaderField::kPassword: return "password";
    case HeaderField::kCreationDate: return "creation date";
  }
  return "?";
}

std::vector<ImpossibleField> ImpossibleHeaderFields(const Header& header) {
  std::vector<ImpossibleField> out;
  if (!IsJetCodePage(header.code_page))
    out.push_back({HeaderField::kCodePage,
                   "code page " + std::to_string(header.code_page) + " is not a Windows code page"});
  // Jet 3 files may name no sort order (0): General.
  const bool no_sort = IsJet3(header.version) && header.sort_lcid == 0;
  if (!no_sort && (!IsPlausibleSortLcid(header.sort_lcid) || header.sort_version > 1))
    out.push_back({HeaderField::kSortOrder, "sort order " + std::to_string(header.sort_lcid) + "/" +
                                                std::to_string(header.sort_version) + " is no locale's"});
  if (header.has_creation_date &&
      (!std::isfinite(header.creation_date) ||
       (header.creation_date != 0 &&
        (header.creation_date < kFirstCreationDay || header.creation_date > kLastCreationDay))))
    out.push_back({HeaderField::kCreationDate, "the creation date is no date Jet writes"});
  // A password is a run of printable characters, then nothing but zeros.
  const std::vector<uint8_t>& pw = header.password_bytes;
  const size_t unit = IsJet3(header.version) ? 1 : 2;
  bool ended = false, bad = false;
  for (size_t i = 0; i + unit <= pw.size(); i += unit) {
    const uint32_t c = unit == 1 ? pw[i] : LoadLe16(&pw[i]);
    if (c == 0) {
      ended = true;
    } else if (ended || !IsPasswordCharacter(c)) {
      bad = true;
    }
  }
  if (bad) out.push_back({HeaderField::kPassword, "the password field holds no password"});
  return out;
}

bool CreationDayFromEmptyPassword(const Header& header, int32_t* day) {
  if (IsJet3(header.version) || header.password_bytes.size() < 8) return false;
  // password_bytes has the date's mask removed; put it back to see the stored bytes.
  std::vector<uint8_t> stored = header.password_bytes;
  ApplyPasswordDateMask(header.creation_date, stored.data(), stored.size());
  for (size_t i = 4; i < stored.size(); ++i)
    if (stored[i] != stored[i % 4]) return false;
  *day = static_cast<int32_t>(LoadLe32(stored.data()));
  return *day >= kFirstCreationDay && *day <= kLastCreationDay;
}

bool LooksLikeTableDefPage(const Format& format, const uint8_t* page) {
  if (page[0] != kPageTableDef || page[1] != 0x01) return false;
  if (IsJet3(format.version)) return page[2] == 'V' && page[3] == 'C';
  return LoadLe32(page + 12) == 1625;
}

void ApplyHeaderMask(Version version, uint8_t* page, size_t size) {
  const size_t mask_size = FormatFor(version).header_mask_size;
  if (!InBounds(kHeaderMaskOffset, mask_size, size)) return;
  Rc4 mask(kHeaderMaskKey, sizeof kHeaderMaskKey);
  mask.Apply(page + kHeaderMaskOffset, mask_size);
}

Status DecodeHeader(const uint8_t* bytes, size_t size, Header* header) {
  *header = Header();
  if (size < 2048) return NotJet("file is shorter than one page (" + std::to_string(size) + " bytes)");
  if (bytes[0] != 0x00) return NotJet("page 0 does not start with the header page type");
  std::string name(reinterpret_cast<const char*>(bytes + kHeaderEngineNameOffset), kHeaderEngineNameSize);
  if (name == "MSISAM Database")
    return Status::Error(ErrorKind::kUnsupportedFormat, "MSISAM (Microsoft Money/Works) file");
  if (name != "Standard Jet DB" && name != "Standard ACE DB")
    return NotJet("no Jet engine name in page 0");
  const uint8_t version_byte = bytes[kHeaderVersionOffset];
  if (version_byte > static_cast<uint8_t>(Version::kAce17))
    return Status::Error(ErrorKind::kUnsupportedFormat,
                         "unknown version byte " + std::to_string(version_byte));
  const Version version = static_cast<Version>(version_byte);
  if ((name == "Standard ACE DB") != IsAce(version))
    return NotJet("engine name \"" + name + "\" does not match version byte " +
                  std::to_string(version_byte));
  const Format& format = FormatFor(version);
  if (size < format.page_size)
    return NotJet("file is shorter than one " + std::to_string(format.page_size) + "-byte page");

  header->version = version;
  header->engine_name = name;
  header->raw_page.assign(bytes, bytes + format.page_size);

  std::vector<uint8_t> page = header->raw_page;
  ApplyHeaderMask(version, page.data(), page.size());
  const uint8_t* p = page.data();

  header->code_page = LoadLe16(p + kHeaderCodePageOffset);
  header->db_key = LoadLe32(p + kHeaderDbKeyOffset);
  if (IsJet3(version)) {
    header->sort_lcid = LoadLe16(p + kHeaderJet3SortOffset);
  } else {
    header->sort_lcid = LoadLe16(p + kHeaderJet4SortOffset);
    header->sort_version = p[kHeaderJet4SortOffset + 3];
    header->has_creation_date = true;
    header->creation_date = LoadLeDouble(p + kHeaderCreationDateOffset);
  }

  const size_t password_size = PasswordSize(version);
  header->password_bytes.assign(p + kHeaderPasswordOffset,
                                p + kHeaderPasswordOffset + password_size);
  if (header->has_creation_date)
    ApplyPasswordDateMask(header->creation_date, header->password_bytes.data(), password_size);

  // ACE files with a password use Office encryption (not the RC4 page cipher), which
  // this engine does not implement; their password field is not a password at all.
  if (IsAce(version) && header->db_key != 0)
    return Status::Error(ErrorKind::kUnsupportedFormat,
                         "ACE file with Office encryption (database password)");

  for (uint8_t b : header->password_bytes) {
    if (b != 0) {
      header->has_password = true;
      break;
    }
  }
  if (header->has_password)
    header->password = DecodePassword(version, TextCodePage(*header), header->password_bytes);
  return Status::Ok();
}

Status EncodeHeader(const Header& header, std::vector<uint8_t>* page) {
  const Format& format = header.format();
  const size_t password_size = PasswordSize(header.version);
  if (header.raw_page.size() != format.page_size)
    return Status::Error(ErrorKind::kInvalidArgument, "header has no raw page 0 of the right size");
  if (header.password_bytes.size() != password_size)
    return Status::Error(ErrorKind::kInvalidArgument, "password field has the wrong size");
  *page = header.raw_page;
  uint8_t* p = page->data();
  ApplyHeaderMask(header.version, p, page->size());
  StoreLe16(p + kHeaderCodePageOffset, header.code_page);
  StoreLe32(p + kHeaderDbKeyOffset, header.db_key);
  std::memcpy(p + kHeaderPasswordOffset, header.password_bytes.data(), password_size);
  if (IsJet3(header.version)) {
    StoreLe16(p + kHeaderJet3SortOffset, header.sort_lcid);
  } else {
    StoreLe16(p + kHeaderJet4SortOffset, header.sort_lcid);
    p[kHeaderJet4SortOffset + 3] = header.sort_version;
    StoreLeDouble(p + kHeaderCreationDateOffset, header.creation_date);
    ApplyPasswordDateMask(header.creation_date, p + kHeaderPasswordOffset, password_size);
  }
  ApplyHeaderMask(header.version, p, page->size());
  return Status::Ok();
}

Status SetHeaderPassword(const std::string& password, Header* header) {
  const size_t size = PasswordSize(header->version);
  std::vector<uint8_t> bytes;
  if (IsJet3(header->version)) {
    Status s = EncodeCodePageText(password, header->code_page, &bytes);
    if (!s.ok()) return Status::Error(ErrorKind::kInvalidArgument, "the password: " + s.detail());
  } else {
    bytes = Utf8ToUtf16Le(password);
  }
  if (bytes.size() > size)
    return Status::Error(ErrorKind::kInvalidArgument, "a database password holds at most 20 characters");
  bytes.resize(size, 0);
  header->password_bytes = bytes;
  header->has_password = !password.empty();
  header->password = password;
  return Status::Ok();
}

size_t CommitAreaOffset(const Format& format) { return format.page_size - kCommitAreaSize; }

bool CommitStateSet(const Format& format, const uint8_t* page0) {
  const uint8_t* area = page0 + CommitAreaOffset(format);
  for (size_t i = 0; i < kCommitAreaSize; i += 2)
    if (area[i + 1] == 0) return true;
  return false;
}

void ClearCommitState(const Format& format, uint8_t* page0) {
  uint8_t* area = page0 + CommitAreaOffset(format);
  for (size_t i = 0; i < kCommitAreaSize; i += 2) {
    if (area[i + 1] != 0) continue;
    area[i] = 0x00;
    area[i + 1] = 0x01;
  }
}

void SetCommitAreaIdle(const Format& format, uint8_t* page0) {
  uint8_t* area = page0 + CommitAreaOffset(format);
  for (size_t i = 0; i < kCommitAreaSize; i += 2) {
    area[i] = 0x00;
    area[i + 1] = 0x01;
  }
}

}  // namespace jet
