// The automatic bond search and the Distance Explorer search.
#include "AutoBonds.h"

#include "BondSearch.h"
#include "CancelPoll.h"
#include "CovalentRadii.h"
#include "Geometry.h"
#include "HostServices.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "StructureArrays.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <new>
#include <numeric>

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
    {TwoCharsToShort("O"), TwoCharsToShort("O"), 0.0f, 1.63f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("S"), TwoCharsToShort("S"), 0.0f, 2.26f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Si"), TwoCharsToShort("O"), 0.0f, 1.73f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Al"), TwoCharsToShort("O"), 0.0f, 1.82f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Na"), TwoCharsToShort("O"), 0.0f, 3.00f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Mg"), TwoCharsToShort("O"), 0.0f, 2.00f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("K"), TwoCharsToShort("O"), 0.0f, 3.40f, 0, kRGBBlack, kRGBBlack},
    {TwoCharsToShort("Ti"), TwoCharsToShort("O"), 0.0f, 2.00f, 0, kRGBBlack, kRGBBlack},
};

namespace {

bool SamePair(ElementCode a, ElementCode b, ElementCode x, ElementCode y) {
  return (a == x && b == y) || (a == y && b == x);
}

void ElementChars(ElementCode code, char out[2]) { ShortToTwoChars(code, out); }

// The automatic rule for one pair of elements: the longest contact it
// allows (kAutoBondRadiusFactor times the covalent radii's sum, or
// kAutoBondMetalFactor for two metals in a structure that holds a non-metal;
// for a metal and a non-metal also kAutoBondRadiusFactor times the ions'
// radii's sum; the row of `kDefSpecs` where longer).
float AutoPairLimit(const CovalentRadiusRow &a, const CovalentRadiusRow &b, bool structureHasNonMetal) {
  const bool metals = a.metal && b.metal;
  const double factor = metals && structureHasNonMetal ? kAutoBondMetalFactor : kAutoBondRadiusFactor;
  float limit = static_cast<float>((double(a.radius) + double(b.radius)) * factor);
  if (a.metal != b.metal)
    limit = std::max(limit, static_cast<float>((double(a.ionic) + double(b.ionic)) * kAutoBondRadiusFactor));
  for (const BondSpec &row : kDefSpecs)
    if (SamePair(row.elementA, row.elementB, a.element, b.element))
      limit = std::max(limit, row.maxLength);
  return limit;
}

// The shortest contact of a pair of elements: no bond is that short. A
// metal and a non-metal take the smaller of their covalent and ionic radii's
// sums, as their limit may take the larger: a small, highly charged cation
// sits closer to its anion than its covalent radius says (uranyl's U-O
// 1.76 A, 0.67 of the covalent sum).
float AutoPairShortest(const CovalentRadiusRow &a, const CovalentRadiusRow &b) {
  double sum = double(a.radius) + double(b.radius);
  if (a.metal != b.metal)
    sum = std::min(sum, double(a.ionic) + double(b.ionic));
  return static_cast<float>(sum * kAutoBondShortestFactor);
}

// The automatic rule's limits for every pair of the elements the atoms carry
// (through their atom types), in a table over the distinct elements.
class PairLimits {
public:
  static constexpr uint32_t kNone = UINT32_MAX;

  explicit PairLimits(const CrystalRec &c) {
    const size_t nTypes = UsableSphereSize(c);
    typeKind_.assign(nTypes, kNone);
    std::vector<uint8_t> used(nTypes, 0);
    for (size_t i = 0; i < UsableAtomSize(c); i++)
      if (c.atoms[i].atomType < nTypes)
        used[c.atoms[i].atomType] = 1;
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
      const auto known = std::find_if(rows_.begin(), rows_.end(), [e](const CovalentRadiusRow &r) { return r.element == e; });
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
      }
  }
  // The element of an atom: an index into the table, or kNone for an atom
  // that is never in contact (a placeholder, an element the radii table
  // lacks, a missing atom type).
  uint32_t KindOfAtom(const CrystalRec &c, uint32_t atom) const {
    const uint32_t type = c.atoms[atom].atomType;
    return type < typeKind_.size() ? typeKind_[type] : kNone;
  }
  ElementCode Element(uint32_t kind) const { return rows_[kind].element; }
  bool Metal(uint32_t kind) const { return rows_[kind].metal; }
  float Electronegativity(uint32_t kind) const { return rows_[kind].electronegativity; }
  float Limit(uint32_t a, uint32_t b) const { return limits_[size_t(a) * rows_.size() + b]; }
  float ShortestSq(uint32_t a, uint32_t b) const { return shortestSq_[size_t(a) * rows_.size() + b]; }
  float Shortest(uint32_t a, uint32_t b) const { return AutoPairShortest(rows_[a], rows_[b]); }
  float Longest() const { return longest_; }
  size_t Kinds() const { return rows_.size(); }
  // Whether atoms of these elements may be second neighbours: one is a
  // metal, and some element present is a non-metal more electronegative
  // than both.
  bool MaySecondNeighbours(uint32_t a, uint32_t b) const { return maySecond_[size_t(a) * rows_.size() + b] != 0; }
  bool AnySecondNeighbours() const { return anySecond_ != 0; }
  // The elements (not placeholders) the radii table lacks: never in contact.
  const std::vector<ElementCode> &Unknown() const { return unknown_; }

private:
  std::vector<CovalentRadiusRow> rows_;
  std::vector<uint32_t> typeKind_;
  std::vector<float> limits_;
  std::vector<float> shortestSq_;
  std::vector<uint8_t> maySecond_;
  uint8_t anySecond_ = 0;
  std::vector<ElementCode> unknown_;
  float longest_ = 0.0f;
};

