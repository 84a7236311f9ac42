// Plot range work on large structures.
//
// Saving the visible atoms' selection before a rebuild and restoring it
// afterwards runs on every rebuild that keeps the view (site edits, symmetry
// reduction); a 100,000-atom supercell must not take seconds. The structure
// is a P 1 cell of 100 sites (labels repeat from cell to cell, as in any
// supercell) tiled over n x n x n cells; every fifth atom is selected.
// "Restore" matches the atoms in their own order, "RestoreReversed" after the
// atoms were regenerated in the opposite order.
#include "PlotRange.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "UnitCell.h"
#include "VectorMath.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr int32_t kSitesPerCell = 100;

// A crystal of kSitesPerCell random sites in P 1 over cells x cells x cells.
CrystalRec MakeSupercell(int32_t cells) {
  CrystalRec c;
  InitBlankCrystalRec(&c);
  c.a = 6.0f;
  c.b = 7.0f;
  c.c = 8.0f;
  c.beta = 100.0f;
  GetMetricTensor(c.a, c.b, c.c, c.alpha, c.beta, c.gamma, c.metricTensor);
  c.sites = *CreateAsymmetricUnit(kSitesPerCell);
  c.siteCount = kSitesPerCell;
  std::mt19937 rng(7u);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (int32_t s = 0; s < kSitesPerCell; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    std::snprintf(site.label, sizeof site.label, "C%d", static_cast<int>(s + 1));
    site.elements[0] = TwoCharsToShort("C");
    site.occupancies[0] = 1.0f;
    for (float &v : site.xyz)
      v = unit(rng);
  }
  GenCell(&c);
  RedimensionAtomsArray(&c, cells, cells, cells);
  GetOrientationMatrix(c.viewDirection, c.metricTensor, c.orientationMatrix);
  for (int32_t k = 0; k < c.atomCount; k++) {
    AtomRecord &atom = c.atoms[static_cast<size_t>(k)];
    MatMul(c.orientationMatrix, atom.xyz, atom.cart);
    atom.selected = (k % 5 == 0) ? 1 : 0;
  }
  return c;
}

int32_t CellsFor(int64_t atoms) {
  int32_t cells = 1;
  while (int64_t{kSitesPerCell} * (cells + 1) * (cells + 1) * (cells + 1) <= atoms)
    cells++;
  return cells;
}

void SaveAndRestore(benchmark::State &state, bool reversed) {
  CrystalRec source = MakeSupercell(CellsFor(state.range(0)));
  int64_t selected = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CrystalRec c = source;
    state.ResumeTiming();
    int32_t count = 0;
    auto saved = SaveAtomsVisibilityAndSelection(&c, &count);
    if (reversed) {
      state.PauseTiming();
      std::reverse(c.atoms.begin(), c.atoms.end());
      state.ResumeTiming();
    }
    RestoreAtomsVisibilityAndSelection(&c, saved, count);
    selected = CountNumSelectedAtoms(&c);
    benchmark::DoNotOptimize(selected);
  }
  state.counters["atoms"] = static_cast<double>(source.atomCount);
  state.counters["selected"] = static_cast<double>(selected);
}

void BM_SaveRestore(benchmark::State &state) { SaveAndRestore(state, false); }
void BM_SaveRestoreReversed(benchmark::State &state) { SaveAndRestore(state, true); }

// Counting the atoms of a proposed range, as the range sheet does on every
// keystroke: a large range over the same cell.
void BM_CalculateNumAtomsInRange(benchmark::State &state) {
  CrystalRec c = MakeSupercell(1);
  const float extent = static_cast<float>(state.range(0));
  const float mins[3] = {-0.3f, -0.3f, -0.3f};
  const float maxs[3] = {extent + 0.2f, extent + 0.2f, extent + 0.2f};
  int64_t n = 0;
  for (auto _ : state) {
    n = CalculateNumAtomsInRange(&c, mins, maxs);
    benchmark::DoNotOptimize(n);
  }
  state.counters["inRange"] = static_cast<double>(n);
}

} // namespace

BENCHMARK(BM_SaveRestore)->Arg(10000)->Arg(30000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SaveRestoreReversed)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CalculateNumAtomsInRange)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);
