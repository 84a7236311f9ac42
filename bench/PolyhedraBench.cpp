// Coordination polyhedra of large structures.
//
// Perovskite: a 10 x 10 x 10 supercell of cubic SrTiO3 (plot range 0 to 10 on
// each axis, so 11 cells are generated as the plot range would), bonded Ti-O
// and Sr-O. Every Ti centres an octahedron, every Sr a cuboctahedron of twelve
// O (fourteen faces), every O an octahedron of two Ti and four Sr.
//
// Hidden half: 6,000 sites of C, N and O scattered through a 40 A cell with
// the plot range cut to half the cell along a. The sites with no atom in the
// range have no plotted neighbour, so their role is asked of the whole
// crystal: the coordinating sites of each are searched over every site.
#include "Polyhedra.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include "../tests/model/PolyhedraStructures.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(const std::string &error, const char *what) {
  if (!error.empty()) {
    std::fprintf(stderr, "%s: %s\n", what, error.c_str());
    std::exit(1);
  }
}

CrystalRec &Perovskite() {
  static CrystalRec c = [] {
    CrystalRec built;
    Require(polytest::BuildCrystal(built, polytest::Perovskite(), 11, 11, 11, 10.0f), "perovskite");
    return built;
  }();
  return c;
}

CrystalRec &HiddenHalf() {
  static std::vector<std::string> labels;
  static CrystalRec c = [] {
    polytest::CrystalInput in{"P 1",
                              0,
                              {40.0f, 40.0f, 40.0f, 90.0f, 90.0f, 90.0f},
                              {},
                              {{"C", "C", 0.0f, 1.6f}, {"C", "N", 0.0f, 1.5f}, {"C", "O", 0.0f, 1.45f}}};
    const char *elements[3] = {"C", "N", "O"};
    const int n = 6000;
    labels.resize(n);
    uint32_t seed = 7u;
    auto next = [&seed]() {
      seed = seed * 1664525u + 1013904223u;
      return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    for (int k = 0; k < n; ++k) {
      labels[static_cast<size_t>(k)] = std::string(elements[k % 3]) + std::to_string(k % 100000);
      const float x = next(), y = next(), z = next();
      in.sites.push_back({labels[static_cast<size_t>(k)].c_str(), elements[k % 3], x, y, z});
    }
    CrystalRec built;
    Require(polytest::BuildCrystal(built, in, 1, 1, 1), "hidden half");
    built.plotRange[1] = 0.5f;
    for (AtomRecord &atom : built.atoms)
      atom.visible = atom.xyz[0] <= 0.5f ? 1 : 0;
    TurboGenerateBonds(&built);
    return built;
  }();
  return c;
}

void Run(benchmark::State &state, CrystalRec &c) {
  int64_t polyhedra = 0, visible = 0;
  for (const AtomRecord &atom : c.atoms)
    visible += atom.visible;
  for (auto _ : state) {
    DefinePolyhedra(&c);
    benchmark::ClobberMemory();
  }
  for (const AtomRecord &atom : c.atoms)
    polyhedra += atom.polyhedron ? 1 : 0;
  state.counters["atoms"] = static_cast<double>(c.atomCount);
  state.counters["inRange"] = static_cast<double>(visible);
  state.counters["polyhedra"] = static_cast<double>(polyhedra);
}

void BM_DefinePolyhedraPerovskite10(benchmark::State &state) { Run(state, Perovskite()); }
BENCHMARK(BM_DefinePolyhedraPerovskite10)->Unit(benchmark::kMillisecond);

void BM_DefinePolyhedraHiddenHalf(benchmark::State &state) { Run(state, HiddenHalf()); }
BENCHMARK(BM_DefinePolyhedraHiddenHalf)->Unit(benchmark::kMillisecond);

} // namespace
