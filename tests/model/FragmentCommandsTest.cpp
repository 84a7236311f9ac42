// Completing and hiding molecules, one atom per site and clusters, on
// structures whose molecules are known by construction; molecule sizes are
// checked against a union-find over distances, independent of the bonds.

#include "StructureWindowFixture.h"

#include "BondSearch.h"
#include "FragmentCommands.h"
#include "LocalizedStrings.h"
#include "Geometry.h"
#include "VectorMath.h"

#include <gtest/gtest.h>

#include <map>
#include <numeric>

using namespace viewtest;

namespace {

// CO molecules, 1.0 A long along a, cut by the cell edge in the first cell.
bool BuildSplitDimers(CrystalRec &c) {
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  return BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.95f, 0.5f, 0.5f}, {"O1", "O", 0.15f, 0.5f, 0.5f}},
                        {{"C", "O", 0.9f, 1.1f}});
}

bool Apply(WindowRef w, float lo, float hi) {
  if (!SetPlotRange(w, lo, hi, lo, hi, lo, hi))
    return false;
  return TurboGetCoordinationNumbers(&*GetWindowCrystal(w), nullptr);
}

// Sizes of the groups of visible atoms joined by distances within [lo, hi],
// found without the bond lists.
std::multiset<int> ClusterSizes(const CrystalRec &c, float lo, float hi) {
  std::vector<int> parent(static_cast<size_t>(c.atomCount));
  std::iota(parent.begin(), parent.end(), 0);
  auto find = [&](int i) {
    while (parent[static_cast<size_t>(i)] != i)
      i = parent[static_cast<size_t>(i)] = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
    return i;
  };
  for (int i = 0; i < c.atomCount; i++)
    for (int j = i + 1; j < c.atomCount; j++) {
      const AtomRecord &a = c.atoms[static_cast<size_t>(i)], &b = c.atoms[static_cast<size_t>(j)];
      const float d = VecBondDist(a.cart, b.cart);
      if (a.visible && b.visible && d >= lo && d <= hi)
        parent[static_cast<size_t>(find(i))] = find(j);
    }
  std::map<int, int> sizes;
  for (int i = 0; i < c.atomCount; i++)
    if (c.atoms[static_cast<size_t>(i)].visible)
      sizes[find(i)]++;
  std::multiset<int> out;
  for (auto [root, n] : sizes)
    out.insert(n);
  return out;
}

TEST(FragmentCommands, RepairingFragmentsShowsOnlyWholeMolecules) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildSplitDimers(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 0.999f));
  ASSERT_EQ(CountVisible(w.crystal()), 2);
  ASSERT_TRUE(RepairMolecularFragments(w.ref()));
  // Both halves shown before now belong to whole molecules, and nothing else shows.
  EXPECT_EQ(ClusterSizes(w.crystal(), 0.9f, 1.1f), (std::multiset<int>{2, 2}));
  // Hiding fragments keeps them all.
  ASSERT_TRUE(HideMolecularFragments(w.ref()));
  EXPECT_EQ(CountVisible(w.crystal()), 4);
  EXPECT_TRUE(host.alerts.empty());
}

TEST(FragmentCommands, HidingFragmentsPeelsEveryIncompleteMolecule) {
  FakeHost host;
  TestWindow w(host);
  // A chain of three along a (O-C-O, 1 A apart) cut by the cell edge: only
  // the O-C pair shows whole, and the C lacks its second O.
  const float cell[6] = {5.0f, 5.0f, 5.0f, 90.0f, 90.0f, 90.0f};
  ASSERT_TRUE(BuildFirstCell(w.crystal(), "P 1", cell,
                             {{"C1", "C", 0.05f, 0.5f, 0.5f}, {"O1", "O", 0.25f, 0.5f, 0.5f},
                              {"O2", "O", 0.85f, 0.5f, 0.5f}},
                             {{"C", "O", 0.9f, 1.1f}}));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 0.999f));
  ASSERT_EQ(w.crystal().sites[0].coordination, 2u);
  ASSERT_TRUE(HideMolecularFragments(w.ref()));
  // C lacks a neighbour: hidden, then O1 loses its only one in a later round.
  EXPECT_EQ(CountVisible(w.crystal()), 0);
}

TEST(FragmentCommands, AFrameworkIsNotAMolecularCrystal) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 0.999f));
  const int32_t before = CountVisible(w.crystal());
  EXPECT_FALSE(HideMolecularFragments(w.ref()));
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Not a molecular crystal!");
  EXPECT_EQ(CountVisible(w.crystal()), before);
}

