#include "AtomOperations.h"

#include "Alerts.h"
#include "CellTransform.h"
#include "DerivedLayers.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <vector>

namespace {

constexpr uint32_t kVertexOnlyPolyMode = 1;
bool SphereClassMode(uint32_t mode) { return mode == 2 || mode == 6 || mode == 7 || mode == 11 || mode == 12; }

bool ValidAtom(const CrystalRec *c, int64_t i) { return c && i >= 0 && i < UsableAtomCount(*c); }
bool ValidSite(const CrystalRec *c, int64_t s) { return c && s >= 0 && s < UsableSiteCount(*c); }

float Distance3(const float a[3], const float b[3]) {
  const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The atoms of a site, clipped to the atom array.
std::pair<int32_t, int32_t> SiteAtoms(const CrystalRec &c, const AsymmetricUnitRecord &site) {
  const int32_t first = std::max(site.firstAtom, 0);
  const int32_t last = std::min(site.lastAtom, UsableAtomCount(c) - 1);
  return {first, last};
}

void RecomputeCart(CrystalRec &c, AtomRecord &atom) { MatMul(c.orientationMatrix, atom.xyz, atom.cart); }

} // namespace

int32_t AtomTypeForElement(CrystalRec &c, ElementCode element) {
  for (int32_t k = 0; k < UsableSphereCount(c); ++k)
    if (c.spheres[static_cast<size_t>(k)].element == element)
      return k;
  SphereRecord *type = AppendBlankSphere(&c);
  if (!type)
    return -1;
  type->element = element;
  type->style = 14;
  for (const ElementData &row : gPrefs.elementData) {
    if ((row.element >> 8) < 33) // a blank row ends the table
      break;
    if (row.element == element) {
      type->colour = row.colour;
      type->radius = row.radius;
      break;
    }
  }
  return c.sphereCount - 1;
}

AtomDisplayClass GetAtomDisplayClass(const CrystalRec &crystal, const AtomRecord &atom) {
  if (crystal.modelType != kPolyhedralModel || atom.site >= UsableSiteSize(crystal))
    return kSphereClass;
  const uint32_t mode = SitePolyMode(crystal, atom.site);
  if (SphereClassMode(mode))
    return kSphereClass;
  return mode == kVertexOnlyPolyMode ? kVertexOnlyClass : kPolyhedronClass;
}

bool FindAtomWithSymbolAndCoordinates(const CrystalRec *crystal, ElementCode element, const float xyz[3],
                                      int32_t *atom) {
  if (!crystal || !xyz)
    return false;
  const CrystalRec &c = *crystal;
  float best = std::numeric_limits<float>::max();
  int32_t found = -1;
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    if (site.elements[0] != element)
      continue;
    const auto [first, last] = SiteAtoms(c, site);
    for (int32_t i = first; i <= last; i++) {
      const float d = Distance3(c.atoms[static_cast<size_t>(i)].cart, xyz);
      if (d < best) {
        best = d;
        found = i;
      }
    }
  }
  if (found < 0 || !(best < kSameAtomDistance))
    return false;
  if (atom)
    *atom = found;
  return true;
}

// ---- Selection ----------------------------------------------------------------------

void SelectAtom(CrystalRec *crystal, int32_t atom, bool flag) {
  if (!ValidAtom(crystal, atom))
    return;
  AtomRecord &a = crystal->atoms[static_cast<size_t>(atom)];
  const Polyhedron *poly = crystal->modelType == kPolyhedralModel ? AtomPolyhedron(crystal, a) : nullptr;
  if (poly) {
    switch (GetAtomDisplayClass(*crystal, a)) {
    case kSphereClass:
      a.selected = flag ? 1 : 0;
      break;
    case kVertexOnlyClass:
      break;
    case kPolyhedronClass:
      SelectPoly(crystal, poly, flag);
      break;
    }
    return;
  }
  a.selected = flag ? 1 : 0;
}

void SelectPoly(CrystalRec *crystal, const Polyhedron *polyhedron, bool flag) {
  if (!polyhedron || !ValidAtom(crystal, polyhedron->centreAtom))
    return;
  AtomRecord &centre = crystal->atoms[polyhedron->centreAtom];
  if (!centre.visible)
    return;
  // Copied first: the polyhedron may belong to the centre atom being written.
  uint32_t count = 0;
  const std::vector<uint32_t> vertices = GetPolyhedronVertices(polyhedron, &count);
  for (uint32_t v : vertices)
    if (ValidAtom(crystal, v))
      crystal->atoms[v].selected = flag ? 1 : 0;
  centre.selected = flag ? 1 : 0;
}

