#include "PlotRange.h"
#include "StructureWindowFixture.h"

#include "BondSearch.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

using namespace viewtest;

namespace {

constexpr float kTight = 1e-5f;

void SetRange(CrystalRec &c, float lo, float hi) {
  for (int k = 0; k < 3; k++) {
    c.plotRange[2 * k] = lo;
    c.plotRange[2 * k + 1] = hi;
  }
}

bool ApplyCube(WindowRef w, float lo, float hi) { return SetPlotRange(w, lo, hi, lo, hi, lo, hi); }

} // namespace

// ---- Normalising and counting cells ------------------------------------------------

TEST(PlotRangeCells, RangesAreNormalisedToStartInTheFirstCell) {
  struct Case {
    float lo, hi, outLo, outHi;
  };
  const Case cases[] = {
      {0.5f, 0.2f, 0.5f, 0.6f},   // a reversed range keeps its minimum, 0.1 wide
      {-0.5f, 0.5f, 0.5f, 1.5f},  // one cell up
      {-1.0f, 0.0f, 1.0f, 2.0f},  // a minimum of exactly -1 goes two cells up
      {-1.5f, -0.5f, 0.5f, 1.5f}, // two cells up
      {1.25f, 2.5f, 0.25f, 1.5f}, // one cell down
      {3.0f, 3.5f, 0.0f, 0.5f},   {0.0f, 0.999f, 0.0f, 0.999f},
  };
  for (const Case &k : cases) {
    CrystalRec c;
    SetRange(c, k.lo, k.hi);
    AdjustCellRangeOffsets(&c);
    for (int axis = 0; axis < 3; axis++) {
      EXPECT_NEAR(c.plotRange[2 * axis], k.outLo, kTight) << k.lo << ".." << k.hi;
      EXPECT_NEAR(c.plotRange[2 * axis + 1], k.outHi, kTight) << k.lo << ".." << k.hi;
    }
  }
}

TEST(PlotRangeCells, CellCountsFollowTheRangeMaximum) {
  struct Case {
    float lo, hi;
    int32_t cells;
  };
  const Case cases[] = {
      {0.0f, 0.999f, 1},
      {0.0f, 1.0f, 2},
      {0.5f, 1.5f, 2},
      {-0.5f, 0.5f, 2},
      {0.0f, 2.0f, 3},
      {0.25f, 9.9f, 10},
      {0.0f, std::numeric_limits<float>::quiet_NaN(), 1},
      {0.0f, 1e30f, kMaxCellsPerAxis},
  };
  for (const Case &k : cases) {
    CrystalRec c;
    SetRange(c, k.lo, k.hi);
    int32_t na = 0, nb = 0, nc = 0;
    CalculateNumCellsForCrystal(&c, &na, &nb, &nc);
    EXPECT_EQ(na, k.cells) << k.lo << ".." << k.hi;
    EXPECT_EQ(nb, k.cells);
    EXPECT_EQ(nc, k.cells);
  }
}

// ---- Applying a range ------------------------------------------------------------------

TEST(SetPlotRangeTest, RockSaltShowsTheAtomsOfTheRangeBoundsIncluded) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_EQ(c.atomsPerCell, 8);

  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 0.999f));
  EXPECT_EQ(c.atomCount, 8);
  EXPECT_EQ(CountVisible(c), 8);

  // 0 to 1 needs two cells along each axis and shows the atoms on all six
  // faces: 14 Na and 13 Cl. The second cells hold only the images on the
  // far faces, so every atom record is one shown.
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.0f));
  EXPECT_EQ(c.na, 2);
  EXPECT_EQ(c.nb, 2);
  EXPECT_EQ(c.nc, 2);
  EXPECT_EQ(c.atomCount, 27);
  EXPECT_EQ(CountVisible(c), 27);
  int32_t na = 0;
  for (const AtomRecord &a : c.atoms)
    na += (a.visible && c.sites[a.site].elements[0] == Element("Na")) ? 1 : 0;
  EXPECT_EQ(na, 14);
  EXPECT_EQ(host.setRangeUpdates, 2);

  // Every atom, shown or not, sits at the orientation matrix times its
  // position; one inside the cell has its six neighbours at a/2.
  for (const AtomRecord &a : c.atoms) {
    float cart[3];
    MatMul(c.orientationMatrix, a.xyz, cart);
    for (int k = 0; k < 3; k++)
      EXPECT_FLOAT_EQ(a.cart[k], cart[k]);
  }
  const int32_t centre = AtomAt(c, 0.5f, 0.5f, 0.5f);
  ASSERT_GE(centre, 0);
  EXPECT_EQ(c.atoms[static_cast<size_t>(centre)].bondCount, 6u);

  // The plot is measured: the centre of the cell.
  float middle[3];
  const float half[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, half, middle);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(c.plotCentre[k], middle[k], 1e-4f);

  // Half a cell more along each axis needs the images the faces left out:
  // 0, 0.5, 1 and 1.5 along each axis, every one of the two cells' atoms.
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.5f));
  EXPECT_EQ(c.atomCount, 64);
  EXPECT_EQ(CountVisible(c), 64);
}

