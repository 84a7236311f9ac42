#include "FragmentCommands.h"

#include "StoredLimits.h"

#include "Alerts.h"
#include "BondSearch.h"
#include "FractionalPlaces.h"
#include "Geometry.h"
#include "LocalizedStrings.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "RenderServices.h"
#include "SelectionCommands.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

SaveDefineClusterRec gSaveDefineCluster;

namespace {

size_t BondCount(const AtomRecord &a) { return std::min<size_t>(a.bondCount, a.bonds.size()); }

uint32_t SiteCoordination(const CrystalRec &c, const AtomRecord &a) {
  return a.site < UsableSiteSize(c) ? c.sites[a.site].coordination : 0;
}

// Atoms (or copies of them) by site and position, numbered as added: a
// position finds the atoms of its site within `SameAtomPosition` of it
// (whole cells not taken off). Each atom is a place of a kind for its site
// and whole cell, so that a search reads the atoms of the one or two cells
// per axis the tolerance reaches, not every image of the site in the range.
class AtomPlaces {
public:
  explicit AtomPlaces(size_t expected = 0) : places_(expected) {}
  void Add(uint32_t site, const float xyz[3]) {
    int64_t cell[3];
    for (int k = 0; k < 3; k++)
      cell[k] = WholeCell(xyz[k]);
    const double at[3] = {xyz[0], xyz[1], xyz[2]};
    places_.Add(at, Kind(site, cell));
    atoms_.push_back({site, {xyz[0], xyz[1], xyz[2]}});
  }
  // The earliest atom of the site at xyz for which accept(number) holds;
  // FractionalPlaces::kNone when none.
  template <typename Accept> size_t Find(uint32_t site, const float xyz[3], Accept accept) const {
    // The cells the tolerance reaches, with a margin for rounding.
    int64_t lo[3], hi[3];
    for (int k = 0; k < 3; k++) {
      lo[k] = WholeCell(xyz[k] - 2.0 * kSamePlaceTolerance);
      hi[k] = WholeCell(xyz[k] + 2.0 * kSamePlaceTolerance);
    }
    const double at[3] = {xyz[0], xyz[1], xyz[2]};
    size_t best = FractionalPlaces::kNone;
    for (int64_t i = lo[0]; i <= hi[0]; i++)
      for (int64_t j = lo[1]; j <= hi[1]; j++)
        for (int64_t k = lo[2]; k <= hi[2]; k++) {
          const int64_t cell[3] = {i, j, k};
          best = std::min(best, places_.FindIf(at, Kind(site, cell), [&](size_t p) {
            return p < best && atoms_[p].site == site && SameAtomPosition(atoms_[p].xyz.data(), xyz) && accept(p);
          }));
        }
    return best;
  }

private:
  static int64_t WholeCell(double x) {
    return std::isfinite(x) ? static_cast<int64_t>(std::clamp(std::floor(x), -1e15, 1e15)) : 0;
  }
  // Kinds of two sites or cells may coincide: the site is compared with
  // each atom found.
  static uint32_t Kind(uint32_t site, const int64_t cell[3]) {
    uint64_t h = site;
    for (int k = 0; k < 3; k++)
      h = h * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(cell[k]);
    return static_cast<uint32_t>(h >> 32);
  }
  struct Atom {
    uint32_t site;
    std::array<float, 3> xyz;
  };
  FractionalPlaces places_;
  std::vector<Atom> atoms_;
};

// The window's structure, told that the command changes its atoms and bonds.
CrystalRec *FileCrystal(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c || !IsWindowFileOpen(window))
    return nullptr;
  NoteStructureChange(c, kChangeAtoms | kChangeBonds);
  return c;
}

void CantRepairBondsAlert() {
  MyCFStopAlert(OVLocalizedString("Cant_Repair_Bonds_1"), OVLocalizedString("Cant_Repair_Bonds_2"));
}

// Whole-cell shift, rounded half away from zero.
float WholeCells(float d) { return std::round(d); }

} // namespace

void ShowEverySite(CrystalRec &c) {
  NoteStructureChange(&c, kChangeSites | kChangeAtoms);
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    c.sites[s].visible = 1;
}

