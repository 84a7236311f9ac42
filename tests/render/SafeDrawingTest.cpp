// Drawing whatever it is given: coordinates far beyond the picture, atoms
// larger than the picture and a window larger than the memory left.
#include "../model/StructureWindowFixture.h"
#include "RenderTestSupport.h"

#include "import/ImportPath.h"
#include "render/OffScreen.h"
#include "render/SmoothPolygons.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// A polygon reaching 1e30 pixels out on every side covers the whole
// picture: its corners are clamped before they become rows and columns.
TEST(SafeDrawing, SmoothPolygonFarBeyondThePictureFillsIt) {
  TestTarget target(MakeRect(0, 0, 16, 12));
  const RealPoint huge[] = {{-1e30f, -1e30f}, {1e30f, -1e30f}, {1e30f, 1e30f}, {-1e30f, 1e30f}};
  MyFillSmoothPolygon(huge, 4, RGBColor{65535, 65535, 65535}, 1.0f);
  EXPECT_EQ(target.CountLit(), 16 * 12);
  // Entirely beyond the picture: nothing.
  TestTarget other(MakeRect(0, 0, 16, 12));
  const RealPoint away[] = {{3e9f, 3e9f}, {4e9f, 3e9f}, {4e9f, 4e9f}};
  MyFillSmoothPolygon(away, 3, RGBColor{65535, 65535, 65535}, 1.0f);
  EXPECT_EQ(other.CountLit(), 0);
}

std::filesystem::path Example(const char *name) {
  return std::filesystem::path(OV_SOURCE_DIR) / "resources/examples" / name;
}

// At 500 pixels per Angstrom in a 64 x 48 window an atom of NaCl would be
// about 1,000 pixels across; its image is no larger than the picture.
TEST(SafeDrawing, AtomImagesAreNoLargerThanThePicture) {
  FakeHost host;
  viewtest::TestWindow w(host, 64, 48);
  ASSERT_TRUE(OpenStructureFile(w.ref(), Example("NaCl.ovtx")));
  ResetOffScreen(w.ref());
  DoChangePlotScale(&w.crystal(), 500.0f);
  NewPlot(w.ref(), false, true);
  NewPlot(w.ref(), false, true);
  const CrystalRec &c = w.crystal();
  ASSERT_FALSE(c.spheres.empty());
  for (const SphereRecord &t : c.spheres) {
    EXPECT_EQ(t.bounds1.right - t.bounds1.left, 65);
    EXPECT_EQ(t.bounds1.bottom - t.bounds1.top, 65);
  }
}

// Off-screen images are 32-bit whatever the memory: with room for 16-bit
// images but not for 32-bit ones the window is refused its images with
// the caution alert, rather than given images the memory cannot hold.
int64_t gFree = 0;
TEST(SafeDrawing, OffScreenMemoryIsCheckedForTheImagesMade) {
  FakeHost host;
  viewtest::TestWindow w(host, 200, 100);
  ASSERT_TRUE(OpenStructureFile(w.ref(), Example("NaCl.ovtx")));
  const ScreenHooks saved = GetScreenHooks();
  ScreenHooks hooks = saved;
  hooks.freeMemory = [] { return gFree; };
  SetScreenHooks(hooks);
  gFree = CalculateOffScreenMemory(w.ref(), 32) - 1;
  ASSERT_GT(gFree, CalculateOffScreenMemory(w.ref(), 16));
  host.alerts.clear();
  ResetOffScreen(w.ref());
  EXPECT_EQ(GetWindowOffScreen(w.ref()), nullptr);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Insufficient memory to draw window at that size!");
  // With room for them, the images are made at 32 bits.
  gFree = CalculateOffScreenMemory(w.ref(), 32);
  ResetOffScreen(w.ref());
  ASSERT_NE(GetWindowOffScreen(w.ref()), nullptr);
  EXPECT_EQ(GetMemoryOffScreen(GetWindowOffScreen(w.ref())), 200 * 100 * 4);
  SetScreenHooks(saved);
}

} // namespace
