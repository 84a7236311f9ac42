// A polyhedron round the centroid of the selection: the new site's place in
// the site order and its images, the three bonding choices, and the moved
// indices of everything behind the new site.

#include "StructureWindowFixture.h"

#include "BuildPipeline.h"
#include "Geometry.h"
#include "PolyhedronFromSelection.h"

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

// Four O round the origin at 2.0 and 2.1 A, and one C further off.
void BuildSquare(TestWindow &w) {
  CrystalRec &c = w.crystal();
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  const float cart[5][3] = {{2.0f, 0, 0}, {-2.0f, 0, 0}, {0, 2.1f, 0}, {0, -2.1f, 0}, {0, 0, 3.0f}};
  const char *labels[5] = {"C1", "O1", "O2", "O3", "O4"};
  const int order[5] = {4, 0, 1, 2, 3}; // C first: sites sorted by element
  c.sites = *CreateAsymmetricUnit(5);
  c.atoms.resize(5);
  for (int k = 0; k < 5; k++) {
    AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
    std::snprintf(s.label, sizeof s.label, "%s", labels[k]);
    s.elements[0] = Element(k == 0 ? "C" : "O");
    s.occupancies[0] = 1.0f;
    s.firstAtom = s.lastAtom = k;
    AtomRecord &a = c.atoms[static_cast<size_t>(k)];
    a.site = static_cast<uint32_t>(k);
    std::copy(cart[order[k]], cart[order[k]] + 3, a.cart);
    std::copy(cart[order[k]], cart[order[k]] + 3, a.xyz);
  }
  c.siteCount = c.atomCount = c.atomsPerCell = 5;
  ASSERT_TRUE(RunNewMolecule(w.ref(), false, true, true, false));
}

void SelectOxygens(CrystalRec &c) {
  for (int k = 0; k < c.atomCount; k++)
    c.atoms[static_cast<size_t>(k)].selected = c.sites[c.atoms[static_cast<size_t>(k)].site].elements[0] == Element("O");
}

TEST(PolyhedronFromSelection, NewSpecificationsSpanTheSelectedDistances) {
  FakeHost host;
  TestWindow w(host);
  BuildSquare(w);
  CrystalRec &c = w.crystal();
  SelectOxygens(c);
  // A vector and a custom bond on the last O must follow it when it moves on.
  ASSERT_TRUE(DoMakePolyhedronFromSelection(w.ref(), "Centre123", "Zz", true, 1));
  EXPECT_EQ(gCentroidLabel, "Centre");
  ASSERT_EQ(c.siteCount, 6);
  // Zz sorts after C and O: the new site is last.
  EXPECT_STREQ(c.sites[5].label, "Centre");
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_NEAR(c.bondSpecs[0].minLength, 1.999f, 1e-4f);
  EXPECT_NEAR(c.bondSpecs[0].maxLength, 2.101f, 1e-4f);
  EXPECT_EQ(c.atoms[5].bondCount, 4u);
  EXPECT_TRUE(w.modified());
}

TEST(PolyhedronFromSelection, ASiteBeforeOthersMovesTheirIndicesOn) {
  FakeHost host;
  TestWindow w(host);
  BuildSquare(w);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(AddBondListEntry(&c, 0, 4)); // C1 - O4
  c.vectors.resize(1);
  c.vectors[0].atom = 4;
  c.vectorCount = 1;
  c.customBondSpecs.resize(1);
  c.customBondSpecs[0].atomA = 0;
  c.customBondSpecs[0].atomB = 4;
  c.customBondSpecCount = 1;
  SelectOxygens(c);
  // "B " sorts before C: every atom moves on by one.
  ASSERT_TRUE(DoMakePolyhedronFromSelection(w.ref(), "B1", "B", false, 3));
  ASSERT_EQ(c.atomCount, 6);
  EXPECT_STREQ(c.sites[0].label, "B1");
  EXPECT_EQ(c.atoms[0].site, 0u);
  EXPECT_EQ(c.atoms[5].site, 5u);
  EXPECT_EQ(c.vectors[0].atom, 5u);
  EXPECT_EQ(c.customBondSpecs[0].atomA, 1u);
  EXPECT_EQ(c.customBondSpecs[0].atomB, 5u);
  // C1 still bonds O4; the new atom bonds the four O only (choice 3).
  EXPECT_NE(std::find(c.atoms[1].bonds.begin(), c.atoms[1].bonds.end(), 5u), c.atoms[1].bonds.end());
  EXPECT_EQ(c.atoms[0].bondCount, 4u);
  for (uint32_t j : c.atoms[0].bonds)
    EXPECT_EQ(c.sites[c.atoms[j].site].elements[0], Element("O"));
  EXPECT_EQ(c.bondSpecCount, 0);
}

