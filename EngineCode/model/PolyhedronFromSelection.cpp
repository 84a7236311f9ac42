#include "PolyhedronFromSelection.h"

#include "Alerts.h"
#include "BondEditing.h"
#include "BondSearch.h"
#include "Geometry.h"
#include "PlotRange.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "SelectionCommands.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "Utilities.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

std::string gCentroidLabel = "Cen01";
std::string gCentroidSymbol = "Zz";
bool gShowSymmetryRelatedAtoms = true;
int32_t gBondGenerationChoice = 1;

namespace {

size_t BondCount(const AtomRecord &a) { return std::min<size_t>(a.bondCount, a.bonds.size()); }

void MakeFailed() { MyCFStopAlert("Error making polyhedron", "Unable to generate a new site at the centroid"); }

struct TempCrystal {
  CrystalRec *c = CreateCrystalData();
  ~TempCrystal() {
    if (c)
      DestroyCrystalData(c);
  }
};

// The new site's atoms: for a molecule one at the centroid, for a crystal
// its images tiled over the structure's cells. *centroid is the index among
// them of the one at the centroid.
bool MakeNewSiteAtoms(const CrystalRec &host, const AsymmetricUnitRecord &site, const float cartCentroid[3],
                      bool showSymmetryRelated, std::vector<AtomRecord> &atoms, SphereRecord &sphere,
                      int32_t *perCell, int32_t *centroid) {
  TempCrystal temp;
  if (!temp.c)
    return false;
  CrystalRec &t = *temp.c;
  t.molecule = host.molecule;
  t.ellipsoidData = host.ellipsoidData;
  t.sites.assign(1, site);
  t.siteCount = 1;
  if (!GenerateSpheres(&t) || UsableSphereSize(t) == 0)
    return false;
  sphere = t.spheres[0];
  if (host.molecule) {
    AtomRecord a;
    std::copy(site.xyz, site.xyz + 3, a.xyz);
    MatMul(host.orientationMatrix, a.xyz, a.cart);
    a.visible = 1;
    atoms.assign(1, a);
    *perCell = 1;
    *centroid = 0;
    return true;
  }
  std::copy(std::begin(host.spaceGroup), std::end(host.spaceGroup), std::begin(t.spaceGroup));
  t.latticeLetter = host.latticeLetter;
  t.symCards = host.symCards;
  t.cardCount = host.cardCount;
  t.originChoice = host.originChoice;
  std::copy(host.originShift, host.originShift + 3, t.originShift);
  t.a = host.a, t.b = host.b, t.c = host.c;
  t.alpha = host.alpha, t.beta = host.beta, t.gamma = host.gamma;
  std::copy(host.metricTensor, host.metricTensor + 9, t.metricTensor);
  std::copy(host.orientationMatrix, host.orientationMatrix + 9, t.orientationMatrix);
  std::copy(host.plotCentre, host.plotCentre + 3, t.plotCentre);
  std::copy(host.plotRange, host.plotRange + 6, t.plotRange);
  if (!GenCell(&t) || RedimensionAtomsArray(&t, std::max(host.na, 1), std::max(host.nb, 1), std::max(host.nc, 1)) != 0)
    return false;
  *perCell = t.atomsPerCell;
  *centroid = -1;
  atoms.assign(t.atoms.begin(), t.atoms.begin() + static_cast<std::ptrdiff_t>(UsableAtomSize(t)));
  // The image at the centroid: within kCentroidAtomTolerance on every
  // axis; should rounding put none there, the nearest within 0.01 A.
  float best = 0.01f;
  for (size_t k = 0; k < atoms.size(); k++) {
    AtomRecord &a = atoms[k];
    MatMul(host.orientationMatrix, a.xyz, a.cart);
    a.selected = 0;
    a.visible = showSymmetryRelated && IsAtomInRange(&host, a) ? 1 : 0;
    float off = 0.0f;
    for (int ax = 0; ax < 3; ax++)
      off = std::max(off, std::fabs(a.cart[ax] - cartCentroid[ax]));
    if (off < kCentroidAtomTolerance && (*centroid < 0 || best >= kCentroidAtomTolerance)) {
      *centroid = static_cast<int32_t>(k);
      best = off;
    } else if (off < best && best >= kCentroidAtomTolerance) {
      *centroid = static_cast<int32_t>(k);
      best = off;
    }
  }
  if (*centroid >= 0)
    atoms[static_cast<size_t>(*centroid)].visible = 1;
  return *centroid >= 0;
}

uint32_t Shifted(uint32_t index, uint32_t from, uint32_t by) { return index >= from ? index + by : index; }

} // namespace

