// Real structures for the polyhedra tests and benchmark: a crystal built from
// its cell, space group and sites, its cell generated and tiled over whole
// cells, its atoms given Cartesian coordinates, the atoms in the range shown,
// and its coordination numbers and bonds found.
#pragma once

#include "BondSearch.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "Utilities.h"
#include "VectorMath.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace polytest {

struct SiteInput {
  const char *label;
  const char *element; // one or two characters
  float x, y, z;
};

struct BondInput {
  const char *a;
  const char *b;
  float minLength, maxLength;
};

struct CrystalInput {
  const char *spaceGroup;
  int origin; // origin choice: 0, 1 or 2
  float cell[6];
  std::vector<SiteInput> sites;
  std::vector<BondInput> bonds;
};

inline ElementCode Element(const char *symbol) {
  const char code[3] = {symbol[0], symbol[1] ? symbol[1] : ' ', '\0'};
  return TwoCharsToShort(code);
}

// Builds the crystal over na x nb x nc cells with the plot range 0 to
// rangeMax on each axis (0 to the cell count when not given: the atoms at n
// itself are then not generated, so the atoms on the far faces lack
// neighbours). Answers an error text, empty on success.
inline std::string BuildCrystal(CrystalRec &c, const CrystalInput &in, int32_t na, int32_t nb, int32_t nc,
                                float rangeMax = 0.0f) {
  InitBlankCrystalRec(&c);
  c.a = in.cell[0];
  c.b = in.cell[1];
  c.c = in.cell[2];
  c.alpha = in.cell[3];
  c.beta = in.cell[4];
  c.gamma = in.cell[5];
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", in.spaceGroup);
  c.originChoice = static_cast<uint8_t>(in.origin);

  // Sites stand sorted by element.
  std::vector<SiteInput> sites = in.sites;
  std::stable_sort(sites.begin(), sites.end(), [](const SiteInput &x, const SiteInput &y) {
    return static_cast<int16_t>(Element(x.element)) < static_cast<int16_t>(Element(y.element));
  });
  const int32_t n = static_cast<int32_t>(sites.size());
  auto au = CreateAsymmetricUnit(n);
  if (!au)
    return "no sites";
  c.sites = std::move(*au);
  c.siteCount = n;
  for (int32_t k = 0; k < n; ++k) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    std::snprintf(site.label, sizeof site.label, "%s", sites[static_cast<size_t>(k)].label);
    site.elements[0] = Element(sites[static_cast<size_t>(k)].element);
    site.occupancies[0] = 1.0f;
    site.atomType = static_cast<uint32_t>(k);
    site.xyz[0] = sites[static_cast<size_t>(k)].x;
    site.xyz[1] = sites[static_cast<size_t>(k)].y;
    site.xyz[2] = sites[static_cast<size_t>(k)].z;
  }
  c.bondSpecCount = static_cast<int32_t>(in.bonds.size());
  for (size_t k = 0; k < in.bonds.size(); ++k) {
    BondSpec &spec = c.bondSpecs[k];
    spec.elementA = Element(in.bonds[k].a);
    spec.elementB = Element(in.bonds[k].b);
    spec.minLength = in.bonds[k].minLength;
    spec.maxLength = in.bonds[k].maxLength;
  }
  if (!GenCell(&c))
    return "GenCell failed";
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  if (!GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix))
    return "no orientation";
  if (RedimensionAtomsArray(&c, na, nb, nc) != 0)
    return "atoms not grown";
  const float range[6] = {0.0f, rangeMax > 0.0f ? rangeMax : float(na), 0.0f, rangeMax > 0.0f ? rangeMax : float(nb),
                          0.0f, rangeMax > 0.0f ? rangeMax : float(nc)};
  std::copy(range, range + 6, c.plotRange);
  for (AtomRecord &atom : c.atoms) {
    MatMul(c.orientationMatrix, atom.xyz, atom.cart);
    bool inRange = true;
    for (int i = 0; i < 3; ++i)
      inRange = inRange && atom.xyz[i] >= range[2 * i] && atom.xyz[i] <= range[2 * i + 1];
    atom.visible = inRange ? c.sites[atom.site].visible : 0;
  }
  bool nothing = false;
  if (!TurboGetCoordinationNumbers(&c, &nothing) || nothing)
    return "coordination numbers not found";
  TurboGenerateBonds(&c);
  return {};
}

// Rutile TiO2: a = 4.5937, c = 2.9587 A; O on 4f with x = 0.30478;
// Ti-O 1.948 and 1.980 A.
inline CrystalInput Rutile() {
  return {"P 42/m n m",
          0,
          {4.5937f, 4.5937f, 2.9587f, 90.0f, 90.0f, 90.0f},
          {{"Ti", "Ti", 0.0f, 0.0f, 0.0f}, {"O", "O", 0.30478f, 0.30478f, 0.0f}},
          {{"Ti", "O", 0.0f, 2.2f}}};
}

// Spinel MgAl2O4 in origin choice 2: a = 8.0806 A, u = 0.2624;
// Mg-O 1.92 A (tetrahedral), Al-O 1.93 A (octahedral).
inline CrystalInput Spinel() {
  return {"F d -3 m",
          2,
          {8.0806f, 8.0806f, 8.0806f, 90.0f, 90.0f, 90.0f},
          {{"Mg", "Mg", 0.125f, 0.125f, 0.125f}, {"Al", "Al", 0.5f, 0.5f, 0.5f}, {"O", "O", 0.2624f, 0.2624f, 0.2624f}},
          {{"Mg", "O", 0.0f, 2.1f}, {"Al", "O", 0.0f, 2.1f}}};
}

// Fluorite CaF2: a = 5.4631 A; Ca on 4a, F on 8c; Ca-F 2.366 A: each Ca in a
// cube of eight F, each F in a tetrahedron of four Ca.
inline CrystalInput Fluorite() {
  return {"F m -3 m",
          0,
          {5.4631f, 5.4631f, 5.4631f, 90.0f, 90.0f, 90.0f},
          {{"Ca", "Ca", 0.0f, 0.0f, 0.0f}, {"F", "F", 0.25f, 0.25f, 0.25f}},
          {{"Ca", "F", 0.0f, 2.6f}}};
}

// Cubic perovskite SrTiO3: a = 3.905 A; Ti on 1a, O on 3d, Sr on 1b;
// Ti-O 1.9525 A (octahedra), Sr-O 2.761 A (cuboctahedra).
inline CrystalInput Perovskite() {
  return {"P m -3 m",
          0,
          {3.905f, 3.905f, 3.905f, 90.0f, 90.0f, 90.0f},
          {{"Ti", "Ti", 0.0f, 0.0f, 0.0f}, {"O", "O", 0.5f, 0.0f, 0.0f}, {"Sr", "Sr", 0.5f, 0.5f, 0.5f}},
          {{"Ti", "O", 0.0f, 2.1f}, {"Sr", "O", 0.0f, 2.9f}}};
}

} // namespace polytest
