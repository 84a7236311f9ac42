#include "StructureArrays.h"
#include "FakeHost.h"
#include "Preferences.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

ElementCode El(const char *symbol) { return TwoCharsToShort(symbol); }

// A crystal of `sites` sites, each with `perSite` atoms in one cell, each
// site with an atom type of its own (element from the list).
void MakeCrystal(CrystalRec &c, const std::vector<const char *> &elements, int32_t perSite) {
  InitBlankCrystalRec(&c);
  const int32_t n = static_cast<int32_t>(elements.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  c.atoms = *CreateAtomsArray(n * perSite, 1, 1, 1);
  c.atomCount = n * perSite;
  c.atomsPerCell = n * perSite;
  c.na = c.nb = c.nc = 1;
  for (int32_t s = 0; s < n; s++) {
    AppendBlankSphere(&c);
    c.spheres[static_cast<size_t>(s)].element = El(elements[static_cast<size_t>(s)]);
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    site.elements[0] = El(elements[static_cast<size_t>(s)]);
    site.atomType = static_cast<uint32_t>(s);
    site.firstAtom = s * perSite;
    site.lastAtom = s * perSite + perSite - 1;
    site.atomsPerCell = perSite;
    std::snprintf(site.label, sizeof site.label, "%.2s%d", elements[static_cast<size_t>(s)], int(s + 1) % 100);
    for (int32_t k = 0; k < perSite; k++) {
      AtomRecord &atom = c.atoms[static_cast<size_t>(s * perSite + k)];
      atom.site = static_cast<uint32_t>(s);
      atom.atomType = static_cast<uint32_t>(s);
      atom.xyz[0] = 0.1f * static_cast<float>(s);
      atom.xyz[1] = 0.1f * static_cast<float>(k);
      atom.cart[0] = atom.xyz[0] * 10.0f;
      atom.cart[1] = atom.xyz[1] * 10.0f;
    }
  }
}

// A molecule of n atoms, one per site, each with its own atom type.
void MakeMolecule(CrystalRec &c, const std::vector<const char *> &elements) {
  MakeCrystal(c, elements, 1);
  c.molecule = 1;
}

VectorRecord &AddVector(CrystalRec &c, uint32_t atom) {
  AppendBlankVector(&c);
  c.vectors.back().atom = atom;
  if (atom < c.atoms.size())
    c.atoms[atom].hasVector = 1;
  return c.vectors.back();
}

} // namespace

TEST(ArrayFamily, AppendAndDeleteKeepCountsDenseAndLeaveNoEmptyArray) {
  CrystalRec c;
  AddVector(c, 0);
  ASSERT_EQ(c.vectorCount, 1);
  EXPECT_EQ(DestroyVectorIndex(&c, 0), nullptr);
  EXPECT_EQ(c.vectorCount, 0);
  EXPECT_EQ(GetCrystalVectorsArray(&c), nullptr);

  for (int k = 0; k < 3; k++) {
    AppendBlankTextBox(&c);
    c.textBoxes.back().fontSize = static_cast<uint16_t>(10 + k);
  }
  c.textBoxes[1].text = u"deleted";
  DestroyTextBoxIndex(&c, 5);  // out of range: ignored
  DestroyTextBoxIndex(&c, -1); // likewise
  ASSERT_EQ(c.textBoxCount, 3);
  TextBoxRecord *boxes = DestroyTextBoxIndex(&c, 1);
  ASSERT_EQ(c.textBoxCount, 2);
  EXPECT_EQ(boxes[0].fontSize, 10);
  EXPECT_EQ(boxes[1].fontSize, 12);

  EXPECT_EQ(GetCrystalAtomsArray(nullptr), nullptr);
  EXPECT_EQ(AppendBlankSphere(nullptr), nullptr);
  EXPECT_FALSE(CreateSpheresArray(0));
  EXPECT_FALSE(CreateTextBoxesArray(-3));
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(ArrayFamily, DestroyingVectorsClearsEveryAtomsVectorFlag) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl"}, 2);
  AddVector(c, 1);
  AddVector(c, 3);
  DestroyVectorsArray(&c);
  EXPECT_EQ(c.vectorCount, 0);
  for (const AtomRecord &a : c.atoms)
    EXPECT_EQ(a.hasVector, 0);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(ArrayFamily, AtomArraySizesAreCheckedIn64BitsAndOversizeIsRefusedAsNoMemory) {
  FakeHost host;
  auto atoms = CreateAtomsArray(3, 2, 1, 2);
  ASSERT_TRUE(atoms);
  EXPECT_EQ(atoms->size(), 12u);
  EXPECT_EQ(CreateAtomsArray(5, 0, 4, 4)->size(), 5u); // a non-positive count: one cell
  EXPECT_TRUE(host.alerts.empty());

  // 1000^4 would wrap a 32-bit count; the request is refused, not truncated.
  EXPECT_FALSE(CreateAtomsArray(1000, 1000, 1000, 1000));
  const int32_t big = std::numeric_limits<int32_t>::max();
  EXPECT_FALSE(CreateAtomsArray(big, big, big, big));
  ASSERT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[0].message, "No Memory for atoms");
}

