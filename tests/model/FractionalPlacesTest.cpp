// Places modulo the lattice through the hash grid: the grid finds every
// place a search of all pairs finds, whichever grid cells and cell faces the
// positions straddle.
#include "FractionalPlaces.h"
#include "PlotRange.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

// The earliest earlier place within the tolerance, by looking at every one.
std::vector<size_t> PlacesByEveryPair(const std::vector<std::array<double, 3>> &positions,
                                      const std::vector<uint32_t> &kinds) {
  std::vector<size_t> firsts, place(positions.size());
  for (size_t r = 0; r < positions.size(); r++) {
    size_t found = firsts.size();
    for (size_t p = 0; p < firsts.size() && found == firsts.size(); p++) {
      bool same = kinds[firsts[p]] == kinds[r];
      for (int k = 0; k < 3 && same; k++) {
        const double d = positions[firsts[p]][k] - positions[r][k];
        same = std::fabs(d - std::round(d)) < kSamePlaceTolerance;
      }
      if (same)
        found = p;
    }
    if (found == firsts.size())
      firsts.push_back(r);
    place[r] = found;
  }
  return place;
}

TEST(FractionalPlaces, TheGridFindsWhatEveryPairFinds) {
  // Positions bunched round the cell's faces, the special positions and the
  // grid's own faces, off by fractions and multiples of the tolerance, in
  // whole cells either way.
  std::mt19937 random(7);
  const double centres[] = {0.0, 0.25, 0.5, 0.75, 1.0, 1.0 / 3.0, 0.00055, 0.99945};
  std::uniform_int_distribution<size_t> centre(0, std::size(centres) - 1);
  std::uniform_real_distribution<double> offset(-3.0 * kSamePlaceTolerance, 3.0 * kSamePlaceTolerance);
  std::uniform_int_distribution<int> cells(-2, 2), kind(0, 1);
  std::vector<std::array<double, 3>> positions(4000);
  std::vector<uint32_t> kinds(positions.size());
  for (size_t r = 0; r < positions.size(); r++) {
    for (double &x : positions[r])
      x = centres[centre(random)] + offset(random) + cells(random);
    kinds[r] = static_cast<uint32_t>(kind(random));
  }
  const std::vector<size_t> want = PlacesByEveryPair(positions, kinds);
  FractionalPlaces places;
  size_t mismatches = 0;
  for (size_t r = 0; r < positions.size(); r++)
    mismatches += places.Insert(positions[r].data(), kinds[r]).first != want[r] ? 1 : 0;
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(places.size(), 100u); // the bunches were split, not all merged
  EXPECT_LT(places.size(), positions.size() - 100);
  // The grouping of a reader's rows, kinds aside: each row's group is the
  // first row at its place.
  const std::vector<size_t> wantPlaces = PlacesByEveryPair(positions, std::vector<uint32_t>(positions.size(), 0));
  std::vector<size_t> firstOfPlace;
  for (size_t r = 0; r < positions.size(); r++)
    if (wantPlaces[r] == firstOfPlace.size())
      firstOfPlace.push_back(r);
  const std::vector<size_t> group = GroupAtOnePlace(positions);
  mismatches = 0;
  for (size_t r = 0; r < positions.size(); r++)
    mismatches += group[r] != firstOfPlace[wantPlaces[r]] ? 1 : 0;
  EXPECT_EQ(mismatches, 0u);
}

