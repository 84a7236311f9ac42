#include "SiteAppearance.h"

#include "Preferences.h"
#include "RenderServices.h"
#include "SitePreparation.h"
#include "StructureArrays.h"
#include "Utilities.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>

namespace {

// Hue of the lowest coordination group (blue).
constexpr float kLowestCoordinationHue = 43690.0f;

void Changed(WindowRef window, bool reRender) {
  NewPlot(window, false, reRender);
  UpdateSiteBrowser(window);
}

SphereRecord TypeOfSite(const CrystalRec &c, const AsymmetricUnitRecord &s) {
  SphereRecord type = s.atomType < c.spheres.size() ? c.spheres[s.atomType] : CreateSpheresArray(1)->front();
  DisposeSpherePixels(&type);
  return type;
}

void InstallTypes(CrystalRec &c, std::vector<SphereRecord> types) {
  DestroySpheresArray(&c);
  c.sphereCount = static_cast<int32_t>(types.size());
  c.spheres = std::move(types);
  for (AtomRecord &atom : c.atoms)
    if (atom.site < c.sites.size())
      atom.atomType = c.sites[atom.site].atomType;
}

void DisposeAllSpherePixels(CrystalRec &c) {
  for (SphereRecord &type : c.spheres)
    DisposeSpherePixels(&type);
}

} // namespace

void GenerateSiteLabels(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (c && AutoGenerateSiteLabels(c))
    Changed(window, false);
}

void GenerateSiteColors(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (c && AutoGenerateSiteColors(c))
    Changed(window, true);
}

void ConvertToGreyscale(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (c && ConvertCrystalColorsToGreyscale(c))
    Changed(window, true);
}

std::vector<uint16_t> CoordinationHues(const std::vector<int32_t> &coordination) {
  const size_t n = coordination.size();
  std::vector<size_t> order(n);
  for (size_t k = 0; k < n; k++)
    order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return coordination[a] < coordination[b]; });
  int32_t distinct = n ? 1 : 0;
  for (size_t k = 1; k < n; k++)
    distinct += coordination[order[k]] != coordination[order[k - 1]] ? 1 : 0;
  std::vector<uint16_t> hues(n, 0);
  int32_t group = 1;
  for (size_t k = 0; k < n; k++) {
    if (k > 0 && coordination[order[k]] != coordination[order[k - 1]])
      group++;
    // One group only: every site red, rather than the 0/0 of the spacing.
    if (distinct > 1)
      hues[order[k]] = static_cast<uint16_t>(
          std::trunc(static_cast<float>(distinct - group) * kLowestCoordinationHue / static_cast<float>(distinct - 1)));
  }
  return hues;
}

void ColourByCoordination(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || c->sites.size() < 2 || c->atoms.empty() || c->spheres.empty())
    return;
  DisposeAllSpherePixels(*c);
  std::vector<int32_t> cn(c->sites.size());
  for (size_t s = 0; s < c->sites.size(); s++)
    cn[s] = static_cast<int32_t>(c->sites[s].coordination);
  const std::vector<uint16_t> hues = CoordinationHues(cn);
  std::vector<SphereRecord> types;
  types.reserve(c->sites.size());
  for (size_t s = 0; s < c->sites.size(); s++) {
    SphereRecord type = TypeOfSite(*c, c->sites[s]);
    HSL2RGB(HSLColor{hues[s], kSiteColourSaturation, kSiteColourLightness}, type.colour);
    types.push_back(std::move(type));
  }
  for (size_t s = 0; s < c->sites.size(); s++)
    c->sites[s].atomType = static_cast<uint32_t>(s);
  InstallTypes(*c, std::move(types));
  Changed(window, true);
}

void ColourByElement(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || c->sites.empty() || c->atoms.empty() || c->spheres.empty())
    return;
  DisposeAllSpherePixels(*c);
  std::vector<SphereRecord> types;
  types.reserve(static_cast<size_t>(CountNumElementsUnsorted(c)));
  std::vector<int32_t> typeOf(65536, -1);
  std::vector<uint32_t> siteType(c->sites.size());
  for (size_t s = 0; s < c->sites.size(); s++) {
    int32_t &t = typeOf[c->sites[s].elements[0]];
    if (t < 0) {
      t = static_cast<int32_t>(types.size());
      types.push_back(TypeOfSite(*c, c->sites[s]));
    }
    siteType[s] = static_cast<uint32_t>(t);
  }
  for (size_t s = 0; s < c->sites.size(); s++)
    c->sites[s].atomType = siteType[s];
  InstallTypes(*c, std::move(types));
  Changed(window, true);
}

