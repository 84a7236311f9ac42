// Relaxation runs of a window's molecule: the refusals, the snapshot
// throttle, plotting snapshots, and the worker from launch to its end,
// cancel and a closed window.
#include "RelaxWindowSupport.h"

#include "relax/RelaxRun.h"

#include <cstdio>
#include <memory>

using namespace relaxtest;

namespace {

struct RecordDeleter {
  void operator()(RelaxMoleculeData *r) const { DisposeRelaxMoleculeData(r); }
};
using Record = std::unique_ptr<RelaxMoleculeData, RecordDeleter>;

// H2 at its natural length: relaxed before the first move.
const std::vector<MolAtom> kRelaxedH2 = {{"H ", 0, 0, 0}, {"H ", 0.708f, 0, 0}};
// H2 stretched: the annealing runs until it is stopped.
const std::vector<MolAtom> kStretchedH2 = {{"H ", 0, 0, 0}, {"H ", 0.9f, 0, 0}};

} // namespace

TEST_F(RelaxWindowTest, RefusalsAlertAndStartNothing) {
  SetMolecule(kRelaxedH2, {{0, 1}}, /*molecule=*/false);
  EXPECT_FALSE(LaunchRelaxMoleculeThread(ref(), nullptr, 0));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Sorry, this command only works for molecules");
  EXPECT_EQ(host.alerts[0].explanation, "Please convert your structure to a 'molecule'");
  EXPECT_EQ(RelaxRunCount(), 0u);
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));

  // Of a hidden and an unbonded atom, the first in atom order is reported.
  const std::vector<MolAtom> four = {{"C ", 0, 0, 0}, {"C ", 1.5f, 0, 0}, {"O ", 3, 0, 0}, {"O ", 4.2f, 0, 0}};
  SetMolecule(four, {{0, 1}, {2, 3}});
  crystal().atoms[3].visible = 0;
  DeleteBondListEntry(&crystal(), 0, 1); // atoms 0 and 1 unbonded
  EXPECT_EQ(RelaxMoleculeDataFromWindow(ref(), nullptr, 0), nullptr);
  SetMolecule(four, {{0, 1}, {2, 3}});
  crystal().atoms[1].visible = 0;
  DeleteBondListEntry(&crystal(), 2, 3);
  EXPECT_FALSE(LaunchRelaxMoleculeThread(ref(), nullptr, 0));
  ASSERT_EQ(host.alerts.size(), 3u);
  EXPECT_EQ(host.alerts[1].message, "Unbonded atoms found");
  EXPECT_EQ(host.alerts[1].explanation, "Bonding must be defined for all atoms in this molecule.");
  EXPECT_EQ(host.alerts[2].message, "Cannot relax a molecule with hidden atoms!");
  EXPECT_EQ(RelaxRunCount(), 0u);
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
  EXPECT_TRUE(host.log.empty());
}

TEST_F(RelaxWindowTest, ThrottleSendsAtMostEveryTenthOfASecondAndStopsACancelledRun) {
  SetMolecule(kStretchedH2, {{0, 1}});
  const int32_t fixed[] = {0, 7};
  Record r(RelaxMoleculeDataFromWindow(ref(), fixed, 2));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->atoms[0].fixed, 1);
  EXPECT_EQ(r->atoms[1].fixed, 0);
  r->windowState = GetWindowSharedState(ref());
  r->runId = StartWindowCalculation(ref());

  host.Advance(0.1); // not more than 0.1 s: nothing
  RequestPlotRelaxedMolecule(*r);
  EXPECT_EQ(r->requestCount, 1);
  EXPECT_EQ(host.PostedCallCount(), 0u);
  host.Advance(0.001);
  RequestPlotRelaxedMolecule(*r);
  EXPECT_EQ(r->plotCount, 1);
  EXPECT_EQ(host.PostedCallCount(), 1u);

  // Never faster than the window draws them.
  r->shared->meanPlotTime = 0.5f;
  host.Advance(0.3);
  RequestPlotRelaxedMolecule(*r);
  EXPECT_EQ(r->plotCount, 1);
  host.Advance(0.3);
  RequestPlotRelaxedMolecule(*r);
  EXPECT_EQ(r->plotCount, 2);

  // None while the display sleeps; the run goes on.
  DoMainWindowDisplaySleep(ref());
  host.Advance(1.0);
  RequestPlotRelaxedMolecule(*r);
  EXPECT_EQ(r->plotCount, 2);
  EXPECT_FALSE(RelaxStopRequested(*r));
  DoMainWindowDisplayWake(ref());

  // A cancelled run stops, also when a newer run has set the flag again.
  CancelRelaxMoleculeThread(ref());
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
  StartWindowCalculation(ref());
  RequestPlotRelaxedMolecule(*r);
  EXPECT_TRUE(RelaxStopRequested(*r));
  EXPECT_EQ(r->plotCount, 2);
  EXPECT_EQ(r->requestCount, 6);
  EXPECT_TRUE(IsWindowCalculationInProgress(ref())); // the newer run's flag stays
  EXPECT_EQ(host.PostedCallCount(), 2u);
}

