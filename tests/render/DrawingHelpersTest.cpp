#include "render/DrawingHelpers.h"
#include "RenderTestSupport.h"
#include "render/DashedLines.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace ovgfx;

namespace {

// Restores the program-wide plot settings a test changes.
struct PlotSettings {
  int16_t res = gPlotRes;
  uint8_t method = gPlotMethod;
  uint8_t fast = gUseFastRotn;
  ~PlotSettings() {
    gPlotRes = res;
    gPlotMethod = method;
    gUseFastRotn = fast;
  }
};

int Lit(TestTarget &t, const Rect &r) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      n += (t.At(x, y) & 0x00FFFFFF) != 0;
  return n;
}

} // namespace

TEST(PlotResolution, PensAndDashesScaleAndNeverFallBelowOnePixel) {
  PlotSettings keep;
  gPlotRes = 72;
  EXPECT_EQ(ScaledToPlotRes(kDashPeriodAt72), 10);
  EXPECT_EQ(ScaledToPlotRes(kDotPeriodAt72), 2);
  gPlotRes = 300;
  EXPECT_EQ(ScaledToPlotRes(kDashPeriodAt72), 41); // 3000 / 72
  EXPECT_EQ(ScaledToPlotRes(1), 4);
  gPlotRes = 30; // a small clipboard copy
  EXPECT_EQ(ScaledToPlotRes(kDashPeriodAt72), 4);
  EXPECT_EQ(ScaledToPlotRes(kDotPeriodAt72), 1); // 60 / 72 would be 0
  EXPECT_EQ(ScaledToPlotRes(1), 1);
  gPlotRes = 0;
  EXPECT_EQ(ScaledToPlotRes(kDashPeriodAt72), 1);
}

TEST(LineHelpers, TheDashedHelpersUseTheScaledPeriodAndEitherForm) {
  PlotSettings keep;
  TestTarget t(MakeRect(0, 0, 120, 8));
  gPlotMethod = kPixelPlotMethod;
  gUseFastRotn = 0;
  gPlotRes = 300;
  // len 100, L 41, f 0.5: n = round(120.5 / 41) = 3, step 100 / 2.5 = 40.
  MyDrawDashedLine(0, 3, 100, 3, kRGBWhite);
  EXPECT_EQ(gDashRepeat, 40);
  EXPECT_EQ(gDashWidth, 20);
  EXPECT_EQ(t.Red(10, 3), kLitCentre);
  EXPECT_EQ(t.Red(30, 3), 0);

  // Below 36 dots per inch the dotted period stays 1 pixel: one dash, then
  // the rest is gap; nothing divides by zero.
  t.px().Fill(0xFF000000u);
  gPlotRes = 20;
  MyDrawDottedLine(0, 3, 100, 3, kRGBWhite);
  // L 1: n = round(100.5) = 101, step 100 / 100.5 floors to a period of 0.
  EXPECT_EQ(gDashRepeat, 0);
  EXPECT_EQ(gDashWidth, 1);
  EXPECT_EQ(t.Red(0, 3), kLitCentre);
  EXPECT_EQ(t.Red(50, 3), 0);

  // In a fast frame the pen form draws full-colour pixels.
  t.px().Fill(0xFF000000u);
  gPlotRes = 72;
  gUseFastRotn = 1;
  MyDrawDashedLine(0, 3, 100, 3, kRGBWhite);
  EXPECT_EQ(t.At(0, 3), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(0, 2), 0xFF000000u);
}

TEST(LineHelpers, MyDrawLinePicksAntiAliasedOrPenLines) {
  PlotSettings keep;
  TestTarget t(MakeRect(0, 0, 20, 20));
  gPlotMethod = kPixelPlotMethod;
  gUseFastRotn = 0;
  MyDrawLine(2, 5, 12, 5, kRGBWhite, 1);
  EXPECT_EQ(t.Red(5, 5), kLitCentre);
  EXPECT_EQ(t.Red(5, 4), kLitNeighbour);
  t.px().Fill(0xFF000000u);
  MyDrawLine(2, 10, 12, 10, kRGBWhite, 3); // thick: rows 9 to 11 core
  EXPECT_EQ(t.Red(5, 9), kLitCentre);
  EXPECT_EQ(t.Red(5, 11), kLitCentre);
  EXPECT_EQ(t.Red(5, 12), kLitNeighbour);

  // The command method draws a width x width pen hanging down-right, then
  // resets the pen.
  t.px().Fill(0xFF000000u);
  gPlotMethod = kCommandPlotMethod;
  t.port->SetPenMode(kPenBlend);
  t.port->SetOpColor(kRGBWhite); // a full-weight blend: the colour itself
  MyDrawLine(2, 5, 12, 5, kRGBWhite, 3);
  EXPECT_EQ(Lit(t, t.px().Bounds()), 11 * 3 + 2 * 3);
  EXPECT_EQ(t.At(14, 7), 0xFFFFFFFFu);
  EXPECT_EQ(t.port->PenWidth(), 1);
  EXPECT_EQ(t.port->GetPenMode(), kPenCopy);
}

