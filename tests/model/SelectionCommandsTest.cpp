// Selection commands: the molecule walks (order, long chains), extending,
// inverting and labelling the selection, centring, hiding and showing.

#include "StructureWindowFixture.h"

#include "AtomEditing.h"
#include "AtomOperations.h"
#include "SelectionCommands.h"

#include <gtest/gtest.h>

#include <functional>

using namespace viewtest;

namespace {

// A molecule of n carbon atoms, one site each, 1.5 A apart along x, with
// the given bonds (both directions recorded).
void Molecule(CrystalRec &c, int n, const std::vector<std::pair<int, int>> &bonds) {
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
  for (auto [i, j] : bonds) {
    c.atoms[static_cast<size_t>(i)].bonds.push_back(static_cast<uint32_t>(j));
    c.atoms[static_cast<size_t>(j)].bonds.push_back(static_cast<uint32_t>(i));
  }
  for (AtomRecord &a : c.atoms)
    a.bondCount = static_cast<uint32_t>(a.bonds.size());
  c.siteCount = c.atomCount = c.atomsPerCell = n;
}

std::vector<std::pair<int, int>> ChainBonds(int n) {
  std::vector<std::pair<int, int>> b;
  for (int k = 1; k < n; k++)
    b.emplace_back(k - 1, k);
  return b;
}

} // namespace

TEST(SelectionCommands, MoleculeWalkKeepsTheDepthFirstOrder) {
  // A branched graph with a ring: 0-1, 0-2, 1-3, 3-2, 2-4, 1-5; atom 5 hidden.
  CrystalRec c;
  Molecule(c, 6, {{0, 1}, {0, 2}, {1, 3}, {3, 2}, {2, 4}, {1, 5}});
  c.atoms[5].visible = 0;
  std::vector<int32_t> reference{0};
  std::function<void(int32_t)> visit = [&](int32_t i) {
    for (uint32_t j : c.atoms[static_cast<size_t>(i)].bonds)
      if (c.atoms[j].visible && std::find(reference.begin(), reference.end(), int32_t(j)) == reference.end()) {
        reference.push_back(static_cast<int32_t>(j));
        visit(static_cast<int32_t>(j));
      }
  };
  visit(0);
  std::vector<int32_t> list{0};
  GetAtomsInSameMolecule(c, 0, list);
  EXPECT_EQ(list, reference);
  EXPECT_EQ(list, (std::vector<int32_t>{0, 1, 3, 2, 4}));
  EXPECT_EQ(CountAtomsInSameMolecule(c, 4), 5);
  EXPECT_EQ(CountAtomsInSameMolecule(c, 6), 0);

  EXPECT_EQ(DoSelectAtomsInSameMolecule(c, 4), 5); // the start atom too: it is reached back over a bond
  EXPECT_EQ(c.atoms[5].selected, 0);
}

TEST(SelectionCommands, LongChainsAreWalkedWithoutRecursion) {
  constexpr int n = 200000;
  CrystalRec c;
  Molecule(c, n, ChainBonds(n));
  EXPECT_EQ(CountAtomsInSameMolecule(c, 0), n);
  c.atoms[n / 2].selected = 1;
  EXPECT_EQ(DoSelectRelations(c), n - 1);
  DeselectAllObjects(&c);
  EXPECT_EQ(DoSelectAtomsInSameMolecule(c, 0), n);
}

TEST(SelectionCommands, RelationsStopAtHiddenAtomsAndSites) {
  CrystalRec c;
  Molecule(c, 6, ChainBonds(6));
  c.atoms[3].visible = 0;
  c.sites[1].visible = 0; // a selected atom of a hidden site spreads nothing
  c.atoms[1].selected = 1;
  EXPECT_EQ(DoSelectRelations(c), 0);
  c.sites[1].visible = 1;
  EXPECT_EQ(DoSelectRelations(c), 2); // atoms 0 and 2; atom 3 is hidden
  EXPECT_EQ(c.atoms[0].selected + c.atoms[2].selected, 2);
  EXPECT_EQ(c.atoms[4].selected, 0);

  int64_t total = 0;
  EXPECT_TRUE(DoSelectNearestRelations(c, &total)); // visibility not tested: atom 3
  EXPECT_EQ(total, 4);
  EXPECT_EQ(c.atoms[3].selected, 1);
  EXPECT_EQ(c.atoms[4].selected, 0);
}

