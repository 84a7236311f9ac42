// The automatic bond rule.
#include "BondRule.h"

#include "BondSearch.h"
#include "StructureArrays.h"

#include <algorithm>
#include <cmath>
#include <limits>

// Typical bond lengths (A).
const BondSpec kDefSpecs[kNumDefSpecs] = {
    {TwoCharsToShort("C"), TwoCharsToShort("C"), 0.0f, 1.69f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("H"), 0.0f, 1.21f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("N"), 0.0f, 1.60f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("O"), 0.0f, 1.57f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("P"), 0.0f, 2.02f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("S"), 0.0f, 2.00f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("Cl"), 0.0f, 1.95f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("F"), 0.0f, 1.52f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("C"), TwoCharsToShort("Si"), 0.0f, 2.06f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("H"), TwoCharsToShort("O"), 0.0f, 1.05f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("H"), TwoCharsToShort("N"), 0.0f, 1.10f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("N"), TwoCharsToShort("N"), 0.0f, 1.60f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("N"), TwoCharsToShort("O"), 0.0f, 1.50f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("S"), TwoCharsToShort("S"), 0.0f, 2.26f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Si"), TwoCharsToShort("O"), 0.0f, 1.73f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Al"), TwoCharsToShort("O"), 0.0f, 1.82f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Na"), TwoCharsToShort("O"), 0.0f, 3.00f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Mg"), TwoCharsToShort("O"), 0.0f, 2.00f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("K"), TwoCharsToShort("O"), 0.0f, 3.40f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Ti"), TwoCharsToShort("O"), 0.0f, 2.00f, 0, kRGBBlack, kRGBBlack},
};

bool SameElementPair(ElementCode a, ElementCode b, ElementCode x, ElementCode y) {
  return (a == x && b == y) || (a == y && b == x);
}

namespace {

// The sum of a metal's and a non-metal's ionic radii: the cation's in the
// largest coordination tabulated for it, the anion's six-fold one.
double IonicRadiiSum(const CovalentRadiusRow &a, const CovalentRadiusRow &b) {
  const CovalentRadiusRow &cation = a.metal ? a : b, &anion = a.metal ? b : a;
  return double(cation.ionicLargest) + double(anion.ionic);
}

// The automatic rule for one pair of elements without the ions' radii: the
// longest contact it allows (kAutoBondRadiusFactor times the covalent radii's
// sum, or kAutoBondMetalFactor for two metals in a structure that holds a
// non-metal; two metals in a structure of metals alone take the larger of
// the covalent and the metallic radii's sums; the row of `kDefSpecs` where
// longer). A proton's limit with a metal.
float CovalentPairLimit(const CovalentRadiusRow &a, const CovalentRadiusRow &b, bool structureHasNonMetal) {
  const bool metals = a.metal && b.metal;
  const double factor = metals && structureHasNonMetal ? kAutoBondMetalFactor : kAutoBondRadiusFactor;
  double sum = double(a.radius) + double(b.radius);
  if (metals && !structureHasNonMetal)
    sum = std::max(sum, double(a.metallic) + double(b.metallic));
  float limit = static_cast<float>(sum * factor);
  for (const BondSpec &row : kDefSpecs)
    if (SameElementPair(row.elementA, row.elementB, a.element, b.element))
      limit = std::max(limit, row.maxLength);
  return limit;
}

// The automatic rule for one pair of elements: the covalent limit, or for a
// metal and a non-metal kAutoBondRadiusFactor times the ions' radii's sum
// where longer (IonicRadiiSum; hydrogen as the hydride ion).
float AutoPairLimit(const CovalentRadiusRow &a, const CovalentRadiusRow &b, bool structureHasNonMetal) {
  float limit = CovalentPairLimit(a, b, structureHasNonMetal);
  if (a.metal != b.metal)
    limit = std::max(limit, static_cast<float>(IonicRadiiSum(a, b) * kAutoBondRadiusFactor));
  return limit;
}

// The shortest contact of a pair of elements: no bond is that short. A
// metal and a non-metal take the smaller of their covalent and six-fold
// ionic radii's sums, as their limit may take the larger: a small, highly
// charged cation sits closer to its anion than its covalent radius says
// (uranyl's U-O 1.76 A, 0.67 of the covalent sum). Two metals take
// kAutoBondMetalShortestFactor of their covalent radii's sum.
float AutoPairShortest(const CovalentRadiusRow &a, const CovalentRadiusRow &b) {
  double sum = double(a.radius) + double(b.radius);
  if (a.metal != b.metal)
    sum = std::min(sum, double(a.ionic) + double(b.ionic));
  const double factor = a.metal && b.metal ? kAutoBondMetalShortestFactor : kAutoBondShortestFactor;
  return static_cast<float>(sum * factor);
}

bool IsHydrogen(const CovalentRadiusRow &row) {
  return row.element == TwoCharsToShort("H") || row.element == TwoCharsToShort("D");
}

} // namespace

