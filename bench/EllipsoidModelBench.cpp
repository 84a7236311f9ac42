// Whole plots of the thermal-ellipsoid model into a window's off-screen
// image (`PlotCrystal`), rock salt with anisotropic displacements on both
// sites, turned off the cell axes, at 1000 x 800:
//   range 0 to 5 (1,728 atoms), ellipsoids of about 20 to 40 pixels across
//     at twice the fitted scale, in the lit style 15, full quality and as a
//     fast rotation frame;
//   range 0 to 10.5 (10,648 atoms) in the default style, full and fast, and
//     in style 15 as a fast frame;
//   the 1,728-atom scene in every style, full quality, and the 10,648-atom
//   one in every style as a fast frame (one each per style);
//   the 10,648-atom scene in style 99 as a fast frame after one frame in
//   another style (the argument), so that whatever a style leaves behind for
//   the next frames shows.
// Each structure is built once; every iteration is one plot.
//
// OV_BENCH_PNG naming a folder writes one picture of each into it.
#include "Preferences.h"
#include "render/OffScreen.h"
#include "render/PlotPipeline.h"
#include "render/RenderGlobals.h"

#include "tools/RockSaltScene.h"

#include <QImage>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using benchscene::MakeRockSalt;
using benchscene::Scene;

// U of both sites (A^2, U11 U22 U33 U12 U13 U23); the cubic operators turn
// the tensor, so the ellipsoids point every way.
constexpr float kU[6] = {0.060f, 0.025f, 0.040f, 0.012f, -0.008f, 0.004f};

void GiveDisplacements(CrystalRec &c) {
  c.ellipsoidData = 1;
  for (AsymmetricUnitRecord &site : c.sites) {
    site.displacementType = kDisplacementAnisoU;
    const float t[9] = {kU[0], kU[3], kU[4], kU[3], kU[1], kU[5], kU[4], kU[5], kU[2]};
    std::copy(t, t + 9, site.tensor);
  }
}

void Save(Scene &scene, const std::string &name) {
  const char *folder = std::getenv("OV_BENCH_PNG");
  if (!folder)
    return;
  OVImageHandle shown = GetWindowOffScreen(&scene.record);
  const ovgfx::PixelBuffer *px = OffScreenPixels(shown);
  if (!px)
    return;
  QImage image(px->BaseAddr(), px->Width(), px->Height(), qsizetype(px->RowBytes()), QImage::Format_ARGB32);
  image.save(QString::fromStdString(std::string(folder) + "/" + name + ".png"));
}

// With `styleBefore` not 0, one frame in that style comes first, untimed.
void Plot(benchmark::State &state, float range, float scaleFactor, uint32_t style, bool fast,
          uint32_t styleBefore = 0) {
  std::unique_ptr<Scene> scene = MakeRockSalt(range, 1000, 800, GiveDisplacements);
  if (!scene) {
    state.SkipWithError("build failed");
    return;
  }
  CrystalRec &c = *GetWindowCrystal(&scene->record);
  c.modelType = kThermalEllipsoidModel;
  c.plotScale *= scaleFactor;
  auto setStyle = [&](uint32_t s) {
    for (AsymmetricUnitRecord &site : c.sites)
      site.ellipsoidStyle = s;
    RenderSpheres(&c);
    gTrackBallRotn = fast ? 1 : 0;
    gPrefs.fastRotation = fast ? 1 : 0;
  };
  if (styleBefore != 0) {
    setStyle(styleBefore);
    PlotCrystal(&scene->record, kPlotToWindow);
  }
  setStyle(style);
  for (auto _ : state)
    PlotCrystal(&scene->record, kPlotToWindow);
  gTrackBallRotn = 0;
  gPrefs.fastRotation = 0;
  Save(*scene, "ellipsoids_" + std::to_string(c.atomCount) + "_style" + std::to_string(style) + (fast ? "_fast" : "") +
                   (styleBefore != 0 ? "_after" + std::to_string(styleBefore) : ""));
  state.counters["atoms"] = double(c.atomCount);
}

constexpr uint32_t kDefaultStyle = AsymmetricUnitRecord{}.ellipsoidStyle;

void BM_EllipsoidsLit1k(benchmark::State &state) { Plot(state, 5.0f, 2.0f, 15, false); }
void BM_EllipsoidsLit1kFast(benchmark::State &state) { Plot(state, 5.0f, 2.0f, 15, true); }
void BM_EllipsoidsDefault10k(benchmark::State &state) { Plot(state, 10.5f, 1.0f, kDefaultStyle, false); }
void BM_EllipsoidsDefault10kFast(benchmark::State &state) { Plot(state, 10.5f, 1.0f, kDefaultStyle, true); }
void BM_EllipsoidsLit10kFast(benchmark::State &state) { Plot(state, 10.5f, 1.0f, 15, true); }
void BM_EllipsoidStyle1k(benchmark::State &state) { Plot(state, 5.0f, 2.0f, uint32_t(state.range(0)), false); }
void BM_EllipsoidStyle10kFast(benchmark::State &state) { Plot(state, 10.5f, 1.0f, uint32_t(state.range(0)), true); }
void BM_EllipsoidStyle99After10kFast(benchmark::State &state) {
  Plot(state, 10.5f, 1.0f, 99, true, uint32_t(state.range(0)));
}

} // namespace

BENCHMARK(BM_EllipsoidsLit1k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidsLit1kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidsDefault10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidsDefault10kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidsLit10kFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidStyle1k)->DenseRange(1, 26)->Arg(99)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidStyle10kFast)->DenseRange(1, 26)->Arg(99)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EllipsoidStyle99After10kFast)->Arg(1)->Arg(24)->Unit(benchmark::kMillisecond);
