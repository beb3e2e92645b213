// jetdb create: a new database from a JSON schema (create_command.cc).
#pragma once

#include <string>
#include <vector>

namespace jetdb {

int RunCreate(const std::vector<std::string>& args);

}  // namespace jetdb
