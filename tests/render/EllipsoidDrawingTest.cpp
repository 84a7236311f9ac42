#include "EllipsoidScene.h"

#include "VectorMath.h"
#include "render/EllipsoidDrawing.h"
#include "render/RenderGlobals.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <string>

using namespace ovgfx;

namespace {

constexpr int kSize = 300;
constexpr float kScale = scene::kEllipsoidScale;
using scene::EllipsoidScene;
using scene::TurnedAxes;

// The pixel at a fraction of the outline radius along the screen direction
// of angle `deg` (y up in view coordinates, down in pixels).
uint32_t PixelAlong(const EllipsoidScene &s, GraphicsPort &port, double deg, double fraction) {
  const double t = deg * M_PI / 180.0, ux = std::cos(t), uy = std::sin(t);
  const double r = s.OutlineRadius(ux, uy) * fraction * kScale;
  const int x = int(std::lround(kSize / 2 + ux * r)), y = int(std::lround(kSize / 2 - uy * r));
  return scene::Rgb(port.Pixels()->Pixel32(x, y));
}

// The outline as it used to be found, kept as the reference: for each of
// three screen directions the largest extent of the ellipsoid's section
// through that direction and z, searched over 20 coarse and 20 fine angles;
// then the centred ellipse through the three points.
float SearchedOutlineRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]) {
  float unit[3];
  if (!GetUnitVector(d, unit))
    return 0.0f;
  auto value = [&](float theta) {
    const float s = std::sin(theta), co = std::cos(theta);
    const float u[3] = {s * unit[0], s * unit[1], s * unit[2] + co};
    return std::fabs(s * GetEllipsoidRadius(a0, a1, a2, u));
  };
  const float coarse = float(M_PI) / 22.0f, fine = float(M_PI) / 242.0f;
  float best = 0.0f, bestTheta = 0.0f;
  for (int k = 1; k <= 20; ++k)
    if (value(float(k) * coarse) > best) {
      best = value(float(k) * coarse);
      bestTheta = float(k) * coarse;
    }
  for (int k = 0; k <= 20; ++k)
    best = std::max(best, value(bestTheta - coarse + float(k) * fine));
  return best;
}

// Polar radius at screen angle t of the ellipse with semi-axis end points
// b1 and b2 about the origin.
double EllipseRadiusAt(const float b1[3], const float b2[3], double t) {
  const double A = std::hypot(b1[0], b1[1]), B = std::hypot(b2[0], b2[1]);
  const double along = std::cos(t) * b1[0] / A + std::sin(t) * b1[1] / A;
  const double across = std::cos(t) * b2[0] / B + std::sin(t) * b2[1] / B;
  return 1.0 / std::sqrt(along * along / (A * A) + across * across / (B * B));
}

} // namespace

TEST(EllipsoidDrawingTest, TheFlatEllipseFillsTheOutlineOfTheTensorAndNothingBeyond) {
  const RGBColor colour{50000, 20000, 10000};
  float general[3][3], revolution[3][3];
  TurnedAxes(1.2f, 0.7f, 0.45f, 35.0f, -25.0f, 50.0f, general);
  // An ellipsoid of revolution seen along its axis: a circular outline
  // although the semi-axes differ.
  TurnedAxes(0.8f, 0.8f, 0.3f, 0.0f, 0.0f, 30.0f, revolution);
  for (auto *axes : {general, revolution}) {
    EllipsoidScene s(axes, colour, 7, kSize);
    auto port = s.Draw();
    scene::Dump(*port, "ellipsoid_style7");
    for (double deg = 0; deg < 360; deg += 22.5) {
      EXPECT_EQ(PixelAlong(s, *port, deg, 0.95), scene::Rgb(colour)) << deg;
      EXPECT_EQ(PixelAlong(s, *port, deg, 1.05), 0u) << deg;
    }
  }
  // Style 0 draws nothing.
  EllipsoidScene none(general, colour, 0, kSize);
  auto empty = none.Draw();
  EXPECT_EQ(scene::Rgb(empty->Pixels()->Pixel32(kSize / 2, kSize / 2)), 0u);
}

