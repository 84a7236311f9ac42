// Bond search: candidates, sorted orders, grid box queries, bond generation
// and coordination numbers.
#include "BondSearch.h"

#include "Alerts.h"
#include "CancelPoll.h"
#include "CovalentRadii.h"
#include "FractionalPlaces.h"
#include "Geometry.h"
#include "HostServices.h"
#include "MemoryBudget.h"
#include "Polyhedra.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <string>
#include <tuple>

namespace {

// Below this many candidates the orders are made with a comparison sort.
constexpr size_t kRadixSortThreshold = 256;
// The grid has at most this many cells per finite candidate (and at least
// kMinGridCells in all), so its memory stays linear in the candidates.
constexpr int64_t kGridCellsPerCandidate = 2;
constexpr int64_t kMinGridCells = 27;
// A grid cell grows by this factor until the grid is small enough.
constexpr double kGridGrowth = 1.25;
// The smallest grid cell edge tried first (Angstrom).
constexpr double kMinGridCellEdge = 1e-6;
// The crowd count reads the cells within the distance times (1 + this), plus
// this share of a cell edge: more than every rounding of a distance or a
// cell's bounds moves them.
constexpr double kCellReachSlack = 1e-3;
// The crowd count trims the rows of a cube at most this many cells across.
constexpr int64_t kMostRowsAcross = 5;
// A query rebuilds the grid when its half-width exceeds the cell edge by this
// factor (too many cells per query), or falls below 1 / kGridRebuildFactor²
// of the half-width the grid was built for when no size limit raised the
// edge (too many candidates per cell).
constexpr double kGridRebuildFactor = 2.0;
// A ball query makes room for up to this many hits without counting what
// its cube's cells hold.
constexpr uint64_t kMostHitsRoom = 4096;
// Up to this many hits of a query are put in x-rank order by insertion.
constexpr size_t kInsertionSortedHits = 48;
// The coordination count walks grid cells of this share of the bond
// maximum where the maximum's sphere holds at least kFinerGridNeighbours
// candidates on average (by the element's density in the cell): a query's
// cube then spans fewer candidates outside its sphere than on cells as wide
// as the maximum. Where candidates are sparse the cube's extra rows of
// cells cost more than they spare. The count is the same on any grid: it
// does not hang on the order the candidates are met in.
constexpr float kCountGridEdgeShare = 0.5f;
constexpr double kFinerGridNeighbours = 4.0;

// Bond generation empties a bonds list without freeing it when its room is
// at most this many entries (a usual coordination), so that regenerating the
// bonds of the same atoms does not allocate every list again.
constexpr size_t kKeptBondsRoom = 16;

// Bond generation makes room for at most this many bonds before it starts
// (more are added as found).
constexpr uint64_t kMaxReservedBonds = uint64_t{1} << 26;

// Bond generation reads the clock for the cancel check every this many query
// atoms.
constexpr int64_t kCancelClockEvery = 64;

// Bond generation takes at most this share (1 / n) of the memory available,
// counting this many bytes for a bond: its pair while the search runs, its
// two entries in the bonds lists and the index that fills them.
constexpr uint64_t kBondMemoryShare = 2;
// A search that would give the atoms in range more bonds than this each on
// average (every bond counted at both its atoms) is refused like one too
// large for memory: no matter is bonded so, and such a bond maximum reaches
// far beyond any bond.
constexpr uint64_t kMostMeanBondsPerAtom = 40;
// The coordination over the whole crystal is not counted for a maximum
// whose sphere holds, by the density of the element, this many times that
// number of atoms.
constexpr uint64_t kUncountedReachFactor = 2;
constexpr uint64_t kBytesPerBond = 32;
// A crystal's bonds are refused before any pair is searched when the
// density of the atoms in range says its maxima reach more than this many
// times the bonds allowed: an atom near a corner of the range sees at least
// an eighth of its sphere there, where the range is at least twice the
// maximum across.
constexpr double kCrowdVerdictMargin = 8.0;

BondSearchEnd sLastBondSearchEnd = BondSearchEnd::Complete;

template <class T> void FreeVector(std::vector<T> &v) { std::vector<T>().swap(v); }

int32_t SpecCount(const CrystalRec &c) { return std::clamp(c.bondSpecCount, 0, kMaxBondSpecs); }

// A float's bits mapped so that unsigned order is numeric order; -0 and +0
// give the same key.
uint32_t FloatKey(float f) {
  f += 0.0f;
  uint32_t u = 0;
  std::memcpy(&u, &f, sizeof u);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

bool IsFinite3(const float v[3]) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// Wraps a fractional coordinate into [0, 1): below 0 add 1, then above 1
// subtract 1; a value still outside after that (1 itself included) loses its
// whole cells. A query point must lie inside the block's central cell: at its
// upper face the block holds no images beyond it.
float WrapOnce(float v) {
  if (v < 0.0f)
    v += 1.0f;
  if (v > 1.0f)
    v -= 1.0f;
  if (v < 0.0f || v >= 1.0f)
    v -= std::floor(v);
  return v >= 1.0f ? 0.0f : v; // a tiny negative value can round up to 1
}

// What the bond generation reads of one atom.
struct AtomPoint {
  float cart[3];
  uint32_t inRange; // FracCoordsInRange of its fractional coordinates
};

// The working arrays of bond generation, kept from one generation to the
// next: the bonds of a structure are made again and again as it is edited,
// and arrays of its size made afresh each time cost a page fault per page.
struct BondScratch {
  std::vector<AtomPoint> points;
  std::vector<uint64_t> pairs; // the bonds found, (a << 32 | b)
  std::vector<uint32_t> start, entries, next, seen;
};
BondScratch sBondScratch;

// Replaces every atom's bonds list with the bonds found, each pair
// (a << 32 | b) in the order found: b to a's list and a to b's, a bond a
// list holds already left out; every polyhedron goes. The lists are counted
// first and filled in atom order in one pass over the atom records, so each
// list is made at once. An emptied list keeps a usual list's room, so that
// regenerating the bonds of the same atoms does not allocate every list
// again. False, with every list and polyhedron gone, without memory.
// Bonds an atom is found with at most this many times have their repeats
// found by looking through the list made so far.
constexpr uint32_t kScannedListLength = 16;

bool FillBondsLists(CrystalRec &c, const std::vector<uint64_t> &pairs) {
  const size_t nAtoms = UsableAtomSize(c);
  auto empty = [](AtomRecord &atom) {
    if (atom.bonds.capacity() <= kKeptBondsRoom) {
      atom.bonds.clear();
      atom.bondCount = 0;
    } else {
      DestroyBondsListForAtom(&atom);
    }
  };
  try {
    std::vector<uint32_t> &start = sBondScratch.start, &entries = sBondScratch.entries;
    std::vector<uint32_t> &next = sBondScratch.next, &seen = sBondScratch.seen;
    start.clear();
    if (!pairs.empty()) {
      start.assign(nAtoms + 1, 0);
      for (const uint64_t pair : pairs) {
        start[static_cast<size_t>(pair >> 32) + 1]++;
        start[static_cast<size_t>(pair & 0xFFFFFFFFu) + 1]++;
      }
      bool longLists = false;
      for (size_t i = 0; i < nAtoms; i++) {
        longLists = longLists || start[i + 1] > kScannedListLength;
        start[i + 1] += start[i];
      }
      entries.resize(start[nAtoms]);
      next.assign(start.begin(), start.end() - 1);
      for (const uint64_t pair : pairs) {
        const uint32_t a = static_cast<uint32_t>(pair >> 32);
        const uint32_t b = static_cast<uint32_t>(pair & 0xFFFFFFFFu);
        entries[next[a]++] = b;
        entries[next[b]++] = a;
      }
      // seen[j] = i + 1 once j is in atom i's list; only a long list asks.
      seen.clear();
      if (longLists)
        seen.assign(nAtoms, 0);
    }
    for (size_t i = 0; i < c.atoms.size(); i++) {
      AtomRecord &atom = c.atoms[i];
      DestroyPolyhedron(atom.polyhedron);
      if (start.empty() || i >= nAtoms || start[i] == start[i + 1]) {
        empty(atom);
        continue;
      }
      // Written straight into the list, which keeps its room.
      BondList &bonds = atom.bonds;
      bonds.clear();
      bonds.reserve(start[i + 1] - start[i]);
      if (start[i + 1] - start[i] <= kScannedListLength) {
        // A short list looks through what it holds: no array over every
        // atom is touched.
        for (uint32_t k = start[i]; k < start[i + 1]; k++) {
          const uint32_t j = entries[k];
          if (std::find(bonds.begin(), bonds.end(), j) == bonds.end())
            bonds.push_back(j);
        }
        atom.bondCount = static_cast<uint32_t>(bonds.size());
        continue;
      }
      for (uint32_t k = start[i]; k < start[i + 1]; k++) {
        const uint32_t j = entries[k];
        if (seen[j] == i + 1)
          continue;
        seen[j] = static_cast<uint32_t>(i + 1);
        bonds.push_back(j);
      }
      atom.bondCount = static_cast<uint32_t>(bonds.size());
    }
  } catch (const std::bad_alloc &) {
    for (AtomRecord &atom : c.atoms) {
      DestroyPolyhedron(atom.polyhedron);
      DestroyBondsListForAtom(&atom);
    }
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return true;
}

// The squared ranges of the earlier specifications naming the same element
// pair (in either order) as specification k: a pair of atoms at one place
// that one of them already left unbonded is counted once.
std::vector<std::pair<float, float>> EarlierRangesOfPair(const CrystalRec &c, int32_t k) {
  const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
  std::vector<std::pair<float, float>> ranges;
  for (int32_t j = 0; j < k; j++) {
    const BondSpec &e = c.bondSpecs[static_cast<size_t>(j)];
    if ((e.elementA == spec.elementA && e.elementB == spec.elementB) ||
        (e.elementA == spec.elementB && e.elementB == spec.elementA))
      ranges.emplace_back(e.minLength * e.minLength, e.maxLength * e.maxLength);
  }
  return ranges;
}

bool InEarlierRange(const std::vector<std::pair<float, float>> &ranges, float d2) {
  for (const auto &[minSq, maxSq] : ranges)
    if (minSq <= d2 && d2 <= maxSq)
      return true;
  return false;
}

// Tells the user that the bond search stopped at their request.
void ReportCancelledBondSearch() { FWrite("Bond search cancelled: the structure is left without bonds."); }

// The atoms of an element's runs, in site order (so ascending index).
struct AtomSpan {
  int32_t first;
  int32_t last;
};

std::vector<AtomSpan> ElementAtomSpans(const CrystalRec *crystal, const std::vector<ElementIndexEntry> &list,
                                       ElementCode element) {
  std::vector<AtomSpan> spans;
  for (const ElementIndexEntry &run : TurboFindElementRuns(list, element)) {
    AtomSpan span{0, -1};
    if (TurboGetElementAtomRange(crystal, run, &span.first, &span.last))
      spans.push_back(span);
  }
  return spans;
}

// GetIndexedAtoms over the noted atoms of the spans (valid ranges).
bool GatherInRange(CandidateIndex &index, const std::vector<AtomPoint> &points, const std::vector<AtomSpan> &spans) {
  index.FreeCandidates();
  int64_t total = 0;
  for (const AtomSpan &span : spans)
    total += int64_t{span.last} - span.first + 1;
  if (total > kMaxTurboCandidates)
    return false;
  try {
    std::vector<TurboAtom> candidates;
    candidates.reserve(static_cast<size_t>(total));
    for (const AtomSpan &span : spans) {
      for (int32_t i = span.first; i <= span.last; i++) {
        const AtomPoint &point = points[static_cast<size_t>(i)];
        if (!point.inRange)
          continue;
        TurboAtom t;
        t.atom = static_cast<uint32_t>(i);
        std::memcpy(t.xyz, point.cart, sizeof t.xyz);
        candidates.push_back(t);
      }
    }
    index.SetCandidates(std::move(candidates));
  } catch (const std::bad_alloc &) {
    index.FreeCandidates();
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return true;
}

// The specification's element pair as "Al-O": the symbols without their
// padding.
std::string SpecPairText(const BondSpec &spec) {
  std::string out;
  for (const ElementCode e : {spec.elementA, spec.elementB}) {
    if (!out.empty())
      out += '-';
    for (const char ch : {static_cast<char>(e >> 8), static_cast<char>(e & 0xFF)})
      if (ch != ' ' && ch != '\0')
        out += ch;
  }
  return out;
}

std::string SpecText(const char *format, const BondSpec &spec) {
  char text[128];
  std::snprintf(text, sizeof text, format, static_cast<char>(spec.elementA >> 8),
                static_cast<char>(spec.elementA & 0xFF), static_cast<char>(spec.elementB >> 8),
                static_cast<char>(spec.elementB & 0xFF));
  return text;
}

} // namespace

// ---- Alternative positions ------------------------------------------------------

namespace {

// A site's occupancy, summed over its elements; 0 where none is given.
float SiteOccupancy(const AsymmetricUnitRecord &site) {
  float occupancy = 0.0f;
  for (int k = 0; k < kMaxSiteElements; k++)
    if (site.elements[k] != kBlankElement && site.occupancies[k] > 0.0f)
      occupancy += site.occupancies[k];
  return occupancy;
}

} // namespace

namespace {

// Each site's covalent radius, occupancy and partial occupancy
// (SiteAlternatives::SiteMeasures); answers how many sites are partly
// occupied. Apart from the alternatives' constructor, whose loop over the
// operators is compiled best alone.
[[gnu::noinline]] size_t NoteSiteMeasures(const CrystalRec &crystal,
                                          std::vector<SiteAlternatives::SiteMeasures> &measures) {
  const size_t nSites = UsableSiteSize(crystal);
  measures.resize(nSites);
  size_t partialSites = 0;
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = crystal.sites[s];
    const CovalentRadiusRow *row = FindCovalentRadius(site.elements[0]);
    SiteAlternatives::SiteMeasures &m = measures[s];
    m.radius = row ? row->radius : 0.0f;
    m.triple = TripleBondRadius(site.elements[0]);
    m.occupancy = SiteOccupancy(site);
    // A partly occupied site of no group the file gives (an inferred
    // orientation's too) may be an alternative of another close by.
    m.partial = 0.0f;
    if (site.disorderGroup == 0 && row && m.occupancy > 0.0f && m.occupancy < 1.0f) {
      m.partial = m.occupancy;
      partialSites++;
    }
  }
  return partialSites;
}

} // namespace

bool SiteImagesApart(const AsymmetricUnitRecord &site) {
  if (site.disorderGroup != 0)
    return site.disorderGroup < 0;
  const float occupancy = SiteOccupancy(site);
  // No occupancy at all is a site nobody gave one: a whole site.
  return occupancy > 0.0f && occupancy <= kHalfSiteOccupancy + kAlternativeOccupancySlack;
}

int16_t ImageDisorder::Group(size_t site, size_t k) const {
  return static_cast<int16_t>(
      std::min<size_t>(inferred.Orientation(site, static_cast<uint32_t>(k)) + size_t{1}, INT16_MAX));
}

std::vector<SiteDisorder> SiteDisorders(const CrystalRec &crystal, const OrientationGroups &inferred) {
  const size_t nSites = UsableSiteSize(crystal);
  int assemblies = 0;
  for (size_t s = 0; s < nSites && !inferred.Empty(); s++)
    assemblies = std::max<int>(assemblies, crystal.sites[s].disorderAssembly);
  std::vector<SiteDisorder> out(nSites);
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = crystal.sites[s];
    SiteDisorder &d = out[s];
    d.assembly = site.disorderAssembly;
    d.group = site.disorderGroup;
    if (s < inferred.siteGroup.size() && inferred.siteGroup[s] != 0) {
      d.assembly = static_cast<int16_t>(std::min<int64_t>(int64_t{assemblies} + inferred.siteGroup[s], INT16_MAX));
      d.group = -1;
    }
    d.imagesApart = SiteImagesApart(site);
  }
  return out;
}

ImageDisorder ImageAssemblies(CrystalRec &crystal) {
  const size_t nSites = UsableSiteSize(crystal);
  int next = 0;
  for (size_t s = 0; s < nSites; s++)
    next = std::max<int>(next, crystal.sites[s].disorderAssembly);
  ImageDisorder disorder;
  disorder.inferred = crystal.derived.Orientations(crystal);
  const std::vector<SiteDisorder> sites = SiteDisorders(crystal, disorder.inferred);
  std::vector<int16_t> &out = disorder.assemblies;
  out.assign(nSites, 0);
  // The new assembly of each negative group (an inferred one among them), by
  // (assembly, group).
  std::vector<std::pair<uint32_t, int16_t>> groups;
  for (size_t s = 0; s < nSites; s++) {
    const SiteDisorder &d = sites[s];
    if (!d.imagesApart)
      continue;
    if (d.group < 0) {
      const uint32_t key =
          (static_cast<uint32_t>(static_cast<uint16_t>(d.assembly)) << 16) | static_cast<uint16_t>(d.group);
      auto it = std::find_if(groups.begin(), groups.end(), [key](const auto &g) { return g.first == key; });
      if (it != groups.end()) {
        out[s] = it->second;
        continue;
      }
      out[s] = static_cast<int16_t>(std::min(++next, INT16_MAX));
      groups.emplace_back(key, out[s]);
    } else {
      out[s] = static_cast<int16_t>(std::min(++next, INT16_MAX));
    }
  }
  return disorder;
}

int16_t ImageGroup(const ImageDisorder &disorder, const std::vector<GEP> &ops, size_t siteIndex,
                   const AsymmetricUnitRecord &site, const float xyz[3], const float originShift[3]) {
  float p[3];
  MoveVectorIntoCell(p, xyz);
  for (size_t k = 0; k < ops.size() && k < static_cast<size_t>(INT16_MAX); k++) {
    double raw[3];
    ApplySymmetryOperator(ops[k], site.xyz, originShift, raw);
    const float image[3] = {MoveIntoCell(static_cast<float>(raw[0])), MoveIntoCell(static_cast<float>(raw[1])),
                            MoveIntoCell(static_cast<float>(raw[2]))};
    if (SamePlace(image, p))
      return disorder.Group(siteIndex, k);
  }
  return 0;
}

namespace {

// Whether atoms of two usable sites of the given disorder may be bonded;
// `words` words of operator bits apiece (SiteAlternatives::MayBond).
// Inlined into each caller: the bond search asks it for every pair.
[[gnu::always_inline]] inline bool DisorderMayBond(uint32_t sa, const SiteDisorder &x, const uint64_t *opsA,
                                                   uint32_t sb, const SiteDisorder &y, const uint64_t *opsB,
                                                   size_t words) {
  if (x.group >= 0 || y.group >= 0) {
    if (sa == sb)
      return !x.imagesApart;
    return x.assembly != y.assembly || x.group == 0 || y.group == 0 || x.group == y.group;
  }
  if (x.assembly != y.assembly)
    return true;
  if (x.group != y.group)
    return false;
  // One negative group: atoms of one image (a common operator) bond. An atom
  // that no operator makes from its site (moved by hand) is no image.
  if (!opsA || !opsB)
    return true;
  bool anyA = false, anyB = false;
  for (size_t w = 0; w < words; w++) {
    if (opsA[w] & opsB[w])
      return true;
    anyA = anyA || opsA[w] != 0;
    anyB = anyB || opsB[w] != 0;
  }
  return !anyA || !anyB;
}

} // namespace

SiteAlternatives::SiteAlternatives(const CrystalRec &crystal) {
  const size_t nSites = UsableSiteSize(crystal);
  // Without a group or a partly occupied site nothing is an alternative:
  // the orientations need not be inferred.
  if (std::none_of(crystal.sites.begin(), crystal.sites.begin() + static_cast<std::ptrdiff_t>(nSites),
                   [](const AsymmetricUnitRecord &site) {
                     const float occupancy = SiteOccupancy(site);
                     return site.disorderGroup != 0 || (occupancy > 0.0f && occupancy < 1.0f);
                   }))
    return;
  const OrientationGroups &inferred = crystal.derived.Orientations(crystal);
  sites_ = SiteDisorders(crystal, inferred);
  bool negative = false;
  // Some pair is alternatives when some site's images are, or when one
  // assembly holds two non-zero groups (the first group met of each
  // assembly, by assembly).
  std::vector<std::pair<int16_t, int16_t>> firstGroup;
  const size_t partialSites = NoteSiteMeasures(crystal, measures_);
  for (const SiteDisorder &d : sites_) {
    negative = negative || d.group < 0;
    any_ = any_ || d.imagesApart;
    if (d.group == 0 || any_)
      continue;
    auto it = std::find_if(firstGroup.begin(), firstGroup.end(), [&](const auto &g) { return g.first == d.assembly; });
    if (it == firstGroup.end())
      firstGroup.emplace_back(d.assembly, d.group);
    else
      any_ = it->second != d.group;
  }
  anyPartial_ = partialSites >= 2;
  any_ = any_ || anyPartial_;
  if (!any_)
    return;
  // The atoms' sites, read in every query: kept apart from the atom records.
  atomSite_.resize(UsableAtomSize(crystal));
  for (size_t a = 0; a < atomSite_.size(); a++)
    atomSite_[a] = crystal.atoms[a].site;
  // A molecule has one image of everything: its negative groups bond within
  // themselves.
  if (!negative || crystal.molecule)
    return;
  int32_t nOps = 0;
  const auto ops = CrystalOperators(crystal, &nOps);
  if (!ops || nOps < 1)
    return;
  words_ = (static_cast<size_t>(nOps) + 63) / 64;
  const size_t nAtoms = UsableAtomSize(crystal);
  atomOps_.assign(nAtoms * words_, 0);
  siteOps_.assign(nSites * words_, 0);
  // The wrapped images of each site of a negative group, nOps apiece.
  std::vector<size_t> slot(nSites, SIZE_MAX);
  std::vector<float> images;
  for (size_t s = 0; s < nSites; s++) {
    const AsymmetricUnitRecord &site = crystal.sites[s];
    if (sites_[s].group >= 0)
      continue;
    slot[s] = images.size();
    for (const GEP &op : *ops) {
      double raw[3];
      ApplySymmetryOperator(op, site.xyz, crystal.originShift, raw);
      for (int i = 0; i < 3; i++)
        images.push_back(MoveIntoCell(static_cast<float>(raw[i])));
    }
  }
  // The operators that make a position of site s (for an inferred group the
  // orientations they make), into `out`.
  auto mark = [&](size_t s, const float xyz[3], uint64_t *out) {
    float p[3];
    MoveVectorIntoCell(p, xyz);
    const float *image = &images[slot[s]];
    for (uint32_t k = 0; k < static_cast<uint32_t>(nOps); k++)
      if (SamePlace(image + size_t{k} * 3, p)) {
        const uint32_t o = inferred.Orientation(s, k);
        if (o < static_cast<uint32_t>(nOps))
          out[o / 64] |= uint64_t{1} << (o % 64);
      }
  };
  for (size_t s = 0; s < nSites; s++)
    if (slot[s] != SIZE_MAX)
      mark(s, crystal.sites[s].xyz, &siteOps_[s * words_]);
  for (size_t a = 0; a < nAtoms; a++) {
    const uint32_t s = crystal.atoms[a].site;
    if (s < nSites && slot[s] != SIZE_MAX)
      mark(s, crystal.atoms[a].xyz, &atomOps_[a * words_]);
  }
}

const uint64_t *SiteAlternatives::AtomOps(uint32_t atom) const {
  return words_ > 0 && atom < atomOps_.size() / words_ ? &atomOps_[atom * words_] : nullptr;
}

bool SiteAlternatives::MayBond(uint32_t sa, const uint64_t *opsA, uint32_t sb, const uint64_t *opsB) const {
  if (sa >= sites_.size() || sb >= sites_.size())
    return true;
  return DisorderMayBond(sa, sites_[sa], opsA, sb, sites_[sb], opsB, words_);
}

bool SiteAlternatives::PartialApart(uint32_t sa, uint32_t sb, float d2) const {
  if (sa >= sites_.size() || sb >= sites_.size())
    return false;
  const SiteMeasures &x = measures_[sa], &y = measures_[sb];
  return PartialApartOf(sa, x.partial, x.radius, x.triple, sb, y.partial, y.radius, y.triple, d2);
}

bool SiteAlternatives::PartialApartOf(uint32_t sa, float px, float ra, float ta, uint32_t sb, float py, float rb,
                                      float tb, float d2) {
  if (sa == sb || !(px > 0.0f && py > 0.0f) || px + py > 1.0f + kAlternativeOccupancySlack)
    return false;
  float reach = kPartialAlternativeFactor * (ra + rb);
  if (ta > 0.0f && tb > 0.0f)
    reach = std::min(reach, kTripleBondAlternativeShare * (ta + tb));
  return d2 < reach * reach;
}

bool SiteAlternatives::PlacesMayBondAt(const Place &a, const Place &b, float d2) const {
  return DisorderMayBond(a.site, a.disorder, a.ops, b.site, b.disorder, b.ops, words_) &&
         !(anyPartial_ &&
           PartialApartOf(a.site, a.partial, a.radius, a.triple, b.site, b.partial, b.radius, b.triple, d2));
}

bool SiteAlternatives::PlaceOf(uint32_t atom, Place *place) const {
  const uint32_t s = AtomSite(atom);
  if (s == kNoSite)
    return false;
  const SiteDisorder &d = sites_[s];
  const SiteMeasures &m = measures_[s];
  if (!(d.group != 0 || d.imagesApart || m.partial > 0.0f))
    return false;
  *place = {atom, s, m.radius, m.occupancy, m.partial, m.triple, d, AtomOps(atom)};
  return true;
}

bool SiteAlternatives::AtomsMayBond(uint32_t a, uint32_t b) const {
  if (!any_ || a >= atomSite_.size() || b >= atomSite_.size())
    return true;
  return MayBond(atomSite_[a], AtomOps(a), atomSite_[b], AtomOps(b));
}

bool SiteAlternatives::SiteMayBondAtom(uint32_t site, uint32_t b) const {
  if (!any_ || b >= atomSite_.size())
    return true;
  const uint64_t *ops = words_ > 0 && site < sites_.size() ? &siteOps_[site * words_] : nullptr;
  return MayBond(site, ops, atomSite_[b], AtomOps(b));
}

uint64_t SiteAlternatives::PairsApart(const std::vector<uint32_t> &atoms) const {
  if (!any_ || atoms.size() < 2)
    return 0;
  struct Key {
    int16_t assembly, group;
    uint32_t site, atom;
  };
  std::vector<Key> keys;
  keys.reserve(atoms.size());
  for (const uint32_t a : atoms)
    if (a < atomSite_.size() && atomSite_[a] < sites_.size()) {
      const SiteDisorder &d = sites_[atomSite_[a]];
      keys.push_back({d.assembly, d.group, atomSite_[a], a});
    }
  // Atoms given in ascending order, as a place lists them, mostly come in
  // their sites' order already; the count does not depend on the order
  // within one site.
  const auto bySite = [](const Key &x, const Key &y) {
    return std::tie(x.assembly, x.group, x.site) < std::tie(y.assembly, y.group, y.site);
  };
  if (!std::is_sorted(keys.begin(), keys.end(), bySite))
    std::sort(keys.begin(), keys.end(), bySite);
  const auto pairs = [](uint64_t m) { return m * (m - (m > 0)) / 2; };
  uint64_t apart = 0;
  for (size_t a = 0; a < keys.size();) {
    // One assembly: atoms of two different non-zero groups are alternatives.
    size_t endA = a;
    uint64_t grouped = 0, sameGroup = 0;
    while (endA < keys.size() && keys[endA].assembly == keys[a].assembly) {
      size_t endG = endA;
      while (endG < keys.size() && keys[endG].assembly == keys[a].assembly && keys[endG].group == keys[endA].group)
        endG++;
      const int16_t group = keys[endA].group;
      if (group != 0) {
        grouped += endG - endA;
        sameGroup += pairs(endG - endA);
      }
      if (group < 0) {
        // One negative group: the images are compared.
        for (size_t x = endA; x + 1 < endG; x++)
          for (size_t y = x + 1; y < endG; y++)
            apart += !MayBond(keys[x].site, AtomOps(keys[x].atom), keys[y].site, AtomOps(keys[y].atom));
      } else {
        // The images of one site whose images are alternatives.
        for (size_t s = endA; s < endG;) {
          size_t endS = s;
          while (endS < endG && keys[endS].site == keys[s].site)
            endS++;
          if (sites_[keys[s].site].imagesApart)
            apart += pairs(endS - s);
          s = endS;
        }
      }
      endA = endG;
    }
    apart += pairs(grouped) - sameGroup;
    a = endA;
  }
  return apart;
}

uint64_t SiteAlternatives::PartialPairsApartAtOnePlace(const std::vector<uint32_t> &atoms) const {
  if (!anyPartial_ || atoms.size() < 2)
    return 0;
  // At one place every two partly occupied sites whose occupancies sum to
  // at most 1 are apart. A pair with an atom of no group is apart by nothing
  // else (images of one site apart are of one site, which this rule leaves
  // alone), so those pairs are counted from the sorted occupancies; pairs
  // of two atoms of inferred groups may be apart already, and are compared.
  const float limit = 1.0f + kAlternativeOccupancySlack;
  std::vector<float> all;
  std::vector<std::pair<uint32_t, uint32_t>> sameSite; // (site, atom), of no group
  std::vector<uint32_t> grouped;
  for (const uint32_t a : atoms) {
    if (a >= atomSite_.size() || atomSite_[a] >= sites_.size() || !(measures_[atomSite_[a]].partial > 0.0f))
      continue;
    const uint32_t s = atomSite_[a];
    all.push_back(measures_[s].partial);
    if (sites_[s].group != 0)
      grouped.push_back(a);
    else
      sameSite.emplace_back(s, a);
  }
  // Many rows at one place often share one occupancy: sorted already.
  if (!std::is_sorted(all.begin(), all.end()))
    std::sort(all.begin(), all.end());
  uint64_t apart = 0;
  for (size_t i = 0, j = all.size(); i < j; i++) {
    while (j > i + 1 && all[i] + all[j - 1] > limit)
      j--;
    if (j > i + 1)
      apart += j - i - 1;
  }
  // Two images of one site are one site.
  if (!std::is_sorted(sameSite.begin(), sameSite.end()))
    std::sort(sameSite.begin(), sameSite.end());
  for (size_t s = 0; s < sameSite.size();) {
    size_t e = s;
    while (e < sameSite.size() && sameSite[e].first == sameSite[s].first)
      e++;
    const uint64_t m = e - s;
    if (2.0f * measures_[sameSite[s].first].partial <= limit)
      apart -= m * (m - 1) / 2;
    s = e;
  }
  for (size_t x = 0; x + 1 < grouped.size(); x++)
    for (size_t y = x + 1; y < grouped.size(); y++) {
      const uint32_t a = grouped[x], b = grouped[y], sa = atomSite_[a], sb = atomSite_[b];
      if (measures_[sa].partial + measures_[sb].partial <= limit)
        apart -= sa == sb || !MayBond(sa, AtomOps(a), sb, AtomOps(b));
    }
  return apart;
}

// ---- Helpers ------------------------------------------------------------------------

bool FracCoordsInRange(const CrystalRec *crystal, const float xyz[3]) {
  if (!crystal)
    return false;
  if (crystal->molecule)
    return true;
  const float *r = crystal->plotRange;
  return CoordinateInRange(xyz[0], r[0], r[1]) && CoordinateInRange(xyz[1], r[2], r[3]) &&
         CoordinateInRange(xyz[2], r[4], r[5]);
}

// ---- Element runs -----------------------------------------------------------------

std::optional<std::vector<ElementIndexEntry>> TurboIndexElements(CrystalRec *crystal) {
  if (!crystal)
    return std::nullopt;
  const size_t nSites = UsableSiteSize(*crystal);
  if (nSites == 0)
    return std::nullopt;
  try {
    std::vector<ElementIndexEntry> list;
    for (size_t s = 0; s < nSites; s++) {
      const ElementCode e = crystal->sites[s].elements[0];
      if (list.empty() || e != list.back().element)
        list.push_back({e, static_cast<uint32_t>(s), static_cast<uint32_t>(s)});
      list.back().lastSite = static_cast<uint32_t>(s);
    }
    list.push_back({kElementIndexEnd, 0, 0});
    return list;
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return std::nullopt;
  }
}

const ElementIndexEntry *TurboFindElement(const std::vector<ElementIndexEntry> &list, ElementCode element) {
  // The terminator is the last entry; a site may itself carry "??".
  for (size_t i = 0; i + 1 < list.size(); i++)
    if (list[i].element == element)
      return &list[i];
  return nullptr;
}

std::vector<ElementIndexEntry> TurboFindElementRuns(const std::vector<ElementIndexEntry> &list, ElementCode element) {
  std::vector<ElementIndexEntry> runs;
  for (size_t i = 0; i + 1 < list.size(); i++)
    if (list[i].element == element)
      runs.push_back(list[i]);
  return runs;
}

int64_t TurboRunSiteCount(const std::vector<ElementIndexEntry> &runs) {
  int64_t n = 0;
  for (const ElementIndexEntry &run : runs)
    n += int64_t{run.lastSite} - run.firstSite + 1;
  return n;
}

bool TurboGetElementAtomRange(const CrystalRec *crystal, const ElementIndexEntry &run, int32_t *firstAtom,
                              int32_t *lastAtom) {
  if (!crystal)
    return false;
  const CrystalRec &c = *crystal;
  const int64_t nAtoms = static_cast<int64_t>(UsableAtomSize(c));
  const int64_t nSites = static_cast<int64_t>(UsableSiteSize(c));
  int64_t first = -1, last = -1;
  for (int64_t s = run.firstSite; s <= static_cast<int64_t>(run.lastSite) && s < nSites; s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    if (site.lastAtom < site.firstAtom)
      continue;
    if (first < 0)
      first = site.firstAtom;
    last = site.lastAtom;
  }
  first = std::max<int64_t>(first, 0);
  last = std::min<int64_t>(last, nAtoms - 1);
  if (last < 0 || first > last)
    return false;
  if (firstAtom)
    *firstAtom = static_cast<int32_t>(first);
  if (lastAtom)
    *lastAtom = static_cast<int32_t>(last);
  return true;
}

// ---- Candidates -------------------------------------------------------------------

// The atoms first..last (clamped) that lie in the plot range, appended to
// the candidates. False for an empty range, too many candidates or no memory.
bool CandidateIndex::AppendIndexedAtoms(CrystalRec *crystal, int32_t firstAtom, int32_t lastAtom) {
  const CrystalRec &c = *crystal;
  const int64_t first = std::max<int64_t>(firstAtom, 0);
  const int64_t last = std::min<int64_t>(lastAtom, static_cast<int64_t>(UsableAtomSize(c)) - 1);
  if (first > last || static_cast<int64_t>(atoms_.size()) + (last - first + 1) > kMaxTurboCandidates)
    return false;
  try {
    if (atoms_.empty())
      atoms_.reserve(static_cast<size_t>(last - first + 1)); // later runs grow it geometrically
    for (int64_t i = first; i <= last; i++) {
      if (Tick())
        return false;
      const AtomRecord &atom = c.atoms[static_cast<size_t>(i)];
      if (!FracCoordsInRange(crystal, atom.xyz))
        continue;
      TurboAtom t;
      t.atom = static_cast<uint32_t>(i);
      std::memcpy(t.xyz, atom.cart, sizeof t.xyz);
      atoms_.push_back(t);
    }
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return true;
}

bool CandidateIndex::GetIndexedAtoms(CrystalRec *crystal, int32_t firstAtom, int32_t lastAtom) {
  FreeCandidates();
  if (!crystal || Heard() || !AppendIndexedAtoms(crystal, firstAtom, lastAtom)) {
    FreeCandidates();
    return false;
  }
  return true;
}

bool CandidateIndex::GetIndexedAtoms(CrystalRec *crystal, const std::vector<ElementIndexEntry> &runs) {
  FreeCandidates();
  if (!crystal || Heard())
    return false;
  bool any = false;
  for (const ElementIndexEntry &run : runs) {
    int32_t first = 0, last = -1;
    if (!TurboGetElementAtomRange(crystal, run, &first, &last))
      continue;
    if (!AppendIndexedAtoms(crystal, first, last)) {
      FreeCandidates();
      return false;
    }
    any = true;
  }
  return any;
}

void CandidateIndex::SetCandidates(std::vector<TurboAtom> candidates) {
  FreeCandidates();
  atoms_ = std::move(candidates);
}

namespace {

// x = |distance| / d(hkl) per axis, in double; false for a refused cell or a
// distance or ratio that is not finite.
bool CellReach(CrystalRec *crystal, float distance, double x[3]) {
  if (!crystal || !std::isfinite(distance))
    return false;
  const float d[3] = {DSpace(crystal, 1, 0, 0), DSpace(crystal, 0, 1, 0), DSpace(crystal, 0, 0, 1)};
  for (int i = 0; i < 3; i++) {
    if (!(d[i] > 0.0f))
      return false;
    x[i] = std::fabs(static_cast<double>(distance)) / static_cast<double>(d[i]);
    if (!std::isfinite(x[i]) || x[i] > static_cast<double>(kMaxTurboCandidates))
      return false;
  }
  return true;
}

} // namespace

bool TurboCentreShift(CrystalRec *crystal, float distance, int32_t shift[3]) {
  double x[3];
  if (!CellReach(crystal, distance, x))
    return false;
  for (int i = 0; i < 3; i++)
    shift[i] = static_cast<int32_t>(std::ceil(x[i]));
  return true;
}

// ExtendCellRange over the sites of the spans (first, last), in site order.
bool CandidateIndex::ExtendOverSites(CrystalRec *crystal, const std::vector<std::pair<int64_t, int64_t>> &spans,
                                     float distance, std::vector<uint32_t> *sites) {

  FreeCandidates();
  if (!crystal || spans.empty() || Heard())
    return false;
  const CrystalRec &c = *crystal;
  const int64_t nSites = static_cast<int64_t>(UsableSiteSize(c));
  const int64_t nAtoms = static_cast<int64_t>(UsableAtomSize(c));
  for (const auto &[first, last] : spans)
    if (first < 0 || last >= nSites || first > last)
      return false;
  double x[3];
  if (!CellReach(crystal, distance, x))
    return false;
  // Per axis: n = 2 ceil(x) + 1 cells, the query's central cell ceil(x). A
  // point of the central cell reaches from ceil(x) - x to ceil(x) + 1 + x, so
  // images outside that window are never within the distance.
  int64_t n[3];
  double lo[3], hi[3];
  for (int i = 0; i < 3; i++) {
    const double k = std::ceil(x[i]);
    n[i] = 2 * static_cast<int64_t>(k) + 1;
    lo[i] = k - x[i] - kCellWindowSlack;
    hi[i] = std::max(static_cast<double>(n[i] - 1) + x[i], k + 1.0 + x[i]) + kCellWindowSlack;
  }
  // First-cell atoms of the sites; the interior cells of the block always
  // take part, so a block that is too large is refused before counting.
  int64_t firstCellAtoms = 0;
  for (const auto &[first, last] : spans)
    for (int64_t s = first; s <= last; s++) {
      if (Tick())
        return false;
      firstCellAtoms += std::max(c.sites[static_cast<size_t>(s)].atomsPerCell, 0);
    }
  {
    double interior = static_cast<double>(firstCellAtoms);
    for (int i = 0; i < 3; i++)
      interior *= static_cast<double>(std::max<int64_t>(n[i] - 2, 1));
    if (interior > static_cast<double>(kMaxTurboCandidates))
      return false;
  }
  // Per atom and axis the accepted cells form one run [from, to]; count first.
  struct Accepted {
    uint32_t atom;
    uint32_t site;
    float u[3];
    int32_t from[3];
    int32_t to[3];
  };
  try {
    std::vector<Accepted> accepted;
    accepted.reserve(static_cast<size_t>(firstCellAtoms));
    int64_t total = 0;
    for (const auto &[first, last] : spans) {
      for (int64_t s = first; s <= last; s++) {
        const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
        for (int32_t j = 0; j < site.atomsPerCell; j++) {
          const int64_t index = int64_t{site.firstAtom} + j;
          if (index < 0 || index >= nAtoms)
            break;
          if (Tick())
            return false;
          Accepted a;
          a.atom = static_cast<uint32_t>(index);
          a.site = static_cast<uint32_t>(s);
          int64_t count = 1;
          for (int i = 0; i < 3; i++) {
            a.u[i] = WrapOnce(c.atoms[static_cast<size_t>(index)].xyz[i]);
            a.from[i] = -1;
            a.to[i] = -2;
            for (int64_t k = 0; k < n[i]; k++) {
              const double image = static_cast<double>(a.u[i] + static_cast<float>(k));
              if (image >= lo[i] && image <= hi[i]) {
                if (a.from[i] < 0)
                  a.from[i] = static_cast<int32_t>(k);
                a.to[i] = static_cast<int32_t>(k);
              }
            }
            count *= std::max<int64_t>(a.to[i] - a.from[i] + 1, 0);
          }
          total += count;
          if (total > kMaxTurboCandidates)
            return false;
          accepted.push_back(a);
        }
      }
    }
    atoms_.resize(static_cast<size_t>(total));
    if (sites)
      sites->resize(static_cast<size_t>(total));
    size_t out = 0;
    for (const Accepted &a : accepted) {
      for (int32_t kc = a.from[2]; kc <= a.to[2]; kc++) {
        for (int32_t kb = a.from[1]; kb <= a.to[1]; kb++) {
          for (int32_t ka = a.from[0]; ka <= a.to[0]; ka++) {
            if (Tick()) {
              FreeCandidates();
              if (sites)
                sites->clear();
              return false;
            }
            const float image[3] = {a.u[0] + static_cast<float>(ka), a.u[1] + static_cast<float>(kb),
                                    a.u[2] + static_cast<float>(kc)};
            if (sites)
              (*sites)[out] = a.site;
            TurboAtom &t = atoms_[out++];
            t.atom = a.atom;
            MatMul(c.orientationMatrix, image, t.xyz);
          }
        }
      }
    }
  } catch (const std::bad_alloc &) {
    FreeCandidates();
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return true;
}


bool CandidateIndex::ExtendCellRange(CrystalRec *crystal, int32_t firstSite, int32_t lastSite, float distance,
                                     std::vector<uint32_t> *sites) {
  return ExtendOverSites(crystal, {{firstSite, lastSite}}, distance, sites);
}

bool CandidateIndex::ExtendCellRange(CrystalRec *crystal, const std::vector<ElementIndexEntry> &runs,
                                     float distance) {
  std::vector<std::pair<int64_t, int64_t>> spans;
  for (const ElementIndexEntry &run : runs)
    spans.emplace_back(run.firstSite, run.lastSite);
  return ExtendOverSites(crystal, spans, distance, nullptr);
}

// ---- Sorting and box queries ----------------------------------------------------------

// The positions 0..n-1 ordered by ascending x, ties by
// ascending position: a stable radix sort on (key, position).
bool CandidateIndex::OrderX(std::vector<uint32_t> &order) {
  const size_t n = atoms_.size();
  // Each pass over the candidates in pieces, the cancel key heard between
  // them.
  const auto inPieces = [&](auto pass) {
    for (size_t from = 0; from < n; from += kCandidateCancelEvery) {
      const size_t to = std::min(n, from + size_t{kCandidateCancelEvery});
      for (size_t i = from; i < to; i++)
        pass(i);
      if (Tick(to - from))
        return false;
    }
    return true;
  };
  // Scratch of the radix passes, left uninitialised: every entry is written
  // before it is read.
  std::unique_ptr<uint64_t[]> a(new uint64_t[n]), b(new uint64_t[n]);
  if (!inPieces([&](size_t i) { a[i] = (uint64_t{FloatKey(atoms_[i].xyz[0])} << 32) | i; }))
    return false;
  if (n < kRadixSortThreshold) {
    std::sort(a.get(), a.get() + n);
  } else {
    // Three stable passes over the key's 32 bits (11, 11 and 10 bits); the
    // input is in position order, so ties stay in position order.
    constexpr int kBits = 11;
    constexpr size_t kBuckets = size_t{1} << kBits;
    std::vector<uint32_t> count(kBuckets);
    for (int pass = 0; pass < 3; pass++) {
      const int shift = 32 + pass * kBits;
      std::fill(count.begin(), count.end(), 0u);
      if (!inPieces([&](size_t i) { count[(a[i] >> shift) & (kBuckets - 1)]++; }))
        return false;
      uint32_t sum = 0;
      for (uint32_t &c : count) {
        const uint32_t k = c;
        c = sum;
        sum += k;
      }
      if (!inPieces([&](size_t i) { b[count[(a[i] >> shift) & (kBuckets - 1)]++] = a[i]; }))
        return false;
      a.swap(b);
    }
  }
  return inPieces([&](size_t i) { order[i] = static_cast<uint32_t>(a[i] & 0xFFFFFFFFu); });
}

// The grid cell of a coordinate on one axis, clamped to the grid. Monotonic
// in the coordinate, so a cube's candidates lie in the cells of its faces'
// coordinates.
int64_t CandidateIndex::CellOf(double v, int axis) const {
  // Build and query place points with this same monotone rule, so a query's
  // cell range always covers every candidate inside its cube. The floor of
  // the scaled offset, clamped to the grid: below 1 it is cell 0 (NaN too),
  // from the last cell's index on the last cell, and in between truncation
  // is the floor.
  const double t = (v - grid_.origin[axis]) * grid_.inverseEdge;
  if (!(t >= 1.0))
    return 0;
  const double top = static_cast<double>(grid_.dims[axis] - 1);
  return t >= top ? grid_.dims[axis] - 1 : static_cast<int64_t>(t);
}

bool CandidateIndex::BuildGrid(double halfWidth) {
  grid_ = Grid{};
  grid_.built = true;
  grid_.requested = halfWidth;
  const size_t n = atoms_.size();
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  size_t finite = 0;
  for (const TurboAtom &t : atoms_) {
    if (Tick()) {
      grid_ = Grid{};
      return false;
    }
    if (!IsFinite3(t.xyz))
      continue;
    for (int i = 0; i < 3; i++) {
      const double v = t.xyz[i];
      if (finite == 0 || v < lo[i])
        lo[i] = v;
      if (finite == 0 || v > hi[i])
        hi[i] = v;
    }
    finite++;
  }
  if (finite == 0)
    return true;
  grid_.empty = false;
  const double limit =
      static_cast<double>(std::max(kMinGridCells, kGridCellsPerCandidate * static_cast<int64_t>(finite)));
  double edge = std::max(halfWidth, kMinGridCellEdge);
  double dims[3];
  for (;;) {
    for (int i = 0; i < 3; i++)
      dims[i] = std::floor((hi[i] - lo[i]) / edge) + 1.0;
    if (dims[0] * dims[1] * dims[2] <= limit)
      break;
    edge *= kGridGrowth;
    grid_.raised = true;
  }
  grid_.edge = edge;
  grid_.inverseEdge = 1.0 / edge;
  for (int i = 0; i < 3; i++) {
    grid_.origin[i] = lo[i];
    grid_.top[i] = hi[i];
    grid_.dims[i] = static_cast<int64_t>(dims[i]);
  }
  const size_t cells = static_cast<size_t>(grid_.dims[0] * grid_.dims[1] * grid_.dims[2]);
  try {
    std::vector<uint32_t> cellOf(n, std::numeric_limits<uint32_t>::max());
    grid_.cellStart.assign(cells + 1, 0u);
    const auto stop = [this] {
      grid_ = Grid{};
      return false;
    };
    for (size_t i = 0; i < n; i++) {
      if (Tick())
        return stop();
      const TurboAtom &t = atoms_[i];
      if (!IsFinite3(t.xyz))
        continue;
      const int64_t cx = CellOf(t.xyz[0], 0), cy = CellOf(t.xyz[1], 1), cz = CellOf(t.xyz[2], 2);
      const uint32_t cell = static_cast<uint32_t>((cz * grid_.dims[1] + cy) * grid_.dims[0] + cx);
      cellOf[i] = cell;
      grid_.cellStart[cell + 1]++;
    }
    for (size_t k = 0; k < cells; k++) {
      if (Tick())
        return stop();
      grid_.fullest = std::max(grid_.fullest, grid_.cellStart[k + 1]);
      grid_.cellStart[k + 1] += grid_.cellStart[k];
    }
    std::vector<uint32_t> fill(grid_.cellStart.begin(), grid_.cellStart.end() - 1);
    grid_.items.resize(finite);
    // In x-rank order, so each cell lists its candidates by ascending rank.
    for (size_t r = 0; r < n; r++) {
      if (Tick())
        return stop();
      const uint32_t pos = sortX_[r];
      const uint32_t cell = cellOf[pos];
      if (cell == std::numeric_limits<uint32_t>::max())
        continue;
      GridItem &item = grid_.items[fill[cell]++];
      std::memcpy(item.xyz, atoms_[pos].xyz, sizeof item.xyz);
      item.rank = static_cast<uint32_t>(r);
      item.atom = atoms_[pos].atom;
    }
  } catch (const std::bad_alloc &) {
    grid_ = Grid{};
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return true;
}

bool CandidateIndex::SortByX() {
  FreeSortMemory();
  const size_t n = atoms_.size();
  try {
    sortX_.resize(n);
    rankX_.resize(n);
    boxed_.clear();
    if (Heard() || !OrderX(sortX_)) {
      FreeSortMemory();
      return false;
    }
  } catch (const std::bad_alloc &) {
    FreeSortMemory();
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  for (size_t r = 0; r < n; r++) {
    if (Tick()) {
      FreeSortMemory();
      return false;
    }
    rankX_[sortX_[r]] = static_cast<uint32_t>(r);
  }
  return true;
}

bool CandidateIndex::GroupPlaces(TurboPlaces *places) {
  // Stopped by the cancel key: nothing is left to search.
  const auto stop = [&] {
    FreeCandidates();
    *places = TurboPlaces{};
    return false;
  };
  if (!SortByX())
    return stopped_ ? stop() : false;
  const size_t n = atoms_.size();
  try {
    // The first candidate of each place, for every candidate (made once two
    // share a place). Candidates at one place share their x, so they stand
    // together in the x order: each run of one finite x is ordered by y, z
    // and position, and neighbours there at one place join.
    std::vector<uint32_t> firstOf;
    std::vector<uint32_t> run, dealt, placeInRun;
    const auto less = [this](uint32_t a, uint32_t b) {
      const float *p = atoms_[a].xyz, *q = atoms_[b].xyz;
      if (p[1] != q[1])
        return p[1] < q[1];
      if (p[2] != q[2])
        return p[2] < q[2];
      return a < b;
    };
    // A long run of few places (rows at one place, and their images a cell
    // away) is not sorted: the joins below ask only that each place's
    // candidates stand together in position order, the order the run comes
    // in. Its candidates are dealt to their places, in the order the places
    // first appear; false, the run as it was, when it holds more places.
    constexpr size_t kLongRun = 64;
    constexpr size_t kFewPlaces = 8;
    const auto dealToFewPlaces = [&]() {
      if (run.size() < kLongRun)
        return false;
      std::array<const float *, kFewPlaces> seen{};
      std::array<uint32_t, kFewPlaces + 1> next{};
      size_t nSeen = 0;
      placeInRun.resize(run.size());
      for (size_t k = 0; k < run.size(); k++) {
        const float *p = atoms_[run[k]].xyz;
        size_t j = 0;
        while (j < nSeen && !(seen[j][1] == p[1] && seen[j][2] == p[2]))
          j++;
        if (j == nSeen) {
          if (nSeen == kFewPlaces)
            return false;
          seen[nSeen++] = p;
        }
        placeInRun[k] = static_cast<uint32_t>(j);
        next[j + 1]++;
      }
      for (size_t j = 0; j < nSeen; j++)
        next[j + 1] += next[j];
      dealt.resize(run.size());
      for (size_t k = 0; k < run.size(); k++)
        dealt[next[placeInRun[k]]++] = run[k];
      run.swap(dealt);
      return true;
    };
    for (size_t r = 0, end = 0; r < n; r = end) {
      const float x = atoms_[sortX_[r]].xyz[0];
      for (end = r + 1; end < n && atoms_[sortX_[end]].xyz[0] == x;)
        end++;
      if (Tick(end - r))
        return stop();
      if (end - r < 2)
        continue;
      run.clear();
      for (size_t k = r; k < end; k++)
        if (IsFinite3(atoms_[sortX_[k]].xyz))
          run.push_back(sortX_[k]);
      // Rows at one place come in position order, which is the order sought.
      if (!std::is_sorted(run.begin(), run.end(), less) && !dealToFewPlaces())
        std::sort(run.begin(), run.end(), less);
      for (size_t k = 1; k < run.size(); k++) {
        const float *p = atoms_[run[k - 1]].xyz, *q = atoms_[run[k]].xyz;
        if (p[1] == q[1] && p[2] == q[2]) {
          if (firstOf.empty()) {
            firstOf.resize(n);
            std::iota(firstOf.begin(), firstOf.end(), 0u);
          }
          firstOf[run[k]] = firstOf[run[k - 1]];
        }
      }
    }
    places->start.clear();
    places->members.clear();
    places->all.clear();
    if (firstOf.empty()) {
      places->start.resize(n + 1);
      std::iota(places->start.begin(), places->start.end(), 0u);
      places->members.resize(n);
      std::iota(places->members.begin(), places->members.end(), 0u);
      places->all = atoms_;
      return true;
    }
    // Places in the order of their first candidates; members counted, then
    // filled in ascending position.
    std::vector<uint32_t> placeOf(n, 0);
    std::vector<TurboAtom> kept;
    std::vector<uint32_t> counts;
    for (size_t i = 0; i < n; i++) {
      if (Tick())
        return stop();
      if (firstOf[i] == i) {
        placeOf[i] = static_cast<uint32_t>(kept.size());
        kept.push_back(atoms_[i]);
        counts.push_back(0);
      } else {
        placeOf[i] = placeOf[firstOf[i]];
      }
      counts[placeOf[i]]++;
    }
    places->start.assign(kept.size() + 1, 0u);
    for (size_t p = 0; p < kept.size(); p++)
      places->start[p + 1] = places->start[p] + counts[p];
    places->members.resize(n);
    std::vector<uint32_t> fill(places->start.begin(), places->start.end() - 1);
    for (size_t i = 0; i < n; i++) {
      if (Tick())
        return stop();
      places->members[fill[placeOf[i]]++] = static_cast<uint32_t>(i);
    }
    places->all.swap(atoms_);
    atoms_.swap(kept);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return SortByX() || (stopped_ && stop());
}

bool CandidateIndex::PrepareGrid(float d) {
  const size_t n = atoms_.size();
  if (n == 0 || sortX_.size() != n || rankX_.size() != n || !std::isfinite(d) || d < 0.0f)
    return false;
  const double half = d;
  if (!grid_.built || half > grid_.edge * kGridRebuildFactor ||
      (!grid_.raised && half * kGridRebuildFactor * kGridRebuildFactor < grid_.requested)) {
    if (!BuildGrid(half))
      return false;
  }
  return !grid_.empty;
}

bool CandidateIndex::CubeOf(const float p[3], float d, QueryCube *cube) const {
  if (!IsFinite3(p))
    return false;
  for (int i = 0; i < 3; i++) {
    cube->lo[i] = p[i] - d;
    cube->hi[i] = p[i] + d;
  }
  if (!IsFinite3(cube->lo) || !IsFinite3(cube->hi))
    return false;
  for (int i = 0; i < 3; i++) {
    const double top = grid_.origin[i] + static_cast<double>(grid_.dims[i]) * grid_.edge;
    if (static_cast<double>(cube->hi[i]) < grid_.origin[i] || static_cast<double>(cube->lo[i]) > top)
      return false;
    cube->from[i] = CellOf(cube->lo[i], i);
    cube->to[i] = CellOf(cube->hi[i], i);
  }
  return true;
}

// PrepareGrid and CubeOf: a query of half-width d around p.
bool CandidateIndex::PrepareQuery(const float p[3], float d, QueryCube *cube) {
  return p && IsFinite3(p) && PrepareGrid(d) && CubeOf(p, d, cube);
}

uint64_t CandidateIndex::CubeHolds(const QueryCube &cube) const {
  uint64_t held = 0;
  for (int64_t cz = cube.from[2]; cz <= cube.to[2]; cz++) {
    for (int64_t cy = cube.from[1]; cy <= cube.to[1]; cy++) {
      const int64_t row = (cz * grid_.dims[1] + cy) * grid_.dims[0];
      held += grid_.cellStart[static_cast<size_t>(row + cube.to[0] + 1)] -
              grid_.cellStart[static_cast<size_t>(row + cube.from[0])];
    }
  }
  return held;
}

int32_t CandidateIndex::SortHits(size_t n) {
  // A query's hits are a few dozen at most in any real structure: sorted
  // in place by insertion, without the partitioning of a general sort. The
  // keys are distinct (each holds its item), so either sort gives one order.
  if (n <= kInsertionSortedHits) {
    uint64_t *h = hits_.data();
    for (size_t i = 1; i < n; i++) {
      const uint64_t v = h[i];
      size_t j = i;
      for (; j > 0 && h[j - 1] > v; j--)
        h[j] = h[j - 1];
      h[j] = v;
    }
  } else {
    std::sort(hits_.begin(), hits_.begin() + static_cast<std::ptrdiff_t>(n));
  }
  boxed_.resize(n);
  for (size_t i = 0; i < n; i++)
    boxed_[i] = sortX_[static_cast<size_t>(hits_[i] >> 32)];
  return static_cast<int32_t>(n);
}

int32_t CandidateIndex::BoxAtoms(const float p[3], float d) {
  hits_.clear();
  QueryCube cube;
  if (PrepareQuery(p, d, &cube))
    VisitCube(cube, [&](uint32_t k) { hits_.push_back((uint64_t{grid_.items[k].rank} << 32) | k); });
  return SortHits(hits_.size());
}

int32_t CandidateIndex::BallAtomsAfter(const float p[3], float d, uint32_t position) {
  QueryCube cube;
  if (!PrepareQuery(p, d, &cube))
    return SortHits(0);
  // Every item of the cube's cells is written and kept when it passes, with
  // no branch on the test: room for as many as the fullest cell holds in
  // each, where that is little, rather than a pass over the cells to count.
  uint64_t room = grid_.fullest;
  for (int i = 0; i < 3; i++)
    room *= static_cast<uint64_t>(cube.to[i] - cube.from[i] + 1);
  if (room > kMostHitsRoom)
    room = CubeHolds(cube);
  if (hits_.size() < room)
    hits_.resize(static_cast<size_t>(room));
  uint64_t *out = hits_.data();
  size_t n = 0;
  const float dSq = d * d;
  VisitCube<true, true>(cube, [&](uint32_t k, bool inCube) {
    const GridItem &item = grid_.items[k];
    const float dx = item.xyz[0] - p[0];
    const float dy = item.xyz[1] - p[1];
    const float dz = item.xyz[2] - p[2];
    out[n] = (uint64_t{item.rank} << 32) | k;
    n += inCube & (dx * dx + dy * dy + dz * dz <= dSq);
  });
  // Of those, the candidates after the position.
  size_t kept = 0;
  for (size_t i = 0; i < n; i++) {
    const uint64_t hit = out[i];
    out[kept] = hit;
    kept += sortX_[static_cast<size_t>(hit >> 32)] > position;
  }
  return SortHits(kept);
}

bool CandidateIndex::HoldsMoreThan(const float p[3], float d, size_t limit) {
  QueryCube cube;
  if (!PrepareQuery(p, d, &cube))
    return false;
  // What the cube's cells hold bounds the count: most places are settled
  // by it without a distance.
  if (CubeHolds(cube) <= limit)
    return false;
  const float dSq = d * d;
  size_t count = 0;
  // The candidates of cells first..end within d of p; true once more than
  // limit are found.
  const auto countCells = [&](size_t first, size_t end) {
    for (uint32_t k = grid_.cellStart[first]; k < grid_.cellStart[end]; k++) {
      const GridItem &item = grid_.items[k];
      const float dx = item.xyz[0] - p[0], dy = item.xyz[1] - p[1], dz = item.xyz[2] - p[2];
      if (dx * dx + dy * dy + dz * dz <= dSq && ++count > limit)
        return true;
    }
    return false;
  };
  // p's own cell first: a cell d wide holds at least an eighth of the
  // sphere of radius d around p, and a cell half d wide (the automatic
  // search's grid, unless the grid's size limit widened its cells) lies
  // wholly inside it, so where candidates crowd the count passes the limit
  // there after a few times limit of them.
  const size_t own = static_cast<size_t>((CellOf(p[2], 2) * grid_.dims[1] + CellOf(p[1], 1)) * grid_.dims[0] +
                                         CellOf(p[0], 0));
  if (countCells(own, own + 1))
    return true;
  // The cells first..end but p's own, counted already.
  const auto countAround = [&](size_t first, size_t end) {
    if (own >= first && own < end)
      return countCells(first, own) || countCells(own + 1, end);
    return countCells(first, end);
  };
  if ((cube.to[1] - cube.from[1] + 1) * (cube.to[2] - cube.from[2] + 1) > kMostRowsAcross * kMostRowsAcross) {
    for (int64_t cz = cube.from[2]; cz <= cube.to[2]; cz++)
      for (int64_t cy = cube.from[1]; cy <= cube.to[1]; cy++) {
        const int64_t row = (cz * grid_.dims[1] + cy) * grid_.dims[0];
        if (countAround(static_cast<size_t>(row + cube.from[0]), static_cast<size_t>(row + cube.to[0] + 1)))
          return true;
      }
    return false;
  }
  // Of each row of the cube's cells, the stretch that reaches within d of p
  // (a little beyond: kCellReachSlack), so that no cell the sphere misses is
  // read; what the stretches hold bounds the count again.
  size_t stretches[2 * kMostRowsAcross * kMostRowsAcross]; // first and end cell of each
  size_t ends = 0;
  uint64_t held = 0;
  const double reach = double(d) * (1.0 + kCellReachSlack) + grid_.edge * kCellReachSlack;
  const auto gap = [&](int axis, int64_t cell) {
    const double low = grid_.origin[axis] + double(cell) * grid_.edge, high = low + grid_.edge;
    return std::max({0.0, low - double(p[axis]), double(p[axis]) - high});
  };
  for (int64_t cz = cube.from[2]; cz <= cube.to[2]; cz++) {
    for (int64_t cy = cube.from[1]; cy <= cube.to[1]; cy++) {
      const double gy = gap(1, cy), gz = gap(2, cz);
      const double left = reach * reach - gy * gy - gz * gz;
      if (left < 0.0)
        continue;
      const double across = std::sqrt(left);
      const int64_t from = std::max(cube.from[0], CellOf(double(p[0]) - across, 0));
      const int64_t to = std::min(cube.to[0], CellOf(double(p[0]) + across, 0));
      if (from > to)
        continue;
      const int64_t row = (cz * grid_.dims[1] + cy) * grid_.dims[0];
      stretches[ends++] = static_cast<size_t>(row + from);
      stretches[ends++] = static_cast<size_t>(row + to + 1);
      held += grid_.cellStart[static_cast<size_t>(row + to + 1)] - grid_.cellStart[static_cast<size_t>(row + from)];
    }
  }
  if (held <= limit)
    return false;
  for (size_t e = 0; e < ends; e += 2)
    if (countAround(stretches[e], stretches[e + 1]))
      return true;
  return false;
}

uint64_t CandidateIndex::MostAnyCubeHolds(float d) {
  if (!PrepareGrid(d))
    return 0;
  // The faces of a cube around a candidate, rounded to single precision, lie
  // at most 2d and two roundings of the largest coordinate apart; its cells
  // per axis are at most that over the edge, plus two.
  uint64_t most = grid_.fullest;
  for (int i = 0; i < 3; i++) {
    const double reach = std::max(std::fabs(grid_.origin[i]), std::fabs(grid_.top[i])) + double(d);
    const double width = (2.0 * double(d) + 2.0 * reach * std::numeric_limits<float>::epsilon()) / grid_.edge;
    most *= static_cast<uint64_t>(std::min(std::floor(width) + 2.0, double(grid_.dims[i])));
  }
  return most;
}

void CandidateIndex::FreeSortMemory() {
  FreeVector(sortX_);
  FreeVector(rankX_);
  grid_ = Grid{};
}

void CandidateIndex::HearCancelKey() {
  cancel_.emplace(1);
  ticks_ = 0;
  stopped_ = false;
}

bool CandidateIndex::Heard() {
  if (cancel_ && !stopped_)
    stopped_ = LongCommandCancelled() && !ShowingAfterStop::Active();
  return stopped_;
}

void CandidateIndex::FreeCandidates() {
  FreeSortMemory();
  FreeVector(atoms_);
  FreeVector(hits_);
  FreeVector(boxed_);
}

// ---- Pairs found over a block of cells ------------------------------------------------

namespace {

// A pair limit reads the block's pairs when its maximum lies inside the
// search distance by more than this share of the largest coordinate plus the
// distance: far beyond the rounding of a cube's face (2^-24 of it), so that a
// neighbour inside the limit's cube around one end lies inside the search's
// cube around the other.
constexpr double kPairReachRounding = 1e-6;
// The pairs' room is estimated from this many first places, with this much
// to spare.
constexpr size_t kPairsEstimatedFrom = 1024;
constexpr double kPairsRoomFactor = 1.25;

} // namespace

void BlockPairs::Begin(CrystalRec *crystal, float reach, const TurboPlaces &places, size_t placeCount,
                       std::vector<uint32_t> gatheredSites) {
  Free();
  if (placeCount >= UINT32_MAX || gatheredSites.size() != places.all.size() ||
      !TurboCentreShift(crystal, reach, shift_))
    return;
  usable_ = true;
  reach_ = reach;
  places_ = &places;
  placeCount_ = placeCount;
  oneEach_ = places.all.size() == placeCount;
  gatheredSites_ = std::move(gatheredSites);
  try {
    forwardStart_.reserve(placeCount + 1);
    forwardStart_.push_back(0);
  } catch (const std::bad_alloc &) {
    Free();
  }
}

void BlockPairs::EndPlace() {
  if (!usable_)
    return;
  if (forward_.size() >= UINT32_MAX || forwardStart_.size() > placeCount_)
    return Free();
  forwardStart_.push_back(static_cast<uint32_t>(forward_.size()));
  // Room for all the pairs, as many a place as the first places found, made
  // once: growing by copies would touch every page several times.
  if (forwardStart_.size() == kPairsEstimatedFrom + 1 && placeCount_ > kPairsEstimatedFrom) {
    const double estimate = double(forward_.size()) / double(kPairsEstimatedFrom) * double(placeCount_);
    try {
      forward_.reserve(static_cast<size_t>(std::min(estimate * kPairsRoomFactor, double(UINT32_MAX))));
    } catch (const std::bad_alloc &) {
      // The list grows as the pairs are found.
    }
  }
}

void BlockPairs::Finish() {
  if (usable_ && forwardStart_.size() != placeCount_ + 1)
    Free();
}

void BlockPairs::FindSitesAndLaterEnds(const CrystalRec &c) {
  sitesFound_ = true;
  const size_t nSites = UsableSiteSize(c);
  try {
    for (const TurboAtom &t : places_->all)
      if (IsFinite3(t.xyz))
        for (const float v : t.xyz)
          largest_ = std::max(largest_, std::fabs(double(v)));
    // Each site's place: where its image in the central cell stands, at the
    // very point the count queries from.
    siteElement_.resize(nSites);
    std::vector<std::array<float, 3>> from(nSites);
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      siteElement_[s] = site.elements[0];
      float q[3];
      for (int i = 0; i < 3; i++)
        q[i] = WrapOnce(site.xyz[i]) + static_cast<float>(shift_[i]);
      MatMul(c.orientationMatrix, q, from[s].data());
    }
    sitePlace_.assign(nSites, kNoPlace);
    for (uint32_t place = 0; place < placeCount_; place++)
      for (const uint32_t m : Members(place)) {
        const uint32_t s = gatheredSites_[m];
        const float *x = places_->all[m].xyz;
        if (s < nSites && sitePlace_[s] == kNoPlace && x[0] == from[s][0] && x[1] == from[s][1] &&
            x[2] == from[s][2])
          sitePlace_[s] = place;
      }
    // The pairs from their later end, in the order of their earlier one.
    backStart_.assign(placeCount_ + 1, 0);
    for (const Pair &pair : forward_)
      backStart_[pair.place + 1]++;
    for (size_t k = 0; k < placeCount_; k++)
      backStart_[k + 1] += backStart_[k];
    back_.reset(new Pair[forward_.size()]);
    std::vector<uint32_t> fill(backStart_.begin(), backStart_.end() - 1);
    for (uint32_t place = 0; place < placeCount_; place++)
      for (uint32_t k = forwardStart_[place]; k < forwardStart_[place + 1]; k++)
        back_[fill[forward_[k].place]++] = {place, forward_[k].d2};
  } catch (const std::bad_alloc &) {
    Free();
  }
}

bool BlockPairs::Serves(const CrystalRec &c, float maxLength, const int32_t shift[3]) {
  if (!usable_ || !std::equal(shift, shift + 3, shift_) || !std::isfinite(maxLength) || maxLength < 0.0f)
    return false;
  if (!sitesFound_)
    FindSitesAndLaterEnds(c);
  return usable_ && double(maxLength) + (largest_ + double(reach_)) * kPairReachRounding < double(reach_);
}

// ---- Entry points ---------------------------------------------------------------

BondSearchEnd TurboLastBondSearchEnd() { return sLastBondSearchEnd; }

void TurboEndCancelledSearch(CrystalRec *crystal, bool tell) {
  TurboRemoveBonds(crystal);
  sLastBondSearchEnd = BondSearchEnd::Cancelled;
  if (tell)
    ReportCancelledBondSearch();
}

void ReportCoincidentPairs(uint64_t pairs) {
  if (pairs == 0)
    return;
  FWrite(GroupedCount(pairs) + (pairs == 1 ? " pair" : " pairs") +
         " of atoms closer than 0.1 A left unbonded: atoms at one place are never bonded to each other.");
}

void TurboRemoveBonds(CrystalRec *crystal) {
  if (!crystal)
    return;
  for (AtomRecord &atom : crystal->atoms) {
    DestroyPolyhedron(atom.polyhedron);
    DestroyBondsListForAtom(&atom);
  }
}

namespace {

// The bonds of atom a found among the candidates: those in the cube of
// half-width maxLength around p whose squared distance lies in
// [minSq, maxSq] (with an atom of a smaller index only, for a specification
// joining an element to itself), appended to pairs as (a << 32 | b) in
// ascending x rank, as the box query lists them. A partner at a's place is
// left out and counted in *coincident, unless an earlier specification of
// the same pair (earlier) took it already. An alternative position of a
// (null when the structure has none) is left out silently. Without memory,
// false.
// gridReady: PrepareGrid(maxLength) has answered true, and nothing has
// changed the candidates since. *ordered (when not null) counts the pairs
// (a, b) of every candidate of the cube's cells within the specification's
// limits (SpecificationBondsPair), whatever its side, alternative or place
// in the cube: bonds between two atoms of the specification's element are
// counted twice over the atoms' queries.
bool AppendBondsOf(CandidateIndex &index, std::vector<uint64_t> &found, uint32_t a, const float p[3], float maxLength, float minSq, float maxSq, bool sameElement,
                   bool gridReady, const std::vector<std::pair<float, float>> &earlier,
                   const SiteAlternatives *alternatives, uint64_t *coincident, std::vector<uint64_t> &pairs,
                   uint64_t *ordered) {
  found.clear();
  QueryCube cube;
  if (!(gridReady ? index.CubeOf(p, maxLength, &cube)
                  : IsFinite3(p) && index.PrepareGrid(maxLength) && index.CubeOf(p, maxLength, &cube)))
    return true;
  try {
    const auto take = [&](uint32_t k) {
      const GridItem &cand = index.Item(k);
      if (sameElement && !(cand.atom < a))
        return;
      const float dx = cand.xyz[0] - p[0];
      const float dy = cand.xyz[1] - p[1];
      const float dz = cand.xyz[2] - p[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      if (!(minSq <= d2 && d2 <= maxSq))
        return;
      if (alternatives && !alternatives->AtomsMayBondAt(a, cand.atom, d2))
        return;
      if (d2 < kOverlapDistanceSq) {
        if (earlier.empty() || !InEarlierRange(earlier, d2))
          ++*coincident;
        return;
      }
      found.push_back((uint64_t{cand.rank} << 32) | cand.atom);
    };
    if (ordered)
      index.VisitCube<true>(cube, [&](uint32_t k, bool inCube) {
        const GridItem &cand = index.Item(k);
        const float dx = cand.xyz[0] - p[0];
        const float dy = cand.xyz[1] - p[1];
        const float dz = cand.xyz[2] - p[2];
        *ordered += SpecificationBondsPair(dx * dx + dy * dy + dz * dz, minSq, maxSq);
        if (inCube)
          take(k);
      });
    else
      index.VisitCube(cube, take);
    std::sort(found.begin(), found.end());
    for (const uint64_t f : found)
      pairs.push_back((uint64_t{a} << 32) | (f & 0xFFFFFFFFu));
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    return false;
  }
  return true;
}

// The bonds the maxima would give by the density of their elements' atoms
// in range, spread evenly over the range: an atom meets the other
// element's atoms within its sphere (less the sphere of the minimum), a
// pair of one element counted once. 0 (nothing known) for a molecule, a
// cell without volume, or a range less than twice a maximum across.
double BondsByDensity(const CrystalRec &c, const std::vector<AtomPoint> &points,
                      const std::function<std::vector<AtomSpan>(ElementCode)> &spansOf) {
  if (c.molecule)
    return 0.0;
  const float *O = c.orientationMatrix;
  const double cellVolume = std::fabs(double(O[0]) * (double(O[4]) * O[8] - double(O[5]) * O[7]) -
                                      double(O[1]) * (double(O[3]) * O[8] - double(O[5]) * O[6]) +
                                      double(O[2]) * (double(O[3]) * O[7] - double(O[4]) * O[6]));
  const double spacing[3] = {DSpace(&c, 1, 0, 0), DSpace(&c, 0, 1, 0), DSpace(&c, 0, 0, 1)};
  double volume = cellVolume, narrowest = std::numeric_limits<double>::infinity();
  for (int k = 0; k < 3; k++) {
    const double extent = double(c.plotRange[2 * k + 1]) - double(c.plotRange[2 * k]);
    volume *= extent;
    narrowest = std::min(narrowest, extent * spacing[k]);
  }
  if (!(volume > 0.0) || !std::isfinite(volume))
    return 0.0;
  const auto inRange = [&](ElementCode element) {
    double n = 0.0;
    for (const AtomSpan &span : spansOf(element))
      for (int32_t a = span.first; a <= span.last; a++)
        n += points[static_cast<size_t>(a)].inRange;
    return n;
  };
  double bonds = 0.0;
  for (int32_t k = 0; k < SpecCount(c); k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    if (!(narrowest >= 2.0 * double(spec.maxLength)))
      return 0.0;
    const double shell = 4.0 / 3.0 * M_PI *
                         (std::pow(double(spec.maxLength), 3) - std::pow(double(std::max(spec.minLength, 0.0f)), 3));
    const double a = inRange(spec.elementA);
    const double b = spec.elementA == spec.elementB ? a : inRange(spec.elementB);
    bonds += a * (b / volume) * std::max(shell, 0.0) / (spec.elementA == spec.elementB ? 2.0 : 1.0);
  }
  return bonds;
}

// True when the bonds of a specification surely number at most room: the
// grid cells the queries cover hold no more candidates than that, which
// costs little to know. Otherwise the search counts them as it goes
// (AppendBondsOf's ordered count). The grid is ready for the
// specification's maximum.
bool CellsBoundFits(const CandidateIndex &index, const std::vector<AtomPoint> &points, const std::vector<AtomSpan> &spansA, const BondSpec &spec,
                    uint64_t room, CancelPoll &cancel) {
  uint64_t upper = 0;
  for (const AtomSpan &span : spansA) {
    for (int32_t a = span.first; a <= span.last && upper <= room; a++) {
      if (cancel.Step())
        return true; // the search ends at its next check
      const AtomPoint &atom = points[static_cast<size_t>(a)];
      QueryCube cube;
      if (atom.inRange && index.CubeOf(atom.cart, spec.maxLength, &cube))
        upper += index.CubeHolds(cube);
    }
  }
  return upper <= room;
}

void GenerateBonds(CrystalRec *crystal) {
  CrystalRec &c = *crystal;
  const size_t nAtoms = UsableAtomSize(c);
  const bool searchable = c.atomCount >= 2 && nAtoms >= 2 && SpecCount(c) >= 1 && UsableSiteSize(c) > 0;
  sLastBondSearchEnd = BondSearchEnd::Complete;
  if (!searchable) {
    TurboRemoveBonds(crystal);
    return;
  }
  // What the search reads of each atom, noted in one pass that only reads
  // the atom records; the old bonds and polyhedra go in the pass that enters
  // the new bonds.
  std::vector<AtomPoint> &points = sBondScratch.points;
  points.resize(nAtoms);
  // The sites' coordination numbers summed over the atoms in range, and the
  // bonds lists being replaced, each count the bonds about twice: room for
  // the larger count is made at once, so that the list of bonds found does
  // not grow by copying.
  const size_t nSites = UsableSiteSize(c);
  const std::shared_ptr<const SiteAlternatives> heldAlternatives = c.derived.Alternatives(c);
  const SiteAlternatives &alternatives = *heldAlternatives;
  uint64_t expected = 0, previous = 0;
  for (size_t i = 0; i < nAtoms; i++) {
    const AtomRecord &atom = c.atoms[i];
    std::memcpy(points[i].cart, atom.cart, sizeof points[i].cart);
    points[i].inRange = FracCoordsInRange(crystal, atom.xyz);
    if (points[i].inRange && atom.site < nSites)
      expected += c.sites[atom.site].coordination;
    previous += atom.bonds.size();
  }
  expected = std::max(expected, previous);
  // The bonds memory can hold, and those of kMostMeanBondsPerAtom to each
  // atom in range (more lie in no structure: a bond maximum far beyond any
  // bond): they are counted before they are stored.
  uint64_t inRange = 0;
  for (const AtomPoint &point : points)
    inRange += point.inRange;
  const uint64_t memoryRoom = AvailableMemoryBytes() / kBondMemoryShare / kBytesPerBond;
  const uint64_t structureRoom = inRange * kMostMeanBondsPerAtom / 2;
  const uint64_t room = std::min(memoryRoom, structureRoom);
  const bool progress = gShowProgress != 0;
  // The bonds found, (a << 32 | b) in the order found; entered into the
  // lists once the search is over.
  std::vector<uint64_t> &pairs = sBondScratch.pairs;
  pairs.clear();
  // Pairs of atoms at one place that a specification would have bonded.
  uint64_t coincident = 0;
  try {
    pairs.reserve(static_cast<size_t>(std::min({expected / 2 + 1, kMaxReservedBonds, room})));
  } catch (const std::bad_alloc &) {
    // The list grows as the bonds are found.
  }
  // Ends the search: the bonds found so far are entered unless the user
  // cancelled it, which leaves every list empty.
  // The candidates of each specification and the hits of one query.
  CandidateIndex index;
  index.HearCancelKey();
  std::vector<uint64_t> found;
  auto finish = [&](bool cancelled, bool closeStatus, BondSearchEnd end = BondSearchEnd::Complete) {
    index.FreeCandidates();
    if (progress && closeStatus)
      CloseStatus();
    if (cancelled) {
      end = BondSearchEnd::Cancelled;
      ReportCancelledBondSearch();
    }
    if (end != BondSearchEnd::Complete)
      pairs.clear();
    FillBondsLists(c, pairs);
    sLastBondSearchEnd = end;
    if (end == BondSearchEnd::Complete)
      ReportCoincidentPairs(coincident);
  };
  // Each step below that fails for memory says so by its answer: the
  // search then ends as one that ran out of memory anywhere else.
  const auto list = TurboIndexElements(crystal);
  if (!list)
    throw std::bad_alloc();

  // Each element's atom spans, found once: finding them walks every site of
  // its runs.
  std::vector<std::pair<ElementCode, std::vector<AtomSpan>>> spansFound;
  const auto spansOf = [&](ElementCode element) {
    for (const auto &[e, spans] : spansFound)
      if (e == element)
        return spans;
    return spansFound.emplace_back(element, ElementAtomSpans(crystal, *list, element)).second;
  };
  // Progress counts the first element's atoms of every specification that
  // can run.
  int64_t total = 0;
  for (int32_t k = 0; k < SpecCount(c); k++)
    for (const AtomSpan &span : spansOf(c.bondSpecs[static_cast<size_t>(k)].elementA))
      total += span.last - span.first + 1;
  if (total < 1)
    return finish(false, false);
  auto tooMany = [&] {
    const std::string text =
        GroupedCount(inRange) + " atoms would have more than " + GroupedCount(room) +
        " bonds within the bond maximum, " +
        (room < memoryRoom ? "more than " + std::to_string(kMostMeanBondsPerAtom) +
                                 " to an atom on average: the structure is shown without bonds; Edit > Bonding "
                                 "can lower the maximum."
                           : std::string("more than memory holds: the structure is shown without bonds."));
    finish(false, true, BondSearchEnd::TooMany);
    MyCFCautionAlert("Too many bonds", text);
  };
  // Maxima that would bond every atom to far more than the room allows are
  // refused before any pair is searched.
  if (BondsByDensity(c, points, spansOf) > kCrowdVerdictMargin * double(room))
    return tooMany();
  const float step = 100.0f / static_cast<float>(total);
  int64_t counted = 0;
  CancelPoll cancel(kCancelClockEvery);

  for (int32_t k = 0; k < SpecCount(c); k++) {
    const BondSpec spec = c.bondSpecs[static_cast<size_t>(k)];
    const float minSq = spec.minLength * spec.minLength;
    const float maxSq = spec.maxLength * spec.maxLength;
    if (progress)
      WriteProgress(SpecText("Searching for bonds (%c%c - %c%c)...", spec), static_cast<float>(counted) * step);

    // A specification whose elements have no atoms finds nothing; the later
    // ones still run (stopping here would silently drop their bonds, and a
    // specification kept after its element was replaced is common). Sites
    // need not stand sorted: every run of each element takes part.
    const std::vector<AtomSpan> spansA = spansOf(spec.elementA);
    const std::vector<AtomSpan> spansB = spansOf(spec.elementB);
    int64_t atomsA = 0;
    for (const AtomSpan &span : spansA)
      atomsA += span.last - span.first + 1;
    if (spansA.empty() || spansB.empty()) {
      counted += atomsA;
      continue;
    }
    if (!GatherInRange(index, points, spansB))
      throw std::bad_alloc();
    if (cancel.Step())
      return finish(true, true);
    if (index.Empty()) {
      counted += atomsA;
      index.FreeCandidates();
      continue;
    }
    if (!index.SortByX()) {
      if (index.Stopped())
        return finish(true, true);
      throw std::bad_alloc();
    }
    const bool sameElement = spec.elementA == spec.elementB;
    const std::vector<std::pair<float, float>> earlier = EarlierRangesOfPair(c, k);
    // The grid for this specification's queries, made once for them all
    // (should that fail, each query asks again, as the box query does).
    const bool gridReady = index.PrepareGrid(spec.maxLength);
    if (index.Stopped())
      return finish(true, true);
    // The specification's bonds may pass the room left unless the grid
    // cells rule it out: then they are counted as they are found, and the
    // search ends once they pass it (SpecificationBondsPair counts at least
    // the bonds found).
    const uint64_t left = room > pairs.size() ? room - pairs.size() : 0;
    const bool countBonds = gridReady && !CellsBoundFits(index, points, spansA, spec, left, cancel);
    const size_t before = pairs.size();
    uint64_t ordered = 0;
    for (const AtomSpan &span : spansA) {
      for (int32_t a = span.first; a <= span.last; a++) {
        counted++;
        if (cancel.Step())
          return finish(true, true);
        const AtomPoint &atomA = points[static_cast<size_t>(a)];
        if (!atomA.inRange)
          continue;
        const float p[3] = {atomA.cart[0], atomA.cart[1], atomA.cart[2]};
        // The box query, read straight from the grid.
        if (!AppendBondsOf(index, found, static_cast<uint32_t>(a), p, spec.maxLength, minSq, maxSq, sameElement, gridReady, earlier,
                           alternatives.Any() ? &alternatives : nullptr, &coincident, pairs,
                           countBonds ? &ordered : nullptr))
          throw std::bad_alloc();
        if (countBonds && pairs.size() - before > left)
          return tooMany();
        if (progress)
          WriteProgress("", static_cast<float>(counted) * step);
      }
    }
    if (countBonds && (sameElement ? ordered / 2 : ordered) > left)
      return tooMany();
    index.FreeCandidates();
  }
  finish(false, true);
}

} // namespace

// A search that runs out of memory anywhere leaves the structure without
// bonds, as one too large for memory does, and says so.
void TurboGenerateBonds(CrystalRec *crystal) {
  if (!crystal)
    return;
  try {
    GenerateBonds(crystal);
  } catch (const std::bad_alloc &) {
    if (MemoryFailuresPass())
      throw;
    if (gShowProgress)
      CloseStatus();
    TurboRemoveBonds(crystal);
    sLastBondSearchEnd = BondSearchEnd::TooMany;
    MyCFCautionAlert("Too many bonds", "There is not enough memory for the bond search: the structure is shown "
                                       "without bonds.");
  }
}

namespace {

// From this many neighbours on, the partners are found by a sweep along x.
constexpr size_t kPartnerSweepFrom = 8;

// The trees of the partners and the sweep's order, kept between the
// counts of one thread.
struct PartnerScratch {
  std::vector<PartnerPlace> places;
  std::vector<uint32_t> up, order;
};
PartnerScratch &PartnerScratchOfThread() {
  thread_local PartnerScratch scratch;
  return scratch;
}

} // namespace

uint32_t CountPartners(const SiteAlternatives &alternatives, std::span<const uint32_t> atoms,
                       std::span<const std::array<float, 3>> places, std::vector<uint32_t> *stands) {
  const size_t n = std::min(atoms.size(), places.size());
  // Only neighbours of sites that may be apart from some other can join:
  // the others are bonded to anything.
  std::vector<PartnerPlace> &rows = PartnerScratchOfThread().places;
  rows.resize(n);
  size_t m = 0;
  for (uint32_t k = 0; k < n; k++)
    if (alternatives.PlaceOf(atoms[k], &rows[m].row)) {
      rows[m].xyz = places[k];
      rows[m].k = k;
      m++;
    }
  rows.resize(m);
  return CountPartnerPlaces(alternatives, rows, n, stands);
}

uint32_t CountPartnerPlaces(const SiteAlternatives &alternatives, std::span<const PartnerPlace> rows, size_t n,
                            std::vector<uint32_t> *stands) {
  stands->resize(n);
  std::iota(stands->begin(), stands->end(), 0u);
  PartnerScratch &scratch = PartnerScratchOfThread();
  bool finite = true;
  float longest = 0.0f;
  for (const PartnerPlace &p : rows) {
    longest = std::max(longest, p.row.radius);
    finite = finite && IsFinite3(p.xyz.data());
  }
  const size_t m = rows.size();
  // up[i]: a row of the same partner as row i (a forest), its root the
  // place that stands for the partner. Rows keep the neighbours' order, so
  // the first of two rows is the first of their neighbours.
  std::vector<uint32_t> &up = scratch.up;
  up.resize(m);
  std::iota(up.begin(), up.end(), 0u);
  const auto root = [&](uint32_t i) {
    while (up[i] != i)
      i = up[i] = up[up[i]];
    return i;
  };
  // The place of the larger occupancy stands for both, the first of equals.
  const auto before = [&](uint32_t x, uint32_t y) {
    const float ox = rows[x].row.occupancy, oy = rows[y].row.occupancy;
    return ox > oy || (ox == oy && x < y);
  };
  uint32_t count = static_cast<uint32_t>(n);
  // Joins rows i < j when they are places of one partner. The root of a
  // tree is always the first of its members by `before`, so the partners
  // and the places that stand for them do not hang on the order pairs are
  // joined in.
  const auto join = [&](uint32_t i, uint32_t j) {
    const PartnerPlace &a = rows[i], &b = rows[j];
    if (a.row.atom == b.row.atom)
      return;
    const float dx = a.xyz[0] - b.xyz[0], dy = a.xyz[1] - b.xyz[1], dz = a.xyz[2] - b.xyz[2];
    const float d2 = dx * dx + dy * dy + dz * dz;
    const float reach = kPartialAlternativeFactor * (a.row.radius + b.row.radius);
    if (d2 < reach * reach && !alternatives.PlacesMayBondAt(a.row, b.row, d2)) {
      const uint32_t ra = root(i), rb = root(j);
      if (ra != rb) {
        if (before(ra, rb))
          up[rb] = ra;
        else
          up[ra] = rb;
        count--;
      }
    }
  };
  if (!finite || m < kPartnerSweepFrom) {
    for (uint32_t i = 0; i < m; i++)
      for (uint32_t j = i + 1; j < m; j++)
        join(i, j);
  } else {
    // Where every place is finite, only pairs closer along x than the
    // longest reach can join: the rows are swept in x order, each meeting
    // those after it until the x gap alone reaches that far (a sum of
    // squares is never below one of its terms, in single precision too).
    const float most = kPartialAlternativeFactor * (longest + longest);
    const float mostSq = most * most;
    std::vector<uint32_t> &order = scratch.order;
    order.resize(m);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
      return rows[x].xyz[0] < rows[y].xyz[0] || (rows[x].xyz[0] == rows[y].xyz[0] && x < y);
    });
    for (size_t i = 0; i < m; i++)
      for (size_t j = i + 1; j < m; j++) {
        const float gap = rows[order[j]].xyz[0] - rows[order[i]].xyz[0];
        if (!(gap * gap < mostSq))
          break;
        join(std::min(order[i], order[j]), std::max(order[i], order[j]));
      }
  }
  for (uint32_t i = 0; i < m; i++)
    (*stands)[rows[i].k] = rows[root(i)].k;
  return count;
}

bool TurboGetCoordinationNumbers(CrystalRec *crystal, bool *specFoundNothing) {
  return TurboGetCoordinationNumbers(crystal, specFoundNothing, nullptr);
}

bool TurboGetCoordinationNumbers(CrystalRec *crystal, bool *specFoundNothing, BlockPairs *known) {
  const bool progress = gShowProgress != 0;
  if (progress)
    WriteStatus("Preparing coordination search...");
  bool unused = false;
  bool &nothing = specFoundNothing ? *specFoundNothing : unused;
  nothing = false;
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const size_t nSites = UsableSiteSize(c);
  if (nSites == 0)
    return false;
  for (size_t s = 0; s < nSites; s++)
    c.sites[s].coordination = 0;
  if (SpecCount(c) < 1 || c.atomCount < 2 || UsableAtomSize(c) < 2)
    return false;
  const auto list = TurboIndexElements(crystal);
  if (!list)
    return false;

  int64_t total = 0;
  for (int32_t k = 0; k < SpecCount(c); k++)
    total += TurboRunSiteCount(TurboFindElementRuns(*list, c.bondSpecs[static_cast<size_t>(k)].elementA));
  if (total == 0) {
    nothing = true; // no specification names an element with sites first
    return false;
  }
  const float step = 100.0f / static_cast<float>(total);
  int64_t done = 0;
  bool found = false;
  const std::shared_ptr<const SiteAlternatives> heldAlternatives = c.derived.Alternatives(c);
  const SiteAlternatives &alternatives = *heldAlternatives;
  // The cell's volume, for the atoms a maximum reaches on average.
  const float *O = c.orientationMatrix;
  const double volume = std::fabs(double(O[0]) * (double(O[4]) * O[8] - double(O[5]) * O[7]) -
                                  double(O[1]) * (double(O[3]) * O[8] - double(O[5]) * O[6]) +
                                  double(O[2]) * (double(O[3]) * O[7] - double(O[4]) * O[6]));
  std::string uncounted; // the pairs whose maxima reach too far to count
  CancelPoll cancel(kCancelClockEvery);
  // A query's neighbours where some are alternatives of others.
  std::vector<uint32_t> neighbours, stands;
  std::vector<std::array<float, 3>> places;
  // What one pair's bond limits ask: their centre shift (false when the cell
  // refuses it) and their elements' runs, and whether their maximum is counted
  // at all. A maximum whose sphere holds, by the density of either element,
  // far more atoms than any atom has bonds is not counted over the crystal:
  // the images within its reach would number millions.
  // Each pass (the sites of the first element queried, then those of the
  // second) may read the pairs the automatic search found over the same
  // block (BlockPairs) when every site it queries from has its place there.
  struct SpecPlan {
    bool shifted = false;
    int32_t shift[3] = {0, 0, 0};
    std::vector<ElementIndexEntry> runsA, runsB;
    bool counted = false;
    bool fromPairs[2] = {false, false};
    // The candidates each pass meets within the maximum, on average.
    double reachedBy[2] = {0.0, 0.0};
  };
  const auto placed = [&](const std::vector<ElementIndexEntry> &runs) {
    for (const ElementIndexEntry &run : runs)
      for (uint32_t s = run.firstSite; s <= run.lastSite && s < nSites; s++)
        if (known->SitePlace(s) == BlockPairs::kNoPlace)
          return false;
    return true;
  };
  const auto plan = [&](const BondSpec &spec) {
    SpecPlan out;
    out.shifted = TurboCentreShift(crystal, spec.maxLength, out.shift);
    if (!out.shifted)
      return out;
    out.runsB = TurboFindElementRuns(*list, spec.elementB);
    out.runsA = spec.elementA == spec.elementB ? out.runsB : TurboFindElementRuns(*list, spec.elementA);
    if (out.runsA.empty() || out.runsB.empty())
      return out;
    double reached = 0.0;
    const double sphere = 4.0 / 3.0 * M_PI * double(spec.maxLength) * spec.maxLength * spec.maxLength;
    for (const std::vector<ElementIndexEntry> *runs : {&out.runsA, &out.runsB}) {
      double perCell = 0.0;
      for (const ElementIndexEntry &run : *runs)
        for (uint32_t s = run.firstSite; s <= run.lastSite && s < nSites; s++)
          perCell += std::max(c.sites[s].atomsPerCell, 0);
      const double within = volume > 0.0 ? perCell * sphere / volume : 0.0;
      // The first pass meets the second element's atoms, the second pass
      // the first's.
      out.reachedBy[runs == &out.runsB ? 0 : 1] = within;
      reached = std::max(reached, within);
    }
    out.counted = !(reached > double(kMostMeanBondsPerAtom * kUncountedReachFactor));
    if (out.counted && known && known->Serves(c, spec.maxLength, out.shift)) {
      out.fromPairs[0] = placed(out.runsA);
      out.fromPairs[1] = spec.elementA != spec.elementB && placed(out.runsB);
    }
    return out;
  };
  // The candidates of one element are gathered once for every pass that
  // takes them with the same centre shift, as far as the longest maximum
  // among those passes: the images a shorter maximum gathers are among them
  // at the same coordinates, and each count is taken by the exact distance.
  // Each gathering is freed after its last pass.
  struct Gathering {
    ElementCode element = kBlankElement;
    int32_t shift[3] = {0, 0, 0};
    float reach = 0.0f;
    size_t lastUse = 0; // the last pass (2 per pair limit) that takes it
    CandidateIndex index;
    bool tried = false, made = false;
  };
  std::vector<Gathering> gatherings;
  CandidateIndex own; // a pass's candidates where no gathering serves it
  const auto gatheringOf = [&](ElementCode element, const int32_t shift[3]) -> Gathering * {
    for (Gathering &g : gatherings)
      if (g.element == element && std::equal(shift, shift + 3, g.shift))
        return &g;
    return nullptr;
  };
  // Each pair limit's plan, up to the first whose cell refuses its shift
  // (the search ends there).
  std::vector<SpecPlan> plans;
  for (int32_t k = 0; k < SpecCount(c); k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    const SpecPlan &planned = plans.emplace_back(plan(spec));
    if (!planned.shifted)
      break;
    if (planned.runsA.empty() || planned.runsB.empty() || !planned.counted)
      continue;
    for (int pass = 0; pass < (spec.elementA == spec.elementB ? 1 : 2); pass++) {
      if (planned.fromPairs[pass])
        continue;
      const ElementCode element = pass == 0 ? spec.elementB : spec.elementA;
      Gathering *g = gatheringOf(element, planned.shift);
      if (!g) {
        g = &gatherings.emplace_back();
        g->element = element;
        std::copy(planned.shift, planned.shift + 3, g->shift);
      }
      g->reach = std::max(g->reach, spec.maxLength);
      g->lastUse = 2 * static_cast<size_t>(k) + static_cast<size_t>(pass);
    }
  }

  for (int32_t k = 0; k < SpecCount(c); k++) {
    const BondSpec spec = c.bondSpecs[static_cast<size_t>(k)];
    if (progress)
      WriteProgress(SpecText("Calculating site coordination numbers (%c%c - %c%c)...", spec),
                    static_cast<float>(done) * step);
    const float minSq = spec.minLength * spec.minLength;
    const float maxSq = spec.maxLength * spec.maxLength;
    const SpecPlan &planned = plans[static_cast<size_t>(k)];
    if (!planned.shifted) {
      if (progress)
        CloseStatus();
      return false;
    }
    const int32_t *shift = planned.shift;
    const std::vector<ElementIndexEntry> &runsA = planned.runsA, &runsB = planned.runsB;
    if (runsA.empty() || runsB.empty()) {
      // An element without sites: this specification finds nothing, the
      // later ones still run.
      nothing = true;
      done += TurboRunSiteCount(runsA);
      continue;
    }
    if (!planned.counted) {
      uncounted += (uncounted.empty() ? "" : ", ") + SpecPairText(spec);
      done += TurboRunSiteCount(runsA);
      continue;
    }
    int64_t contacts = 0;
    const int passes = spec.elementA == spec.elementB ? 1 : 2;
    for (int pass = 0; pass < passes; pass++) {
      const std::vector<ElementIndexEntry> &candidates = pass == 0 ? runsB : runsA;
      const std::vector<ElementIndexEntry> &queries = pass == 0 ? runsA : runsB;
      const ElementCode candidateElement = pass == 0 ? spec.elementB : spec.elementA;
      const bool fromPairs = planned.fromPairs[pass];
      // Where the pairs serve, no candidates are gathered.
      CandidateIndex *index = nullptr;
      Gathering *shared = nullptr;
      if (!fromPairs) {
        shared = gatheringOf(candidateElement, shift);
        // A gathering refused as too large for the longest maximum is made
        // for this one alone.
        if (shared && !shared->tried) {
          shared->tried = true;
          shared->made = shared->index.ExtendCellRange(crystal, candidates, shared->reach) &&
                         (shared->index.Empty() || shared->index.SortByX());
          if (!shared->made)
            shared->index.FreeCandidates();
        }
        index = shared && shared->made ? &shared->index : &own;
        if (index == &own && !own.ExtendCellRange(crystal, candidates, spec.maxLength)) {
          if (progress)
            CloseStatus();
          return false;
        }
        // Only counts are wanted: the x order and the grid suffice, and the
        // hits of a query are counted where they lie, unsorted.
        if (index == &own && !own.Empty() && !own.SortByX()) {
          own.FreeCandidates();
          if (progress)
            CloseStatus();
          return false;
        }
      }
      const float edge = planned.reachedBy[pass] >= kFinerGridNeighbours ? spec.maxLength * kCountGridEdgeShare
                                                                         : spec.maxLength;
      const bool gridReady = index && !index->Empty() && index->PrepareGrid(edge);
      for (const ElementIndexEntry &run : queries)
        for (uint32_t s = run.firstSite; s <= run.lastSite && s < nSites; s++) {
          // Stopped, no site keeps a count; the stages after stop too.
          if (cancel.Step()) {
            if (index)
              index->FreeCandidates();
            for (size_t t = 0; t < nSites; t++)
              c.sites[t].coordination = 0;
            if (progress)
              CloseStatus();
            return false;
          }
          AsymmetricUnitRecord &site = c.sites[s];
          uint32_t count = 0;
          neighbours.clear();
          places.clear();
          // A candidate of the cube around the site, d2 from it: counted
          // within the limits, unless it is an image of the site at its
          // place or an alternative of it. Only a structure with
          // alternatives reads each neighbour's atom record.
          const auto tally = [&](uint32_t atom, const float xyz[3], float d2, const auto &siteOfAtom) {
            if (!(minSq <= d2 && d2 <= maxSq))
              return;
            if (d2 < kSelfImageDistSq && siteOfAtom() == s)
              return;
            if (alternatives.Any() && !alternatives.SiteMayBondAtomAt(s, atom, d2))
              return;
            if (alternatives.Any()) {
              neighbours.push_back(atom);
              places.push_back({xyz[0], xyz[1], xyz[2]});
            }
            count++;
          };
          bool queried = false;
          if (fromPairs) {
            // The site's place is the point the query would start from.
            const uint32_t place = known->SitePlace(s);
            const float *p = known->PlaceAt(place);
            float lo[3], hi[3];
            for (int i = 0; i < 3; i++) {
              lo[i] = p[i] - spec.maxLength;
              hi[i] = p[i] + spec.maxLength;
            }
            queried = IsFinite3(p) && IsFinite3(lo) && IsFinite3(hi);
            if (queried)
              known->VisitPairs(place, [&](uint32_t other, float d2) {
                if (!(minSq <= d2 && d2 <= maxSq))
                  return;
                const float *x = known->PlaceAt(other);
                if (!(x[0] >= lo[0] && x[0] <= hi[0] && x[1] >= lo[1] && x[1] <= hi[1] && x[2] >= lo[2] &&
                      x[2] <= hi[2]))
                  return;
                for (const uint32_t m : known->Members(other))
                  if (known->SiteElement(known->CandidateSite(m)) == candidateElement)
                    tally(known->CandidateAtom(m), x, d2, [&] { return c.atoms[known->CandidateAtom(m)].site; });
              });
          } else {
            float q[3];
            for (int i = 0; i < 3; i++)
              q[i] = WrapOnce(site.xyz[i]) + static_cast<float>(shift[i]);
            float p[3];
            MatMul(c.orientationMatrix, q, p);
            QueryCube cube;
            queried = gridReady && index->CubeOf(p, spec.maxLength, &cube);
            if (queried)
              index->VisitCube(cube, [&](uint32_t item) {
                const GridItem &cand = index->Item(item);
                const float dx = cand.xyz[0] - p[0];
                const float dy = cand.xyz[1] - p[1];
                const float dz = cand.xyz[2] - p[2];
                tally(cand.atom, cand.xyz, dx * dx + dy * dy + dz * dz, [&] { return c.atoms[cand.atom].site; });
              });
          }
          if (queried) {
            if (alternatives.Any())
              count = CountPartners(alternatives, neighbours, places, &stands);
            site.coordination += count;
            contacts += count;
          }
          if (pass == 0) {
            done++;
            if (progress)
              WriteProgress("", static_cast<float>(done) * step);
          }
        }
      if (index && (index == &own || shared->lastUse == 2 * static_cast<size_t>(k) + static_cast<size_t>(pass)))
        index->FreeCandidates();
    }
    if (contacts < 1)
      nothing = true;
    else
      found = true;
  }
  if (!uncounted.empty())
    FWrite("Coordination numbers were not counted for " + uncounted +
           ": the bond maximum reaches dozens of atoms of each site.");
  return found;
}
