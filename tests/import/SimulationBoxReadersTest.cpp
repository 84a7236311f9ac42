// Files of molecular-dynamics packages opened as a user opens them: a box
// becomes a crystal in P 1 holding every atom of the file, wherever the
// file put it; elements are told from names or masses and the Log says how;
// frames go through the chooser; damaged files are refused with the line
// named and leave the window as it was. Positions and cells are compared
// with an independent reader by tests/oracle/simulation_oracle.py.
#include "ReaderTestSupport.h"

#include "import/ImportPath.h"
#include "import/ImportText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using doctest::Window;

const fs::path kData = fs::path(OV_TEST_DATA) / "import";

class SimulationBoxes : public ::testing::Test {
protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("ovsimbox-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    gImportHooks = {};
    fs::remove_all(dir);
  }
  fs::path Write(const std::string &name, const std::string &text) {
    std::ofstream(dir / name, std::ios::binary) << text;
    return dir / name;
  }
  // The first elements of the sites, as symbols.
  static std::string Elements(const CrystalRec &c) {
    std::string out;
    for (const AsymmetricUnitRecord &s : c.sites)
      out += (out.empty() ? "" : " ") + ElementSymbolText(s.elements[0]);
    return out;
  }
  static bool AllInCell(const CrystalRec &c) {
    for (const AsymmetricUnitRecord &s : c.sites)
      for (float x : s.xyz)
        if (!(x >= 0.0f && x < 1.0f))
          return false;
    return true;
  }
  FakeHost host;
  fs::path dir;
};

TEST_F(SimulationBoxes, ATriclinicCoordinateFileIsACrystalInP1WithElementsFromItsNames) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kData / "gromacs/triclinic.gro")) << host.alerts.back().explanation;
  const CrystalRec &c = w.crystal();
  EXPECT_FALSE(c.molecule);
  EXPECT_STREQ(c.spaceGroup, "P 1");
  // Two atoms lie outside the box; all fourteen are atoms of the cell.
  EXPECT_EQ(c.atomsPerCell, 14);
  EXPECT_TRUE(AllInCell(c));
  // CA is carbon in a residue and calcium as an ion of its own name.
  EXPECT_EQ(Elements(c), "O H H O H H Na Ca N C C C O Cl");
  EXPECT_NEAR(c.a, 25.0, 1e-4);
  EXPECT_NEAR(c.gamma, 71.565, 1e-3); // between (25 0 0) and (8 24 0): atan(24/8)
  for (const char *guess : {"they were told from the atom names: C (ALA) C, CA (ALA) C,", "CA (CA) Ca and 5 more."})
    EXPECT_NE(host.log.find(guess), std::string::npos) << guess << "\n" << host.log;
}

TEST_F(SimulationBoxes, FramesGoThroughTheChooserAndThePrecisionFollowsTheDecimalPoints) {
  // Two frames written with five decimals (ten columns), the second with a
  // rectangular box; a third with a box of zeros is a molecule in vacuum.
  const std::string frame1 = "first t= 0.0\n    2\n"
                             "    1SOL     OW    1   1.23456   0.10000   0.20000\n"
                             "    1SOL    HW1    2   1.30000   0.10000   0.20000\n"
                             "   2.00000   2.00000   2.00000\n";
  const std::string frame2 = "second t= 1.0\n 1\n    1SOL     OW    1   0.50000   0.50000   0.50000\n 1 1 1\n";
  const std::string frame3 = "vacuum\n 1\n    1SOL     OW    1   0.50000   0.50000   0.50000\n 0 0 0\n";
  std::vector<StructureSummary> listed;
  gImportHooks.choose = [&](const fs::path &, const std::vector<StructureSummary> &s) {
    listed = s;
    return std::vector<size_t>{0};
  };
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("run.gro", frame1 + frame2 + frame3)));
  ASSERT_EQ(listed.size(), 3u);
  EXPECT_EQ(listed[0].name, "first t= 0.0");
  EXPECT_EQ(listed[1].cell, "10.0000 10.0000 10.0000  90.00 90.00 90.00");
  EXPECT_EQ(listed[2].cell, "molecule");
  EXPECT_FLOAT_EQ(w.crystal().sites[0].xyz[0], 0.617280f); // 12.3456 A / 20 A
  EXPECT_EQ(w.crystal().atomsPerCell, 2);
}

