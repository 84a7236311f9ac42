// Typing and term search on small molecules whose terms are known by hand.
#include "RelaxTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace relaxtest;

namespace {

double Degrees(double cosine) { return std::acos(cosine) * 180.0 / std::numbers::pi; }

const PairTerm *FindPair(const RelaxMoleculeData &r, int a, int b) {
  for (const PairTerm &t : r.pairs)
    if ((t.slotA == a && t.slotB == b) || (t.slotA == b && t.slotB == a))
      return &t;
  return nullptr;
}

const ThreeBodyTerm *FindAngle(const RelaxMoleculeData &r, int i, int j, int k) {
  for (const ThreeBodyTerm &t : r.threes)
    if (t.slotJ == j && ((t.slotI == i && t.slotK == k) || (t.slotI == k && t.slotK == i)))
      return &t;
  return nullptr;
}

} // namespace

TEST(TermSearch, WaterInEitherAtomOrderWithItsCountLines) {
  const float hx = 0.9584f * std::cos(104.45f * 0.017453293f), hy = 0.9584f * std::sin(104.45f * 0.017453293f);
  std::vector<std::string> lines;
  auto ohh = MakeRecord({{"O ", 0, 0, 0}, {"H ", 0.9584f, 0, 0}, {"H ", hx, hy, 0}}, {{0, 1}, {0, 2}}, &lines);
  ASSERT_TRUE(TypeAndFind(*ohh));
  EXPECT_EQ(lines, (std::vector<std::string>{"Applying potentials", "Number of bonded pairs: 2", "Number of three-body angles: 1",
                                             "Number of inversion centres: 0", "Number of dihedrals: 0",
                                             "Number of non-bonded interactions is: 1"}));
  auto hoh = MakeRecord({{"H ", 0.9584f, 0, 0}, {"O ", 0, 0, 0}, {"H ", hx, hy, 0}}, {{1, 0}, {1, 2}});
  ASSERT_TRUE(TypeAndFind(*hoh));
  for (const auto *r : {ohh.get(), hoh.get()}) {
    ASSERT_EQ(r->pairs.size(), 2u);
    for (const PairTerm &t : r->pairs) {
      EXPECT_FLOAT_EQ(t.r0, 0.9584f);
      EXPECT_LT(t.atomA, t.atomB);
    }
    ASSERT_EQ(r->threes.size(), 1u);
    EXPECT_NEAR(Degrees(r->threes[0].cosTheta0), 104.45, 1e-9);
    EXPECT_TRUE(r->dihedrals.empty());
    EXPECT_TRUE(r->inversions.empty());
  }
}

TEST(TermSearch, SulfurTetrafluorideAxialAndEquatorialFluorines) {
  // The first two fluorines of the sulfur's list are axial, in either atom order.
  for (bool sulfurFirst : {true, false}) {
    std::vector<AtomSpec> atoms = {{"F ", 1.6f, 0, 0}, {"F ", -1.6f, 0, 0}, {"F ", 0, 1.5f, 0}, {"F ", 0, -0.5f, 1.4f}};
    atoms.insert(sulfurFirst ? atoms.begin() : atoms.end(), AtomSpec{"S ", 0, 0, 0});
    const int s = sulfurFirst ? 0 : 4, f0 = sulfurFirst ? 1 : 0;
    auto r = MakeRecord(atoms, {{s, f0}, {s, f0 + 1}, {s, f0 + 2}, {s, f0 + 3}});
    ASSERT_TRUE(TypeAndFind(*r));
    int flags[4];
    for (int k = 0; k < 4; ++k)
      flags[k] = r->atoms[f0 + k].special;
    EXPECT_EQ(std::vector<int>(flags, flags + 4), (std::vector<int>{1, 1, 2, 2}));
    EXPECT_FLOAT_EQ(FindPair(*r, s, f0)->r0, 1.646f);
    EXPECT_FLOAT_EQ(FindPair(*r, s, f0 + 3)->r0, 1.545f);
    EXPECT_NEAR(Degrees(FindAngle(*r, f0, s, f0 + 1)->cosTheta0), 173.1, 1e-9);
    EXPECT_NEAR(Degrees(FindAngle(*r, f0 + 2, s, f0 + 3)->cosTheta0), 101.6, 1e-9);
    EXPECT_NEAR(Degrees(FindAngle(*r, f0 + 1, s, f0 + 2)->cosTheta0), 89.0, 1e-9);
  }
}

