#include "BondDiagnostics.h"

#include "BondSearch.h"
#include "Geometry.h"
#include "HostServices.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

namespace {

// The first-cell atoms of a site, clamped to the atoms that exist: [first, end).
void FirstCellAtoms(const CrystalRec &c, const AsymmetricUnitRecord &site, size_t *first, size_t *end) {
  const size_t nAtoms = UsableAtomSize(c);
  if (site.firstAtom < 0 || site.atomsPerCell < 1 || static_cast<size_t>(site.firstAtom) >= nAtoms) {
    *first = *end = 0;
    return;
  }
  *first = static_cast<size_t>(site.firstAtom);
  *end = std::min(nAtoms, *first + static_cast<size_t>(site.atomsPerCell));
}

// A fractional coordinate wrapped once, as the extended cell range wraps the
// candidates: below 0 it gains 1, then above 1 it loses 1.
float WrapOnce(float x) {
  if (x < 0.0f)
    x += 1.0f;
  if (x > 1.0f)
    x -= 1.0f;
  return x;
}

void SetCounts(int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA, int32_t v1, int32_t v2, int32_t v3,
               int32_t v4) {
  if (minAB)
    *minAB = v1;
  if (maxAB)
    *maxAB = v2;
  if (minBA)
    *minBA = v3;
  if (maxBA)
    *maxBA = v4;
}

struct Range {
  int32_t lo = kNoNeighbourCount;
  int32_t hi = 0;
  void Add(int32_t n) {
    lo = std::min(lo, n);
    hi = std::max(hi, n);
  }
};

void ShowTimedOut() { DrawWindowSubtitle(FrontGraphWindow(), kSearchTimedOutSubtitle); }

// The sites of element runs, in site order.
std::vector<uint32_t> RunSites(const std::vector<ElementIndexEntry> &runs, size_t siteCount) {
  std::vector<uint32_t> sites;
  for (const ElementIndexEntry &run : runs)
    for (uint32_t s = run.firstSite; s <= run.lastSite && s < siteCount; s++)
      sites.push_back(s);
  return sites;
}

} // namespace

bool TimeToContinue(uint32_t startTicks, int32_t index, int32_t total) {
  const uint32_t elapsed = TickCount() - startTicks;
  if (double(elapsed) / kTicksPerSecond <= kDiagnosticsTimeLimit)
    return true;
  const double done = double(index) + 1.0;
  const double percent = total > 0 ? done * 100.0 / double(total) : 100.0;
  char line[160];
  std::snprintf(line, sizeof line, "Bond search terminated with %ld of %ld sites searched (%.1f%% complete)",
                long(index) + 1, long(total), percent);
  FWriteColor(line, kRGBRed);
  return false;
}

// ---- Crystal, through the sorted candidates ------------------------------------------

bool TurboCrystalBondDiagnostics(CrystalRec *crystal, ElementCode elementA, ElementCode elementB, float minimum,
                                 float maximum, int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA) {
  SetCounts(minAB, maxAB, minBA, maxBA, kNoNeighbourCount, 0, kNoNeighbourCount, 0);
  if (!crystal || UsableSiteSize(*crystal) == 0 || UsableAtomSize(*crystal) == 0)
    return false;
  CrystalRec &c = *crystal;
  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs)
    return false;
  int32_t shift[3];
  if (!TurboCentreShift(crystal, maximum, shift))
    return false;
  const uint32_t start = TickCount();

  const std::vector<ElementIndexEntry> runsB = TurboFindElementRuns(*runs, elementB);
  const std::vector<ElementIndexEntry> runsA = TurboFindElementRuns(*runs, elementA);
  // Nothing can be counted around an element without sites.
  if (runsB.empty() || runsA.empty())
    return false;
  CandidateIndex index;
  if (!index.ExtendCellRange(crystal, runsB, maximum))
    return false;
  const std::vector<uint32_t> sitesB = RunSites(runsB, UsableSiteSize(c));
  const std::vector<uint32_t> sitesA = RunSites(runsA, UsableSiteSize(c));
  const bool sameElement = elementA == elementB;

  // One counter per first-cell atom of B, reached through the atom's index.
  std::vector<int32_t> counters;
  std::vector<int32_t> slotOfAtom; // atom index - base -> counter, or -1
  size_t base = 0;
  if (!sameElement) {
    try {
      size_t lo = SIZE_MAX, hi = 0;
      for (uint32_t s : sitesB) {
        size_t first, end;
        FirstCellAtoms(c, c.sites[s], &first, &end);
        if (first < end) {
          lo = std::min(lo, first);
          hi = std::max(hi, end);
        }
      }
      if (lo < hi) {
        base = lo;
        slotOfAtom.assign(hi - lo, -1);
        for (uint32_t s : sitesB) {
          size_t first, end;
          FirstCellAtoms(c, c.sites[s], &first, &end);
          for (size_t a = first; a < end; a++) {
            slotOfAtom[a - base] = static_cast<int32_t>(counters.size());
            counters.push_back(0);
          }
        }
      }
    } catch (const std::bad_alloc &) {
      return false;
    }
  }
  if (!index.SortByX())
    return false;

  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  const int32_t nA = static_cast<int32_t>(sitesA.size());
  Range ab;
  bool stopped = false;
  for (int32_t position = 0; position < nA; position++) {
    const uint32_t s = sitesA[static_cast<size_t>(position)];
    size_t first, end;
    FirstCellAtoms(c, c.sites[s], &first, &end);
    int32_t count = -1;
    for (size_t a = first; a < end; a++) {
      float q[3];
      float qCart[3];
      for (int i = 0; i < 3; i++)
        q[i] = WrapOnce(c.atoms[a].xyz[i]) + static_cast<float>(shift[i]);
      MatMul(c.orientationMatrix, q, qCart);
      const int32_t hits = index.BoxAtoms(qCart, maximum);
      count = 0;
      for (int32_t h = 0; h < hits; h++) {
        const TurboAtom &cand = index[index.Boxed()[static_cast<size_t>(h)]];
        const float dx = cand.xyz[0] - qCart[0];
        const float dy = cand.xyz[1] - qCart[1];
        const float dz = cand.xyz[2] - qCart[2];
        const float d2 = dx * dx + dy * dy + dz * dz;
        if (!SpecificationBondsPair(d2, min2, max2))
          continue;
        count++;
        if (!sameElement && cand.atom >= base && cand.atom - base < slotOfAtom.size()) {
          const int32_t slot = slotOfAtom[cand.atom - base];
          if (slot >= 0)
            counters[static_cast<size_t>(slot)]++;
        }
      }
    }
    // Every atom of a site has the same surroundings: its last one speaks for it.
    if (count >= 0)
      ab.Add(count);
    if (!TimeToContinue(start, position, nA)) {
      stopped = true;
      break;
    }
  }

  Range ba = ab;
  if (!sameElement) {
    ba = Range{};
    for (int32_t n : counters)
      ba.Add(n);
  }
  SetCounts(minAB, maxAB, minBA, maxBA, ab.lo, ab.hi, ba.lo, ba.hi);
  if (stopped)
    ShowTimedOut();
  return true;
}