// The build leaves room for every site's full orbit, so the range of a rock
// salt cell of 8 atoms (room for 384) is made in the atoms' own records; made
// aside from atoms without that room, it is record for record the same.
TEST(SetPlotRangeTest, ARangeMadeInTheAtomsOwnRoomIsTheRangeMadeAside) {
  struct Case {
    float lo, hi;
    int32_t atoms;
  };
  const Case cases[] = {{0.0f, 1.0f, 27}, {0.0f, 1.5f, 64}, {-0.5f, 0.5f, 64}, {0.25f, 2.75f, 216}};
  for (const Case &t : cases) {
    FakeHost host;
    TestWindow room(host), aside(host);
    CrystalRec &a = room.crystal(), &b = aside.crystal();
    ASSERT_TRUE(BuildRockSalt(a));
    ASSERT_TRUE(BuildRockSalt(b));
    b.atoms.shrink_to_fit();
    ASSERT_LT(b.atoms.capacity(), static_cast<size_t>(t.atoms));
    const AtomRecord *before = a.atoms.data();
    ASSERT_TRUE(ApplyCube(room.ref(), t.lo, t.hi)) << t.hi;
    ASSERT_TRUE(ApplyCube(aside.ref(), t.lo, t.hi)) << t.hi;
    EXPECT_EQ(a.atoms.data(), before) << t.hi;
    ASSERT_EQ(a.atomCount, t.atoms) << t.hi;
    ASSERT_EQ(b.atomCount, t.atoms) << t.hi;
    for (size_t k = 0; k < a.atoms.size(); k++) {
      const AtomRecord &x = a.atoms[k], &y = b.atoms[k];
      EXPECT_EQ(x.site, y.site) << t.hi << " atom " << k;
      EXPECT_EQ(x.visible, y.visible) << t.hi << " atom " << k;
      EXPECT_EQ(x.bondCount, y.bondCount) << t.hi << " atom " << k;
      EXPECT_EQ(0, std::memcmp(x.xyz, y.xyz, sizeof x.xyz)) << t.hi << " atom " << k;
      EXPECT_EQ(0, std::memcmp(x.cart, y.cart, sizeof x.cart)) << t.hi << " atom " << k;
    }
    for (size_t s = 0; s < a.sites.size(); s++) {
      EXPECT_EQ(a.sites[s].firstAtom, b.sites[s].firstAtom) << t.hi;
      EXPECT_EQ(a.sites[s].lastAtom, b.sites[s].lastAtom) << t.hi;
    }
  }
}

TEST(SetPlotRangeTest, ANegativeMinimumShiftsTheRangeByWholeCellsAndCarriesTheSelection) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 0.999f));
  const int32_t cl = AtomAt(c, 0.5f, 0.5f, 0.5f);
  ASSERT_GE(cl, 0);
  c.atoms[static_cast<size_t>(cl)].selected = 1;
  c.atoms[static_cast<size_t>(cl)].labelled = 1;

  // -0.5 to 0.5 is stored as 0.5 to 1.5 with a shift of one cell and needs
  // two cells per axis; the selected atom moves with the shift.
  ASSERT_TRUE(ApplyCube(w.ref(), -0.5f, 0.5f));
  EXPECT_FLOAT_EQ(c.plotRange[0], 0.5f);
  EXPECT_FLOAT_EQ(c.plotRange[1], 1.5f);
  EXPECT_EQ(c.na, 2);
  EXPECT_EQ(CountVisible(c), 27);
  EXPECT_EQ(CountNumSelectedAtoms(&c), 1);
  const int32_t moved = AtomAt(c, 1.5f, 1.5f, 1.5f);
  ASSERT_GE(moved, 0);
  EXPECT_EQ(c.atoms[static_cast<size_t>(moved)].selected, 1);
  EXPECT_EQ(c.atoms[static_cast<size_t>(moved)].labelled, 1);
}

