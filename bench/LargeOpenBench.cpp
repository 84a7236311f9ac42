// Opening large files whole, as File > Open does it into a structure window
// of 1000 x 800: the read, the build (bonds, the cell's atoms) and the first
// plot. The files are those bench/make_open_files.py writes (run once into
// the temporary folder when they are not there):
//   waterData: 98,304 atoms of SPC/E water as LAMMPS data with its bonds;
//   waterGro: the same as a GROMACS coordinate file;
//   zsm5: ZSM-5 expanded 3 x 3 x 4 to P 1, a CIF of 25,200 sites;
//   cuDump: one frame of a LAMMPS dump of 100,000 fcc Cu atoms;
//   protein: a protein tiled to 80,000 atoms, with its CONECT records;
//   burkeite, sulfur, zsm5Large: disordered crystals expanded to P 1
//   (burkeite of 46,080 and 101,376 sites, beta-sulfur's two ring
//   orientations in 49,152 and 98,304, ZSM-5 4 x 4 x 6 in 67,200).
// The Replot cases time the plot alone: the file opened once, every
// iteration one more plot of the same view into the window.
// The /small cases open the script's smallest files of the same kinds
// (`--small`: 3,072 waters' atoms, one ZSM-5 cell, 500 Cu atoms, one copy
// of the protein), which the tests run once.
// bench/open_vs_peers.sh times the same opens as whole ovrender processes
// beside other tools' reads of the files.
#include "import/ImportPath.h"
#include "model/Polyhedra.h"
#include "render/PlotPipeline.h"

#include "tools/OpenEachIteration.h"
#include "tools/OpenFiles.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

void Open(benchmark::State &state, const char *name, bool small = false) {
  const fs::path file = benchscene::RequiredOpenFile(state, name, small);
  if (file.empty())
    return;
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeHeadlessScene(1000, 800);
  benchscene::OpenEachIteration(state, *scene, file);
  const CrystalRec &c = *GetWindowCrystal(&scene->record);
  state.counters["atoms"] = c.atomCount;
  double bondEnds = 0;
  for (const AtomRecord &a : c.atoms)
    bondEnds += a.bondCount;
  state.counters["bonds"] = bondEnds / 2;
}

// A window with the file opened into it once; none, with the benchmark
// stopped, when the file could not be written or opened.
std::unique_ptr<benchscene::Scene> OpenedOnce(benchmark::State &state, const char *name, bool small) {
  const fs::path file = benchscene::RequiredOpenFile(state, name, small);
  if (file.empty())
    return nullptr;
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeHeadlessScene(1000, 800);
  if (!OpenStructureFile(&scene->record, file, ImportChoice::TakeFirst)) {
    state.SkipWithError("the file was not opened");
    return nullptr;
  }
  return scene;
}

// The open's count of the sites with more atoms within bond reach than
// bonds, over the structure the file opens to, alone.
void CrowdedSites(benchmark::State &state, const char *name, bool small = false) {
  const std::unique_ptr<benchscene::Scene> scene = OpenedOnce(state, name, small);
  if (!scene)
    return;
  CrystalRec *c = GetWindowCrystal(&scene->record);
  for (auto _ : state)
    TellCrowdedSitesAfterBonding(c);
  state.counters["sites"] = c->siteCount;
}

// The roles of the sites (which the polyhedral model asks for) derived
// again over the same bonds, alone: a crystal with tens of thousands of
// crowded sites notes each of them.
void SiteRoles(benchmark::State &state, const char *name, bool small = false) {
  const std::unique_ptr<benchscene::Scene> scene = OpenedOnce(state, name, small);
  if (!scene)
    return;
  const CrystalRec &c = *GetWindowCrystal(&scene->record);
  for (auto _ : state)
    DeriveSiteRoles(c, false);
  state.counters["sites"] = c.siteCount;
}

// The window's picture of the opened structure drawn again, as a replot
// of an unchanged view draws it.
void Replot(benchmark::State &state, const char *name, bool small = false) {
  const std::unique_ptr<benchscene::Scene> scene = OpenedOnce(state, name, small);
  if (!scene)
    return;
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  state.counters["atoms"] = GetWindowCrystal(&scene->record)->atomCount;
}

} // namespace

BENCHMARK_CAPTURE(Replot, burkeite46080, "burk1-46080.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Replot, sulfur98304, "sulfur-beta-98304.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Replot, zsm5Large, "zsm5-4x4x6.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Replot, cuDump, "cu-100000.dump")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Replot, zsm5/small, "zsm5-1x1x1.cif", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CrowdedSites, burkeite46080, "burk1-46080.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CrowdedSites, zsm5Large, "zsm5-4x4x6.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CrowdedSites, zsm5/small, "zsm5-1x1x1.cif", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SiteRoles, burkeite46080, "burk1-46080.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SiteRoles, zsm5/small, "zsm5-1x1x1.cif", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, waterData, "water-98304.data")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, waterGro, "water-98304.gro")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, zsm5, "zsm5-3x3x4.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, cuDump, "cu-100000.dump")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, protein, "protein-80000.pdb")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, burkeite46080, "burk1-46080.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, burkeite101376, "burk1-101376.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, sulfur49152, "sulfur-beta-49152.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, sulfur98304, "sulfur-beta-98304.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, zsm5Large, "zsm5-4x4x6.cif")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, waterData/small, "water-3072.data", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, waterGro/small, "water-3072.gro", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, zsm5/small, "zsm5-1x1x1.cif", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, cuDump/small, "cu-500.dump", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Open, protein/small, "protein-1631.pdb", true)->Unit(benchmark::kMillisecond);
