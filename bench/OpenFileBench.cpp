// Opening a structure file whole, as File > Open does it into a structure
// window: the read, the build and the first plot in a 1000 x 800 pane.
//   cif20000: a protein-like structure of 5,000 sites (20 helices of 50
//     residues, N CA C O CB) in P 21 21 21, 20,000 atoms in the cell;
//   pdb20000: the same atoms as a PDB file with its CONECT records (the
//     backbone and the side chains), so the file's own bonds are measured
//     and settled.
// (The read alone, which an open into a window holding a structure once
// paid twice, is PDBReadBench's and CIFReadBench's.)
// The files are generated once into the temporary folder.
#include "import/ImportPath.h"
#include "render/PlotPipeline.h"

#include "tools/OpenEachIteration.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The helices fill half of the cell in a and b, so that their images under
// the screw axes stand apart, as a protein's do.
constexpr double kCell[3] = {120.0, 110.0, 80.0};

struct HelixAtom {
  const char *name;
  double radius, turn, rise; // A, degrees, A about the helix axis
  const char *element;
};
constexpr HelixAtom kResidue[] = {
    {"N", 1.55, -28.0, -0.90, "N"}, {"CA", 2.30, 0.0, 0.0, "C"},   {"C", 1.65, 28.0, 0.95, "C"},
    {"O", 1.95, 40.0, 2.10, "O"},   {"CB", 3.30, 6.0, -0.45, "C"},
};
constexpr int kHelices = 20, kResidues = 50, kPerResidue = 5;

struct Placed {
  const HelixAtom *atom;
  int helix, residue;
  double xyz[3]; // Cartesian, A
};

std::vector<Placed> Protein() {
  std::vector<Placed> out;
  for (int h = 0; h < kHelices; h++) {
    const double cx = 8.0 + 11.0 * (h % 5), cy = 8.0 + 11.0 * (h / 5 % 4);
    for (int r = 0; r < kResidues; r++)
      for (const HelixAtom &a : kResidue) {
        const double t = (r * 100.0 + a.turn) * M_PI / 180.0;
        out.push_back({&a, h, r, {cx + a.radius * std::cos(t), cy + a.radius * std::sin(t), 1.5 * r + a.rise + 3.0}});
      }
  }
  return out;
}

std::string PdbText(const std::vector<Placed> &atoms) {
  std::string o = "CRYST1  120.000  110.000   80.000  90.00  90.00  90.00 P 21 21 21     4\n";
  char line[160];
  for (size_t k = 0; k < atoms.size(); k++) {
    const Placed &p = atoms[k];
    std::snprintf(line, sizeof line, "ATOM  %5zu  %-3s ALA %c%4d    %8.3f%8.3f%8.3f  1.00 20.00          %2s\n", k + 1,
                  p.atom->name, 'A' + p.helix, p.residue + 1, p.xyz[0], p.xyz[1], p.xyz[2], p.atom->element);
    o += line;
  }
  // Within a residue N-CA, CA-C, C-O, CA-CB; C to the next residue's N.
  for (size_t k = 0; k < atoms.size(); k += kPerResidue) {
    const size_t n = k + 1;
    std::snprintf(line, sizeof line, "CONECT%5zu%5zu\nCONECT%5zu%5zu%5zu\nCONECT%5zu%5zu\n", n, n + 1, n + 1, n + 2,
                  n + 4, n + 2, n + 3);
    o += line;
    if (atoms[k].residue + 1 < kResidues) {
      std::snprintf(line, sizeof line, "CONECT%5zu%5zu\n", n + 2, n + kPerResidue);
      o += line;
    }
  }
  return o + "END\n";
}

std::string CifText(const std::vector<Placed> &atoms) {
  std::string o = "data_helices\n_cell_length_a 120.0\n_cell_length_b 110.0\n_cell_length_c 80.0\n"
                  "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                  "_space_group_name_H-M_alt 'P 21 21 21'\nloop_\n_space_group_symop_operation_xyz\n"
                  "'x, y, z'\n'-x+1/2, -y, z+1/2'\n'-x, y+1/2, -z+1/2'\n'x+1/2, -y+1/2, -z'\n"
                  "loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
                  "_atom_site_fract_z\n_atom_site_U_iso_or_equiv\n";
  char line[128];
  for (size_t k = 0; k < atoms.size(); k++) {
    const Placed &p = atoms[k];
    std::snprintf(line, sizeof line, "%s%zu %s %.5f %.5f %.5f 0.025\n", p.atom->element, k + 1, p.atom->element,
                  p.xyz[0] / kCell[0], p.xyz[1] / kCell[1], p.xyz[2] / kCell[2]);
    o += line;
  }
  return o;
}

fs::path Generated(const char *extension) {
  const fs::path file = benchtemp::Name(std::string("open") + extension);
  if (!fs::exists(file)) {
    const std::vector<Placed> atoms = Protein();
    std::ofstream(file, std::ios::trunc) << (std::string(extension) == ".cif" ? CifText(atoms) : PdbText(atoms));
  }
  return file;
}

void Open(benchmark::State &state, const char *extension) {
  const fs::path file = Generated(extension);
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeHeadlessScene(1000, 800);
  const uint64_t plotsBefore = gPlotLayouts;
  benchscene::OpenEachIteration(state, *scene, file);
  const CrystalRec &c = *GetWindowCrystal(&scene->record);
  state.counters["atoms"] = c.atomCount;
  state.counters["cellAtoms"] = c.atomsPerCell;
  state.counters["plotsPerOpen"] =
      static_cast<double>(gPlotLayouts - plotsBefore) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}

} // namespace

BENCHMARK_CAPTURE(Open, cif20000, ".cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, pdb20000, ".pdb")->Unit(benchmark::kMillisecond);
