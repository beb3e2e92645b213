// zivadiduz-probe: the test-only program. It runs the same start-up check as
// zivadiduz, from the folder it was copied into, but its message boxes are printed as
// one line each on standard output (and return as if OK was pressed), and it ends
// right after the check instead of showing the window. Built without Qt.
//
// Output: one "MSGBOX ..." line per box (services/recording_runtime.h); when the check
// passes, the line CHECK-PASSED folder="<DatabaseFolder>" and exit status 0.
//
// `zivadiduz-probe --click` goes on, after a passing check, as if the user had clicked
// the window's button: it runs the whole repair procedure (repair::CleanDatabase) with
// the same recording runtime and the real engine, which ends the process. Only this
// test program takes an argument; the real program takes none.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/ini_con.h"
#include "app/startup_check.h"
#include "repair/clean_database.h"
#include "repair/engine_holder.h"
#include "repair/jet_db_engine.h"
#include "services/program_folder.h"
#include "services/recording_runtime.h"

int main(int argc, char** argv) {
  const bool click = argc == 2 && std::strcmp(argv[1], "--click") == 0;
  if (argc > 1 && !click) {
    std::fprintf(stderr, "usage: zivadiduz-probe [--click]\n");
    return 2;
  }
  services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kEndProcess, stdout);
  app::IniCon ini_con;           // owned by the window in the real program
  std::string database_folder;  // likewise
  if (!app::FormLoad(runtime, ini_con, services::ProgramFolder(), &database_folder)) {
    return 0;  // not reached: the runtime has ended the process
  }
  std::printf("CHECK-PASSED folder=%s\n", services::QuoteForLine(database_folder).c_str());
  if (click) {
    std::fflush(stdout);
    repair::EngineHolder engine(repair::NewJetDBEngine);
    repair::CleanDatabase(database_folder, services::ProgramFolder(), runtime, engine);
  }
  return 0;
}
