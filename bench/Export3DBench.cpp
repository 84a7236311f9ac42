// The 3-D exports at size: the rock-salt example over 0 to 13 on every axis
// (21,952 atoms, about 64,000 bonds) in ball and stick with the cell shown,
// at a plot scale of 20 pixels per Angstrom, written as binary STL and as
// COLLADA to a file in the temporary folder. Each iteration is one whole
// file; the counters give the atoms, triangles (STL) and the file size.
// The Small cases write the range 0 to 2 (216 atoms): the tests run them
// once.
#include "BuildPipeline.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "export/Export3D.h"
#include "import/ImportPath.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "tools/RockSaltScene.h"
#include "tools/TempFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

constexpr float kRange = 13.0f;
constexpr float kSmallRange = 2.0f;
constexpr float kScale = 20.0f;

using benchscene::Scene;

std::unique_ptr<Scene> MakeSupercell(float range) {
  // Reading the example plots it, and plots measure text.
  std::unique_ptr<Scene> scene = benchscene::MakeHeadlessScene(1000, 800);
  if (!OpenStructureFile(&scene->record, std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx") ||
      !SetPlotRange(&scene->record, 0, range, 0, range, 0, range))
    return nullptr;
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  c.modelType = kBallAndStickModel;
  c.plotScale = kScale;
  RenderSpheres(&c);
  return scene;
}

template <typename Write> void Export(benchmark::State &state, const char *suffix, float range, Write write) {
  std::unique_ptr<Scene> scene = MakeSupercell(range);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  const auto path = benchtemp::Name(std::string("export3d") + suffix);
  uint32_t triangles = 0;
  for (auto _ : state) {
    // The last iteration's file goes untimed: truncating hundreds of
    // megabytes is the file system's work, not the writer's.
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
    AtomicFileWriter out(path);
    Export3DContext ctx;
    ctx.gXP = &c;
    {
      ExportStream stream(out);
      ctx.gFP = &stream;
      write(ctx);
    }
    out.Commit();
    triangles = ctx.gTriangles;
  }
  state.counters["atoms"] = double(c.atomCount);
  if (triangles)
    state.counters["triangles"] = double(triangles);
  state.counters["MB"] = double(std::filesystem::file_size(path)) / 1e6;
  std::filesystem::remove(path);
  DestroyMainWindowData(&scene->record);
  SetHostServices(nullptr);
}

void STL(benchmark::State &state, float range) {
  Export(state, ".stl", range, [](Export3DContext &ctx) { WriteSTLFile(ctx); });
}

void COLLADA(benchmark::State &state, float range) {
  COLLADAOptions options;
  options.version = "1.0.0";
  Export(state, ".dae", range, [&](Export3DContext &ctx) { WriteCrystalData(ctx, options); });
}

void BM_STL20k(benchmark::State &state) { STL(state, kRange); }
void BM_COLLADA20k(benchmark::State &state) { COLLADA(state, kRange); }
void BM_STLSmall(benchmark::State &state) { STL(state, kSmallRange); }
void BM_COLLADASmall(benchmark::State &state) { COLLADA(state, kSmallRange); }

} // namespace

BENCHMARK(BM_STL20k)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_COLLADA20k)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_STLSmall)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_COLLADASmall)->Unit(benchmark::kMillisecond)->Iterations(1);
