#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

ElementCode El(const char *symbol) { return TwoCharsToShort(symbol); }

// Positions compare within this (fractional or Angstrom).
constexpr float kPositionTolerance = 1e-4f;
// The graph pane the fake window shows.
constexpr int16_t kPaneWidth = 400;
constexpr int16_t kPaneHeight = 300;

class BuildPipeline : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows.push_back(&window);
    host.windowTitle = "NaCl test";
    host.graphPane = Rect{0, 0, kPaneHeight, kPaneWidth};
  }
  void TearDown() override {
    EXPECT_EQ(CheckCrystalInvariants(C()), "");
    gShowProgress = 0;
    DestroyMainWindowData(&window);
    gPrefs = gFactoryPrefs;
  }

  CrystalRec &C() { return *GetWindowCrystal(&window); }

  void SetCrystal(const float cell[6], const char *group, const std::vector<SiteIn> &sites) {
    FillCrystalFromSites(C(), cell, group, sites);
  }

  void SetNaCl() {
    const float cell[6] = {5.64f, 5.64f, 5.64f, 90, 90, 90};
    // Na2 is a centring copy of Na1 and goes.
    SetCrystal(cell, "F m -3 m", {{"Na1", "Na", 0, 0, 0}, {"Cl1", "Cl", .5f, .5f, .5f}, {"Na2", "Na", .5f, .5f, 0}});
  }

  void AddBondSpec(const char *a, const char *b, float lo, float hi) {
    CrystalRec &c = C();
    BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
    spec.elementA = El(a);
    spec.elementB = El(b);
    spec.minLength = lo;
    spec.maxLength = hi;
    spec.style = 1;
  }

  int32_t VisibleAtoms(int32_t site = -1) {
    int32_t n = 0;
    for (int32_t k = 0; k < C().atomCount; k++) {
      const AtomRecord &atom = C().atoms[static_cast<size_t>(k)];
      if (atom.visible && (site < 0 || atom.site == static_cast<uint32_t>(site)))
        n++;
    }
    return n;
  }

  int64_t BondEnds() {
    int64_t n = 0;
    for (int32_t k = 0; k < C().atomCount; k++)
      n += C().atoms[static_cast<size_t>(k)].bondCount;
    return n;
  }

  FakeHost host;
  OVWindowRecord window;
};

// ---- Crystals ------------------------------------------------------------------------

TEST_F(BuildPipeline, RockSaltFromSitesToAPlottedWindow) {
  SetNaCl();
  AddBondSpec("Na", "Cl", 2.5f, 3.0f);
  window.mainData->printPreview.active = 1;
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  CrystalRec &c = C();

  // The centring copy went; one atom type per element.
  ASSERT_EQ(c.siteCount, 2);
  EXPECT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.sites[0].atomsPerCell, 4);
  EXPECT_EQ(c.sites[1].atomsPerCell, 4);
  // Range 0 to 1: the 14 Na of the face-centred cube and the 13 Cl of its
  // edges and centre; 6-fold coordination around both.
  EXPECT_EQ(VisibleAtoms(0), 14);
  EXPECT_EQ(VisibleAtoms(1), 13);
  EXPECT_EQ(c.sites[0].coordination, 6u);
  EXPECT_EQ(c.sites[1].coordination, 6u);
  // The 27 atoms form a 3 x 3 x 3 grid of spacing a/2: 54 nearest-neighbour
  // pairs, each in both atoms' lists.
  EXPECT_EQ(BondEnds(), 108);
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (!atom.visible)
      continue;
    float expected[3];
    for (int i = 0; i < 3; i++)
      expected[i] = c.orientationMatrix[3 * i] * atom.xyz[0] + c.orientationMatrix[3 * i + 1] * atom.xyz[1] +
                    c.orientationMatrix[3 * i + 2] * atom.xyz[2];
    for (int i = 0; i < 3; i++)
      ASSERT_NEAR(atom.cart[i], expected[i], kPositionTolerance);
    ASSERT_LT(atom.atomType, static_cast<uint32_t>(c.sphereCount));
  }
  // Centred on the cube, scaled to the pane.
  float middle[3];
  for (int i = 0; i < 3; i++)
    middle[i] = 0.5f * (c.orientationMatrix[3 * i] + c.orientationMatrix[3 * i + 1] + c.orientationMatrix[3 * i + 2]);
  for (int i = 0; i < 3; i++)
    EXPECT_NEAR(c.plotCentre[i], middle[i], kPositionTolerance);
  EXPECT_GT(c.plotExtent, 5.64f);
  EXPECT_NEAR(c.plotScale, kPaneHeight / c.plotExtent, 1e-3f);

  // The window: shown, not closed, print preview titled, inspectors told.
  EXPECT_EQ(host.shownWindows, std::vector<WindowRef>{&window});
  EXPECT_TRUE(host.closedWindows.empty());
  EXPECT_EQ(window.mainData->printPreview.title.view(), "NaCl test");
  EXPECT_GE(host.floatingWindowUpdates, 1);
  EXPECT_TRUE(host.alerts.empty());
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "> Plotting the structure of: NaCl test; calculated formula: Cl 1.00 Na 1.00");
}