// ---- Molecule -----------------------------------------------------------------------------

bool TurboMoleculeBondDiagnostics(CrystalRec *crystal, ElementCode elementA, ElementCode elementB, float minimum,
                                  float maximum, int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA) {
  if (!crystal || UsableAtomSize(*crystal) == 0)
    return false;
  CrystalRec &c = *crystal;
  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs)
    return false;
  const std::vector<ElementIndexEntry> runsB = TurboFindElementRuns(*runs, elementB);
  std::vector<int32_t> atomsA;
  try {
    for (const ElementIndexEntry &run : TurboFindElementRuns(*runs, elementA)) {
      int32_t first = 0, last = -1;
      if (TurboGetElementAtomRange(crystal, run, &first, &last))
        for (int32_t a = first; a <= last; a++)
          atomsA.push_back(a);
    }
  } catch (const std::bad_alloc &) {
    return false;
  }
  CandidateIndex index;
  if (runsB.empty() || atomsA.empty() || !index.GetIndexedAtoms(crystal, runsB))
    return false;
  const bool sameElement = elementA == elementB;
  std::vector<int32_t> counters;
  try {
    if (!sameElement)
      counters.assign(index.Size(), 0);
  } catch (const std::bad_alloc &) {
    return false;
  }
  SetCounts(minAB, maxAB, minBA, maxBA, kNoNeighbourCount, 0, kNoNeighbourCount, 0);
  const uint32_t start = TickCount();
  if (!index.SortByX())
    return false;

  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  const int32_t nA = static_cast<int32_t>(atomsA.size());
  Range ab;
  bool stopped = false;
  for (int32_t k = 0; k < nA; k++) {
    const int32_t a = atomsA[static_cast<size_t>(k)];
    const float *p = c.atoms[static_cast<size_t>(a)].cart;
    const int32_t hits = index.BoxAtoms(p, maximum);
    int32_t count = 0;
    for (int32_t h = 0; h < hits; h++) {
      const uint32_t position = index.Boxed()[static_cast<size_t>(h)];
      const TurboAtom &cand = index[position];
      if (sameElement && cand.atom == static_cast<uint32_t>(a))
        continue;
      const float dx = cand.xyz[0] - p[0];
      const float dy = cand.xyz[1] - p[1];
      const float dz = cand.xyz[2] - p[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      if (!SpecificationBondsPair(d2, min2, max2))
        continue;
      count++;
      if (!sameElement)
        counters[position]++;
    }
    ab.Add(count);
    if (!TimeToContinue(start, k, nA)) {
      stopped = true;
      break;
    }
  }

  Range ba = ab;
  if (!sameElement) {
    ba = Range{};
    for (int32_t n : counters)
      ba.Add(n);
  }
  SetCounts(minAB, maxAB, minBA, maxBA, ab.lo, ab.hi, ba.lo, ba.hi);
  if (stopped)
    ShowTimedOut();
  return true;
}