TEST(SetPlotRangeTest, AtomsOfSeveralCellsCarryTheirFlagsIntoALargerRange) {
  // Atoms that are more than the first cell are regrown from it aside; a
  // flagged atom of a later cell keeps its flags at its place.
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.5f));
  ASSERT_GT(c.atomCount, c.atomsPerCell);
  const int32_t flagged = AtomAt(c, 1.5f, 1.0f, 1.5f);
  ASSERT_GE(flagged, 0);
  c.atoms[static_cast<size_t>(flagged)].selected = 1;
  c.atoms[static_cast<size_t>(flagged)].labelled = 1;

  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 2.5f));
  EXPECT_EQ(c.na, 3);
  EXPECT_EQ(CountNumSelectedAtoms(&c), 1);
  const int32_t kept = AtomAt(c, 1.5f, 1.0f, 1.5f);
  ASSERT_GE(kept, 0);
  EXPECT_EQ(c.atoms[static_cast<size_t>(kept)].selected, 1);
  EXPECT_EQ(c.atoms[static_cast<size_t>(kept)].labelled, 1);
}

TEST(SetPlotRangeTest, VectorsFollowTheirAtomsWhenTheAtomsAreRegrown) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 0.999f));
  const int32_t na = AtomAt(c, 0.0f, 0.5f, 0.5f);
  ASSERT_GE(na, 0);
  ASSERT_NE(AppendBlankVector(&c), nullptr);
  c.vectors[0].atom = static_cast<uint32_t>(na);
  c.atoms[static_cast<size_t>(na)].hasVector = 1;

  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 2.0f));
  ASSERT_EQ(c.vectorCount, 1);
  const uint32_t now = c.vectors[0].atom;
  ASSERT_LT(now, static_cast<uint32_t>(c.atomCount));
  EXPECT_EQ(c.atoms[now].hasVector, 1);
  EXPECT_NEAR(c.atoms[now].xyz[0], 0.0f, kTight);
  EXPECT_NEAR(c.atoms[now].xyz[1], 0.5f, kTight);
  EXPECT_NEAR(c.atoms[now].xyz[2], 0.5f, kTight);
  EXPECT_EQ(CountVisible(c), 63 + 62);
}

TEST(SetPlotRangeTest, AShrinkingRangeKeepsTheAtomsAndChangesOnlyVisibility) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 2.0f));
  ASSERT_EQ(c.atomCount, 8 * 27);
  c.atoms[5].selected = 1;
  const AtomRecord *before = c.atoms.data();
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.0f));
  EXPECT_EQ(c.atomCount, 8 * 27);
  EXPECT_EQ(c.na, 3); // the cells are kept
  EXPECT_EQ(c.atoms.data(), before);
  EXPECT_EQ(c.atoms[5].selected, 1);
  EXPECT_EQ(CountVisible(c), 27);
}

TEST(SetPlotRangeTest, AHiddenSiteStaysHiddenInRange) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  c.sites[0].visible = 0; // Cl
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.0f));
  EXPECT_EQ(CountVisible(c), 14);
  EXPECT_EQ(ApplyRangeLimits(&c), 14);
}

TEST(SetPlotRangeTest, UnusableRangesAreRefusedWithTheStructureUntouched) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.0f));
  const float range[6] = {c.plotRange[0], c.plotRange[1], c.plotRange[2],
                          c.plotRange[3], c.plotRange[4], c.plotRange[5]};

  // A range whose atoms would pass the array limit: refused before the atoms
  // go, so the window keeps its structure.
  EXPECT_FALSE(ApplyCube(w.ref(), 0.0f, 1000.0f));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "No Memory for atoms");
  EXPECT_EQ(c.atomCount, 27);
  EXPECT_EQ(CountVisible(c), 27);
  EXPECT_EQ(c.na, 2);
  for (int k = 0; k < 6; k++)
    EXPECT_EQ(c.plotRange[k], range[k]);

  // Bounds that are not numbers change nothing.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(SetPlotRange(w.ref(), 0.0f, nan, 0.0f, 1.0f, 0.0f, 1.0f));
  EXPECT_FALSE(SetPlotRange(w.ref(), -std::numeric_limits<float>::infinity(), 1.0f, 0.0f, 1.0f, 0.0f, 1.0f));
  EXPECT_EQ(c.atomCount, 27);
  for (int k = 0; k < 6; k++)
    EXPECT_EQ(c.plotRange[k], range[k]);

  // No window, no structure.
  EXPECT_FALSE(SetPlotRange(nullptr, 0, 1, 0, 1, 0, 1));
}

