#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "OrientationGroups.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// Half-occupied carbons 0.5-1.2 A from the origin of an F m -3 m cell of
// 100 A, their 192 images each crowded around the origin: some thousand
// steps of inference, each of them short.
CrystalRec SitesAroundTheOrigin(int sites) {
  std::vector<SiteIn> in;
  std::vector<std::string> labels;
  labels.reserve(static_cast<size_t>(sites));
  for (int k = 0; k < sites; k++) {
    // A fixed spiral of directions and distances.
    const double t = 2.399963 * k, z = 1.0 - 2.0 * (k + 0.5) / sites, r = std::sqrt(1.0 - z * z);
    const double d = (0.5 + 0.7 * ((k * 37) % 100) / 100.0) / 100.0;
    labels.push_back("C" + std::to_string(k + 1));
    in.push_back({labels.back().c_str(), "C", float(d * r * std::cos(t)), float(d * r * std::sin(t)), float(d * z)});
  }
  const float cell[6] = {100, 100, 100, 90, 90, 90};
  CrystalRec c;
  FillCrystalFromSites(c, cell, "F m -3 m", in);
  for (AsymmetricUnitRecord &site : c.sites)
    site.occupancies[0] = 0.5f;
  return c;
}

// The cancel key is asked about while the inference runs and heard at the
// first check after it was pressed (every clock reading here is a second
// later, so each reading asks); the stopped inference is not kept, and the
// next question infers again.
TEST(OrientationGroups, EscapeIsHeardWhileTheGroupsAreInferred) {
  FakeHost host;
  host.tick = 1'000'000;
  host.cancelAnswers = {false, true}; // the first check only clears an earlier key
  CrystalRec c = SitesAroundTheOrigin(1600);
  EXPECT_TRUE(c.derived.Orientations(c).stopped);
  EXPECT_EQ(host.cancelChecks, 2);
  host.tick = 0;
  EXPECT_FALSE(c.derived.Orientations(c).stopped);
  EXPECT_EQ(host.cancelChecks, 2);
}

} // namespace