// The build measures the plot once its bonds are made; a lattice plane
// shown is set up as the range is, at the centre measured there: the middle
// of the cube, not where the plot stood before.
TEST_F(BuildPipeline, AShownLatticePlaneIsPlacedAtTheMeasuredCentre) {
  for (const bool planeShown : {false, true}) {
    SetNaCl();
    CrystalRec &c = C();
    c.plane.shown = planeShown ? 1 : 0;
    c.plane.hkl[0] = 1, c.plane.hkl[1] = 0, c.plane.hkl[2] = 0;
    const float away[3] = {100.0f, -50.0f, 25.0f};
    std::copy(away, away + 3, c.plotCentre);
    std::copy(away, away + 3, c.plane.point);
    ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
    for (int i = 0; i < 3; i++) {
      const float middle =
          0.5f * (c.orientationMatrix[3 * i] + c.orientationMatrix[3 * i + 1] + c.orientationMatrix[3 * i + 2]);
      EXPECT_NEAR(c.plotCentre[i], middle, kPositionTolerance) << planeShown << i;
      // A plane not shown is left where it was.
      EXPECT_NEAR(c.plane.point[i], planeShown ? middle : away[i], kPositionTolerance) << planeShown << i;
    }
  }
}

TEST_F(BuildPipeline, ALongTitleLeavesTheFormulaOut) {
  SetNaCl();
  host.windowTitle = std::string(1000, 't');
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string("> Plotting the structure of: ") + host.windowTitle + "; calculated formula: ");
  host.windowTitle = std::string(1024 - 29 - 22 - 15 - 1, 't'); // the line with its formula stays below 1024
  host.log.clear();
  ASSERT_TRUE(RunNewCrystal(&window, false, true, false));
  EXPECT_EQ(host.LogLines().at(0).size(), 1023u);
}

TEST_F(BuildPipeline, RangeBeyondOneCellGrowsTheAtomsAndKeepsTheUserScale) {
  SetNaCl();
  float *r = C().plotRange;
  r[0] = -0.5f, r[1] = 0.5f, r[2] = 0, r[3] = 1, r[4] = 0, r[5] = 2;
  C().plotScale = 33.0f;
  ASSERT_TRUE(RunNewCrystal(&window, true, true, false));
  EXPECT_EQ(C().plotScale, 33.0f);
  // x from -0.5 to 0.5 is stored as 0.5 to 1.5 over two cells along a.
  EXPECT_FLOAT_EQ(C().plotRange[0], 0.5f);
  EXPECT_FLOAT_EQ(C().plotRange[1], 1.5f);
  EXPECT_EQ(C().na, 2);
  EXPECT_EQ(C().nc, 3);
  // Na and Cl on a grid of a/2: x 3 planes, y 3 planes, z 5 planes.
  EXPECT_EQ(VisibleAtoms(), 3 * 3 * 5);
  // A scale of 0 is always fitted.
  C().plotScale = 0.0f;
  ASSERT_TRUE(RunNewCrystal(&window, false, true, false));
  EXPECT_NEAR(C().plotScale, kPaneHeight / C().plotExtent, 1e-3f);
}

