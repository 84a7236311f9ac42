// Whole-structure transformations: molecule to crystal and back, bending,
// inserting space at the lattice plane, slicing and the plane's display.

#include "StructureWindowFixture.h"

#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "LatticePlanes.h"
#include "StructureTransforms.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace viewtest;

namespace {

// A bent triatomic molecule built by the molecule pipeline, with its bonds.
void BuildTriatomic(TestWindow &w) {
  CrystalRec &c = w.crystal();
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  const float cart[3][3] = {{0, 0, 0}, {0.96f, 0, 0}, {-0.24f, 0.93f, 0}};
  const char *labels[3] = {"O1", "H1", "H2"};
  c.sites = *CreateAsymmetricUnit(3);
  c.atoms.resize(3);
  for (int k = 0; k < 3; k++) {
    AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
    std::snprintf(s.label, sizeof s.label, "%s", labels[k]);
    s.elements[0] = Element(k == 0 ? "O" : "H");
    s.occupancies[0] = 1.0f;
    s.firstAtom = s.lastAtom = k;
    s.atomsPerCell = 1;
    AtomRecord &a = c.atoms[static_cast<size_t>(k)];
    a.site = static_cast<uint32_t>(k);
    std::copy(cart[k], cart[k] + 3, a.cart);
    std::copy(cart[k], cart[k] + 3, a.xyz);
  }
  c.siteCount = c.atomCount = c.atomsPerCell = 3;
  c.bondSpecCount = 1;
  c.bondSpecs[0] = BondSpec{Element("O"), Element("H"), 0.5f, 1.2f, 1, {}, {}};
  ASSERT_TRUE(RunNewMolecule(w.ref(), false, true, true, true));
}

float Distance(const CrystalRec &c, int32_t i, int32_t j) {
  return VecBondDist(c.atoms[static_cast<size_t>(i)].cart, c.atoms[static_cast<size_t>(j)].cart);
}

// The first atom of the site with the label.
int32_t AtomOfSite(const CrystalRec &c, const char *label) {
  for (int32_t s = 0; s < c.siteCount; s++)
    if (std::string(c.sites[static_cast<size_t>(s)].label) == label)
      return c.sites[static_cast<size_t>(s)].firstAtom;
  return -1;
}

TEST(StructureTransforms, MoleculeToCrystalAndBackKeepsTheShape) {
  FakeHost host;
  TestWindow w(host);
  BuildTriatomic(w);
  CrystalRec &c = w.crystal();
  const float oh = Distance(c, AtomOfSite(c, "O1"), AtomOfSite(c, "H1"));
  const float hh = Distance(c, AtomOfSite(c, "H1"), AtomOfSite(c, "H2"));
  float extents[3];
  ASSERT_TRUE(GetMoleculeExtents(c, extents));
  EXPECT_NEAR(extents[0], 1.2f, 1e-5f);
  EXPECT_NEAR(extents[2], kMinMoleculeExtent, 1e-6f); // flat molecule

  EXPECT_FALSE(MoleculeToCrystal(w.ref(), 10, 11, 12, 90, 90, 0, false));
  EXPECT_EQ(c.molecule, 1);
  ASSERT_TRUE(MoleculeToCrystal(w.ref(), 10, 11, 12, 90, 90, 90, false));
  EXPECT_EQ(c.molecule, 0);
  EXPECT_STREQ(c.spaceGroup, "P 1");
  EXPECT_FLOAT_EQ(c.b, 11);
  EXPECT_TRUE(c.showUnitCell);
  EXPECT_TRUE(w.modified());
  // a runs along the screen's x axis; the molecule sits at the cell centre.
  const float axisA[3] = {1, 0, 0};
  float onScreen[3];
  MatMul(c.orientationMatrix, axisA, onScreen);
  EXPECT_GT(onScreen[0], 9.99f);
  EXPECT_NEAR(onScreen[1], 0.0f, 1e-3f);
  float mean[3] = {0, 0, 0};
  for (int s = 0; s < 3; s++)
    for (int m = 0; m < 3; m++)
      mean[m] += c.sites[static_cast<size_t>(s)].xyz[m] / 3.0f;
  for (float v : mean)
    EXPECT_NEAR(v, 0.5f, 1e-4f);
  const int32_t o = AtomOfSite(c, "O1"), h1 = AtomOfSite(c, "H1"), h2 = AtomOfSite(c, "H2");
  EXPECT_NEAR(Distance(c, o, h1), oh, 1e-4f);
  EXPECT_NEAR(Distance(c, h1, h2), hh, 1e-4f);

  // Back to a molecule of the visible atoms only.
  for (AtomRecord &a : c.atoms)
    a.visible = 0;
  c.atoms[static_cast<size_t>(o)].visible = 1;
  c.atoms[static_cast<size_t>(h1)].visible = 1;
  c.derived.Note(kChangeAtoms);
  CrystalToMolecule(w.ref());
  ASSERT_EQ(c.molecule, 1);
  ASSERT_EQ(c.atomCount, 2);
  EXPECT_EQ(c.siteCount, 2);
  EXPECT_EQ(c.showUnitCell, 0);
  EXPECT_NEAR(Distance(c, 0, 1), oh, 1e-4f);
  EXPECT_EQ(c.atoms[0].bondCount + c.atoms[1].bondCount, 2u); // the O-H bond, both ways
  EXPECT_EQ(c.sites[0].coordination + c.sites[1].coordination, 2u);
}

TEST(StructureTransforms, BendProposalAndBend) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  const float cell[6] = {20, 20, 20, 90, 90, 90};
  ASSERT_TRUE(BuildFirstCell(
      c, "P 1", cell, {{"C1", "C", 0.1f, 0.5f, 0.5f}, {"C2", "C", 0.35f, 0.5f, 0.5f}, {"C3", "C", 0.6f, 0.5f, 0.5f}}));
  // Screen axes along the cell's, 20 A to the cell edge.
  const float O[9] = {20, 0, 0, 0, 20, 0, 0, 0, 20};
  std::copy(O, O + 9, c.orientationMatrix);
  for (AtomRecord &a : c.atoms)
    MatMul(O, a.xyz, a.cart);
  EXPECT_EQ(ProposeBendRadius(c), 0.0f);
  c.atoms[0].selected = 1;
  EXPECT_FALSE(DoBendLattice(w.ref(), 5.0f)); // one atom
  c.atoms[2].selected = 1;
  EXPECT_NEAR(ProposeBendRadius(c), 10.0 / (2 * std::numbers::pi), 1e-4);
  const float middle[3] = {c.atoms[1].cart[0], c.atoms[1].cart[1], c.atoms[1].cart[2]};
  const float y0 = c.atoms[0].cart[1];
  ASSERT_TRUE(DoBendLattice(w.ref(), 10.0f));
  EXPECT_TRUE(w.modified());
  // The ends come together and down, then all is lifted by the drop: the
  // ends keep their height, the unselected middle atom stays.
  EXPECT_NEAR(c.atoms[0].cart[1], y0, 1e-4f);
  EXPECT_NEAR(c.atoms[0].cart[0] - c.atoms[2].cart[0], -2 * 10 * std::sin(0.5), 1e-4);
  EXPECT_EQ(c.atoms[1].cart[0], middle[0]);
}

