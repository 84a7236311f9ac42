// Writes the bonds and coordination numbers the engine finds for the
// structures of a text file (or of every *.txt file of a folder), so that an
// outside program can check them. Runs only when OV_BONDS_DUMP_IN (the file
// or folder) and OV_BONDS_DUMP_OUT (the file to write) are set;
// tests/oracle/bonds_oracle.py sets them and compares with python3-ase.
//
// Input, one keyword per line, '#' starts a comment:
//   structure <title>
//   cell <a> <b> <c> <alpha> <beta> <gamma>
//   spacegroup <symbol as the space-group table names it>
//   oracle <anything>                         (for the checker; ignored here)
//   site <label> <element> <x> <y> <z>
//   range <xmin> <xmax> <ymin> <ymax> <zmin> <zmax>   (minima not below 0)
//   view <u> <v> <w>                          (optional; default 0 0 1)
//   bond <element A> <element B> <min> <max>
//   end
// The sites are sorted by element (stably) before the cell is generated.
// Output per structure:
//   structure <title>
//   coordination <found 0|1> <some specification found nothing 0|1>
//   site <label> <element> <coordination number>
//   atom <element> <x> <y> <z> <in range 0|1> [bonded atom indices...]
//   end
// or "error <title>: <reason>".
#include "BondSearchReference.h"
#include "DumpInput.h"
#include "FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct DumpBond {
  std::string a, b;
  float minLength = 0.0f, maxLength = 0.0f;
};

struct DumpStructure {
  std::string title;
  float cell[6] = {10, 10, 10, 90, 90, 90};
  std::string symbol = "P 1";
  std::vector<bondref::SiteSpec> sites;
  float range[6] = {0, 1, 0, 1, 0, 1};
  float view[3] = {0, 0, 1};
  std::vector<DumpBond> bonds;
  std::string error;
};

std::vector<DumpStructure> ReadStructures(const std::filesystem::path &path) {
  const std::string fileName = path.filename().string();
  return dumpinput::ReadStructures<DumpStructure>(
      path, fileName,
      [&](DumpStructure &current, const std::string &key, std::istringstream &words, const std::string &line,
          int lineNumber) {
        bool ok = true;
        if (key == "cell") {
          ok = dumpinput::ReadNumbers(words, current.cell);
        } else if (key == "spacegroup") {
          current.symbol = dumpinput::Trim(line.substr(key.size()));
        } else if (key == "oracle") {
        } else if (key == "site") {
          bondref::SiteSpec site{};
          ok = static_cast<bool>(words >> site.label >> site.element >> site.x >> site.y >> site.z);
          current.sites.push_back(site);
        } else if (key == "range") {
          ok = dumpinput::ReadNumbers(words, current.range);
          for (int i = 0; i < 3; i++)
            ok = ok && current.range[2 * i] >= 0.0f && current.range[2 * i] <= current.range[2 * i + 1];
        } else if (key == "view") {
          ok = dumpinput::ReadNumbers(words, current.view);
        } else if (key == "bond") {
          DumpBond bond;
          ok = static_cast<bool>(words >> bond.a >> bond.b >> bond.minLength >> bond.maxLength);
          current.bonds.push_back(bond);
        } else {
          ok = false;
        }
        if (!ok && current.error.empty())
          current.error = fileName + " line " + std::to_string(lineNumber) + ": bad " + key;
      });
}

std::string Build(DumpStructure s, CrystalRec &c) {
  if (s.sites.empty())
    return "no sites";
  if (s.bonds.size() > static_cast<size_t>(kMaxBondSpecs))
    return "too many bonds";
  std::stable_sort(s.sites.begin(), s.sites.end(), [](const bondref::SiteSpec &a, const bondref::SiteSpec &b) {
    return static_cast<int16_t>(bondref::Element(a.element)) < static_cast<int16_t>(bondref::Element(b.element));
  });
  if (!bondref::MakeCrystal(c, s.cell, s.symbol.c_str(), s.sites, s.range))
    return "the cell could not be generated";
  bondref::SetView(c, s.view[0], s.view[1], s.view[2]);
  for (const DumpBond &bond : s.bonds)
    bondref::AddSpec(c, bond.a, bond.b, bond.minLength, bond.maxLength);
  return {};
}

std::string Symbol(ElementCode e) {
  std::string s(1, static_cast<char>(e >> 8));
  if ((e & 0xFF) != ' ')
    s += static_cast<char>(e & 0xFF);
  return s;
}

TEST(BondSearchDump, WritesBondsAndCoordinationNumbers) {
  const char *inPath = std::getenv("OV_BONDS_DUMP_IN");
  const char *outPath = std::getenv("OV_BONDS_DUMP_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "set OV_BONDS_DUMP_IN and OV_BONDS_DUMP_OUT to write bonds";
  FakeHost host;
  std::FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  int structures = 0, errors = 0;
  for (const auto &file : dumpinput::InputFiles(inPath)) {
    for (const DumpStructure &s : ReadStructures(file)) {
      structures++;
      CrystalRec c;
      const std::string error = s.error.empty() ? Build(s, c) : s.error;
      if (!error.empty()) {
        std::fprintf(out, "error %s: %s\n", s.title.c_str(), error.c_str());
        errors++;
        continue;
      }
      TurboGenerateBonds(&c);
      bool nothing = false;
      const bool found = TurboGetCoordinationNumbers(&c, &nothing);
      std::fprintf(out, "structure %s\ncoordination %d %d\n", s.title.c_str(), found ? 1 : 0, nothing ? 1 : 0);
      for (const AsymmetricUnitRecord &site : c.sites)
        std::fprintf(out, "site %s %s %u\n", site.label, Symbol(site.elements[0]).c_str(), site.coordination);
      for (const AtomRecord &atom : c.atoms) {
        std::fprintf(out, "atom %s %.7f %.7f %.7f %d", Symbol(c.sites[atom.site].elements[0]).c_str(),
                     static_cast<double>(atom.xyz[0]), static_cast<double>(atom.xyz[1]),
                     static_cast<double>(atom.xyz[2]), FracCoordsInRange(&c, atom.xyz) ? 1 : 0);
        for (uint32_t j : atom.bonds)
          std::fprintf(out, " %u", j);
        std::fprintf(out, "\n");
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