TEST_F(SimulationBoxes, ADataFileMapsMassesToElementsAndItsBondsBecomeBondSpecifications) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kData / "lammps/full.data")) << host.alerts.back().explanation;
  EXPECT_EQ(w.crystal().atomsPerCell, 8);
  EXPECT_TRUE(AllInCell(w.crystal()));
  EXPECT_EQ(Elements(w.crystal()), "O H H O H H Na Cl");
  EXPECT_NE(host.log.find("atom types by their masses: 1 (15.9994) O, 2 (1.008) H, 3 (22.9898) Na, 4 (35.453) Cl."),
            std::string::npos)
      << host.log;
  // Two of the four O-H bonds cross the box's walls.
  EXPECT_NE(host.log.find("4 bond(s) given by the file made 1 bond specification(s): H-O 0.970 to 0.985 A."),
            std::string::npos);

  // A file naming no style: the columns tell it (charge: id type q x y z).
  host.log.clear();
  ASSERT_TRUE(OpenTextFile(w.ref(), kData / "lammps/data.FeOH3"));
  EXPECT_EQ(w.crystal().atomsPerCell, 105);
  EXPECT_EQ(Elements(w.crystal()).substr(0, 9), "Fe O O O ");
  EXPECT_NE(host.log.find("no atom style is named; the columns are read as style charge."), std::string::npos);
}

TEST_F(SimulationBoxes, ReducedUnitsMissingMassesAndAtomsAtOnePlaceAreSaidAndKept) {
  const std::string lj = "lj\n3 atoms\n2 atom types\n0 2 xlo xhi\n0 2 ylo yhi\n0 2 zlo zhi\n\nMasses\n\n1 1.0\n2 1.0\n\n"
                         "Atoms # atomic\n\n1 1 0.5 0.5 0.5\n2 2 0.5 0.5 0.5\n3 1 2.0 2.0 2.0\n";
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("data.lj", lj)));
  EXPECT_NE(host.log.find("reduced (lj) units (every mass is 1)"), std::string::npos) << host.log;
  EXPECT_EQ(Elements(w.crystal()), "Xx Xx Xx");
  // Two atoms at one place and one on the far wall: three atoms.
  EXPECT_EQ(w.crystal().atomsPerCell, 3);

  // An atom twenty thousand boxes away is put into the box, and said; one
  // a thousand million boxes away is at no place a structure holds.
  const std::string far = "x\n3 atoms\n0 5 xlo xhi\n0 5 ylo yhi\n0 5 zlo zhi\n\nAtoms # atomic\n\n"
                          "1 1 1 1 1\n2 1 1e5 1 1\n3 1 1e15 1 1\n";
  host.log.clear();
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("far.lmp", far)));
  EXPECT_EQ(w.crystal().atomsPerCell, 2);
  EXPECT_NE(host.log.find("line 10: the atom lies farther outside the box than the box is wide"), std::string::npos)
      << host.log;
  EXPECT_NE(host.log.find("line 11: the atom lies at no place a structure holds"), std::string::npos) << host.log;

  host.log.clear();
  const std::string noMass = "x\n2 atoms\n2 atom types\n0 5 xlo xhi\n0 5 ylo yhi\n0 5 zlo zhi\n\nMasses\n\n1 28.0855\n\n"
                             "Atoms\n\n1 1 0 0 0\n2 2 1 1 1\n";
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("nomass.lmp", noMass)));
  EXPECT_EQ(Elements(w.crystal()), "Si Xx");
  EXPECT_NE(host.log.find("atom type(s) 2 have no mass: their atoms are placeholders."), std::string::npos) << host.log;
}

// A two-dimensional run keeps its atoms in the plane z = 0 of a box a few
// tenths thick: the plane opens as a molecule, as a two-dimensional DMol
// cell does, and says so.
TEST_F(SimulationBoxes, ATwoDimensionalBoxOpensAsAMoleculeOfItsPlane) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kData / "lammps/data.micelle")) << host.alerts.back().explanation;
  const CrystalRec &c = w.crystal();
  EXPECT_TRUE(c.molecule);
  EXPECT_EQ(c.atomCount, 1200);
  EXPECT_FLOAT_EQ(c.atoms[2].cart[0], 2.39f);
  for (const auto &a : c.atoms)
    ASSERT_EQ(a.cart[2], 0.0f);
  EXPECT_NE(host.log.find("line 17: the box is 0.2 thick along z: a two-dimensional box; its atoms are read as a molecule."),
            std::string::npos)
      << host.log;
  // Its columns are ID, molecule, type: the molecule IDs (0 to 150) are no
  // types of the 4 the header declares.
  EXPECT_NE(host.log.find("line 26: no atom style is named; the columns are read as style molecular."),
            std::string::npos)
      << host.log;
  EXPECT_EQ(host.log.find("have no mass"), std::string::npos) << host.log;
}

