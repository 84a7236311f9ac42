#include "RelaxEnergies.h"

#include "VectorMath.h"

#include <cmath>
#include <new>
#include <numbers>
#include <utility>

namespace {

// out = to - from, each component a single-precision difference.
inline void Diff(const RelaxAtom &from, const RelaxAtom &to, double out[3]) {
  out[0] = static_cast<float>(to.x - from.x);
  out[1] = static_cast<float>(to.y - from.y);
  out[2] = static_cast<float>(to.z - from.z);
}

inline double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double Length(const double a[3]) { return std::sqrt(Dot(a, a)); }

// v / |v|; a zero vector stays zero.
inline void Normalise(const double v[3], double out[3]) {
  const double len = Length(v);
  for (int i = 0; i < 3; ++i)
    out[i] = len > 0 ? v[i] / len : 0.0;
}

double PairEnergyAt(const RelaxMoleculeData &rec, const PairTerm &t) {
  double d[3];
  Diff(rec.atoms[t.slotA], rec.atoms[t.slotB], d);
  return PairTermEnergy(t, d);
}

double AngleEnergyAt(const RelaxMoleculeData &rec, const ThreeBodyTerm &t) {
  double a[3], b[3];
  Diff(rec.atoms[t.slotJ], rec.atoms[t.slotI], a);
  Diff(rec.atoms[t.slotJ], rec.atoms[t.slotK], b);
  return AngleTermEnergy(t, a, b);
}

double InversionEnergyAt(const RelaxMoleculeData &rec, const InversionTerm &t) {
  double v[3][3];
  for (int m = 0; m < 3; ++m)
    Diff(rec.atoms[t.slotCentre], rec.atoms[t.slotL[m]], v[m]);
  return InversionTermEnergy(t, v);
}

double DihedralEnergyAt(const RelaxMoleculeData &rec, const DihedralTerm &t) {
  double b1[3], b2[3], b3[3];
  Diff(rec.atoms[t.slotI], rec.atoms[t.slotJ], b1);
  Diff(rec.atoms[t.slotJ], rec.atoms[t.slotK], b2);
  Diff(rec.atoms[t.slotK], rec.atoms[t.slotL], b3);
  return DihedralTermEnergy(t, b1, b2, b3);
}

// erfc(0.125 r) for 0 <= r < 32 Å: one quintic per 1/8 Å interval, matching
// the function and its first two derivatives at both ends (exact at the
// knots, within 1e-10 relative between them); the library function beyond.
class ScreeningTable {
public:
  static constexpr double kPerAngstrom = 8.0;
  static constexpr int kIntervals = 256;

  ScreeningTable() {
    const double a = kRelaxCoulombScreening;
    const double h = 1.0 / kPerAngstrom;
    auto f = [&](double r) { return std::erfc(a * r); };
    auto d1 = [&](double r) { return -2 * a / std::sqrt(std::numbers::pi) * std::exp(-a * a * r * r); };
    auto d2 = [&](double r) { return -2 * a * a * r * d1(r); };
    for (int k = 0; k < kIntervals; ++k) {
      const double r0 = k * h, r1 = (k + 1) * h;
      double *c = coefficients_[k];
      c[0] = f(r0);
      c[1] = h * d1(r0);
      c[2] = h * h * d2(r0) / 2;
      // What the quadratic leaves of the value, slope and curvature at r1.
      const double va = f(r1) - (c[0] + c[1] + c[2]);
      const double vb = h * d1(r1) - (c[1] + 2 * c[2]);
      const double vc = h * h * d2(r1) - 2 * c[2];
      c[3] = 10 * va - 4 * vb + vc / 2;
      c[4] = -15 * va + 7 * vb - vc;
      c[5] = 6 * va - 3 * vb + vc / 2;
    }
  }

  double operator()(double r) const {
    const double u = r * kPerAngstrom;
    if (!(u < kIntervals))
      return std::erfc(kRelaxCoulombScreening * r);
    const int k = static_cast<int>(u);
    const double t = u - k;
    const double *c = coefficients_[k];
    return c[0] + t * (c[1] + t * (c[2] + t * (c[3] + t * (c[4] + t * c[5]))));
  }

private:
  double coefficients_[kIntervals][6];
};

const ScreeningTable &Screening() {
  static const ScreeningTable table;
  return table;
}

// Lennard-Jones and screened Coulomb at distance r; `coulomb` is
// 6 x 14.4 x Z*(i) Z*(j), 0 between molecules.
inline double NonBondedRadial(const ScreeningTable &screening, double sigma, double epsilon, double coulomb,
                              double r) {
  const double s = sigma / r;
  const double s2 = s * s;
  const double s6 = s2 * s2 * s2;
  const double lj = epsilon * (s6 * s6 - 2 * s6) + epsilon;
  return coulomb == 0.0 ? lj : lj + coulomb / r * screening(r);
}

inline double CoulombFactor(const NonBondedTerm &t) { return kRelaxCoulombFactor * kRelaxCoulombConstant * t.zz; }

double NonBondedEnergyAt(const RelaxMoleculeData &rec, const NonBondedTerm &t) {
  double d[3];
  Diff(rec.atoms[t.slotI], rec.atoms[t.slotJ], d);
  return NonBondedTermEnergy(t, Length(d));
}

template <typename Term, typename Energy>
double SumTerms(const RelaxMoleculeData &rec, const std::vector<Term> &terms, Energy energy) {
  double total = 0.0;
  for (const Term &t : terms)
    total += energy(rec, t);
  return total;
}

} // namespace