TEST(EllipsoidDrawingTest, TheShadedBodyIsLitFromTheUpperLeftWithinTheSameOutline) {
  float axes[3][3];
  TurnedAxes(1.0f, 0.8f, 0.6f, 20.0f, 10.0f, 5.0f, axes);
  EllipsoidScene s(axes, RGBColor{65535, 65535, 65535}, 15, kSize);
  auto port = s.Draw();
  scene::Dump(*port, "ellipsoid_style15");
  for (double deg = 0; deg < 360; deg += 45) {
    EXPECT_NE(PixelAlong(s, *port, deg, 0.9), 0u) << deg;
    EXPECT_EQ(PixelAlong(s, *port, deg, 1.05), 0u) << deg;
  }
  EXPECT_GT(PixelRed(PixelAlong(s, *port, 135, 0.5)), PixelRed(PixelAlong(s, *port, 315, 0.5)));
}

TEST(EllipsoidDrawingTest, ASelectedYellowEllipsoidIsMarkedInRedAndADarkOneInYellow) {
  float axes[3][3];
  TurnedAxes(0.9f, 0.6f, 0.4f, 10.0f, 30.0f, 20.0f, axes);
  for (const RGBColor colour : {RGBColor{65535, 65535, 0}, RGBColor{65535, 65535, 65535}, RGBColor{8000, 8000, 8000}}) {
    EllipsoidScene s(axes, colour, 7, kSize);
    s.c.atoms[0].selected = 1;
    auto port = s.Draw();
    const bool light = colour.red > 49151;
    for (double deg = 0; deg < 360; deg += 90) {
      const uint32_t rgb = PixelAlong(s, *port, deg, 1.0);
      EXPECT_GT(PixelRed(rgb), 200u);
      if (light)
        EXPECT_LT(PixelGreen(rgb), 80u) << deg;
      else
        EXPECT_GT(PixelGreen(rgb), 200u) << deg;
    }
  }
}

TEST(EllipsoidDrawingTest, RadiiOfASphereAndOfAnIsotropicSiteWithoutAStoredCriticalValue) {
  const float a0[3] = {0.7f, 0, 0}, a1[3] = {0, 0.7f, 0}, a2[3] = {0, 0, 0.7f};
  const float dirs[3][3] = {{1, 0, 0}, {0.3f, -0.4f, 0.5f}, {-1, 2, 0}};
  for (const auto &d : dirs) {
    EXPECT_NEAR(GetEllipsoidRadius(a0, a1, a2, d), 0.7f, 1e-5f);
    const float screen[3] = {d[0], d[1], 0};
    EXPECT_NEAR(GetBoundaryEllipseRadius(a0, a1, a2, screen), 0.7f, 0.7f * 0.001f);
  }
  float axes[3][3];
  TurnedAxes(1, 1, 1, 0, 0, 0, axes);
  EllipsoidScene s(axes, kRGBWhite, 7, kSize);
  s.c.sites[0].displacementType = kDisplacementIsotropic;
  s.c.sites[0].isoValue = 0.01f;
  s.c.ellipsoidProbability = 0.5f;
  s.c.ellipsoidCriticalValue = 0.0f; // as an old document may store it
  const float d[3] = {1, 0, 0};
  EXPECT_NEAR(GetEllipsoidRadiusForAtom(&s.c, 0, d), 0.15382f, 1e-5f);
}

TEST(EllipsoidDrawingTest, EveryStylesPartsStayInsideTheOutline) {
  float axes[3][3];
  TurnedAxes(1.0f, 0.75f, 0.5f, 40.0f, 25.0f, 15.0f, axes);
  for (uint32_t style : {4u, 6u, 10u, 14u, 18u, 22u, 26u}) {
    EllipsoidScene s(axes, RGBColor{20000, 45000, 60000}, style, kSize);
    auto port = s.Draw();
    scene::Dump(*port, ("ellipsoid_style" + std::to_string(style)).c_str());
    for (double deg = 0; deg < 360; deg += 30)
      EXPECT_EQ(PixelAlong(s, *port, deg, 1.06), 0u) << style << " " << deg;
  }
}

