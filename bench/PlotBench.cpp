// Whole plots into a window's off-screen image (`PlotCrystal`, destination
// the window), ball and stick, the view turned off the cell axes:
//   rock salt, range 0 to 10.5 on every axis: 10,648 atoms, 6 bonds each
//     (about 31,000 bonds), at 1000 x 800 in full quality and as a fast
//     rotation frame, and at 4000 x 3000 at four times the scale;
//   rock salt, range 0 to 22.5: 97,336 atoms at 1000 x 800.
// Each structure is built once; every iteration is one plot.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include "tools/HeadlessHost.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

QGuiApplication *App() {
  static int argc = 1;
  static char name[] = "bench";
  static char *argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static QGuiApplication app(argc, argv);
  return &app;
}

struct Scene {
  HeadlessHost host;
  OVWindowRecord record;
};

// Rock salt over 0 to `range` on every axis, built for a pane of the size,
// turned 20 degrees about x and 30 about y.
std::unique_ptr<Scene> MakeRockSalt(float range, int16_t width, int16_t height) {
  App();
  auto scene = std::make_unique<Scene>();
  SetHostServices(&scene->host);
  InstallRenderServices();
  InitOVGlobals();
  InitMainWindowData(&scene->record);
  scene->host.window = &scene->record;
  scene->host.pane = Rect{0, 0, height, width};
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  ClearCrystalRec(&c);
  c.a = c.b = c.c = 5.64f;
  c.alpha = c.beta = c.gamma = 90.0f;
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "F m -3 m");
  const float r[6] = {0.0f, range, 0.0f, range, 0.0f, range};
  std::copy(r, r + 6, c.plotRange);
  c.sites = *CreateAsymmetricUnit(2);
  c.siteCount = 2;
  const char *labels[2] = {"Cl1", "Na1"}, *elements[2] = {"Cl", "Na"};
  const float xyz[2][3] = {{0.5f, 0.5f, 0.5f}, {0.0f, 0.0f, 0.0f}};
  for (int s = 0; s < 2; s++) {
    AsymmetricUnitRecord &site = c.sites[size_t(s)];
    std::snprintf(site.label, sizeof site.label, "%s", labels[s]);
    site.elements[0] = TwoCharsToShort(elements[s]);
    site.occupancies[0] = 1.0f;
    std::copy(xyz[s], xyz[s] + 3, site.xyz);
  }
  BondSpec spec;
  spec.elementA = TwoCharsToShort("Na");
  spec.elementB = TwoCharsToShort("Cl");
  spec.minLength = 2.5f;
  spec.maxLength = 3.0f;
  spec.style = 1;
  spec.colour1 = spec.colour2 = RGBColor{45000, 45000, 45000};
  c.bondSpecs[0] = spec;
  c.bondSpecCount = 1;
  if (!RunNewCrystal(&scene->record, true, true, true))
    return nullptr;
  SetWindowFileOpen(&scene->record, true);
  const float turn[3] = {20.0f, 30.0f, 0.0f};
  RotateXYZ(&c, turn);
  c.modelType = kBallAndStickModel;
  ResetOffScreen(&scene->record);
  RenderSpheres(&c);
  return scene;
}

void Plot(benchmark::State &state, float range, int16_t width, int16_t height, float scaleFactor, bool fast) {
  std::unique_ptr<Scene> scene = MakeRockSalt(range, width, height);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  c.plotScale *= scaleFactor;
  RenderSpheres(&c);
  gTrackBallRotn = fast ? 1 : 0;
  gPrefs.fastRotation = fast ? 1 : 0;
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  gTrackBallRotn = 0;
  state.counters["atoms"] = double(c.atomCount);
  DestroyMainWindowData(&scene->record);
  SetHostServices(nullptr);
}

void BM_BallAndStick10k(benchmark::State &state) { Plot(state, 10.5f, 1000, 800, 1.0f, false); }
void BM_BallAndStick10kFast(benchmark::State &state) { Plot(state, 10.5f, 1000, 800, 1.0f, true); }
void BM_BallAndStick10kLarge(benchmark::State &state) { Plot(state, 10.5f, 4000, 3000, 4.0f, false); }
void BM_BallAndStick100k(benchmark::State &state) { Plot(state, 22.5f, 1000, 800, 1.0f, false); }

} // namespace

BENCHMARK(BM_BallAndStick10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick10kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick10kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick100k)->Unit(benchmark::kMillisecond);
