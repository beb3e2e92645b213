// The jetdb commands. Each takes the arguments after its name and returns an exit
// code (cli.h); main.cc maps names to these functions. One file per group:
// read_commands.cc (info, tables, schema, queries), export_command.cc (export),
// to_sqlite.cc (to-sqlite), check_commands.cc (check, repair), compact_command.h
// and create_command.h.
#pragma once

#include <string>
#include <vector>

namespace jetdb {

int RunInfo(const std::vector<std::string>& args);
int RunTables(const std::vector<std::string>& args);
int RunSchema(const std::vector<std::string>& args);
int RunQueries(const std::vector<std::string>& args);
int RunExport(const std::vector<std::string>& args);
int RunToSqlite(const std::vector<std::string>& args);
// check_commands.cc
int RunCheck(const std::vector<std::string>& args);
int RunRepair(const std::vector<std::string>& args);

}  // namespace jetdb