TEST(EllipsoidDrawingTest, AnEllipseThroughThreePointsIsRecoveredAndACircleHasAnAngle) {
  // Semi-axes 3 and 1, the first at 30 degrees.
  const float phi = 30.0f * float(M_PI) / 180.0f;
  auto on = [&](float t, float p[3]) {
    p[0] = 3 * std::cos(t) * std::cos(phi) - std::sin(t) * std::sin(phi);
    p[1] = 3 * std::cos(t) * std::sin(phi) + std::sin(t) * std::cos(phi);
    p[2] = 0;
  };
  const float centre[3] = {0, 0, 0};
  float p1[3], p2[3], p3[3], p4[3];
  on(0.3f, p1), on(1.4f, p2), on(2.5f, p3), on(4.0f, p4);
  float A, B, angle;
  ASSERT_TRUE(GetEllipseFromPoints(p1, p2, p3, centre, A, B, angle));
  EXPECT_NEAR(std::min(A, B), 1.0f, 1e-4f);
  EXPECT_NEAR(std::max(A, B), 3.0f, 1e-4f);
  // The fourth point lies on the ellipse with semi-axis A at the angle.
  const float u = p4[0] * std::cos(angle) + p4[1] * std::sin(angle);
  const float v = -p4[0] * std::sin(angle) + p4[1] * std::cos(angle);
  EXPECT_NEAR(u * u / (A * A) + v * v / (B * B), 1.0f, 1e-3f);
  // Three points of a circle: equal semi-axes and a real angle.
  const float c1[3] = {5, 0, 0}, c2[3] = {0, 5, 0}, c3[3] = {3, 4, 0};
  ASSERT_TRUE(GetEllipseFromPoints(c1, c2, c3, centre, A, B, angle));
  EXPECT_NEAR(A, 5.0f, 1e-4f);
  EXPECT_NEAR(B, 5.0f, 1e-4f);
  EXPECT_TRUE(std::isfinite(angle));
}

TEST(EllipsoidDrawingTest, StyleRecipesPickPartsColoursAndFillFactors) {
  float axes[3][3];
  TurnedAxes(1, 1, 1, 0, 0, 0, axes);
  const RGBColor dark{20000, 30000, 40000}; // sum 90000: contrasts mix with white
  EllipsoidScene s(axes, dark, 3, kSize);
  s.c.backgroundColor = RGBColor{1000, 2000, 3000};
  s.c.hiliteColor = RGBColor{65535, 0, 65535};
  EllipsoidParts parts;
  RGBColor fill, line, surface;
  float fillFactor, second, opacity;
  auto specs = [&](uint32_t style) {
    s.c.sites[0].ellipsoidStyle = style;
    return GetEllipsoidSpecs(&s.c, 0, 0.0f, parts, fill, line, surface, fillFactor, second, opacity);
  };
  auto mix = [](uint16_t v, uint16_t other, float f) { return uint16_t(float(v) * f + float(other) * (1.0f - f)); };
  ASSERT_EQ(specs(3), 1);
  EXPECT_EQ(fill, s.c.backgroundColor);
  EXPECT_EQ(line, (RGBColor{mix(20000, 65535, 0.75f), mix(30000, 65535, 0.75f), mix(40000, 65535, 0.75f)}));
  EXPECT_TRUE(parts.outline && !parts.principal && !parts.shaded);
  ASSERT_EQ(specs(19), 1);
  EXPECT_EQ(fill, dark);
  EXPECT_EQ(line, s.c.hiliteColor);
  EXPECT_EQ(fillFactor, 0.5f);
  EXPECT_TRUE(parts.shaded && !parts.outline);
  ASSERT_EQ(specs(99), 1);
  EXPECT_TRUE(parts.axes && parts.rearAxes && parts.axisLabels && parts.principal && parts.hiddenHalves &&
              parts.outline && !parts.octants && !parts.stripes && !parts.shaded);
  ASSERT_EQ(specs(6), 1);
  EXPECT_TRUE(parts.outline && parts.principal && parts.octants && parts.stripes && !parts.hiddenHalves);
  ASSERT_EQ(specs(50), 1); // an unknown style: no part, the first colours
  EXPECT_FALSE(parts.outline || parts.shaded || parts.principal || parts.axes || parts.octants);
  EXPECT_EQ(fill, kRGBBlack);
  EXPECT_EQ(specs(0), 0);
  s.c.modelType = kBallAndStickModel;
  EXPECT_EQ(specs(3), 0);
  // A light colour (sum 98384 and above) mixes with black.
  s.c.modelType = kThermalEllipsoidModel;
  s.c.spheres[0].colour = RGBColor{32795, 32795, 32794};
  ASSERT_EQ(specs(7), 1);
  EXPECT_EQ(line, (RGBColor{mix(32795, 0, 0.25f), mix(32795, 0, 0.25f), mix(32794, 0, 0.25f)}));
}

