#include "SymmetryCards.h"
#include "FakeHost.h"
#include "SpaceGroupTable.h"
#include "SpaceGroups.h"
#include "StructureRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::string Text(const Symcard &card) { return std::string(CardText(card)); }

// A card from its three fields, each left-justified in 7 characters.
std::string CardOf(std::string x, std::string y, std::string z) {
  x.resize(7, ' ');
  y.resize(7, ' ');
  z.resize(7, ' ');
  return x + "  " + y + "  " + z;
}

Symcard Card(std::string_view text) { return MakeSymcard(text); }

std::string Normalised(std::string_view text) {
  Symcard card{};
  UpdateSymmCard(text, card);
  return Text(card);
}

GEP Parse(std::string_view text) {
  GEP g;
  Symcard2GEP(text, g);
  return g;
}

GEP MakeGEP(std::initializer_list<int> rot, double tx, double ty, double tz) {
  GEP g;
  auto it = rot.begin();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      g.rotation[i][j] = static_cast<int16_t>(*it++);
  g.translation[0] = tx;
  g.translation[1] = ty;
  g.translation[2] = tz;
  return g;
}

bool SameGEP(const GEP &a, const GEP &b) {
  return SymmOpsHaveSameRotation(a, b) && SameTranslationModuloLattice(a.translation, b.translation);
}

// The operator set of a structure's cards, as (rotation, translation in
// 24ths modulo 1) pairs.
using OpKey = std::tuple<std::vector<int>, int, int, int>;
std::set<OpKey> Keys(const CrystalRec &c) {
  std::set<OpKey> keys;
  for (int i = 0; i < c.cardCount; ++i) {
    GEP g;
    Symcard2GEP(c.symCards[static_cast<size_t>(i)], g);
    std::vector<int> r;
    for (auto &row : g.rotation)
      for (int16_t v : row)
        r.push_back(v);
    int t[3];
    for (int k = 0; k < 3; ++k)
      t[k] = static_cast<int>(std::lround(g.translation[k] * 24.0)) % 24 + 24;
    keys.insert({r, t[0] % 24, t[1] % 24, t[2] % 24});
  }
  return keys;
}

CrystalRec CrystalWithCards(char lattice, std::initializer_list<const char *> cards) {
  CrystalRec c;
  c.latticeLetter = lattice;
  for (const char *text : cards)
    UpdateSymmCard(text, c.symCards[c.cardCount++]);
  return c;
}

} // namespace

// ---- The 24-bit code ------------------------------------------------------------

TEST(SymmetryCodes, DecodeWritesThreeFixedFields) {
  Symcard card{};
  EXPECT_TRUE(DecodeSymmCard(0x000204, card));
  EXPECT_EQ(Text(card), kIdentityCard);
  EXPECT_TRUE(DecodeSymmCard(0x010305, card));
  EXPECT_EQ(Text(card), "   -x       -y       -z  ");
  EXPECT_TRUE(DecodeSymmCard(0x060014, card));
  EXPECT_EQ(Text(card), CardOf("   +x-y", "   +x", "1/6+z"));
  EXPECT_EQ(card[25], '\0');
}

TEST(SymmetryCodes, EveryRowByteSurvivesDecodeAndEncode) {
  for (unsigned byte = 0; byte < 0x80; ++byte) {
    if ((byte & 0xF) > 7)
      continue;
    for (int field = 0; field < 3; ++field) {
      EncodedSymmCard code = 0x000204;
      code &= ~(0xFFu << (8 * (2 - field)));
      code |= byte << (8 * (2 - field));
      Symcard card{};
      ASSERT_TRUE(DecodeSymmCard(code, card));
      EXPECT_EQ(EncodeSymmCard(card), code) << Text(card);
    }
  }
}

