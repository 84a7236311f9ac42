#include "SpaceGroups.h"
#include "FakeHost.h"
#include "SpaceGroupTable.h"
#include "StructureRecord.h"
#include "SymmetryCards.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A card from its three fields, each left-justified in 7 characters.
std::string CardOf(std::string x, std::string y, std::string z) {
  x.resize(7, ' ');
  y.resize(7, ' ');
  z.resize(7, ' ');
  return x + "  " + y + "  " + z;
}

int RowCount() {
  int n = 0;
  while (gSpacegroups[n].number < kEndSpacegroupNumber)
    ++n;
  return n;
}

std::vector<uint32_t> Ops(int row) {
  return std::vector<uint32_t>(gSpacegroups[row].ops, gSpacegroups[row].ops + gSpacegroups[row].numOps);
}

// Resolves a symbol the way a structure does: normalise, then Spaceg.
struct Resolved {
  bool found;
  std::string symbol;
  uint8_t origin;
  char lattice;
  uint16_t count;
  std::vector<std::string> cards;
};

Resolved Resolve(std::string symbol, uint8_t origin = 0, float alpha = 90, float beta = 90, float gamma = 90) {
  std::array<Symcard, kMaxSymCards> cards{};
  Resolved r{};
  r.found = Spaceg(symbol, origin, alpha, beta, gamma, r.lattice, r.count, cards);
  r.symbol = symbol;
  r.origin = origin;
  for (int i = 0; i < r.count; ++i)
    r.cards.emplace_back(CardText(cards[static_cast<size_t>(i)]));
  return r;
}

std::vector<std::string> RowCards(int row) {
  std::vector<std::string> out;
  for (uint32_t code : Ops(row)) {
    Symcard c{};
    DecodeSymmCard(code, c);
    out.emplace_back(CardText(c));
  }
  return out;
}

// A structure holding a row's cards with their centring copies, as a file
// would list them.
CrystalRec CrystalFromRow(int row, float alpha = 90, float beta = 90, float gamma = 90) {
  CrystalRec c;
  c.alpha = alpha;
  c.beta = beta;
  c.gamma = gamma;
  const SpacegroupRecord &r = gSpacegroups[row];
  c.latticeLetter = r.fullSymbol[0];
  for (uint32_t k = 0; k < r.numOps; ++k)
    DecodeSymmCard(r.ops[k], c.symCards[k]);
  c.cardCount = static_cast<uint16_t>(r.numOps);
  AddLatticeTranslationsForCrystal(c);
  std::strcpy(c.spaceGroup, "unknown");
  return c;
}

// Operators of a row with the centring of its lattice, modulo lattice
// translations (in 24ths).
using OpKey = std::tuple<uint32_t, int, int, int>; // rotation bits, translation
std::set<OpKey> ExpandedSet(int row) {
  const SpacegroupRecord &r = gSpacegroups[row];
  char letter = r.setting == kSettingRhombohedralAxes ? 'P' : r.fullSymbol[0];
  int16_t n = 0;
  CentringVectors v;
  Bravais(letter, n, v);
  std::set<OpKey> out;
  for (uint32_t k = 0; k < r.numOps; ++k) {
    uint32_t rot = r.ops[k] & 0x0F0F0F;
    Symcard card{};
    DecodeSymmCard(r.ops[k], card);
    GEP g;
    Symcard2GEP(card, g);
    for (int i = 0; i < n; ++i) {
      int t[3];
      for (int c = 0; c < 3; ++c)
        t[c] =
            static_cast<int>(std::lround((g.translation[c] + v[static_cast<size_t>(i)][static_cast<size_t>(c)]) * 24)) %
            24;
      out.insert({rot, t[0], t[1], t[2]});
    }
  }
  return out;
}

} // namespace

// ---- The table ------------------------------------------------------------------------

