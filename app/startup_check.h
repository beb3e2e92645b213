// The start-up check: the logic of the window's load handler Form_Load, kept free of
// Qt so that the test-only program and the unit tests run the very same code. It
// finds the database folder in the settings file beside the program and makes sure
// the settings file, the setting and the database are there.
#pragma once

#include <string>

#include "app/ini_con.h"
#include "services/program_folder.h"
#include "services/runtime.h"

namespace app {

// Where the database folder is kept in the settings file.
inline constexpr char kSettingsSection[] = "Files";
inline constexpr char kSettingsKey[] = "DatabasePath";

// The three faults the check reports, each with style 16 and the title
// repair::kErrorTitle.
inline constexpr char kMessageNoSettingsFile[] = "Kan morvik.ini bestand niet vinden !";
inline constexpr char kMessageNoDatabaseFolder[] =
    "Kan database-bestand niet vinden !, controleer instellingen van Morvik";
inline constexpr char kMessageNoDatabase[] = "Kan morvik database niet vinden !";

// A fault the check does not look for (the settings file exists but cannot be read,
// the program folder cannot be determined) is reported as a run-time error: one box
// with style 16 and this title, then the program ends with this exit status.
inline constexpr char kRunTimeErrorTitle[] = "zivadiduz - fout bij het starten";
inline constexpr int kRunTimeErrorExitStatus = 1;

// Form_Load. Runs the check once, in order:
//   1. the settings path is `program_folder` joined with repair::kSettingsFileName;
//   2. no file there: kMessageNoSettingsFile, then End;
//   3. `ini_con` is given the settings path, section "Files" and key "DatabasePath"
//      (dispatch 6, 3, 4) and its value (dispatch 5) is stored in *database_folder,
//      exactly as read, untrimmed;
//   4. an empty value: kMessageNoDatabaseFolder, then End;
//   5. no file at *database_folder joined with repair::kDatabaseFileName:
//      kMessageNoDatabase, then End.
// Returns true when every check passed (the window is then shown). Returns false
// after it has called runtime.End() or, for a run-time error, runtime.Exit(
// kRunTimeErrorExitStatus); with the production runtime it does not return then.
// An empty `program_folder` means it could not be determined: a run-time error.
bool FormLoad(services::Runtime& runtime, IniCon& ini_con, const std::string& program_folder,
              std::string* database_folder);

}  // namespace app
