// The Distance Explorer's hot paths: binning ten million distances into five
// To rows, sorting a million output rows by bond, and drawing a histogram of
// 120,000 bins.
#include "explorers/DistanceHistogram.h"
#include "explorers/DistanceSearch.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

namespace {

void EnsureApplication() {
  if (QGuiApplication::instance())
    return;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "bench_ExplorerBench";
  static char *argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);
}

// Five sites of five elements, each with its sphere style; `results`
// distances spread over 0.5 .. 9.5 A.
void MakeSearch(CrystalRec &crystal, DistanceSearch &search, size_t results, float width) {
  const char *elements[5] = {"O", "Si", "Al", "Na", "Cl"};
  crystal.sites.resize(5);
  crystal.siteCount = 5;
  crystal.spheres.resize(5);
  crystal.sphereCount = 5;
  search.toEntries.clear();
  for (int k = 0; k < 5; k++) {
    crystal.spheres[size_t(k)].element = TwoCharsToShort(elements[k]);
    crystal.sites[size_t(k)].atomType = uint32_t(k);
    crystal.sites[size_t(k)].elements[0] = TwoCharsToShort(elements[k]);
    std::snprintf(crystal.sites[size_t(k)].label, kSiteLabelSize, "%s%d", elements[k], k + 1);
    DistanceToEntry row;
    row.element = int16_t(TwoCharsToShort(elements[k]));
    row.colour[0] = 0.2f * float(k);
    search.toEntries.push_back(row);
  }
  search.minDistance = 0.0f;
  search.maxDistance = 10.0f;
  search.binWidth = width;
  search.haveResults = true;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> distance(0.5f, 9.5f);
  std::uniform_int_distribution<uint32_t> site(0, 4);
  search.results.resize(results);
  for (DistanceResult &r : search.results)
    r = {site(random), site(random), distance(random), 0.0f};
}

void BM_BinTenMillionDistances(benchmark::State &state) {
  CrystalRec crystal;
  DistanceSearch search;
  MakeSearch(crystal, search, 10'000'000, 0.001f);
  for (auto _ : state)
    benchmark::DoNotOptimize(BinDistanceResults(search, &crystal));
}
BENCHMARK(BM_BinTenMillionDistances)->Unit(benchmark::kMillisecond);

void BM_SortMillionRowsByBond(benchmark::State &state) {
  CrystalRec crystal;
  DistanceSearch search;
  MakeSearch(crystal, search, 1'000'000, 0.01f);
  for (auto _ : state)
    benchmark::DoNotOptimize(SortDistanceOutput(search, crystal, FourCharsToLong("Bond")));
}
BENCHMARK(BM_SortMillionRowsByBond)->Unit(benchmark::kMillisecond);

void BM_DrawHundredTwentyThousandBins(benchmark::State &state) {
  EnsureApplication();
  CrystalRec crystal;
  DistanceSearch search;
  MakeSearch(crystal, search, 1'000'000, 0.001f);
  search.maxDistance = 120.0f;
  search.dropShadow = 0;
  BinDistanceResults(search, &crystal);
  QImage image(1200, 600, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    QPainter painter(&image);
    DrawDistanceSearchGraph(painter, &search, QRectF(0, 0, 1200, 600));
  }
  state.counters["bins"] = search.binCount;
}
BENCHMARK(BM_DrawHundredTwentyThousandBins)->Unit(benchmark::kMillisecond);

} // namespace
