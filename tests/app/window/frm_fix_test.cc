// Offscreen tests of the window frmFix: its look (geometry, nesting, flags, fonts,
// colours, captions), its keyboard behaviour, and its two handlers wired to the real
// start-up check and repair procedure over a scripted engine.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/frm_fix.h"
#include "app/startup_check.h"
#include "repair/messages.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// A runtime that records each box, with the cursor that was showing when it came up,
// and records the end of the program instead of ending it.
class TestRuntime final : public services::Runtime {
 public:
  struct Box {
    std::string text;
    int style;
    std::string title;
    bool busy_cursor;  // the override cursor was the wait cursor
  };

  void MsgBox(const std::string& text, int style, const std::string& title) override {
    boxes.push_back({text, style, title, BusyCursorShowing()});
  }
  void Exit(int status) override {
    ++exits;
    exit_status = status;
  }

  static bool BusyCursorShowing() {
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
  }

  std::vector<Box> boxes;
  int exits = 0;
  int exit_status = -1;
};

// An engine that succeeds: the repair leaves the file alone, the compaction copies it.
// It records each call and whether the busy cursor was showing.
class ScriptedEngine final : public repair::DBEngine {
 public:
  jet::Status RepairDatabase(const std::string& database_path, repair::RepairLoss* loss) override {
    *loss = repair::RepairLoss();
    calls.push_back("repair " + database_path);
    busy_during_repair = TestRuntime::BusyCursorShowing();
    return jet::Status::Ok();
  }
  jet::Status CompactDatabase(const std::string& source, const std::string& destination) override {
    calls.push_back("compact " + source + " -> " + destination);
    std::error_code ec;
    fs::copy_file(source, destination, ec);
    if (ec) return jet::Status::Error(jet::ErrorKind::kIoError, ec.message());
    return jet::Status::Ok();
  }
  std::vector<std::string> calls;
  bool busy_during_repair = false;
};

// The number of lines `text` takes when word-wrapped at `width` pixels in `font`, as
// the label lays it out.
int WrappedLineCount(const QString& text, const QFont& font, int width) {
  QTextLayout layout(text, font);
  QTextOption option(Qt::AlignHCenter);
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  int lines = 0;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    ++lines;
  }
  layout.endLayout();
  return lines;
}

const char kDatabaseBytes[] = "not really a database, but the scripted engine does not mind";

// A program folder with morvik.ini naming <folder>/data, which holds morvik.mdb.
class FrmFixTest : public ::testing::Test {
 protected:
  FrmFixTest()
      : engine_holder_([this]() -> std::unique_ptr<repair::DBEngine> {
          auto made = std::make_unique<ScriptedEngine>();
          engine_ = made.get();
          return made;
        }),
        window_(runtime_, engine_holder_, program_.path()) {
    data_ = program_.File("data");
    fs::create_directories(data_);
  }

  void WriteSettings() {
    ASSERT_TRUE(WriteFileBytes(program_.File("morvik.ini"),
                               "[Files]\r\nDatabasePath=" + data_ + "\r\n"));
    ASSERT_TRUE(WriteFileBytes(data_ + "/morvik.mdb", kDatabaseBytes));
  }

  // Runs the load handler over a complete folder and shows the window, active.
  void LoadAndShow() {
    WriteSettings();
    ASSERT_TRUE(window_.Form_Load());
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }

  template <typename T>
  T* Control(const char* name) {
    T* control = window_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  std::vector<std::string> ProgramFolderFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(program_.path()))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir program_;
  std::string data_;
  TestRuntime runtime_;
  ScriptedEngine* engine_ = nullptr;  // set when the holder makes the engine
  repair::EngineHolder engine_holder_;
  frmFix window_;
};

TEST_F(FrmFixTest, WindowIsAFixedDialogTypeWidgetWithCloseBoxOnly) {
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("ZivAdiduz"));
  EXPECT_TRUE(window_.isWindow());
  EXPECT_EQ(qobject_cast<QDialog*>(&window_), nullptr);  // QDialog would centre, take Escape

  const Qt::WindowFlags flags = window_.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

  EXPECT_EQ(window_.size(), QSize(324, 228));
  EXPECT_EQ(window_.minimumSize(), QSize(324, 228));
  EXPECT_EQ(window_.maximumSize(), QSize(324, 228));

  // Shown, the client area is still exactly that, and the position is left alone.
  LoadAndShow();
  EXPECT_EQ(window_.geometry().size(), QSize(324, 228));
  EXPECT_FALSE(window_.testAttribute(Qt::WA_Moved));
}

