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
//
// Faces of n points: the face search alone on an octahedron (6), a
// cuboctahedron (12) and n points spread over a sphere of 3 A radius, to
// show how it grows with the number of ligands.
#include "Polyhedra.h"
#include "Preferences.h"
#include "StructureArrays.h"

#include "../tests/model/PolyhedraStructures.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
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
    polyhedra += AtomPolyhedron(&c, atom) ? 1 : 0;
  state.counters["atoms"] = static_cast<double>(c.atomCount);
  state.counters["inRange"] = static_cast<double>(visible);
  state.counters["polyhedra"] = static_cast<double>(polyhedra);
}

void BM_DefinePolyhedraPerovskite10(benchmark::State &state) { Run(state, Perovskite()); }
BENCHMARK(BM_DefinePolyhedraPerovskite10)->Unit(benchmark::kMillisecond);

void BM_DefinePolyhedraHiddenHalf(benchmark::State &state) { Run(state, HiddenHalf()); }
BENCHMARK(BM_DefinePolyhedraHiddenHalf)->Unit(benchmark::kMillisecond);

// The ligand positions of a polyhedron of n vertices (see the top).
std::vector<std::array<float, 3>> Ligands(int n) {
  if (n == 6)
    return {{3, 0, 0}, {-3, 0, 0}, {0, 3, 0}, {0, -3, 0}, {0, 0, 3}, {0, 0, -3}};
  std::vector<std::array<float, 3>> out;
  if (n == 12) {
    for (int a = 0; a < 3; ++a)
      for (float s : {1.0f, -1.0f})
        for (float t : {1.0f, -1.0f}) {
          std::array<float, 3> p = {0, 0, 0};
          p[static_cast<size_t>((a + 1) % 3)] = 2.1f * s;
          p[static_cast<size_t>((a + 2) % 3)] = 2.1f * t;
          out.push_back(p);
        }
    return out;
  }
  const double golden = 3.14159265358979323846 * (3.0 - std::sqrt(5.0));
  for (int k = 0; k < n; ++k) {
    const double y = 1.0 - 2.0 * (k + 0.5) / n;
    const double r = std::sqrt(1.0 - y * y);
    out.push_back({static_cast<float>(3.0 * r * std::cos(golden * k)), static_cast<float>(3.0 * y),
                   static_cast<float>(3.0 * r * std::sin(golden * k))});
  }
  return out;
}

void BM_MakeFaces(benchmark::State &state) {
  const auto pts = Ligands(static_cast<int>(state.range(0)));
  uint32_t vertices = 0, faces = 0;
  for (auto _ : state) {
    auto poly = MakeFaces(nullptr, static_cast<int32_t>(pts.size()),
                          reinterpret_cast<const float(*)[3]>(pts.data()), &vertices);
    faces = poly ? poly->faceCount : 0;
    benchmark::DoNotOptimize(poly);
  }
  state.counters["faces"] = faces;
  state.counters["vertices"] = vertices;
}
BENCHMARK(BM_MakeFaces)->Arg(6)->Arg(12)->Arg(24)->Arg(48)->Arg(96)->Unit(benchmark::kMicrosecond);

} // namespace
