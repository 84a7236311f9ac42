// Cell transformations at size: a general transformation of determinant 64
// and 1000 of a 50-site P 1 crystal (the new sites with their duplicate
// search and the lattice detection; then the whole command through a
// headless window, rebuild included), a 10 x 10 x 10 supercell of a 200-site
// cell (the new sites, then the whole command with its rebuild), and the
// projection matrix search at the largest index accepted.
#include "BuildPipeline.h"
#include "CellTransform.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include "tools/HeadlessHost.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

namespace {

std::vector<AsymmetricUnitRecord> RandomSites(int32_t n, uint32_t seed) {
  std::vector<AsymmetricUnitRecord> sites(static_cast<size_t>(n));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const char *elements[] = {"C ", "N ", "O ", "S "};
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = sites[static_cast<size_t>(s)];
    std::snprintf(site.label, sizeof site.label, "X%d", static_cast<int>(s % 100000));
    site.elements[0] = TwoCharsToShort(elements[s % 4]);
    site.occupancies[0] = 1.0f;
    for (float &v : site.xyz)
      v = unit(rng);
  }
  return sites;
}

// A P 1 crystal of n random sites in a headless structure window, built.
struct Window {
  HeadlessHost host;
  OVWindowRecord record;
  explicit Window(int32_t n, float cell) {
    SetHostServices(&host);
    InitOVGlobals();
    InitMainWindowData(&record);
    record.mainData->fileOpen = 1;
    host.window = &record;
    host.pane = Rect{0, 0, 600, 800};
    CrystalRec &c = *GetWindowCrystal(&record);
    ClearCrystalRec(&c);
    c.a = c.b = c.c = cell;
    c.sites = RandomSites(n, 7u);
    c.siteCount = n;
    RunNewCrystal(&record, true, true, true);
  }
  ~Window() {
    DestroyMainWindowData(&record);
    SetHostServices(nullptr);
  }
};

void BM_TransformCellSites(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const auto sites = RandomSites(50, 3u);
  const float T[9] = {float(n), 0, 0, 0, float(n), 0, 0, 0, float(n)};
  const int64_t expected = 50LL * n * n * n;
  char letter = 0;
  for (auto _ : state) {
    auto made = TransformCellSites(sites, T, expected);
    letter = DetectLatticeType(made);
    if (static_cast<int64_t>(made.size()) != expected)
      state.SkipWithError("wrong site count");
    benchmark::DoNotOptimize(letter);
  }
  state.counters["sites"] = static_cast<double>(expected);
}
BENCHMARK(BM_TransformCellSites)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_TransformCellCommand(benchmark::State &state) {
  const int n = static_cast<int>(state.range(0));
  const float T[9] = {float(n), 0, 0, 0, float(n), 0, 0, 0, float(n)};
  for (auto _ : state) {
    Window w(50, 8.0f);
    const auto start = std::chrono::steady_clock::now();
    if (!TransformCell(&w.record, T))
      state.SkipWithError("refused");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_TransformCellCommand)->Arg(4)->Arg(10)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

void BM_SupercellSites(benchmark::State &state) {
  const auto sites = RandomSites(200, 5u);
  for (auto _ : state) {
    auto made = MakeSupercellSites(sites, 10, 10, 10, false);
    benchmark::DoNotOptimize(made.data());
  }
}
BENCHMARK(BM_SupercellSites)->Unit(benchmark::kMillisecond);

void BM_SupercellCommandWithRebuild(benchmark::State &state) {
  for (auto _ : state) {
    Window w(200, 15.0f);
    const auto start = std::chrono::steady_clock::now();
    if (!DefineSupercell(&w.record, 10, 10, 10))
      state.SkipWithError("refused");
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_SupercellCommandWithRebuild)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

void BM_ProjectionMatrix(benchmark::State &state) {
  float T[9];
  for (auto _ : state)
    if (!GetProjectionTransformationMatrix('F', kMaxProjectionIndex, kMaxProjectionIndex - 1, 1, T))
      state.SkipWithError("no matrix");
}
BENCHMARK(BM_ProjectionMatrix)->Unit(benchmark::kMillisecond);

} // namespace
