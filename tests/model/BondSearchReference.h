// The bond search written out plainly, for tests and benchmarks to compare
// the engine's with: candidates sorted three times by a stable comparison
// sort (ties by position), box queries by bisection over the sorted orders and
// intersection of the rank ranges, walking the x ranks. It keeps its own
// working state and writes nothing into the structure.
//
// It follows the engine's rules: the lower bound of a rank range is the first
// rank whose coordinate is at least p - d (so candidates tied on the cube's
// lower face are all offered); the extended cell range's window starts at
// ceil(x) - x; a specification naming an element without atoms finds nothing
// and the search goes on.
//
// Also here: builders of test structures (a crystal from sites through cell
// generation and tiling, a molecule from atoms) and a brute-force bond list.
#pragma once

#include "BondSearch.h"
#include "Geometry.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bondref {

// ---- Structures ------------------------------------------------------------------

struct SiteSpec {
  std::string label;
  std::string element;
  float x, y, z;
};

inline ElementCode Element(const std::string &symbol) { return TwoCharsToShort(symbol.c_str()); }

inline void AddSpec(CrystalRec &c, const std::string &a, const std::string &b, float minLength, float maxLength) {
  BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
  spec.elementA = Element(a);
  spec.elementB = Element(b);
  spec.minLength = minLength;
  spec.maxLength = maxLength;
}

// Every atom's Cartesian coordinates from the orientation matrix.
inline void ApplyOrientation(CrystalRec &c) {
  for (AtomRecord &atom : c.atoms)
    MatMul(c.orientationMatrix, atom.xyz, atom.cart);
}

// Sets the view direction and the orientation matrix, and the Cartesian
// coordinates of every atom.
inline void SetView(CrystalRec &c, float u, float v, float w) {
  c.viewDirection[0] = u;
  c.viewDirection[1] = v;
  c.viewDirection[2] = w;
  GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix);
  ApplyOrientation(c);
}

// A crystal with its sites (sorted by element by the caller), generated cell
// tiled over the cells of a range whose minima are not below 0, viewed along
// c. False when the cell could not be generated.
inline bool MakeCrystal(CrystalRec &c, const float cell[6], const char *spaceGroup, const std::vector<SiteSpec> &sites,
                        const float range[6]) {
  InitBlankCrystalRec(&c);
  c.a = cell[0];
  c.b = cell[1];
  c.c = cell[2];
  c.alpha = cell[3];
  c.beta = cell[4];
  c.gamma = cell[5];
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", spaceGroup);
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  const int32_t n = static_cast<int32_t>(sites.size());
  auto array = CreateAsymmetricUnit(n);
  if (!array)
    return false;
  c.sites = std::move(*array);
  c.siteCount = n;
  for (int32_t k = 0; k < n; k++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    std::snprintf(site.label, sizeof site.label, "%s", sites[static_cast<size_t>(k)].label.c_str());
    site.elements[0] = Element(sites[static_cast<size_t>(k)].element);
    site.occupancies[0] = 1.0f;
    site.atomType = static_cast<uint32_t>(k);
    site.xyz[0] = sites[static_cast<size_t>(k)].x;
    site.xyz[1] = sites[static_cast<size_t>(k)].y;
    site.xyz[2] = sites[static_cast<size_t>(k)].z;
  }
  if (!GenCell(&c))
    return false;
  for (int i = 0; i < 6; i++)
    c.plotRange[i] = range[i];
  const int32_t na = static_cast<int32_t>(range[1]) + 1;
  const int32_t nb = static_cast<int32_t>(range[3]) + 1;
  const int32_t nc = static_cast<int32_t>(range[5]) + 1;
  if (RedimensionAtomsArray(&c, na, nb, nc) != 0)
    return false;
  SetView(c, 0.0f, 0.0f, 1.0f);
  return true;
}