TEST(EllipsoidDrawingTest, TheOutlineStaysWithinAPixelOfTheSearchedOutline) {
  // Random ellipsoids of 0.1 to 1.5 A semi-axes at 100 pixels per A: the
  // outline now projected exactly against the sampled search and fit.
  const float centre[3] = {0, 0, 0};
  const float root2 = 1.0f / std::sqrt(2.0f);
  const float dirs[3][3] = {{1, 0, 0}, {0, 1, 0}, {root2, root2, 0}};
  uint32_t seed = 12345;
  auto next = [&](float lo, float hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * float(seed >> 8) / float(1u << 24);
  };
  double worst = 0.0;
  for (int trial = 0; trial < 300; ++trial) {
    float axes[3][3];
    TurnedAxes(next(0.1f, 1.5f), next(0.1f, 1.5f), next(0.1f, 1.5f), next(-180, 180), next(-180, 180), next(-180, 180),
               axes);
    float b1[3], b2[3];
    GetBoundaryEllipse(nullptr, axes[0], axes[1], axes[2], centre, b1, b2);
    // The reference ellipse through the three searched outline points.
    float p[3][3];
    for (int k = 0; k < 3; ++k) {
      const float r = SearchedOutlineRadius(axes[0], axes[1], axes[2], dirs[k]);
      for (int i = 0; i < 3; ++i)
        p[k][i] = dirs[k][i] * r;
    }
    float A, B, phi;
    ASSERT_TRUE(GetEllipseFromPoints(p[0], p[1], p[2], centre, A, B, phi));
    const float r1[3] = {A * std::cos(phi), A * std::sin(phi), 0}, r2[3] = {-B * std::sin(phi), B * std::cos(phi), 0};
    for (double t = 0; t < 2 * M_PI; t += M_PI / 36) {
      const double drawn = EllipseRadiusAt(b1, b2, t) * kScale, searched = EllipseRadiusAt(r1, r2, t) * kScale;
      worst = std::max(worst, std::fabs(drawn - searched));
      const float screen[3] = {float(std::cos(t)), float(std::sin(t)), 0};
      EXPECT_NEAR(GetBoundaryEllipseRadius(axes[0], axes[1], axes[2], screen) * kScale,
                  SearchedOutlineRadius(axes[0], axes[1], axes[2], screen) * kScale, 1.0)
          << trial << " " << t;
    }
  }
  EXPECT_LT(worst, 1.0);
}

