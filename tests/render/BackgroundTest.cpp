#include "SceneSupport.h"

#include "FakeHost.h"
#include "render/OffScreen.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ovgfx;

using namespace scene;

namespace {

std::unique_ptr<GraphicsPort> Paint(CrystalRec &c, int w, int h) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, w, h), 32);
  PortSaver current(port.get());
  DrawBackground(&c, MakeRect(0, 0, w, h));
  return port;
}

struct BackgroundTest : ::testing::Test {
  FakeHost host;
  HostServices *previous = SetHostServices(&host);
  void SetUp() override {
    DisposeBackgroundCache();
    host.logAvailable = true;
  }
  void TearDown() override {
    DisposeBackgroundCache();
    SetHostServices(previous);
  }
};

} // namespace

TEST_F(BackgroundTest, ALinearGradientRampsInTheMiddleWhenItsScaleIsBelowOne) {
  CrystalRec c;
  c.backgroundGradient = 1;
  c.gradientStyle = 5;
  c.gradientScale = 0.5f;
  c.gradientColors[0] = RGBColor{0, 10000, 60000};
  c.gradientColors[1] = RGBColor{60000, 50000, 0};
  auto port = Paint(c, 40, 100);
  // Bands 0 to 25 in colour 1, one step of (c2 - c1) / 50 further per band
  // up to band 76; row y shows band y (the 2-pixel pen's later band wins).
  const float c1[3] = {0.0f, 10000.0f / 65535.0f, 60000.0f / 65535.0f};
  const float c2[3] = {60000.0f / 65535.0f, 50000.0f / 65535.0f, 0.0f};
  for (int row : {0, 25, 26, 50, 76, 77, 98}) {
    const int steps = std::clamp(row - 25, 0, 51);
    float ch[3];
    for (int i = 0; i < 3; ++i) {
      ch[i] = c1[i];
      for (int s = 0; s < steps; ++s)
        ch[i] = std::clamp(ch[i] + (c2[i] - c1[i]) / 50.0f, 0.0f, 1.0f);
    }
    const RGBColor expected{uint16_t(ch[0] * 65535.0f), uint16_t(ch[1] * 65535.0f), uint16_t(ch[2] * 65535.0f)};
    EXPECT_EQ(Rgb(port->Pixels()->Pixel32(20, row)), Rgb(expected)) << "row " << row;
  }
}

TEST_F(BackgroundTest, OddSettingsFallBackWithoutBreakingThePicture) {
  CrystalRec c;
  c.backgroundColor = RGBColor{1000, 2000, 3000};
  c.backgroundGradient = 1;
  c.gradientStyle = 9;
  auto port = Paint(c, 10, 10);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(5, 5)), Rgb(c.backgroundColor));
  EXPECT_NE(host.log.find("Unknown background style - using plain background instead"), std::string::npos);

  // A scale of 0 (from a document) is the steepest ramp there is: colour 1
  // above the middle for the straight bands, colour 2 around it otherwise.
  for (uint32_t style : {5u, 6u, 7u, 8u}) {
    c.gradientStyle = style;
    c.gradientScale = 0.0f;
    c.gradientColors[0] = kRGBWhite;
    c.gradientColors[1] = kRGBBlack;
    auto ramp = Paint(c, 30, 30);
    EXPECT_EQ(Rgb(ramp->Pixels()->Pixel32(0, 0)), style == 5 ? 0xFFFFFFu : 0u) << style;
    EXPECT_EQ(Rgb(ramp->Pixels()->Pixel32(29, 29)), 0u) << style;
  }
}