TEST(TermSearch, AmideNitrogenIsInvertedOnlyBesideTrigonalCarbon) {
  // Formamide H2N-CHO: both the N and the C are planar centres.
  auto amide = MakeRecord({{"N ", 0, 0, 0}, {"C ", 1.35f, 0, 0}, {"O ", 2, 1, 0}, {"H ", 2, -1, 0},
                           {"H ", -0.5f, 0.9f, 0}, {"H ", -0.5f, -0.9f, 0}},
                          {{0, 1}, {1, 2}, {1, 3}, {0, 4}, {0, 5}});
  ASSERT_TRUE(TypeAndFind(*amide));
  ASSERT_EQ(amide->inversions.size(), 2u);
  EXPECT_EQ(amide->inversions[0].slotCentre, 0);
  EXPECT_EQ(std::vector<int>(amide->inversions[0].slotL, amide->inversions[0].slotL + 3),
            (std::vector<int>{1, 4, 5}));
  EXPECT_EQ(amide->inversions[0].k, 5000.0f);
  // Methylamine: the N's carbon has four neighbours, so no inversion at all.
  auto amine = MakeRecord({{"N ", 0, 0, 0}, {"C ", 1.47f, 0, 0}, {"H ", 2, 1, 0}, {"H ", 2, -1, 0}, {"H ", 2, 0, 1},
                           {"H ", -0.5f, 0.9f, 0}, {"H ", -0.5f, -0.9f, 0}},
                          {{0, 1}, {1, 2}, {1, 3}, {1, 4}, {0, 5}, {0, 6}});
  ASSERT_TRUE(TypeAndFind(*amine));
  EXPECT_TRUE(amine->inversions.empty());
}

TEST(TermSearch, PairRulesFollowAtomIndexOrder) {
  // N(3)-N(2): 1.45 when the three-neighbour N comes first, the radius sum otherwise.
  auto n3First = MakeRecord({{"N ", 0, 0, 0}, {"N ", 1.4f, 0, 0}, {"H ", -1, 0, 0}, {"H ", 0, 1, 0}, {"H ", 2, 1, 0}},
                            {{0, 1}, {0, 2}, {0, 3}, {1, 4}});
  auto n2First = MakeRecord({{"N ", 1.4f, 0, 0}, {"N ", 0, 0, 0}, {"H ", -1, 0, 0}, {"H ", 0, 1, 0}, {"H ", 2, 1, 0}},
                            {{1, 0}, {1, 2}, {1, 3}, {0, 4}});
  ASSERT_TRUE(TypeAndFind(*n3First));
  ASSERT_TRUE(TypeAndFind(*n2First));
  EXPECT_FLOAT_EQ(FindPair(*n3First, 0, 1)->r0, 1.45f);
  EXPECT_FLOAT_EQ(FindPair(*n2First, 0, 1)->r0, 1.4f);
  // Se-H is 1.46 Å whichever atom comes first.
  for (bool seFirst : {true, false}) {
    auto r = seFirst ? MakeRecord({{"Se", 0, 0, 0}, {"H ", 1.46f, 0, 0}}, {{0, 1}})
                     : MakeRecord({{"H ", 1.46f, 0, 0}, {"Se", 0, 0, 0}}, {{0, 1}});
    ASSERT_TRUE(TypeAndFind(*r));
    EXPECT_FLOAT_EQ(r->pairs[0].r0, 1.46f);
  }
}

