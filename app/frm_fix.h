// frmFix: the program's one window: a warning in a frame and the button that starts
// the repair. It owns the database folder found by the start-up check and the INI
// reader that check drives. Only two handlers carry code of the program: Form_Load
// (the start-up check, run before the window is shown) and cmdStart_Click (the repair,
// which ends the program). Closing the window runs nothing of ours.
//
// Look, in pixels at 96 dpi, positions inside the container's client area:
//   window   client area 324 x 228, fixed; title "ZivAdiduz"; close box and system
//            menu only; no taskbar button; placed by the window system
//   Frame1   group box "Waarschuwing"    (11, 5)   300 x 162   in the window
//   Label1   the warning, red bold 13 px (11, 21)  266 x 137   in Frame1
//   cmdStart "HERSTEL DATABASE"          (114, 174) 88 x 46    in the window
// Only cmdStart takes the keyboard focus; it has it when the window appears.
#pragma once

#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>

#include "app/ini_con.h"
#include "app/window_look.h"
#include "repair/engine_holder.h"
#include "services/runtime.h"

class QFontMetrics;
class QGroupBox;
class QLabel;

// The texts and measures of the window (app/window_look.h), shared with its tests.
namespace frm_fix {
// The label's font families, best first. "MS Sans Serif" is the font the window was
// drawn with; where it is missing, Liberation Sans (metric twin of Arial, from
// fonts-liberation) fits the warning into the label, while the wider DejaVu Sans that
// fontconfig would otherwise pick does not.
QStringList WarningFontFamilies();
}  // namespace frm_fix

// A push button that behaves like the classic desktop command button. Its text()
// stays the caption as written, but it is painted wrapped at word boundaries to the
// button's width, as such a button wraps a caption too wide for one line. Enter and
// Return click it while it holds the keyboard focus, space clicks it on release as any
// button does. It is never a default button: autoDefault and default are off.
class CommandButton : public QPushButton {
 public:
  CommandButton(const QString& caption, QWidget* parent);

  // `caption` broken into lines: words go greedily onto a line while it stays within
  // `width` pixels; a word wider than `width` stands alone on its line (never split).
  static QStringList WrapCaption(const QString& caption, const QFontMetrics& metrics,
                                 int width);

  // The lines painted for the current caption, font and size.
  QStringList CaptionLines() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int CaptionWidth() const;  // pixels inside the bevel and its focus frame
};

class frmFix : public QWidget {
 public:
  // `runtime` shows the boxes and ends the program, `engine` holds the database engine
  // (made on first use), `program_folder` is the folder of the program file; all three
  // must outlive the window.
  frmFix(services::Runtime& runtime, repair::EngineHolder& engine,
         std::string program_folder, QWidget* parent = nullptr);

  // The load handler: runs the start-up check. True when the window is to be shown;
  // false when the check has reported its error and ended the program (which returns
  // here only under a test runtime). Call once, before the window is first shown.
  bool Form_Load();

  // The database folder the start-up check found; empty before Form_Load.
  const std::string& DatabaseFolder() const { return database_folder_; }

  app::IniCon& iniCon() { return ini_con_; }

 protected:
  // Marks the native window, just before it is mapped, to stay out of the taskbar and
  // to offer the window manager no minimise, maximise or resize.
  void showEvent(QShowEvent* event) override;

 private:
  // The click handler of cmdStart: the repair, once, under the busy cursor.
  void cmdStart_Click();

  services::Runtime& runtime_;
  repair::EngineHolder& engine_;
  const std::string program_folder_;

  // Set once by Form_Load, read by cmdStart_Click; used exactly as read.
  std::string database_folder_;
  app::IniCon ini_con_;  // never shown; driven by the start-up check alone
  bool repair_started_ = false;  // cmdStart_Click runs the repair at most once

  QGroupBox* frame1_;
  QLabel* label1_;
  CommandButton* cmd_start_;
};
