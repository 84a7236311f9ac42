// SHELX instruction and result files opened as File > Open opens them: the
// free-variable codes of occupancies and coordinates, riding hydrogen atoms,
// continued lines, the lattice type, and the files that are not SHELX.
#include "ReaderTestSupport.h"

#include <cmath>

namespace {

using namespace readertest;
using doctest::Window;

class SHELXReader : public ::testing::Test {
protected:
  FakeHost host;
};

// FVAR 0.51234 0.7: 21.0 is 0.7, -21.0 is 0.3, 10.5 is 0.5 fixed, and an
// atom of 10.5 on the inversion centre of P -1 is a whole atom; 10.25 is a
// coordinate fixed at 0.25. Q peaks and the lines after HKLF are no atoms.
TEST_F(SHELXReader, FreeVariablesCodeOccupanciesAndCoordinates) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("shelx", "occupancy.res")));
  const CrystalRec &c = w.crystal();
  const struct {
    const char *label;
    float occupancy;
  } expected[] = {{"FE1", 1.0f}, {"O1", 0.7f}, {"O2", 0.3f}, {"C1", 0.5f}, {"C2", 1.0f}};
  ASSERT_EQ(c.sites.size(), 5u);
  for (const auto &e : expected) {
    const AsymmetricUnitRecord *s = Site(c, e.label);
    ASSERT_NE(s, nullptr) << e.label;
    EXPECT_NEAR(s->occupancies[0], e.occupancy, 1e-6) << e.label;
  }
  EXPECT_NEAR(Site(c, "C1")->xyz[0], 0.25f, 1e-6);
  EXPECT_EQ(Site(c, "FE1")->elements[0], TwoCharsToShort("Fe"));
  EXPECT_EQ(c.atomsPerCell, 9);
  EXPECT_NEAR(c.beta, 95.0f, 1e-4);
  EXPECT_NEAR(c.cellEsds[0], 0.001f, 1e-7);
  EXPECT_NE(host.log.find("2 residual density peak(s) (Q) were left out."), std::string::npos);
}

// Ueq of an anisotropic atom in a monoclinic cell, by hand:
// (1/3) [(U11 + U33 + 2 U13 cos beta) / sin^2 beta + U22].
TEST_F(SHELXReader, RidingUisoFollowsThePreviousAtomsUeqAndContinuedLinesAreRead) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("shelx", "riding.ins")));
  const CrystalRec &c = w.crystal();
  const AsymmetricUnitRecord *n1 = Site(c, "N1"), *h1a = Site(c, "H1A"), *h1b = Site(c, "H1B");
  ASSERT_TRUE(n1 && h1a && h1b);
  ASSERT_EQ(n1->displacementType, kDisplacementAnisoU);
  // U11 U22 U33 U23 U13 U12 = 0.03 0.04 0.05 0.001 0.002 0.003
  EXPECT_NEAR(n1->tensor[0], 0.03f, 1e-7);
  EXPECT_NEAR(n1->tensor[8], 0.05f, 1e-7);
  EXPECT_NEAR(n1->tensor[5], 0.001f, 1e-7);
  EXPECT_NEAR(n1->tensor[2], 0.002f, 1e-7);
  EXPECT_NEAR(n1->tensor[1], 0.003f, 1e-7);
  const double beta = 100.0 * M_PI / 180.0;
  const double ueq = ((0.03 + 0.05 + 2.0 * 0.002 * std::cos(beta)) / std::pow(std::sin(beta), 2) + 0.04) / 3.0;
  ASSERT_EQ(h1a->displacementType, kDisplacementIsotropic);
  EXPECT_NEAR(h1a->isoValue, 1.2 * ueq, 1e-6);
  EXPECT_NEAR(h1b->isoValue, 1.5 * 0.02, 1e-6);
  EXPECT_EQ(c.atomsPerCell, 16);
}

// EXYZ N3 C3 at one position is one site, N 0.62 and C 0.38; Co .87, Fe
// .11 and Ni .13 at one position are one site with a word on the sum, its
// elements by decreasing share (Ni before Fe).
TEST_F(SHELXReader, AtomsAtOnePositionAreOneMixedSite) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("shelx", "thpp.ins")));
  const CrystalRec &c = w.crystal();
  ASSERT_EQ(c.sites.size(), 3u);
  const AsymmetricUnitRecord *n3 = Site(c, "N3"), *co1 = Site(c, "CO1");
  ASSERT_TRUE(n3 && co1);
  EXPECT_EQ(n3->elements[0], TwoCharsToShort("N"));
  EXPECT_EQ(n3->elements[1], TwoCharsToShort("C"));
  EXPECT_NEAR(n3->occupancies[0], 0.62f, 1e-6);
  EXPECT_NEAR(n3->occupancies[1], 0.38f, 1e-6);
  EXPECT_NEAR(co1->occupancies[0] + co1->occupancies[1] + co1->occupancies[2], 1.11f, 1e-5);
  EXPECT_EQ(co1->elements[1], TwoCharsToShort("Ni"));
  EXPECT_EQ(co1->elements[2], TwoCharsToShort("Fe"));
  EXPECT_EQ(c.atomsPerCell, 12);
  EXPECT_NE(host.log.find("line 15: the atoms CO1, FE1, NI1 share one site, but their occupancies sum to 1.11."),
            std::string::npos)
      << host.log;
}

TEST_F(SHELXReader, NegativeLattIsAnAcentricCentredLattice) {
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), Sample("shelx", "latt-4.ins")));
  EXPECT_EQ(w.crystal().latticeLetter, 'F');
  EXPECT_STREQ(w.crystal().spaceGroup, "F 2 2 2");
  EXPECT_EQ(w.crystal().atomsPerCell, 16);
}

