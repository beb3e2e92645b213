// frmFix: the window built in code, its two handlers, the start button's behaviour,
// and the X11 hint that keeps the window out of the taskbar.
#include "app/frm_fix.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/startup_check.h"
#include "repair/clean_database.h"

namespace frm_fix {

QStringList WarningFontFamilies() {
  return {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
          QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
          QStringLiteral("Arial")};
}

}  // namespace frm_fix

namespace {

// The window's controls in pixels: (left, top, width, height) in the container.
constexpr QRect Pixels(frm_fix::TwipsRect twips) {
  constexpr int k = frm_fix::kTwipsPerPixelAt96Dpi;
  return QRect(twips.left / k, twips.top / k, twips.width / k, twips.height / k);
}
constexpr QRect kFrame1Rect = Pixels(frm_fix::kFrame1Twips);
constexpr QRect kLabel1Rect = Pixels(frm_fix::kLabel1Twips);
constexpr QRect kCmdStartRect = Pixels(frm_fix::kCmdStartTwips);

// Runs the busy cursor over the repair, and takes it away before any message box so
// the box is answered under the normal arrow; everything else is passed on.
class BusyCursorRuntime final : public services::Runtime {
 public:
  explicit BusyCursorRuntime(services::Runtime& inner) : inner_(inner) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    busy_ = true;
  }
  ~BusyCursorRuntime() override { RestoreCursor(); }

  void MsgBox(const std::string& text, int style, const std::string& title) override {
    RestoreCursor();
    inner_.MsgBox(text, style, title);
  }
  void Exit(int status) override {
    RestoreCursor();
    inner_.Exit(status);
  }

 private:
  void RestoreCursor() {
    if (!busy_) return;
    QApplication::restoreOverrideCursor();
    busy_ = false;
  }

  services::Runtime& inner_;
  bool busy_ = false;  // true while our override cursor is on the cursor stack
};

xcb_atom_t InternAtom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}

// Adds _NET_WM_STATE_SKIP_TASKBAR to the _NET_WM_STATE of a window that is not mapped
// yet, which is how a client asks for an initial state. Qt merges its own states into
// what it finds there when it maps the window; our requests go out on Qt's own
// connection, so they reach the server first. Does nothing off X11 (offscreen,
// Wayland, ...).
void SetSkipTaskbarBeforeMap(QWidget* window) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;
  xcb_connection_t* connection = x11->connection();
  const auto native = static_cast<xcb_window_t>(window->winId());
  const xcb_atom_t state = InternAtom(connection, "_NET_WM_STATE");
  const xcb_atom_t skip = InternAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
  if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE) return;

  // Keep any states already there, and add ours only once.
  xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, native, state, XCB_ATOM_ATOM, 0, 1024);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
  if (reply != nullptr) {
    const bool atoms = reply->format == 32 && reply->type == XCB_ATOM_ATOM;
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    const int count = atoms ? xcb_get_property_value_length(reply) / 4 : 0;
    bool present = false;
    for (int i = 0; i < count; ++i) present = present || values[i] == skip;
    std::free(reply);
    if (present) return;
  }
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, native, state, XCB_ATOM_ATOM, 32,
                      1, &skip);
  xcb_flush(connection);
}

// Sets the Motif window-manager hints of a fixed dialog: the window can be moved and
// closed, nothing else, and its frame has a border, a title and a system menu, no
// minimise or maximise box and no resize handles. Qt's own hints for the window's
// flags still offer resizing. Does nothing off X11.
void SetFixedDialogMotifHints(QWidget* window) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return;
  xcb_connection_t* connection = x11->connection();
  const xcb_atom_t hints_atom = InternAtom(connection, "_MOTIF_WM_HINTS");
  if (hints_atom == XCB_ATOM_NONE) return;
  // flags, functions, decorations, input mode, status (the Motif layout).
  constexpr uint32_t kFunctionsAndDecorations = 0x1 | 0x2;
  constexpr uint32_t kMove = 0x4, kClose = 0x20;
  constexpr uint32_t kBorder = 0x2, kTitle = 0x8, kMenu = 0x10;
  const uint32_t hints[5] = {kFunctionsAndDecorations, kMove | kClose, kBorder | kTitle | kMenu, 0, 0};
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                      hints_atom, hints_atom, 32, 5, hints);
  xcb_flush(connection);
}

}  // namespace

