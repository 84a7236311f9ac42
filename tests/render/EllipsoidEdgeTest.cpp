// Ellipsoid lines and label stamps cut by the picture's edge: the pixels
// inside the picture are those of the same drawing in a picture reaching
// beyond it (the same coordinates, so only the cut differs).
#include "graphics/PixelBuffer.h"
#include "render/EllipsoidStrokes.h"
#include "render/TextStamps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

using namespace ovgfx;

namespace {

// A 90 x 70 picture at (0, 0) and one reaching 60 pixels beyond it on
// every side, both grey.
struct Pictures {
  std::unique_ptr<PixelBuffer> cut = PixelBuffer::Create(MakeRect(0, 0, 90, 70), 32);
  std::unique_ptr<PixelBuffer> whole = PixelBuffer::Create(MakeRect(0, 0, 210, 190), 32);
  Pictures() {
    whole->MoveBoundsTo(-60, -60);
    cut->Fill(0xFF404040u);
    whole->Fill(0xFF404040u);
  }
  void Draw(const std::function<void(PixelBuffer &)> &draw) {
    draw(*cut);
    draw(*whole);
  }
  int Inked() const {
    int count = 0;
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 90; ++x)
        count += cut->Pixel32(x, y) != 0xFF404040u;
    return count;
  }
  int Differing() const {
    int count = 0;
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 90; ++x)
        count += cut->Pixel32(x, y) != whole->Pixel32(x, y);
    return count;
  }
};

const float kInk[3] = {0.9f, 0.8f, 0.2f};

} // namespace

TEST(EllipsoidEdgeTest, StrokesAcrossEveryEdgeLayTheSamePixelsAsInABiggerPicture) {
  // Boxes over each edge and corner, of widths that are and are not powers
  // of two; solid and dashed lines, steep and shallow, and a filled octant.
  const float boxes[][4] = {{-20, -15, 25, 30}, {60, 40, 105, 95}, {30, -25, 62, 12}, {-30, 20, 33, 52}};
  for (bool smooth : {true, false})
    for (float width : {1.0f, 2.5f}) {
      Pictures pictures;
      pictures.Draw([&](PixelBuffer &pixels) {
        EllipsoidStroke stroke;
        for (const auto &b : boxes) {
          // A part left without its colour (here in the cut picture only,
          // over another box) must not show in the next one.
          if (&pixels == pictures.cut.get()) {
            ASSERT_TRUE(stroke.Begin(&pixels, b[0] - 7, b[1] - 3, b[2] + 11, b[3] + 5, width, smooth));
            stroke.AddLine(b[0], b[3], b[2], b[1]);
          }
          ASSERT_TRUE(stroke.Begin(&pixels, b[0], b[1], b[2], b[3], width, smooth));
          const float cx = (b[0] + b[2]) / 2.0f, cy = (b[1] + b[3]) / 2.0f;
          stroke.MoveToPoint(b[0] + 0.3f, b[1] + 1.7f);
          stroke.AddLineToPoint(b[2] - 0.6f, cy);
          stroke.AddLineToPoint(cx + 0.4f, b[3] - 0.2f);
          stroke.ClosePath();
          stroke.Blend(kInk, 0.7f);
          stroke.SetDash(2.0f, 2.0f);
          stroke.MoveToPoint(b[0] + 2.2f, b[3] - 1.1f);
          stroke.AddLineToPoint(b[2] - 1.3f, b[1] + 0.4f);
          stroke.Blend(kInk, 0.4f);
          stroke.SetDash(0.0f, 0.0f);
          const float octant[] = {cx, cy, b[2], cy + 2.0f, cx + 3.0f, b[3], cx - 4.0f, b[3] - 1.0f};
          stroke.FillConvexPolygon(octant, 4);
          stroke.Blend(kInk, 0.5f);
        }
      });
      EXPECT_EQ(pictures.Differing(), 0) << "smooth " << smooth << " width " << width;
      EXPECT_GT(pictures.Inked(), 150) << "smooth " << smooth << " width " << width;
    }
}

TEST(EllipsoidEdgeTest, LabelsAcrossEveryEdgeLayTheSamePixelsAsInABiggerPicture) {
  const float places[][2] = {{-4.3f, 8.6f}, {84.7f, 40.2f}, {40.1f, 3.4f}, {20.6f, 74.9f}, {86.2f, 2.1f}};
  for (bool smooth : {true, false}) {
    Pictures pictures;
    pictures.Draw([&](PixelBuffer &pixels) {
      for (const auto &p : places)
        StampStrokedText(&pixels, p[0], p[1], "B", "Geneva", 10.0f, 1.0f, smooth, kInk, 0.8f);
    });
    EXPECT_EQ(pictures.Differing(), 0) << "smooth " << smooth;
    EXPECT_GT(pictures.Inked(), 40) << "smooth " << smooth;
  }
}

// Lines laid as they are made give the pixels of the same lines gathered
// and laid at full opacity, where lines cover their pixels whole: solid and
// dashed, as runs and one by one, one and three pixels wide, and a filled
// quarter, over a box that the picture's edges cut.
TEST(EllipsoidEdgeTest, LinesLaidAsTheyAreMadeMatchTheSameLinesLaidAtFullOpacity) {
  for (float width : {1.0f, 3.0f}) {
    auto gathered = PixelBuffer::Create(MakeRect(0, 0, 90, 70), 32);
    auto made = PixelBuffer::Create(MakeRect(0, 0, 90, 70), 32);
    gathered->Fill(0xFF404040u);
    made->Fill(0xFF404040u);
    for (PixelBuffer *pixels : {gathered.get(), made.get()}) {
      EllipsoidStroke stroke;
      ASSERT_TRUE(stroke.Begin(pixels, -12.0, 8.0, 70.0, 81.0, width, false));
      if (pixels == made.get()) {
        ASSERT_TRUE(stroke.LayAsMade(kInk));
      }
      float run[2 * 40];
      for (int k = 0; k < 40; ++k) {
        const float t = float(k) * 0.157f;
        run[2 * k] = 30.0f + 38.0f * std::cos(t) + 0.23f * float(k % 3);
        run[2 * k + 1] = 45.0f + 29.0f * std::sin(1.3f * t);
      }
      stroke.AddPolyline(run, 40);
      stroke.SetDash(2.0f, 2.0f);
      stroke.AddPolyline(run + 10, 25);
      stroke.MoveToPoint(-5.5f, 20.25f);
      stroke.AddLineToPoint(64.75f, 77.5f);
      stroke.SetDash(0.0f, 0.0f);
      stroke.AddLine(3.4f, 66.6f, 58.1f, 11.9f);
      stroke.AddLine(20.0f, 30.0f, 20.3f, 30.2f);
      const float quarter[] = {-8.0f, 60.0f, 30.5f, 47.25f, 12.0f, 79.0f, -3.0f, 75.5f};
      stroke.FillConvexPolygon(quarter, 4);
      stroke.Blend(kInk, 1.0f);
    }
    int differing = 0, inked = 0;
    for (int y = 0; y < 70; ++y)
      for (int x = 0; x < 90; ++x) {
        differing += gathered->Pixel32(x, y) != made->Pixel32(x, y);
        inked += made->Pixel32(x, y) != 0xFF404040u;
      }
    EXPECT_EQ(differing, 0) << width;
    EXPECT_GT(inked, 150) << width;
  }
}
