// Opening PDB files through the import path: the read alone, and the read
// with the build a window makes of it (`OpenTextFile`).
//   a 5,000-atom protein-like molecule: 20 helices of 50 residues (N, CA,
//     C, O, CB each), no CONECT, so the automatic bond search runs;
//   the same atoms in a P 21 21 21 cell: 20,000 atoms in the cell after its
//     symmetry.
// The files are generated once into the temporary folder. No host is
// installed: the Log, status and alerts stay silent.
#include "import/ImportPath.h"
#include "window/MainWindowData.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// Backbone and side-chain atoms about a helix axis: radius (A), angle
// offset (degrees), height offset (A) and element.
struct HelixAtom {
  const char *name;
  double radius, turn, rise;
  const char *element;
};
constexpr HelixAtom kResidue[] = {
    {"N", 1.55, -28.0, -0.90, "N"}, {"CA", 2.30, 0.0, 0.0, "C"},   {"C", 1.65, 28.0, 0.95, "C"},
    {"O", 1.95, 40.0, 2.10, "O"},   {"CB", 3.30, 6.0, -0.45, "C"},
};

std::string ProteinText(bool crystal) {
  std::string o;
  char line[96];
  if (crystal)
    o += "CRYST1   60.000   55.000   48.000  90.00  90.00  90.00 P 21 21 21     4\n";
  int serial = 0;
  for (int h = 0; h < 20; h++) {
    const double cx = 8.0 + 11.0 * (h % 5), cy = 8.0 + 11.0 * (h / 5 % 4);
    for (int r = 0; r < 50; r++) {
      const double phi = r * 100.0, z = 1.5 * r - 30.0;
      for (const HelixAtom &a : kResidue) {
        const double t = (phi + a.turn) * M_PI / 180.0;
        std::snprintf(line, sizeof line, "ATOM  %5d  %-3s ALA %c%4d    %8.3f%8.3f%8.3f  1.00 20.00          %2s\n",
                      ++serial, a.name, 'A' + h, r + 1, cx + a.radius * std::cos(t), cy + a.radius * std::sin(t),
                      z + a.rise + (crystal ? 40.0 : 0.0), a.element);
        o += line;
      }
    }
  }
  o += "END\n";
  return o;
}

fs::path Generated(bool crystal) {
  static const fs::path files[2] = {benchtemp::Name("protein.pdb"), benchtemp::Name("cell.pdb")};
  const fs::path &file = files[crystal];
  // Written afresh by each process: a file of an earlier run is not trusted.
  static bool written[2] = {false, false};
  if (!written[crystal] || !fs::exists(file)) {
    std::ofstream(file, std::ios::trunc) << ProteinText(crystal);
    written[crystal] = true;
  }
  return file;
}

void Read(benchmark::State &state, bool crystal) {
  const fs::path file = Generated(crystal);
  for (auto _ : state) {
    ImportResult result;
    std::string why;
    if (!ReadStructureFile(file, result, &why)) {
      state.SkipWithError(why.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.structures.data());
  }
}

void Open(benchmark::State &state, bool crystal) {
  const fs::path file = Generated(crystal);
  OVWindowRecord window;
  InitMainWindowData(&window);
  for (auto _ : state)
    if (!OpenTextFile(&window, file, ImportChoice::TakeFirst))
      state.SkipWithError("the file was not opened");
  const CrystalRec &c = *GetWindowCrystal(&window);
  state.counters["atoms"] = c.atomCount;
  state.counters["cellAtoms"] = c.molecule ? 0 : c.atomsPerCell;
  DestroyMainWindowData(&window);
}

} // namespace

BENCHMARK_CAPTURE(Read, protein5000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, protein5000, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Read, cell20000, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, cell20000, true)->Unit(benchmark::kMillisecond);
