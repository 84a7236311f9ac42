#include "PlaceMolecule.h"

#include "CrystalDocument.h"

#include "Alerts.h"
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "DerivedLayers.h"
#include "LocalizedStrings.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "RGBColor.h"
#include "RenderServices.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <array>
#include <string>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

// Radii are typed to hundredths: a difference of the tolerance itself, as
// stored in floats, must not pass for less.
constexpr float kRadiusRounding = 1e-5f;

void AppendFailed(const char *why) { MyCFStopAlert("Error appending molecule", why); }

struct Placement {
  float shift[3] = {0, 0, 0}; // view centre - mean of the guest atoms
  float inverse[9] = {};      // host fractional from view Cartesian
};

bool MakePlacement(const CrystalRec &host, const CrystalRec &guest, size_t count, Placement &p) {
  if (!Inv3x3Mat(host.orientationMatrix, p.inverse))
    return false;
  double m[3] = {0, 0, 0};
  for (size_t k = 0; k < count; k++)
    for (int ax = 0; ax < 3; ax++)
      m[ax] += guest.atoms[k].cart[ax];
  for (int ax = 0; ax < 3; ax++)
    p.shift[ax] = host.plotCentre[ax] - static_cast<float>(m[ax] / static_cast<double>(count));
  return true;
}

// Moves a copy of guest atom g to its place in the host frame.
void PlaceAtom(const CrystalRec &host, const CrystalRec &guest, const Placement &p, AtomRecord &a) {
  float placed[3];
  VecAdd(a.cart, p.shift, placed);
  if (guest.ellipsoidData) {
    for (auto &axis : a.ellipsoidAxes) {
      float cart[3], moved[3];
      MatMul(guest.orientationMatrix, axis, cart);
      VecAdd(cart, p.shift, moved);
      MatMul(p.inverse, moved, axis);
    }
  } else if (host.ellipsoidData) {
    for (int j = 0; j < 3; j++) {
      float point[3] = {placed[0], placed[1], placed[2]};
      point[j] += gPrefs.defaultIsoValue;
      MatMul(p.inverse, point, a.ellipsoidAxes[j]);
    }
  }
  std::copy(placed, placed + 3, a.cart);
  MatMul(p.inverse, placed, a.xyz);
}

// For each guest atom type, the host atom type it becomes: a matching one,
// or a copy appended to `spheres`.
std::vector<uint32_t> MergeSpheres(std::vector<SphereRecord> &spheres, const CrystalRec &guest) {
  std::vector<uint32_t> map;
  for (size_t g = 0; g < UsableSphereSize(guest); g++) {
    const SphereRecord &gs = guest.spheres[g];
    size_t h = 0;
    for (; h < spheres.size(); h++) {
      const SphereRecord &hs = spheres[h];
      if (hs.element == gs.element && hs.style == gs.style &&
          std::fabs(hs.radius - gs.radius) < kPlaceSphereRadiusTolerance - kRadiusRounding && SameRGBColor(hs.colour, gs.colour))
        break;
    }
    if (h == spheres.size()) {
      SphereRecord copy = gBlankSphere;
      copy.element = gs.element;
      copy.style = gs.style;
      copy.radius = gs.radius;
      copy.drawnRadius = gs.drawnRadius;
      copy.colour = gs.colour;
      spheres.push_back(copy);
    }
    map.push_back(static_cast<uint32_t>(h));
  }
  return map;
}

// After the rebuild: each visible atom of a visible site that bears a
// placed site's label and lies at one of its placed positions is selected.
void SelectPlacedAtoms(CrystalRec &host, const std::vector<std::pair<std::string, std::array<float, 3>>> &placed) {
  std::multimap<std::string, std::array<float, 3>> byLabel(placed.begin(), placed.end());
  for (size_t i = 0; i < UsableAtomSize(host); i++) {
    AtomRecord &a = host.atoms[i];
    if (!a.visible || a.site >= UsableSiteSize(host) || !host.sites[a.site].visible)
      continue;
    auto [first, last] = byLabel.equal_range(host.sites[a.site].label);
    for (auto it = first; it != last; ++it) {
      const std::array<float, 3> &x = it->second;
      if (std::fabs(a.cart[0] - x[0]) < kPlacedAtomTolerance && std::fabs(a.cart[1] - x[1]) < kPlacedAtomTolerance &&
          std::fabs(a.cart[2] - x[2]) < kPlacedAtomTolerance) {
        a.selected = 1;
        break;
      }
    }
  }
}

} // namespace

