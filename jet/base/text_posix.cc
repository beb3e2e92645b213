// Windows code pages on Linux: iconv, with one cached conversion descriptor per code
// page and direction per thread, since opening one costs far more than converting a
// value.
#include <iconv.h>

#include <cerrno>
#include <map>
#include <utility>

#include "jet/base/code_page.h"
#include "jet/base/text.h"

namespace jet {
namespace {

// One iconv descriptor per (code page, direction), opened on first use and kept for
// the life of the thread.
class IconvCache {
 public:
  ~IconvCache() {
    for (auto& [key, cd] : descriptors_) iconv_close(cd);
  }

  // A reset descriptor converting from the code page to UTF-8 (`to_utf8`) or back;
  // (iconv_t)-1 when iconv knows no name for the code page.
  iconv_t Get(uint16_t code_page, bool to_utf8) {
    const auto key = std::make_pair(code_page, to_utf8);
    auto it = descriptors_.find(key);
    if (it == descriptors_.end()) it = descriptors_.emplace(key, Open(code_page, to_utf8)).first;
    if (it->second != kInvalid) iconv(it->second, nullptr, nullptr, nullptr, nullptr);
    return it->second;
  }

  static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

 private:
  static iconv_t Open(uint16_t code_page, bool to_utf8) {
    std::vector<std::string> names;
    if (code_page == 936) names.push_back("GBK");  // Windows' 936 is GBK
    names.push_back("CP" + std::to_string(code_page));
    names.push_back("WINDOWS-" + std::to_string(code_page));
    for (const std::string& name : names) {
      iconv_t cd = to_utf8 ? iconv_open("UTF-8", name.c_str()) : iconv_open(name.c_str(), "UTF-8");
      if (cd != kInvalid) return cd;
    }
    return kInvalid;
  }

  std::map<std::pair<uint16_t, bool>, iconv_t> descriptors_;
};

iconv_t CodePageConverter(uint16_t code_page, bool to_utf8) {
  thread_local IconvCache cache;
  return cache.Get(code_page, to_utf8);
}

// Windows' own table for code page 1252 gives the five bytes the standard leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) the C1 control characters of the same
// value, and Access wrote them that way; iconv refuses them. They are mapped by hand
// in both directions so such text reads back as Access stored it.
bool IsCp1252Hole(uint32_t value) {
  return value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 || value == 0x9D;
}

Status UnknownCodePage(uint16_t code_page) {
  return Status::Error(ErrorKind::kInvalidArgument,
                       "code page " + std::to_string(code_page) + " is not known to iconv");
}

}  // namespace

bool IsKnownCodePage(uint16_t code_page) {
  return CodePageConverter(code_page, /*to_utf8=*/true) != IconvCache::kInvalid;
}

Status DecodeCodePageBytes(const uint8_t* data, size_t size, uint16_t code_page,
                           std::string* utf8) {
  iconv_t cd = CodePageConverter(code_page, /*to_utf8=*/true);
  if (cd == IconvCache::kInvalid) return UnknownCodePage(code_page);

  // No single byte of a Windows code page becomes more than 4 bytes of UTF-8.
  std::string out(size * 4 + 4, '\0');
  char* in_ptr = const_cast<char*>(reinterpret_cast<const char*>(data));
  size_t in_left = size;
  char* out_ptr = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) != static_cast<size_t>(-1)) break;
    if (errno == EILSEQ || errno == EINVAL) {
      // An unmapped byte, or a lead byte with its trail byte missing at the end:
      // one U+FFFD for the byte, then carry on after it.
      if (out_left < 3) break;  // cannot happen with the size above; never overrun
      const uint8_t byte = static_cast<uint8_t>(*in_ptr);
      std::string replacement;
      AppendUtf8(code_page == 1252 && IsCp1252Hole(byte) ? char32_t(byte) : kReplacementCharacter,
                 &replacement);
      for (char c : replacement) *out_ptr++ = c;
      out_left -= replacement.size();
      ++in_ptr;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    } else {
      return Status::Error(ErrorKind::kInvalidArgument,
                           "converting code page " + std::to_string(code_page) + " text failed");
    }
  }
  out.resize(out.size() - out_left);
  *utf8 = std::move(out);
  return Status::Ok();
}

namespace {

// Appends `utf8` converted by the (reset) descriptor `cd` to *bytes; `offset` is where
// the piece starts in the caller's text, for the error message.
Status AppendIconv(iconv_t cd, const std::string& utf8, uint16_t code_page, size_t offset,
                   std::vector<uint8_t>* bytes) {
  // A code page character takes at most as many bytes as its UTF-8 form, plus room
  // for a shift sequence at the end.
  std::vector<uint8_t> out(utf8.size() + 16);
  char* in_ptr = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* out_ptr = reinterpret_cast<char*>(out.data());
  size_t out_left = out.size();
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) ||
      iconv(cd, nullptr, nullptr, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
    const size_t at = offset + utf8.size() - in_left;
    return Status::Error(ErrorKind::kInvalidArgument,
                         "text cannot be written in code page " + std::to_string(code_page) +
                             " (at byte " + std::to_string(at) + ")");
  }
  bytes->insert(bytes->end(), out.begin(), out.end() - out_left);
  return Status::Ok();
}

}  // namespace

Status EncodeCodePageBytes(const std::string& utf8, uint16_t code_page,
                           std::vector<uint8_t>* bytes) {
  iconv_t cd = CodePageConverter(code_page, /*to_utf8=*/false);
  if (cd == IconvCache::kInvalid) return UnknownCodePage(code_page);
  if (code_page != 1252) return AppendIconv(cd, utf8, code_page, 0, bytes);

  // Code page 1252: the pieces between the hand-mapped characters go through iconv.
  size_t piece_start = 0;
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t at = pos;
    char32_t c = 0;
    if (!NextUtf8(utf8, &pos, &c))
      return Status::Error(ErrorKind::kInvalidArgument, "text is not valid UTF-8");
    if (!IsCp1252Hole(c)) continue;
    if (at > piece_start) {
      Status status = AppendIconv(cd, utf8.substr(piece_start, at - piece_start), code_page,
                                  piece_start, bytes);
      if (!status.ok()) return status;
    }
    bytes->push_back(static_cast<uint8_t>(c));
    piece_start = pos;
  }
  if (piece_start < utf8.size())
    return AppendIconv(cd, utf8.substr(piece_start), code_page, piece_start, bytes);
  return Status::Ok();
}

}  // namespace jet
