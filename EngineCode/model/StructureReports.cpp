#include "StructureReports.h"

#include "Geometry.h"
#include "SpaceFilling.h"
#include "StructureRecord.h"
#include "Utilities.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool HasSitesAndAtoms(const CrystalRec *c) { return c && !c->sites.empty() && !c->atoms.empty(); }

std::pair<int32_t, int32_t> SiteAtomRange(const CrystalRec &c, const AsymmetricUnitRecord &s) {
  return {std::max<int32_t>(s.firstAtom, 0), std::min<int32_t>(s.lastAtom, static_cast<int32_t>(c.atoms.size()) - 1)};
}

std::string Title(WindowRef window) {
  HostServices *host = GetHostServices();
  return host ? host->WindowTitle(window) : std::string();
}

std::string Format(const char *format, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

std::string Label(const AsymmetricUnitRecord &s) { return std::string(s.label, strnlen(s.label, kSiteLabelSize)); }

// The banner text: no characters of code 32 or below, digits as subscripts.
std::string SubtitleFormula(std::string_view formula) {
  std::string compact;
  MyStrCopyWithoutSpaces(compact, formula);
  return ConvertNumericCharsToSubscripts(compact);
}

} // namespace

std::string ConvertNumericCharsToSubscripts(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      out += "\xE2\x82";
      out += static_cast<char>(0x80 + (ch - '0'));
    } else {
      out += ch;
    }
  }
  return out;
}

uint32_t CountVisibleBonds(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!HasSitesAndAtoms(c))
    return 0;
  uint32_t count = 0;
  for (const AsymmetricUnitRecord &s : c->sites) {
    if (!s.visible)
      continue;
    const auto [first, last] = SiteAtomRange(*c, s);
    for (int32_t i = first; i <= last; i++) {
      const AtomRecord &a = c->atoms[static_cast<size_t>(i)];
      if (!a.visible)
        continue;
      for (uint32_t j : a.bonds)
        if (j < c->atoms.size() && c->atoms[j].visible && j >= static_cast<uint32_t>(i))
          count++;
    }
  }
  return count;
}

std::string DisplayFormula(WindowRef window, int32_t *atoms, int32_t *sites, int32_t *elements) {
  *atoms = *sites = *elements = 0;
  const CrystalRec *c = GetWindowCrystal(window);
  if (!HasSitesAndAtoms(c))
    return {};
  // The tally grows with the elements met, in order of first appearance.
  std::vector<int32_t> slot(65536, -1);
  std::vector<std::pair<ElementCode, float>> tally;
  for (const AsymmetricUnitRecord &s : c->sites) {
    if (!s.visible)
      continue;
    ++*sites;
    const auto [first, last] = SiteAtomRange(*c, s);
    for (int32_t i = first; i <= last; i++) {
      if (!c->atoms[static_cast<size_t>(i)].visible)
        continue;
      ++*atoms;
      for (int e = 0; e < kMaxSiteElements && s.elements[e] != kBlankElement; e++) {
        int32_t &k = slot[s.elements[e]];
        if (k < 0) {
          k = static_cast<int32_t>(tally.size());
          tally.emplace_back(s.elements[e], 0.0f);
        }
        tally[static_cast<size_t>(k)].second += s.occupancies[e];
      }
    }
  }
  *elements = static_cast<int32_t>(tally.size());
  std::string text;
  for (const auto &[element, count] : tally) {
    text += static_cast<char>((element >> 8) & 0xFF);
    if ((element & 0xFF) != ' ')
      text += static_cast<char>(element & 0xFF);
    text += ' ';
    text += MyTrimSprintf("%.5f", count);
    text += ' ';
  }
  return text;
}

void PrintChemicalFormula(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c)
    return;
  FWriteCFString("");
  FWriteCFString(Format("Chemical formula data for \"%s\":", Title(window).c_str()));
  if (!HasSitesAndAtoms(c))
    return;
  int32_t atoms = 0, sites = 0, elements = 0;
  const std::string display = DisplayFormula(window, &atoms, &sites, &elements);
  std::string subtitle;
  if (!c->molecule) {
    std::string bulk;
    GetCalcFormula(c, &bulk);
    FWriteCFString("  Bulk chemical formula: " + bulk);
    subtitle = "Bulk formula: " + SubtitleFormula(bulk) + " (See the Log for more details)";
  } else {
    subtitle = "Display formula: " + SubtitleFormula(display) + " (See the Log for more details)";
  }
  DrawWindowSubtitle(window, subtitle);
  FWriteCFString("        Display formula: " + display);
  FWriteCFString(Format("                         (%ld atoms, %ld sites, %ld elements; %ld bonds visible)",
                        static_cast<long>(atoms), static_cast<long>(sites), static_cast<long>(elements),
                        static_cast<long>(CountVisibleBonds(window))));
}

