// A bond search on an input that used to break it:
//   TinyCellRefusal      a P 1 cell of 0.011 A with eight sites over 21 cells a
//                        side (74,088 atoms, some 2.4 billion pairs within the
//                        0.4 A maximum): the time the search takes to count
//                        past what memory holds and refuse.
//   TinyCellSmall        the same cell over 3 cells a side (216 atoms, every
//                        pair within the maximum), which the tests run once.
// Sites in a file's order (element runs interleaved) are in BondSearchBench.
#include "BondSearch.h"

#include "../tests/model/BondSearchReference.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

// The tiny cell over 0 to `top` on every axis, built once a run.
const CrystalRec &TinyCell(float top) {
  static std::map<float, CrystalRec> built;
  if (auto at = built.find(top); at != built.end())
    return at->second;
  CrystalRec &crystal = built[top];
  const float cell[6] = {0.011f, 0.011f, 0.011f, 90, 90, 90};
  const float range[6] = {0, top, 0, top, 0, top};
  std::vector<bondref::SiteSpec> sites;
  for (int k = 0; k < 8; k++)
    sites.push_back({"C" + std::to_string(k + 1), "C", (k & 1) * 0.5f, (k >> 1 & 1) * 0.5f, (k >> 2 & 1) * 0.5f});
  if (!bondref::MakeCrystal(crystal, cell, "P 1", sites, range)) {
    std::fprintf(stderr, "cannot build the tiny cell\n");
    std::abort();
  }
  bondref::AddSpec(crystal, "C", "C", 0.0f, 0.4f);
  return crystal;
}

void BondTinyCell(benchmark::State &state, float top) {
  CrystalRec c = TinyCell(top);
  for (auto _ : state)
    TurboGenerateBonds(&c);
  state.counters["atoms"] = static_cast<double>(c.atomCount);
  state.counters["refused"] = TurboLastBondSearchEnd() == BondSearchEnd::TooMany ? 1 : 0;
}

void BM_TinyCellRefusal(benchmark::State &state) { BondTinyCell(state, 20.0f); }
void BM_TinyCellSmall(benchmark::State &state) { BondTinyCell(state, 2.0f); }

} // namespace

BENCHMARK(BM_TinyCellRefusal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TinyCellSmall)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
