#include "SiteBrowserData.h"

#include "Alerts.h"
#include "AtomOperations.h"
#include "AutoBonds.h"
#include "CoordinationShape.h"
#include "PlotRange.h"
#include "RenderServices.h"
#include "StoredLimits.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

uint8_t gInfoWindowShowElements = 1;
uint32_t gLastClickedItemID = 0;
uint32_t gLastClickedPropertyID = 0;

const char *const gEnvStrings[kEnvStringCount] = {
    "(no bonds)", "linear",      "one-sided",  "tri-planar", "sq-planar",  "planar",    "tetrahedral",  "pentahedral",
    "cuboid",     "septahedral", "octahedral", "nonahedral", "decahedral", "11-hedral", "dodecahedral", "13-hedral",
    "14-hedral",  "15-hedral",   "16-hedral",  "17-hedral",  "18-hedral",  "19-hedral", "20-hedral",    ""};

namespace {

constexpr int kUnknownEnvironment = 23;

// The atoms of a site, clamped to the atom array: [first, last], empty when
// last < first.
std::pair<int32_t, int32_t> SiteAtomRange(const CrystalRec &c, const AsymmetricUnitRecord &s) {
  const int32_t first = std::max<int32_t>(s.firstAtom, 0);
  const int32_t last = std::min<int32_t>(s.lastAtom, static_cast<int32_t>(c.atoms.size()) - 1);
  return {first, last};
}

bool ValidSiteIndex(const CrystalRec &c, int32_t site) {
  return site >= 0 && static_cast<size_t>(site) < c.sites.size();
}

// The sites a row stands for: one site, or every site whose first element is
// the row's element.
template <typename F> void ForEachRowSite(const CrystalRec &c, uint32_t item, F &&f) {
  if (IsElementItem(item)) {
    const ElementCode element = static_cast<ElementCode>(item);
    for (size_t s = 0; s < c.sites.size(); s++)
      if (c.sites[s].elements[0] == element && !f(static_cast<int32_t>(s)))
        return;
  } else if (ValidSiteIndex(c, ItemSite(item))) {
    f(ItemSite(item));
  }
}

std::string ElementSymbol(ElementCode element) {
  std::string text(1, static_cast<char>((element >> 8) & 0xFF));
  const char second = static_cast<char>(element & 0xFF);
  if (second != ' ' && second != '\0')
    text += second;
  return text;
}

void ReplotWindow(WindowRef window, bool reRender) { NewPlot(window, false, reRender); }

// Gives the site an atom type like its current one but with the new radius
// or colour: an existing matching type or a new one. False (after the stop
// alert) when no type could be made.
bool RetypeSite(CrystalRec &c, int32_t site, float radius, const RGBColor colour) {
  const int32_t old = SiteBrowserRowAtomType(&c, SiteItem(site));
  if (old < 0)
    return false;
  AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(site)];
  const ElementCode element = c.spheres[static_cast<size_t>(old)].element;
  int32_t index = -1;
  if (!FindMatchingSphere(&c, element, s.atomStyle, SitePolyMode(&c, static_cast<size_t>(site)), colour, radius, &index)) {
    SphereRecord *made = AppendBlankSphere(&c);
    if (!made) {
      MyCFStopAlert("Sorry, unable to create a new sphere definition");
      return false;
    }
    made->element = element;
    made->colour = colour;
    made->radius = radius;
    made->style = s.atomStyle;
    index = c.sphereCount - 1;
  }
  s.atomType = static_cast<uint32_t>(index);
  const auto [first, last] = SiteAtomRange(c, s);
  for (int32_t a = first; a <= last; a++)
    if (c.atoms[static_cast<size_t>(a)].atomType == static_cast<uint32_t>(old))
      c.atoms[static_cast<size_t>(a)].atomType = static_cast<uint32_t>(index);
  if (c.molecule && static_cast<size_t>(site) < c.atoms.size() &&
      c.atoms[static_cast<size_t>(site)].atomType == static_cast<uint32_t>(old))
    c.atoms[static_cast<size_t>(site)].atomType = static_cast<uint32_t>(index);
  PurgeUnusedAtomSpheres(&c);
  RemoveDuplicateSpheres(&c);
  return true;
}

