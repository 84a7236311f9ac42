// The axis labels of ellipsoid style 99 come from kept stamps of the
// painter's outlined letters; the painter showing the letters itself at each
// tip is the reference they are held to.
#include "EllipsoidScene.h"

#include "ColourHelpers.h"
#include "VectorMath.h"
#include "graphics/Painter.h"
#include "render/EllipsoidDrawing.h"
#include "render/RenderGlobals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

using namespace ovgfx;

namespace {

constexpr int kSize = 240;
const RGBColor kColour{52000, 60000, 30000};

// The scene's ellipsoid, turned by the angles (degrees) about x, then y,
// then z.
scene::EllipsoidScene LabelScene(float ax, float ay, float az, uint32_t style) {
  float axes[3][3];
  scene::TurnedAxes(0.7f, 0.45f, 0.3f, ax, ay, az, axes);
  return scene::EllipsoidScene(axes, kColour, style, kSize);
}

// Pixels of `a` whose colour lies more than `tolerance` outside the range
// of the 3 x 3 pixels about the same place in `b`.
int FartherThanAPixel(const PixelBuffer &a, const PixelBuffer &b, int tolerance) {
  int count = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const uint32_t p = a.Pixel32(x, y);
      for (int shift : {0, 8, 16}) {
        int lo = 255, hi = 0;
        for (int v = std::max(0, y - 1); v <= std::min(kSize - 1, y + 1); ++v)
          for (int u = std::max(0, x - 1); u <= std::min(kSize - 1, x + 1); ++u) {
            const int q = int((b.Pixel32(u, v) >> shift) & 0xFFu);
            lo = std::min(lo, q);
            hi = std::max(hi, q);
          }
        const int own = int((p >> shift) & 0xFFu);
        if (own < lo - tolerance || own > hi + tolerance) {
          ++count;
          break;
        }
      }
    }
  return count;
}

int Differing(const PixelBuffer &a, const PixelBuffer &b) {
  int count = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      count += a.Pixel32(x, y) != b.Pixel32(x, y);
  return count;
}

} // namespace

TEST(EllipsoidLabelsTest, AxisLabelsStayWithinAPixelOfThePaintersLetters) {
  const float turns[][3] = {{20, 35, 10}, {-50, 15, 70}, {33, -61, 127}, {5, 80, -40}};
  for (bool fast : {false, true}) {
    gUseFastRotn = fast ? 1 : 0;
    for (const auto &t : turns) {
      const std::string name = std::string(fast ? "fast " : "") + std::to_string(int(t[0])) + " " +
                               std::to_string(int(t[1])) + " " + std::to_string(int(t[2]));
      scene::EllipsoidScene labelled = LabelScene(t[0], t[1], t[2], 99);
      auto drawn = labelled.Draw();

      // Style 26 draws the same parts but the labels, in the highlight
      // colour at the same fill factor: with the highlight set to style 99's
      // line colour the painter adds the letters as they were shown before.
      EllipsoidParts parts;
      RGBColor fill, line, surface;
      float fillFactor, second, opacity;
      ASSERT_EQ(GetEllipsoidSpecs(&labelled.c, 0, 0.0f, parts, fill, line, surface, fillFactor, second, opacity), 1);
      scene::EllipsoidScene plain = LabelScene(t[0], t[1], t[2], 26);
      plain.c.hiliteColor = line;
      auto unlabelled = plain.Draw();
      auto reference = plain.Draw();
      {
        Painter painter(*reference, false);
        ASSERT_TRUE(painter.IsValid());
        painter.SetShouldAntialias(!fast);
        painter.SelectFont("Geneva", 10.0f);
        painter.SetTextDrawingMode(PainterTextMode::kStroke);
        painter.SetLineWidth(float(gPlotRes) / 72.0f);
        float r, g, b;
        RGBColor2Float(line, r, g, b);
        painter.SetStrokeColor(r, g, b, second * opacity);
        const AtomRecord &a = labelled.c.atoms[0];
        const char *names[3] = {"A", "B", "C"};
        for (int i = 0; i < 3; ++i) {
          float tip[3];
          for (int k = 0; k < 3; ++k)
            tip[k] = a.ellipsoidAxes[i][2] < 0.0f ? -a.ellipsoidAxes[i][k] : a.ellipsoidAxes[i][k];
          float p[2];
          Xor2RealXpix(&labelled.c, tip, p, kSize, kSize);
          painter.ShowTextAtPoint(p[0] + 0.5f, p[1] + 0.5f, names[i]);
        }
      }
      // The letters are there, and where the painter put them.
      EXPECT_GT(Differing(*drawn->Pixels(), *unlabelled->Pixels()), 30) << name;
      EXPECT_LE(FartherThanAPixel(*drawn->Pixels(), *reference->Pixels(), 6), 2) << name;
      EXPECT_LE(FartherThanAPixel(*reference->Pixels(), *drawn->Pixels(), 6), 2) << name;
    }
  }
  gUseFastRotn = 0;
}