TEST(PolyhedronFromSelection, AFullBondListStopsAtItsLimit) {
  FakeHost host;
  TestWindow w(host);
  BuildSquare(w);
  CrystalRec &c = w.crystal();
  c.bondSpecCount = kMaxBondSpecs;
  SelectOxygens(c);
  ASSERT_TRUE(DoMakePolyhedronFromSelection(w.ref(), "Cen01", "Zz", true, 1));
  EXPECT_EQ(c.bondSpecCount, kMaxBondSpecs);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Bonds list is full!");
  EXPECT_EQ(host.alerts[0].explanation, "Maximum of 200 bond specifications");
}

TEST(PolyhedronFromSelection, OneSelectedAtomIsRefused) {
  FakeHost host;
  TestWindow w(host);
  BuildSquare(w);
  w.crystal().atoms[1].selected = 1;
  EXPECT_FALSE(DoMakePolyhedronFromSelection(w.ref(), "Cen01", "Zz", true, 1));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Cannot generate polyhedron for this selection");
  EXPECT_EQ(w.crystal().siteCount, 5);
}

TEST(PolyhedronFromSelection, OctahedralHoleOfCopperGetsOctahedraOnItsImages) {
  FakeHost host;
  TestWindow w(host);
  const float cell[6] = {3.615f, 3.615f, 3.615f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(w.crystal(), "F m -3 m", cell, {{"Cu1", "Cu", 0.0f, 0.0f, 0.0f, 1.28f}},
                             {{"Cu", "Cu", 2.4f, 2.6f}}));
  ASSERT_TRUE(SetPlotRange(w.ref(), -0.5f, 1.5f, -0.5f, 1.5f, -0.5f, 1.5f));
  CrystalRec &c = w.crystal();
  const float around[6][3] = {{0.5f, 0.5f, 0}, {0.5f, 0.5f, 1}, {0.5f, 0, 0.5f},
                              {0.5f, 1, 0.5f}, {0, 0.5f, 0.5f}, {1, 0.5f, 0.5f}};
  for (const auto &x : around) {
    const int32_t i = AtomAt(c, x[0], x[1], x[2]);
    ASSERT_GE(i, 0);
    c.atoms[static_cast<size_t>(i)].selected = 1;
  }
  ASSERT_TRUE(DoMakePolyhedronFromSelection(w.ref(), "Cen01", "Zz", true, 2));
  ASSERT_EQ(c.siteCount, 2);
  const AsymmetricUnitRecord &hole = c.sites[1];
  EXPECT_EQ(hole.atomsPerCell, 4); // Wyckoff 4b of F m -3 m
  EXPECT_EQ(hole.coordination, 6u);
  int complete = 0;
  for (int32_t i = hole.firstAtom; i <= hole.lastAtom; i++) {
    const AtomRecord &a = c.atoms[static_cast<size_t>(i)];
    int plottedNeighbours = 0; // counted by distance, not from the bonds
    for (int32_t j = 0; j < c.atomCount; j++)
      if (c.atoms[static_cast<size_t>(j)].site == 0 && c.atoms[static_cast<size_t>(j)].visible &&
          std::fabs(VecBondDist(a.cart, c.atoms[static_cast<size_t>(j)].cart) - 1.8075f) < 0.01f)
        ++plottedNeighbours;
    if (!a.visible || plottedNeighbours < 6)
      continue;
    ++complete;
    EXPECT_EQ(a.bondCount, 6u);
    ASSERT_TRUE(AtomPolyhedron(&c, a));
    EXPECT_EQ(AtomPolyhedron(&c, a)->faceCount, 8u);
  }
  EXPECT_GE(complete, 1);
}

} // namespace
