// Schema JSON: the reader of the schema files `jetdb create` and the tests use.
#include "jet/create/schema_json.h"

#include <cmath>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

namespace jet {
namespace {

using Json = nlohmann::json;

Status Invalid(const std::string& where, const std::string& detail) {
  return Status::Error(ErrorKind::kInvalidArgument, "schema: " + where + ": " + detail);
}

// Fails on keys outside `allowed`, so that a misspelt option is not silently ignored.
Status CheckKeys(const Json& object, const std::set<std::string>& allowed, const std::string& where) {
  if (!object.is_object()) return Invalid(where, "expected an object");
  for (auto it = object.begin(); it != object.end(); ++it)
    if (!allowed.count(it.key())) return Invalid(where, "unknown key \"" + it.key() + "\"");
  return Status::Ok();
}

Status GetString(const Json& object, const char* key, bool required, const std::string& where,
                 std::string* out) {
  auto it = object.find(key);
  if (it == object.end()) {
    if (required) return Invalid(where, std::string("\"") + key + "\" is missing");
    return Status::Ok();
  }
  if (!it->is_string()) return Invalid(where, std::string("\"") + key + "\" must be a string");
  *out = it->get<std::string>();
  return Status::Ok();
}

Status GetBool(const Json& object, const char* key, const std::string& where, bool* out) {
  auto it = object.find(key);
  if (it == object.end()) return Status::Ok();
  if (!it->is_boolean()) return Invalid(where, std::string("\"") + key + "\" must be true or false");
  *out = it->get<bool>();
  return Status::Ok();
}

Status GetInteger(const Json& object, const char* key, int64_t low, int64_t high,
                  const std::string& where, int64_t* out) {
  auto it = object.find(key);
  if (it == object.end()) return Status::Ok();
  if (!it->is_number_integer()) return Invalid(where, std::string("\"") + key + "\" must be an integer");
  const int64_t v = it->is_number_unsigned() && it->get<uint64_t>() > uint64_t(INT64_MAX)
                        ? INT64_MAX : it->get<int64_t>();
  if (v < low || v > high)
    return Invalid(where, std::string("\"") + key + "\" must be " + std::to_string(low) + ".." +
                              std::to_string(high));
  *out = v;
  return Status::Ok();
}

bool IntegerIn(const Json& v, int64_t low, int64_t high, int64_t* out) {
  if (!v.is_number_integer()) return false;
  if (v.is_number_unsigned() && v.get<uint64_t>() > uint64_t(INT64_MAX)) return false;
  const int64_t x = v.get<int64_t>();
  if (x < low || x > high) return false;
  *out = x;
  return true;
}

Status ParseValue(const Json& v, const ColumnSpec& column, const std::string& where, Value* out) {
  if (v.is_null()) {
    *out = Value::Null();
    return Status::Ok();
  }
  const Status wrong = Invalid(where, "value " + v.dump().substr(0, 60) + " does not fit a " +
                                          ColumnTypeName(uint8_t(column.type)) + " column");
  int64_t i = 0;
  switch (column.type) {
    case ColumnType::kBoolean:
      if (!v.is_boolean()) return wrong;
      *out = Value::Boolean(v.get<bool>());
      return Status::Ok();
    case ColumnType::kByte:
      if (!IntegerIn(v, 0, 255, &i)) return wrong;
      *out = Value::Byte(uint8_t(i));
      return Status::Ok();
    case ColumnType::kInteger:
      if (!IntegerIn(v, INT16_MIN, INT16_MAX, &i)) return wrong;
      *out = Value::Integer(int16_t(i));
      return Status::Ok();
    case ColumnType::kLong:
      if (!IntegerIn(v, INT32_MIN, INT32_MAX, &i)) return wrong;
      *out = Value::Long(int32_t(i));
      return Status::Ok();
    case ColumnType::kCurrency: {
      int64_t scaled;
      if (v.is_number_integer() && IntegerIn(v, INT64_MIN / 10000, INT64_MAX / 10000, &i)) {
        *out = Value::Currency(i * 10000);
        return Status::Ok();
      }
      if (!v.is_string()) return wrong;
      Status s = ParseCurrencyText(v.get<std::string>(), &scaled);
      if (!s.ok()) return Invalid(where, s.detail());
      *out = Value::Currency(scaled);
      return Status::Ok();
    }
    case ColumnType::kSingle: {
      if (!v.is_number()) return wrong;
      const double d = v.get<double>();
      if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max()) return wrong;
      *out = Value::Single(float(d));
      return Status::Ok();
    }
    case ColumnType::kDouble:
      if (!v.is_number()) return wrong;
      *out = Value::Double(v.get<double>());
      return Status::Ok();
    case ColumnType::kDateTime: {
      if (!v.is_string()) return wrong;
      double days;
      Status s = ParseDateTimeText(v.get<std::string>(), &days);
      if (!s.ok()) return Invalid(where, s.detail());
      *out = Value::DateTime(days);
      return Status::Ok();
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (!v.is_string()) return wrong;
      *out = Value::Text(v.get<std::string>());
      return Status::Ok();
    case ColumnType::kBinary:
    case ColumnType::kOle: {
      if (!v.is_string()) return wrong;
      std::vector<uint8_t> bytes;
      Status s = ParseHexText(v.get<std::string>(), &bytes);
      if (!s.ok()) return Invalid(where, s.detail());
      *out = Value::Binary(std::move(bytes));
      return Status::Ok();
    }
    case ColumnType::kGuid: {
      if (!v.is_string()) return wrong;
      std::array<uint8_t, 16> bytes;
      Status s = ParseGuidText(v.get<std::string>(), &bytes);
      if (!s.ok()) return Invalid(where, s.detail());
      *out = Value::Guid(bytes);
      return Status::Ok();
    }
    case ColumnType::kNumeric: {
      std::string text;
      if (v.is_number_integer()) text = v.dump();
      else if (v.is_string()) text = v.get<std::string>();
      else return wrong;
      Numeric n;
      Status s = ParseNumericText(text, column.precision, column.scale, &n);
      if (!s.ok()) return Invalid(where, s.detail());
      *out = Value::NumericValue(n);
      return Status::Ok();
    }
    default:
      return wrong;
  }
}

Status ParseColumn(const Json& j, const std::string& where, ColumnSpec* c) {
  Status s = CheckKeys(j, {"name", "type", "size", "autonumber", "required", "precision", "scale"}, where);
  if (s.ok()) s = GetString(j, "name", true, where, &c->name);
  std::string type;
  if (s.ok()) s = GetString(j, "type", true, where, &type);
  if (!s.ok()) return s;
  const std::string at = where + " \"" + c->name + "\"";
  if (!ColumnTypeFromName(type, &c->type)) return Invalid(at, "unknown type \"" + type + "\"");
  int64_t size = 0, precision = c->precision, scale = c->scale;
  s = GetInteger(j, "size", 1, 255, at, &size);
  if (s.ok()) s = GetInteger(j, "precision", 1, 28, at, &precision);
  if (s.ok()) s = GetInteger(j, "scale", 0, 28, at, &scale);
  if (s.ok()) s = GetBool(j, "autonumber", at, &c->autonumber);
  if (s.ok()) s = GetBool(j, "required", at, &c->required);
  c->size = uint16_t(size);
  c->precision = uint8_t(precision);
  c->scale = uint8_t(scale);
  return s;
}

Status ParseIndex(const Json& j, const std::string& where, IndexSpec* index) {
  Status s = CheckKeys(j, {"name", "columns", "primary", "unique", "ignore_nulls"}, where);
  if (s.ok()) s = GetString(j, "name", true, where, &index->name);
  if (!s.ok()) return s;
  const std::string at = where + " \"" + index->name + "\"";
  if (s.ok()) s = GetBool(j, "primary", at, &index->primary);
  if (s.ok()) s = GetBool(j, "unique", at, &index->unique);
  if (s.ok()) s = GetBool(j, "ignore_nulls", at, &index->ignore_nulls);
  if (!s.ok()) return s;
  auto cols = j.find("columns");
  if (cols == j.end() || !cols->is_array()) return Invalid(at, "\"columns\" must be an array");
  for (const Json& c : *cols) {
    IndexColumnSpec ic;
    if (c.is_string()) {
      ic.column = c.get<std::string>();
    } else {
      s = CheckKeys(c, {"column", "order"}, at + " column");
      if (s.ok()) s = GetString(c, "column", true, at + " column", &ic.column);
      std::string order = "asc";
      if (s.ok()) s = GetString(c, "order", false, at + " column", &order);
      if (!s.ok()) return s;
      if (order != "asc" && order != "desc") return Invalid(at, "\"order\" is \"asc\" or \"desc\"");
      ic.ascending = order == "asc";
    }
    index->columns.push_back(ic);
  }
  return Status::Ok();
}

Status ParseRow(const Json& j, const TableSpec& table, const std::string& where, RowSpec* row) {
  row->values.assign(table.columns.size(), Value());
  if (j.is_array()) {
    if (j.size() > table.columns.size()) return Invalid(where, "more values than columns");
    for (size_t i = 0; i < j.size(); ++i) {
      Status s = ParseValue(j[i], table.columns[i], where + " column \"" + table.columns[i].name + "\"",
                            &row->values[i]);
      if (!s.ok()) return s;
    }
    return Status::Ok();
  }
  if (!j.is_object()) return Invalid(where, "a row is an object or an array");
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it.key() == "$deleted") {
      if (!it->is_boolean()) return Invalid(where, "\"$deleted\" must be true or false");
      row->deleted = it->get<bool>();
      continue;
    }
    const int column = FindColumnSpec(table, it.key());
    if (column < 0) return Invalid(where, "no column \"" + it.key() + "\"");
    Status s = ParseValue(*it, table.columns[column], where + " column \"" + it.key() + "\"",
                          &row->values[column]);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status ParseTable(const Json& j, size_t position, TableSpec* table) {
  std::string where = "table " + std::to_string(position + 1);
  Status s = CheckKeys(j, {"name", "columns", "indexes", "rows", "generated_rows_factor",
                           "generated_deleted_percent"}, where);
  if (s.ok()) s = GetString(j, "name", true, where, &table->name);
  if (!s.ok()) return s;
  where = "table \"" + table->name + "\"";
  int64_t factor = table->generated_rows_factor;
  int64_t deleted = table->generated_deleted_percent;
  s = GetInteger(j, "generated_rows_factor", 0, 1000, where, &factor);
  if (s.ok()) s = GetInteger(j, "generated_deleted_percent", 0, 100, where, &deleted);
  if (!s.ok()) return s;
  table->generated_rows_factor = uint32_t(factor);
  table->generated_deleted_percent = int(deleted);
  auto columns = j.find("columns");
  if (columns == j.end() || !columns->is_array()) return Invalid(where, "\"columns\" must be an array");
  for (const Json& c : *columns) {
    table->columns.emplace_back();
    s = ParseColumn(c, where + " column", &table->columns.back());
    if (!s.ok()) return s;
  }
  if (auto indexes = j.find("indexes"); indexes != j.end()) {
    if (!indexes->is_array()) return Invalid(where, "\"indexes\" must be an array");
    for (const Json& i : *indexes) {
      table->indexes.emplace_back();
      s = ParseIndex(i, where + " index", &table->indexes.back());
      if (!s.ok()) return s;
    }
  }
  if (auto rows = j.find("rows"); rows != j.end()) {
    if (!rows->is_array()) return Invalid(where, "\"rows\" must be an array");
    for (size_t r = 0; r < rows->size(); ++r) {
      table->rows.emplace_back();
      s = ParseRow((*rows)[r], *table, where + " row " + std::to_string(r + 1), &table->rows.back());
      if (!s.ok()) return s;
    }
  }
  return Status::Ok();
}

Status ParseSide(const Json& j, const std::string& where, std::string* table,
                 std::vector<std::string>* columns) {
  Status s = CheckKeys(j, {"table", "columns"}, where);
  if (s.ok()) s = GetString(j, "table", true, where, table);
  if (!s.ok()) return s;
  auto cols = j.find("columns");
  if (cols == j.end() || !cols->is_array()) return Invalid(where, "\"columns\" must be an array");
  for (const Json& c : *cols) {
    if (!c.is_string()) return Invalid(where, "column names are strings");
    columns->push_back(c.get<std::string>());
  }
  return Status::Ok();
}

Status ParseRelationship(const Json& j, size_t position, RelationshipSpec* rel) {
  std::string where = "relationship " + std::to_string(position + 1);
  Status s = CheckKeys(j, {"name", "from", "to", "enforced", "cascade_updates", "cascade_deletes"}, where);
  if (s.ok()) s = GetString(j, "name", true, where, &rel->name);
  if (!s.ok()) return s;
  where = "relationship \"" + rel->name + "\"";
  if (!j.contains("from") || !j.contains("to")) return Invalid(where, "needs \"from\" and \"to\"");
  s = ParseSide(j["from"], where + " from", &rel->from_table, &rel->from_columns);
  if (s.ok()) s = ParseSide(j["to"], where + " to", &rel->to_table, &rel->to_columns);
  if (s.ok()) s = GetBool(j, "enforced", where, &rel->enforced);
  if (s.ok()) s = GetBool(j, "cascade_updates", where, &rel->cascade_updates);
  if (s.ok()) s = GetBool(j, "cascade_deletes", where, &rel->cascade_deletes);
  return s;
}

Status ParseDocument(const Json& doc, Schema* schema) {
  Status s = CheckKeys(doc, {"format", "code_page", "creation_date", "tables", "relationships"}, "top level");
  if (!s.ok()) return s;
  std::string format = "jet4";
  s = GetString(doc, "format", false, "top level", &format);
  if (!s.ok()) return s;
  if (format == "jet3") schema->version = Version::kJet3;
  else if (format == "jet4") schema->version = Version::kJet4;
  else return Invalid("top level", "\"format\" is \"jet3\" or \"jet4\"");
  int64_t code_page = schema->code_page;
  s = GetInteger(doc, "code_page", 1, 65535, "top level", &code_page);
  if (!s.ok()) return s;
  schema->code_page = uint16_t(code_page);
  std::string date;
  s = GetString(doc, "creation_date", false, "top level", &date);
  if (s.ok() && !date.empty()) s = ParseDateTimeText(date, &schema->creation_date);
  if (!s.ok()) return Invalid("top level", s.detail());
  auto tables = doc.find("tables");
  if (tables == doc.end() || !tables->is_array()) return Invalid("top level", "\"tables\" must be an array");
  for (size_t i = 0; i < tables->size(); ++i) {
    schema->tables.emplace_back();
    s = ParseTable((*tables)[i], i, &schema->tables.back());
    if (!s.ok()) return s;
  }
  if (auto rels = doc.find("relationships"); rels != doc.end()) {
    if (!rels->is_array()) return Invalid("top level", "\"relationships\" must be an array");
    for (size_t i = 0; i < rels->size(); ++i) {
      schema->relationships.emplace_back();
      s = ParseRelationship((*rels)[i], i, &schema->relationships.back());
      if (!s.ok()) return s;
    }
  }
  return Status::Ok();
}

}  // namespace

bool ColumnTypeFromName(const std::string& name, ColumnType* type) {
  static const struct {
    const char* name;
    ColumnType type;
  } kNames[] = {
      {"boolean", ColumnType::kBoolean}, {"byte", ColumnType::kByte},
      {"integer", ColumnType::kInteger}, {"long", ColumnType::kLong},
      {"currency", ColumnType::kCurrency}, {"single", ColumnType::kSingle},
      {"double", ColumnType::kDouble}, {"datetime", ColumnType::kDateTime},
      {"date", ColumnType::kDateTime}, {"text", ColumnType::kText},
      {"binary", ColumnType::kBinary}, {"memo", ColumnType::kMemo},
      {"ole", ColumnType::kOle}, {"guid", ColumnType::kGuid},
      {"numeric", ColumnType::kNumeric}, {"decimal", ColumnType::kNumeric},
  };
  for (const auto& n : kNames) {
    if (name == n.name) {
      *type = n.type;
      return true;
    }
  }
  return false;
}

Status ParseSchemaJson(const std::string& json_text, Schema* schema) {
  *schema = Schema();
  const Json doc = Json::parse(json_text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) return Invalid("file", "not valid JSON");
  Status s;
  try {
    s = ParseDocument(doc, schema);
  } catch (const Json::exception& e) {
    // Every access above is checked first; this only keeps a library surprise from
    // leaving the module as an exception.
    s = Invalid("file", e.what());
  }
  return s;
}

}  // namespace jet