TEST_F(FrmFixTest, ControlsAreNestedAndPlacedInPixels) {
  auto* frame = Control<QGroupBox>("Frame1");
  auto* label = Control<QLabel>("Label1");
  auto* button = Control<QPushButton>("cmdStart");
  ASSERT_TRUE(frame && label && button);

  EXPECT_EQ(frame->parentWidget(), &window_);
  EXPECT_EQ(label->parentWidget(), frame);
  EXPECT_EQ(button->parentWidget(), &window_);
  EXPECT_EQ(frame->title(), QStringLiteral("Waarschuwing"));

  // The window's own widgets, in its order of controls; iniCon is no widget.
  QList<QWidget*> children = window_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), 2);
  EXPECT_EQ(children[0], frame);
  EXPECT_EQ(children[1], button);
  EXPECT_EQ(frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);

  // Twips / 15: the frame at 165,75 size 4500x2430, the label at 165,315 size
  // 3990x2055 in the frame, the button at 1710,2610 size 1320x690.
  EXPECT_EQ(frame->geometry(), QRect(11, 5, 300, 162));
  EXPECT_EQ(label->geometry(), QRect(11, 21, 266, 137));
  EXPECT_EQ(button->geometry(), QRect(114, 174, 88, 46));

  // The layout stays put once shown (nothing lays the controls out again).
  LoadAndShow();
  EXPECT_EQ(frame->geometry(), QRect(11, 5, 300, 162));
  EXPECT_EQ(label->geometry(), QRect(11, 21, 266, 137));
  EXPECT_EQ(button->geometry(), QRect(114, 174, 88, 46));
  EXPECT_TRUE(label->isVisible());
  EXPECT_TRUE(button->isVisible());
}

TEST_F(FrmFixTest, WarningIsRedBoldCentredAndFitsItsLabel) {
  auto* label = Control<QLabel>("Label1");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text().toStdString(), frm_fix::kWarningText);
  EXPECT_EQ(label->text(),
            QStringLiteral("OPGELET ! Gebruik dit programma enkel en alleen wanneer alle "
                           "andere applicaties die gebruik maken van de morvik database NIET "
                           "draaien. Ofschoon het programma zelf een backup maakt van de "
                           "morvikdatabase is het toch aan te bevelen om zelf ook voor een "
                           "reserve-copie te zorgen."));
  EXPECT_TRUE(label->wordWrap());
  EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_EQ(label->textFormat(), Qt::PlainText);
  EXPECT_EQ(label->palette().color(QPalette::Active, QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(label->palette().color(QPalette::Inactive, QPalette::WindowText), QColor(255, 0, 0));

  const QFont font = label->font();
  EXPECT_EQ(font.pixelSize(), 13);
  EXPECT_EQ(font.weight(), QFont::Bold);
  EXPECT_FALSE(font.italic());
  EXPECT_FALSE(font.underline());
  EXPECT_FALSE(font.strikeOut());
  EXPECT_EQ(font.families().value(0), QStringLiteral("MS Sans Serif"));

  // The font actually used: one of the chain, never DejaVu, and the text fits.
  const QFontInfo resolved(font);
  EXPECT_TRUE(frm_fix::WarningFontFamilies().contains(resolved.family()))
      << resolved.family().toStdString();
  EXPECT_FALSE(resolved.family().contains(QStringLiteral("DejaVu")));
  EXPECT_EQ(resolved.pixelSize(), 13);
  EXPECT_TRUE(resolved.bold());

  const QFontMetrics metrics(font);
  const QRect needed = metrics.boundingRect(QRect(QPoint(0, 0), label->contentsRect().size()),
                                            Qt::TextWordWrap | Qt::AlignHCenter, label->text());
  EXPECT_LE(needed.width(), 266);
  EXPECT_LE(needed.height(), 137) << "the warning needs " << needed.height() << " px in "
                                  << resolved.family().toStdString();
  const int lines = WrappedLineCount(label->text(), font, label->contentsRect().width());
  EXPECT_LE(lines * metrics.lineSpacing(), 137) << lines << " lines";
  if (resolved.family() == QStringLiteral("Liberation Sans")) {
    EXPECT_EQ(lines, 8);
  }
}

TEST_F(FrmFixTest, ButtonKeepsItsCaptionAndPaintsItOnTwoLines) {
  auto* button = dynamic_cast<CommandButton*>(Control<QPushButton>("cmdStart"));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->text(), QStringLiteral("HERSTEL DATABASE"));
  EXPECT_FALSE(button->autoDefault());
  EXPECT_FALSE(button->isDefault());
  EXPECT_EQ(button->font(), window_.font());  // the platform's default font

  EXPECT_EQ(button->CaptionLines(), (QStringList{"HERSTEL", "DATABASE"}));
  const QFontMetrics metrics(button->font());
  EXPECT_GT(metrics.horizontalAdvance(button->text()), 88 - 8)
      << "the caption would not need wrapping";
  EXPECT_LE(2 * metrics.lineSpacing(), button->height());
}

