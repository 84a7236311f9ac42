// Bond generation on rock-salt supercells, each named by its atom count:
//   NaCl8000        the 10 x 10 x 10 supercell (8,000 atoms), Na-Cl to 3.0 A;
//                   tools/bench_ase_neighbors.py times python3-ase's
//                   neighbor_list on the same pairs and compares;
//   Slab10000/100000  a slab two cells thick along a (10,000 and 100,000
//                   atoms), seen along c (thin along view x) and along a
//                   (wide along view x);
//   Coordination100000Sites  the coordination numbers of 100,000 sites: a
//                   rock-salt supercell written out in P 1, one site per
//                   atom (the site count, not the atom count, sets the work);
//   RockSaltInterleaved  the same 100,000 sites listed Cl, Na, Cl, Na ...
//                   (100,000 element runs): bonds and coordination numbers;
//   Slab100000_ThinAlongX_NegativeGroup  the thin slab with both sites in one
//                   negative disorder group: every pair is asked whether it
//                   lies within one image (192 operators), the dearest case
//                   of the alternative positions.
// The plain search of the tests (a walk over the x ranks of a slab) runs on
// the smaller cases for comparison, and once on the thin 100,000-atom slab.
#include "BondSearch.h"

#include "../tests/model/BondSearchReference.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

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

const CrystalRec &NaCl8000() { return RockSalt(10, 10, 10, 0, 0, 1); }
const CrystalRec &Slab10000Thin() { return RockSalt(2, 25, 25, 0, 0, 1); }
const CrystalRec &Slab10000Wide() { return RockSalt(2, 25, 25, 1, 0, 0); }
const CrystalRec &Slab100000Thin() { return RockSalt(2, 125, 50, 0, 0, 1); }
const CrystalRec &Slab100000Wide() { return RockSalt(2, 125, 50, 1, 0, 0); }

// Rock salt over 25 x 25 x 20 cells written out as one P 1 cell of 100,000
// sites, its atoms those of that one cell: the Cl sites first (sites sorted
// by element), or listed Cl, Na, Cl, Na ... (100,000 element runs).
CrystalRec MakeRockSaltP1Sites(bool interleaved) {
  constexpr int kCells[3] = {25, 25, 20};
  constexpr float kA = 5.6402f;
  const float fcc[4][3] = {{0, 0, 0}, {0, 0.5f, 0.5f}, {0.5f, 0, 0.5f}, {0.5f, 0.5f, 0}};
  std::vector<bondref::SiteSpec> sites;
  auto add = [&](const char *element, int i, int j, int k, const float f[3]) {
    const float base = element[0] == 'C' ? 0.5f : 0.0f;
    char label[8];
    std::snprintf(label, sizeof label, "%c%d", element[0], static_cast<int>(sites.size() % 100000));
    sites.push_back({label, element, (static_cast<float>(i) + base + f[0]) / kCells[0],
                     (static_cast<float>(j) + base + f[1]) / kCells[1],
                     (static_cast<float>(k) + base + f[2]) / kCells[2]});
  };
  for (int pass = 0; pass < (interleaved ? 1 : 2); pass++)
    for (int i = 0; i < kCells[0]; i++)
      for (int j = 0; j < kCells[1]; j++)
        for (int k = 0; k < kCells[2]; k++)
          for (const auto &f : fcc) {
            if (interleaved) {
              add("Cl", i, j, k, f);
              add("Na", i, j, k, f);
            } else {
              add(pass == 0 ? "Cl" : "Na", i, j, k, f);
            }
          }
  CrystalRec crystal;
  const float cell[6] = {kCells[0] * kA, kCells[1] * kA, kCells[2] * kA, 90, 90, 90};
  const float range[6] = {0, 0.99f, 0, 0.99f, 0, 0.99f};
  if (!bondref::MakeCrystal(crystal, cell, "P 1", sites, range)) {
    std::fprintf(stderr, "cannot build the P 1 rock-salt cell\n");
    std::abort();
  }
  bondref::AddSpec(crystal, "Na", "Cl", 0.0f, 3.0f);
  return crystal;
}

const CrystalRec &RockSaltP1Sites() {
  static const CrystalRec c = MakeRockSaltP1Sites(false);
  return c;
}

const CrystalRec &RockSaltInterleaved() {
  static const CrystalRec c = MakeRockSaltP1Sites(true);
  return c;
}

void BM_NaCl8000(benchmark::State &state) { Generate(state, NaCl8000()); }
void BM_NaCl8000_Reference(benchmark::State &state) { Reference(state, NaCl8000()); }
void BM_Slab10000_ThinAlongX(benchmark::State &state) { Generate(state, Slab10000Thin()); }
void BM_Slab10000_WideAlongX(benchmark::State &state) { Generate(state, Slab10000Wide()); }
void BM_Slab100000_ThinAlongX(benchmark::State &state) { Generate(state, Slab100000Thin()); }
void BM_Slab100000_WideAlongX(benchmark::State &state) { Generate(state, Slab100000Wide()); }
void BM_Slab10000_ThinAlongX_Reference(benchmark::State &state) { Reference(state, Slab10000Thin()); }
void BM_Slab10000_WideAlongX_Reference(benchmark::State &state) { Reference(state, Slab10000Wide()); }
void BM_Slab100000_ThinAlongX_Reference(benchmark::State &state) { Reference(state, Slab100000Thin()); }

void BM_Slab100000_ThinAlongX_NegativeGroup(benchmark::State &state) {
  static const CrystalRec c = [] {
    CrystalRec x = Slab100000Thin();
    for (AsymmetricUnitRecord &site : x.sites)
      site.disorderGroup = -1;
    return x;
  }();
  Generate(state, c);
}

void BM_Coordination100000Sites(benchmark::State &state) {
  CrystalRec c = RockSaltP1Sites();
  bool found = false;
  for (auto _ : state) {
    bool nothing = false;
    found = TurboGetCoordinationNumbers(&c, &nothing);
  }
  int64_t contacts = 0;
  for (int32_t s = 0; s < c.siteCount; s++)
    contacts += c.sites[static_cast<size_t>(s)].coordination;
  state.counters["sites"] = static_cast<double>(c.siteCount);
  state.counters["found"] = found ? 1 : 0;
  state.counters["contacts"] = static_cast<double>(contacts); // 6 for each site
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

BENCHMARK(BM_NaCl8000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NaCl8000_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10000_ThinAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10000_WideAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100000_ThinAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100000_WideAlongX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100000_ThinAlongX_NegativeGroup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10000_ThinAlongX_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab10000_WideAlongX_Reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slab100000_ThinAlongX_Reference)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Coordination100000Sites)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RockSaltInterleaved_Bonds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RockSaltInterleaved_Coordination)->Unit(benchmark::kMillisecond);

} // namespace