TEST(TermSearch, EthaneHasEighteenDihedralsOfBarrierFive) {
  auto r = MakeRecord(Ethane(), kEthaneBonds);
  ASSERT_TRUE(TypeAndFind(*r));
  ASSERT_EQ(r->dihedrals.size(), 18u);
  for (const DihedralTerm &t : r->dihedrals) {
    EXPECT_EQ(t.v, 5.0f);
    EXPECT_EQ(t.n, 3);
    EXPECT_EQ(t.phi0, 0.0);
  }
  // C-C 1.52 (both four-neighbour), C-H 1.11 Å, H-C-H 109.5° with k 8.364.
  EXPECT_FLOAT_EQ(FindPair(*r, 0, 1)->r0, 1.52f);
  EXPECT_FLOAT_EQ(FindPair(*r, 0, 2)->r0, 1.11f);
  EXPECT_EQ(FindAngle(*r, 2, 0, 3)->k, 8.364f);
  EXPECT_NEAR(Degrees(FindAngle(*r, 2, 0, 3)->cosTheta0), 109.5, 1e-9);
  EXPECT_EQ(r->threes.size(), 12u);
}

TEST(TermSearch, UnknownSymbolsKeepTheDefaults) {
  auto r = MakeRecord({{"Xx", 0, 0, 0}, {"Q ", 1, 0, 0}}, {{0, 1}});
  ASSERT_TRUE(TypeAndFind(*r));
  for (const RelaxAtom &a : r->atoms) {
    EXPECT_EQ(a.r, 1.0f);
    EXPECT_EQ(a.cosTheta0, -0.33331324756);
    EXPECT_EQ(a.ljX, 3.0f);
    EXPECT_EQ(a.ljD, 0.0);
    EXPECT_EQ(a.zStar, 0.0001f);
  }
  EXPECT_FLOAT_EQ(r->pairs[0].r0, 2.0f);
}

TEST(TermSearch, NonBondedPairsWithinSixteenAngstromIncludingOneThreePairs) {
  // Two H2 molecules: their four cross pairs count only while closer than 16 Å.
  for (float gap : {15.99f, 16.01f}) {
    auto r = MakeRecord({{"H ", 0, 0, 0}, {"H ", 0.74f, 0, 0}, {"H ", 0, gap, 0}, {"H ", 0.74f, gap, 0}},
                        {{0, 1}, {2, 3}});
    ASSERT_TRUE(TypeAndFind(*r));
    EXPECT_EQ(r->nonBonded.size(), gap < 16 ? 2u : 0u) << gap; // the diagonal pairs lie beyond 16 Å
  }
  // In water the H-H pair, two bonds apart, is a non-bonded term: σ = x(H), ε = D(H).
  auto water = MakeRecord({{"O ", 0, 0, 0}, {"H ", 0.96f, 0, 0}, {"H ", -0.24f, 0.93f, 0}}, {{0, 1}, {0, 2}});
  ASSERT_TRUE(TypeAndFind(*water));
  ASSERT_EQ(water->nonBonded.size(), 1u);
  EXPECT_EQ(water->nonBonded[0].slotI, 1);
  EXPECT_EQ(water->nonBonded[0].slotJ, 2);
  EXPECT_DOUBLE_EQ(water->nonBonded[0].sigma, static_cast<double>(water->atoms[1].ljX));
}

TEST(TermSearch, MissingNeighbourFailsWithItsLines) {
  std::vector<std::string> lines;
  auto r = MakeRecord({{"C ", 0, 0, 0}, {"H ", 1, 0, 0}}, {{0, 1}}, &lines);
  r->atoms[0].neighbours.push_back(7); // no atom 7
  EXPECT_EQ(RelaxMoleculeWithSeed(*r, 1.0), -1);
  EXPECT_EQ(lines, (std::vector<std::string>{"Applying potentials", "Number of bonded pairs: 2",
                                             "Failed at PairPotentialSelection()",
                                             "Cannot find second atom in bonded pair.", "malloc failed at FindPairs()"}));
  EXPECT_EQ(r->atoms[1].x, 1.0f);
}
