// The Model Options inspector's two heavy paths: the Atoms tab's apply on a
// structure whose 10,000 sites each have their own atom type (target: under
// 20 ms), and a slider step of the Background tab (the record written into
// the structure, then a replot without new atom images) on 10,000 atoms,
// which must stay within the full-quality plot time of the same scene.

#include "AtomContainers.h"
#include "ColourHelpers.h"
#include "StructureArrays.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "tools/RockSaltScene.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using benchscene::MakeRockSalt;
using benchscene::Scene;

// 10,000 sites of four elements in runs, each with its own atom type (its own
// colour) and one atom.
CrystalRec *TenThousandSites() {
  static CrystalRec c;
  constexpr int kSites = 10000;
  const ElementCode elements[4] = {TwoCharsToShort("Na"), TwoCharsToShort("Cl"), TwoCharsToShort("O "),
                                   TwoCharsToShort("Si")};
  c.sites.assign(kSites, AsymmetricUnitRecord{});
  c.spheres.assign(kSites, SphereRecord{});
  c.atoms.assign(kSites, AtomRecord{});
  c.siteCount = c.sphereCount = c.atomCount = kSites;
  for (int s = 0; s < kSites; s++) {
    AsymmetricUnitRecord &site = c.sites[size_t(s)];
    site.elements[0] = elements[s * 4 / kSites];
    site.atomType = uint32_t(s);
    site.firstAtom = site.lastAtom = s;
    c.spheres[size_t(s)].element = site.elements[0];
    c.spheres[size_t(s)].colour = RGBColor{uint16_t(s), 30000, 30000};
    c.atoms[size_t(s)].site = uint32_t(s);
    c.atoms[size_t(s)].atomType = uint32_t(s);
  }
  return &c;
}

void BM_AtomsTabApply10kSites(benchmark::State &state) {
  CrystalRec *c = TenThousandSites();
  int32_t count = 0;
  std::vector<AtomContainer> containers = CreateAtomContainers(c, &count);
  uint32_t style = 3;
  for (auto _ : state) {
    // An element row's new style reaches all its sites, as the tab does it.
    style = style == 3 ? 6 : 3;
    for (AtomContainerItem &item : containers[1].items)
      item.atomStyle = style;
    ApplyAtomContainers(c, containers);
  }
  state.counters["sites"] = double(c->siteCount);
  state.counters["types"] = double(c->sphereCount);
}

void BM_BackgroundSliderStep10kAtoms(benchmark::State &state) {
  std::unique_ptr<Scene> scene = MakeRockSalt(10.5f, 1000, 800);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  SetWindowFileOpen(&scene->record, true);
  RenderSpheres(&c);
  // Argument 1: the gradient angle slider; 0: the scale slider's step on a
  // plain background, which leaves the picture's background alone.
  const bool gradient = state.range(0) != 0;
  c.backgroundGradient = gradient ? 1 : 0;
  float angle = 0.0f;
  for (auto _ : state) {
    angle = angle >= 180.0f ? -180.0f : angle + 1.0f;
    if (gradient)
      c.gradientAngle = angle;
    else
      c.gradientScale = 0.5f + angle / 720.0f;
    GetMyHiliteColor(c);
    NewPlot(&scene->record, false, false);
  }
  state.counters["atoms"] = double(c.atomCount);
}

} // namespace

BENCHMARK(BM_AtomsTabApply10kSites)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BackgroundSliderStep10kAtoms)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
