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

// The automatic rule's limit for every pair of the elements the atoms carry
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
    std::vector<float> radius; // of the atom type, for an element without a covalent radius
    bool nonMetal = false;
    for (size_t t = 0; t < nTypes; t++) {
      const ElementCode e = c.spheres[t].element;
      if (!used[t] || e == kPlaceholderAtomElement)
        continue;
      const auto known = std::find(elements_.begin(), elements_.end(), e);
      if (known != elements_.end()) {
        typeKind_[t] = static_cast<uint32_t>(known - elements_.begin());
        continue;
      }
      typeKind_[t] = static_cast<uint32_t>(elements_.size());
      elements_.push_back(e);
      radius.push_back(c.spheres[t].radius);
      nonMetal = nonMetal || IsAutoBondNonMetal(e);
    }
    const size_t n = elements_.size();
    limits_.assign(n * n, 0.0f);
    for (size_t i = 0; i < n; i++)
      for (size_t j = 0; j < n; j++) {
        const float limit = AutoBondPairLimit(elements_[i], elements_[j], radius[i], radius[j], nonMetal);
        limits_[i * n + j] = limit;
        longest_ = std::max(longest_, limit);
      }
  }
  // The element of an atom: an index into the table, or kNone for an atom
  // that is never in contact (a placeholder, a missing atom type).
  uint32_t KindOfAtom(const CrystalRec &c, uint32_t atom) const {
    const uint32_t type = c.atoms[atom].atomType;
    return type < typeKind_.size() ? typeKind_[type] : kNone;
  }
  ElementCode Element(uint32_t kind) const { return elements_[kind]; }
  float Limit(uint32_t a, uint32_t b) const { return limits_[size_t(a) * elements_.size() + b]; }
  float Longest() const { return longest_; }

private:
  std::vector<ElementCode> elements_;
  std::vector<uint32_t> typeKind_;
  std::vector<float> limits_;
  float longest_ = 0.0f;
};

// Statistics of one specification made by the automatic search.
struct SpecStats {
  float sum = 0.0f;
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

} // namespace

// ---- The automatic rule -------------------------------------------------------------

bool IsAutoBondNonMetal(ElementCode e) {
  const CovalentRadiusRow *row = FindCovalentRadius(e);
  return row && !row->metal;
}

