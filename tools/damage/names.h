// Names of the damage tools' enumerations (kinds, roles, modes): one table of
// value and name per enumeration, looked up both ways by these helpers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace damage {

template <typename E>
struct Named {
  E value;
  const char* name;
};

// The helpers take any table whose entries have `value` and `name` members, so
// a table may carry more per value (the damage kinds carry their findings).
template <typename Entry, size_t N, typename E>
const char* NameIn(const Entry (&table)[N], E value) {
  for (const Entry& entry : table)
    if (entry.value == value) return entry.name;
  return "?";
}

template <typename Entry, size_t N, typename E>
bool ParseIn(const Entry (&table)[N], const std::string& name, E* value) {
  for (const Entry& entry : table)
    if (name == entry.name) {
      *value = entry.value;
      return true;
    }
  return false;
}

template <typename Entry, size_t N>
auto ValuesIn(const Entry (&table)[N]) {
  std::vector<decltype(Entry::value)> values;
  for (const Entry& entry : table) values.push_back(entry.value);
  return values;
}

}  // namespace damage
