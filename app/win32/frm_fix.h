// frmFix on Windows: the program's one window, written against Win32. The same
// window as the Qt one on Linux (app/frm_fix.h): a warning in a frame and the button
// that starts the repair; it owns the database folder the start-up check finds and
// the INI reader that check drives. Only two handlers carry code of the program:
// Form_Load (the start-up check, before the window is shown) and cmdStart_Click (the
// repair, which ends the program). Closing the window runs nothing of ours.
//
// Look (app/window_look.h), scaled from twips to the screen's dpi:
//   window   client area 4860 x 3420 twips (324 x 228 px at 96 dpi); title
//            "ZivAdiduz"; fixed dialog border; close box and system menu only; owned
//            by a hidden top-level window, so it has no taskbar button; placed where
//            Windows puts a new window; the program's icon
//   Frame1   group box "Waarschuwing"
//   Label1   the warning: red, bold, "MS Sans Serif" 9.75 pt, centred, word-wrapped
//   cmdStart "HERSTEL DATABASE", the only control that takes the focus; it has it
//            when the window appears; Enter and Space press it, Escape does nothing
#pragma once

#include <windows.h>

#include <string>

#include "app/ini_con.h"
#include "repair/engine_holder.h"
#include "services/runtime.h"

class frmFix {
 public:
  // The control identifiers; none is IDOK or IDCANCEL, so the dialog keys' own
  // commands (Escape sends IDCANCEL) reach no control.
  static constexpr int kFrame1Id = 101;
  static constexpr int kLabel1Id = 102;
  static constexpr int kCmdStartId = 103;

  // `runtime`, `engine` and `program_folder` as for the Qt window; they must outlive
  // the window. Creates the (hidden) window and its controls.
  frmFix(HINSTANCE instance, services::Runtime& runtime, repair::EngineHolder& engine,
         std::string program_folder);
  ~frmFix();
  frmFix(const frmFix&) = delete;
  frmFix& operator=(const frmFix&) = delete;

  // The load handler: runs the start-up check. True when the window is to be shown.
  bool Form_Load();

  // Shows the window with the focus on cmdStart, and runs the message loop until the
  // window is closed (or the repair ends the program). Returns the exit status.
  int Run();

  HWND hwnd() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
  LRESULT Handle(UINT message, WPARAM w, LPARAM l);
  void CreateControls();
  int Scale(int twips) const;  // twips to pixels at the screen's dpi
  void cmdStart_Click();

  HINSTANCE instance_;
  services::Runtime& runtime_;
  repair::EngineHolder& engine_;
  const std::string program_folder_;

  std::string database_folder_;  // set once by Form_Load, read by cmdStart_Click
  app::IniCon ini_con_;          // never shown; driven by the start-up check alone
  bool repair_started_ = false;  // cmdStart_Click runs the repair at most once

  int dpi_ = 96;
  HWND owner_ = nullptr;  // hidden top-level window: keeps frmFix out of the taskbar
  HWND window_ = nullptr;
  HWND frame1_ = nullptr;
  HWND label1_ = nullptr;
  HWND cmd_start_ = nullptr;
  HFONT default_font_ = nullptr;
  HFONT warning_font_ = nullptr;
  HICON big_icon_ = nullptr;
  HICON small_icon_ = nullptr;
};
