// Builds the structures of a text file from cell, space group and sites to
// plotted atoms, bonds and polyhedra, and writes what came out, so that an
// outside program can check it. Runs only when OV_PIPELINE_DUMP_IN (the
// file) and OV_PIPELINE_DUMP_OUT (the file to write) are set;
// tests/oracle/pipeline_oracle.py sets them and checks the result with
// python3-gemmi and python3-ase.
//
// Input, one keyword per line, '#' starts a comment (the unit-cell dump's
// format, with a plot range and bond specifications):
//   structure <title>
//   cell <a> <b> <c> <alpha> <beta> <gamma>
//   spacegroup <symbol as the space-group table names it>
//   origin <0, 1 or 2>
//   shift <ox> <oy> <oz>                 (origin shift; optional)
//   oracle <name the checker understands>   (ignored here)
//   site <label> <element> <x> <y> <z> [occupancy]
//   range <xmin> <xmax> <ymin> <ymax> <zmin> <zmax>   (optional; 0 to 1)
//   bond <element A> <element B> <min> <max>          (any number)
//   end
// The sites are sorted by element, as the readers leave them, and the
// structure is built as a reader builds it (new view, centred, scaled).
// Output per structure:
//   structure <title>
//   range <xmin> <xmax> <ymin> <ymax> <zmin> <zmax>   (as stored)
//   site <index> <label> <element> <occupancy> <coordination> <x> <y> <z>
//   atom <index> <site> <x> <y> <z>        (visible atoms, fractional)
//   bond <i> <j>                           (i < j, both visible)
//   poly <centre> <faces> <vertex> ...     (distinct vertices)
//   alert <message>                        (any alert the build showed)
//   end
// or "error <title>: <reason>" when it could not be built.
#include "BuildPipeline.h"
#include "DumpInput.h"
#include "FakeHost.h"
#include "Polyhedra.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct DumpBond {
  std::string a, b;
  float min = 0, max = 0;
};

struct DumpStructure {
  std::string title;
  float cell[6] = {10, 10, 10, 90, 90, 90};
  std::string symbol = "P 1";
  int origin = 0;
  float shift[3] = {0, 0, 0};
  float range[6] = {0, 1, 0, 1, 0, 1};
  std::vector<dumpinput::Site> sites;
  std::vector<DumpBond> bonds;
  std::string error;
};

ElementCode ElementFromText(const std::string &text) {
  const char symbol[3] = {text[0], text.size() > 1 ? text[1] : ' ', '\0'};
  return TwoCharsToShort(symbol);
}

std::vector<DumpStructure> ReadStructures(const std::string &path) {
  return dumpinput::ReadStructures<DumpStructure>(
      path, path,
      [](DumpStructure &current, const std::string &key, std::istringstream &words, const std::string &line,
         int lineNumber) {
        auto fail = [&](const char *what) {
          if (current.error.empty())
            current.error = "line " + std::to_string(lineNumber) + ": " + what;
        };
        if (key == "cell") {
          if (!dumpinput::ReadNumbers(words, current.cell))
            fail("bad cell");
        } else if (key == "spacegroup") {
          current.symbol = dumpinput::Trim(line.substr(key.size()));
        } else if (key == "origin") {
          if (!(words >> current.origin))
            fail("bad origin");
        } else if (key == "shift") {
          if (!dumpinput::ReadNumbers(words, current.shift))
            fail("bad shift");
        } else if (key == "range") {
          if (!dumpinput::ReadNumbers(words, current.range))
            fail("bad range");
        } else if (key == "oracle") {
          // for the checker
        } else if (key == "site") {
          dumpinput::Site site;
          const bool read = dumpinput::ReadSite(words, site);
          if (!read || site.element.empty() || site.element.size() > 2 || site.label.size() >= kSiteLabelSize)
            fail("bad site");
          current.sites.push_back(site);
        } else if (key == "bond") {
          DumpBond bond;
          words >> bond.a >> bond.b >> bond.min >> bond.max;
          if (!words || bond.a.empty() || bond.a.size() > 2 || bond.b.empty() || bond.b.size() > 2)
            fail("bad bond");
          current.bonds.push_back(bond);
        } else {
          fail("unknown keyword");
        }
      });
}

