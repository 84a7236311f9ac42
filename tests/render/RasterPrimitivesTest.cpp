#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace ovgfx;

namespace {

constexpr RGBColor kOrange{65535, 32768, 0};

// Rows of the pixels lit in each column, -1 for an unlit column.
std::vector<int> RowPerColumn(TestTarget &t, int x0, int x1) {
  std::vector<int> rows;
  for (int x = x0; x <= x1; ++x) {
    int row = -1;
    for (int y = t.px().Bounds().top; y < t.px().Bounds().bottom; ++y)
      if ((t.At(x, y) & 0x00FFFFFF) != 0)
        row = y;
    rows.push_back(row);
  }
  return rows;
}

} // namespace

TEST(PixTarget, ClipIsThePixelsWithinTheClipBoxWithInclusiveEdges) {
  TestTarget t(MakeRect(-5, -5, 20, 15));
  EXPECT_EQ(dstPixMap, &t.px());
  EXPECT_EQ(dstBitDepth, 32);
  EXPECT_EQ(dstRowbytes, 100u);
  EXPECT_EQ(dstPixBounds, MakeRect(-5, -5, 20, 15));
  EXPECT_EQ(dstPixClipBounds, MakeRect(-5, -5, 19, 14));
  // Only the clip region's bounding box counts.
  t.port->SetClip(Region(MakeRect(0, 0, 3, 3)).United(Region(MakeRect(10, 8, 12, 30))));
  GetCurrentPixGlobals();
  EXPECT_EQ(dstPixClipBounds, MakeRect(0, 0, 11, 14));

  // The primitives keep drawing into the target taken, whatever port is
  // current now.
  auto other = GraphicsPort::NewOffscreen(MakeRect(0, 0, 4, 4), 32);
  SetCurrentPort(other.get());
  other->Pixels()->Fill(0);
  MySetCPixel(2, 2, kRGBWhite);
  EXPECT_EQ(t.At(2, 2), 0xFFFFFFFFu);
  EXPECT_EQ(other->Pixels()->Pixel32(2, 2), 0u);
}

TEST(PixTarget, OutlivesTheSessionButNotItsPixels) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 8, 8), 32);
  port->Pixels()->Fill(0xFF000000u);
  SetCurrentPort(port.get());
  GetCurrentPixGlobals();
  DisposeCurrentPixGlobals();
  // Drawing after the session still reaches the target taken.
  MySetCPixel(1, 1, kRGBWhite);
  EXPECT_EQ(port->Pixels()->Pixel32(1, 1), 0xFFFFFFFFu);
  // Once the pixels are freed there is no target left to write into.
  port.reset();
  EXPECT_EQ(dstPixBase, nullptr);
  EXPECT_EQ(dstPixMap, nullptr);
  MySetCPixel(1, 1, kRGBWhite);
  EXPECT_EQ(MyDrawSmoothLine(0, 0, 5, 5, kRGBWhite), 0);
  MyDrawStandardLine(0, 0, 5, 5, kRGBWhite);
}

// A plot made while another is drawing (a thumbnail during a save) takes its
// own port and target; afterwards the outer plot draws on into its pixels.
TEST(PixTarget, APlotNestedInAPlotLeavesTheOuterTargetInPlace) {
  TestTarget outer(MakeRect(0, 0, 8, 8));
  MySetCPixel(1, 1, kRGBWhite);
  auto inner = GraphicsPort::NewOffscreen(MakeRect(0, 0, 4, 4), 32);
  inner->Pixels()->Fill(0xFF000000u);
  {
    PixTargetSaver saved(inner.get());
    GetCurrentPixGlobals();
    MySetCPixel(2, 2, kRGBWhite);
  }
  EXPECT_EQ(CurrentPort(), outer.port.get());
  MyDrawStandardLine(3, 3, 5, 3, kRGBWhite);
  EXPECT_EQ(outer.CountLit(), 4);
  EXPECT_EQ(outer.At(2, 2), 0xFF000000u);
  EXPECT_EQ(inner->Pixels()->Pixel32(2, 2), 0xFFFFFFFFu);
  EXPECT_EQ(inner->Pixels()->Pixel32(3, 3), 0xFF000000u);

  // Pixels freed during the inner plot are not brought back as a target.
  {
    PixTargetSaver saved(inner.get());
    GetCurrentPixGlobals();
    inner.reset();
  }
  {
    auto doomed = GraphicsPort::NewOffscreen(MakeRect(0, 0, 4, 4), 32);
    SetCurrentPort(doomed.get());
    GetCurrentPixGlobals();
    SetCurrentPort(outer.port.get());
    {
      PixTargetSaver saved(outer.port.get());
      GetCurrentPixGlobals();
      doomed.reset();
    }
    EXPECT_EQ(dstPixMap, nullptr);
    EXPECT_EQ(dstPixBase, nullptr);
  }
}

