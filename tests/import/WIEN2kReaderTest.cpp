// WIEN2k structure files: the lattice types and the angles they imply, the
// cell in bohr, every MULT position, the three layouts of position lines,
// and the rhombohedral lattice opened on hexagonal axes.
#include "ReaderTestSupport.h"

namespace {

using namespace readertest;
using doctest::Window;

class WIEN2kReader : public ::testing::Test {
protected:
  FakeHost host;
};

TEST_F(WIEN2kReader, LatticeTypesCellsAndEveryPosition) {
  constexpr double kBohr = 0.529177210903;
  const struct {
    const char *file;
    int atoms;
    double a, gamma;
  } files[] = {
      {"fcc.struct", 8, 10.658 * kBohr, 90.0},     // F: the centring adds three copies
      {"hex.struct", 4, 6.14083 * kBohr, 120.0},   // H: gamma is 120 whatever the file says
      {"rhomb.struct", 6, 8.59 * kBohr, 120.0},    // R: two positions, three times
      {"bi.struct", 6, 8.59 * kBohr, 120.0},       // R with 90 degrees written
      {"gaas.struct", 8, 10.684 * kBohr, 90.0},    // the operators at the end
      {"al2o3.struct", 30, 8.98943 * kBohr, 120.0}, // the older layout without X=
      {"a-quartz.struct", 9, 9.42663 * kBohr, 120.0},
      {"Cr3Si.struct", 8, 8.615265 * kBohr, 90.0}, // bohr though line 3 says "unit=ang"
  };
  for (const auto &f : files) {
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Sample("wien2k", f.file))) << f.file;
    EXPECT_EQ(w.crystal().atomsPerCell, f.atoms) << f.file;
    EXPECT_NEAR(w.crystal().a, f.a, 1e-4) << f.file;
    EXPECT_NEAR(w.crystal().gamma, f.gamma, 1e-4) << f.file;
  }
}

TEST_F(WIEN2kReader, DamagedFilesAreRefusedWithTheLine) {
  std::ifstream in(Sample("wien2k", "hex.struct"));
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);)
    lines.push_back(l);
  auto joined = [&](size_t upTo) {
    std::string t;
    for (size_t k = 0; k < upTo && k < lines.size(); k++)
      t += lines[k] + "\n";
    return t;
  };
  TempFile shortFile("t.struct", joined(7));
  EXPECT_EQ(Refusal(host, shortFile.path), "\"t.struct\" could not be read at line 8: the file ends before the name of atom 1.");
  std::string text = joined(lines.size());
  text.replace(text.find("MULT= 2"), 7, "MULT= x");
  TempFile noMult("t.struct", text);
  EXPECT_EQ(Refusal(host, noMult.path),
            "\"t.struct\" could not be read at line 6: the multiplicity (MULT=) of atom 1 is missing or no count.");
  std::string lattice = joined(lines.size());
  lattice[lattice.find("LATTICE") - 4] = 'Q';
  TempFile latticeFile("t.struct", lattice);
  EXPECT_EQ(Refusal(host, latticeFile.path),
            "\"t.struct\" could not be read at line 2: \"Q\" is no lattice type (P, F, B, CXY, CYZ, CXZ, R or H).");
  std::string manyAtoms = joined(lines.size());
  manyAtoms.replace(manyAtoms.find(":  2 186"), 4, ": 1e300");
  TempFile manyAtomsFile("t.struct", manyAtoms);
  EXPECT_EQ(Refusal(host, manyAtomsFile.path),
            "\"t.struct\" could not be read at line 2: the number of atoms (NONEQUIV.ATOMS) is more than the file holds.");
  std::string noCell = joined(lines.size());
  noCell.replace(noCell.find("  6.140830"), 10, "  0.000000");
  TempFile noCellFile("t.struct", noCell);
  EXPECT_EQ(Refusal(host, noCellFile.path),
            "\"t.struct\" could not be read at line 4: the cell's lengths and angles make no cell.");
}

} // namespace