TEST(SymmetryCodes, DamagedCodesNeverReadOutsideTheTables) {
  Symcard card{};
  EXPECT_FALSE(DecodeSymmCard(0x0F0204, card)); // rotation digit 15
  EXPECT_EQ(Text(card), kIdentityCard);
  EXPECT_FALSE(DecodeSymmCard(0x9000204, card)); // bits above 24
  EXPECT_FALSE(DecodeSymmCard(0x00F204, card));
}

TEST(SymmetryCodes, EncodeAcceptsTheOtherSpellingAndGivesZeroForUnknownTexts) {
  EXPECT_EQ(EncodeSymmCard(Card("   -y+x  1/2+y-x     +z  ")), 0x064704u);
  // a translation the code cannot hold, and an empty term, give index 0
  EXPECT_EQ(EncodeSymmCard(Card(CardOf("1/8+x", "", "1/2+z"))), 0x000044u);
  // a short text reads as if padded with NULs
  EXPECT_EQ(EncodeSymmCard(std::string_view("1/2+x")), 0x400000u);
}

// Every operator of the table goes code -> card -> GEP -> card -> code and
// comes back identical.
TEST(SymmetryCodes, EveryTableOperatorRoundTrips) {
  FakeHost host;
  int checked = 0;
  for (int r = 0; gSpacegroups[r].number < kEndSpacegroupNumber; ++r) {
    const SpacegroupRecord &row = gSpacegroups[r];
    for (uint32_t k = 0; k < row.numOps; ++k) {
      Symcard card{}, again{};
      ASSERT_TRUE(DecodeSymmCard(row.ops[k], card));
      GEP g;
      Symcard2GEP(card, g);
      // the numeric form is the operator itself
      for (int i = 0; i < 3; ++i) {
        unsigned byte = (row.ops[k] >> (8 * (2 - i))) & 0xFF;
        static const double kT[8] = {0, 1.0 / 6, 0.25, 1.0 / 3, 0.5, 2.0 / 3, 0.75, 5.0 / 6};
        EXPECT_NEAR(g.translation[i], kT[byte >> 4], 1e-12);
        int nonzero = std::abs(g.rotation[i][0]) + std::abs(g.rotation[i][1]) + std::abs(g.rotation[i][2]);
        EXPECT_EQ(nonzero, (byte & 0xF) >= 6 ? 2 : 1);
      }
      ASSERT_TRUE(GEP2Symcard(g, again));
      EXPECT_EQ(Text(again), Text(card)) << "row " << r;
      EXPECT_EQ(EncodeSymmCard(again), row.ops[k]) << "row " << r;
      ++checked;
    }
  }
  EXPECT_GT(checked, 4000);
  EXPECT_EQ(host.log, "");
}

// ---- Card to GEP ------------------------------------------------------------------