void ShowOptimizeRangeNoBondingAlert() {
  MyCFStopAlert(OVLocalizedString("Error_No_Bonds_Defined1"), OVLocalizedString("Error_No_Bonds_Defined2"));
}

bool HasBondSpecsOrAlert(const CrystalRec &crystal) {
  if (crystal.bondSpecCount > 0)
    return true;
  ShowOptimizeRangeNoBondingAlert();
  return false;
}

// ---- Bonding repair ---------------------------------------------------------------------

bool RepairBondingAtSelection(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule)
    return false;
  NoteStructureChange(crystal, kChangeAtoms | kChangeBonds);
  CrystalRec &c = *crystal;
  TurboGetCoordinationNumbers(&c, nullptr);
  float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  float range[6];
  std::copy(std::begin(c.plotRange), std::end(c.plotRange), range);
  const float cellLength[3] = {c.a, c.b, c.c};
  bool changed = false;
  const size_t atoms = UsableAtomSize(c);
  ElementCode lastElement = 0;
  float dmax = 0.0f;
  bool haveDmax = false;
  for (size_t i = 0; i < atoms; i++) {
    AtomRecord &a = c.atoms[i];
    const uint32_t cn = SiteCoordination(c, a);
    if (!a.visible || !a.selected || cn == 0)
      continue;
    for (size_t b = 0; b < BondCount(a); b++) {
      const uint32_t j = a.bonds[b];
      if (j < atoms && !c.atoms[j].visible) {
        c.atoms[j].visible = 1;
        changed = true;
      }
    }
    if (BondCount(a) >= cn)
      continue;
    const ElementCode element = c.sites[a.site].elements[0];
    if (!haveDmax || element != lastElement) { // once per run of equal elements
      dmax = 0.0f;
      for (int32_t k = 0; k < std::min<int32_t>(c.bondSpecCount, kMaxBondSpecs); k++) {
        const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
        if (spec.elementA == element || spec.elementB == element)
          dmax = std::max(dmax, spec.maxLength);
      }
      lastElement = element;
      haveDmax = true;
    }
    for (int k = 0; k < 3; k++) {
      if (!(cellLength[k] > 0.0f))
        continue;
      const float r = dmax / cellLength[k];
      const float below = a.xyz[k] - range[2 * k];
      const float above = range[2 * k + 1] - a.xyz[k];
      if (r > below)
        lo[k] = std::max(lo[k], r - below);
      if (r > above)
        hi[k] = std::max(hi[k], r - above);
    }
  }
  const bool grow = lo[0] > 0 || lo[1] > 0 || lo[2] > 0 || hi[0] > 0 || hi[1] > 0 || hi[2] > 0;
  if (!changed && !grow)
    return false;
  if (!grow) {
    DefinePolyhedra(&c);
    return true;
  }

  // Grow the range, then find the atoms shown before among the new ones.
  std::vector<AtomRecord> copies;
  for (size_t i = 0; i < atoms; i++)
    if (c.atoms[i].visible) {
      const AtomRecord &a = c.atoms[i];
      AtomRecord copy;
      copy.site = a.site;
      copy.atomType = a.atomType;
      copy.selected = a.selected;
      copy.labelled = a.labelled;
      copy.hasVector = a.hasVector;
      std::copy(a.xyz, a.xyz + 3, copy.xyz);
      copies.push_back(std::move(copy));
    }
  const float requested[6] = {range[0] - lo[0], range[1] + hi[0], range[2] - lo[1],
                              range[3] + hi[1], range[4] - lo[2], range[5] + hi[2]};
  if (!SetPlotRange(window, requested[0], requested[1], requested[2], requested[3], requested[4], requested[5])) {
    std::fputs("Error setting the plot range at RepairBondingAtSelection\n", stderr);
    return false;
  }
  AtomPlaces index(copies.size());
  for (AtomRecord &copy : copies) {
    for (int ax = 0; ax < 3; ax++)
      copy.xyz[ax] += WholeCells(c.plotRange[2 * ax] - requested[2 * ax]);
    index.Add(copy.site, copy.xyz);
  }
  const size_t newAtoms = UsableAtomSize(c);
  for (size_t i = 0; i < newAtoms; i++) {
    AtomRecord &a = c.atoms[i];
    if (!a.visible)
      continue;
    const size_t k = index.Find(a.site, a.xyz, [](size_t) { return true; });
    if (k == FractionalPlaces::kNone) {
      a.visible = 0;
      continue;
    }
    const AtomRecord &copy = copies[k];
    a.selected = copy.selected;
    a.atomType = copy.atomType;
    a.labelled = copy.labelled;
    a.hasVector = copy.hasVector;
  }
  for (size_t i = 0; i < newAtoms; i++) {
    const AtomRecord &a = c.atoms[i];
    if (!a.visible || !a.selected)
      continue;
    for (size_t b = 0; b < BondCount(a); b++)
      if (a.bonds[b] < newAtoms)
        c.atoms[a.bonds[b]].visible = 1;
  }
  DefinePolyhedra(&c);
  return true;
}

