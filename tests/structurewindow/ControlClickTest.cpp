// Ctrl with the primary button opens the notes' Text menu as the secondary
// button does, and leaves the text and its caret alone.
#include "structurewindow/ContextMenus.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "shell/FileCommands.h"

#include "window/MainWindowData.h"

#include "ProgramEnvironment.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

TEST(ControlClick, OpensTheNotesTextMenu) {
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Rutile.ovtx", nullptr));
  QCoreApplication::processEvents();
  MainWindow *w = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(w, nullptr);
  if (!IsWindowShowingNotesPane(w->Ref()))
    ToggleNotesPane(w->Ref());
  QTextEdit *notes = w->NotesView();
  const QString text = notes->toPlainText();
  const int caret = notes->textCursor().position();
  QTest::mouseClick(notes->viewport(), Qt::LeftButton, Qt::ControlModifier, QPoint(20, 8));
  EXPECT_EQ(QApplication::activePopupWidget(), gTextContextualMenu);
  EXPECT_TRUE(gTextContextualMenu->isVisible());
  gTextContextualMenu->hide();
  EXPECT_EQ(notes->toPlainText(), text);
  EXPECT_EQ(notes->textCursor().position(), caret);
  ClearWindowModified(w->Ref());
  DoCloseMainWindow(w->Ref());
  QCoreApplication::processEvents();
}

} // namespace