double CosineBetweenTwoVectors(const double a[3], const double b[3]) {
  const double la = Length(a), lb = Length(b);
  if (la == 0.0 || lb == 0.0)
    return 0.0;
  return Dot(a, b) / (la * lb);
}

void LCrossProduct(const double a[3], const double b[3], double out[3]) { DCrossProduct(a, b, out); }

// ---- One term -------------------------------------------------------------------

RadialDerivatives PairRadial(const PairTerm &t, double r) {
  const double k = kRelaxPairScale * t.p0 * t.p1;
  const double dr = r - t.r0;
  return {k * dr * dr, 2 * k * dr, 2 * k};
}

double PairTermEnergy(const PairTerm &term, const double d[3]) { return PairRadial(term, Length(d)).e; }

double AngleTermEnergy(const ThreeBodyTerm &term, const double a[3], const double b[3]) {
  const double c = CosineBetweenTwoVectors(a, b);
  if (term.cosTheta0 == -1.0)
    return kRelaxLinearAngleScale * (c + 1);
  const double dc = c - term.cosTheta0;
  return kRelaxAngleScale * term.k * dc * dc;
}

double InversionTermEnergy(const InversionTerm &term, const double v[3][3]) {
  double e = 0.0;
  for (int i = 0; i < 3; ++i) {
    const int a = (i + 2) % 3, b = (i + 1) % 3;
    double ea[3], eb[3], s[3], d[3], sn[3], dn[3], p[3];
    Normalise(v[a], ea);
    Normalise(v[b], eb);
    for (int k = 0; k < 3; ++k) {
      s[k] = eb[k] + ea[k];
      d[k] = eb[k] - ea[k];
    }
    Normalise(s, sn);
    Normalise(d, dn);
    const double sv = Dot(sn, v[i]), dv = Dot(dn, v[i]);
    for (int k = 0; k < 3; ++k)
      p[k] = sn[k] * sv + dn[k] * dv;
    const double dc = CosineBetweenTwoVectors(v[i], p) - term.cosOmega0;
    e += kRelaxInversionScale * term.k * dc * dc;
  }
  return e;
}

double DihedralTermEnergy(const DihedralTerm &term, const double b1[3], const double b2[3], const double b3[3]) {
  double m[3], q[3], mb2[3];
  LCrossProduct(b1, b2, m);
  LCrossProduct(b2, b3, q);
  LCrossProduct(m, b2, mb2);
  const double phi = std::atan2(Dot(mb2, q), Length(b2) * Dot(m, q));
  return term.v * (1 + std::cos(term.n * phi - term.phi0));
}

RadialDerivatives LennardJonesRadial(double sigma, double epsilon, double r) {
  const double s = sigma / r;
  const double s2 = s * s;
  const double s6 = s2 * s2 * s2;
  const double s12 = s6 * s6;
  return {epsilon * (s12 - 2 * s6) + epsilon, epsilon * (-12 * s12 + 12 * s6) / r,
          epsilon * (156 * s12 - 84 * s6) / (r * r)};
}

RadialDerivatives ScreenedCoulombRadial(double zz, double r) {
  const double c = kRelaxCoulombFactor * kRelaxCoulombConstant * zz;
  const double a = kRelaxCoulombScreening;
  const double erfcTerm = std::erfc(a * r);
  const double gauss = 2 * a / std::sqrt(std::numbers::pi) * std::exp(-a * a * r * r);
  return {c / r * erfcTerm, c * (-gauss / r - erfcTerm / (r * r)),
          c * (gauss * (2 * a * a + 2 / (r * r)) + 2 * erfcTerm / (r * r * r))};
}

double NonBondedTermEnergy(const NonBondedTerm &term, double r) {
  return NonBondedRadial(Screening(), term.sigma, term.epsilon, CoulombFactor(term), r);
}

// ---- Sums -------------------------------------------------------------------------

int CalculateMorseEnergy(const RelaxMoleculeData &record, double *total) {
  *total = SumTerms(record, record.pairs, PairEnergyAt);
  return 0;
}

int CalculateThreesEnergy(const RelaxMoleculeData &record, double *total) {
  *total = SumTerms(record, record.threes, AngleEnergyAt);
  return 0;
}

int CalculateInversionEnergy(const RelaxMoleculeData &record, double *total) {
  *total = SumTerms(record, record.inversions, InversionEnergyAt);
  return 0;
}

int CalculateDihedralEnergy(const RelaxMoleculeData &record, double *total) {
  *total = SumTerms(record, record.dihedrals, DihedralEnergyAt);
  return 0;
}

