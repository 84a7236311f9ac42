// A structure whose bond maximum would bond every atom to hundreds of
// thousands of others is refused ("Too many bonds") before its bonds are
// searched: its open costs about what the structure without those atoms
// costs.
//   PlainSpinel: the bundled Spinel example, opened as File > Open does;
//   SpinelCrowdedByCarbon: the same with 3,500 carbon sites added at fixed
//   pseudo-random fractional positions and BMAX C C 4 (F-centred: about
//   half a million atoms, every carbon within 4 A of some 300,000 others);
//   SpinelWithTheCarbonUnbonded: the same atoms without the carbon's
//   maximum, what building them costs.
// Measured on one core (load 2-8, Release, 4 rounds alternated with
// 4bbda16's build, medians of CPU time): the crowded open 1.33 times the
// unbonded one (1.07-1.43 a round) while the open counted the neighbours
// of sites left without bonds; 1.00 (0.99-1.02) now.
#include "tools/OpenEachIteration.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path Example() { return fs::path(OV_SOURCE_DIR) / "resources" / "examples" / "Spinel.ovtx"; }

fs::path CrowdedSpinel(bool carbonMaximum) {
  const fs::path file =
      fs::temp_directory_path() / (carbonMaximum ? "ovbench-spinel-crowded-by-carbon.ovtx" : "ovbench-spinel-carbon.ovtx");
  std::ifstream in(Example());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string bonds = "BMAX  Al  O   2.100\n";
  if (carbonMaximum)
    text.insert(text.find(bonds) + bonds.size(), "BMAX  C   C   4.000\n");
  benchscene::Fractions at;
  char line[80];
  for (int k = 1; k <= 3500; k++) {
    const double x = at.Next(), y = at.Next(), z = at.Next();
    std::snprintf(line, sizeof line, "C   C%-5d %.4f %.4f %.4f\n", k, x, y, z);
    text += line;
  }
  std::ofstream(file, std::ios::trunc) << text;
  return file;
}

void BM_PlainSpinel(benchmark::State &state) { benchscene::OpenTextEachIteration(state, Example()); }
BENCHMARK(BM_PlainSpinel)->Unit(benchmark::kMillisecond);

void BM_SpinelCrowdedByCarbon(benchmark::State &state) {
  benchscene::OpenTextEachIteration(state, CrowdedSpinel(true));
}
BENCHMARK(BM_SpinelCrowdedByCarbon)->Unit(benchmark::kMillisecond);

void BM_SpinelWithTheCarbonUnbonded(benchmark::State &state) {
  benchscene::OpenTextEachIteration(state, CrowdedSpinel(false));
}
BENCHMARK(BM_SpinelWithTheCarbonUnbonded)->Unit(benchmark::kMillisecond);

} // namespace
