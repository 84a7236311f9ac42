// The crystal build from sites to bonded, ranged atoms and polyhedra
// (`RunNewCrystal`), without the renderer: the window has no graph pane, so
// no off-screen image is made or drawn and the scale stays as given.
//   NaCl, range -5 to 5 on every axis: about 9,300 plotted atoms of 13,800
//     generated, with Na-Cl bonds;
//   a 100-site P 1 cell (Si and O on a jittered grid), range 0 to 10: about
//     133,000 atoms, with Si-O bonds;
//   an F d -3 m cell with 20 sites on special and general positions
//     (1,280 atoms a cell), range 0 to 1, with Si-O and Al-O bonds.
// Every iteration builds the structure afresh from its sites. No host is
// installed: the Log, status and alerts stay silent.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "window/MainWindowData.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

struct SiteIn {
  std::string label;
  const char *element;
  float xyz[3];
};

struct Input {
  float cell[6];
  const char *group;
  uint8_t origin;
  float range[6];
  std::vector<SiteIn> sites;
  std::vector<BondSpec> bonds;
};

BondSpec Spec(const char *a, const char *b, float lo, float hi) {
  BondSpec spec;
  spec.elementA = TwoCharsToShort(a);
  spec.elementB = TwoCharsToShort(b);
  spec.minLength = lo;
  spec.maxLength = hi;
  spec.style = 1;
  return spec;
}

void Fill(CrystalRec &c, const Input &in) {
  ClearCrystalRec(&c);
  c.a = in.cell[0];
  c.b = in.cell[1];
  c.c = in.cell[2];
  c.alpha = in.cell[3];
  c.beta = in.cell[4];
  c.gamma = in.cell[5];
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "%s", in.group);
  c.originChoice = in.origin;
  std::copy(std::begin(in.range), std::end(in.range), c.plotRange);
  const int32_t n = static_cast<int32_t>(in.sites.size());
  c.sites = *CreateAsymmetricUnit(n);
  c.siteCount = n;
  for (int32_t s = 0; s < n; s++) {
    AsymmetricUnitRecord &site = c.sites[static_cast<size_t>(s)];
    const SiteIn &src = in.sites[static_cast<size_t>(s)];
    std::snprintf(site.label, sizeof site.label, "%s", src.label.c_str());
    site.elements[0] = TwoCharsToShort(src.element);
    site.occupancies[0] = 1.0f;
    std::copy(std::begin(src.xyz), std::end(src.xyz), site.xyz);
  }
  SortAUByElement(&c);
  for (const BondSpec &spec : in.bonds)
    c.bondSpecs[static_cast<size_t>(c.bondSpecCount++)] = spec;
  c.plotScale = 20.0f;
}

Input RockSalt() {
  return Input{{5.64f, 5.64f, 5.64f, 90, 90, 90},
               "F m -3 m",
               0,
               {-5, 5, -5, 5, -5, 5},
               {{"Na1", "Na", {0, 0, 0}}, {"Cl1", "Cl", {.5f, .5f, .5f}}},
               {Spec("Na", "Cl", 2.5f, 3.0f)}};
}

// 100 sites on a 5 x 5 x 4 grid of a 10 x 10 x 8 A cell, moved off the grid
// points by up to 0.3 A; Si and O alternate.
Input HundredSites() {
  Input in{{10, 10, 8, 90, 90, 90}, "P 1", 0, {0, 10, 0, 10, 0, 10}, {}, {Spec("Si", "O", 1.2f, 2.3f)}};
  std::mt19937 rng(7u);
  std::uniform_real_distribution<float> jitter(-0.03f, 0.03f);
  int k = 0;
  for (int i = 0; i < 5; i++)
    for (int j = 0; j < 5; j++)
      for (int l = 0; l < 4; l++, k++) {
        const bool si = (i + j + l) % 2 == 0;
        in.sites.push_back({std::string(si ? "Si" : "O") + std::to_string(k + 1),
                            si ? "Si" : "O",
                            {0.2f * i + 0.1f + jitter(rng), 0.2f * j + 0.1f + jitter(rng),
                             0.25f * l + 0.125f + jitter(rng)}});
      }
  return in;
}

// 20 sites of F d -3 m (origin choice 2): 4 on 32e (x, x, x), 8 on 48f
// (x, 1/8, 1/8), 4 on 96g (x, x, z) and 4 on 96h (0, y, -y).
Input Faujasite() {
  Input in{{24.3f, 24.3f, 24.3f, 90, 90, 90},
           "F d -3 m",
           2,
           {0, 1, 0, 1, 0, 1},
           {},
           {Spec("Si", "O", 1.4f, 1.8f), Spec("Al", "O", 1.5f, 1.9f)}};
  std::mt19937 rng(11u);
  std::uniform_real_distribution<float> u(0.02f, 0.48f);
  int k = 0;
  auto add = [&](const char *element, float x, float y, float z) {
    in.sites.push_back({std::string(element) + std::to_string(++k), element, {x, y, z}});
  };
  for (int i = 0; i < 4; i++) {
    const float x = u(rng);
    add(i % 2 ? "Al" : "Si", x, x, x);
  }
  for (int i = 0; i < 8; i++)
    add("O", u(rng), 0.125f, 0.125f);
  for (int i = 0; i < 4; i++) {
    const float x = u(rng);
    add("O", x, x, u(rng));
  }
  for (int i = 0; i < 4; i++) {
    const float y = u(rng);
    add(i % 2 ? "Si" : "O", 0, y, -y);
  }
  return in;
}

void Build(benchmark::State &state, const Input &in) {
  OVWindowRecord window;
  InitMainWindowData(&window);
  window.mainData->fileOpen = 1;
  CrystalRec &c = *GetWindowCrystal(&window);
  int64_t generated = 0, plotted = 0, bonds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Fill(c, in);
    state.ResumeTiming();
    if (!RunNewCrystal(&window, true, true, false)) {
      state.SkipWithError("the build failed");
      break;
    }
    benchmark::DoNotOptimize(c.atoms.data());
  }
  generated = c.atomCount;
  for (int32_t k = 0; k < c.atomCount; k++) {
    plotted += c.atoms[static_cast<size_t>(k)].visible;
    bonds += c.atoms[static_cast<size_t>(k)].bondCount;
  }
  state.counters["generated"] = static_cast<double>(generated);
  state.counters["plotted"] = static_cast<double>(plotted);
  state.counters["bonds"] = static_cast<double>(bonds / 2);
  DestroyMainWindowData(&window);
}

void BM_RunNewCrystal_NaCl_Range10(benchmark::State &state) { Build(state, RockSalt()); }
void BM_RunNewCrystal_100Sites_Range10(benchmark::State &state) { Build(state, HundredSites()); }
void BM_RunNewCrystal_Fd3m_20Sites(benchmark::State &state) { Build(state, Faujasite()); }

BENCHMARK(BM_RunNewCrystal_NaCl_Range10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunNewCrystal_100Sites_Range10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunNewCrystal_Fd3m_20Sites)->Unit(benchmark::kMillisecond);

} // namespace