void ApplyDefaults(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || c->sites.empty() || c->atoms.empty())
    return;
  // The new types are made in full before the old ones go, so that every
  // site and atom always points at a valid type.
  std::vector<SphereRecord> types;
  std::vector<uint32_t> siteType(c->sites.size());
  const SphereRecord blank = CreateSpheresArray(1)->front();
  for (size_t s = 0; s < c->sites.size(); s++) {
    const AsymmetricUnitRecord &site = c->sites[s];
    const ElementCode element = site.elements[0];
    auto found = std::find_if(types.begin(), types.end(),
                              [&](const SphereRecord &t) { return t.element == element && t.style == site.atomStyle; });
    if (found == types.end()) {
      SphereRecord type = blank;
      type.element = element;
      type.style = site.atomStyle;
      for (const ElementData &row : gPrefs.elementData)
        if (row.element == element) {
          type.radius = row.radius;
          type.colour = row.colour;
          break;
        }
      types.push_back(std::move(type));
      found = types.end() - 1;
    }
    siteType[s] = static_cast<uint32_t>(found - types.begin());
  }
  for (size_t s = 0; s < c->sites.size(); s++)
    c->sites[s].atomType = siteType[s];
  InstallTypes(*c, std::move(types));
  Changed(window, true);
}

// ---- Notices ---------------------------------------------------------------------

namespace {
void AfterNotice(WindowRef window, bool boxTicked, uint8_t &flag, void (*operation)(WindowRef)) {
  flag = boxTicked ? 0 : 1;
  operation(window);
}
} // namespace

void SiteBrowserGenerateSiteLabels2(WindowRef window, bool boxTicked) {
  AfterNotice(window, boxTicked, gPrefs.noticeGenerateSiteLabels, GenerateSiteLabels);
}
void SiteBrowserGenerateSiteColors2(WindowRef window, bool boxTicked) {
  AfterNotice(window, boxTicked, gPrefs.noticeGenerateSiteColors, GenerateSiteColors);
}
void SiteBrowserColourByCoordination2(WindowRef window, bool boxTicked) {
  AfterNotice(window, boxTicked, gPrefs.noticeColourSites, ColourByCoordination);
}
void SiteBrowserColourByElement2(WindowRef window, bool boxTicked) {
  AfterNotice(window, boxTicked, gPrefs.noticeColourSites, ColourByElement);
}
void SiteBrowserApplyDefaults2(WindowRef window, bool boxTicked) {
  AfterNotice(window, boxTicked, gPrefs.noticeApplyDefaults, ApplyDefaults);
}

const std::vector<GuardedSiteCommand> &GuardedSiteCommands() {
  static const std::vector<GuardedSiteCommand> commands = {
      {FourCharsToLong("IW#L"), "GenerateSiteLabels", &gPrefs.noticeGenerateSiteLabels, GenerateSiteLabels,
       SiteBrowserGenerateSiteLabels2},
      {FourCharsToLong("IW#C"), "GenerateSiteColors", &gPrefs.noticeGenerateSiteColors, GenerateSiteColors,
       SiteBrowserGenerateSiteColors2},
      {FourCharsToLong("IWcC"), "ColorByCoordination", &gPrefs.noticeColourSites, ColourByCoordination,
       SiteBrowserColourByCoordination2},
      {FourCharsToLong("IWcE"), "ColorByElement", &gPrefs.noticeColourSites, ColourByElement,
       SiteBrowserColourByElement2},
      {FourCharsToLong("IWDf"), "ApplyDefaults", &gPrefs.noticeApplyDefaults, ApplyDefaults, SiteBrowserApplyDefaults2},
  };
  return commands;
}

const GuardedSiteCommand *FindGuardedSiteCommand(uint32_t code) {
  for (const GuardedSiteCommand &command : GuardedSiteCommands())
    if (command.code == code)
      return &command;
  return nullptr;
}
