// Places modulo the lattice through the hash grid: the grid finds every
// place a search of all pairs finds, whichever grid cells and cell faces the
// positions straddle.
#include "FractionalPlaces.h"

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
  EXPECT_EQ(SiteImageCount(ops, farFace), 1);
  EXPECT_EQ(SiteImageCount(ops, onMirror), 2);
  EXPECT_EQ(SiteImageCount(ops, general), 4);
}

} // namespace