TEST(StructureTransforms, InsertSpaceOpensTheCellAtThePlane) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  const float cell[6] = {4, 5, 6, 90, 90, 90};
  FillCrystalFromSites(c, cell, "P 1", {{"O1", "O", .3f, .3f, .2f}, {"O2", "O", .3f, .3f, .7f}});
  ASSERT_TRUE(RunNewCrystal(w.ref(), true, true, true));
  float lowest = 0;
  EXPECT_FALSE(PrepareInsertSpace(w.ref(), &lowest));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Please display the lattice plane");

  c.plane.hkl[0] = c.plane.hkl[1] = 0;
  c.plane.hkl[2] = 1;
  ShowHideLatticePlane(w.ref(), true);
  ASSERT_TRUE(c.plane.shown);
  ASSERT_TRUE(PrepareInsertSpace(w.ref(), &lowest));
  EXPECT_LT(lowest, 0.0f);
  const size_t alerts = host.alerts.size();
  EXPECT_FALSE(InsertSpace(w.ref(), -6.5f)); // c would be -0.5 A
  ASSERT_EQ(host.alerts.size(), alerts + 1);
  EXPECT_EQ(host.alerts.back().message, "Error in cell parameter");
  EXPECT_FLOAT_EQ(c.c, 6);

  ASSERT_TRUE(InsertSpace(w.ref(), 2.0f));
  EXPECT_FLOAT_EQ(c.c, 8);
  EXPECT_FLOAT_EQ(c.a, 4);
  EXPECT_FALSE(c.plane.shown);
  // O1 stays 1.2 A above the origin; O2, beyond the plane, moves 2 A up.
  EXPECT_NEAR(c.sites[0].xyz[2] * c.c, 1.2f, 1e-4f);
  EXPECT_NEAR(c.sites[1].xyz[2] * c.c, 6.2f, 1e-4f);
  EXPECT_NEAR(c.sites[1].xyz[0], 0.3f, 1e-5f);
  EXPECT_TRUE(w.modified());
}