bool RepairMolecularFragments(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule)
    return false;
  NoteStructureChange(crystal, kChangeAtoms | kChangeBonds);
  CrystalRec &c = *crystal;
  TurboGetCoordinationNumbers(&c, nullptr);
  std::vector<AtomRecord> copies;
  for (size_t i = 0; i < UsableAtomSize(c); i++) {
    const AtomRecord &a = c.atoms[i];
    if (!a.visible)
      continue;
    AtomRecord copy;
    copy.site = a.site;
    copy.atomType = a.atomType;
    copy.labelled = a.labelled;
    copy.hasVector = a.hasVector;
    std::copy(a.xyz, a.xyz + 3, copy.xyz);
    copies.push_back(std::move(copy));
  }
  float old[6];
  std::copy(std::begin(c.plotRange), std::end(c.plotRange), old);
  if (!SetPlotRange(window, old[0] - 1.0f, old[1] + 1.0f, old[2] - 1.0f, old[3] + 1.0f, old[4] - 1.0f, old[5] + 1.0f))
    return false;
  float move[3];
  for (int k = 0; k < 3; k++)
    move[k] = (c.plotRange[2 * k] + c.plotRange[2 * k + 1] - old[2 * k] - old[2 * k + 1]) / 2.0f;

  // Marks are the selected flag: none to start with.
  const size_t atoms = UsableAtomSize(c);
  AtomPlaces index;
  std::vector<size_t> atomOfPlace; // rising, so the earliest place is the first atom
  for (size_t i = 0; i < atoms; i++) {
    c.atoms[i].selected = 0;
    if (c.atoms[i].visible) {
      index.Add(c.atoms[i].site, c.atoms[i].xyz);
      atomOfPlace.push_back(i);
    }
  }
  auto unmarked = [&](size_t p) { return !c.atoms[atomOfPlace[p]].selected; };
  for (AtomRecord &copy : copies) {
    for (int k = 0; k < 3; k++)
      copy.xyz[k] += move[k];
    const size_t p = index.Find(copy.site, copy.xyz, unmarked);
    if (p == FractionalPlaces::kNone)
      continue;
    AtomRecord &a = c.atoms[atomOfPlace[p]];
    a.selected = 1;
    a.atomType = copy.atomType;
    a.labelled = copy.labelled;
    a.hasVector = copy.hasVector;
  }
  DoSelectRelations(c);
  bool any = false;
  for (size_t i = 0; i < atoms; i++) {
    AtomRecord &a = c.atoms[i];
    if (a.visible && !a.selected)
      a.visible = 0;
    any = any || a.visible;
    a.selected = 0;
  }
  return any;
}

bool HideMolecularFragments(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  return crystal && HideMolecularFragments(*crystal) >= 0;
}

