#include "SelectionCommands.h"

#include "Alerts.h"
#include "AtomOperations.h"
#include "BondSearch.h"
#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <string>

namespace {

size_t AtomSize(const CrystalRec &c) { return UsableAtomSize(c); }

bool SiteVisible(const CrystalRec &c, const AtomRecord &a) {
  return a.site < UsableSiteSize(c) && c.sites[a.site].visible;
}

// The bonded neighbours of an atom that lie within the atom array.
size_t BondCount(const AtomRecord &a) { return std::min<size_t>(a.bondCount, a.bonds.size()); }

// Calls f(atom index) for every atom entry of the depth-sort index.
template <typename F> void ForEachPlottedAtom(const CrystalRec &c, F f) {
  const size_t n = UsableRecords(c.sortIndex.size(), c.sortIndexCount);
  const size_t atoms = AtomSize(c);
  for (size_t k = 0; k < n; ++k) {
    const SortIndexEntry &e = c.sortIndex[k];
    if (e.kind == kSortItemAtom && e.index < atoms)
      f(e.index);
  }
}

void NoSelectionCaution() {
  MyCFCautionAlert("No atoms selected!", "Please select at least one atom (e.g., by using the arrow tool)");
}

// What a command that hides, shows or cuts atoms, or changes what is
// plotted of them, changes of the structure.
constexpr uint32_t kChangesAtoms = kChangeAtoms | kChangeBonds;
// A command that only selects, labels or recolours atoms, moves the view's
// centre or removes vectors changes nothing the site roles and polyhedra are
// made from: the atoms' selection, labels, types and vectors and the view
// are none of their inputs.
constexpr uint32_t kLeavesDerivedInputs = 0;

// The window's structure when it holds atoms, told what the command changes
// of it (StructureChange, or'ed); nullptr otherwise.
CrystalRec *AtomsOf(WindowRef window, uint32_t changes) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || AtomSize(*c) == 0)
    return nullptr;
  NoteStructureChange(c, changes);
  return c;
}

// The window's structure when it has atoms and some are selected; otherwise
// nothing, after telling the user when only the selection is missing.
CrystalRec *SelectedAtomsOf(WindowRef window, uint32_t changes) {
  CrystalRec *c = AtomsOf(window, changes);
  if (c && !CrystalHasSelectedAtoms(c)) {
    NoSelectionCaution();
    return nullptr;
  }
  return c;
}

} // namespace

// ---- Helpers ----------------------------------------------------------------------------

int64_t GetCentreOfSelection(const CrystalRec &crystal, float fractional[3], float cartesian[3]) {
  double f[3] = {0, 0, 0}, x[3] = {0, 0, 0};
  int64_t n = 0;
  for (size_t i = 0; i < AtomSize(crystal); ++i) {
    const AtomRecord &a = crystal.atoms[i];
    if (!a.selected)
      continue;
    ++n;
    for (int k = 0; k < 3; ++k) {
      f[k] += a.xyz[k];
      x[k] += a.cart[k];
    }
  }
  for (int k = 0; k < 3; ++k) {
    const double div = n > 0 ? static_cast<double>(n) : 1.0;
    if (fractional)
      fractional[k] = static_cast<float>(f[k] / div);
    if (cartesian)
      cartesian[k] = static_cast<float>(x[k] / div);
  }
  return n;
}

void GetAtomsInSameMolecule(const CrystalRec &crystal, int32_t i, std::vector<int32_t> &list) {
  const size_t atoms = AtomSize(crystal);
  if (i < 0 || static_cast<size_t>(i) >= atoms)
    return;
  std::vector<uint8_t> listed(atoms, 0);
  for (int32_t k : list)
    if (k >= 0 && static_cast<size_t>(k) < atoms)
      listed[static_cast<size_t>(k)] = 1;
  listed[static_cast<size_t>(i)] = 1;
  // Each frame is an atom and the next of its bonds to look at, which keeps
  // the order of a recursive search without its depth.
  std::vector<std::pair<uint32_t, size_t>> stack{{static_cast<uint32_t>(i), 0}};
  while (!stack.empty()) {
    auto &[atom, next] = stack.back();
    const AtomRecord &a = crystal.atoms[atom];
    if (next >= BondCount(a)) {
      stack.pop_back();
      continue;
    }
    const uint32_t j = a.bonds[next++];
    if (j >= atoms || listed[j] || !crystal.atoms[j].visible)
      continue;
    listed[j] = 1;
    list.push_back(static_cast<int32_t>(j));
    stack.emplace_back(j, 0);
  }
}

