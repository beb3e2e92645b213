// Format conversion: what a compaction changes when its result is to be another
// format (Jet 3 <-> Jet 4) or another sort order than the source's, as DAO's
// CompactDatabase does with a locale and a version option.
//
// A converted file is the compaction's result with these differences:
//   * page 0 is a new header of the target format (jet/file/header.h NewHeader) with
//     the source's code page and password, the chosen sort order, and for Jet 4 a
//     creation date of the conversion;
//   * every table definition is built anew as a new table of the target format is
//     (jet/write/table_design.h), columns and indexes in the source's order, with
//     the source's column flags and the chosen sort order on every Text and Memo
//     column; Jet 4 text columns hold twice as many bytes (UCS-2) and compress
//     their text where Access does (not in system tables); a system table gains the
//     columns Access gives it in the target (Jet 4's MSysQueries.LvExtra), null;
//   * text, Memo included, is written in the target's encoding: the file's code page
//     in Jet 3, UCS-2 with Access's compression in Jet 4;
//   * MSysObjects.LvProp (object properties) is rewritten in the target's layout
//     ("KKD" names in the code page / "MR2" names in UCS-2), text values re-encoded;
//   * every index key is computed from the values under the target's collation: a
//     key the encoder cannot compute for the target fails the conversion (a
//     source key is no key of another format or collation).
// Refused: Jet 4 -> Jet 3 of a table with a type Jet 3 lacks (Decimal, and the codes
// of Access's own later objects), text a Jet 3 code page cannot hold, and ACE files.
//
// Sort orders by name (SortOrderByName): "general" (LCID 1033: Jet 3's General of
// Access 97, or Jet 4's General, sort version 0, which ACE calls "General legacy"),
// "general-legacy" (the same order in a Jet 4 file; Jet 3 has no other), and
// "chinese-prc" (LCID 2052, Jet 4 only; keys are known for ASCII text only).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/format.h"
#include "jet/file/header.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

struct SortOrder {
  uint16_t lcid = kGeneralSortLcid;
  uint8_t version = 0;  // Jet 4 sort version byte
  bool operator==(const SortOrder&) const = default;
};

// The sort order called `name` (see above) in a file of `target`. kInvalidArgument
// naming the supported ones for any other name, or one the format lacks.
Status SortOrderByName(const std::string& name, Version target, SortOrder* order);

// The names SortOrderByName knows, for usage texts: "general, general-legacy, chinese-prc".
const char* SortOrderNames();

// Whether a result with header `result` is a conversion of a source with `source`
// (another version or another sort order).
bool IsConversion(const Header& source, const Header& result);

// The header of a conversion of `source` to `target` with sort order `sort`: a new
// header of that format, the source's code page, password and database key.
// kUnsupportedFormat for ACE on either side; kInvalidArgument for a password the
// target cannot hold.
Status ConvertHeader(const Header& source, Version target, const SortOrder& sort, Header* result);

// The definition a table `source` of a file with header `from` takes in the result
// with header `to`. Without conversion: the source's with the columns packed
// (jet/write/tdef_writer.h PackColumns). With conversion: built anew, see above;
// kUnsupportedFormat naming table and column for a type the target lacks. Column
// positions are the source's in both cases, so a row's values carry over by position;
// a converted system table may have more columns after them (null in every row), those
// the target's own system table of that name has (jet/write/system_tables.h).
Status ResultDefinition(const Header& from, const Header& to, const std::string& table_name,
                        const TableDef& source, TableDef* result);

// Whether column `position` of `table` holds object properties (MSysObjects.LvProp).
bool IsPropertyColumn(const TableDef& table, size_t position);

// The bytes a non-null Memo / OLE value takes in a converted file for column
// `position` of `result_def`: Memo text in the target's encoding, properties in the
// target's layout, any other OLE value as it is. kInvalidArgument for text the target
// cannot hold; kDamaged for a properties value that does not parse.
Status ConvertLongValue(const Header& from, const Header& to, const TableDef& result_def, size_t position,
                        const Value& value, std::vector<uint8_t>* bytes);

// Whether two properties values (of files with headers `a_header` and `b_header`)
// say the same: the same blocks, names, types and values, text compared as text.
// False with `why` set otherwise.
bool SameProperties(const Header& a_header, const std::vector<uint8_t>& a, const Header& b_header,
                    const std::vector<uint8_t>& b, std::string* why);

}  // namespace jet