// Places added whatever stands there, asked for by a caller's own rule of
// one position: each query finds the earliest place a look at every place
// finds, and visits each place the rule takes once. The rules: the double
// one, the build's single-precision one on coordinates taken into the cell
// (whose float difference across the cell's face rounds), and an atom's
// position (no whole cells off).
TEST(FractionalPlaces, QueriesByARuleFindWhatEveryPlaceFinds) {
  std::mt19937 random(11);
  const double centres[] = {0.0, 0.5, 1.0, 0.00055, 0.99945, 1.0 - 0.5 * kSamePlaceTolerance};
  std::uniform_int_distribution<size_t> centre(0, std::size(centres) - 1);
  std::uniform_real_distribution<double> offset(-2.0 * kSamePlaceTolerance, 2.0 * kSamePlaceTolerance);
  std::uniform_int_distribution<int> cells(-1, 1), kind(0, 1);
  auto position = [&] {
    std::array<float, 3> xyz;
    for (float &x : xyz)
      x = static_cast<float>(centres[centre(random)] + offset(random) + cells(random));
    return xyz;
  };
  using Positions = std::vector<std::array<float, 3>>;
  Positions placed(3000), asked(3000);
  std::vector<uint32_t> kinds(placed.size());
  for (size_t p = 0; p < placed.size(); p++) {
    placed[p] = p % 10 == 9 ? placed[p / 2] : position(); // again where one stands
    kinds[p] = static_cast<uint32_t>(kind(random));
  }
  for (auto &q : asked)
    q = position();
  auto inCell = [](Positions v) {
    for (auto &xyz : v)
      MoveVectorIntoCell(xyz.data(), xyz.data());
    return v;
  };
  using Rule = bool (*)(const float *, const float *);
  const struct {
    const char *name;
    Positions placed, asked;
    Rule same;
  } rules[] = {
      {"double", placed, asked,
       [](const float *a, const float *b) {
         const double x[3] = {a[0], a[1], a[2]}, y[3] = {b[0], b[1], b[2]};
         return SamePlace(x, y);
       }},
      {"float", inCell(placed), inCell(asked), [](const float *a, const float *b) { return SamePlace(a, b); }},
      {"atom", placed, asked, [](const float *a, const float *b) { return SameAtomPosition(a, b); }},
  };
  for (const auto &rule : rules) {
    FractionalPlaces places;
    for (size_t p = 0; p < placed.size(); p++) {
      const double at[3] = {rule.placed[p][0], rule.placed[p][1], rule.placed[p][2]};
      ASSERT_EQ(places.Add(at, kinds[p]), p);
    }
    size_t found = 0, mismatches = 0;
    for (size_t r = 0; r < asked.size(); r++) {
      const float *q = rule.asked[r].data();
      const uint32_t k = static_cast<uint32_t>(r % 2);
      auto taken = [&](size_t p) { return kinds[p] == k && rule.same(rule.placed[p].data(), q); };
      size_t want = FractionalPlaces::kNone, count = 0;
      for (size_t p = placed.size(); p-- > 0;)
        if (taken(p)) {
          want = p;
          count++;
        }
      const double at[3] = {q[0], q[1], q[2]};
      size_t visited = 0;
      places.ForEachNear(at, k, [&](size_t p) { visited += taken(p) ? 1 : 0; });
      mismatches += places.FindIf(at, k, taken) != want || visited != count ? 1 : 0;
      found += want != FractionalPlaces::kNone ? 1 : 0;
    }
    EXPECT_EQ(mismatches, 0u) << rule.name;
    EXPECT_GT(found, 200u) << rule.name; // the queries met places
  }
}

TEST(FractionalPlaces, FacesKindsAndSiteImages) {
  FractionalPlaces places;
  const double origin[3] = {0.0, 0.0, 0.0}, farFace[3] = {0.99999, 1.0, -1.0}, apart[3] = {0.0002, 0.0, 0.0};
  EXPECT_TRUE(places.Insert(origin).second);
  EXPECT_EQ(places.Find(farFace), 0u);
  EXPECT_EQ(places.Find(apart), FractionalPlaces::kNone);
  EXPECT_EQ(places.Find(farFace, 1), FractionalPlaces::kNone); // another kind
  const double nan[3] = {std::nan(""), 0.0, 0.0};
  EXPECT_TRUE(places.Insert(nan).second);
  EXPECT_TRUE(places.Insert(nan).second); // no number is at no place

  // P 2/m (unique b): 1a at the origin, 2m on the mirror, 4o general (by
  // hand from the group's four operators).
  std::vector<GEP> ops(4);
  const int diagonals[4][3] = {{1, 1, 1}, {-1, 1, -1}, {-1, -1, -1}, {1, -1, 1}};
  for (size_t k = 0; k < 4; k++)
    for (int i = 0; i < 3; i++)
      ops[k].rotation[i][i] = static_cast<int16_t>(diagonals[k][i]);
  const double onMirror[3] = {0.2, 0.99998, 0.7}, general[3] = {0.2, 0.3, 0.7};
  EXPECT_EQ(SiteImageCount(ops, farFace, OneAtomRule()), 1);
  EXPECT_EQ(SiteImageCount(ops, onMirror, OneAtomRule()), 2);
  EXPECT_EQ(SiteImageCount(ops, general, OneAtomRule()), 4);
}