TEST(FragmentCommands, CompletingTheSelectedMoleculeStopsWhenItCloses) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildSplitDimers(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 0.999f));
  CrystalRec &c = w.crystal();
  const int32_t carbon = AtomAt(c, 0.95f, 0.5f, 0.5f);
  ASSERT_GE(carbon, 0);
  c.atoms[static_cast<size_t>(carbon)].selected = 1;
  bool framework = true;
  int32_t iterations = 0;
  ASSERT_TRUE(RepairMoleculeAtSelection(w.ref(), &framework, &iterations));
  EXPECT_FALSE(framework);
  EXPECT_EQ(iterations, 1);
  // The carbon's oxygen in the next cell now shows, bonded and selected.
  const int32_t oxygen = AtomAt(c, 1.15f, 0.5f, 0.5f);
  ASSERT_GE(oxygen, 0);
  EXPECT_TRUE(c.atoms[static_cast<size_t>(oxygen)].visible);
  EXPECT_TRUE(c.atoms[static_cast<size_t>(oxygen)].selected);
  EXPECT_EQ(ClusterSizes(c, 0.9f, 1.1f), (std::multiset<int>{1, 2}));
}

TEST(FragmentCommands, CompletingAFrameworkGivesUpAfterTwoCells) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 0.999f));
  w.crystal().atoms[static_cast<size_t>(AtomAt(w.crystal(), 0, 0, 0))].selected = 1;
  bool framework = false;
  EXPECT_FALSE(RepairMoleculeAtSelection(w.ref(), &framework, nullptr));
  EXPECT_TRUE(framework);
}

TEST(FragmentCommands, NothingToRepairAlertsOnce) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildSplitDimers(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 0.999f));
  bool framework = false;
  EXPECT_FALSE(RepairMoleculeAtSelection(w.ref(), &framework, nullptr)); // nothing selected
  EXPECT_FALSE(framework);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, OVLocalizedString("Cant_Repair_Bonds_1"));
}

TEST(FragmentCommands, WithoutBondSpecificationsOnlyTheAlertShows) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildSplitDimers(w.crystal()));
  w.crystal().bondSpecCount = 0;
  ASSERT_TRUE(SetPlotRange(w.ref(), 0.0f, 0.999f, 0.0f, 0.999f, 0.0f, 0.999f));
  const int32_t before = CountVisible(w.crystal());
  DoHideStrandedAtoms(w.ref());
  DoRepairBondingAtSelection(w.ref()); // nothing selected: silent
  w.crystal().atoms[0].selected = 1;
  DoRepairBondingAtSelection(w.ref());
  ASSERT_EQ(host.alerts.size(), 2u);
  for (const AlertRequest &a : host.alerts)
    EXPECT_EQ(a.message, OVLocalizedString("Error_No_Bonds_Defined1"));
  EXPECT_EQ(CountVisible(w.crystal()), before);
  EXPECT_FALSE(w.modified());
}

TEST(FragmentCommands, AsymmetricUnitShowsOneAtomPerSite) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildRutile(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), -0.5f, 1.5f));
  DoShowAsymmetricUnit(w.ref());
  const CrystalRec &c = w.crystal();
  std::vector<int> perSite(static_cast<size_t>(c.siteCount), 0);
  for (int32_t k = 0; k < c.atomCount; k++)
    if (c.atoms[static_cast<size_t>(k)].visible)
      perSite[c.atoms[static_cast<size_t>(k)].site]++;
  EXPECT_EQ(perSite, std::vector<int>(perSite.size(), 1));
  EXPECT_TRUE(w.modified());
}

TEST(FragmentCommands, ClusterKeepsTheCentreAtomWhateverTheInnerRadius) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  ASSERT_TRUE(Apply(w.ref(), 0.0f, 1.0f));
  CrystalRec &c = w.crystal();
  const int32_t centreAtom = AtomAt(c, 0.5f, 0.5f, 0.5f);
  ASSERT_GE(centreAtom, 0);
  float centre[3];
  std::copy(c.atoms[static_cast<size_t>(centreAtom)].cart, c.atoms[static_cast<size_t>(centreAtom)].cart + 3, centre);
  DoClusterFromAtom(w.ref(), centre, 2.0f, 3.0f);
  // The centre and its six neighbours at 2.82 A.
  EXPECT_TRUE(c.atoms[static_cast<size_t>(centreAtom)].visible);
  EXPECT_EQ(CountVisible(c), 7);
}

TEST(FragmentCommands, TheRememberedSiteNeedsItsLabel) {
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(BuildRockSalt(w.crystal()));
  gSaveDefineCluster = SaveDefineClusterRec{};
  DefineClusterRec r = MakeDefineClusterRec(w.ref());
  EXPECT_EQ(r.centreMode, 2);
  EXPECT_FLOAT_EQ(r.outer, 3.0f);
  EXPECT_FALSE(r.presetSite);
  gSaveDefineCluster.siteRemembered = 1;
  gSaveDefineCluster.site = 1;
  std::snprintf(gSaveDefineCluster.label, sizeof gSaveDefineCluster.label, "Na1");
  EXPECT_TRUE(MakeDefineClusterRec(w.ref()).presetSite);
  std::snprintf(gSaveDefineCluster.label, sizeof gSaveDefineCluster.label, "Cl1");
  EXPECT_FALSE(MakeDefineClusterRec(w.ref()).presetSite);
  EXPECT_FALSE(gSaveDefineCluster.siteRemembered);
  gSaveDefineCluster = SaveDefineClusterRec{};
}

} // namespace
