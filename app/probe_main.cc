// zivadiduz-probe: the test-only program. It runs the same start-up check as
// zivadiduz, from the folder it was copied into, but its message boxes are printed as
// one line each on standard output (and return as if OK was pressed), and it ends
// right after the check instead of showing the window. Built without Qt.
//
// Output: one "MSGBOX ..." line per box (services/recording_runtime.h); when the check
// passes, the line CHECK-PASSED folder="<DatabaseFolder>" and exit status 0.
#include <cstdio>
#include <string>

#include "app/ini_con.h"
#include "app/startup_check.h"
#include "services/program_folder.h"
#include "services/recording_runtime.h"

int main() {
  services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kEndProcess, stdout);
  app::IniCon ini_con;           // owned by the window in the real program
  std::string database_folder;  // likewise
  if (!app::FormLoad(runtime, ini_con, services::ProgramFolder(), &database_folder)) {
    return 0;  // not reached: the runtime has ended the process
  }
  std::printf("CHECK-PASSED folder=%s\n", services::QuoteForLine(database_folder).c_str());
  return 0;
}