void SelectSite(CrystalRec *crystal, int32_t site) {
  if (!ValidSite(crystal, site))
    return;
  AsymmetricUnitRecord &s = crystal->sites[static_cast<size_t>(site)];
  s.visible = 1;
  const auto [first, last] = SiteAtoms(*crystal, s);
  for (int32_t i = first; i <= last; i++)
    if (crystal->atoms[static_cast<size_t>(i)].visible)
      SelectAtom(crystal, i, true);
}

void DeselectAllObjects(CrystalRec *crystal) {
  if (!crystal)
    return;
  for (AtomRecord &a : crystal->atoms)
    a.selected = 0;
  for (VectorRecord &v : crystal->vectors)
    v.selected = 0;
  for (TextBoxRecord &t : crystal->textBoxes)
    t.selected = 0;
  UpdateEditAnnotation();
}

// ---- Visibility ---------------------------------------------------------------------

void ShowAtom(CrystalRec *crystal, int32_t atom) {
  if (!ValidAtom(crystal, atom))
    return;
  AtomRecord &a = crystal->atoms[static_cast<size_t>(atom)];
  if (a.visible)
    return;
  NoteStructureChange(crystal, kChangeAtoms);
  a.visible = 1;
  if (ValidSite(crystal, a.site))
    crystal->sites[a.site].visible = 1;
  RecomputeCart(*crystal, a);
}

void HideAtom(CrystalRec *crystal, int32_t atom) {
  if (!ValidAtom(crystal, atom))
    return;
  AtomRecord &a = crystal->atoms[static_cast<size_t>(atom)];
  if (!a.visible)
    return;
  NoteStructureChange(crystal, kChangeAtoms);
  a.visible = 0;
  a.selected = 0;
  if (!ValidSite(crystal, a.site))
    return;
  AsymmetricUnitRecord &s = crystal->sites[a.site];
  const auto [first, last] = SiteAtoms(*crystal, s);
  for (int32_t i = first; i <= last; i++)
    if (crystal->atoms[static_cast<size_t>(i)].visible)
      return;
  s.visible = 0;
}

void ShowSite(CrystalRec *crystal, int32_t site) {
  if (!ValidSite(crystal, site))
    return;
  NoteStructureChange(crystal, kChangeAtoms);
  AsymmetricUnitRecord &s = crystal->sites[static_cast<size_t>(site)];
  s.visible = 1;
  const auto [first, last] = SiteAtoms(*crystal, s);
  for (int32_t i = first; i <= last; i++) {
    AtomRecord &a = crystal->atoms[static_cast<size_t>(i)];
    if (IsAtomInRange(crystal, a)) {
      a.visible = 1;
      RecomputeCart(*crystal, a);
    }
  }
}

void HideSite(CrystalRec *crystal, int32_t site) {
  if (!ValidSite(crystal, site))
    return;
  NoteStructureChange(crystal, kChangeAtoms);
  AsymmetricUnitRecord &s = crystal->sites[static_cast<size_t>(site)];
  s.visible = 0;
  const auto [first, last] = SiteAtoms(*crystal, s);
  for (int32_t i = first; i <= last; i++) {
    AtomRecord &a = crystal->atoms[static_cast<size_t>(i)];
    if (a.visible && IsAtomInRange(crystal, a)) {
      a.visible = 0;
      a.selected = 0;
    }
  }
}

void HidePoly(CrystalRec *crystal, const Polyhedron *polyhedron, bool selectionMode) {
  if (!polyhedron || !ValidAtom(crystal, polyhedron->centreAtom))
    return;
  const uint32_t centre = polyhedron->centreAtom;
  if (!crystal->atoms[centre].visible)
    return;
  uint32_t count = 0;
  const std::vector<uint32_t> vertices = GetPolyhedronVertices(polyhedron, &count);
  if (vertices.empty())
    return;
  NoteStructureChange(crystal, kChangeAtoms);
  for (uint32_t v : vertices) {
    if (!ValidAtom(crystal, v))
      continue;
    AtomRecord &vertex = crystal->atoms[v];
    bool held = false;
    const size_t bonds = std::min<size_t>(vertex.bondCount, vertex.bonds.size());
    for (size_t k = 0; k < bonds && !held; k++) {
      const uint32_t n = vertex.bonds[k];
      if (n == centre || !ValidAtom(crystal, n))
        continue;
      const AtomRecord &neighbour = crystal->atoms[n];
      held = neighbour.visible && !(selectionMode && neighbour.selected);
    }
    if (!held)
      vertex.visible = 0;
    vertex.selected = 0;
  }
  crystal->atoms[centre].visible = 0;
  crystal->atoms[centre].selected = 0;
}