bool IsPlaceableMoleculeFile(const std::filesystem::path &file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    return true;
  uint32_t type = 0;
  return FSRefGetFileType(file, &type) == 0 && (type == kMoleculeDocumentType || type == kOldMoleculeDocumentType);
}

bool AppendCrystal(CrystalRec &host, CrystalRec &guest) {
  const size_t gSites = UsableSiteSize(guest), gAtoms = UsableAtomSize(guest), hSites = UsableSiteSize(host);
  if (gSites == 0 || gAtoms < gSites)
    return false;
  // Checked before anything changes: both atom-type arrays, the placement.
  Placement p;
  if (UsableSphereSize(guest) == 0 || UsableSphereSize(host) == 0 || !MakePlacement(host, guest, gSites, p))
    return false;
  std::vector<AsymmetricUnitRecord> sites;
  std::vector<SphereRecord> spheres;
  try {
    sites.assign(host.sites.begin(), host.sites.begin() + static_cast<std::ptrdiff_t>(hSites));
    sites.reserve(hSites + gSites);
    spheres.assign(host.spheres.begin(), host.spheres.begin() + static_cast<std::ptrdiff_t>(UsableSphereSize(host)));
  } catch (const std::bad_alloc &) {
    AppendFailed("Insufficient memory to create new input data record");
    return false;
  }
  const std::vector<uint32_t> typeMap = MergeSpheres(spheres, guest);
  for (size_t k = 0; k < gSites; k++) {
    AsymmetricUnitRecord site = guest.sites[k];
    site.firstAtom = site.lastAtom = static_cast<int32_t>(hSites + k);
    AtomRecord a = guest.atoms[k];
    PlaceAtom(host, guest, p, a);
    std::copy(a.xyz, a.xyz + 3, site.xyz);
    if (site.atomType < typeMap.size())
      site.atomType = typeMap[site.atomType];
    sites.push_back(site);
  }
  SetCrystalAtomSelectionNone(&host);
  host.sites = std::move(sites);
  host.siteCount = static_cast<int32_t>(host.sites.size());
  host.spheres = std::move(spheres);
  host.sphereCount = static_cast<int32_t>(host.spheres.size());

  // Bond specifications: a pair both know raises the host's maximum; the
  // guest's others are appended up to the limit.
  const int32_t gSpecs = std::min(guest.bondSpecCount, kMaxBondSpecs);
  std::vector<uint8_t> matched(static_cast<size_t>(std::max(gSpecs, 0)), 0);
  for (int32_t h = 0; h < std::min(host.bondSpecCount, kMaxBondSpecs); h++) {
    BondSpec &hs = host.bondSpecs[static_cast<size_t>(h)];
    for (int32_t g = 0; g < gSpecs; g++) {
      const BondSpec &gs = guest.bondSpecs[static_cast<size_t>(g)];
      if (matched[static_cast<size_t>(g)])
        continue;
      if ((gs.elementA == hs.elementA && gs.elementB == hs.elementB) ||
          (gs.elementA == hs.elementB && gs.elementB == hs.elementA)) {
        hs.maxLength = std::max(hs.maxLength, gs.maxLength);
        matched[static_cast<size_t>(g)] = 1;
        break;
      }
    }
  }
  for (int32_t g = 0; g < gSpecs; g++) {
    if (matched[static_cast<size_t>(g)])
      continue;
    if (host.bondSpecCount >= kMaxBondSpecs) {
      char text[64];
      std::snprintf(text, sizeof text, "Maximum of %d bond specifications", kMaxBondSpecs);
      MyCFStopAlert("Bonds list is full!", text);
      break;
    }
    host.bondSpecs[static_cast<size_t>(host.bondSpecCount++)] = guest.bondSpecs[static_cast<size_t>(g)];
  }
  DestroyTextBoxesArray(&guest);
  return true;
}

