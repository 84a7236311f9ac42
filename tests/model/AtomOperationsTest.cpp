// Atom operations: finding atoms by element and position, hiding atoms,
// sites and polyhedra, moving crystal atoms across cell faces, and appending
// molecule atoms.

#include "StructureWindowFixture.h"

#include "AtomOperations.h"
#include "ElementTable.h"

#include <gtest/gtest.h>

using namespace viewtest;

namespace {

// A molecule of `n` carbon atoms along x, 1.5 A apart, one site each.
void CarbonChain(CrystalRec &c, int n) {
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(identity, identity + 9, c.orientationMatrix);
  c.spheres = *CreateSpheresArray(1);
  c.spheres[0].element = Element("C");
  c.sphereCount = 1;
  c.sites = *CreateAsymmetricUnit(n);
  c.atoms.resize(static_cast<size_t>(n));
  for (int k = 0; k < n; k++) {
    AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
    s.elements[0] = Element("C");
    s.firstAtom = s.lastAtom = k;
    s.atomsPerCell = 1;
    AtomRecord &a = c.atoms[static_cast<size_t>(k)];
    a.site = static_cast<uint32_t>(k);
    a.xyz[0] = a.cart[0] = 1.5f * static_cast<float>(k);
  }
  c.siteCount = c.atomCount = c.atomsPerCell = n;
}

} // namespace

TEST(AtomOperations, FindAtomWithSymbolAndCoordinatesNeedsLessThanAThousandth) {
  CrystalRec c;
  CarbonChain(c, 3);
  int32_t atom = -1;
  const float near[3] = {3.0f, 0.0009f, 0.0f}, atLimit[3] = {3.0f, 0.001f, 0.0f};
  EXPECT_TRUE(FindAtomWithSymbolAndCoordinates(&c, Element("C"), near, &atom));
  EXPECT_EQ(atom, 2);
  EXPECT_FALSE(FindAtomWithSymbolAndCoordinates(&c, Element("C"), atLimit, &atom));
  EXPECT_FALSE(FindAtomWithSymbolAndCoordinates(&c, Element("N"), near, &atom));
  c.atoms[1].cart[0] = 3.0f; // two atoms at one place: the first wins
  EXPECT_TRUE(FindAtomWithSymbolAndCoordinates(&c, Element("C"), near, &atom));
  EXPECT_EQ(atom, 1);
}

TEST(AtomOperations, HidingAtomsSitesAndPolyhedra) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRutile(c));
  ASSERT_GT(c.atomCount, 3);
  // Every atom of a site hidden hides the site; showing one shows it again.
  const AsymmetricUnitRecord &ti = c.sites[1];
  for (int32_t k = ti.firstAtom; k <= ti.lastAtom; k++) {
    EXPECT_EQ(c.sites[1].visible, 1);
    c.atoms[static_cast<size_t>(k)].selected = 1;
    HideAtom(&c, k);
    EXPECT_EQ(c.atoms[static_cast<size_t>(k)].selected, 0);
  }
  EXPECT_EQ(c.sites[1].visible, 0);
  ShowAtom(&c, ti.firstAtom);
  EXPECT_EQ(c.sites[1].visible, 1);

  // A polyhedron: centre 0 with vertices 1 and 2. Vertex 1 is also bonded
  // to atom 3, which is selected: zapping keeps vertex 1, hiding the
  // selection does not.
  for (AtomRecord &a : c.atoms) {
    a.visible = 1;
    a.bonds.clear();
    a.bondCount = 0;
  }
  auto bond = [&](uint32_t i, uint32_t j) {
    c.atoms[i].bonds.push_back(j);
    c.atoms[i].bondCount++;
    c.atoms[j].bonds.push_back(i);
    c.atoms[j].bondCount++;
  };
  bond(0, 1);
  bond(0, 2);
  bond(1, 3);
  c.atoms[3].selected = 1;
  Polyhedron poly;
  poly.centreAtom = 0;
  poly.vertexCount = 2;
  poly.faceCount = 1;
  poly.faces = {PolyFace{2, {1, 2}}};
  HideZappedPoly(&c, &poly);
  EXPECT_EQ(c.atoms[0].visible, 0);
  EXPECT_EQ(c.atoms[1].visible, 1);
  EXPECT_EQ(c.atoms[2].visible, 0);
  c.atoms[0].visible = c.atoms[1].visible = c.atoms[2].visible = 1;
  HideSelectedPoly(&c, &poly);
  EXPECT_EQ(c.atoms[1].visible, 0);
  for (AtomRecord &a : c.atoms) {
    a.bonds.clear();
    a.bondCount = 0;
  }
}