TEST_F(BuildPipeline, ThermalEllipsoidModelNeedsEllipsoidData) {
  SetNaCl();
  C().modelType = 6;
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  EXPECT_EQ(C().modelType, 1);
}

TEST_F(BuildPipeline, BondMessagesTellWhichSpecificationsFoundNothing) {
  // None at all: the alert.
  SetNaCl();
  AddBondSpec("Na", "Cl", 1.0f, 2.0f);
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
  EXPECT_EQ(host.alerts[0].message, "No bonds found!");
  EXPECT_EQ(host.alerts[0].explanation,
            "Try using the Edit > Bonding command to increase the bond length tolerance (Bmax).");
  EXPECT_TRUE(host.colouredRuns.empty());

  // One of two: the red lines and the subtitle.
  host.alerts.clear();
  host.log.clear();
  SetNaCl();
  AddBondSpec("Na", "Cl", 2.5f, 3.0f);
  AddBondSpec("Na", "Na", 1.0f, 1.5f);
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  EXPECT_TRUE(host.alerts.empty());
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Not all requested bonds could be found.");
  EXPECT_EQ(lines[2], "You may wish to edit your bond specifications (Edit > Bonding).");
  ASSERT_EQ(host.colouredRuns.size(), 2u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  EXPECT_FALSE(host.subtitles.empty());

  // A maximum so long that the coordination search gives up still bonds
  // the plotted atoms: no alert then.
  host.alerts.clear();
  host.log.clear();
  SetNaCl();
  AddBondSpec("Na", "Cl", 0.0f, 1000.0f);
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  EXPECT_GT(BondEnds(), 0);
  EXPECT_TRUE(host.alerts.empty());

  // No specifications: nothing to report.
  host.alerts.clear();
  host.log.clear();
  host.subtitles.clear();
  SetNaCl();
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(host.LogLines().size(), 1u);
  EXPECT_TRUE(host.subtitles.empty());
}

TEST_F(BuildPipeline, CellsThatCannotBeBuiltAreRefusedBeforeAnythingChanges) {
  const float bad[][6] = {{0, 5, 5, 90, 90, 90},
                          {-5, 5, 5, 90, 90, 90},
                          {5, 5, 5, 90, 90, 0},
                          {5, 5, 5, 60, 60, 150},
                          {5, std::numeric_limits<float>::quiet_NaN(), 5, 90, 90, 90}};
  for (const auto &cell : bad) {
    host.alerts.clear();
    SetCrystal(cell, "P 1", {{"O1", "O", .1f, .2f, .3f}});
    ASSERT_FALSE(RunNewCrystal(&window, true, true, true));
    ASSERT_EQ(host.alerts.size(), 1u) << cell[0] << " " << cell[5];
    EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
    EXPECT_EQ(host.alerts[0].message, "The unit cell is not valid.");
    EXPECT_EQ(C().atomCount, 0);
    EXPECT_EQ(C().sphereCount, 0);
  }
  EXPECT_TRUE(host.shownWindows.empty());
  EXPECT_TRUE(host.closedWindows.empty());
  EXPECT_TRUE(host.log.empty());
}

TEST_F(BuildPipeline, ACrystalWithoutSitesHasNoAtomTypes) {
  const float cell[6] = {5, 5, 5, 90, 90, 90};
  SetCrystal(cell, "P 1", {});
  AppendBlankSphere(&C()); // a type no site uses goes
  ASSERT_FALSE(RunNewCrystal(&window, true, true, true));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
  EXPECT_EQ(host.alerts[0].message, "Error generating atom spheres");
  EXPECT_TRUE(host.shownWindows.empty());
  EXPECT_TRUE(host.closedWindows.empty());
}

TEST_F(BuildPipeline, AFailedBuildClosesTheWindowThroughTheWindowClass) {
  host.status.clear();
  CloseWindowAfterFailedBuild(&window);
  EXPECT_EQ(host.closedWindows, std::vector<WindowRef>{&window});
  HostServices *installed = SetHostServices(nullptr);
  CloseWindowAfterFailedBuild(&window); // no host: nothing to call
  SetHostServices(installed);
  EXPECT_EQ(host.closedWindows.size(), 1u);
}

TEST_F(BuildPipeline, StaleAtomsAndMissingAtomTypesAreRebuilt) {
  SetNaCl();
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  CrystalRec &c = C();
  // An editor dropped the second site and gave the first an atom type that
  // does not exist; the atoms still name the old sites.
  c.sites.resize(1);
  c.siteCount = 1;
  c.sites[0].atomType = 7;
  const RGBColor custom{1, 2, 3};
  c.spheres[0].colour = custom;
  ASSERT_GT(c.atomCount, 20);
  ASSERT_TRUE(RunNewCrystal(&window, false, true, false));
  EXPECT_EQ(c.sphereCount, 1);
  EXPECT_EQ(c.sites[0].atomType, 0u);
  EXPECT_EQ(VisibleAtoms(), 14);
  for (int32_t k = 0; k < c.atomCount; k++) {
    EXPECT_EQ(c.atoms[static_cast<size_t>(k)].site, 0u);
    EXPECT_EQ(c.atoms[static_cast<size_t>(k)].atomType, 0u);
  }
}

TEST_F(BuildPipeline, AtomTypesTheSitesUseSurviveARebuild) {
  SetNaCl();
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  CrystalRec &c = C();
  const RGBColor custom{1, 2, 3};
  c.spheres[1].colour = custom;
  c.spheres[1].radius = 2.25f;
  AppendBlankSphere(&c); // used by no site: purged
  c.atoms[0].atomType = 2;
  ASSERT_TRUE(RunNewCrystal(&window, false, false, false));
  ASSERT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.spheres[1].colour, custom);
  EXPECT_EQ(c.spheres[1].radius, 2.25f);
  for (int32_t k = 0; k < c.atomCount; k++)
    EXPECT_LT(c.atoms[static_cast<size_t>(k)].atomType, 2u);
}