TEST(EllipsoidDrawingTest, AnAbsurdScaleFillsThePictureAndAsksForNoMoreThanItsSize) {
  // A damaged document's scale: the ellipsoid is far larger than the
  // picture. Every part is drawn (under the sanitizers, with no undefined
  // conversion) and the body covers the whole picture.
  float axes[3][3];
  TurnedAxes(1.0f, 0.75f, 0.5f, 40.0f, 25.0f, 15.0f, axes);
  for (float scale : {170670.0f, 1e12f}) {
    EllipsoidScene s(axes, RGBColor{20000, 45000, 60000}, 99, kSize);
    s.c.plotScale = scale;
    s.c.atoms[0].selected = 1;
    s.c.sites[0].atomType = 0;
    auto port = s.Draw();
    for (int p : {0, kSize / 2, kSize - 1})
      EXPECT_NE(scene::Rgb(port->Pixels()->Pixel32(p, kSize - 1 - p)), 0u) << scale;
  }
}

namespace {

// The line pictures compared against those the painter drew before the
// lines were rasterised here: dark blue ellipsoids on black, outline and
// principal ellipses (style 5, light lines on a background-coloured body;
// style 13, lines a quarter darker than the body; style 25, with dashed
// hidden halves; style 6 with octant stripes), full quality and as fast
// rotation frames.
struct LineScene {
  const char *name;
  uint32_t style;
  bool fast;
  float l0, l1, l2, ax, ay, az;
  int bodyBlue; // the body's blue: the background's, or the atom's 30000 at its fill opacity
};
constexpr LineScene kLineScenes[] = {
    {"s5_round", 5, false, 1.2f, 1.2f, 1.2f, 0, 0, 0, 0},
    {"s5_tilted", 5, false, 1.3f, 0.8f, 0.5f, 40, 25, 15, 0},
    {"s5_fast", 5, true, 1.3f, 0.8f, 0.5f, 40, 25, 15, 0},
    {"s5_flat", 5, false, 1.4f, 1.0f, 0.15f, 80, 10, 30, 0},
    {"s5_small", 5, false, 0.12f, 0.08f, 0.05f, 20, 60, 5, 0},
    {"s13_tilted", 13, false, 1.0f, 0.6f, 0.9f, -30, 70, 110, 117},
    {"s13_fast", 13, true, 1.0f, 0.6f, 0.9f, -30, 70, 110, 117},
    {"s25_tilted", 25, false, 1.3f, 0.8f, 0.5f, 40, 25, 15, 58},
    {"s6_tilted", 6, false, 1.3f, 0.8f, 0.5f, 40, 25, 15, 0},
    {"s6_fast", 6, true, 1.2f, 0.9f, 0.6f, 10, -35, 60, 0},
    {"s8_tilted", 8, false, 1.3f, 0.8f, 0.5f, 40, 25, 15, 117},
    {"s8_fast", 8, true, 1.2f, 0.9f, 0.6f, 10, -35, 60, 117},
};

std::unique_ptr<GraphicsPort> DrawLineScene(const LineScene &scene) {
  float axes[3][3];
  TurnedAxes(scene.l0, scene.l1, scene.l2, scene.ax, scene.ay, scene.az, axes);
  EllipsoidScene s(axes, RGBColor{6000, 12000, 30000}, scene.style, kSize);
  s.c.backgroundColor = kRGBBlack;
  gUseFastRotn = scene.fast;
  auto port = s.Draw();
  gUseFastRotn = false;
  return port;
}

std::string ReferencePath(const LineScene &scene) {
  return std::string(OV_TEST_DATA) + "/ellipsoids/" + scene.name + ".png";
}

} // namespace

// The pixels of a picture at least `share` of the way in blue from the
// body's to the lines' (the lines are the lightest blue of the reference).
std::vector<bool> LinePixels(const QImage &image, int bodyBlue, int lineBlue, double share) {
  std::vector<bool> lines(size_t(image.width() * image.height()));
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      lines[size_t(y * image.width() + x)] = qBlue(image.pixel(x, y)) >= bodyBlue + share * (lineBlue - bodyBlue);
  return lines;
}