TEST_F(SimulationBoxes, AConfigurationIsCentredOnItsCellAndWithoutBoundariesIsAMolecule) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kData / "dlpoly/CONFIG")) << host.alerts.back().explanation;
  EXPECT_EQ(w.crystal().atomsPerCell, 5);
  EXPECT_EQ(Elements(w.crystal()), "Na Cl O H H");
  // Cubic boundaries, levcfg 2: the origin at the centre, forces skipped.
  const std::string cubic = "cube\n 2 1\n 10 0 0\n 0 10 0\n 0 0 10\n"
                            "Si 1\n 0 0 0\n 1 1 1\n 2 2 2\nO 2\n 5.0 -2.5 4.99999\n 1 1 1\n 2 2 2\n";
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("CONFIG_cube", cubic)));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.sites.size(), 2u);
  EXPECT_FLOAT_EQ(c.sites[0].xyz[0], 0.5f);
  EXPECT_FLOAT_EQ(c.sites[1].xyz[0], 0.0f); // on the wall: wrapped
  EXPECT_FLOAT_EQ(c.sites[1].xyz[1], 0.25f);
  EXPECT_EQ(c.atomsPerCell, 2);
  ASSERT_TRUE(OpenTextFile(w.ref(), Write("REVCON", "free\n 0 0\nNa+ 1\n 0 0 0\nCl- 2\n 2.8 0 0\n")));
  EXPECT_TRUE(w.crystal().molecule);
  EXPECT_EQ(w.crystal().atomCount, 2);
}

// Files as other programs write them: a coordinate file with an empty
// title; configurations whose capitalised names are force-field types (CA
// an aromatic carbon, HO a hydroxyl hydrogen, CO, CN, HS), which as symbols
// would put metals 1.0-1.6 A from C, H, N and O, beside crystals that name
// calcium "CA". Elements counted by hand from the files.
TEST_F(SimulationBoxes, FilesOfOtherWritersOpenWithTheirElements) {
  const struct {
    const char *file;
    const char *elements;
    bool types; // the Log says the names were read as types
  } kFiles[] = {
      {"gromacs/untitled.gro", "H2 O1", false},
      {"dlpoly/CONFIG.types", "C9 H6 N1 O3 S1", true},
      {"dlpoly/CONFIG.calcium", "Ca4", false},
      {"dlpoly/CONFIG.lime", "Ca4 O4", false},
  };
  for (const auto &f : kFiles) {
    SCOPED_TRACE(f.file);
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), kData / f.file)) << host.alerts.back().explanation;
    EXPECT_EQ(readertest::ElementCounts(w.crystal()), f.elements);
    EXPECT_EQ(host.log.find("CA, CN, CO, HO, HS are force-field types, read by their first letter") != std::string::npos,
              f.types)
        << host.log;
  }
}