void DoListCoordinates(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || c->atoms.empty())
    return;
  const bool molecule = c->molecule != 0;
  const std::string rule(molecule ? 47 : 72, '-');
  FWriteCFString(rule);
  if (molecule) {
    FWriteCFString("                       Orthogonal Coordinates  ");
    FWriteCFString("         Label  Elmt   xor[Å]  yor[Å]  zor[Å]  ");
  } else {
    FWriteCFString("                      Fractional Coordinates    Orthogonal Coordinates  ");
    FWriteCFString("         Label  Elmt  x       y       z         xor[Å]  yor[Å]  zor[Å]  ");
  }
  FWriteCFString(rule);
  long number = 0;
  char row[256];
  for (const AsymmetricUnitRecord &s : c->sites) {
    if (!s.visible)
      continue;
    const std::string label = Label(s);
    const char e1 = static_cast<char>((s.elements[0] >> 8) & 0xFF), e2 = static_cast<char>(s.elements[0] & 0xFF);
    const auto [first, last] = SiteAtomRange(*c, s);
    for (int32_t i = first; i <= last; i++) {
      const AtomRecord &a = c->atoms[static_cast<size_t>(i)];
      if (!a.visible)
        continue;
      ++number;
      if (molecule)
        std::snprintf(row, sizeof row, " %5ld.  %-6s  %c%c %8.3f%8.3f%8.3f", number, label.c_str(), e1, e2,
                      double(a.cart[0]), double(a.cart[1]), double(a.cart[2]));
      else
        std::snprintf(row, sizeof row, " %5ld.  %-6s  %c%c %8.4f%8.4f%8.4f %8.3f%8.3f%8.3f", number, label.c_str(), e1,
                      e2, double(a.xyz[0]), double(a.xyz[1]), double(a.xyz[2]), double(a.cart[0]), double(a.cart[1]),
                      double(a.cart[2]));
      FWriteBuffer(row);
    }
  }
  // The closing line goes through the buffer too, so that it follows the rows.
  FWriteBuffer(rule);
  FFlushBuffer();
  DoShowOverviewLog();
}

void DoListBonds(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!HasSitesAndAtoms(c))
    return;
  const std::string rule(55, '-');
  std::string text = rule + "\n  Bond              From    To                Distance \n" + rule + "\n";
  long number = 0;
  for (const AsymmetricUnitRecord &s : c->sites) {
    if (!s.visible)
      continue;
    const auto [first, last] = SiteAtomRange(*c, s);
    for (int32_t i = first; i <= last; i++) {
      const AtomRecord &a = c->atoms[static_cast<size_t>(i)];
      if (!a.visible || a.bonds.empty())
        continue;
      for (uint32_t j : a.bonds) {
        if (j >= c->atoms.size() || !c->atoms[j].visible || j < static_cast<uint32_t>(i))
          continue;
        const AtomRecord &b = c->atoms[j];
        if (b.site >= c->sites.size())
          continue;
        char from[32], to[32];
        std::snprintf(from, sizeof from, "(%ld)", static_cast<long>(i) + 1);
        std::snprintf(to, sizeof to, "(%ld)", static_cast<long>(j) + 1);
        double d = 0.0;
        float esd = 0.0f;
        BondDistError(c, i, static_cast<int32_t>(j), &d, &esd);
        text += Format("%6ld.  %8s %6s -- %-6s %-8s %8.4f Å", ++number, from, Label(s).c_str(),
                       Label(c->sites[b.site]).c_str(), to, d);
        text += '\n';
      }
    }
  }
  text += rule;
  FWriteCFString(text);
  FWriteCFString(Format("Total of %ld visible bonds", number));
}

void PrintCrystalPorosity(WindowRef window) {
  CrystalRec *c = GetWindowCrystal(window);
  if (!c || !IsWindowFileOpen(window))
    return;
  const float v = GetCellVolume(c);
  float filled = 0.0f;
  if (GetCellVolumeFilled(c, &filled) != 1)
    return;
  const float voidSpace = v - filled;
  FWriteCFString("");
  FWriteCFString(Format("Calculated porosity data for \"%s\" (*): ", Title(window).c_str()));
  FWriteCFString(
      Format("        Filled space: %9.3f Å³ (%6.2f%%) per unit cell", double(filled), double(filled * 100.0f / v)));
  FWriteCFString(Format("          Void space: %9.3f Å³ (%6.2f%%) per unit cell", double(voidSpace),
                        double(voidSpace * 100.0f / v)));
  FWriteCFString(Format("    Unit cell volume: %9.3f Å³", double(v)));
  FWriteCFString("(*) Corrected for first-nearest-neighbour sphere overlap and site visibility\n");
  DoShowOverviewLog();
}

void PrintCrystalDensity(WindowRef window) {
  const CrystalRec *c = GetWindowCrystal(window);
  if (!c || c->molecule)
    return;
  FWriteCFString("");
  FWriteCFString(Format("Density data for \"%s\":", Title(window).c_str()));
  float density = 0.0f;
  if (!GetDensity(c, &density)) {
    FWriteCFString("*** density calculation failed - unknown element(s)? ***");
    return;
  }
  const float v = GetCellVolume(c);
  FWriteCFString(Format("     Calculated density: %.4f kg/m³ (%.4f g/cm³)", double(density), double(density) * 0.001));
  FWriteCFString(Format("    Atoms per unit cell: %ld", static_cast<long>(c->atomsPerCell)));
  FWriteCFString(Format("       Unit cell volume: %.4f Å³", double(v)));
  if (c->sites.empty())
    return;
  float atomsPerCell = 0.0f;
  for (const AsymmetricUnitRecord &s : c->sites)
    atomsPerCell += (s.occupancies[0] + s.occupancies[1] + s.occupancies[2]) * static_cast<float>(s.atomsPerCell);
  FWriteCFString(
      Format("           Atom density: %6.4f atoms/Å³ - corrected for site occupancies", double(atomsPerCell / v)));
  FWriteCFString(Format("           Site density: %6.4f sites/Å³", double(static_cast<float>(c->atomsPerCell) / v)));
  DrawWindowSubtitle(window, Format("Density: %.1f kg/m³ (See the Log for more details)", double(density)));
}