int64_t HideMolecularFragments(CrystalRec &c) {
  NoteStructureChange(&c, kChangeAtoms | kChangeBonds);
  const size_t atoms = UsableAtomSize(c);
  int64_t n = 0;
  int32_t last = -1;
  for (size_t i = 0; i < atoms; i++) {
    const AtomRecord &a = c.atoms[i];
    if (a.visible && a.site < UsableSiteSize(c) && c.sites[a.site].visible) {
      ++n;
      last = static_cast<int32_t>(i);
    }
  }
  if (last < 0 || CountAtomsInSameMolecule(c, last) >= n) {
    MyCFStopAlert("Not a molecular crystal!",
                  "This structure appears to fully interconnected, with no isolated molecular units");
    return -1;
  }
  // Hiding an atom only lowers its neighbours' counts, so peeling from a
  // queue reaches the same end as repeated whole passes, in one sweep.
  std::vector<int32_t> visibleNeighbours(atoms, 0);
  std::deque<uint32_t> queue;
  for (size_t i = 0; i < atoms; i++) {
    const AtomRecord &a = c.atoms[i];
    if (!a.visible)
      continue;
    int32_t count = 0;
    for (size_t b = 0; b < BondCount(a); b++)
      if (a.bonds[b] < atoms && c.atoms[a.bonds[b]].visible)
        ++count;
    visibleNeighbours[i] = count;
    const uint32_t cn = SiteCoordination(c, a);
    if (cn > 0 && static_cast<uint32_t>(count) < cn)
      queue.push_back(static_cast<uint32_t>(i));
  }
  int64_t hidden = 0;
  while (!queue.empty()) {
    const uint32_t i = queue.front();
    queue.pop_front();
    AtomRecord &a = c.atoms[i];
    if (!a.visible)
      continue;
    a.visible = 0;
    ++hidden;
    for (size_t b = 0; b < BondCount(a); b++) {
      const uint32_t j = a.bonds[b];
      if (j >= atoms || !c.atoms[j].visible)
        continue;
      const uint32_t cn = SiteCoordination(c, c.atoms[j]);
      if (--visibleNeighbours[j] < static_cast<int32_t>(cn) && cn > 0)
        queue.push_back(j);
    }
  }
  return hidden;
}

bool ShowMolecularCell(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || crystal->molecule)
    return false;
  NoteStructureChange(crystal, kChangeAtoms | kChangeBonds);
  CrystalRec &c = *crystal;
  SetCrystalAtomSelectionNone(&c);
  ShowEverySite(c);
  if (!SetPlotRange(window, 0.0f, 0.99999f, 0.0f, 0.99999f, 0.0f, 0.99999f))
    return false;
  if (!RepairMolecularFragments(window))
    return false;
  WriteStatus("Optimizing plot range...");
  const size_t atoms = UsableAtomSize(c);
  double m[3] = {0, 0, 0};
  int64_t n = 0;
  for (size_t i = 0; i < atoms; i++)
    if (c.atoms[i].visible) {
      ++n;
      for (int k = 0; k < 3; k++)
        m[k] += c.atoms[i].xyz[k];
    }
  for (double &v : m)
    v /= static_cast<double>(std::max<int64_t>(n, 1));
  // Each molecule is flooded once; a shared mark keeps the whole sweep
  // linear in atoms and bonds.
  std::vector<uint8_t> seen(atoms, 0);
  std::vector<int32_t> molecule;
  for (size_t i = 0; i < atoms; i++) {
    if (!c.atoms[i].visible || c.atoms[i].selected || seen[i])
      continue;
    molecule.assign(1, static_cast<int32_t>(i));
    seen[i] = 1;
    for (size_t head = 0; head < molecule.size(); head++) {
      const AtomRecord &a = c.atoms[static_cast<size_t>(molecule[head])];
      for (size_t b = 0; b < BondCount(a); b++) {
        const uint32_t j = a.bonds[b];
        if (j < atoms && !seen[j] && c.atoms[j].visible) {
          seen[j] = 1;
          molecule.push_back(static_cast<int32_t>(j));
        }
      }
    }
    double centre[3] = {0, 0, 0};
    for (int32_t k : molecule)
      for (int ax = 0; ax < 3; ax++)
        centre[ax] += c.atoms[static_cast<size_t>(k)].xyz[ax];
    bool keep = true;
    for (int ax = 0; ax < 3; ax++)
      keep = keep && std::fabs(centre[ax] / static_cast<double>(molecule.size()) - m[ax]) <= 0.5;
    for (int32_t k : molecule) {
      AtomRecord &b = c.atoms[static_cast<size_t>(k)];
      if (keep)
        b.selected = 1;
      else
        b.visible = 0;
    }
  }
  WriteStatus("Preparing to display a single unit cell...");
  SetCrystalAtomSelectionNone(&c);
  float lo[3] = {1e23f, 1e23f, 1e23f}, hi[3] = {-1e23f, -1e23f, -1e23f};
  for (size_t i = 0; i < atoms; i++)
    if (c.atoms[i].visible)
      for (int k = 0; k < 3; k++) {
        lo[k] = std::min(lo[k], c.atoms[i].xyz[k]);
        hi[k] = std::max(hi[k], c.atoms[i].xyz[k]);
      }
  if (lo[0] <= hi[0])
    for (int k = 0; k < 3; k++) {
      c.plotRange[2 * k] = lo[k];
      c.plotRange[2 * k + 1] = hi[k];
    }
  c.showUnitCell = 1;
  c.unitCellOptions[0] = 1;
  DefinePolyhedra(&c);
  DimensionPlot(&c, c.plotCentre, &c.plotExtent);
  AutoSetScale(window);
  NewPlot(window, false, true);
  return true;
}

