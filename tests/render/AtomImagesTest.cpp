#include "SceneSupport.h"

#include "render/RasterPrimitives.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ovgfx;

using namespace scene;

namespace {

constexpr RGBColor kBlue{0, 0, 65535};
constexpr RGBColor kGreen{0, 40000, 0};

} // namespace

TEST(AtomImagesTest, AFlatAtomHasItsColourAtItsProjectedCentreAndEndsAtItsRadius) {
  CrystalRec c;
  Build(c, {{1.0f, kGreen, AtomStyleFilled}}, {{1.3f, -0.8f, 0.0f, 0}});
  c.plotCentre[0] = 0.25f;
  c.plotCentre[1] = -0.5f;
  auto port = Draw(c, 200, 160);
  const int x = ExpectedPixel((1.3f - 0.25f) * 20.0f, 100.0f);
  const int y = ExpectedPixel(-(-0.8f + 0.5f) * 20.0f, 80.0f);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x, y)), Rgb(kGreen));
  // 20 pixels of radius: background beyond it, the atom (or its rim) inside.
  for (int d : {-22, 22}) {
    EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x + d, y)), 0u);
    EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x, y + d)), 0u);
  }
  for (int d : {-17, 17})
    EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x + d, y)), Rgb(kGreen));
}

TEST(AtomImagesTest, AWhiteShadedAtomFollowsTheLightingFormulaAndIsLitFromTheUpperLeft) {
  CrystalRec c;
  Build(c, {{2.0f, kRGBWhite, AtomStylePhotoRendered}}, {{0.0f, 0.0f, 0.0f, 0}});
  auto port = Draw(c, 120, 120);
  Dump(*port, "shaded");
  // The centre's normal is (0, 0, 1): ambient + diffuse * Lz + Lz^N.
  const float lz = 0.7071f;
  const float lit =
      1.0f * 0.25f * 1.0f + 1.0f * 0.75f * 1.0f * lz + 1.0f * 1.0f * std::pow(2.0f * 1.0f * lz - lz, 30.0f);
  const uint32_t channel = uint32_t(lit * 65535.0f) >> 8;
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(60, 60)), channel * 0x010101u);

  // The image itself: symmetric under transposition (Lx = -Ly), brightest
  // up and left of its centre.
  const PixelBuffer &image = *AtomImage(c.spheres[0]);
  const int n = image.Width();
  uint32_t brightest = 0;
  int bx = 0, by = 0;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      ASSERT_EQ(image.Pixel32(x, y), image.Pixel32(y, x)) << x << "," << y;
      if (PixelRed(image.Pixel32(x, y)) > brightest && image.Pixel32(x, y) != 0xFFFFFFFFu) {
        brightest = PixelRed(image.Pixel32(x, y));
        bx = x;
        by = y;
      }
    }
  EXPECT_LT(bx, n / 2);
  EXPECT_LT(by, n / 2);
}

TEST(AtomImagesTest, WithoutDiffuseAndSpecularAShadedStyleIsAFlatDiscOnePixelSmaller) {
  CrystalRec c;
  Build(c, {{0.5f, RGBColor{40000, 20000, 65535}, AtomStylePhotoRendered}}, {{0.0f, 0.0f, 0.0f, 0}});
  c.kD[0] = 0.0f;
  c.kS[0] = 0.0f;
  c.kA[0] = 0.5f;
  c.ambientIntensity = 3.0f; // 1.5 times the colour: channels saturate instead of wrapping
  auto port = Draw(c, 40, 40);
  const RGBColor expected{60000, 30000, 65535};
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(20, 20)), Rgb(expected));
  // r = 10: the flat disc stops one pixel inside.
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(20 + 10, 20)), 0u);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(20 + 9, 20)), Rgb(expected));
}

TEST(AtomImagesTest, TheNearerOfTwoOverlappingAtomsWinsAndSwappingDepthsSwapsTheWinner) {
  for (bool swapped : {false, true}) {
    CrystalRec c;
    Build(c, {{1.0f, kRGBRed, AtomStyleFilled}, {1.0f, kBlue, AtomStyleFilled}},
          {{-0.5f, 0.0f, swapped ? 0.0f : 1.0f, 0}, {0.5f, 0.0f, swapped ? 1.0f : 0.0f, 1}});
    auto port = Draw(c, 120, 80);
    // The overlap's middle lies on the plot centre.
    EXPECT_EQ(Rgb(port->Pixels()->Pixel32(60, 40)), Rgb(swapped ? kBlue : kRGBRed));
  }
}

