// JetDBEngine: the real DBEngine, the Jet engine of jet/ (jet/maintain/engine.h).
#pragma once

#include <memory>
#include <string>

#include "jet/base/env.h"
#include "repair/db_engine.h"

namespace repair {

class JetDBEngine final : public DBEngine {
 public:
  // Every file the engine writes goes through `env` (not owned; it must outlive this).
  explicit JetDBEngine(jet::Env* env = jet::Env::Default()) : env_(env) {}

  jet::Status RepairDatabase(const std::string& database_path, RepairLoss* loss) override;
  jet::Status CompactDatabase(const std::string& source_path,
                              const std::string& destination_path) override;

 private:
  jet::Env* const env_;
};

// The factory the program hands to its EngineHolder: `EngineHolder engine(NewJetDBEngine);`
std::unique_ptr<DBEngine> NewJetDBEngine();

}  // namespace repair
