// Bond search: element runs, candidates, box queries, bonds lists and
// coordination numbers, checked against hand-worked structures, a brute-force
// search and the plain reference search (BondSearchReference.h).
#include "BondSearch.h"
#include "BondSearchReference.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

namespace {

using bondref::SiteSpec;

const float kCubic4[6] = {4, 4, 4, 90, 90, 90};

// A primitive cubic crystal of one X atom at the origin, a = 4.
bool MakeCubic(CrystalRec &c, const float range[6]) {
  return bondref::MakeCrystal(c, kCubic4, "P 1", {{"X1", "X", 0, 0, 0}}, range);
}

bool MakeNaCl(CrystalRec &c, const float range[6]) {
  const float cell[6] = {5.6402f, 5.6402f, 5.6402f, 90, 90, 90};
  return bondref::MakeCrystal(c, cell, "F m -3 m", {{"Cl1", "Cl", 0.5f, 0.5f, 0.5f}, {"Na1", "Na", 0, 0, 0}}, range);
}

void SetCandidates(CandidateIndex &index, const std::vector<std::array<float, 3>> &points) {
  std::vector<TurboAtom> candidates;
  for (size_t i = 0; i < points.size(); i++)
    candidates.push_back({static_cast<uint32_t>(i), {points[i][0], points[i][1], points[i][2]}});
  index.SetCandidates(std::move(candidates));
}

std::vector<uint32_t> Boxed(const CandidateIndex &index, int32_t n) {
  return {index.Boxed().begin(), index.Boxed().begin() + n};
}

// ---- Element runs -------------------------------------------------------------------

TEST(BondSearchElements, RunsOfSitesWithTheirAtomRanges) {
  FakeHost host;
  CrystalRec c;
  bondref::MakeMolecule(c, {{"C1", "C", 0, 0, 0},
                            {"C2", "C", 1, 0, 0},
                            {"H1", "H", 2, 0, 0},
                            {"O1", "O", 3, 0, 0},
                            {"O2", "O", 4, 0, 0},
                            {"O3", "O", 5, 0, 0}});
  const auto list = TurboIndexElements(&c);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 4u);
  EXPECT_EQ((*list)[0].element, TwoCharsToShort("C"));
  EXPECT_EQ((*list)[0].firstSite, 0u);
  EXPECT_EQ((*list)[0].lastSite, 1u);
  EXPECT_EQ((*list)[2].element, TwoCharsToShort("O"));
  EXPECT_EQ((*list)[2].firstSite, 3u);
  EXPECT_EQ((*list)[2].lastSite, 5u);
  EXPECT_EQ((*list)[3].element, kElementIndexEnd);
  EXPECT_EQ((*list)[3].firstSite, 0u);

  EXPECT_EQ(TurboFindElement(*list, TwoCharsToShort("Fe")), nullptr);
  EXPECT_EQ(TurboFindElement(*list, kElementIndexEnd), nullptr); // the terminator is no run
  const ElementIndexEntry *o = TurboFindElement(*list, TwoCharsToShort("O"));
  ASSERT_NE(o, nullptr);
  int32_t first = -1, last = -1;
  ASSERT_TRUE(TurboGetElementAtomRange(&c, *o, &first, &last));
  EXPECT_EQ(first, 3);
  EXPECT_EQ(last, 5);

  CrystalRec empty;
  InitBlankCrystalRec(&empty);
  EXPECT_FALSE(TurboIndexElements(&empty));
  EXPECT_FALSE(TurboIndexElements(nullptr));
}

// ---- Sorting and box queries ---------------------------------------------------------------

TEST(BondSearchBox, XOrderBreaksTiesByPosition) {
  const struct {
    std::vector<std::array<float, 3>> points;
    std::vector<uint32_t> order;
  } cases[] = {
      {{{1, 5, -0.0f}, {0, 5, 0}, {1, 4, 2}, {-3, 5, 1}, {1, 6, 0.0f}}, {3, 1, 0, 2, 4}},
      {{{0.0f, 1, 1}, {-0.0f, 0, 0}, {-1, 0, 0}, {0.0f, -1, 0}}, {2, 0, 1, 3}}, // -0 and +0 are equal
      {{}, {}},
  };
  for (const auto &t : cases) {
    CandidateIndex index;
    SetCandidates(index, t.points);
    ASSERT_TRUE(index.SortByX());
    EXPECT_EQ(index.OrderX(), t.order);
  }
}

TEST(BondSearchBox, OffersEveryCandidateTiedOnTheCubeFaces) {
  CandidateIndex index;
  // Three candidates lie exactly on the lower x face, two on the upper one.
  SetCandidates(index, 
      {{-2, 0, 0}, {-2, 1, 0}, {0, 0, 0}, {-2, 0, 2}, {2, 0, -2}, {2, 2, 2}, {-2.0001f, 0, 0}, {0, 2.0001f, 0}});
  ASSERT_TRUE(index.SortByX());
  const float p[3] = {0, 0, 0};
  const int32_t n = index.BoxAtoms(p, 2.0f);
  EXPECT_EQ(Boxed(index, n), (std::vector<uint32_t>{0, 1, 3, 2, 4, 5}));
}

