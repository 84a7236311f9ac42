// Annotation objects: the keep-inside rule, the pixel caches at unit and
// other scales, the shadow, scale-bar labels, stereo rescaling, the line-box
// intercepts and the word wrap, probed in the drawn pixels.

#include "SceneSupport.h"

#include "render/AnnotationObjects.h"
#include "window/MainWindowData.h"

#include <gtest/gtest.h>

using namespace ovgfx;

namespace {

constexpr RGBColor kRed{65535, 0, 0};

// A w x h port over a white background, current for the test.
struct Canvas {
  std::unique_ptr<GraphicsPort> port;
  PortSaver current;
  Canvas(int w, int h, RGBColor back = kRGBWhite)
      : port(GraphicsPort::NewOffscreen(MakeRect(0, 0, w, h), 32)), current(port.get()) {
    port->SetForeColor(back);
    port->PaintRect(MakeRect(0, 0, w, h));
  }
  uint32_t At(int x, int y) { return scene::Rgb(port->Pixels()->Pixel32(x, y)); }
};

// A 40 x 20 text box centred at the fractions.
TextBoxRecord TextBox(float cx, float cy, int width = 40, int height = 20) {
  TextBoxRecord box;
  box.boxCentre[0] = cx;
  box.boxCentre[1] = cy;
  box.boxRect = MakeRect(0, 0, width, height);
  box.textColor = kRed;
  return box;
}

CrystalRec WithObjects(std::vector<TextBoxRecord> boxes) {
  CrystalRec c;
  c.backgroundColor = kRGBWhite;
  c.textBoxes = std::move(boxes);
  c.textBoxCount = static_cast<int32_t>(c.textBoxes.size());
  return c;
}

} // namespace

TEST(AnnotationObjects, KeepInsideBringsObjectsBackAndAlignsWideOnesLeft) {
  Canvas canvas(200, 100);
  const Rect area = MakeRect(0, 0, 200, 100);
  TextBoxRecord pointing = TextBox(0.9f, 0.5f);
  pointing.hasPointer = 1;
  pointing.frac1[0] = 1.2f; // the tip lies further out than the box
  pointing.frac1[1] = 0.5f;
  CrystalRec c = WithObjects({TextBox(0.95f, 0.5f), TextBox(0.6f, 0.5f, 300), pointing});
  for (int k = 0; k < 3; k++)
    DrawAnnotationObject(&c, area, 1.0f, 2, k);
  EXPECT_FLOAT_EQ(c.textBoxes[0].boxCentre[0], 0.9f); // right edge at x = 1
  EXPECT_EQ(c.textBoxes[0].boxRect.right, 200);
  EXPECT_FLOAT_EQ(c.textBoxes[1].boxCentre[0], 0.75f); // left edge at x = 0
  EXPECT_EQ(c.textBoxes[1].boxRect.left, 0);
  EXPECT_NEAR(c.textBoxes[2].frac1[0], 1.0f, 1e-6); // the tip touches x = 1
  EXPECT_NEAR(c.textBoxes[2].boxCentre[0], 0.7f, 1e-6);
}

TEST(AnnotationObjects, TextBoxPixelsAndCachesAtUnitAndDoubleScale) {
  TextBoxRecord box = TextBox(0.5f, 0.5f, 60, 30);
  box.text = u"W";
  box.textLength = 1;
  box.backColor = RGBColor{0, 0, 65535};
  box.fontSize = 18;
  CrystalRec c = WithObjects({box});
  {
    Canvas canvas(200, 100);
    DrawAnnotationObject(&c, MakeRect(0, 0, 200, 100), 1.0f, 2, 0);
    EXPECT_EQ(c.textBoxes[0].boxRect, MakeRect(70, 35, 130, 65));
    EXPECT_EQ(canvas.At(70, 50), 0xFF0000u);  // the frame
    EXPECT_EQ(canvas.At(72, 37), 0x0000FFu);  // the fill
    EXPECT_EQ(canvas.At(69, 50), 0xFFFFFFu);  // outside
    int red = 0; // the text, over the fill
    for (int y = 36; y < 64; y++)
      for (int x = 72; x < 128; x++)
        red += (canvas.At(x, y) >> 16) > 160 && (canvas.At(x, y) & 0xFF) < 100;
    EXPECT_GT(red, 10);
  }
  {
    // An export at twice the size: the box doubles, the caches stay.
    Canvas canvas(400, 200);
    DrawAnnotationObject(&c, MakeRect(0, 0, 400, 200), 2.0f, 4, 0);
    EXPECT_EQ(c.textBoxes[0].boxRect, MakeRect(70, 35, 130, 65));
    EXPECT_EQ(canvas.At(140, 100), 0xFF0000u); // left frame at 200 - 60
    EXPECT_EQ(canvas.At(259, 100), 0xFF0000u); // right frame, 2 pixels wide
    EXPECT_EQ(canvas.At(145, 75), 0x0000FFu);
  }
}

