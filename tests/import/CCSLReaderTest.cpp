// Crystal data files: generators closed into the group, cell constants left
// at 0 that the symmetry gives, fractions, form-factor labels naming the
// elements, anisotropic factors by type, and the group named by a symbol.
#include "ReaderTestSupport.h"

#include <cmath>

namespace {

using namespace readertest;
using doctest::Window;

class CCSLReader : public ::testing::Test {
protected:
  FakeHost host;
};

TEST_F(CCSLReader, ThreeGeneratorsMakeTheCubicGroupAndItsCell) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("ccsl", "perovskite.ccl")));
  const CrystalRec &c = w.crystal();
  EXPECT_STREQ(c.spaceGroup, "P m -3 m");
  EXPECT_FLOAT_EQ(c.c, 3.905f);
  EXPECT_FLOAT_EQ(c.alpha, 90.0f);
  EXPECT_EQ(c.atomsPerCell, 5); // 1a, 1b and 3c
  const AsymmetricUnitRecord *ti = Site(c, "TI");
  ASSERT_NE(ti, nullptr);
  EXPECT_FLOAT_EQ(ti->xyz[0], 0.5f);
  EXPECT_EQ(ti->displacementType, uint32_t{kDisplacementAnisoU});
  EXPECT_FLOAT_EQ(ti->tensor[0], 0.004f);
  // OX names its form factor O; SR finds the F card SR.
  EXPECT_EQ(Site(c, "OX")->elements[0], TwoCharsToShort("O "));
  EXPECT_EQ(Site(c, "SR")->elements[0], TwoCharsToShort("Sr"));
  EXPECT_NEAR(Site(c, "SR")->isoValue, 0.55 / (8.0 * M_PI * M_PI), 1e-7);
}

TEST_F(CCSLReader, CentringAndScrewGeneratorsCloseIntoThirtyTwoOperators) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("ccsl", "centred.ccl")));
  // I 41/a, origin 2 (gemmi): 16 a general position; both sites general.
  EXPECT_EQ(w.crystal().atomsPerCell, 32);
  EXPECT_EQ(w.crystal().latticeLetter, 'I');
  // T type 2: B11 8 pi^2 U11; B23 B13 B12 go to U23 U13 U12.
  const AsymmetricUnitRecord *k = Site(w.crystal(), "K");
  ASSERT_NE(k, nullptr);
  EXPECT_NEAR(k->tensor[0], 3.08 / (8.0 * M_PI * M_PI), 1e-6);
  EXPECT_NEAR(k->tensor[1], 0.41 / (8.0 * M_PI * M_PI), 1e-6);  // U12
  EXPECT_NEAR(k->tensor[5], -1.40 / (8.0 * M_PI * M_PI), 1e-6); // U23
}

TEST_F(CCSLReader, AGroupSymbolGivesTheHexagonalCell) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("ccsl", "grup.ccl")));
  EXPECT_FLOAT_EQ(w.crystal().b, 3.2094f);
  EXPECT_FLOAT_EQ(w.crystal().gamma, 120.0f);
  const AsymmetricUnitRecord *mg = Site(w.crystal(), "MG");
  ASSERT_NE(mg, nullptr);
  EXPECT_EQ(mg->elements[0], TwoCharsToShort("Mg"));
  EXPECT_FLOAT_EQ(mg->occupancies[0], 0.5f);
}

TEST_F(CCSLReader, DamagedFilesAreRefusedWithTheLine) {
  const struct {
    std::string text, refusal;
  } cases[] = {
      {"N t\nC 5 6 7\nA O 0 0 0\n", ""},
      {"N t\nC 5 0 7\nA O 0 0 0\n", "line 2: the cell length b is 0 and the symmetry does not give it."},
      {"N t\nC 5\nS -Y,X-Y,Z\nS -X,-Y,Z\nS Z,X,Y\nA O 0 0 0\n",
       "line 3: the symmetry cards make no group of at most 192 operators."},
      {"N t\nC 5 6 7\nA O 0 1/0 0\n", "line 3: the value \"1/0\" of atom O is not a number."},
  };
  for (const auto &c : cases) {
    TempFile f("t.ccl", c.text);
    EXPECT_EQ(Refusal(host, f.path), c.refusal.empty() ? "" : "\"t.ccl\" could not be read at " + c.refusal);
  }
}

} // namespace