TEST(SymmetryCardParsing, FieldsByBlankOrCommaTermsInAnyOrder) {
  GEP g = Parse(" 1/2-x       +y  1/2+z  ");
  EXPECT_TRUE(SameGEP(g, MakeGEP({-1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.5, 0, 0.5)));
  EXPECT_DOUBLE_EQ(g.translation[0], 0.5);
  g = Parse("-x+y, -X, z-1/3");
  EXPECT_TRUE(SameGEP(g, MakeGEP({-1, 1, 0, -1, 0, 0, 0, 0, 1}, 0, 0, 2.0 / 3)));
  EXPECT_DOUBLE_EQ(g.translation[2], -1.0 / 3);
  g = Parse("x+1/2 , y , -z");
  EXPECT_TRUE(SameGEP(g, MakeGEP({1, 0, 0, 0, 1, 0, 0, 0, -1}, 0.5, 0, 0)));
  g = Parse("x y");
  EXPECT_EQ(g.rotation[2][2], 0); // a missing field stays zero
}

// Whole numbers and decimals are read as what they say: "1/12" is not 1/2
// and "0.5" is not 5.
TEST(SymmetryCardParsing, MultiDigitFractionsAndDecimals) {
  EXPECT_NEAR(Parse("x+1/12,y,z").translation[0], 1.0 / 12, 1e-15);
  EXPECT_NEAR(Parse("x,y+1/10,z").translation[1], 0.1, 1e-15);
  EXPECT_NEAR(Parse("x,y,0.5+z").translation[2], 0.5, 1e-15);
  EXPECT_NEAR(Parse("x,y,z-0.0833").translation[2], -0.0833, 1e-15);
  EXPECT_NEAR(Parse("x+1/2+1/4,y,z").translation[0], 0.75, 1e-15);
  EXPECT_EQ(Parse("x+1/0,y,z").translation[0], 0.0); // no division by zero
}

TEST(SymmetryCardParsing, ReadsAtMost68Characters) {
  std::string text = "x," + std::string(70, ' ') + "y,z";
  GEP g = Parse(text);
  EXPECT_EQ(g.rotation[0][0], 1);
  EXPECT_EQ(g.rotation[1][1], 0);
}

// ---- GEP to card ------------------------------------------------------------------

TEST(SymmetryCardWriting, TranslationsModuloOneFromTheDigitTable) {
  FakeHost host;
  Symcard card{};
  EXPECT_TRUE(GEP2Symcard(MakeGEP({1, 0, 0, 0, 1, 0, 0, 0, 1}, -0.25, 1.5, -1.25), card));
  EXPECT_EQ(Text(card), CardOf("3/4+x", "1/2+y", "3/4+z"));
  EXPECT_TRUE(GEP2Symcard(MakeGEP({1, -1, 0, 0, 0, -1, 0, 1, 0}, 0.125, 0.875, 0.375), card));
  EXPECT_EQ(Text(card), CardOf("1/8+x-y", "7/8-z", "3/8+y"));
  EXPECT_TRUE(GEP2Symcard(MakeGEP({1, 0, 0, 0, 1, 0, 0, 0, 1}, 1.0 / 6, 2.0 / 3, -1e-9), card));
  EXPECT_EQ(Text(card), CardOf("1/6+x", "2/3+y", "   +z"));
  EXPECT_EQ(host.log, "");
}

TEST(SymmetryCardWriting, AnUntabulatedTranslationIsLeftOutWithAWarning) {
  FakeHost host;
  Symcard card{};
  EXPECT_FALSE(GEP2Symcard(MakeGEP({1, 0, 0, 0, 1, 0, 0, 0, 1}, 0.1, 0, 1.0 / 12), card));
  EXPECT_EQ(Text(card), kIdentityCard);
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
  EXPECT_NE(host.log.find("Warning"), std::string::npos);
  // non-finite values are refused the same way
  EXPECT_FALSE(GEP2Symcard(MakeGEP({1, 0, 0, 0, 1, 0, 0, 0, 1}, NAN, 0, 0), card));
  EXPECT_EQ(Text(card), kIdentityCard);
}

// ---- Free text ----------------------------------------------------------------------

TEST(SymmetryCardNormalising, CommasBlanksCaseAndTermOrder) {
  FakeHost host;
  EXPECT_EQ(Normalised("x,y,z"), kIdentityCard);
  EXPECT_EQ(Normalised("X Y Z"), kIdentityCard);
  EXPECT_EQ(Normalised("+x, +y, +z"), kIdentityCard);
  EXPECT_EQ(Normalised("-x+1/2, y, 0.5+z"), CardOf("1/2-x", "   +y", "1/2+z"));
  EXPECT_EQ(Normalised("1/2-X Y Z"), CardOf("1/2-x", "   +y", "   +z"));
  EXPECT_EQ(Normalised("\tx - y , x ,z + 1/6"), CardOf("   +x-y", "   +x", "1/6+z"));
  Symcard card{};
  UpdateSymmCard("x-y, x, z+1/6", card);
  EXPECT_EQ(EncodeSymmCard(card), 0x060014u);
  EXPECT_EQ(Normalised("-y+x,-x,z"), CardOf("   -y+x", "   -x", "   +z"));
  EXPECT_EQ(host.log, "");
}

TEST(SymmetryCardNormalising, FractionsAndDecimalsReduceIntoTheCell) {
  FakeHost host;
  EXPECT_EQ(Normalised("x+3/2,y-1/4,z+0.25"), CardOf("1/2+x", "3/4+y", "1/4+z"));
  EXPECT_EQ(Normalised("x+.25,y-0.25,z-0.0"), CardOf("1/4+x", "3/4+y", "   +z"));
  EXPECT_EQ(Normalised("x+2/4,y+0.6667,z+0.125"), CardOf("1/2+x", "2/3+y", "1/8+z"));
  EXPECT_EQ(Normalised("x+0.16667,y+0.8333,z-1/3"), CardOf("1/6+x", "5/6+y", "2/3+z"));
  EXPECT_EQ(host.log, "");
}

// Decimals keep their zeros and fractions their digits: 1/12 never becomes
// 5/6 or 1/2, and 0.05 never 1/2.
TEST(SymmetryCardNormalising, ValuesACardCannotHoldAreNotTurnedIntoOtherFractions) {
  FakeHost host;
  Symcard card{};
  EXPECT_FALSE(UpdateSymmCard("x, y, z+0.0833", card));
  EXPECT_EQ(Text(card), kIdentityCard);
  EXPECT_FALSE(UpdateSymmCard("x+1/12, y, z", card));
  EXPECT_EQ(Text(card), kIdentityCard);
  EXPECT_FALSE(UpdateSymmCard("x, y+0.05, z", card));
  EXPECT_EQ(Text(card), kIdentityCard);
  EXPECT_FALSE(UpdateSymmCard("x, y, z+0.0625", card));
  EXPECT_EQ(Text(card), kIdentityCard);
  EXPECT_EQ(host.LogLines().size(), 4u);
  EXPECT_EQ(host.colouredRuns.size(), 4u);
}

TEST(SymmetryCardNormalising, OddInputStillGivesAValidCard) {
  FakeHost host;
  for (const char *text :
       {"", "x", "x y z w", "q,r,s", "x/y,--z,1/", "x,y,z,1,2,3", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx,y,z"}) {
    Symcard card{};
    UpdateSymmCard(text, card);
    std::string t = Text(card);
    EXPECT_EQ(t.size(), 25u) << text;
    EXPECT_EQ(t.substr(7, 2), "  ") << text;
    EXPECT_EQ(t.substr(16, 2), "  ") << text;
  }
  EXPECT_EQ(Normalised("x y z w"), kIdentityCard);
  EXPECT_EQ(Normalised("x+y+z, y, z"), CardOf("   +x+y", "   +y", "   +z"));
}

TEST(SymmetryCardSplitting, ThreePartsOfAxisSignSlashAndDigitsOneToNine) {
  std::array<std::string, 3> parts;
  EXPECT_EQ(SplitSymmCard("1/2-X, Y ,z+10/20", parts), 5); // zeros are not kept
  EXPECT_EQ(parts[0], "1/2-x");
  EXPECT_EQ(parts[1], "y");
  EXPECT_EQ(parts[2], "z+1/2");
  EXPECT_EQ(SplitSymmCard(kIdentityCard, parts), 2);
  EXPECT_EQ(parts[1], "+y");
  SplitSymmCard("x+1/2+1/2+1/2,y,z", parts);
  EXPECT_EQ(parts[0], "x+1/2+1");
}

// ---- Centring --------------------------------------------------------------------------

TEST(SymmetryCentring, BravaisVectors) {
  int16_t n = 0;
  CentringVectors v;
  Bravais('P', n, v);
  EXPECT_EQ(n, 1);
  Bravais('Q', n, v);
  EXPECT_EQ(n, 1);
  Bravais('C', n, v);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(v[0], (std::array<double, 3>{0, 0, 0}));
  EXPECT_EQ(v[1], (std::array<double, 3>{0.5, 0.5, 0}));
  Bravais('F', n, v);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(v[1], (std::array<double, 3>{0, 0.5, 0.5}));
  EXPECT_EQ(v[2], (std::array<double, 3>{0.5, 0.5, 0}));
  EXPECT_EQ(v[3], (std::array<double, 3>{0.5, 0, 0.5}));
  Bravais('R', n, v);
  ASSERT_EQ(n, 3);
  EXPECT_EQ(v[1], (std::array<double, 3>{2.0 / 3.0, 1.0 / 3.0, 1.0 / 3.0}));
  EXPECT_EQ(v[2], (std::array<double, 3>{1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0}));
  EXPECT_EQ(EffectiveLatticeLetter('R', 80, 80, 80), 'P');
  EXPECT_EQ(EffectiveLatticeLetter('R', 90, 90, 120), 'R');
}

TEST(SymmetryCentring, AddingAndRemovingCopiesOfC2c) {
  FakeHost host;
  CrystalRec c = CrystalWithCards('C', {"x,y,z", "-x,y,1/2-z", "-x,-y,-z", "x,-y,1/2+z"});
  auto four = Keys(c);
  AddLatticeTranslationsForCrystal(c);
  ASSERT_EQ(c.cardCount, 8);
  EXPECT_EQ(Text(c.symCards[4]), CardOf("1/2+x", "1/2+y", "   +z"));
  EXPECT_EQ(Text(c.symCards[5]), CardOf("1/2-x", "1/2+y", "1/2-z"));
  AddLatticeTranslationsForCrystal(c); // nothing new
  EXPECT_EQ(c.cardCount, 8);
  RemoveLatticeTranslationsForCrystal(c);
  ASSERT_EQ(c.cardCount, 4);
  EXPECT_EQ(Keys(c), four);
  EXPECT_EQ(Text(c.symCards[0]), kIdentityCard);
  EXPECT_EQ(host.log, "");
}

TEST(SymmetryCentring, CopiesAlreadyPresentAreNotAddedTwice) {
  CrystalRec c = CrystalWithCards('F', {"x,y,z", "x,y+1/2,z+1/2"});
  AddLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, 4);
  EXPECT_EQ(Keys(c).size(), 4u);
}

TEST(SymmetryCentring, RhombohedralAxesAndPrimitiveLatticesGainNothing) {
  CrystalRec c = CrystalWithCards('R', {"x,y,z", "z,x,y", "y,z,x"});
  c.alpha = c.beta = c.gamma = 80.0f;
  AddLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, 3);
  c.alpha = c.beta = 90.0f;
  c.gamma = 120.0f;
  AddLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, 9);
  c.latticeLetter = 'P';
  RemoveLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, 9);
}

