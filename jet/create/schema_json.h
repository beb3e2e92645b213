// Schema JSON: reads the description of a new database (jet/create/schema.h) from JSON text.
// The format is documented in doc/schema-format.md; in short:
//
//   { "format": "jet3" | "jet4",                      optional, default jet4
//     "code_page": 1252,                              optional
//     "creation_date": "2024-01-31 12:00:00",         optional, default now
//     "tables": [ { "name": "...",
//                   "columns": [ { "name", "type", "size", "autonumber",
//                                  "required", "precision", "scale" } ],
//                   "indexes": [ { "name", "columns": ["a", {"column": "b",
//                                  "order": "desc"}], "primary", "unique",
//                                  "ignore_nulls" } ],
//                   "rows": [ { "column": value, ..., "$deleted": true } ] } ],
//     "relationships": [ { "name", "from": {"table", "columns"},
//                          "to": {"table", "columns"}, "enforced",
//                          "cascade_updates", "cascade_deletes" } ] }
//
// Values are exact: currency and decimal as strings, dates as ISO text, binary, OLE
// and GUIDs as text (hex / braces), Yes/No as true/false, null as null.
// Any structural fault (unknown key, wrong JSON type, bad value text) is
// kInvalidArgument with a detail that names where it is. The result is not yet
// checked as a whole (a caller may still change its format or add rows):
// CreateDatabase runs ValidateSchema on what it is given.
#pragma once

#include <string>

#include "jet/create/schema.h"
#include "jet/base/status.h"

namespace jet {

Status ParseSchemaJson(const std::string& json_text, Schema* schema);

// "text" -> ColumnType::kText, "long" -> kLong, ... (the JSON type names, which
// also accept "decimal" for numeric and "date" for datetime). False when unknown.
bool ColumnTypeFromName(const std::string& name, ColumnType* type);

}  // namespace jet
