#include "graphics/GraphicsPort.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

using namespace ovgfx;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kBlack = 0xFF000000u;

// The set of pixels that are not white.
std::set<std::pair<int, int>> Marked(const PixelBuffer &px) {
  std::set<std::pair<int, int>> out;
  const Rect &b = px.Bounds();
  for (int y = b.top; y < b.bottom; ++y)
    for (int x = b.left; x < b.right; ++x)
      if (px.Pixel32(x, y) != kWhite)
        out.insert({x, y});
  return out;
}

std::set<std::pair<int, int>> RectPixels(const Rect &r) {
  std::set<std::pair<int, int>> out;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      out.insert({x, y});
  return out;
}

} // namespace

TEST(PortPen, LinesHangBelowAndRightOfTheIdealLine) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 20, 12), 32);
  ASSERT_TRUE(port);
  port->PenSize(3, 2);
  port->MoveTo(2, 2);
  port->LineTo(8, 2);
  EXPECT_EQ(Marked(*port->Pixels()), RectPixels(MakeRect(2, 2, 11, 4)));
  EXPECT_EQ(port->PenLocation(), (Point{2, 8}));

  // A diagonal with a 1 x 1 pen sets both end points and one pixel a row.
  port->Pixels()->Fill(kWhite);
  port->PenNormal();
  port->MoveTo(0, 5);
  port->LineTo(5, 10);
  EXPECT_EQ(Marked(*port->Pixels()), (std::set<std::pair<int, int>>{{0, 5}, {1, 6}, {2, 7}, {3, 8}, {4, 9}, {5, 10}}));

  // A pen without width draws nothing but still moves.
  port->Pixels()->Fill(kWhite);
  port->PenSize(0, 4);
  port->MoveTo(1, 1);
  port->LineTo(9, 9);
  EXPECT_TRUE(Marked(*port->Pixels()).empty());
  EXPECT_EQ(port->PenLocation(), (Point{9, 9}));
}

TEST(PortPen, FramesLieInsideTheShapeAndEraseUsesTheBackColour) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 12, 12), 32);
  ASSERT_TRUE(port);
  port->PenSize(2, 1);
  port->FrameRect(MakeRect(1, 1, 9, 7));
  auto expected = RectPixels(MakeRect(1, 1, 9, 7));
  for (auto p : RectPixels(MakeRect(3, 2, 7, 6)))
    expected.erase(p);
  EXPECT_EQ(Marked(*port->Pixels()), expected);

  port->SetBackColor(RGBColor{0, 65535, 0});
  port->EraseRect(MakeRect(0, 0, 2, 2));
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), 0xFF00FF00u);
  EXPECT_EQ(port->Pixels()->Pixel32(1, 1), 0xFF00FF00u);
  EXPECT_EQ(port->Pixels()->Pixel32(2, 2), kBlack); // frame, not erased
  EXPECT_EQ(port->Pixels()->Pixel32(3, 3), kWhite); // inside the frame

  // A framed oval is the oval less the oval inset by the pen.
  port->Pixels()->Fill(kWhite);
  port->PenSize(1, 1);
  const Rect box = MakeRect(0, 0, 12, 8);
  port->FrameOval(box);
  const Region ring = Region::Oval(box).Subtracted(Region::Oval(InsetRect(box, 1, 1)));
  std::set<std::pair<int, int>> ringPixels;
  for (const Rect &r : ring.Rects())
    for (auto p : RectPixels(r))
      ringPixels.insert(p);
  EXPECT_EQ(Marked(*port->Pixels()), ringPixels);
}