TEST(SelectionCommands, EntireMoleculeOfAnIsolatedAtomChangesNothing) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 4, {{0, 1}, {1, 2}});
  c.atoms[3].selected = 1;
  DoSelectEntireMolecule(w.ref());
  ASSERT_FALSE(host.subtitles.empty());
  EXPECT_EQ(host.subtitles.back().second, "No atoms bonded to existing selection");
  EXPECT_FALSE(w.modified());

  c.atoms[0].selected = 1;
  DoSelectEntireMolecule(w.ref());
  EXPECT_EQ(host.subtitles.back().second, "Total of 4 atoms selected (selection extended by 2 atoms)");
  EXPECT_TRUE(w.modified());
}

TEST(SelectionCommands, CommandsWithoutASelectionAreRefused) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 3, ChainBonds(3));
  SortIndexOfVisibleAtoms(c);
  for (auto command : {DoSelectNeighbours, DoSelectEntireMolecule, HideOtherAtoms, DoHideSelectedAtoms}) {
    host.alerts.clear();
    command(w.ref());
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].type, kAlertCautionAlert);
    EXPECT_EQ(host.alerts[0].message, "No atoms selected!");
    EXPECT_EQ(host.alerts[0].explanation, "Please select at least one atom (e.g., by using the arrow tool)");
  }
  DoCentreOnSelection(w.ref()); // nothing selected: nothing happens
  EXPECT_FLOAT_EQ(c.plotCentre[0], 0.0f);
  EXPECT_FALSE(w.modified());
  EXPECT_EQ(CountVisible(c), 3);
}

TEST(SelectionCommands, NeighboursCentreLabelsAndInversion) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 5, ChainBonds(5));
  SortIndexOfVisibleAtoms(c);
  c.atoms[2].selected = 1;
  DoSelectNeighbours(w.ref());
  EXPECT_EQ(host.subtitles.back().second, "Total of 3 atoms selected");
  float frac[3], cart[3];
  EXPECT_EQ(GetCentreOfSelection(c, frac, cart), 3);
  EXPECT_FLOAT_EQ(cart[0], 3.0f);
  DoCentreOnSelection(w.ref());
  EXPECT_FLOAT_EQ(c.plotCentre[0], 3.0f);

  c.atoms[1].labelled = 1; // one labelled, two not: all lose their labels
  ToggleSelectionLabels(w.ref());
  EXPECT_EQ(c.atoms[1].labelled + c.atoms[2].labelled + c.atoms[3].labelled, 0);
  ToggleSelectionLabels(w.ref());
  EXPECT_EQ(c.atoms[1].labelled + c.atoms[2].labelled + c.atoms[3].labelled, 3);
  EXPECT_EQ(c.atoms[0].labelled, 0);

  c.atoms[4].visible = 0;
  SortIndexOfVisibleAtoms(c); // a hidden atom is not plotted and keeps its flag
  DoInvertSelection(w.ref());
  EXPECT_EQ(c.atoms[0].selected, 1);
  EXPECT_EQ(c.atoms[2].selected, 0);
  EXPECT_EQ(c.atoms[4].selected, 0);
}

TEST(SelectionCommands, HidingAndShowingAtoms) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 4, ChainBonds(4));
  SortIndexOfVisibleAtoms(c);
  c.atoms[1].selected = 1;
  HideOtherAtoms(w.ref());
  EXPECT_EQ(CountVisible(c), 1);
  EXPECT_TRUE(w.modified());
  EXPECT_EQ(c.sites[0].visible, 0);
  ForgetWindowChanges(w.ref());
  DoHideSelectedAtoms(w.ref());
  EXPECT_EQ(CountVisible(c), 0);
  EXPECT_FALSE(CrystalHasSelectedAtoms(&c));
  EXPECT_TRUE(w.modified());
  ForgetWindowChanges(w.ref());
  ShowAllAtoms(w.ref());
  EXPECT_EQ(CountVisible(c), 4);
  EXPECT_EQ(c.sites[0].visible, 1);
  EXPECT_TRUE(w.modified());

  // A crystal shows a hidden atom only inside the plot range, bounds
  // included, and an atom one place with a face the range ends at.
  c.molecule = 0;
  c.atoms[0].xyz[0] = 0.0f;
  c.atoms[1].xyz[0] = 1.0001f;
  c.atoms[2].xyz[0] = 1.0002f;
  for (AtomRecord &a : c.atoms)
    a.visible = 0;
  ShowAllAtoms(w.ref());
  EXPECT_EQ(c.atoms[0].visible, 1);
  EXPECT_EQ(c.atoms[1].visible, 1);
  EXPECT_EQ(c.atoms[2].visible, 0);
  c.atoms[2].visible = 1;
  c.atoms[3].visible = 1;
  c.molecule = 1;
}