// Pixels of the lines `a` (more than half a line's blue) with no pixel of
// the lines `b` (a quarter) at the same place or one of its eight
// neighbours.
int LinePixelsFartherThanAPixel(const std::vector<bool> &a, const std::vector<bool> &b, int width) {
  const int height = int(a.size()) / width;
  int far = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (!a[size_t(y * width + x)])
        continue;
      bool near = false;
      for (int dy = -1; dy <= 1 && !near; ++dy)
        for (int dx = -1; dx <= 1 && !near; ++dx)
          near =
              x + dx >= 0 && x + dx < width && y + dy >= 0 && y + dy < height && b[size_t((y + dy) * width + x + dx)];
      far += near ? 0 : 1;
    }
  return far;
}

// The lines' weight: how far the picture's blue rises above the body's.
double LineWeight(const QImage &image, int bodyBlue) {
  double sum = 0.0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      sum += std::max(0, qBlue(image.pixel(x, y)) - bodyBlue);
  return sum;
}

TEST(EllipsoidDrawingTest, OutlinesAndPrincipalEllipsesStayWithinAPixelOfThePaintersLines) {
  for (const LineScene &scene : kLineScenes) {
    QImage reference(QString::fromStdString(ReferencePath(scene)));
    ASSERT_FALSE(reference.isNull()) << scene.name;
    auto port = DrawLineScene(scene);
    const PixelBuffer *px = port->Pixels();
    const QImage drawn(px->BaseAddr(), px->Width(), px->Height(), qsizetype(px->RowBytes()), QImage::Format_ARGB32);
    int lineBlue = 0;
    for (int y = 0; y < reference.height(); ++y)
      for (int x = 0; x < reference.width(); ++x)
        lineBlue = std::max(lineBlue, qBlue(reference.pixel(x, y)));
    const std::vector<bool> was = LinePixels(reference, scene.bodyBlue, lineBlue, 0.5);
    const std::vector<bool> wasFaint = LinePixels(reference, scene.bodyBlue, lineBlue, 0.25);
    const std::vector<bool> is = LinePixels(drawn, scene.bodyBlue, lineBlue, 0.5);
    const std::vector<bool> isFaint = LinePixels(drawn, scene.bodyBlue, lineBlue, 0.25);
    // A dash of the hidden halves may start a pixel or two along the curve
    // from where the painter started it.
    const int dashes = scene.style == 25 ? 2 : 0;
    EXPECT_LE(LinePixelsFartherThanAPixel(is, wasFaint, kSize), dashes) << scene.name;
    EXPECT_EQ(LinePixelsFartherThanAPixel(was, isFaint, kSize), 0) << scene.name;
    const double weight = LineWeight(drawn, scene.bodyBlue), before = LineWeight(reference, scene.bodyBlue);
    EXPECT_NEAR(weight / before, 1.0, 0.25) << scene.name;
  }
}

TEST(EllipsoidDrawingTest, AFastFrameFillsThePixelsWhoseCentresLieInsideTheOutline) {
  const RGBColor colour{50000, 20000, 10000};
  struct Case {
    float l0, l1, l2, ax, ay, az;
  };
  // Large, reaching past the picture, and smaller than a pixel.
  const Case cases[] = {{1.2f, 0.7f, 0.45f, 35.0f, -25.0f, 50.0f},
                        {2.3f, 0.9f, 0.6f, 10.0f, 70.0f, -20.0f},
                        {0.8f, 0.8f, 0.3f, 0.0f, 0.0f, 30.0f},
                        {0.006f, 0.004f, 0.003f, 12.0f, 40.0f, 5.0f}};
  gUseFastRotn = 1;
  for (const Case &k : cases) {
    float axes[3][3];
    TurnedAxes(k.l0, k.l1, k.l2, k.ax, k.ay, k.az, axes);
    EllipsoidScene s(axes, colour, 7, kSize);
    auto port = s.Draw();
    // The outline x^T S2^-1 x = 1 of the tensor, about the atom's pixel.
    double S[2][2];
    s.OutlineBlock(S);
    const double det = S[0][0] * S[1][1] - S[0][1] * S[1][0];
    const float origin[3] = {0.0f, 0.0f, 0.0f};
    float centre[2];
    Xor2RealXpix(&s.c, origin, centre, kSize, kSize);
    int wrong = 0, inside = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        const double dx = (x - double(centre[0])) / kScale, dy = -(y - double(centre[1])) / kScale;
        const double f = (S[1][1] * dx * dx - 2.0 * S[0][1] * dx * dy + S[0][0] * dy * dy) / det;
        if (std::fabs(f - 1.0) < 1e-6)
          continue;
        const bool filled = scene::Rgb(port->Pixels()->Pixel32(x, y)) == scene::Rgb(colour);
        inside += f < 1.0;
        wrong += filled != (f < 1.0);
      }
    EXPECT_EQ(wrong, 0) << k.l0;
    if (k.l0 > 0.1f) {
      EXPECT_GT(inside, 1000) << k.l0;
    }
  }
  gUseFastRotn = 0;
}