TEST(CommandButtonWrap, TakesWordsGreedilyAndNeverSplitsAWord) {
  const QFontMetrics metrics(QApplication::font());
  const QString caption = QStringLiteral("HERSTEL DATABASE");
  const int whole = metrics.horizontalAdvance(caption);
  EXPECT_EQ(CommandButton::WrapCaption(caption, metrics, whole), (QStringList{caption}));
  EXPECT_EQ(CommandButton::WrapCaption(caption, metrics, whole - 1),
            (QStringList{"HERSTEL", "DATABASE"}));
  EXPECT_EQ(CommandButton::WrapCaption(caption, metrics, 1), (QStringList{"HERSTEL", "DATABASE"}));
  EXPECT_EQ(CommandButton::WrapCaption(QStringLiteral("  A  B "), metrics, 10000),
            (QStringList{"A B"}));
  EXPECT_TRUE(CommandButton::WrapCaption(QString(), metrics, 100).isEmpty());
}

TEST_F(FrmFixTest, OnlyTheButtonTakesTheFocusAndHasItAtShow) {
  auto* frame = Control<QGroupBox>("Frame1");
  auto* label = Control<QLabel>("Label1");
  auto* button = Control<QPushButton>("cmdStart");
  ASSERT_TRUE(frame && label && button);
  EXPECT_EQ(frame->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(button->focusPolicy(), Qt::StrongFocus);

  LoadAndShow();
  EXPECT_EQ(QApplication::focusWidget(), button);
  QTest::keyClick(&window_, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), button);
  QTest::keyClick(&window_, Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), button);
  QTest::mouseClick(label, Qt::LeftButton);
  QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_EQ(QApplication::focusWidget(), button);
  EXPECT_TRUE(runtime_.boxes.empty()) << "a click on the frame or label did something";
}

TEST_F(FrmFixTest, LoadFindsTheDatabaseFolder) {
  EXPECT_TRUE(window_.DatabaseFolder().empty());
  WriteSettings();
  EXPECT_TRUE(window_.Form_Load());
  EXPECT_EQ(window_.DatabaseFolder(), data_);
  EXPECT_EQ(window_.iniCon().file_name(), program_.path() + "/morvik.ini");
  EXPECT_TRUE(runtime_.boxes.empty());
  EXPECT_EQ(runtime_.exits, 0);
}

TEST_F(FrmFixTest, FailedLoadReportsOnceAndTheWindowStaysHidden) {
  EXPECT_FALSE(window_.Form_Load());  // no morvik.ini
  ASSERT_EQ(runtime_.boxes.size(), 1u);
  EXPECT_EQ(runtime_.boxes[0].text, "Kan morvik.ini bestand niet vinden !");
  EXPECT_EQ(runtime_.boxes[0].style, 16);
  EXPECT_EQ(runtime_.boxes[0].title, "Foutmelding");
  EXPECT_EQ(runtime_.exits, 1);
  EXPECT_FALSE(window_.isVisible());
}

