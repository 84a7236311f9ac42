// Placing a stored water molecule into a molecule and into a crystal: where
// it lands, what is selected, which atom types and bond specifications join
// the host, and the documents the command refuses.

#include "DocumentTestSupport.h"

#include "documents/CrystalDocument.h"
#include "Geometry.h"
#include "Utilities.h"
#include "documents/PlaceMolecule.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

ElementCode El(const char *s) {
  const char code[3] = {s[0], s[1] ? s[1] : ' ', '\0'};
  return TwoCharsToShort(code);
}

// A molecule of the given atoms (sorted by element), bonded by the specifications.
void BuildMolecule(doctest::Window &w, const std::vector<std::pair<const char *, std::array<float, 3>>> &atoms,
                   const std::vector<BondSpec> &specs) {
  CrystalRec &c = w.crystal();
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  const int n = static_cast<int>(atoms.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.atoms.resize(static_cast<size_t>(n));
  for (int k = 0; k < n; k++) {
    AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(k)];
    const std::string label = atoms[static_cast<size_t>(k)].first + std::to_string(k + 1);
    MyStrCopy(std::span<char>(s.label), label);
    s.elements[0] = El(atoms[static_cast<size_t>(k)].first);
    s.occupancies[0] = 1.0f;
    s.firstAtom = s.lastAtom = k;
    AtomRecord &a = c.atoms[static_cast<size_t>(k)];
    a.site = static_cast<uint32_t>(k);
    std::copy(atoms[static_cast<size_t>(k)].second.begin(), atoms[static_cast<size_t>(k)].second.end(), a.cart);
    std::copy(a.cart, a.cart + 3, a.xyz);
  }
  c.siteCount = c.atomCount = c.atomsPerCell = n;
  for (const BondSpec &b : specs)
    c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)] = b;
  ASSERT_TRUE(RunNewMolecule(w.ref(), false, true, true, true));
}

const std::vector<std::pair<const char *, std::array<float, 3>>> kWater = {
    {"H", {0.96f, 0.0f, 0.0f}}, {"H", {-0.24f, 0.93f, 0.0f}}, {"O", {0.0f, 0.0f, 0.0f}}};

class PlaceMolecule : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/ovplaceXXXXXX";
    dir_ = mkdtemp(pattern);
    guestFile_ = dir_ / "water.ovmf";
    doctest::Window guest(host_);
    BuildMolecule(guest, kWater, {BondSpec{El("O"), El("H"), 0.5f, 1.2f, 1, {}, {}}});
    ASSERT_TRUE(WriteCrystalFile(guest.crystal(), DocumentExtras{}, guestFile_));
    host_.alerts.clear();
  }
  void TearDown() override { fs::remove_all(dir_); }
  FakeHost host_;
  fs::path dir_, guestFile_;
};

TEST_F(PlaceMolecule, IntoAMoleculeCentredOnTheViewWithItsBonds) {
  doctest::Window w(host_);
  BuildMolecule(w, {{"C", {0, 0, 0}}, {"O", {1.2f, 0, 0}}}, {BondSpec{El("C"), El("O"), 1.0f, 1.3f, 1, {}, {}}});
  CrystalRec &c = w.crystal();
  const float centre[3] = {c.plotCentre[0], c.plotCentre[1], c.plotCentre[2]};
  PlaceMoleculeFile(guestFile_, w.ref());
  ASSERT_EQ(c.atomCount, 5);
  int selected = 0;
  float mean[3] = {0, 0, 0};
  std::vector<int> water;
  for (int k = 0; k < c.atomCount; k++)
    if (c.atoms[static_cast<size_t>(k)].selected) {
      ++selected;
      water.push_back(k);
      for (int ax = 0; ax < 3; ax++)
        mean[ax] += c.atoms[static_cast<size_t>(k)].cart[ax] / 3.0f;
    }
  ASSERT_EQ(selected, 3);
  for (int ax = 0; ax < 3; ax++)
    EXPECT_NEAR(mean[ax], centre[ax], 1e-4f);
  // The shape kept, and both O-H bonds.
  int bonds = 0;
  for (int k : water)
    bonds += static_cast<int>(c.atoms[static_cast<size_t>(k)].bondCount);
  EXPECT_EQ(bonds, 4);
  EXPECT_NEAR(VecBondDist(c.atoms[static_cast<size_t>(water[0])].cart, c.atoms[static_cast<size_t>(water[1])].cart),
              VecBondDist(kWater[0].second.data(), kWater[1].second.data()), 1e-4f);
  // The new sites hold the placed positions.
  for (int k = 0; k < c.siteCount; k++)
    for (int ax = 0; ax < 3 && c.atoms[static_cast<size_t>(c.sites[static_cast<size_t>(k)].firstAtom)].selected; ax++)
      EXPECT_NEAR(c.sites[static_cast<size_t>(k)].xyz[ax],
                  c.atoms[static_cast<size_t>(c.sites[static_cast<size_t>(k)].firstAtom)].xyz[ax], 1e-5f);
  EXPECT_TRUE(host_.alerts.empty());
}