TEST(PortPen, PatternsFollowLocalCoordinatesAndSelectForeOrBackColour) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 16, 16), 32);
  ASSERT_TRUE(port);
  port->SetForeColor(kRGBBlack);
  port->SetBackColor(RGBColor{65535, 0, 0});
  port->FillRect(MakeRect(0, 0, 16, 16), kHalfStipplePattern);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(port->Pixels()->Pixel32(x, y), (x + y) % 2 == 0 ? kBlack : 0xFFFF0000u) << x << "," << y;

  // After moving the origin the pattern stays tied to local coordinates.
  port->SetOrigin(1, 0);
  port->FillRect(MakeRect(1, 0, 17, 16), kLightStipplePattern);
  // Local (1, 0) is the buffer's first pixel; 0x88 sets columns 0 and 4.
  EXPECT_EQ(port->Pixels()->Pixel32(1, 0), 0xFFFF0000u);
  EXPECT_EQ(port->Pixels()->Pixel32(4, 0), kBlack);
  EXPECT_EQ(port->Pixels()->Pixel32(8, 0), kBlack);
}

TEST(PortPen, BlendModeMixesThePenColourByTheOperationColour) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 4, 4), 32);
  ASSERT_TRUE(port);
  port->Pixels()->SetPixel32(1, 0, 0xFF6432C8u);
  port->SetPenMode(kPenBlend);
  port->SetOpColor(RGBColor{32767, 32767, 32767}); // w = 32767 / 65535
  port->SetForeColor(kRGBBlack);
  port->PaintRect(MakeRect(0, 0, 2, 1));
  // 255 * (1 - w) = 127.5019 truncates to 127.
  EXPECT_EQ(port->Pixels()->Pixel32(0, 0), 0xFF7F7F7Fu);
  // 0x64 = 100 -> 50.0008 -> 50, 0x32 = 50 -> 25, 0xC8 = 200 -> 100.
  EXPECT_EQ(port->Pixels()->Pixel32(1, 0), 0xFF321964u);

  // Channels blend separately.
  port->SetOpColor(RGBColor{65535, 0, 65535});
  port->SetForeColor(RGBColor{0, 0, 0});
  port->PaintRect(MakeRect(2, 0, 3, 1));
  EXPECT_EQ(port->Pixels()->Pixel32(2, 0), 0xFF00FF00u);
}

TEST(PortClip, DrawingStaysInsideTheClipRegionAndThePixels) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 10, 10), 32);
  ASSERT_TRUE(port);
  port->SetClip(Region::Oval(MakeRect(0, 0, 10, 10)));
  port->PaintRect(MakeRect(-5, -5, 20, 20));
  std::set<std::pair<int, int>> oval;
  for (const Rect &r : Region::Oval(MakeRect(0, 0, 10, 10)).Rects())
    for (auto p : RectPixels(r))
      oval.insert(p);
  EXPECT_EQ(Marked(*port->Pixels()), oval);

  // Pen lines take the same path through a clip that is not a rectangle.
  port->Pixels()->Fill(kWhite);
  port->SetClip(Region(MakeRect(0, 0, 3, 10)).United(Region(MakeRect(7, 0, 10, 10))));
  port->MoveTo(-4, 4);
  port->LineTo(14, 4);
  EXPECT_EQ(Marked(*port->Pixels()), (std::set<std::pair<int, int>>{{0, 4}, {1, 4}, {2, 4}, {7, 4}, {8, 4}, {9, 4}}));

  port->ClipRect(MakeRect(2, 2, 4, 4));
  port->Pixels()->Fill(kWhite);
  port->SetPixel(1, 1, kRGBBlack);
  port->SetPixel(2, 2, kRGBBlack);
  port->SetPixel(50, 50, kRGBBlack); // outside the pixels: ignored
  EXPECT_EQ(Marked(*port->Pixels()), (std::set<std::pair<int, int>>{{2, 2}}));
}