TEST(SelectionCommands, DetachingAndDeletingVectors) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 4, ChainBonds(4));
  c.atoms[1].selected = c.atoms[2].selected = 1;
  DetachSelectedAtoms(w.ref());
  EXPECT_EQ(c.atoms[0].bonds.size(), 0u);
  EXPECT_EQ(c.atoms[3].bonds.size(), 0u);
  ASSERT_EQ(c.atoms[1].bonds.size(), 1u); // the bond inside the selection stays
  EXPECT_EQ(c.atoms[1].bonds[0], 2u);
  EXPECT_TRUE(w.modified());

  // Two vectors on atom 0, one on atom 1; the selected one of atom 0 and
  // the one of atom 1 go.
  c.vectors.resize(3);
  c.vectorCount = 3;
  c.vectors[0].atom = 0;
  c.vectors[1].atom = 0;
  c.vectors[2].atom = 1;
  c.vectors[0].selected = c.vectors[2].selected = 1;
  c.atoms[0].hasVector = c.atoms[1].hasVector = 1;
  DeleteSelectedVectors(w.ref());
  ASSERT_EQ(c.vectorCount, 1);
  EXPECT_EQ(c.vectors[0].selected, 0);
  EXPECT_EQ(c.atoms[0].hasVector, 1);
  EXPECT_EQ(c.atoms[1].hasVector, 0);

  c.customBondSpecs.resize(1);
  c.customBondSpecCount = 1;
  c.customBondSpecs[0].atomA = 2;
  c.customBondSpecs[0].atomB = 1;
  int32_t index = -1;
  EXPECT_TRUE(FindCustomBond(c, 1, 2, &index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(FindCustomBond(c, 0, 1, &index));
}

TEST(SelectionCommands, RecolouredAtomsShareOneNewTypeOrKeepTheirOwn) {
  CrystalRec c;
  Molecule(c, 3, ChainBonds(3));
  const RGBColor blue{0, 0, 65535};
  c.atoms[0].selected = c.atoms[1].selected = 1;
  EXPECT_EQ(RecolourSelectedAtoms(c, blue), 2);
  ASSERT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.atoms[0].atomType, 1u);
  EXPECT_EQ(c.atoms[1].atomType, 1u);
  EXPECT_EQ(c.atoms[2].atomType, 0u);
  EXPECT_EQ(c.spheres[1].colour, blue);
  EXPECT_EQ(c.spheres[1].element, Element("C"));

  // Atom 0 alone uses type 1 now: its type is recoloured in place.
  c.atoms[1].atomType = 0;
  c.atoms[1].selected = 0;
  const RGBColor green{0, 65535, 0};
  EXPECT_EQ(RecolourSelectedAtoms(c, green), 1);
  EXPECT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.spheres[1].colour, green);
  // The site's own type is never rewritten: a new one is made.
  c.atoms[0].selected = 0;
  c.atoms[2].selected = 1;
  const RGBColor red{65535, 0, 0};
  EXPECT_EQ(RecolourSelectedAtoms(c, red), 1);
  EXPECT_EQ(c.sphereCount, 3);
  EXPECT_EQ(c.spheres[0].colour, (RGBColor{40000, 40000, 40000}));
  // Without counts the same answer comes from a scan.
  EXPECT_EQ(MakeCustomAtomSphere(c, 2, c.spheres[1].style, Element("C"), c.spheres[1].radius + 0.005f, green),
            c.spheres.data());
  EXPECT_EQ(c.atoms[2].atomType, 1u); // radius within 0.01: type 1 taken
}

