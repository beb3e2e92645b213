// How `jetdb export` writes values: CSV fields (RFC 4180 quoting) and JSON values
// (exact: a JSON number only where the number's text reads back to the same value,
// currency and decimals as strings so no reader rounds them through a double).
#pragma once

#include <string>

#include "jet/read/value.h"

namespace jetdb {

// How CSV fields are written (jetdb export's --delimiter, --null, --date-format).
struct CsvOptions {
  char delimiter = ',';
  std::string null_text;    // what a null becomes (unquoted)
  std::string date_format;  // strftime format of dates; "" for "YYYY-MM-DD HH:MM:SS"
};

// A CSV field: quoted when it holds the delimiter, a quote, CR or LF (quotes
// doubled), or when it is empty text, so that an empty text ("") and a null (by
// default nothing) differ.
std::string CsvField(const jet::Value& value, const CsvOptions& options = CsvOptions());
// A header name, quoted by the same rule.
std::string CsvText(const std::string& text, char delimiter = ',');

// A date value in strftime's `format` (%Y, %m, %d, %H, %M, %S, %a, %j, ...), for
// every year Jet holds; a value outside the calendar keeps its stored number.
std::string FormatDate(const jet::Value& value, const std::string& format);

// A JSON value: null, true/false, an integer, a finite float, or a string for
// currency, decimals, dates ("YYYY-MM-DDTHH:MM:SS"), text, GUIDs and binary (hex).
std::string JsonValue(const jet::Value& value);
// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace jetdb
