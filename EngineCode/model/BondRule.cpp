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

// A metal and a non-metal's limit without the cation's largest ionic
// radius: the covalent limit, or the sum of the ions' usual radii x
// kAutoBondRadiusFactor where longer.
float ShortPairLimit(const CovalentRadiusRow &a, const CovalentRadiusRow &b, bool structureHasNonMetal) {
  const double usual = double(a.ionic) + double(b.ionic);
  return std::max(CovalentPairLimit(a, b, structureHasNonMetal), static_cast<float>(usual * kAutoBondRadiusFactor));
}

// Whether an element is a metalloid (kMetalloidMostElectronegativity): a
// non-metal that forms a metallic framework with metals rather than an anion.
// The noble gases, whose electronegativity is 0, are none.
bool IsMetalloid(const CovalentRadiusRow &row) {
  return !row.metal && row.electronegativity > 0.0f && row.electronegativity <= kMetalloidMostElectronegativity;
}

// The limit of a pair of elements in a compound of metals and metalloids
// alone: a metal and a metalloid with the metal's metallic radius; two
// metalloids x kAutoBondMetalloidNetworkFactor, but no farther apart than
// either would reach the smallest metal present (`smallestMetallic`, its
// metallic radius): beyond that they lie outside each other's shell of
// metals (FeSi's Si-Si at 2.78 A, beyond its seven Fe at 2.27-2.52 A; the
// Fe reach 2.745 A). 0 for two metals.
float MetalloidCompoundLimit(const CovalentRadiusRow &a, const CovalentRadiusRow &b, float smallestMetallic) {
  if (a.metal && b.metal)
    return 0.0f;
  const double sum = double(a.radius) + double(b.radius);
  if (!a.metal && !b.metal)
    return static_cast<float>(std::min(sum * kAutoBondMetalloidNetworkFactor,
                                       (double(smallestMetallic) + sum / 2.0) * kAutoBondRadiusFactor));
  const CovalentRadiusRow &metal = a.metal ? a : b, &metalloid = a.metal ? b : a;
  return static_cast<float>((double(metal.metallic) + double(metalloid.radius)) * kAutoBondRadiusFactor);
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
  // Metals beside metalloids alone: a boride's or a silicide's framework.
  float smallestMetallic = std::numeric_limits<float>::infinity();
  for (const CovalentRadiusRow &r : rows_)
    if (r.metal)
      smallestMetallic = std::min(smallestMetallic, r.metallic);
  const bool metalloidCompound =
      smallestMetallic != std::numeric_limits<float>::infinity() &&
      std::all_of(rows_.begin(), rows_.end(), [](const CovalentRadiusRow &r) { return r.metal || IsMetalloid(r); });
  const size_t n = rows_.size();
  limits_.assign(n * n, 0.0f);
  shortestSq_.assign(n * n, 0.0f);
  maySecond_.assign(n * n, 0);
  protonLimits_.assign(n * n, 0.0f);
  protonates_.assign(n * n, 0);
  bridgedLimits_.assign(n * n, 0.0f);
  shortLimits_.assign(n * n, 0.0f);
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < n; j++)
      for (size_t y = 0; y < n && (rows_[i].metal || rows_[j].metal); y++)
        if (!rows_[y].metal && rows_[y].electronegativity > rows_[i].electronegativity &&
            rows_[y].electronegativity > rows_[j].electronegativity)
          maySecond_[i * n + j] = anySecond_ = 1;
  for (size_t i = 0; i < n; i++)
    for (size_t j = 0; j < n; j++) {
      const float framework = metalloidCompound ? MetalloidCompoundLimit(rows_[i], rows_[j], smallestMetallic) : 0.0f;
      float limit = std::max(AutoPairLimit(rows_[i], rows_[j], nonMetal), framework);
      // Two metals beside non-metals: in contact up to their covalent limit
      // where no non-metal bridges them.
      if (rows_[i].metal && rows_[j].metal && nonMetal &&
          rows_[i].electronegativity >= kUnbridgedMetalLeastElectronegativity &&
          rows_[j].electronegativity >= kUnbridgedMetalLeastElectronegativity) {
        const double sum = double(rows_[i].radius) + double(rows_[j].radius);
        const float unbridged = static_cast<float>(sum * kAutoBondUnbridgedMetalFactor);
        if (unbridged > limit) {
          bridgedLimits_[i * n + j] = limit;
          limit = unbridged;
          anyBridged_ = true;
        }
      }
      if (rows_[i].metal != rows_[j].metal) {
        // A framework's contact is no cation's: no gap in a shell cuts it.
        const float shorter = std::max(ShortPairLimit(rows_[i], rows_[j], nonMetal), framework);
        if (shorter < limit) {
          shortLimits_[i * n + j] = shorter;
          anyShort_ = true;
        }
      }
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

float SameLengthReachSq(float d2) {
  const double reach = std::sqrt(double(d2)) + kSameLengthSlack;
  return static_cast<float>(reach * reach);
}

// A metal and another atom that share a non-metal neighbour more
// electronegative than both, each within its limit of that neighbour and
// no farther from it than from each other, are second neighbours (a cation and an
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
    // As close as the contact counts as closer: lengths that symmetry makes
    // equal differ in the last place from image to image.
    const float reach = SameLengthReachSq(t.d2);
    verdict[k] = kMetalContactBond;
    for (uint32_t n = start[m]; n < start[m + 1] && shared[n].d2 <= reach; n++) {
      const uint32_t y = shared[n].y;
      if (y == x || !(shared[n].electronegativity > above))
        continue;
      const uint32_t ky = of[y].kind;
      const float dx = all[y].xyz[0] - all[x].xyz[0];
      const float dy = all[y].xyz[1] - all[x].xyz[1];
      const float dz = all[y].xyz[2] - all[x].xyz[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      const float limit = limits.Limit(kx, ky);
      if (d2 <= reach && d2 <= limit * limit && !(d2 < limits.ShortestSq(kx, ky))) {
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

float ShellEndSq(std::vector<float> &d2, double factor, size_t least) {
  std::sort(d2.begin(), d2.end());
  const double gap = factor * std::sqrt(double(d2.front()));
  for (size_t k = least; k < d2.size(); k++)
    if (std::sqrt(double(d2[k])) - std::sqrt(double(d2[k - 1])) > gap)
      return d2[k - 1];
  return d2.back();
}

float FirstShellEndSq(std::vector<float> &d2) { return ShellEndSq(d2, kFirstShellGapFactor, kFirstShellLeast); }

namespace {

// Lists of items per candidate, filled in two passes (count, then place).
template <class Item> struct PerCandidate {
  std::vector<uint32_t> start;
  std::vector<Item> items;
  std::vector<uint32_t> fill;
  explicit PerCandidate(size_t n) : start(n + 1, 0) {}
  void Count(uint32_t x) { start[x + 1]++; }
  void Allocate() {
    for (size_t i = 0; i + 1 < start.size(); i++)
      start[i + 1] += start[i];
    items.resize(start.back());
    fill.assign(start.begin(), start.end() - 1);
  }
  void Add(uint32_t x, const Item &item) { items[fill[x]++] = item; }
  auto begin(uint32_t x) { return items.begin() + start[x]; }
  auto end(uint32_t x) { return items.begin() + start[x + 1]; }
  bool Empty(uint32_t x) const { return start[x + 1] == start[x]; }
};

// The metal end of a contact of a metal and a non-metal, or none.
bool MetalEnd(const PairLimits &limits, const std::vector<RuleCandidate> &of, const RuleContact &t, uint32_t *metal,
              uint32_t *other) {
  const bool mi = limits.Metal(of[t.i].kind), mj = limits.Metal(of[t.j].kind);
  if (mi == mj)
    return false;
  *metal = mi ? t.i : t.j;
  *other = mi ? t.j : t.i;
  return true;
}

// Whether some contact still bonded passes `test`: the judgements below
// that only ever leave bonds out have nothing to do without one.
template <class Test>
bool AnyBondWhere(const std::vector<uint8_t> &verdict, const std::vector<RuleContact> &contacts, Test test) {
  for (size_t k = 0; k < contacts.size(); k++)
    if (verdict[k] == kMetalContactBond && test(contacts[k]))
      return true;
  return false;
}

// Visits each contact of a metal and a non-metal, metal end first, among
// `contacts` (the k-th where `bonded(k)`) and `others` (index k past the
// contacts' count; `bonded` decides for them too).
template <class Bonded, class Visit>
void EachMetalNonMetalContact(const PairLimits &limits, const std::vector<RuleCandidate> &of,
                              const std::vector<RuleContact> &contacts, const std::vector<RuleContact> &others,
                              Bonded bonded, Visit visit) {
  uint32_t m = 0, x = 0;
  for (size_t k = 0; k < contacts.size() + others.size(); k++) {
    const RuleContact &t = k < contacts.size() ? contacts[k] : others[k - contacts.size()];
    if (bonded(k) && MetalEnd(limits, of, t, &m, &x))
      visit(t, m, x);
  }
}

} // namespace

namespace {

// Two metals' bonds beyond their bridged limit that lie among shorter
// contacts of the same two elements which non-metals bridge (second
// neighbours or left out as bridged) are left out where those outnumber
// them and every metal of the bonds touches a non-metal: the pair's one
// specification would bond them all, and a metal framework whose every
// metal its non-metals touch and mostly bridge is an interstitial
// compound's, whose metal-metal contacts are not counted (cementite's Fe-Fe,
// its one unbridged contact at 2.63 A among bridged ones from 2.47 A). A
// cluster's bonds outnumber its bridged edges, and a framework with metals
// no non-metal touches is bonded as a metal (Cr23C6). `bare`: per
// candidate, complete and without a bonded non-metal neighbour.
void JudgeBondsAmongBridged(const PairLimits &limits, const std::vector<RuleCandidate> &of,
                            const std::vector<uint8_t> &bare, const std::vector<RuleContact> &contacts,
                            std::vector<uint8_t> *verdict) {
  const size_t n = limits.Kinds();
  const auto pair = [&](const RuleContact &t) {
    const uint32_t a = of[t.i].kind, b = of[t.j].kind;
    return size_t(std::min(a, b)) * n + std::max(a, b);
  };
  const auto far = [&](size_t k) {
    const RuleContact &t = contacts[k];
    const float bridged = limits.BridgedLimit(of[t.i].kind, of[t.j].kind);
    return (*verdict)[k] == kMetalContactBond && bridged > 0.0f && t.d2 > bridged * bridged;
  };
  const auto out = [&](size_t k) {
    const RuleContact &t = contacts[k];
    return ((*verdict)[k] == kMetalContactSecondNeighbours || (*verdict)[k] == kMetalContactLeftOut) &&
           limits.Metal(of[t.i].kind) && limits.Metal(of[t.j].kind);
  };
  constexpr float kNone = std::numeric_limits<float>::infinity();
  std::vector<float> shortestOut(n * n, kNone), longestFar(n * n, 0.0f);
  for (size_t k = 0; k < contacts.size(); k++) {
    if (out(k))
      shortestOut[pair(contacts[k])] = std::min(shortestOut[pair(contacts[k])], contacts[k].d2);
    else if (far(k))
      longestFar[pair(contacts[k])] = std::max(longestFar[pair(contacts[k])], contacts[k].d2);
  }
  std::vector<size_t> bonds(n * n, 0), bridged(n * n, 0);
  std::vector<uint8_t> framework(n * n, 0);
  for (size_t k = 0; k < contacts.size(); k++) {
    const size_t p = pair(contacts[k]);
    if (far(k) && contacts[k].d2 > shortestOut[p]) {
      bonds[p]++;
      framework[p] |= bare[contacts[k].i] | bare[contacts[k].j];
    } else if (out(k) && contacts[k].d2 < longestFar[p]) {
      bridged[p]++;
    }
  }
  for (size_t k = 0; k < contacts.size(); k++) {
    const size_t p = pair(contacts[k]);
    if (far(k) && contacts[k].d2 > shortestOut[p] && bridged[p] > bonds[p] && !framework[p])
      (*verdict)[k] = kMetalContactLeftOut;
  }
}

} // namespace

void JudgeBridgedMetals(const PairLimits &limits, const std::vector<RuleCandidate> &of,
                        const std::vector<uint8_t> &complete, const std::vector<RuleContact> &contacts,
                        const std::vector<RuleContact> &others, std::vector<uint8_t> *verdict) {
  const auto far = [&](const RuleContact &t) {
    const float bridged = limits.BridgedLimit(of[t.i].kind, of[t.j].kind);
    return bridged > 0.0f && t.d2 > bridged * bridged && (complete[t.i] || complete[t.j]);
  };
  if (!AnyBondWhere(*verdict, contacts, far))
    return;
  // Each metal's non-metal neighbours, sorted: a contact that neither end
  // could judge is one whose image elsewhere was judged, and counts.
  PerCandidate<uint32_t> near(of.size());
  const auto bonded = [&](size_t k) {
    return k >= contacts.size() || (*verdict)[k] == kMetalContactBond || (*verdict)[k] == kMetalContactUnjudged;
  };
  EachMetalNonMetalContact(limits, of, contacts, others, bonded,
                           [&](const RuleContact &, uint32_t m, uint32_t) { near.Count(m); });
  near.Allocate();
  EachMetalNonMetalContact(limits, of, contacts, others, bonded,
                           [&](const RuleContact &, uint32_t m, uint32_t x) { near.Add(m, x); });
  for (uint32_t x = 0; x < of.size(); x++)
    std::sort(near.begin(x), near.end(x));
  for (size_t k = 0; k < contacts.size(); k++) {
    const RuleContact &t = contacts[k];
    if ((*verdict)[k] != kMetalContactBond || !far(t))
      continue;
    auto a = near.begin(t.i), ae = near.end(t.i), b = near.begin(t.j), be = near.end(t.j);
    while (a != ae && b != be && *a != *b)
      *a < *b ? ++a : ++b;
    if (a != ae && b != be)
      (*verdict)[k] = kMetalContactLeftOut;
  }
  std::vector<uint8_t> bare(of.size(), 0);
  for (uint32_t x = 0; x < of.size(); x++)
    bare[x] = complete[x] && of[x].kind != PairLimits::kNone && limits.Metal(of[x].kind) && near.Empty(x);
  JudgeBondsAmongBridged(limits, of, bare, contacts, verdict);
}

void JudgeFirstShells(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                      const std::vector<uint8_t> &complete, const std::vector<RuleContact> &contacts,
                      std::vector<uint8_t> *verdict) {
  const auto metals = [&](const RuleContact &t) { return limits.Metal(of[t.i].kind) && limits.Metal(of[t.j].kind); };
  // A contact's squared length as metal x measures it: scaled by
  // 2 r / (r + r') with the metallic radii for an unlike partner.
  const auto scaled = [&](uint32_t x, uint32_t y, float d2) {
    const uint32_t kx = of[x].kind, ky = of[y].kind;
    if (kx == ky)
      return d2;
    const double share = 2.0 * double(limits.Metallic(kx)) / (double(limits.Metallic(kx)) + double(limits.Metallic(ky)));
    return static_cast<float>(double(d2) * share * share);
  };
  // Each complete candidate's bonded metal contacts, as one list apiece:
  // the squared length, scaled, and whether the partner is unlike.
  struct Member {
    float d2, scaled;
    bool unlike;
  };
  PerCandidate<Member> shell(of.size());
  for (size_t k = 0; k < contacts.size(); k++)
    if ((*verdict)[k] == kMetalContactBond && metals(contacts[k]))
      for (const uint32_t x : {contacts[k].i, contacts[k].j})
        if (complete[x])
          shell.Count(x);
  shell.Allocate();
  if (shell.items.empty())
    return;
  for (size_t k = 0; k < contacts.size(); k++)
    if ((*verdict)[k] == kMetalContactBond && metals(contacts[k])) {
      const RuleContact &t = contacts[k];
      const bool unlike = of[t.i].kind != of[t.j].kind;
      if (complete[t.i])
        shell.Add(t.i, {t.d2, scaled(t.i, t.j, t.d2), unlike});
      if (complete[t.j])
        shell.Add(t.j, {t.d2, scaled(t.j, t.i, t.d2), unlike});
    }
  // Each shell's ends, per candidate of a molecule or per site of a
  // crystal: of its own element (unscaled, and at least its longest bond
  // to an unlike metal) and of unlike metals (scaled).
  constexpr float kNoEnd = std::numeric_limits<float>::infinity();
  const size_t nEnds = c.molecule ? of.size() : UsableSiteSize(c);
  // An end reaches kSameLengthSlack further: a site's images measure one
  // contact a few units in the last place apart.
  const auto widened = SameLengthReachSq;
  std::vector<float> likeEnd(nEnds, kNoEnd), unlikeEnd(nEnds, kNoEnd);
  std::vector<float> lengths;
  for (uint32_t x = 0; x < of.size(); x++) {
    if (shell.Empty(x))
      continue;
    lengths.clear();
    for (auto m = shell.begin(x); m != shell.end(x); ++m)
      lengths.push_back(m->d2);
    float like = widened(FirstShellEndSq(lengths));
    lengths.clear();
    for (auto m = shell.begin(x); m != shell.end(x); ++m)
      lengths.push_back(m->scaled);
    const float unlike = widened(FirstShellEndSq(lengths));
    for (auto m = shell.begin(x); m != shell.end(x); ++m)
      if (m->unlike && m->scaled <= unlike)
        like = std::max(like, widened(m->d2));
    const size_t e = c.molecule ? x : of[x].site;
    likeEnd[e] = std::min(likeEnd[e], like);
    unlikeEnd[e] = std::min(unlikeEnd[e], unlike);
  }
  for (size_t k = 0; k < contacts.size(); k++) {
    const RuleContact &t = contacts[k];
    if ((*verdict)[k] != kMetalContactBond || !metals(t))
      continue;
    const size_t ei = c.molecule ? t.i : of[t.i].site, ej = c.molecule ? t.j : of[t.j].site;
    const bool within = of[t.i].kind == of[t.j].kind
                            ? t.d2 <= likeEnd[ei] && t.d2 <= likeEnd[ej]
                            : scaled(t.i, t.j, t.d2) <= unlikeEnd[ei] && scaled(t.j, t.i, t.d2) <= unlikeEnd[ej];
    if (!within)
      (*verdict)[k] = kMetalContactBeyondGap;
  }
}

void JudgeCationShells(const CrystalRec &c, const PairLimits &limits, const std::vector<RuleCandidate> &of,
                       const std::vector<uint8_t> &complete, const std::vector<uint8_t> &covalent,
                       const std::vector<RuleContact> &contacts, const std::vector<RuleContact> &others,
                       std::vector<uint8_t> *verdict) {
  if (!limits.KeepsAnionContacts())
    return;
  const auto longOnly = [&](const RuleContact &t) {
    const float shorter = limits.ShortLimit(of[t.i].kind, of[t.j].kind);
    return shorter > 0.0f && t.d2 > shorter * shorter;
  };
  if (!AnyBondWhere(*verdict, contacts, longOnly))
    return;
  // Each complete candidate's bonded contacts of a metal and a non-metal,
  // as squared shares of their pairs' limits: a metal's shell of non-metals
  // and a non-metal's of metals.
  PerCandidate<float> shell(of.size());
  const auto bonded = [&](size_t k) { return k >= contacts.size() || (*verdict)[k] == kMetalContactBond; };
  const auto share = [&](const RuleContact &t) {
    const double limit = limits.Limit(of[t.i].kind, of[t.j].kind);
    return static_cast<float>(double(t.d2) / (limit * limit));
  };
  // A non-metal in contact with a non-metal (any image of its site) has no
  // shell of metals alone.
  const size_t nEnds = c.molecule ? of.size() : UsableSiteSize(c);
  std::vector<uint8_t> open(nEnds, 0);
  for (uint32_t x = 0; x < of.size(); x++)
    if (covalent[x])
      open[c.molecule ? x : of[x].site] = 1;
  const auto ownsShell = [&](uint32_t e) { return complete[e] && !open[c.molecule ? e : of[e].site]; };
  EachMetalNonMetalContact(limits, of, contacts, others, bonded, [&](const RuleContact &, uint32_t m, uint32_t x) {
    for (const uint32_t e : {m, x})
      if (ownsShell(e))
        shell.Count(e);
  });
  shell.Allocate();
  EachMetalNonMetalContact(limits, of, contacts, others, bonded, [&](const RuleContact &t, uint32_t m, uint32_t x) {
    for (const uint32_t e : {m, x})
      if (ownsShell(e))
        shell.Add(e, share(t));
  });
  // Each shell's end, per candidate of a molecule or per site of a crystal.
  constexpr float kNoEnd = std::numeric_limits<float>::infinity();
  // A non-metal's shell counts only with more members than a gap needs
  // before it: a lone water's O beside one cation has no shell to judge.
  std::vector<float> end(nEnds, kNoEnd);
  std::vector<float> shares;
  for (uint32_t x = 0; x < of.size(); x++)
    if (!shell.Empty(x) && (limits.Metal(of[x].kind) || size_t(shell.end(x) - shell.begin(x)) > kCationShellLeast)) {
      shares.assign(shell.begin(x), shell.end(x));
      float &kept = end[c.molecule ? x : of[x].site];
      kept = std::min(kept, ShellEndSq(shares, kCationShellGapFactor, kCationShellLeast));
    }
  // Whether the contact lies beyond the shell of end e, compared as lengths
  // with the end reaching kSameLengthSlack further; a shell no complete
  // image shows reads as `unknown`.
  const auto beyond = [&](const RuleContact &t, uint32_t e, bool unknown) {
    const float e2 = end[c.molecule ? e : of[e].site];
    if (e2 == kNoEnd)
      return unknown;
    const double limit = limits.Limit(of[t.i].kind, of[t.j].kind);
    const double reach = std::sqrt(double(e2)) * limit + kSameLengthSlack;
    return double(t.d2) > reach * reach;
  };
  // A contact is cut where the gap ends the metal's shell before it, and
  // the non-metal's shell of metals too where it has one: a non-metal whose
  // few nearer metals leave its shell open reaches its next ones
  // (cotunnite's Cl2, three Pb at 2.85-3.08 A and two at 3.63 A, no gap
  // after the fourth).
  uint32_t m = 0, x = 0;
  for (size_t k = 0; k < contacts.size(); k++) {
    const RuleContact &t = contacts[k];
    if ((*verdict)[k] == kMetalContactBond && longOnly(t) && MetalEnd(limits, of, t, &m, &x) && beyond(t, m, false) &&
        (open[c.molecule ? x : of[x].site] || beyond(t, x, true)))
      (*verdict)[k] = kMetalContactBeyondGap;
  }
}
