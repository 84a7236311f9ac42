#include "render/Projection.h"

#include "LatticePlanes.h"
#include "render/PlotPipeline.h"
#include "render/RasterPrimitives.h"
#include "render/UnitCellFrame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

using namespace ovgfx;

namespace {

// The smallest atom radius of the last sort, read by the comparison.
float gSortMinSphereRad = 0.0f;
const CrystalRec *gSortCrystal = nullptr;

bool SiteVisible(const CrystalRec &c, uint32_t site) { return site < UsableSiteSize(c) && c.sites[site].visible; }

bool AtomShown(const CrystalRec &c, uint32_t a) {
  return a < UsableAtomSize(c) && c.atoms[a].visible && SiteVisible(c, c.atoms[a].site);
}

bool CellFrameSorted(const CrystalRec &c) {
  return !c.molecule && c.showUnitCell && c.unitCellOptions[kCellOptionDepthSorted];
}

float EntryHeight(const CrystalRec &c, const SortIndexEntry &e, float minRadius, bool &known) {
  known = true;
  if (e.kind == kSortItemAtom && e.index < UsableAtomSize(c))
    return c.atoms[e.index].cart[2];
  if (e.kind == kSortItemCellPoint && e.index < c.cellPoints.size())
    return c.cellPoints[e.index].cart[2] - minRadius;
  known = false;
  return 0.0f;
}

// A float as an unsigned key of the same order (-0 and +0 alike).
uint32_t SortKey(float h) {
  h += 0.0f;
  uint32_t u;
  std::memcpy(&u, &h, sizeof u);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

// An entry of the index with its sort key, moved as one by the sort.
struct KeyedEntry {
  uint32_t key;
  uint32_t index;
  int8_t kind;
};

// Scratch of the sort, kept between frames so that a large index does not
// take fresh pages every time.
std::vector<KeyedEntry> gKeyed;
std::vector<KeyedEntry> gKeyedOut;
std::vector<std::array<uint32_t, 2048>> gRadixCounts;

// Puts the keyed entries, ascending by key, into `out` (room for them all);
// equal keys keep their order. A stable radix sort: the cost does not
// depend on how many heights are level. The last pass that moves anything
// writes the index itself.
void RadixSortByKey(std::vector<KeyedEntry> &keyed, std::vector<SortIndexEntry> &out) {
  const size_t n = keyed.size();
  std::vector<KeyedEntry> &scratch = gKeyedOut;
  scratch.resize(n);
  constexpr int kBits = 11;
  constexpr uint32_t kBuckets = 1u << kBits;
  constexpr int kPasses = (32 + kBits - 1) / kBits;
  // The counts of every pass, taken in one read of the keys.
  std::vector<std::array<uint32_t, kBuckets>> &counts = gRadixCounts;
  counts.assign(kPasses, std::array<uint32_t, kBuckets>{});
  for (const KeyedEntry &e : keyed)
    for (int pass = 0; pass < kPasses; ++pass)
      counts[size_t(pass)][(e.key >> (pass * kBits)) & (kBuckets - 1)]++;
  // A pass where every key has the same digit moves nothing.
  int lastMoving = -1;
  for (int pass = 0; pass < kPasses; ++pass)
    if (counts[size_t(pass)][(keyed[0].key >> (pass * kBits)) & (kBuckets - 1)] != n)
      lastMoving = pass;
  for (int pass = 0; pass <= lastMoving; ++pass) {
    const int shift = pass * kBits;
    std::array<uint32_t, kBuckets> &count = counts[size_t(pass)];
    if (count[(keyed[0].key >> shift) & (kBuckets - 1)] == n)
      continue;
    uint32_t sum = 0;
    for (uint32_t &c : count) {
      const uint32_t here = c;
      c = sum;
      sum += here;
    }
    if (pass == lastMoving) {
      for (const KeyedEntry &e : keyed)
        out[count[(e.key >> shift) & (kBuckets - 1)]++] = SortIndexEntry{e.index, e.kind};
      return;
    }
    for (const KeyedEntry &e : keyed)
      scratch[count[(e.key >> shift) & (kBuckets - 1)]++] = e;
    keyed.swap(scratch);
  }
  for (size_t i = 0; i < n; ++i)
    out[i] = SortIndexEntry{keyed[i].index, keyed[i].kind};
}

// Counts the indexes made, so that what is kept of one is known to be stale.
uint64_t gSortGeneration = 1;

// The index made of the keyed entries, in order of their keys; the last
// index's storage is reused.
void SortKeyed(CrystalRec &c, std::vector<KeyedEntry> &keyed) {
  std::vector<SortIndexEntry> entries = std::move(c.sortIndex);
  entries.resize(keyed.size());
  if (keyed.size() >= 2) {
    RadixSortByKey(keyed, entries);
  } else {
    for (size_t i = 0; i < keyed.size(); ++i)
      entries[i] = SortIndexEntry{keyed[i].index, keyed[i].kind};
  }
  c.sortIndex = std::move(entries);
  c.sortIndexCount = int32_t(c.sortIndex.size());
  gSortGeneration++;
}

// Where each atom stands in the depth-sort index, rebuilt whenever the index
// is another one than last time. A position is only believed when the index
// still holds that atom there.
struct SortPositions {
  const CrystalRec *crystal = nullptr;
  const AtomRecord *atoms = nullptr;
  const SortIndexEntry *data = nullptr;
  size_t count = 0;
  uint64_t generation = 0;
  std::vector<int64_t> position;
};
SortPositions gPositions;

void BuildPositions(const CrystalRec &c) {
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  SortPositions &p = gPositions;
  p.crystal = &c;
  p.atoms = c.atoms.data();
  p.data = c.sortIndex.data();
  p.count = n;
  p.generation = gSortGeneration;
  p.position.assign(UsableAtomSize(c), -1);
  for (size_t i = 0; i < n; ++i) {
    const SortIndexEntry &e = c.sortIndex[i];
    if (e.kind == kSortItemAtom && e.index < p.position.size())
      p.position[e.index] = int64_t(i);
  }
}

int64_t PositionOf(const CrystalRec &c, uint32_t atom) {
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  const SortPositions &p = gPositions;
  auto holds = [&](int64_t at) {
    return at >= 0 && size_t(at) < n && c.sortIndex[size_t(at)].kind == kSortItemAtom &&
           c.sortIndex[size_t(at)].index == atom;
  };
  if (p.crystal != &c || p.atoms != c.atoms.data() || p.data != c.sortIndex.data() || p.count != n ||
      p.generation != gSortGeneration || p.position.size() != UsableAtomSize(c) ||
      (p.position[atom] >= 0 && !holds(p.position[atom])))
    BuildPositions(c);
  return gPositions.position[atom];
}

// Ascending by the atoms' heights (SortByHeight, Projection.h).
void SortByHeight(const CrystalRec &c, std::vector<uint32_t> &list) {
  ::SortByHeight(list, [&c](uint32_t a) { return c.atoms[a].cart[2]; });
}

template <class Keep> void Neighbours(const CrystalRec &c, uint32_t atom, Keep keep, std::vector<uint32_t> &out) {
  out.clear();
  if (atom >= UsableAtomSize(c))
    return;
  const AtomRecord &a = c.atoms[atom];
  const size_t n = std::min<size_t>(a.bonds.size(), a.bondCount);
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t b = a.bonds[i];
    if (AtomShown(c, b) && keep(b))
      out.push_back(b);
  }
}
template <class Keep> std::vector<uint32_t> Neighbours(const CrystalRec &c, uint32_t atom, Keep keep) {
  std::vector<uint32_t> out;
  Neighbours(c, atom, keep, out);
  return out;
}

} // namespace