// The single-precision rule the build compares its images by, the position
// of an atom (no whole cells taken off), and the face of a plot range.
TEST(FractionalPlaces, FloatPlacesPositionsAndRangeFaces) {
  const float t = kSymmetryTolerance;
  const struct {
    float a, b;
    bool samePlace, sameAtom;
  } pairs[] = {
      {0.3f, 0.300105f, true, true},     // beyond 0.0001, within 0.00011
      {0.3f, 0.30012f, false, false},    //
      {0.0f, t, false, false},           // the tolerance itself is apart
      {0.99995f, 0.00004f, true, false}, // across the face: one place, two atoms
      {0.9999f, 0.00004f, false, false}, //
      {1.99995f, 0.00004f, true, false}, // whole cells away
      {-0.00005f, 0.99996f, true, false},
      {-0.6f, 0.4f, true, false},
      {0.25f, 0.75f, false, false}, // half a cell: neither 0 nor 1 away
      {0.0f, 0.5f, false, false},
      {std::nanf(""), std::nanf(""), false, false},
  };
  for (const auto &p : pairs) {
    EXPECT_EQ(SameFraction(p.a, p.b), p.samePlace) << p.a << " " << p.b;
    EXPECT_EQ(SameFraction(p.b, p.a), p.samePlace) << p.a << " " << p.b;
    const float a[3] = {0.1f, p.a, 0.2f}, b[3] = {0.1f, p.b, 0.2f};
    EXPECT_EQ(SamePlace(a, b), p.samePlace) << p.a << " " << p.b;
    EXPECT_EQ(SameAtomPosition(a, b), p.sameAtom) << p.a << " " << p.b;
  }

  const struct {
    float x, lo, hi;
    bool inside;
  } bounds[] = {
      {1.0000333f, 0.0f, 1.0f, true},  // 0.6667 + 1/3: on the face
      {1.00012f, 0.0f, 1.0f, false},   //
      {-0.0001f, 0.0f, 1.0f, true},    //
      {-0.00012f, 0.0f, 1.0f, false},  //
      {2.00005f, 0.0f, 2.0f, true},    //
      {0.50005f, 0.0f, 0.5f, false},   // 0.5 is no cell face
      {1.00005f, 0.0f, 0.999f, false}, //
      {0.5f, 0.0f, 1.0f, true},        //
      {std::nanf(""), 0.0f, 1.0f, false},
  };
  for (const auto &b : bounds) {
    EXPECT_EQ(CoordinateInRange(b.x, b.lo, b.hi), b.inside) << b.x << " in " << b.lo << ".." << b.hi;
    EXPECT_EQ(RangeBounds(b.lo, b.hi).Holds(b.x), b.inside) << b.x << " in " << b.lo << ".." << b.hi;
  }
  // The loop's bounds hold exactly the coordinates the test holds, float by
  // float across each face's edge.
  for (const auto &[lo, hi] : {std::pair{0.0f, 1.0f}, std::pair{-3.0f, 2.0f}, std::pair{0.25f, 1.0f}}) {
    const RangeBounds range(lo, hi);
    for (float edge : {lo - kSymmetryTolerance, hi + kSymmetryTolerance, lo, hi}) {
      float x = edge;
      for (int k = 0; k < 40; k++)
        x = std::nextafter(x, -INFINITY);
      for (int k = 0; k < 80; k++, x = std::nextafter(x, INFINITY))
        EXPECT_EQ(range.Holds(x), CoordinateInRange(x, lo, hi)) << x << " in " << lo << ".." << hi;
    }
  }
}

