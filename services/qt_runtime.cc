// QtRuntime: message boxes through Qt Widgets, the program's end through std::_Exit.
#include "services/qt_runtime.h"

#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace services {
namespace {

// The icon bits of a style number: the value of the style modulo 128 less its
// button bits (0..7), as the home platform reads them.
QMessageBox::Icon IconOfStyle(int style) {
  switch (style & 0x70) {
    case 16: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case 48: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

void QtRuntime::MsgBox(const std::string& text, int style, const std::string& title) {
  QMessageBox box(IconOfStyle(style), QString::fromStdString(title),
                  QString::fromStdString(text), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);  // a text is shown as written, never as markup
  box.exec();
}

void QtRuntime::Exit(int status) {
  // _Exit, not exit: the program ends from inside Qt's event handling while Qt's
  // threads (accessibility, D-Bus) still run, and running static destructors under
  // them can crash. Every file the program wrote is flushed and closed by now.
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace services