TEST_F(RelaxWindowTest, SnapshotsLandInTheCurrentOrientationAndTimeThePlot) {
  SetMolecule(kStretchedH2, {{0, 1}});
  crystal().ellipsoidData = 1;
  crystal().atoms[1].ellipsoidAxes[0][0] = 1.0f;
  Record r(RelaxMoleculeDataFromWindow(ref(), nullptr, 0));
  ASSERT_TRUE(r);
  r->windowState = GetWindowSharedState(ref());
  r->atoms[1].x = 0.8f;
  r->plotCount = 3;
  std::snprintf(r->message, sizeof r->message, "Plotting structure at step 7...");
  std::unique_ptr<RelaxSnapshot> snapshot = RelaxMoleculeDataMakeCopy(*r);
  ASSERT_TRUE(snapshot);
  EXPECT_TRUE(snapshot->shared == r->shared);

  // The user turned the model a quarter turn about z meanwhile.
  const float turned[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  std::copy(turned, turned + 9, crystal().orientationMatrix);
  r->shared->meanPlotTime = 0.2f;
  renderer.plotSeconds = 0.5;
  PlotRelaxedMolecule(*snapshot);
  const AtomRecord &atom = crystal().atoms[1];
  EXPECT_FLOAT_EQ(atom.xyz[0], 0.8f);
  EXPECT_FLOAT_EQ(atom.cart[0], 0.0f);
  EXPECT_FLOAT_EQ(atom.cart[1], 0.8f);
  EXPECT_NEAR(atom.ellipsoidAxes[0][0], 0.9f, 1e-6); // moved with its atom by 0.8 - 0.9
  EXPECT_EQ(renderer.plots, 1);
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{"Mol > Plotting structure at step 7..."});
  EXPECT_NEAR(r->shared->meanPlotTime.load(), (2 * 0.2f + 0.5f) / 3, 1e-6);

  // A closed window takes nothing.
  DestroyMainWindowData(ref());
  Open();
  SetMolecule(kStretchedH2, {{0, 1}});
  EXPECT_EQ(ApplyRelaxedStructure(*snapshot), 0);
  EXPECT_FLOAT_EQ(crystal().atoms[1].cart[0], 0.9f);
}

TEST_F(RelaxWindowTest, ARunEndsWithOneFinalSnapshotThenItsTimeLineThenClearsTheFlag) {
  SetMolecule(kRelaxedH2, {{0, 1}});
  EXPECT_EQ(RelaxMenuCommand(kCmdRelaxMolecule, ref()), 0);
  EXPECT_EQ(host.overviewLogShows, 1);
  EXPECT_TRUE(IsWindowCalculationInProgress(ref()));
  ASSERT_TRUE(RunUntilAllJoined());
  EXPECT_EQ(renderer.plots, 1);
  const std::vector<std::string> lines = host.LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Mol > Molecule fully relaxed.");
  EXPECT_EQ(lines[lines.size() - 2], "Mol > Plotting structure at step 1...");
  EXPECT_EQ(lines.back(), "Mol > Calculations ended. Time taken: 0.000 secs for 1 steps (1 plotted)");
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
  EXPECT_EQ(host.toolbarUpdates.size(), 2u); // set, then cleared
}

TEST_F(RelaxWindowTest, EveryLineCountsTheSameSteps) {
  // Stretched H2 anneals to its end, skipping ahead many steps at a time.
  SetMolecule(kStretchedH2, {{0, 1}});
  host.tick = 200000; // every request may plot
  ASSERT_TRUE(LaunchRelaxMoleculeThread(ref(), nullptr, 0));
  ASSERT_TRUE(RunUntilAllJoined());
  long last = -1, plotted = 0, steps = -1, ends = -1;
  for (const std::string &line : host.LogLines()) {
    long n = 0;
    if (std::sscanf(line.c_str(), "Mol > Plotting structure at step %ld...", &n) == 1) {
      EXPECT_GE(n, last) << line;
      last = n;
      ++plotted;
    } else if (std::sscanf(line.c_str(), "Mol > Calculations ended. Time taken: %*f secs for %ld steps (%ld plotted)",
                           &steps, &ends) == 2) {
    }
  }
  ASSERT_GE(plotted, 2);
  EXPECT_EQ(steps, last); // the final snapshot is at the last step
  EXPECT_EQ(ends, plotted);
}

TEST_F(RelaxWindowTest, CancelStopsTheRunWithoutItsEndLine) {
  SetMolecule(kStretchedH2, {{0, 1}});
  host.tick = 200000;           // every clock reading is 0.2 s on: every request may plot
  host.holdOtherThreads = true; // the worker waits at its start
  ASSERT_TRUE(LaunchRelaxMoleculeThread(ref(), nullptr, 0));
  EXPECT_EQ(RelaxMenuCommand(kCmdCancelRelaxMolecule, ref()), 0);
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
  // A new run sets the window's flag again: the cancelled run still stops,
  // and leaves the new run, which ends by itself, its flag.
  ASSERT_TRUE(LaunchRelaxMoleculeThread(ref(), nullptr, 0));
  host.holdOtherThreads = false;
  ASSERT_TRUE(RunUntilAllJoined());
  EXPECT_EQ(CountLines("Mol > Run terminated at Step "), 1u);
  EXPECT_EQ(CountLines("Mol > Calculations ended"), 1u);
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
  EXPECT_EQ(RelaxMenuCommand(FourCharsToLong("xxxx"), ref()), kRelaxCommandNotHandled);
}

TEST_F(RelaxWindowTest, ClosingTheWindowDropsItsQueuedOutputAndJoinsTheWorker) {
  SetMolecule(kStretchedH2, {{0, 1}});
  host.tick = 200000;
  ASSERT_TRUE(LaunchRelaxMoleculeThread(ref(), nullptr, 0));
  ASSERT_TRUE(RunUntil([&] { return host.PostedCallCount() > 0; }, /*run=*/false));
  // Output is queued for the window; it closes, and a new window opens at
  // the same address.
  DestroyMainWindowData(ref());
  Open();
  SetMolecule(kStretchedH2, {{0, 1}});
  host.Advance(1.0);
  ASSERT_TRUE(RunUntilAllJoined());
  EXPECT_TRUE(host.log.empty()) << host.log;
  EXPECT_EQ(renderer.plots, 0);
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
}