struct HSL {
  double h, s, l; // 0..1
};

HSL RGBToHSL(const RGBColor &colour) {
  const double r = colour.red / 65535.0, g = colour.green / 65535.0, b = colour.blue / 65535.0;
  const double hi = std::max({r, g, b}), lo = std::min({r, g, b});
  HSL out{0.0, 0.0, (hi + lo) / 2.0};
  if (hi == lo)
    return out;
  const double d = hi - lo;
  out.s = out.l > 0.5 ? d / (2.0 - hi - lo) : d / (hi + lo);
  double h;
  if (hi == r)
    h = (g - b) / d + (g < b ? 6.0 : 0.0);
  else if (hi == g)
    h = (b - r) / d + 2.0;
  else
    h = (r - g) / d + 4.0;
  out.h = h / 6.0;
  return out;
}

} // namespace

// ---- Expansion list ----------------------------------------------------------------

InfoDataList *GetInfoDataList(WindowRef window) { return static_cast<InfoDataList *>(GetWindowInfoData(window).get()); }

InfoDataList *CreateInfoDataList(WindowRef window) {
  if (!GetMainWindowData(window))
    return nullptr;
  ClearWindowInfoData(window);
  auto list = std::make_shared<InfoDataList>();
  const CrystalRec *c = GetWindowCrystal(window);
  if (c && IsWindowFileOpen(window)) {
    std::array<bool, 65536> seen{};
    for (const SphereRecord &type : c->spheres)
      if (!seen[type.element]) {
        seen[type.element] = true;
        list->entries.push_back({type.element, 1});
      }
  }
  list->count = static_cast<int32_t>(list->entries.size());
  SetWindowInfoData(window, list);
  return list.get();
}

InfoDataList *VerifyInfoDataList(WindowRef window) {
  InfoDataList *list = GetInfoDataList(window);
  const CrystalRec *c = GetWindowCrystal(window);
  if (list && c && !c->spheres.empty()) {
    std::array<bool, 65536> listed{};
    for (const InfoDataEntry &e : list->entries)
      listed[e.element] = true;
    bool complete = true;
    for (const SphereRecord &type : c->spheres)
      if (!listed[type.element]) {
        complete = false;
        break;
      }
    if (complete)
      return list;
  }
  return CreateInfoDataList(window);
}

void SetInfoBrowserContainerOpen(WindowRef window, ElementCode element, bool open) {
  InfoDataList *list = GetInfoDataList(window);
  if (!list)
    return;
  for (InfoDataEntry &e : list->entries)
    if (e.element == element) {
      e.expanded = open ? 1 : 0;
      return;
    }
}

bool InfoBrowserContainerOpen(WindowRef window, ElementCode element) {
  const InfoDataList *list = GetInfoDataList(window);
  if (!list)
    return true;
  for (const InfoDataEntry &e : list->entries)
    if (e.element == element)
      return e.expanded != 0;
  return true;
}

void SiteBrowserExpandList(WindowRef window, bool expanded) {
  if (InfoDataList *list = GetInfoDataList(window))
    for (InfoDataEntry &e : list->entries)
      e.expanded = expanded ? 1 : 0;
  UpdateSiteBrowser(window);
}

// ---- Rows --------------------------------------------------------------------------

std::vector<SiteBrowserRow> SiteBrowserRowsForCrystal(const CrystalRec *crystal, bool showElements) {
  std::vector<SiteBrowserRow> rows;
  if (!crystal)
    return rows;
  const CrystalRec &c = *crystal;
  if (!showElements) {
    rows.resize(c.sites.size());
    for (size_t s = 0; s < c.sites.size(); s++)
      rows[s].item = SiteItem(static_cast<int32_t>(s));
    return rows;
  }
  // Element rows in order of first use among the atom types; each site goes
  // under the row of its first element (sites of other elements stay out).
  std::vector<int32_t> rowOf(65536, -1);
  for (const SphereRecord &type : c.spheres)
    if (rowOf[type.element] < 0) {
      rowOf[type.element] = static_cast<int32_t>(rows.size());
      rows.push_back({type.element, {}});
    }
  for (size_t s = 0; s < c.sites.size(); s++) {
    const int32_t r = rowOf[c.sites[s].elements[0]];
    if (r >= 0)
      rows[static_cast<size_t>(r)].children.push_back(SiteItem(static_cast<int32_t>(s)));
  }
  return rows;
}

