// The automatic bond search on molecules of 5,000 and 50,000 atoms (a
// jittered lattice of C, H, N and O at bonding distance, about three bonds
// per atom), on a crystal of 2,000 atoms per cell, and on a perovskite of
// 1,715 sites per cell (a salt whose Ba-Ti contacts are judged second
// neighbours).
#include "AutoBonds.h"

#include "../tests/model/AutoBondsTestSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace {

const std::map<std::string, float> kRadii = {{"C", 0.77f}, {"H", 0.37f}, {"N", 0.75f}, {"O", 0.73f}};

std::string RandomElement(std::mt19937 &rng) {
  const int r = static_cast<int>(rng() % 10);
  return r < 6 ? "C" : r < 8 ? "H" : r < 9 ? "N" : "O";
}

// nx x ny x nz atoms 1.45 A apart, each moved at random by up to 0.1 A.
CrystalRec MakeLatticeMolecule(int nx, int ny, int nz, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> jitter(-0.1f, 0.1f);
  std::vector<autobondtest::MoleculeAtom> atoms;
  for (int i = 0; i < nx; i++)
    for (int j = 0; j < ny; j++)
      for (int k = 0; k < nz; k++)
        atoms.push_back(
            {RandomElement(rng), 1.45f * i + jitter(rng), 1.45f * j + jitter(rng), 1.45f * k + jitter(rng)});
  std::stable_sort(atoms.begin(), atoms.end(),
                   [](const autobondtest::MoleculeAtom &a, const autobondtest::MoleculeAtom &b) {
                     return autobondtest::Element(a.element) < autobondtest::Element(b.element);
                   });
  CrystalRec c;
  autobondtest::MakeMolecule(c, atoms, kRadii, 2.0f * 1.45f * float(std::max({nx, ny, nz})));
  return c;
}

void RunAutoBondSearch(benchmark::State &state, CrystalRec &c) {
  for (auto _ : state) {
    AutoBondSearch(&c);
    benchmark::DoNotOptimize(c.bondSpecCount);
  }
  int64_t bonds = 0;
  for (const AtomRecord &atom : c.atoms)
    bonds += atom.bondCount;
  state.counters["atoms"] = double(c.atomCount);
  state.counters["bonds"] = double(bonds / 2);
  state.counters["specs"] = double(c.bondSpecCount);
}

void BM_AutoBondSearch_Molecule5000(benchmark::State &state) {
  static CrystalRec c = MakeLatticeMolecule(20, 25, 10, 1u);
  RunAutoBondSearch(state, c);
}
BENCHMARK(BM_AutoBondSearch_Molecule5000)->Unit(benchmark::kMillisecond);

void BM_AutoBondSearch_Molecule50000(benchmark::State &state) {
  static CrystalRec c = MakeLatticeMolecule(50, 50, 20, 2u);
  RunAutoBondSearch(state, c);
}
BENCHMARK(BM_AutoBondSearch_Molecule50000)->Unit(benchmark::kMillisecond);

// 2,000 random C, H, N, O sites at least 1.3 A apart in a 30 A P 1 cell.
void BM_AutoBondSearch_Crystal2000(benchmark::State &state) {
  static CrystalRec c = [] {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float a = 30.0f;
    std::vector<autobondtest::Site> sites;
    while (sites.size() < 2000) {
      autobondtest::Site s{RandomElement(rng), unit(rng), unit(rng), unit(rng)};
      bool apart = true;
      for (const autobondtest::Site &t : sites) {
        float d2 = 0.0f;
        for (float dv : {s.x - t.x, s.y - t.y, s.z - t.z}) {
          dv -= std::round(dv);
          d2 += dv * dv * a * a;
        }
        if (d2 < 1.3f * 1.3f) {
          apart = false;
          break;
        }
      }
      if (apart)
        sites.push_back(s);
    }
    std::stable_sort(sites.begin(), sites.end(), [](const autobondtest::Site &x, const autobondtest::Site &y) {
      return autobondtest::Element(x.element) < autobondtest::Element(y.element);
    });
    CrystalRec crystal;
    autobondtest::MakeCrystal(crystal, {a, a, a, 90, 90, 90}, "P 1", sites, kRadii);
    return crystal;
  }();
  RunAutoBondSearch(state, c);
}
BENCHMARK(BM_AutoBondSearch_Crystal2000)->Unit(benchmark::kMillisecond);

// BaTiO3 in the cubic perovskite type, 7 x 7 x 7 cells of 3.9 A written out
// in a P 1 cell, each site moved at random by up to 0.05 A: Ba-Ti, 3.38 A,
// lies about the two metals' limit (0.9 x 3.75 A) and shares four O.
void BM_AutoBondSearch_Perovskite1715(benchmark::State &state) {
  static CrystalRec c = [] {
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> jitter(-0.05f, 0.05f);
    const int n = 7;
    const float a = 3.9f * float(n);
    const std::pair<const char *, std::array<float, 3>> cell[] = {
        {"Ba", {0.5f, 0.5f, 0.5f}}, {"O", {0.5f, 0, 0}}, {"O", {0, 0.5f, 0}}, {"O", {0, 0, 0.5f}}, {"Ti", {0, 0, 0}}};
    std::vector<autobondtest::Site> sites;
    for (const auto &[element, xyz] : cell)
      for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
          for (int k = 0; k < n; k++)
            sites.push_back({element, (float(i) + xyz[0] + jitter(rng) / 3.9f) / float(n),
                             (float(j) + xyz[1] + jitter(rng) / 3.9f) / float(n),
                             (float(k) + xyz[2] + jitter(rng) / 3.9f) / float(n)});
    CrystalRec crystal;
    autobondtest::MakeCrystal(crystal, {a, a, a, 90, 90, 90}, "P 1", sites, {{"Ba", 1.35f}, {"O", 1.4f}, {"Ti", 0.6f}});
    return crystal;
  }();
  RunAutoBondSearch(state, c);
}
BENCHMARK(BM_AutoBondSearch_Perovskite1715)->Unit(benchmark::kMillisecond);

} // namespace