TEST(SetPlotRangeTest, ProposedCountsEqualWhatApplyingTheRangeShows) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRutile(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 0.999f));
  std::mt19937 rng(11u);
  std::uniform_real_distribution<float> bound(-1.6f, 2.4f);
  // Fixed bounds that meet atoms exactly (0, 0.5, the O at 0.30478) and a
  // reversed range, then random ones.
  std::vector<std::array<float, 6>> ranges = {
      {0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f},
      {-0.5f, 0.5f, 0.0f, 0.5f, 0.5f, 1.0f},
      {0.30478f, 0.69522f, 0.0f, 2.0f, -1.0f, 1.0f},
      {0.7f, 0.2f, 0.0f, 1.0f, 0.0f, 1.0f},
  };
  for (int n = 0; n < 40; n++) {
    std::array<float, 6> r;
    for (float &v : r)
      v = bound(rng);
    for (int k = 0; k < 3; k++)
      if (r[2 * k] > r[2 * k + 1])
        std::swap(r[2 * k], r[2 * k + 1]);
    ranges.push_back(r);
  }
  for (const auto &r : ranges) {
    const float lo[3] = {r[0], r[2], r[4]};
    const float hi[3] = {r[1], r[3], r[5]};
    const int64_t proposed = CalculateNumAtomsInRange(&c, lo, hi);
    ASSERT_TRUE(SetPlotRange(w.ref(), r[0], r[1], r[2], r[3], r[4], r[5]));
    EXPECT_EQ(proposed, CountVisible(c)) << r[0] << " " << r[1] << " " << r[2] << " " << r[3] << " " << r[4] << " "
                                         << r[5];
  }
  // Large ranges are counted without atoms being made: 6 atoms per cell.
  const float lo[3] = {0.0f, 0.0f, 0.0f};
  const float hi[3] = {99.999f, 99.999f, 99.999f};
  EXPECT_EQ(CalculateNumAtomsInRange(&c, lo, hi), 6'000'000);
  const float nan[3] = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f};
  EXPECT_EQ(CalculateNumAtomsInRange(&c, nan, hi), 0);
}

TEST(SetPlotRangeTest, ReplotKeepsSiteModesAndLeavesMoleculesAlone) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRutile(c));
  bool nothing = false;
  TurboGetCoordinationNumbers(&c, &nothing);
  SetGivenPolyMode(c.sites[1], 7);
  SetGivenPolyMode(c.sites[0], 1);
  ASSERT_TRUE(ReplotWithPlotRange(w.ref(), 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f, true));
  EXPECT_EQ(ShownPolyMode(c.sites[1]), 7u);
  EXPECT_EQ(ShownPolyMode(c.sites[0]), 1u);
  EXPECT_TRUE(w.modified());
  EXPECT_GE(host.rulersDrawn.size(), 1u);                 // replotted
  EXPECT_NEAR(c.plotScale, 300.0f / c.plotExtent, 1e-3f); // fitted to the 300-pixel height

  // A molecule counts as done and is left as it is.
  CrystalRec &m = w.crystal();
  m.molecule = 1;
  const float before = m.plotRange[1];
  EXPECT_TRUE(ReplotWithPlotRange(w.ref(), 0.0f, 5.0f, 0.0f, 5.0f, 0.0f, 5.0f, false));
  EXPECT_EQ(m.plotRange[1], before);

  // A crystal without sites cannot be replotted.
  ClearCrystalRec(&m);
  EXPECT_FALSE(ReplotWithPlotRange(w.ref(), 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f, false));
}

// ---- Measuring ------------------------------------------------------------------------

TEST(DimensionPlotTest, CentreIsTheMeanAndExtentReachesTheFarthestSurface) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  c.showUnitCell = 0;
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.0f));
  float centre[3] = {9.0f, 9.0f, 9.0f};
  float extent = 0.0f;
  DimensionPlot(&c, centre, &extent);
  float middle[3];
  const float half[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, half, middle);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(centre[k], middle[k], 1e-4f);
  // The corners hold Na (radius 1.02) at half the cell diagonal.
  const float corner = 5.64f * std::sqrt(3.0f) / 2.0f;
  EXPECT_NEAR(extent, 2.0f * (corner + 1.02f), 1e-3f);

  // A vector tip beyond every atom sets the extent.
  const int32_t origin = AtomAt(c, 0.0f, 0.0f, 0.0f);
  ASSERT_GE(origin, 0);
  AppendBlankVector(&c);
  c.vectors[0].atom = static_cast<uint32_t>(origin);
  c.vectors[0].uvw[0] = c.vectors[0].uvw[1] = c.vectors[0].uvw[2] = -1.0f;
  DimensionPlot(&c, centre, &extent);
  EXPECT_NEAR(extent, 2.0f * 3.0f * corner, 1e-3f);
}

