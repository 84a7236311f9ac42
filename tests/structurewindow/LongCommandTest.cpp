// A Plot Range applied to many cells is one long command of several stages
// (the cells, the bonds, the plot): the status window comes half a second
// after the command began, and the first Escape stops it.
#include "inspectors/PlotRangeWindow.h"
#include "shell/EngineHooks.h"
#include "shell/QtHostServices.h"
#include "shell/StatusWindow.h"

#include "ExampleWindowsTest.h"
#include "SlowHost.h"

#include "PlotRange.h"
#include "window/MainWindowData.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class LongCommandTest : public ExampleWindowsTest {
protected:
  void SetUp() override {
    ExampleWindowsTest::SetUp();
    InstallHostWindowHooks(host, [] { return AllGraphWindows(); });
    saved = SetHostServices(&host);
    w = Open("NaCl.ovtx");
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override {
    if (gRangeWindow)
      gRangeWindow->close();
    ExampleWindowsTest::TearDown();
    SetHostServices(saved);
  }
  // The range 0..cells on each axis typed into the Plot Range window and
  // applied with Return, on the slow clock.
  void ApplyRange(const char *cells, uint64_t step, int escapeAtCheck) {
    ProcessCommand(kCmdPlotRange);
    ASSERT_NE(gRangeWindow, nullptr);
    gRangeData.live = 0;
    for (int id : {1, 5, 9})
      Type(gRangeWindow, id, "0");
    for (int id : {3, 7, 11})
      Type(gRangeWindow, id, cells);
    host.log.clear();
    host.shown.clear();
    host.checks = 0;
    host.start = host.NowMicroseconds();
    host.step = step;
    host.escapeAtCheck = escapeAtCheck;
    QTest::keyClick(FindControl<QLineEdit>(gRangeWindow, 11), Qt::Key_Return);
    host.step = 0;
    host.escapeAtCheck = 0;
    QCoreApplication::processEvents();
  }
  SlowHost host;
  HostServices *saved = nullptr;
  MainWindow *w = nullptr;
};

// Each stage alone is shorter than the delay or not much longer; the window
// shows half a second into the command, and closes when it ends.
TEST_F(LongCommandTest, TheStatusWindowShowsHalfASecondIntoTheCommand) {
  ApplyRange("6", 400, 0);
  EXPECT_EQ(GetWindowCrystal(w->Ref())->plotRange[1], 6.0f);
  ASSERT_FALSE(host.shown.empty());
  EXPECT_GE(host.firstShown - host.start, 500000u);
  EXPECT_LT(host.firstShown - host.start, 600000u) << "first shown: " << host.shown[0];
  for (QWidget *top : QApplication::topLevelWidgets())
    EXPECT_FALSE(qobject_cast<StatusWindow *>(top) && top->isVisible()) << "closed when the command ends";
}

TEST_F(LongCommandTest, TheFirstEscapeStopsTheRangeAndKeepsTheOldOne) {
  CrystalRec *c = GetWindowCrystal(w->Ref());
  const int32_t atoms = c->atomCount, cells = c->na;
  ApplyRange("12", 50000, 1);
  EXPECT_TRUE(host.Logged(kRangeCancelledText)) << host.checks << " cancel checks";
  EXPECT_EQ(c->atomCount, atoms);
  EXPECT_EQ(c->na, cells);
}

} // namespace
