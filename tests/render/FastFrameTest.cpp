// Frames drawn while a drag turns the structure, against the full-quality
// frame that follows.

#include "../model/StructureWindowFixture.h"
#include "SceneSupport.h"

#include "import/OwnTextReader.h"
#include "render/BondDrawing.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ovgfx;
using namespace viewtest;

namespace {

constexpr RGBColor kBlue{0, 0, 65535};

struct Census {
  int bond = 0;    // pixels exactly in the bond colour
  int blended = 0; // any other colour than the bond's and the background's
};

Census Count(WindowRef w) {
  const PixelBuffer &px = *OffScreenPixels(GetWindowOffScreen(w));
  Census n;
  for (int y = 0; y < px.Height(); y++)
    for (int x = 0; x < px.Width(); x++) {
      const uint32_t rgb = scene::Rgb(px.Pixel32(x, y));
      if (rgb == scene::Rgb(kBlue))
        n.bond++;
      else if (rgb != scene::Rgb(kRGBBlack))
        n.blended++;
    }
  return n;
}

} // namespace

// Rock salt as a wire frame of blue line bonds on black: a frame of the drag
// draws its lines one pixel wide in the bond colour alone; the replot after
// it smooths their edges into the background.
TEST(FastFrame, LineBondsOfADragFrameAreOnePixelWideAndUnblended) {
  FakeHost host;
  TestWindow w(host, 300, 240);
  ASSERT_TRUE(ReadTextFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/NaCl.ovtx"));
  CrystalRec &c = w.crystal();
  c.backgroundColor = kRGBBlack;
  c.backgroundGradient = 0;
  c.showUnitCell = 0;
  c.showAxes = 0;
  c.depthFading = 0;
  c.perspective = 0;
  for (int k = 0; k < c.bondSpecCount; k++) {
    c.bondSpecs[size_t(k)].style = kBondPlainLine;
    c.bondSpecs[size_t(k)].colour1 = c.bondSpecs[size_t(k)].colour2 = kBlue;
  }
  const float turn[3] = {20.0f, 30.0f, 0.0f};
  RotateXYZ(&c, turn);
  c.modelType = kWireFrameModel;
  ResetOffScreen(w.ref());
  RenderSpheres(&c);

  gTrackBallRotn = 1;
  gPrefs.fastRotation = 1;
  PlotCrystal(w.ref(), kPlotToWindow);
  gTrackBallRotn = 0;
  ASSERT_EQ(gUseFastRotn, 1);
  const Census fast = Count(w.ref());
  EXPECT_GT(fast.bond, 100);
  EXPECT_EQ(fast.blended, 0);

  gUseFastRotn = 0;
  PlotCrystal(w.ref(), kPlotToWindow);
  const Census full = Count(w.ref());
  EXPECT_GT(full.blended, fast.bond) << "the full frame's lines are anti-aliased";
}
