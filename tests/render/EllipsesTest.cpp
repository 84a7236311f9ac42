#include "render/Ellipses.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

std::set<std::pair<int, int>> LitPixels(TestTarget &t) {
  std::set<std::pair<int, int>> out;
  const Rect &b = t.px().Bounds();
  for (int y = b.top; y < b.bottom; ++y)
    for (int x = b.left; x < b.right; ++x)
      if (t.At(x, y) & 0x00FFFFFF)
        out.insert({x, y});
  return out;
}

} // namespace

TEST(Ellipses, AFramedRingTouchesTheFourExtremesAndIsSymmetric) {
  TestTarget t(MakeRect(0, 0, 30, 20));
  const Rect box = MakeRect(2, 3, 22, 13); // centre (12, 8), a = 10, b = 5
  MyFrameOval(box, kRGBWhite, 1);
  auto ring = LitPixels(t);
  EXPECT_TRUE(ring.count({12, 13}) && ring.count({12, 3}));
  EXPECT_TRUE(ring.count({22, 8}) && ring.count({2, 8}));
  EXPECT_FALSE(ring.count({12, 8}));
  for (auto [x, y] : ring) {
    EXPECT_TRUE(ring.count({24 - x, y})) << x << "," << y;
    EXPECT_TRUE(ring.count({x, 16 - y})) << x << "," << y;
  }
  // Eight-connected: every ring pixel has a ring neighbour.
  for (auto [x, y] : ring) {
    int neighbours = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        neighbours += (dx || dy) && ring.count({x + dx, y + dy});
    EXPECT_GE(neighbours, 1) << x << "," << y;
  }
}

TEST(Ellipses, RingCountIsThePenWidthOrOneLessThanTheRadius) {
  TestTarget t(MakeRect(0, 0, 12, 12));
  // 6 x 6: r = 3, so a pen of 5 draws r - 1 = 2 rings, like a pen of 2.
  MyFrameOval(MakeRect(0, 0, 6, 6), kRGBWhite, 5);
  auto five = LitPixels(t);
  t.px().Fill(0xFF000000u);
  MyFrameOval(MakeRect(0, 0, 6, 6), kRGBWhite, 2);
  EXPECT_EQ(LitPixels(t), five);
  t.px().Fill(0xFF000000u);
  MyFrameOval(MakeRect(0, 0, 6, 6), kRGBWhite, 1);
  EXPECT_LT(LitPixels(t).size(), five.size());
  // A 2 x 2 rectangle has r = 1: no ring at all.
  t.px().Fill(0xFF000000u);
  MyFrameOval(MakeRect(0, 0, 2, 2), kRGBWhite, 3);
  MySmoothFrameOval(MakeRect(0, 0, 2, 2), kRGBWhite, 3);
  EXPECT_EQ(t.CountLit(), 0);
}

TEST(Ellipses, FillCoversTheRowsBetweenTheRingPointsAndRestoresTheForeColour) {
  TestTarget t(MakeRect(0, 0, 30, 20));
  t.port->SetForeColor(RGBColor{1, 2, 3});
  const Rect box = MakeRect(2, 3, 22, 13);
  MyFillOval(box, kRGBWhite);
  EXPECT_EQ(t.port->ForeColor(), (RGBColor{1, 2, 3}));
  auto filled = LitPixels(t);
  EXPECT_TRUE(filled.count({12, 8}));
  EXPECT_TRUE(filled.count({12, 3}) && filled.count({12, 13}));
  EXPECT_TRUE(filled.count({2, 8}) && filled.count({22, 8}));
  EXPECT_FALSE(filled.count({3, 4}));
  // Every row is one solid span.
  for (int y = 3; y <= 13; ++y) {
    int first = 99, last = -1, count = 0;
    for (int x = 0; x < 30; ++x)
      if (filled.count({x, y})) {
        first = std::min(first, x);
        last = std::max(last, x);
        ++count;
      }
    EXPECT_EQ(count, last - first + 1) << y;
  }
  // The outline of the same rectangle lies within the fill.
  TestTarget outline(MakeRect(0, 0, 30, 20));
  MyFrameOval(box, kRGBWhite, 1);
  for (auto p : LitPixels(outline))
    EXPECT_TRUE(filled.count(p)) << p.first << "," << p.second;
}

TEST(Ellipses, SmoothRingsBlendMirroredGroupsThatFitTheClip) {
  TestTarget t(MakeRect(0, 0, 40, 30));
  const Rect box = MakeRect(5, 5, 35, 25); // centre (20, 15), a = 15, b = 10
  MySmoothFrameOval(box, kRGBWhite, 1);
  // The top and bottom points are set in full colour.
  EXPECT_EQ(t.At(20, 5), 0xFFFFFFFFu);
  EXPECT_EQ(t.At(20, 25), 0xFFFFFFFFu);
  // On the horizontal axis the exact x is a = 15 (weight entry 0), and the
  // group's pixels cy + 0 and cy - 0 are the same pixel, blended twice:
  // 198, then 255 * 0.779862 + 198 * 0.220138 = 242.45.
  EXPECT_EQ(t.Red(35, 15), 242);
  EXPECT_EQ(t.Red(5, 15), 242);
  EXPECT_EQ(t.Red(36, 15), 52); // 28, then 28.07 + 28 * 0.889931
  // Off the axis each pixel is blended once.
  EXPECT_EQ(t.Red(35, 14), t.Red(35, 16));
  // Mirror images carry the same weights.
  for (int y = 6; y < 15; ++y)
    for (int x = 6; x < 20; ++x) {
      ASSERT_EQ(t.Red(x, y), t.Red(40 - x, y)) << x << "," << y;
      ASSERT_EQ(t.Red(x, y), t.Red(x, 30 - y)) << x << "," << y;
    }

  // A clip through the right half drops whole groups: nothing is blended
  // on either side of the cut.
  t.px().Fill(0xFF000000u);
  t.Clip(MakeRect(0, 0, 30, 30));
  MySmoothFrameOval(box, kRGBWhite, 1);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      if (x != 20 && t.Red(x, y)) {
        EXPECT_LE(40 - x, 29) << x << "," << y;
      }
}
