#include "graphics/Painter.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ovgfx;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kBlack = 0xFF000000u;

int CountNotWhite(const PixelBuffer &px, const Rect &area) {
  int n = 0;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      n += px.Pixel32(x, y) != kWhite;
  return n;
}

} // namespace

TEST(Painter, DrawsIntoThePortsOwnPixelsWithYUpFromTheBottomLeft) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 10, 8), 32);
  ASSERT_TRUE(port);
  {
    Painter painter(*port);
    ASSERT_TRUE(painter.IsValid());
    painter.SetFillColor(0, 0, 0, 1);
    painter.FillRect(PainterRect{0, 0, 2, 3});
  }
  const PixelBuffer &px = *port->Pixels();
  // The bottom-left 2 x 3 block of the buffer, exactly (edges on pixel
  // boundaries need no anti-aliasing).
  EXPECT_EQ(CountNotWhite(px, px.Bounds()), 6);
  EXPECT_EQ(px.Pixel32(0, 7), kBlack);
  EXPECT_EQ(px.Pixel32(1, 5), kBlack);
  EXPECT_EQ(px.Pixel32(0, 4), kWhite);

  // In port coordinates the same rectangle is the top-left block.
  port->Pixels()->Fill(kWhite);
  {
    Painter painter(*port, false);
    painter.SetFillColor(0, 0, 0, 1);
    painter.FillRect(PainterRect{0, 0, 2, 3});
  }
  EXPECT_EQ(px.Pixel32(1, 2), kBlack);
  EXPECT_EQ(px.Pixel32(0, 3), kWhite);
}

TEST(Painter, AlphaBlendsOverWhatIsThere) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 4, 4), 32);
  Painter painter(*port);
  painter.SetFillColor(0, 0, 0, 0.5f);
  painter.FillRect(PainterRect{0, 0, 4, 4});
  const uint32_t p = port->Pixels()->Pixel32(1, 1);
  EXPECT_EQ(PixelAlpha(p), 0xFFu);
  EXPECT_NEAR(int(PixelRed(p)), 128, 1);
  EXPECT_EQ(PixelRed(p), PixelBlue(p));
}

TEST(Painter, TransformsApplyWhenPointsAreAddedAndStateRestores) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 20, 20), 32);
  Painter painter(*port, false);
  painter.SetFillColor(0, 0, 0, 1);
  painter.SaveState();
  painter.TranslateCTM(10, 10);
  painter.ScaleCTM(2, 2);
  painter.BeginPath();
  painter.AddRect(PainterRect{0, 0, 2, 2}); // (10, 10) to (14, 14)
  painter.RestoreState();
  float x = 0, y = 0;
  ASSERT_TRUE(painter.GetPathCurrentPoint(x, y));
  EXPECT_FLOAT_EQ(x, 10); // the closed subpath returns to its start
  EXPECT_FLOAT_EQ(y, 10);
  painter.FillPath();
  EXPECT_TRUE(painter.IsPathEmpty());
  const PixelBuffer &px = *port->Pixels();
  EXPECT_EQ(CountNotWhite(px, px.Bounds()), 16);
  EXPECT_EQ(px.Pixel32(13, 13), kBlack);
}

TEST(Painter, DashesLeaveGapsAndTheClipCutsDrawing) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 40, 10), 32);
  Painter painter(*port, false);
  painter.SetShouldAntialias(false);
  painter.SetStrokeColor(0, 0, 0, 1);
  painter.SetLineWidth(2);
  const float dash[] = {4, 4};
  painter.SetLineDash(0, dash, 2);
  painter.BeginPath();
  painter.MoveToPoint(0, 5);
  painter.AddLineToPoint(40, 5);
  painter.StrokePath();
  const PixelBuffer &px = *port->Pixels();
  EXPECT_EQ(px.Pixel32(1, 5), kBlack);
  EXPECT_EQ(px.Pixel32(5, 5), kWhite);
  EXPECT_EQ(px.Pixel32(9, 5), kBlack);
  EXPECT_EQ(px.Pixel32(13, 5), kWhite);

  port->Pixels()->Fill(kWhite);
  painter.SetLineDash(0, nullptr, 0);
  painter.ClipToRect(PainterRect{10, 0, 10, 10});
  painter.SetFillColor(0, 0, 0, 1);
  painter.FillRect(PainterRect{0, 0, 40, 10});
  EXPECT_EQ(CountNotWhite(px, px.Bounds()), 100);
  EXPECT_EQ(px.Pixel32(9, 0), kWhite);
  EXPECT_EQ(px.Pixel32(10, 0), kBlack);
  EXPECT_EQ(px.Pixel32(20, 9), kWhite);
}