int64_t CountAtomsInSameMolecule(const CrystalRec &crystal, int32_t i) {
  if (i < 0 || static_cast<size_t>(i) >= AtomSize(crystal))
    return 0;
  std::vector<int32_t> list{i};
  GetAtomsInSameMolecule(crystal, i, list);
  return static_cast<int64_t>(list.size());
}

int64_t DoSelectAtomsInSameMolecule(CrystalRec &crystal, int32_t i) {
  const size_t atoms = AtomSize(crystal);
  if (i < 0 || static_cast<size_t>(i) >= atoms)
    return 0;
  int64_t added = 0;
  std::vector<std::pair<uint32_t, size_t>> stack{{static_cast<uint32_t>(i), 0}};
  while (!stack.empty()) {
    auto &[atom, next] = stack.back();
    const AtomRecord &a = crystal.atoms[atom];
    if (next >= BondCount(a)) {
      stack.pop_back();
      continue;
    }
    const uint32_t j = a.bonds[next++];
    if (j >= atoms)
      continue;
    AtomRecord &b = crystal.atoms[j];
    if (!b.visible || b.selected)
      continue;
    b.selected = 1;
    ++added;
    stack.emplace_back(j, 0);
  }
  return added;
}

int64_t DoSelectRelations(CrystalRec &crystal) {
  const size_t atoms = AtomSize(crystal);
  std::vector<uint32_t> front;
  for (size_t k = 0; k < atoms; ++k) {
    const AtomRecord &a = crystal.atoms[k];
    if (a.selected && a.visible && SiteVisible(crystal, a))
      front.push_back(static_cast<uint32_t>(k));
  }
  int64_t added = 0;
  while (!front.empty()) {
    const uint32_t k = front.back();
    front.pop_back();
    const AtomRecord &a = crystal.atoms[k];
    for (size_t b = 0; b < BondCount(a); ++b) {
      const uint32_t j = a.bonds[b];
      if (j >= atoms)
        continue;
      AtomRecord &n = crystal.atoms[j];
      if (n.selected || !n.visible || !SiteVisible(crystal, n))
        continue;
      n.selected = 1;
      ++added;
      front.push_back(j);
    }
  }
  return added;
}

bool DoSelectNearestRelations(CrystalRec &crystal, int64_t *total) {
  const size_t atoms = AtomSize(crystal);
  std::vector<uint32_t> start;
  for (size_t k = 0; k < atoms; ++k)
    if (crystal.atoms[k].selected)
      start.push_back(static_cast<uint32_t>(k));
  int64_t added = 0;
  for (uint32_t k : start) {
    const AtomRecord &a = crystal.atoms[k];
    for (size_t b = 0; b < BondCount(a); ++b) {
      const uint32_t j = a.bonds[b];
      if (j < atoms && !crystal.atoms[j].selected) {
        crystal.atoms[j].selected = 1;
        ++added;
      }
    }
  }
  if (total)
    *total = static_cast<int64_t>(start.size()) + added;
  return added > 0;
}

bool SelectionIsLabelled(const CrystalRec &crystal) {
  bool labelled = false;
  ForEachPlottedAtom(crystal, [&](uint32_t i) {
    const AtomRecord &a = crystal.atoms[i];
    if (a.selected && a.labelled)
      labelled = true;
  });
  return labelled;
}

// ---- Commands ---------------------------------------------------------------------------

void DoSelectSymmetryRelatedSites(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kLeavesDerivedInputs);
  if (!c || UsableSiteSize(*c) == 0)
    return;
  std::vector<uint8_t> chosen(UsableSiteSize(*c), 0);
  for (size_t k = 0; k < AtomSize(*c); ++k) {
    const AtomRecord &a = c->atoms[k];
    if (a.visible && a.selected && a.site < chosen.size())
      chosen[a.site] = 1;
  }
  for (size_t k = 0; k < AtomSize(*c); ++k) {
    AtomRecord &a = c->atoms[k];
    if (a.visible && a.site < chosen.size() && chosen[a.site])
      a.selected = 1;
  }
  NewPlot(window, false, false);
}

