// The notes pane draws what Qt's text has no attribute for: the backspace
// kern and the overbar, seen in the pane's pixels.
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"

#include "window/MainWindowData.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QTextCursor>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

// Columns and rows of the dark (text) pixels of an image.
struct Ink {
  int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
  bool Any() const { return right >= 0; }
  double CentreX() const { return (left + right) / 2.0; }
};

// Dark pixels, or with `red` the red ones.
Ink InkOf(const QImage &image, int maxRow = 1 << 30, bool red = false) {
  Ink ink;
  for (int y = 0; y < std::min(image.height(), maxRow); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (const QRgb p = image.pixel(x, y);
          red ? qRed(p) > 160 && qGreen(p) < 90 && qBlue(p) < 90 : qGray(p) < 128) {
        ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
      }
  return ink;
}

class NotesLayoutTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
    w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    w->ResizeContent(640, 480);
    ShowSidebar(w->Ref());
    if (!IsWindowShowingNotesPane(w->Ref()))
      ToggleNotesPane(w->Ref());
    w->show();
    QCoreApplication::processEvents();
    notes = w->NotesView();
  }
  void TearDown() override {
    ClearWindowModified(w->Ref());
    DoCloseMainWindow(w->Ref());
    QCoreApplication::processEvents();
  }
  // The notes hold `text` at 36 points with [from, to) selected.
  void Type(const QString &text, int from, int to) {
    notes->setPlainText(text);
    notes->selectAll();
    ProcessCommand(FourCharsToLong("TS36"));
    Select(from, to);
  }
  void Select(int from, int to) {
    QTextCursor c(notes->document());
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    notes->setTextCursor(c);
  }
  // The pane's pixels, without the selection or the caret drawn.
  QImage Picture() {
    Select(0, 0);
    notes->clearFocus();
    QCoreApplication::processEvents();
    QImage image = notes->viewport()->grab().toImage();
    if (const char *folder = std::getenv("OV_DUMP_PNG"))
      image.save(QString("%1/notes%2.png").arg(folder).arg(dumps++));
    return image;
  }
  QFontMetricsF Metrics(int pos) {
    QTextCursor c(notes->document());
    c.setPosition(pos + 1);
    return QFontMetricsF(c.charFormat().font());
  }
  MainWindow *w = nullptr;
  QTextEdit *notes = nullptr;
  int dumps = 0;
};

TEST_F(NotesLayoutTest, BackspaceKernDrawsTheCharacterHalfTheTwoWidthsToTheLeft) {
  // A red B after a black A, so that each shows apart where they overlap.
  Type("AB", 1, 2);
  ProcessCommand(FourCharsToLong("TCo3"));
  const double widthA = Metrics(0).horizontalAdvance('A'), widthB = Metrics(1).horizontalAdvance('B');
  const QImage plain = Picture();
  Select(1, 2);
  ProcessCommand(FourCharsToLong("TBsp"));
  const QImage kerned = Picture();
  const Ink before = InkOf(plain, 1 << 30, true), after = InkOf(kerned, 1 << 30, true);
  ASSERT_TRUE(before.Any() && after.Any());
  EXPECT_NEAR(before.right - after.right, (widthA + widthB) / 2, 1.5);
  EXPECT_EQ(InkOf(kerned).left, InkOf(plain).left); // the A stays where it was
}

TEST_F(NotesLayoutTest, OverbarSitsOverItsCharacter) {
  // The empty first line leaves room above the raised bar.
  Type("\n x", 2, 3);
  const Ink x = InkOf(Picture());
  ASSERT_TRUE(x.Any());
  Select(2, 3);
  ProcessCommand(FourCharsToLong("TOvb"));
  // The bar is the ink above the x.
  const Ink bar = InkOf(Picture(), x.top - 1);
  ASSERT_TRUE(bar.Any());
  EXPECT_NEAR(bar.CentreX(), x.CentreX(), 3.0);
}

} // namespace