TEST(AnnotationObjects, ShadowIsTwoBlendedStepsBehindTheBox) {
  TextBoxRecord box = TextBox(0.5f, 0.5f, 60, 30);
  box.shadow = 1;
  box.selected = 1;
  CrystalRec c = WithObjects({box});
  Canvas canvas(200, 100);
  DrawAnnotationObject(&c, MakeRect(0, 0, 200, 100), 1.0f, 2, 0);
  // Background white: the far step 0.7 white, the near one 0.4 white.
  EXPECT_EQ(canvas.At(131, 50), scene::Rgb(RGBColor{45874, 45874, 45874}));
  EXPECT_EQ(canvas.At(130, 50), scene::Rgb(RGBColor{26214, 26214, 26214}));
  EXPECT_EQ(canvas.At(129, 50), 0xFF0000u);
  EXPECT_EQ(c.textBoxes[0].textColor, kRed);
  EXPECT_EQ(c.textBoxes[0].selected, 1);
  EXPECT_FLOAT_EQ(c.textBoxes[0].boxCentre[0], 0.5f);
}

TEST(AnnotationObjects, LinesScaleBarsAndPointerMidpoints) {
  TextBoxRecord line;
  line.kind = kAnnotationLine;
  line.frac1[0] = 0.1f, line.frac1[1] = 0.2f;
  line.frac2[0] = 0.9f, line.frac2[1] = 0.2f;
  line.textColor = kRed;
  TextBoxRecord bar;
  bar.kind = kAnnotationScaleBar;
  bar.frac1[0] = 0.25f, bar.frac1[1] = 0.8f;
  bar.frac2[0] = 0.75f, bar.frac2[1] = 0.8f; // 150 pixels in a 300-pixel area
  TextBoxRecord twoEnds = TextBox(0.1f, 0.1f);
  twoEnds.hasPointer = twoEnds.pointerTwoEnds = 1;
  twoEnds.frac1[0] = 0.2f, twoEnds.frac1[1] = 0.4f;
  twoEnds.frac2[0] = 0.6f, twoEnds.frac2[1] = 0.6f;
  CrystalRec c = WithObjects({line, bar, twoEnds});
  c.plotScale = 100.0f;
  Canvas canvas(300, 100);
  c.textBoxes[0].arrowHeads = 2;
  c.textBoxes[2].arrowHeads = 1;
  c.textBoxes[2].text = u"Si";
  c.textBoxes[2].textLength = 2;
  for (int k = 0; k < 3; k++)
    DrawAnnotationObject(&c, MakeRect(0, 0, 300, 100), 1.0f, 2, k);
  scene::Dump(*canvas.port, "annotations");
  EXPECT_EQ(c.textBoxes[0].pixel1, (Point{20, 30}));
  EXPECT_EQ(c.textBoxes[0].pixel2, (Point{20, 270}));
  // The line straddles rows 19 and 20.
  EXPECT_EQ(canvas.At(150, 20) >> 16, 0xFFu);
  EXPECT_LT((canvas.At(150, 20) >> 8) & 0xFF, 200u);
  EXPECT_EQ(ScaleBarLabel(1.5f, 1), "1.50 Å");
  EXPECT_EQ(ScaleBarLabel(1.5f, 2), "0.150 nm");
  const Rect &label = c.textBoxes[1].boxRect;
  EXPECT_EQ((label.left + label.right) / 2, 150);
  EXPECT_EQ((label.top + label.bottom) / 2, 80);
  EXPECT_GT(label.Width(), 30);
  EXPECT_FLOAT_EQ(c.textBoxes[2].boxCentre[0], 0.4f);
  EXPECT_FLOAT_EQ(c.textBoxes[2].boxCentre[1], 0.5f);
  Rect bounds;
  GetAnnotationObjectBounds(c.textBoxes[2], &bounds);
  EXPECT_EQ(bounds, MakeRect(60, 40, 180, 60));
}

TEST(AnnotationObjects, SideBySideStereoRoundTrip) {
  OVWindowRecord window;
  InitMainWindowData(&window);
  CrystalRec &c = *GetWindowCrystal(&window);
  TextBoxRecord box = TextBox(0.3f, 0.2f, 40, 21);
  box.fontSize = 13;
  box.frac1[1] = 0.9f;
  c.textBoxes = {box};
  c.textBoxCount = 1;
  c.plotScale = 80.0f;
  c.stereoOn = 1;
  c.stereoMode = kSideBySideStereo;
  AdjustAnnotationToStereoMode(&window);
  EXPECT_FLOAT_EQ(c.plotScale, 40.0f);
  EXPECT_EQ(c.textBoxes[0].fontSize, 6);
  EXPECT_EQ(c.textBoxes[0].boxRect, MakeRect(0, 0, 20, 10));
  EXPECT_FLOAT_EQ(c.textBoxes[0].boxCentre[1], 0.35f);
  c.stereoOn = 0;
  AdjustAnnotationToStereoMode(&window);
  EXPECT_FLOAT_EQ(c.plotScale, 80.0f);
  EXPECT_EQ(c.textBoxes[0].fontSize, 12); // an odd size loses a point
  EXPECT_NEAR(c.textBoxes[0].boxCentre[1], 0.2f, 1e-6);
  EXPECT_NEAR(c.textBoxes[0].frac1[1], 0.9f, 1e-6);
  EXPECT_FLOAT_EQ(c.textBoxes[0].boxCentre[0], 0.3f);
  DestroyMainWindowData(&window);
}