TEST(SpaceGroupTable, LayoutAndEndRow) {
  EXPECT_EQ(RowCount(), kNumSpacegroupRows - 1);
  const SpacegroupRecord &end = gSpacegroups[kNumSpacegroupRows - 1];
  EXPECT_EQ(end.number, 231);
  EXPECT_STREQ(end.shortSymbol, "END");
  EXPECT_STREQ(end.note, "END-OF-ARRAY");
  std::map<int, int> settings;
  int emptyShort = 0, origin1 = 0, origin2 = 0;
  std::set<int> groups;
  for (int i = 0; i < kFirstAddedSpacegroupRow; ++i) { // the first layout, unchanged
    const SpacegroupRecord &r = gSpacegroups[i];
    ++settings[r.setting];
    emptyShort += r.shortSymbol[0] == '\0';
    origin1 += r.origin == 1;
    origin2 += r.origin == 2;
    if (i > 0) {
      EXPECT_GE(r.number, gSpacegroups[i - 1].number);
    }
    ASSERT_GE(r.numOps, 1u);
    ASSERT_LE(r.numOps, 48u);
    EXPECT_EQ(r.ops[0], kIdentityCode) << i;
    EXPECT_NE(std::strchr("PABCIFR", r.fullSymbol[0]), nullptr) << i;
    // the first row of every group carries its Schoenflies symbol
    if (groups.insert(r.number).second) {
      EXPECT_NE(r.schoenflies[0], '\0') << i;
    }
  }
  EXPECT_EQ(groups.size(), 230u);
  EXPECT_EQ(emptyShort, 59);
  EXPECT_EQ(origin1, 39);
  EXPECT_EQ(origin2, 39);
  std::map<int, int> expected = {{0, 115},  {10, 5},   {11, 8},   {12, 8},   {13, 8},   {20, 5},  {21, 8},
                                 {22, 8},   {23, 9},   {30, 86},  {31, 9},   {32, 8},   {33, 8},  {101, 50},
                                 {102, 28}, {103, 48}, {104, 28}, {105, 49}, {106, 27}, {111, 7}, {112, 7}};
  EXPECT_EQ(settings, expected);
}

TEST(SpaceGroupTable, RowsWithKnownOperators) {
  EXPECT_STREQ(gSpacegroups[0].schoenflies, "C1(1)");
  EXPECT_EQ(Ops(0), (std::vector<uint32_t>{0x000204}));
  EXPECT_STREQ(gSpacegroups[5].shortSymbol, "F 1");
  EXPECT_STREQ(gSpacegroups[12].fullSymbol, "P 1 2 1");
  EXPECT_EQ(Ops(12), (std::vector<uint32_t>{0x000204, 0x010205}));
  EXPECT_STREQ(gSpacegroups[13].shortSymbol, "");
  EXPECT_EQ(Ops(13), (std::vector<uint32_t>{0x000204, 0x010304}));
  EXPECT_EQ(Ops(14), (std::vector<uint32_t>{0x000204, 0x000305}));
  EXPECT_EQ(RowCards(80),
            (std::vector<std::string>{kIdentityCard, CardOf("   -x", "1/2+y", "1/2-z"),
                                      CardOf("   -x", "   -y", "   -z"), CardOf("   +x", "1/2-y", "1/2+z")}));
  EXPECT_STREQ(gSpacegroups[81].fullSymbol, "P 1 21/n 1");
  EXPECT_STREQ(gSpacegroups[89].fullSymbol, "C 1 2/c 1");
  EXPECT_STREQ(gSpacegroups[227].schoenflies, "D2h(2)");
  EXPECT_EQ(gSpacegroups[227].origin, 1);
  EXPECT_STREQ(gSpacegroups[227].note, "2 2 2");
  EXPECT_EQ(RowCards(227),
            (std::vector<std::string>{kIdentityCard, CardOf("   -x", "   -y", "   +z"),
                                      CardOf("   -x", "   +y", "   -z"), CardOf("   +x", "   -y", "   -z"),
                                      CardOf("1/2-x", "1/2-y", "1/2-z"), CardOf("1/2+x", "1/2+y", "1/2-z"),
                                      CardOf("1/2+x", "1/2-y", "1/2+z"), CardOf("1/2-x", "1/2+y", "1/2+z")}));
  EXPECT_STREQ(gSpacegroups[228].schoenflies, "");
  EXPECT_EQ(gSpacegroups[228].origin, 2);
  EXPECT_STREQ(gSpacegroups[228].note, "-1");
  EXPECT_EQ(gSpacegroups[431].setting, kSettingHexagonalAxes);
  EXPECT_EQ(Ops(431), (std::vector<uint32_t>{0x000204, 0x030604, 0x070104}));
  EXPECT_EQ(gSpacegroups[432].setting, kSettingRhombohedralAxes);
  EXPECT_STREQ(gSpacegroups[432].schoenflies, "C3(4)");
  EXPECT_EQ(Ops(432), (std::vector<uint32_t>{0x000204, 0x040002, 0x020400}));
  EXPECT_STREQ(gSpacegroups[523].fullSymbol, "F 41/d -3 2/m");
  EXPECT_EQ(gSpacegroups[523].numOps, 48u);
  EXPECT_STREQ(gSpacegroups[523].note, "-4 3 m");
  EXPECT_STREQ(gSpacegroups[524].note, "centre (-3m)");
  // group 15's unique-axis-a cell-choice-1 rows
  EXPECT_STREQ(gSpacegroups[91].fullSymbol, "C 2/c 1 1");
  EXPECT_STREQ(gSpacegroups[98].fullSymbol, "B 2/b 1 1");
}

