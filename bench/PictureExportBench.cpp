// Picture exports of a large model: rock salt over 0 to 10.5 on every axis
// (10,648 atoms, about 31,000 bonds), ball and stick, in a 1000 x 750 pane:
//   a 4000 x 3000 PNG at 288 dpi (re-plot at size, write, restore);
//   the same size as a vector PICT (the plot recorded as drawing commands),
//     reporting its size in bytes.
#include "BuildPipeline.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "ViewOrientation.h"
#include "export/PictureExport.h"
#include "render/PlotPipeline.h"
#include "window/MainWindowData.h"

#include "tools/HeadlessHost.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

std::unique_ptr<Scene> MakeRockSalt() {
  App();
  auto scene = std::make_unique<Scene>();
  SetHostServices(&scene->host);
  InstallRenderServices();
  InitOVGlobals();
  InitMainWindowData(&scene->record);
  scene->host.window = &scene->record;
  scene->host.pane = Rect{0, 0, 750, 1000};
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  ClearCrystalRec(&c);
  c.a = c.b = c.c = 5.64f;
  std::snprintf(c.spaceGroup, sizeof c.spaceGroup, "F m -3 m");
  const float r[6] = {0.0f, 10.5f, 0.0f, 10.5f, 0.0f, 10.5f};
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
  PlotCrystal(&scene->record, kPlotToWindow);
  return scene;
}

void BM_PngExport4000x3000(benchmark::State &state) {
  std::unique_ptr<Scene> scene = MakeRockSalt();
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  const auto file = std::filesystem::temp_directory_path() / "ov_bench_export.png";
  for (auto _ : state)
    if (QTWritePixelImage(&scene->record, 4000, 3000, 288, file, kPNGFileType) != 0)
      state.SkipWithError("export failed");
  state.counters["atoms"] = double(GetWindowCrystal(&scene->record)->atomCount);
  state.counters["bytes"] = double(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}

void BM_VectorPict4000x3000(benchmark::State &state) {
  std::unique_ptr<Scene> scene = MakeRockSalt();
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  size_t bytes = 0;
  for (auto _ : state)
    bytes = CopyVectorImage(&scene->record, 4000, 3000, 288).size();
  state.counters["bytes"] = double(bytes);
}

} // namespace

BENCHMARK(BM_PngExport4000x3000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_VectorPict4000x3000)->Unit(benchmark::kMillisecond)->Iterations(2);