bool BuildSiteBrowserRows(WindowRef window, std::vector<SiteBrowserRow> *rows) {
  rows->clear();
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || !IsWindowFileOpen(window) || c->spheres.empty())
    return false;
  *rows = SiteBrowserRowsForCrystal(c, gInfoWindowShowElements != 0);
  return true;
}

// ---- Cells -------------------------------------------------------------------------

int32_t SiteBrowserRowAtomType(const CrystalRec *crystal, uint32_t item) {
  if (!crystal)
    return -1;
  const CrystalRec &c = *crystal;
  int32_t type = -1;
  if (IsElementItem(item)) {
    for (size_t t = 0; t < c.spheres.size(); t++)
      if (c.spheres[t].element == item)
        return static_cast<int32_t>(t);
    return -1;
  }
  const int32_t site = ItemSite(item);
  if (!ValidSiteIndex(c, site))
    return -1;
  if (c.molecule) {
    if (static_cast<size_t>(site) < c.atoms.size())
      type = static_cast<int32_t>(c.atoms[static_cast<size_t>(site)].atomType);
  } else {
    type = static_cast<int32_t>(c.sites[static_cast<size_t>(site)].atomType);
  }
  return type >= 0 && static_cast<size_t>(type) < c.spheres.size() ? type : -1;
}

bool SiteBrowserCanServe(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  return c && IsWindowFileOpen(window) && !c->sites.empty() && !c->atoms.empty();
}

int SiteBrowserShowState(const CrystalRec *crystal, uint32_t item) {
  if (!crystal)
    return kCheckOff;
  bool shown = false, hidden = false;
  ForEachRowSite(*crystal, item, [&](int32_t s) {
    (crystal->sites[static_cast<size_t>(s)].visible ? shown : hidden) = true;
    return !(shown && hidden);
  });
  return shown && hidden ? kCheckMixed : shown ? kCheckOn : kCheckOff;
}

int SiteBrowserLabelState(const CrystalRec *crystal, uint32_t item) {
  if (!crystal)
    return kCheckOff;
  const CrystalRec &c = *crystal;
  bool on = false, off = false;
  ForEachRowSite(c, item, [&](int32_t s) {
    const auto [first, last] = SiteAtomRange(c, c.sites[static_cast<size_t>(s)]);
    for (int32_t a = first; a <= last && !(on && off); a++) {
      const AtomRecord &atom = c.atoms[static_cast<size_t>(a)];
      if (atom.visible)
        (atom.labelled ? on : off) = true;
    }
    return !(on && off);
  });
  return on && off ? kCheckMixed : on ? kCheckOn : kCheckOff;
}

std::string SiteBrowserRadiusText(const CrystalRec *crystal, uint32_t item) {
  const int32_t type = SiteBrowserRowAtomType(crystal, item);
  if (type < 0)
    return {};
  // As the radius reads back, so that Return on the unchanged cell keeps it.
  char text[32];
  std::snprintf(text, sizeof text, "%5s",
                StoredValueText(crystal->spheres[static_cast<size_t>(type)].radius, 2).c_str());
  return text;
}

std::string SiteBrowserCoordinationText(const CrystalRec *crystal, uint32_t item) {
  if (!crystal || IsElementItem(item) || !ValidSiteIndex(*crystal, ItemSite(item)))
    return {};
  const int32_t site = ItemSite(item);
  const int32_t cn = static_cast<int32_t>(crystal->sites[static_cast<size_t>(site)].coordination);
  const char *word = gEnvStrings[GetAtomEnvironmentStringIndex(crystal, site)];
  char text[64];
  // No dash when no geometry word applies.
  if (word && *word)
    std::snprintf(text, sizeof text, "[%d] - %s", cn, word);
  else
    std::snprintf(text, sizeof text, "[%d]", cn);
  return text;
}

