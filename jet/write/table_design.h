// Table design: the definition (TDEF) of a table that does not exist yet, built from
// its columns and indexes. BuildTableDef lays out column numbers, variable indexes
// and fixed offsets as Jet does for a new table and produces a TableDef whose raw
// buffer is a complete logical definition, with every record offset recorded, so
// that the row writer, the key encoder and the TDEF writer (jet/write/tdef_writer.h) work
// on it exactly as on a definition read from a file. Page numbers (maps, index
// roots) are zero until the caller fills them in before EncodeTableDef.
//
// Records written (offsets J3 / J4; see jet/read/table_def.cc for the reader):
//   column    type 0; J4 1625 at 1; number 1/5; var index 3/7; second number 5/9
//             (the column number for user tables, 0 for system tables); J3 0x0001
//             at 7; sort order 9 (1033) / 11 (1033, 0, version 0); J3 code page 11
//             (numeric: precision 11, scale 12 in both); flags 13/15; J4 ext flags
//             16 (0x01 compressed unicode on text and memo); fixed offset 14/21;
//             length 16/23 (text: characters / 2 x characters)
//   real idx  J4 1923 at 0; 10 x (column 2, 0x01 ascending) at 0/4, unused
//             0xFFFF/0; usage map 30/34; root 34/38; flags 38/46 (J4 | 0x80)
//   logical   J4 1625 at 0; number, real index, related type, related index (-1),
//             related table, cascade updates, cascade deletes, type (1 primary key,
//             2 foreign key); ordinary indexes carry 04 04 in the cascade bytes
//   trailer   [column 2][owned map 4][free map 4] per Memo/OLE column, 0xFFFF
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"

namespace jet {

struct ColumnDesign {
  std::string name;
  ColumnType type = ColumnType::kText;
  uint16_t size = 0;         // text: characters; binary: bytes (0 = 255)
  bool autonumber = false;
  uint8_t extra_flags = 0;   // ORed into the flags (system tables: 0x20 on owner SIDs)
  uint8_t precision = 18;    // numeric
  uint8_t scale = 0;
};

struct RealIndexDesign {
  std::vector<IndexColumn> columns;  // by column number = position in the design
  uint8_t flags = 0;                 // kIndexUnique, kIndexIgnoreNulls, kIndexRequired
};

struct LogicalIndexDesign {
  std::string name;
  uint32_t real_index = 0;
  uint8_t index_type = 0;            // kLogicalIndexPrimaryKey, kLogicalIndexForeignKey, 0
  uint8_t related_table_type = 0;    // 1 referenced side, 2 referencing side
  int32_t related_index = -1;        // logical index number in the other table
  uint32_t related_table = 0;        // TDEF page of the other table
  uint8_t cascade_updates = 0;
  uint8_t cascade_deletes = 0;
};

struct TableDesign {
  bool system = false;  // 'S' tables: system column flags, no second number
  std::vector<ColumnDesign> columns;          // column number = position
  std::vector<RealIndexDesign> real_indexes;
  std::vector<LogicalIndexDesign> logical_indexes;  // logical number = position
};

// Builds the definition of `design` for `format`; names are encoded in `code_page`
// (Jet 3) or UTF-16 (Jet 4). kInvalidArgument for a name the code page cannot hold
// or a row layout beyond the format's limits (fixed area larger than a row).
Status BuildTableDef(const Format& format, uint16_t code_page, const TableDesign& design,
                     TableDef* table);

}  // namespace jet
