// New windows open wholly on the screen, title bar and frame included.
#include "inspectors/ModelOptions.h"
#include "shell/Commands.h"
#include "structurewindow/MainWindow.h"
#include "structurewindow/StructureWindow.h"
#include "shell/FileCommands.h"
#include "shell/WindowPlacement.h"

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

// On a 1024 x 600 screen under a frame of 1, 20, 1 and 5 pixels (left, top,
// right, bottom): the first window, as wide as its menu bar and as tall as
// the screen, and two more opened from it, each the size of the one before;
// then one beside a small window at the bottom right.
TEST(WindowPlacement, NewWindowFramesCountTheFrameAndCascade) {
  const QRect usable(3, 3, 1018, 594);
  const QMargins frame(1, 20, 1, 5);
  const QSize least(400, 300);
  struct Case {
    QPoint at;
    QSize size;
    QRect previous, expected;
  } const cases[] = {
      {{31, 3}, {962, 594}, {}, {31, 3, 964, 594}},
      {{31, 3}, {962, 569}, {31, 3, 964, 594}, {51, 23, 964, 574}},
      {{51, 23}, {962, 549}, {51, 23, 964, 574}, {71, 43, 950, 554}},
      {{600, 400}, {418, 171}, {600, 400, 420, 196}, {3, 3, 420, 196}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(NewWindowFrame(c.at, c.size, least, frame, usable, c.previous, 20), c.expected) << c.expected.x();
}

// Each new structure window, the first as large as the screen allows, goes
// a step below and right of the one before it, its frame on the screen.
TEST(WindowPlacement, NewStructureWindowsCascadeOnTheScreen) {
  CloseAll();
  std::vector<QRect> frames;
  for (const char *name : {"NaCl.ovtx", "Rutile.ovtx", "Quartz.ovtx"}) {
    ASSERT_TRUE(OpenFSRefInWindow(ExamplesFolder() / name, nullptr));
    QCoreApplication::processEvents();
    MainWindow *w = GetMainWindow(FrontGraphWindow());
    ASSERT_NE(w, nullptr);
    const QRect usable = Usable(w).adjusted(3, 3, -3, -3);
    if (frames.empty()) {
      const QRect f = w->frameGeometry(), g = w->geometry();
      w->resize(usable.width() - (f.width() - g.width()), usable.height() - (f.height() - g.height()));
      w->windowHandle()->setFramePosition(usable.topLeft());
      QCoreApplication::processEvents();
    }
    const QRect frame = w->frameGeometry();
    EXPECT_TRUE(usable.contains(frame)) << name;
    if (!frames.empty()) {
      EXPECT_EQ(frame.topLeft(), frames.back().topLeft() + QPoint(20, 20)) << name;
    }
    frames.push_back(frame);
  }
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