TEST(BondSearchBox, EmptyAndOutsideQueriesFindNothing) {
  CandidateIndex index;
  const float p[3] = {0, 0, 0};
  SetCandidates(index, {});
  ASSERT_TRUE(index.SortByX());
  EXPECT_EQ(index.BoxAtoms(p, 5.0f), 0);

  SetCandidates(index, {{5, 5, 5}, {6, 5, 5}, {5, 0, 0}});
  ASSERT_TRUE(index.SortByX());
  EXPECT_EQ(index.BoxAtoms(p, 1.0f), 0); // below every candidate: not even rank 0
  EXPECT_EQ(index.BoxAtoms(p, -6.0f), 0);
  EXPECT_EQ(index.BoxAtoms(p, std::numeric_limits<float>::quiet_NaN()), 0);
  const float nanPoint[3] = {std::numeric_limits<float>::quiet_NaN(), 0, 0};
  EXPECT_EQ(index.BoxAtoms(nanPoint, 100.0f), 0);
  EXPECT_EQ(Boxed(index, index.BoxAtoms(p, 5.0f)), (std::vector<uint32_t>{0, 2})); // on the upper faces

  // Candidates that are not finite are never offered.
  SetCandidates(index, 
      {{std::numeric_limits<float>::infinity(), 0, 0}, {0, std::numeric_limits<float>::quiet_NaN(), 0}, {1, 1, 1}});
  ASSERT_TRUE(index.SortByX());
  EXPECT_EQ(index.BoxAtoms(p, 1e30f), 1);
  EXPECT_EQ(index.Boxed()[0], 2u);

  // Without sorting there is nothing to query.
  index.FreeSortMemory();
  EXPECT_EQ(index.BoxAtoms(p, 5.0f), 0);
}

TEST(BondSearchBox, RandomQueriesMatchTheCubeInXRankOrder) {
  CandidateIndex index;
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> grid(-40, 40);
  std::uniform_real_distribution<float> real(-10.0f, 10.0f);
  for (int round = 0; round < 3; round++) {
    // Quantised coordinates give many ties; the last round is a thin slab.
    std::vector<std::array<float, 3>> points;
    for (int i = 0; i < 3000; i++) {
      if (round == 2)
        points.push_back({static_cast<float>(grid(rng) % 3) * 0.5f, real(rng) * 5.0f, real(rng)});
      else
        points.push_back({grid(rng) * 0.25f, grid(rng) * 0.25f, round == 0 ? grid(rng) * 0.25f : real(rng)});
    }
    SetCandidates(index, points);
    ASSERT_TRUE(index.SortByX());
    for (int q = 0; q < 300; q++) {
      const float p[3] = {grid(rng) * 0.25f, grid(rng) * 0.25f, grid(rng) * 0.25f};
      const float d = q % 50 == 0 ? 30.0f : static_cast<float>(1 + q % 12) * 0.25f; // grid rebuilt now and then
      std::vector<uint32_t> expected;
      for (uint32_t pos : index.OrderX()) {
        const TurboAtom &t = index[pos];
        bool inside = true;
        for (int i = 0; i < 3; i++)
          inside = inside && t.xyz[i] >= p[i] - d && t.xyz[i] <= p[i] + d;
        if (inside)
          expected.push_back(pos);
      }
      const int32_t n = index.BoxAtoms(p, d);
      ASSERT_EQ(Boxed(index, n), expected) << "round " << round << " query " << q;

      // Around a candidate: those after a position within the ball, in the
      // same order, and no more than the bound of any cube.
      const uint32_t from = static_cast<uint32_t>(rng() % points.size());
      const uint32_t after = static_cast<uint32_t>(rng() % points.size());
      const float *c = index[from].xyz;
      std::vector<uint32_t> ball;
      size_t inCube = 0, inBall = 0;
      for (uint32_t pos : index.OrderX()) {
        const float *t = index[pos].xyz;
        const float dx = t[0] - c[0], dy = t[1] - c[1], dz = t[2] - c[2];
        bool inside = true;
        for (int i = 0; i < 3; i++)
          inside = inside && t[i] >= c[i] - d && t[i] <= c[i] + d;
        inCube += inside;
        inBall += dx * dx + dy * dy + dz * dz <= d * d;
        if (inside && dx * dx + dy * dy + dz * dz <= d * d && pos > after)
          ball.push_back(pos);
      }
      ASSERT_EQ(Boxed(index, index.BallAtomsAfter(c, d, after)), ball) << "round " << round << " query " << q;
      EXPECT_GE(index.MostAnyCubeHolds(d), inCube) << "round " << round << " query " << q;
      // The crowd count, at the limits about the ball's count.
      for (const size_t limit : {inBall > 0 ? inBall - 1 : 0, inBall, inBall / 2})
        EXPECT_EQ(index.HoldsMoreThan(c, d, limit), inBall > limit) << "round " << round << " query " << q;
    }
  }
}

