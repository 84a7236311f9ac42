// The stick model's junctions, drawn through the whole plot of a window.

#include "../model/StructureWindowFixture.h"

#include "import/ImportPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace ovgfx;
using namespace viewtest;

TEST(StickModelTest, EveryJunctionOfAFlatMoleculeSeenFaceOnGetsItsBallJoint) {
  // Benzene as shipped lies in the screen plane: all its atoms are level.
  FakeHost host;
  TestWindow w(host);
  ASSERT_TRUE(OpenStructureFile(w.ref(), std::filesystem::path(OV_SOURCE_DIR) / "resources/examples/Benzene.ovtx"));
  CrystalRec &c = *GetWindowCrystal(w.ref());
  c.backgroundColor = kRGBBlack;
  c.backgroundGradient = 0;
  c.showAxes = 0;
  c.depthFading = 0;
  c.modelType = kStickModel;
  ResetOffScreen(w.ref());
  RenderSpheres(&c);
  PlotCrystal(w.ref(), kPlotToWindow);
  const PixelBuffer &image = *OffScreenPixels(GetWindowOffScreen(w.ref()));

  // Within the joint's radius every pixel about a carbon (three bonds) is
  // drawn; before, the cut bond ends left the background showing between
  // them.
  int junctions = 0;
  for (const AtomRecord &a : c.atoms) {
    if (a.bondCount < 3)
      continue;
    ++junctions;
    const float joint = c.spheres[a.atomType].drawnRadius * c.plotScale;
    ASSERT_GT(joint, 3.0f);
    const int reach = int(joint * 0.8f);
    int holes = 0;
    for (int dy = -reach; dy <= reach; ++dy)
      for (int dx = -reach; dx <= reach; ++dx)
        if (dx * dx + dy * dy <= reach * reach && (image.Pixel32(a.pixel[0] + dx, a.pixel[1] + dy) & 0x00FFFFFFu) == 0)
          ++holes;
    EXPECT_EQ(holes, 0) << "atom at " << a.pixel[0] << ", " << a.pixel[1];
  }
  EXPECT_EQ(junctions, 6);
}