TEST_F(BackgroundTest, PicturesArePlacedByModeAndTheCacheFollowsThePictureItself) {
  CrystalRec c;
  c.backgroundColor = RGBColor{0, 0, 65535};
  auto picture = std::shared_ptr<PixelBuffer>(PixelBuffer::Create(MakeRect(0, 0, 100, 50), 32).release());
  picture->Fill(0xFFFF0000u);
  c.backgroundPictureImage = picture;
  c.backgroundPictureMode = 3;
  auto port = Paint(c, 400, 400);
  // Fitted: 400 x 200, moved down by 100, over the colour.
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(200, 99)), 0x0000FFu);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(200, 100)), 0xFF0000u);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(399, 299)), 0xFF0000u);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(200, 300)), 0x0000FFu);
  const uint64_t builds = BackgroundCacheBuilds();

  // Equal settings and size share the cache; any change rebuilds it.
  Paint(c, 400, 400);
  EXPECT_EQ(BackgroundCacheBuilds(), builds);
  c.backgroundPictureMode = 0; // read and stored back as tiling
  auto tiled = Paint(c, 400, 400);
  EXPECT_EQ(c.backgroundPictureMode, 1);
  EXPECT_EQ(BackgroundCacheBuilds(), builds + 1);
  EXPECT_EQ(Rgb(tiled->Pixels()->Pixel32(399, 399)), 0xFF0000u); // no colour under a tiling

  // Another picture is another background, wherever it lives in memory.
  auto other = std::shared_ptr<PixelBuffer>(PixelBuffer::Create(MakeRect(0, 0, 100, 50), 32).release());
  other->Fill(0xFF00FF00u);
  c.backgroundPictureImage = other;
  picture.reset();
  auto green = Paint(c, 400, 400);
  EXPECT_EQ(BackgroundCacheBuilds(), builds + 2);
  EXPECT_EQ(Rgb(green->Pixels()->Pixel32(10, 10)), 0x00FF00u);
}

namespace {

GraphicsPort *gScreen = nullptr;
int gChanges = 0;
int64_t gFree = 0;
int gQuits = 0;

} // namespace

TEST_F(BackgroundTest, RefreshCopiesTheImageToThePaneAndNothingForRectanglesOutsideIt) {
  OVWindowRecord window;
  InitMainWindowData(&window);
  SetWindowFileOpen(&window, true);
  host.windows.push_back(&window);
  host.graphPanes[&window] = Rect{5, 7, 5 + 20, 7 + 30};
  auto screen = GraphicsPort::NewOffscreen(MakeRect(0, 0, 60, 40), 32);
  screen->Pixels()->Fill(0xFF000000u);
  gScreen = screen.get();
  gChanges = 0;
  ScreenHooks hooks;
  hooks.windowPort = [](WindowRef) { return gScreen; };
  hooks.windowPortChanged = [](WindowRef, const Rect &) { gChanges++; };
  SetScreenHooks(hooks);
  ResetOffScreen(&window);
  OffScreenPixels(GetWindowOffScreen(&window))->Fill(0xFF123456u);

  const Rect outside = MakeRect(31, 0, 50, 20);
  RefreshScreen(&window, &outside);
  EXPECT_EQ(gChanges, 0);
  EXPECT_EQ(Rgb(screen->Pixels()->Pixel32(7, 5)), 0u);
  RefreshScreen(&window, nullptr);
  EXPECT_EQ(gChanges, 1);
  EXPECT_EQ(Rgb(screen->Pixels()->Pixel32(7, 5)), 0x123456u);
  EXPECT_EQ(Rgb(screen->Pixels()->Pixel32(36, 24)), 0x123456u);
  EXPECT_EQ(Rgb(screen->Pixels()->Pixel32(37, 24)), 0u);

  // Memory: 100 x 50 at 32 bits is 50 rows of 404 bytes, twice with the
  // surface overlay.
  host.graphPanes[&window] = Rect{0, 0, 50, 100};
  ResetOffScreen(&window);
  EXPECT_EQ(CalculateOffScreenMemory(&window, 32), 50 * (((100 * 32 + 31) / 32) * 4 + 4));
  GetWindowCrystal(&window)->surfaceOverlay = 1;
  EXPECT_EQ(CalculateOffScreenMemory(&window, 32), 2 * 50 * 404);
  GetWindowCrystal(&window)->surfaceOverlay = 0;

  // Just enough memory for the 32-bit images: images without a word. Less:
  // the caution and no images. Almost none: the stop alert and a quit request.
  hooks.freeMemory = [] { return gFree; };
  hooks.doQuit = [] { gQuits++; };
  SetScreenHooks(hooks);
  host.graphPanes[&window] = Rect{0, 0, 100, 1000};
  gFree = 100 * (((1000 * 32 + 31) / 32) * 4 + 4);
  ResetOffScreen(&window);
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_TRUE(GetWindowOffScreen(&window));
  gFree -= 1;
  ResetOffScreen(&window);
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0].message, "Insufficient memory to draw window at that size!");
  EXPECT_FALSE(GetWindowOffScreen(&window));
  gFree = 1000;
  ResetOffScreen(&window);
  ASSERT_EQ(host.alerts.size(), 2u);
  EXPECT_EQ(host.alerts[1].message, "Insufficient memory to generate offscreen buffer");
  EXPECT_EQ(gQuits, 1);

  SetScreenHooks(ScreenHooks{});
  host.windows.clear();
  DestroyMainWindowData(&window);
}