TEST(ArrayFamily, GrowingTheSiteArrayAppendsSitesWithoutAtoms) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl"}, 1);
  EXPECT_EQ(RedimensionAsymmetricUnit(&c, 0), nullptr);
  EXPECT_EQ(c.siteCount, 2);
  AsymmetricUnitRecord *sites = RedimensionAsymmetricUnit(&c, 4);
  ASSERT_NE(sites, nullptr);
  EXPECT_EQ(c.siteCount, 4);
  EXPECT_STREQ(sites[1].label, "Cl2");
  EXPECT_EQ(sites[3].firstAtom, 1);
  EXPECT_EQ(sites[3].lastAtom, 0);
  EXPECT_EQ(sites[3].elements[0], kBlankElement);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
  RedimensionAsymmetricUnit(&c, 1);
  EXPECT_EQ(c.sites.size(), 1u);
  EXPECT_STREQ(c.sites[0].label, "Na1");
}

TEST(AtomTypes, DeletingATypeLowersEveryHigherIndexInSitesAndAtoms) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl", "K "}, 2);
  c.atoms[0].atomType = 2; // an atom with a type of its own
  auto image = std::make_shared<int>(1);
  std::weak_ptr<int> watch = image;
  c.spheres[0].image1 = image;
  image.reset();
  DestroySphereIndex(&c, 0);
  ASSERT_EQ(c.sphereCount, 2);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(c.spheres[0].element, El("Cl"));
  EXPECT_EQ(c.sites[1].atomType, 0u);
  EXPECT_EQ(c.sites[2].atomType, 1u);
  EXPECT_EQ(c.atoms[0].atomType, 1u);
  EXPECT_EQ(c.atoms[3].atomType, 0u);
  EXPECT_EQ(c.atoms[5].atomType, 1u);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(AtomTypes, MergingTakesRadiiWithinAHundredthAndRespectsThePolyhedronClass) {
  CrystalRec c;
  MakeCrystal(c, {"O ", "O ", "O ", "O "}, 1);
  c.spheres[0].radius = 1.0f;
  c.spheres[1].radius = 1.005f; // merges with 0
  c.spheres[2].radius = 1.01f;  // 0.01 apart: stays
  c.spheres[3].radius = 1.0f;   // same as 0 but its site is of the class 12
  SetGivenPolyMode(c.sites[3], kPolyModeOwnClass);
  EXPECT_TRUE(SameSphereProperties(&c, 0, 1));
  EXPECT_FALSE(SameSphereProperties(&c, 0, 2));
  EXPECT_FALSE(SameSphereProperties(&c, 0, 3));

  RemoveDuplicateSpheres(&c);
  ASSERT_EQ(c.sphereCount, 3);
  EXPECT_EQ(c.sites[1].atomType, 0u);
  EXPECT_EQ(c.atoms[1].atomType, 0u);
  EXPECT_EQ(c.sites[2].atomType, 1u);
  EXPECT_EQ(c.sites[3].atomType, 2u);

  int32_t index = -1;
  EXPECT_TRUE(FindMatchingSphere(&c, El("O "), 14, 0, c.spheres[0].colour, 1.004f, &index));
  EXPECT_EQ(index, 0);
  // A wanted radius matches the first type within 0.01 of it, the bound included.
  EXPECT_TRUE(FindMatchingSphere(&c, El("O "), 14, 0, c.spheres[0].colour, 1.01f, &index));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(FindMatchingSphere(&c, El("O "), 14, 0, c.spheres[0].colour, 1.015f, &index));
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(FindMatchingSphere(&c, El("O "), 14, kPolyModeOwnClass, c.spheres[0].colour, 1.0f, &index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(FindMatchingSphere(&c, El("O "), 14, 0, kRGBRed, 1.0f, &index));
  EXPECT_EQ(index, 3);
}

TEST(AtomTypes, PurgesDeleteUnusedTypesAndLeaveNoAtomOnADeletedType) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl"}, 2);
  AppendBlankSphere(&c); // type 2: used by a hidden atom only
  AppendBlankSphere(&c); // type 3: used by a visible atom only
  c.atoms[1].atomType = 2;
  c.atoms[1].visible = 0;
  c.atoms[2].atomType = 3;
  PurgeUnusedAtomSpheres(&c);
  ASSERT_EQ(c.sphereCount, 3);
  EXPECT_EQ(c.atoms[1].atomType, 0u); // back on its site's type
  EXPECT_EQ(c.atoms[2].atomType, 2u); // renumbered from 3

  PurgeCustomSpheres(&c);
  EXPECT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.atoms[2].atomType, 1u);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(Tiling, OneSiteOfTwoAtomsOverTwoCellsRunsCellByCellWithinTheSite) {
  std::vector<AtomRecord> first(3);
  first[0].xyz[0] = 0.1f;
  first[1].xyz[0] = 0.2f;
  first[2].site = 1;
  first[2].xyz[0] = 0.5f;
  first[0].ellipsoidAxes[0][0] = 0.15f;
  std::vector<AtomRecord> dest(6);
  ASSERT_TRUE(TileUnitCellContents(first, dest, 3, 2, 1, 1, false));
  const float x[] = {0.1f, 0.2f, 1.1f, 1.2f, 0.5f, 1.5f};
  const uint32_t site[] = {0, 0, 0, 0, 1, 1};
  for (size_t k = 0; k < 6; k++) {
    EXPECT_FLOAT_EQ(dest[k].xyz[0], x[k]) << k;
    EXPECT_EQ(dest[k].site, site[k]) << k;
  }
  EXPECT_FLOAT_EQ(dest[2].ellipsoidAxes[0][0], 0.15f); // not moved without ellipsoid data

  ASSERT_TRUE(TileUnitCellContents(first, dest, 3, 1, 1, 2, true));
  EXPECT_FLOAT_EQ(dest[2].xyz[2], 1.0f);
  EXPECT_FLOAT_EQ(dest[2].ellipsoidAxes[0][2], 1.0f);

  // A destination of the wrong size is refused untouched.
  std::vector<AtomRecord> small(5);
  EXPECT_FALSE(TileUnitCellContents(first, small, 3, 2, 1, 1, false));
  EXPECT_FLOAT_EQ(small[4].xyz[0], 0.0f);
}

TEST(Tiling, RegrowingRewritesTheSiteRunsAndRefusesBadCounts) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl"}, 2);
  c.atoms[1].bonds = {0, 2};
  c.atoms[1].bondCount = 2;
  c.atoms[3].selected = 1;
  AddVector(c, 0);
  EXPECT_EQ(RedimensionAtomsArray(&c, 0, 1, 1), -1);
  EXPECT_EQ(c.atomCount, 4);
  ASSERT_EQ(RedimensionAtomsArray(&c, 2, 3, 1), 0);
  EXPECT_EQ(c.atomCount, 24);
  EXPECT_EQ(c.na, 2);
  EXPECT_EQ(c.nb, 3);
  EXPECT_EQ(c.sites[0].firstAtom, 0);
  EXPECT_EQ(c.sites[0].lastAtom, 11);
  EXPECT_EQ(c.sites[1].firstAtom, 12);
  EXPECT_EQ(c.sites[1].lastAtom, 23);
  EXPECT_EQ(c.vectorCount, 0);
  for (const AtomRecord &a : c.atoms) {
    EXPECT_EQ(a.bondCount, 0u);
    EXPECT_EQ(a.selected, 0);
  }
  EXPECT_EQ(c.atoms[12].site, 1u);
  EXPECT_FLOAT_EQ(c.atoms[13].xyz[1], 0.1f);
  EXPECT_FLOAT_EQ(c.atoms[15].xyz[0], 1.1f); // second cell along a
}