// A molecule of one site per atom, Cartesian coordinates as given (the
// fractional ones are the same numbers: the bond search reads only the
// Cartesian ones of a molecule).
inline void MakeMolecule(CrystalRec &c, const std::vector<SiteSpec> &atoms) {
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  const int32_t n = static_cast<int32_t>(atoms.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  c.atoms = *CreateAtomsArray(n, 0, 0, 0);
  c.atomCount = n;
  c.atomsPerCell = n;
  for (int32_t k = 0; k < n; k++) {
    const SiteSpec &in = atoms[static_cast<size_t>(k)];
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    std::snprintf(site.label, sizeof site.label, "%s", in.label.c_str());
    site.elements[0] = Element(in.element);
    site.occupancies[0] = 1.0f;
    site.atomType = static_cast<uint32_t>(k);
    site.firstAtom = site.lastAtom = k;
    site.atomsPerCell = 1;
    site.xyz[0] = in.x;
    site.xyz[1] = in.y;
    site.xyz[2] = in.z;
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    atom.site = static_cast<uint32_t>(k);
    atom.atomType = static_cast<uint32_t>(k);
    atom.xyz[0] = atom.cart[0] = in.x;
    atom.xyz[1] = atom.cart[1] = in.y;
    atom.xyz[2] = atom.cart[2] = in.z;
  }
}

inline std::vector<std::vector<uint32_t>> BondsLists(const CrystalRec &c) {
  std::vector<std::vector<uint32_t>> lists;
  for (const AtomRecord &atom : c.atoms)
    lists.emplace_back(atom.bonds);
  return lists;
}

// ---- The plain search -----------------------------------------------------------------

struct State {
  std::vector<TurboAtom> atoms;
  std::vector<uint32_t> sort[3];
  std::vector<uint32_t> inverse[3];
};

inline void Sort(State &s) {
  const size_t n = s.atoms.size();
  for (int axis = 0; axis < 3; axis++) {
    std::vector<uint32_t> &order = s.sort[axis];
    order.resize(n);
    for (size_t i = 0; i < n; i++)
      order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return s.atoms[a].xyz[axis] < s.atoms[b].xyz[axis]; });
    s.inverse[axis].resize(n);
    for (size_t r = 0; r < n; r++)
      s.inverse[axis][order[r]] = static_cast<uint32_t>(r);
  }
}

// The last rank whose coordinate is at most key, or 0 when there is none.
inline size_t UpperRank(const State &s, int axis, float key) {
  size_t lo = 0, hi = s.atoms.size();
  while (hi - lo > 1) {
    const size_t mid = (lo + hi) / 2;
    if (key >= s.atoms[s.sort[axis][mid]].xyz[axis])
      lo = mid;
    else
      hi = mid;
  }
  return lo;
}

// The first rank whose coordinate is at least key (n when there is none).
inline size_t LowerRank(const State &s, int axis, float key) {
  size_t lo = 0, hi = s.atoms.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (s.atoms[s.sort[axis][mid]].xyz[axis] < key)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

inline std::vector<uint32_t> BoxAtoms(const State &s, const float p[3], float d) {
  std::vector<uint32_t> out;
  if (s.atoms.empty())
    return out;
  size_t lower[3], upper[3];
  for (int axis = 0; axis < 3; axis++) {
    lower[axis] = LowerRank(s, axis, p[axis] - d);
    upper[axis] = UpperRank(s, axis, p[axis] + d);
  }
  if (lower[0] > upper[0])
    return out;
  for (size_t r = lower[0]; r <= upper[0]; r++) {
    const uint32_t pos = s.sort[0][r];
    const uint32_t ry = s.inverse[1][pos], rz = s.inverse[2][pos];
    if (ry >= lower[1] && ry <= upper[1] && rz >= lower[2] && rz <= upper[2])
      out.push_back(pos);
  }
  return out;
}

inline bool InRange(const CrystalRec &c, const float xyz[3]) {
  if (c.molecule)
    return true;
  const float *r = c.plotRange;
  return xyz[0] >= r[0] && xyz[0] <= r[1] && xyz[1] >= r[2] && xyz[1] <= r[3] && xyz[2] >= r[4] && xyz[2] <= r[5];
}

// Runs of sites by first element: the first run of the element, as a pair of
// site indices; first > last when the element has no run.
inline std::pair<int32_t, int32_t> SiteRun(const CrystalRec &c, ElementCode e) {
  for (int32_t s = 0; s < c.siteCount; s++) {
    if (c.sites[static_cast<size_t>(s)].elements[0] != e)
      continue;
    int32_t last = s;
    while (last + 1 < c.siteCount && c.sites[static_cast<size_t>(last + 1)].elements[0] == e)
      last++;
    return {s, last};
  }
  return {1, 0};
}

inline std::pair<int32_t, int32_t> AtomRun(const CrystalRec &c, ElementCode e) {
  const auto [first, last] = SiteRun(c, e);
  if (first > last)
    return {1, 0};
  return {c.sites[static_cast<size_t>(first)].firstAtom, c.sites[static_cast<size_t>(last)].lastAtom};
}

inline void AddToList(std::vector<uint32_t> &list, uint32_t j) {
  if (std::find(list.begin(), list.end(), j) == list.end())
    list.push_back(j);
}

// The bonds lists the search makes.
inline std::vector<std::vector<uint32_t>> GenerateBonds(const CrystalRec &c) {
  std::vector<std::vector<uint32_t>> lists(c.atoms.size());
  if (c.atomCount < 2 || c.bondSpecCount < 1)
    return lists;
  for (int32_t k = 0; k < c.bondSpecCount; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    const float minSq = spec.minLength * spec.minLength;
    const float maxSq = spec.maxLength * spec.maxLength;
    const auto [firstA, lastA] = AtomRun(c, spec.elementA);
    const auto [firstB, lastB] = AtomRun(c, spec.elementB);
    if (firstA > lastA || firstB > lastB)
      continue;
    State s;
    for (int32_t i = firstB; i <= lastB; i++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(i)];
      if (InRange(c, atom.xyz))
        s.atoms.push_back({static_cast<uint32_t>(i), {atom.cart[0], atom.cart[1], atom.cart[2]}});
    }
    if (s.atoms.empty())
      continue;
    Sort(s);
    for (int32_t a = firstA; a <= lastA; a++) {
      const AtomRecord &atomA = c.atoms[static_cast<size_t>(a)];
      if (!InRange(c, atomA.xyz))
        continue;
      for (uint32_t pos : BoxAtoms(s, atomA.cart, spec.maxLength)) {
        const TurboAtom &cand = s.atoms[pos];
        if (spec.elementA == spec.elementB && !(cand.atom < static_cast<uint32_t>(a)))
          continue;
        const float dx = cand.xyz[0] - atomA.cart[0];
        const float dy = cand.xyz[1] - atomA.cart[1];
        const float dz = cand.xyz[2] - atomA.cart[2];
        const float d2 = dx * dx + dy * dy + dz * dz;
        // Atoms closer than 0.1 A stand at one place: never bonded.
        if (minSq <= d2 && d2 <= maxSq && !(d2 < 0.01f)) {
          AddToList(lists[static_cast<size_t>(a)], cand.atom);
          AddToList(lists[cand.atom], static_cast<uint32_t>(a));
        }
      }
    }
  }
  return lists;
}

