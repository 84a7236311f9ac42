#include "SitePreparation.h"

#include "Alerts.h"
#include "ColourHelpers.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <numeric>
#include <string>
#include <vector>

namespace {

void ProgressStatus(std::string_view text) {
  if (gShowProgress)
    WriteStatus(text);
}

// ---- Labels --------------------------------------------------------------------

int64_t Power(int64_t base, int exponent) {
  int64_t v = 1;
  for (int i = 0; i < exponent; i++)
    v *= base;
  return v;
}

std::string SiteLabelFor(const char symbol[2], bool twoLetters, int64_t n, int64_t number) {
  const int letters = twoLetters ? 2 : 1;
  const int digits = kAutoLabelLength - letters;
  const std::string sym(symbol, static_cast<size_t>(letters));
  char buf[64];
  if (n <= Power(10, digits) - 1)
    std::snprintf(buf, sizeof buf, "%s%lld", sym.c_str(), static_cast<long long>(number));
  else if (n <= Power(16, digits) - 1)
    std::snprintf(buf, sizeof buf, "%s%llx", sym.c_str(), static_cast<unsigned long long>(number));
  else if (twoLetters && n <= 10 * (Power(10, digits) - 1))
    std::snprintf(buf, sizeof buf, "%c%lld", symbol[0], static_cast<long long>(number));
  else
    std::snprintf(buf, sizeof buf, "%c%llx", symbol[0], static_cast<unsigned long long>(number));
  std::string label(buf);
  if (label.size() > static_cast<size_t>(kAutoLabelLength))
    label.resize(static_cast<size_t>(kAutoLabelLength));
  return label;
}

std::string SortKey(const AsymmetricUnitRecord &site) {
  char sym[2];
  ShortToTwoChars(site.elements[0], sym);
  std::string key(sym, 2);
  key += CStrView(site.label);
  return key;
}

// The order of the sites by element and label, stable for equal keys.
std::vector<int32_t> ElementOrder(const CrystalRec &c) {
  const int32_t n = UsableSiteCount(c);
  std::vector<std::string> keys(static_cast<size_t>(n));
  for (int32_t k = 0; k < n; k++)
    keys[static_cast<size_t>(k)] = SortKey(c.sites[static_cast<size_t>(k)]);
  std::vector<int32_t> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return MyIntegerCompareSiteLabels(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)]) < 0;
  });
  return order;
}

} // namespace

// ---- Colours ---------------------------------------------------------------------

void HSL2RGB(const HSLColor &hsl, RGBColor &rgb) {
  const double h = hsl.hue / 65535.0;
  const double s = hsl.saturation / 65535.0;
  const double l = hsl.lightness / 65535.0;
  auto channel = [](double v) {
    const double scaled = std::round(v * 65535.0);
    return static_cast<uint16_t>(std::clamp(scaled, 0.0, 65535.0));
  };
  if (hsl.saturation == 0) {
    rgb = RGBColor{channel(l), channel(l), channel(l)};
    return;
  }
  const double q = l < 0.5 ? l * (1.0 + s) : l + s - l * s;
  const double p = 2.0 * l - q;
  auto hueToChannel = [p, q](double t) {
    if (t < 0.0)
      t += 1.0;
    if (t > 1.0)
      t -= 1.0;
    if (t < 1.0 / 6.0)
      return p + (q - p) * 6.0 * t;
    if (t < 0.5)
      return q;
    if (t < 2.0 / 3.0)
      return p + (q - p) * (2.0 / 3.0 - t) * 6.0;
    return p;
  };
  rgb = RGBColor{channel(hueToChannel(h + 1.0 / 3.0)), channel(hueToChannel(h)), channel(hueToChannel(h - 1.0 / 3.0))};
}

// ---- Atom types ------------------------------------------------------------------

SphereRecord *GenerateSpheres(CrystalRec *crystal) {
  if (!crystal)
    return nullptr;
  CrystalRec &c = *crystal;
  DestroySpheresArray(&c);
  const int32_t n = UsableSiteCount(c);
  if (n < 1)
    return nullptr;
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    int32_t found = -1;
    for (int32_t t = 0; t < UsableSphereCount(c) && found < 0; t++) {
      const SphereRecord &sphere = c.spheres[static_cast<size_t>(t)];
      if (sphere.element == site.elements[0] && sphere.style == site.atomStyle)
        found = t;
    }
    if (found < 0) {
      SphereRecord *sphere = AppendBlankSphere(&c);
      if (!sphere) {
        DestroySpheresArray(&c);
        return nullptr;
      }
      found = UsableSphereCount(c) - 1;
      sphere->element = site.elements[0];
      sphere->style = site.atomStyle;
    }
    site.atomType = static_cast<uint32_t>(found);
  }
  SetSphereProperties(&c);
  return GetCrystalSpheresArray(&c);
}