TEST(SymmetryCentring, AddingStopsAt192Cards) {
  CrystalRec c;
  c.latticeLetter = 'F';
  // 60 operators differing by translations along z in 1/6 + rotations
  const char *rots[] = {"x,y,", "-x,-y,", "-x,y,", "x,-y,", "y,x,", "-y,-x,", "y,-x,", "-y,x,", "x,-y,-", "-x,y,-"};
  const char *ts[] = {"z", "z+1/6", "z+1/3", "z+2/3", "z+5/6", "z+1/4"};
  for (const char *r : rots)
    for (const char *t : ts)
      UpdateSymmCard(std::string(r) + t, c.symCards[c.cardCount++]);
  ASSERT_EQ(c.cardCount, 60);
  AddLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, kMaxSymCards);
}

TEST(SymmetryCentring, RemovingKeepsTheFirstOfEachClassAndZeroesCentringTranslations) {
  FakeHost host;
  CrystalRec c = CrystalWithCards('I', {"x+1/2,y+1/2,z+1/2", "-x,-y,z", "x,y,z", "1/2-x,1/2-y,1/2+z"});
  RemoveLatticeTranslationsForCrystal(c);
  ASSERT_EQ(c.cardCount, 2);
  EXPECT_EQ(Text(c.symCards[0]), kIdentityCard);
  EXPECT_EQ(Text(c.symCards[1]), CardOf("   -x", "   -y", "   +z"));
}

