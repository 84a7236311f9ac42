// Reading CIF text: the program's read (parse and fill of every structure,
// before the build) beside gemmi's own parse of the same bytes, which is the
// floor the read stands on.
//   sites20000: one block in P 1 with 20,000 sites (label, type, occupancy,
//     x y z with esds, Uiso);
//   blocks21: 21 blocks, each a structure of 200 sites in P 21/c given by
//     its four operators, with an anisotropic loop;
//   mmcif60000: a macromolecular model of 60,000 atoms at Cartesian
//     positions in a P 21 21 21 cell, every tenth residue in two alternate
//     locations.
// The read should take at most 1.5 times the parse alone: the read's
// benchmarks print that ratio as the counter vsGemmi.
#include "import/ImportPath.h"
#include "Preferences.h"
#include "tools/BesidePeer.h"

#include <benchmark/benchmark.h>

#define USE_STD_SNPRINTF
#include <gemmi/cif.hpp>

#include <cstdio>
#include <string>

namespace {

void AppendBlock(std::string &out, int block, int sites, bool withSymmetry) {
  char line[256];
  std::snprintf(line, sizeof line, "data_phase_%d\n_chemical_formula_sum 'C H O'\n", block);
  out += line;
  out += "_cell_length_a 41.2345(3)\n_cell_length_b 42.3456(4)\n_cell_length_c 43.4567(5)\n"
         "_cell_angle_alpha 90\n_cell_angle_beta 101.25(2)\n_cell_angle_gamma 90\n";
  if (withSymmetry)
    out += "_space_group_name_H-M_alt 'P 1 21/c 1'\nloop_\n_space_group_symop_operation_xyz\n"
           "'x, y, z'\n'-x, y+1/2, -z+1/2'\n'-x, -y, -z'\n'x, -y+1/2, z+1/2'\n";
  else
    out += "_symmetry_space_group_name_H-M 'P 1'\nloop_\n_symmetry_equiv_pos_as_xyz\n'x, y, z'\n";
  out += "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_occupancy\n_atom_site_fract_x\n"
         "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n_atom_site_adp_type\n";
  static const char *kElements[3] = {"C", "H", "O"};
  for (int k = 0; k < sites; k++) {
    // Distinct positions on a grid, so that no rows share a site.
    const double x = (k % 37) / 37.0 + 0.001, y = (k / 37 % 37) / 37.0 + 0.002, z = (k / 1369) / 37.0 + 0.003;
    std::snprintf(line, sizeof line, "%s%d %s 1 %.5f(3) %.5f(4) %.5f(5) 0.0%d(2) %s\n", kElements[k % 3], k + 1,
                  kElements[k % 3], x, y, z, 1 + k % 8, withSymmetry ? "Uani" : "Uiso");
    out += line;
  }
  if (withSymmetry) {
    out += "loop_\n_atom_site_aniso_label\n_atom_site_aniso_U_11\n_atom_site_aniso_U_22\n_atom_site_aniso_U_33\n"
           "_atom_site_aniso_U_12\n_atom_site_aniso_U_13\n_atom_site_aniso_U_23\n";
    for (int k = 0; k < sites; k++) {
      std::snprintf(line, sizeof line, "%s%d 0.021(1) 0.022(1) 0.023(1) 0.001(1) 0.002(1) 0.003(1)\n",
                    kElements[k % 3], k + 1);
      out += line;
    }
  }
  out += "\n";
}

// A model of `atoms` atoms in residues of ten, every tenth residue in two
// locations.
std::string MMCIFText(int atoms) {
  std::string out = "data_BENCH\n_cell.length_a 145.2\n_cell.length_b 146.3\n_cell.length_c 147.4\n"
                    "_cell.angle_alpha 90\n_cell.angle_beta 90\n_cell.angle_gamma 90\n"
                    "_symmetry.space_group_name_H-M 'P 21 21 21'\nloop_\n_atom_site.group_PDB\n_atom_site.id\n"
                    "_atom_site.type_symbol\n_atom_site.label_atom_id\n_atom_site.label_alt_id\n"
                    "_atom_site.label_comp_id\n_atom_site.label_asym_id\n_atom_site.label_seq_id\n"
                    "_atom_site.Cartn_x\n_atom_site.Cartn_y\n_atom_site.Cartn_z\n_atom_site.occupancy\n"
                    "_atom_site.B_iso_or_equiv\n_atom_site.auth_seq_id\n_atom_site.pdbx_PDB_model_num\n";
  static const char *kNames[10] = {"N", "CA", "C", "O", "CB", "CG", "CD", "NE", "CZ", "OH"};
  char line[256];
  for (int k = 0, id = 1; k < atoms; k++) {
    const int residue = k / 10 + 1;
    const double x = (k % 37) * 3.9 + 0.1, y = (k / 37 % 37) * 3.9 + 0.2, z = (k / 1369) * 3.4 + 0.3;
    const char *name = kNames[k % 10];
    const int locations = residue % 10 == 0 ? 2 : 1;
    for (int l = 0; l < locations; l++) {
      const char *alt = locations == 1 ? "." : l == 0 ? "A" : "B";
      std::snprintf(line, sizeof line, "ATOM %d %c %s %s TYR A %d %.3f %.3f %.3f %s 23.45 %d 1\n", id++, name[0],
                    name, alt, residue, x + (*alt == 'B' ? 0.2 : 0.0), y, z, *alt == '.' ? "1.00" : "0.50", residue);
      out += line;
    }
  }
  return out;
}

enum class BenchText { Sites, Blocks, MMCIF };

const std::string &Text(BenchText which) {
  static const std::string sites = [] {
    std::string t;
    AppendBlock(t, 1, 20000, false);
    return t;
  }();
  static const std::string many = [] {
    std::string t;
    for (int b = 1; b <= 21; b++)
      AppendBlock(t, b, 200, true);
    return t;
  }();
  static const std::string model = MMCIFText(60000);
  return which == BenchText::Blocks ? many : which == BenchText::MMCIF ? model : sites;
}

void GemmiParse(benchmark::State &state, BenchText which) {
  const std::string &text = Text(which);
  for (auto _ : state) {
    gemmi::cif::Document doc = gemmi::cif::read_memory(text.data(), text.size(), "bench.cif");
    benchmark::DoNotOptimize(doc.blocks.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The read; beside each, untimed, gemmi's parse of the same text, so that
// the counter vsGemmi (the read's CPU time over the parse's) compares the
// two under the same load.
void OurRead(benchmark::State &state, BenchText which) {
  gPrefs = gFactoryPrefs;
  ImportSource source;
  source.file = source.name = "bench.cif";
  source.text = Text(which);
  benchscene::TimeBesidePeer(
      state, "vsGemmi",
      [&]() -> std::string {
        ImportResult result;
        if (!FindImportFormat("CIF")->read(source, result))
          return result.error.what;
        benchmark::DoNotOptimize(result.structures.size());
        return {};
      },
      [&] {
        gemmi::cif::Document doc = gemmi::cif::read_memory(source.text.data(), source.text.size(), "bench.cif");
        benchmark::DoNotOptimize(doc.blocks.size());
      });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.text.size()));
}

void BM_CIFGemmiParse_Sites20000(benchmark::State &state) { GemmiParse(state, BenchText::Sites); }
void BM_CIFRead_Sites20000(benchmark::State &state) { OurRead(state, BenchText::Sites); }
void BM_CIFGemmiParse_Blocks21(benchmark::State &state) { GemmiParse(state, BenchText::Blocks); }
void BM_CIFRead_Blocks21(benchmark::State &state) { OurRead(state, BenchText::Blocks); }
void BM_CIFGemmiParse_MMCIF60000(benchmark::State &state) { GemmiParse(state, BenchText::MMCIF); }
void BM_CIFRead_MMCIF60000(benchmark::State &state) { OurRead(state, BenchText::MMCIF); }

} // namespace

BENCHMARK(BM_CIFGemmiParse_Sites20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFRead_Sites20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFGemmiParse_Blocks21)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFRead_Blocks21)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFGemmiParse_MMCIF60000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFRead_MMCIF60000)->Unit(benchmark::kMillisecond);