void SetSphereProperties(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  for (int32_t t = 0; t < UsableSphereCount(c); t++) {
    SphereRecord &sphere = c.spheres[static_cast<size_t>(t)];
    const ElementData *row = nullptr;
    for (const ElementData &entry : gPrefs.elementData) {
      if (entry.element == sphere.element) {
        row = &entry;
        break;
      }
    }
    if (row) {
      sphere.radius = row->radius;
      sphere.colour = row->colour;
    } else {
      sphere.radius = kUnknownElementRadius;
      sphere.colour = kUnknownElementColour;
    }
    sphere.style = kSphereDefaultStyle;
  }
}

// ---- Sites -----------------------------------------------------------------------

void SortSiteOccupancies(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  for (int32_t s = 0; s < UsableSiteCount(c); s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    int n = 0;
    while (n < kMaxSiteElements && site.occupancies[n] != 0.0f && site.elements[n] != kBlankElement)
      n++;
    if (n < 2)
      continue;
    for (int pass = 0; pass < n - 1; pass++) {
      for (int k = 0; k < n - 1 - pass; k++) {
        if (site.occupancies[k + 1] > site.occupancies[k]) {
          std::swap(site.occupancies[k], site.occupancies[k + 1]);
          std::swap(site.elements[k], site.elements[k + 1]);
        }
      }
    }
    float sum = 0.0f;
    for (int k = 0; k < n; k++)
      sum += site.occupancies[k];
    if (sum > 1.0f + kOccupancySumSlack) {
      char line[128];
      std::snprintf(line, sizeof line, "Warning: sum of occupancies for site no. %ld ('%s') is greater than one!",
                    static_cast<long>(s), std::string(CStrView(site.label)).c_str());
      FWriteColor(line, kRGBRed);
    }
  }
}

bool AutoGenerateSiteColors(CrystalRec *crystal) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const int32_t n = UsableSiteCount(c);
  if (n < 2)
    return false;
  // The old types lose their cached images first, so no new type starts out
  // with an image drawn for another colour.
  for (int32_t t = 0; t < UsableSphereCount(c); t++)
    DisposeSpherePixels(&c.spheres[static_cast<size_t>(t)]);
  std::vector<SphereRecord> types;
  try {
    types.reserve(static_cast<size_t>(n));
  } catch (const std::bad_alloc &) {
    return false;
  }
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    SphereRecord type = gBlankSphere;
    if (site.atomType < static_cast<uint32_t>(UsableSphereCount(c)))
      type = c.spheres[site.atomType];
    else
      type.element = site.elements[0];
    DisposeSpherePixels(&type);
    HSLColor hsl;
    hsl.hue = static_cast<uint16_t>(static_cast<int64_t>(s) * kHueScale / n);
    hsl.saturation = kSiteColourSaturation;
    hsl.lightness = kSiteColourLightness;
    HSL2RGB(hsl, type.colour);
    types.push_back(std::move(type));
    site.atomType = static_cast<uint32_t>(s);
  }
  for (int32_t k = 0; k < UsableAtomCount(c); k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (atom.site < static_cast<uint32_t>(n))
      atom.atomType = atom.site;
  }
  c.spheres = std::move(types);
  c.sphereCount = n;
  return true;
}

bool AutoGenerateSiteLabels(CrystalRec *crystal) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const int32_t n = UsableSiteCount(c);
  if (n < 1)
    return false;
  // Each element's sites are numbered from 1 in site order, wherever they
  // stand: sites need not be sorted by element.
  std::map<ElementCode, int64_t> sizes, numbers;
  for (int32_t s = 0; s < n; s++)
    sizes[c.sites[static_cast<size_t>(s)].elements[0]]++;
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    char symbol[2];
    ShortToTwoChars(site.elements[0], symbol);
    const bool twoLetters = static_cast<unsigned char>(symbol[1]) >= 33;
    const std::string label = SiteLabelFor(symbol, twoLetters, sizes[site.elements[0]], ++numbers[site.elements[0]]);
    MyStrCopy(std::span<char>(site.label), label);
  }
  return true;
}