TEST(PixPixels, SetAndBlendFollowThePixelFormat) {
  TestTarget t(MakeRect(0, 0, 4, 4));
  MySetCPixel(0, 0, kOrange);
  EXPECT_EQ(t.At(0, 0), 0xFFFF8000u);
  MySetCPixel(4, 0, kOrange); // outside the clip: nothing, no overrun
  MySetCPixel(-1, 2, kOrange);

  EXPECT_EQ(ReduceColor(kOrange), (RGBColor{255, 128, 0}));
  t.px().SetPixel32(1, 1, 0x00102030u);
  MyPickNMix32BitColors(1, 1, RGBColor{255, 128, 0}, 0.25f);
  // 255 * 0.25 + 16 * 0.75 = 75.75; 128 * 0.25 + 32 * 0.75 = 56; 0 + 36.
  EXPECT_EQ(t.At(1, 1), 0xFF4B3824u);

  RGBColor mixed;
  MyBlendColors(mixed, RGBColor{65535, 1000, 3}, RGBColor{0, 2000, 0}, 0.3f);
  // 65535 * 0.3 = 19660.5 truncates; 300 + 1400 = 1700; 0.9 -> 0.
  EXPECT_EQ(mixed, (RGBColor{19660, 1700, 0}));
}

TEST(PixPixels, AtOneBitEveryColourBlackensThePixel) {
  TestTarget t(MakeRect(0, 0, 16, 4), 1);
  MySetCPixel(3, 0, kRGBWhite);
  EXPECT_TRUE(t.px().Bit(3, 0));
  MyDrawStandardLine(0, 2, 7, 2, kRGBWhite);
  EXPECT_EQ(t.px().Row1(2)[0], 0xFF);
  // Anti-aliased lines fall back to one-pixel lines here.
  EXPECT_EQ(MyDrawSmoothLine(8, 3, 15, 3, kRGBWhite), 1);
  EXPECT_EQ(t.px().Row1(3)[1], 0xFF);
  MyDrawRealSmoothThickLine(0.0f, 1.0f, 7.0f, 1.0f, 3, kRGBWhite);
  EXPECT_EQ(t.px().Row1(1)[0], 0xFF);
}

TEST(PixLines, CoincidentEndPointsSetOneFullColourPixelInEveryLine) {
  TestTarget t(MakeRect(0, 0, 10, 10));
  MyDrawStandardLine(1, 1, 1, 1, kOrange);
  MyDrawThickLine(2, 2, 2, 2, 5, kOrange);
  EXPECT_EQ(MyDrawSmoothLine(3, 3, 3, 3, kOrange), 1);
  MyDrawRealSmoothLine(4.2f, 4.4f, 3.6f, 3.9f, kOrange);
  MyDrawRealSmoothThickLine(5.7f, 5.1f, 5.2f, 5.9f, 4, kOrange);
  EXPECT_EQ(t.CountLit(), 5);
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(t.At(i, i), 0xFFFF8000u) << i;
}