// d(100), d(010) and d(001) as the engine takes them.
inline float DSpacing(const CrystalRec &c, int axis) {
  return DSpace(&c, axis == 0 ? 1.0f : 0.0f, axis == 1 ? 1.0f : 0.0f, axis == 2 ? 1.0f : 0.0f);
}

// The extended cell range with the window [ceil(x) - x, (n - 1) + x].
inline void ExtendCellRange(const CrystalRec &c, int32_t firstSite, int32_t lastSite, float distance, State &s) {
  double x[3];
  int n[3];
  for (int i = 0; i < 3; i++) {
    x[i] = std::fabs(static_cast<double>(distance)) / static_cast<double>(DSpacing(c, i));
    n[i] = 2 * static_cast<int>(std::ceil(x[i])) + 1;
  }
  for (int32_t site = firstSite; site <= lastSite; site++) {
    const AsymmetricUnitRecord &rec = c.sites[static_cast<size_t>(site)];
    for (int32_t j = 0; j < rec.atomsPerCell; j++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(rec.firstAtom + j)];
      float u[3];
      for (int i = 0; i < 3; i++) {
        u[i] = atom.xyz[i];
        if (u[i] < 0.0f)
          u[i] += 1.0f;
        if (u[i] > 1.0f)
          u[i] -= 1.0f;
      }
      for (int kc = 0; kc < n[2]; kc++)
        for (int kb = 0; kb < n[1]; kb++)
          for (int ka = 0; ka < n[0]; ka++) {
            const float image[3] = {u[0] + static_cast<float>(ka), u[1] + static_cast<float>(kb),
                                    u[2] + static_cast<float>(kc)};
            bool inside = true;
            for (int i = 0; i < 3; i++) {
              const double v = image[i];
              if (v < std::ceil(x[i]) - x[i] || v > static_cast<double>(n[i] - 1) + x[i])
                inside = false;
            }
            if (!inside)
              continue;
            TurboAtom t;
            t.atom = static_cast<uint32_t>(rec.firstAtom + j);
            MatMul(c.orientationMatrix, image, t.xyz);
            s.atoms.push_back(t);
          }
    }
  }
}

struct Coordination {
  std::vector<uint32_t> numbers;
  bool found = false;
  bool specFoundNothing = false;
};