// Candidates at one place are found as one whatever their order, -0 and +0
// alike; the first of each place is kept and what is kept is sorted. Long
// runs of one x hold few places (dealt to them) or more (sorted).
TEST(BondSearchBox, PlacesJoinEqualCoordinatesOnly) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    std::vector<std::array<float, 3>> points;
    std::vector<uint32_t> kept;  // positions in `all` of the places' first members
    std::vector<uint32_t> sizes; // members per place
  };
  std::vector<Case> cases = {
      {{{1, 2, 3}, {1, 2, 4}, {0, 2, 3}}, {0, 1, 2}, {1, 1, 1}},
      {{{1, 2, 3}, {0, 0, 0}, {1, 2, 3}, {1, 2, 3}, {0, 0, -0.0f}}, {0, 1}, {3, 2}},
      {{{1, 2, 3}, {1, 3, 2}, {1, 2, 3}, {1, 3, 2}}, {0, 1}, {2, 2}},
      {{{nan, 0, 0}, {nan, 0, 0}, {0, nan, 0}, {0, nan, 0}, {5, 5, 5}}, {0, 1, 2, 3, 4}, {1, 1, 1, 1, 1}},
  };
  // 96 candidates at x = 1, the places taking turns (every seventh place
  // next), so that the first positions hold one candidate of each place;
  // place 0 at z = +0 and -0 by turns. The places' y and z do not follow
  // the order they first appear in.
  for (const uint32_t nPlaces : {3u, 12u}) {
    Case t;
    const uint32_t each = 96 / nPlaces;
    for (uint32_t k = 0; k < nPlaces * each; k++) {
      const uint32_t place = k * 7 % nPlaces;
      const float z = place == 0 ? (k % 2 ? -0.0f : 0.0f) : float(place);
      t.points.push_back({1.0f, float((nPlaces - place) % 3), z});
    }
    for (uint32_t place = 0; place < nPlaces; place++) {
      t.kept.push_back(place);
      t.sizes.push_back(each);
    }
    cases.push_back(t);
  }
  for (const auto &t : cases) {
    CandidateIndex index;
    SetCandidates(index, t.points);
    TurboPlaces places;
    ASSERT_TRUE(index.GroupPlaces(&places));
    ASSERT_EQ(index.Size(), t.kept.size());
    ASSERT_EQ(places.all.size(), t.points.size());
    std::vector<uint32_t> sizes;
    for (size_t k = 0; k < index.Size(); k++) {
      const uint32_t first = places.members[places.start[k]];
      EXPECT_EQ(first, t.kept[k]);
      EXPECT_EQ(index[k].atom, places.all[first].atom);
      sizes.push_back(places.start[k + 1] - places.start[k]);
      for (uint32_t m = places.start[k] + 1; m < places.start[k + 1]; m++)
        for (int i = 0; i < 3; i++)
          EXPECT_EQ(places.all[places.members[m]].xyz[i], places.all[first].xyz[i]);
    }
    EXPECT_EQ(sizes, t.sizes);
    ASSERT_EQ(index.OrderX().size(), index.Size()); // sorted: ready for queries
  }
}

// ---- Candidates -----------------------------------------------------------------------------

TEST(BondSearchCandidates, IndexedAtomsKeepThoseInTheRange) {
  FakeHost host;
  CandidateIndex index;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeCubic(c, range));
  ASSERT_EQ(c.atomCount, 8);
  c.plotRange[1] = 0.5f; // the atoms at x = 1 drop out
  ASSERT_TRUE(index.GetIndexedAtoms(&c, 0, 7));
  ASSERT_EQ(index.Size(), 4u);
  for (const TurboAtom &t : index.Candidates()) {
    EXPECT_EQ(c.atoms[t.atom].xyz[0], 0.0f);
    EXPECT_EQ(t.xyz[1], c.atoms[t.atom].cart[1]);
  }
  EXPECT_TRUE(index.GetIndexedAtoms(&c, 1, 1)); // made, but empty
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_FALSE(index.GetIndexedAtoms(&c, 5, 4));
  EXPECT_TRUE(index.GetIndexedAtoms(&c, -3, 100)); // clamped to the atoms
  EXPECT_EQ(index.Size(), 4u);

  // 1.0001 is one place with the face at 1; 1.0002 is beyond it.
  const float inside[3] = {0, 1, 1}, onFace[3] = {0.5f, 1.0001f, 0}, outside[3] = {0.5f, 1.0002f, 0};
  EXPECT_TRUE(FracCoordsInRange(&c, inside));
  EXPECT_TRUE(FracCoordsInRange(&c, onFace));
  EXPECT_FALSE(FracCoordsInRange(&c, outside));
  c.molecule = 1;
  EXPECT_TRUE(FracCoordsInRange(&c, outside));
}