TEST(PixLines, OnePixelLinesAccumulateTheCrossCoordinateInSinglePrecision) {
  TestTarget t(MakeRect(0, 0, 12, 12));
  MyDrawStandardLine(0, 0, 10, 3, kRGBWhite);
  EXPECT_EQ(RowPerColumn(t, 0, 10), (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}));
  EXPECT_EQ(t.At(10, 3), 0xFF000000u); // 2.9999998 truncates: the end point stays unset

  // Drawn the other way round the line is the same.
  t.px().Fill(0xFF000000u);
  MyDrawStandardLine(10, 3, 0, 0, kRGBWhite);
  EXPECT_EQ(RowPerColumn(t, 0, 10), (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 2}));

  // Steep lines step in y; a diagonal counts as steep and is exact.
  t.px().Fill(0xFF000000u);
  MyDrawStandardLine(5, 11, 5, 2, kRGBWhite);
  MyDrawStandardLine(0, 0, 9, 9, kRGBWhite);
  EXPECT_EQ(t.CountLit(), 10 + 10 - 1); // they share (5, 5)
  EXPECT_EQ(t.At(9, 9), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(5, 11), 0xFFFFFFFFu);
}

TEST(PixLines, ThickLinesStackBelowOrRightAndZeroWidthDrawsNothing) {
  TestTarget t(MakeRect(0, 0, 12, 12));
  MyDrawThickLine(0, 0, 10, 0, 3, kRGBWhite);
  EXPECT_EQ(t.CountLit(), 33);
  for (int y = 0; y < 3; ++y)
    EXPECT_EQ(t.At(5, y), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(5, 3), 0xFF000000u);

  t.px().Fill(0xFF000000u);
  MyDrawThickLine(2, 0, 2, 10, 2, kRGBWhite);
  EXPECT_EQ(t.At(2, 5), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(3, 5), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(1, 5), 0xFF000000u);

  t.px().Fill(0xFF000000u);
  MyDrawThickLine(0, 0, 10, 5, 0, kRGBWhite);
  MyDrawThickLine(0, 0, 10, 5, -2, kRGBWhite);
  EXPECT_EQ(t.CountLit(), 0);
}

TEST(PixSmoothLines, HorizontalLineWeightsAndTheSinglePrecisionIndex) {
  TestTarget t(MakeRect(0, 0, 70, 12));
  EXPECT_EQ(MyDrawSmoothLine(0, 5, 10, 5, kRGBWhite), 1);
  for (int x = 0; x <= 10; ++x) {
    EXPECT_EQ(t.Red(x, 5), kLitCentre) << x;
    EXPECT_EQ(t.Red(x, 4), kLitNeighbour) << x;
    EXPECT_EQ(t.Red(x, 6), kLitNeighbour) << x;
  }
  EXPECT_EQ(t.Red(11, 5), 0);
  EXPECT_EQ(t.CountLit(), 33);

  // For 61 pixels k = 1220 * (1 / 61) falls just below 20, so the
  // neighbours take entry 19.
  t.px().Fill(0xFF000000u);
  MyDrawSmoothLine(0, 5, 61, 5, kRGBWhite);
  EXPECT_EQ(t.Red(30, 5), kLitCentre);
  EXPECT_EQ(t.Red(30, 4), kLitEntry19);
  EXPECT_EQ(t.Red(30, 6), kLitEntry19);
}

TEST(PixSmoothLines, SlopedLinesBlendTheRoundedPixelAndItsNeighbours) {
  TestTarget t(MakeRect(0, 0, 12, 12));
  // (0, 1) to (10, 6): at x = 3, ye = 2.5 rounds to 3, d = 0.5; k = 20 * 10 /
  // sqrt(125) = 17.888544: entries trunc(8.94) = 8 on the rounded row and
  // the row above (|trunc(-8.94)|), trunc(26.8) = 26 on the row below.
  MyDrawSmoothLine(0, 1, 10, 6, kRGBWhite);
  EXPECT_EQ(t.Red(3, 3), 150); // 255 * 0.592055
  EXPECT_EQ(t.Red(3, 4), 3);   // 255 * 0.012221
  EXPECT_EQ(t.Red(3, 2), 150);
  // At x = 2, ye = 2 exactly: the centre entry and entry 17 on both sides.
  EXPECT_EQ(t.Red(2, 2), kLitCentre);
  EXPECT_EQ(t.Red(2, 3), 51); // 255 * 0.200807
  EXPECT_EQ(t.Red(2, 1), 51);
  // A steep line is the same walk with the axes exchanged.
  t.px().Fill(0xFF000000u);
  MyDrawSmoothLine(1, 0, 6, 10, kRGBWhite);
  EXPECT_EQ(t.Red(3, 3), 150);
  EXPECT_EQ(t.Red(2, 2), kLitCentre);
  EXPECT_EQ(t.Red(3, 2), 51);
}

