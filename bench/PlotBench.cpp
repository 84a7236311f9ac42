// Whole plots into a window's off-screen image (`PlotCrystal`, destination
// the window), ball and stick, the view turned off the cell axes:
//   rock salt, range 0 to 10.5 on every axis: 10,648 atoms, 6 bonds each
//     (about 31,000 bonds), at 1000 x 800 in full quality and as a fast
//     rotation frame, and at 4000 x 3000 at four times the scale;
//   rock salt, range 0 to 22.5: 97,336 atoms at 1000 x 800, full quality and
//     as a fast rotation frame;
//   rock salt, range 0 to 4.5 (1,000 atoms) at 1000 x 800 with every atom
//     labelled: the labels' text.
// Each structure is built once; every iteration is one plot.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"
#include "window/MainWindowData.h"

#include "tools/RockSaltScene.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

using benchscene::MakeRockSalt;
using benchscene::Scene;

void Plot(benchmark::State &state, float range, int16_t width, int16_t height, float scaleFactor, bool fast,
          bool labelled = false) {
  std::unique_ptr<Scene> scene = MakeRockSalt(range, width, height);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  c.plotScale *= scaleFactor;
  for (AtomRecord &atom : c.atoms)
    atom.labelled = labelled ? 1 : 0;
  RenderSpheres(&c);
  gTrackBallRotn = fast ? 1 : 0;
  gPrefs.fastRotation = fast ? 1 : 0;
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  gTrackBallRotn = 0;
  state.counters["atoms"] = double(c.atomCount);
}

void BM_BallAndStick10k(benchmark::State &state) { Plot(state, 10.5f, 1000, 800, 1.0f, false); }
void BM_BallAndStick10kFast(benchmark::State &state) { Plot(state, 10.5f, 1000, 800, 1.0f, true); }
void BM_BallAndStick10kLarge(benchmark::State &state) { Plot(state, 10.5f, 4000, 3000, 4.0f, false); }
void BM_BallAndStick100k(benchmark::State &state) { Plot(state, 22.5f, 1000, 800, 1.0f, false); }
void BM_BallAndStick100kFast(benchmark::State &state) { Plot(state, 22.5f, 1000, 800, 1.0f, true); }
void BM_LabelledAtoms1k(benchmark::State &state) { Plot(state, 4.5f, 1000, 800, 1.0f, false, true); }

} // namespace

BENCHMARK(BM_BallAndStick10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick10kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick10kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick100k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BallAndStick100kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabelledAtoms1k)->Unit(benchmark::kMillisecond);
