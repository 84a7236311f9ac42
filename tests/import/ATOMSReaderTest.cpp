// The two formats called "atoms" and the ".inp" files they share with the
// refinement language, the SHELX instruction file and the own text format:
// each opens as its own format.
#include "ReaderTestSupport.h"

namespace {

using namespace readertest;
using doctest::Window;

class ATOMSReader : public ::testing::Test {
protected:
  FakeHost host;
};

std::string Text(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST_F(ATOMSReader, TheDrawingProgramsFileGivesTheGroupBySymbolOrByOperators) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("atoms", "quartz.inp")));
  EXPECT_EQ(w.crystal().atomsPerCell, 9); // P 32 2 1: Si on 3a, O general (gemmi)
  EXPECT_STREQ(w.crystal().spaceGroup, "P 32 2 1");
  Window r(host);
  ASSERT_TRUE(OpenTextFile(r.ref(), Sample("atoms", "symm.inp")));
  // Eight operators, centric: P 42/m n m (16), Ti on 2a and O on 4f.
  EXPECT_STREQ(r.crystal().spaceGroup, "P 42/m n m");
  EXPECT_EQ(r.crystal().atomsPerCell, 6);
}

TEST_F(ATOMSReader, TheAbsorptionProgramsFileShiftsItsSites) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("atoms", "atoms.inp")));
  EXPECT_EQ(w.crystal().atomsPerCell, 6); // P n -3 m: 2a and 4b
  const AsymmetricUnitRecord *cu = Site(w.crystal(), "Cu1");
  ASSERT_NE(cu, nullptr);
  EXPECT_FLOAT_EQ(cu->xyz[0], 0.25f);
  EXPECT_EQ(Site(w.crystal(), "O1")->elements[0], TwoCharsToShort("O "));
}

// A file of each format named ".inp" reads as it reads under its own name.
TEST_F(ATOMSReader, InpFilesOfFiveFormatsOpenAsTheirOwn) {
  const fs::path examples = fs::path(OV_SOURCE_DIR) / "resources" / "examples";
  const struct {
    fs::path file;
    int atomsPerCell; // 0: as under its own name
  } cases[] = {
      {Sample("shelx", "latt-4.ins"), 0}, {examples / "Rutile.ovtx", 0},     {Sample("topas", "rutile.str"), 0},
      {Sample("atoms", "quartz.inp"), 9}, {Sample("atoms", "atoms.inp"), 6},
  };
  for (const auto &c : cases) {
    TempFile f("x.inp", Text(c.file));
    Window own(host), inp(host);
    ASSERT_TRUE(OpenTextFile(own.ref(), c.file)) << c.file;
    ASSERT_TRUE(OpenTextFile(inp.ref(), f.path)) << c.file;
    EXPECT_EQ(inp.crystal().sites.size(), own.crystal().sites.size()) << c.file;
    EXPECT_EQ(inp.crystal().atomsPerCell, own.crystal().atomsPerCell) << c.file;
    EXPECT_STREQ(inp.crystal().spaceGroup, own.crystal().spaceGroup) << c.file;
    if (c.atomsPerCell) {
      EXPECT_EQ(inp.crystal().atomsPerCell, c.atomsPerCell) << c.file;
    }
  }
}

TEST_F(ATOMSReader, DamagedFilesAreRefusedWithTheLine) {
  const struct {
    std::string name, text, refusal;
  } cases[] = {
      {"a.inp", "TITL t\nCELL 5 5 5 90 90\nSPGP P1\nO1 0 0 0 O\n", "line 2: CELL needs six numbers."},
      {"a.inp", "TITL t\nCELL 5 5 5 90 90 90\nSPGP Q1\nO1 0 0 0 O\n",
       "line 3: the space group \"Q1\" is not one this version knows."},
      {"a.inp", "TITL t\nCELL 5 5 5 90 90 90\nLATT 0.5\nO1 0 0 0 O\n", "line 3: LATT \"0.5\" names no lattice."},
      {"atoms.inp", "title t\nspace P 1\na = 5\natoms\nO 0 half 0\n",
       "line 5: the coordinate \"half\" of atom O is not a number."},
  };
  for (const auto &c : cases) {
    TempFile f(c.name, c.text);
    EXPECT_EQ(Refusal(host, f.path), "\"" + c.name + "\" could not be read at " + c.refusal);
  }
}

// Another program's crystal file with a bare CELL card, its numbers on the
// next line, is none of these files.
TEST_F(ATOMSReader, ABareCellCardIsNoATOMSFile) {
  TempFile f("napth.xtl", "TITLE naphthalene\nDIMENSION 3\nCELL\n  8.098 5.953 8.652 90 124.4 90\n"
                          "SYMMETRY NUMBER 14\nATOMS\nNAME X Y Z\nC1 0.08 0.02 0.33\nEOF\n");
  EXPECT_EQ(Refusal(host, f.path), "\"napth.xtl\" is no structure file this version reads.");
}

} // namespace