TEST(BondSearchCandidates, ExtendedCellRangeTakesTheImagesWithinReachInBlockOrder) {
  FakeHost host;
  CandidateIndex index;
  CrystalRec c;
  const float range[6] = {0, 0.9f, 0, 0.9f, 0, 0.9f};
  ASSERT_TRUE(bondref::MakeCrystal(c, kCubic4, "P 1", {{"X1", "X", 0.25f, 0.5f, 0.75f}}, range));
  // x = 2 / 4 = 0.5: three cells per axis, window [0.5, 2.5].
  int32_t shift[3];
  ASSERT_TRUE(TurboCentreShift(&c, 2.0f, shift));
  EXPECT_EQ(shift[0], 1);
  ASSERT_TRUE(index.ExtendCellRange(&c, 0, 0, 2.0f));
  ASSERT_EQ(index.Size(), 12u); // a: 1.25, 2.25; b: 0.5, 1.5, 2.5; c: 0.75, 1.75
  const float first[3] = {1.25f, 0.5f, 0.75f}, second[3] = {2.25f, 0.5f, 0.75f}, third[3] = {1.25f, 1.5f, 0.75f},
              last[3] = {2.25f, 2.5f, 1.75f};
  const float *expected[4] = {first, second, third, last};
  const int at[4] = {0, 1, 2, 11};
  for (int k = 0; k < 4; k++) {
    float cart[3];
    MatMul(c.orientationMatrix, expected[k], cart);
    for (int i = 0; i < 3; i++)
      EXPECT_FLOAT_EQ(index[static_cast<size_t>(at[k])].xyz[i], cart[i]) << k;
    EXPECT_EQ(index[static_cast<size_t>(at[k])].atom, 0u);
  }

  // Whole x: the block is 2x + 1 cells and the window starts at 0, so a
  // point of the central cell sees images a full x cells below it.
  ASSERT_TRUE(index.ExtendCellRange(&c, 0, 0, 8.0f));
  ASSERT_TRUE(TurboCentreShift(&c, 8.0f, shift));
  EXPECT_EQ(shift[2], 2);
  // The window is [0, 6]: all five cells on every axis.
  EXPECT_EQ(index.Size(), 125u);

  // Bad ranges and distances, and blocks too large to hold.
  EXPECT_FALSE(index.ExtendCellRange(&c, 0, 1, 2.0f));
  EXPECT_FALSE(index.ExtendCellRange(&c, 1, 0, 2.0f));
  EXPECT_FALSE(index.ExtendCellRange(&c, 0, 0, std::numeric_limits<float>::infinity()));
  EXPECT_FALSE(index.ExtendCellRange(&c, 0, 0, 1e5f));
  EXPECT_EQ(index.Size(), 0u);
  EXPECT_TRUE(index.Candidates().empty());
  c.a = 0.0f; // a refused cell
  EXPECT_FALSE(index.ExtendCellRange(&c, 0, 0, 2.0f));
}

// ---- Bond generation ----------------------------------------------------------------------

TEST(BondSearchBonds, ListsFollowSpecificationsAtomsAndXRank) {
  FakeHost host;
  CrystalRec c;
  bondref::MakeMolecule(c, {{"C1", "C", 0, 0, 1.5f},
                            {"H1", "H", 1, 0, 0},
                            {"H2", "H", -1, 0, 0},
                            {"H3", "H", 0, 1, 0},
                            {"H4", "H", 0, -1, 0},
                            {"O1", "O", 0, 0, 0},
                            {"O2", "O", 3, 0, 0}});
  bondref::AddSpec(c, "O", "H", 0.0f, 2.05f);
  bondref::AddSpec(c, "O", "C", 0.0f, 1.6f);
  TurboGenerateBonds(&c);
  const std::vector<std::vector<uint32_t>> expected = {{5}, {5, 6}, {5}, {5}, {5}, {2, 3, 4, 1, 0}, {1}};
  EXPECT_EQ(bondref::BondsLists(c), expected);
  for (const AtomRecord &atom : c.atoms)
    EXPECT_EQ(atom.bondCount, atom.bonds.size());

  // The same pair named again, in the other order, adds nothing.
  bondref::AddSpec(c, "H", "O", 0.5f, 4.0f);
  TurboGenerateBonds(&c);
  EXPECT_EQ(bondref::BondsLists(c)[5], (std::vector<uint32_t>{2, 3, 4, 1, 0}));
  EXPECT_EQ(bondref::BondsLists(c)[6], (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST(BondSearchBonds, OneElementBondsEachPairOnceAtBothLimits) {
  FakeHost host;
  CrystalRec c;
  bondref::MakeMolecule(
      c, {{"C1", "C", 0, 0, 0}, {"C2", "C", 1.5f, 0, 0}, {"C3", "C", 3, 0, 0}, {"C4", "C", 1.5f, 1.5f, 0}});
  bondref::AddSpec(c, "C", "C", 1.5f, 1.5f); // every bond exactly at both limits
  TurboGenerateBonds(&c);
  const std::vector<std::vector<uint32_t>> expected = {{1}, {0, 2, 3}, {1}, {1}};
  EXPECT_EQ(bondref::BondsLists(c), expected);

  // Even with a minimum of 0, two atoms at the same place never bond, nor an
  // atom to itself.
  CrystalRec d;
  bondref::MakeMolecule(d, {{"C1", "C", 0, 0, 0}, {"C2", "C", 0, 0, 0}, {"C3", "C", 1, 0, 0}});
  bondref::AddSpec(d, "C", "C", 0.0f, 1.2f);
  TurboGenerateBonds(&d);
  const std::vector<std::vector<uint32_t>> expectedD = {{2}, {2}, {0, 1}};
  EXPECT_EQ(bondref::BondsLists(d), expectedD);
}

TEST(BondSearchBonds, AtomsCloserThanATenthOfAnAngstromAreCountedOnceInOneLogLine) {
  FakeHost host;
  // Four carbons at one place (one of them 0.05 A off), three at another
  // 1.4 A away, and an oxygen 0.2 A from the second place; the C-C pair is
  // named twice, once in each order.
  CrystalRec c;
  bondref::MakeMolecule(c, {{"C1", "C", 0, 0, 0},
                            {"C2", "C", 0, 0, 0},
                            {"C3", "C", 0, 0, 0.05f},
                            {"C4", "C", 0, 0, 0},
                            {"C5", "C", 1.4f, 0, 0},
                            {"C6", "C", 1.4f, 0, 0},
                            {"C7", "C", 1.4f, 0, 0},
                            {"O1", "O", 1.6f, 0, 0}});
  bondref::AddSpec(c, "C", "C", 0.0f, 1.6f);
  bondref::AddSpec(c, "C", "O", 0.0f, 1.0f);
  bondref::AddSpec(c, "C", "C", 0.0f, 1.7f);
  TurboGenerateBonds(&c);
  const std::vector<std::vector<uint32_t>> lists = bondref::BondsLists(c);
  for (uint32_t a = 0; a < 4; a++)
    EXPECT_EQ(lists[a], (std::vector<uint32_t>{4, 5, 6})) << a;
  EXPECT_EQ(lists[7], (std::vector<uint32_t>{4, 5, 6})); // 0.2 A is no place of its own
  // C(4,2) + C(3,2) pairs at one place, each counted once.
  EXPECT_EQ(
      host.LogLines(),
      std::vector<std::string>{
          "9 pairs of atoms closer than 0.1 A left unbonded: atoms at one place are never bonded to each other."});

  // In a crystal: two sites at one place bond to their neighbours a cell
  // away, not to each other, at each of the eight corners of the range.
  FakeHost crystalHost;
  CrystalRec x;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(bondref::MakeCrystal(x, kCubic4, "P 1", {{"X1", "X", 0, 0, 0}, {"X2", "X", 0, 0, 0}}, range));
  bondref::AddSpec(x, "X", "X", 0.0f, 4.0f);
  TurboGenerateBonds(&x);
  for (const AtomRecord &a : x.atoms)
    for (uint32_t j : a.bonds) {
      const float *p = a.cart, *q = x.atoms[j].cart;
      EXPECT_NEAR(std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]), 4.0f, 1e-4f);
    }
  EXPECT_EQ(bondref::PairsOf(bondref::BondsLists(x)).size(), 2u * 12u * 2u); // 12 edges per site, each twice
  EXPECT_EQ(
      crystalHost.LogLines(),
      std::vector<std::string>{
          "8 pairs of atoms closer than 0.1 A left unbonded: atoms at one place are never bonded to each other."});
}

TEST(BondSearchBonds, ExactLengthsOnTiedFacesOfACubicLattice) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 2, 0, 2, 0, 2};
  ASSERT_TRUE(MakeCubic(c, range));
  ASSERT_EQ(c.atomCount, 27);
  // Each bond lies exactly at the maximum, its partner tied with eight
  // others on the query cube's face.
  bondref::AddSpec(c, "X", "X", 4.0f, 4.0f);
  TurboGenerateBonds(&c);
  const auto pairs = bondref::PairsOf(bondref::BondsLists(c));
  EXPECT_EQ(pairs.size(), 54u); // 3 x 3 rows x 2 edges, along each of 3 axes
  EXPECT_EQ(pairs, bondref::BruteForcePairs(c));
  EXPECT_EQ(bondref::BondsLists(c), bondref::GenerateBonds(c));
  // The centre atom (2, 2, 2 in 0..2 cells, fractional 1, 1, 1) has six.
  for (const AtomRecord &atom : c.atoms) {
    if (atom.xyz[0] == 1.0f && atom.xyz[1] == 1.0f && atom.xyz[2] == 1.0f) {
      EXPECT_EQ(atom.bondCount, 6u);
    }
  }
}