// ---- Molecules ------------------------------------------------------------------------

struct AtomIn {
  const char *element;
  float x, y, z;
};

class BuildMolecule : public BuildPipeline {
protected:
  void SetMolecule(const std::vector<AtomIn> &atoms) {
    CrystalRec &c = C();
    ClearCrystalRec(&c);
    c.molecule = 1;
    const int32_t n = static_cast<int32_t>(atoms.size());
    c.sites = *CreateAsymmetricUnit(n);
    c.siteCount = n;
    c.atoms = *CreateAtomsArray(n, 1, 1, 1);
    c.atomCount = n;
    c.atomsPerCell = n;
    for (int32_t k = 0; k < n; k++) {
      AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
      AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
      site.elements[0] = El(atoms[static_cast<size_t>(k)].element);
      site.occupancies[0] = 1.0f;
      MyStrCopy(std::span<char>(site.label), atoms[static_cast<size_t>(k)].element + std::to_string(k + 1));
      site.firstAtom = site.lastAtom = k;
      site.atomsPerCell = 0; // a molecule's sites keep none
      site.atomType = 9;     // whatever a reader left
      atom.site = static_cast<uint32_t>(k);
      atom.atomType = 9;
      atom.visible = 0;
      atom.cart[0] = atoms[static_cast<size_t>(k)].x;
      atom.cart[1] = atoms[static_cast<size_t>(k)].y;
      atom.cart[2] = atoms[static_cast<size_t>(k)].z;
    }
  }
};