// Operators: equal modulo whole translations within a tolerance, and
// composed in the order of application.
TEST(FractionalPlaces, OperatorsCompareAndCompose) {
  auto op = [](std::array<int, 9> r, double tx, double ty, double tz) {
    GEP g;
    for (int i = 0; i < 9; i++)
      g.rotation[i / 3][i % 3] = static_cast<int16_t>(r[static_cast<size_t>(i)]);
    g.translation[0] = tx;
    g.translation[1] = ty;
    g.translation[2] = tz;
    return g;
  };
  const std::array<int, 9> one = {1, 0, 0, 0, 1, 0, 0, 0, 1}, mirror = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
  const std::array<int, 9> threeFold = {0, -1, 0, 1, -1, 0, 0, 0, 1}; // -y, x-y, z
  const struct {
    GEP a, b;
    double tolerance;
    bool same;
  } ops[] = {
      {op(one, 0, 0, 1.0 / 3.0), op(one, 0, 0, 0.3333), kSamePlaceTolerance, true},
      {op(one, 0, 0, 1.0), op(one, 0, 0, 0.0), kSamePlaceTolerance, true},
      {op(one, 0, 0, -0.99996), op(one, 0, 0, 0.00002), kSamePlaceTolerance, true},
      {op(one, 0.5, 0, 0), op(one, 0.500105, 0, 0), kSamePlaceTolerance, true},
      {op(one, 0.5, 0, 0), op(one, 0.500105, 0, 0), 1e-4, false}, // a tighter card tolerance
      {op(one, 0.5, 0, 0), op(one, 0.50012, 0, 0), kSamePlaceTolerance, false},
      {op(one, 0, 0, 0), op(mirror, 0, 0, 0), kSamePlaceTolerance, false},
  };
  for (const auto &o : ops) {
    EXPECT_EQ(SameOperator(o.a, o.b, o.tolerance), o.same) << o.a.translation[0] << " " << o.b.translation[0];
    EXPECT_EQ(SameOperator(o.b, o.a, o.tolerance), o.same);
  }

  // x + 1/4 after the mirror is -x + 1/4; the mirror after it, -x - 1/4.
  const GEP shift = op(one, 0.25, 0, 0), flip = op(mirror, 0, 0, 0);
  EXPECT_TRUE(SameOperator(ComposeOperators(shift, flip), op(mirror, 0.25, 0, 0)));
  EXPECT_TRUE(SameOperator(ComposeOperators(flip, shift), op(mirror, 0.75, 0, 0)));
  EXPECT_FALSE(SameOperator(ComposeOperators(flip, shift), ComposeOperators(shift, flip)));
  // The 3-fold screw of P 32 2 1 three times: a lattice translation, not
  // wrapped by the composition.
  const GEP screw = op(threeFold, 0, 0, 2.0 / 3.0);
  const GEP thrice = ComposeOperators(screw, ComposeOperators(screw, screw));
  EXPECT_TRUE(SameOperator(thrice, op(one, 0, 0, 0)));
  EXPECT_NEAR(thrice.translation[2], 2.0, 1e-12);
  // Twice: y - x, -x, z + 4/3, which takes (0.4697, 0, 0.6667) to
  // (-0.4697, -0.4697, 2.0000333), one place with (0.5303, 0.5303, 0).
  const double si[3] = {0.4697, 0.0, 0.6667};
  double image[3];
  ApplyOperator(ComposeOperators(screw, screw), si, image);
  const double expected[3] = {0.5303, 0.5303, 0.0};
  EXPECT_TRUE(SamePlace(image, expected));
}

} // namespace