TEST(SpaceGroupTable, CompanionTables) {
  EXPECT_EQ(spgrSynonyms[0].number, 156);
  EXPECT_STREQ(spgrSynonyms[0].synonym, "P 3 m");
  EXPECT_EQ(spgrSynonyms[kNumSpacegroupSynonyms - 1].number, 231);
  EXPECT_EQ(gOffsetSpacegroups[kNumOffsetSpacegroups - 1].number, 231);
  EXPECT_STREQ(gOffsetSpacegroups[19].symbol, "P n 3");
  EXPECT_FLOAT_EQ(gOffsetSpacegroups[28].shift[0], -0.375f);
  // every group listed has two origin choices in the table
  for (int i = 0; gOffsetSpacegroups[i].number < kEndSpacegroupNumber; ++i) {
    int16_t a = GetNumericSpacegroupIndex(std::to_string(gOffsetSpacegroups[i].number), 1, 0);
    int16_t b = GetNumericSpacegroupIndex(std::to_string(gOffsetSpacegroups[i].number), 2, 0);
    EXPECT_GE(a, 0);
    EXPECT_GE(b, 0);
  }
}

// ---- Lookups ----------------------------------------------------------------------------

TEST(SpaceGroupLookup, HermannMauguinWithAndWithoutBlanks) {
  for (const char *typed : {"P21/c", "P 21/c", "p 21/c", "P 2(1)/c", "P2_1/c", "P 21/C"}) {
    std::string s = typed;
    uint8_t origin = 0;
    EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin)) << typed;
    EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, 0), 80) << typed;
  }
  std::string s = "P 1 21/n 1";
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, 0), 81);
  EXPECT_EQ(s, "P 1 21/n 1");
  s = "P21/n";
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, 0), 81);
  EXPECT_EQ(s, "P 1 21/n 1");
  s = "P 21/n";
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, 0), 81);
  EXPECT_EQ(s, "P 21/n");
  s = "P 1 1 2";
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, 0), 13);
  s = "P 21/c";
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, kSettingUniqueAxisC + 1), -1);
  s = "END";
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, 0, 0), -1);
}

// Groups 17 and 20 list each symbol in the setting of the International
// Tables (abc, bca, cab) and in one with the origin a quarter along the screw
// axis; the origin byte tells them apart. A bare symbol, typed or read, is the
// former; the other stays reachable by its origin choice.
TEST(SpaceGroupLookup, ScrewAxisSettingsOfGroups17And20) {
  struct Case {
    const char *typed;
    int number;
    uint8_t standard, shifted; // settings
  };
  for (const Case &k : std::vector<Case>{{"P21 2 2", 17, kSettingCab, kSettingMinusCba},
                                         {"P 2 21 2", 17, kSettingBca, kSettingAMinusCb},
                                         {"p 2 2 21", 17, kSettingAbc, kSettingBaMinusC},
                                         {"A 21 2 2", 20, kSettingCab, kSettingMinusCba},
                                         {"B2212", 20, kSettingBca, kSettingAMinusCb}}) {
    int16_t rows[2] = {-1, -1};
    for (int i = 0; gSpacegroups[i].number < kEndSpacegroupNumber; ++i)
      if (gSpacegroups[i].number == k.number)
        for (int j = 0; j < 2; ++j)
          if (gSpacegroups[i].setting == (j == 0 ? k.standard : k.shifted))
            rows[j] = static_cast<int16_t>(i);
    ASSERT_GE(rows[0], 0);
    ASSERT_GE(rows[1], 0);
    for (uint8_t asked : {uint8_t{0}, gSpacegroups[rows[0]].origin, gSpacegroups[rows[1]].origin}) {
      std::string s = k.typed;
      uint8_t origin = asked;
      EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin)) << k.typed;
      EXPECT_EQ(origin, asked) << k.typed; // the origin byte is kept
      const int16_t want = asked == gSpacegroups[rows[1]].origin ? rows[1] : rows[0];
      EXPECT_EQ(Resolve(s, origin).cards, RowCards(want)) << k.typed << " origin " << int{asked};
    }
  }
  // a group with one origin and no paired rows still loses the byte
  std::string s = "P 21 21 2";
  uint8_t origin = 1;
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(origin, 0);
}