bool AtomExistsAtPoint(const CrystalRec &crystal, const float p[3]) {
  for (size_t i = 0; i < UsableAtomSize(crystal); i++) {
    const float *x = crystal.atoms[i].cart;
    if (std::fabs(x[0] - p[0]) < kCentroidOccupiedTolerance && std::fabs(x[1] - p[1]) < kCentroidOccupiedTolerance &&
        std::fabs(x[2] - p[2]) < kCentroidOccupiedTolerance)
      return true;
  }
  return false;
}

int64_t GenerateEquivalentBonds(CrystalRec &c, int32_t i, int32_t j) {
  const size_t atoms = UsableAtomSize(c);
  if (i < 0 || j < 0 || static_cast<size_t>(i) >= atoms || static_cast<size_t>(j) >= atoms)
    return 0;
  const AtomRecord &ai = c.atoms[static_cast<size_t>(i)], &aj = c.atoms[static_cast<size_t>(j)];
  const float d = VecBondDist(ai.cart, aj.cart);
  if (d < kEquivalentBondTolerance || ai.site >= UsableSiteSize(c) || aj.site >= UsableSiteSize(c))
    return 0;
  const AsymmetricUnitRecord &si = c.sites[ai.site], &sj = c.sites[aj.site];
  // The atoms of j's site in a grid of cells of the bond's length: a partner
  // lies in the 27 cells round its atom.
  const double cell = d + kEquivalentBondTolerance;
  auto key = [cell](const float x[3], int dx, int dy, int dz) {
    const int64_t k[3] = {static_cast<int64_t>(std::floor(x[0] / cell)) + dx,
                          static_cast<int64_t>(std::floor(x[1] / cell)) + dy,
                          static_cast<int64_t>(std::floor(x[2] / cell)) + dz};
    return (static_cast<uint64_t>(k[0]) * 73856093u) ^ (static_cast<uint64_t>(k[1]) * 19349663u) ^
           (static_cast<uint64_t>(k[2]) * 83492791u);
  };
  std::unordered_map<uint64_t, std::vector<int32_t>> grid;
  for (int32_t q = std::max(sj.firstAtom, 0); q <= sj.lastAtom && static_cast<size_t>(q) < atoms; q++)
    grid[key(c.atoms[static_cast<size_t>(q)].cart, 0, 0, 0)].push_back(q);
  int64_t made = 0;
  for (int32_t p = std::max(si.firstAtom, 0); p <= si.lastAtom && static_cast<size_t>(p) < atoms; p++) {
    const float *xp = c.atoms[static_cast<size_t>(p)].cart;
    std::vector<int32_t> partners;
    for (int dx = -1; dx <= 1; dx++)
      for (int dy = -1; dy <= 1; dy++)
        for (int dz = -1; dz <= 1; dz++) {
          auto it = grid.find(key(xp, dx, dy, dz));
          if (it != grid.end())
            partners.insert(partners.end(), it->second.begin(), it->second.end());
        }
    std::sort(partners.begin(), partners.end()); // keys may collide: no pair twice
    partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
    for (int32_t q : partners) {
      if ((p == i && q == j) || p == q)
        continue;
      if (std::fabs(VecBondDist(xp, c.atoms[static_cast<size_t>(q)].cart) - d) < kEquivalentBondTolerance &&
          AddBondListEntry(&c, p, q))
        ++made;
    }
  }
  return made;
}