bool ConvertCrystalColorsToGreyscale(CrystalRec *crystal) {
  if (!crystal || UsableSphereCount(*crystal) < 1)
    return false;
  CrystalRec &c = *crystal;
  for (int32_t t = 0; t < UsableSphereCount(c); t++)
    RGBColor2Greyscale(c.spheres[static_cast<size_t>(t)].colour);
  for (RGBColor &colour : c.axisColors)
    RGBColor2Greyscale(colour);
  RGBColor2Greyscale(c.unitCellColor);
  RGBColor2Greyscale(c.cloudSphereColor);
  const int32_t specs = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  for (int32_t k = 0; k < specs; k++) {
    RGBColor2Greyscale(c.bondSpecs[static_cast<size_t>(k)].colour1);
    RGBColor2Greyscale(c.bondSpecs[static_cast<size_t>(k)].colour2);
  }
  return true;
}

// ---- Sorting by element -------------------------------------------------------------

int32_t CompareAUByElementAndLabel(const AsymmetricUnitRecord &a, const AsymmetricUnitRecord &b) {
  return MyIntegerCompareSiteLabels(SortKey(a), SortKey(b));
}

bool SortAUByElement(CrystalRec *crystal) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  const int32_t n = UsableSiteCount(c);
  if (n < 2)
    return true;
  try {
    ProgressStatus("Sorting sites...");
    const std::vector<int32_t> order = ElementOrder(c);
    std::vector<AsymmetricUnitRecord> sorted;
    sorted.reserve(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; k++) {
      if (gShowProgress)
        WriteProgress("Updating site data...", 100.0f * static_cast<float>(k) / static_cast<float>(n));
      sorted.push_back(c.sites[static_cast<size_t>(order[static_cast<size_t>(k)])]);
    }
    c.sites = std::move(sorted);
    c.siteCount = n;
    c.derived.Note(kChangeSites);
  } catch (const std::bad_alloc &) {
    MyCFStopAlert("No memory for sorting!");
    return false;
  }
  return true;
}

bool SortMoleculeByElement(CrystalRec *crystal) {
  if (!crystal)
    return false;
  CrystalRec &c = *crystal;
  if (!c.molecule) {
    MyCFStopAlert("cannot sort atoms for a crystal!");
    return false;
  }
  const int32_t n = UsableAtomCount(c);
  if (n < 2 || UsableSiteCount(c) != n)
    return false;
  try {
    ProgressStatus("Updating atom data...");
    const std::vector<int32_t> order = ElementOrder(c); // new position k holds old order[k]
    std::vector<uint32_t> newIndex(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; k++)
      newIndex[static_cast<size_t>(order[static_cast<size_t>(k)])] = static_cast<uint32_t>(k);
    auto renumber = [&](uint32_t &atom) {
      if (atom < static_cast<uint32_t>(n))
        atom = newIndex[atom];
    };
    std::vector<AsymmetricUnitRecord> sites;
    std::vector<AtomRecord> atoms;
    sites.reserve(static_cast<size_t>(n));
    atoms.reserve(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; k++) {
      const size_t old = static_cast<size_t>(order[static_cast<size_t>(k)]);
      sites.push_back(c.sites[old]);
      atoms.push_back(std::move(c.atoms[old]));
      sites.back().firstAtom = k;
      sites.back().lastAtom = k;
      atoms.back().site = static_cast<uint32_t>(k);
    }
    for (AtomRecord &atom : atoms) {
      for (uint32_t &j : atom.bonds)
        renumber(j);
      atom.polyhedron.RenumberAtoms(renumber);
    }
    for (VectorRecord &vector : c.vectors)
      renumber(vector.atom);
    for (CustomBondSpec &spec : c.customBondSpecs) {
      renumber(spec.atomA);
      renumber(spec.atomB);
    }
    c.sites = std::move(sites);
    c.atoms = std::move(atoms);
    c.derived.Note(kChangeSites | kChangeAtoms);
  } catch (const std::bad_alloc &) {
    MyCFStopAlert("No memory for sorting!");
    return false;
  }
  return true;
}
