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

#include "tools/RockSaltScene.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using benchscene::Scene;

// Rock salt over 0 to `range` on every axis in a 1000 x 800 pane, the
// chlorine sites only polyhedron vertices, plotted once in the model.
std::unique_ptr<Scene> MakeRockSalt(float range, int8_t model) {
  std::unique_ptr<Scene> scene = benchscene::MakeRockSalt(range, 1000, 800, [](CrystalRec &c) {
    SetGivenPolyMode(c.sites[0], 1); // chlorine only as vertices
  });
  if (!scene)
    return nullptr;
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  c.modelType = model;
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
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  int64_t polyhedra = 0;
  for (const AtomRecord &atom : c.atoms)
    polyhedra += AtomPolyhedron(&c, atom) != nullptr;
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