// Each pixel of a lit body well inside its outline, in full and fast frames,
// takes the lighting of the front point over its centre, found here from the
// ray's crossing of the ellipsoid in its own axes.
TEST(EllipsoidDrawingTest, EveryPixelOfTheLitBodyIsLitByTheSurfaceOverItsCentre) {
  float axes[3][3];
  TurnedAxes(1.1f, 0.7f, 0.5f, 25.0f, -40.0f, 15.0f, axes);
  const float white[3] = {1.0f, 1.0f, 1.0f};
  for (const bool fast : {false, true}) {
    EllipsoidScene s(axes, RGBColor{65535, 65535, 65535}, 15, kSize);
    gUseFastRotn = fast;
    auto port = s.Draw();
    gUseFastRotn = false;
    const CrystalRec &c = s.c;
    int checked = 0, worst = 0;
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        // The ray through the pixel's centre, in the ellipsoid's unit axes.
        const double px = (x - kSize / 2) / double(kScale), py = -(y - kSize / 2) / double(kScale);
        double qa = 0.0, qb = 0.0, qc = -1.0, len[3], u[3][3];
        for (int i = 0; i < 3; ++i) {
          len[i] = std::sqrt(double(axes[i][0]) * axes[i][0] + double(axes[i][1]) * axes[i][1] +
                             double(axes[i][2]) * axes[i][2]);
          for (int k = 0; k < 3; ++k)
            u[i][k] = axes[i][k] / len[i];
          const double along = (u[i][0] * px + u[i][1] * py) / len[i], dz = u[i][2] / len[i];
          qa += dz * dz;
          qb += along * dz;
          qc += along * along;
        }
        const double disc = qb * qb - qa * qc;
        if (disc < 0.1 * qa) // the rim and beyond
          continue;
        const double z = (-qb + std::sqrt(disc)) / qa, p[3] = {px, py, z};
        double n[3] = {0.0, 0.0, 0.0};
        for (int i = 0; i < 3; ++i) {
          const double t = (u[i][0] * p[0] + u[i][1] * p[1] + u[i][2] * p[2]) / (len[i] * len[i]);
          for (int k = 0; k < 3; ++k)
            n[k] += t * u[i][k];
        }
        const double norm = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const float unit[3] = {float(n[0] / norm), float(n[1] / norm), float(n[2] / norm)};
        float lit[3];
        RenderSurfaceColor(c.ambientIntensity, c.pointIntensity, c.kA[kAtomReflectance], c.kD[kAtomReflectance],
                           c.kS[kAtomReflectance], float(c.phongN[kAtomReflectance]), c.lightDirection, unit, white,
                           lit);
        const uint32_t pixel = port->Pixels()->Pixel32(x, y);
        const int got[3] = {int((pixel >> 16) & 0xFF), int((pixel >> 8) & 0xFF), int(pixel & 0xFF)};
        for (int k = 0; k < 3; ++k)
          worst = std::max(worst, std::abs(got[k] - int(lit[k] * 255.0f + 0.5f)));
        ++checked;
      }
    EXPECT_GT(checked, 10000) << fast;
    EXPECT_LE(worst, 1) << fast;
  }
}

