// Object properties: the design settings Access keeps for a table and its columns
// ("Required", "DefaultValue", "Description", ...) in the object's MSysObjects.LvProp
// value, outside the table definition.
//
// Layout of an LvProp value (little-endian):
//   magic    4 bytes  "KKD\0" (Jet 3) or "MR2\0" (Jet 4)
//   chunks, each:  length 4 (includes these 6 bytes), type 2, body
//     type 0x80  names: repeated (length 2, name); the property names the other
//                chunks refer to by position
//     type 0x00  the object's own properties; 0x01 those of one column
//                body: length 4 (of this field and the target name: 6 + its
//                length), target name length 2, target name,
//                then entries: length 2 (includes these 8 bytes), ddl flag 1,
//                type 1 (a column type code), name position 2, value length 2, value
// Names are UCS-2 (possibly compressed) in Jet 4 and in the file's code page in Jet 3.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/format.h"

namespace jet {

struct Property {
  std::string name;
  uint8_t ddl = 0;            // the entry's DDL flag, carried over as it is
  uint8_t type_code = 0;      // ColumnType of the value
  std::vector<uint8_t> data;  // the value's bytes as stored
};

struct PropertyBlock {
  bool object = false;         // the object's own block (chunk 0x00), else a column's (0x01)
  std::string target;          // the object's or the column's name
  std::vector<Property> properties;
};

// Parses an LvProp value. kDamaged when it does not start with a known magic or a
// chunk runs past the end; an entry naming a property that was never listed is left
// out. `names`, when given, gets the names chunk as it is (Access lists names no entry
// uses, too).
Status ParseProperties(const std::vector<uint8_t>& blob, Version version, uint16_t code_page,
                       std::vector<PropertyBlock>* blocks, std::vector<std::string>* names = nullptr);

// The LvProp value of `blocks` in the layout of `version`: the magic, one names chunk
// (`names`, then every other property name once, in order of first use), then each
// block. Names in `code_page` (Jet 3, kInvalidArgument for a character it lacks) or
// UTF-16LE; values as they are.
Status EncodeProperties(const std::vector<PropertyBlock>& blocks, const std::vector<std::string>& names,
                        Version version, uint16_t code_page, std::vector<uint8_t>* blob);

// True when the block of column `column` (names compared case-insensitively) sets the
// boolean property "Required".
bool IsColumnRequired(const std::vector<PropertyBlock>& blocks, const std::string& column);

}  // namespace jet