void DoSelectNeighbours(WindowRef window) {
  CrystalRec *c = SelectedAtomsOf(window, kLeavesDerivedInputs);
  if (!c)
    return;
  int64_t total = 0;
  DoSelectNearestRelations(*c, &total);
  char text[96];
  std::snprintf(text, sizeof text, "Total of %lld atoms selected", static_cast<long long>(total));
  DrawWindowSubtitle(window, text);
  NewPlot(window, false, false);
}

void DoSelectEntireMolecule(WindowRef window) {
  CrystalRec *c = SelectedAtomsOf(window, kLeavesDerivedInputs);
  if (!c)
    return;
  const int64_t added = DoSelectRelations(*c);
  if (added == 0) {
    DrawWindowSubtitle(window, "No atoms bonded to existing selection");
    return;
  }
  const int64_t total = GetCentreOfSelection(*c, nullptr, nullptr);
  char text[128];
  std::snprintf(text, sizeof text, "Total of %lld atoms selected (selection extended by %lld atoms)",
                static_cast<long long>(total), static_cast<long long>(added));
  DrawWindowSubtitle(window, text);
  NewPlot(window, false, false);
}

void DoDeselectEntirePlot(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  DeselectAllObjects(c);
  PlotCrystal(window, 1);
}

void DoInvertSelection(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  ForEachPlottedAtom(*c, [&](uint32_t i) { c->atoms[i].selected = c->atoms[i].selected ? 0 : 1; });
  PlotCrystal(window, 1);
}

void DoSelectPlot(WindowRef window, bool atoms, bool vectors, bool annotations) {
  CrystalRec *c = AtomsOf(window, kLeavesDerivedInputs);
  if (!c)
    return;
  if (atoms)
    ForEachPlottedAtom(*c, [&](uint32_t i) { c->atoms[i].selected = 1; });
  if (vectors) {
    const size_t n = UsableRecords(c->vectors.size(), c->vectorCount);
    for (size_t k = 0; k < n; ++k) {
      VectorRecord &v = c->vectors[k];
      v.selected = v.atom < AtomSize(*c) ? c->atoms[v.atom].visible : 0;
    }
  }
  if (annotations) {
    const size_t n = UsableRecords(c->textBoxes.size(), c->textBoxCount);
    for (size_t k = 0; k < n; ++k)
      c->textBoxes[k].selected = 1;
  }
  PlotCrystal(window, 1);
}

void DoCentreOnSelection(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kLeavesDerivedInputs);
  if (!c)
    return;
  float cart[3];
  if (GetCentreOfSelection(*c, nullptr, cart) < 1)
    return;
  for (int k = 0; k < 3; ++k)
    c->plotCentre[k] = cart[k];
  NewPlot(window, false, false);
}

void ToggleSelectionLabels(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kLeavesDerivedInputs);
  if (!c || !CrystalHasSelectedAtoms(c))
    return;
  const uint8_t label = SelectionIsLabelled(*c) ? 0 : 1;
  ForEachPlottedAtom(*c, [&](uint32_t i) {
    if (c->atoms[i].selected)
      c->atoms[i].labelled = label;
  });
  PlotCrystal(window, 1);
}

void HideOtherAtoms(WindowRef window) {
  CrystalRec *c = SelectedAtomsOf(window, kChangesAtoms);
  if (!c)
    return;
  DrawWindowSubtitle(window, OVLocalizedString("Hiding_Atoms"));
  std::vector<uint32_t> hide;
  ForEachPlottedAtom(*c, [&](uint32_t i) {
    if (!c->atoms[i].selected)
      hide.push_back(i);
  });
  for (uint32_t i : hide)
    HideAtom(c, static_cast<int32_t>(i));
  PlotCrystal(window, 1);
  UpdateSiteBrowser(window);
}

