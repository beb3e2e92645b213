// DBEngine: the database engine as the repair procedure sees it: exactly two
// operations. The real one is the Jet engine of jet/ (repair/jet_db_engine.h); tests
// use a scripted fake. A failure carries a jet::ErrorKind and an English detail.
#pragma once

#include <string>

#include "jet/base/status.h"

namespace repair {

class DBEngine {
 public:
  virtual ~DBEngine() = default;

  // Repairs the database file at `database_path` in place (atomically: the file holds
  // either the old or the repaired database at every moment).
  virtual jet::Status RepairDatabase(const std::string& database_path) = 0;

  // Writes a compacted copy of `source_path` as a new file at `destination_path`,
  // which must not exist (kDestinationExists otherwise). A failure leaves no
  // destination file.
  virtual jet::Status CompactDatabase(const std::string& source_path,
                                      const std::string& destination_path) = 0;
};

}  // namespace repair
