// The coordination word of each site after a relaxation: equivalent atoms,
// moved by the run by slightly different amounts, read the same word.
#include "RelaxWindowSupport.h"

#include "SiteBrowserData.h"

#include <cmath>

using namespace relaxtest;

TEST_F(RelaxWindowTest, EveryCarbonOfARelaxedBenzeneIsTriPlanar) {
  // Benzene a little off its equilibrium: C-C 1.45 A, C-H 1.00 A.
  std::vector<MolAtom> atoms;
  std::vector<std::pair<int, int>> bonds;
  for (int k = 0; k < 6; ++k) {
    const float a = 1.0471976f * float(k);
    atoms.push_back({"C ", 1.45f * std::cos(a), 1.45f * std::sin(a), 0.0f});
  }
  for (int k = 0; k < 6; ++k) {
    const float a = 1.0471976f * float(k);
    atoms.push_back({"H ", 2.45f * std::cos(a), 2.45f * std::sin(a), 0.0f});
    bonds.push_back({k, (k + 1) % 6});
    bonds.push_back({k, k + 6});
  }
  SetMolecule(atoms, bonds);
  ASSERT_EQ(RelaxMenuCommand(kCmdRelaxMolecule, ref()), 0);
  ASSERT_TRUE(RunUntil([this] { return !IsWindowCalculationInProgress(ref()); }));
  StopAndJoinRelaxRuns();
  host.RunPostedCalls();
  CrystalRec &c = crystal();
  bool moved = false;
  for (int32_t i = 0; i < c.siteCount; ++i) {
    c.sites[size_t(i)].coordination = c.atoms[size_t(i)].bondCount;
    moved = moved || std::fabs(std::hypot(c.atoms[size_t(i)].cart[0], c.atoms[size_t(i)].cart[1]) -
                               (i < 6 ? 1.45f : 2.45f)) > 0.01f;
  }
  EXPECT_TRUE(moved) << "the run relaxed the ring";
  for (int32_t i = 0; i < 6; ++i)
    EXPECT_EQ(SiteBrowserCoordinationText(&c, SiteItem(i)), "[3] - tri-planar") << "C" << i + 1;
}