TEST(LineHelpers, InitQDPenSizeLeavesADotAndAOnePixelPen) {
  TestTarget t(MakeRect(0, 0, 4, 4));
  t.port->SetForeColor(kRGBWhite);
  InitQDPenSize();
  EXPECT_EQ(Lit(t, t.px().Bounds()), 4);
  EXPECT_EQ(t.At(1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(t.port->PenWidth(), 1);
  EXPECT_EQ(t.port->PenHeight(), 1);
}

TEST(StippleFill, DensityZeroLeavesThePolygonErasedAndOnePaintsEveryCell) {
  PlotSettings keep;
  TestTarget t(MakeRect(0, 0, 20, 20));
  t.port->SetBackColor(RGBColor{0, 0, 65535});
  t.port->SetForeColor(kRGBBlack);
  Polygon square;
  square.Add(2, 2);
  square.Add(12, 2);
  square.Add(12, 12);
  square.Add(2, 12);
  std::srand(7);
  RandomFillPolygon(square, kRGBWhite, 0.0f);
  EXPECT_EQ(t.At(5, 5), 0xFF0000FFu);
  EXPECT_EQ(t.At(11, 11), 0xFF0000FFu);
  EXPECT_EQ(t.At(12, 12), 0xFF000000u);
  EXPECT_EQ(t.port->ForeColor(), kRGBBlack);

  RandomFillPolygon(square, kRGBWhite, 1.0f);
  for (int y = 2; y < 12; ++y)
    for (int x = 2; x < 12; ++x)
      ASSERT_EQ(t.At(x, y), 0xFFFFFFFFu) << x << "," << y;
  EXPECT_EQ(t.At(1, 5), 0xFF000000u);
  EXPECT_EQ(t.port->ForeColor(), kRGBBlack);

  // At 300 dots per inch the cells are 2 x 2: each cell is all or nothing.
  gPlotRes = 300;
  RandomFillPolygon(square, kRGBWhite, 0.5f);
  int painted = 0;
  for (int y = 2; y < 12; y += 2)
    for (int x = 2; x < 12; x += 2) {
      const uint32_t p = t.At(x, y);
      EXPECT_EQ(t.At(x + 1, y), p);
      EXPECT_EQ(t.At(x, y + 1), p);
      EXPECT_EQ(t.At(x + 1, y + 1), p);
      painted += p == 0xFFFFFFFFu;
    }
  EXPECT_GT(painted, 0);
  EXPECT_LT(painted, 25);
}

TEST(PainterHelpers, RoundedRectanglesAndThePortClip) {
  TestTarget t(MakeRect(0, 0, 40, 30));
  {
    Painter painter(*t.port);
    painter.SetFillColor(1, 1, 1, 1);
    painter.BeginPath();
    AddRoundedRectToPath(painter, PainterRect{0, 0, 20, 10}, 8, 0);
    painter.FillPath();
  }
  // A zero oval size gives the plain rectangle: the bottom-left 20 x 10.
  EXPECT_EQ(Lit(t, t.px().Bounds()), 200);
  EXPECT_EQ(t.At(0, 29), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(19, 20), 0xFFFFFFFFu);

  t.px().Fill(0xFF000000u);
  {
    Painter painter(*t.port);
    painter.SetFillColor(1, 1, 1, 1);
    painter.BeginPath();
    AddRoundedRectToPath(painter, PainterRect{0, 0, 40, 30}, 20, 20);
    painter.FillPath();
  }
  EXPECT_EQ(t.At(20, 15), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(0, 0), 0xFF000000u); // the corners are rounded off
  EXPECT_EQ(t.At(39, 29), 0xFF000000u);
  EXPECT_EQ(t.At(20, 0), 0xFFFFFFFFu); // the straight edges are full

  t.px().Fill(0xFF000000u);
  t.port->ClipRect(MakeRect(10, 0, 20, 30));
  {
    Painter painter(*t.port);
    MyCGClipToQDPort(painter);
    painter.SetFillColor(1, 1, 1, 1);
    painter.FillRect(PainterRect{0, 0, 40, 30});
  }
  EXPECT_EQ(Lit(t, t.px().Bounds()), 10 * 30);
  EXPECT_EQ(t.At(10, 0), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(20, 0), 0xFF000000u);
}

TEST(Pictures, TilesRepeatFromTheTopLeftWithinTheClip) {
  TestTarget t(MakeRect(0, 0, 12, 10));
  auto picture = PixelBuffer::Create(MakeRect(0, 0, 3, 2), 32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      picture->SetPixel32(x, y, 0xFF000000u | uint32_t(y * 3 + x + 1));
  t.port->ClipRect(MakeRect(0, 0, 12, 8));
  const Rect area = MakeRect(1, 1, 9, 10);
  MyTilePict(picture.get(), area);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      const bool inside = area.Contains(x, y) && y < 8;
      const uint32_t expected = inside ? picture->Pixel32((x - 1) % 3, (y - 1) % 2) : 0xFF000000u;
      ASSERT_EQ(t.At(x, y), expected) << x << "," << y;
    }
  EXPECT_EQ(t.port->Clip(), Region(MakeRect(0, 0, 12, 8))); // restored

  MyTilePict(nullptr, area);
  EXPECT_FALSE(MyCentrePictID(-4242, area)); // the program has no such picture
}
