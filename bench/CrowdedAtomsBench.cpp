// Opening files whose atoms crowd beyond any matter, each read, built and
// bonded by the automatic search in a headless window (the first plot
// included), at the sizes below and at a tenth of them:
//   XYZ: 50,000 carbons at one point;
//   PDB: 100,000 carbons 0.01 A apart on a line (no cell: a molecule);
//   SHELX: 200,000 carbons in a 5 x 6 x 7 A cell;
//   CIF: 3,000 sites of Fm-3m (192 operators) in a 40 A cube;
//   WIEN2k: 2,000 classes of 192 equal positions each in a 40 bohr cube.
// And the copies that open with their bonds: the twelve atom lines of
// benzene written 200 times as XYZ (every atom with 199 copies at its
// place, each carbon bonded to the 600 copies of its three neighbours).
// A file the readers refuse (too many atoms for their cell) is timed as the
// refusal; the counters say how many atoms and bonds opened.
#include "StructureArrays.h"
#include "import/ImportPath.h"
#include "window/MainWindowData.h"

#include "tools/OpenEachIteration.h"
#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using benchtemp::Written;

using benchscene::Fractions;

std::string AtOnePoint(long atoms) {
  std::string o = std::to_string(atoms) + "\nall at one point\n";
  for (long k = 0; k < atoms; k++)
    o += "C 0.0 0.0 0.0\n";
  return o;
}

std::string CopiedBenzene(long copies) {
  static const char *kRing[][4] = {
      {"C", "1.3970", "0.0000", "0"},  {"C", "0.6985", "1.2098", "0"},   {"C", "-0.6985", "1.2098", "0"},
      {"C", "-1.3970", "0.0000", "0"}, {"C", "-0.6985", "-1.2098", "0"}, {"C", "0.6985", "-1.2098", "0"},
      {"H", "2.4810", "0.0000", "0"},  {"H", "1.2405", "2.1486", "0"},   {"H", "-1.2405", "2.1486", "0"},
      {"H", "-2.4810", "0.0000", "0"}, {"H", "-1.2405", "-2.1486", "0"}, {"H", "1.2405", "-2.1486", "0"}};
  std::string o = std::to_string(12 * copies) + "\nbenzene written many times over\n";
  for (long k = 0; k < copies; k++)
    for (const auto &atom : kRing)
      o += std::string(atom[0]) + " " + atom[1] + " " + atom[2] + " " + atom[3] + "\n";
  return o;
}

std::string ApartOnALine(long atoms) {
  std::string o;
  char line[96];
  for (long k = 0; k < atoms; k++) {
    std::snprintf(line, sizeof line, "HETATM%5ld  C   MOL A   1    %8.3f%8.3f%8.3f  1.00  0.00           C\n",
                  k % 99999 + 1, 0.01 * static_cast<double>(k), 0.0, 0.0);
    o += line;
  }
  return o + "END\n";
}

std::string CrowdedCell(long atoms) {
  std::string o = "TITL crowded\nCELL 0.71 5 6 7 90 90 90\nLATT -1\nSFAC C\n";
  Fractions f;
  char line[96];
  for (long k = 0; k < atoms; k++) {
    const double x = f.Next(), y = f.Next(), z = f.Next();
    std::snprintf(line, sizeof line, "C%ld 1 %.5f %.5f %.5f 11 0.02\n", k + 1, x, y, z);
    o += line;
  }
  return o + "END\n";
}

// Fm-3m: the 48 signed permutations of x, y, z, each with the four centring
// translations.
std::string SitesTimesOperators(long sites) {
  std::string o = "data_crowded\n_cell_length_a 40\n_cell_length_b 40\n_cell_length_c 40\n"
                  "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                  "loop_\n_space_group_symop_operation_xyz\n";
  const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  const char *axis = "xyz";
  const char *centring[4][3] = {{"", "", ""}, {"", "+1/2", "+1/2"}, {"+1/2", "", "+1/2"}, {"+1/2", "+1/2", ""}};
  for (const auto &t : centring)
    for (const auto &p : perms)
      for (int signs = 0; signs < 8; signs++) {
        std::string op;
        for (int i = 0; i < 3; i++)
          op += std::string(i ? "," : "") + ((signs >> i) & 1 ? "-" : "") + axis[p[i]] + t[i];
        o += "'" + op + "'\n";
      }
  o += "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
       "_atom_site_fract_z\n";
  Fractions f;
  char line[96];
  for (long k = 0; k < sites; k++) {
    const double x = f.Next(), y = f.Next(), z = f.Next();
    std::snprintf(line, sizeof line, "C%ld C %.5f %.5f %.5f\n", k + 1, x, y, z);
    o += line;
  }
  return o;
}

std::string EqualPositions(long classes) {
  std::string o = "crowded\nP   LATTICE,NONEQUIV.ATOMS:" + std::to_string(classes) +
                  "\nMODE OF CALC=RELA\n"
                  " 40.000000 40.000000 40.000000 90.000000 90.000000 90.000000\n";
  Fractions f;
  char line[128];
  for (long k = 0; k < classes; k++) {
    const double x = f.Next(), y = f.Next(), z = f.Next();
    std::snprintf(line, sizeof line, "ATOM %3ld: X=%.8f Y=%.8f Z=%.8f\n", -(k % 999 + 1), x, y, z);
    o += line;
    o += "          MULT=192          ISPLIT= 8\n";
    for (int m = 1; m < 192; m++)
      o += line;
    o += "C          NPT=  781  R0=0.00010000 RMT=    1.3000   Z:  6.00000\n"
         "LOCAL ROT MATRIX:    1.0000000 0.0000000 0.0000000\n"
         "                     0.0000000 1.0000000 0.0000000\n"
         "                     0.0000000 0.0000000 1.0000000\n";
  }
  return o + "   1      NUMBER OF SYMMETRY OPERATIONS\n 1 0 0 0.0000000\n 0 1 0 0.0000000\n 0 0 1 0.0000000\n"
             "       1\n";
}

void Open(benchmark::State &state, const std::string &name, const std::string &text) {
  const fs::path file = Written(name, text);
  benchscene::OpenTextEachIteration(state, file);
  fs::remove(file);
}

void BM_XYZAtOnePoint(benchmark::State &state) { Open(state, "point.xyz", AtOnePoint(state.range(0))); }
void BM_XYZCopiedBenzene(benchmark::State &state) { Open(state, "benzene.xyz", CopiedBenzene(state.range(0))); }
void BM_PDBApartOnALine(benchmark::State &state) { Open(state, "line.pdb", ApartOnALine(state.range(0))); }
void BM_SHELXCrowdedCell(benchmark::State &state) { Open(state, "cell.ins", CrowdedCell(state.range(0))); }
void BM_CIFSitesTimesOperators(benchmark::State &state) {
  Open(state, "fm3m.cif", SitesTimesOperators(state.range(0)));
}
void BM_WIEN2kEqualPositions(benchmark::State &state) { Open(state, "equal.struct", EqualPositions(state.range(0))); }

} // namespace

BENCHMARK(BM_XYZAtOnePoint)->Arg(5'000)->Arg(50'000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_XYZCopiedBenzene)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PDBApartOnALine)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SHELXCrowdedCell)->Arg(20'000)->Arg(200'000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CIFSitesTimesOperators)->Arg(30)->Arg(300)->Arg(3'000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WIEN2kEqualPositions)->Arg(200)->Arg(2'000)->Unit(benchmark::kMillisecond)->Iterations(1);