TEST(PixSmoothLines, ClipRulesDropWholeStepsNeverPartOfThem) {
  TestTarget t(MakeRect(0, 0, 20, 20));
  t.Clip(MakeRect(2, 2, 18, 18)); // inclusive 2..17
  // Wholly outside: 0 and nothing drawn.
  EXPECT_EQ(MyDrawSmoothLine(0, 0, 1, 19, kRGBWhite), 0);
  EXPECT_EQ(MyDrawSmoothLine(5, 18, 15, 19, kRGBWhite), 0);
  // On the clip's first or last row the neighbours would leave the clip:
  // every column is skipped.
  EXPECT_EQ(MyDrawSmoothLine(3, 2, 15, 2, kRGBWhite), 1);
  EXPECT_EQ(MyDrawSmoothLine(3, 17, 15, 17, kRGBWhite), 1);
  EXPECT_EQ(t.CountLit(), 0);
  // A vertical line on the first or last column: nothing, and 0.
  EXPECT_EQ(MyDrawSmoothLine(2, 4, 2, 12, kRGBWhite), 0);
  EXPECT_EQ(MyDrawSmoothLine(17, 4, 17, 12, kRGBWhite), 0);
  EXPECT_EQ(t.CountLit(), 0);
  // One column in, it draws its three columns over the clipped rows only.
  EXPECT_EQ(MyDrawSmoothLine(3, 0, 3, 30, kRGBWhite), 1);
  EXPECT_EQ(t.CountLit(), 3 * 16);
  EXPECT_EQ(t.Red(3, 2), kLitCentre);
  EXPECT_EQ(t.Red(4, 17), kLitNeighbour);
  EXPECT_EQ(t.Red(3, 1), 0);

  DisposeCurrentPixGlobals();
  SetCurrentPort(nullptr);
  GetCurrentPixGlobals();
  EXPECT_EQ(MyDrawSmoothLine(5, 5, 9, 9, kRGBWhite), 0); // no target
}

TEST(PixSmoothLines, FractionalLinesIncludeTheLastColumnOnlyNearTheDiagonal) {
  TestTarget t(MakeRect(0, 0, 14, 14));
  auto lit = [&](int x) {
    for (int y = 0; y < 14; ++y)
      if (t.Red(x, y))
        return true;
    return false;
  };
  MyDrawRealSmoothLine(0.0f, 2.0f, 10.0f, 5.0f, kRGBWhite);
  for (int x = 0; x <= 9; ++x)
    EXPECT_TRUE(lit(x)) << x;
  EXPECT_FALSE(lit(10));

  t.px().Fill(0xFF000000u);
  MyDrawRealSmoothLine(0.0f, 1.0f, 10.0f, 10.0f, kRGBWhite);
  for (int x = 0; x <= 10; ++x)
    EXPECT_TRUE(lit(x)) << x;

  // End points round half away from zero (1.5 -> 2) but the exact position
  // keeps the fractions: at x = 2 the line is at 4.25, so u = 4 and
  // d = -0.25; k = 20: entries 5, 15 and 25.
  t.px().Fill(0xFF000000u);
  MyDrawRealSmoothLine(1.5f, 4.25f, 11.5f, 4.25f, kRGBWhite);
  EXPECT_FALSE(lit(1));
  EXPECT_EQ(t.Red(2, 4), 179); // 255 * 0.703222
  EXPECT_EQ(t.Red(2, 5), 70);  // 255 * 0.275731
  EXPECT_EQ(t.Red(2, 3), 5);   // 255 * 0.021047
  EXPECT_TRUE(lit(11));
  EXPECT_FALSE(lit(12)); // the second end point's column is left out
}