void HideSelectedAtoms(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kChangesAtoms);
  if (!c)
    return;
  const size_t atoms = AtomSize(*c);
  if (c->modelType == kPolyhedralModel)
    for (size_t k = 0; k < atoms; ++k) {
      const AtomRecord &a = c->atoms[k];
      if (a.visible && a.selected && GetAtomDisplayClass(*c, a) == kPolyhedronClass)
        if (const Polyhedron *poly = AtomPolyhedron(c, a))
          HideSelectedPoly(c, poly);
    }
  for (size_t k = 0; k < atoms; ++k) {
    const AtomRecord &a = c->atoms[k];
    if (a.visible && a.selected)
      HideAtom(c, static_cast<int32_t>(k));
  }
  DeselectAllObjects(c);
  PlotCrystal(window, 1);
}

void DoHideSelectedAtoms(WindowRef window) {
  CrystalRec *c = SelectedAtomsOf(window, kChangesAtoms);
  if (!c)
    return;
  DrawWindowSubtitle(window, OVLocalizedString("Hiding_Atoms"));
  HideSelectedAtoms(window);
  UpdateSiteBrowser(window);
}

void ShowAllAtoms(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kChangesAtoms);
  if (!c || UsableSiteSize(*c) == 0)
    return;
  DrawWindowSubtitle(window, OVLocalizedString("Showing_All_Atoms"));
  for (size_t s = 0; s < UsableSiteSize(*c); ++s)
    c->sites[s].visible = 1;
  for (size_t k = 0; k < AtomSize(*c); ++k) {
    AtomRecord &a = c->atoms[k];
    if (!a.visible && FracCoordsInRange(c, a.xyz))
      a.visible = 1;
  }
  NewPlot(window, false, true);
}

bool WindowHasSelection(WindowRef window) { return SelectedAtomsOf(window, kLeavesDerivedInputs) != nullptr; }

void HideOtherMolecules(WindowRef window) {
  CrystalRec *c = SelectedAtomsOf(window, kChangesAtoms);
  if (!c)
    return;
  DoSelectRelations(*c);
  HideOtherAtoms(window);
  DeselectAllObjects(c);
  NewPlot(window, false, false);
}

// ---- Vectors, custom bonds and detaching --------------------------------------------------

bool FindCustomBond(const CrystalRec &crystal, uint32_t i, uint32_t j, int32_t *index) {
  const size_t n = UsableRecords(crystal.customBondSpecs.size(), crystal.customBondSpecCount);
  for (size_t k = 0; k < n; ++k) {
    const CustomBondSpec &s = crystal.customBondSpecs[k];
    if ((s.atomA == i && s.atomB == j) || (s.atomA == j && s.atomB == i)) {
      if (index)
        *index = static_cast<int32_t>(k);
      return true;
    }
  }
  return false;
}

void DoDeleteAllVectors(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || c->vectors.empty())
    return;
  DestroyVectorsArray(c);
  PlotCrystal(window, 1);
}

void DeleteSelectedVectors(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kLeavesDerivedInputs);
  if (!c)
    return;
  const size_t n = UsableRecords(c->vectors.size(), c->vectorCount);
  std::vector<VectorRecord> kept;
  std::vector<uint32_t> bereft;
  for (size_t k = 0; k < n; ++k) {
    if (c->vectors[k].selected)
      bereft.push_back(c->vectors[k].atom);
    else
      kept.push_back(c->vectors[k]);
  }
  if (bereft.empty())
    return;
  for (uint32_t a : bereft)
    if (a < AtomSize(*c))
      c->atoms[a].hasVector = 0;
  for (const VectorRecord &v : kept)
    if (v.atom < AtomSize(*c))
      c->atoms[v.atom].hasVector = 1;
  c->vectors = std::move(kept);
  c->vectorCount = static_cast<int32_t>(c->vectors.size());
  PlotCrystal(window, 1);
}

void DoResetCustomBonds(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || c->customBondSpecs.empty())
    return;
  DestroyCustomBondSpecsArray(c);
  NewPlot(window, false, false);
}

