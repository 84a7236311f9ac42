// Files whose bonds or bond maxima once stalled an open, each at three
// sizes, opened through the import path into a window (`OpenTextFile`):
//   LongConect: a simple cubic grid of carbon, 1.54 A apart, in a PDB
//     crystal (24 to 32 atoms a side) with one CONECT record joining two
//     atoms 18.48 A apart (12 steps, the nearest image too);
//   BondMaximum231: the same grid in the own text format with
//     "BMAX C C 231", the largest maximum a file may give;
//   MMCIFModels: a macromolecular CIF of N models (the read alone), each of
//     24 atoms with a ligand of its own named by one `_struct_conn` row, so
//     that the table grows with the models;
//   MMCIFModelsSameConn: the same models, the file listing the same two
//     `_struct_conn` rows, between atoms of the chain, again for each model
//     (the read alone);
//   TwoOriginRowsAtOnePlace: a CIF in F d -3 m naming no origin, N rows of
//     ten elements at one general position, each a thousandth occupied, so
//     that no two images overlap under either origin (the read alone);
//   DenseCar: a DMol archive whose cell is too small for the atoms it
//     lists (the read, refused);
//   HalfOccupiedGrid: a CIF in P -1 of sulfur sites at occupancy 1/2 on a
//     grid 2.05 A apart (N a side), each 0.4 A off its grid point, so that
//     the centre's image of every site lies 0.82 A from another: the whole
//     grid is one group in two orientations (OrientationGroups.h).
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

using benchtemp::Written;

constexpr double kGridStep = 1.54; // A

// n^3 carbon atoms of a cubic grid, as PDB ATOM records in a P 1 cell.
std::string ConectText(int n) {
  std::string o;
  char line[96];
  const double edge = kGridStep * n;
  std::snprintf(line, sizeof line, "CRYST1%9.3f%9.3f%9.3f  90.00  90.00  90.00 P 1           1\n", edge, edge, edge);
  o += line;
  int serial = 0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      for (int k = 0; k < n; k++) {
        ++serial;
        std::snprintf(line, sizeof line, "ATOM  %5d  C   GLY A%4d    %8.3f%8.3f%8.3f  1.00 20.00           C\n",
                      serial, serial % 10000, kGridStep * i, kGridStep * j, kGridStep * k);
        o += line;
      }
  // Atom 1 at the origin and the atom 18.48 A along x (12 steps).
  std::snprintf(line, sizeof line, "CONECT%5d%5d\n", 1, 1 + 12 * n * n);
  return o + line + "END\n";
}

std::string BondMaximumText(int n) {
  std::string o = "TITL grid\n";
  char line[128];
  std::snprintf(line, sizeof line, "CELL %.4f %.4f %.4f 90 90 90\nSYMM x,y,z\nBMAX C C 231\nATOM\n", kGridStep * n,
                kGridStep * n, kGridStep * n);
  o += line;
  int serial = 0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      for (int k = 0; k < n; k++) {
        std::snprintf(line, sizeof line, "C C%d %.6f %.6f %.6f\n", ++serial, double(i) / n, double(j) / n,
                      double(k) / n);
        o += line;
      }
  return o;
}

// `sameBonds`: instead of a row per ligand, the same two rows naming
// atoms of the chain again for every model.
std::string MMCIFModelsText(int models, bool sameBonds) {
  std::string o = "data_models\nloop_\n_atom_site.group_PDB\n_atom_site.id\n_atom_site.type_symbol\n"
                  "_atom_site.label_atom_id\n_atom_site.label_comp_id\n_atom_site.label_asym_id\n"
                  "_atom_site.label_seq_id\n_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n"
                  "_atom_site.pdbx_PDB_model_num\n";
  char line[160];
  int id = 0;
  for (int m = 1; m <= models; m++) {
    for (int k = 0; k < 22; k++) {
      std::snprintf(line, sizeof line, "ATOM %d C CA GLY A %d %.3f %.3f 0.000 %d\n", ++id, k + 1, 1.5 * k,
                    0.01 * m, m);
      o += line;
    }
    // The model's own ligand, two atoms.
    for (int k = 0; k < 2; k++) {
      std::snprintf(line, sizeof line, "HETATM %d S S%d LIG L%d . %.3f 5.000 0.000 %d\n", ++id, k + 1, m, 2.05 * k, m);
      o += line;
    }
  }
  o += "loop_\n_struct_conn.id\n_struct_conn.conn_type_id\n_struct_conn.ptnr1_label_asym_id\n"
       "_struct_conn.ptnr1_label_seq_id\n_struct_conn.ptnr1_label_atom_id\n_struct_conn.ptnr2_label_asym_id\n"
       "_struct_conn.ptnr2_label_seq_id\n_struct_conn.ptnr2_label_atom_id\n";
  for (int m = 1; m <= models; m++) {
    if (sameBonds)
      std::snprintf(line, sizeof line, "a%d covale A 1 CA A 22 CA\nb%d covale A 2 CA A 21 CA\n", m, m);
    else
      std::snprintf(line, sizeof line, "conn%d covale L%d . S1 L%d . S2\n", m, m, m);
    o += line;
  }
  return o;
}