TEST(PixSmoothLines, ThickLinesSpreadTheCoreAroundTheRoundedPosition) {
  TestTarget t(MakeRect(0, 0, 16, 16));
  // Width 4: core from u - 1 to u + 2, outer pixels u + 3 and u - 2.
  MyDrawRealSmoothThickLine(0.0f, 6.0f, 10.0f, 6.0f, 4, kRGBWhite);
  EXPECT_EQ(t.Red(4, 4), kLitNeighbour);
  for (int y = 5; y <= 8; ++y)
    EXPECT_EQ(t.Red(4, y), kLitCentre) << y;
  EXPECT_EQ(t.Red(4, 9), kLitNeighbour);
  EXPECT_EQ(t.Red(4, 3), 0);
  EXPECT_EQ(t.Red(4, 10), 0);
  // The integer end points are truncated: (0.9, 6) starts in column 0.
  t.px().Fill(0xFF000000u);
  MyDrawRealSmoothThickLine(0.9f, 6.0f, 10.0f, 6.0f, 1, kRGBWhite);
  EXPECT_NE(t.Red(0, 6), 0);

  // A vertical thick line needs room for its whole cross-section.
  t.px().Fill(0xFF000000u);
  MyDrawRealSmoothThickLine(2.0f, 1.0f, 2.0f, 12.0f, 3, kRGBWhite); // columns 0..4 fit
  EXPECT_EQ(t.Red(0, 5), kLitNeighbour);
  EXPECT_EQ(t.Red(1, 5), kLitCentre);
  EXPECT_EQ(t.Red(3, 5), kLitCentre);
  EXPECT_EQ(t.Red(4, 5), kLitNeighbour);
  t.px().Fill(0xFF000000u);
  MyDrawRealSmoothThickLine(1.0f, 1.0f, 1.0f, 12.0f, 3, kRGBWhite); // would need column -1
  EXPECT_EQ(t.CountLit(), 0);
}

TEST(PixSmoothLines, EndPointsThatAreNotNumbersOrAreHugeDrawNothing) {
  TestTarget t(MakeRect(0, 0, 12, 12));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  MyDrawRealSmoothLine(nan, 2.0f, 9.0f, 9.0f, kRGBWhite);
  MyDrawRealSmoothLine(1.0f, 2.0f, 9.0f, std::numeric_limits<float>::infinity(), kRGBWhite);
  MyDrawRealSmoothThickLine(1.0f, 2.0f, 3.0e9f, 9.0f, 2, kRGBWhite);
  EXPECT_EQ(t.CountLit(), 0);
  // Far but usable end points are drawn where the line crosses the pixels.
  MyDrawRealSmoothLine(-50000.0f, 5.0f, 50000.0f, 5.0f, kRGBWhite);
  EXPECT_EQ(t.Red(6, 5), kLitCentre);
  TestTarget mask(MakeRect(0, 0, 16, 4), 1);
  MyDrawRealSmoothLine(-50000.0f, 1.0f, 50000.0f, 1.0f, kRGBWhite); // no 16-bit form for it
  EXPECT_EQ(mask.px().Row1(1)[0], 0);
}

TEST(PixSmoothLines, ANegativeThickWidthIsDrawnAsWidthOneAndStaysInside) {
  TestTarget t(MakeRect(0, 0, 12, 12));
  MyDrawRealSmoothThickLine(0.0f, 10.0f, 11.0f, 10.0f, -100, kRGBWhite);
  std::vector<uint32_t> negative(144);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x)
      negative[size_t(y * 12 + x)] = t.At(x, y);
  t.px().Fill(0xFF000000u);
  MyDrawRealSmoothThickLine(0.0f, 10.0f, 11.0f, 10.0f, 1, kRGBWhite);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x)
      EXPECT_EQ(negative[size_t(y * 12 + x)], t.At(x, y)) << x << "," << y;
  EXPECT_EQ(t.Red(5, 10), kLitCentre);
}
