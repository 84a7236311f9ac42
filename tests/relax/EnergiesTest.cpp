// Energies on geometries whose values follow from geometry alone, the
// per-atom updates against full sums, and the Newton derivatives against
// central differences.
#include "RelaxTestSupport.h"

#include "relax/NewtonMinimiser.h"
#include "relax/RelaxEnergies.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <tuple>

using namespace relaxtest;

TEST(RelaxEnergies, HandBuiltGeometries) {
  // A linear centre (C with two neighbours) bent to 90°: 1000 (cos θ + 1) whatever its k.
  auto bent = MakeRecord({{"O ", 1.2f, 0, 0}, {"C ", 0, 0, 0}, {"O ", 0, 1.2f, 0}}, {{0, 1}, {1, 2}});
  ASSERT_TRUE(TypeAndFind(*bent));
  ASSERT_EQ(bent->threes[0].cosTheta0, -1.0);
  for (float k : {0.0f, 1.0f, 1234.5f}) {
    bent->threes[0].k = k;
    double e;
    CalculateThreesEnergy(*bent, &e);
    EXPECT_NEAR(e, 1000.0, 1e-9);
  }
  // Ethane: staggered torsions sit in the wells, eclipsed ones on the barriers (18 x 2V).
  for (auto [twist, expected] : {std::pair{60.0f, 0.0}, std::pair{0.0f, 180.0}}) {
    auto r = MakeRecord(Ethane(twist), kEthaneBonds);
    ASSERT_TRUE(TypeAndFind(*r));
    double e;
    CalculateDihedralEnergy(*r, &e);
    EXPECT_NEAR(e, expected, 1e-4) << twist;
  }
  // Each bond of a trigonal centre perpendicular to the plane of the other
  // two: cos ω = 0 three times, 3 x 500 k.
  InversionTerm inv;
  inv.k = 5000.0f;
  inv.cosOmega0 = 1.0;
  const double axes[3][3] = {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
  EXPECT_NEAR(InversionTermEnergy(inv, axes), 3 * 500.0 * 5000.0, 1e-6);
  const double planar[3][3] = {{1, 0, 0}, {-0.5, 0.8660254037844386, 0}, {-0.5, -0.8660254037844386, 0}};
  EXPECT_NEAR(InversionTermEnergy(inv, planar), 0.0, 1e-12);
  // Degenerate vectors give 0 instead of NaN.
  const double zero[3] = {0, 0, 0}, x[3] = {1, 0, 0};
  EXPECT_EQ(CosineBetweenTwoVectors(zero, x), 0.0);
}

namespace {

// A distorted molecule with every kind of term: methanol, a formamide-like
// group (trigonal C and N), and a bent BeH2 (a linear centre).
RecordPtr MixedMolecule() {
  auto r = MakeRecord({{"C ", 0, 0, 0},        {"O ", 1.45f, 0.1f, 0},   {"H ", 1.8f, 0.9f, 0.3f},
                       {"H ", -0.4f, 1, 0.1f}, {"H ", -0.3f, -0.6f, 0.9f}, {"H ", -0.35f, -0.5f, -0.8f},
                       {"N ", 3.5f, 0, 0},     {"C ", 4.8f, 0.2f, 0},    {"O ", 5.9f, 0.5f, 0.1f},
                       {"H ", 3.1f, 0.9f, 0},  {"H ", 3.0f, -0.8f, 0.2f},   {"H ", 5.0f, -0.9f, 0.1f},
                       {"Be", 8, 0, 0},        {"H ", 9.3f, 0.3f, 0},      {"H ", 6.8f, 0.2f, 0.4f}},
                      {{0, 1}, {1, 2}, {0, 3}, {0, 4}, {0, 5}, {6, 7}, {7, 8}, {6, 9}, {6, 10}, {7, 11}, {12, 13},
                       {12, 14}});
  TypeAndFind(*r);
  return r;
}

} // namespace

TEST(RelaxEnergies, PerAtomUpdatesMatchFullSums) {
  auto r = MixedMolecule();
  ASSERT_FALSE(r->inversions.empty());
  ASSERT_FALSE(r->dihedrals.empty());
  ASSERT_FALSE(r->nonBonded.empty());
  RelaxTermIndex index;
  ASSERT_TRUE(index.Build(*r));
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> atom(0, r->AtomCount() - 1);
  std::uniform_real_distribution<float> move(-0.05f, 0.05f);
  for (int trial = 0; trial < 200; ++trial) {
    const int a = atom(rng);
    const double full0 = CalculateTotalEnergy(*r);
    const double before = index.AtomEnergy(*r, a);
    r->atoms[a].x += move(rng);
    r->atoms[a].y += move(rng);
    r->atoms[a].z += move(rng);
    const double delta = index.AtomEnergy(*r, a) - before;
    const double full1 = CalculateTotalEnergy(*r);
    ASSERT_NEAR(delta, full1 - full0, 1e-9 * std::fabs(full1)) << trial;
  }
}

TEST(RelaxEnergies, NewtonDerivativesMatchCentralDifferences) {
  auto r = MixedMolecule();
  // Both angle forms take part.
  bool linear = false;
  for (const ThreeBodyTerm &t : r->threes)
    linear = linear || t.cosTheta0 == -1.0;
  ASSERT_TRUE(linear);
  const int n = 3 * r->AtomCount();
  std::vector<double> x(n), g(n), gp(n), gm(n);
  UpdateLocalCoordinates(x.data(), n, *r);
  EvaluateGradient(x.data(), g.data(), n, *r);
  SquareMatrix H = CreateSquareMatrix(n);
  EvaluateHessian(x.data(), H, n, *r);
  const double h = 1e-5;
  double worstG = 0, worstH = 0;
  for (int i = 0; i < n; ++i) {
    const double x0 = x[i];
    x[i] = x0 + h;
    const double ep = EvaluateNewtonEnergy(x.data(), n, *r);
    EvaluateGradient(x.data(), gp.data(), n, *r);
    x[i] = x0 - h;
    const double em = EvaluateNewtonEnergy(x.data(), n, *r);
    EvaluateGradient(x.data(), gm.data(), n, *r);
    x[i] = x0;
    // g is minus the slope.
    worstG = std::max(worstG, std::fabs(-(ep - em) / (2 * h) - g[i]) / (1 + std::fabs(g[i])));
    for (int j = 0; j < n; ++j) {
      const double numeric = -(gp[j] - gm[j]) / (2 * h);
      worstH = std::max(worstH, std::fabs(numeric - H[j][i]) / (1 + std::fabs(H[j][i])));
      EXPECT_NEAR(H[i][j], H[j][i], 1e-12 * (1 + std::fabs(H[i][j])));
    }
  }
  EXPECT_LT(worstG, 1e-5);
  EXPECT_LT(worstH, 1e-5);
  DestroySquareMatrix(H, n);
}

TEST(RelaxEnergies, MoleculesMeetThroughLennardJonesAlone) {
  // Two methanes, carbons `gap` apart: the pair's energy is each molecule's
  // own energy plus, for every atom pair across them, the shifted
  // Lennard-Jones term alone.
  auto methanes = [](std::vector<float> gaps) {
    std::vector<AtomSpec> atoms;
    std::vector<std::pair<int, int>> bonds;
    const float h = 1.09f / std::sqrt(3.0f);
    for (float gap : gaps) {
      const int c = static_cast<int>(atoms.size());
      atoms.push_back({"C ", gap, 0, 0});
      for (auto [x, y, z] : {std::tuple{h, h, h}, {h, -h, -h}, {-h, h, -h}, {-h, -h, h}}) {
        bonds.emplace_back(c, static_cast<int>(atoms.size()));
        atoms.push_back({"H ", gap + x, y, z});
      }
    }
    auto r = MakeRecord(atoms, bonds);
    EXPECT_TRUE(TypeAndFind(*r));
    return r;
  };
  for (float gap : {4.0f, 12.0f}) {
    auto pair = methanes({0.0f, gap});
    const double alone = CalculateTotalEnergy(*methanes({0.0f})) + CalculateTotalEnergy(*methanes({gap}));
    double across = 0;
    for (int i = 0; i < 5; ++i)
      for (int j = 5; j < 10; ++j) {
        const RelaxAtom &a = pair->atoms[i], &b = pair->atoms[j];
        const double sigma = (static_cast<double>(a.ljX) + b.ljX) / 2, epsilon = std::sqrt(a.ljD * b.ljD);
        const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
        const double s6 = std::pow(sigma * sigma / (dx * dx + dy * dy + dz * dz), 3);
        across += epsilon * (s6 * s6 - 2 * s6) + epsilon;
      }
    EXPECT_NEAR(CalculateTotalEnergy(*pair), alone + across, 1e-9 * alone) << gap;
    // The Newton minimiser sees the same energy (methane has no inversions or dihedrals).
    std::vector<double> x(30);
    UpdateLocalCoordinates(x.data(), 30, *pair);
    EXPECT_NEAR(EvaluateNewtonEnergy(x.data(), 30, *pair), alone + across, 1e-9 * alone) << gap;
  }
}