bool IsAutoBondNonMetal(ElementCode e) {
  const CovalentRadiusRow *row = FindCovalentRadius(e);
  return row && !row->metal;
}

float AutoBondPairLimit(ElementCode a, ElementCode b, float typeRadiusA, float typeRadiusB, bool nonMetalPresent) {
  const CovalentRadiusRow *rowA = FindCovalentRadius(a), *rowB = FindCovalentRadius(b);
  if (rowA && rowB)
    return AutoPairLimit(*rowA, *rowB, nonMetalPresent);
  // An element the radii table lacks gets no automatic bond; a bond a file
  // gives it is judged against its atom type's radius.
  const double radiusA = rowA ? double(rowA->radius) : double(typeRadiusA);
  const double radiusB = rowB ? double(rowB->radius) : double(typeRadiusB);
  return static_cast<float>((radiusA + radiusB) * kAutoBondRadiusFactor);
}

float AutoBondPairShortest(ElementCode a, ElementCode b) {
  const CovalentRadiusRow *rowA = FindCovalentRadius(a), *rowB = FindCovalentRadius(b);
  return rowA && rowB ? AutoPairShortest(*rowA, *rowB) : 0.0f;
}

float SpecMaximum(float r, float limit) {
  // Held in 64 bits: a 16-bit count would wrap for contacts beyond 32.7 A.
  const int64_t whole = std::llround(double(r) * kAutoBondMaximumMargin * kAutoBondThousandths);
  return std::min(limit, static_cast<float>(double(whole) / kAutoBondThousandths));
}

float SpecMaximumBelow(float r) {
  const double below = std::floor((double(r) - kSecondNeighbourGap) * kAutoBondThousandths);
  return static_cast<float>(below / kAutoBondThousandths);
}

// ---- The rule over one structure ---------------------------------------------------

PairLimits::PairLimits(const CrystalRec &c) {
  const size_t nTypes = UsableSphereSize(c);
  typeKind_.assign(nTypes, kNone);
  std::vector<uint8_t> used(nTypes, 0);
  // The walk over the atoms ends once every type is met, as a structure's
  // first atoms usually meet all of its few types.
  size_t met = 0;
  for (size_t i = 0; i < UsableAtomSize(c) && met < nTypes; i++)
    if (const uint32_t t = c.atoms[i].atomType; t < nTypes && !used[t]) {
      used[t] = 1;
      met++;
    }
  bool nonMetal = false;
  for (size_t t = 0; t < nTypes; t++) {
    const ElementCode e = c.spheres[t].element;
    if (!used[t] || e == kPlaceholderAtomElement)
      continue;
    const CovalentRadiusRow *row = FindCovalentRadius(e);
    if (!row) {
      if (std::find(unknown_.begin(), unknown_.end(), e) == unknown_.end())
        unknown_.push_back(e);
      continue;
    }
    const auto known =
        std::find_if(rows_.begin(), rows_.end(), [e](const CovalentRadiusRow &r) { return r.element == e; });
    typeKind_[t] = static_cast<uint32_t>(known - rows_.begin());
    if (known != rows_.end())
      continue;
    rows_.push_back(*row);
    nonMetal = nonMetal || !row->metal;
  }
  const size_t n = rows_.size();
  limits_.assign(n * n, 0.0f);
  shortestSq_.assign(n * n, 0.0f);
  maySecond_.assign(n * n, 0);
  protonLimits_.assign(n * n, 0.0f);
  protonates_.assign(n * n, 0);
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < n; j++)
      for (size_t y = 0; y < n && (rows_[i].metal || rows_[j].metal); y++)
        if (!rows_[y].metal && rows_[y].electronegativity > rows_[i].electronegativity &&
            rows_[y].electronegativity > rows_[j].electronegativity)
          maySecond_[i * n + j] = anySecond_ = 1;
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < n; j++) {
      const float limit = AutoPairLimit(rows_[i], rows_[j], nonMetal);
      const float shortest = AutoPairShortest(rows_[i], rows_[j]);
      limits_[i * n + j] = limit;
      shortestSq_[i * n + j] = shortest * shortest;
      longest_ = std::max(longest_, limit);
      protonates_[i * n + j] =
          IsHydrogen(rows_[i]) && !rows_[j].metal && rows_[j].electronegativity > rows_[i].electronegativity;
      // A metal and hydrogen: the limit without the hydride ion's radius.
      if ((rows_[i].metal && IsHydrogen(rows_[j])) || (rows_[j].metal && IsHydrogen(rows_[i]))) {
        const float proton = CovalentPairLimit(rows_[i], rows_[j], nonMetal);
        if (proton < limit)
          protonLimits_[i * n + j] = proton;
      }
    }
}

