// Neighbour lists around a point, an atom, the selection's centroid or a
// site, and the sorting of search results by distance.
#include "AutoBonds.h"

#include "Geometry.h"
#include "SiteNeighbourIndex.h"
#include "StructureArrays.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>

BondSearchResult *gBondSearchResults = nullptr;
DistanceExplorerResult *gDistanceExplorerResults = nullptr;

// ---- Sorting ------------------------------------------------------------------

int CompareBondSearchResultsByDistance(const void *a, const void *b) {
  const float da = gBondSearchResults[*static_cast<const uint32_t *>(a)].distance;
  const float db = gBondSearchResults[*static_cast<const uint32_t *>(b)].distance;
  return da > db ? 1 : (da < db ? -1 : 0);
}

int CompareDistanceExplorerResultsByDistance(const void *a, const void *b) {
  const float da = gDistanceExplorerResults[*static_cast<const uint32_t *>(a)].distance;
  const float db = gDistanceExplorerResults[*static_cast<const uint32_t *>(b)].distance;
  return da > db ? 1 : (da < db ? -1 : 0);
}

void SortBondSearchResultsByDistance(BondSearchResult *results, uint32_t count) {
  if (!results || count < 2)
    return;
  try {
    std::vector<BondSearchResult> copy(results, results + count);
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    gBondSearchResults = copy.data();
    std::stable_sort(order.begin(), order.end(),
                     [](uint32_t x, uint32_t y) { return CompareBondSearchResultsByDistance(&x, &y) < 0; });
    gBondSearchResults = nullptr;
    for (uint32_t i = 0; i < count; i++)
      results[i] = copy[order[i]];
  } catch (const std::bad_alloc &) {
    gBondSearchResults = nullptr;
  }
}

// ---- Around a point ---------------------------------------------------------------

uint32_t SearchBondsFromPoint(CrystalRec *crystal, const float point[3], const ElementCode *elements,
                              int32_t elementCount, float minimum, float maximum, BondSearchResult *results,
                              uint32_t capacity) {
  if (!crystal || !point || !results || capacity == 0)
    return 0;
  const CrystalRec &c = *crystal;
  const size_t nSites = UsableSiteSize(c);
  const size_t nAtoms = UsableAtomSize(c);
  const float min2 = minimum * minimum;
  const float max2 = maximum * maximum;
  uint32_t n = 0;
  for (size_t s = 0; s < nSites && n < capacity; s++) {
    const AsymmetricUnitRecord &site = c.sites[s];
    if (!ElementWanted(site.elements[0], elements, elementCount) || !site.visible)
      continue;
    if (site.firstAtom < 0 || site.lastAtom < site.firstAtom)
      continue;
    const size_t last = std::min(nAtoms, static_cast<size_t>(site.lastAtom) + 1);
    for (size_t a = static_cast<size_t>(site.firstAtom); a < last; a++) {
      const AtomRecord &atom = c.atoms[a];
      if (!atom.visible)
        continue;
      const float dx = atom.cart[0] - point[0];
      const float dy = atom.cart[1] - point[1];
      const float dz = atom.cart[2] - point[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      if (d2 == 0.0f || d2 < min2 || d2 > max2)
        continue;
      BondSearchResult &r = results[n++];
      r.site = static_cast<int32_t>(s);
      CopyVector(r.xyz, atom.xyz);
      r.distance = std::sqrt(d2);
      r.esd = 0.0f;
      if (n == capacity)
        break;
    }
  }
  if (n >= 2)
    SortBondSearchResultsByDistance(results, n);
  return n;
}

uint32_t SearchBondsFromAtom(CrystalRec *crystal, uint32_t atom, const ElementCode *elements, int32_t elementCount,
                             float minimum, float maximum, BondSearchResult *results, uint32_t capacity) {
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return 0;
  const float point[3] = {crystal->atoms[atom].cart[0], crystal->atoms[atom].cart[1], crystal->atoms[atom].cart[2]};
  return SearchBondsFromPoint(crystal, point, elements, elementCount, minimum, maximum, results, capacity);
}

std::optional<std::vector<BondSearchResult>> DoBondSearchFromSelection(CrystalRec *crystal, const ElementCode *elements,
                                                                       int32_t elementCount, float minimum,
                                                                       float maximum, uint32_t *count) {
  if (count)
    *count = 0;
  if (!crystal)
    return std::nullopt;
  const size_t nAtoms = UsableAtomSize(*crystal);
  double sum[3] = {0.0, 0.0, 0.0};
  size_t selected = 0;
  for (size_t a = 0; a < nAtoms; a++) {
    const AtomRecord &atom = crystal->atoms[a];
    if (!atom.visible || !atom.selected)
      continue;
    for (int i = 0; i < 3; i++)
      sum[i] += atom.cart[i];
    selected++;
  }
  if (selected == 0)
    return std::nullopt;
  const float centre[3] = {static_cast<float>(sum[0] / double(selected)), static_cast<float>(sum[1] / double(selected)),
                           static_cast<float>(sum[2] / double(selected))};
  std::vector<BondSearchResult> results;
  try {
    results.resize(nAtoms);
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
  const uint32_t n = SearchBondsFromPoint(crystal, centre, elements, elementCount, minimum, maximum, results.data(),
                                          static_cast<uint32_t>(nAtoms));
  results.resize(n);
  if (count)
    *count = n;
  return results;
}

// ---- Around a site -------------------------------------------------------------------

uint32_t SearchBondsFromSite(CrystalRec *crystal, uint32_t site, const ElementCode *elements, int32_t elementCount,
                             float minimum, float maximum, BondSearchResult *results, uint32_t capacity) {
  if (!crystal || !results || capacity == 0 || site >= UsableSiteSize(*crystal))
    return 0;
  SiteNeighbourIndex index(*crystal, maximum, elements, elementCount);
  return index.Search(*crystal, site, minimum, maximum, results, capacity);
}

std::optional<std::vector<BondSearchResult>> DoBondSearchFromSite(CrystalRec *crystal, uint32_t index,
                                                                  const ElementCode *elements, int32_t elementCount,
                                                                  float minimum, float maximum, uint32_t *count) {
  if (count)
    *count = 0;
  if (!crystal)
    return std::nullopt;
  double capacity = 0.0;
  if (crystal->molecule) {
    capacity = double(UsableAtomSize(*crystal));
  } else {
    // Room for every image the site's walk reaches: per axis at most
    // 2 reach + 2 translations for each first-cell atom.
    const float d100[3] = {DSpace(crystal, 1, 0, 0), DSpace(crystal, 0, 1, 0), DSpace(crystal, 0, 0, 1)};
    if (!(d100[0] > 0.0f && d100[1] > 0.0f && d100[2] > 0.0f))
      return std::nullopt;
    capacity = double(std::max<int32_t>(crystal->atomsPerCell, 0));
    for (float d : d100)
      capacity *= std::ceil(2.0 * std::fabs(double(maximum)) / double(d)) + 2.0;
  }
  if (!(capacity >= 1.0 && capacity <= double(kMaxArrayRecords)))
    return std::nullopt;
  std::vector<BondSearchResult> results;
  try {
    results.resize(static_cast<size_t>(capacity));
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
  const uint32_t cap = static_cast<uint32_t>(results.size());
  const uint32_t n =
      crystal->molecule
          ? SearchBondsFromAtom(crystal, index, elements, elementCount, minimum, maximum, results.data(), cap)
          : SearchBondsFromSite(crystal, index, elements, elementCount, minimum, maximum, results.data(), cap);
  results.resize(n);
  if (count)
    *count = n;
  return results;
}