bool SiteBrowserRowColour(const CrystalRec *crystal, uint32_t item, RGBColor *colour) {
  const int32_t type = SiteBrowserRowAtomType(crystal, item);
  if (type < 0)
    return false;
  *colour = crystal->spheres[static_cast<size_t>(type)].colour;
  return true;
}

std::string SiteBrowserSiteText(const CrystalRec *crystal, uint32_t item) {
  if (!crystal)
    return {};
  if (IsElementItem(item)) {
    std::string text = ElementSymbol(static_cast<ElementCode>(item));
    const auto types = std::count_if(crystal->spheres.begin(), crystal->spheres.end(),
                                     [item](const SphereRecord &t) { return t.element == item; });
    if (types >= 2)
      text += " *";
    return text;
  }
  if (!ValidSiteIndex(*crystal, ItemSite(item)))
    return {};
  const char *label = crystal->sites[static_cast<size_t>(ItemSite(item))].label;
  return std::string(label, strnlen(label, kSiteLabelSize));
}

bool SiteBrowserCellEditable(uint32_t item, uint32_t property) {
  gLastClickedItemID = item;
  gLastClickedPropertyID = property;
  return property == kColourColumn || property == kLabelColumn || property == kRadiusColumn || property == kShowColumn;
}

int32_t SiteBrowserSetShow(WindowRef window, uint32_t item, int value) {
  if (!SiteBrowserCanServe(window))
    return kDataBrowserPropertyNotSupported;
  CrystalRec *c = GetWindowCrystal(window);
  ForEachRowSite(*c, item, [&](int32_t s) {
    if (value)
      ShowSite(c, s);
    else
      HideSite(c, s);
    return true;
  });
  ReplotWindow(window, true);
  return 0;
}

int32_t SiteBrowserSetLabel(WindowRef window, uint32_t item, int value) {
  if (!SiteBrowserCanServe(window))
    return kDataBrowserPropertyNotSupported;
  CrystalRec *c = GetWindowCrystal(window);
  ForEachRowSite(*c, item, [&](int32_t s) {
    const auto [first, last] = SiteAtomRange(*c, c->sites[static_cast<size_t>(s)]);
    for (int32_t a = first; a <= last; a++) {
      AtomRecord &atom = c->atoms[static_cast<size_t>(a)];
      if (atom.visible)
        atom.labelled = value ? 1 : 0;
    }
    return true;
  });
  ReplotWindow(window, false);
  return 0;
}

int32_t SiteBrowserSetRadius(WindowRef window, uint32_t item, std::string_view text) {
  if (!SiteBrowserCanServe(window))
    return kDataBrowserPropertyNotSupported;
  CrystalRec *c = GetWindowCrystal(window);
  if (c->spheres.empty())
    return 0;
  const std::string cell(text.substr(0, 255));
  float radius = 0.0f;
  if (std::sscanf(cell.c_str(), "%f", &radius) != 1)
    return 0;
  if (!TypedRadiusInRange(radius)) {
    MyCFStopAlert(kRadiusOutOfBounds);
    return 0;
  }
  if (IsElementItem(item)) {
    for (SphereRecord &type : c->spheres)
      if (type.element == item)
        type.radius = radius;
    RemoveDuplicateSpheres(c);
  } else {
    const int32_t type = SiteBrowserRowAtomType(c, item);
    if (type < 0 || c->spheres[static_cast<size_t>(type)].radius == radius)
      return 0;
    if (!RetypeSite(*c, ItemSite(item), radius, c->spheres[static_cast<size_t>(type)].colour))
      return 0;
  }
  ReplotWindow(window, true);
  return 0;
}