TEST(SelectionCommands, MoleculeDuplicateKeepsTheBondsAmongTheCopies) {
  CrystalRec c;
  Molecule(c, 4, ChainBonds(4)); // 0-1-2-3
  c.atoms[1].selected = c.atoms[2].selected = 1;
  c.atoms[2].labelled = 1;
  const float offset[3] = {0.0f, 2.0f, 0.0f};
  ASSERT_EQ(DuplicateSelectedMoleculeAtoms(c, offset), 2);
  ASSERT_EQ(c.atomCount, 6);
  ASSERT_EQ(c.siteCount, 6);
  EXPECT_EQ(c.atoms[1].selected + c.atoms[2].selected, 0);
  const AtomRecord &d1 = c.atoms[4], &d2 = c.atoms[5];
  EXPECT_EQ(d1.selected + d2.selected, 2);
  EXPECT_EQ(d2.labelled, 1);
  EXPECT_FLOAT_EQ(d1.cart[0], 1.5f);
  EXPECT_FLOAT_EQ(d1.cart[1], 2.0f);
  EXPECT_FLOAT_EQ(d1.xyz[1], 2.0f);
  EXPECT_EQ(d1.bonds, std::vector<uint32_t>{5}); // not to atom 0: it was not selected
  EXPECT_EQ(d2.bonds, std::vector<uint32_t>{4});
  EXPECT_EQ(d1.site, 4u);
  EXPECT_EQ(c.sites[5].firstAtom, 5);
  EXPECT_EQ(DuplicateSelectedMoleculeAtoms(c, offset), 2); // the copies are the selection now
  c.atoms.resize(6);
  c.sites.resize(6);
  c.atomCount = c.siteCount = c.atomsPerCell = 6;
  DeselectAllObjects(&c);
  EXPECT_EQ(DuplicateSelectedMoleculeAtoms(c, offset), 0);
}

TEST(SelectionCommands, ChangeAtomColourAsksAndCancelChangesNothing) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 3, ChainBonds(3));
  c.atoms[1].selected = 1;
  DoChangeAtomColour(w.ref()); // cancelled
  EXPECT_EQ(c.sphereCount, 1);
  EXPECT_FALSE(w.modified());
  const RGBColor blue{0, 0, 65535};
  host.pickedColors.push_back(blue);
  DoChangeAtomColour(w.ref());
  ASSERT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.spheres[c.atoms[1].atomType].colour, blue);
  EXPECT_EQ(c.spheres[c.atoms[0].atomType].colour, (RGBColor{40000, 40000, 40000}));
  EXPECT_TRUE(w.modified());
}

// Selecting, labelling and recolouring atoms changes nothing the site
// roles and polyhedra are made from, so the polyhedra a save made stay
// held for the next; hiding atoms does.
TEST(SelectionCommands, OnlyCommandsThatChangeTheAtomsTellAChange) {
  const struct {
    const char *name;
    std::function<void(WindowRef)> command;
    bool tells;
  } rows[] = {
      {"neighbours", DoSelectNeighbours, false},
      {"molecule", DoSelectEntireMolecule, false},
      {"related sites", DoSelectSymmetryRelatedSites, false},
      {"everything", [](WindowRef window) { DoSelectPlot(window, true, true, true); }, false},
      {"labels", ToggleSelectionLabels, false},
      {"is there a selection", [](WindowRef window) { WindowHasSelection(window); }, false},
      {"colour", DoChangeAtomColour, false},
      {"centre on the selection", DoCentreOnSelection, false},
      {"delete a selected vector",
       [](WindowRef window) {
         CrystalRec &held = *GetWindowCrystal(window);
         held.vectors.assign(1, VectorRecord{});
         held.vectors[0].atom = 2;
         held.vectors[0].selected = 1;
         held.vectorCount = 1;
         held.atoms[2].hasVector = 1;
         DeleteSelectedVectors(window);
         EXPECT_EQ(held.vectorCount, 0);
       },
       false},
      {"hide", DoHideSelectedAtoms, true},
  };
  FakeHost host;
  host.pickedColors.push_back(RGBColor{0, 0, 65535});
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 5, ChainBonds(5));
  SortIndexOfVisibleAtoms(c);
  for (const auto &row : rows) {
    c.atoms[2].selected = 1;
    const InputRevisions before = c.derived.Revisions();
    row.command(w.ref());
    EXPECT_EQ(!(c.derived.Revisions() == before), row.tells) << row.name;
  }
  EXPECT_EQ(c.atoms[2].visible, 0) << "the last command ran";
}

