// Picture exports of a large model: rock salt over 0 to 10.5 on every axis
// (10,648 atoms, about 31,000 bonds), ball and stick, in a 1000 x 750 pane:
//   a 4000 x 3000 PNG at 288 dpi (re-plot at size, write, restore);
//   the same size as a vector PICT (the plot recorded as drawing commands),
//     reporting its size in bytes.
// The Small cases make the same pictures of 400 x 300 at 72 dpi from rock
// salt over 0 to 2: the tests run them once.
#include "export/PictureExport.h"

#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

namespace {

// The scene of the plot benchmarks, plotted once at the pane's size.
constexpr float kRange = 10.5f;
constexpr float kSmallRange = 2.0f;

std::unique_ptr<benchscene::Scene> MakeScene(float range) {
  std::unique_ptr<benchscene::Scene> scene = benchscene::MakeRockSalt(range, 1000, 750);
  if (scene)
    PlotCrystal(&scene->record, kPlotToWindow);
  return scene;
}

// The scene's window record and host go with it.
void Finish(std::unique_ptr<benchscene::Scene> scene) { scene.reset(); }

void PngExport(benchmark::State &state, float range, int width, int height, double resolution) {
  std::unique_ptr<benchscene::Scene> scene = MakeScene(range);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  const auto file = benchtemp::Name("export.png");
  for (auto _ : state)
    if (QTWritePixelImage(&scene->record, width, height, resolution, file, kPNGFileType) != 0)
      state.SkipWithError("export failed");
  state.counters["atoms"] = double(GetWindowCrystal(&scene->record)->atomCount);
  state.counters["bytes"] = double(std::filesystem::file_size(file));
  std::filesystem::remove(file);
  Finish(std::move(scene));
}

void VectorPict(benchmark::State &state, float range, int width, int height, double resolution) {
  std::unique_ptr<benchscene::Scene> scene = MakeScene(range);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  size_t bytes = 0;
  for (auto _ : state)
    bytes = CopyVectorImage(&scene->record, width, height, resolution).size();
  state.counters["bytes"] = double(bytes);
  Finish(std::move(scene));
}

void BM_PngExport4000x3000(benchmark::State &state) { PngExport(state, kRange, 4000, 3000, 288); }
void BM_VectorPict4000x3000(benchmark::State &state) { VectorPict(state, kRange, 4000, 3000, 288); }
void BM_PngExportSmall(benchmark::State &state) { PngExport(state, kSmallRange, 400, 300, 72); }
void BM_VectorPictSmall(benchmark::State &state) { VectorPict(state, kSmallRange, 400, 300, 72); }

} // namespace

BENCHMARK(BM_PngExport4000x3000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_VectorPict4000x3000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PngExportSmall)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_VectorPictSmall)->Unit(benchmark::kMillisecond)->Iterations(1);
