// JetDBEngine: the real DBEngine, the Jet engine of jet/ (jet/engine.h).
#pragma once

#include <memory>
#include <string>

#include "repair/db_engine.h"

namespace repair {

class JetDBEngine final : public DBEngine {
 public:
  jet::Status RepairDatabase(const std::string& database_path) override;
  jet::Status CompactDatabase(const std::string& source_path,
                              const std::string& destination_path) override;
};

// The factory the program hands to its EngineHolder: `EngineHolder engine(NewJetDBEngine);`
std::unique_ptr<DBEngine> NewJetDBEngine();

}  // namespace repair