void DetachSelectedAtoms(WindowRef window) {
  CrystalRec *c = SelectedAtomsOf(window, kChangesAtoms);
  if (!c)
    return;
  const size_t atoms = AtomSize(*c);
  std::vector<std::pair<int32_t, int32_t>> cuts;
  for (size_t k = 0; k < atoms; ++k) {
    const AtomRecord &a = c->atoms[k];
    if (!a.visible || !a.selected)
      continue;
    for (size_t b = 0; b < BondCount(a); ++b) {
      const uint32_t j = a.bonds[b];
      if (j < atoms && !(c->atoms[j].visible && c->atoms[j].selected))
        cuts.emplace_back(static_cast<int32_t>(k), static_cast<int32_t>(j));
    }
  }
  for (auto [i, j] : cuts)
    DeleteBondListEntry(c, i, j);
  DefinePolyhedra(c);
  PlotCrystal(window, 1);
  UpdateSiteBrowser(window);
}

// ---- Atoms of their own appearance ------------------------------------------------------

std::vector<int32_t> CountVisibleAtomTypeUses(const CrystalRec &crystal) {
  std::vector<int32_t> uses(UsableSphereSize(crystal), 0);
  for (size_t k = 0; k < AtomSize(crystal); ++k) {
    const AtomRecord &a = crystal.atoms[k];
    if (a.visible && a.atomType < uses.size())
      ++uses[a.atomType];
  }
  return uses;
}

SphereRecord *MakeCustomAtomSphere(CrystalRec &crystal, int32_t atom, uint32_t style, ElementCode element, float radius,
                                   RGBColor colour, std::vector<int32_t> *uses) {
  if (atom < 0 || static_cast<size_t>(atom) >= AtomSize(crystal))
    return nullptr;
  AtomRecord &a = crystal.atoms[static_cast<size_t>(atom)];
  const uint32_t old = a.atomType;
  auto repoint = [&](uint32_t type) {
    if (uses && a.visible) {
      if (old < uses->size())
        --(*uses)[old];
      if (uses->size() <= type)
        uses->resize(type + 1, 0);
      ++(*uses)[type];
    }
    a.atomType = type;
  };
  const size_t types = UsableSphereSize(crystal);
  for (size_t k = 0; k < types; ++k) {
    const SphereRecord &s = crystal.spheres[k];
    if (s.style == style && s.element == element && s.colour == colour && std::fabs(s.radius - radius) < 0.01f) {
      repoint(static_cast<uint32_t>(k));
      return crystal.spheres.data();
    }
  }
  const uint32_t siteType = a.site < UsableSiteSize(crystal) ? crystal.sites[a.site].atomType : old;
  bool alone = false;
  if (old < types && old != siteType) {
    if (uses && old < uses->size()) {
      alone = (*uses)[old] - (a.visible ? 1 : 0) == 0;
    } else {
      alone = true;
      for (size_t k = 0; k < AtomSize(crystal) && alone; ++k)
        if (k != static_cast<size_t>(atom) && crystal.atoms[k].visible && crystal.atoms[k].atomType == old)
          alone = false;
    }
  }
  uint32_t type = old;
  if (!alone) {
    if (!AppendBlankSphere(&crystal))
      return nullptr;
    type = static_cast<uint32_t>(crystal.sphereCount - 1);
  }
  SphereRecord &s = crystal.spheres[type];
  s.element = element;
  s.radius = radius;
  s.colour = colour;
  s.style = style;
  repoint(type);
  return crystal.spheres.data();
}

int64_t RecolourSelectedAtoms(CrystalRec &crystal, RGBColor colour) {
  std::vector<int32_t> uses = CountVisibleAtomTypeUses(crystal);
  int64_t n = 0;
  for (size_t k = 0; k < AtomSize(crystal); ++k) {
    const AtomRecord &a = crystal.atoms[k];
    if (!a.visible || !a.selected || !SiteVisible(crystal, a) || a.atomType >= UsableSphereSize(crystal))
      continue;
    const SphereRecord &found = crystal.spheres[a.atomType];
    const uint32_t style = found.style;
    const ElementCode element = found.element;
    const float radius = found.radius;
    if (!MakeCustomAtomSphere(crystal, static_cast<int32_t>(k), style, element, radius, colour, &uses))
      break;
    ++n;
  }
  return n;
}

