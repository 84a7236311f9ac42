// Saturating a molecule with hydrogen, then relaxing the new hydrogens.
#include "RelaxWindowSupport.h"

#include "relax/SaturateMolecule.h"

#include <array>
#include <cmath>
#include <set>
#include <tuple>

using namespace relaxtest;

namespace {

class SaturateTest : public RelaxWindowTest {
protected:
  const ElementCode kH = TwoCharsToShort("H ");

  ElementCode ElementOf(int32_t i) { return crystal().sites[crystal().atoms[i].site].elements[0]; }
  int32_t CountHydrogens() {
    int32_t n = 0;
    for (int32_t i = 0; i < crystal().atomCount; ++i)
      n += ElementOf(i) == kH;
    return n;
  }
  // The hydrogens bonded to the atom, by their positions.
  std::set<std::tuple<float, float, float>> HydrogensOn(int32_t parent) {
    std::set<std::tuple<float, float, float>> found;
    const AtomRecord &p = crystal().atoms[parent];
    for (uint32_t j : p.bonds)
      if (ElementOf(static_cast<int32_t>(j)) == kH) {
        const AtomRecord &h = crystal().atoms[j];
        EXPECT_EQ(h.bondCount, 1u);
        found.insert({h.cart[0], h.cart[1], h.cart[2]});
      }
    return found;
  }
  static double Distance(const float a[3], const float b[3]) {
    return std::hypot(double(a[0]) - b[0], double(a[1]) - b[1], double(a[2]) - b[2]);
  }
};

} // namespace

TEST_F(SaturateTest, ABareCarbonGetsFourHydrogensThatRelaxIntoATetrahedron) {
  SetMolecule({{"C ", 1, 2, 3}}, {});
  EXPECT_EQ(RelaxMenuCommand(kCmdSaturateMolecule, ref()), 0);
  ASSERT_EQ(crystal().atomCount, 5);
  ASSERT_EQ(ElementOf(0), TwoCharsToShort("C "));
  const float d = 0.707f;
  EXPECT_EQ(HydrogensOn(0), (std::set<std::tuple<float, float, float>>{
                                {1 - d, 2 + d, 3}, {1 - d, 2 - d, 3}, {1 + d, 2 - d, 3}, {1 + d, 2 + d, 3}}));
  EXPECT_EQ(crystal().sites[0].coordination, 4u);
  EXPECT_TRUE(IsWindowCalculationInProgress(ref()));
  EXPECT_EQ(renderer.plots, 1);

  ASSERT_TRUE(RunUntilAllJoined());
  EXPECT_FALSE(IsWindowCalculationInProgress(ref()));
  const AtomRecord &c = crystal().atoms[0];
  EXPECT_EQ(c.cart[0], 1.0f); // held fixed
  EXPECT_EQ(c.cart[1], 2.0f);
  EXPECT_EQ(c.cart[2], 3.0f);
  for (int32_t i = 1; i < 5; ++i) {
    EXPECT_NEAR(Distance(crystal().atoms[i].cart, c.cart), 1.1, 0.1);
    for (int32_t j = i + 1; j < 5; ++j) {
      const float *a = crystal().atoms[i].cart, *b = crystal().atoms[j].cart;
      const double cosine = ((a[0] - c.cart[0]) * (b[0] - c.cart[0]) + (a[1] - c.cart[1]) * (b[1] - c.cart[1]) +
                             (a[2] - c.cart[2]) * (b[2] - c.cart[2])) /
                            (Distance(a, c.cart) * Distance(b, c.cart));
      EXPECT_NEAR(std::acos(cosine) * 180 / M_PI, 109.47, 5.0) << i << " " << j;
    }
  }
}

TEST_F(SaturateTest, ValencesDecideAndASelectionLimitsWhoGetsHydrogens) {
  // A five-bonded C, a carbonyl O (one bond), an O with two bonds.
  SetMolecule({{"C ", 0, 0, 0},
               {"F ", 1.3f, 0, 0},
               {"F ", -1.3f, 0, 0},
               {"F ", 0, 1.3f, 0},
               {"O ", 0, 0, 1.2f},
               {"O ", 0, 0, -1.4f},
               {"F ", 0, 0, -2.8f}},
              {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {5, 6}});
  DoSaturateMolecule(ref());
  ASSERT_EQ(crystal().atomCount, 8);
  EXPECT_EQ(CountHydrogens(), 1);
  int32_t carbonyl = -1;
  ASSERT_TRUE(GetNearestAtomWithSymbolAtPoint(ref(), TwoCharsToShort("O "), std::array<float, 3>{0, 0, 1.2f}.data(),
                                              &carbonyl));
  EXPECT_EQ(HydrogensOn(carbonyl), (std::set<std::tuple<float, float, float>>{{-0.707f, 0.707f, 1.2f}}));
  StopAndJoinRelaxRuns();
  host.RunPostedCalls();

  // With a selection only selected atoms are saturated, and every atom
  // that was there before stays put.
  SetMolecule({{"N ", 0, 0, 0}, {"N ", 1.25f, 0, 0}}, {{0, 1}});
  crystal().atoms[1].selected = 1;
  DoSaturateMolecule(ref());
  ASSERT_EQ(crystal().atomCount, 4);
  int32_t n0 = -1, n1 = -1; // hydrogens sort first now
  const ElementCode kN = TwoCharsToShort("N ");
  ASSERT_TRUE(GetNearestAtomWithSymbolAtPoint(ref(), kN, std::array<float, 3>{0, 0, 0}.data(), &n0));
  ASSERT_TRUE(GetNearestAtomWithSymbolAtPoint(ref(), kN, std::array<float, 3>{1.25f, 0, 0}.data(), &n1));
  EXPECT_TRUE(HydrogensOn(n0).empty());
  EXPECT_EQ(HydrogensOn(n1),
            (std::set<std::tuple<float, float, float>>{{1.25f - 0.707f, 0.707f, 0}, {1.25f - 0.707f, -0.707f, 0}}));
  ASSERT_TRUE(RunUntilAllJoined());
  EXPECT_EQ(crystal().atoms[n0].cart[0], 0.0f);
  EXPECT_EQ(crystal().atoms[n1].cart[0], 1.25f);
  // The hydrogens moved from where they were put.
  const float starts[2][3] = {{1.25f - 0.707f, 0.707f, 0}, {1.25f - 0.707f, -0.707f, 0}};
  for (const float *start : starts)
    EXPECT_GT(Distance(crystal().atoms[0].cart, start), 0.01);
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(SaturateTest, NothingToAddAndCrystalsAreRefusedBeforeAnythingChanges) {
  SetMolecule({{"F ", 0, 0, 0}, {"F ", 1.4f, 0, 0}}, {{0, 1}});
  DoSaturateMolecule(ref());
  SetMolecule({{"C ", 0, 0, 0}}, {}, /*molecule=*/false);
  DoSaturateMolecule(ref());
  ASSERT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[0].message, "Cannot add hydrogens!");
  EXPECT_EQ(host.alerts[0].explanation, "This molecule is fully saturated.");
  EXPECT_EQ(host.alerts[1].message, "Sorry, this command only works for molecules");
  EXPECT_EQ(crystal().atomCount, 1);
  EXPECT_EQ(RelaxRunCount(), 0u);
  EXPECT_EQ(renderer.plots, 0);
}
