// Reading CIF text: the program's read (parse and fill of every structure,
// before the build) beside gemmi's own parse of the same bytes, which is the
// floor the read stands on.
//   sites20000: one block in P 1 with 20,000 sites (label, type, occupancy,
//     x y z with esds, Uiso);
//   blocks21: 21 blocks, each a structure of 200 sites in P 21/c given by
//     its four operators, with an anisotropic loop.
// The read should take at most 1.5 times the parse alone.
#include "import/ImportPath.h"
#include "Preferences.h"

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

const std::string &Text(bool blocks) {
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
  return blocks ? many : sites;
}

void GemmiParse(benchmark::State &state, bool blocks) {
  const std::string &text = Text(blocks);
  for (auto _ : state) {
    gemmi::cif::Document doc = gemmi::cif::read_memory(text.data(), text.size(), "bench.cif");
    benchmark::DoNotOptimize(doc.blocks.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void OurRead(benchmark::State &state, bool blocks) {
  gPrefs = gFactoryPrefs;
  ImportSource source;
  source.file = source.name = "bench.cif";
  source.text = Text(blocks);
  for (auto _ : state) {
    ImportResult result;
    if (!FindImportFormat("CIF")->read(source, result)) {
      state.SkipWithError(result.error.what.c_str());
      break;
    }
    benchmark::DoNotOptimize(result.structures.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.text.size()));
}

void BM_CIFGemmiParse_Sites20000(benchmark::State &state) { GemmiParse(state, false); }
void BM_CIFRead_Sites20000(benchmark::State &state) { OurRead(state, false); }
void BM_CIFGemmiParse_Blocks21(benchmark::State &state) { GemmiParse(state, true); }
void BM_CIFRead_Blocks21(benchmark::State &state) { OurRead(state, true); }

} // namespace

BENCHMARK(BM_CIFGemmiParse_Sites20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFRead_Sites20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFGemmiParse_Blocks21)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CIFRead_Blocks21)->Unit(benchmark::kMillisecond);
