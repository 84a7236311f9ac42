// Bond searches on inputs that used to break them:
//   TinyCellRefusal      a P 1 cell of 0.011 A with eight sites over 21 cells a
//                        side (74,088 atoms, some 2.4 billion pairs within the
//                        0.4 A maximum): the time the search takes to count
//                        past what memory holds and refuse;
//   RockSaltInterleaved  the 100,000 P 1 sites of rock salt listed Cl, Na, Cl,
//                        Na ... (100,000 element runs): bonds and coordination
//                        numbers, to set beside the element-sorted cases of
//                        BondSearchBench.
#include "BondSearch.h"

#include "../tests/model/BondSearchReference.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const CrystalRec &TinyCell() {
  static const CrystalRec c = [] {
    CrystalRec crystal;
    const float cell[6] = {0.011f, 0.011f, 0.011f, 90, 90, 90};
    const float range[6] = {0, 20, 0, 20, 0, 20};
    std::vector<bondref::SiteSpec> sites;
    for (int k = 0; k < 8; k++)
      sites.push_back({"C" + std::to_string(k + 1), "C", (k & 1) * 0.5f, (k >> 1 & 1) * 0.5f, (k >> 2 & 1) * 0.5f});
    if (!bondref::MakeCrystal(crystal, cell, "P 1", sites, range)) {
      std::fprintf(stderr, "cannot build the tiny cell\n");
      std::abort();
    }
    bondref::AddSpec(crystal, "C", "C", 0.0f, 0.4f);
    return crystal;
  }();
  return c;
}

const CrystalRec &RockSaltInterleaved() {
  static const CrystalRec c = [] {
    constexpr int kCells[3] = {25, 25, 20};
    constexpr float kA = 5.6402f;
    const float fcc[4][3] = {{0, 0, 0}, {0, 0.5f, 0.5f}, {0.5f, 0, 0.5f}, {0.5f, 0.5f, 0}};
    std::vector<bondref::SiteSpec> sites;
    for (int i = 0; i < kCells[0]; i++)
      for (int j = 0; j < kCells[1]; j++)
        for (int k = 0; k < kCells[2]; k++)
          for (const auto &f : fcc)
            for (const char *element : {"Cl", "Na"}) {
              const float base = element[0] == 'C' ? 0.5f : 0.0f;
              sites.push_back({std::string(1, element[0]) + std::to_string(sites.size()), element,
                               (static_cast<float>(i) + base + f[0]) / kCells[0],
                               (static_cast<float>(j) + base + f[1]) / kCells[1],
                               (static_cast<float>(k) + base + f[2]) / kCells[2]});
            }
    CrystalRec crystal;
    const float cell[6] = {kCells[0] * kA, kCells[1] * kA, kCells[2] * kA, 90, 90, 90};
    const float range[6] = {0, 0.99f, 0, 0.99f, 0, 0.99f};
    if (!bondref::MakeCrystal(crystal, cell, "P 1", sites, range)) {
      std::fprintf(stderr, "cannot build the interleaved rock-salt cell\n");
      std::abort();
    }
    bondref::AddSpec(crystal, "Na", "Cl", 0.0f, 3.0f);
    return crystal;
  }();
  return c;
}

void BM_TinyCellRefusal(benchmark::State &state) {
  CrystalRec c = TinyCell();
  for (auto _ : state)
    TurboGenerateBonds(&c);
  state.counters["atoms"] = static_cast<double>(c.atomCount);
  state.counters["refused"] = TurboLastBondSearchEnd() == BondSearchEnd::TooMany ? 1 : 0;
}

void BM_RockSaltInterleaved_Bonds(benchmark::State &state) {
  CrystalRec c = RockSaltInterleaved();
  for (auto _ : state)
    TurboGenerateBonds(&c);
  int64_t ends = 0;
  for (const AtomRecord &atom : c.atoms)
    ends += static_cast<int64_t>(atom.bonds.size());
  state.counters["bonds"] = static_cast<double>(ends / 2);
}

void BM_RockSaltInterleaved_Coordination(benchmark::State &state) {
  CrystalRec c = RockSaltInterleaved();
  for (auto _ : state)
    benchmark::DoNotOptimize(TurboGetCoordinationNumbers(&c, nullptr));
  state.counters["sites"] = static_cast<double>(c.siteCount);
}

} // namespace

BENCHMARK(BM_TinyCellRefusal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RockSaltInterleaved_Bonds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RockSaltInterleaved_Coordination)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
