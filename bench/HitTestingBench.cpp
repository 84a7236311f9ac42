// What the hover tools pay on every mouse movement, and annotation drawing:
//   a hover miss (`FindClickedObject`, then `FindClickedBond`) over rock
//     salt of about 20,000 atoms in ball and stick, at a pane corner where
//     nothing lies;
//   the same in the polyhedral model, the sodium sites drawn as their
//     octahedra (every point of the pane is tested against their faces);
//   a whole plot of the 10,000-atom structure with 1,000 text boxes.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/HitTesting.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include "tools/HeadlessHost.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
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
  ~Scene() {
    DestroyMainWindowData(&record);
    SetHostServices(nullptr);
  }
};

// Rock salt over 0 to `range` on every axis in a 1000 x 800 pane, plotted
// once in the model.
std::unique_ptr<Scene> MakeRockSalt(float range, int8_t model) {
  App();
  auto scene = std::make_unique<Scene>();
  SetHostServices(&scene->host);
  InstallRenderServices();
  InitOVGlobals();
  InitMainWindowData(&scene->record);
  scene->host.window = &scene->record;
  scene->host.pane = Rect{0, 0, 800, 1000};
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
    site.polyMode = s == 0 ? 1 : 0; // chlorine only as vertices
    std::copy(xyz[s], xyz[s] + 3, site.xyz);
  }
  BondSpec spec;
  spec.elementA = TwoCharsToShort("Na");
  spec.elementB = TwoCharsToShort("Cl");
  spec.minLength = 2.5f;
  spec.maxLength = 3.0f;
  spec.style = 1;
  c.bondSpecs[0] = spec;
  c.bondSpecCount = 1;
  if (!RunNewCrystal(&scene->record, true, true, true))
    return nullptr;
  SetWindowFileOpen(&scene->record, true);
  const float turn[3] = {20.0f, 30.0f, 0.0f};
  RotateXYZ(&c, turn);
  c.modelType = model;
  ResetOffScreen(&scene->record);
  RenderSpheres(&c);
  PlotCrystal(&scene->record, kPlotToWindow);
  return scene;
}

void HoverMiss(benchmark::State &state, int8_t model) {
  std::unique_ptr<Scene> scene = MakeRockSalt(13.0f, model);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  int16_t kind = 0;
  int32_t index = 0, radius = 0, a = 0, b = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindClickedObject(&scene->record, Point{2, 2}, &kind, &index, &radius));
    benchmark::DoNotOptimize(FindClickedBond(&scene->record, Point{2, 2}, &a, &b));
  }
  const CrystalRec &c = *GetWindowCrystal(&scene->record);
  int64_t polyhedra = 0;
  for (const AtomRecord &atom : c.atoms)
    polyhedra += atom.polyhedron.has_value();
  state.counters["atoms"] = double(c.atomCount);
  state.counters["polyhedra"] = double(polyhedra);
}

void BM_HoverMissBallAndStick20k(benchmark::State &state) { HoverMiss(state, kBallAndStickModel); }
void BM_HoverMissPolyhedra(benchmark::State &state) { HoverMiss(state, kPolyhedralModel); }

void BM_PlotWith1000TextBoxes(benchmark::State &state) {
  std::unique_ptr<Scene> scene = MakeRockSalt(10.5f, kBallAndStickModel);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  for (int k = 0; k < 1000; k++) {
    TextBoxRecord *box = AppendBlankTextBox(&c);
    if (!box)
      break;
    box->boxCentre[0] = float(k % 40) / 40.0f + 0.0125f;
    box->boxCentre[1] = float(k / 40) / 25.0f + 0.02f;
    box->boxRect = MakeRect(0, 0, 24, 16);
    box->fontSize = 9;
    box->text = u"Na " + std::u16string(1, char16_t(u'0' + k % 10));
    box->textLength = uint32_t(box->text.size());
  }
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  state.counters["boxes"] = double(c.textBoxCount);
}

} // namespace

BENCHMARK(BM_HoverMissBallAndStick20k)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HoverMissPolyhedra)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlotWith1000TextBoxes)->Unit(benchmark::kMillisecond);