// Only a translation equal to a centring vector is cleared: (1/2, 1/2, 1)
// is one modulo the lattice but keeps its halves. A difference of exactly
// the tolerance does not make a copy.
TEST(SymmetryCentring, RemovingClearsOnlyExactCentringTranslations) {
  FakeHost host;
  CrystalRec c;
  c.latticeLetter = 'C';
  c.symCards[0] = Card("x+1/2,y+1/2,z+1");
  c.symCards[1] = Card("x,y,z");
  c.cardCount = 2;
  RemoveLatticeTranslationsForCrystal(c);
  ASSERT_EQ(c.cardCount, 1);
  EXPECT_EQ(Text(c.symCards[0]), CardOf("1/2+x", "1/2+y", "   +z"));

  c.symCards[0] = Card("x,y,z");
  c.symCards[1] = Card("x+0.00001,y,z");
  c.cardCount = 2;
  RemoveLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, 2);
}

TEST(SymmetryCentring, MoreThan48DistinctOperatorsAreCutWithAWarning) {
  FakeHost host;
  CrystalRec c;
  c.latticeLetter = 'C';
  const char *rots[] = {"x,y,", "-x,-y,", "-x,y,", "x,-y,", "y,x,", "-y,-x,", "y,-x,", "-y,x,", "x,-y,-", "-x,y,-"};
  const char *ts[] = {"z", "z+1/6", "z+1/3", "z+2/3", "z+5/6"};
  for (const char *r : rots)
    for (const char *t : ts)
      UpdateSymmCard(std::string(r) + t, c.symCards[c.cardCount++]);
  RemoveLatticeTranslationsForCrystal(c);
  EXPECT_EQ(c.cardCount, kMaxDistinctOps);
  ASSERT_EQ(host.LogLines().size(), 1u);
  EXPECT_EQ(host.LogLines()[0], "Warning: Excess symmetry operators detected!");
  EXPECT_EQ(host.colouredRuns.size(), 1u);
}

