// Writes what every bond path finds for structures whose sites stand in any
// order, so that tests/oracle/bond_order_oracle.py can check it against an
// all-pairs count of its own. Runs only when OV_BOND_ORDER_IN (the input
// file) and OV_BOND_ORDER_OUT (the file to write) are set.
//
// Input, one keyword per line, sites in the order the structure keeps them:
//   structure <title>
//   molecule                         (else a crystal in P 1)
//   cell <a> <b> <c> <alpha> <beta> <gamma>
//   range <xmin> <xmax> <ymin> <ymax> <zmin> <zmax>
//   site <label> <element> <x> <y> <z>   (fractional; Cartesian for a molecule)
//   bond <element A> <element B> <min> <max>
//   end
// Each structure is built as a file's would be (RunNewCrystal or
// RunNewMolecule on a window). Output per structure:
//   structure <title>
//   bond <label> <x> <y> <z> <label> <x> <y> <z>   once per bond, fractional
//   site <label> <coordination number>
//   diag <spec> <minAB> <maxAB> <minBA> <maxBA>    the bonding editor's counts
//   dex <from label> <neighbour site label> <distance>   Distance Explorer,
//       every site to every element within 0 .. the largest maximum
//   end
#include "AutoBonds.h"
#include "BondDiagnostics.h"
#include "BondSearch.h"
#include "BuildPipeline.h"
#include "CrystalFromSites.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct OrderSite {
  std::string label, element;
  float x = 0, y = 0, z = 0;
};

struct OrderBond {
  std::string a, b;
  float minLength = 0, maxLength = 0;
};

struct OrderStructure {
  std::string title;
  bool molecule = false;
  float cell[6] = {10, 10, 10, 90, 90, 90};
  float range[6] = {0, 1, 0, 1, 0, 1};
  std::vector<OrderSite> sites;
  std::vector<OrderBond> bonds;
};

std::vector<OrderStructure> Read(const char *path) {
  std::vector<OrderStructure> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "structure") {
      out.emplace_back();
      std::getline(words >> std::ws, out.back().title);
    } else if (key == "molecule") {
      out.back().molecule = true;
    } else if (key == "cell") {
      for (float &v : out.back().cell)
        words >> v;
    } else if (key == "range") {
      for (float &v : out.back().range)
        words >> v;
    } else if (key == "site") {
      OrderSite s;
      words >> s.label >> s.element >> s.x >> s.y >> s.z;
      out.back().sites.push_back(s);
    } else if (key == "bond") {
      OrderBond b;
      words >> b.a >> b.b >> b.minLength >> b.maxLength;
      out.back().bonds.push_back(b);
    }
  }
  return out;
}

ElementCode El(const std::string &symbol) { return TwoCharsToShort(symbol.c_str()); }

// The structure in the window, sites in the order given, built.
bool Build(const OrderStructure &s, WindowRef window) {
  CrystalRec &c = *GetWindowCrystal(window);
  std::vector<SiteIn> sites;
  for (const OrderSite &site : s.sites)
    sites.push_back({site.label.c_str(), site.element.c_str(), site.x, site.y, site.z});
  FillCrystalFromSites(c, s.cell, "P 1", sites);
  for (const OrderBond &b : s.bonds) {
    BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
    spec.elementA = El(b.a);
    spec.elementB = El(b.b);
    spec.minLength = b.minLength;
    spec.maxLength = b.maxLength;
  }
  if (!s.molecule) {
    std::copy(std::begin(s.range), std::end(s.range), c.plotRange);
    c.viewDirection[2] = 1.0f;
    return RunNewCrystal(window, true, true, true);
  }
  // A molecule as its readers leave it: one atom per site, Cartesian.
  const int32_t n = static_cast<int32_t>(s.sites.size());
  c.molecule = 1;
  c.atoms = *CreateAtomsArray(n, 1, 1, 1);
  c.atomCount = c.atomsPerCell = n;
  for (int32_t k = 0; k < n; k++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    site.firstAtom = site.lastAtom = k;
    atom.site = static_cast<uint32_t>(k);
    std::copy(std::begin(site.xyz), std::end(site.xyz), atom.cart);
  }
  return RunNewMolecule(window, false, true, true, true);
}