float PairLimits::Shortest(uint32_t a, uint32_t b) const { return AutoPairShortest(rows_[a], rows_[b]); }

// ---- Second neighbours -----------------------------------------------------------------

// A metal and another atom that share a non-metal neighbour more
// electronegative than both, each within its limit of that neighbour and
// closer to it than to each other, are second neighbours (a cation and an
// oxyanion's centre, two cations around one anion).
std::vector<uint8_t> JudgeMetalContacts(const PairLimits &limits, const std::vector<RuleCandidate> &of,
                                        const std::vector<TurboAtom> &all, const std::vector<uint8_t> &complete,
                                        const std::vector<RuleContact> &contacts,
                                        const std::vector<RuleContact> &others) {
  // Every candidate's contacts (those judged and the metals' other contacts
  // with non-metals), as one list per candidate: of each, the neighbours
  // that may be shared alone (non-metals at a distance that compares),
  // nearest first, with their electronegativity, so that a contact reads
  // its metal's nearer neighbours only.
  struct Shared {
    float d2;
    float electronegativity;
    uint32_t y;
  };
  const auto mayShare = [&](uint32_t y, float d2) { return !std::isnan(d2) && !limits.Metal(of[y].kind); };
  std::vector<uint32_t> start(all.size() + 1, 0);
  for (const std::vector<RuleContact> *list : {&contacts, &others})
    for (const RuleContact &t : *list) {
      start[t.i + 1] += mayShare(t.j, t.d2);
      start[t.j + 1] += mayShare(t.i, t.d2);
    }
  for (size_t i = 0; i < all.size(); i++)
    start[i + 1] += start[i];
  std::vector<uint32_t> fill(start.begin(), start.end() - 1);
  std::vector<Shared> shared(start.back());
  for (const std::vector<RuleContact> *list : {&contacts, &others})
    for (const RuleContact &t : *list) {
      if (mayShare(t.j, t.d2))
        shared[fill[t.i]++] = {t.d2, limits.Electronegativity(of[t.j].kind), t.j};
      if (mayShare(t.i, t.d2))
        shared[fill[t.j]++] = {t.d2, limits.Electronegativity(of[t.i].kind), t.i};
    }
  for (size_t i = 0; i < all.size(); i++)
    std::sort(shared.begin() + start[i], shared.begin() + start[i + 1],
              [](const Shared &a, const Shared &b) { return a.d2 < b.d2; });
  std::vector<uint8_t> verdict(contacts.size(), kMetalContactUnjudged);
  for (size_t k = 0; k < contacts.size(); k++) {
    const RuleContact &t = contacts[k];
    const uint32_t ki = of[t.i].kind, kj = of[t.j].kind;
    if (!complete[t.i] && !complete[t.j])
      continue;
    uint32_t m = t.i, x = t.j, kx = kj;
    if (!limits.Metal(ki)) {
      m = t.j;
      x = t.i;
      kx = ki;
    }
    const float above = std::max(limits.Electronegativity(ki), limits.Electronegativity(kj));
    verdict[k] = kMetalContactBond;
    for (uint32_t n = start[m]; n < start[m + 1] && shared[n].d2 < t.d2; n++) {
      const uint32_t y = shared[n].y;
      if (y == x || !(shared[n].electronegativity > above))
        continue;
      const uint32_t ky = of[y].kind;
      const float dx = all[y].xyz[0] - all[x].xyz[0];
      const float dy = all[y].xyz[1] - all[x].xyz[1];
      const float dz = all[y].xyz[2] - all[x].xyz[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      const float limit = limits.Limit(kx, ky);
      if (d2 < t.d2 && d2 <= limit * limit && !(d2 < limits.ShortestSq(kx, ky))) {
        verdict[k] = kMetalContactSecondNeighbours;
        break;
      }
    }
  }
  return verdict;
}

// ---- Protons and first shells ------------------------------------------------------------

void JudgeHydrideContacts(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                          const std::vector<uint8_t> &protonated, const std::vector<RuleContact> &contacts,
                          std::vector<uint8_t> *verdict) {
  std::vector<uint8_t> siteProtonated;
  if (!c.molecule) {
    siteProtonated.assign(UsableSiteSize(c), 0);
    for (size_t i = 0; i < of.size(); i++)
      if (protonated[i] && of[i].site < siteProtonated.size())
        siteProtonated[of[i].site] = 1;
  }
  for (size_t k = 0; k < contacts.size(); k++) {
    const RuleContact &t = contacts[k];
    const uint32_t ki = of[t.i].kind, kj = of[t.j].kind;
    const float proton = limits.ProtonLimit(ki, kj);
    if ((*verdict)[k] != kMetalContactBond || !(proton > 0.0f) || !(t.d2 > proton * proton))
      continue;
    const uint32_t h = limits.Metal(ki) ? t.j : t.i;
    const bool isProton =
        c.molecule ? protonated[h] != 0 : of[h].site < siteProtonated.size() && siteProtonated[of[h].site] != 0;
    if (isProton)
      (*verdict)[k] = kMetalContactLeftOut;
  }
}

float FirstShellEndSq(std::vector<float> &d2) {
  std::sort(d2.begin(), d2.end());
  const double gap = kFirstShellGapFactor * std::sqrt(double(d2.front()));
  for (size_t k = kFirstShellLeast; k < d2.size(); k++)
    if (std::sqrt(double(d2[k])) - std::sqrt(double(d2[k - 1])) > gap)
      return d2[k - 1];
  return d2.back();
}

void JudgeFirstShells(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                      const std::vector<uint8_t> &complete, const std::vector<RuleContact> &contacts,
                      std::vector<uint8_t> *verdict) {
  const auto metals = [&](const RuleContact &t) { return limits.Metal(of[t.i].kind) && limits.Metal(of[t.j].kind); };
  // Each complete candidate's bonded metal contacts, as one list apiece.
  std::vector<uint32_t> start(of.size() + 1, 0);
  for (size_t k = 0; k < contacts.size(); k++)
    if ((*verdict)[k] == kMetalContactBond && metals(contacts[k])) {
      start[contacts[k].i + 1] += complete[contacts[k].i];
      start[contacts[k].j + 1] += complete[contacts[k].j];
    }
  for (size_t i = 0; i < of.size(); i++)
    start[i + 1] += start[i];
  if (start.back() == 0)
    return;
  std::vector<float> d2(start.back());
  std::vector<uint32_t> fill(start.begin(), start.end() - 1);
  for (size_t k = 0; k < contacts.size(); k++)
    if ((*verdict)[k] == kMetalContactBond && metals(contacts[k]))
      for (const uint32_t x : {contacts[k].i, contacts[k].j})
        if (complete[x])
          d2[fill[x]++] = contacts[k].d2;
  // Each shell's end, per candidate of a molecule or per site of a crystal.
  constexpr float kNoEnd = std::numeric_limits<float>::infinity();
  std::vector<float> end(c.molecule ? of.size() : UsableSiteSize(c), kNoEnd);
  std::vector<float> shell;
  for (size_t x = 0; x < of.size(); x++) {
    if (start[x + 1] == start[x])
      continue;
    shell.assign(d2.begin() + start[x], d2.begin() + start[x + 1]);
    const float e = FirstShellEndSq(shell);
    float &kept = end[c.molecule ? x : of[x].site];
    kept = std::min(kept, e);
  }
  for (size_t k = 0; k < contacts.size(); k++) {
    const RuleContact &t = contacts[k];
    if ((*verdict)[k] != kMetalContactBond || !metals(t))
      continue;
    const float ei = end[c.molecule ? t.i : of[t.i].site], ej = end[c.molecule ? t.j : of[t.j].site];
    if (t.d2 > ei || t.d2 > ej)
      (*verdict)[k] = kMetalContactLeftOut;
  }
}