int32_t SiteBrowserSetColour(WindowRef window, uint32_t item, const RGBColor &colour) {
  if (!SiteBrowserCanServe(window))
    return kDataBrowserPropertyNotSupported;
  CrystalRec *c = GetWindowCrystal(window);
  if (c->spheres.empty())
    return 0;
  if (IsElementItem(item)) {
    for (SphereRecord &type : c->spheres)
      if (type.element == item)
        type.colour = colour;
    RemoveDuplicateSpheres(c);
  } else {
    const int32_t type = SiteBrowserRowAtomType(c, item);
    if (type < 0 || SameRGBColor(c->spheres[static_cast<size_t>(type)].colour, colour))
      return 0;
    if (!RetypeSite(*c, ItemSite(item), c->spheres[static_cast<size_t>(type)].radius, colour))
      return 0;
  }
  ReplotWindow(window, true);
  return 0;
}

int32_t SiteBrowserChooseColour(WindowRef window, uint32_t item) {
  const CrystalRec *c = GetWindowCrystal(window);
  RGBColor colour;
  if (!c || !SiteBrowserRowColour(c, item, &colour))
    return 0;
  HostServices *host = GetHostServices();
  if (!host || !host->ChooseColour("Colour:", &colour))
    return 0;
  return SiteBrowserSetColour(window, item, colour);
}

bool SiteBrowserCompare(const CrystalRec *crystal, uint32_t item1, uint32_t item2, uint32_t property) {
  if (!crystal)
    return false;
  const CrystalRec &c = *crystal;
  const bool element1 = IsElementItem(item1), element2 = IsElementItem(item2);
  if (element1 != element2) {
    FWrite("can't compare apples and oranges");
    return false;
  }
  const int32_t t1 = SiteBrowserRowAtomType(crystal, item1), t2 = SiteBrowserRowAtomType(crystal, item2);
  const SphereRecord *s1 = t1 >= 0 ? &c.spheres[static_cast<size_t>(t1)] : nullptr;
  const SphereRecord *s2 = t2 >= 0 ? &c.spheres[static_cast<size_t>(t2)] : nullptr;
  if (element1) {
    if (property == kSiteColumn)
      return item1 < item2;
    if (!s1 || !s2)
      return false;
    if (property == kColourColumn)
      return CompareColorsByHSL(s1->colour, s2->colour);
    if (property == kRadiusColumn)
      return s1->radius < s2->radius;
    return false;
  }
  const int32_t a = ItemSite(item1), b = ItemSite(item2);
  if (!ValidSiteIndex(c, a) || !ValidSiteIndex(c, b))
    return false;
  const AsymmetricUnitRecord &sa = c.sites[static_cast<size_t>(a)], &sb = c.sites[static_cast<size_t>(b)];
  if (property == kSiteColumn)
    return MyIntegerCompareSiteLabels(std::string_view(sa.label, strnlen(sa.label, kSiteLabelSize)),
                                      std::string_view(sb.label, strnlen(sb.label, kSiteLabelSize))) < 0;
  if (property == kCoordinationColumn)
    return sa.coordination < sb.coordination;
  if (!s1 || !s2)
    return false;
  if (property == kColourColumn)
    return GetRGBColorHue(s1->colour) < GetRGBColorHue(s2->colour);
  if (property == kRadiusColumn)
    return s1->radius < s2->radius;
  return false;
}

