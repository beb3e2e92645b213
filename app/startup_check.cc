// The start-up check (Form_Load) and its report of an error it does not handle.
#include "app/startup_check.h"

#include "repair/file_names.h"
#include "repair/messages.h"
#include "services/files.h"

namespace app {
namespace {

// Ends the program with the run-time error box: what failed, in Dutch, and the
// system's own detail for whoever has to look into it.
void RunTimeError(services::Runtime& runtime, const std::string& what,
                  const jet::Status& status) {
  std::string text = "Er is een onverwachte fout opgetreden bij het starten: " + what;
  if (!status.ok()) text += "\n\n(" + status.ToString() + ")";
  text += "\n\nHet programma wordt beëindigd.";
  runtime.MsgBox(text, services::kStyleError, kRunTimeErrorTitle);
  runtime.Exit(kRunTimeErrorExitStatus);
}

}  // namespace

bool FormLoad(services::Runtime& runtime, IniCon& ini_con, const std::string& program_folder,
              std::string* database_folder) {
  if (program_folder.empty()) {
    RunTimeError(runtime, "de map van het programma kan niet worden bepaald.", jet::Status());
    return false;
  }

  // Step 1 and 2.
  if (!services::FileExists(services::JoinPath(program_folder, repair::kSettingsFileName))) {
    runtime.MsgBox(kMessageNoSettingsFile, services::kStyleError, repair::kErrorTitle);
    runtime.End();
    return false;
  }

  // Step 3: the path is formed again and handed over in the reader's own order.
  const std::string settings_path = services::JoinPath(program_folder, repair::kSettingsFileName);
  ini_con.SetFileName(settings_path);  // dispatch 6
  ini_con.SetSection(kSettingsSection);  // dispatch 3
  ini_con.SetKey(kSettingsKey);  // dispatch 4
  std::string value;
  jet::Status status = ini_con.Value(&value);  // dispatch 5
  if (!status.ok()) {
    RunTimeError(runtime, "het instellingenbestand " + settings_path + " kan niet worden gelezen.",
                 status);
    return false;
  }
  *database_folder = value;

  // Step 4: only a value of length 0 is a missing setting; blanks are a folder name.
  if (database_folder->empty()) {
    runtime.MsgBox(kMessageNoDatabaseFolder, services::kStyleError, repair::kErrorTitle);
    runtime.End();
    return false;
  }

  // Step 5.
  if (!services::FileExists(services::JoinPath(*database_folder, repair::kDatabaseFileName))) {
    runtime.MsgBox(kMessageNoDatabase, services::kStyleError, repair::kErrorTitle);
    runtime.End();
    return false;
  }
  return true;  // step 6: the window is shown
}

}  // namespace app