TEST(AtomImagesTest, AFadedAtomIsBlendedIntoTheBackgroundByItsDepth) {
  CrystalRec c;
  const RGBColor grey{50000, 50000, 50000};
  // Front at z = 0 and an extent of 10, so z = -6 is t = 0.4; the factory
  // curve (base 0, plateau 0.8, minimum 0) gives it the weight 0.5.
  Build(c, {{0.5f, grey, AtomStyleFilled}}, {{-2.0f, 0.0f, 0.0f, 0}, {2.0f, 0.0f, -6.0f, 0}});
  c.depthFading = 1;
  c.backgroundColor = RGBColor{10000, 20000, 30000};
  auto port = Draw(c, 160, 60);
  const int x = ExpectedPixel(2.0f * 20.0f, 80.0f);
  const uint32_t got = port->Pixels()->Pixel32(x, 30);
  const float w = (0.0f + (1.0f - 0.0f) * (0.4f - 0.0f) / (0.8f - 0.0f));
  const int channels[3][2] = {{50000 >> 8, 10000 >> 8}, {50000 >> 8, 20000 >> 8}, {50000 >> 8, 30000 >> 8}};
  const uint32_t gotChannels[3] = {PixelRed(got), PixelGreen(got), PixelBlue(got)};
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(int(gotChannels[i]), int(channels[i][0] * w + channels[i][1] * (1.0f - w)), 1) << i;
  // The near atom is not faded.
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(ExpectedPixel(-40.0f, 80.0f), 30)), Rgb(grey));
}

TEST(AtomImagesTest, AMirrorSymmetricMoleculeInUnlitStylesGivesAMirrorSymmetricImage) {
  CrystalRec c;
  // Pairs mirrored in x at equal depths that do not touch, and atoms on the
  // mirror line overlapping them in front and behind.
  Build(c,
        {{0.8f, kRGBRed, AtomStyleFilled},
         {0.6f, kBlue, AtomStyleHollow},
         {0.7f, kGreen, AtomStylePlainWhite},
         {0.5f, kRGBWhite, AtomStyleFilled}},
        {{-1.1f, 0.3f, 0.0f, 0},
         {1.1f, 0.3f, 0.0f, 0},
         {0.0f, 0.0f, 0.5f, 1},
         {-0.9f, -1.0f, -1.0f, 3},
         {0.9f, -1.0f, -1.0f, 3},
         {0.0f, -0.8f, 0.2f, 2},
         {0.0f, 1.2f, -0.4f, 1}});
  c.backgroundColor = RGBColor{20000, 20000, 20000};
  auto port = Draw(c, 160, 120);
  Dump(*port, "mirror");
  const PixelBuffer &px = *port->Pixels();
  // x maps to 160 - x: both lie at the same distance from the centre line.
  for (int y = 0; y < 120; ++y)
    for (int x = 1; x < 160; ++x)
      ASSERT_EQ(px.Pixel32(x, y), px.Pixel32(160 - x, y)) << x << "," << y;
}

TEST(AtomImagesTest, SelectionMarksAreRedOnYellowishAtomsAndYellowOnOthers) {
  for (const RGBColor colour : {RGBColor{65535, 65535, 0}, RGBColor{30000, 30000, 30000}}) {
    CrystalRec c;
    Build(c, {{1.0f, colour, AtomStyleFilled}}, {{0.0f, 0.0f, 0.0f, 0}});
    c.atoms[0].selected = 1;
    auto port = Draw(c, 60, 60);
    const RGBColor expected = colour.blue == 0 ? kRGBRed : kRGBYellow;
    // The outermost pixel of the centre row carries the solid band.
    EXPECT_EQ(Rgb(port->Pixels()->Pixel32(30 - 20, 30)), Rgb(expected));
  }
}