TEST_F(FrmFixTest, EscapeAndUnfocusedEnterDoNothing) {
  LoadAndShow();
  QTest::keyClick(&window_, Qt::Key_Escape);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  QApplication::processEvents();
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(runtime_.boxes.empty());
  EXPECT_EQ(runtime_.exits, 0);

  // Without the focus the button does not answer Enter or space.
  Control<QPushButton>("cmdStart")->clearFocus();
  ASSERT_NE(QApplication::focusWidget(), Control<QPushButton>("cmdStart"));
  QTest::keyClick(&window_, Qt::Key_Return);
  QTest::keyClick(&window_, Qt::Key_Enter, Qt::KeypadModifier);
  QTest::keyClick(&window_, Qt::Key_Space);
  EXPECT_TRUE(runtime_.boxes.empty());
  EXPECT_EQ(engine_, nullptr) << "the engine was made without a click";
  EXPECT_EQ(ProgramFolderFiles(), (std::vector<std::string>{"data", "morvik.ini"}));
}

TEST_F(FrmFixTest, EnterRunsTheRepairOnceUnderTheBusyCursor) {
  LoadAndShow();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

  ASSERT_NE(engine_, nullptr);
  ASSERT_EQ(engine_->calls.size(), 2u);
  EXPECT_EQ(engine_->calls[0], "repair " + data_ + "/morvik.mdb");
  EXPECT_EQ(engine_->calls[1],
            "compact " + data_ + "/morvik.mdb -> " + program_.path() + "/new.mdb");
  EXPECT_TRUE(engine_->busy_during_repair);

  ASSERT_EQ(runtime_.boxes.size(), 1u);
  EXPECT_EQ(runtime_.boxes[0].text, "Database is hersteld !");
  EXPECT_EQ(runtime_.boxes[0].style, 64);
  EXPECT_EQ(runtime_.boxes[0].title, "Mededeling");
  EXPECT_FALSE(runtime_.boxes[0].busy_cursor) << "the closing box came up under the busy cursor";
  EXPECT_EQ(runtime_.exits, 1);
  EXPECT_EQ(runtime_.exit_status, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  EXPECT_EQ(ReadFileBytes(program_.File("morvikbackup.mdb")), kDatabaseBytes);
  EXPECT_EQ(ReadFileBytes(program_.File("new.mdb")), kDatabaseBytes);

  // The button acts once per run, whatever reaches it afterwards.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  EXPECT_EQ(engine_->calls.size(), 2u);
  EXPECT_EQ(runtime_.boxes.size(), 1u);
}

TEST_F(FrmFixTest, SpaceClicksOnReleaseWhileFocused) {
  LoadAndShow();
  QWidget* button = QApplication::focusWidget();
  QTest::keyPress(button, Qt::Key_Space);
  EXPECT_TRUE(runtime_.boxes.empty());
  QTest::keyRelease(button, Qt::Key_Space);
  ASSERT_EQ(runtime_.boxes.size(), 1u);
  EXPECT_EQ(runtime_.boxes[0].title, "Mededeling");
}

TEST_F(FrmFixTest, KeypadEnterClicksButAHeldKeysRepeatsDoNot) {
  LoadAndShow();
  QWidget* button = QApplication::focusWidget();
  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
  QApplication::sendEvent(button, &repeat);
  EXPECT_TRUE(runtime_.boxes.empty());
  EXPECT_EQ(engine_, nullptr);

  QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EQ(runtime_.boxes.size(), 1u);
  EXPECT_EQ(runtime_.boxes[0].text, "Database is hersteld !");
}

TEST_F(FrmFixTest, ClosingRunsNothingAndTouchesNoFile) {
  LoadAndShow();
  EXPECT_TRUE(window_.close());
  EXPECT_FALSE(window_.isVisible());
  EXPECT_TRUE(runtime_.boxes.empty());
  EXPECT_EQ(runtime_.exits, 0);
  EXPECT_EQ(engine_, nullptr);
  EXPECT_EQ(ProgramFolderFiles(), (std::vector<std::string>{"data", "morvik.ini"}));
  EXPECT_EQ(ReadFileBytes(data_ + "/morvik.mdb"), kDatabaseBytes);
}

}  // namespace

int main(int argc, char** argv) {
  // These tests are of the window's own logic and look, without a display.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