TEST(Painter, TangentArcsRoundCornersAndEllipsesFillTheirRectangle) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 30, 30), 32);
  Painter painter(*port, false);
  painter.SetFillColor(0, 0, 0, 1);
  painter.BeginPath();
  painter.MoveToPoint(0, 20);
  painter.AddArcToPoint(0, 0, 20, 0, 10); // corner at the origin, radius 10
  float x, y;
  ASSERT_TRUE(painter.GetPathCurrentPoint(x, y));
  EXPECT_NEAR(x, 10, 1e-3);
  EXPECT_NEAR(y, 0, 1e-3);
  painter.AddLineToPoint(20, 20);
  painter.ClosePath();
  painter.FillPath();
  const PixelBuffer &px = *port->Pixels();
  EXPECT_EQ(px.Pixel32(1, 1), kWhite);   // cut off by the arc
  EXPECT_EQ(px.Pixel32(10, 10), kBlack); // inside
  EXPECT_EQ(px.Pixel32(3, 15), kBlack);

  port->Pixels()->Fill(kWhite);
  painter.FillEllipseInRect(PainterRect{5, 5, 20, 10});
  EXPECT_EQ(px.Pixel32(15, 10), kBlack);
  EXPECT_EQ(px.Pixel32(6, 6), kWhite);
  EXPECT_EQ(px.Pixel32(15, 4), kWhite);
  EXPECT_EQ(px.Pixel32(15, 15), kWhite);
}

TEST(Painter, TextIsUprightAdvancesThePositionAndCanBeInvisible) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 100, 40), 32);
  const PixelBuffer &px = *port->Pixels();
  Painter painter(*port);
  painter.SelectFont("Lucida Grande", 20);
  const float width = painter.StringWidth("Tq");
  EXPECT_GT(width, 15);
  painter.SetTextDrawingMode(PainterTextMode::kInvisible);
  painter.ShowTextAtPoint(10, 10, "Tq");
  float x, y;
  painter.GetTextPosition(x, y);
  EXPECT_FLOAT_EQ(x, 10 + width);
  EXPECT_FLOAT_EQ(y, 10);
  EXPECT_EQ(CountNotWhite(px, px.Bounds()), 0);

  // Baseline 10 pixels above the bottom (y up): the capital stands above it
  // (rows 30 and less) and only the descender reaches below.
  painter.SetTextDrawingMode(PainterTextMode::kFill);
  painter.SetFillColor(0, 0, 0, 1);
  painter.ShowTextAtPoint(10, 10, "T");
  EXPECT_GT(CountNotWhite(px, MakeRect(0, 14, 100, 30)), 0);
  EXPECT_EQ(CountNotWhite(px, MakeRect(0, 31, 100, 40)), 0);

  port->Pixels()->Fill(kWhite);
  painter.SetTextDrawingMode(PainterTextMode::kStroke);
  painter.SetStrokeColor(0, 0, 0, 1);
  painter.SetLineWidth(1);
  painter.ShowTextAtPoint(10, 10, "T");
  EXPECT_GT(CountNotWhite(px, MakeRect(0, 14, 100, 30)), 0);
  EXPECT_EQ(CountNotWhite(px, MakeRect(0, 31, 100, 40)), 0);
}

TEST(Painter, MeasuresTextAndDoesNothingOnOneBitPorts) {
  TextSize none = MeasureText("", 12, 0, "abc");
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(none.height, 0);
  EXPECT_EQ(MeasureText("Geneva", 0, 0, "abc").width, 0);
  TextSize small = MeasureText("Geneva", 10, 0, "abc");
  TextSize large = MeasureText("Geneva", 20, 0, "abc");
  EXPECT_GT(small.width, 0);
  EXPECT_NEAR(large.width / small.width, 2.0, 0.25);
  EXPECT_GT(large.height, small.height);

  auto mask = GraphicsPort::NewOffscreen(MakeRect(0, 0, 8, 8), 1);
  Painter painter(*mask);
  EXPECT_FALSE(painter.IsValid());
  painter.SetFillColor(0, 0, 0, 1);
  painter.FillRect(PainterRect{0, 0, 8, 8});
  painter.ShowTextAtPoint(0, 0, "x");
  EXPECT_EQ(mask->Pixels()->Row1(0)[0], 0);
}