TEST_F(PlaceMolecule, TwiceIntoACrystalReusesTypesAndSpecifications) {
  doctest::Window w(host_);
  CrystalRec &c = w.crystal();
  const float cell[6] = {8, 8, 8, 90, 90, 90};
  FillCrystalFromSites(c, cell, "P 1", {{"Na1", "Na", 0.1f, 0.1f, 0.1f}});
  c.bondSpecs[0] = BondSpec{El("H"), El("O"), 0.5f, 0.9f, 1, {}, {}};
  c.bondSpecCount = 1;
  ASSERT_TRUE(RunNewCrystal(w.ref(), true, true, true));
  host_.alerts.clear(); // no H or O yet: "No bonds found!"
  PlaceMoleculeFile(guestFile_, w.ref());
  ASSERT_EQ(c.siteCount, 4);
  const int32_t types = c.sphereCount;
  EXPECT_EQ(c.bondSpecCount, 1); // the pair matched: only its maximum grew
  EXPECT_FLOAT_EQ(c.bondSpecs[0].maxLength, 1.2f);
  int selected = 0;
  for (int k = 0; k < c.atomCount; k++)
    selected += c.atoms[static_cast<size_t>(k)].selected;
  EXPECT_EQ(selected, 3);
  PlaceMoleculeFile(guestFile_, w.ref());
  EXPECT_EQ(c.siteCount, 7);
  EXPECT_EQ(c.sphereCount, types);
  EXPECT_EQ(c.bondSpecCount, 1);
  for (const AlertRequest &a : host_.alerts)
    ADD_FAILURE() << a.message << " / " << a.explanation;
}

TEST_F(PlaceMolecule, ARadiusOffByExactlyTheToleranceIsANewType) {
  CrystalRec host, guest;
  InitBlankCrystalRec(&host);
  InitBlankCrystalRec(&guest);
  for (CrystalRec *c : {&host, &guest}) {
    c->sites = *CreateAsymmetricUnit(1);
    c->siteCount = 1;
    c->atoms.resize(1);
    c->atomCount = 1;
    c->spheres = *CreateSpheresArray(1);
    c->sphereCount = 1;
    c->spheres[0].element = El("O");
    c->orientationMatrix[0] = c->orientationMatrix[4] = c->orientationMatrix[8] = 1.0f;
  }
  host.spheres[0].radius = 1.0f;
  guest.spheres[0].radius = 1.05f;
  guest.molecule = 1;
  ASSERT_TRUE(AppendCrystal(host, guest));
  EXPECT_EQ(host.sphereCount, 2);
  EXPECT_EQ(host.sites[1].atomType, 1u);
}

TEST_F(PlaceMolecule, RefusedDocumentsAndFilters) {
  doctest::Window w(host_);
  BuildMolecule(w, {{"C", {0, 0, 0}}}, {});
  const fs::path junk = dir_ / "junk.ovmf";
  std::FILE *f = std::fopen(junk.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("not a document", f);
  std::fclose(f);
  PlaceMoleculeFile(junk, w.ref());
  ASSERT_EQ(host_.alerts.size(), 1u);
  EXPECT_EQ(host_.alerts[0].message, "Sorry, cannot place this molecule");
  EXPECT_EQ(w.crystal().atomCount, 1);
  EXPECT_TRUE(IsPlaceableMoleculeFile(dir_));
  EXPECT_TRUE(IsPlaceableMoleculeFile(guestFile_));
  EXPECT_FALSE(IsPlaceableMoleculeFile(junk));
}

} // namespace