// ---- The identity -------------------------------------------------------------------------

TEST(SymmetryIdentityCard, InsertedFirstWithTheOthersRewritten) {
  CrystalRec c;
  c.symCards[0] = Card("-x,-y,-z");
  c.symCards[1] = Card("x+1/2,-y,z+1/2");
  c.cardCount = 2;
  EXPECT_TRUE(CheckIdentityOperatorForCrystal(c));
  ASSERT_EQ(c.cardCount, 3);
  EXPECT_EQ(Text(c.symCards[0]), kIdentityCard);
  EXPECT_EQ(Text(c.symCards[1]), CardOf("   -x", "   -y", "   -z"));
  EXPECT_EQ(Text(c.symCards[2]), CardOf("1/2+x", "   -y", "1/2+z"));
  // present already (anywhere): nothing changes
  EXPECT_TRUE(CheckIdentityOperatorForCrystal(c));
  EXPECT_EQ(c.cardCount, 3);
  // an identity with a translation is not the identity
  CrystalRec d = CrystalWithCards('P', {"x+1/2,y,z"});
  CheckIdentityOperatorForCrystal(d);
  EXPECT_EQ(d.cardCount, 2);
}

TEST(SymmetryIdentityCard, AFullListWithoutTheIdentityIsLeftAsItWas) {
  CrystalRec c;
  for (int i = 0; i < kMaxSymCards; ++i)
    c.symCards[static_cast<size_t>(i)] = Card("-x,-y,-z");
  c.cardCount = kMaxSymCards;
  EXPECT_FALSE(CheckIdentityOperatorForCrystal(c));
  EXPECT_EQ(c.cardCount, kMaxSymCards);
  EXPECT_EQ(Text(c.symCards[0]), "-x,-y,-z");
}
