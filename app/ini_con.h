// IniCon: the INI reader the window owns and the start-up check drives. It stands in
// for the host platform's closed reader control, which is driven only through four
// numbered dispatch members; the members are modelled one by one below, in the order
// the check uses them. Settings files are read the way Windows' private-profile
// functions read them, since the file belongs to a Windows program (rules below).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "jet/base/status.h"

namespace app {

// The dispatch identifiers of the reader's members, in the order the start-up check
// uses them: file name, section, key, then the value is read.
enum class IniConDispatchId : int {
  kFileName = 6,  // property set: full path of the settings file
  kSection = 3,   // property set: section name
  kKey = 4,       // property set: key name
  kValue = 5,     // read, no arguments: the value of that key, as text
};

// A settings file larger than this is refused rather than read into memory: the
// host application's file is a few hundred bytes, so a bigger one is not its own.
inline constexpr size_t kMaxSettingsFileBytes = size_t{16} << 20;

class IniCon {
 public:
  void SetFileName(std::string path) { file_name_ = std::move(path); }  // dispatch 6
  void SetSection(std::string name) { section_ = std::move(name); }     // dispatch 3
  void SetKey(std::string name) { key_ = std::move(name); }             // dispatch 4

  // Dispatch 5: reads the file now and gives the value of the key in the section, or
  // the empty text when the file, the section or the key is absent (as Windows does).
  // An error when the file exists but cannot be read: not a regular file, no
  // permission, larger than kMaxSettingsFileBytes, or an I/O error.
  jet::Status Value(std::string* value) const;

  const std::string& file_name() const { return file_name_; }
  const std::string& section() const { return section_; }
  const std::string& key() const { return key_; }

 private:
  std::string file_name_;
  std::string section_;
  std::string key_;
};

// The file's bytes as UTF-8 text: a UTF-8 byte-order mark is dropped; a UTF-16 file
// (with its byte-order mark, as Notepad writes "Unicode") is converted; otherwise
// text that is valid UTF-8 is kept as it is, and anything else is read as
// Windows-1252 and converted.
std::string ProfileBytesToUtf8(std::string_view bytes);

// The value of `key` in `section` of settings text `text` (UTF-8), or "" when absent.
// Rules, as Windows' private-profile functions apply them:
// - lines end in LF, CRLF or a lone CR;
// - blanks (space, tab, vertical tab, form feed) around a line, a section name inside
//   its brackets, a key name and a value are trimmed; indented lines are ordinary;
// - a line whose first non-blank character is ';' is a comment; a ';' further on is
//   part of the value;
// - "[name]" starts a section (the name runs to the last ']'; text after it is
//   ignored); a '[' line without ']' is ignored; lines before the first section are
//   in no section;
// - a key line is split at its first '='; a line without '=' is a key with an empty
//   value;
// - section and key names match without regard to ASCII case;
// - only the first section with a matching name is searched, and the first matching
//   key in it wins;
// - a value enclosed in a matching pair of double or single quotes loses them;
// - backslashes are kept as they are;
// - the value ends at a NUL byte, as the C string the home platform's call gives.
std::string FindProfileValue(std::string_view text, std::string_view section,
                             std::string_view key);

}  // namespace app