// The e names of the glide planes with two glide vectors, and the settings
// added after the first layout, resolve to their own rows (their operators
// are checked against spglib by tests/oracle).
TEST(SpaceGroupLookup, GlideNamesAndAddedSettings) {
  for (auto [typed, origin, symbol] : std::vector<std::tuple<const char *, uint8_t, const char *>>{
           {"Cmce", 0, "C m c a"}, {"C 2/m 2/c 21/e", 0, "C 2/m 2/c 21/a"}, {"B m e b", 0, "B m a b"},
           {"Aem2", 0, "A b m 2"}, {"C m 2 e", 0, "C m 2 a"}, {"A e a 2", 0, "A b a 2"},
           {"Cmme", 0, "C m m a"}, {"A e m m", 0, "A b m m"}, {"C c c e", 2, "C c c a"},
           {"B b e b", 1, "B b c b"}, {"B m 1 1", 0, "B m 1 1"}, {"C c 1 1", 0, "C c 1 1"},
           {"I 1 1 2/a", 0, "I 1 1 2/a"}, {"A 1 2/a 1", 0, "A 1 2/a 1"}, {"Icab", 0, "I c a b"}}) {
    std::string s = typed;
    uint8_t o = origin;
    ASSERT_TRUE(ConvertSpaceGroupSymbol(s, o)) << typed;
    EXPECT_EQ(o, origin) << typed;
    int16_t want = -1;
    for (int i = 0; want < 0 && gSpacegroups[i].number < kEndSpacegroupNumber; ++i)
      if ((std::strcmp(gSpacegroups[i].shortSymbol, symbol) == 0 || std::strcmp(gSpacegroups[i].fullSymbol, symbol) == 0) &&
          (origin == 0 || gSpacegroups[i].origin == origin))
        want = static_cast<int16_t>(i);
    ASSERT_GE(want, 0) << symbol;
    Resolved r = Resolve(s, o);
    EXPECT_TRUE(r.found) << typed;
    EXPECT_EQ(r.cards, RowCards(want)) << typed;
  }
  // the rows added later follow the first layout without moving a row
  EXPECT_STREQ(gSpacegroups[kFirstAddedSpacegroupRow - 1].fullSymbol, "I 41/a -3 2/d");
  EXPECT_STREQ(gSpacegroups[kFirstAddedSpacegroupRow].fullSymbol, "B m 1 1");
}

TEST(SpaceGroupLookup, NumbersSchoenfliesAndSynonyms) {
  EXPECT_EQ(GetNumericSpacegroupIndex("14", 0, 0), 80);
  EXPECT_EQ(GetNumericSpacegroupIndex(" 48", 2, 0), 228);
  EXPECT_EQ(GetNumericSpacegroupIndex("P 21/c", 0, 0), -1);
  EXPECT_EQ(GetNumericSpacegroupIndex("231", 0, 0), -1);
  EXPECT_EQ(GetNumericSpacegroupIndex("0", 0, 0), -1);
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("C2h(5)", 0, 0), 80);
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("C2h5", 0, 0), -1);
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("C3(4)", 0, kSettingRhombohedralAxes), 432);
  std::string s = "P m 3 m";
  EXPECT_EQ(gSpacegroups[GetInternationalSpacegroupIndex(s, 0, 0)].number, 221);
  s = "Pm3m";
  EXPECT_EQ(gSpacegroups[GetInternationalSpacegroupIndex(s, 0, 0)].number, 221);
  EXPECT_EQ(gSpacegroups[GetSpacegroupSynonym("P 3 m", 0)].number, 156);
  EXPECT_EQ(GetSpacegroupSynonym("F d 3 m", 2), 524);
  EXPECT_EQ(GetSpacegroupSynonym("END", 0), -1);
}

// The Schoenflies symbol stands on a group's first row only; another origin
// choice must still find its own row, not fall back to P 1.
TEST(SpaceGroupLookup, SchoenfliesWithTheSecondOriginChoice) {
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("D2h(2)", 2, 0), 228);
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("Oh(7)", 2, 0), 524);
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("C2h(5)", 0, kSettingUniqueAxisC + 1), 83);
  EXPECT_EQ(GetSchoenfliesSpacegroupIndex("C2h(5)", 2, 0), -1);
  Resolved r = Resolve("D2h(2)", 2);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.symbol, "P n n n");
  EXPECT_EQ(r.cards, RowCards(228));
  int16_t system = 0;
  std::string sym = "D2h(2)";
  EXPECT_TRUE(CheckSymmetry(sym, 2, 90, 90, 90, system));
  EXPECT_EQ(system, kOrthorhombic);
}

