// The floating windows belong to the structure window in front: the window
// manager keeps a window above the one it is transient for, and no higher,
// so they stay over every structure window and under other programs'.
#include "ExampleWindowsTest.h"

#include <QApplication>
#include <QWindow>

namespace {

using FloatingStacking = ExampleWindowsTest;

std::vector<QWidget *> ShownFloatingWindows() {
  std::vector<QWidget *> out;
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->windowType() == Qt::Tool && !w->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
      out.push_back(w);
  return out;
}

void Activate(MainWindow *w) {
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  QCoreApplication::processEvents();
}

TEST_F(FloatingStacking, ModelOptionsAndEditElementsFollowTheFrontStructureWindow) {
  MainWindow *first = Open("NaCl.ovtx");
  ASSERT_NE(first, nullptr);
  Activate(first);
  ProcessCommand(FourCharsToLong("MOpt"));
  ProcessCommand(kCmdEditElements);
  QCoreApplication::processEvents();
  MainWindow *second = Open("Rutile.ovtx");
  ASSERT_NE(second, first);

  for (MainWindow *front : {second, first, second}) {
    Activate(front);
    const std::vector<QWidget *> floating = ShownFloatingWindows();
    ASSERT_GE(floating.size(), 2u);
    for (QWidget *w : floating) {
      ASSERT_NE(w->windowHandle(), nullptr);
      EXPECT_EQ(w->windowHandle()->transientParent(), front->windowHandle())
          << w->windowTitle().toStdString() << " stays above " << front->windowTitle().toStdString();
    }
  }
  for (QWidget *w : ShownFloatingWindows())
    w->hide();
}

} // namespace
