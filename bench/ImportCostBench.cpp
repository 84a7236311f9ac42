// Reading cost against file size, for files whose records or atoms meet
// each other: each at two sizes, so that the two times show how the cost
// grows with the file (linear: ten times the atoms, ten times the time).
//   SHELX: distinct SYMM cards (100,000 at full size), refused once they
//     pass what a structure holds;
//   PDB: two-atom models (1,000) and CONECT records (250,000), every model
//     holding the serials 1 and 2;
//   CIF: labels sharing their first 7 characters (20,000 at full size), cut
//     to the record's 7 and made unique;
//   XYZ: species "Caaaaaaaaa" (20,000), named by element and number;
//   LAMMPS: fcc copper as a data file (100,920 atoms at full size, 10,976 at
//     the smaller), its atoms named Cu1 ... Cu100920; the same as one frame
//     of a dump (id type element x y z);
//   CIF: rows at one position (20,000 and 50,000), one mixed site;
//   XYZ: two one-atom frames with 64 Mi empty lines between them.
// Read through the import path (`ReadStructureFile`), no build; the files
// are written once into the temporary folder.
#include "import/ImportPath.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

using benchtemp::Written;

std::string SymmCards(long cards) {
  std::string o = "TITL symm\nCELL 0.71 5 5 5 90 90 90\nLATT -1\nSFAC C\n";
  char line[96];
  for (long k = 0; k < cards; k++) {
    // Distinct translations: no two cards are the same operator.
    std::snprintf(line, sizeof line, "SYMM -X+%ld/%ld, Y, Z\n", k % 97 + 1, k / 97 + 101);
    o += line;
  }
  return o + "C1 1 0.1 0.2 0.3 11 0.02\nEND\n";
}

std::string ConectModels(long models, long records) {
  std::string o;
  char line[96];
  for (long m = 1; m <= models; m++) {
    std::snprintf(line, sizeof line, "MODEL     %4ld\n", m);
    o += line;
    o += "ATOM      1  O   HOH A   1       0.000   0.000   0.000  1.00 20.00           O  \n"
         "ATOM      2  H1  HOH A   1       0.957   0.000   0.000  1.00 20.00           H  \n"
         "ENDMDL\n";
  }
  for (long k = 0; k < records; k++) {
    std::snprintf(line, sizeof line, "CONECT%5ld%5ld%5ld%5ld%5ld\n", k % 99999 + 1, (k + 1) % 99999 + 1,
                  (k + 7) % 99999 + 1, (k + 13) % 99999 + 1, (k + 29) % 99999 + 1);
    o += line;
  }
  return o + "END\n";
}

// A P 1 CIF of `rows` carbon atoms: labelled `prefix` and the row's number,
// each at its own place or all at one.
std::string CifRows(long rows, const std::string &prefix, bool onePlace) {
  std::string o = "data_rows\n_cell_length_a 60\n_cell_length_b 60\n_cell_length_c 60\n"
                  "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                  "_symmetry_space_group_name_H-M 'P 1'\n"
                  "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
                  "_atom_site_fract_z\n_atom_site_occupancy\n";
  char line[128];
  for (long k = 0; k < rows; k++) {
    const double x = onePlace ? 0.25 : static_cast<double>(k % 40) / 40;
    const double y = onePlace ? 0.25 : static_cast<double>(k / 40 % 40) / 40;
    const double z = onePlace ? 0.25 : static_cast<double>(k / 1600) / 40;
    std::snprintf(line, sizeof line, "%s%ld C %.5f %.5f %.5f %.6f\n", prefix.c_str(), k + 1, x, y, z,
                  onePlace ? 1.0 / static_cast<double>(rows) : 1.0);
    o += line;
  }
  return o;
}

std::string XyzSpecies(long atoms) {
  std::string o = std::to_string(atoms) + "\nlong species\n";
  char line[96];
  for (long k = 0; k < atoms; k++) {
    std::snprintf(line, sizeof line, "Caaaaaaaaa %.3f %.3f %.3f\n", 1.5 * static_cast<double>(k % 30),
                  1.5 * static_cast<double>(k / 30 % 30), 1.5 * static_cast<double>(k / 900));
    o += line;
  }
  return o;
}

