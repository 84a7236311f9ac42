// New windows open wholly on the screen, title bar and frame included.
#include "inspectors/ModelOptions.h"
#include "shell/Commands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "shell/FileCommands.h"

#include "window/MainWindowData.h"

#include "ProgramEnvironment.h"

#include <QApplication>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

QRect Usable(const QWidget *w) { return w->screen()->availableGeometry(); }

void CloseAll() {
  for (MainWindow *w : std::vector<MainWindow *>(AllGraphWindows())) {
    ClearWindowModified(w->Ref());
    DoCloseMainWindow(w->Ref());
  }
  QCoreApplication::processEvents();
}

// The user has put the window with its frame at the screen's bottom right.
TEST(WindowPlacement, ANewStructureWindowBesideOneAtTheScreensEdgeOpensOnTheScreen) {
  CloseAll();
  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "NaCl.ovtx", nullptr));
  QCoreApplication::processEvents();
  MainWindow *first = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(first, nullptr);
  first->ResizeContent(400, 300);
  QCoreApplication::processEvents();
  const QRect usable = Usable(first);
  const QRect frame = first->frameGeometry();
  first->windowHandle()->setFramePosition(usable.bottomRight() - QPoint(frame.width() - 1, frame.height() - 1));
  QCoreApplication::processEvents();
  ASSERT_TRUE(usable.contains(first->frameGeometry()));

  ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / "Rutile.ovtx", nullptr));
  QCoreApplication::processEvents();
  MainWindow *second = GetMainWindow(FrontGraphWindow());
  ASSERT_NE(second, first);
  EXPECT_TRUE(usable.contains(second->frameGeometry()))
      << second->frameGeometry().bottom() << " below " << usable.bottom();
  CloseAll();
}

// A floating window left with its title bar near the bottom comes back
// whole, on any tab.
TEST(WindowPlacement, AFloatingWindowLeftAtTheBottomComesBackWhole) {
  ProcessCommand(FourCharsToLong("MOpt"));
  QWidget *w = gModelOptionsWindow;
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(w->isVisible());
  const QRect usable = Usable(w);
  w->windowHandle()->setFramePosition(QPoint(usable.left() + 10, usable.bottom() - 40));
  QCoreApplication::processEvents();
  ProcessCommand(FourCharsToLong("MOpt"));
  ASSERT_FALSE(w->isVisible());
  ProcessCommand(FourCharsToLong("MOpt"));
  QCoreApplication::processEvents();
  ASSERT_TRUE(w->isVisible());
  EXPECT_TRUE(usable.contains(w->frameGeometry())) << w->frameGeometry().bottom() << " below " << usable.bottom();
  ProcessCommand(FourCharsToLong("MOpt"));
}

} // namespace