TEST(BondSearchBonds, OnlyAtomsInsideThePlotRangeTakePart) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeCubic(c, range));
  bondref::AddSpec(c, "X", "X", 0.0f, 4.0f);
  TurboGenerateBonds(&c);
  EXPECT_EQ(bondref::PairsOf(bondref::BondsLists(c)).size(), 12u); // the cube's edges

  c.plotRange[1] = 0.9999f; // the four atoms at x = 1 are just outside
  TurboGenerateBonds(&c);
  EXPECT_EQ(bondref::PairsOf(bondref::BondsLists(c)).size(), 4u);
  for (const AtomRecord &atom : c.atoms) {
    if (atom.xyz[0] == 1.0f) {
      EXPECT_TRUE(atom.bonds.empty());
    }
  }

  c.plotRange[1] = 1.0f; // widened again: bonded again
  TurboGenerateBonds(&c);
  EXPECT_EQ(bondref::PairsOf(bondref::BondsLists(c)).size(), 12u);
}

TEST(BondSearchBonds, ASpecificationNamingAnAbsentElementDoesNotStopTheOthers) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeNaCl(c, range));
  bondref::AddSpec(c, "Na", "Fe", 0.0f, 3.0f); // second element absent
  bondref::AddSpec(c, "Fe", "Cl", 0.0f, 3.0f); // first element absent
  bondref::AddSpec(c, "Na", "Cl", 0.0f, 3.0f);
  TurboGenerateBonds(&c);
  const auto pairs = bondref::PairsOf(bondref::BondsLists(c));
  EXPECT_FALSE(pairs.empty());
  EXPECT_EQ(pairs, bondref::BruteForcePairs(c));

  bool nothing = false;
  EXPECT_TRUE(TurboGetCoordinationNumbers(&c, &nothing));
  EXPECT_TRUE(nothing);
  for (const AsymmetricUnitRecord &site : c.sites)
    EXPECT_EQ(site.coordination, 6u);
}