bool DoMakePolyhedronFromSelection(WindowRef window, const std::string &labelIn, const std::string &symbol,
                                   bool showSymmetryRelated, int32_t bondChoice) {
  const std::string label = labelIn.size() > kCentroidLabelLength ? labelIn.substr(0, kCentroidLabelLength) : labelIn;
  gCentroidLabel = label;
  gCentroidSymbol = symbol;
  gShowSymmetryRelatedAtoms = showSymmetryRelated;
  gBondGenerationChoice = bondChoice;
  CrystalRec *crystal = window ? GetWindowCrystal(window) : nullptr;
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  float frac[3], cart[3];
  if (GetCentreOfSelection(c, frac, cart) < 2) {
    MyCFStopAlert("Cannot generate polyhedron for this selection", "At least two atoms must be selected");
    return false;
  }
  const size_t oldAtoms = UsableAtomSize(c), oldSites = UsableSiteSize(c);
  if (oldAtoms == 0 || oldSites == 0 || UsableSphereSize(c) == 0) {
    MakeFailed();
    return false;
  }
  // The roles of the sites the command finds are those of the structure as
  // built, not of the one it makes.
  NoteStructureChange(&c, kChangeSites | kChangeAtoms | kChangeBonds);
  const bool molecule = c.molecule != 0;
  // The selection, before indices move.
  std::vector<uint32_t> selected;
  for (size_t i = 0; i < oldAtoms; i++)
    if (c.atoms[i].selected)
      selected.push_back(static_cast<uint32_t>(i));
  // New specifications reach the farthest selected atom: one longer than
  // any structure keeps is refused before anything changes.
  if (bondChoice == 1) {
    float farthest = 0.0f;
    for (uint32_t s : selected)
      farthest = std::max(farthest, VecBondDist(c.atoms[s].cart, cart));
    if (RefuseBondMaximum(farthest + kBondSpecMargin))
      return false;
  }

  AsymmetricUnitRecord site;
  const char sym[3] = {symbol.size() > 0 ? symbol[0] : 'Z', symbol.size() > 1 ? symbol[1] : ' ', '\0'};
  site.elements[0] = TwoCharsToShort(sym);
  site.occupancies[0] = 1.0f;
  std::snprintf(site.label, sizeof site.label, "%s", label.c_str());
  for (int k = 0; k < 3; k++)
    site.xyz[k] = molecule ? frac[k] : MoveIntoCell(frac[k]);
  site.isoValue = gPrefs.defaultIsoValue;
  std::vector<AtomRecord> fresh;
  SphereRecord sphere;
  int32_t perCell = 0, centroidInFresh = -1;
  if (!MakeNewSiteAtoms(c, site, cart, showSymmetryRelated, fresh, sphere, &perCell, &centroidInFresh) ||
      fresh.empty()) {
    MakeFailed();
    return false;
  }

  // Where the site goes: before the first site of a greater element code.
  const int16_t element = static_cast<int16_t>(site.elements[0]);
  size_t p = 0;
  while (p < oldSites && static_cast<int16_t>(c.sites[p].elements[0]) <= element)
    ++p;
  uint32_t q = 0; // its first atom
  if (molecule) {
    q = static_cast<uint32_t>(p);
  } else {
    for (size_t s = 0; s < p; s++)
      if (c.sites[s].lastAtom >= c.sites[s].firstAtom)
        q = static_cast<uint32_t>(c.sites[s].lastAtom + 1);
  }
  const uint32_t k = static_cast<uint32_t>(fresh.size());

  // Both new arrays are made before either replaces the old.
  std::vector<AsymmetricUnitRecord> sites;
  std::vector<AtomRecord> atoms;
  try {
    sites.reserve(oldSites + 1);
    atoms.reserve(oldAtoms + k);
  } catch (const std::bad_alloc &) {
    MakeFailed();
    return false;
  }
  const uint32_t sphereIndex = static_cast<uint32_t>(UsableSphereSize(c));
  site.atomType = sphereIndex;
  site.firstAtom = static_cast<int32_t>(q);
  site.lastAtom = static_cast<int32_t>(q + k - 1);
  site.atomsPerCell = perCell;
  for (size_t s = 0; s < oldSites; s++) {
    if (s == p)
      sites.push_back(site);
    AsymmetricUnitRecord moved = c.sites[s];
    if (s >= p && moved.lastAtom >= moved.firstAtom) {
      moved.firstAtom += static_cast<int32_t>(k);
      moved.lastAtom += static_cast<int32_t>(k);
    }
    sites.push_back(moved);
  }
  if (p == oldSites)
    sites.push_back(site);
  auto moveAtom = [&](AtomRecord &a) {
    if (a.site >= p)
      ++a.site;
    for (uint32_t &b : a.bonds)
      b = Shifted(b, q, k);
    a.polyhedron.RenumberAtoms([&](uint32_t &v) { v = Shifted(v, q, k); });
  };
  for (size_t i = 0; i < oldAtoms; i++) {
    if (i == q)
      for (AtomRecord &a : fresh) {
        a.site = static_cast<uint32_t>(p);
        a.atomType = sphereIndex;
        atoms.push_back(std::move(a));
      }
    atoms.push_back(std::move(c.atoms[i]));
    moveAtom(atoms.back());
  }
  if (q >= oldAtoms)
    for (AtomRecord &a : fresh) {
      a.site = static_cast<uint32_t>(p);
      a.atomType = sphereIndex;
      atoms.push_back(std::move(a));
    }
  c.sites = std::move(sites);
  c.siteCount = static_cast<int32_t>(oldSites + 1);
  c.atoms = std::move(atoms);
  c.atomCount = static_cast<int32_t>(oldAtoms + k);
  if (!molecule)
    c.atomsPerCell += perCell;
  else
    c.atomsPerCell = c.atomCount;
  c.spheres.resize(sphereIndex);
  c.spheres.push_back(sphere);
  c.sphereCount = static_cast<int32_t>(c.spheres.size());
  for (size_t v = 0; v < UsableRecords(c.vectors.size(), c.vectorCount); v++)
    c.vectors[v].atom = Shifted(c.vectors[v].atom, q, k);
  for (size_t b = 0; b < UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount); b++) {
    c.customBondSpecs[b].atomA = Shifted(c.customBondSpecs[b].atomA, q, k);
    c.customBondSpecs[b].atomB = Shifted(c.customBondSpecs[b].atomB, q, k);
  }
  DestroySortIndex(&c); // it names atoms by their old indices; the plot remakes it
  for (uint32_t &s : selected)
    s = Shifted(s, q, k);
  UpdateFloatingWindows();

  // Bonding.
  const int32_t centre = static_cast<int32_t>(q) + centroidInFresh;
  const AtomRecord &ca = c.atoms[static_cast<size_t>(centre)];
  if (bondChoice == 1) {
    std::vector<BondSpec> candidates;
    for (uint32_t s : selected) {
      const AtomRecord &a = c.atoms[s];
      const ElementCode other = c.sites[a.site].elements[0];
      const float d = VecBondDist(a.cart, ca.cart);
      auto it = std::find_if(candidates.begin(), candidates.end(),
                             [other](const BondSpec &b) { return b.elementB == other; });
      if (it == candidates.end()) {
        BondSpec spec{site.elements[0], other, d, d, gPrefs.defaultBondStyle, gPrefs.bondColor1, gPrefs.bondColor2};
        candidates.push_back(spec);
      } else {
        it->minLength = std::min(it->minLength, d);
        it->maxLength = std::max(it->maxLength, d);
      }
    }
    for (BondSpec &spec : candidates) {
      if (spec.minLength > kBondSpecMargin)
        spec.minLength -= kBondSpecMargin;
      spec.maxLength += kBondSpecMargin;
      if (c.bondSpecCount >= kMaxBondSpecs) {
        char text[64];
        std::snprintf(text, sizeof text, "Maximum of %d bond specifications", kMaxBondSpecs);
        MyCFStopAlert("Bonds list is full!", text);
        break;
      }
      c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)] = spec;
    }
    TurboGetCoordinationNumbers(&c, nullptr);
    TurboGenerateBonds(&c);
  } else if (bondChoice == 2 && !molecule) {
    for (uint32_t s : selected)
      AddBondListEntry(&c, centre, static_cast<int32_t>(s));
    c.sites[p].coordination = static_cast<uint32_t>(selected.size());
    for (int32_t i = c.sites[p].firstAtom; i <= c.sites[p].lastAtom; i++) {
      if (i == centre)
        continue;
      AtomRecord &a = c.atoms[static_cast<size_t>(i)];
      for (uint32_t j : a.bonds)
        if (j < UsableAtomSize(c))
          RemoveAtomFromBondsList(&c.atoms[j], static_cast<uint32_t>(i));
      a.bonds.clear();
      a.bondCount = 0;
    }
    for (size_t i = 0; i < UsableAtomSize(c); i++)
      MatMul(c.orientationMatrix, c.atoms[i].xyz, c.atoms[i].cart);
    const std::vector<uint32_t> neighbours(ca.bonds.begin(), ca.bonds.begin() + static_cast<std::ptrdiff_t>(BondCount(ca)));
    for (uint32_t j : neighbours)
      GenerateEquivalentBonds(c, centre, static_cast<int32_t>(j));
  } else if (bondChoice == 3) {
    for (uint32_t s : selected)
      AddBondListEntry(&c, centre, static_cast<int32_t>(s));
  }
  if (bondChoice == 1 || bondChoice == 2)
    DefinePolyhedra(&c);
  NewPlot(window, false, true);
  UpdateFloatingWindows();
  return true;
}
