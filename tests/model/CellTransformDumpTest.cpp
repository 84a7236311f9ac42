// Writes what the cell transformations make of the structures of a text file
// (or of every *.txt file of a folder), so that an outside program can check
// them. Runs only when OV_CELLTRANSFORM_DUMP_IN (the file or folder) and
// OV_CELLTRANSFORM_DUMP_OUT (the file to write) are set; tests/oracle/
// celltransform_oracle.py sets them and checks the results with
// python3-gemmi, python3-spglib and python3-ase.
//
// Input: the structure files of the unit-cell dump (UnitCellDumpTest.cpp);
// structures whose title starts with a digit or "shift" (the random set)
// are skipped. Output per structure and transformation:
//   case <title> | <operation>
//   matrix <T, nine numbers, rows>        (supercells, matrices, projections)
//   origin <dx> <dy> <dz>                 (origin shift)
//   cell <a> <b> <c> <alpha> <beta> <gamma>
//   result <symbol> | <lattice letter logged, or -> | <atoms per cell>
//   atom <element> <x> <y> <z>            (every atom of the first cell)
//   end
// or "skip <title> | <operation>" when the transformation refused the
// structure (a preset that does not validate), "error ..." on failure.
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "CrystalFromSites.h"
#include "DumpInput.h"
#include "FakeHost.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "SymmetryCards.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
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
  return dumpinput::ReadStructures<DumpStructure>(
      path, path.filename().string(),
      [](DumpStructure &s, const std::string &key, std::istringstream &words, const std::string &line, int) {
        if (key == "cell") {
          if (!dumpinput::ReadNumbers(words, s.cell))
            s.error = "bad cell";
        } else if (key == "spacegroup") {
          s.symbol = dumpinput::Trim(line.substr(key.size()));
        } else if (key == "origin") {
          words >> s.origin;
        } else if (key == "shift") {
          dumpinput::ReadNumbers(words, s.shift);
        } else if (key == "site") {
          dumpinput::Site site;
          if (!dumpinput::ReadSite(words, site))
            s.error = "bad site";
          s.sites.push_back(site);
        }
      });
}

struct Operation {
  std::string name;
  std::vector<float> matrix; // nine values, or none
  float origin[3] = {0, 0, 0};
  std::function<bool(WindowRef)> run;
};

std::vector<Operation> Operations(char letter) {
  std::vector<Operation> ops;
  auto diagonal = [](int a, int b, int c) {
    return std::vector<float>{float(a), 0, 0, 0, float(b), 0, 0, 0, float(c)};
  };
  for (auto [a, b, c] : {std::tuple{2, 2, 2}, std::tuple{3, 1, 2}})
    ops.push_back({"supercell " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c),
                   diagonal(a, b, c),
                   {},
                   [a, b, c](WindowRef w) { return DefineSupercell(w, a, b, c); }});
  auto transform = [&](const std::string &name, const float T[9]) {
    std::vector<float> m(T, T + 9);
    if (!VerifyLatticeTransformationMatrix(letter, T)) {
      ops.push_back({name, {}, {}, nullptr});
      return;
    }
    ops.push_back({name, m, {}, [m](WindowRef w) { return TransformCell(w, m.data()); }});
  };
  for (char target : std::string("PABCIFR")) {
    float T[9];
    if (GetLatticeTransformationMatrix(letter, target, T))
      transform(std::string("preset ") + target, T);
  }
  const float cyclic[9] = {0, 1, 0, 0, 0, 1, 1, 0, 0};
  const float skewed[9] = {1, 1, 0, -1, 1, 0, 0, 0, 2};
  transform("matrix cyclic", cyclic);
  transform("matrix skewed", skewed);
  for (auto [h, k, l] : {std::tuple{1, 1, 0}, std::tuple{1, 1, 1}, std::tuple{-1, 0, 2}}) {
    float T[9];
    const std::string name = "plane " + std::to_string(h) + " " + std::to_string(k) + " " + std::to_string(l);
    if (!GetProjectionTransformationMatrix(letter, h, k, l, T)) {
      ops.push_back({name, {}, {}, nullptr});
      continue;
    }
    ops.push_back({name, std::vector<float>(T, T + 9), {}, [h, k, l](WindowRef w) { return ProjectCell(w, h, k, l); }});
  }
  Operation origin{"origin", {}, {0.1f, 0.25f, -0.3f}, [](WindowRef w) {
                     MoveOrigin(w, 0.1f, 0.25f, -0.3f);
                     return true;
                   }};
  ops.push_back(origin);
  return ops;
}

