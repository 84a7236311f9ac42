// Test structures for the automatic bonds, the neighbour lists, the bond
// diagnostics and the space-filling calculations: a crystal built from its
// sites through cell generation and tiling, and a molecule from Cartesian
// atoms, each element with one atom type of a given radius.
#pragma once

#include "Preferences.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace autobondtest {

struct Site {
  std::string element;
  float x, y, z;
};

struct Cell {
  float a, b, c, alpha, beta, gamma;
};

inline ElementCode Element(const std::string &symbol) { return TwoCharsToShort(symbol.c_str()); }

// One atom type per element, in order of first appearance, with the radius
// given (1.0 when none is). Answers each element's atom type.
inline std::map<ElementCode, uint32_t> MakeAtomTypes(CrystalRec &c, const std::vector<std::string> &elements,
                                                     const std::map<std::string, float> &radii) {
  std::map<ElementCode, uint32_t> types;
  for (const std::string &e : elements) {
    const ElementCode code = Element(e);
    if (types.count(code))
      continue;
    SphereRecord sphere;
    sphere.element = code;
    auto it = radii.find(e);
    sphere.radius = it == radii.end() ? 1.0f : it->second;
    types[code] = static_cast<uint32_t>(c.spheres.size());
    c.spheres.push_back(sphere);
  }
  c.sphereCount = static_cast<int32_t>(c.spheres.size());
  return types;
}

inline void SetCell(CrystalRec &c, const Cell &cell) {
  c.a = cell.a;
  c.b = cell.b;
  c.c = cell.c;
  c.alpha = cell.alpha;
  c.beta = cell.beta;
  c.gamma = cell.gamma;
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix);
}

// A crystal of the sites (sorted by element by the caller) in the space
// group, its cell generated and tiled over na x nb x nc cells, the plot range
// 0..na, 0..nb, 0..nc. False when the cell could not be generated.
inline bool MakeCrystal(CrystalRec &c, const Cell &cell, const char *spaceGroup, const std::vector<Site> &sites,
                        const std::map<std::string, float> &radii = {}, int32_t na = 1, int32_t nb = 1,
                        int32_t nc = 1) {
  InitBlankCrystalRec(&c);
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", spaceGroup);
  SetCell(c, cell);
  std::vector<std::string> elements;
  for (const Site &s : sites)
    elements.push_back(s.element);
  const std::map<ElementCode, uint32_t> types = MakeAtomTypes(c, elements, radii);
  c.sites.resize(sites.size());
  c.siteCount = static_cast<int32_t>(sites.size());
  for (size_t i = 0; i < sites.size(); i++) {
    AsymmetricUnitRecord &site = c.sites[i];
    site.elements[0] = Element(sites[i].element);
    site.occupancies[0] = 1.0f;
    site.atomType = types.at(site.elements[0]);
    site.xyz[0] = sites[i].x;
    site.xyz[1] = sites[i].y;
    site.xyz[2] = sites[i].z;
    std::snprintf(site.label, sizeof site.label, "%s%d", sites[i].element.c_str(), static_cast<int>(i + 1) % 1000);
  }
  if (!GenCell(&c))
    return false;
  if (na != 1 || nb != 1 || nc != 1) {
    if (RedimensionAtomsArray(&c, na, nb, nc) != 0)
      return false;
  } else {
    c.na = c.nb = c.nc = 1;
  }
  const float range[6] = {0.0f, float(na), 0.0f, float(nb), 0.0f, float(nc)};
  std::copy(range, range + 6, c.plotRange);
  for (AtomRecord &atom : c.atoms)
    MatMul(c.orientationMatrix, atom.xyz, atom.cart);
  return true;
}

struct MoleculeAtom {
  std::string element;
  float x, y, z; // Cartesian, Angstrom
};

// A molecule of the atoms (sorted by element by the caller) in a cubic box:
// one site per atom, site i holding atom i.
inline void MakeMolecule(CrystalRec &c, const std::vector<MoleculeAtom> &atoms,
                         const std::map<std::string, float> &radii = {}, float box = 40.0f) {
  InitBlankCrystalRec(&c);
  c.molecule = 1;
  SetCell(c, {box, box, box, 90.0f, 90.0f, 90.0f});
  float inverse[9];
  Inv3x3Mat(c.orientationMatrix, inverse);
  std::vector<std::string> elements;
  for (const MoleculeAtom &a : atoms)
    elements.push_back(a.element);
  const std::map<ElementCode, uint32_t> types = MakeAtomTypes(c, elements, radii);
  c.sites.resize(atoms.size());
  c.atoms.resize(atoms.size());
  for (size_t i = 0; i < atoms.size(); i++) {
    AsymmetricUnitRecord &site = c.sites[i];
    site.elements[0] = Element(atoms[i].element);
    site.occupancies[0] = 1.0f;
    site.atomType = types.at(site.elements[0]);
    site.firstAtom = site.lastAtom = static_cast<int32_t>(i);
    site.atomsPerCell = 1;
    std::snprintf(site.label, sizeof site.label, "%s%d", atoms[i].element.c_str(), static_cast<int>(i + 1) % 1000);
    AtomRecord &atom = c.atoms[i];
    atom.site = static_cast<uint32_t>(i);
    atom.atomType = site.atomType;
    atom.cart[0] = atoms[i].x;
    atom.cart[1] = atoms[i].y;
    atom.cart[2] = atoms[i].z;
    MatMul(inverse, atom.cart, atom.xyz);
    CopyVector(site.xyz, atom.xyz);
  }
  c.siteCount = c.atomCount = c.atomsPerCell = static_cast<int32_t>(atoms.size());
}

} // namespace autobondtest