TEST(BondSearchBonds, NothingToSearchLeavesEveryListEmpty) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeNaCl(c, range));
  c.atoms[3].bonds = {1, 2};
  c.atoms[3].bondCount = 2;
  {
    Polyhedron p = *CreatePolyhedron(4);
    c.atoms[3].polyhedron.Hold(std::move(p));
  }
  c.sites[0].coordination = 9;
  TurboGenerateBonds(&c); // no specification
  for (const AtomRecord &atom : c.atoms) {
    EXPECT_TRUE(atom.bonds.empty());
    EXPECT_EQ(atom.bondCount, 0u);
    EXPECT_FALSE(AtomPolyhedron(&c, atom));
  }
  bool nothing = true;
  EXPECT_FALSE(TurboGetCoordinationNumbers(&c, &nothing));
  EXPECT_FALSE(nothing);
  EXPECT_EQ(c.sites[0].coordination, 0u);

  CrystalRec one;
  bondref::MakeMolecule(one, {{"C1", "C", 0, 0, 0}});
  bondref::AddSpec(one, "C", "C", 0.0f, 2.0f);
  TurboGenerateBonds(&one);
  EXPECT_TRUE(one.atoms[0].bonds.empty());
  EXPECT_FALSE(TurboGetCoordinationNumbers(&one, nullptr));
  TurboGenerateBonds(nullptr);
  EXPECT_FALSE(TurboGetCoordinationNumbers(nullptr, nullptr));
}

// A host whose clock moves a second at every reading, so that every status
// report shows.
struct TickingHost : FakeHost {
  uint64_t NowMicroseconds() override { return now += 1000000; }
};

struct ShowProgress {
  ShowProgress() { gShowProgress = 1; }
  ~ShowProgress() {
    gShowProgress = 0;
    CloseStatus();
  }
};

TEST(BondSearchBonds, ReportsProgressPerSpecification) {
  TickingHost host;
  ShowProgress progress;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeNaCl(c, range));
  bondref::AddSpec(c, "Na", "Cl", 0.0f, 3.0f);
  bondref::AddSpec(c, "Cl", "Cl", 0.0f, 4.0f);
  TurboGenerateBonds(&c);
  std::vector<std::string> messages;
  for (const auto &event : host.status)
    if (event.shown && (messages.empty() || messages.back() != event.message))
      messages.push_back(event.message);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Searching for bonds (Na - Cl)...", "Searching for bonds (Cl - Cl)..."}));
  ASSERT_FALSE(host.status.empty());
  EXPECT_FALSE(host.status.back().shown); // closed at the end
  for (size_t k = 1; k + 1 < host.status.size(); k++) {
    EXPECT_GE(host.status[k].percent, host.status[k - 1].percent);
    EXPECT_LE(host.status[k].percent, 100.0f);
  }

  host.status.clear();
  EXPECT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
  messages.clear();
  for (const auto &event : host.status)
    if (event.shown && (messages.empty() || messages.back() != event.message))
      messages.push_back(event.message);
  EXPECT_EQ(messages, (std::vector<std::string>{"Calculating site coordination numbers (Na - Cl)...",
                                                "Calculating site coordination numbers (Cl - Cl)..."}));
  ASSERT_FALSE(host.status.empty());
  EXPECT_TRUE(host.status.back().shown); // left for the build to close
}

TEST(BondSearchBonds, EscapeStopsTheSearchWithNoBondsAndTellsTheUser) {
  TickingHost host;
  ShowProgress progress;
  CrystalRec c;
  const float range[6] = {0, 8, 0, 8, 0, 8}; // about 2,500 Na atoms to query
  ASSERT_TRUE(MakeNaCl(c, range));
  bondref::AddSpec(c, "Na", "Cl", 0.0f, 3.0f);
  bondref::AddSpec(c, "Cl", "Na", 0.0f, 3.0f); // the same pair again adds nothing
  // A cancel key pressed before the search does not stop it.
  host.cancelAnswers = {true};
  TurboGenerateBonds(&c);
  EXPECT_EQ(bondref::BondsLists(c), bondref::GenerateBonds(c));
  EXPECT_EQ(host.log.find("cancelled"), std::string::npos);

  // Pressed during the search: every list is left empty, the status window
  // closes and the Log says why.
  {
    Polyhedron p = *CreatePolyhedron(4);
    c.atoms[0].polyhedron.Hold(std::move(p));
  }
  host.cancelAnswers = {false, true};
  host.status.clear();
  TurboGenerateBonds(&c);
  EXPECT_GE(host.cancelChecks, 2);
  for (const AtomRecord &atom : c.atoms) {
    EXPECT_TRUE(atom.bonds.empty());
    EXPECT_EQ(atom.bondCount, 0u);
    EXPECT_FALSE(AtomPolyhedron(&c, atom));
  }
  EXPECT_NE(host.log.find("Bond search cancelled: the structure is left without bonds.\r"), std::string::npos);
  ASSERT_FALSE(host.status.empty());
  EXPECT_FALSE(host.status.back().shown);
}

// ---- Coordination numbers ----------------------------------------------------------------