TEST(PortShapes, ArcsPolygonsAndRegionsCoverTheirPixels) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 21, 21), 32);
  ASSERT_TRUE(port);
  // The right half of a framed circle: 0 degrees points up, 180 down.
  port->FrameArc(MakeRect(0, 0, 21, 21), 0, 180);
  auto right = Marked(*port->Pixels());
  ASSERT_FALSE(right.empty());
  for (auto [x, y] : right)
    EXPECT_GE(x, 10) << x << "," << y;
  EXPECT_TRUE(right.count({20, 10}));

  port->Pixels()->Fill(kWhite);
  Polygon triangle;
  triangle.Add(2, 2);
  triangle.Add(12, 2);
  triangle.Add(2, 12);
  port->PaintPolygon(triangle);
  auto painted = Marked(*port->Pixels());
  EXPECT_TRUE(painted.count({3, 3}));
  EXPECT_FALSE(painted.count({11, 11}));

  // A framed polygon draws its edges with the pen, without closing.
  port->Pixels()->Fill(kWhite);
  port->FramePolygon(triangle);
  auto framed = Marked(*port->Pixels());
  EXPECT_TRUE(framed.count({2, 2}) && framed.count({12, 2}) && framed.count({2, 12}));
  EXPECT_FALSE(framed.count({2, 7})); // the closing edge is not drawn
  EXPECT_EQ(port->PenLocation(), (Point{12, 2}));

  port->Pixels()->Fill(kWhite);
  port->PenSize(2, 2);
  port->FrameRegion(Region(MakeRect(4, 4, 10, 10)));
  auto frame = RectPixels(MakeRect(4, 4, 10, 10));
  for (auto p : RectPixels(MakeRect(6, 6, 8, 8)))
    frame.erase(p);
  EXPECT_EQ(Marked(*port->Pixels()), frame);
}

// A closed polygon's frame is its edges, as the same edges drawn one line
// at a time set them, and never the inside between them.
TEST(PortShapes, FramedClosedPolygonSetsOnlyItsEdges) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 24, 24), 32);
  ASSERT_TRUE(port);
  Polygon quad;
  const int corners[][2] = {{3, 3}, {18, 5}, {16, 19}, {4, 15}, {3, 3}};
  for (auto [h, v] : corners)
    quad.Add(h, v);
  for (int pen : {1, 2}) {
    port->Pixels()->Fill(kWhite);
    port->PenSize(pen, pen);
    port->MoveTo(corners[0][0], corners[0][1]);
    for (auto [h, v] : corners)
      port->LineTo(h, v);
    const auto edges = Marked(*port->Pixels());
    port->Pixels()->Fill(kWhite);
    port->FramePolygon(quad);
    EXPECT_EQ(Marked(*port->Pixels()), edges) << "pen " << pen;
    EXPECT_FALSE(Marked(*port->Pixels()).count({10, 10})) << "pen " << pen;
  }
}

TEST(PortPen, OneBitPortsSetDarkColoursAndClearLightOnes) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 8, 2), 1);
  ASSERT_TRUE(port);
  port->SetForeColor(kRGBRed);
  port->MoveTo(0, 0);
  port->LineTo(7, 0);
  EXPECT_EQ(port->Pixels()->Row1(0)[0], 0xFF);
  port->SetBackColor(kRGBWhite);
  port->EraseRect(MakeRect(2, 0, 4, 1));
  EXPECT_EQ(port->Pixels()->Row1(0)[0], 0xCF);
}

TEST(PortText, DrawStringWritesNearThePenAndAdvancesByTheWidth) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, 120, 40), 32);
  ASSERT_TRUE(port);
  port->SetTextFont("Geneva");
  port->SetTextSize(14);
  const int w = port->TextWidth("Hello");
  EXPECT_GT(w, 20);
  EXPECT_LT(w, 60);
  EXPECT_EQ(port->TextWidth(""), 0);
  EXPECT_GT(port->TextWidth("Hello, world"), w);
  port->SetTextFace(kFaceBold);
  EXPECT_GE(port->TextWidth("Hello"), w);
  port->SetTextFace(0);

  port->MoveTo(10, 30);
  port->DrawString("Hello");
  EXPECT_EQ(port->PenLocation(), (Point{30, int16_t(10 + w)}));
  auto ink = Marked(*port->Pixels());
  ASSERT_FALSE(ink.empty());
  for (auto [x, y] : ink) {
    EXPECT_GE(x, 10);
    EXPECT_LE(x, 10 + w + 1);
    EXPECT_LE(y, 33); // nothing far below the baseline
    EXPECT_GE(y, 30 - 14);
  }
}