void Dump(std::FILE *out, const OrderStructure &s, WindowRef window) {
  CrystalRec &c = *GetWindowCrystal(window);
  std::fprintf(out, "structure %s\n", s.title.c_str());
  auto label = [&](uint32_t atom) { return std::string(c.sites[c.atoms[atom].site].label); };
  for (uint32_t a = 0; a < static_cast<uint32_t>(c.atomCount); a++) {
    for (uint32_t b : c.atoms[a].bonds) {
      if (b < a)
        continue;
      const float *p = c.atoms[a].xyz, *q = c.atoms[b].xyz;
      if (s.molecule)
        std::fprintf(out, "bond %s 0 0 0 %s 0 0 0\n", label(a).c_str(), label(b).c_str());
      else
        std::fprintf(out, "bond %s %.4f %.4f %.4f %s %.4f %.4f %.4f\n", label(a).c_str(), double(p[0]), double(p[1]),
                     double(p[2]), label(b).c_str(), double(q[0]), double(q[1]), double(q[2]));
    }
  }
  for (int32_t k = 0; k < c.siteCount; k++)
    std::fprintf(out, "site %s %u\n", c.sites[static_cast<size_t>(k)].label,
                 c.sites[static_cast<size_t>(k)].coordination);
  float longest = 0;
  for (size_t k = 0; k < s.bonds.size(); k++) {
    const OrderBond &b = s.bonds[k];
    longest = std::max(longest, b.maxLength);
    int32_t n[4] = {-1, -1, -1, -1};
    const bool made =
        s.molecule
            ? TurboMoleculeBondDiagnostics(&c, El(b.a), El(b.b), b.minLength, b.maxLength, &n[0], &n[1], &n[2], &n[3])
            : TurboCrystalBondDiagnostics(&c, El(b.a), El(b.b), b.minLength, b.maxLength, &n[0], &n[1], &n[2], &n[3]);
    std::fprintf(out, "diag %zu %d %d %d %d %d\n", k, made ? 1 : 0, n[0], n[1], n[2], n[3]);
  }
  std::vector<uint32_t> from;
  std::set<ElementCode> elements;
  for (int32_t k = 0; k < c.siteCount; k++) {
    from.push_back(static_cast<uint32_t>(k));
    elements.insert(c.sites[static_cast<size_t>(k)].elements[0]);
  }
  const std::vector<ElementCode> to(elements.begin(), elements.end());
  uint32_t count = 0;
  float percent = 0;
  const auto found = DoDistanceExplorerSearch(&c, from.data(), static_cast<uint32_t>(from.size()), to.data(),
                                              static_cast<uint32_t>(to.size()), 0.0f, longest, &count, &percent);
  for (uint32_t k = 0; found && k < count; k++) {
    const DistanceExplorerResult &r = (*found)[k];
    std::fprintf(out, "dex %s %s %.4f\n", c.sites[r.from].label, c.sites[r.site].label, double(r.distance));
  }
  std::fprintf(out, "end\n");
}

TEST(BondOrderDump, WritesWhatEveryBondPathFinds) {
  const char *inPath = std::getenv("OV_BOND_ORDER_IN");
  const char *outPath = std::getenv("OV_BOND_ORDER_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "set OV_BOND_ORDER_IN and OV_BOND_ORDER_OUT to write bonds";
  std::FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  for (const OrderStructure &s : Read(inPath)) {
    FakeHost host;
    OVWindowRecord window;
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows.push_back(&window);
    host.graphPane = Rect{0, 0, 300, 400};
    if (Build(s, &window))
      Dump(out, s, &window);
    else
      std::fprintf(out, "error %s\n", s.title.c_str());
    DestroyMainWindowData(&window);
  }
  std::fclose(out);
  gPrefs = gFactoryPrefs;
}

} // namespace