// What the search reads of a candidate's atom.
struct CandidateOf {
  uint32_t site = 0;
  uint32_t kind = 0;
};

// Statistics of one specification made by the automatic search.
struct SpecStats {
  // In double: a float sum of hundreds of thousands of lengths drifts
  // below the shortest of them.
  double sum = 0.0;
  float shortest = kAutoBondNoShortest;
  float longest = 0.0f;
  int32_t count = 0;
};

void WriteCoincidentAtomsWarning(const CrystalRec &c, uint32_t a, uint32_t b) {
  const AsymmetricUnitRecord &sa = c.sites[c.atoms[a].site];
  const AsymmetricUnitRecord &sb = c.sites[c.atoms[b].site];
  char ea[2], eb[2];
  ElementChars(sa.elements[0], ea);
  ElementChars(sb.elements[0], eb);
  char line[160];
  std::snprintf(line, sizeof line, "  no. %ld \"%s\" (%c%c) ...and... no. %ld \"%s\" (%c%c)", long(a), sa.label, ea[0],
                ea[1], long(b), sb.label, eb[0], eb[1]);
  FWriteColor("Warning: two atoms found with the same coordinates:", kRGBRed);
  FWriteColor(line, kRGBRed);
}

// The new maximum for a contact r: r plus 5 % to the nearest thousandth,
// but never beyond the pair's limit.
float SpecMaximum(float r, float limit) {
  // Held in 64 bits: a 16-bit count would wrap for contacts beyond 32.7 A.
  const int64_t whole = std::llround(double(r) * kAutoBondMaximumMargin * kAutoBondThousandths);
  return std::min(limit, static_cast<float>(double(whole) / kAutoBondThousandths));
}

// A contact of two candidates (positions in the candidate list), squared
// length.
struct Contact {
  uint32_t i = 0;
  uint32_t j = 0;
  float d2 = 0.0f;
};

// What became of a metal's contact.
constexpr uint8_t kMetalContactBond = 0;
constexpr uint8_t kMetalContactSecondNeighbours = 1;
// Neither end has every neighbour among the candidates: an image of the
// contact with one is judged instead.
constexpr uint8_t kMetalContactUnjudged = 2;

// In a crystal, the candidates of the block's central cell, whose every
// neighbour within the search distance is among the candidates: the block
// reaches that far beyond the central cell (TurboExtendCellRange).
void MarkCentralImages(CrystalRec *crystal, float searchDistance, const std::vector<TurboAtom> &all,
                       std::vector<uint8_t> *central) {
  int32_t shift[3];
  float inverse[9];
  if (!TurboCentreShift(crystal, searchDistance, shift) || !Inv3x3Mat(crystal->orientationMatrix, inverse)) {
    std::fill(central->begin(), central->end(), 0);
    return;
  }
  for (size_t i = 0; i < all.size(); i++) {
    float f[3];
    MatMul(inverse, all[i].xyz, f);
    bool inside = true;
    for (int k = 0; k < 3; k++)
      inside = inside && std::fabs(double(f[k]) - shift[k] - 0.5) <= 0.5 + kCellWindowSlack;
    (*central)[i] = inside ? 1 : 0;
  }
}

