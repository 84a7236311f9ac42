#include "render/TextDrawing.h"
#include "RenderServices.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

using namespace ovgfx;

namespace {

struct Extent {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, count = 0;
};

// Where pixels differ from the fill.
Extent Ink(TestTarget &t, uint32_t fill) {
  Extent e;
  const Rect &b = t.px().Bounds();
  for (int y = b.top; y < b.bottom; ++y)
    for (int x = b.left; x < b.right; ++x)
      if (t.At(x, y) != fill) {
        e.left = std::min(e.left, x);
        e.right = std::max(e.right, x);
        e.top = std::min(e.top, y);
        e.bottom = std::max(e.bottom, y);
        ++e.count;
      }
  return e;
}

} // namespace

TEST(TextMeasure, SizesGrowWithTheTextAndNoFontGivesNothing) {
  float w = -1, h = -1;
  CFStringGetSize("Label", "", 12, w, h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  CFStringGetSize("Label", "Lucida Grande", 0, w, h);
  EXPECT_EQ(w, 0);
  float w1, h1, w2, h2;
  CFStringGetSize("Label", "Lucida Grande", 12, w1, h1);
  CFStringGetSize("Label text", "Lucida Grande", 12, w2, h2);
  EXPECT_GT(w1, 10);
  EXPECT_GT(w2, w1);
  EXPECT_EQ(h1, h2);
  EXPECT_GT(h1, 12);

  TestTarget t(MakeRect(0, 0, 10, 10));
  Painter painter(*t.port);
  painter.SelectFont("Geneva", 12);
  painter.SetTextPosition(3, 4);
  EXPECT_FLOAT_EQ(CGContextGetStringWidth(painter, "Label"), painter.StringWidth("Label"));
  float x, y;
  painter.GetTextPosition(x, y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 4);
  EXPECT_EQ(Ink(t, 0xFF000000u).count, 0);
}

TEST(TextBoxes, TextStaysInItsBoxCentredInTheGivenColour) {
  TestTarget t(MakeRect(0, 0, 200, 60));
  const Rect box = MakeRect(50, 10, 150, 50);
  MyDrawATSUTextBox("Hi", "Lucida Grande", 14, 1, RGBColor{65535, 0, 0}, box);
  Extent e = Ink(t, 0xFF000000u);
  ASSERT_GT(e.count, 0);
  EXPECT_GE(e.left, box.left);
  EXPECT_LT(e.right, box.right);
  EXPECT_GE(e.top, box.top);
  EXPECT_LT(e.bottom, box.bottom);
  EXPECT_NEAR((e.left + e.right) / 2.0, 100, 3); // centred horizontally
  EXPECT_LT(e.top, 20);                          // from the top down
  for (int y = e.top; y <= e.bottom; ++y)
    for (int x = e.left; x <= e.right; ++x) {
      const uint32_t p = t.At(x, y);
      ASSERT_EQ(PixelGreen(p), 0u);
      ASSERT_EQ(PixelBlue(p), 0u);
    }

  // Long text breaks into lines instead of leaving the box sideways.
  t.px().Fill(0xFF000000u);
  MyDrawATSUTextBox("one two three four five six", "Lucida Grande", 14, 0, kRGBWhite, box);
  e = Ink(t, 0xFF000000u);
  EXPECT_GE(e.left, box.left);
  EXPECT_LT(e.right, box.right);
  EXPECT_GT(e.bottom - e.top, 20);
}

TEST(RotatedText, FillsThePortAroundItsCentreTurnedByTheAngle) {
  TestTarget t(MakeRect(0, 0, 200, 100), 32, 0xFF808080u);
  MyDrawCentredRotatedText("Wide", kRGBWhite, 0, 0);
  Extent flat = Ink(t, 0xFF808080u);
  ASSERT_GT(flat.count, 0);
  EXPECT_NEAR((flat.left + flat.right) / 2.0, 100, 6);
  EXPECT_NEAR((flat.top + flat.bottom) / 2.0, 50, 15);
  EXPECT_GT(flat.right - flat.left, 120); // sized to fit the port
  EXPECT_GT(flat.right - flat.left, flat.bottom - flat.top);

  t.px().Fill(0xFF808080u);
  MyDrawCentredRotatedText("Wide", kRGBWhite, 90, 0);
  Extent turned = Ink(t, 0xFF808080u);
  ASSERT_GT(turned.count, 0);
  EXPECT_GT(turned.bottom - turned.top, turned.right - turned.left);
  EXPECT_NEAR((turned.left + turned.right) / 2.0, 100, 15);

  // A shadow adds white above and black below around the coloured text.
  t.px().Fill(0xFF808080u);
  MyDrawCentredRotatedText("Wide", RGBColor{0, 0, 65535}, 0, 2);
  bool white = false, black = false, blue = false;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) {
      const uint32_t p = t.At(x, y);
      white = white || p == 0xFFFFFFFFu;
      black = black || p == 0xFF000000u;
      blue = blue || p == 0xFF0000FFu;
    }
  EXPECT_TRUE(white && black && blue);
}