TEST(DimensionPlotTest, NothingPlottedKeepsCentreAndExtentAndTheFrameCountsAlone) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 1.0f));
  for (AtomRecord &a : c.atoms)
    a.visible = 0;
  c.showUnitCell = 0;
  float centre[3] = {1.0f, 2.0f, 3.0f};
  float extent = 7.0f;
  DimensionPlot(&c, centre, &extent);
  EXPECT_EQ(centre[0], 1.0f);
  EXPECT_EQ(centre[1], 2.0f);
  EXPECT_EQ(centre[2], 3.0f);
  EXPECT_EQ(extent, 7.0f);

  // With the cell shown its frame is measured: the mean of its points is the
  // cell centre and the corners, with the line width, set the extent.
  c.showUnitCell = 1;
  c.plotScale = 50.0f;
  DimensionPlot(&c, centre, &extent);
  ASSERT_GT(c.cellPointCount, 0);
  float middle[3];
  const float half[3] = {0.5f, 0.5f, 0.5f};
  MatMul(c.orientationMatrix, half, middle);
  for (int k = 0; k < 3; k++)
    EXPECT_NEAR(centre[k], middle[k], 1e-3f);
  const float corner = 5.64f * std::sqrt(3.0f) / 2.0f;
  EXPECT_NEAR(extent, 2.0f * (corner + 1.0f / 50.0f), 1e-3f);
}

TEST(IsAtomPlottedTest, ThePolyhedralModelShowsAtomsByTheirSitesModes) {
  CrystalRec c;
  const float cell[6] = {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(
      c, "P 1", cell, {{"A", "C", 0.5f, 0.5f, 0.5f}, {"B", "O", 0.6f, 0.5f, 0.5f}, {"C", "O", 0.4f, 0.5f, 0.5f}}));
  c.modelType = kPolyhedralModel;
  // A (mode 15) has its two neighbours, a polyhedron and a full bond count.
  SetGivenPolyMode(c.sites[0], 15);
  c.sites[0].coordination = 2;
  SetGivenPolyMode(c.sites[1], 1);
  SetGivenPolyMode(c.sites[2], 1);
  AddBondListEntry(&c, 0, 1);
  AddBondListEntry(&c, 0, 2);
  for (int s = 1; s < 3; s++)
    c.sites[static_cast<size_t>(s)].coordination = 1;
  EXPECT_FALSE(IsAtomPlotted(&c, 0)); // no polyhedron yet
  EXPECT_FALSE(IsAtomPlotted(&c, 1));
  {
    Polyhedron p = *CreatePolyhedron(1);
    c.atoms[0].polyhedron.Hold(std::move(p));
  }
  EXPECT_TRUE(IsAtomFullyVisiblyBonded(&c, 0));
  EXPECT_TRUE(IsAtomPlotted(&c, 0));
  EXPECT_TRUE(IsAtomPlotted(&c, 1)); // vertex of a whole polyhedron
  // A centre that misses a bond no longer carries its vertices.
  c.sites[0].coordination = 3;
  EXPECT_FALSE(IsAtomFullyVisiblyBonded(&c, 0));
  EXPECT_FALSE(IsAtomPlotted(&c, 1));
  // A vertex next to an atom drawn as a sphere is drawn.
  SetGivenPolyMode(c.sites[0], 2);
  EXPECT_TRUE(IsAtomPlotted(&c, 1));
  // Hidden atoms and sites never; outside the polyhedral model always.
  c.atoms[1].visible = 0;
  EXPECT_FALSE(IsAtomPlotted(&c, 1));
  c.atoms[1].visible = 1;
  c.sites[1].visible = 0;
  EXPECT_FALSE(IsAtomPlotted(&c, 1));
  c.sites[1].visible = 1;
  c.modelType = kBallAndStickModel;
  SetGivenPolyMode(c.sites[0], 15);
  c.atoms[0].polyhedron.Drop();
  EXPECT_TRUE(IsAtomPlotted(&c, 0));
  EXPECT_FALSE(IsAtomPlotted(&c, 3));
  EXPECT_FALSE(IsAtomPlotted(nullptr, 0));
}

TEST(DimensionPlotTest, FractionalRangeOfTheVisibleAtoms) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.25f, 1.75f));
  float lo[3], hi[3];
  GetAtomsXYZRange(&c, lo, hi);
  for (int k = 0; k < 3; k++) {
    EXPECT_FLOAT_EQ(lo[k], 0.5f);
    EXPECT_FLOAT_EQ(hi[k], 1.5f);
  }
  for (AtomRecord &a : c.atoms)
    a.visible = 0;
  GetAtomsXYZRange(&c, lo, hi);
  EXPECT_FLOAT_EQ(lo[0], 9999.9f);
  EXPECT_FLOAT_EQ(hi[0], -9999.9f);
}

