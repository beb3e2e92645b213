// frmFix on Windows: the window and its controls built in code, its two handlers,
// and the message loop with the keys of a dialog.
#include "app/win32/frm_fix.h"

#include <utility>

#include "app/startup_check.h"
#include "app/window_look.h"
#include "jet/base/win32.h"
#include "repair/clean_database.h"

namespace {

constexpr wchar_t kWindowClass[] = L"ZivAdiduzFrmFix";
constexpr int kIconResource = 1;  // app/win32/zivadiduz.rc

// The fixed dialog frame with a title, close box and system menu; no minimise or
// maximise box, no sizing border.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

// The label's font families, best first: the font the window was drawn with, then its
// TrueType successor, then fonts of the same width.
constexpr const wchar_t* kWarningFontFamilies[] = {L"MS Sans Serif", L"Microsoft Sans Serif",
                                                   L"Arial", L"Liberation Sans"};

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

bool FontInstalled(HDC dc, const wchar_t* family) {
  LOGFONTW wanted = {};
  wanted.lfCharSet = ANSI_CHARSET;
  lstrcpynW(wanted.lfFaceName, family, LF_FACESIZE);
  bool found = false;
  ::EnumFontFamiliesExW(dc, &wanted, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

}  // namespace

frmFix::frmFix(HINSTANCE instance, services::Runtime& runtime, repair::EngineHolder& engine,
               std::string program_folder)
    : instance_(instance),
      runtime_(runtime),
      engine_(engine),
      program_folder_(std::move(program_folder)) {
  HDC screen = ::GetDC(nullptr);
  dpi_ = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);

  big_icon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                              ::GetSystemMetrics(SM_CXICON),
                                              ::GetSystemMetrics(SM_CYICON), 0));
  small_icon_ = static_cast<HICON>(::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResource),
                                                IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                ::GetSystemMetrics(SM_CYSMICON), 0));

  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance_;
  window_class.hIcon = big_icon_;
  window_class.hIconSm = small_icon_;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  ::RegisterClassExW(&window_class);

  // Owned windows have no taskbar button; the owner itself is never shown.
  owner_ = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             instance_, nullptr);

  RECT frame = {0, 0, Scale(frm_fix::kClientWidthTwips), Scale(frm_fix::kClientHeightTwips)};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  const std::wstring title = jet::Widen(frm_fix::kTitle);
  window_ = ::CreateWindowExW(kWindowExStyle, kWindowClass, title.c_str(), kWindowStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                              frame.bottom - frame.top, owner_, nullptr, instance_, this);
  ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
  ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
  // The system menu offers what the frame allows: move and close.
  HMENU system_menu = ::GetSystemMenu(window_, FALSE);
  for (UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
    ::DeleteMenu(system_menu, command, MF_BYCOMMAND);
  CreateControls();
}

frmFix::~frmFix() {
  if (window_ != nullptr) ::DestroyWindow(window_);
  if (owner_ != nullptr) ::DestroyWindow(owner_);
  if (default_font_ != nullptr) ::DeleteObject(default_font_);
  if (warning_font_ != nullptr) ::DeleteObject(warning_font_);
  if (big_icon_ != nullptr) ::DestroyIcon(big_icon_);
  if (small_icon_ != nullptr) ::DestroyIcon(small_icon_);
}

int frmFix::Scale(int twips) const { return ::MulDiv(twips, dpi_, frm_fix::kTwipsPerInch); }

void frmFix::CreateControls() {
  // The platform's default font for the frame and the button: the one of message
  // boxes and dialogs.
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
    default_font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);

  HDC screen = ::GetDC(nullptr);
  const wchar_t* family = nullptr;
  for (const wchar_t* candidate : kWarningFontFamilies) {
    if (FontInstalled(screen, candidate)) {
      family = candidate;
      break;
    }
  }
  ::ReleaseDC(nullptr, screen);
  warning_font_ = ::CreateFontW(-::MulDiv(frm_fix::kWarningCentipoints, dpi_, 7200), 0, 0, 0,
                                FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS,
                                family != nullptr ? family : kWarningFontFamilies[0]);

  auto make = [&](const wchar_t* window_class, const char* text, DWORD style,
                  const frm_fix::TwipsRect& at, int left_offset, int top_offset, int id) {
    HWND control = ::CreateWindowExW(
        0, window_class, jet::Widen(text).c_str(), WS_CHILD | WS_VISIBLE | style,
        Scale(left_offset + at.left), Scale(top_offset + at.top), Scale(at.width),
        Scale(at.height), window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_,
        nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(default_font_), FALSE);
    return control;
  };
  // Made in tab order, which Windows takes from the order of creation: cmdStart,
  // Frame1, Label1. The label lies inside the frame, so its position is the frame's
  // plus its own.
  cmd_start_ = make(L"BUTTON", frm_fix::kButtonCaption, WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE,
                    frm_fix::kCmdStartTwips, 0, 0, kCmdStartId);
  frame1_ = make(L"BUTTON", frm_fix::kFrameCaption, BS_GROUPBOX, frm_fix::kFrame1Twips, 0, 0,
                 kFrame1Id);
  label1_ = make(L"STATIC", frm_fix::kWarningText, SS_CENTER | SS_NOPREFIX, frm_fix::kLabel1Twips,
                 frm_fix::kFrame1Twips.left, frm_fix::kFrame1Twips.top, kLabel1Id);
  ::SendMessageW(label1_, WM_SETFONT, reinterpret_cast<WPARAM>(warning_font_), FALSE);
}

bool frmFix::Form_Load() {
  return app::FormLoad(runtime_, ini_con_, program_folder_, &database_folder_);
}

int frmFix::Run() {
  ::ShowWindow(window_, SW_SHOWNORMAL);
  ::SetForegroundWindow(window_);
  ::SetFocus(cmd_start_);
  MSG message;
  BOOL got;
  while ((got = ::GetMessageW(&message, nullptr, 0, 0)) > 0) {
    // Enter presses the button while it has the focus; it is no default button, so
    // the dialog keys alone would not.
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN &&
        message.hwnd == cmd_start_) {
      ::SendMessageW(cmd_start_, BM_CLICK, 0, 0);
      continue;
    }
    // Tab, Space on the button, and Escape (an IDCANCEL command that nothing takes).
    if (::IsDialogMessageW(window_, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return got < 0 ? 1 : static_cast<int>(message.wParam);
}

void frmFix::cmdStart_Click() {
  // The repair ends the program; a click that reached us anyway (through the closing
  // box's message loop) must not start a second one.
  if (repair_started_) return;
  repair_started_ = true;
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  // Everything stays on this thread: the window takes no input until the closing box.
  repair::CleanDatabase(database_folder_, program_folder_, runtime_, engine_);
}

LRESULT CALLBACK frmFix::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
    auto* self = static_cast<frmFix*>(create->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<frmFix*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, w, l);
  return self->Handle(message, w, l);
}

LRESULT frmFix::Handle(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(w) == kCmdStartId && HIWORD(w) == BN_CLICKED) cmdStart_Click();
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(l) == label1_) {
        HDC dc = reinterpret_cast<HDC>(w);
        ::SetTextColor(dc, RGB(frm_fix::kWarningRed, frm_fix::kWarningGreen, frm_fix::kWarningBlue));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_ACTIVATE:
      // Back in the window, the focus returns to the one control that takes it.
      if (LOWORD(w) != WA_INACTIVE) ::SetFocus(cmd_start_);
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, w, l);
}
