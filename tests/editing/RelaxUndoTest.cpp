// A relaxation in the running program: Undo returns the molecule to where it
// was before the run, also when the run starts at once after a change and
// the Overview is the active window.
#include "overview/OverviewPrivate.h"
#include "overview/OverviewWindow.h"

#include "documents/UndoHistory.h"
#include "relax/RelaxThread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

#include "SuiteHost.h"

namespace {

class RelaxUndo : public StructureSheetTest {
protected:
  void TearDown() override {
    StopAndJoinRelaxRuns();
    CloseAll();
  }
  // Runs the event loop until the condition holds or a few seconds pass.
  static bool Wait(const std::function<bool()> &done, int ms = 8000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  }
};

TEST_F(RelaxUndo, UndoReturnsTheMoleculeAsItWasBeforeTheRun) {
  ASSERT_NE(OpenExample("Benzene.ovtx"), nullptr);
  WindowRef window = FrontGraphWindow();
  ASSERT_FALSE(CanUndo(window));
  DoShowOverviewWindow();
  QWidget *overview = GetOverviewWindow();
  ASSERT_NE(overview, nullptr);
  overview->activateWindow();
  QCoreApplication::processEvents();

  ASSERT_EQ(ProcessCommand(kCmdRelaxMolecule), kNoErr);
  ASSERT_TRUE(IsWindowCalculationInProgress(window));
  // Let the run move the atoms for a while, then cancel it.
  const CrystalRec *c = GetWindowCrystal(window);
  const float x0 = c->atoms[0].cart[0];
  ASSERT_TRUE(Wait([&] { return c->atoms[0].cart[0] != x0; })) << "no snapshot reached the window";
  ASSERT_EQ(ProcessCommand(kCmdCancelRelaxMolecule), kNoErr);
  ASSERT_TRUE(Wait([] { return RelaxRunCount() == 0; }));
  ASSERT_TRUE(Wait([&] { return CanUndo(window); }, 2000));
  ASSERT_TRUE(DoUndo());
  EXPECT_EQ(GetWindowCrystal(window)->atoms[0].cart[0], x0);
}

} // namespace