void HideSelectedPoly(CrystalRec *crystal, const Polyhedron *polyhedron) { HidePoly(crystal, polyhedron, true); }
void HideZappedPoly(CrystalRec *crystal, const Polyhedron *polyhedron) { HidePoly(crystal, polyhedron, false); }

// ---- Movement -----------------------------------------------------------------------

void MoveAtomByFractionalAmount(CrystalRec *crystal, int32_t atom, const float dfrac[3]) {
  if (!ValidAtom(crystal, atom) || !dfrac)
    return;
  AtomRecord &a = crystal->atoms[static_cast<size_t>(atom)];
  VecAdd(a.xyz, dfrac, a.xyz);
  RecomputeCart(*crystal, a);
  if (crystal->ellipsoidData)
    for (auto &axis : a.ellipsoidAxes)
      VecAdd(axis, dfrac, axis);
}

void MoveAtomByAbsoluteAmount(CrystalRec *crystal, int32_t atom, const float dcart[3]) {
  if (!ValidAtom(crystal, atom) || !dcart)
    return;
  float inverse[9];
  if (!Inv3x3Mat(crystal->orientationMatrix, inverse))
    return;
  AtomRecord &a = crystal->atoms[static_cast<size_t>(atom)];
  VecAdd(a.cart, dcart, a.cart);
  MatMul(inverse, a.cart, a.xyz);
  if (crystal->ellipsoidData)
    for (auto &axis : a.ellipsoidAxes) {
      float cart[3];
      MatMul(crystal->orientationMatrix, axis, cart);
      VecAdd(cart, dcart, cart);
      MatMul(inverse, cart, axis);
    }
}

void MoveSelectedAtoms(WindowRef window, const float delta[3]) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !delta || !CrystalHasSelectedAtoms(crystal))
    return;
  if (!crystal->molecule) {
    if (!UserAgreesToDiscardSymmetry(window))
      return;
    crystal = GetWindowCrystal(window);
    if (!crystal)
      return;
  }
  CrystalRec &c = *crystal;
  float inverse[9];
  if (!Inv3x3Mat(c.orientationMatrix, inverse))
    return;
  NoteStructureChange(&c, kChangeAtoms | kChangeSites);
  // The depth order; without a sort index, the atoms' own order.
  std::vector<uint32_t> order;
  const size_t sorted = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  if (sorted > 0) {
    for (size_t k = 0; k < sorted; k++)
      if (c.sortIndex[k].kind == kSortItemAtom && ValidAtom(&c, c.sortIndex[k].index))
        order.push_back(c.sortIndex[k].index);
  } else {
    for (int32_t i = 0; i < UsableAtomCount(c); i++)
      order.push_back(static_cast<uint32_t>(i));
  }
  for (uint32_t i : order) {
    if (!c.atoms[i].selected)
      continue;
    if (c.molecule) {
      MoveAtomByAbsoluteAmount(&c, static_cast<int32_t>(i), delta);
      continue;
    }
    AtomRecord &a = c.atoms[i];
    float cart[3], frac[3], inCell[3], target[3], dfrac[3];
    VecAdd(a.cart, delta, cart);
    MatMul(inverse, cart, frac);
    MoveVectorIntoCell(inCell, frac);
    for (int d = 0; d < 3; d++)
      target[d] = inCell[d] + std::floor(a.xyz[d]);
    VecDiff(target, a.xyz, dfrac);
    MoveAtomByFractionalAmount(&c, static_cast<int32_t>(i), dfrac);
    if (!ValidSite(&c, a.site))
      continue;
    AsymmetricUnitRecord &site = c.sites[a.site];
    bool differs = false;
    for (int d = 0; d < 3; d++)
      differs = differs || std::fabs(site.xyz[d] - inCell[d]) > kSiteMoveTolerance;
    if (!differs)
      continue;
    float siteShift[3];
    VecDiff(inCell, site.xyz, siteShift);
    std::memcpy(site.xyz, inCell, sizeof site.xyz);
    const auto [first, last] = SiteAtoms(c, site);
    for (int32_t k = first; k <= last; k++)
      if (static_cast<uint32_t>(k) != i && !c.atoms[static_cast<size_t>(k)].selected)
        MoveAtomByFractionalAmount(&c, k, siteShift);
  }
}

