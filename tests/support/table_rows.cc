// Table rows as text: see table_rows.h.
#include "tests/support/table_rows.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

#include "jet/read/database.h"

namespace testing_support {

bool ReadTableRows(const std::string& path, TableRows* rows, std::string* error) {
  rows->clear();
  std::unique_ptr<jet::Database> db;
  jet::Status s = jet::Database::Open(path, &db);
  for (const jet::CatalogObject* object : s.ok() ? db->Tables(false) : std::vector<const jet::CatalogObject*>()) {
    const jet::TableDef* def = nullptr;
    s = db->GetTableDefByName(object->name, &def);
    std::multiset<std::string>& table = (*rows)[object->name];
    if (s.ok())
      s = db->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
        std::string text;
        for (const jet::Value& v : values) text += v.ToText() + '\x1f';
        table.insert(std::move(text));
        return true;
      });
    if (!s.ok()) break;
  }
  if (!s.ok()) *error = path + ": " + s.ToString();
  return s.ok();
}

namespace {

size_t Common(const std::multiset<std::string>& a, const std::multiset<std::string>& b) {
  std::vector<std::string> both;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
  return both.size();
}

}  // namespace

size_t RowsNotIn(const TableRows& after, const TableRows& before) {
  size_t n = 0;
  for (const auto& [name, rows] : after) {
    auto it = before.find(name);
    n += rows.size() - (it == before.end() ? 0 : Common(rows, it->second));
  }
  return n;
}

size_t RowsKept(const TableRows& before, const TableRows& after) {
  size_t n = 0;
  for (const auto& [name, rows] : before) {
    auto it = after.find(name);
    if (it != after.end()) n += Common(rows, it->second);
  }
  return n;
}

}  // namespace testing_support