inline Coordination CoordinationNumbers(const CrystalRec &c) {
  Coordination out;
  out.numbers.assign(c.sites.size(), 0u);
  if (c.bondSpecCount < 1 || c.atomCount < 2)
    return out;
  for (int32_t k = 0; k < c.bondSpecCount; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    const float minSq = spec.minLength * spec.minLength;
    const float maxSq = spec.maxLength * spec.maxLength;
    int shift[3];
    for (int i = 0; i < 3; i++)
      shift[i] = static_cast<int>(
          std::ceil(std::fabs(static_cast<double>(spec.maxLength)) / static_cast<double>(DSpacing(c, i))));
    const auto runA = SiteRun(c, spec.elementA);
    const auto runB = SiteRun(c, spec.elementB);
    if (runA.first > runA.second || runB.first > runB.second) {
      out.specFoundNothing = true;
      continue;
    }
    long contacts = 0;
    const int passes = spec.elementA == spec.elementB ? 1 : 2;
    for (int pass = 0; pass < passes; pass++) {
      const auto candidates = pass == 0 ? runB : runA;
      const auto queries = pass == 0 ? runA : runB;
      State s;
      ExtendCellRange(c, candidates.first, candidates.second, spec.maxLength, s);
      Sort(s);
      for (int32_t site = queries.first; site <= queries.second; site++) {
        float q[3];
        for (int i = 0; i < 3; i++) {
          float v = c.sites[static_cast<size_t>(site)].xyz[i];
          if (v < 0.0f)
            v += 1.0f;
          if (v > 1.0f)
            v -= 1.0f;
          q[i] = v + static_cast<float>(shift[i]);
        }
        float p[3];
        MatMul(c.orientationMatrix, q, p);
        for (uint32_t pos : BoxAtoms(s, p, spec.maxLength)) {
          const TurboAtom &cand = s.atoms[pos];
          const float dx = cand.xyz[0] - p[0];
          const float dy = cand.xyz[1] - p[1];
          const float dz = cand.xyz[2] - p[2];
          const float d2 = dx * dx + dy * dy + dz * dz;
          if (!(minSq <= d2 && d2 <= maxSq))
            continue;
          if (d2 < 0.001f && c.atoms[cand.atom].site == static_cast<uint32_t>(site))
            continue;
          out.numbers[static_cast<size_t>(site)]++;
          contacts++;
        }
      }
    }
    if (contacts < 1)
      out.specFoundNothing = true;
    else
      out.found = true;
  }
  return out;
}

// ---- Brute force --------------------------------------------------------------------

// Every bonded pair {i < j} within the specifications among atoms in range,
// in any order.
inline std::set<std::pair<uint32_t, uint32_t>> BruteForcePairs(const CrystalRec &c) {
  std::set<std::pair<uint32_t, uint32_t>> pairs;
  const size_t n = c.atoms.size();
  for (size_t i = 0; i < n; i++) {
    if (!InRange(c, c.atoms[i].xyz))
      continue;
    for (size_t j = i + 1; j < n; j++) {
      if (!InRange(c, c.atoms[j].xyz))
        continue;
      const ElementCode ei = c.sites[c.atoms[i].site].elements[0];
      const ElementCode ej = c.sites[c.atoms[j].site].elements[0];
      const float dx = c.atoms[i].cart[0] - c.atoms[j].cart[0];
      const float dy = c.atoms[i].cart[1] - c.atoms[j].cart[1];
      const float dz = c.atoms[i].cart[2] - c.atoms[j].cart[2];
      const float d2 = dx * dx + dy * dy + dz * dz;
      for (int32_t k = 0; k < c.bondSpecCount; k++) {
        const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
        const bool match = (spec.elementA == ei && spec.elementB == ej) || (spec.elementA == ej && spec.elementB == ei);
        if (match && spec.minLength * spec.minLength <= d2 && d2 <= spec.maxLength * spec.maxLength && !(d2 < 0.01f)) {
          pairs.insert({static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
          break;
        }
      }
    }
  }
  return pairs;
}

inline std::set<std::pair<uint32_t, uint32_t>> PairsOf(const std::vector<std::vector<uint32_t>> &lists) {
  std::set<std::pair<uint32_t, uint32_t>> pairs;
  for (size_t i = 0; i < lists.size(); i++)
    for (uint32_t j : lists[i])
      pairs.insert({std::min<uint32_t>(static_cast<uint32_t>(i), j), std::max<uint32_t>(static_cast<uint32_t>(i), j)});
  return pairs;
}

} // namespace bondref
