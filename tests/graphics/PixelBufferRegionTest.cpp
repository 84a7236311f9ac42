#include "graphics/PixelBuffer.h"
#include "graphics/Region.h"

#include <gtest/gtest.h>

#include <QPolygon>
#include <QRegion>

#include <random>

using namespace ovgfx;

TEST(PixelBuffer, MakesOnlyOneAndThirtyTwoBitBuffersOfNonEmptyBounds) {
  EXPECT_EQ(PixelBuffer::Create(MakeRect(0, 0, 10, 10), 16), nullptr);
  EXPECT_EQ(PixelBuffer::Create(MakeRect(0, 0, 10, 10), 8), nullptr);
  EXPECT_EQ(PixelBuffer::Create(MakeRect(0, 0, 0, 10), 32), nullptr);
  EXPECT_EQ(PixelBuffer::Create(MakeRect(5, 5, 4, 9), 1), nullptr);

  auto deep = PixelBuffer::Create(MakeRect(-3, 2, 7, 6), 32);
  ASSERT_TRUE(deep);
  EXPECT_EQ(deep->RowBytes(), 40u);
  EXPECT_EQ(deep->Pixel32(-3, 2), 0xFFFFFFFFu); // opaque white
  EXPECT_EQ(deep->Pixel32(6, 5), 0xFFFFFFFFu);

  // 1-bit rows are padded to whole 32-bit words.
  auto mask = PixelBuffer::Create(MakeRect(0, 0, 33, 2), 1);
  ASSERT_TRUE(mask);
  EXPECT_EQ(mask->RowBytes(), 8u);
  EXPECT_FALSE(mask->Bit(0, 0));
}

TEST(PixelBuffer, OneBitPixelsRunFromTheMostSignificantBitAndCoordinatesFollowTheBounds) {
  auto mask = PixelBuffer::Create(MakeRect(10, 20, 30, 22), 1);
  ASSERT_TRUE(mask);
  mask->SetBit(10, 20, true); // column 0
  mask->SetBit(19, 21, true); // column 9: second byte, bit 6
  EXPECT_EQ(mask->Row1(20)[0], 0x80);
  EXPECT_EQ(mask->Row1(21)[1], 0x40);
  mask->SetBit(10, 20, false);
  EXPECT_EQ(mask->Row1(20)[0], 0x00);

  // Moving the bounds renames the pixels without moving them.
  mask->MoveBoundsTo(0, 0);
  EXPECT_TRUE(mask->Bit(9, 1));
  EXPECT_EQ(mask->Bounds(), MakeRect(0, 0, 20, 2));
}

TEST(PixelPacking, ColoursKeepTheHighByteOfEachChannelWithOpaqueAlpha) {
  EXPECT_EQ(RGBColorToPixel32(RGBColor{65535, 32768, 0}), 0xFFFF8000u);
  EXPECT_EQ(RGBColorToPixel32(RGBColor{0x12FF, 0x3400, 0x56AB}), 0xFF123456u);
  EXPECT_EQ(Pixel32ToRGBColor(0xFF80FF00u), (RGBColor{0x8080, 0xFFFF, 0}));
  EXPECT_TRUE(RGBColorIsDark(kRGBBlack));
  EXPECT_TRUE(RGBColorIsDark(kRGBRed));
  EXPECT_FALSE(RGBColorIsDark(kRGBWhite));
}

TEST(Region, OvalsAreSymmetricAndInscribed) {
  const Rect box = MakeRect(3, 4, 15, 10); // 12 x 6
  Region oval = Region::Oval(box);
  EXPECT_EQ(oval.Bounds(), box);
  EXPECT_TRUE(oval.Contains(9, 7));
  EXPECT_FALSE(oval.Contains(3, 4)); // corners stay out
  EXPECT_FALSE(oval.Contains(14, 9));
  for (int y = box.top; y < box.bottom; ++y)
    for (int x = box.left; x < box.right; ++x) {
      const int mx = box.left + box.right - 1 - x, my = box.top + box.bottom - 1 - y;
      EXPECT_EQ(oval.Contains(x, y), oval.Contains(mx, y)) << x << "," << y;
      EXPECT_EQ(oval.Contains(x, y), oval.Contains(x, my)) << x << "," << y;
    }
  EXPECT_TRUE(Region::Oval(MakeRect(0, 0, 1, 1)).Contains(0, 0));
  EXPECT_TRUE(Region::Oval(MakeRect(0, 0, 0, 5)).IsEmpty());
}