// ---- Projection --------------------------------------------------------------------

float PerspectiveFactor(const CrystalRec &c, float z) {
  if (!c.perspective)
    return 1.0f;
  const float d = std::max(c.viewDistance, kMinViewDistance);
  const float denominator = d + c.frontZ - z;
  if (!(denominator > 0.0f))
    return 1.0f;
  return d / denominator;
}

void Xor2XpixFlat(const CrystalRec *crystal, const float xyz[3], int16_t pixel[2], int32_t width, int32_t height) {
  if (!crystal || !xyz || !pixel)
    return;
  const float s = crystal->plotScale;
  const float real[2] = {(xyz[0] - crystal->plotCentre[0]) * s + float(width) / 2.0f,
                         float(height) / 2.0f - (xyz[1] - crystal->plotCentre[1]) * s};
  pixel[0] = PixelProjector::RoundedPixel(real[0]);
  pixel[1] = PixelProjector::RoundedPixel(real[1]);
}

void Xor2Perspective(const CrystalRec *crystal, const float xyz[3], float out[3]) {
  if (!crystal || !xyz || !out)
    return;
  const CrystalRec &c = *crystal;
  const float f = PerspectiveFactor(c, xyz[2]);
  const float z = xyz[2];
  out[0] = (xyz[0] - c.plotCentre[0]) * f + c.plotCentre[0];
  out[1] = (xyz[1] - c.plotCentre[1]) * f + c.plotCentre[1];
  out[2] = c.frontZ - (c.frontZ - z) * f;
}

