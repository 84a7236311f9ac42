// Reading a trajectory of 100,000 atoms in three frames (the chooser's list:
// every frame read, none built), as a text dump with scrambled atom IDs and
// as a formatted HISTORY with velocities. The bound: each reads in about a
// second in a Release build.
#include "import/ImportPath.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

constexpr int kAtoms = 100000;
constexpr int kFrames = 3;
constexpr double kSide = 100.0; // A

double Coordinate(int atom, int axis, int frame) {
  return std::fmod(atom * (0.37 + 0.11 * axis) + 0.01 * frame, kSide) - 0.5 * kSide;
}

fs::path Dump() {
  const fs::path file = benchtemp::Name("bench.lammpstrj");
  std::FILE *f = std::fopen(file.c_str(), "w");
  for (int frame = 0; frame < kFrames; frame++) {
    std::fprintf(f, "ITEM: TIMESTEP\n%d\nITEM: NUMBER OF ATOMS\n%d\nITEM: BOX BOUNDS xy xz yz pp pp pp\n", frame * 100,
                 kAtoms);
    std::fprintf(f, "%g %g 2\n%g %g 0\n%g %g 0\nITEM: ATOMS id type element x y z\n", -0.5 * kSide, 0.5 * kSide + 2,
                 -0.5 * kSide, 0.5 * kSide, -0.5 * kSide, 0.5 * kSide);
    for (int k = 0; k < kAtoms; k++) {
      const int id = (k * 7919) % kAtoms + 1; // a run on many processors writes them in any order
      std::fprintf(f, "%d %d %s %.5f %.5f %.5f\n", id, 1 + id % 2, id % 2 ? "O" : "Si", Coordinate(k, 0, frame),
                   Coordinate(k, 1, frame), Coordinate(k, 2, frame));
    }
  }
  std::fclose(f);
  return file;
}

fs::path History() {
  const fs::path file = benchtemp::Name("HISTORY.bench");
  std::FILE *f = std::fopen(file.c_str(), "w");
  std::fprintf(f, "bench\n%10d%10d%10d\n", 1, 2, kAtoms);
  for (int frame = 0; frame < kFrames; frame++) {
    std::fprintf(f, "timestep%10d%10d%10d%10d%12.6f\n", frame * 100, kAtoms, 1, 2, 0.001);
    std::fprintf(f, "%20.10f%20.10f%20.10f\n%20.10f%20.10f%20.10f\n%20.10f%20.10f%20.10f\n", kSide, 0.0, 0.0, 0.0, kSide,
                 0.0, 0.0, 0.0, kSide);
    for (int k = 0; k < kAtoms; k++)
      std::fprintf(f, "%-8s%10d%12.6f%12.6f\n%20.10f%20.10f%20.10f\n%20.10f%20.10f%20.10f\n", k % 2 ? "O" : "Si", k + 1,
                   k % 2 ? 15.9994 : 28.0855, 0.0, Coordinate(k, 0, frame), Coordinate(k, 1, frame),
                   Coordinate(k, 2, frame), 0.1, 0.2, 0.3);
  }
  std::fclose(f);
  return file;
}

void Read(benchmark::State &state, const fs::path &file) {
  for (auto _ : state) {
    ImportResult result;
    std::string why;
    if (!ReadStructureFile(file, result, &why) || result.structures.size() != kFrames)
      state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(result.structures.data());
  }
  fs::remove(file);
}

void BM_ReadDump(benchmark::State &state) { Read(state, Dump()); }
void BM_ReadHistory(benchmark::State &state) { Read(state, History()); }

BENCHMARK(BM_ReadDump)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ReadHistory)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