float AutoBondPairLimit(ElementCode a, ElementCode b, float typeRadiusA, float typeRadiusB, bool nonMetalPresent) {
  const CovalentRadiusRow *rowA = FindCovalentRadius(a), *rowB = FindCovalentRadius(b);
  const double radiusA = rowA ? double(rowA->radius) : double(typeRadiusA);
  const double radiusB = rowB ? double(rowB->radius) : double(typeRadiusB);
  const bool metals = rowA && rowA->metal && rowB && rowB->metal;
  const double factor = metals && nonMetalPresent ? kAutoBondMetalFactor : kAutoBondRadiusFactor;
  float limit = static_cast<float>((radiusA + radiusB) * factor);
  for (const BondSpec &row : kDefSpecs)
    if (SamePair(row.elementA, row.elementB, a, b))
      limit = std::max(limit, row.maxLength);
  return limit;
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
      old.minLength = 0.0f;
      return k;
    }
  }
  BondSpec &added = c.bondSpecs[static_cast<size_t>(count)];
  added = BondSpec{};
  added.elementA = spec.elementA;
  added.elementB = spec.elementB;
  added.minLength = 0.0f;
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

  // Every pair's limit, the longest of them, and the partial sites' shares.
  std::optional<PairLimits> made;
  bool anyPartial = false;
  std::vector<float> shares;
  try {
    made.emplace(c);
    shares = SitePartialShares(c, &anyPartial);
  } catch (const std::bad_alloc &) {
    if (progress)
      CloseStatus();
    if (MemoryFailuresPass())
      throw;
    return;
  }
  const PairLimits &limits = *made;
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
  const float step = 100.0f / static_cast<float>(nPlaces);
  bool announced = false;
  ElementCode lastAnnounced = kBlankElement;
  // Pairs at one place: the first is named, all are counted.
  uint64_t coincident = 0;
  // The members of a place that make contacts, and the partly occupied
  // shares among them.
  std::vector<uint32_t> capable;
  std::vector<float> partial;
  for (size_t pi = 0; pi < nPlaces && !(cancelled = cancelled || cancel.Step()); pi++) {
    // Set when the specification table is full: the place's search ends.
    bool full = false;
    const TurboAtom ci = gTurboAtoms[pi];
    capable.clear();
    partial.clear();
    for (uint32_t m = places.start[pi]; m < places.start[pi + 1]; m++) {
      const uint32_t atom = places.all[places.members[m]].atom;
      if (limits.KindOfAtom(c, atom) == PairLimits::kNone)
        continue;
      capable.push_back(atom);
      if (anyPartial && shares[c.atoms[atom].site] > 0.0f)
        partial.push_back(shares[c.atoms[atom].site]);
    }
    // The pairs within the place: all at one place, none of them in contact;
    // counted without walking them, the alternative positions left out.
    if (capable.size() >= 2) {
      uint64_t pairs = uint64_t{capable.size()} * (capable.size() - 1) / 2;
      std::sort(partial.begin(), partial.end());
      for (size_t lo = 0, hi = partial.size(); lo + 1 < hi; lo++) {
        while (hi > lo + 1 && PartialSitesMayBond(partial[lo], partial[hi - 1]))
          hi--;
        pairs -= hi - lo - 1;
      }
      if (pairs > 0 && coincident == 0)
        WriteCoincidentAtomsWarning(c, capable[0], capable[1]);
      coincident += pairs;
    }
    const int32_t hits = capable.empty() || skipPlace[pi] ? 0 : TurboBoxAtoms(ci.xyz, searchDistance);
    for (int32_t h = 0; h < hits && !full; h++) {
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
        const uint32_t sa = c.atoms[a].site;
        const uint32_t ka = limits.KindOfAtom(c, a);
        if (ka == PairLimits::kNone || crowdedAtom[a])
          continue;
        for (uint32_t mj = places.start[pj]; mj < places.start[pj + 1]; mj++) {
          const uint32_t j = places.members[mj];
          const uint32_t b = places.all[j].atom;
          const uint32_t kb = limits.KindOfAtom(c, b);
          const uint32_t sb = c.atoms[b].site;
          if (kb == PairLimits::kNone || crowdedAtom[b] || (anyPartial && !PartialSitesMayBond(shares[sa], shares[sb])))
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
          contacts[i]++;
          contacts[j]++;
          c.sites[sa].coordination = std::max(c.sites[sa].coordination, static_cast<uint32_t>(contacts[i]));
          c.sites[sb].coordination = std::max(c.sites[sb].coordination, static_cast<uint32_t>(contacts[j]));
          if (c.molecule) {
            AddAtomToBondsList(&c.atoms[a], b);
            AddAtomToBondsList(&c.atoms[b], a);
          }
          const float r = std::sqrt(d2);
          BondSpec spec;
          spec.elementA = limits.Element(ka);
          spec.elementB = limits.Element(kb);
          spec.maxLength = SpecMaximum(r, limit);
          const int32_t index = AutoAddBondSpecs(crystal, spec);
          if (index < 0) {
            FWriteColor("Maximum number of bond specifications exceeded!", kRGBRed);
            full = true;
            break;
          }
          if (sa == sb)
            c.sites[sa].polyMode = kSelfBondedPolyMode;
          SpecStats &st = stats[static_cast<size_t>(index)];
          st.count++;
          st.sum += r;
          st.shortest = std::min(st.shortest, r);
          st.longest = std::max(st.longest, r);
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
    const float mean = st.count > 0 ? st.sum / static_cast<float>(st.count) : 0.0f;
    char line[160];
    std::snprintf(line, sizeof line, "%5ld %c%c - %c%c bonds ... from %6.3f to %6.3f A (mean %6.3f A)", long(st.count),
                  ea[0], ea[1], eb[0], eb[1], double(st.shortest), double(st.longest), double(mean));
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