bool AppendMolecule(CrystalRec &host, CrystalRec &guest) {
  const size_t gSites = UsableSiteSize(guest), gAtoms = UsableAtomSize(guest);
  const size_t n = UsableSiteSize(host);
  if (gSites == 0 || gAtoms < gSites || UsableAtomSize(host) < n)
    return false;
  Placement p;
  if (UsableSphereSize(guest) == 0 || UsableSphereSize(host) == 0 || !MakePlacement(host, guest, gSites, p))
    return false;
  // Every new array first; the host changes only when all are made.
  std::vector<AsymmetricUnitRecord> sites;
  std::vector<AtomRecord> atoms;
  std::vector<SphereRecord> spheres;
  try {
    sites.assign(host.sites.begin(), host.sites.begin() + static_cast<std::ptrdiff_t>(n));
    sites.reserve(n + gSites);
  } catch (const std::bad_alloc &) {
    AppendFailed("Insufficient memory to create new input data record");
    return false;
  }
  try {
    atoms.reserve(n + gSites);
    spheres.assign(host.spheres.begin(), host.spheres.begin() + static_cast<std::ptrdiff_t>(UsableSphereSize(host)));
  } catch (const std::bad_alloc &) {
    AppendFailed("Insufficient memory to create new atoms array");
    return false;
  }
  const std::vector<uint32_t> typeMap = MergeSpheres(spheres, guest);
  const uint32_t shift = static_cast<uint32_t>(n);
  for (size_t k = 0; k < n; k++)
    atoms.push_back(std::move(host.atoms[k]));
  for (size_t k = 0; k < gSites; k++) {
    AtomRecord a = std::move(guest.atoms[k]);
    a.selected = 1;
    a.hasVector = 0;
    for (uint32_t &b : a.bonds)
      b += shift;
    a.polyhedron.RenumberAtoms([shift](uint32_t &v) { v += shift; });
    a.site += shift;
    PlaceAtom(host, guest, p, a);
    if (a.atomType < typeMap.size())
      a.atomType = typeMap[a.atomType];
    AsymmetricUnitRecord site = guest.sites[k];
    site.firstAtom = site.lastAtom = static_cast<int32_t>(n + k);
    // The site holds the atom's placed coordinates, so a rebuild from the
    // sites keeps the molecule where it was placed.
    std::copy(a.xyz, a.xyz + 3, site.xyz);
    if (site.atomType < typeMap.size())
      site.atomType = typeMap[site.atomType];
    sites.push_back(site);
    atoms.push_back(std::move(a));
  }
  for (size_t k = 0; k < n; k++)
    atoms[k].selected = 0;
  host.sites = std::move(sites);
  host.siteCount = static_cast<int32_t>(host.sites.size());
  host.atoms = std::move(atoms);
  host.atomCount = static_cast<int32_t>(host.atoms.size());
  host.atomsPerCell = host.atomCount;
  host.spheres = std::move(spheres);
  host.sphereCount = static_cast<int32_t>(host.spheres.size());
  // Polyhedra still to be made on either side are made for all at once.
  GuestJoined(host, guest);
  DestroySortIndex(&host);
  DestroyTextBoxesArray(&guest);
  return true;
}

void DisplayGuestMissingADPsAlert() {
  MyCFNoteAlert(OVLocalizedString("Error_Guest_Missing_ADPs1"), OVLocalizedString("Error_Guest_Missing_ADPs2"));
}

void PlaceMoleculeFile(const std::filesystem::path &file, WindowRef window) {
  CrystalRec *host = window ? GetWindowCrystal(window) : nullptr;
  if (!host)
    return;
  uint32_t count = 0;
  if (!GetNumAtomsInCrystalFile(file, &count) || count == 0) {
    MyCFStopAlert("Sorry, cannot place this molecule",
                  "The file may be in an older format that is not supported for this operation.");
    return;
  }
  std::unique_ptr<CrystalRec, void (*)(CrystalRec *)> guest(CreateCrystalData(), DestroyCrystalData);
  if (!guest) {
    MyCFStopAlert("Sorry, insufficient memory to load your molecule");
    return;
  }
  if (!ReadCrystalFile(guest.get(), file) || !guest->molecule)
    return;
  // The host's sites keep the modes their roles give them.
  NoteStructureChange(host, kChangeSites | kChangeAtoms | kChangeBonds);
  // Placed atoms are compared after the rebuild at their shifted places.
  if (host->molecule) {
    if (AppendMolecule(*host, *guest)) {
      SortMoleculeByElement(host);
      NewPlot(window, false, true);
    }
  } else if (UserAgreesToDiscardSymmetry(window)) {
    std::vector<std::pair<std::string, std::array<float, 3>>> placed;
    Placement p;
    const size_t gSites = UsableSiteSize(*guest);
    if (gSites > 0 && UsableAtomSize(*guest) >= gSites && MakePlacement(*host, *guest, gSites, p))
      for (size_t k = 0; k < gSites; k++) {
        std::array<float, 3> x;
        VecAdd(guest->atoms[k].cart, p.shift, x.data());
        placed.emplace_back(guest->sites[k].label, x);
      }
    if (AppendCrystal(*host, *guest)) {
      SortAUByElement(host);
      RunNewCrystal(window, false, false, false);
      SelectPlacedAtoms(*host, placed);
      NewPlot(window, false, false);
    }
  }
  if (host->ellipsoidData && !guest->ellipsoidData)
    DisplayGuestMissingADPsAlert();
}
