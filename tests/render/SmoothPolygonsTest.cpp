// The fills of convex polygons (the strips of cylinders) take their own
// path; they must paint what the general fill paints for the same outline.
#include "render/SmoothPolygons.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ovgfx;

namespace {

constexpr int kWidth = 24, kHeight = 20;

// A background of varied greys, so that see-through fills blend with
// something different at every pixel.
void PaintBackground(TestTarget &t) {
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      const uint32_t g = uint32_t(17 * x + 29 * y) & 0xFFu;
      t.px().SetPixel32(x, y, 0xFF000000u | g << 16 | (255 - g) << 8 | (g ^ 0x5Au));
    }
}

std::vector<uint32_t> Pixels(TestTarget &t) {
  std::vector<uint32_t> out;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++)
      out.push_back(t.At(x, y));
  return out;
}

struct Outline {
  const char *what;
  std::vector<RealPoint> points; // drawn grown
  float grow;
  std::vector<RealPoint> expected; // the same pixels through the general fill
};

TEST(SmoothPolygons, GrownConvexFillsPaintWhatTheGeneralFillPaints) {
  const std::vector<Outline> outlines = {
      {"slanted quadrilateral", {{3.3f, 2.7f}, {15.6f, 5.2f}, {14.1f, 9.9f}, {2.2f, 6.4f}}, 0.0f, {}},
      {"thin strip", {{1.4f, 17.8f}, {20.7f, 1.1f}, {21.3f, 1.9f}, {2.0f, 18.6f}}, 0.0f, {}},
      {"triangle", {{5.5f, 1.25f}, {18.75f, 14.5f}, {2.1f, 11.3f}}, 0.0f, {}},
      {"flat top and bottom", {{4.25f, 3.0f}, {19.5f, 3.0f}, {16.0f, 12.0f}, {7.75f, 12.0f}}, 0.0f, {}},
      {"beyond the picture's corner", {{-6.3f, -4.1f}, {9.2f, -2.7f}, {7.9f, 6.6f}, {-3.4f, 8.8f}}, 0.0f, {}},
      {"beyond the right and lower edges", {{18.2f, 12.4f}, {30.5f, 15.1f}, {27.7f, 26.3f}, {16.6f, 22.9f}}, 0.0f, {}},
      // Square corners move out by the growth on both axes.
      {"grown rectangle",
       {{2.25f, 3.125f}, {9.75f, 3.125f}, {9.75f, 7.375f}, {2.25f, 7.375f}},
       0.5f,
       {{1.75f, 2.625f}, {10.25f, 2.625f}, {10.25f, 7.875f}, {1.75f, 7.875f}}},
      // A corner given twice grows as the one corner: the edge without
      // length between them has no normal and the neighbouring edges' serve.
      {"grown rectangle with a corner twice",
       {{2.25f, 3.125f}, {9.75f, 3.125f}, {9.75f, 3.125f}, {9.75f, 7.375f}, {2.25f, 7.375f}},
       0.5f,
       {{1.75f, 2.625f}, {10.25f, 2.625f}, {10.25f, 7.875f}, {1.75f, 7.875f}}},
  };
  const RGBColor colour{52000, 30000, 9000};
  for (const Outline &o : outlines)
    for (float opacity : {1.0f, 0.6f}) {
      SCOPED_TRACE(testing::Message() << o.what << " at opacity " << opacity);
      TestTarget grown(MakeRect(0, 0, kHeight, kWidth));
      PaintBackground(grown);
      const std::vector<uint32_t> before = Pixels(grown);
      MyFillGrownConvexPolygon(o.points.data(), o.points.size(), o.grow, colour, opacity);
      const std::vector<uint32_t> convex = Pixels(grown);
      ASSERT_NE(convex, before);

      TestTarget general(MakeRect(0, 0, kHeight, kWidth));
      PaintBackground(general);
      const std::vector<RealPoint> &outline = o.expected.empty() ? o.points : o.expected;
      MyFillSmoothPolygon(outline.data(), outline.size(), colour, opacity);
      EXPECT_EQ(convex, Pixels(general));
    }
}

} // namespace
