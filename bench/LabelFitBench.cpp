// Reading cost of files whose labels collide once shortened to the record's
// seven characters, at full size and at a tenth of it, so that the two
// times show the cost linear in the file:
//   LAMMPS: fcc copper (104,400 atoms at full size), whose atoms are named
//     Cu1, Cu2, ...: Cu100000 and after meet the taken Cu10000;
//   XYZ: 20,000 atoms of the species Caaaaaaaaa, all one label shortened.
// Read through the import path (`ReadStructureFile`); the files are written
// once into the temporary folder.
#include "import/ImportPath.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path Written(const std::string &name, const std::string &text) {
  const fs::path file = fs::temp_directory_path() / ("ovbench-" + std::to_string(::getpid()) + "-" + name);
  std::ofstream(file, std::ios::trunc | std::ios::binary) << text;
  return file;
}

// fcc copper of nx x ny x nz cells, four atoms each.
std::string CopperData(int nx, int ny, int nz) {
  constexpr double a = 3.615;
  const long atoms = 4L * nx * ny * nz;
  char line[128];
  std::string o = "fcc copper\n\n" + std::to_string(atoms) + " atoms\n1 atom types\n\n";
  std::snprintf(line, sizeof line, "0 %.3f xlo xhi\n0 %.3f ylo yhi\n0 %.3f zlo zhi\n\n", a * nx, a * ny, a * nz);
  o += line;
  o += "Masses\n\n1 63.546\n\nAtoms # atomic\n\n";
  static constexpr double kBasis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
  long id = 1;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++)
      for (int k = 0; k < nz; k++)
        for (const auto &b : kBasis) {
          std::snprintf(line, sizeof line, "%ld 1 %.4f %.4f %.4f\n", id++, a * (i + b[0]), a * (j + b[1]),
                        a * (k + b[2]));
          o += line;
        }
  return o;
}

std::string CollidingSpecies(int atoms) {
  std::string o = std::to_string(atoms) + "\ncolliding labels\n";
  char line[96];
  for (int k = 0; k < atoms; k++) {
    std::snprintf(line, sizeof line, "Caaaaaaaaa %.3f %.3f %.3f\n", 3.0 * (k % 40), 3.0 * (k / 40 % 40),
                  3.0 * (k / 1600));
    o += line;
  }
  return o;
}

void Read(benchmark::State &state, const fs::path &file) {
  const auto bytes = static_cast<int64_t>(fs::file_size(file));
  for (auto _ : state) {
    ImportResult result;
    std::string why;
    benchmark::DoNotOptimize(ReadStructureFile(file, result, &why));
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_LammpsCopperLabels(benchmark::State &state) {
  static const fs::path full = Written("copper-full.lmp", CopperData(29, 30, 30)),
                        tenth = Written("copper-tenth.lmp", CopperData(9, 10, 29));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_LammpsCopperLabels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_XyzCollidingLabels(benchmark::State &state) {
  static const fs::path full = Written("labels-full.xyz", CollidingSpecies(20000)),
                        tenth = Written("labels-tenth.xyz", CollidingSpecies(2000));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_XyzCollidingLabels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