TEST(AnnotationObjects, LineRectInterceptsWalkPixelByPixel) {
  const Rect r = MakeRect(10, 10, 20, 20);
  Point a, b;
  EXPECT_TRUE(GetLineRectIntercepts(r, Point{15, 0}, Point{15, 30}, &a, &b));
  EXPECT_EQ(a, (Point{15, 10}));
  EXPECT_EQ(b, (Point{15, 19}));
  // A diagonal (a tie) walks along v; the minor coordinate is truncated.
  EXPECT_TRUE(GetLineRectIntercepts(r, Point{0, 0}, Point{30, 30}, &a, &b));
  EXPECT_EQ(a, (Point{10, 10}));
  EXPECT_EQ(b, (Point{19, 19}));
  EXPECT_FALSE(GetLineRectIntercepts(r, Point{0, 0}, Point{0, 30}, &a, &b));
}

TEST(AnnotationObjects, WordWrapBreaksAtLastSpaceAndCarriageReturn) {
  Canvas canvas(300, 300);
  canvas.port->SetTextFont("DejaVu Sans");
  canvas.port->SetTextSize(12);
  const int wordWidth = canvas.port->TextWidth("aaaa bbbb");
  const Rect rect = MakeRect(0, 0, wordWidth + 2, 200);
  const auto lines = LayoutJustifiedText(u"aaaa bbbb cccc\rdd", 1, rect);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].utf8, "aaaa bbbb ");
  EXPECT_EQ(lines[1].utf8, "cccc");
  EXPECT_EQ(lines[2].utf8, "dd");
  EXPECT_EQ(lines[0].baseline, 12);
  EXPECT_EQ(lines[1].baseline, 27);
  const auto right = LayoutJustifiedText(u"aaaa bbbb cccc", 3, rect);
  ASSERT_EQ(right.size(), 2u);
  EXPECT_EQ(right[0].utf8, "aaaa bbbb"); // the space is left off
  EXPECT_EQ(right[0].x + canvas.port->TextWidth(right[0].utf8), rect.right);
  // No space: the character that did not fit begins the next line.
  const auto unbroken = LayoutJustifiedText(u"aaaaaaaaaaaaaaaaaaaa", 1, MakeRect(0, 0, 30, 200));
  ASSERT_GT(unbroken.size(), 1u);
  EXPECT_LE(canvas.port->TextWidth(unbroken[0].utf8), 30);
}

TEST(AnnotationObjects, FontNumbersMapToBundledFamilies) {
  EXPECT_STREQ(AnnotationFontFamily(3), "DejaVu Sans");
  EXPECT_STREQ(AnnotationFontFamily(999), "DejaVu Sans");
  EXPECT_STREQ(AnnotationFontFamily(AnnotationFontNumber("DejaVu Serif")), "DejaVu Serif");
}

TEST(AnnotationObjects, PenOnlyArrowsAndSelectionHandles) {
  Canvas canvas(200, 100);
  // A pen-only arrow from (20, 50) to (180, 50): shaft and a filled head.
  DrawSmoothLineArrow(Point{50, 20}, Point{50, 180}, kRed, 1, MakeRect(0, 0, 200, 100), 2.0f, kAnnotationTargetPenOnly);
  EXPECT_EQ(canvas.At(100, 50), 0xFF0000u);
  EXPECT_EQ(canvas.At(165, 52), 0xFF0000u); // inside the head, off the shaft
  EXPECT_EQ(canvas.At(100, 56), 0xFFFFFFu);
  // A selected text box drawn into the window's image shows its handles.
  TextBoxRecord box = TextBox(0.5f, 0.3f, 60, 20);
  box.selected = 1;
  CrystalRec c = WithObjects({box});
  DrawAnnotationObject(&c, MakeRect(0, 0, 200, 100), 1.0f, kAnnotationTargetWindow, 0);
  EXPECT_EQ(canvas.At(70, 20), scene::Rgb(kKnobColor)); // the top-left handle
  EXPECT_EQ(canvas.At(73, 23), 0u);                     // its shadow
  c.textBoxes[0].selected = 1;
  Canvas other(200, 100);
  DrawAnnotationObject(&c, MakeRect(0, 0, 200, 100), 1.0f, 4, 0); // an export: no handles
  EXPECT_EQ(other.At(68, 18), 0xFFFFFFu);
}