TEST(SelectionCommands, SymmetryRelatedSitesAndSelectAll) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  ASSERT_TRUE(BuildRockSalt(c));
  ASSERT_GT(c.atomCount, 2);
  const uint32_t site = c.atoms[0].site;
  int32_t hidden = -1;
  for (int32_t k = 1; k < c.atomCount && hidden < 0; k++)
    if (c.atoms[static_cast<size_t>(k)].site == site)
      hidden = k;
  ASSERT_GE(hidden, 0);
  c.atoms[static_cast<size_t>(hidden)].visible = 0;
  c.atoms[0].selected = 1;
  DoSelectSymmetryRelatedSites(w.ref());
  for (const AtomRecord &a : c.atoms)
    EXPECT_EQ(a.selected, a.site == site && a.visible ? 1 : 0);
  EXPECT_TRUE(w.modified());

  // Select All: plotted atoms, vectors after their atoms' visibility.
  SortIndexOfVisibleAtoms(c);
  c.vectors.resize(2);
  c.vectorCount = 2;
  c.vectors[0].atom = static_cast<uint32_t>(hidden);
  c.vectors[1].atom = 0;
  DoSelectPlot(w.ref(), true, true, false);
  EXPECT_EQ(c.vectors[0].selected, 0);
  EXPECT_EQ(c.vectors[1].selected, 1);
  EXPECT_EQ(c.atoms[static_cast<size_t>(hidden)].selected, 0);
  EXPECT_EQ(GetCentreOfSelection(c, nullptr, nullptr), CountVisible(c));
  c.vectors.clear();
  c.vectorCount = 0;
}

// ---- Editing the selection ----------------------------------------------------------------

TEST(AtomEditing, VectorLengthRules) {
  // A monoclinic-like matrix: u along x with 2 A, v along y with 3 A.
  const float m[9] = {2, 0, 0.5f, 0, 3, 0, 0, 0, 4};
  DefineVectorRec r;
  r.uvw[0] = 1.0f;
  r.uvw[1] = 1.0f;
  r.uvw[2] = 0.0f;
  EXPECT_NEAR(AutoCalculateVectorLength(m, r), std::sqrt(13.0f), 1e-5f);
  r.length = 2.0f;
  EXPECT_TRUE(AdjustVectorIndicesToLength(m, r));
  EXPECT_NEAR(AutoCalculateVectorLength(m, r), 2.0f, 1e-5f);
  EXPECT_NEAR(r.uvw[0] / r.uvw[1], 1.0f, 1e-6f); // direction kept

  FakeHost host;
  SetHostServices(&host);
  r.uvw[0] = r.uvw[1] = r.uvw[2] = 0.0f;
  r.length = 2.0f;
  EXPECT_FALSE(AdjustVectorIndicesToLength(m, r));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Vector has zero length!");
  EXPECT_EQ(host.alerts[0].explanation, "Indices will be reset to [001].");
  EXPECT_NEAR(r.uvw[2], 2.0f / std::sqrt(16.25f), 1e-6f); // [001] of 2 A: its axis is 4.03 A long
  EXPECT_FLOAT_EQ(r.uvw[0], 0.0f);
  SetHostServices(nullptr);

  EXPECT_FLOAT_EQ(StepVectorLength(1.0f, true), 1.01f);
  EXPECT_FLOAT_EQ(StepVectorLength(-1.0f, false), 0.99f); // the magnitude is stepped
  EXPECT_FLOAT_EQ(StepVectorLength(0.1f, false), 0.1f);
  EXPECT_FLOAT_EQ(StepVectorLength(0.05f, true), 0.1f);
  EXPECT_FLOAT_EQ(StepVectorLength(10000.0f, true), 10000.0f);
  EXPECT_FALSE(VectorLengthAccepted(0.05f));
  EXPECT_TRUE(VectorLengthAccepted(0.1f));
}