int CalculateNonBondedEnergy(const RelaxMoleculeData &record, double *total) {
  *total = SumTerms(record, record.nonBonded, NonBondedEnergyAt);
  return 0;
}

double CalculateTotalEnergy(const RelaxMoleculeData &record) {
  double e[5];
  CalculateMorseEnergy(record, &e[0]);
  CalculateThreesEnergy(record, &e[1]);
  CalculateInversionEnergy(record, &e[2]);
  CalculateDihedralEnergy(record, &e[3]);
  CalculateNonBondedEnergy(record, &e[4]);
  return e[0] + e[1] + e[2] + e[3] + e[4];
}

// ---- Per-atom term index -----------------------------------------------------------

namespace {

// Fills a compressed per-atom list: `slotsOf(term, out)` writes the term's
// distinct atoms and returns their count.
template <typename Term, typename SlotsOf>
void BuildLists(size_t atomCount, const std::vector<Term> &terms, SlotsOf slotsOf, std::vector<uint32_t> &start,
                std::vector<uint32_t> &ids) {
  start.assign(atomCount + 1, 0);
  int32_t s[4];
  for (const Term &t : terms) {
    const int n = slotsOf(t, s);
    for (int k = 0; k < n; ++k)
      ++start[s[k] + 1];
  }
  for (size_t a = 0; a < atomCount; ++a)
    start[a + 1] += start[a];
  ids.assign(start[atomCount], 0);
  std::vector<uint32_t> fill(start.begin(), start.end() - 1);
  for (uint32_t i = 0; i < terms.size(); ++i) {
    const int n = slotsOf(terms[i], s);
    for (int k = 0; k < n; ++k)
      ids[fill[s[k]]++] = i;
  }
}

// Writes the distinct entries of `in` to `out`.
int Distinct(std::initializer_list<int32_t> in, int32_t out[4]) {
  int n = 0;
  for (int32_t v : in) {
    bool seen = false;
    for (int k = 0; k < n; ++k)
      seen = seen || out[k] == v;
    if (!seen)
      out[n++] = v;
  }
  return n;
}

} // namespace

bool RelaxTermIndex::Build(const RelaxMoleculeData &rec) {
  try {
    const size_t n = rec.atoms.size();
    BuildLists(n, rec.pairs, [](const PairTerm &t, int32_t *s) { return Distinct({t.slotA, t.slotB}, s); },
               pairs_.start, pairs_.terms);
    BuildLists(n, rec.threes,
               [](const ThreeBodyTerm &t, int32_t *s) { return Distinct({t.slotJ, t.slotI, t.slotK}, s); },
               threes_.start, threes_.terms);
    BuildLists(n, rec.inversions,
               [](const InversionTerm &t, int32_t *s) {
                 return Distinct({t.slotCentre, t.slotL[0], t.slotL[1], t.slotL[2]}, s);
               },
               inversions_.start, inversions_.terms);
    BuildLists(n, rec.dihedrals,
               [](const DihedralTerm &t, int32_t *s) { return Distinct({t.slotI, t.slotJ, t.slotK, t.slotL}, s); },
               dihedrals_.start, dihedrals_.terms);
    Lists nonBonded;
    BuildLists(n, rec.nonBonded,
               [](const NonBondedTerm &t, int32_t *s) { return Distinct({t.slotI, t.slotJ}, s); },
               nonBonded.start, nonBonded.terms);
    partnerStart_ = std::move(nonBonded.start);
    partners_.resize(nonBonded.terms.size());
    for (size_t a = 0; a < n; ++a)
      for (uint32_t k = partnerStart_[a]; k < partnerStart_[a + 1]; ++k) {
        const NonBondedTerm &t = rec.nonBonded[nonBonded.terms[k]];
        const int32_t other = t.slotI == static_cast<int32_t>(a) ? t.slotJ : t.slotI;
        partners_[k] = {other, t.sigma, t.epsilon, CoulombFactor(t)};
      }
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

double RelaxTermIndex::AtomEnergy(const RelaxMoleculeData &rec, int32_t slot) const {
  auto sum = [&](const Lists &lists, const auto &terms, auto energy) {
    double total = 0.0;
    for (uint32_t k = lists.start[slot]; k < lists.start[slot + 1]; ++k)
      total += energy(rec, terms[lists.terms[k]]);
    return total;
  };
  // The distance is the same whichever atom of the pair it is taken from.
  const ScreeningTable &screening = Screening();
  const RelaxAtom &atom = rec.atoms[slot];
  double nonBonded = 0.0;
  for (uint32_t k = partnerStart_[slot]; k < partnerStart_[slot + 1]; ++k) {
    const Partner &p = partners_[k];
    double d[3];
    Diff(atom, rec.atoms[p.slot], d);
    nonBonded += NonBondedRadial(screening, p.sigma, p.epsilon, p.coulomb, Length(d));
  }
  return sum(pairs_, rec.pairs, PairEnergyAt) + sum(threes_, rec.threes, AngleEnergyAt) +
         sum(inversions_, rec.inversions, InversionEnergyAt) + sum(dihedrals_, rec.dihedrals, DihedralEnergyAt) +
         nonBonded;
}