void UndoXor2Perspective(const CrystalRec *crystal, const float xyz[3], float out[3], float factor) {
  if (!crystal || !xyz || !out || factor == 0.0f)
    return;
  const CrystalRec &c = *crystal;
  const float z = xyz[2];
  out[0] = (xyz[0] - c.plotCentre[0]) / factor + c.plotCentre[0];
  out[1] = (xyz[1] - c.plotCentre[1]) / factor + c.plotCentre[1];
  out[2] = c.frontZ - (c.frontZ - z) / factor;
}

void GetPixelCoords(CrystalRec *crystal, int32_t width, int32_t height) {
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return;
  CrystalRec &c = *crystal;
  const PixelProjector project(c, width, height);
  const size_t atoms = UsableAtomSize(c);
  // A window plot the user stops leaves the rest unprojected: it is not drawn.
  for (size_t i = 0; i < atoms && !PlotWalkCancelled(); ++i) {
    AtomRecord &a = c.atoms[i];
    if (a.visible)
      project.Pixel(a.cart, a.pixel);
  }
  for (VectorRecord &v : c.vectors)
    project.Pixel(v.tipCart, v.tipPixel);
  for (CellPoint &p : c.cellPoints)
    project.Pixel(p.cart, p.pixel);
}

// ---- Depth sort ---------------------------------------------------------------------

float DepthOfZ(const CrystalRec &c, float z) {
  if (!(c.plotExtent > 0.0f))
    return 1.0f;
  return (z - c.backZ) / c.plotExtent;
}