// Each rear axis is laid on its own and the front axes together, so where
// they meet at the centre a translucent line colour builds up, in a fast
// frame as in a full one. A line leaving the centre covers the centre pixel
// when it heads right or down along its longer extent on the screen (a
// pixel covers [x, x + 1)), so of each axis either the rear or the front
// half covers it.
TEST(EllipsoidDrawingTest, ATranslucentLineColourBuildsUpWhereTheAxesMeetInAFastFrame) {
  float axes[3][3];
  TurnedAxes(1.0f, 0.7f, 0.5f, 30.0f, 40.0f, 10.0f, axes);
  EllipsoidScene s(axes, RGBColor{0, 0, 0}, 26, kSize);
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kSize, kSize), 32);
  port->Pixels()->Fill(0xFF000000u);
  gHPixels = gVPixels = int16_t(kSize);
  GetPixelCoords(&s.c, kSize, kSize);
  EllipsoidParts parts;
  parts.axes = parts.rearAxes = 1;
  const float fill[3] = {0.0f, 0.0f, 1.0f}, line[3] = {1.0f, 0.5f, 0.0f};
  gUseFastRotn = 1;
  {
    PortSaver current(port.get());
    PlotEllipsoidAttributes(&s.c, 0, parts, fill, fill, line, 0.5f, 1.0f);
  }
  gUseFastRotn = 0;
  int rear = 0; // rear halves over the centre pixel
  for (const auto &a : axes) {
    const float sign = a[2] < 0.0f ? -1.0f : 1.0f; // towards the front tip
    const float dx = -sign * a[0], dy = sign * a[1]; // the rear half on the screen, y down
    rear += std::fabs(dx) >= std::fabs(dy) ? dx > 0.0f : dy > 0.0f;
  }
  const int lays = rear + (rear < 3 ? 1 : 0);
  ASSERT_GE(lays, 2);
  double expected[3] = {0.0, 0.0, 255.0};
  for (int lay = 0; lay < lays; ++lay)
    for (int k = 0; k < 3; ++k)
      expected[k] = line[k] * 255.0 * 0.5 + expected[k] * 0.5;
  const uint32_t centre = port->Pixels()->Pixel32(kSize / 2, kSize / 2);
  const int got[3] = {int(PixelRed(centre)), int(PixelGreen(centre)), int(PixelBlue(centre))};
  for (int k = 0; k < 3; ++k)
    EXPECT_NEAR(got[k], expected[k], 2.0) << k;
}

// A plot's bonds measure each ellipsoid as it stands when the plot starts,
// along every direction as GetEllipsoidRadiusForAtom does.
TEST(EllipsoidDrawingTest, EachPlotMeasuresTheBondsAgainstTheEllipsoidsAsTheyStand) {
  float axes[3][3];
  TurnedAxes(0.9f, 0.5f, 0.3f, 20.0f, -35.0f, 60.0f, axes);
  EllipsoidScene s(axes, RGBColor{0, 0, 0}, 26, kSize);
  const float directions[3][3] = {{1.0f, 0.0f, 0.0f}, {0.3f, -0.8f, 0.2f}, {0.0f, 0.0f, -2.0f}};
  for (int turn = 0; turn < 2; ++turn) {
    EllipsoidRadii radii(s.c);
    for (const float *d : directions)
      EXPECT_EQ(radii.Along(0, d), GetEllipsoidRadiusForAtom(&s.c, 0, d)) << turn;
    // The ellipsoid turned a quarter about z, as an edit of its tensor would.
    for (auto &axis : s.c.atoms[0].ellipsoidAxes) {
      const float x = axis[0];
      axis[0] = -axis[1];
      axis[1] = x;
    }
  }
}