TEST(SpaceGroupLookup, NormalisingOriginSuffixesAndNumbers) {
  std::string s = "F d -3 m [origin 2]";
  uint8_t origin = 0;
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(s, "F d -3 m");
  EXPECT_EQ(origin, 2);
  EXPECT_EQ(GetInternationalSpacegroupIndex(s, origin, 0), 524);
  s = "P 21/c [origin 2]";
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(origin, 0);
  s = "fd3m[origin 1]";
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(s, "F d3m");
  EXPECT_EQ(origin, 1);
  s = "14";
  origin = 1;
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(s, "14");
  EXPECT_EQ(origin, 0);
  s = "d2h(2)";
  origin = 2;
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(s, "D2h(2)");
  EXPECT_EQ(origin, 2);
  s = "c2h(5)";
  origin = 2;
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(s, "C2h(5)");
  EXPECT_EQ(origin, 0);
  s = "P1";
  EXPECT_TRUE(ConvertSpaceGroupSymbol(s, origin));
  EXPECT_EQ(s, "P 1");
  for (const char *bad : {"", "Q 21/c", "[origin 2]", "0", "  P 1"}) {
    s = bad;
    EXPECT_FALSE(ConvertSpaceGroupSymbol(s, origin)) << bad;
  }
}

// The structure's symbol field holds 20 characters; normalising never
// writes past it.
TEST(SpaceGroupLookup, NormalisingAFullFieldStaysInside) {
  struct {
    char symbol[kSpaceGroupSymbolSize];
    char guard[4];
  } field;
  std::memcpy(field.symbol, "P212121xxxxxxxxxxxxx", 21);
  std::memcpy(field.guard, "GGG", 4);
  uint8_t origin = 0;
  EXPECT_TRUE(ConvertSpaceGroupSymbol(std::span<char>(field.symbol), origin));
  EXPECT_STREQ(field.guard, "GGG");
  EXPECT_EQ(std::strlen(field.symbol), 20u);
  EXPECT_EQ(std::string(field.symbol), "P 212121xxxxxxxxxxxx");
  CrystalRec c;
  std::strcpy(c.spaceGroup, "P21/c");
  EXPECT_TRUE(ConvertSpaceGroupSymbol(std::span<char>(c.spaceGroup), c.originChoice));
  EXPECT_STREQ(c.spaceGroup, "P 21/c");
}

TEST(SpaceGroupLookup, SpacegFillsCardsAndLattice) {
  Resolved r = Resolve("14");
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.symbol, "P 21/c");
  EXPECT_EQ(r.lattice, 'P');
  EXPECT_EQ(r.cards, RowCards(80));
  r = Resolve("C2h(5)");
  EXPECT_EQ(r.symbol, "P 21/c");
  r = Resolve("P21/n");
  EXPECT_EQ(r.symbol, "P 1 21/n 1");
  EXPECT_EQ(r.cards, RowCards(81));
  r = Resolve("C 2/c");
  EXPECT_EQ(r.lattice, 'C');
  EXPECT_EQ(r.count, 4);
  r = Resolve("F d -3 m", 2);
  EXPECT_EQ(r.cards, RowCards(524));
  // unknown or empty: P 1, the text kept, and said so
  for (const char *unknown : {"P 99/q", "", "END"}) {
    r = Resolve(unknown);
    EXPECT_FALSE(r.found) << unknown;
    EXPECT_EQ(r.symbol, unknown);
    EXPECT_EQ(r.lattice, 'P');
    EXPECT_EQ(r.cards, std::vector<std::string>{kIdentityCard});
  }
  // the card span bounds what is written
  std::array<Symcard, 2> few{};
  std::string sym = "F m -3 m";
  char lattice = 0;
  uint16_t count = 0;
  EXPECT_TRUE(Spaceg(sym, 0, 90, 90, 90, lattice, count, few));
  EXPECT_EQ(count, 2);
}

TEST(SpaceGroupLookup, RGroupsTakeTheAxesOfTheCell) {
  Resolved r = Resolve("R -3", 0, 80, 80, 80);
  EXPECT_EQ(r.lattice, 'R');
  EXPECT_EQ(r.count, 6);
  EXPECT_EQ(r.cards[1], CardOf("   +z", "   +x", "   +y"));
  int16_t n = 0;
  CentringVectors v;
  Bravais(EffectiveLatticeLetter(r.lattice, 80, 80, 80), n, v);
  EXPECT_EQ(r.count * n, 6);
  r = Resolve("R -3", 0, 90, 90, 120);
  EXPECT_EQ(r.lattice, 'R');
  EXPECT_EQ(r.count, 6);
  EXPECT_EQ(r.cards[1], CardOf("   -y", "   +x-y", "   +z"));
  Bravais(EffectiveLatticeLetter(r.lattice, 90, 90, 120), n, v);
  EXPECT_EQ(r.count * n, 18);
  // a number or Schoenflies symbol of an R group follows the cell too
  r = Resolve("148", 0, 80, 80, 80);
  EXPECT_EQ(r.symbol, "R -3");
  EXPECT_EQ(r.cards[1], CardOf("   +z", "   +x", "   +y"));
  r = Resolve("C3(4)", 0, 75, 75, 75);
  EXPECT_EQ(r.cards[1], CardOf("   +z", "   +x", "   +y"));
  r = Resolve("C3(4)", 0, 90, 90, 120);
  EXPECT_EQ(r.cards[1], CardOf("   -y", "   +x-y", "   +z"));
}

