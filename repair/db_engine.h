// DBEngine: the database engine as the repair procedure sees it: exactly two
// operations. The real one is the Jet engine of jet/ (repair/jet_db_engine.h); tests
// use a scripted fake. A failure carries a jet::ErrorKind and an English detail.
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/status.h"

namespace repair {

// What a repair could not bring back: the closing message tells the user.
struct RepairLoss {
  uint64_t rows = 0;         // rows that could not be read back
  uint64_t long_values = 0;  // memo or OLE values cut short or emptied
  uint64_t columns = 0;      // columns whose definition was lost: every row lacks their values
  bool Any() const { return rows != 0 || long_values != 0 || columns != 0; }
};

class DBEngine {
 public:
  virtual ~DBEngine() = default;

  // Repairs the database file at `database_path` in place (atomically: the file holds
  // either the old or the repaired database at every moment). `loss` receives what the
  // repair could not bring back (nothing, unless it succeeded).
  virtual jet::Status RepairDatabase(const std::string& database_path, RepairLoss* loss) = 0;

  // Writes a compacted copy of `source_path` as a new file at `destination_path`,
  // which must not exist (kDestinationExists otherwise). A failure leaves no
  // destination file.
  virtual jet::Status CompactDatabase(const std::string& source_path,
                                      const std::string& destination_path) = 0;
};

}  // namespace repair