void DoChangeAtomColour(WindowRef window) {
  CrystalRec *c = AtomsOf(window, kLeavesDerivedInputs);
  HostServices *host = GetHostServices();
  if (!c || !host)
    return;
  RGBColor colour{};
  bool found = false;
  for (size_t k = 0; k < AtomSize(*c) && !found; ++k) {
    const AtomRecord &a = c->atoms[k];
    if (a.visible && a.selected && a.atomType < UsableSphereSize(*c)) {
      colour = c->spheres[a.atomType].colour;
      found = true;
    }
  }
  if (!found || !host->ChooseColour("atom colour:", &colour))
    return;
  RecolourSelectedAtoms(*c, colour);
  PurgeUnusedAtomSpheres(c);
  NewPlot(window, false, true);
}

// ---- Duplicating ---------------------------------------------------------------------------

int64_t DuplicateSelectedMoleculeAtoms(CrystalRec &crystal, const float offset[3]) {
  const size_t atoms = AtomSize(crystal);
  const size_t sites = UsableSiteSize(crystal);
  std::vector<int64_t> copyOf(atoms, -1);
  int64_t k = 0;
  for (size_t i = 0; i < atoms; ++i)
    if (crystal.atoms[i].selected)
      copyOf[i] = static_cast<int64_t>(atoms) + k++;
  if (k == 0)
    return 0;
  float inverse[9];
  if (!Inv3x3Mat(crystal.orientationMatrix, inverse))
    return 0;
  float dfrac[3];
  MatMul(inverse, offset, dfrac);
  std::vector<AtomRecord> newAtoms;
  std::vector<AsymmetricUnitRecord> newSites;
  try {
    newAtoms.assign(crystal.atoms.begin(), crystal.atoms.begin() + static_cast<std::ptrdiff_t>(atoms));
    newSites.assign(crystal.sites.begin(), crystal.sites.begin() + static_cast<std::ptrdiff_t>(sites));
    newAtoms.reserve(atoms + static_cast<size_t>(k));
    newSites.reserve(sites + static_cast<size_t>(k));
    for (size_t i = 0; i < atoms; ++i) {
      if (copyOf[i] < 0)
        continue;
      const AtomRecord &src = crystal.atoms[i];
      AsymmetricUnitRecord site = src.site < sites ? crystal.sites[src.site] : AsymmetricUnitRecord{};
      const int32_t index = static_cast<int32_t>(newAtoms.size());
      site.firstAtom = site.lastAtom = index;
      site.visible = 1;
      AtomRecord dup;
      dup.site = static_cast<uint32_t>(newSites.size());
      dup.atomType = src.atomType;
      dup.visible = 1;
      dup.selected = 1;
      dup.labelled = src.labelled;
      dup.hasVector = 0;
      std::copy(&src.flags[0], &src.flags[0] + 2, dup.flags);
      for (int a = 0; a < 3; ++a) {
        dup.cart[a] = src.cart[a] + offset[a];
        for (int b = 0; b < 3; ++b)
          dup.ellipsoidAxes[a][b] = src.ellipsoidAxes[a][b] + dfrac[b];
      }
      MatMul(inverse, dup.cart, dup.xyz);
      for (size_t b = 0; b < BondCount(src); ++b) {
        const uint32_t j = src.bonds[b];
        if (j < atoms && crystal.atoms[j].visible && crystal.atoms[j].selected)
          dup.bonds.push_back(static_cast<uint32_t>(copyOf[j]));
      }
      dup.bondCount = static_cast<uint32_t>(dup.bonds.size());
      newSites.push_back(site);
      newAtoms.push_back(std::move(dup));
    }
  } catch (const std::bad_alloc &) {
    MyCFCautionAlert("Atom duplication failed!", "Insufficient memory to duplicate the selected atoms");
    return 0;
  }
  for (size_t i = 0; i < atoms; ++i)
    newAtoms[i].selected = 0;
  crystal.atoms = std::move(newAtoms);
  crystal.sites = std::move(newSites);
  crystal.atomCount = static_cast<int32_t>(crystal.atoms.size());
  crystal.siteCount = static_cast<int32_t>(crystal.sites.size());
  crystal.atomsPerCell = crystal.atomCount;
  return k;
}