TEST(SpaceGroupLookup, DetailsSystemsAndDualOrigins) {
  std::string sym = "P n n n", schoenflies, full;
  int16_t number = 0, system = 0, count = 0;
  EXPECT_TRUE(GetSpacegroupDetails(sym, schoenflies, full, 2, 0, number, system, count));
  EXPECT_EQ(schoenflies, "D2h(2)");
  EXPECT_EQ(full, "P 2/n 2/n 2/n");
  EXPECT_EQ(number, 48);
  EXPECT_EQ(system, kOrthorhombic);
  EXPECT_EQ(count, 8);
  sym = "P 1 1 21/b";
  EXPECT_TRUE(GetSpacegroupDetails(sym, schoenflies, full, 0, 0, number, system, count));
  EXPECT_EQ(sym, "P 1 1 21/b"); // no short symbol: the full one
  sym = "nonsense";
  system = 5;
  EXPECT_FALSE(GetSpacegroupDetails(sym, schoenflies, full, 0, 0, number, system, count));
  EXPECT_EQ(system, kTriclinic);

  EXPECT_EQ(GetCrystalSystem(0), kTriclinic);
  EXPECT_EQ(GetCrystalSystem(80), kMonoclinic);
  EXPECT_EQ(GetCrystalSystem(431), kTrigonalHexagonalAxes);
  EXPECT_EQ(GetCrystalSystem(432), kTrigonalRhombohedralAxes);
  EXPECT_EQ(GetCrystalSystem(523), kCubic);
  EXPECT_EQ(GetCrystalSystem(-1), kTriclinic);

  for (auto [symbol, alpha, expected] :
       std::vector<std::tuple<const char *, float, int>>{{"R 3", 80.0f, kTrigonalRhombohedralAxes},
                                                         {"R 3", 90.0f, kTrigonalHexagonalAxes},
                                                         {"P 3", 80.0f, kTrigonalHexagonalAxes},
                                                         {"P 63/m m c", 90.0f, kHexagonal},
                                                         {"I 41/a", 90.0f, kTetragonal},
                                                         {"146", 80.0f, kTrigonalRhombohedralAxes}}) {
    std::string s = symbol;
    float gamma = alpha == 90.0f ? 120.0f : alpha;
    EXPECT_TRUE(CheckSymmetry(s, 0, alpha, alpha, gamma, system)) << symbol;
    EXPECT_EQ(system, expected) << symbol;
  }
  sym = "";
  EXPECT_FALSE(CheckSymmetry(sym, 0, 90, 90, 90, system));

  float shift[3] = {};
  EXPECT_TRUE(IsDualOriginSpacegroup("P n n n", shift));
  EXPECT_FLOAT_EQ(shift[0], 0.25f);
  EXPECT_TRUE(IsDualOriginSpacegroup("F d 3 m", shift));
  EXPECT_FLOAT_EQ(shift[2], -0.125f);
  EXPECT_FALSE(IsDualOriginSpacegroup("P 21/c", shift));
  // other axes of a group with two origins: the shift follows the axes
  EXPECT_TRUE(IsDualOriginSpacegroup("P n c b", shift));
  EXPECT_FLOAT_EQ(shift[0], 0.0f);
  EXPECT_FLOAT_EQ(shift[1], 0.25f);
  EXPECT_FLOAT_EQ(shift[2], 0.25f);
  uint8_t origin = 2;
  VerifyOriginChoiceForSpacegroup("P 4/n", origin);
  EXPECT_EQ(origin, 2);
  VerifyOriginChoiceForSpacegroup("P 4/m", origin);
  EXPECT_EQ(origin, 0);
}

