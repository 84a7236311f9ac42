// How the crystal build (`RunNewCrystal`: atoms, coordination numbers, plot
// range, bonds and polyhedra) grows from about 10,000 to about 100,000
// plotted atoms: rock salt over -5 to 5 cells (9,261 atoms) and -11 to 11
// cells (91,125 atoms) on every axis, Na-Cl bonded, in ball and stick. No
// graph pane, so nothing is drawn; no host, so the Log and status stay
// silent. Each iteration builds the structure afresh from its two sites.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

void Fill(CrystalRec &c, float range) {
  ClearCrystalRec(&c);
  c.a = c.b = c.c = 5.64f;
  c.alpha = c.beta = c.gamma = 90.0f;
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "F m -3 m");
  const float r[6] = {-range, range, -range, range, -range, range};
  std::copy(std::begin(r), std::end(r), c.plotRange);
  c.sites = *CreateAsymmetricUnit(2);
  c.siteCount = 2;
  const char *labels[2] = {"Na1", "Cl1"};
  const char *elements[2] = {"Na", "Cl"};
  for (int s = 0; s < 2; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    std::snprintf(site.label, sizeof site.label, "%s", labels[s]);
    site.elements[0] = TwoCharsToShort(elements[s]);
    site.occupancies[0] = 1.0f;
    site.xyz[0] = site.xyz[1] = site.xyz[2] = s == 0 ? 0.0f : 0.5f;
  }
  SortAUByElement(&c);
  BondSpec spec;
  spec.elementA = TwoCharsToShort("Na");
  spec.elementB = TwoCharsToShort("Cl");
  spec.minLength = 2.5f;
  spec.maxLength = 3.0f;
  spec.style = 1;
  c.bondSpecs[0] = spec;
  c.bondSpecCount = 1;
  c.modelType = kBallAndStickModel;
  c.plotScale = 20.0f;
}

void Build(benchmark::State &state, float range) {
  OVWindowRecord window;
  InitMainWindowData(&window);
  window.mainData->fileOpen = 1;
  CrystalRec &c = *GetWindowCrystal(&window);
  for (auto _ : state) {
    state.PauseTiming();
    Fill(c, range);
    state.ResumeTiming();
    if (!RunNewCrystal(&window, true, true, false)) {
      state.SkipWithError("the build failed");
      break;
    }
  }
  int64_t plotted = 0, bonds = 0, polyhedra = 0;
  for (int32_t k = 0; k < c.atomCount; k++) {
    const AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    plotted += atom.visible;
    bonds += atom.bondCount;
    polyhedra += AtomPolyhedron(&c, atom) ? 1 : 0;
  }
  state.counters["plotted"] = static_cast<double>(plotted);
  state.counters["bonds"] = static_cast<double>(bonds / 2);
  state.counters["polyhedra"] = static_cast<double>(polyhedra);
  DestroyMainWindowData(&window);
}

void BM_CrystalBuild_NaCl10k(benchmark::State &state) { Build(state, 5.0f); }
void BM_CrystalBuild_NaCl100k(benchmark::State &state) { Build(state, 11.0f); }

} // namespace

BENCHMARK(BM_CrystalBuild_NaCl10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrystalBuild_NaCl100k)->Unit(benchmark::kMillisecond);