TEST(AtomEditing, VectorsAddedToPlottedSelectedAtomsAndEdited) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 4, ChainBonds(4));
  c.atoms[3].visible = 0;
  SortIndexOfVisibleAtoms(c);
  DefineVectorRec r;
  EXPECT_FALSE(PrepareAddVector(w.ref(), &r));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].explanation, "Please select an atom to display the vector from.");
  c.atoms[1].selected = c.atoms[3].selected = 1; // atom 3 is hidden: no vector
  ASSERT_TRUE(PrepareAddVector(w.ref(), &r));
  EXPECT_FLOAT_EQ(r.uvw[0], 1.0f);
  EXPECT_TRUE(r.newVector);
  r.uvw[0] = 0.5f;
  r.style = 2;
  DoDefineVector(w.ref(), r);
  ASSERT_EQ(c.vectorCount, 1);
  EXPECT_EQ(c.vectors[0].atom, 1u);
  EXPECT_EQ(c.vectors[0].style, 2);
  EXPECT_EQ(c.atoms[1].hasVector, 1);
  EXPECT_FLOAT_EQ(gDefaultVectorRecord.uvw[0], 0.5f);
  EXPECT_TRUE(w.modified());

  EXPECT_FALSE(PrepareEditVector(w.ref(), &r)); // no vector selected
  c.vectors[0].selected = 1;
  ASSERT_TRUE(PrepareEditVector(w.ref(), &r));
  EXPECT_FALSE(r.newVector);
  r.colour = RGBColor{0, 0, 65535};
  DoDefineVector(w.ref(), r);
  EXPECT_EQ(c.vectorCount, 1);
  EXPECT_EQ(c.vectors[0].colour, (RGBColor{0, 0, 65535}));
  gDefaultVectorRecord = DefineVectorRec{};
}

TEST(AtomEditing, CoordinatesOfOneAtomOrShiftOfAll) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 3, ChainBonds(3));
  c.orientationMatrix[0] = 2.0f; // x: 2 A per fractional unit
  for (AtomRecord &a : c.atoms)
    a.xyz[0] = a.cart[0] / 2.0f;
  SortIndexOfVisibleAtoms(c);
  const float none[3] = {1, 1, 1};
  DoEditSelectionCoordinates(w.ref(), none, true, false);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Please select at least one atom!");

  c.atoms[1].selected = 1;
  EditSelCoordsRec r;
  ASSERT_TRUE(PrepareEditSelectionCoords(w.ref(), &r));
  EXPECT_EQ(r.basis, 2); // a molecule edits Cartesian coordinates
  EXPECT_EQ(r.editMode, 1);
  EXPECT_FLOAT_EQ(r.cartesian[0], 1.5f);
  const float frac[3] = {1.0f, 0.0f, 0.25f};
  DoEditSelectionCoordinates(w.ref(), frac, true, false);
  EXPECT_FLOAT_EQ(c.atoms[1].cart[0], 2.0f);
  EXPECT_FLOAT_EQ(c.atoms[1].cart[2], 0.25f);
  const float cart[3] = {4.0f, 1.0f, 0.0f};
  DoEditSelectionCoordinates(w.ref(), cart, false, false);
  EXPECT_FLOAT_EQ(c.atoms[1].xyz[0], 2.0f);
  EXPECT_FLOAT_EQ(c.atoms[1].xyz[1], 1.0f);
  EXPECT_TRUE(w.modified());

  c.atoms[2].selected = 1;
  ASSERT_TRUE(PrepareEditSelectionCoords(w.ref(), &r));
  EXPECT_EQ(r.editMode, 2); // two atoms: relative only
  const float shift[3] = {0.5f, 0.0f, 0.0f};
  DoEditSelectionCoordinates(w.ref(), shift, true, true); // half a fractional unit: 1 A
  EXPECT_FLOAT_EQ(c.atoms[1].cart[0], 5.0f);
  EXPECT_FLOAT_EQ(c.atoms[2].cart[0], 4.0f);
  EXPECT_FLOAT_EQ(c.atoms[0].cart[0], 0.0f);

  const char *expected[4][3] = {{"x", "y", "z"},
                                {"x [A]", "y [A]", "z [A]"},
                                {"\u2206x", "\u2206y", "\u2206z"},
                                {"\u2206x [A]", "\u2206y [A]", "\u2206z [A]"}};
  float *shown[4] = {r.fractional, r.cartesian, r.shift, r.shift};
  for (int mode = 1; mode <= 2; ++mode)
    for (int basis = 1; basis <= 2; ++basis) {
      r.editMode = static_cast<uint16_t>(mode);
      r.basis = static_cast<uint16_t>(basis);
      const CoordsFieldsLayout l = CoordsFields(r);
      const int k = (mode - 1) * 2 + basis - 1;
      EXPECT_STREQ(l.captions[0], expected[k][0]);
      EXPECT_STREQ(l.captions[2], expected[k][2]);
      EXPECT_EQ(l.values, shown[k]);
    }
}

