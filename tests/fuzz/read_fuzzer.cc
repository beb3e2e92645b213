// libFuzzer target over the whole reading half of the engine: open the input as a
// database held in memory, then read everything in it — the catalog, every table
// definition, every live row and every index. Any error Status is a fine outcome;
// a crash, a sanitizer report, a hang or runaway memory is a fault.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/read/database.h"

namespace {

// Bounds the work of one input, so a file that claims millions of rows still runs in
// fuzzing time; the reader itself must stay linear in the file, which this checks.
constexpr size_t kMaxRowsPerTable = 100000;

void ReadEverything(jet::Database& db) {
  for (const jet::CatalogObject& object : db.objects()) {
    if (!object.is_table()) continue;
    const jet::TableDef* table = nullptr;
    if (!db.GetTableDef(static_cast<uint32_t>(object.id) & 0x00FFFFFF, &table).ok()) continue;
    size_t rows = 0;
    size_t text_bytes = 0;
    db.ScanRows(*table, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
      // Touch every value, text form included, so the codecs run on hostile bytes.
      for (const jet::Value& value : values) text_bytes += value.ToText().size();
      return ++rows < kMaxRowsPerTable;
    });
    for (size_t index = 0; index < table->real_indexes.size(); ++index) {
      std::vector<jet::IndexEntry> entries;
      db.ReadIndexEntries(*table, index, &entries);
    }
    (void)text_bytes;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<jet::Database> db;
  if (!jet::Database::OpenMemory(data, size, &db).ok()) return 0;
  ReadEverything(*db);
  return 0;
}
