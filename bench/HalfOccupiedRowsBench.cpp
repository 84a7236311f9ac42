// Opening files of half-occupied rows, whose images the bond search must
// tell apart as alternatives, each read, built and bonded by the automatic
// search in a headless window (the first plot included), at three sizes:
//   P1: N rows "Fe 0.1 0.2 0.3 0.5" of a P 1 cell of 10 A, every row at
//     one place;
//   Fm3m: N carbon sites of occupancy 0.5 at random 0.5-1.2 A from the
//     origin of an F m -3 m cell of 100 A (192 operators), their images
//     crowded around the origin beyond any matter.
// The time of each should follow N, not its square. Every iteration is a
// first open: the orientation groups the last structure inferred, which an
// open of the same sites would take, are forgotten before it (untimed), so
// each open infers them.
#include "InferredOrientations.h"
#include "tools/OpenEachIteration.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using benchscene::Fractions;

const char *const kCubicCell = "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n";
const char *const kRowColumns =
    "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n";

std::string RowsAtOnePlace(long rows) {
  std::string o = std::string("data_rows\n_cell_length_a 10\n_cell_length_b 10\n_cell_length_c 10\n") + kCubicCell +
                  "_symmetry_space_group_name_H-M 'P 1'\n" + kRowColumns;
  for (long k = 0; k < rows; k++)
    o += "Fe 0.1 0.2 0.3 0.5\n";
  return o;
}

std::string SitesAroundTheOrigin(long sites) {
  constexpr double kEdge = 100.0;
  std::string o = std::string("data_sites\n_cell_length_a 100\n_cell_length_b 100\n_cell_length_c 100\n") + kCubicCell +
                  "_symmetry_space_group_name_H-M 'F m -3 m'\n" + kRowColumns;
  Fractions f;
  char line[96];
  for (long k = 0; k < sites; k++) {
    double v[3], r = 0.0;
    do {
      for (double &x : v)
        x = 2.0 * f.Next() - 1.0;
      r = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    } while (r < 0.1 || r > 1.0);
    const double d = 0.5 + 0.7 * f.Next();
    std::snprintf(line, sizeof line, "C%ld %.6f %.6f %.6f 0.5\n", k + 1, v[0] / r * d / kEdge, v[1] / r * d / kEdge,
                  v[2] / r * d / kEdge);
    o += line;
  }
  return o;
}

void Open(benchmark::State &state, const std::string &name, const std::string &text) {
  benchscene::OpenTextEachIteration(state, benchtemp::Written(name, text), ForgetSharedOrientationGroups);
}

void BM_OpenRowsAtOnePlaceP1(benchmark::State &state) { Open(state, "rows.cif", RowsAtOnePlace(state.range(0))); }
void BM_OpenSitesAroundTheOriginFm3m(benchmark::State &state) {
  Open(state, "sites.cif", SitesAroundTheOrigin(state.range(0)));
}

BENCHMARK(BM_OpenRowsAtOnePlaceP1)
    ->Arg(1'000)
    ->Arg(2'000)
    ->Arg(4'000)
    ->Arg(8'000)
    ->Arg(16'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSitesAroundTheOriginFm3m)->Arg(400)->Arg(800)->Arg(1'600)->Unit(benchmark::kMillisecond);

} // namespace