TEST(AtomEditing, SpecsLabelAloneOrNewElementAndType) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 3, ChainBonds(3));
  SortIndexOfVisibleAtoms(c);
  ElementCode e = 0;
  EXPECT_FALSE(ElementFromText("", &e));
  ASSERT_TRUE(ElementFromText("O", &e));
  EXPECT_EQ(e, Element("O"));
  RGBColor colour;
  float radius = 0;
  gPrefs.elementData[0] = ElementData{Element("O"), RGBColor{65535, 0, 0}, 1.4f};
  EXPECT_TRUE(LookUpElementData(Element("O"), &colour, &radius));
  EXPECT_FLOAT_EQ(radius, 1.4f);
  EXPECT_FALSE(LookUpElementData(Element("Zz"), &colour, &radius));

  c.atoms[2].selected = 1;
  EditSelSpecsRec r;
  ASSERT_TRUE(PrepareEditSelectionSpecs(w.ref(), &r));
  SetSpecsLabel(r, "LongLabel");
  EXPECT_STREQ(r.label, "LongLab");
  DoEditSelectionSpecs(w.ref(), r); // the label alone
  EXPECT_STREQ(c.sites[2].label, "LongLab");
  EXPECT_EQ(c.sphereCount, 1);

  c.atoms[1].selected = 1;
  ASSERT_TRUE(PrepareEditSelectionSpecs(w.ref(), &r));
  r.element = Element("O");
  r.radius = 1.4f;
  DoEditSelectionSpecs(w.ref(), r);
  ASSERT_EQ(c.sphereCount, 2);
  int oxygens = 0;
  for (int k = 0; k < 3; ++k)
    if (c.sites[size_t(k)].elements[0] == Element("O")) {
      ++oxygens;
      EXPECT_EQ(c.spheres[c.sites[size_t(k)].atomType].element, Element("O"));
      EXPECT_EQ(c.atoms[size_t(k)].atomType, c.sites[size_t(k)].atomType);
    }
  EXPECT_EQ(oxygens, 2);
  gPrefs.elementData[0] = gFactoryPrefs.elementData[0];
}

TEST(AtomEditing, CustomBondStylesAndAtomStyles) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 4, ChainBonds(4));
  SortIndexOfVisibleAtoms(c);
  c.atoms[0].selected = c.atoms[1].selected = c.atoms[2].selected = 1;
  uint32_t i = 0, j = 0;
  ASSERT_TRUE(FindSelectedBondedPair(c, &i, &j));
  EXPECT_EQ(i + j, 1u);
  c.customBondSpecs.resize(1);
  c.customBondSpecCount = 1;
  c.customBondSpecs[0].atomA = 2;
  c.customBondSpecs[0].atomB = 1; // the pair 1-2 has one already
  CustomBondStyleRec r{5, RGBColor{1, 2, 3}, RGBColor{4, 5, 6}};
  DoCustomBondStyle(w.ref(), r);
  ASSERT_EQ(c.customBondSpecCount, 2); // 0-1 added, 1-2 updated, 2-3 not selected
  EXPECT_EQ(c.customBondSpecs[0].style, 5);
  EXPECT_EQ(c.customBondSpecs[1].colour2, (RGBColor{4, 5, 6}));
  int32_t index = -1;
  EXPECT_TRUE(FindCustomBond(c, 0, 1, &index));
  EXPECT_FALSE(FindCustomBond(c, 2, 3, &index));

  c.atoms[2].selected = 0;
  ChangeSelectedAtomsStyle(w.ref(), 3);
  EXPECT_EQ(c.atoms[0].atomType, c.atoms[1].atomType);
  EXPECT_EQ(c.spheres[c.atoms[0].atomType].style, 3u);
  EXPECT_EQ(c.sites[0].atomStyle, 3u);
  EXPECT_EQ(c.sites[1].atomType, c.atoms[1].atomType);
  EXPECT_NE(c.spheres[c.atoms[2].atomType].style, 3u);
}