TEST(Tiling, AnInconsistentRecordYieldsNoFirstCell) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl"}, 2);
  c.sites[1].firstAtom = 3; // its run would end past the last atom
  EXPECT_FALSE(ExtractFirstUnitCell(&c));
  EXPECT_EQ(RedimensionAtomsArray(&c, 2, 1, 1), -1);
  EXPECT_EQ(c.atomCount, 4); // nothing was destroyed
}

// The first cell read where the atoms hold it gives the records a copy of
// it gets, wherever each site's atoms name their site; whether the atoms are
// that cell itself is told apart from it.
TEST(Tiling, TheFirstCellReadWhereItStandsIsItsCopy) {
  struct Case {
    const char *what;
    void (*change)(CrystalRec &);
    bool first; // the atoms are the first cell
    bool held;  // it is read where it stands
  };
  const Case cases[] = {
      {"as built", [](CrystalRec &) {}, true, true},
      {"bonds, a flag and a type of its own",
       [](CrystalRec &c) {
         c.atoms[1].bonds = {0, 2};
         c.atoms[1].bondCount = 2;
         c.atoms[2].flags[1] = 7;
         c.atoms[0].atomType = 1;
         c.atoms[3].pixel[0] = 12;
       },
       true, true},
      {"sites out of order",
       [](CrystalRec &c) {
         c.sites[0].firstAtom = 2;
         c.sites[1].firstAtom = 0;
         for (AtomRecord &a : c.atoms)
           a.site = 1 - a.site;
       },
       false, true},
      {"an atom naming another site", [](CrystalRec &c) { c.atoms[1].site = 1; }, true, false},
      {"an atom beyond the cell", [](CrystalRec &c) { c.atomsPerCell = 3; c.sites[1].atomsPerCell = 1; }, false, true},
      {"a run past the atoms", [](CrystalRec &c) { c.sites[1].firstAtom = 3; }, false, false},
  };
  for (const Case &t : cases) {
    CrystalRec c;
    MakeCrystal(c, {"Na", "Cl"}, 2);
    t.change(c);
    EXPECT_EQ(AtomsAreFirstUnitCell(c), t.first) << t.what;
    const std::optional<std::vector<HeldFirstCellRun>> runs = HeldFirstCellRuns(c);
    ASSERT_EQ(runs.has_value(), t.held) << t.what;
    if (!t.held)
      continue;
    const std::optional<std::vector<AtomRecord>> copy = ExtractFirstUnitCell(&c);
    ASSERT_TRUE(copy) << t.what;
    std::vector<AtomRecord> read;
    for (const HeldFirstCellRun &run : *runs)
      for (const AtomRecord &atom : run.atoms)
        read.push_back(FirstCellAtom(atom, *run.site));
    ASSERT_EQ(read.size(), copy->size()) << t.what;
    for (size_t k = 0; k < read.size(); k++) {
      const AtomRecord &a = read[k], &b = (*copy)[k];
      EXPECT_EQ(a.site, b.site) << t.what << k;
      EXPECT_EQ(a.atomType, b.atomType) << t.what << k;
      EXPECT_EQ(a.bondCount, 0u) << t.what << k;
      EXPECT_TRUE(a.bonds.empty()) << t.what << k;
      EXPECT_EQ(a.flags[1], b.flags[1]) << t.what << k;
      EXPECT_EQ(a.pixel[0], b.pixel[0]) << t.what << k;
      EXPECT_EQ(0, std::memcmp(a.xyz, b.xyz, sizeof a.xyz)) << t.what << k;
      EXPECT_EQ(0, std::memcmp(a.cart, b.cart, sizeof a.cart)) << t.what << k;
    }
  }
}