// fcc copper, a = 3.615 A, in a box of n x n x m cells, as a data file or
// as one frame of a dump.
std::string LammpsCopper(int n, int m, bool dump = false) {
  constexpr double a = 3.615;
  const long atoms = 4L * n * n * m;
  char line[256];
  if (dump)
    std::snprintf(line, sizeof line,
                  "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n%ld\nITEM: BOX BOUNDS pp pp pp\n0 %.4f\n0 %.4f\n0 %.4f\n"
                  "ITEM: ATOMS id type element x y z\n",
                  atoms, a * n, a * n, a * m);
  else
    std::snprintf(line, sizeof line,
                  "fcc copper\n\n%ld atoms\n1 atom types\n\n0 %.4f xlo xhi\n0 %.4f ylo yhi\n0 %.4f zlo zhi\n\n"
                  "Masses\n\n1 63.546\n\nAtoms # atomic\n\n",
                  atoms, a * n, a * n, a * m);
  std::string o = line;
  static constexpr double kBasis[4][3] = {{0, 0, 0}, {0.5, 0.5, 0}, {0.5, 0, 0.5}, {0, 0.5, 0.5}};
  long id = 0;
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++)
      for (int k = 0; k < m; k++)
        for (const auto &b : kBasis) {
          std::snprintf(line, sizeof line, dump ? "%ld 1 Cu %.4f %.4f %.4f\n" : "%ld 1 %.4f %.4f %.4f\n", ++id,
                        a * (i + b[0]), a * (j + b[1]), a * (k + b[2]));
          o += line;
        }
  return o;
}

// The structures read show in the output: a file refused (as the SYMM
// cards are by design) is timed up to its refusal.
void Read(benchmark::State &state, const fs::path &file) {
  const auto bytes = static_cast<int64_t>(fs::file_size(file));
  size_t structures = 0;
  for (auto _ : state) {
    ImportResult result;
    std::string why;
    benchmark::DoNotOptimize(ReadStructureFile(file, result, &why));
    structures = result.structures.size();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["bytes"] = static_cast<double>(bytes);
  state.counters["structures"] = static_cast<double>(structures);
}

void BM_ShelxSymmCards(benchmark::State &state) {
  static const fs::path full = Written("symm-full.ins", SymmCards(100000)),
                        tenth = Written("symm-tenth.ins", SymmCards(10000));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_ShelxSymmCards)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PdbConectModels(benchmark::State &state) {
  static const fs::path full = Written("conect-full.pdb", ConectModels(1000, 250000)),
                        tenth = Written("conect-tenth.pdb", ConectModels(100, 25000));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_PdbConectModels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CifSharedLabels(benchmark::State &state) {
  static const fs::path full = Written("labels-full.cif", CifRows(20000, "Caaaaaa", false)),
                        tenth = Written("labels-tenth.cif", CifRows(2000, "Caaaaaa", false));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_CifSharedLabels)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_XyzLongSpecies(benchmark::State &state) {
  static const fs::path full = Written("species-full.xyz", XyzSpecies(20000)),
                        tenth = Written("species-tenth.xyz", XyzSpecies(2000));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_XyzLongSpecies)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LammpsCopper(benchmark::State &state) {
  static const fs::path full = Written("data.copper-full", LammpsCopper(29, 30)),
                        tenth = Written("data.copper-tenth", LammpsCopper(14, 14));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_LammpsCopper)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LammpsDumpCopper(benchmark::State &state) {
  static const fs::path full = Written("copper-full.dump", LammpsCopper(29, 30, true)),
                        tenth = Written("copper-tenth.dump", LammpsCopper(14, 14, true));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_LammpsDumpCopper)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CifRowsAtOnePlace(benchmark::State &state) {
  static const fs::path fewer = Written("place-20000.cif", CifRows(20000, "C", true)),
                        more = Written("place-50000.cif", CifRows(50000, "C", true));
  Read(state, state.range(0) ? more : fewer);
}
BENCHMARK(BM_CifRowsAtOnePlace)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_XyzEmptyLines(benchmark::State &state) {
  const auto frames = [](size_t lines) { return "1\nfirst\nC 0 0 0\n" + std::string(lines, '\n') + "1\nlast\nC 0 0 0\n"; };
  static const fs::path full = Written("empty-full.xyz", frames(size_t{1} << 26)),
                        tenth = Written("empty-tenth.xyz", frames((size_t{1} << 26) / 10));
  Read(state, state.range(0) ? full : tenth);
}
BENCHMARK(BM_XyzEmptyLines)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
