// zivadiduz: the program. Creates the one window, lets its load handler run the
// start-up check, and then either has ended after the check's error box or shows the
// window and waits; the button's repair ends the program, and so does closing the
// window. Takes no command line of its own (Qt's own options aside).
#include <QApplication>
#include <QIcon>
#include <QString>

#include "app/frm_fix.h"
#include "repair/engine_holder.h"
#include "repair/jet_db_engine.h"
#include "services/program_folder.h"
#include "services/qt_runtime.h"
#include "version.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral(ZIVADIDUZ_NAME));
  QApplication::setApplicationVersion(QStringLiteral(ZIVADIDUZ_VERSION));
  QApplication::setDesktopFileName(QStringLiteral(ZIVADIDUZ_NAME));
  // The window and every message box carry the program's icon.
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zivadiduz.png")));

  // Both live until the program ends: the repair ends it from inside the event loop.
  services::QtRuntime runtime;
  repair::EngineHolder engine(repair::NewJetDBEngine);

  frmFix window(runtime, engine, services::ProgramFolder());
  if (!window.Form_Load()) return 0;  // not reached: the check has ended the program
  window.show();
  return application.exec();
}
