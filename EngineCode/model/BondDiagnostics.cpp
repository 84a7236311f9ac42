#include "BondDiagnostics.h"

#include "BondSearch.h"
#include "CellFrame.h"
#include "HostServices.h"
#include "PeriodicNeighbours.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
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

// ---- Crystal, through the periodic neighbour list ---------------------------------------

namespace {

// The neighbour list is asked this much farther (A), and this share of the
// positions' size farther still, than the range, so that the single-precision
// distance the counts judge by never lies within the range for an image the
// list, measuring in double, left out.
constexpr double kReachMargin = 1e-3;
constexpr double kReachMarginShare = 1e-5;

// The first-cell atoms of the sites as marks of the neighbour list, in site
// order: the counter of a B atom is its mark's number.
std::vector<NeighbourMarkInput> FirstCellMarks(const CrystalRec &c, const std::vector<uint32_t> &sites) {
  std::vector<NeighbourMarkInput> marks;
  for (uint32_t s : sites) {
    size_t first, end;
    FirstCellAtoms(c, c.sites[s], &first, &end);
    for (size_t a = first; a < end; a++) {
      NeighbourMarkInput m;
      m.mark.atom = static_cast<uint32_t>(a);
      m.mark.site = s;
      for (int i = 0; i < 3; i++)
        m.xyz[i] = c.atoms[a].xyz[i];
      marks.push_back(m);
    }
  }
  return marks;
}

} // namespace

bool TurboCrystalBondDiagnostics(CrystalRec *crystal, ElementCode elementA, ElementCode elementB, float minimum,
                                 float maximum, int32_t *minAB, int32_t *maxAB, int32_t *minBA, int32_t *maxBA) {
  SetCounts(minAB, maxAB, minBA, maxBA, kNoNeighbourCount, 0, kNoNeighbourCount, 0);
  if (!crystal || UsableSiteSize(*crystal) == 0 || UsableAtomSize(*crystal) == 0)
    return false;
  CrystalRec &c = *crystal;
  std::optional<std::vector<ElementIndexEntry>> runs = TurboIndexElements(crystal);
  if (!runs)
    return false;
  // Each A atom is placed in the central cell of a block of cells reaching
  // the maximum each way, where its float distances are measured.
  int32_t shift[3];
  CellFrame frame;
  if (!TurboCentreShift(crystal, maximum, shift) || !CellFrameOfMatrix(c.orientationMatrix, frame))
    return false;
  const uint32_t start = TickCount();

  const std::vector<ElementIndexEntry> runsB = TurboFindElementRuns(*runs, elementB);
  const std::vector<ElementIndexEntry> runsA = TurboFindElementRuns(*runs, elementA);
  // Nothing can be counted around an element without sites.
  if (runsB.empty() || runsA.empty())
    return false;
  const std::vector<uint32_t> sitesB = RunSites(runsB, UsableSiteSize(c));
  const std::vector<uint32_t> sitesA = RunSites(runsA, UsableSiteSize(c));
  const bool sameElement = elementA == elementB;
  const double reach = std::fabs(double(maximum));
  std::optional<PeriodicNeighbours> list;
  std::vector<int32_t> counters; // per B atom (mark)
  try {
    const std::vector<NeighbourMarkInput> marks = FirstCellMarks(c, sitesB);
    // As many images as the block's inner cells hold are refused.
    double images = double(marks.size());
    for (int i = 0; i < 3; i++)
      images *= double(std::max(2 * int64_t{shift[i]} - 1, int64_t{1}));
    if (marks.empty() || images > double(kMaxTurboCandidates))
      return false;
    list.emplace(frame, marks, reach);
    if (!sameElement)
      counters.assign(marks.size(), 0);
  } catch (const std::bad_alloc &) {
    return false;
  }

  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  const int32_t nA = static_cast<int32_t>(sitesA.size());
  std::vector<NeighbourHit> hits;
  Range ab;
  bool stopped = false;
  for (int32_t position = 0; position < nA; position++) {
    const uint32_t s = sitesA[static_cast<size_t>(position)];
    size_t first, end;
    FirstCellAtoms(c, c.sites[s], &first, &end);
    int32_t count = -1;
    // Every atom of a site has the same surroundings: its last one speaks
    // for it, and the others are counted only for the B atoms' counters.
    for (size_t a = sameElement && first < end ? end - 1 : first; a < end; a++) {
      float q[3], qCart[3];
      double point[3];
      for (int i = 0; i < 3; i++) {
        point[i] = WrapOnce(c.atoms[a].xyz[i]);
        q[i] = WrapOnce(c.atoms[a].xyz[i]) + static_cast<float>(shift[i]);
      }
      MatMul(c.orientationMatrix, q, qCart);
      const double size =
          std::fabs(double(qCart[0])) + std::fabs(double(qCart[1])) + std::fabs(double(qCart[2])) + reach;
      try {
        list->Visit(point, reach + kReachMargin + kReachMarginShare * size, hits);
      } catch (const std::bad_alloc &) {
        return false;
      }
      count = 0;
      for (const NeighbourHit &h : hits) {
        // The image of the B atom in the block: its wrapped first-cell
        // position plus the block's cell k.
        const float *u = c.atoms[list->Mark(h.mark).atom].xyz;
        float image[3], cart[3];
        bool inBlock = true;
        for (int i = 0; i < 3; i++) {
          const float w = WrapOnce(u[i]);
          const int64_t k = int64_t{h.shift[i]} + shift[i] + std::llround(double(u[i]) - double(w));
          inBlock = inBlock && k >= 0 && k <= 2 * int64_t{shift[i]};
          image[i] = w + static_cast<float>(k);
        }
        if (!inBlock)
          continue;
        MatMul(c.orientationMatrix, image, cart);
        // Within the box of half-width `maximum` about the atom, judged in
        // float as the bond search's candidate box judges, and within range.
        bool inBox = true;
        for (int i = 0; i < 3; i++)
          inBox = inBox && cart[i] >= qCart[i] - maximum && cart[i] <= qCart[i] + maximum;
        const float dx = cart[0] - qCart[0];
        const float dy = cart[1] - qCart[1];
        const float dz = cart[2] - qCart[2];
        const float d2 = dx * dx + dy * dy + dz * dz;
        if (!inBox || !SpecificationBondsPair(d2, min2, max2))
          continue;
        count++;
        if (!sameElement)
          counters[h.mark]++;
      }
    }
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