namespace {

// The positions, relative to the centre, of the cn atoms that coordinate
// the site: the bonds of an atom of the site that has all cn of them in the
// plot; in a crystal where none has, the neighbours that the bond
// specifications give the site in the whole crystal. False when neither
// yields cn ligands.
bool SiteLigands(const CrystalRec &c, int32_t site, uint32_t cn, std::vector<std::array<float, 3>> *ligands) {
  ligands->clear();
  if (cn > kMaxShapeLigands)
    return false;
  const AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(site)];
  const auto [first, last] = SiteAtomRange(c, s);
  for (int32_t a = first; a <= last; a++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(a)];
    const uint32_t n = std::min<uint32_t>(atom.bondCount, static_cast<uint32_t>(atom.bonds.size()));
    if (n != cn)
      continue;
    for (uint32_t k = 0; k < n; k++) {
      if (atom.bonds[k] >= c.atoms.size())
        break;
      const float *to = c.atoms[atom.bonds[k]].cart;
      ligands->push_back({to[0] - atom.cart[0], to[1] - atom.cart[1], to[2] - atom.cart[2]});
    }
    if (ligands->size() == cn)
      return true;
    ligands->clear();
  }
  if (c.molecule || first > last)
    return false;
  // Each specification naming the site's element finds the other element
  // about it, as the coordination numbers were counted.
  const ElementCode own = s.elements[0];
  std::array<BondSearchResult, kMaxShapeLigands + 1> found;
  const float *centre = c.atoms[static_cast<size_t>(first)].xyz;
  const int32_t specs = std::clamp<int32_t>(c.bondSpecCount, 0, static_cast<int32_t>(c.bondSpecs.size()));
  for (int32_t k = 0; k < specs; k++) {
    const BondSpec &spec = c.bondSpecs[static_cast<size_t>(k)];
    if (spec.elementA != own && spec.elementB != own)
      continue;
    const ElementCode other = spec.elementA == own ? spec.elementB : spec.elementA;
    const uint32_t count =
        SearchBondsFromSite(const_cast<CrystalRec *>(&c), static_cast<uint32_t>(site), &other, 1, spec.minLength,
                            spec.maxLength, found.data(), static_cast<uint32_t>(found.size()));
    for (uint32_t r = 0; r < count; r++) {
      float step[3], cart[3];
      VecDiff(found[r].xyz, centre, step);
      MatMul(c.orientationMatrix, step, cart);
      ligands->push_back({cart[0], cart[1], cart[2]});
    }
    if (ligands->size() > cn)
      return false;
  }
  return ligands->size() == cn;
}

} // namespace

// ---- Coordination ------------------------------------------------------------------

int GetAtomEnvironmentStringIndex(const CrystalRec *crystal, int32_t site) {
  if (!crystal || crystal->sites.empty() || crystal->atoms.empty() || !ValidSiteIndex(*crystal, site))
    return kUnknownEnvironment;
  const CrystalRec &c = *crystal;
  const AsymmetricUnitRecord &s = c.sites[static_cast<size_t>(site)];
  const int32_t cn = static_cast<int32_t>(s.coordination);
  if (cn < 0)
    return kUnknownEnvironment;
  if (cn == 0)
    return 0;
  if (cn == 1)
    return 2;
  if (cn == 2)
    return 1;
  std::vector<std::array<float, 3>> ligands;
  if (!SiteLigands(c, site, static_cast<uint32_t>(cn), &ligands))
    return kUnknownEnvironment;
  const int faces = CoordinationShapeFaces(ligands);
  if (faces == kFlatCoordination)
    return cn == 3 ? 3 : cn == 4 ? 4 : 5;
  if (faces >= 4 && faces <= 20)
    return faces + 2;
  return kUnknownEnvironment;
}

std::optional<std::string> CoordinationDescriptionForSite(const CrystalRec *crystal, int32_t site) {
  if (!crystal || crystal->sites.empty())
    return std::nullopt;
  return std::string(gEnvStrings[GetAtomEnvironmentStringIndex(crystal, site)]);
}

std::optional<std::string> GetCoordinationDescriptionForSite(WindowRef window, int32_t site) {
  if (!window)
    return std::nullopt;
  return CoordinationDescriptionForSite(GetWindowCrystal(window), site);
}

// ---- Colours -----------------------------------------------------------------------

uint16_t GetRGBColorHue(const RGBColor &colour) {
  return static_cast<uint16_t>(std::min(65535.0, RGBToHSL(colour).h * 65535.0));
}

bool CompareColorsByHSL(const RGBColor &a, const RGBColor &b) {
  const HSL x = RGBToHSL(a), y = RGBToHSL(b);
  if (x.h != y.h)
    return x.h < y.h;
  if (x.s != y.s)
    return x.s < y.s;
  return x.l < y.l;
}
