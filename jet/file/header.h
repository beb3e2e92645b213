// Header: page 0 of a database file, decoded. DecodeHeader validates the
// identification bytes and unmasks the RC4-masked region to get the code page, sort
// order, database key, creation date and database password; EncodeHeader does the
// reverse for a writer, starting from the raw page 0 bytes so that fields nobody
// understands are carried over unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

struct Header {
  Version version = Version::kJet3;
  std::string engine_name;      // "Standard Jet DB", "Standard ACE DB"
  uint16_t code_page = 0;       // default code page (all text of a Jet 3 file)
  uint16_t sort_lcid = 0;       // default collation
  uint8_t sort_version = 0;     // Jet 4 / ACE: 0 "General legacy", 1 new "General"
  uint32_t db_key = 0;          // != 0: pages are RC4-encoded (Jet 3 / Jet 4)
  bool has_creation_date = false;  // Jet 4 / ACE only
  double creation_date = 0;     // days since 1899-12-30
  // The database password, decoded to UTF-8. Callers may compare it or report that
  // one is set; it must never be written to a log or to tool output.
  bool has_password = false;
  std::string password;
  // Password field after header unmasking (and, for Jet 4, after removing the
  // creation-date mask): 20 bytes (Jet 3) or 40 bytes (Jet 4), for EncodeHeader.
  std::vector<uint8_t> password_bytes;
  // Page 0 exactly as stored in the file (masked), page-size bytes.
  std::vector<uint8_t> raw_page;

  bool is_encoded() const { return db_key != 0; }
  const Format& format() const { return FormatFor(version); }
};

// Page-0 offsets (absolute; values of the masked region after unmasking).
//   0x00  1  page type 0x00
//   0x04 15  engine name, NUL at 0x13
//   0x14  1  version byte: 0 Jet 3, 1 Jet 4, 2..6 ACE 12..17
//   0x18 126/128  masked region (RC4 key stream of C7 DA 39 6B)
//   0x3A  2  Jet 3 default sort order LCID
//   0x3C  2  default code page
//   0x3E  4  database key
//   0x42 20/40  password (Jet 4: UCS-2, XOR with (int32) creation date, repeated)
//   0x6E  4  Jet 4 sort order: LCID (2), 0x00, version byte
//   0x72  8  Jet 4 creation date (double)
inline constexpr size_t kHeaderEngineNameOffset = 0x04;
inline constexpr size_t kHeaderEngineNameSize = 15;
inline constexpr size_t kHeaderVersionOffset = 0x14;
inline constexpr size_t kHeaderMaskOffset = 0x18;
inline constexpr size_t kHeaderJet3SortOffset = 0x3A;
inline constexpr size_t kHeaderCodePageOffset = 0x3C;
inline constexpr size_t kHeaderDbKeyOffset = 0x3E;
inline constexpr size_t kHeaderPasswordOffset = 0x42;
inline constexpr size_t kHeaderJet4SortOffset = 0x6E;
inline constexpr size_t kHeaderCreationDateOffset = 0x72;

// What a Jet 3 header that names no code page (0) means: Windows-1252, the Western
// default every reader takes for it.
inline constexpr uint16_t kDefaultCodePage = 1252;
// The "General" sort order, the default of every format.
inline constexpr uint16_t kGeneralSortLcid = 1033;

// Decodes page 0 from the first `size` bytes of a file. kNotJetDatabase when the bytes
// are not a Jet header (or fewer than one page); kUnsupportedFormat for MSISAM files,
// unknown version bytes and ACE files with Office encryption.
Status DecodeHeader(const uint8_t* bytes, size_t size, Header* header);

// Page 0 bytes for `header`: its raw_page with code page, sort order, db key, creation
// date and password written and the region re-masked. The password is masked with
// header.creation_date, so a writer that changes the date gets a consistent page.
Status EncodeHeader(const Header& header, std::vector<uint8_t>* page);

// Sets the database password of `header` (has_password, password, password_bytes):
// Jet 3 in the header's code page, Jet 4 as UTF-16LE, zero-padded to the field; ""
// removes it. kInvalidArgument when it does not fit the field (20 bytes) or the code
// page lacks one of its characters.
Status SetHeaderPassword(const std::string& password, Header* header);

// The header of a new file of `version`: the constant bytes Jet writes, `code_page`,
// the General sort order, no key, no password, the creation date (Jet 4) and an idle
// commit area. What a file is created with and what a lost page 0 is rebuilt from.
Header NewHeader(Version version, uint16_t code_page, double creation_date);

// The code page of the file's text: the header's, or kDefaultCodePage for none.
inline uint16_t TextCodePage(const Header& header) {
  return header.code_page != 0 ? header.code_page : kDefaultCodePage;
}

// Header fields whose value no Jet engine writes; such a value is damage (a flipped
// byte), never a setting to carry over.
enum class HeaderField : uint8_t { kCodePage, kSortOrder, kPassword, kCreationDate };
struct ImpossibleField {
  HeaderField field;
  std::string detail;  // "code page 48381 is not a Windows code page"
};
std::vector<ImpossibleField> ImpossibleHeaderFields(const Header& header);
// "code page", "sort order", "password", "creation date".
const char* HeaderFieldName(HeaderField field);
// True when `code_page` is a code page Jet writes for a file (0 included: the default).
bool IsJetCodePage(uint16_t code_page);
// True when `c` (a byte of a Jet 3 password, a UCS-2 unit of a Jet 4 one) may stand in
// a password: printable, no surrogate half, no non-character.
bool IsPasswordCharacter(uint32_t c);
// True when `lcid` has the shape of a Windows locale id (a known primary language and
// sublanguage, no sort bits), which every Jet sort order is.
bool IsPlausibleSortLcid(uint16_t lcid);

// Jet 4: the integer part of the creation date, read from a password field that holds
// no password (the date mask repeated); false when the field holds something else.
bool CreationDayFromEmptyPassword(const Header& header, int32_t* day);

// True when a page of `format` starts like the first page of a table definition
// (type 02 01, and "VC" in Jet 3 / the 1625 constant in Jet 4): the page structure
// that tells the two page sizes apart when page 0 is lost.
bool LooksLikeTableDefPage(const Format& format, const uint8_t* page);

// XORs the header mask over the masked region of a page-0 buffer (own inverse).
void ApplyHeaderMask(Version version, uint8_t* page, size_t size);

// Commit area: the last 512 bytes of page 0, one 2-byte slot per user (slot 0 for
// exclusive opens). Every file that Access closed carries a non-zero second byte in
// each slot (0x01..0x03; the first byte is a counter); a slot whose second byte is 0
// is what an interrupted writer leaves, the "needs repair" state. `00 01` is the
// slot of nobody writing, which is what a file this engine writes carries.
inline constexpr size_t kCommitAreaSize = 512;
// Offset of the commit area in page 0.
size_t CommitAreaOffset(const Format& format);
// True when the commit area of a page-0 buffer of `format` holds the state.
bool CommitStateSet(const Format& format, const uint8_t* page0);
// Clears the state: every slot whose second byte is 0 becomes `00 01`; the others
// keep their bytes.
void ClearCommitState(const Format& format, uint8_t* page0);
// Sets every slot to `00 01`: the commit area of a newly written file.
void SetCommitAreaIdle(const Format& format, uint8_t* page0);

}  // namespace jet