TEST(PixelBoxTest, AtomsCellPointsAndVectorsWidenTheBox) {
  CrystalRec c;
  const float cell[6] = {10.0f, 10.0f, 10.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(c, "P 1", cell, {{"A", "C", 0.5f, 0.5f, 0.5f}, {"B", "O", 0.6f, 0.5f, 0.5f}}));
  int16_t l, r, t, b;
  c.plotScale = 10.0f;
  c.showUnitCell = 0;
  c.spheres[0].drawnRadius = 1.0f; // ceil(10) + 1 = 11
  c.spheres[1].drawnRadius = 0.1f; // ceil(1) + 1 = 2, raised to 5
  c.atoms[0].pixel[0] = 100;
  c.atoms[0].pixel[1] = 50;
  c.atoms[1].pixel[0] = 200;
  c.atoms[1].pixel[1] = 80;
  GetAtomsXpixRange(&c, &l, &r, &t, &b);
  EXPECT_EQ(l, 89);
  EXPECT_EQ(r, 205);
  EXPECT_EQ(t, 39);
  EXPECT_EQ(b, 85);

  // A selection adds room for its highlight; an image sets the half-size.
  c.atoms[1].selected = 1;
  c.spheres[0].image1 = std::make_shared<int>(0);
  c.spheres[0].bounds1 = Rect{0, 0, 31, 31}; // 15 + 1, and 2 more
  GetAtomsXpixRange(&c, &l, &r, &t, &b);
  EXPECT_EQ(l, 100 - 18);
  EXPECT_EQ(r, 200 + 7);

  // The cell frame of a crystal: trunc(ceil(2 x 2) + 3) = 7 around a point.
  c.atoms[1].selected = 0;
  c.showUnitCell = 1;
  c.unitCellLineWidth = 2.0f;
  c.cellPoints = *CreateCellPoints(1);
  c.cellPointCount = 1;
  c.cellPoints[0].pixel[0] = 400;
  c.cellPoints[0].pixel[1] = -20;
  GetAtomsXpixRange(&c, &l, &r, &t, &b);
  EXPECT_EQ(r, 407);
  EXPECT_EQ(t, -27);

  // A tailed vector widens the box at its tip and at the tip's mirror image.
  c.showUnitCell = 0;
  AppendBlankVector(&c);
  c.vectors[0].atom = 0;
  c.vectors[0].style = 2;
  c.vectors[0].headRadius = 0.5f; // 5 pixels
  c.vectors[0].tipPixel[0] = 100;
  c.vectors[0].tipPixel[1] = 150;
  GetAtomsXpixRange(&c, &l, &r, &t, &b);
  EXPECT_EQ(b, 155);
  EXPECT_EQ(t, -55);

  DestroyAtomsArray(&c);
  GetAtomsXpixRange(&c, &l, &r, &t, &b);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(t, 0);
  EXPECT_EQ(b, 0);
}

// ---- Scale --------------------------------------------------------------------------------

TEST(PlotScaleTest, ScaleChangesRefuseNonPositiveValuesAndCarryTheLabelSize) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  c.plotScale = 50.0f;
  c.labelSize = 10.0f;
  for (float bad : {0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    EXPECT_FALSE(DoChangePlotScale(&c, bad)) << bad;
    EXPECT_EQ(c.plotScale, 50.0f);
  }
  EXPECT_TRUE(DoChangePlotScale(&c, 100.0f));
  EXPECT_EQ(c.plotScale, 100.0f);
  EXPECT_FLOAT_EQ(c.labelSize, 20.0f);
  ASSERT_EQ(host.labelSizeFields.size(), 1u);
  EXPECT_FLOAT_EQ(host.labelSizeFields[0], 20.0f);
  EXPECT_TRUE(DoChangePlotScale(&c, 10000.0f));
  EXPECT_FLOAT_EQ(c.labelSize, 128.0f);
  EXPECT_TRUE(DoChangePlotScale(&c, 1.0f));
  EXPECT_FLOAT_EQ(c.labelSize, 1.0f);
  // Labels that do not follow the scale keep their size.
  c.labelSizeFollowsScale = 0;
  c.labelSize = 12.0f;
  EXPECT_TRUE(DoChangePlotScale(&c, 3.0f));
  EXPECT_FLOAT_EQ(c.labelSize, 12.0f);
  // Nor do they follow from a scale of 0.
  c.labelSizeFollowsScale = 1;
  c.plotScale = 0.0f;
  EXPECT_TRUE(DoChangePlotScale(&c, 40.0f));
  EXPECT_FLOAT_EQ(c.labelSize, 12.0f);
  EXPECT_FALSE(DoChangePlotScale(nullptr, 1.0f));
}

TEST(PlotScaleTest, TheScaleFitsTheSmallerPaneSideAndSideBySideStereoHalvesTheWidth) {
  FakeHost host;
  TestWindow w(host, 400, 300);
  CrystalRec &c = w.crystal();
  c.plotExtent = 10.0f;
  AutoSetScale(w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 30.0f);
  c.stereoOn = 1;
  c.stereoMode = kSideBySideStereo;
  AutoSetScale(w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 20.0f);
  c.stereoMode = kRedBlueStereo;
  AutoSetScale(w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 30.0f);
  // A pane without size or a structure without extent leaves the scale.
  c.plotExtent = 0.0f;
  AutoSetScale(w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 30.0f);
  c.plotExtent = 10.0f;
  host.graphPanes[w.ref()] = Rect{};
  AutoSetScale(w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 30.0f);
}

