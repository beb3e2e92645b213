// Header rebuild: page 0 judged against the pages, and rebuilt where it is lost or
// impossible.
#include "jet/maintain/header_rebuild.h"

#include <algorithm>
#include <cstring>

#include "jet/base/env.h"
#include "jet/file/header.h"
#include "jet/read/catalog.h"
#include "jet/read/table_def.h"

namespace jet {
namespace {

// Pages looked at when counting page structures: enough to tell the formats apart,
// few enough to stay quick on a large file.
constexpr uint32_t kSamplePages = 4096;

// The first bytes of the file (up to one Jet 4 page), unread bytes left zero.
Status ReadPrefix(const std::string& path, std::vector<uint8_t>* prefix, size_t* have) {
  prefix->assign(4096, 0);
  *have = 0;
  std::unique_ptr<SequentialFile> in;
  Status s = Env::Default()->NewSequentialFile(path, &in);
  while (s.ok() && *have < prefix->size()) {
    size_t n = 0;
    s = in->Read(prefix->data() + *have, prefix->size() - *have, &n);
    if (n == 0) break;
    *have += n;
  }
  return s;
}

// The file read as `version` with `key`, whatever its page 0 says.
Status OpenAs(const std::string& path, Version version, uint32_t key, std::unique_ptr<PageFile>* file) {
  Header header = NewHeader(version, kDefaultCodePage, 0);
  header.db_key = key;
  return PageFile::OpenWithHeader(path, header, file);
}

struct Structure {
  bool page2_is_catalog = false;  // page 2 starts like a table definition
  uint32_t tdef_pages = 0;        // pages that do, of the sample
  uint32_t typed_pages = 0;       // pages with a known page-type byte, of the sample
  uint32_t sampled = 0;
};

// What the pages look like when read as `version` with `key`.
Structure LookAt(const std::string& path, Version version, uint32_t key) {
  Structure out;
  std::unique_ptr<PageFile> file;
  if (!OpenAs(path, version, key, &file).ok()) return out;
  const Format& format = file->format();
  std::vector<uint8_t> page(format.page_size);
  const uint32_t end = std::min(file->page_count(), kSamplePages);
  for (uint32_t n = 1; n < end; ++n) {
    if (!file->ReadPage(n, page.data()).ok()) break;
    ++out.sampled;
    if (page[0] <= kPageUsageBitmap) ++out.typed_pages;
    if (LooksLikeTableDefPage(format, page.data())) {
      ++out.tdef_pages;
      if (n == kCatalogTdefPage) out.page2_is_catalog = true;
    }
  }
  return out;
}

// The format the page structures show with `key`; false when they show none.
bool FormatFromPages(const std::string& path, uint32_t key, Version* version) {
  const Structure j3 = LookAt(path, Version::kJet3, key);
  const Structure j4 = LookAt(path, Version::kJet4, key);
  if (j3.page2_is_catalog != j4.page2_is_catalog) {
    *version = j3.page2_is_catalog ? Version::kJet3 : Version::kJet4;
    return true;
  }
  if (j3.tdef_pages == j4.tdef_pages) return false;
  *version = j3.tdef_pages > j4.tdef_pages ? Version::kJet3 : Version::kJet4;
  return true;
}

// True when page 2, read as `version` with `key`, starts like a table definition.
bool CatalogPageReads(const std::string& path, Version version, uint32_t key) {
  std::unique_ptr<PageFile> file;
  if (!OpenAs(path, version, key, &file).ok() || file->page_count() <= kCatalogTdefPage) return false;
  std::vector<uint8_t> page(file->page_size());
  return file->ReadPage(kCatalogTdefPage, page.data()).ok() && LooksLikeTableDefPage(file->format(), page.data());
}

// True when `key` is set but the pages read as `version` pages only without it.
bool KeyIsDamage(const std::string& path, Version version, uint32_t key) {
  if (key == 0) return false;
  const Structure with = LookAt(path, version, key);
  const Structure without = LookAt(path, version, 0);
  return without.tdef_pages > with.tdef_pages;
}

// True when the pages look RC4-encoded: a plain Jet file's pages nearly all start
// with a page-type byte, encoded pages start with key stream.
bool PagesLookEncoded(const std::string& path) {
  const Structure j3 = LookAt(path, Version::kJet3, 0);
  return j3.sampled >= 2 && j3.typed_pages * 4 < j3.sampled;
}

// True when the first bytes are what is left of a Jet page 0: zeros where the
// identification was, or an engine name with most of its letters intact.
bool LooksLikeLostJetHeader(const std::vector<uint8_t>& prefix) {
  static const char kName[] = "Standard Jet DB";
  size_t same = 0;
  for (size_t i = 0; i < kHeaderEngineNameSize; ++i)
    same += prefix[kHeaderEngineNameOffset + i] == uint8_t(kName[i]) ? 1 : 0;
  return same >= 10 || std::all_of(prefix.begin(), prefix.begin() + kHeaderMaskOffset, [](uint8_t b) { return b == 0; });
}

// The fields of a stored page 0 whose identification bytes are damaged: the masked
// region decoded as `version`. False when that region is lost (all zeros) or still
// does not decode.
bool DecodeFieldsAs(const std::vector<uint8_t>& prefix, size_t have, Version version, Header* header) {
  const Format& format = FormatFor(version);
  if (have < format.page_size) return false;
  const uint8_t* region = prefix.data() + kHeaderMaskOffset;
  if (std::all_of(region, region + format.header_mask_size, [](uint8_t b) { return b == 0; })) return false;
  const Header fresh = NewHeader(version, kDefaultCodePage, 0);
  std::vector<uint8_t> patched(prefix.begin(), prefix.begin() + format.page_size);
  std::memcpy(patched.data(), fresh.raw_page.data(), kHeaderMaskOffset);  // type, name, version
  return DecodeHeader(patched.data(), patched.size(), header).ok();
}

// A page 0 that does not decode (its engine name or version damaged) may still hold
// the key of RC4-encoded pages in its masked fields: the format those pages show
// with it, read as the format it is read as; false when they show none.
bool FormatFromMaskedKey(const std::string& path, const std::vector<uint8_t>& prefix, size_t have, Version* version) {
  for (const Version candidate : {Version::kJet3, Version::kJet4}) {
    Header fields;
    Version shown = candidate;
    if (DecodeFieldsAs(prefix, have, candidate, &fields) && fields.db_key != 0 &&
        FormatFromPages(path, fields.db_key, &shown) && shown == candidate) {
      *version = candidate;
      return true;
    }
  }
  return false;
}

// Code page and sort order of the catalog's first text column, read through `header`.
bool TextSettingsFromCatalog(const std::string& path, const Header& header, uint16_t* code_page,
                             uint16_t* sort_lcid, uint8_t* sort_version) {
  std::unique_ptr<PageFile> file;
  if (!PageFile::OpenWithHeader(path, header, &file).ok()) return false;
  TableDef catalog;
  if (!ReadTableDef(*file, kCatalogTdefPage, &catalog).ok()) return false;
  for (const ColumnDef& c : catalog.columns) {
    if (c.type() != ColumnType::kText) continue;
    if (!IsJetCodePage(c.code_page) || !IsPlausibleSortLcid(c.sort_lcid)) return false;
    *code_page = c.code_page;
    *sort_lcid = c.sort_lcid;
    *sort_version = c.sort_version;
    return true;
  }
  return false;
}

// The Windows code page of the texts of a Jet 4 file sorted by `sort_lcid`: the ANSI
// code page of the locale's language. 0 when the language does not name one.
uint16_t CodePageOfSortOrder(uint16_t sort_lcid) {
  switch (sort_lcid) {
    case 2052: case 4100: return 936;   // Chinese (PRC, Singapore)
    case 1028: case 3076: case 5124: return 950;  // Chinese (Taiwan, Hong Kong, Macao)
    case 1041: return 932;              // Japanese
    case 1042: return 949;              // Korean
    case 1054: return 874;              // Thai
  }
  switch (sort_lcid & 0x3FF) {
    case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1A: case 0x1B: case 0x24: return 1250;  // Central Europe
    case 0x19: case 0x22: case 0x23: case 0x02: case 0x2F: return 1251;  // Cyrillic
    case 0x08: return 1253;                                               // Greek
    case 0x1F: return 1254;                                               // Turkish
    case 0x0D: return 1255;                                               // Hebrew
    case 0x01: case 0x20: case 0x29: return 1256;                         // Arabic
    case 0x25: case 0x26: case 0x27: return 1257;                         // Baltic
    case 0x2A: return 1258;                                               // Vietnamese
    case 0x09: case 0x07: case 0x0C: case 0x10: case 0x0A: case 0x13: case 0x16: case 0x1D: case 0x14:
    case 0x06: case 0x0B: case 0x0F: case 0x03: case 0x2D: case 0x36: return 1252;  // Western
  }
  return 0;
}

}  // namespace

Status OpenForRepair(const std::string& path, std::unique_ptr<PageFile>* file, HeaderRebuild* rebuild) {
  *rebuild = HeaderRebuild();
  std::vector<uint8_t> prefix;
  size_t have = 0;
  Status s = ReadPrefix(path, &prefix, &have);
  if (!s.ok()) return s;
  Header stored;
  const Status decoded = DecodeHeader(prefix.data(), have, &stored);
  // A version byte past the known ones may be a flipped byte; other refusals
  // (MSISAM, Office encryption) are what the file is.
  if (decoded.kind() == ErrorKind::kUnsupportedFormat && prefix[kHeaderVersionOffset] <= uint8_t(Version::kAce17))
    return decoded;

  // The usual case, without a census: a sound page 0 whose key reads page 2.
  if (decoded.ok() && ImpossibleHeaderFields(stored).empty() && CatalogPageReads(path, stored.version, stored.db_key))
    return PageFile::Open(path, file);

  Version from_pages = Version::kJet3;
  bool pages_show = decoded.ok() && stored.db_key != 0 && FormatFromPages(path, stored.db_key, &from_pages);
  if (!pages_show) pages_show = FormatFromPages(path, 0, &from_pages);
  if (!pages_show && !decoded.ok()) pages_show = FormatFromMaskedKey(path, prefix, have, &from_pages);
  const bool key_is_damage = decoded.ok() && KeyIsDamage(path, from_pages, stored.db_key);
  const bool version_agrees =
      decoded.ok() && (!pages_show || from_pages == stored.version || (IsAce(stored.version) && from_pages == Version::kJet4));
  const std::vector<ImpossibleField> impossible = decoded.ok() ? ImpossibleHeaderFields(stored) : std::vector<ImpossibleField>();
  if (version_agrees && !key_is_damage && impossible.empty()) return PageFile::Open(path, file);

  if (!pages_show) {
    if (decoded.ok()) return Status::Error(ErrorKind::kDamaged, "page 0 is damaged and no page of the file shows the format");
    if (LooksLikeLostJetHeader(prefix) && PagesLookEncoded(path))
      return Status::Error(ErrorKind::kUnsupportedFormat,
                           "page 0 is lost, and the pages are RC4-encoded with the database key it held; "
                           "they cannot be read without it");
    return decoded;
  }
  const Version version = decoded.ok() && version_agrees ? stored.version : from_pages;
  rebuild->rebuilt = true;
  if (!decoded.ok()) rebuild->damage.push_back("page 0 cannot be read (" + decoded.detail() + ")");
  else if (!version_agrees)
    rebuild->damage.push_back(std::string("page 0 names ") + VersionName(stored.version) + " but the pages are " +
                              VersionName(version) + " pages");

  Header header = NewHeader(version, kDefaultCodePage, 0);
  bool code_page_lost = false, sort_lost = false;
  const bool fields_kept = decoded.ok() ? (version == stored.version) : false;
  if (fields_kept) {
    header.code_page = stored.code_page;
    header.sort_lcid = stored.sort_lcid;
    header.sort_version = stored.sort_version;
    header.db_key = stored.db_key;
    header.creation_date = stored.creation_date;
    header.password_bytes = stored.password_bytes;
    header.raw_page = stored.raw_page;
  } else if (Header fields; DecodeFieldsAs(prefix, have, version, &fields)) {
    fields.raw_page = std::vector<uint8_t>(prefix.begin(), prefix.begin() + FormatFor(version).page_size);
    std::memcpy(fields.raw_page.data(), header.raw_page.data(), kHeaderMaskOffset);
    fields.engine_name = header.engine_name;
    header = fields;
  } else {
    // The masked region is gone: every field comes from the evidence or the defaults.
    code_page_lost = sort_lost = true;
    if (!IsJet3(version)) {
      header.creation_date = 0;
      rebuild->assumptions.push_back("page 0 rebuilt: the creation date is unknown, left empty");
    }
    rebuild->assumptions.push_back("page 0 rebuilt: no database key (the pages read without one)");
    rebuild->password_lost = true;
  }
  if (KeyIsDamage(path, version, header.db_key)) {
    rebuild->damage.push_back("the database key is damaged: the pages read only without one");
    header.db_key = 0;
  }

  for (const ImpossibleField& f : ImpossibleHeaderFields(header)) {
    rebuild->damage.push_back(f.detail);
    switch (f.field) {
      case HeaderField::kCodePage: code_page_lost = true; break;
      case HeaderField::kSortOrder: sort_lost = true; break;
      case HeaderField::kCreationDate: {
        int32_t day = 0;
        if (CreationDayFromEmptyPassword(header, &day)) {
          header.creation_date = day;
          header.password_bytes.assign(header.password_bytes.size(), 0);
          rebuild->assumptions.push_back("page 0 rebuilt: the creation date taken from the password field's mask (day " +
                                         std::to_string(day) + "); no password");
        } else {
          header.creation_date = 0;
          header.password_bytes.assign(header.password_bytes.size(), 0);
          rebuild->assumptions.push_back("page 0 rebuilt: the creation date is unknown, left empty; no password");
        }
        break;
      }
      case HeaderField::kPassword:
        // A flip that leaves a printable character cannot be told from the password,
        // so none of a damaged field is kept: a wrong password would lock the user out.
        header.password_bytes.assign(header.password_bytes.size(), 0);
        rebuild->password_lost = true;
        break;
    }
  }
  if (code_page_lost || sort_lost) {
    uint16_t code_page = 0, sort_lcid = 0;
    uint8_t sort_version = 0;
    Header probe = header;
    probe.code_page = kDefaultCodePage;
    probe.sort_lcid = kGeneralSortLcid;
    if (TextSettingsFromCatalog(path, probe, &code_page, &sort_lcid, &sort_version)) {
      if (code_page_lost && IsJet3(version)) {
        header.code_page = code_page;
        rebuild->assumptions.push_back("page 0 rebuilt: code page " + std::to_string(code_page) +
                                       " taken from the catalog's text columns");
        code_page_lost = false;
      }
      if (sort_lost) {
        header.sort_lcid = sort_lcid;
        header.sort_version = sort_version;
        rebuild->assumptions.push_back("page 0 rebuilt: sort order " + std::to_string(sort_lcid) +
                                       " taken from the catalog's text columns");
        sort_lost = false;
      }
    }
    if (code_page_lost && !IsJet3(version) && CodePageOfSortOrder(header.sort_lcid) != 0) {
      // Jet 4 stores text as Unicode and no code page beside it; the sort order's
      // language names the one its 8-bit texts (and the engine) use.
      header.code_page = CodePageOfSortOrder(header.sort_lcid);
      rebuild->assumptions.push_back("page 0 rebuilt: code page " + std::to_string(header.code_page) +
                                     " taken from the sort order (" + std::to_string(header.sort_lcid) + ")");
      code_page_lost = false;
    }
    if (code_page_lost) {
      header.code_page = kDefaultCodePage;
      rebuild->assumptions.push_back("page 0 rebuilt: code page " + std::to_string(kDefaultCodePage) +
                                     " assumed (the Western default)");
    }
    if (sort_lost) {
      header.sort_lcid = kGeneralSortLcid;
      header.sort_version = 0;
      rebuild->assumptions.push_back("page 0 rebuilt: sort order General (1033) assumed");
    }
  }
  // The rebuilt page, and its fields as a reader decodes them from it.
  std::vector<uint8_t> page;
  s = EncodeHeader(header, &page);
  if (!s.ok()) return s;
  Header rebuilt;
  s = DecodeHeader(page.data(), page.size(), &rebuilt);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, "the rebuilt page 0 does not decode: " + s.detail());
  return PageFile::OpenWithHeader(path, rebuilt, file);
}

}  // namespace jet
