// Legal but extreme structures: a build that would outgrow memory is refused
// with a true message, and a long one answers Escape. The memory cases run in
// a child process whose address space is capped a little above what it
// already uses, as on a machine with little memory left.
#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// The room the child gets above what it has mapped.
constexpr uint64_t kChildHeadroom = uint64_t{2048} << 20;

void CapAddressSpace() {
  unsigned long long pages = 0;
  std::FILE *f = std::fopen("/proc/self/statm", "r");
  if (!f || std::fscanf(f, "%llu", &pages) != 1)
    std::_Exit(3);
  std::fclose(f);
  const rlim_t used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
  rlimit limit{used + kChildHeadroom, used + kChildHeadroom};
  if (setrlimit(RLIMIT_AS, &limit) != 0)
    std::_Exit(4);
}

class ExtremeInputs : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows.push_back(&window);
    host.graphPane = Rect{0, 0, 300, 400};
  }
  void TearDown() override {
    gShowProgress = 0;
    DestroyMainWindowData(&window);
    gPrefs = gFactoryPrefs;
  }
  CrystalRec &C() { return *GetWindowCrystal(&window); }

  // A P 1 cell of edge a with eight carbon sites on the half-cell grid, bonded
  // up to maxLength, built over the range.
  void BuildCubic(float a, float maxLength, const float range[6]) {
    const float cell[6] = {a, a, a, 90, 90, 90};
    FillCrystalFromSites(C(), cell, "P 1",
                         {{"C1", "C", 0, 0, 0},
                          {"C2", "C", .5f, 0, 0},
                          {"C3", "C", 0, .5f, 0},
                          {"C4", "C", 0, 0, .5f},
                          {"C5", "C", .5f, .5f, 0},
                          {"C6", "C", .5f, 0, .5f},
                          {"C7", "C", 0, .5f, .5f},
                          {"C8", "C", .5f, .5f, .5f}});
    BondSpec &spec = C().bondSpecs[0];
    spec.elementA = spec.elementB = TwoCharsToShort("C");
    spec.maxLength = maxLength;
    C().bondSpecCount = 1;
    C().viewDirection[2] = 1.0f;
    std::copy(range, range + 6, C().plotRange);
    ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  }

  // The alerts shown, one "message: explanation" line each, to stderr.
  void WriteAlerts() {
    for (const AlertRequest &alert : host.alerts)
      std::fprintf(stderr, "%s: %s\n", alert.message.c_str(), alert.explanation.c_str());
  }

  int64_t BondEnds() {
    int64_t n = 0;
    for (const AtomRecord &atom : C().atoms)
      n += atom.bondCount;
    return n;
  }

  FakeHost host;
  OVWindowRecord window;
};

// A cell of 0.011 A over 21 cells a side puts 74,088 atoms within 0.4 A of
// each other: some 2.7 billion bonds, beyond memory and far beyond 40 to an
// atom, which is the first bound they meet. The structure is shown without
// them and the alert says why, not that no bond was found.
TEST_F(ExtremeInputs, BondsBeyondMemoryAreRefusedAndTheStructureShown) {
  auto child = [this] {
    CapAddressSpace();
    const float range[6] = {0, 20, 0, 20, 0, 20};
    BuildCubic(0.011f, 0.4f, range);
    WriteAlerts();
    const bool shown = C().atomCount == 74088 && host.shownWindows.size() == 1 && BondEnds() == 0;
    std::_Exit(shown && host.alerts.size() == 1 ? 0 : 1);
  };
  EXPECT_EXIT(
      child(), ::testing::ExitedWithCode(0),
      "Too many bonds: 68,921 atoms would have more than 1,378,420 bonds within the bond maximum, more than 40 to an "
      "atom on average: the structure is shown without bonds; Edit > Bonding can lower the maximum\\.");
}

// A range of 100 cells a side would make over 8 million atoms: refused before
// anything is made, with the count, and the previous range stays.
TEST_F(ExtremeInputs, ARangeBeyondMemoryIsRefusedWithItsAtomCount) {
  const float first[6] = {0, 1, 0, 1, 0, 1};
  BuildCubic(5.0f, 2.6f, first);
  auto child = [this] {
    CapAddressSpace();
    const int32_t atoms = C().atomCount;
    const bool applied = ReplotWithPlotRange(&window, 0, 100, 0, 100, 0, 100, true);
    WriteAlerts();
    const bool kept = !applied && C().atomCount == atoms && C().plotRange[1] == 1.0f && C().na == 2;
    std::_Exit(kept && host.alerts.size() == 1 ? 0 : 1);
  };
  EXPECT_EXIT(
      child(), ::testing::ExitedWithCode(0),
      "No Memory for atoms: The plot range would hold 8,242,408 atoms, which need about [0-9.]+ GB; [0-9.]+ GB are "
      "available\\. The plot range stays as it was\\.");
}

// Escape while the cells of a new range are made stops them: the atoms,
// bonds and range of before stay, and the Log says so.
TEST_F(ExtremeInputs, EscapeStopsTheCellsOfANewRange) {
  const float first[6] = {0, 1, 0, 1, 0, 1};
  BuildCubic(5.0f, 2.6f, first);
  const int32_t atoms = C().atomCount;
  const int64_t bondEnds = BondEnds();
  ASSERT_GT(bondEnds, 0);
  host.tick = 50000; // every clock reading moves on 0.05 s
  host.cancelAnswers = {false, true};
  EXPECT_FALSE(ReplotWithPlotRange(&window, 0, 30, 0, 30, 0, 30, true));
  EXPECT_GE(host.cancelChecks, 2);
  EXPECT_EQ(C().atomCount, atoms);
  EXPECT_EQ(BondEnds(), bondEnds);
  EXPECT_EQ(C().plotRange[1], 1.0f);
  EXPECT_NE(host.log.find("Plot range cancelled: the previous range stays.\r"), std::string::npos);
}

} // namespace