TEST_F(SimulationBoxes, DamagedFilesAreRefusedWithTheLineAndLeaveTheWindowAsItWas) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), kData / "lammps/atomic.data"));
  const int32_t atoms = w.crystal().atomCount;
  const std::string gro = "t\n 2\n    1SOL     OW    1   0.100   0.200   0.300\n";
  const std::string box = "0 5 xlo xhi\n0 5 ylo yhi\n0 5 zlo zhi\n";
  const std::string cell = " 5 0 0\n 0 5 0\n 0 0 5\n";
  const struct {
    std::string name, text, explanation;
  } cases[] = {
      {"short.gro", gro + "   1.0 1.0 1.0\n",
       "at line 4: the file ends before the frame's 2 atom lines and its box line are over."},
      {"nan.gro", gro + "    1SOL    HW1    2   0.100   abcde   0.300\n   1.0 1.0 1.0\n",
       "at line 4: the coordinate \"abcde\" is not a number."},
      {"flat.gro", gro + gro.substr(gro.find('\n', 3) + 1) + "   1.0 1.0 0.0\n", "at line 5: the box has no volume."},
      // A box of negative sides, or one whose walls are given the wrong way
      // round, would open as a positive box with every atom mirrored.
      {"mirror.gro", gro + gro.substr(gro.find('\n', 3) + 1) + "   -2 -2 -2\n",
       "at line 5: the box side \"-2\" is negative."},
      {"negative.gro", "t\n -2\n    1SOL     OW    1   0.100   0.200   0.300\n   1.0 1.0 1.0\n",
       "at line 2: the atom count is not a number of atoms."},
      {"mirror.lmp", "x\n1 atoms\n0 5 xlo xhi\n5 0 ylo yhi\n0 5 zlo zhi\n\nAtoms # atomic\n\n1 1 1 1 1\n",
       "at line 4: the box's yhi is below its ylo."},
      {"short.lmp", "x\n3 atoms\n" + box + "\nAtoms # atomic\n\n1 1 0 0 0\n2 1 1 1 1\n",
       "at line 7: the Atoms section holds 2 lines where the header counts 3."},
      {"nan.lmp", "x\n1 atoms\n" + box + "\nAtoms # atomic\n\n1 1 0 nan 0\n",
       "at line 9: the coordinate \"nan\" is not a number."},
      {"flat.lmp", "x\n1 atoms\n0 5 xlo xhi\n0 5 ylo yhi\n1 1 zlo zhi\n\nAtoms # atomic\n\n1 1 0 0 0\n",
       "at line 5: the box has no volume."},
      {"many.lmp", "x\n3000000 atoms\n" + box + "\nAtoms # atomic\n\n1 1 0 0 0\n",
       "at line 2: the file holds more than 2000000 atoms, the most this version opens."},
      {"CONFIG_short", "t\n 0 1 3\n" + cell + "Na 1\n 0 0 0\nCl 2\n 1 1 1\n",
       "at line 9: the file holds 2 of the 3 atoms its second line counts."},
      {"CONFIG_cut", "t\n 1 1\n" + cell + "Na 1\n 0 0 0\n", "at line 7: the file ends inside the record of atom 1."},
      {"CONFIG_nan", "t\n 0 1\n" + cell + "Na 1\n 0 x 0\n",
       "at line 7: the coordinate \"x\" of atom Na is not a number."},
      {"CONFIG_flat", "t\n 0 3\n 5 0 0\n 0 5 0\n 5 5 0\nNa 1\n 0 0 0\n", "at line 5: the box has no volume."},
      {"CONFIG_thin", "t\n 0 3\n 5 0 0\n 0 5 0\n 0 0 0.5\nNa 1\n 0 0 0\n",
       "at line 5: the box is thinner than 1 A between two of its faces."},
  };
  for (const auto &c : cases) {
    host.alerts.clear();
    EXPECT_FALSE(OpenTextFile(w.ref(), Write(c.name, c.text))) << c.name;
    ASSERT_EQ(host.alerts.size(), 1u) << c.name;
    EXPECT_EQ(host.alerts[0].explanation, "\"" + c.name + "\" could not be read " + c.explanation) << c.name;
    EXPECT_EQ(w.crystal().atomCount, atoms) << c.name;
  }
  // What the header lacks is on no one line.
  const std::string atomsSection = "\nAtoms # atomic\n\n1 1 0 0 0\n";
  const struct {
    std::string name, text, what;
  } wholeFile[] = {
      {"noatoms.lmp", "x\n1 atoms\n" + box, "the file has no Atoms section."},
      {"noz.lmp", "x\n1 atoms\n0 5 xlo xhi\n0 5 ylo yhi\n" + atomsSection, "the header gives no \"zlo zhi\" line."},
      // Five carbon atoms in 8 A^3, denser than any matter.
      {"dense.lmp", "x\n5 atoms\n1 atom types\n0 2 xlo xhi\n0 2 ylo yhi\n0 2 zlo zhi\n\nMasses\n\n1 12.011\n\n"
                    "Atoms # atomic\n\n1 1 0 0 0\n2 1 0.3 0 0\n"
                    "3 1 0.6 0 0\n4 1 0.9 0 0\n5 1 1.2 0 0\n",
       "5 atoms in a cell of 8.0 \u00C5\u00B3: less than the 2 \u00C5\u00B3 each atom of any matter needs."},
  };
  for (const auto &c : wholeFile) {
    host.alerts.clear();
    EXPECT_FALSE(OpenTextFile(w.ref(), Write(c.name, c.text))) << c.name;
    ASSERT_EQ(host.alerts.size(), 1u) << c.name;
    EXPECT_EQ(host.alerts[0].explanation, "\"" + c.name + "\" could not be read: " + c.what) << c.name;
  }
}

} // namespace
