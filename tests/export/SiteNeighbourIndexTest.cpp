// The distances report's neighbour index answers every site exactly as the
// plain site search does (same images, distances, esds and order), on every
// crystal of the test data and the examples, at two radii, with and without
// esds.
#include "../documents/DocumentTestSupport.h"

#include "AutoBonds.h"
#include "export/SiteNeighbourIndex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

// The index's answer for every site, compared field by field (bitwise for
// the floats) with SearchBondsFromSite's.
void ExpectSameAsSiteSearch(CrystalRec &c, float radius, const std::string &name, size_t *compared) {
  SiteNeighbourIndex index(c, radius);
  ASSERT_TRUE(index.Valid()) << name;
  const uint32_t capacity = 100000;
  std::vector<BondSearchResult> fast(capacity), plain(capacity);
  for (uint32_t s = 0; s < static_cast<uint32_t>(UsableSiteSize(c)); s++) {
    const std::optional<uint32_t> n = index.Search(c, s, radius, fast.data(), capacity);
    ASSERT_TRUE(n.has_value()) << name << " site " << s;
    const uint32_t m = SearchBondsFromSite(&c, s, nullptr, 0, 0.0f, radius, plain.data(), capacity);
    ASSERT_EQ(*n, m) << name << " site " << s;
    for (uint32_t k = 0; k < m; k++) {
      EXPECT_EQ(fast[k].site, plain[k].site) << name << " site " << s << " entry " << k;
      EXPECT_EQ(std::memcmp(fast[k].xyz, plain[k].xyz, sizeof fast[k].xyz), 0) << name << " site " << s;
      EXPECT_EQ(fast[k].distance, plain[k].distance) << name << " site " << s;
      EXPECT_EQ(fast[k].esd, plain[k].esd) << name << " site " << s;
    }
    *compared += m;
  }
}

TEST(SiteNeighbourIndex, AnswersAsTheSiteSearchOnEveryCrystal) {
  FakeHost host;
  std::string error;
  std::vector<doctest::Named> all = doctest::AllStructures(host, error);
  ASSERT_EQ(error, "");
  size_t crystals = 0, compared = 0;
  for (doctest::Named &n : all) {
    if (n.crystal.molecule)
      continue;
    crystals++;
    ExpectSameAsSiteSearch(n.crystal, 3.0f, n.name, &compared);
    n.crystal.esdFlag = 1; // the esds follow the same images
    ExpectSameAsSiteSearch(n.crystal, 4.5f, n.name + " (esds)", &compared);
    n.crystal.esdFlag = 0;
  }
  EXPECT_GT(crystals, 8u);
  EXPECT_GT(compared, 1000u);
}

TEST(SiteNeighbourIndex, LeavesFullListsAndAbsurdInputToTheSiteSearch) {
  FakeHost host;
  std::string error;
  std::vector<doctest::Named> all = doctest::DataStructures(host, error);
  ASSERT_EQ(error, "");
  CrystalRec *crystal = nullptr;
  for (doctest::Named &n : all)
    if (!n.crystal.molecule && UsableSiteSize(n.crystal) > 0)
      crystal = &n.crystal;
  ASSERT_NE(crystal, nullptr);
  CrystalRec &c = *crystal;
  SiteNeighbourIndex index(c, 6.0f);
  std::vector<BondSearchResult> list(100000);
  const uint32_t n = SearchBondsFromSite(&c, 0, nullptr, 0, 0.0f, 6.0f, list.data(), 100000);
  ASSERT_GT(n, 0u);
  // A list that would fill its room, or a radius beyond the index's.
  EXPECT_EQ(index.Search(c, 0, 6.0f, list.data(), n + 1), std::optional<uint32_t>(n));
  EXPECT_FALSE(index.Search(c, 0, 6.0f, list.data(), n).has_value());
  EXPECT_FALSE(index.Search(c, 0, 8.0f, list.data(), 100000).has_value());
  // A first-cell coordinate that is not finite, and a reach of millions of cells.
  const float saved = c.atoms[0].xyz[0];
  c.atoms[0].xyz[0] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(SiteNeighbourIndex(c, 4.0f).Valid());
  c.atoms[0].xyz[0] = saved;
  EXPECT_FALSE(SiteNeighbourIndex(c, 1e7f).Valid());
  CrystalRec molecule;
  molecule.molecule = 1;
  EXPECT_FALSE(SiteNeighbourIndex(molecule, 4.0f).Valid());
}

} // namespace