TEST(PlotScaleTest, AResizeScalesByTheRatioOfThePaneDiagonals) {
  FakeHost host;
  TestWindow w(host, 800, 600);
  CrystalRec &c = w.crystal();
  c.plotScale = 10.0f;
  AdjustScaleToWindowBounds(&c, 400, 300, w.ref()); // diagonal 500 -> 1000
  EXPECT_FLOAT_EQ(c.plotScale, 20.0f);
  AdjustScaleToWindowBounds(&c, 0, 300, w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 20.0f);
  c.stereoOn = 1;
  c.stereoMode = kSideBySideStereo;
  host.graphPanes[w.ref()] = Rect{0, 0, 300, 800}; // the new width counts as 400
  AdjustScaleToWindowBounds(&c, 400, 300, w.ref());
  EXPECT_FLOAT_EQ(c.plotScale, 20.0f);
  c.plotScale = 0.0f;
  AdjustScaleToWindowBounds(&c, 100, 100, w.ref());
  EXPECT_EQ(c.plotScale, 0.0f);
}

// ---- The cluster --------------------------------------------------------------------------

TEST(ClusterTest, AShellAroundAnAtomKeepsItsNeighboursAndSelectsTheCentre) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_TRUE(ApplyCube(w.ref(), 0.0f, 0.999f));
  const float before = c.plotScale;

  // Around the Cl at the cell centre out to 2.9 A: the six Na at 2.82 A.
  float centre[3] = {0.5f, 0.5f, 0.5f};
  DrawCluster(w.ref(), centre, 0.0f, 2.9f, true, true);
  EXPECT_EQ(gShowProgress, 0);
  EXPECT_EQ(c.showUnitCell, 0);
  // The range -0.014 .. 1.014 moved up by one cell; so did the centre.
  EXPECT_NEAR(centre[0], 1.5f, 1e-5f);
  EXPECT_EQ(CountVisible(c), 7);
  ASSERT_EQ(CountNumSelectedAtoms(&c), 1);
  const int32_t middle = AtomAt(c, 1.5f, 1.5f, 1.5f);
  ASSERT_GE(middle, 0);
  EXPECT_EQ(c.atoms[static_cast<size_t>(middle)].selected, 1);
  EXPECT_NE(c.plotScale, before); // fitted to what remains
  EXPECT_TRUE(w.modified());

  // The second shell alone: twelve Cl at 3.99 A.
  float again[3] = {0.5f, 0.5f, 0.5f};
  DrawCluster(w.ref(), again, 3.0f, 4.0f, false, false);
  EXPECT_EQ(CountVisible(c), 13); // the twelve and the centre, not selected
  EXPECT_EQ(CountNumSelectedAtoms(&c), 0);

  // Nothing around the centre: the scale is put back.
  c.plotScale = 42.0f;
  float lonely[3] = {0.5f, 0.5f, 0.5f};
  DrawCluster(w.ref(), lonely, 0.0f, 1.0f, false, false);
  EXPECT_EQ(CountVisible(c), 1);
  EXPECT_FLOAT_EQ(c.plotScale, 42.0f);

  // A cell without d-spacings has no box to cut: nothing changes.
  c.showUnitCell = 1;
  c.a = 0.0f;
  float nowhere[3] = {0.5f, 0.5f, 0.5f};
  DrawCluster(w.ref(), nowhere, 0.0f, 3.0f, true, false);
  EXPECT_EQ(c.showUnitCell, 1);
  EXPECT_EQ(CountVisible(c), 1);
  EXPECT_EQ(nowhere[0], 0.5f);
  EXPECT_EQ(gShowProgress, 0);
}

// ---- Visibility and selection across a rebuild ----------------------------------------------

namespace {

// The matching as the record describes it: each visible atom takes the first
// entry not yet taken with its label and every coordinate within 0.0001.
void ReferenceRestore(CrystalRec &c, std::vector<AtomVisibilityEntry> saved) {
  for (AtomRecord &atom : c.atoms) {
    if (!atom.visible)
      continue;
    const char *label = c.sites[atom.site].label;
    bool found = false;
    for (AtomVisibilityEntry &e : saved) {
      if (e.used || std::strncmp(e.label, label, kSiteLabelSize) != 0)
        continue;
      bool near = true;
      for (int k = 0; k < 3; k++)
        near = near && std::fabs(e.cart[k] - atom.cart[k]) <= kVisibilityTolerance;
      if (!near)
        continue;
      atom.selected = e.selected;
      e.used = 1;
      found = true;
      break;
    }
    if (!found)
      atom.visible = 0;
  }
}

} // namespace