// The verdict on each contact of a metal that may be second neighbours
// (`contacts`; `others` are the metals' other contacts with non-metals): a
// metal and another atom that share a non-metal neighbour more
// electronegative than both, each within its limit of that neighbour and
// closer to it than to each other, are second neighbours (a cation and an
// oxyanion's centre, two cations around one anion). Judged on the contacts
// the limits give, so the order of the atoms does not matter. A contact is
// judged where one end has every neighbour among the candidates
// (`complete`): the shared neighbour is then among the candidates too, and
// the metal end's contact with it among the contacts.
std::vector<uint8_t> JudgeMetalContacts(const CrystalRec &c, const PairLimits &limits, const std::vector<TurboAtom> &all,
                                        const std::vector<uint8_t> &complete, const std::vector<Contact> &contacts,
                                        const std::vector<Contact> &others) {
  // Every candidate's contacts (those judged and the metals' other contacts
  // with non-metals), as one list per candidate.
  std::vector<uint32_t> start(all.size() + 1, 0);
  for (const std::vector<Contact> *list : {&contacts, &others})
    for (const Contact &t : *list) {
      start[t.i + 1]++;
      start[t.j + 1]++;
    }
  for (size_t i = 0; i < all.size(); i++)
    start[i + 1] += start[i];
  std::vector<uint32_t> fill(start.begin(), start.end() - 1);
  std::vector<uint32_t> neighbour(start.back());
  std::vector<float> distanceSq(start.back());
  for (const std::vector<Contact> *list : {&contacts, &others})
    for (const Contact &t : *list) {
      neighbour[fill[t.i]] = t.j;
      distanceSq[fill[t.i]++] = t.d2;
      neighbour[fill[t.j]] = t.i;
      distanceSq[fill[t.j]++] = t.d2;
    }
  std::vector<uint8_t> verdict(contacts.size(), kMetalContactUnjudged);
  for (size_t k = 0; k < contacts.size(); k++) {
    const Contact &t = contacts[k];
    const uint32_t ki = limits.KindOfAtom(c, all[t.i].atom), kj = limits.KindOfAtom(c, all[t.j].atom);
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
    for (uint32_t n = start[m]; n < start[m + 1]; n++) {
      const uint32_t y = neighbour[n];
      const uint32_t ky = limits.KindOfAtom(c, all[y].atom);
      if (y == x || !(distanceSq[n] < t.d2) || limits.Metal(ky) || !(limits.Electronegativity(ky) > above))
        continue;
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

// The longest specification maximum, in thousandths, that stays below a
// second-neighbour contact of this length.
float SpecMaximumBelow(float r) {
  const double below = std::floor((double(r) - kSecondNeighbourGap) * kAutoBondThousandths);
  return static_cast<float>(below / kAutoBondThousandths);
}

} // namespace

// ---- The automatic rule -------------------------------------------------------------

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

// Places between two readings of the clock in the automatic search.
constexpr int64_t kAutoBondClockEvery = 64;

// ---- Merging a specification ------------------------------------------------------

int32_t AutoAddBondSpecs(CrystalRec *crystal, BondSpec spec) {
  if (!crystal)
    return -1;
  CrystalRec &c = *crystal;
  const int32_t count = std::clamp<int32_t>(c.bondSpecCount, 0, kMaxBondSpecs);
  if (count >= kMaxBondSpecs)
    return -1;
  for (int32_t k = 0; k < count; k++) {
    BondSpec &old = c.bondSpecs[static_cast<size_t>(k)];
    if (SamePair(old.elementA, old.elementB, spec.elementA, spec.elementB)) {
      if (spec.maxLength > old.maxLength)
        old.maxLength = spec.maxLength;
      old.minLength = std::max(0.0f, std::min(old.minLength, spec.minLength));
      return k;
    }
  }
  BondSpec &added = c.bondSpecs[static_cast<size_t>(count)];
  added = BondSpec{};
  added.elementA = spec.elementA;
  added.elementB = spec.elementB;
  added.minLength = std::max(0.0f, spec.minLength);
  added.maxLength = spec.maxLength;
  added.style = c.defaultBondStyle;
  added.colour1 = c.bondColor1;
  added.colour2 = c.bondColor2;
  c.bondSpecCount = count + 1;
  return count;
}

// ---- Automatic bond search -------------------------------------------------------------
//
// Every candidate (every atom of a molecule; in a crystal every image over a
// block of cells large enough for the longest possible bond) is queried once
// with the longest limit D; each pair of candidates is judged once, by the
// query of the earlier one, against its own limit.

void AutoBondSearch(CrystalRec *crystal, const std::vector<uint8_t> *givenSites) {
  if (!crystal || UsableAtomSize(*crystal) < 2)
    return;
  CrystalRec &c = *crystal;
  const uint64_t start = Microseconds();
  const bool progress = gShowProgress != 0;
  if (progress)
    WriteStatus("Preparing auto bond generation...");
  const size_t nSites = UsableSiteSize(c);
  const size_t nSpheres = UsableSphereSize(c);
  if (nSites == 0 || nSpheres == 0) {
    if (progress)
      CloseStatus();
    return;
  }

  c.givenPolyModes.clear();
  for (size_t s = 0; s < nSites; s++) {
    c.sites[s].coordination = 0;
    c.sites[s].polyMode = 0;
  }
  TurboRemoveBonds(crystal);
  c.bondSpecCount = 0;
  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs) {
    if (progress)
      CloseStatus();
    return;
  }

  // Ends a search that ran out of memory: true when the failure passes on.
  auto outOfMemory = [&] {
    if (progress)
      CloseStatus();
    return MemoryFailuresPass();
  };
  // Every pair's limit, the longest of them, and the alternative positions.
  std::optional<PairLimits> made;
  std::optional<SiteAlternatives> alternativesMade;
  try {
    made.emplace(c);
    alternativesMade.emplace(c);
  } catch (const std::bad_alloc &) {
    if (outOfMemory())
      throw;
    return;
  }
  const PairLimits &limits = *made;
  const SiteAlternatives &alternatives = *alternativesMade;
  const bool anyAlternative = alternatives.Any();
  for (const ElementCode e : limits.Unknown()) {
    char chars[2];
    ElementChars(e, chars);
    char line[120];
    std::snprintf(line, sizeof line, "No covalent radius is known for %c%c: its atoms get no automatic bond.", chars[0],
                  chars[1]);
    FWrite(line);
  }
  const std::vector<uint8_t> *given = givenSites && !givenSites->empty() ? givenSites : nullptr;
  const float searchDistance = limits.Longest();

  // Ends a search that found nothing to do or ran out of memory.
  auto giveUp = [&] {
    TurboFreeCandidates();
    if (progress)
      CloseStatus();
  };
  const bool gathered = c.molecule ? TurboGetIndexedAtoms(crystal, 0, static_cast<int32_t>(UsableAtomSize(c)) - 1)
                                   : TurboExtendCellRange(crystal, 0, static_cast<int32_t>(nSites) - 1, searchDistance);
  if (!gathered || gTurboAtoms.empty()) {
    giveUp();
    return;
  }
  // The candidates at one place are queried once (BondSearch.h): a list of
  // atoms written many times over costs its places, not its copies squared.
  TurboPlaces places;
  if (!TurboGroupPlaces(&places)) {
    giveUp();
    return;
  }
  const size_t n = places.all.size();
  std::vector<int32_t> contacts;
  std::array<SpecStats, kMaxBondSpecs> stats{};
  try {
    contacts.assign(n, 0);
  } catch (const std::bad_alloc &) {
    giveUp();
    if (MemoryFailuresPass())
      throw;
    return;
  }
  if (!TurboSortByXYZ()) {
    giveUp();
    return;
  }

  const float searchDistanceSq = searchDistance * searchDistance;
  const size_t nPlaces = gTurboAtoms.size();
  // Atoms crowded beyond any matter (kCrowdedVolumePerPlace) make no
  // contact; found before the search so that both ends of a pair agree. In
  // a crystal an atom is crowded where any of its images is: one at the
  // block's edge sees only part of its neighbours. A place whose members are
  // all crowded is not queried.
  const double sphere = 4.0 / 3.0 * M_PI * double(searchDistance) * searchDistance * searchDistance;
  const size_t crowdLimit = std::max(kMinCrowdedPlaces, static_cast<size_t>(sphere / kCrowdedVolumePerPlace));
  std::vector<uint8_t> crowdedAtom, skipPlace;
  uint64_t crowdedAtoms = 0;
  try {
    crowdedAtom.assign(UsableAtomSize(c), 0);
    skipPlace.assign(nPlaces, 0);
  } catch (const std::bad_alloc &) {
    giveUp();
    if (MemoryFailuresPass())
      throw;
    return;
  }
  // The cancel key is heard between places, in the count of the crowded
  // places and in the search; a stopped search leaves no bonds, no
  // specifications and no coordination, and says so unless an earlier stage
  // of the command was stopped (and said so).
  const bool stoppedBefore = LongCommandCancelled() && !ShowingAfterStop::Active();
  CancelPoll cancel(kAutoBondClockEvery);
  bool cancelled = false;
  if (nPlaces > crowdLimit) {
    for (size_t p = 0; p < nPlaces && !(cancelled = cancelled || cancel.Step()); p++)
      if (TurboHoldsMoreThan(gTurboAtoms[p].xyz, searchDistance, crowdLimit))
        for (uint32_t m = places.start[p]; m < places.start[p + 1]; m++) {
          uint8_t &flag = crowdedAtom[places.all[places.members[m]].atom];
          crowdedAtoms += flag == 0;
          flag = 1;
        }
    for (size_t p = 0; p < nPlaces && crowdedAtoms > 0; p++) {
      skipPlace[p] = 1;
      for (uint32_t m = places.start[p]; m < places.start[p + 1] && skipPlace[p]; m++)
        skipPlace[p] = crowdedAtom[places.all[places.members[m]].atom];
    }
  }
  // Each candidate's site and kind (kNone for a crowded atom, which makes no
  // contact), noted in one pass over the atom records: the search below
  // reads them for every pair it looks at, near in space but far apart
  // among the records.
  std::vector<CandidateOf> of;
  try {
    of.resize(n);
  } catch (const std::bad_alloc &) {
    giveUp();
    if (MemoryFailuresPass())
      throw;
    return;
  }
  for (size_t i = 0; i < n; i++) {
    const uint32_t atom = places.all[i].atom;
    of[i].site = c.atoms[atom].site;
    of[i].kind = crowdedAtom[atom] ? PairLimits::kNone : limits.KindOfAtom(c, atom);
  }
  // One contact of candidates i and j (positions in places.all): counted,
  // bonded in a molecule, merged into its pair's specification. False when
  // the specification table is full. The sites' coordination, the most
  // contacts of any of their candidates, is taken from the counts once the
  // contacts are made.
  auto commit = [&](uint32_t i, uint32_t j, float d2) {
    const uint32_t a = places.all[i].atom, b = places.all[j].atom;
    const uint32_t sa = of[i].site, sb = of[j].site;
    const uint32_t ka = of[i].kind, kb = of[j].kind;
    contacts[i]++;
    contacts[j]++;
    if (c.molecule) {
      AddAtomToBondsList(&c.atoms[a], b);
      AddAtomToBondsList(&c.atoms[b], a);
    }
    const float r = std::sqrt(d2);
    BondSpec spec;
    spec.elementA = limits.Element(ka);
    spec.elementB = limits.Element(kb);
    spec.minLength = limits.Shortest(ka, kb);
    spec.maxLength = SpecMaximum(r, limits.Limit(ka, kb));
    const int32_t index = AutoAddBondSpecs(crystal, spec);
    if (index < 0) {
      FWriteColor("Maximum number of bond specifications exceeded!", kRGBRed);
      return false;
    }
    if (sa == sb)
      c.sites[sa].polyMode = kSelfBondedPolyMode;
    SpecStats &st = stats[static_cast<size_t>(index)];
    st.count++;
    st.sum += r;
    st.shortest = std::min(st.shortest, r);
    st.longest = std::max(st.longest, r);
    return true;
  };
  // The contacts of a metal that may be second neighbours wait until all
  // are known; a metal's contacts with non-metals are kept to look the
  // shared neighbours up in.
  std::vector<Contact> deferred, anionContacts;
  bool deferFailed = false;
  auto keepOrFail = [&](std::vector<Contact> &list, uint32_t i, uint32_t j, float d2) {
    try {
      list.push_back({i, j, d2});
    } catch (const std::bad_alloc &) {
      deferFailed = true;
    }
    return !deferFailed;
  };
  const float step = 100.0f / static_cast<float>(nPlaces);
  bool announced = false;
  ElementCode lastAnnounced = kBlankElement;
  // Pairs at one place: the first is named, all are counted.
  uint64_t coincident = 0;
  // The members of a place that make contacts.
  std::vector<uint32_t> capable;
  for (size_t pi = 0; pi < nPlaces && !deferFailed && !(cancelled = cancelled || cancel.Step()); pi++) {
    // Set when the specification table is full: the place's search ends.
    bool full = false;
    const TurboAtom ci = gTurboAtoms[pi];
    capable.clear();
    for (uint32_t m = places.start[pi]; m < places.start[pi + 1]; m++) {
      const uint32_t atom = places.all[places.members[m]].atom;
      if (limits.KindOfAtom(c, atom) == PairLimits::kNone)
        continue;
      capable.push_back(atom);
    }
    // The pairs within the place: all at one place, none of them in contact;
    // counted without walking them, unless the structure has alternative
    // positions: then the pairs are walked and the alternatives left out.
    if (capable.size() >= 2) {
      uint64_t pairs = uint64_t{capable.size()} * (capable.size() - 1) / 2;
      if (anyAlternative)
        for (size_t x = 0; x + 1 < capable.size(); x++)
          for (size_t y = x + 1; y < capable.size(); y++)
            pairs -= !alternatives.AtomsMayBond(capable[x], capable[y]);
      if (pairs > 0 && coincident == 0)
        WriteCoincidentAtomsWarning(c, capable[0], capable[1]);
      coincident += pairs;
    }
    const int32_t hits = capable.empty() || skipPlace[pi] ? 0 : TurboBoxAtoms(ci.xyz, searchDistance);
    for (int32_t h = 0; h < hits && !full && !deferFailed; h++) {
      const size_t pj = gBoxedAtoms[static_cast<size_t>(h)];
      if (pj <= pi || skipPlace[pj])
        continue;
      const TurboAtom &cj = gTurboAtoms[pj];
      const float dx = cj.xyz[0] - ci.xyz[0];
      const float dy = cj.xyz[1] - ci.xyz[1];
      const float dz = cj.xyz[2] - ci.xyz[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      if (d2 > searchDistanceSq) // beyond every limit
        continue;
      for (uint32_t mi = places.start[pi]; mi < places.start[pi + 1] && !full; mi++) {
        const uint32_t i = places.members[mi];
        const uint32_t a = places.all[i].atom;
        const uint32_t sa = of[i].site;
        const uint32_t ka = of[i].kind;
        if (ka == PairLimits::kNone)
          continue;
        for (uint32_t mj = places.start[pj]; mj < places.start[pj + 1]; mj++) {
          const uint32_t j = places.members[mj];
          const uint32_t b = places.all[j].atom;
          const uint32_t kb = of[j].kind;
          const uint32_t sb = of[j].site;
          if (kb == PairLimits::kNone || (anyAlternative && !alternatives.AtomsMayBond(a, b)))
            continue;
          if (d2 < kOverlapDistanceSq) { // atoms at one place make no contact
            if (d2 < kCoincidentDistanceSq && coincident == 0)
              WriteCoincidentAtomsWarning(c, a, b);
            coincident++;
            continue;
          }
          if (given && sa < given->size() && sb < given->size() && (*given)[sa] && (*given)[sb])
            continue;
          const float limit = limits.Limit(ka, kb);
          if (!(d2 <= limit * limit))
            continue;
          if (d2 < limits.ShortestSq(ka, kb)) // closer than any bond
            continue;
          if (limits.MaySecondNeighbours(ka, kb)) {
            // Judged once every contact is known.
            if (!keepOrFail(deferred, i, j, d2))
              break;
            continue;
          }
          if (limits.AnySecondNeighbours() && limits.Metal(ka) != limits.Metal(kb) &&
              !keepOrFail(anionContacts, i, j, d2))
            break;
          if (!commit(i, j, d2)) {
            full = true;
            break;
          }
        }
      }
    }
    if (progress) {
      const float percent = static_cast<float>(pi) * step;
      const uint32_t a = ci.atom;
      const uint32_t ka = limits.KindOfAtom(c, a);
      const ElementCode ea = ka == PairLimits::kNone ? c.sites[c.atoms[a].site].elements[0] : limits.Element(ka);
      if (!announced || ea != lastAnnounced) {
        char chars[2];
        ElementChars(ea, chars);
        char text[64];
        std::snprintf(text, sizeof text, "Generating bonds (from %c%c)...", chars[0], chars[1]);
        WriteProgress(text, percent);
        announced = true;
        lastAnnounced = ea;
      } else {
        WriteProgress("", percent);
      }
    }
  }
  // Each site's coordination: the most contacts of its candidates so far.
  auto noteCoordination = [&] {
    for (size_t i = 0; i < n; i++)
      if (contacts[i] > 0) {
        uint32_t &coordination = c.sites[of[i].site].coordination;
        coordination = std::max(coordination, static_cast<uint32_t>(contacts[i]));
      }
  };
  noteCoordination();
  if (cancelled) {
    TurboEndCancelledSearch(crystal, !stoppedBefore);
    c.bondSpecCount = 0;
    for (size_t s = 0; s < nSites; s++) {
      c.sites[s].coordination = 0;
      c.sites[s].polyMode = 0;
    }
    if (progress)
      CloseStatus();
    return;
  }
  TurboFreeCandidates();
  if (deferFailed) {
    if (outOfMemory())
      throw std::bad_alloc();
    return;
  }

  // The contacts of metals: second neighbours are left out, the rest made.
  if (!deferred.empty()) {
    std::vector<uint8_t> verdict;
    try {
      std::vector<uint8_t> complete(places.all.size(), 1);
      if (!c.molecule)
        MarkCentralImages(crystal, searchDistance, places.all, &complete);
      verdict = JudgeMetalContacts(c, limits, places.all, complete, deferred, anionContacts);
    } catch (const std::bad_alloc &) {
      if (outOfMemory())
        throw;
      return;
    }
    // Per pair of elements, the shortest second-neighbour contact.
    const size_t kinds = limits.Kinds();
    std::vector<float> shortestLeftOut(kinds * kinds, 0.0f);
    for (size_t k = 0; k < deferred.size(); k++) {
      const Contact &t = deferred[k];
      if (verdict[k] == kMetalContactBond) {
        if (!commit(t.i, t.j, t.d2))
          break;
      } else if (verdict[k] == kMetalContactSecondNeighbours) {
        const uint32_t ka = limits.KindOfAtom(c, places.all[t.i].atom);
        const uint32_t kb = limits.KindOfAtom(c, places.all[t.j].atom);
        const float r = std::sqrt(t.d2);
        for (const size_t cell : {size_t(ka) * kinds + kb, size_t(kb) * kinds + ka})
          if (shortestLeftOut[cell] == 0.0f || r < shortestLeftOut[cell])
            shortestLeftOut[cell] = r;
      }
    }
    noteCoordination();
    // A specification of a pair that also has second neighbours ends below
    // them where all of them are longer than its bonds; otherwise the bond
    // search of a crystal bonds those within its range, and the Log says so.
    for (size_t ka = 0; ka < kinds; ka++)
      for (size_t kb = ka; kb < kinds; kb++) {
        const float leftOut = shortestLeftOut[ka * kinds + kb];
        if (leftOut == 0.0f)
          continue;
        const ElementCode ea = limits.Element(uint32_t(ka)), eb = limits.Element(uint32_t(kb));
        for (int32_t k = 0; k < c.bondSpecCount && k < kMaxBondSpecs; k++) {
          BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
          if (!SamePair(spec.elementA, spec.elementB, ea, eb))
            continue;
          const float below = SpecMaximumBelow(leftOut);
          if (stats[static_cast<size_t>(k)].longest <= below) {
            spec.maxLength = std::min(spec.maxLength, below);
          } else if (!c.molecule) {
            char ca[2], cb[2];
            ElementChars(ea, ca);
            ElementChars(eb, cb);
            char line[200];
            std::snprintf(line, sizeof line,
                          "%c%c - %c%c second neighbours from %.3f A lie among the pair's bonds (to %.3f A) and are "
                          "bonded with them",
                          ca[0], ca[1], cb[0], cb[1], double(leftOut), double(stats[static_cast<size_t>(k)].longest));
            FWriteColor(line, kRGBRed);
          }
        }
      }
  }

  // A crystal's bonds come from the bond search, which reports the pairs it
  // left out of the plot range itself.
  if (crowdedAtoms > 0) {
    char within[32];
    std::snprintf(within, sizeof within, "%.2f", double(searchDistance));
    FWriteColor(GroupedCount(crowdedAtoms) + " atom(s) lie among more than " + GroupedCount(crowdLimit) +
                    " places within " + within + " A, closer than any matter packs its atoms: they were left unbonded.",
                kRGBRed);
  }
  if (!c.molecule)
    TurboGenerateBonds(crystal);
  else
    ReportCoincidentPairs(coincident);
  if (progress)
    CloseStatus();
  const uint64_t elapsed = Microseconds() - start;

  FWrite("Automatic bond search complete");
  long total = 0;
  for (int32_t k = 0; k < c.bondSpecCount && k < kMaxBondSpecs; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    const SpecStats &st = stats[static_cast<size_t>(k)];
    char ea[2], eb[2];
    ElementChars(spec.elementA, ea);
    ElementChars(spec.elementB, eb);
    const double mean = st.count > 0 ? st.sum / static_cast<double>(st.count) : 0.0;
    char line[160];
    std::snprintf(line, sizeof line, "%5ld %c%c - %c%c bonds ... from %6.3f to %6.3f A (mean %6.3f A)", long(st.count),
                  ea[0], ea[1], eb[0], eb[1], double(st.shortest), double(st.longest), mean);
    FWrite(line);
    total += st.count;
  }
  // A search faster than the clock's resolution is reported as taking one
  // microsecond rather than as an infinite rate.
  const double micros = double(std::max<uint64_t>(elapsed, 1));
  char line[160];
  std::snprintf(line, sizeof line, "Total of %ld bonds generated in %.2f secs (%.0f bonds/sec)", total,
                double(elapsed) * 1e-6, double(total) * 1e6 / micros);
  FWrite(line);
}

// ---- Distance Explorer ------------------------------------------------------------------

namespace {

// A site coordinate brought into [0, 1). A query point must lie inside the
// block's central cell: a coordinate of exactly 1 would put it on the cell's
// upper face, beyond which the block holds no images.
float BringIntoCell(float x) {
  if (!std::isfinite(x))
    return 0.0f;
  x -= std::floor(x);
  return x >= 1.0f ? 0.0f : x; // a tiny negative value can round up to 1
}

// The result array grows in steps of the expected number of distances, but
// never reserves more than this many entries at a time.
constexpr size_t kMaxDistanceExplorerStep = size_t{1} << 22;

void EndDistanceSearch() {
  TurboFreeCandidates();
  CloseStatus();
  SetCocoaCursor(kArrowCursor);
}

} // namespace

std::optional<std::vector<DistanceExplorerResult>>
DoDistanceExplorerSearch(CrystalRec *crystal, const uint32_t *from, uint32_t fromCount, const ElementCode *toElements,
                         uint32_t toCount, float minimum, float maximum, uint32_t *resultCount,
                         float *percentSearched) {
  if (!crystal || UsableAtomSize(*crystal) < 2 || !from || fromCount == 0 || !toElements || toCount == 0)
    return std::nullopt;
  CrystalRec &c = *crystal;
  const size_t nSites = UsableSiteSize(c);
  const size_t nAtoms = UsableAtomSize(c);
  if (nSites == 0)
    return std::nullopt;

  SetCocoaCursor(kCmdDotCursor);
  WriteStatus("Searching distances (press Esc to end)");
  if (resultCount)
    *resultCount = 0;
  if (percentSearched)
    *percentSearched = 0.0f;
  float inverse[9];
  Inv3x3Mat(c.orientationMatrix, inverse);

  // The expected number of distances per To element, the growth step.
  double estimate = double(nAtoms);
  int32_t shift[3] = {0, 0, 0};
  if (!c.molecule) {
    estimate = double(std::max<int32_t>(c.atomsPerCell, 0));
    const float edges[3] = {c.a, c.b, c.c};
    for (float e : edges)
      estimate *= std::ceil(2.0 * double(maximum) / double(e)) + 1.0;
    // The query points go in the central cell of the block searched: the
    // shift comes from the same d-spacings as the block, since a shift from
    // a sin(beta) sin(gamma) and the like misses neighbours in oblique cells.
    if (!TurboCentreShift(crystal, maximum, shift)) {
      EndDistanceSearch();
      return std::nullopt;
    }
  }
  if (!(estimate >= 1.0))
    estimate = 1.0;
  estimate = std::min(estimate, double(kMaxDistanceExplorerStep));
  const size_t growth = static_cast<size_t>(estimate);
  std::vector<DistanceExplorerResult> results;
  try {
    results.reserve(2 * growth);
  } catch (const std::bad_alloc &) {
    EndDistanceSearch();
    return std::nullopt;
  }

  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs) {
    EndDistanceSearch();
    return std::nullopt;
  }
  const float step = 100.0f / (static_cast<float>(fromCount) * static_cast<float>(toCount));
  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  uint64_t combinationsDone = 0;
  bool stopped = false;

  for (uint32_t e = 0; e < toCount && !stopped; e++) {
    char sym[2];
    ElementChars(toElements[e], sym);
    char text[80];
    std::snprintf(text, sizeof text, "Searching distances to %c%c (press Esc to end)", sym[0], sym[1]);
    WriteStatus(text);
    const std::vector<ElementIndexEntry> elementRuns = TurboFindElementRuns(*runs, toElements[e]);
    if (elementRuns.empty()) {
      EndDistanceSearch();
      return std::nullopt;
    }
    const bool gathered =
        c.molecule ? TurboGetIndexedAtoms(crystal, elementRuns) : TurboExtendCellRange(crystal, elementRuns, maximum);
    if (!gathered || gTurboAtoms.empty() || !TurboSortByXYZ()) {
      EndDistanceSearch();
      return std::nullopt;
    }

    uint32_t finished = 0;
    for (uint32_t f = 0; f < fromCount && !stopped; f++) {
      const uint32_t entry = from[f];
      float q[3];
      float qCart[3];
      int32_t fromSite = -1;
      if (c.molecule) {
        if (entry < nAtoms) {
          CopyVector(q, c.atoms[entry].xyz);
          CopyVector(qCart, c.atoms[entry].cart);
          fromSite = static_cast<int32_t>(c.atoms[entry].site);
        }
      } else if (entry < nSites) {
        for (int i = 0; i < 3; i++)
          q[i] = BringIntoCell(c.sites[entry].xyz[i]) + static_cast<float>(shift[i]);
        MatMul(c.orientationMatrix, q, qCart);
        fromSite = static_cast<int32_t>(entry);
      }
      if (fromSite >= 0) {
        const int32_t hits = TurboBoxAtoms(qCart, maximum);
        for (int32_t h = 0; h < hits; h++) {
          const TurboAtom &cand = gTurboAtoms[gBoxedAtoms[static_cast<size_t>(h)]];
          const float dx = cand.xyz[0] - qCart[0];
          const float dy = cand.xyz[1] - qCart[1];
          const float dz = cand.xyz[2] - qCart[2];
          const float d2 = dx * dx + dy * dy + dz * dz;
          if (d2 < min2 || d2 > max2)
            continue;
          const uint32_t neighbourSite = c.atoms[cand.atom].site;
          if (d2 < kCoincidentDistanceSq && neighbourSite == static_cast<uint32_t>(fromSite))
            continue;
          DistanceExplorerResult r;
          r.from = entry;
          r.site = neighbourSite;
          r.distance = std::sqrt(d2);
          if (c.esdFlag) {
            float candFrac[3];
            MatMul(inverse, cand.xyz, candFrac);
            r.esd = GetBondDistErr(crystal, fromSite, static_cast<int32_t>(neighbourSite),
                                   double(q[0]) - double(candFrac[0]), double(q[1]) - double(candFrac[1]),
                                   double(q[2]) - double(candFrac[2]), double(r.distance));
          }
          if (results.size() == results.capacity()) {
            try {
              results.reserve(results.capacity() + growth);
            } catch (const std::bad_alloc &) {
              stopped = true;
              break;
            }
          }
          results.push_back(r);
        }
      }
      if (stopped)
        break;
      finished++;
      WriteProgress("", static_cast<float>(combinationsDone + finished) * step);
      if (MyCheckForUserCancelEvent())
        stopped = true;
    }
    combinationsDone += finished;
    TurboFreeCandidates();
  }

  // Sorting: with too little memory for the copy the results stay in the
  // order found.
  if (results.size() >= 2) {
    WriteStatus("Sorting bonds...\n");
    try {
      std::vector<uint32_t> order(results.size());
      std::iota(order.begin(), order.end(), 0u);
      gDistanceExplorerResults = results.data();
      std::stable_sort(order.begin(), order.end(),
                       [](uint32_t x, uint32_t y) { return CompareDistanceExplorerResultsByDistance(&x, &y) < 0; });
      gDistanceExplorerResults = nullptr;
      std::vector<DistanceExplorerResult> sorted(results.size());
      for (size_t i = 0; i < order.size(); i++)
        sorted[i] = results[order[i]];
      results.swap(sorted);
    } catch (const std::bad_alloc &) {
      gDistanceExplorerResults = nullptr;
    }
  }

  EndDistanceSearch();
  if (resultCount)
    *resultCount = static_cast<uint32_t>(results.size());
  if (percentSearched)
    *percentSearched = stopped ? static_cast<float>(combinationsDone) * step : 100.0f;
  return results;
}
