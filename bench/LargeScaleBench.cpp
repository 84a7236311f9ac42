// The plots that once stalled the window without a status window.
//
//   PolyhedraAtScale/<example>/<scale>: one plot of Spinel's or Rutile's
//     polyhedra in a 1000 x 800 pane at 100 (a normal scale) and at 9,999
//     and 10,000 pixels per A (the largest the table keeps), where a face
//     spans tens of thousands of pixels. A step at the largest scale should
//     cost about what one at a normal scale costs.
//   ReplotAndResize/<with settling>: rock salt over 0 to 22 cells (97,336
//     atoms): a pane resize's rescale and replot alone (0), and with the
//     undo timer's settling after it (1). A resize is no change of the
//     document, so the two should cost the same.
// (The settling after a zoom is BM_SettleAfterZoom of bench_ModifiedMarkBench.)
// Measured on a loaded machine (Release, medians of 3, CPU time, one core):
// Spinel's polyhedra 1.6 ms at 100, 0.6 ms at 9,999 and 10,000 (2.6 and
// 2.3 s before faces were cut to the picture); Rutile's 0.5 ms at 100, 1.8
// and 2.1 ms at the largest scales (0.31 s before). The replot of a resize
// 152 ms, with the settling after it 153 ms.
#include "CachedFiles.h"
#include "PlotRange.h"
#include "documents/PrefsFile.h"
#include "documents/UndoHistory.h"
#include "import/ImportPath.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "tools/DocumentScene.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const char *const kExamples[] = {"Spinel.ovtx", "Rutile.ovtx"};

constexpr const char *kScratch = "ovlargebench";

void CleanUp(WindowRef window) { benchscene::CleanUpCache(window, kScratch); }

void BM_PolyhedraAtScale(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeHeadlessScene(1000, 800);
  WindowRef window = &scene->record;
  const fs::path file = fs::path(OV_SOURCE_DIR) / "resources/examples" / kExamples[state.range(0)];
  if (!OpenStructureFile(window, file)) {
    state.SkipWithError("example not read");
    return;
  }
  SetWindowFileOpen(window, true);
  CrystalRec &c = *GetWindowCrystal(window);
  c.modelType = kPolyhedralModel;
  DoChangePlotScale(&c, float(state.range(1)));
  ResetOffScreen(window);
  for (auto _ : state)
    PlotCrystal(window, kPlotToWindow);
  state.counters["atoms"] = double(c.atomCount);
  state.counters["scale"] = double(c.plotScale);
}

std::unique_ptr<benchscene::Scene> RockSalt(benchmark::State &state) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::OpenRockSaltDocument(22.0f, kScratch);
  if (!scene)
    state.SkipWithError("build failed");
  return scene;
}

void BM_ReplotAndResize(benchmark::State &state) {
  const bool settle = state.range(0) != 0;
  std::unique_ptr<benchscene::Scene> scene = RockSalt(state);
  if (!scene)
    return;
  WindowRef window = &scene->record;
  CrystalRec &c = *GetWindowCrystal(window);
  const float scales[2] = {c.plotScale * 1.1f, c.plotScale};
  int step = 0;
  for (auto _ : state) {
    // What a pane resize does: the scale follows the pane, the picture is
    // drawn again, and nothing of the document changes.
    if (DoChangePlotScale(&c, scales[step++ % 2]))
      NoteWindowRefit(window);
    {
      const RedrawOnly redraw(window);
      PlotCrystal(window, kPlotToWindow);
    }
    if (settle)
      UndoBufferTimerProc();
  }
  state.counters["atoms"] = double(c.atomCount);
  state.counters["modified"] = double(GetMainWindowData(window)->windowModified);
  CleanUp(window);
}

BENCHMARK(BM_PolyhedraAtScale)
    ->ArgsProduct({{0, 1}, {100, 9999, 10000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ReplotAndResize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
