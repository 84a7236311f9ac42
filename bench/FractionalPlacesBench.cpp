// Places modulo the lattice on large inputs: the atoms of a file grouped by
// place (every tenth written twice, as the elements of a mixed site are),
// and the images of listed atoms under the 48 operators of a cubic group
// (P m -3 m's rotations), each image looked up and kept, as a reader of a
// listed cell does. Both should grow linearly with the atoms.
#include "FractionalPlaces.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

std::vector<std::array<double, 3>> Positions(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-0.5, 1.5);
  std::vector<std::array<double, 3>> p(n);
  for (size_t k = 0; k < n; k++)
    p[k] = k % 10 == 9 ? p[k - 1] : std::array<double, 3>{u(rng), u(rng), u(rng)};
  return p;
}

void BM_GroupAtOnePlace(benchmark::State &state) {
  const auto positions = Positions(static_cast<size_t>(state.range(0)), 11);
  for (auto _ : state)
    benchmark::DoNotOptimize(GroupAtOnePlace(positions));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GroupAtOnePlace)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The 48 signed permutation matrices.
std::vector<GEP> CubicRotations() {
  std::vector<GEP> ops;
  const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto &perm : perms)
    for (int signs = 0; signs < 8; signs++) {
      GEP g;
      for (int i = 0; i < 3; i++)
        g.rotation[i][perm[i]] = static_cast<int16_t>(signs >> i & 1 ? -1 : 1);
      ops.push_back(g);
    }
  return ops;
}

void BM_ImagesOfListedAtoms(benchmark::State &state) {
  const auto positions = Positions(static_cast<size_t>(state.range(0)), 12);
  const std::vector<GEP> ops = CubicRotations();
  for (auto _ : state) {
    FractionalPlaces images(positions.size());
    size_t dropped = 0;
    for (const auto &p : positions) {
      if (images.Find(p.data()) != FractionalPlaces::kNone) {
        dropped++;
        continue;
      }
      for (const GEP &g : ops) {
        double image[3];
        ApplyOperator(g, p.data(), image);
        images.Insert(image);
      }
    }
    benchmark::DoNotOptimize(dropped);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * static_cast<int64_t>(ops.size()));
}
BENCHMARK(BM_ImagesOfListedAtoms)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