TEST(Region, InsetShrinksAndGrowsEveryEdge) {
  Region r(MakeRect(0, 0, 10, 8));
  r.Inset(2, 1);
  EXPECT_EQ(r, Region(MakeRect(2, 1, 8, 7)));
  r.Inset(-3, -2);
  EXPECT_EQ(r, Region(MakeRect(-1, -1, 11, 9)));

  // An L shape: the notch's edges move too, and a part thinner than twice
  // the inset disappears.
  Region l = Region(MakeRect(0, 0, 10, 3)).United(Region(MakeRect(0, 3, 3, 10)));
  l.Inset(1, 1);
  EXPECT_EQ(l, Region(MakeRect(1, 1, 9, 2)).United(Region(MakeRect(1, 2, 2, 9))));
  Region thin(MakeRect(0, 0, 10, 2));
  thin.Inset(1, 1);
  EXPECT_TRUE(thin.IsEmpty());

  // Large insets work by doubling; an odd amount must come out exact.
  Region big(MakeRect(0, 0, 100, 100));
  big.Inset(13, 7);
  EXPECT_EQ(big, Region(MakeRect(13, 7, 87, 93)));
}

TEST(Region, SpansRectanglesAndPolygonsBuildTheSamePixels) {
  Region spans = Region::FromRowSpans(5, {{1, 4}, {1, 4}, {0, 0}, {2, 3}});
  EXPECT_EQ(spans, Region(MakeRect(1, 5, 4, 7)).United(Region(MakeRect(2, 8, 3, 9))));

  std::vector<Rect> grid;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if ((x + y) % 2 == 0 || y == 3)
        grid.push_back(MakeRect(x * 2, y * 2, x * 2 + 2, y * 2 + 2));
  Region fromRects = Region::FromRects(grid);
  Region expected;
  for (const Rect &r : grid)
    expected = expected.United(Region(r));
  EXPECT_EQ(fromRects, expected);
  EXPECT_EQ(Region::FromRects({MakeRect(0, 0, 4, 4), MakeRect(2, 2, 6, 6)}),
            Region(MakeRect(0, 0, 4, 4)).United(Region(MakeRect(2, 2, 6, 6))));

  Polygon square;
  square.Add(0, 0);
  square.Add(10, 0);
  square.Add(10, 10);
  square.Add(0, 10);
  EXPECT_EQ(Region::FromPolygon(square), Region(MakeRect(0, 0, 10, 10)));
  EXPECT_EQ(square.Bounds(), MakeRect(0, 0, 11, 11));
  Polygon line;
  line.Add(0, 0);
  line.Add(5, 5);
  EXPECT_TRUE(Region::FromPolygon(line).IsEmpty());
}

// A polygon, whole or made within a rectangle, has exactly the pixels the
// toolkit's own scan conversion gives it there: random polygons (concave,
// crossing themselves, with level and repeated vertices), cut by
// rectangles inside, across and outside them.
TEST(Region, APolygonMadeWithinARectangleHasTheWholePolygonsPixelsThere) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> coordinate(-40, 40), count(3, 9), side(-50, 50);
  for (int trial = 0; trial < 3000; ++trial) {
    Polygon polygon;
    const int n = count(random);
    for (int k = 0; k < n; ++k)
      polygon.Add(coordinate(random) * (trial % 3 + 1), coordinate(random));
    if (trial % 2)
      polygon.Add(polygon.Points()[0].h, polygon.Points()[0].v); // closed, as faces are
    int x0 = side(random), x1 = side(random), y0 = side(random), y1 = side(random);
    if (x0 > x1)
      std::swap(x0, x1);
    if (y0 > y1)
      std::swap(y0, y1);
    const Rect within = trial % 5 ? MakeRect(x0, y0, x1 + 1, y1 + 1) : MakeRect(-200, -200, 200, 200);
    QPolygon q;
    for (const Point &p : polygon.Points())
      q << QPoint(p.h, p.v);
    const QRegion whole(q, Qt::OddEvenFill);
    const QRegion part = whole.intersected(QRegion(within.left, within.top, within.Width(), within.Height()));
    const auto same = [](const Region &ours, const QRegion &theirs) {
      std::vector<Rect> rects;
      for (const QRect &r : theirs)
        rects.push_back(MakeRect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height()));
      return ours.Xored(Region::FromRects(rects)).IsEmpty();
    };
    ASSERT_TRUE(same(Region::FromPolygon(polygon, within), part)) << "trial " << trial;
    ASSERT_TRUE(same(Region::FromPolygon(polygon), whole)) << "trial " << trial;
  }
}
