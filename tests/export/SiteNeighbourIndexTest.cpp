// The site search over all images of a crystal, through the distances
// report's neighbour index: what it answers for lists that fill their room
// and for input beyond reason.
#include "../documents/DocumentTestSupport.h"

#include "AutoBonds.h"
#include "SiteNeighbourIndex.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

TEST(SiteNeighbourIndex, FullListsAndAbsurdInput) {
  FakeHost host;
  std::string error;
  std::vector<doctest::Named> all = doctest::DataStructures(host, error);
  ASSERT_EQ(error, "");
  CrystalRec *crystal = nullptr;
  for (doctest::Named &n : all)
    if (!n.crystal.molecule && UsableSiteSize(n.crystal) > 1)
      crystal = &n.crystal;
  ASSERT_NE(crystal, nullptr);
  CrystalRec &c = *crystal;
  SiteNeighbourIndex index(c, 6.0f);
  ASSERT_TRUE(index.Valid());
  std::vector<BondSearchResult> list(100000);
  const uint32_t n = index.Search(c, 0, 0.0f, 6.0f, list.data(), 100000);
  ASSERT_GT(n, 2u);
  // A full list holds the first images the walk over sites, then cell
  // translations, then atoms finds, not the nearest: here the images of
  // site 0 itself, the site first walked.
  std::vector<BondSearchResult> first(2);
  ASSERT_EQ(index.Search(c, 0, 0.0f, 6.0f, first.data(), 2), 2u);
  EXPECT_EQ(first[0].site, 0);
  EXPECT_EQ(first[1].site, 0);
  EXPECT_LE(first[0].distance, first[1].distance);
  // A radius beyond the index's finds nothing.
  EXPECT_EQ(index.Search(c, 0, 0.0f, 8.0f, list.data(), 100000), 0u);
  // A reach of millions of cells is refused, whatever the room.
  EXPECT_EQ(SearchBondsFromSite(&c, 0, nullptr, 0, 0.0f, 1e7f, list.data(), 100000), 0u);
  // A first-cell coordinate that is not finite.
  const float saved = c.atoms[0].xyz[0];
  c.atoms[0].xyz[0] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(SiteNeighbourIndex(c, 4.0f).Valid());
  c.atoms[0].xyz[0] = saved;
  CrystalRec molecule;
  molecule.molecule = 1;
  EXPECT_FALSE(SiteNeighbourIndex(molecule, 4.0f).Valid());
}

} // namespace
