// Visualisation files: the group, its check against the listed operators,
// the sites with their displacements, the bond list as the structure's bond
// specifications, the atom types' looks, phases through the chooser.
#include "ReaderTestSupport.h"

#include <cmath>

namespace {

using namespace readertest;
using doctest::Window;

class VESTAReader : public ::testing::Test {
protected:
  FakeHost host;
  void TearDown() override { gImportHooks.choose = nullptr; }
};

std::string Text(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST_F(VESTAReader, SitesDisplacementsBondsAndLooks) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("vesta", "rutile.vesta")));
  const CrystalRec &c = w.crystal();
  EXPECT_STREQ(c.spaceGroup, "P 42/m n m");
  EXPECT_EQ(c.atomsPerCell, 6); // Ti on 2a, O on 4f (gemmi)
  // The operators are the group's: no Log line about them.
  EXPECT_EQ(host.log.find("SYMOP"), std::string::npos) << host.log;
  // THERI 0 gives B: U = 0.5 / (8 pi^2). THERM overrides it for Ti.
  EXPECT_NEAR(Site(c, "O1")->isoValue, 0.5 / (8.0 * M_PI * M_PI), 1e-7);
  EXPECT_EQ(Site(c, "Ti1")->displacementType, uint32_t{kDisplacementAnisoU});
  EXPECT_FLOAT_EQ(Site(c, "Ti1")->tensor[1], 0.0001f);
  // SBOND is the whole bonding: one Ti-O specification, and every bond
  // joins a Ti to an O.
  ASSERT_EQ(c.bondSpecCount, 1);
  EXPECT_FLOAT_EQ(c.bondSpecs[0].maxLength, 2.1f);
  EXPECT_EQ(c.bondSpecs[0].colour1, (RGBColor{200 * 257, 50 * 257, 50 * 257}));
  const ElementCode ti = TwoCharsToShort("Ti");
  size_t bonds = 0;
  for (const AtomRecord &a : c.atoms)
    for (uint32_t k = 0; k < a.bondCount; k++, bonds++) {
      const bool fromTi = c.sites[a.site].elements[0] == ti;
      EXPECT_NE(fromTi, c.sites[c.atoms[a.bonds[k]].site].elements[0] == ti);
    }
  EXPECT_GT(bonds, 0u);
  bool tiLook = false;
  for (const SphereRecord &s : c.spheres)
    if (s.element == TwoCharsToShort("Ti"))
      tiLook = s.radius == 1.47f && s.colour == RGBColor{120 * 257, 202 * 257, 255 * 257};
  EXPECT_TRUE(tiLook);
}

// Tensors that draw no ellipsoid (not positive definite) are one Log line
// for the file, and the sites keep the isotropic value THERI gives.
TEST_F(VESTAReader, InvalidTensorsAreOneLogLineAndTheSitesStayIsotropic) {
  std::string text = Text(Sample("vesta", "rutile.vesta"));
  auto replace = [&](const std::string &from, const std::string &to) { text.replace(text.find(from), from.size(), to); };
  replace("0.00500    0.00500    0.00300    0.00010", "0.00500    0.00500    0.00300    0.01000");
  replace("O1    0.00000    0.00000    0.00000", "O1   -0.01000    0.01000    0.01000");
  TempFile f("invalid.vesta", text);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), f.path));
  EXPECT_NE(host.log.find("invalid.vesta, line 44: 2 site(s) have an invalid thermal ellipsoid tensor (Ti1, O1); they "
                          "keep their isotropic displacement."),
            std::string::npos)
      << host.log;
  EXPECT_EQ(host.log.find("Invalid thermal ellipsoid tensor for site"), std::string::npos) << host.log;
  EXPECT_EQ(Site(w.crystal(), "Ti1")->displacementType, uint32_t{kDisplacementIsotropic});
  EXPECT_NEAR(Site(w.crystal(), "Ti1")->isoValue, 0.4 / (8.0 * M_PI * M_PI), 1e-7);
}

TEST_F(VESTAReader, PhasesGoThroughTheChooserAndStrayOperatorsAreLogged) {
  std::vector<StructureSummary> listed;
  gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &s) {
    listed = s;
    return std::vector<size_t>{1};
  };
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("vesta", "twophases.vesta")));
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].name, "Rock salt");
  EXPECT_EQ(listed[1].name, "CsCl");
  EXPECT_EQ(w.crystal().atomsPerCell, 2);
  EXPECT_NE(host.log.find("line 31: the operators of SYMOP are not those of the group \"P m -3 m\" that GROUP names "
                          "(\"P -1\"); GROUP is used."),
            std::string::npos)
      << host.log;
  // No SBOND: the automatic bonds.
  EXPECT_GT(w.crystal().bondSpecCount, 0);
}

TEST_F(VESTAReader, DamagedFilesAreRefusedWithTheLine) {
  const std::string text = Text(Sample("vesta", "twophases.vesta"));
  const auto replaced = [&](const std::string &from, const std::string &to) {
    std::string t = text;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  const struct {
    std::string text, refusal;
  } cases[] = {
      {replaced("0.500000   0.500000   0.500000    4b", "0.500000   half   0.500000    4b"),
       "\"t.vesta\" could not be read at line 16: the coordinate \"half\" of site Cl is not a number."},
      {replaced("CELLP\n  5.64", "CELL\n  5.64"), "\"t.vesta\" could not be read at line 3: the phase gives no cell "
                                                  "(CELLP)."},
      {replaced(" 0.000000  0.000000  0.000000 -1  0  0", " 0.000000  0.000000  0.000000 -1e300  0  0"),
       "\"t.vesta\" could not be read at line 33: a SYMOP rotation holds a value other than -1, 0 or 1."},
      {replaced("225 1 F m -3 m", "225 1 Q m -3 m"),
       "\"t.vesta\" could not be read at line 9: the space group \"Q m -3 m\" is not one this version knows."},
  };
  for (const auto &c : cases) {
    TempFile f("t.vesta", c.text);
    EXPECT_EQ(Refusal(host, f.path), c.refusal);
  }
}

} // namespace
