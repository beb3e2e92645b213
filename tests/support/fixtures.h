// Fixture databases: small Jet 3 and Jet 4 files made at test time by
// jet::CreateDatabase, so that engine tests have real files to work on in a fresh
// clone without ../shared. Each holds three related tables (klanten, afspraken,
// notities) with every column type its format has, Memo and OLE values of every
// storage size (empty, inline, one LVAL row, chained over pages), deleted rows with
// orphaned long values, a primary key, a unique, a secondary and a descending
// (Jet 3) index, an enforced relationship and one that is not enforced.
//
// Usage:
//   const std::string path = testing_support::FixtureDatabase(jet::Version::kJet3);
//   ASSERT_FALSE(path.empty()) << testing_support::FixtureError();
//   ... open `path` read-only; copy it first (CopyFixture) before writing to it ...
//   for (const std::string& f : testing_support::FixtureDatabaseFiles()) { ... }
//
// The files are made once per test program, in a temporary folder removed at exit.
// FixtureSchema gives what they were made from: the expected tables and rows
// (RowSpec::deleted marks the rows a reader must not see).
#pragma once

#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/create/schema.h"

namespace testing_support {

// The schema (tables, indexes, relationships, all rows) of the fixture of `version`
// (kJet3 or kJet4). Deterministic: the same every time.
jet::Schema FixtureSchema(jet::Version version);

// Path of the fixture of `version`, made on first use; "" when making it failed
// (FixtureError() says why).
std::string FixtureDatabase(jet::Version version);
// The Jet 3 and the Jet 4 fixture, for tests that loop over files; empty on failure.
std::vector<std::string> FixtureDatabaseFiles();
// Why the last FixtureDatabase call failed.
std::string FixtureError();

// Copies the fixture of `version` to `destination` (a file that must not exist) for a
// test that writes to it; false on failure.
bool CopyFixture(jet::Version version, const std::string& destination);

}  // namespace testing_support
