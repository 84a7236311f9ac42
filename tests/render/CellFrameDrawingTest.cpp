#include "render/AtomLabels.h"
#include "render/UnitCellFrame.h"

#include "../model/StructureWindowFixture.h"
#include "SceneSupport.h"

#include "VectorMath.h"
#include "ViewOrientation.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace ovgfx;
using namespace viewtest;

namespace {

constexpr int kW = 300, kH = 220;
constexpr float kScale = 20.0f;

// An orthorhombic crystal (10 x 6 x 4 A) seen down c, its first cell framed
// in solid white lines on black, centred in the plot.
struct FramedCell {
  CrystalRec c;
  std::unique_ptr<GraphicsPort> port;

  explicit FramedCell(int16_t lineWidth = 1) {
    const float cell[6] = {10.0f, 6.0f, 4.0f, 90.0f, 90.0f, 90.0f};
    EXPECT_TRUE(BuildFirstCell(c, "P 1", cell, {{"C1", "C", 0.5f, 0.5f, 0.5f}}));
    c.plotScale = kScale;
    c.unitCellColor = kRGBWhite;
    c.unitCellOptions[kCellOptionSolidLines] = 1;
    c.unitCellOptions[kCellOptionLabelCorners] = 0;
    for (int k = 0; k < 3; k++) {
      c.plotRange[2 * k] = 0.0f;
      c.plotRange[2 * k + 1] = 1.0f;
    }
    const float half[3] = {0.5f, 0.5f, 0.5f};
    MatMul(c.orientationMatrix, half, c.plotCentre);
    gHPixels = kW;
    gVPixels = kH;
    gPlotMethod = kPixelPlotMethod;
    gUseFastRotn = 0;
    gIUnitCellLineWidth = lineWidth;
    ovrender::MakeUnitCell(&c);
    port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kW, kH), 32);
    port->Pixels()->Fill(0xFF000000u);
  }
  void Draw() {
    PortSaver current(port.get());
    GetCurrentPixGlobals();
    for (uint32_t i = 0; i < uint32_t(c.cellPointCount); i++)
      PlotCellFrameSegment(&c, i);
    DisposeCurrentPixGlobals();
  }
  // The pixel a fractional point projects to, computed here.
  void Pixel(float u, float v, float w, int &x, int &y) const {
    const float f[3] = {u, v, w};
    float p[3];
    MatMul(c.orientationMatrix, f, p);
    x = scene::ExpectedPixel((p[0] - c.plotCentre[0]) * kScale, kW / 2.0f);
    y = scene::ExpectedPixel(-(p[1] - c.plotCentre[1]) * kScale, kH / 2.0f);
  }
  int Red(int x, int y) const { return int(PixelRed(port->Pixels()->Pixel32(x, y))); }
};

} // namespace

TEST(CellFrameDrawingTest, ACellSeenDownCIsARectangleOfSidesAAndBAtThePlotScale) {
  FramedCell f;
  f.Draw();
  scene::Dump(*f.port, "cell_down_c");
  int ox, oy, ax, ay, bx, by, abx, aby;
  f.Pixel(0, 0, 0, ox, oy);
  f.Pixel(1, 0, 0, ax, ay);
  f.Pixel(0, 1, 0, bx, by);
  f.Pixel(1, 1, 0, abx, aby);
  // Every corner of the frame is drawn.
  for (auto [x, y] : {std::pair{ox, oy}, {ax, ay}, {bx, by}, {abx, aby}})
    EXPECT_GT(f.Red(x, y), 100) << x << "," << y;

  // The sides run a * scale and b * scale pixels: lit all along, dark just
  // beyond their ends and inside the cell.
  const int sideA = int(std::lround(10.0f * kScale)), sideB = int(std::lround(6.0f * kScale));
  ASSERT_EQ(std::abs(ax - ox) + std::abs(ay - oy), sideA);
  ASSERT_EQ(std::abs(bx - ox) + std::abs(by - oy), sideB);
  auto litAlong = [&](int x0, int y0, int x1, int y1) {
    const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int k = 2; k <= n - 2; k++) {
      const int x = x0 + (x1 - x0) * k / n, y = y0 + (y1 - y0) * k / n;
      if (f.Red(x, y) < 100)
        return false;
    }
    return true;
  };
  EXPECT_TRUE(litAlong(ox, oy, ax, ay));
  EXPECT_TRUE(litAlong(ox, oy, bx, by));
  EXPECT_TRUE(litAlong(bx, by, abx, aby));
  EXPECT_TRUE(litAlong(ax, ay, abx, aby));
  const int sx = (ax > ox) ? 1 : -1, sy = (by > oy) ? 1 : -1;
  EXPECT_EQ(f.Red(ox - 3 * sx, oy), 0);
  EXPECT_EQ(f.Red(ax + 3 * sx, ay), 0);
  EXPECT_EQ(f.Red(ox, oy - 3 * sy), 0);
  EXPECT_EQ(f.Red(bx, by + 3 * sy), 0);
  EXPECT_EQ(f.Red((ox + abx) / 2, (oy + aby) / 2), 0);
}

