// Opening a simulation box of 20,000 atoms (6,666 waters and an ion pair in
// a triclinic box of about 58 A, molecules across its walls) in a headless
// window of 1000 x 800: read, built as a crystal in P 1 with its bonds and
// polyhedra, as File > Open does (no plot). One benchmark per file kind:
// a coordinate file (elements from atom names), a data file of style full
// with its 13,332 bonds, and a configuration file centred on its cell.
// The bound: each opens in well under a second in a Release build.
#include "import/ImportPath.h"
#include "window/MainWindowData.h"

#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;
using benchscene::MakeHeadlessScene;

constexpr int kWaters = 6666;
constexpr int kGrid = 19;          // waters per edge (19^3 >= kWaters)
constexpr double kSpacing = 3.08;  // A between waters
constexpr double kTilt[3] = {4.0, -3.0, 2.5}; // xy xz yz (A)

struct Atom {
  const char *name;
  int molecule;
  double x, y, z;
};

// Waters on a grid shifted by half a spacing, so that the first layer
// lies outside the box's lower walls; then Na and Cl.
std::vector<Atom> Box() {
  std::vector<Atom> atoms;
  for (int k = 0; k < kWaters; k++) {
    const double o[3] = {(k % kGrid) * kSpacing - 0.5 * kSpacing, (k / kGrid % kGrid) * kSpacing - 0.5 * kSpacing,
                         (k / (kGrid * kGrid)) * kSpacing - 0.5 * kSpacing};
    atoms.push_back({"OW", k + 1, o[0], o[1], o[2]});
    atoms.push_back({"HW1", k + 1, o[0] + 0.9572, o[1], o[2]});
    atoms.push_back({"HW2", k + 1, o[0] - 0.2400, o[1] + 0.9266, o[2]});
  }
  atoms.push_back({"NA", kWaters + 1, 1.0, 1.0, 57.0});
  atoms.push_back({"CL", kWaters + 2, 57.0, 57.0, 1.0});
  return atoms;
}

constexpr double kSide = kGrid * kSpacing;

fs::path WriteFile(const std::string &name, const std::function<void(std::FILE *)> &write) {
  const fs::path file = benchtemp::Name(name);
  std::FILE *f = std::fopen(file.c_str(), "w");
  write(f);
  std::fclose(f);
  return file;
}

fs::path Gro() {
  static const fs::path file = WriteFile("ov-box-20000.gro", [](std::FILE *f) {
    const auto atoms = Box();
    std::fprintf(f, "waters\n%zu\n", atoms.size());
    int n = 0;
    for (const Atom &a : atoms)
      std::fprintf(f, "%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n", a.molecule % 100000, a.name[1] == 'W' ? "SOL" : a.name, a.name,
                   ++n % 100000, a.x / 10, a.y / 10, a.z / 10);
    std::fprintf(f, "%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f%10.5f\n", kSide / 10, kSide / 10, kSide / 10, 0.0,
                 0.0, kTilt[0] / 10, 0.0, kTilt[1] / 10, kTilt[2] / 10);
  });
  return file;
}

fs::path Data() {
  static const fs::path file = WriteFile("data.ov-box-20000", [](std::FILE *f) {
    const auto atoms = Box();
    std::fprintf(f, "waters\n\n%zu atoms\n%d bonds\n4 atom types\n1 bond types\n\n", atoms.size(), 2 * kWaters);
    std::fprintf(f, "0 %.4f xlo xhi\n0 %.4f ylo yhi\n0 %.4f zlo zhi\n%.4f %.4f %.4f xy xz yz\n\n", kSide, kSide, kSide,
                 kTilt[0], kTilt[1], kTilt[2]);
    std::fprintf(f, "Masses\n\n1 15.9994\n2 1.008\n3 22.98977\n4 35.453\n\nAtoms # full\n\n");
    int n = 0;
    for (const Atom &a : atoms) {
      const int type = a.name[0] == 'O' ? 1 : a.name[0] == 'H' ? 2 : a.name[0] == 'N' ? 3 : 4;
      std::fprintf(f, "%d %d %d 0.0 %.4f %.4f %.4f 0 0 0\n", ++n, a.molecule, type, a.x, a.y, a.z);
    }
    std::fprintf(f, "\nBonds\n\n");
    for (int k = 0; k < kWaters; k++)
      std::fprintf(f, "%d 1 %d %d\n%d 1 %d %d\n", 2 * k + 1, 3 * k + 1, 3 * k + 2, 2 * k + 2, 3 * k + 1, 3 * k + 3);
  });
  return file;
}

fs::path Config() {
  static const fs::path file = WriteFile("CONFIG-ov-box-20000", [](std::FILE *f) {
    const auto atoms = Box();
    std::fprintf(f, "waters\n%10d%10d%10zu\n", 0, 3, atoms.size());
    std::fprintf(f, "%20.10f%20.10f%20.10f\n%20.10f%20.10f%20.10f\n%20.10f%20.10f%20.10f\n", kSide, 0.0, 0.0, kTilt[0],
                 kSide, 0.0, kTilt[1], kTilt[2], kSide);
    int n = 0;
    for (const Atom &a : atoms)
      std::fprintf(f, "%-8s%10d\n%20.10f%20.10f%20.10f\n", a.name[1] == 'W' ? (a.name[0] == 'O' ? "OW" : "HW") : a.name,
                   ++n, a.x - kSide / 2, a.y - kSide / 2, a.z - kSide / 2);
  });
  return file;
}

void Open(benchmark::State &state, const fs::path &file) {
  for (auto _ : state) {
    auto scene = MakeHeadlessScene(1000, 800);
    if (!OpenTextFile(&scene->record, file, ImportChoice::TakeFirst)) {
      state.SkipWithError("the box could not be opened");
      return;
    }
    state.PauseTiming();
    const CrystalRec &c = *GetWindowCrystal(&scene->record);
    state.counters["cell atoms"] = c.atomsPerCell;
    scene.reset();
    state.ResumeTiming();
  }
}

void BM_OpenCoordinateFile20k(benchmark::State &state) { Open(state, Gro()); }
void BM_OpenDataFile20k(benchmark::State &state) { Open(state, Data()); }
void BM_OpenConfiguration20k(benchmark::State &state) { Open(state, Config()); }

} // namespace

BENCHMARK(BM_OpenCoordinateFile20k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenDataFile20k)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenConfiguration20k)->Unit(benchmark::kMillisecond)->Iterations(3);
