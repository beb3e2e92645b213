// JetDBEngine: forwards the two operations to the engine's entry points.
#include "repair/jet_db_engine.h"

#include "jet/maintain/engine.h"

namespace repair {

jet::Status JetDBEngine::RepairDatabase(const std::string& database_path, RepairLoss* loss) {
  jet::RepairReport report;
  const jet::Status s = jet::RepairDatabase(database_path, &report, env_);
  *loss = RepairLoss();
  if (s.ok()) {
    loss->rows = report.RowsLost();
    loss->long_values = report.ValuesCut();
    loss->columns = report.ColumnsDropped();
  }
  return s;
}

jet::Status JetDBEngine::CompactDatabase(const std::string& source_path,
                                         const std::string& destination_path) {
  return jet::CompactDatabase(source_path, destination_path, env_);
}

std::unique_ptr<DBEngine> NewJetDBEngine() { return std::make_unique<JetDBEngine>(); }

}  // namespace repair