bool RepairMoleculeAtSelection(WindowRef window, bool *framework, int32_t *iterations) {
  *framework = false;
  if (iterations)
    *iterations = 0;
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal)
    return false;
  NoteStructureChange(crystal, kChangeAtoms | kChangeBonds);
  CrystalRec &c = *crystal;
  float width[3];
  for (int k = 0; k < 3; k++)
    width[k] = c.plotRange[2 * k + 1] - c.plotRange[2 * k];
  DoSelectRelations(c);
  for (int32_t pass = 0;; pass++) {
    if (!RepairBondingAtSelection(window)) {
      if (pass == 0) {
        CantRepairBondsAlert();
        return false;
      }
      AutoSetScale(window);
      NewPlot(window, false, true);
      return true;
    }
    if (iterations)
      ++*iterations;
    for (int k = 0; k < 3; k++)
      if (c.plotRange[2 * k + 1] - c.plotRange[2 * k] - width[k] > kMaxMoleculeRangeGrowth) {
        *framework = true;
        return false;
      }
    DoSelectNearestRelations(c, nullptr);
  }
}

// ---- Commands without an undo copy -----------------------------------------------------

void DoRepairBondingAtSelection(WindowRef window) {
  CrystalRec *c = FileCrystal(window);
  if (!c || !CrystalHasSelectedAtoms(c) || !HasBondSpecsOrAlert(*c))
    return;
  if (!RepairBondingAtSelection(window)) {
    CantRepairBondsAlert();
    return;
  }
  AutoSetScale(window);
  NewPlot(window, false, true);
}