TEST(AtomOperations, CrystalAtomMovedAcrossACellFaceKeepsItsCell) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.9f, 0.5f, 0.5f}}));
  ASSERT_EQ(c.atomCount, 1);
  c.atoms[0].selected = 1;
  // 1 A along a, in Cartesian terms.
  float frac[3] = {0.2f, 0.0f, 0.0f}, delta[3];
  MatMul(c.orientationMatrix, frac, delta);
  MoveSelectedAtoms(w.ref(), delta);
  EXPECT_NEAR(c.atoms[0].xyz[0], 0.1f, 1e-5); // wrapped into its own cell
  EXPECT_NEAR(c.sites[0].xyz[0], 0.1f, 1e-5);
  EXPECT_NEAR(c.atoms[0].xyz[1], 0.5f, 1e-5);
  float cart[3];
  MatMul(c.orientationMatrix, c.atoms[0].xyz, cart);
  EXPECT_NEAR(cart[0], c.atoms[0].cart[0], 1e-4);
}

TEST(AtomOperations, AddAtomsAppendsLabelledSitesToMoleculesOnly) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  CarbonChain(c, 2);
  const float points[6] = {0.0f, 1.0f, 0.0f, 3.0f, 1.0f, 0.0f};
  ASSERT_TRUE(AddAtomsWithSymbolAtPoints(w.ref(), Element("He"), points, 2, true));
  ASSERT_EQ(c.atomCount, 4);
  ASSERT_EQ(c.sphereCount, 2); // a new type for the new element
  EXPECT_EQ(c.spheres[0].element, Element("C")); // the carbons keep theirs
  const ElementData *helium = nullptr;
  for (const ElementData &row : kFactoryElementData)
    if (!helium && row.element == Element("He"))
      helium = &row;
  ASSERT_NE(helium, nullptr);
  EXPECT_EQ(c.spheres[1].element, Element("He"));
  EXPECT_EQ(c.spheres[1].radius, helium->radius);
  EXPECT_EQ(c.spheres[1].colour, helium->colour);
  EXPECT_EQ(c.sites[3].atomType, 1u);
  EXPECT_STREQ(c.sites[3].label, "He4");
  EXPECT_EQ(c.atoms[3].site, 3u);
  EXPECT_EQ(c.atoms[3].selected, 1);
  EXPECT_FLOAT_EQ(c.atoms[3].cart[0], 3.0f);
  EXPECT_EQ(c.sites[3].firstAtom, 3);

  char label[kSiteLabelSize];
  MakeNewSiteLabel(Element("He"), 123455, label); // past 99,999 atoms
  EXPECT_STREQ(label, "He12345");
  MakeNewSiteLabel(Element("C"), 8, label);
  EXPECT_STREQ(label, "C9");

  c.molecule = 0;
  EXPECT_FALSE(AddAtomsWithSymbolAtPoints(w.ref(), Element("C"), points, 1, false));
  EXPECT_EQ(c.atomCount, 4);
  DeselectAllObjects(&c);
  EXPECT_FALSE(CrystalHasSelectedAtoms(&c));
  c.molecule = 1;
}
