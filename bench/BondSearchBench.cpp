// Bond generation on rock-salt supercells:
//   NaCl10          the 10 x 10 x 10 supercell (8,000 atoms), Na-Cl to 3.0 A;
//                   tools/bench_ase_neighbors.py times python3-ase's
//                   neighbor_list on the same pairs and compares;
//   Slab10k/100k    a slab two cells thick along a (10,000 and 100,000
//                   atoms), seen along c (thin along view x) and along a
//                   (wide along view x);
//   Coordination    the coordination numbers of the 100,000-atom slab.
// The plain search of the tests (a walk over the x ranks of a slab) runs on
// the smaller cases for comparison, and once on the thin 100,000-atom slab.
#include "BondSearch.h"

#include "../tests/model/BondSearchReference.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

// Rock salt over whole cells 0 .. n - 1 per axis (the range stops short of
// the next cell's face).
const CrystalRec &RockSalt(int na, int nb, int nc, float u, float v, float w) {
  static std::map<std::array<float, 6>, CrystalRec> cache;
  const std::array<float, 6> key = {static_cast<float>(na), static_cast<float>(nb), static_cast<float>(nc), u, v, w};
  auto it = cache.find(key);
  if (it != cache.end())
    return it->second;
  CrystalRec &c = cache[key];
  const float cell[6] = {5.6402f, 5.6402f, 5.6402f, 90, 90, 90};
  const float range[6] = {0, na - 0.01f, 0, nb - 0.01f, 0, nc - 0.01f};
  if (!bondref::MakeCrystal(c, cell, "F m -3 m", {{"Cl1", "Cl", 0.5f, 0.5f, 0.5f}, {"Na1", "Na", 0, 0, 0}}, range)) {
    std::fprintf(stderr, "cannot build the rock-salt supercell\n");
    std::abort();
  }
  bondref::SetView(c, u, v, w);
  bondref::AddSpec(c, "Na", "Cl", 0.0f, 3.0f);
  return c;
}

int64_t CountBonds(const CrystalRec &c) {
  int64_t n = 0;
  for (const AtomRecord &atom : c.atoms)
    n += static_cast<int64_t>(atom.bonds.size());
  return n / 2;
}

void Generate(benchmark::State &state, const CrystalRec &source) {
  CrystalRec c = source;
  for (auto _ : state)
    TurboGenerateBonds(&c);
  state.counters["atoms"] = static_cast<double>(c.atomCount);
  state.counters["bonds"] = static_cast<double>(CountBonds(c));
}

void Reference(benchmark::State &state, const CrystalRec &source) {
  int64_t bonds = 0;
  for (auto _ : state) {
    const auto lists = bondref::GenerateBonds(source);
    benchmark::DoNotOptimize(lists.data());
    bonds = 0;
    for (const auto &l : lists)
      bonds += static_cast<int64_t>(l.size());
  }
  state.counters["atoms"] = static_cast<double>(source.atomCount);
  state.counters["bonds"] = static_cast<double>(bonds / 2);
}

const CrystalRec &NaCl10() { return RockSalt(10, 10, 10, 0, 0, 1); }
const CrystalRec &Slab10kThin() { return RockSalt(2, 25, 25, 0, 0, 1); }
const CrystalRec &Slab10kWide() { return RockSalt(2, 25, 25, 1, 0, 0); }
const CrystalRec &Slab100kThin() { return RockSalt(2, 125, 50, 0, 0, 1); }
const CrystalRec &Slab100kWide() { return RockSalt(2, 125, 50, 1, 0, 0); }

void BM_NaCl10(benchmark::State &state) { Generate(state, NaCl10()); }
void BM_NaCl10_Reference(benchmark::State &state) { Reference(state, NaCl10()); }
void BM_Slab10k_ThinAlongX(benchmark::State &state) { Generate(state, Slab10kThin()); }
void BM_Slab10k_WideAlongX(benchmark::State &state) { Generate(state, Slab10kWide()); }
void BM_Slab100k_ThinAlongX(benchmark::State &state) { Generate(state, Slab100kThin()); }
void BM_Slab100k_WideAlongX(benchmark::State &state) { Generate(state, Slab100kWide()); }
void BM_Slab10k_ThinAlongX_Reference(benchmark::State &state) { Reference(state, Slab10kThin()); }
void BM_Slab10k_WideAlongX_Reference(benchmark::State &state) { Reference(state, Slab10kWide()); }
void BM_Slab100k_ThinAlongX_Reference(benchmark::State &state) { Reference(state, Slab100kThin()); }

void BM_Coordination100k(benchmark::State &state) {
  CrystalRec c = Slab100kThin();
  bool found = false;
  for (auto _ : state) {
    bool nothing = false;
    found = TurboGetCoordinationNumbers(&c, &nothing);
  }
  state.counters["found"] = found ? 1 : 0;
  state.counters["Na"] = static_cast<double>(c.sites[1].coordination);
}

BENCHMARK(BM_NaCl10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NaCl10_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10k_ThinAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10k_WideAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100k_ThinAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100k_WideAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10k_ThinAlongX_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10k_WideAlongX_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100k_ThinAlongX_Reference)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Coordination100k)->Unit(benchmark::kMillisecond);

} // namespace
