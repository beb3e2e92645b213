// How `jetdb export` writes values: CSV fields (RFC 4180 quoting) and JSON values
// (exact: a JSON number only where the number's text reads back to the same value,
// currency and decimals as strings so no reader rounds them through a double).
#pragma once

#include <string>

#include "jet/read/value.h"

namespace jetdb {

// A CSV field: quoted when it holds a comma, a quote, CR or LF (quotes doubled), or
// when it is empty text, so that an empty text ("") and a null (nothing) differ.
std::string CsvField(const jet::Value& value);
// A header name, quoted by the same rule.
std::string CsvText(const std::string& text);

// A JSON value: null, true/false, an integer, a finite float, or a string for
// currency, decimals, dates ("YYYY-MM-DDTHH:MM:SS"), text, GUIDs and binary (hex).
std::string JsonValue(const jet::Value& value);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace jetdb