bool Build(const DumpStructure &s, WindowRef window) {
  CrystalRec &c = *GetWindowCrystal(window);
  std::vector<SiteIn> sites;
  for (const dumpinput::Site &in : s.sites)
    sites.push_back({in.label.c_str(), in.element.c_str(), in.xyz[0], in.xyz[1], in.xyz[2]});
  FillCrystalFromSites(c, s.cell, s.symbol.c_str(), sites);
  for (size_t k = 0; k < s.sites.size(); k++) {
    const std::string &e = s.sites[k].element;
    const char symbol[3] = {e[0], e.size() > 1 ? e[1] : ' ', '\0'};
    c.sites[k].elements[0] = TwoCharsToShort(symbol);
    c.sites[k].occupancies[0] = s.sites[k].occupancy;
  }
  c.originChoice = static_cast<uint8_t>(s.origin);
  for (int i = 0; i < 3; i++)
    c.originShift[i] = s.shift[i];
  return RunNewCrystal(window, true, true, true);
}

TEST(CellTransformDump, WritesTheTransformedCells) {
  const char *inPath = std::getenv("OV_CELLTRANSFORM_DUMP_IN");
  const char *outPath = std::getenv("OV_CELLTRANSFORM_DUMP_OUT");
  if (!inPath || !outPath)
    GTEST_SKIP() << "set OV_CELLTRANSFORM_DUMP_IN and OV_CELLTRANSFORM_DUMP_OUT to write transformed cells";
  FakeHost host;
  host.windowTitle = "dump";
  host.graphPane = Rect{0, 0, 300, 300};
  std::FILE *out = std::fopen(outPath, "w");
  ASSERT_NE(out, nullptr) << outPath;
  int cases = 0;
  for (const auto &file : dumpinput::InputFiles(inPath))
    for (const DumpStructure &s : ReadStructures(file)) {
      if (s.title.empty() || std::isdigit(static_cast<unsigned char>(s.title[0])) || s.title.rfind("shift", 0) == 0)
        continue;
      if (!s.error.empty()) {
        std::fprintf(out, "error %s: %s\n", s.title.c_str(), s.error.c_str());
        continue;
      }
      OVWindowRecord window;
      ASSERT_TRUE(InitMainWindowData(&window));
      window.mainData->fileOpen = 1;
      host.windows = {&window};
      ASSERT_TRUE(Build(s, &window)) << s.title;
      const CrystalRec &built = *GetWindowCrystal(&window);
      const char letter = EffectiveLatticeLetter(built.latticeLetter, built.alpha, built.beta, built.gamma);
      for (const Operation &op : Operations(letter)) {
        if (!op.run) {
          std::fprintf(out, "skip %s | %s\n", s.title.c_str(), op.name.c_str());
          continue;
        }
        ASSERT_TRUE(Build(s, &window)) << s.title;
        host.log.clear();
        if (!op.run(&window)) {
          std::fprintf(out, "error %s | %s: refused\n", s.title.c_str(), op.name.c_str());
          continue;
        }
        cases++;
        CrystalRec &c = *GetWindowCrystal(&window);
        std::fprintf(out, "case %s | %s\n", s.title.c_str(), op.name.c_str());
        if (!op.matrix.empty()) {
          std::fprintf(out, "matrix");
          for (float v : op.matrix)
            std::fprintf(out, " %.9g", static_cast<double>(v));
          std::fprintf(out, "\n");
        } else {
          std::fprintf(out, "origin %.9g %.9g %.9g\n", static_cast<double>(op.origin[0]),
                       static_cast<double>(op.origin[1]), static_cast<double>(op.origin[2]));
        }
        std::fprintf(out, "cell %.7f %.7f %.7f %.5f %.5f %.5f\n", double(c.a), double(c.b), double(c.c),
                     double(c.alpha), double(c.beta), double(c.gamma));
        const size_t at = host.log.find("Detected lattice type: ");
        const char detected = at == std::string::npos ? '-' : host.log[at + 23];
        std::fprintf(out, "result %s | %c | %d\n", c.spaceGroup, detected, c.atomsPerCell);
        auto cell = ExtractFirstUnitCell(&c);
        ASSERT_TRUE(cell.has_value());
        for (const AtomRecord &a : *cell) {
          const ElementCode e = c.sites[a.site].elements[0];
          char symbol[3] = {static_cast<char>(e >> 8), static_cast<char>(e & 0xFF), '\0'};
          if (symbol[1] == ' ')
            symbol[1] = '\0';
          std::fprintf(out, "atom %s %.7f %.7f %.7f\n", symbol, double(a.xyz[0]), double(a.xyz[1]), double(a.xyz[2]));
        }
        std::fprintf(out, "end\n");
      }
      host.windows.clear();
      DestroyMainWindowData(&window);
    }
  std::fclose(out);
  EXPECT_GT(cases, 0);
}

} // namespace
