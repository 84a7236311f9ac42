// DMol archives: cells and their space groups, molecules, frames, the
// element column and damaged files.
#include "MOLTestFixture.h"

#include <cmath>

namespace {

using doctest::Window;
using DMolReaderTest = MoleculeFileTest;

std::string Car(const std::string &pbc, const std::string &cellLine, const std::string &atoms, bool end = true) {
  return "!BIOSYM archive 3\nPBC=" + pbc + "\ntitle\n!DATE Mon Jan 06 10:00:00 2025\n" + cellLine + atoms +
         (end ? "end\nend\n" : "");
}

// A cell with its group: the file lists the whole cell; the images under
// the group are left out, and the build makes each atom once.
TEST_F(DMolReaderTest, CellAndSpaceGroupFromThePBCLine) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Data("dmol/nacl_fm3m.car")));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.molecule, 0);
  EXPECT_FLOAT_EQ(c.a, 5.64f);
  EXPECT_EQ(std::string(c.spaceGroup), "F m -3 m");
  EXPECT_EQ(c.siteCount, 2);
  EXPECT_EQ(c.atomsPerCell, 8);
  EXPECT_NE(host.log.find("line 5: 6 atom(s) are images of others under the space group \"FM-3M\""),
            std::string::npos)
      << host.log;
  // No group named: P 1, every atom a site. Fractional positions of a
  // triclinic cell, from Cartesian ones in the frame with a along x and b
  // in the xy plane.
  Window t(host);
  ASSERT_TRUE(OpenTextFile(t.ref(), Data("dmol/triclinic.car")));
  const CrystalRec &tri = t.crystal();
  EXPECT_EQ(std::string(tri.spaceGroup), "P 1");
  EXPECT_FLOAT_EQ(tri.gamma, 105.0f);
  const float expected[3][3] = {{0.1f, 0.2f, 0.3f}, {0.6f, 0.7f, 0.8f}, {0.95f, 0.05f, 0.5f}};
  ASSERT_EQ(tri.siteCount, 3);
  for (int s = 0; s < 3; s++)
    for (int i = 0; i < 3; i++)
      EXPECT_NEAR(tri.sites[static_cast<size_t>(s)].xyz[i], expected[s][i], 1e-6) << s << " " << i;
}

// PBC=OFF is a molecule; an archive's frames go through the chooser; the
// element column is read in any case, and an unknown group is P 1.
TEST_F(DMolReaderTest, MoleculesFramesAndElementColumn) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Data("dmol/water.car")));
  EXPECT_EQ(w.crystal().molecule, 1);
  EXPECT_EQ(w.crystal().atomCount, 3);
  EXPECT_EQ(Element(w.crystal(), 0), "O");
  EXPECT_FLOAT_EQ(w.crystal().atoms[1].cart[1], 0.7572f);

  chosen = {1};
  Window f(host);
  ASSERT_TRUE(OpenTextFile(f.ref(), Data("dmol/water_two_frames.arc")));
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[1].name, "Water frame 2");
  // A frame's energy, after the title's 64 columns, is no part of it.
  const std::string frame = "gibbsite fit" + std::string(55, ' ') +
                            "-14175.988391\n!DATE\nO1 0.0 0.0 0.0 XXXX 1 xx O 0.000\nend\nend\n";
  chosen = {0};
  Window e(host);
  ASSERT_TRUE(OpenTextFile(e.ref(), Write("fit.arc", "!BIOSYM archive 3\nPBC=OFF\n" + frame + frame)));
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0].name, "gibbsite fit");
  EXPECT_FLOAT_EQ(f.crystal().atoms[0].cart[0], 0.1f) << "the second frame is opened";

  const std::string cell = "PBC    4.0500    4.0500    4.0500   90.0000   90.0000   90.0000 (Q 9)\n";
  const std::string atoms = "AL1  0.0 0.0 0.0 XXXX 1 xx AL 0.000\nal2 2.025 2.025 0.0 XXXX 1 xx al 0.000\n";
  Window a(host);
  ASSERT_TRUE(OpenTextFile(a.ref(), Write("al.car", Car("ON", cell, atoms))));
  EXPECT_EQ(a.crystal().atomsPerCell, 2);
  EXPECT_EQ(Element(a.crystal(), 0), "Al");
  EXPECT_EQ(Element(a.crystal(), 1), "Al");
  EXPECT_NE(host.log.find("al.car, line 5: the space group \"Q 9\" is not known; the atoms are read in P 1."),
            std::string::npos)
      << host.log;
}