void DoHideStrandedAtoms(WindowRef window) {
  CrystalRec *crystal = FileCrystal(window);
  if (!crystal || !HasBondSpecsOrAlert(*crystal))
    return;
  CrystalRec &c = *crystal;
  DrawWindowSubtitle(window, OVLocalizedString("Hiding_Stranded_Atoms"));
  const size_t atoms = UsableAtomSize(c);
  // The role of each coordinated site, then one sweep over the atoms.
  enum : uint8_t { kSkip, kOwnSite, kNotVertex, kVertex };
  std::vector<uint8_t> role(UsableSiteSize(c), kSkip);
  std::vector<uint32_t> crowded;
  for (size_t s = 0; s < role.size(); s++) {
    if (c.sites[s].coordination == 0)
      continue;
    bool isVertex = false, ownSite = false;
    CheckPolyVertexSite(&c, static_cast<uint32_t>(s), &isVertex, &ownSite, &crowded);
    role[s] = ownSite ? kOwnSite : isVertex ? kVertex : kNotVertex;
  }
  TellCrowdedSites(c, std::move(crowded));
  // The atoms of each site in atom order (a counting sort), so that sites
  // are handled in order and each hide is seen by the later tests.
  std::vector<uint32_t> start(role.size() + 1, 0), order(atoms);
  for (size_t i = 0; i < atoms; i++)
    if (c.atoms[i].site < role.size())
      ++start[c.atoms[i].site + 1];
  for (size_t s = 0; s < role.size(); s++)
    start[s + 1] += start[s];
  std::vector<uint32_t> fill(start.begin(), start.end() - 1);
  for (size_t i = 0; i < atoms; i++)
    if (c.atoms[i].site < role.size())
      order[fill[c.atoms[i].site]++] = static_cast<uint32_t>(i);
  for (size_t s = 0; s < role.size(); s++) {
    if (role[s] == kSkip)
      continue;
    for (uint32_t p = start[s]; p < start[s + 1]; p++) {
      const uint32_t i = order[p];
      AtomRecord &a = c.atoms[i];
      if (!a.visible)
        continue;
      bool stranded = false;
      if (role[s] == kOwnSite) {
        stranded = BondCount(a) == 0;
      } else if (role[s] == kNotVertex) {
        stranded = !IsAtomFullyVisiblyBonded(&c, static_cast<int32_t>(i));
      } else {
        bool anchored = false;
        for (size_t b = 0; b < BondCount(a) && !anchored; b++) {
          const uint32_t j = a.bonds[b];
          anchored = j < atoms && c.atoms[j].visible && IsAtomFullyVisiblyBonded(&c, static_cast<int32_t>(j));
        }
        stranded = !anchored;
      }
      if (stranded)
        a.visible = 0;
    }
  }
  PlotCrystal(window, kPlotToWindow);
}

void DoShowAsymmetricUnit(WindowRef window) {
  CrystalRec *crystal = window ? GetWindowCrystal(window) : nullptr;
  if (!crystal || UsableSiteSize(*crystal) == 0)
    return;
  NoteStructureChange(crystal, kChangeAtoms | kChangeBonds);
  CrystalRec &c = *crystal;
  float lo[3] = {10, 10, 10}, hi[3] = {-10, -10, -10};
  for (size_t s = 0; s < UsableSiteSize(c); s++)
    for (int k = 0; k < 3; k++) {
      lo[k] = std::min(lo[k], c.sites[s].xyz[k]);
      hi[k] = std::max(hi[k], c.sites[s].xyz[k]);
    }
  if (!SetPlotRange(window, lo[0], hi[0], lo[1], hi[1], lo[2], hi[2]))
    return;
  float shift[3];
  for (int k = 0; k < 3; k++)
    shift[k] = WholeCells(c.plotRange[2 * k] - lo[k]);
  for (size_t i = 0; i < UsableAtomSize(c); i++) {
    AtomRecord &a = c.atoms[i];
    if (!a.visible || a.site >= UsableSiteSize(c))
      continue;
    const float *p = c.sites[a.site].xyz;
    for (int k = 0; k < 3; k++)
      if (std::fabs(a.xyz[k] - (p[k] + shift[k])) > kAsymmetricUnitTolerance)
        a.visible = 0;
  }
  PlotCrystal(window, kPlotToWindow);
  UpdateSiteBrowser(window);
}

void DoClusterFromAtom(WindowRef window, const float centre[3], float rmin, float rmax) {
  CrystalRec *crystal = window ? GetWindowCrystal(window) : nullptr;
  if (!crystal)
    return;
  NoteStructureChange(crystal, kChangeAtoms | kChangeBonds);
  // Atoms outside the plot range keep stale Cartesian coordinates: every
  // atom shown is placed afresh before it is measured.
  for (size_t i = 0; i < UsableAtomSize(*crystal); i++) {
    AtomRecord &a = crystal->atoms[i];
    a.visible = 1;
    MatMul(crystal->orientationMatrix, a.xyz, a.cart);
    const float d = VecBondDist(a.cart, centre);
    if (d >= kClusterCentreDistance && (d < rmin || d > rmax))
      a.visible = 0;
  }
  PlotCrystal(window, kPlotToWindow);
  UpdateSiteBrowser(window);
}