void SortAtomsByHeight(CrystalRec *crystal, float minSphereRadius) {
  gSortMinSphereRad = minSphereRadius;
  gSortCrystal = crystal;
  if (!crystal || UsableSiteCount(*crystal) == 0 || UsableAtomCount(*crystal) == 0)
    return;
  CrystalRec &c = *crystal;
  const bool withCell = CellFrameSorted(c);
  const size_t cellPoints = withCell ? UsableRecords(c.cellPoints.size(), c.cellPointCount) : 0;
  if (withCell && cellPoints == 0)
    return;

  const size_t atoms = UsableAtomSize(c);
  float cellFront = kFrontZStart;
  for (size_t i = 0; i < cellPoints; ++i)
    cellFront = std::max(cellFront, c.cellPoints[i].cart[2]);
  // The front over the cell points, the shown atoms in the order of the
  // array, then the vectors: a max that keeps the first of level heights,
  // so the order is kept (+0 and -0 are level).
  const auto frontOfAtoms = [&] {
    float front = cellFront;
    for (size_t i = 0; i < atoms; ++i)
      if (AtomShown(c, uint32_t(i)))
        front = std::max(front, c.atoms[i].cart[2]);
    return front;
  };
  const auto setFront = [&](float front) {
    for (const VectorRecord &v : c.vectors)
      if (v.atom < atoms && c.atoms[v.atom].visible)
        front = std::max(front, v.tipCart[2]);
    c.frontZ = front;
    c.backZ = front - c.plotExtent;
  };

  // Each entry's sort key is taken as it is entered, while its record is at
  // hand; the last index's storage is reused for the new one.
  std::vector<KeyedEntry> &keyed = gKeyed;
  keyed.clear();
  keyed.reserve(cellPoints + atoms);
  for (size_t i = 0; i < cellPoints; ++i)
    keyed.push_back(KeyedEntry{SortKey(c.cellPoints[i].cart[2] - minSphereRadius), uint32_t(i), kSortItemCellPoint});

  if (!c.depthFading) {
    // Without depth fading no entry depends on the front, so the front is
    // taken in the same run through the atoms as the keys, as long as the
    // sites' atom ranges follow one another from the first atom (as the
    // build lays them out): the run then meets every atom once, in the
    // order of the array. Otherwise it is taken in a run of its own.
    float front = cellFront;
    size_t next = 0;
    bool inOrder = true;
    bool cancelled = false;
    for (size_t s = 0; s < UsableSiteSize(c); ++s) {
      const AsymmetricUnitRecord &site = c.sites[s];
      const bool siteShown = site.visible;
      if (!siteShown && !inOrder)
        continue;
      const int64_t first = std::max<int64_t>(site.firstAtom, 0);
      const int64_t last = std::min<int64_t>(site.lastAtom, int64_t(atoms) - 1);
      if (inOrder && first <= last) {
        inOrder = size_t(first) == next;
        next = size_t(last) + 1;
      }
      for (int64_t n = first; n <= last; ++n) {
        // A window plot the user stops sorts no further: it is not drawn.
        if (siteShown && !cancelled)
          cancelled = PlotWalkCancelled();
        if (!inOrder && (cancelled || !siteShown))
          break;
        const AtomRecord &a = c.atoms[size_t(n)];
        if (!a.visible || !SiteVisible(c, a.site))
          continue;
        if (inOrder)
          front = std::max(front, a.cart[2]);
        if (siteShown && !cancelled)
          keyed.push_back(KeyedEntry{SortKey(a.cart[2]), uint32_t(n), kSortItemAtom});
      }
    }
    setFront(inOrder && next == atoms ? front : frontOfAtoms());
    SortKeyed(c, keyed);
    return;
  }

  setFront(frontOfAtoms());
  for (size_t s = 0; s < UsableSiteSize(c); ++s) {
    const AsymmetricUnitRecord &site = c.sites[s];
    if (!site.visible)
      continue;
    const int64_t last = std::min<int64_t>(site.lastAtom, int64_t(UsableAtomSize(c)) - 1);
    // A window plot the user stops sorts no further: it is not drawn.
    for (int64_t n = std::max<int64_t>(site.firstAtom, 0); n <= last && !PlotWalkCancelled(); ++n) {
      const AtomRecord &a = c.atoms[size_t(n)];
      if (!a.visible || !SiteVisible(c, a.site))
        continue;
      if (c.depthFading) {
        const float t = DepthOfZ(c, a.cart[2]);
        if ((t > c.upperBaseZ && c.upperMinOpacity < kInvisibleOpacity) ||
            (t < c.lowerBaseZ && c.lowerMinOpacity < kInvisibleOpacity))
          continue;
      }
      keyed.push_back(KeyedEntry{SortKey(a.cart[2]), uint32_t(n), kSortItemAtom});
    }
  }
  SortKeyed(c, keyed);
}

int CompareSortOrder(const SortIndexEntry &a, const SortIndexEntry &b) {
  if (!gSortCrystal)
    return 0;
  bool knownA = false, knownB = false;
  const float ha = EntryHeight(*gSortCrystal, a, gSortMinSphereRad, knownA);
  const float hb = EntryHeight(*gSortCrystal, b, gSortMinSphereRad, knownB);
  if (!knownA || !knownB)
    return 0;
  return ha > hb ? 1 : (hb > ha ? -1 : 0);
}

std::vector<SortIndexEntry> GetSortAboveOrBelowPlane(const CrystalRec *crystal, int side) {
  std::vector<SortIndexEntry> out;
  if (!crystal || UsableAtomCount(*crystal) == 0)
    return out;
  const CrystalRec &c = *crystal;
  const int r = c.plane.viewNormal[2] < 0.0f ? -1 : 1;
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  for (size_t i = 0; i < n; ++i) {
    const SortIndexEntry &e = c.sortIndex[i];
    const float *p = nullptr;
    if (e.kind == kSortItemAtom && e.index < UsableAtomSize(c))
      p = c.atoms[e.index].cart;
    else if (e.kind == kSortItemCellPoint && e.index < c.cellPoints.size())
      p = c.cellPoints[e.index].cart;
    if (!p)
      continue;
    const int s = Dist2Plane(&c, p) < 0.0f ? -1 : 1;
    if ((side == -1) == (s == r))
      out.push_back(e);
  }
  gSortGeneration++; // a new index array: positions are looked up afresh
  return out;
}

// ---- Bond neighbours by height ---------------------------------------------------------

namespace {

// Neighbours of `atom` compared with the height of `reference`: higher ones,
// or those not higher.
std::vector<uint32_t> ByHeight(const CrystalRec *crystal, uint32_t reference, uint32_t atom, bool higher) {
  if (!crystal || reference >= UsableAtomSize(*crystal))
    return {};
  const CrystalRec &c = *crystal;
  const float z = c.atoms[reference].cart[2];
  return Neighbours(c, atom, [&](uint32_t b) { return (c.atoms[b].cart[2] > z) == higher; });
}

} // namespace

