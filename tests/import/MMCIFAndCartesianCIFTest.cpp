// Macromolecular CIF models and small-molecule CIFs with Cartesian sites,
// opened as a user opens them. Golden values: python3-gemmi 0.5.7 for the
// mmCIF files (positions fractionalised by gemmi's UnitCell, alternate
// locations as gemmi's remove_alternative_conformations leaves them), a hand
// computation for the file's own Cartesian frame, and ASE and Open Babel
// (which agree) for the default frame (tests/oracle/cif_cartesian_oracle.py
// checks the same files against them live).
#include "../documents/DocumentTestSupport.h"

#include "import/ImportPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using doctest::Window;

const std::filesystem::path kDir = std::filesystem::path(OV_TEST_DATA) / "import/cif";

class MMCIFAndCartesianCIF : public ::testing::Test {
protected:
  FakeHost host;
  void SetUp() override { gPrefs = gFactoryPrefs; }
  bool Open(Window &w, const std::filesystem::path &file) {
    return OpenTextFile(w.ref(), file, ImportChoice::TakeFirst);
  }
  bool LogHas(const std::string &text) const { return host.log.find(text) != std::string::npos; }
};

void ExpectFractional(const AsymmetricUnitRecord &site, double x, double y, double z, double tolerance = 2e-6) {
  EXPECT_NEAR(site.xyz[0], x, tolerance);
  EXPECT_NEAR(site.xyz[1], y, tolerance);
  EXPECT_NEAR(site.xyz[2], z, tolerance);
}

TEST_F(MMCIFAndCartesianCIF, AProteinEntryOpensAsGemmiReadsIt) {
  Window w(host);
  ASSERT_TRUE(Open(w, kDir / "mmcif/1cbs.cif.gz"));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.sites.size(), 1213u);
  EXPECT_FLOAT_EQ(c.b, 47.56f);
  EXPECT_EQ(std::string(CStrView(std::span<const char>(c.spaceGroup))), "P 21 21 21");
  // gemmi: atoms 1, 601 and 1213.
  ExpectFractional(c.sites[0], 0.371939, 0.279668, 0.574088);
  ExpectFractional(c.sites[600], 0.363899, 0.541085, 0.256591);
  ExpectFractional(c.sites[1212], 0.710515, 0.421426, 0.517575);
  EXPECT_EQ(c.sites[1212].elements[0], TwoCharsToShort("O "));
  EXPECT_NEAR(c.sites[0].isoValue, 30.05 / (8 * M_PI * M_PI), 1e-6);
}

TEST_F(MMCIFAndCartesianCIF, FirstAlternateLocationsAnisotropicUAndFileBonds) {
  Window w(host);
  ASSERT_TRUE(Open(w, kDir / "mmcif/altloc_bonds.cif"));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.sites.size(), 6u); // N, CA (A), C, O, water 101 (B only), water 102 (A)
  ExpectFractional(c.sites[0], 0.152898, 0.181818, 0.253857);
  ExpectFractional(c.sites[1], 0.252898, 0.227273, 0.253857);
  ExpectFractional(c.sites[4], 0.492294, 0.236364, 0.346937);
  ExpectFractional(c.sites[5], 0.138792, 0.318182, 0.186162);
  EXPECT_FLOAT_EQ(c.sites[1].occupancies[0], 0.6f);
  EXPECT_TRUE(LogHas("2 alternate location(s) were left out"));
  EXPECT_TRUE(LogHas("line 73: _struct_conn names an atom the file does not hold; 1 such bond(s) were left out."));
  // The Cartesian U of N on the monoclinic cell's axes (gemmi's frac matrix
  // F, U* = F U F^t over a*_i a*_j); rows 11 22 33 12 13 23.
  ASSERT_EQ(c.sites[0].displacementType, kDisplacementAnisoU);
  const float *t = c.sites[0].tensor;
  const double expected[6] = {0.01128711, 0.02, 0.03, 0.00150575, 0.00717906, 0.003};
  const float got[6] = {t[0], t[4], t[8], t[1], t[2], t[5]};
  for (int k = 0; k < 6; k++)
    EXPECT_NEAR(got[k], expected[k], 1e-7) << k;
  EXPECT_EQ(c.sites[1].displacementType, kDisplacementIsotropic); // the tensor of CA's B location is not CA's

  // Of the six connections, the covalent ones between atoms kept in the
  // model: C-water 101 and CA (A)-water 102.
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(kDir / "mmcif/altloc_bonds.cif", result, &why)) << why;
  std::set<std::pair<uint32_t, uint32_t>> bonds;
  for (const FileBond &b : result.structures[0].bonds)
    bonds.insert({b.first, b.second});
  EXPECT_EQ(bonds, (std::set<std::pair<uint32_t, uint32_t>>{{2, 4}, {1, 5}}));
}

TEST_F(MMCIFAndCartesianCIF, ModelsWithoutACrystalAreMoleculesToChooseFrom) {
  ImportResult result;
  std::string why;
  ASSERT_TRUE(ReadStructureFile(kDir / "mmcif/nmr_models.cif", result, &why)) << why;
  ASSERT_EQ(result.structures.size(), 2u);
  EXPECT_EQ(result.structures[1].name, "model 2");
  Window w(host);
  ASSERT_TRUE(Open(w, kDir / "mmcif/nmr_models.cif"));
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.molecule, 1);
  ASSERT_EQ(c.atomCount, 3);
  EXPECT_FLOAT_EQ(c.atoms[2].cart[0], -0.24f);
  EXPECT_FLOAT_EQ(c.atoms[2].cart[1], 0.927f);
  EXPECT_TRUE(LogHas("holds 2 structures"));
}

TEST_F(MMCIFAndCartesianCIF, CartesianSitesTakeTheFilesFrameElseTheUsualOne) {
  {
    Window w(host);
    ASSERT_TRUE(Open(w, kDir / "cartesian/frame_matrix.cif"));
    const CrystalRec &c = w.crystal();
    ASSERT_EQ(c.sites.size(), 3u);
    ExpectFractional(c.sites[1], 0.5, 0.5, 0.5);
    ExpectFractional(c.sites[2], 0.1, 0.2, 0.3);
    EXPECT_FALSE(LogHas("a along x"));
  }
  {
    Window w(host);
    ASSERT_TRUE(Open(w, kDir / "cartesian/default_frame.cif"));
    const CrystalRec &c = w.crystal();
    ASSERT_EQ(c.sites.size(), 3u);
    ExpectFractional(c.sites[1], 0.1, 0.2, 0.3, 1e-6);
    ExpectFractional(c.sites[2], 0.6, 0.25, 0.8, 1e-6);
    EXPECT_TRUE(LogHas("default_frame.cif, line 12: the file gives no _atom_sites_Cartn_tran_matrix; its Cartesian "
                       "coordinates are taken with a along x and b in the x-y plane."));
  }
  Window w(host);
  ASSERT_TRUE(Open(w, kDir / "cartesian/molecule.cif"));
  const CrystalRec &c = w.crystal();
  EXPECT_EQ(c.molecule, 1);
  ASSERT_EQ(c.atomCount, 4);
  EXPECT_FLOAT_EQ(c.atoms[2].cart[1], 0.814f);
  EXPECT_FLOAT_EQ(c.atoms[3].cart[2], -0.27f);
}

} // namespace