void DoDefineCluster(WindowRef window, const DefineClusterRec &record) {
  CrystalRec *crystal = window ? GetWindowCrystal(window) : nullptr;
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  gSaveDefineCluster.centreMode = record.centreMode;
  gSaveDefineCluster.groupByElement = record.groupByElement;
  gSaveDefineCluster.rmin = record.inner;
  gSaveDefineCluster.rmax = record.outer;
  const bool onSite = record.centreMode != 1;
  const bool siteValid = record.site >= 0 && static_cast<size_t>(record.site) < UsableSiteSize(c);
  if (onSite && siteValid) {
    gSaveDefineCluster.siteRemembered = 1;
    gSaveDefineCluster.site = static_cast<uint32_t>(record.site);
    std::snprintf(gSaveDefineCluster.label, sizeof gSaveDefineCluster.label, "%s",
                  c.sites[static_cast<size_t>(record.site)].label);
  }
  if (onSite && !siteValid)
    return;
  ShowEverySite(c);
  const size_t atoms = UsableAtomSize(c);
  float centre[3] = {0, 0, 0};
  if (!onSite) {
    double sum[3] = {0, 0, 0};
    int64_t n = 0;
    for (size_t i = 0; i < atoms; i++) {
      const AtomRecord &a = c.atoms[i];
      if (!a.visible || !a.selected)
        continue;
      ++n;
      for (int k = 0; k < 3; k++)
        sum[k] += c.molecule ? a.cart[k] : a.xyz[k];
    }
    if (n == 0)
      return;
    for (int k = 0; k < 3; k++)
      centre[k] = static_cast<float>(sum[k] / static_cast<double>(n));
    if (c.molecule)
      SetCrystalAtomSelectionNone(&c);
  } else if (c.molecule) {
    const size_t atom = static_cast<size_t>(record.site);
    if (atom >= atoms)
      return;
    SetCrystalAtomSelectionNone(&c);
    c.atoms[atom].selected = 1;
    std::copy(c.atoms[atom].cart, c.atoms[atom].cart + 3, centre);
  } else {
    SetCrystalAtomSelectionNone(&c);
    std::copy(c.sites[static_cast<size_t>(record.site)].xyz, c.sites[static_cast<size_t>(record.site)].xyz + 3,
              centre);
  }
  if (c.molecule) {
    DoClusterFromAtom(window, centre, record.inner, record.outer);
  } else {
    DrawCluster(window, centre, record.inner, record.outer, true, true);
    if (const MainWindowData *data = GetMainWindowData(window); data && data->showRulers)
      DrawRulers(window);
  }
}

DefineClusterRec MakeDefineClusterRec(WindowRef window) {
  DefineClusterRec r;
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  r.structure = c;
  r.hasSelection = c && CrystalHasSelectedAtoms(c) ? 1 : 0;
  r.centreMode = gSaveDefineCluster.centreMode == 1 ? 1 : 2;
  r.inner = gSaveDefineCluster.rmin;
  r.outer = gSaveDefineCluster.rmax;
  r.groupByElement = gSaveDefineCluster.groupByElement;
  if (gSaveDefineCluster.siteRemembered) {
    const size_t s = gSaveDefineCluster.site;
    if (c && s < UsableSiteSize(*c) && std::strcmp(c->sites[s].label, gSaveDefineCluster.label) == 0) {
      r.site = static_cast<int32_t>(s);
      r.presetSite = 1;
    } else {
      gSaveDefineCluster.siteRemembered = 0;
    }
  }
  return r;
}

void DoAutoScale(WindowRef window) {
  CrystalRec *c = window ? GetWindowCrystal(window) : nullptr;
  if (!c)
    return;
  DimensionPlot(c, c->plotCentre, &c->plotExtent);
  AutoSetScale(window);
  // A structure far larger than the pane still gets a scale the documents
  // keep (and the renderer draws).
  if (c->plotScale > 0.0f)
    c->plotScale = std::clamp(c->plotScale, kMinStoredPlotScale, kMaxPlotScale);
  NewPlot(window, false, true);
}