TEST(BondSearchCoordination, DistancesThatAreWholeMultiplesOfTheDSpacing) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeCubic(c, range));
  struct Case {
    float minLength, maxLength;
    uint32_t expected; // lattice points within the shell, the atom itself excluded
  } cases[] = {{0, 4, 6}, {4, 4, 6}, {0, 8, 32}, {8, 8, 6}, {0, 3.99f, 0}, {5.6f, 5.7f, 12}};
  for (const Case &k : cases) {
    c.bondSpecCount = 0;
    bondref::AddSpec(c, "X", "X", k.minLength, k.maxLength);
    bool nothing = false;
    EXPECT_EQ(TurboGetCoordinationNumbers(&c, &nothing), k.expected > 0) << k.maxLength;
    EXPECT_EQ(nothing, k.expected == 0);
    EXPECT_EQ(c.sites[0].coordination, k.expected) << k.minLength << " " << k.maxLength;
  }
}

TEST(BondSearchCoordination, RhombohedralSixtyDegreeCellCountsEveryShell) {
  FakeHost host;
  CrystalRec c;
  // a = b = c = 3, all angles 60: the face-centred cubic lattice, shells of
  // 12 at 3, 6 at 4.243, 24 at 5.196 and 12 at 6 Angstrom.
  const float cell[6] = {3, 3, 3, 60, 60, 60};
  const float range[6] = {0, 2, 0, 2, 0, 2};
  ASSERT_TRUE(bondref::MakeCrystal(c, cell, "P 1", {{"X1", "X", 0, 0, 0}}, range));
  struct Case {
    float maxLength;
    uint32_t expected;
  } cases[] = {{3.1f, 12}, {4.5f, 18}, {5.5f, 42}, {6.1f, 54}};
  for (const Case &k : cases) {
    c.bondSpecCount = 0;
    bondref::AddSpec(c, "X", "X", 0.5f, k.maxLength);
    EXPECT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
    EXPECT_EQ(c.sites[0].coordination, k.expected) << k.maxLength;
    TurboGenerateBonds(&c);
    EXPECT_EQ(bondref::PairsOf(bondref::BondsLists(c)), bondref::BruteForcePairs(c)) << k.maxLength;
  }
  // Seen from another side, nothing changes.
  bondref::SetView(c, 1.0f, 2.0f, -1.0f);
  EXPECT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
  EXPECT_EQ(c.sites[0].coordination, 54u);
}

TEST(BondSearchCoordination, TwoSitesAtOnePlaceCountEachOtherButNotThemselves) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 0.9f, 0, 0.9f, 0, 0.9f};
  ASSERT_TRUE(bondref::MakeCrystal(c, kCubic4, "P 1", {{"X1", "X", 0, 0, 0}, {"X2", "X", 0, 0, 0}}, range));
  bondref::AddSpec(c, "X", "X", 0.0f, 1.0f);
  EXPECT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
  EXPECT_EQ(c.sites[0].coordination, 1u);
  EXPECT_EQ(c.sites[1].coordination, 1u);
}

// A site on the cell's upper face, or cells away from it, is counted from
// the same place in the cell as the atoms it generates.
TEST(BondSearchCoordination, SitesOnTheUpperFaceOrOutsideTheCellAreWrappedIn) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeCubic(c, range));
  bondref::AddSpec(c, "X", "X", 0.0f, 4.0f);
  const float places[][3] = {{1, 0, 0}, {1, 1, 1}, {-3, 2, 5}, {-1e-9f, 0, 0}};
  for (const auto &place : places) {
    for (int i = 0; i < 3; i++)
      c.sites[0].xyz[i] = place[i];
    c.derived.Note(kChangeSites); // as the site editor tells its edit
    EXPECT_TRUE(TurboGetCoordinationNumbers(&c, nullptr));
    EXPECT_EQ(c.sites[0].coordination, 6u) << place[0] << " " << place[1] << " " << place[2];
  }
}

TEST(BondSearchCoordination, HugeDistancesFailQuietly) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(MakeNaCl(c, range));
  bondref::AddSpec(c, "Na", "Cl", 0.0f, 2.0e4f);
  EXPECT_FALSE(TurboGetCoordinationNumbers(&c, nullptr));
  EXPECT_TRUE(host.alerts.empty());
}

// A maximum whose sphere holds thousands of images of each site is named in
// the Log by its symbols as written ("C-O", no padding).
TEST(BondSearchCoordination, AMaximumReachingTooFarIsNamedInTheLog) {
  FakeHost host;
  CrystalRec c;
  const float range[6] = {0, 1, 0, 1, 0, 1};
  ASSERT_TRUE(bondref::MakeCrystal(c, kCubic4, "P 1", {{"O1", "O", 0, 0, 0}, {"C1", "C", 0.5f, 0.5f, 0.5f}}, range));
  bondref::AddSpec(c, "C", "O", 0.0f, 60.0f);
  TurboGetCoordinationNumbers(&c, nullptr);
  EXPECT_NE(host.log.find("Coordination numbers were not counted for C-O: the bond maximum"), std::string::npos)
      << host.log;
}

// ---- Agreement with the plain search ----------------------------------------------------

struct RandomCase {
  float cell[6];
  float range[6];
  float view[3];
  int sites;
};

