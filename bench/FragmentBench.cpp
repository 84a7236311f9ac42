// Hiding incomplete molecules among 100,000 atoms: rings of 50 (whole) and
// open chains of 50 (incomplete from both ends). The chains peel inwards one
// atom per round from each end, so repeated whole passes would take 25 of
// them; the peel reaches the same end in one sweep.
#include "FragmentCommands.h"
#include "StructureArrays.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kAtoms = 100000;
constexpr int kLength = 50;

void RingsAndChains(CrystalRec &c) {
  InitBlankCrystalRec(&c);
  c.sites.resize(1);
  c.sites[0].coordination = 2;
  c.sites[0].firstAtom = 0;
  c.sites[0].lastAtom = kAtoms - 1;
  c.siteCount = 1;
  c.atoms.resize(kAtoms);
  for (int m = 0; m < kAtoms / kLength; m++) {
    const bool ring = m % 2 == 0;
    for (int k = 0; k < kLength; k++) {
      AtomRecord &a = c.atoms[static_cast<size_t>(m * kLength + k)];
      const int prev = k > 0 ? k - 1 : (ring ? kLength - 1 : -1);
      const int next = k + 1 < kLength ? k + 1 : (ring ? 0 : -1);
      for (int j : {prev, next})
        if (j >= 0)
          a.bonds.push_back(static_cast<uint32_t>(m * kLength + j));
      a.bondCount = static_cast<uint32_t>(a.bonds.size());
    }
  }
  c.atomCount = kAtoms;
}

void BM_HideMolecularFragments100000(benchmark::State &state) {
  CrystalRec c;
  RingsAndChains(c);
  int64_t hidden = 0;
  for (auto _ : state) {
    for (AtomRecord &a : c.atoms)
      a.visible = 1;
    hidden = HideMolecularFragments(c);
    benchmark::DoNotOptimize(hidden);
  }
  state.counters["hidden"] = static_cast<double>(hidden); // 50,000: every chain, no ring
}
BENCHMARK(BM_HideMolecularFragments100000)->Unit(benchmark::kMillisecond);

} // namespace
