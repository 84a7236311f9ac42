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

// A bond maximum reaching dozens of atoms leaves the coordination uncounted,
// but the atoms it bonds are drawn as bonded all the same: about a sodium
// between two chlorines, the stick and polyhedral models draw what they draw
// when a short maximum lets the coordination be counted.
TEST(StickModelTest, BondedAtomsAreDrawnAsBondedWhetherOrNotTheirCoordinationWasCounted) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "ov-uncounted-coordination";
  std::filesystem::create_directories(folder);
  // Counted: the 3 A sphere holds about one atom of each element; not
  // counted: the 20 A sphere some 270.
  auto write = [&](const char *name, const char *maximum) {
    const std::filesystem::path file = folder / name;
    std::FILE *f = std::fopen(file.c_str(), "w");
    std::fprintf(f, "TITL  Sodium between two chlorines\n"
                    "CELL  5.000000 5.000000 5.000000  90.000000 90.000000 90.000000\n"
                    "LATC  P\nSYMM  x,y,z\n"
                    "XYZR  -0.500000 0.500000 -0.010000 0.010000 -0.010000 0.010000\n"
                    "BMAX  Na  Cl  %s\nATOM\n"
                    "Na  Na1     0.000000 0.000000 0.000000\n"
                    "Cl  Cl1     0.500000 0.000000 0.000000\n",
                 maximum);
    std::fclose(f);
    return file;
  };
  const std::filesystem::path counted = write("counted.ovtx", "3.000");
  const std::filesystem::path uncounted = write("uncounted.ovtx", "20.000");
  for (int8_t model : {int8_t(kStickModel), int8_t(kPolyhedralModel)}) {
    FakeHost host;
    TestWindow a(host), b(host);
    std::vector<uint32_t> around[2];
    TestWindow *windows[2] = {&a, &b};
    const std::filesystem::path *files[2] = {&counted, &uncounted};
    for (int k = 0; k < 2; k++) {
      WindowRef w = windows[k]->ref();
      ASSERT_TRUE(OpenStructureFile(w, *files[k]));
      CrystalRec &c = *GetWindowCrystal(w);
      int shown = 0;
      for (const AtomRecord &atom : c.atoms)
        shown += atom.visible;
      ASSERT_EQ(shown, 3);
      c.backgroundColor = kRGBBlack;
      c.backgroundGradient = 0;
      c.showAxes = 0;
      c.showUnitCell = 0;
      c.depthFading = 0;
      c.modelType = model;
      ResetOffScreen(w);
      RenderSpheres(&c);
      PlotCrystal(w, kPlotToWindow);
      const PixelBuffer &image = *OffScreenPixels(GetWindowOffScreen(w));
      const AtomRecord *sodium = nullptr;
      for (const AtomRecord &atom : c.atoms)
        if (atom.visible && c.sites[atom.site].elements[0] == Element("Na"))
          sodium = &atom;
      ASSERT_NE(sodium, nullptr);
      ASSERT_EQ(sodium->bondCount, 2u);
      // The square a sodium drawn as a whole ball would fill.
      const int reach = int(c.spheres[sodium->atomType].radius * c.plotScale) + 2;
      for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx)
          around[k].push_back(image.Pixel32(sodium->pixel[0] + dx, sodium->pixel[1] + dy));
    }
    EXPECT_NE(host.log.find("Coordination numbers were not counted for Na-Cl"), std::string::npos);
    EXPECT_TRUE(around[0] == around[1]) << "model " << int(model);
  }
  std::filesystem::remove_all(folder);
}