void AddRandomSpecs(CrystalRec &c, std::mt19937 &rng, const std::vector<std::string> &elements) {
  std::uniform_int_distribution<size_t> pick(0, elements.size() - 1);
  std::uniform_real_distribution<float> len(0.0f, 1.0f);
  const int n = 1 + static_cast<int>(rng() % 4);
  for (int k = 0; k < n; k++) {
    const float minLength = rng() % 3 == 0 ? 0.0f : len(rng);
    bondref::AddSpec(c, elements[pick(rng)], elements[pick(rng)], minLength, 1.0f + 2.5f * len(rng));
  }
}

void ExpectSameAsReference(CrystalRec &c, const std::string &what) {
  TurboGenerateBonds(&c);
  const auto lists = bondref::BondsLists(c);
  ASSERT_EQ(lists, bondref::GenerateBonds(c)) << what;
  ASSERT_EQ(bondref::PairsOf(lists), bondref::BruteForcePairs(c)) << what;
  if (!c.molecule) {
    bool nothing = false;
    const bool found = TurboGetCoordinationNumbers(&c, &nothing);
    const bondref::Coordination ref = bondref::CoordinationNumbers(c);
    EXPECT_EQ(found, ref.found) << what;
    EXPECT_EQ(nothing, ref.specFoundNothing) << what;
    for (size_t s = 0; s < c.sites.size(); s++)
      ASSERT_EQ(c.sites[s].coordination, ref.numbers[s]) << what << " site " << s;
  }
}

TEST(BondSearchAgreement, RandomCrystalsGiveTheSameListsInTheSameOrder) {
  FakeHost host;
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const std::vector<std::string> elements = {"C", "N", "O"};
  for (int trial = 0; trial < 40; trial++) {
    const bool thin = trial % 4 == 3;
    float cell[6] = {
        thin ? 2.2f : 3.0f + 4.0f * unit(rng), 3.0f + 4.0f * unit(rng), 3.0f + 4.0f * unit(rng), 90, 90, 90};
    if (trial % 2 == 1) {
      cell[3] = 70.0f + 40.0f * unit(rng);
      cell[4] = 70.0f + 40.0f * unit(rng);
      cell[5] = 70.0f + 40.0f * unit(rng);
    }
    const float range[6] = {0.3f * unit(rng), thin ? 1.0f : 0.6f + 1.6f * unit(rng),
                            0.3f * unit(rng), 1.0f + 2.0f * unit(rng),
                            0.3f * unit(rng), 1.0f + 2.0f * unit(rng)};
    std::vector<SiteSpec> sites;
    const int n = 2 + static_cast<int>(rng() % 10);
    for (int s = 0; s < n; s++) {
      // Half the trials on a grid of eighths: many equal coordinates.
      auto coord = [&] { return trial % 3 == 0 ? static_cast<float>(rng() % 8) / 8.0f : unit(rng); };
      sites.push_back({"S" + std::to_string(s), elements[rng() % 3], coord(), coord(), coord()});
    }
    std::sort(sites.begin(), sites.end(), [](const SiteSpec &a, const SiteSpec &b) {
      return static_cast<int16_t>(bondref::Element(a.element)) < static_cast<int16_t>(bondref::Element(b.element));
    });
    CrystalRec c;
    ASSERT_TRUE(bondref::MakeCrystal(c, cell, "P 1", sites, range)) << trial;
    AddRandomSpecs(c, rng, trial % 5 == 0 ? std::vector<std::string>{"C", "N", "O", "Fe"} : elements);
    if (trial % 3 == 1)
      bondref::SetView(c, unit(rng) - 0.5f, unit(rng) - 0.5f, unit(rng) - 0.5f);
    ExpectSameAsReference(c, "crystal " + std::to_string(trial));
  }
}

TEST(BondSearchAgreement, ThinAlongViewXAndMolecules) {
  FakeHost host;
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  // A slab one short cell thick along a, seen along c: thin along view x.
  {
    const float cell[6] = {2.5f, 6.0f, 6.0f, 90, 90, 90};
    const float range[6] = {0, 0.99f, 0, 5.99f, 0, 5.99f};
    std::vector<SiteSpec> sites;
    for (int s = 0; s < 12; s++)
      sites.push_back({"C" + std::to_string(s), "C", static_cast<float>(rng() % 4) / 4.0f, unit(rng), unit(rng)});
    CrystalRec c;
    ASSERT_TRUE(bondref::MakeCrystal(c, cell, "P 1", sites, range));
    bondref::AddSpec(c, "C", "C", 0.0f, 2.6f);
    ExpectSameAsReference(c, "slab");
  }
  for (int trial = 0; trial < 6; trial++) {
    std::vector<SiteSpec> atoms;
    const int n = 300;
    const char *symbols[] = {"C", "H", "N", "O"};
    for (int i = 0; i < n; i++) {
      const float step = trial % 2 == 0 ? 0.5f : 0.0f;
      auto coord = [&](float span) {
        return step > 0.0f ? static_cast<float>(rng() % static_cast<unsigned>(span / step)) * step : span * unit(rng);
      };
      atoms.push_back(
          {"A" + std::to_string(i), symbols[i * 4 / n], coord(trial == 5 ? 1.0f : 12.0f), coord(12.0f), coord(12.0f)});
    }
    CrystalRec c;
    bondref::MakeMolecule(c, atoms);
    AddRandomSpecs(c, rng, {"C", "H", "N", "O"});
    ExpectSameAsReference(c, "molecule " + std::to_string(trial));
  }
}

} // namespace
