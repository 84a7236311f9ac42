// The notes pane draws what Qt's text has no attribute for: the backspace
// kern, the overbar, the shadow style and the misspelt words, seen in the
// pane's pixels; and the styled notes survive an Undo.
#include "shell/Commands.h"
#include "shell/FileCommands.h"
#include "structurewindow/ContextMenus.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/NotesPane.h"
#include "structurewindow/StructureWindow.h"

#include "HostServices.h"
#include "Preferences.h"
#include "documents/CrystalDocument.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "window/MainWindowData.h"

#include <QKeyEvent>
#include <QMenu>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <filesystem>

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

// Dark pixels that are not red, or with `red` the red ones.
Ink InkOf(const QImage &image, int maxRow = 1 << 30, bool red = false) {
  Ink ink;
  for (int y = 0; y < std::min(image.height(), maxRow); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (const QRgb p = image.pixel(x, y);
          (qRed(p) > 160 && qGreen(p) < 90 && qBlue(p) < 90) == red && (red || qGray(p) < 128)) {
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
  // The styled notes of the document the window saves.
  std::string SavedNotes() {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "ov-notes-saved.ovdf";
    EXPECT_TRUE(DoWriteCrystalFile(w->Ref(), file));
    CrystalRec read;
    DocumentExtras extras;
    EXPECT_TRUE(ReadCrystalFile(&read, file, &extras));
    std::filesystem::remove(file);
    return extras.styledNotes;
  }
  // The characters of the first line drawn with the spelling underline.
  static QString Underlined(QTextEdit *edit) {
    QString marked;
    const QTextBlock block = edit->document()->firstBlock();
    for (const QTextLayout::FormatRange &r : block.layout()->formats())
      if (r.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline)
        marked += block.text().mid(r.start, r.length) + "|";
    return marked;
  }
  MainWindow *w = nullptr;
  QTextEdit *notes = nullptr;
  int dumps = 0;
};

// Pixels that differ between two pictures of the same size.
Ink Changed(const QImage &a, const QImage &b) {
  Ink ink;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) {
        ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
      }
  return ink;
}

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

TEST_F(NotesLayoutTest, OverbarSitsOverItsCharacterWithinItsLineAndTakesNoRoom) {
  // A red y after the x shows where the text after the bar goes.
  Type("\n xy", 3, 4);
  ProcessCommand(FourCharsToLong("TCo3"));
  const QImage plain = Picture();
  const Ink x = InkOf(plain), y = InkOf(plain, 1 << 30, true);
  ASSERT_TRUE(x.Any() && y.Any());
  // The top of the x's line, before the bar is there.
  const QTextBlock block = notes->document()->findBlock(2);
  const double lineTop = block.layout()->position().y() + block.layout()->lineAt(0).y();
  Select(2, 3);
  ProcessCommand(FourCharsToLong("TOvb"));
  const QImage barred = Picture();
  // The bar is the ink above the x.
  const Ink bar = InkOf(barred, x.top - 1);
  ASSERT_TRUE(bar.Any());
  EXPECT_NEAR(bar.CentreX(), x.CentreX(), 3.0);
  EXPECT_GE(bar.top, lineTop);
  EXPECT_NEAR(InkOf(barred, 1 << 30, true).left, y.left, 1.0);
}

TEST_F(NotesLayoutTest, ShadowStyleDrawsAShadowBelowAndRightOfTheText) {
  Type("Hx", 0, 2);
  const QImage plain = Picture();
  const Ink text = InkOf(plain);
  ASSERT_TRUE(text.Any());
  Select(0, 2);
  ProcessCommand(FourCharsToLong("TStS"));
  const QImage shadowed = Picture();
  const Ink shadow = Changed(plain, shadowed);
  ASSERT_TRUE(shadow.Any());
  EXPECT_NEAR(shadow.right - text.right, 2, 1);
  EXPECT_NEAR(shadow.bottom - text.bottom, 2, 1);
  EXPECT_GE(shadow.left, text.left);
}

TEST_F(NotesLayoutTest, UndoBringsTheNotesBackWithTheirStyles) {
  // A bar over the x, a kerned y and a bold z.
  Type("\n x yz", 2, 3);
  ProcessCommand(FourCharsToLong("TOvb"));
  Select(5, 6);
  ProcessCommand(FourCharsToLong("TBsp"));
  Select(6, 7);
  ProcessCommand(FourCharsToLong("TStB"));
  const QImage styled = Picture();
  const std::string saved = SavedNotes();
  UndoBufferTimerProc(); // the settling a moment after the change
  QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
  QApplication::sendEvent(w->GraphPane(), &left);
  ASSERT_EQ(ProcessCommand(kCmdUndo), kNoErr);
  EXPECT_TRUE(Picture() == styled);
  EXPECT_EQ(SavedNotes(), saved);
}

TEST_F(NotesLayoutTest, MisspeltWordsAreUnderlinedWhileCheckingAsYouType) {
  ASSERT_FALSE(IsNotesSpellCheckingAsYouType(w->Ref()));
  notes->clear();
  notes->setFocus();
  QTest::keyClicks(notes, "Teh quick");
  EXPECT_EQ(Underlined(notes), "");
  ProcessCommand(kCmdCheckSpellingAsYouType);
  QTest::keyClicks(notes, " mispelt fox");
  EXPECT_EQ(Underlined(notes), "Teh|mispelt|");
  // Check Spelling selects the next one after the caret, from the top again.
  ProcessCommand(kCmdCheckSpelling);
  EXPECT_EQ(notes->textCursor().selectedText(), "Teh");
  ProcessCommand(kCmdCheckSpelling);
  EXPECT_EQ(notes->textCursor().selectedText(), "mispelt");
  // A click with the secondary button on it: the notes' menu starts with
  // the dictionary's guesses, and the one picked replaces the word.
  Select(0, 0);
  QTextCursor at(notes->document());
  at.setPosition(12);
  QTest::mouseClick(notes->viewport(), Qt::RightButton, {}, notes->cursorRect(at).center());
  ASSERT_TRUE(gTextContextualMenu->isVisible());
  QAction *guess = gTextContextualMenu->actions().value(0);
  ASSERT_EQ(GetActionCommand(guess), kCmdChangeSpelling);
  const QString replacement = guess->text();
  guess->trigger();
  gTextContextualMenu->hide();
  EXPECT_EQ(notes->toPlainText(), "Teh quick " + replacement + " fox");
  EXPECT_EQ(Underlined(notes), "Teh|");
  // The setting recorded as the preferences' starts a new window's notes
  // checking too.
  RecordMainWindowPrefs(w->Ref());
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Rutile.ovtx", nullptr));
  MainWindow *second = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(second, w);
  second->NotesView()->clear();
  QTest::keyClicks(second->NotesView(), "Teh");
  EXPECT_EQ(Underlined(second->NotesView()), "Teh|");
  ProcessCommand(kCmdCheckSpellingAsYouType);
  EXPECT_EQ(Underlined(second->NotesView()), "");
  // An ignored word is marked no more, in any window.
  ProcessCommand(kCmdIgnoreSpelling);
  EXPECT_EQ(Underlined(notes), "");
  gPrefs.notesSpellCheck = 0;
  ClearWindowModified(second->Ref());
  DoCloseMainWindow(second->Ref());
}

} // namespace