TEST(StructureTransforms, SliceSelectsTheSmallerSide) {
  for (int negatives : {3, 7}) {
    CrystalRec c;
    c.atoms.resize(10);
    for (int k = 0; k < 10; k++)
      c.atoms[static_cast<size_t>(k)].cart[0] = k < negatives ? -1.0f - k : 1.0f + k;
    c.atomCount = 10;
    SortIndexOfVisibleAtoms(c);
    c.plane.viewNormal[0] = 1.0f; // positive distances are at negative x
    EXPECT_EQ(SelectSliceSide(c), 3);
    for (int k = 0; k < 10; k++)
      EXPECT_EQ(c.atoms[static_cast<size_t>(k)].selected, negatives == 3 ? k < 3 : k >= 7) << negatives << " " << k;
  }
}

TEST(StructureTransforms, HidingThePlaneLeavesThePlaneTool) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  ShowHideLatticePlane(w.ref(), true);
  EXPECT_TRUE(w.crystal().plane.shown);
  gCurrentTool = kLatticePlaneTool;
  ToggleLatticePlane(w.ref());
  EXPECT_FALSE(w.crystal().plane.shown);
  EXPECT_EQ(gCurrentTool, kRotateTool);
  EXPECT_TRUE(w.modified());

  LatticePlaneSheetRecord r = MakeLatticePlaneSheetRecord(w.crystal());
  r.hkl[0] = 1;
  r.hkl[1] = r.hkl[2] = 0;
  r.opacity = 0.8f;
  DoShowLatticePlane(w.ref(), r);
  EXPECT_TRUE(w.crystal().plane.shown);
  EXPECT_NEAR(w.crystal().plane.transparency, 0.2f, 1e-6f);
  EXPECT_EQ(w.crystal().plane.hkl[0], 1.0f);
}

TEST(StructureTransforms, AutomaticBondsReplaceTheSpecifications) {
  FakeHost host;
  TestWindow w(host);
  BuildTriatomic(w);
  CrystalRec &c = w.crystal();
  c.bondSpecCount = 0;
  for (AtomRecord &a : c.atoms) {
    a.bonds.clear();
    a.bondCount = 0;
  }
  ForgetWindowChanges(w.ref());
  OVClearWindowModified(w.ref());
  AutoGenerateBonds(w.ref());
  EXPECT_GT(c.bondSpecCount, 0);
  EXPECT_EQ(c.atoms[0].bondCount, 2u);
  EXPECT_TRUE(w.modified());
}

} // namespace
