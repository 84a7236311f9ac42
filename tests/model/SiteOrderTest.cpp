// Sites a file lists in its own order, elements interleaved, keep labels of
// their own: each element's sites are numbered through the whole list.
#include "CrystalFromSites.h"
#include "SitePreparation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SiteOrder, AutomaticLabelsNumberAnElementThroughInterleavedSites) {
  CrystalRec c;
  const float cell[6] = {5, 5, 5, 90, 90, 90};
  FillCrystalFromSites(c, cell, "P 1",
                       {{"x", "C", 0, 0, 0}, {"x", "O", .1f, 0, 0}, {"x", "C", .2f, 0, 0}, {"x", "C", .3f, 0, 0}});
  ASSERT_TRUE(AutoGenerateSiteLabels(&c));
  std::string labels;
  for (const AsymmetricUnitRecord &site : c.sites)
    labels += std::string(site.label) + " ";
  EXPECT_EQ(labels, "C1 O1 C2 C3 ");
}

} // namespace