std::string TwoOriginRowsAtOnePlaceText(int rows) {
  static const char *const kElements[] = {"C", "N", "O", "S", "P", "Si", "Al", "Mg", "Na", "K"};
  std::string o = "data_place\n_symmetry_space_group_name_H-M 'F d -3 m'\n_cell_length_a 20\n_cell_length_b 20\n"
                  "_cell_length_c 20\n_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\nloop_\n"
                  "_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
                  "_atom_site_fract_z\n_atom_site_occupancy\n";
  char line[96];
  for (int k = 0; k < rows; k++) {
    std::snprintf(line, sizeof line, "%s%d %s 0.1 0.2 0.3 0.001\n", kElements[k % 10], k + 1, kElements[k % 10]);
    o += line;
  }
  return o;
}

// Pairs of carbon atoms, 2 A apart along z, at every point of a 2 A grid
// over a 20 A cell: more atoms than the cell has room for.
std::string DenseCarText(int perAxis) {
  std::string o = "!BIOSYM archive 3\nPBC=ON\ndense\n!DATE Mon Jan 06 10:00:00 2025\n"
                  "PBC   20.0000   20.0000   20.0000   90.0000   90.0000   90.0000 (P-1)\n";
  char line[128];
  int serial = 0;
  const double step = 20.0 / perAxis;
  for (int i = 0; i < perAxis; i++)
    for (int j = 0; j < perAxis; j++)
      for (int k = 0; k < perAxis; k++) {
        std::snprintf(line, sizeof line, "C%-7d %14.9f %14.9f %14.9f XXXX 1      xx      C   0.000\n", ++serial,
                      step * i, step * j, step * k);
        o += line;
      }
  return o + "end\nend\n";
}

std::string HalfOccupiedGridText(int n) {
  constexpr double kStep = 2.05, kOff = 0.2; // A, and a fifth of a step
  const double edge = kStep * n;
  std::string o = "data_grid\n_symmetry_space_group_name_H-M 'P -1'\n";
  char line[128];
  std::snprintf(line, sizeof line, "_cell_length_a %.4f\n_cell_length_b %.4f\n_cell_length_c %.4f\n", edge, edge, edge);
  o += line;
  o += "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\nloop_\n_atom_site_label\n"
       "_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n";
  int serial = 0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      for (int k = 0; k < n; k++) {
        std::snprintf(line, sizeof line, "S%d S %.6f %.6f %.6f 0.5\n", ++serial, (i + kOff) / n, double(j) / n,
                      double(k) / n);
        o += line;
      }
  return o;
}

void Open(benchmark::State &state, const fs::path &file) {
  OVWindowRecord window;
  InitMainWindowData(&window);
  for (auto _ : state)
    if (!OpenTextFile(&window, file, ImportChoice::TakeFirst))
      state.SkipWithError("the file was not opened");
  const CrystalRec &c = *GetWindowCrystal(&window);
  state.counters["atoms"] = c.atomCount;
  uint64_t bonds = 0;
  for (int32_t a = 0; a < c.atomCount; a++)
    bonds += c.atoms[static_cast<size_t>(a)].bonds.size();
  state.counters["bonds"] = static_cast<double>(bonds / 2);
  DestroyMainWindowData(&window);
  fs::remove(file);
}

void BM_LongConect(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  Open(state, Written("long.pdb", ConectText(n)));
}

void BM_BondMaximum231(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  Open(state, Written("bmax.ovtx", BondMaximumText(n)));
}

void Read(benchmark::State &state, const fs::path &file, bool refused) {
  for (auto _ : state) {
    ImportResult result;
    std::string why;
    if (ReadStructureFile(file, result, &why) == refused) {
      state.SkipWithError(refused ? "the file was read" : why.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.structures.data());
  }
  fs::remove(file);
}

void BM_MMCIFModels(benchmark::State &state) {
  Read(state, Written("models.cif", MMCIFModelsText(static_cast<int>(state.range(0)), false)), false);
}

void BM_MMCIFModelsSameConn(benchmark::State &state) {
  Read(state, Written("sameconn.cif", MMCIFModelsText(static_cast<int>(state.range(0)), true)), false);
}

void BM_TwoOriginRowsAtOnePlace(benchmark::State &state) {
  Read(state, Written("oneplace.cif", TwoOriginRowsAtOnePlaceText(static_cast<int>(state.range(0)))), false);
}

void BM_DenseCar(benchmark::State &state) {
  Read(state, Written("dense.car", DenseCarText(static_cast<int>(state.range(0)))), true);
}

void BM_HalfOccupiedGrid(benchmark::State &state) {
  Open(state, Written("half.cif", HalfOccupiedGridText(static_cast<int>(state.range(0)))));
}

} // namespace

BENCHMARK(BM_LongConect)->Arg(24)->Arg(28)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BondMaximum231)->Arg(8)->Arg(11)->Arg(14)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MMCIFModels)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MMCIFModelsSameConn)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoOriginRowsAtOnePlace)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DenseCar)->Arg(20)->Arg(30)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfOccupiedGrid)->Arg(12)->Arg(16)->Arg(20)->Unit(benchmark::kMillisecond);