TEST(SpaceGroupLookup, RhombohedralAngles) {
  EXPECT_TRUE(AxesAreRhombohedral(80, 80, 80));
  EXPECT_TRUE(AxesAreRhombohedral(79.6f, 80.4f, 80.0f));
  EXPECT_FALSE(AxesAreRhombohedral(89.5f, 89.4f, 89.4f)); // 90 against 89
  EXPECT_FALSE(AxesAreRhombohedral(90, 90, 120));
  EXPECT_FALSE(AxesAreRhombohedral(NAN, NAN, NAN));
  EXPECT_FALSE(AxesAreRhombohedral(INFINITY, INFINITY, INFINITY));
}

TEST(SpaceGroupLookup, CellConstraints) {
  struct Case {
    const char *symbol;
    float alpha;
    std::array<uint8_t, 6> free;
    std::array<float, 6> cell;
  };
  for (const Case &k : std::vector<Case>{
           {"P 1 1 21/b", 70, {1, 1, 1, 0, 0, 1}, {5, 6, 7, 90, 90, 100}},
           {"P 21/c", 70, {1, 1, 1, 0, 1, 0}, {5, 6, 7, 90, 95, 90}},
           {"14", 70, {1, 1, 1, 0, 1, 0}, {5, 6, 7, 90, 95, 90}},
           {"P 21/b 1 1", 70, {1, 1, 1, 1, 0, 0}, {5, 6, 7, 70, 90, 90}},
           {"P n m a", 70, {1, 1, 1, 0, 0, 0}, {5, 6, 7, 90, 90, 90}},
           {"I 41/a", 70, {1, 0, 1, 0, 0, 0}, {5, 5, 7, 90, 90, 90}},
           {"P 63/m m c", 70, {1, 0, 1, 0, 0, 0}, {5, 5, 7, 90, 90, 120}},
           {"R -3 m", 70, {1, 0, 0, 1, 0, 0}, {5, 5, 5, 70, 70, 70}},
           {"F m -3 m", 70, {1, 0, 0, 0, 0, 0}, {5, 5, 5, 90, 90, 90}},
           {"P -1", 70, {1, 1, 1, 1, 1, 1}, {5, 6, 7, 70, 95, 100}},
           {"X 9", 70, {1, 1, 1, 1, 1, 1}, {5, 6, 7, 70, 95, 100}},
       }) {
    std::string s = k.symbol;
    float a = 5, b = 6, c = 7, alpha = k.alpha, beta = k.symbol[0] == 'R' ? k.alpha : 95,
          gamma = k.symbol[0] == 'R' ? k.alpha : 100;
    std::array<uint8_t, 6> free{};
    GetCellConstraints(s, a, b, c, alpha, beta, gamma, free);
    EXPECT_EQ(free, k.free) << k.symbol;
    EXPECT_EQ((std::array<float, 6>{a, b, c, alpha, beta, gamma}), k.cell) << k.symbol;
  }
}

TEST(SpaceGroupLookup, P1Symmetry) {
  CrystalRec c;
  EXPECT_TRUE(CrystalHasP1Symmetry(c));
  std::strcpy(c.spaceGroup, "1");
  EXPECT_TRUE(CrystalHasP1Symmetry(c));
  EXPECT_STREQ(c.spaceGroup, "P 1");
  std::strcpy(c.spaceGroup, "P -1");
  EXPECT_FALSE(CrystalHasP1Symmetry(c));
  c.symCards[0] = MakeSymcard(kIdentityCard);
  c.cardCount = 1;
  EXPECT_TRUE(CrystalHasP1Symmetry(c));
  c.latticeLetter = 'C';
  EXPECT_FALSE(CrystalHasP1Symmetry(c));
}

// ---- Detection -----------------------------------------------------------------------

TEST(SpaceGroupDetection, CommonGroupsAndTheLogLine) {
  FakeHost host;
  CrystalRec c = CrystalFromRow(80);
  EXPECT_TRUE(DetectSpacegroupForCrystal(c));
  EXPECT_STREQ(c.spaceGroup, "P 21/c");
  EXPECT_EQ(c.cardCount, 0);
  EXPECT_EQ(host.LogLines().back(), "Loaded 4 general equivalent positions; detected spacegroup: \"P 21/c\"");

  c = CrystalFromRow(89);
  ASSERT_EQ(c.cardCount, 8);
  c.latticeLetter = 'P'; // the cards decide
  EXPECT_TRUE(DetectSpacegroupForCrystal(c));
  EXPECT_EQ(c.latticeLetter, 'C');
  EXPECT_STREQ(c.spaceGroup, "C 2/c");

  c = CrystalFromRow(524);
  ASSERT_EQ(c.cardCount, 192);
  EXPECT_TRUE(DetectSpacegroupForCrystal(c));
  EXPECT_STREQ(c.spaceGroup, "F d -3 m");
  EXPECT_EQ(c.originChoice, 2);
  EXPECT_EQ(host.LogLines().back(), "Loaded 192 general equivalent positions; detected spacegroup: "
                                    "\"F d -3 m\" (origin choice 2)");

  c = CrystalFromRow(432, 80, 80, 80);
  EXPECT_TRUE(DetectSpacegroupForCrystal(c));
  EXPECT_EQ(c.latticeLetter, 'R');
  EXPECT_STREQ(c.spaceGroup, "R 3");
  EXPECT_EQ(host.colouredRuns.size(), 0u);

  CrystalRec none;
  EXPECT_TRUE(DetectSpacegroupForCrystal(none));
}

