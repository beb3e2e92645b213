// Tests of the Qt message box: title, text, icon per style and a single OK button.
// Runs on Qt's offscreen platform, so it needs no display.
#include "services/qt_runtime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace {

struct SeenBox {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int button_count = 0;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format = Qt::AutoText;
};

// Shows a box through the runtime; once it is up, records what it shows and presses
// its button.
SeenBox ShowAndDismiss(const std::string& text, int style, const std::string& title) {
  SeenBox seen;
  QTimer::singleShot(0, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen.seen = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.button_count = static_cast<int>(box->buttons().size());
    seen.buttons = box->standardButtons();
    seen.format = box->textFormat();
    box->button(QMessageBox::Ok)->click();
  });
  services::QtRuntime runtime;
  runtime.MsgBox(text, style, title);
  return seen;
}

TEST(QtRuntimeTest, ShowsTitleTextIconAndOneOkButton) {
  SeenBox error = ShowAndDismiss("Kan morvik database niet vinden !", 16, "Foutmelding");
  ASSERT_TRUE(error.seen);
  EXPECT_EQ(error.title.toStdString(), "Foutmelding");
  EXPECT_EQ(error.text.toStdString(), "Kan morvik database niet vinden !");
  EXPECT_EQ(error.icon, QMessageBox::Critical);
  EXPECT_EQ(error.button_count, 1);
  EXPECT_EQ(error.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  SeenBox notice = ShowAndDismiss("Database is hersteld !", 64, "Mededeling");
  ASSERT_TRUE(notice.seen);
  EXPECT_EQ(notice.icon, QMessageBox::Information);
  EXPECT_EQ(notice.button_count, 1);
}

TEST(QtRuntimeTest, TextIsShownAsWrittenIncludingNonAsciiAndMarkup) {
  SeenBox box = ShowAndDismiss("<b>beëindigd</b>", 16, "zivadiduz");
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.text, QString::fromUtf8("<b>beëindigd</b>"));
  EXPECT_EQ(box.format, Qt::PlainText);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