TEST(VisibilityRestoreTest, TheIndexedMatchGivesExactlyTheResultsOfTheFullScan) {
  std::mt19937 rng(3u);
  for (int round = 0; round < 20; round++) {
    // Few labels and few distinct places, so that labels repeat, atoms
    // coincide and neighbours sit right at the tolerance.
    CrystalRec c;
    const int32_t sites = 3;
    c.sites = *CreateAsymmetricUnit(sites);
    c.siteCount = sites;
    for (int32_t s = 0; s < sites; s++)
      std::snprintf(c.sites[static_cast<size_t>(s)].label, kSiteLabelSize, "X%d", static_cast<int>(s % 2));
    const int32_t n = 400;
    c.atoms = *CreateAtomsArray(n, 0, 0, 0);
    c.atomCount = n;
    // Places drawn from a small pool of positions, so that atoms coincide;
    // half of the pool's coordinates lie on the edges of the index's buckets
    // (64 tolerances), and every atom is moved by a hair before saving, so
    // that entries of one place fall on both sides of an edge.
    std::uniform_real_distribution<float> anywhere(-3.0f, 3.0f);
    std::vector<std::array<float, 3>> pool(12);
    for (size_t p = 0; p < pool.size(); p++)
      for (float &v : pool[p]) {
        v = anywhere(rng);
        if (p % 2 == 0)
          v = static_cast<float>(std::round(v / 0.0064f)) * 0.0064f;
      }
    std::uniform_int_distribution<int> place(0, 11), pick(0, 9), siteOf(0, sites - 1);
    const float offsets[] = {0.0f, 0.00009f, -0.00009f, 0.0001f, 0.00011f, -0.00012f, 0.00005f};
    std::uniform_int_distribution<int> offset(0, 6);
    for (AtomRecord &a : c.atoms) {
      a.site = static_cast<uint32_t>(siteOf(rng));
      const auto &at = pool[static_cast<size_t>(place(rng))];
      for (int k = 0; k < 3; k++)
        a.cart[k] = at[static_cast<size_t>(k)] + offsets[offset(rng)] / 2.0f;
      a.visible = pick(rng) != 0;
      a.selected = pick(rng) < 4;
    }
    c.atoms[0].cart[1] = std::numeric_limits<float>::quiet_NaN();
    int32_t count = 0;
    auto saved = SaveAtomsVisibilityAndSelection(&c, &count);
    ASSERT_EQ(count, static_cast<int32_t>(saved.size()));
    // The rebuilt structure: atoms reordered, moved by small amounts,
    // relabelled here and there, their visibility and selection reset.
    std::shuffle(c.atoms.begin(), c.atoms.end(), rng);
    for (AtomRecord &a : c.atoms) {
      a.cart[pick(rng) % 3] += offsets[offset(rng)];
      a.visible = pick(rng) != 0;
      a.selected = 0;
      if (pick(rng) == 0)
        a.site = static_cast<uint32_t>(siteOf(rng));
    }
    CrystalRec expected = c;
    ReferenceRestore(expected, saved);
    RestoreAtomsVisibilityAndSelection(&c, saved, count);
    EXPECT_TRUE(saved.empty());
    for (int32_t k = 0; k < n; k++) {
      ASSERT_EQ(c.atoms[static_cast<size_t>(k)].visible, expected.atoms[static_cast<size_t>(k)].visible)
          << "round " << round << " atom " << k;
      ASSERT_EQ(c.atoms[static_cast<size_t>(k)].selected, expected.atoms[static_cast<size_t>(k)].selected)
          << "round " << round << " atom " << k;
    }
  }
}

TEST(VisibilityRestoreTest, EqualLabelsAtOnePlaceAreTakenInSavingOrder) {
  CrystalRec c;
  c.sites = *CreateAsymmetricUnit(1);
  c.siteCount = 1;
  std::snprintf(c.sites[0].label, kSiteLabelSize, "O1");
  c.atoms = *CreateAtomsArray(3, 0, 0, 0);
  c.atomCount = 3;
  c.atoms[0].selected = 1;
  c.atoms[2].selected = 1;
  int32_t count = 0;
  auto saved = SaveAtomsVisibilityAndSelection(&c, &count);
  for (AtomRecord &a : c.atoms)
    a.selected = 0;
  c.atoms.push_back(c.atoms[0]); // a fourth atom finds every entry taken
  c.atomCount = 4;
  RestoreAtomsVisibilityAndSelection(&c, saved, count);
  EXPECT_EQ(c.atoms[0].selected, 1);
  EXPECT_EQ(c.atoms[1].selected, 0);
  EXPECT_EQ(c.atoms[2].selected, 1);
  EXPECT_EQ(c.atoms[3].visible, 0);
}
