// The non-bonded energies against the force field's formula evaluated
// directly with the library's erfc, term by term over the whole distance
// range and summed over molecules in random geometries.
#include "RelaxTestSupport.h"

#include "relax/RelaxEnergies.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace relaxtest;

namespace {

double DirectTerm(const NonBondedTerm &t, double zz, double r) {
  const double s = t.sigma / r;
  const double lj = t.epsilon * (std::pow(s, 12) - 2 * std::pow(s, 6)) + t.epsilon;
  return lj + 6.0 * 14.4 * zz / r * std::erfc(0.125 * r);
}

double Distance(const RelaxAtom &a, const RelaxAtom &b) {
  const double d[3] = {static_cast<float>(b.x - a.x), static_cast<float>(b.y - a.y), static_cast<float>(b.z - a.z)};
  return std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
}

// Within one molecule the pair has its Coulomb part; unbonded atoms are
// molecules of their own and have none.
double DirectPair(const RelaxMoleculeData &r, const NonBondedTerm &t) {
  const RelaxAtom &a = r.atoms[t.slotI], &b = r.atoms[t.slotJ];
  const bool oneMolecule = !r.pairs.empty();
  return DirectTerm(t, oneMolecule ? static_cast<double>(a.zStar) * b.zStar : 0.0, Distance(a, b));
}

// Unbonded atoms of several elements scattered through a box: every pair
// closer than 16 Å becomes a non-bonded term.
RecordPtr Scattered(std::mt19937 &rng, int count, float box) {
  static const char *const kSymbols[] = {"C ", "H ", "O ", "N ", "Cl", "Fe", "Na", "Si"};
  std::uniform_real_distribution<float> coordinate(0, box);
  std::vector<AtomSpec> atoms;
  for (int k = 0; k < count; ++k)
    atoms.push_back({kSymbols[k % 8], coordinate(rng), coordinate(rng), coordinate(rng)});
  auto r = MakeRecord(atoms, {});
  TypeAndFind(*r);
  return r;
}

} // namespace

TEST(NonBondedTable, TermsFollowTheDirectFormulaAtEveryDistance) {
  NonBondedTerm t;
  t.sigma = 3.85;
  t.epsilon = 0.0046;
  const double zz = 1.912 * 2.3;
  t.zz = zz;
  double worst = 0;
  // Across the tabulated range, its knots and past its end.
  for (double r = 0.2; r < 40.0; r += 0.000731) {
    const double direct = DirectTerm(t, zz, r);
    worst = std::max(worst, std::fabs(NonBondedTermEnergy(t, r) - direct) / direct);
  }
  for (int k = 1; k <= 320; ++k) {
    const double r = k / 8.0;
    EXPECT_NEAR(NonBondedTermEnergy(t, r), DirectTerm(t, zz, r), 1e-12 * DirectTerm(t, zz, r)) << r;
  }
  EXPECT_LT(worst, 1e-6);
}

TEST(NonBondedTable, MoleculeSumsAndPerAtomEnergiesFollowTheDirectFormula) {
  std::mt19937 rng(11);
  std::vector<RecordPtr> molecules;
  molecules.push_back(MakeRecord(Ethane(), kEthaneBonds));
  TypeAndFind(*molecules.back());
  for (int k = 0; k < 3; ++k)
    molecules.push_back(Scattered(rng, 60, 14.0f + 8.0f * k));
  std::normal_distribution<float> shake(0, 1.5f);
  for (RecordPtr &r : molecules) {
    ASSERT_FALSE(r->nonBonded.empty());
    RelaxTermIndex index;
    ASSERT_TRUE(index.Build(*r));
    for (int geometry = 0; geometry < 5; ++geometry) {
      double direct = 0;
      for (const NonBondedTerm &t : r->nonBonded)
        direct += DirectPair(*r, t);
      double tabulated;
      CalculateNonBondedEnergy(*r, &tabulated);
      EXPECT_NEAR(tabulated, direct, 1e-6 * direct);
      // Unbonded atoms: an atom's energy is its non-bonded terms alone.
      if (r->pairs.empty())
        for (int32_t a = 0; a < r->AtomCount(); ++a) {
          double own = 0;
          for (const NonBondedTerm &t : r->nonBonded)
            if (t.slotI == a || t.slotJ == a)
              own += DirectPair(*r, t);
          EXPECT_NEAR(index.AtomEnergy(*r, a), own, 1e-6 * own) << a;
        }
      // A new random geometry, the term list kept: pairs drift apart and
      // together as in a run.
      for (RelaxAtom &atom : r->atoms) {
        atom.x += shake(rng);
        atom.y += shake(rng);
        atom.z += shake(rng);
      }
    }
  }
}
