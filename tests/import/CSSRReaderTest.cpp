// CSSR files: orthogonal coordinates turned fractional, the space-group
// number, and the connections that become the structure's bonds.
#include "ReaderTestSupport.h"

#include <cmath>

namespace {

using namespace readertest;
using doctest::Window;

class CSSRReader : public ::testing::Test {
protected:
  FakeHost host;
};

// O1 at (1, 1, 1) A in a cell 6 7 8, beta 110 (a along x, b along y): by
// hand z = 1 / (c sin beta), y = 1 / b, x = (1 - c cos beta z) / a.
TEST_F(CSSRReader, OrthogonalCoordinatesAndConnections) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("cssr", "orthogonal.cssr")));
  const CrystalRec &c = w.crystal();
  const double beta = 110.0 * M_PI / 180.0;
  const double z = 1.0 / (8.0 * std::sin(beta)), y = 1.0 / 7.0, x = (1.0 - 8.0 * std::cos(beta) * z) / 6.0;
  const AsymmetricUnitRecord *o1 = Site(c, "O1");
  ASSERT_NE(o1, nullptr);
  EXPECT_NEAR(o1->xyz[0], x, 1e-6);
  EXPECT_NEAR(o1->xyz[1], y, 1e-6);
  EXPECT_NEAR(o1->xyz[2], z, 1e-6);
  EXPECT_EQ(c.atomsPerCell, 4);
  int bondEnds = 0;
  for (const AtomRecord &a : c.atoms)
    bondEnds += static_cast<int>(a.bondCount);
  EXPECT_GT(bondEnds, 0);
  EXPECT_NE(host.log.find("2 bond(s) given by the file made 1 bond specification(s): H-O"), std::string::npos);
}

TEST_F(CSSRReader, TheSpaceGroupNumberGivesTheSymmetry) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("cssr", "fractional.cssr")));
  EXPECT_EQ(w.crystal().atomsPerCell, 8);
  EXPECT_EQ(w.crystal().latticeLetter, 'F');
}

// The fields separated by blanks from column 1, as many programs write
// them, or by tabs before them: pyrite-type MgO2, a = 4.8982 A, twelve atoms
// in P 1 (counted by hand).
TEST_F(CSSRReader, FieldsSeparatedByBlanksAreRead) {
  for (const char *name : {"MgO2.cssr", "MgO2_tabs.cssr"}) {
    SCOPED_TRACE(name);
    Window w(host);
    ASSERT_TRUE(OpenTextFile(w.ref(), Sample("cssr", name)));
    EXPECT_EQ(w.crystal().atomsPerCell, 12);
    EXPECT_EQ(ElementCounts(w.crystal()), "Mg4 O8");
    EXPECT_FLOAT_EQ(w.crystal().a, 4.8982f);
  }
}

TEST_F(CSSRReader, AShortAtomListIsRefused) {
  std::ifstream in(Sample("cssr", "fractional.cssr"));
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  std::string text = whole;
  text.erase(text.rfind("   2 Cl1"));
  TempFile f("t.cssr", text);
  EXPECT_EQ(Refusal(host, f.path), "\"t.cssr\" could not be read at line 5: the file ends after 1 of its 2 atoms.");
  // Cut inside the last atom's z.
  text = whole.substr(0, whole.find("0.50000  0.50000  0.50000") + 19);
  TempFile cut("t.cssr", text);
  EXPECT_EQ(Refusal(host, cut.path), "\"t.cssr\" could not be read at line 6: the file ends inside the line of atom 2.");
}

// A space group that is no number of one is P 1 with a word; an atom count
// beyond any file's is refused with its line.
TEST_F(CSSRReader, NumbersOutOfRangeAreMendedOrRefusedWithTheirLine) {
  std::ifstream in(Sample("cssr", "fractional.cssr"));
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  for (const char *group : {"-7", "99999999999999999999"}) {
    std::string t = text;
    t.replace(t.find("225 F m -3 m"), 12, group);
    TempFile f("t.cssr", t);
    Window w(host);
    host.log.clear();
    ASSERT_TRUE(OpenTextFile(w.ref(), f.path)) << group;
    EXPECT_EQ(w.crystal().atomsPerCell, 2) << group;
    EXPECT_NE(host.log.find("line 2: space group " + std::string(group) + " is no space group; P 1 is taken."),
              std::string::npos)
        << group;
  }
  std::string t = text;
  t.replace(t.find("   2   0 rock"), 8, "1e300  0");
  TempFile f("t.cssr", t);
  EXPECT_EQ(Refusal(host, f.path),
            "\"t.cssr\" could not be read at line 3: line 3 needs the number of atoms (at most 2000000).");
}

} // namespace