void MoveSelectedVectors(CrystalRec *crystal, const float dcart[3]) {
  if (!crystal || !dcart || !(crystal->plotScale > 0.0f))
    return;
  CrystalRec &c = *crystal;
  float inverse[9];
  if (!Inv3x3Mat(c.orientationMatrix, inverse))
    return;
  const size_t n = UsableRecords(c.vectors.size(), c.vectorCount);
  for (size_t k = 0; k < n; k++) {
    VectorRecord &v = c.vectors[k];
    if (!v.selected || !ValidAtom(&c, v.atom))
      continue;
    const AtomRecord &a = c.atoms[v.atom];
    float imageWidth = 0.0f;
    if (a.atomType < UsableSphereSize(c))
      imageWidth = static_cast<float>(c.spheres[a.atomType].bounds1.Width());
    VecAdd(v.tipCart, dcart, v.tipCart);
    const float least = 2.0f * v.headRadius + imageWidth * 0.5f / c.plotScale;
    if (Distance3(v.tipCart, a.cart) > least) {
      MatMul(inverse, v.tipCart, v.tipXYZ);
      VecDiff(v.tipXYZ, a.xyz, v.uvw);
    } else {
      VecDiff(v.tipCart, dcart, v.tipCart);
    }
  }
}

// ---- Creation -----------------------------------------------------------------------

void MakeNewSiteLabel(ElementCode element, int64_t n, char label[kSiteLabelSize]) {
  char symbol[3] = {0, 0, 0};
  ShortToTwoChars(element, symbol);
  char text[48];
  if (symbol[1] == ' ' || symbol[1] == 0)
    std::snprintf(text, sizeof text, "%c%lld", symbol[0], static_cast<long long>(n) + 1);
  else
    std::snprintf(text, sizeof text, "%s%lld", symbol, static_cast<long long>(n) + 1);
  // At most 7 characters: past 9,999,999 atoms the number is cut short.
  MyStrCopy(std::span<char>(label, kSiteLabelSize), text);
}

bool AddAtomsWithSymbolAtPoints(WindowRef window, ElementCode element, const float *points, int32_t count,
                                bool selected) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !crystal->molecule || !points || count < 1)
    return false;
  CrystalRec &c = *crystal;
  if (c.atoms.size() != static_cast<size_t>(c.atomCount) || c.sites.size() != static_cast<size_t>(c.siteCount) ||
      c.atomCount < 0)
    return false;
  float inverse[9];
  Inv3x3Mat(c.orientationMatrix, inverse);
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  const size_t total = static_cast<size_t>(c.atomCount) + static_cast<size_t>(count);
  if (total > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    MyCFCautionAlert("Atom creation failed!", "Insufficient memory to create more atoms");
    return false;
  }
  std::vector<AtomRecord> atoms;
  std::vector<AsymmetricUnitRecord> sites;
  const int32_t spheresBefore = c.sphereCount;
  int32_t type = -1;
  try {
    atoms.reserve(total);
    sites.reserve(total);
    atoms = c.atoms;
    sites = c.sites;
    type = AtomTypeForElement(c, element);
    if (type < 0)
      throw std::bad_alloc();
    for (int32_t k = 0; k < count; ++k) {
      const int32_t n = c.atomCount + k;
      AsymmetricUnitRecord site = gBlankAU;
      site.elements[0] = element;
      site.occupancies[0] = 1.0f;
      MakeNewSiteLabel(element, n, site.label);
      site.firstAtom = n;
      site.lastAtom = n;
      site.atomsPerCell = 1;
      site.atomType = static_cast<uint32_t>(type);
      sites.push_back(site);

      AtomRecord atom = gBlankAtom;
      atom.site = static_cast<uint32_t>(n);
      atom.atomType = static_cast<uint32_t>(type);
      atom.visible = 1;
      atom.selected = selected ? 1 : 0;
      atom.labelled = 0;
      atom.hasVector = 0;
      atom.polyhedron.Drop();
      atom.bonds.clear();
      atom.bondCount = 0;
      std::memcpy(atom.cart, points + 3 * static_cast<size_t>(k), sizeof atom.cart);
      ProjectToPixel(&c, atom.cart, atom.pixel, pane.Width(), pane.Height());
      MatMul(inverse, atom.cart, atom.xyz);
      atoms.push_back(std::move(atom));
    }
  } catch (const std::bad_alloc &) {
    // Nothing changes: a type made for the new atoms goes again.
    if (c.sphereCount > spheresBefore) {
      c.spheres.resize(static_cast<size_t>(spheresBefore));
      c.sphereCount = spheresBefore;
    }
    MyCFCautionAlert("Atom creation failed!", "Insufficient memory to create more atoms");
    return false;
  }
  c.atoms = std::move(atoms);
  c.sites = std::move(sites);
  c.atomCount = c.siteCount = c.atomsPerCell = static_cast<int32_t>(total);
  return true;
}
