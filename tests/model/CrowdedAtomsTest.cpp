// The automatic search over atoms written many times over and atoms packed
// closer than any matter.
#include "AutoBonds.h"

#include "AutoBondsTestSupport.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace autobondtest;

bool LogHas(const FakeHost &host, const std::string &text) {
  for (const std::string &line : host.LogLines())
    if (line == text)
      return true;
  return false;
}

// Thirty copies of a C-O pair 1.2 A long, two of the carbons in disorder
// groups 1 and 2 (alternatives of each other): every carbon bonds to every
// oxygen, no copy to another, and the pairs at one place are counted,
// 30 x 29 / 2 for each element less the one pair of alternatives.
TEST(AutoBondSearch, CopiesAtOnePlaceBondAsEachAtomWouldAlone) {
  FakeHost host;
  CrystalRec c;
  constexpr int kCopies = 30;
  std::vector<MoleculeAtom> atoms(kCopies, {"C", 0, 0, 0});
  atoms.insert(atoms.end(), kCopies, {"O", 1.2f, 0, 0});
  MakeMolecule(c, atoms);
  c.sites[0].occupancies[0] = c.sites[1].occupancies[0] = 0.5f;
  c.sites[0].disorderGroup = 1;
  c.sites[1].disorderGroup = 2;
  AutoBondSearch(&c);
  for (int a = 0; a < 2 * kCopies; a++)
    EXPECT_EQ(c.atoms[size_t(a)].bondCount, uint32_t(kCopies)) << a;
  EXPECT_TRUE(LogHas(host, "869 pairs of atoms closer than 0.1 A left unbonded: atoms at one place are never bonded "
                           "to each other."));
  EXPECT_EQ(c.bondSpecCount, 1); // C-O only
}

// A thousand carbons 0.01 A apart on a line: each has 174 others within the
// C-C limit (1.75 A), more than the 64 that matter allows there; they bond
// to nothing, and a C-O pair far off keeps its bond.
TEST(AutoBondSearch, AtomsPackedCloserThanMatterAreLeftUnbondedInOneLine) {
  FakeHost host;
  CrystalRec c;
  std::vector<MoleculeAtom> atoms;
  for (int k = 0; k < 1000; k++)
    atoms.push_back({"C", 0.01f * float(k), 0, 0});
  atoms.push_back({"C", 30, 30, 30});
  atoms.push_back({"O", 31.2f, 30, 30});
  MakeMolecule(c, atoms);
  AutoBondSearch(&c);
  for (int a = 0; a < 1000; a++)
    ASSERT_EQ(c.atoms[size_t(a)].bondCount, 0u) << a;
  EXPECT_EQ(c.atoms[1000].bonds.size(), 1u);
  EXPECT_EQ(c.atoms[1001].bonds.size(), 1u);
  EXPECT_TRUE(LogHas(host, "1,000 atom(s) lie among more than 64 places within 1.75 A, closer than any matter packs "
                           "its atoms: they were left unbonded."));
}

// A cluster of carbons around the corner of a cubic P 1 cell of 20 A: each
// carbon has its images at the eight corners the bond search reaches, every
// one among the whole cluster. A carbon is crowded when more than 64 carbons
// lie within the C-C limit of it (itself counted), counted here pair by pair
// with the cluster folded around the origin; the Log counts them.
TEST(AutoBondSearch, CrowdedAtomsOfACellCornerAreThoseWithMoreThanTheLimitWithinReach) {
  constexpr double kEdge = 20.0;
  constexpr double kReach = 2 * 0.76 * 1.15; // the C-C limit: twice carbon's covalent radius, 15 % over
  constexpr int kLimit = 64;
  struct Cluster {
    int atoms;
    double radius; // A, below kReach: every image at a corner is reached
  };
  const Cluster clusters[] = {{60, 1.0}, {90, 1.0}, {110, 1.45}, {150, 1.45}, {200, 1.45}, {120, 1.6}};
  for (const Cluster &cluster : clusters) {
    SCOPED_TRACE(std::to_string(cluster.atoms) + " atoms within " + std::to_string(cluster.radius) + " A");
    FakeHost host;
    uint64_t state = 0x2545F4914F6CDD1Dull;
    const auto next = [&state] {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      return double(state >> 11) / 9007199254740992.0;
    };
    std::vector<Site> sites;
    std::vector<std::array<double, 3>> folded;
    while (int(sites.size()) < cluster.atoms) {
      double v[3];
      for (double &x : v)
        x = (2.0 * next() - 1.0) * cluster.radius;
      if (std::hypot(v[0], v[1], v[2]) > cluster.radius || std::hypot(v[0], v[1], v[2]) < 0.05)
        continue;
      sites.push_back({"C", float(v[0] / kEdge), float(v[1] / kEdge), float(v[2] / kEdge)});
      folded.push_back(
          {double(sites.back().x) * kEdge, double(sites.back().y) * kEdge, double(sites.back().z) * kEdge});
    }
    int crowded = 0;
    for (const auto &p : folded) {
      int within = 0;
      for (const auto &q : folded)
        within += std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) <= kReach;
      crowded += within > kLimit;
    }
    CrystalRec c;
    ASSERT_TRUE(MakeCrystal(c, {float(kEdge), float(kEdge), float(kEdge), 90, 90, 90}, "P 1", sites));
    ASSERT_EQ(c.atoms.size(), sites.size());
    AutoBondSearch(&c);
    const std::string told = std::to_string(crowded) + " atom(s) lie among more than 64 places within 1.75 A, closer "
                                                       "than any matter packs its atoms: they were left unbonded.";
    if (crowded == 0) {
      for (const std::string &line : host.LogLines())
        EXPECT_EQ(line.find("closer than any matter"), std::string::npos) << line;
    } else {
      EXPECT_TRUE(LogHas(host, told)) << told << "\n" << host.log;
    }
  }
}

} // namespace