// Fills the window's structure as a reader would; answers the error, if any.
std::string Fill(const DumpStructure &s, CrystalRec &c) {
  ClearCrystalRec(&c);
  c.a = s.cell[0];
  c.b = s.cell[1];
  c.c = s.cell[2];
  c.alpha = s.cell[3];
  c.beta = s.cell[4];
  c.gamma = s.cell[5];
  if (s.symbol.size() >= sizeof c.spaceGroup)
    return "symbol too long";
  MyStrCopy(std::span<char>(c.spaceGroup), s.symbol);
  c.originChoice = static_cast<uint8_t>(s.origin);
  std::copy(std::begin(s.shift), std::end(s.shift), c.originShift);
  std::copy(std::begin(s.range), std::end(s.range), c.plotRange);
  if (s.sites.empty())
    return "no sites";
  if (s.bonds.size() > static_cast<size_t>(kMaxBondSpecs))
    return "too many bond specifications";
  const int32_t n = static_cast<int32_t>(s.sites.size());
  auto sites = CreateAsymmetricUnit(n);
  if (!sites)
    return "no memory";
  c.sites = std::move(*sites);
  c.siteCount = n;
  for (int32_t k = 0; k < n; k++) {
    const dumpinput::Site &in = s.sites[static_cast<size_t>(k)];
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    MyStrCopy(std::span<char>(site.label), in.label);
    site.elements[0] = ElementFromText(in.element);
    site.occupancies[0] = in.occupancy;
    std::copy(std::begin(in.xyz), std::end(in.xyz), site.xyz);
  }
  SortAUByElement(&c);
  for (const DumpBond &in : s.bonds) {
    BondSpec &spec = c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)];
    spec.elementA = ElementFromText(in.a);
    spec.elementB = ElementFromText(in.b);
    spec.minLength = in.min;
    spec.maxLength = in.max;
    spec.style = 1;
  }
  return {};
}

std::string ElementText(ElementCode code) {
  char sym[2];
  ShortToTwoChars(code, sym);
  std::string text(sym, 2);
  return dumpinput::Trim(text);
}

void WriteStructure(std::FILE *out, const std::string &title, CrystalRec &c, const FakeHost &host) {
  std::fprintf(out, "structure %s\n", title.c_str());
  std::fprintf(out, "range %.7f %.7f %.7f %.7f %.7f %.7f\n", double(c.plotRange[0]), double(c.plotRange[1]),
               double(c.plotRange[2]), double(c.plotRange[3]), double(c.plotRange[4]), double(c.plotRange[5]));
  for (int32_t s = 0; s < c.siteCount; s++) {
    const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    std::fprintf(out, "site %d %s %s %.6f %u %.7f %.7f %.7f\n", s, std::string(CStrView(site.label)).c_str(),
                 ElementText(site.elements[0]).c_str(), double(site.occupancies[0]), site.coordination,
                 double(site.xyz[0]), double(site.xyz[1]), double(site.xyz[2]));
  }
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (atom.visible)
      std::fprintf(out, "atom %d %u %.7f %.7f %.7f\n", k, atom.site, double(atom.xyz[0]), double(atom.xyz[1]),
                   double(atom.xyz[2]));
  }
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    for (uint32_t j : atom.bonds)
      if (j > static_cast<uint32_t>(k))
        std::fprintf(out, "bond %d %u\n", k, j);
  }
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    if (!AtomPolyhedron(&c, atom))
      continue;
    std::set<uint32_t> vertices;
    for (const PolyFace &face : AtomPolyhedron(&c, atom)->faces)
      vertices.insert(face.vertices.begin(), face.vertices.end());
    std::fprintf(out, "poly %d %u", k, AtomPolyhedron(&c, atom)->faceCount);
    for (uint32_t v : vertices)
      std::fprintf(out, " %u", v);
    std::fprintf(out, "\n");
  }
  for (const AlertRequest &alert : host.alerts)
    std::fprintf(out, "alert %s\n", alert.message.c_str());
  std::fprintf(out, "end\n");
}

TEST(BuildPipelineDump, WritesTheBuiltStructures) {
  const char *inPath = std::getenv("OV_PIPELINE_DUMP_IN");
  const char *outPath = std::getenv("OV_PIPELINE_DUMP_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "set OV_PIPELINE_DUMP_IN and OV_PIPELINE_DUMP_OUT to write built structures";
  std::FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  int structures = 0;
  int errors = 0;
  for (const DumpStructure &s : ReadStructures(inPath)) {
    structures++;
    FakeHost host;
    OVWindowRecord window;
    ASSERT_TRUE(InitMainWindowData(&window));
    window.mainData->fileOpen = 1;
    host.windows.push_back(&window);
    host.graphPane = Rect{0, 0, 300, 400};
    std::string error = s.error.empty() ? Fill(s, *GetWindowCrystal(&window)) : s.error;
    if (error.empty() && !RunNewCrystal(&window, true, true, true))
      error = host.closedWindows.empty() ? "the build stopped" : "the build closed the window";
    // The polyhedra as the polyhedral model makes them when it is chosen.
    if (error.empty())
      DefinePendingPolyhedra(GetWindowCrystal(&window));
    if (error.empty())
      error = CheckCrystalInvariants(*GetWindowCrystal(&window));
    if (!error.empty()) {
      std::fprintf(out, "error %s: %s\n", s.title.c_str(), error.c_str());
      errors++;
    } else {
      WriteStructure(out, s.title, *GetWindowCrystal(&window), host);
    }
    DestroyMainWindowData(&window);
  }
  std::fclose(out);
  EXPECT_GT(structures, 0);
  EXPECT_EQ(errors, 0);
}

} // namespace