TEST_F(BuildMolecule, WaterInItsBox) {
  SetMolecule({{"O", 0, 0, 0}, {"H", 0.96f, 0, 0}, {"H", -0.24f, 0.93f, 0}});
  AddBondSpec("O", "H", 0.8f, 1.1f);
  ForgetWindowChanges(&window);
  ASSERT_TRUE(RunNewMolecule(&window, false, true, true, true));
  CrystalRec &c = C();
  const float edge = 1.2f * 1.2f; // the x span of 1.2 A is the largest
  EXPECT_FLOAT_EQ(c.a, edge);
  EXPECT_FLOAT_EQ(c.b, edge);
  EXPECT_FLOAT_EQ(c.c, edge);
  EXPECT_EQ(c.alpha, 90.0f);
  EXPECT_STREQ(c.spaceGroup, "P 1");
  EXPECT_EQ(c.showUnitCell, 0);
  EXPECT_EQ(c.showAxes, 0);
  EXPECT_FLOAT_EQ(c.orientationMatrix[0], edge);
  EXPECT_FLOAT_EQ(c.orientationMatrix[4], edge);
  EXPECT_FLOAT_EQ(c.orientationMatrix[8], edge);
  EXPECT_EQ(c.orientationMatrix[1], 0.0f);
  EXPECT_EQ(c.viewDirection[2], 1.0f);
  EXPECT_EQ(c.plotRange[1], 1.0f);
  EXPECT_EQ(c.na, 1);
  EXPECT_FLOAT_EQ(c.atoms[1].xyz[0], 0.96f / edge);
  EXPECT_FLOAT_EQ(c.atoms[2].xyz[1], 0.93f / edge);
  EXPECT_FLOAT_EQ(c.atoms[1].cart[0], 0.96f);
  EXPECT_EQ(c.sites[0].coordination, 2u);
  EXPECT_EQ(c.sites[1].coordination, 1u);
  EXPECT_EQ(c.sites[2].coordination, 1u);
  // Atom types made afresh, and the atoms follow their sites.
  ASSERT_EQ(c.sphereCount, 2);
  for (int32_t k = 0; k < 3; k++) {
    EXPECT_TRUE(c.atoms[static_cast<size_t>(k)].visible);
    EXPECT_EQ(c.atoms[static_cast<size_t>(k)].atomType, c.sites[static_cast<size_t>(k)].atomType);
  }
  // Centred on the molecule.
  EXPECT_NEAR(c.plotCentre[0], (0.96f - 0.24f) / 3, kPositionTolerance);
  EXPECT_NEAR(c.plotCentre[1], 0.93f / 3, kPositionTolerance);
  EXPECT_EQ(host.shownWindows, std::vector<WindowRef>{&window});
  EXPECT_TRUE(IsWindowUndoStatePending(&window));
  EXPECT_GE(host.floatingWindowUpdates, 1);
  const auto lines = host.LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "> Plotting the structure of: NaCl test; calculated formula: H 2.00 O 1.00");
}

TEST_F(BuildMolecule, SmallMoleculesGetATenAngstromBox) {
  SetMolecule({{"C", 0, 0, 0}, {"C", 0.8f, 0, 0}}); // span 0.8: 0.96 is below 1
  ASSERT_TRUE(RunNewMolecule(&window, false, true, true, false));
  EXPECT_EQ(C().a, 10.0f);
  EXPECT_FLOAT_EQ(C().atoms[1].xyz[0], 0.08f);

  SetMolecule({{"Fe", 3.0f, -4.0f, 5.0f}});
  ASSERT_TRUE(RunNewMolecule(&window, false, true, true, false));
  EXPECT_EQ(C().a, 10.0f);
  EXPECT_FLOAT_EQ(C().atoms[0].xyz[0], 0.3f);
  EXPECT_FLOAT_EQ(C().atoms[0].xyz[1], -0.4f);
  EXPECT_FLOAT_EQ(C().atoms[0].xyz[2], 0.5f);
}