std::vector<uint32_t> GetBondsAbove(const CrystalRec *crystal, uint32_t atom) {
  return ByHeight(crystal, atom, atom, true);
}

std::vector<uint32_t> GetBondsBelow(const CrystalRec *crystal, uint32_t atom) {
  return ByHeight(crystal, atom, atom, false);
}

std::vector<uint32_t> GetBondsBelowBelow(const CrystalRec *crystal, uint32_t reference, uint32_t atom) {
  return ByHeight(crystal, reference, atom, false);
}

void SortBonds(const CrystalRec *crystal, uint32_t atom, std::vector<uint32_t> &below, std::vector<uint32_t> &above) {
  below.clear();
  above.clear();
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  const CrystalRec &c = *crystal;
  const float z = c.atoms[atom].cart[2];
  below = Neighbours(c, atom, [&](uint32_t b) { return c.atoms[b].cart[2] < z; });
  above = Neighbours(c, atom, [&](uint32_t b) { return !(c.atoms[b].cart[2] < z); });
  SortByHeight(c, below);
  SortByHeight(c, above);
}

uint64_t SortIndexGeneration() { return gSortGeneration; }

int64_t SortIndexPosition(const CrystalRec *crystal, uint32_t atom) {
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return -1;
  return PositionOf(*crystal, atom);
}

void SortBondsBelow(const CrystalRec *crystal, uint32_t atom, std::vector<uint32_t> &out) {
  out.clear();
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return;
  const CrystalRec &c = *crystal;
  const float z = c.atoms[atom].cart[2];
  // The atom's own place in the index, looked up at its first level
  // neighbour.
  int64_t pa = -2;
  Neighbours(
      c, atom,
      [&](uint32_t b) {
        const float zb = c.atoms[b].cart[2];
        if (zb < z)
          return true;
        if (zb != z)
          return false;
        // Level: the one earlier in the index draws the bond.
        if (pa == -2)
          pa = SortIndexPosition(&c, atom);
        if (pa < 0)
          return false;
        const int64_t pb = SortIndexPosition(&c, b);
        return pb >= 0 && pb < pa;
      },
      out);
  SortByHeight(c, out);
}

std::vector<uint32_t> SortBondsBelow(const CrystalRec *crystal, uint32_t atom) {
  std::vector<uint32_t> out;
  SortBondsBelow(crystal, atom, out);
  return out;
}

// ---- Depth cue ---------------------------------------------------------------------------

void DepthShading(const CrystalRec *crystal, float t, RGBColor colour, RGBColor &out, float &opacity) {
  out = colour;
  opacity = 1.0f;
  if (!crystal || !crystal->depthFading)
    return;
  const CrystalRec &c = *crystal;
  t = std::clamp(t, 0.0f, 1.0f);
  if (t < c.lowerPlateauZ) {
    const float k = c.lowerMinOpacity;
    const RGBColor &bg = c.backgroundColor;
    auto fog = [k](uint16_t own, uint16_t back) {
      return uint16_t(std::clamp(float(own) * k + float(back) * (1.0f - k), 0.0f, 65535.0f));
    };
    const RGBColor fogged{fog(colour.red, bg.red), fog(colour.green, bg.green), fog(colour.blue, bg.blue)};
    if (t < c.lowerBaseZ) {
      out = fogged;
    } else {
      const float u = (t - c.lowerBaseZ) / (c.lowerPlateauZ - c.lowerBaseZ);
      auto mix = [u](uint16_t f, uint16_t own) {
        return uint16_t(std::clamp(float(f) * (1.0f - u) + float(own) * u, 0.0f, 65535.0f));
      };
      out = RGBColor{mix(fogged.red, colour.red), mix(fogged.green, colour.green), mix(fogged.blue, colour.blue)};
    }
    return;
  }
  if (t > c.upperPlateauZ) {
    if (t <= c.upperBaseZ) {
      const float u = (t - c.upperPlateauZ) / (c.upperBaseZ - c.upperPlateauZ);
      opacity = c.upperMinOpacity * u + 1.0f - u;
    } else {
      opacity = c.upperMinOpacity;
    }
  }
}