TEST(CellFrameDrawingTest, WideLinesArePixelLinesSideBySideAndPenLinesServePictures) {
  FramedCell wide(3);
  wide.Draw();
  int ox, oy, ax, ay;
  wide.Pixel(0, 0, 0, ox, oy);
  wide.Pixel(1, 0, 0, ax, ay);
  ASSERT_EQ(oy, ay); // a runs across the plot
  const int mx = (ox + ax) / 2;
  // Three lines at -1, 0 and +1 across the a edge, nothing two pixels out.
  EXPECT_GT(wide.Red(mx, oy - 1), 100);
  EXPECT_GT(wide.Red(mx, oy), 100);
  EXPECT_GT(wide.Red(mx, oy + 1), 100);
  EXPECT_EQ(wide.Red(mx, oy - 3), 0);
  EXPECT_EQ(wide.Red(mx, oy + 3), 0);

  // Drawing commands (picture plots): pen lines in the frame colour.
  FramedCell pen;
  gPlotMethod = kCommandPlotMethod;
  pen.Draw();
  gPlotMethod = kPixelPlotMethod;
  EXPECT_EQ(pen.Red(mx, oy), 255);
  EXPECT_EQ(pen.Red(ox, oy), 255);
}

TEST(CellFrameDrawingTest, CornerLabelsNameTheOriginAndTheThreeAxes) {
  FramedCell f;
  f.c.unitCellOptions[kCellOptionLabelCorners] = 1;
  ovrender::MakeUnitCell(&f.c);
  std::set<std::string> names;
  for (uint32_t i = 0; i < uint32_t(f.c.cellPointCount); i++) {
    if (!f.c.cellPoints[i].labelled)
      continue;
    Str255 text;
    ASSERT_TRUE(GetCellLabel(&f.c, i, text));
    names.insert(std::string(text.view()));
  }
  EXPECT_EQ(names, (std::set<std::string>{"O", "A", "B", "C"}));
  // The labels are drawn (in the highlight colour) beside their corners.
  f.c.hiliteColor = RGBColor{0, 65535, 0};
  f.Draw();
  int ox, oy;
  f.Pixel(0, 0, 0, ox, oy);
  int green = 0;
  for (int y = oy - 20; y <= oy + 20; y++)
    for (int x = ox - 20; x <= ox + 20; x++)
      green += PixelGreen(f.port->Pixels()->Pixel32(x, y)) > PixelRed(f.port->Pixels()->Pixel32(x, y));
  EXPECT_GT(green, 0);
}

TEST(CellFrameDrawingTest, TheAxesGlyphStaysInItsSquareWithOneArrowPerAxisColour) {
  Rect square;
  GetAxesRect(MakeRect(10, 0, 400, 300), 1.5f, square);
  EXPECT_EQ(square.top, 150);
  EXPECT_EQ(square.left, 10);
  EXPECT_EQ(square.bottom, 300);
  EXPECT_EQ(square.right, 160);

  FramedCell f;
  const float turn[3] = {20.0f, 30.0f, 0.0f};
  RotateXYZ(&f.c, turn); // all three arrows show
  const Rect plot = MakeRect(0, 0, kW, kH);
  Rect glyph;
  GetAxesRect(plot, 1.0f, glyph);
  {
    PortSaver current(f.port.get());
    DrawAxes(&f.c, plot, 1.0f);
  }
  scene::Dump(*f.port, "axes");
  int inside[3] = {0, 0, 0}, outside = 0;
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++) {
      const uint32_t p = scene::Rgb(f.port->Pixels()->Pixel32(x, y));
      if (p == 0)
        continue;
      if (x < glyph.left || x >= glyph.right || y < glyph.top || y >= glyph.bottom) {
        outside++;
        continue;
      }
      const int r = int(PixelRed(p)), g = int(PixelGreen(p)), b = int(PixelBlue(p));
      inside[0] += r > 2 * g && r > 2 * b;
      inside[1] += g > 2 * r && g > 2 * b;
      inside[2] += b > 2 * r && b > 2 * g;
    }
  EXPECT_EQ(outside, 0);
  for (int k = 0; k < 3; k++)
    EXPECT_GT(inside[k], 20) << "axis " << k;
  EXPECT_EQ(f.c.perspective, 0);
}

TEST(CellFrameDrawingTest, AFrameMadeAfterALargerOneIsTheSameAsAFreshOne) {
  FramedCell fresh;
  FramedCell reused;
  for (int k = 0; k < 3; k++)
    reused.c.plotRange[2 * k + 1] = 3.0f;
  ovrender::MakeUnitCell(&reused.c);
  ASSERT_GT(reused.c.cellPointCount, fresh.c.cellPointCount);
  for (int k = 0; k < 3; k++)
    reused.c.plotRange[2 * k + 1] = 1.0f;
  ovrender::MakeUnitCell(&reused.c);
  ASSERT_EQ(reused.c.cellPointCount, fresh.c.cellPointCount);
  ASSERT_EQ(reused.c.cellPoints.size(), fresh.c.cellPoints.size());
  for (size_t i = 0; i < fresh.c.cellPoints.size(); i++) {
    const CellPoint &p = reused.c.cellPoints[i], &q = fresh.c.cellPoints[i];
    ASSERT_EQ(p.linkCount, q.linkCount) << i;
    for (int l = 0; l < q.linkCount; l++)
      EXPECT_EQ(p.links[l], q.links[l]) << i;
    EXPECT_EQ(p.labelled, q.labelled) << i;
    for (int k = 0; k < 3; k++)
      EXPECT_EQ(p.cart[k], q.cart[k]) << i;
  }
}
