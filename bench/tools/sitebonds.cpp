// sitebonds: a developer's tool that opens a structure file through the
// program's own open path and prints what the bond rule made of it, for
// comparing with other programs (tools/survey).
//
//   sitebonds FILE
//
// A crystal prints one SITE line per site (index, label, element, its
// largest occupancy, disorder assembly and group, the coordination number
// the Sites window shows, its fractional position) followed by the bonds of the site's image with the
// most bonds, grown over a plot range of at least kReach around the cell so
// that some image is bonded whole: one BOND line per bond (the neighbour's
// site, label, element and the length). A molecule prints one ATOM line per
// atom (with its coordinates as the file gives them) and one BOND line per
// bond (atom indices from 0). A file that cannot
// be read exits with status 1.

#include "BuildPipeline.h"
#include "HostServices.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "import/ImportPath.h"
#include "window/MainWindowData.h"

#include "HeadlessTool.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The plot range reaches at least this far (A) beyond the cell on each side.
constexpr double kReach = 7.0;
// Crystals with more atoms in a cell are listed over the range they open
// with: their sites' images lie in the cell's interior.
constexpr int32_t kMostCellAtomsGrown = 3000;

std::string Element(ElementCode e) {
  char chars[2];
  ShortToTwoChars(e, chars);
  std::string s(chars, 2);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
    s.pop_back();
  return s.empty() ? "?" : s;
}

float Distance(const AtomRecord &a, const AtomRecord &b) {
  const float dx = a.cart[0] - b.cart[0], dy = a.cart[1] - b.cart[1], dz = a.cart[2] - b.cart[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

float LargestOccupancy(const AsymmetricUnitRecord &s) {
  float most = 0.0f;
  for (float o : s.occupancies)
    most = std::max(most, o);
  return most;
}

std::string Label(const char *label) {
  std::string s(label);
  return s.empty() ? "-" : s;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sitebonds FILE\n");
    return 2;
  }
  HeadlessTool tool(argc, argv, Rect{0, 0, 400, 400});
  OVWindowRecord &record = tool.record;
  if (!OpenStructureFile(&record, argv[1], ImportChoice::TakeFirst)) {
    std::fprintf(stderr, "sitebonds: %s could not be read\n", argv[1]);
    return 1;
  }
  CrystalRec &c = *GetWindowCrystal(&record);
  const size_t nSites = UsableSiteSize(c);
  std::printf("CELL %s %.5f %.5f %.5f %.4f %.4f %.4f\n", c.molecule ? "molecule" : "crystal", double(c.a), double(c.b),
              double(c.c), double(c.alpha), double(c.beta), double(c.gamma));
  if (c.molecule) {
    for (size_t a = 0; a < UsableAtomSize(c); a++) {
      const AtomRecord &atom = c.atoms[a];
      const AsymmetricUnitRecord &s = c.sites[atom.site];
      std::printf("ATOM %zu %s %s %.3f %d %d %.4f %.4f %.4f\n", a, Label(s.label).c_str(),
                  Element(s.elements[0]).c_str(), double(LargestOccupancy(s)), int(s.disorderAssembly),
                  int(s.disorderGroup), double(atom.xyz[0]), double(atom.xyz[1]), double(atom.xyz[2]));
      for (uint32_t b : atom.bonds)
        if (b > a)
          std::printf("BOND %zu %u %.4f\n", a, b, double(Distance(atom, c.atoms[b])));
    }
  } else {
    if (c.atomsPerCell <= kMostCellAtomsGrown) {
      const float edges[3] = {c.a, c.b, c.c};
      for (int k = 0; k < 3; k++) {
        const float cells = edges[k] > 0.0f ? static_cast<float>(std::ceil(kReach / double(edges[k]))) : 1.0f;
        c.plotRange[2 * k] = -cells;
        c.plotRange[2 * k + 1] = 1.0f + cells;
      }
      RenderServices *renderer = SetRenderServices(nullptr);
      RunNewCrystal(&record, false, false, false);
      SetRenderServices(renderer);
    }
    for (size_t s = 0; s < nSites; s++) {
      const AsymmetricUnitRecord &site = c.sites[s];
      std::printf("SITE %zu %s %s %.3f %d %d %u %.5f %.5f %.5f\n", s, Label(site.label).c_str(),
                  Element(site.elements[0]).c_str(), double(LargestOccupancy(site)), int(site.disorderAssembly),
                  int(site.disorderGroup), site.coordination, double(site.xyz[0]), double(site.xyz[1]),
                  double(site.xyz[2]));
      int64_t best = -1;
      for (int64_t a = site.firstAtom; a <= site.lastAtom && a < int64_t(UsableAtomSize(c)); a++)
        if (a >= 0 && (best < 0 || c.atoms[size_t(a)].bondCount > c.atoms[size_t(best)].bondCount))
          best = a;
      if (best < 0)
        continue;
      const AtomRecord &atom = c.atoms[size_t(best)];
      for (uint32_t b : atom.bonds) {
        const AsymmetricUnitRecord &other = c.sites[c.atoms[b].site];
        std::printf("BOND %u %s %s %.4f\n", c.atoms[b].site, Label(other.label).c_str(),
                    Element(other.elements[0]).c_str(), double(Distance(atom, c.atoms[b])));
      }
    }
  }
  DestroyMainWindowData(&record);
  SetHostServices(nullptr);
  return 0;
}