// ---- CommandButton ----

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
  setAutoDefault(false);
  setDefault(false);
  setFocusPolicy(Qt::StrongFocus);
}

QStringList CommandButton::WrapCaption(const QString& caption, const QFontMetrics& metrics,
                                       int width) {
  QStringList lines;
  QString line;
  for (const QString& word : caption.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (line.isEmpty()) {
      line = word;
      continue;
    }
    const QString longer = line + QLatin1Char(' ') + word;
    if (metrics.horizontalAdvance(longer) <= width) {
      line = longer;
    } else {
      lines.append(line);
      line = word;
    }
  }
  if (!line.isEmpty()) lines.append(line);
  return lines;
}

int CommandButton::CaptionWidth() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  const int focus_margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this);
  return contents.width() - 2 * focus_margin;
}

QStringList CommandButton::CaptionLines() const {
  return WrapCaption(text(), fontMetrics(), CaptionWidth());
}

void CommandButton::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    // A held key clicks once: the click ends in a message box, which the repeats
    // would otherwise dismiss unread.
    if (!event->isAutoRepeat()) click();
    event->accept();
    return;
  }
  QPushButton::keyPressEvent(event);
}

void CommandButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text = CaptionLines().join(QLatin1Char('\n'));
  painter.drawControl(QStyle::CE_PushButton, option);
}

// ---- frmFix ----

frmFix::frmFix(services::Runtime& runtime, repair::EngineHolder& engine,
               std::string program_folder, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      runtime_(runtime),
      engine_(engine),
      program_folder_(std::move(program_folder)) {
  setObjectName(QStringLiteral("frmFix"));
  setWindowTitle(QString::fromUtf8(frm_fix::kTitle));
  setFixedSize(frm_fix::kClientWidth, frm_fix::kClientHeight);

  // Children are made in the window's own order of its controls.
  frame1_ = new QGroupBox(QString::fromUtf8(frm_fix::kFrameCaption), this);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  frame1_->setGeometry(kFrame1Rect);
  frame1_->setFocusPolicy(Qt::NoFocus);

  label1_ = new QLabel(QString::fromUtf8(frm_fix::kWarningText), frame1_);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setGeometry(kLabel1Rect);
  label1_->setTextFormat(Qt::PlainText);
  label1_->setWordWrap(true);
  label1_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label1_->setFocusPolicy(Qt::NoFocus);
  QFont warning_font = label1_->font();
  warning_font.setFamilies(frm_fix::WarningFontFamilies());
  warning_font.setPixelSize(frm_fix::kWarningPixelSize);
  warning_font.setWeight(QFont::Bold);
  warning_font.setItalic(false);
  warning_font.setUnderline(false);
  warning_font.setStrikeOut(false);
  label1_->setFont(warning_font);
  QPalette palette = label1_->palette();
  palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
  label1_->setPalette(palette);

  cmd_start_ = new CommandButton(QString::fromUtf8(frm_fix::kButtonCaption), this);
  cmd_start_->setObjectName(QStringLiteral("cmdStart"));
  cmd_start_->setGeometry(kCmdStartRect);
  connect(cmd_start_, &QPushButton::clicked, this, [this] { cmdStart_Click(); });
  cmd_start_->setFocus(Qt::OtherFocusReason);
}

bool frmFix::Form_Load() {
  return app::FormLoad(runtime_, ini_con_, program_folder_, &database_folder_);
}

void frmFix::cmdStart_Click() {
  // The repair ends the program; a click that reached us anyway (through the closing
  // box's event loop, or under a test runtime) must not start a second one.
  if (repair_started_) return;
  repair_started_ = true;
  BusyCursorRuntime busy(runtime_);
  // Everything stays on this thread: the window takes no input until the closing box.
  repair::CleanDatabase(database_folder_, program_folder_, busy, engine_);
}

void frmFix::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    SetSkipTaskbarBeforeMap(this);
    SetFixedDialogMotifHints(this);
  }
  QWidget::showEvent(event);
}