TEST(SpaceGroupDetection, LatticeLetterFromTheCards) {
  CrystalRec c = CrystalFromRow(89);
  EXPECT_EQ(LatticeTypeFromGEPs(c.symCards, c.cardCount), 'C');
  c = CrystalFromRow(523);
  EXPECT_EQ(LatticeTypeFromGEPs(c.symCards, c.cardCount), 'F');
  c = CrystalFromRow(431, 90, 90, 120);
  EXPECT_EQ(LatticeTypeFromGEPs(c.symCards, c.cardCount), 'R');
  // a lone operator is no centred class
  CrystalRec one;
  one.symCards[0] = MakeSymcard(kIdentityCard);
  EXPECT_EQ(LatticeTypeFromGEPs(one.symCards, 1), 'P');
  EXPECT_EQ(LatticeTypeFromGEPs(one.symCards, 0), 'P');
  one.cardCount = 1;
  FakeHost host;
  EXPECT_TRUE(DetectSpacegroupForCrystal(one));
  EXPECT_STREQ(one.spaceGroup, "P 1");
  EXPECT_EQ(one.latticeLetter, 'P');
}

TEST(SpaceGroupDetection, AFailureKeepsOneCardPerCentringClass) {
  FakeHost host;
  CrystalRec c;
  c.latticeLetter = 'P';
  for (const char *t : {"x,y,z", "x+1/2,y+1/2,z", "x+1/3,y,z", "x+5/6,y+1/2,z"})
    UpdateSymmCard(t, c.symCards[c.cardCount++]);
  EXPECT_FALSE(DetectSpacegroupForCrystal(c));
  EXPECT_EQ(c.latticeLetter, 'C');
  ASSERT_EQ(c.cardCount, 2);
  EXPECT_EQ(std::string(CardText(c.symCards[0])), kIdentityCard);
  EXPECT_EQ(std::string(CardText(c.symCards[1])), CardOf("1/3+x", "   +y", "   +z"));
  ASSERT_EQ(host.LogLines().size(), 1u);
  EXPECT_EQ(host.LogLines()[0], "Loaded 4 general equivalent positions; spacegroup detection "
                                "failed! (lattice type: C assumed)");
  ASSERT_EQ(host.colouredRuns.size(), 1u);
  EXPECT_EQ(host.colouredRuns[0].colour, kRGBRed);
}

// Every row, written out as a file would with its centring copies, is
// detected as a row with the same lattice and the same operators.
TEST(SpaceGroupDetection, EveryRowIsFoundFromItsOwnCards) {
  FakeHost host;
  for (int row = 0; row < RowCount(); ++row) {
    const SpacegroupRecord &r = gSpacegroups[row];
    bool rhombohedral = r.setting == kSettingRhombohedralAxes;
    float angle = rhombohedral ? 80.0f : 90.0f;
    float gamma = r.setting == kSettingHexagonalAxes ? 120.0f : angle;
    CrystalRec c = CrystalFromRow(row, angle, angle, gamma);
    int count = c.cardCount;
    char lattice = 0;
    std::string symbol;
    uint8_t origin = 9;
    ASSERT_TRUE(GetSpacegroupFromGEPs(c.symCards, count, lattice, symbol, origin)) << row;
    // the row found: same symbol and origin, same operators
    auto want = ExpandedSet(row);
    bool same = false;
    for (int k = 0; k <= row && !same; ++k) {
      if (SpacegroupRowSymbol(static_cast<int16_t>(k)) == symbol && gSpacegroups[k].origin == origin &&
          gSpacegroups[k].fullSymbol[0] == r.fullSymbol[0])
        same = ExpandedSet(k) == want;
    }
    EXPECT_TRUE(same) << "row " << row << " " << r.fullSymbol << " detected as " << symbol;
  }
  EXPECT_EQ(host.colouredRuns.size(), 0u);
}