TEST(MoleculeDelete, DeletingAnAtomRenumbersBondsPolyhedraVectorsAndSites) {
  CrystalRec c;
  MakeMolecule(c, {"C ", "N ", "C ", "O "});
  // Chain 0-1-2-3.
  ASSERT_TRUE(AddBondListEntry(&c, 0, 1));
  ASSERT_TRUE(AddBondListEntry(&c, 1, 2));
  ASSERT_TRUE(AddBondListEntry(&c, -2, 3)); // negative indices stand for their values
  {
    Polyhedron p = *CreatePolyhedron(1);
    p.centreAtom = 3;
    p.faces[0].vertices = {2, 3};
    p.faces[0].vertexCount = 2;
    c.atoms[3].polyhedron.Hold(std::move(p));
  }
  AddVector(c, 1);
  AddVector(c, 3);
  {
    Polyhedron p = *CreatePolyhedron(1);
    c.atoms[0].polyhedron.Hold(std::move(p));
  }
  c.bondSpecCount = 2;
  c.bondSpecs[0].elementA = El("C ");
  c.bondSpecs[0].elementB = El("N ");
  c.bondSpecs[1].elementA = El("C ");
  c.bondSpecs[1].elementB = El("O ");
  // Custom styles of the bonds 0-1 (goes with atom 1) and 2-3 (follows it).
  AppendBlankCustomBondSpec(&c);
  c.customBondSpecs.back().atomB = 1;
  AppendBlankCustomBondSpec(&c);
  c.customBondSpecs.back().atomA = 2;
  c.customBondSpecs.back().atomB = 3;

  DestroyAtomIndex(&c, 1);
  ASSERT_EQ(c.customBondSpecCount, 1);
  EXPECT_EQ(c.customBondSpecs[0].atomA, 1u);
  EXPECT_EQ(c.customBondSpecs[0].atomB, 2u);
  ASSERT_EQ(c.atomCount, 3);
  ASSERT_EQ(c.siteCount, 3);
  EXPECT_EQ(c.atomsPerCell, 3);
  EXPECT_TRUE(c.atoms[0].bonds.empty());
  EXPECT_FALSE(AtomPolyhedron(&c, c.atoms[0])); // a neighbour loses its polyhedron
  EXPECT_EQ(c.atoms[1].bonds, std::vector<uint32_t>{2});
  EXPECT_EQ(c.atoms[2].bonds, std::vector<uint32_t>{1});
  ASSERT_TRUE(AtomPolyhedron(&c, c.atoms[2]));
  EXPECT_EQ(AtomPolyhedron(&c, c.atoms[2])->centreAtom, 2u);
  EXPECT_EQ(AtomPolyhedron(&c, c.atoms[2])->faces[0].vertices, (std::vector<uint32_t>{1, 2}));
  ASSERT_EQ(c.vectorCount, 1); // the vector on the deleted atom went
  EXPECT_EQ(c.vectors[0].atom, 2u);
  for (int32_t k = 0; k < 3; k++) {
    EXPECT_EQ(c.atoms[static_cast<size_t>(k)].site, static_cast<uint32_t>(k));
    EXPECT_EQ(c.sites[static_cast<size_t>(k)].firstAtom, k);
    EXPECT_EQ(c.sites[static_cast<size_t>(k)].lastAtom, k);
  }
  EXPECT_EQ(c.sites[0].coordination, 0u);
  EXPECT_EQ(c.sites[1].coordination, 1u);
  // The N type went with its only atom; the others moved down.
  ASSERT_EQ(c.sphereCount, 3);
  EXPECT_EQ(c.atoms[1].atomType, 1u);
  EXPECT_EQ(c.sites[2].atomType, 2u);
  // The C-N specification names an element that is gone.
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_EQ(c.bondSpecs[0].elementB, El("O "));
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(CrystalDelete, DeletingASiteRemovesItsAtomsAndLowersEveryLaterIndex) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl", "K "}, 2); // atoms 0-1 Na, 2-3 Cl, 4-5 K
  ASSERT_TRUE(AddBondListEntry(&c, 0, 2));
  ASSERT_TRUE(AddBondListEntry(&c, 1, 4));
  ASSERT_TRUE(AddBondListEntry(&c, 4, 5));
  {
    Polyhedron p = *CreatePolyhedron(1);
    p.centreAtom = 5;
    p.faces[0].vertices = {4};
    p.faces[0].vertexCount = 1;
    c.atoms[5].polyhedron.Hold(std::move(p));
  }
  {
    Polyhedron p = *CreatePolyhedron(1); // bonded to a deleted atom
    c.atoms[0].polyhedron.Hold(std::move(p));
  }
  AddVector(c, 3);
  AddVector(c, 5);

  DestroyAsymmetricUnitIndex(&c, 1);
  ASSERT_EQ(c.siteCount, 2);
  ASSERT_EQ(c.atomCount, 4);
  EXPECT_EQ(c.atomsPerCell, 4);
  EXPECT_TRUE(c.atoms[0].bonds.empty());
  EXPECT_FALSE(AtomPolyhedron(&c, c.atoms[0]));
  EXPECT_EQ(c.atoms[1].bonds, std::vector<uint32_t>{2});
  EXPECT_EQ(c.atoms[2].bonds, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(c.atoms[2].site, 1u);
  EXPECT_EQ(c.atoms[3].site, 1u);
  ASSERT_TRUE(AtomPolyhedron(&c, c.atoms[3]));
  EXPECT_EQ(AtomPolyhedron(&c, c.atoms[3])->centreAtom, 3u);
  EXPECT_EQ(AtomPolyhedron(&c, c.atoms[3])->faces[0].vertices, std::vector<uint32_t>{2});
  ASSERT_EQ(c.vectorCount, 1);
  EXPECT_EQ(c.vectors[0].atom, 3u);
  EXPECT_EQ(c.sites[1].firstAtom, 2);
  EXPECT_EQ(c.sites[1].lastAtom, 3);
  // The Cl type is used by nothing any more.
  ASSERT_EQ(c.sphereCount, 2);
  EXPECT_EQ(c.sites[1].atomType, 1u);
  EXPECT_EQ(c.atoms[3].atomType, 1u);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(BondsLists, BondsAreRecordedOnceInBothAtomsAndKeepMoleculeCoordination) {
  CrystalRec c;
  MakeMolecule(c, {"C ", "H ", "H "});
  EXPECT_TRUE(AddBondListEntry(&c, 0, 1));
  EXPECT_TRUE(AddBondListEntry(&c, 1, 0)); // already there: nothing added
  EXPECT_TRUE(AddBondListEntry(&c, 0, -2));
  EXPECT_FALSE(AddBondListEntry(&c, 0, 0));
  EXPECT_FALSE(AddBondListEntry(&c, 0, 3));
  EXPECT_FALSE(AddBondListEntry(&c, std::numeric_limits<int32_t>::min(), 0));
  EXPECT_EQ(c.atoms[0].bonds, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(c.atoms[0].bondCount, 2u);
  EXPECT_EQ(c.sites[0].coordination, 2u);
  EXPECT_EQ(c.sites[1].coordination, 1u);

  EXPECT_TRUE(DeleteBondListEntry(&c, 2, 0));
  EXPECT_FALSE(DeleteBondListEntry(&c, 2, 0));
  EXPECT_EQ(c.atoms[0].bonds, std::vector<uint32_t>{1});
  EXPECT_EQ(c.sites[0].coordination, 1u);
  EXPECT_EQ(c.atoms[2].bondCount, 0u);

  RemoveAtomFromBondsList(&c.atoms[0], 7); // absent: nothing
  EXPECT_EQ(c.atoms[0].bondCount, 1u);
  EXPECT_FALSE(CreateBondsList(0));
  EXPECT_EQ(CreateBondsList(3)->size(), 3u);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(Regeneration, AttributesFollowAtomsToTheSamePlaceAndVectorsMoveOnce) {
  CrystalRec c;
  MakeCrystal(c, {"Na"}, 3); // new atoms at y = 0, 0.1, 0.2
  std::vector<AtomRecord> old(3);
  // Old atom 0 sat where new atom 1 is; old atom 1 where new atom 2 is.
  old[0].xyz[1] = 0.1f + 0.0001f;
  old[0].selected = 1;
  old[0].hasVector = 1;
  old[1].xyz[1] = 0.2f;
  old[1].labelled = 1;
  old[2].xyz[1] = 0.5f; // nowhere now
  old[2].selected = 1;
  AppendBlankVector(&c);
  c.vectors[0].atom = 0;
  AppendBlankVector(&c);
  c.vectors[1].atom = 1;
  AppendBlankVector(&c);
  c.vectors[2].atom = 2;
  CopyAtomAttributesToCrystal(old.data(), 3, &c);
  EXPECT_EQ(c.atoms[1].selected, 1);
  EXPECT_EQ(c.atoms[1].hasVector, 1);
  EXPECT_EQ(c.atoms[2].labelled, 1);
  EXPECT_EQ(c.atoms[0].selected, 0);
  EXPECT_EQ(c.vectors[0].atom, 1u); // moved from 0 to 1, and not on to 2
  EXPECT_EQ(c.vectors[1].atom, 2u);
  EXPECT_EQ(c.vectors[2].atom, 2u); // no match: keeps its index

  // An atom 0.00012 away is not the same place.
  CrystalRec d;
  MakeCrystal(d, {"Na"}, 1);
  std::vector<AtomRecord> far(1);
  far[0].xyz[0] = 0.00012f;
  far[0].selected = 1;
  CopyAtomAttributesToCrystal(far.data(), 1, &d);
  EXPECT_EQ(d.atoms[0].selected, 0);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(Regeneration, VisibleAtomsWhoseTwinMovedAreHiddenOthersKeepTheirSelection) {
  CrystalRec c;
  MakeCrystal(c, {"Na", "Cl"}, 2);
  c.atoms[1].selected = 1;
  c.atoms[3].visible = 0;
  int32_t count = 0;
  auto saved = SaveAtomsVisibilityAndSelection(&c, &count);
  ASSERT_EQ(count, 3);
  c.atoms[1].selected = 0;
  c.atoms[2].cart[0] += 0.0002f; // moved further than the tolerance
  c.atoms[0].cart[1] += 0.00005f;
  c.atoms[3].visible = 1; // visible now, but nothing was saved for it
  RestoreAtomsVisibilityAndSelection(&c, saved, count);
  EXPECT_TRUE(saved.empty());
  EXPECT_EQ(c.atoms[0].visible, 1);
  EXPECT_EQ(c.atoms[1].visible, 1);
  EXPECT_EQ(c.atoms[1].selected, 1);
  EXPECT_EQ(c.atoms[2].visible, 0);
  EXPECT_EQ(c.atoms[3].visible, 0);
  EXPECT_EQ(CheckCrystalInvariants(c), "");
}

TEST(Copies, TheShallowAtomCopyOwnsNoBondsOrPolyhedra) {
  CrystalRec c;
  MakeMolecule(c, {"C ", "O "});
  AddBondListEntry(&c, 0, 1);
  {
    Polyhedron p = *CreatePolyhedron(2);
    c.atoms[0].polyhedron.Hold(std::move(p));
  }
  auto copy = CopyAtomsArrayForCrystal(&c);
  ASSERT_EQ(copy.size(), 2u);
  EXPECT_TRUE(copy[0].bonds.empty());
  EXPECT_EQ(copy[0].bondCount, 0u);
  EXPECT_FALSE(AtomPolyhedron(nullptr, copy[0]));
  EXPECT_FLOAT_EQ(copy[1].xyz[0], c.atoms[1].xyz[0]);
  EXPECT_EQ(c.atoms[0].bondCount, 1u); // the structure keeps its own
  EXPECT_TRUE(AtomPolyhedron(&c, c.atoms[0]));
}

TEST(Counts, SelectionAndElementCounts) {
  CrystalRec c;
  MakeCrystal(c, {"Ca", "O ", "O ", "C "}, 1);
  EXPECT_FALSE(CrystalHasSelectedObjects(&c));
  SetCrystalAtomSelected(&c, 2, 1);
  SetCrystalAtomSelected(&c, 9, 1); // out of range: ignored
  EXPECT_EQ(CountNumSelectedAtoms(&c), 1);
  AddVector(c, 0).selected = 1;
  EXPECT_TRUE(CrystalHasSelectedVectors(&c));
  SetCrystalAtomSelectionNone(&c);
  EXPECT_FALSE(CrystalHasSelectedAtoms(&c));
  EXPECT_TRUE(CrystalHasSelectedObjects(&c));

  EXPECT_EQ(CountNumElementsSorted(&c), 3);
  EXPECT_EQ(CountNumElementsUnsorted(&c), 3);
  EXPECT_FALSE(IsAsymmetricUnitSortedByElement(&c)); // "O " before "C "
  c.sites[1].elements[0] = kBlankElement;
  int32_t n = 0;
  auto elements = GetCrystalElementsArray(&c, &n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(elements, (std::vector<ElementCode>{El("Ca"), El("O "), El("C ")}));

  AsymmetricUnitRecord a, b;
  a.elements[0] = b.elements[0] = El("Fe");
  a.occupancies[0] = 0.5f;
  b.occupancies[0] = 0.50005f;
  EXPECT_TRUE(SitesHaveSameOccupancy(a, b));
  b.occupancies[0] = 0.5002f;
  EXPECT_FALSE(SitesHaveSameOccupancy(a, b));
}

TEST(SortIndex, EntriesAnswerTheirAtomOrCellPointCoordinates) {
  CrystalRec c;
  MakeCrystal(c, {"Na"}, 2);
  c.cellPoints = *CreateCellPoints(1);
  c.cellPointCount = 1;
  c.cellPoints[0].cart[2] = 7.0f;
  c.sortIndex = *CreateSortIndex(3);
  c.sortIndexCount = 3;
  c.sortIndex[0] = {1, kSortItemAtom};
  c.sortIndex[1] = {0, kSortItemCellPoint};
  c.sortIndex[2] = {5, kSortItemAtom}; // no such atom
  int32_t position = -1;
  EXPECT_TRUE(GetAtomSortIndexEntry(&c, 0, &position));
  EXPECT_EQ(position, 1);
  EXPECT_FALSE(GetAtomSortIndexEntry(&c, 4, &position));
  ASSERT_NE(GetCrystalSortIndexCoords(&c, 0), nullptr);
  EXPECT_FLOAT_EQ(GetCrystalSortIndexCoords(&c, 0)[1], 1.0f);
  EXPECT_FLOAT_EQ(GetCrystalSortIndexCoords(&c, 1)[2], 7.0f);
  EXPECT_EQ(GetCrystalSortIndexCoords(&c, 2), nullptr);
  EXPECT_EQ(GetCrystalSortIndexCoords(&c, 3), nullptr);
}
