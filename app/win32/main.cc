// zivadiduz.exe: the program on Windows. Creates the one window, lets its load handler
// run the start-up check, and then either has ended after the check's error box or
// shows the window and waits; the button's repair ends the program, and so does
// closing the window. Takes no command line.
#include <windows.h>
#include <commctrl.h>

#include "app/win32/frm_fix.h"
#include "repair/engine_holder.h"
#include "repair/jet_db_engine.h"
#include "services/program_folder.h"
#include "services/win32_runtime.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The frame and the button in the system's current look (the manifest asks for
  // Common Controls 6).
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  // Both live until the program ends: the repair ends it from inside the message loop.
  services::Win32Runtime runtime;
  repair::EngineHolder engine(repair::NewJetDBEngine);

  frmFix window(instance, runtime, engine, services::ProgramFolder());
  if (!window.Form_Load()) return 0;  // not reached: the check has ended the program
  return window.Run();
}