TEST(AtomImagesTest, ImageSizesBallJointsAndRadiiByModel) {
  CrystalRec c;
  Build(c, {{0.01f, kGreen, AtomStyleFilled}}, {{0.0f, 0.0f, 0.0f, 0}});
  RenderSpheres(&c);
  ASSERT_NE(AtomImage(c.spheres[0]), nullptr);
  EXPECT_EQ(AtomImage(c.spheres[0])->Width(), 3); // r rounds up to 1

  c.spheres[0].element = 0x4F20; // "O "
  RGBColor colour;
  uint32_t style = 0;
  c.bondSpecCount = 0;
  EXPECT_FALSE(GetBallJointAttributes(&c, 0, colour, style));
  EXPECT_EQ(style, uint32_t(AtomStyleFilled));
  EXPECT_EQ(colour, c.bondColor1);
  c.bondSpecCount = 1;
  c.bondSpecs[0] = BondSpec{0x4F20, 0x4F20, 0.0f, 2.0f, 3, kRGBRed, kBlue};
  EXPECT_TRUE(GetBallJointAttributes(&c, 0, colour, style));
  EXPECT_EQ(style, uint32_t(AtomStylePhotoRendered));
  EXPECT_EQ(colour, kGreen);
  c.bondSpecs[0].style = 10;
  GetBallJointAttributes(&c, 0, colour, style);
  EXPECT_EQ(style, uint32_t(AtomStyleFilled));
  EXPECT_EQ(colour, kGreen);
  c.bondSpecs[0].style = 2;
  GetBallJointAttributes(&c, 0, colour, style);
  EXPECT_EQ(style, uint32_t(AtomStyleBlank));

  float r = -1.0f;
  c.modelType = 4;
  EXPECT_TRUE(GetAtomSphereRadius(&c, 0, r));
  EXPECT_EQ(r, 0.0f);
}

TEST(AtomImagesTest, EveryStyleDrawsDirectlyAndIntoImagesWithoutLeavingItsDisc) {
  // Styles drawn directly (perspective) and from images must stay inside
  // their disc and paint something there, except the styles that draw
  // nothing directly.
  for (bool perspective : {false, true}) {
    for (uint32_t style = 1; style <= 20; ++style) {
      CrystalRec c;
      Build(c, {{1.2f, RGBColor{50000, 30000, 10000}, style}}, {{0.0f, 0.0f, 0.0f, 0}});
      c.perspective = perspective ? 1 : 0;
      auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 80, 80), 32);
      constexpr uint32_t kGround = 0xFF202020u;
      port->Pixels()->Fill(kGround);
      RenderSpheres(&c);
      SortAtomsByHeight(&c, c.minAtomRadius);
      GetPixelCoords(&c, 80, 80);
      PortSaver current(port.get());
      if (perspective)
        PlotSimpleAtom(&c, c.spheres[0].colour, style, 1.2f, 0.0f, 40, 40, false, std::nullopt);
      else
        DoPlotAtom(&c, 0, 1.0f, std::nullopt);
      int inside = 0;
      for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) {
          const bool lit = port->Pixels()->Pixel32(x, y) != kGround;
          const double d = std::hypot(x - 40, y - 40);
          if (d > 26.5) {
            ASSERT_FALSE(lit) << "style " << style << " at " << x << "," << y;
          }
          inside += lit;
        }
      const bool drawsNothing = perspective && (style == 8 || style == 9 || style == 11);
      EXPECT_EQ(inside == 0, drawsNothing) << "style " << style << (perspective ? " direct" : " image");
    }
  }
}

TEST(AtomImagesTest, CloudsColourOnlyTheirDotsAndStayWithinTheirDisc) {
  for (int8_t kind : {1, 2, 3}) {
    CrystalRec c;
    Build(c, {{1.0f, kGreen, AtomStyleFilled}}, {{0.0f, 0.0f, 0.0f, 0}});
    c.surfaceOverlay = 1;
    c.cloudSphereType = kind;
    c.cloudSphereColor = kRGBRed;
    c.cloudSphereTransparency = 0.5f;
    ASSERT_TRUE(RenderSpheres(&c));
    ASSERT_NE(CloudImage(c.spheres[0]), nullptr);
    EXPECT_EQ(CloudImage(c.spheres[0])->Depth(), kind == 3 ? 32 : 1);
    SortAtomsByHeight(&c, c.minAtomRadius);
    GetPixelCoords(&c, 60, 60);
    auto overlay = GraphicsPort::NewOffscreen(MakeRect(0, 0, 60, 60), 32); // white
    DoPlotCloud(&c, 0, 1.0f, std::nullopt, overlay.get());
    int red = 0;
    for (int y = 0; y < 60; ++y)
      for (int x = 0; x < 60; ++x) {
        const uint32_t p = Rgb(overlay->Pixels()->Pixel32(x, y));
        if (std::hypot(x - 30, y - 30) > 20.5) {
          ASSERT_EQ(p, 0xFFFFFFu) << int(kind) << " at " << x << "," << y;
        }
        if (kind != 3) {
          ASSERT_TRUE(p == 0xFFFFFFu || p == 0xFF0000u) << int(kind);
        }
        red += PixelRed(p) > PixelGreen(p) + 64;
      }
    EXPECT_GT(red, 20) << int(kind);
  }
}
