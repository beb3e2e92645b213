// The Dutch texts the repair procedure shows, all in one place: the closing notice,
// the error boxes, their titles, and the one-line reasons that follow a failure,
// chosen from the kind of the engine's (or the file copy's) error.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/status.h"
#include "repair/file_names.h"

namespace repair {

inline constexpr char kNoticeTitle[] = "Mededeling";
inline constexpr char kErrorTitle[] = "Foutmelding";

// Every step succeeded: the database is repaired and holds its compacted copy.
inline constexpr char kRepairedText[] = "Database is hersteld !";

// Every step succeeded, but the repair could not bring back every record, every
// column or every memo/OLE value: "Database is hersteld, maar 3 records konden niet
// worden teruggehaald ! De backup staat in morvikbackup.mdb."
inline std::string RepairedWithLossText(uint64_t rows, uint64_t long_values, uint64_t columns = 0) {
  const std::pair<uint64_t, std::pair<const char*, const char*>> counts[] = {
      {rows, {"record", "records"}},
      {columns, {"kolom", "kolommen"}},
      {long_values, {"memo- of OLE-waarde", "memo- of OLE-waarden"}}};
  std::vector<std::string> parts;
  for (const auto& [n, words] : counts)
    if (n != 0) parts.push_back(std::to_string(n) + " " + (n == 1 ? words.first : words.second));
  std::string what;
  for (size_t i = 0; i < parts.size(); ++i)
    what += (i == 0 ? "" : i + 1 == parts.size() ? " en " : ", ") + parts[i];
  const bool one = rows + long_values + columns == 1;
  return "Database is hersteld, maar " + what + (one ? " kon" : " konden") +
         " niet worden teruggehaald ! De backup staat in " + kBackupFileName + ".";
}

// No backup could be written; the procedure stopped before the engine touched anything.
inline constexpr char kBackupFailedText[] =
    "Kan geen backup maken van de database ! De database is niet gewijzigd.";

// Something failed after the backup, and the database file holds exactly the bytes
// it held when the backup was taken.
inline constexpr char kNotRepairedText[] =
    "Database kon niet hersteld worden ! De database is niet gewijzigd.";

// Something failed after the backup, and the database file was changed (or could not
// be compared with the backup).
inline constexpr char kPartlyRepairedText[] =
    "Database kon niet volledig hersteld worden ! De backup staat in morvikbackup.mdb.";

// The second line of a failure box when no engine object could be made.
inline constexpr char kNoEngineReason[] = "De database-engine kon niet worden gestart.";

// The second line of a failure box: why, in words the user can act on.
inline const char* ReasonText(jet::ErrorKind kind) {
  switch (kind) {
    case jet::ErrorKind::kInUse:
      return "De database is in gebruik door een ander programma.";
    case jet::ErrorKind::kNotJetDatabase:
      return "Het bestand is geen geldige database.";
    case jet::ErrorKind::kUnsupportedFormat:
      return "Dit soort database wordt niet ondersteund.";
    case jet::ErrorKind::kDamaged:
      return "De database is te zwaar beschadigd om te herstellen.";
    case jet::ErrorKind::kDestinationExists:
      return "Het oude bestand new.mdb kon niet worden verwijderd.";
    case jet::ErrorKind::kNoSpace:
      return "Onvoldoende schijfruimte.";
    case jet::ErrorKind::kNotFound:
      return "Het databasebestand is niet gevonden.";
    case jet::ErrorKind::kIoError:
      return "Een bestand kon niet worden gelezen of geschreven.";
    case jet::ErrorKind::kOk:
    case jet::ErrorKind::kInvalidArgument:
      break;
  }
  return "Er is een onverwachte fout opgetreden.";
}

}  // namespace repair
