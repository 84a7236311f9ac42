// Writes the unit cells the engine generates for the structures of a text
// file (or of every *.txt file of a folder), so that an outside program can
// check them. Runs only when OV_UNITCELL_DUMP_IN (the file or folder) and
// OV_UNITCELL_DUMP_OUT (the file to write) are set; tests/oracle/
// unitcell_oracle.py sets them and compares the cells with python3-gemmi.
//
// Input, one keyword per line, '#' starts a comment:
//   structure <title>
//   cell <a> <b> <c> <alpha> <beta> <gamma>
//   spacegroup <symbol as the space-group table names it>
//   origin <0, 1 or 2>
//   shift <ox> <oy> <oz>              (origin shift; optional)
//   oracle <name the checker understands>   (ignored here)
//   site <label> <element> <x> <y> <z> [occupancy]
//   end
// Output per structure:
//   structure <title>
//   group <symbol> | <lattice letter> | <operators>
//   site <label> <atoms per cell>      (each site kept, in order)
//   atom <x> <y> <z>                   (its atoms, in order)
//   end
// or "error <title>: <reason>" when it could not be built.
#include "DumpInput.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "UnitCell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct DumpStructure {
  std::string title;
  float cell[6] = {10, 10, 10, 90, 90, 90};
  std::string symbol = "P 1";
  int origin = 0;
  float shift[3] = {0, 0, 0};
  std::vector<dumpinput::Site> sites;
  std::string error;
};

std::vector<DumpStructure> ReadStructures(const std::filesystem::path &path) {
  const std::string fileName = path.filename().string();
  return dumpinput::ReadStructures<DumpStructure>(
      path, fileName,
      [&](DumpStructure &current, const std::string &key, std::istringstream &words, const std::string &line,
          int lineNumber) {
        auto fail = [&](const char *what) {
          if (current.error.empty())
            current.error = fileName + " line " + std::to_string(lineNumber) + ": " + what;
        };
        if (key == "cell") {
          if (!dumpinput::ReadNumbers(words, current.cell))
            fail("bad cell");
        } else if (key == "spacegroup") {
          current.symbol = dumpinput::Trim(line.substr(key.size()));
        } else if (key == "origin") {
          words >> current.origin;
          if (!words)
            fail("bad origin");
        } else if (key == "shift") {
          if (!dumpinput::ReadNumbers(words, current.shift))
            fail("bad shift");
        } else if (key == "oracle") {
          // for the checker
        } else if (key == "site") {
          dumpinput::Site site;
          if (!dumpinput::ReadSite(words, site))
            fail("bad site");
          current.sites.push_back(site);
        } else {
          fail("unknown keyword");
        }
      });
}

// Builds the structure and generates its cell; answers the error, if any.
std::string Generate(const DumpStructure &s, CrystalRec &c) {
  InitBlankCrystalRec(&c);
  c.a = s.cell[0];
  c.b = s.cell[1];
  c.c = s.cell[2];
  c.alpha = s.cell[3];
  c.beta = s.cell[4];
  c.gamma = s.cell[5];
  if (!CellIsValid(&c))
    return "invalid cell";
  if (s.symbol.size() >= sizeof c.spaceGroup)
    return "symbol too long";
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", s.symbol.c_str());
  c.originChoice = static_cast<uint8_t>(s.origin);
  for (int i = 0; i < 3; i++)
    c.originShift[i] = s.shift[i];
  if (s.sites.empty())
    return "no sites";
  const int32_t n = static_cast<int32_t>(s.sites.size());
  auto sites = CreateAsymmetricUnit(n);
  if (!sites)
    return "no memory";
  c.sites = std::move(*sites);
  c.siteCount = n;
  for (int32_t k = 0; k < n; k++) {
    const dumpinput::Site &in = s.sites[static_cast<size_t>(k)];
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
    if (in.label.size() >= sizeof site.label || in.element.empty() || in.element.size() > 2)
      return "bad label or element " + in.label;
    std::snprintf(site.label, sizeof site.label, "%s", in.label.c_str());
    const char symbol[3] = {in.element[0], in.element.size() > 1 ? in.element[1] : ' ', '\0'};
    site.elements[0] = TwoCharsToShort(symbol);
    site.occupancies[0] = in.occupancy;
    site.atomType = static_cast<uint32_t>(k);
    for (int i = 0; i < 3; i++)
      site.xyz[i] = in.xyz[i];
  }
  RemoveSymmetryRelatedSites(&c);
  if (!GenCell(&c))
    return "GenCell failed";
  return {};
}

TEST(UnitCellDump, WritesTheGeneratedCells) {
  const char *inPath = std::getenv("OV_UNITCELL_DUMP_IN");
  const char *outPath = std::getenv("OV_UNITCELL_DUMP_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "set OV_UNITCELL_DUMP_IN and OV_UNITCELL_DUMP_OUT to write generated cells";
  FakeHost host;
  std::FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  int structures = 0;
  int errors = 0;
  for (const auto &file : dumpinput::InputFiles(inPath)) {
    for (const DumpStructure &s : ReadStructures(file)) {
      structures++;
      CrystalRec c;
      std::string error = s.error.empty() ? Generate(s, c) : s.error;
      if (!error.empty()) {
        std::fprintf(out, "error %s: %s\n", s.title.c_str(), error.c_str());
        errors++;
        continue;
      }
      int32_t nOps = 0;
      GetCrystalGEPs(&c, &nOps);
      std::fprintf(out, "structure %s\n", s.title.c_str());
      std::fprintf(out, "group %s | %c | %d\n", c.spaceGroup, c.latticeLetter, nOps);
      for (int32_t k = 0; k < c.siteCount; k++) {
        const AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(k)];
        std::fprintf(out, "site %s %d\n", site.label, site.atomsPerCell);
        for (int32_t a = site.firstAtom; a <= site.lastAtom; a++) {
          const AtomRecord &atom = c.atoms[static_cast<size_t>(a)];
          std::fprintf(out, "atom %.7f %.7f %.7f\n", static_cast<double>(atom.xyz[0]), static_cast<double>(atom.xyz[1]),
                       static_cast<double>(atom.xyz[2]));
        }
      }
      std::fprintf(out, "end\n");
    }
  }
  std::fclose(out);
  EXPECT_GT(structures, 0);
  EXPECT_EQ(errors, 0);
  EXPECT_TRUE(host.alerts.empty());
}

} // namespace