TEST_F(BuildMolecule, FarAwayMoleculesGetABoxOfTheirOwnSize) {
  // Beyond +-999.9 A, as large PDB models place them.
  SetMolecule({{"N", 1500.0f, -2000.0f, 1200.0f}, {"N", 1502.0f, -2000.0f, 1200.0f}});
  ASSERT_TRUE(RunNewMolecule(&window, false, true, true, false));
  EXPECT_FLOAT_EQ(C().a, 2.4f);
  EXPECT_FLOAT_EQ(C().atoms[1].cart[0], 1502.0f);
}

TEST_F(BuildMolecule, OnlyMoleculesAndOnlyFileWindowsAreShown) {
  SetNaCl();
  EXPECT_FALSE(RunNewMolecule(&window, false, true, true, true));
  EXPECT_EQ(C().atomCount, 0);
  EXPECT_TRUE(host.log.empty());

  SetMolecule({{"O", 0, 0, 0}, {"H", 0.96f, 0, 0}});
  window.mainData->fileOpen = 0;
  ForgetWindowChanges(&window);
  ASSERT_TRUE(RunNewMolecule(&window, false, true, true, true));
  EXPECT_TRUE(host.shownWindows.empty());
  EXPECT_FALSE(IsWindowUndoStatePending(&window));
}

// ---- Bonding again ------------------------------------------------------------------------

TEST_F(BuildPipeline, RebondingACrystalSearchesAgain) {
  SetNaCl();
  AddBondSpec("Na", "Cl", 2.5f, 3.0f);
  ASSERT_TRUE(RunNewCrystal(&window, true, true, true));
  EXPECT_EQ(BondEnds(), 108);
  C().bondSpecs[0].maxLength = 4.5f; // second neighbours too (a sqrt(3)/2 = 4.88 stays out)
  C().bondSpecs[0].minLength = 4.0f;
  ForgetWindowChanges(&window);
  ASSERT_TRUE(RunNewBonding(&window, &C()));
  EXPECT_EQ(C().sites[0].coordination, 0u);
  EXPECT_EQ(BondEnds(), 0);
  C().bondSpecs[0].minLength = 2.5f;
  ASSERT_TRUE(RunNewBonding(&window, &C()));
  EXPECT_EQ(C().sites[1].coordination, 6u);
  EXPECT_EQ(BondEnds(), 108);
  EXPECT_TRUE(IsWindowUndoStatePending(&window));
}

TEST_F(BuildMolecule, RebondingAMoleculeKeepsItsBondsAndCountsThem) {
  SetMolecule({{"O", 0, 0, 0}, {"H", 0.96f, 0, 0}, {"H", 5, 5, 5}});
  ASSERT_TRUE(RunNewMolecule(&window, false, true, true, false));
  // A bond drawn by hand that no specification would make.
  ASSERT_TRUE(AddBondListEntry(&C(), 0, 2));
  C().sites[0].coordination = 7;
  C().sites[1].coordination = 7;
  ASSERT_TRUE(RunNewBonding(&window, &C()));
  EXPECT_EQ(C().atoms[0].bonds, std::vector<uint32_t>{2});
  EXPECT_EQ(C().sites[0].coordination, 1u);
  EXPECT_EQ(C().sites[1].coordination, 0u);
  EXPECT_EQ(C().sites[2].coordination, 1u);

  DestroyAtomsArray(&C());
  EXPECT_FALSE(RunNewBonding(&window, &C()));
  EXPECT_FALSE(RunNewBonding(&window, nullptr));
}

} // namespace
