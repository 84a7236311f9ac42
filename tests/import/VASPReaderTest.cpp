// VASP structure files: VASP 4 and 5, Cartesian positions, the volume as a
// negative scale, and every atom of the box an atom of the cell.
#include "ReaderTestSupport.h"

#include <cmath>

namespace {

using namespace readertest;
using doctest::Window;

class VASPReader : public ::testing::Test {
protected:
  FakeHost host;
};

TEST_F(VASPReader, EveryAtomOfTheBoxIsAnAtomOfTheCellInP1) {
  const struct {
    const char *file;
    int atoms;
    const char *firstElement;
  } files[] = {{"POSCAR_vasp4", 8, "Na"}, {"CONTCAR_selective", 6, "Ti"}, {"cartesian.vasp", 3, "Si"},
               {"POSCAR_negative", 1, "Cu"}, {"POSCAR_unnamed", 2, "Xx"}};
  for (const auto &f : files) {
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Sample("vasp", f.file))) << f.file;
    const CrystalRec &c = w.crystal();
    EXPECT_STREQ(c.spaceGroup, "P 1") << f.file;
    EXPECT_EQ(c.atomsPerCell, f.atoms) << f.file;
    EXPECT_EQ(c.sites[0].elements[0], TwoCharsToShort(f.firstElement)) << f.file;
    for (const AsymmetricUnitRecord &s : c.sites)
      for (float x : s.xyz)
        EXPECT_TRUE(x >= 0.0f && x < 1.0f) << f.file << " " << s.label;
  }
}

// The volume 11.81 A^3 of the fcc primitive cell (det 1/4 of the unscaled
// vectors): a = cbrt(11.81 / 0.25) * sqrt(1/2), angles 60 degrees.
TEST_F(VASPReader, ANegativeScaleIsTheVolume) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("vasp", "POSCAR_negative")));
  const double a = std::cbrt(11.81 / 0.25) * std::sqrt(0.5);
  EXPECT_NEAR(w.crystal().a, a, 1e-5);
  EXPECT_NEAR(w.crystal().alpha, 60.0, 1e-4);
}

TEST_F(VASPReader, DamagedFilesAreRefusedWithTheLine) {
  const std::string head = "t\n1.0\n4 0 0\n0 4 0\n0 0 4\nNa Cl\n";
  const struct {
    const char *text, *refusal;
  } bad[] = {
      {"1 1\nDirect\n0 0 0\n", "\"POSCAR\" could not be read at line 10: the file ends before a position."},
      {"1 1\nDirect\n0 0 0\n0.5 x 0.5\n",
       "\"POSCAR\" could not be read at line 10: the value \"x\" of a position is not a number."},
  };
  for (const auto &b : bad) {
    TempFile f("POSCAR", head + b.text);
    EXPECT_EQ(Refusal(host, f.path), b.refusal);
  }
  // A file cut in its last number would open with the atom moved.
  TempFile cut("POSCAR", head + "1 1\nDirect\n0 0 0\n0.5 0.5 0.");
  EXPECT_EQ(Refusal(host, cut.path), "\"POSCAR\" could not be read at line 10: the file ends inside the record.");
  TempFile flat("POSCAR", "t\n1.0\n4 0 0\n0 4 0\n8 0 0\nNa\n1\nDirect\n0 0 0\n");
  EXPECT_EQ(Refusal(host, flat.path), "\"POSCAR\" could not be read at line 3: the lattice vectors span no volume.");
}

// A position no number can hold is no place: the atom is left out and said,
// and a file left with no atom is refused.
TEST_F(VASPReader, AnAtomAtNoFinitePlaceIsLeftOutWithItsLine) {
  const std::string head = "t\n1.0\n4 0 0\n0 4 0\n0 0 4\nNa Cl\n1 1\n";
  const struct {
    const char *mode, *far;
  } files[] = {{"Direct", "1e300 0 0"}, {"Cartesian", "1e308 0 0"}};
  for (const auto &f : files) {
    TempFile file("POSCAR", head + f.mode + "\n0.5 0.5 0.5\n" + f.far + "\n");
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), file.path)) << f.mode;
    ASSERT_EQ(w.crystal().atomsPerCell, 1) << f.mode;
    EXPECT_EQ(w.crystal().sites[0].elements[0], TwoCharsToShort("Na")) << f.mode;
    EXPECT_NE(host.log.find("line 10: the atom lies at no place a structure holds (a coordinate beyond 1000000); "
                            "it is left out."),
              std::string::npos)
        << host.log;
  }
  TempFile none("POSCAR", "t\n1.0\n4 0 0\n0 4 0\n0 0 4\nNa\n1\nDirect\n1e300 0 0\n");
  EXPECT_EQ(Refusal(host, none.path), "\"POSCAR\" could not be read at line 9: the file's atoms lie at no place a "
                                      "structure holds (a coordinate beyond 1000000).");
}

} // namespace
