// A molecule whose atom list is written many times over, against an
// ordinary structure of many more atoms, in a headless window of 1000 x 800,
// ball and stick:
//   the Benzene example's twelve atom lines written 200 times (2,400 atoms,
//     every atom with 199 copies at its place): opened (read, built with its
//     bonds, plotted once) and plotted again. Copies are not bonded to each
//     other, so the plot draws 480,000 bonds, each carbon holding 600;
//   rock salt over 0 to 22 on every axis (91,125 atoms, 267,300 bonds),
//     plotted.
//   a sodium beside a water, its atom line written N times (N sodium atoms
//     at one place, each bonded to the oxygen), opened: the oxygen's
//     thousands of bonds are met by the role of each sodium, and the time
//     grows about as N (at most 2.2 times each doubling).
// The /10 and /5000 cases are the ones the tests run once.
// The bound: in a Release build a plot of the copied molecule takes at most
// about twice the rock salt's and well under a second, and opening it about
// one plot more than its build (measured on a busy 8-core machine: copied
// molecule 0.3 to 0.5 s a plot, 0.4 to 0.5 s to open; rock salt 0.13 to
// 0.21 s a plot).
#include "StructureArrays.h"
#include "import/ImportPath.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "tools/OpenEachIteration.h"
#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

using benchscene::MakeHeadlessScene;
using benchscene::MakeRockSalt;
using benchscene::Scene;

// The Benzene example with its atom lines written `copies` times, once a
// run.
std::filesystem::path CopiedBenzene(int copies) {
  static std::set<int> written;
  const std::filesystem::path out =
      benchtemp::Name("benzene-copies-" + std::to_string(copies) + ".ovtx");
  if (written.insert(copies).second) {
    std::ifstream in(std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Benzene.ovtx");
    std::string head, atoms, line;
    bool inAtoms = false;
    while (std::getline(in, line)) {
      if (inAtoms && !line.empty())
        atoms += line + "\n";
      else
        head += line + "\n";
      inAtoms = inAtoms || line == "ATOM";
    }
    std::ofstream o(out);
    o << head;
    for (int k = 0; k < copies; k++)
      o << atoms;
  }
  return out;
}

// tests/data/bonds/sodium_water.pdb with its sodium line written `copies`
// times, once a run.
std::filesystem::path CopiedSodium(int copies) {
  static std::set<int> written;
  const std::filesystem::path out = benchtemp::Name("sodium-copies-" + std::to_string(copies) + ".pdb");
  if (written.insert(copies).second) {
    std::ifstream in(std::filesystem::path(OV_SOURCE_DIR) / "tests/data/bonds/sodium_water.pdb");
    std::string sodium, rest, line;
    while (std::getline(in, line))
      (sodium.empty() ? sodium : rest) += line + "\n";
    std::ofstream o(out);
    for (int k = 0; k < copies; k++)
      o << sodium;
    o << rest;
  }
  return out;
}

std::unique_ptr<Scene> OpenCopies(benchmark::State &state) {
  std::unique_ptr<Scene> scene = MakeHeadlessScene(1000, 800);
  if (!OpenTextFile(&scene->record, CopiedBenzene(int(state.range(0))))) {
    state.SkipWithError("the copied molecule could not be read");
    return nullptr;
  }
  SetWindowFileOpen(&scene->record, true);
  return scene;
}

// The atoms shown and the bonds drawn.
void Count(benchmark::State &state, const CrystalRec &c) {
  double ends = 0, shown = 0;
  for (const AtomRecord &a : c.atoms) {
    ends += a.bondCount;
    shown += a.visible ? 1 : 0;
  }
  state.counters["atoms"] = shown;
  state.counters["bonds"] = ends / 2;
}

void BM_OpenCopiedBenzene(benchmark::State &state) {
  for (auto _ : state) {
    std::unique_ptr<Scene> scene = OpenCopies(state);
    if (!scene)
      return;
    state.PauseTiming();
    Count(state, *GetWindowCrystal(&scene->record));
    scene.reset();
    state.ResumeTiming();
  }
}

void BM_PlotCopiedBenzene(benchmark::State &state) {
  std::unique_ptr<Scene> scene = OpenCopies(state);
  if (!scene)
    return;
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  Count(state, *GetWindowCrystal(&scene->record));
}

void BM_OpenSodiumOverWater(benchmark::State &state) {
  benchscene::OpenTextEachIteration(state, CopiedSodium(int(state.range(0))));
}

void BM_PlotRockSalt91k(benchmark::State &state) {
  std::unique_ptr<Scene> scene = MakeRockSalt(22.0f, 1000, 800);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  Count(state, *GetWindowCrystal(&scene->record));
}

} // namespace

BENCHMARK(BM_OpenCopiedBenzene)->Arg(200)->Arg(10)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlotCopiedBenzene)->Arg(200)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSodiumOverWater)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_PlotRockSalt91k)->Unit(benchmark::kMillisecond);