// ---- Crystal, direct ----------------------------------------------------------------------

int32_t CountBondsFromSite(CrystalRec *crystal, uint32_t site, uint32_t firstSite, uint32_t lastSite, float minimum,
                           float maximum) {
  if (!crystal)
    return 0;
  const CrystalRec &c = *crystal;
  const size_t nSites = UsableSiteSize(c);
  const size_t nAtoms = UsableAtomSize(c);
  if (site >= nSites || firstSite > lastSite || firstSite >= nSites)
    return 0;
  const int32_t self = c.sites[site].firstAtom;
  if (self < 0 || static_cast<size_t>(self) >= nAtoms)
    return 0;
  const float d100[3] = {DSpace(crystal, 1, 0, 0), DSpace(crystal, 0, 1, 0), DSpace(crystal, 0, 0, 1)};
  if (!(d100[0] > 0.0f && d100[1] > 0.0f && d100[2] > 0.0f))
    return 0;
  float origin[3];
  float originCart[3];
  CopyVector(origin, c.atoms[static_cast<size_t>(self)].xyz);
  MatMul(c.orientationMatrix, origin, originCart);
  const float limit = std::fabs(maximum);
  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  // The images within reach of the origin: along each axis a sphere of
  // radius r reaches r / d(100) cells.
  double reach[3];
  for (int i = 0; i < 3; i++)
    reach[i] = double(limit) / double(d100[i]);

  int32_t count = 0;
  const size_t last = std::min<size_t>(lastSite, nSites - 1);
  for (size_t t = firstSite; t <= last; t++) {
    size_t first, end;
    FirstCellAtoms(c, c.sites[t], &first, &end);
    for (size_t a = first; a < end; a++) {
      const float *u = c.atoms[a].xyz;
      double lo[3], hi[3];
      for (int i = 0; i < 3; i++) {
        lo[i] = std::ceil(double(origin[i]) - reach[i] - double(u[i]));
        hi[i] = std::floor(double(origin[i]) + reach[i] - double(u[i]));
      }
      for (double ta = lo[0]; ta <= hi[0]; ta += 1.0) {
        for (double tb = lo[1]; tb <= hi[1]; tb += 1.0) {
          for (double tc = lo[2]; tc <= hi[2]; tc += 1.0) {
            if (a == static_cast<size_t>(self) && ta == 0.0 && tb == 0.0 && tc == 0.0)
              continue;
            const float image[3] = {u[0] + static_cast<float>(ta), u[1] + static_cast<float>(tb),
                                    u[2] + static_cast<float>(tc)};
            float cart[3];
            MatMul(c.orientationMatrix, image, cart);
            const float dx = cart[0] - originCart[0];
            const float dy = cart[1] - originCart[1];
            const float dz = cart[2] - originCart[2];
            if (std::fabs(dx) > limit || std::fabs(dy) > limit || std::fabs(dz) > limit)
              continue;
            const float d2 = dx * dx + dy * dy + dz * dz;
            if (SpecificationBondsPair(d2, min2, max2))
              count++;
          }
        }
      }
    }
  }
  return count;
}

bool CrystalBondDiagnostics(CrystalRec *crystal, ElementCode elementA, ElementCode elementB, float minimum,
                            float maximum, int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA) {
  SetCounts(minAB, maxAB, minBA, maxBA, kNoNeighbourCount, 0, kNoNeighbourCount, 0);
  if (!crystal || UsableSiteSize(*crystal) == 0 || UsableAtomSize(*crystal) == 0)
    return false;
  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs)
    return false;
  const std::vector<ElementIndexEntry> runsA = TurboFindElementRuns(*runs, elementA);
  const std::vector<ElementIndexEntry> runsB = TurboFindElementRuns(*runs, elementB);
  if (runsA.empty() || runsB.empty())
    return false;

  bool stopped = false;
  auto countAround = [&](const std::vector<ElementIndexEntry> &centres,
                         const std::vector<ElementIndexEntry> &neighbours) {
    Range range;
    const uint32_t start = TickCount();
    const std::vector<uint32_t> sites = RunSites(centres, UsableSiteSize(*crystal));
    const int32_t total = static_cast<int32_t>(sites.size());
    for (int32_t position = 0; position < total; position++) {
      int32_t count = 0;
      for (const ElementIndexEntry &run : neighbours)
        count += CountBondsFromSite(crystal, sites[static_cast<size_t>(position)], run.firstSite, run.lastSite, minimum,
                                    maximum);
      range.Add(count);
      if (!TimeToContinue(start, position, total)) {
        stopped = true;
        break;
      }
    }
    if (range.lo == kNoNeighbourCount)
      range.lo = 0;
    return range;
  };
  const Range ab = countAround(runsA, runsB);
  const Range ba = elementA == elementB ? ab : countAround(runsB, runsA);
  SetCounts(minAB, maxAB, minBA, maxBA, ab.lo, ab.hi, ba.lo, ba.hi);
  if (stopped)
    ShowTimedOut();
  return true;
}