// The archive's other heading: 105 lines, four of heading and 22 "end"
// lines, leave 79 atoms in 21 molecules, every one of them read.
TEST_F(DMolReaderTest, AnMSIArchiveIsReadWhole) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Data("dmol/la_rdefe_clus.car"))) << host.alerts.back().explanation;
  EXPECT_EQ(w.crystal().molecule, 1);
  EXPECT_EQ(w.crystal().atomCount, 79);
  EXPECT_EQ(Element(w.crystal(), 0), "La");
  EXPECT_EQ(Element(w.crystal(), 78), "H");
}

TEST_F(DMolReaderTest, DamagedFilesAreRefusedOrMended) {
  const std::string cell = "PBC    4.0000    4.0000    4.0000   90.0000   90.0000   90.0000\n";
  const std::string atom = "C1   0.0 0.0 0.0 XXXX 1 xx C 0.000\n";
  ExpectRefused(Write("a.car", Car("ON", cell, atom + "C2 0.0 x 1.0 XXXX 1 xx C 0.000\n")), 7,
                "the coordinate \"x\" of atom C2 is not a number");
  ExpectRefused(Write("b.car", Car("ON", "", atom)), 5, "the frame has no PBC line with its cell");
  ExpectRefused(Write("c.car", Car("ON", "PBC 4 4 4 90 90\n", atom)), 5,
                "the PBC line gives no cell lengths and angles");
  ExpectRefused(Write("d.car", "!BIOSYM archive 3\ntitle\n"), 2,
                "the archive has no \"PBC=\" line after its first");
  // 33 atoms listed in a cell of 64 A^3, less than 2 A^3 each: refused at
  // the cell's line before their images under the group are looked for.
  std::string crowded;
  for (int k = 0; k < 33; k++)
    crowded += "C" + std::to_string(k + 1) + " " + std::to_string(0.1 * k) + " 0.5 0.5 XXXX 1 xx C 0.000\n";
  ExpectRefused(Write("f.car", Car("ON", cell, crowded)), 5,
                "33 atoms in a cell of 64.0 \u00C5\u00B3: less than the 2 \u00C5\u00B3 each atom of any matter needs");
  // Truncated: the atoms read are kept, with a warning; an atom without an
  // element column takes its name's.
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("e.car", Car("OFF", "", atom + "O2 1.2 0.0 0.0\n", false))));
  EXPECT_EQ(w.crystal().atomCount, 2);
  EXPECT_EQ(Element(w.crystal(), 1), "O");
  EXPECT_NE(host.log.find("e.car, line 6: the atom has no element column"), std::string::npos) << host.log;
  EXPECT_NE(host.log.find("e.car, line 6: the frame ends without its \"end\" line."), std::string::npos);
  // An atom no structure can hold is no image of another: it is left out.
  Window far(host);
  const std::string group = "PBC    4.0000    4.0000    4.0000   90.0000   90.0000   90.0000 (FM-3M)\n";
  ASSERT_TRUE(OpenTextFile(far.ref(), Write("f.car", Car("ON", group, atom + "C2 1e308 0.0 0.0 XXXX 1 xx C 0.000\n"))));
  EXPECT_EQ(far.crystal().siteCount, 1);
  EXPECT_NE(host.log.find("f.car, line 7: the atom lies at no place a structure holds"), std::string::npos) << host.log;
}

} // namespace