// A force-field restart file shares the extension; the detector turns it
// down and no other reader takes it.
TEST_F(SHELXReader, AGulpResFileIsNotTakenForSHELX) {
  EXPECT_EQ(Refusal(host, Sample("shelx", "gulp-sio2.res")),
            "\"gulp-sio2.res\" is not a file of its kind (SHELX files), nor any other structure file this version "
            "reads.");
}

TEST_F(SHELXReader, DamagedFilesAreRefusedWithTheLineOrMended) {
  const std::string head = "TITL t\nCELL 0.71 5 5 5 90 90 90\nSFAC C\n";
  const struct {
    const char *body, *refusal;
  } bad[] = {
      {"C1 1 0.1 abc 0.3 11 0.02\n", "\"t.ins\" could not be read at line 4: the coordinate \"abc\" of atom C1 is not a number."},
      {"LATT 9\nC1 1 0.1 0.2 0.3 11 0.02\n", "\"t.ins\" could not be read at line 4: LATT 9 names no lattice type (1 to 7, or -1 to -7)."},
      {"LATT 1e300\nC1 1 0.1 0.2 0.3 11 0.02\n", "\"t.ins\" could not be read at line 4: LATT 1e300 names no lattice type (1 to 7, or -1 to -7)."},
      {"SYMM X, Y\nC1 1 0.1 0.2 0.3 11 0.02\n", "\"t.ins\" could not be read at line 4: the symmetry card \"X, Y\" is no operator."},
      {"C1 1 0.1 0.2 99999999999 11 0.02\n",
       "\"t.ins\" could not be read at line 4: the value 99999999999.00 of atom C1 names no free variable (at most 99)."},
  };
  for (const auto &b : bad) {
    TempFile f("t.ins", head + b.body);
    EXPECT_EQ(Refusal(host, f.path), b.refusal);
  }
  // The cards mark the file as SHELX even when CELL is damaged or missing.
  TempFile badCell("t.ins", "TITL t\nCELL 0.71 5 x 5 90 90 90\nSFAC C\nC1 1 0.1 0.2 0.3 11 0.02\n");
  EXPECT_EQ(Refusal(host, badCell.path), "\"t.ins\" could not be read at line 2: the cell constant \"x\" is not a number.");
  TempFile noCell("t.ins", "TITL t\nSFAC C\nC1 1 0.1 0.2 0.3 11 0.02\nEND\n");
  EXPECT_EQ(Refusal(host, noCell.path), "\"t.ins\" could not be read at line 3: no CELL gives the cell before this line.");
  TempFile flat("t.ins", "TITL t\nCELL 0.71 5 5 5 90 90 180\nSFAC C\nC1 1 0.1 0.2 0.3 11 0.02\n");
  EXPECT_EQ(Refusal(host, flat.path), "\"t.ins\" could not be read at line 2: the cell's lengths and angles make no cell.");
  // A free variable FVAR does not give is taken as 1, with a warning; NUL
  // padding after END is no text.
  TempFile fv("t.res", head + "FVAR 1.0\nC1 1 0.1 0.2 0.3 31.0 0.02\nEND\n" + std::string(64, '\0'));
  Window w(host);
  host.log.clear();
  ASSERT_TRUE(OpenTextFile(w.ref(), fv.path));
  EXPECT_NEAR(w.crystal().sites[0].occupancies[0], 1.0f, 1e-6);
  EXPECT_NE(host.log.find("line 5: free variable 3 is not given by FVAR; it is taken as 1."), std::string::npos);
}

// Without END: a last atom line with no end is a file cut short and is
// refused; whole atom lines open, with a word that END is missing.
TEST_F(SHELXReader, AFileCutShortSaysSo) {
  const std::string head = "TITL t\nCELL 0.71 5 5 5 90 90 90\nSFAC C CL\nC1 1 0.1 0.2 0.3 11 0.02\n";
  TempFile cut("t.ins", head + "CL1 2 0.5 0.5 0.");
  EXPECT_EQ(Refusal(host, cut.path), "\"t.ins\" could not be read at line 5: the file ends inside the line of atom "
                                     "CL1, with no END.");
  TempFile cutEarly("t.ins", head + "CL1 2 0.5");
  EXPECT_EQ(Refusal(host, cutEarly.path), "\"t.ins\" could not be read at line 5: the file ends inside this line, "
                                          "with no END.");
  TempFile whole("t.ins", head);
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), whole.path));
  EXPECT_NE(host.log.find("line 4: the file ends without END; it may be cut short."), std::string::npos);
}

// Free variable 2 of 1e308 puts C2 beyond what a site keeps: C2 is left
// out with its line, C1 stays.
TEST_F(SHELXReader, AnAtomBeyondTheNumbersASiteKeepsIsLeftOut) {
  TempFile f("t.ins", "TITL t\nCELL 0.71 5 5 5 90 90 90\nSFAC C\nFVAR 1 1e308\nC1 1 0.1 0.2 0.3 11 0.02\n"
                      "C2 1 21.0 0.2 0.3 11 0.02\nEND\n");
  Window w(host);
  ASSERT_TRUE(OpenTextFile(w.ref(), f.path));
  ASSERT_EQ(w.crystal().sites.size(), 1u);
  EXPECT_STREQ(w.crystal().sites[0].label, "C1");
  EXPECT_NE(host.log.find("line 6: the values of atom C2 are beyond any a site keeps; it is left out."),
            std::string::npos);
}

} // namespace