TEST(AtomEditing, DeletingMoleculeAtomsAsksFirst) {
  FakeHost host;
  TestWindow w(host);
  CrystalRec &c = w.crystal();
  Molecule(c, 4, ChainBonds(4));
  SortIndexOfVisibleAtoms(c);
  c.atoms[1].selected = 1;
  host.alertAnswers.push_back(2); // Cancel
  DeleteSelectedAtoms(w.ref());
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Are you sure you wish to delete the selected atoms?");
  EXPECT_EQ(c.atomCount, 4);
  DeleteSelectedAtoms(w.ref());
  ASSERT_EQ(c.atomCount, 3);
  EXPECT_FLOAT_EQ(c.atoms[1].cart[0], 3.0f); // former atom 2
  EXPECT_TRUE(c.atoms[0].bonds.empty());
  EXPECT_EQ(c.atoms[1].bonds, std::vector<uint32_t>{2});
  EXPECT_TRUE(w.modified());
}

TEST(AtomEditing, DeletingManyAtomsAtOnceMatchesOneByOne) {
  // A ring of 40 with cross bonds, three atom types, vectors and custom bonds.
  std::vector<std::pair<int, int>> bonds = ChainBonds(40);
  for (int k = 0; k + 7 < 40; k += 5)
    bonds.emplace_back(k, k + 7);
  CrystalRec a;
  Molecule(a, 40, bonds);
  a.spheres.resize(3);
  a.sphereCount = 3;
  a.spheres[1].element = a.spheres[2].element = Element("C");
  a.spheres[2].radius = 2.0f;
  for (int k = 0; k < 40; ++k) {
    a.atoms[size_t(k)].atomType = uint32_t(k % 7 == 3 ? 2 : k % 2);
    a.sites[size_t(k)].atomType = a.atoms[size_t(k)].atomType;
    if (k % 6 == 0) {
      VectorRecord v;
      v.atom = uint32_t(k);
      a.vectors.push_back(v);
    }
    if (k % 4 == 1) {
      CustomBondSpec s;
      s.atomA = uint32_t(k);
      s.atomB = uint32_t(k + 1);
      a.customBondSpecs.push_back(s);
    }
  }
  a.vectorCount = int32_t(a.vectors.size());
  a.customBondSpecCount = int32_t(a.customBondSpecs.size());
  CrystalRec b = a;
  std::vector<uint8_t> doomed(40, 0);
  for (int k : {0, 3, 4, 10, 17, 24, 31, 38, 39})
    doomed[size_t(k)] = 1;
  DestroyMoleculeAtoms(a, doomed);
  for (int k = 39; k >= 0; --k)
    if (doomed[size_t(k)])
      DestroyAtomIndex(&b, k);
  ASSERT_EQ(a.atomCount, b.atomCount);
  ASSERT_EQ(a.sphereCount, b.sphereCount);
  for (size_t k = 0; k < size_t(a.atomCount); ++k) {
    EXPECT_EQ(a.atoms[k].bonds, b.atoms[k].bonds) << k;
    EXPECT_EQ(a.atoms[k].atomType, b.atoms[k].atomType) << k;
    EXPECT_FLOAT_EQ(a.atoms[k].cart[0], b.atoms[k].cart[0]);
    EXPECT_EQ(a.sites[k].coordination, b.sites[k].coordination);
    EXPECT_EQ(a.sites[k].firstAtom, b.sites[k].firstAtom);
  }
  ASSERT_EQ(a.vectorCount, b.vectorCount);
  for (size_t k = 0; k < size_t(a.vectorCount); ++k)
    EXPECT_EQ(a.vectors[k].atom, b.vectors[k].atom);
  ASSERT_EQ(a.customBondSpecCount, b.customBondSpecCount);
  for (size_t k = 0; k < size_t(a.customBondSpecCount); ++k)
    EXPECT_EQ(a.customBondSpecs[k].atomA, b.customBondSpecs[k].atomA);
  EXPECT_EQ(CheckCrystalInvariants(a), "");
}
