#include "render/Vectors.h"

#include "SceneSupport.h"

#include "ViewOrientation.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"

#include <gtest/gtest.h>

using namespace ovgfx;
using namespace scene;

namespace {

constexpr int kW = 160, kH = 120;
constexpr RGBColor kGreen{0, 40000, 0};

// One flat green atom of radius 1 A at the origin of a 10 A cube seen down
// z (20 pixels per A), carrying one red vector of the given fractional
// components. A thin bond radius keeps the head (6 pixels across) and the
// tail (4 pixels wide) apart on either side of the atom's centre.
void OneVector(CrystalRec &c, float u, float v, float w) {
  Build(c, {{1.0f, kGreen, AtomStyleFilled}}, {{0.0f, 0.0f, 0.0f, 0}});
  for (int k = 0; k < 9; k++)
    c.orientationMatrix[k] = (k % 4 == 0) ? 10.0f : 0.0f;
  c.vectors.resize(1);
  c.vectorCount = 1;
  c.vectors[0].uvw[0] = u;
  c.vectors[0].uvw[1] = v;
  c.vectors[0].uvw[2] = w;
  c.atoms[0].hasVector = 1;
  c.bondRadius = 0.1f;
  gHPixels = kW;
  gVPixels = kH;
  gPlotMethod = kPixelPlotMethod;
  gUseFastRotn = 0;
}

// The model walk's share for atoms with vectors: below, atom, above.
std::unique_ptr<GraphicsPort> Walk(CrystalRec &c) {
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kW, kH), 32);
  port->Pixels()->Fill(0xFF000000u);
  RenderSpheres(&c);
  GetVectorTipCoordinates(&c);
  SortAtomsByHeight(&c, c.minAtomRadius);
  GetPixelCoords(&c, kW, kH);
  PortSaver current(port.get());
  GetCurrentPixGlobals();
  for (const SortIndexEntry &e : c.sortIndex) {
    DrawVectorBelowAtom(&c, e.index);
    DoPlotAtom(&c, e.index, 1.0f, std::nullopt);
    DrawVectorAboveAtom(&c, e.index);
  }
  DisposeCurrentPixGlobals();
  return port;
}

} // namespace

TEST(VectorsTest, AnArrowTowardsTheViewerIsDrawnOverItsAtomAndItsTailUnder) {
  CrystalRec c;
  OneVector(c, 0.05f, 0.0f, 0.2f); // tip 10 pixels right, 2 A in front
  auto port = Walk(c);
  Dump(*port, "vector_towards");
  const int x = kW / 2, y = kH / 2;
  // The head covers the atom on the tip's side; the tail, on the other
  // side, lies under the atom.
  const uint32_t head = Rgb(port->Pixels()->Pixel32(x + 8, y));
  EXPECT_NE(head, Rgb(kGreen));
  EXPECT_GT(PixelRed(head), PixelGreen(head));
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x - 6, y)), Rgb(kGreen));
  // The stored tip is the atom's position plus the components.
  EXPECT_FLOAT_EQ(c.vectors[0].tipXYZ[0], 0.05f);
  EXPECT_FLOAT_EQ(c.vectors[0].tipXYZ[2], 0.2f);
  EXPECT_EQ(c.vectors[0].tipPixel[0], x + 10);
  EXPECT_EQ(c.vectors[0].tipPixel[1], y);
}

TEST(VectorsTest, AnArrowAwayFromTheViewerIsDrawnUnderItsAtomAndItsTailOver) {
  CrystalRec c;
  OneVector(c, 0.05f, 0.0f, -0.2f);
  auto port = Walk(c);
  Dump(*port, "vector_away");
  const int x = kW / 2, y = kH / 2;
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x + 8, y)), Rgb(kGreen));
  const uint32_t tail = Rgb(port->Pixels()->Pixel32(x - 6, y));
  EXPECT_NE(tail, Rgb(kGreen));
  EXPECT_GT(PixelRed(tail), PixelGreen(tail));
  // Without a tail (any style but 2) the atom's other side stays the atom's.
  OneVector(c, 0.05f, 0.0f, -0.2f);
  c.vectors[0].style = 1;
  port = Walk(c);
  EXPECT_EQ(Rgb(port->Pixels()->Pixel32(x - 6, y)), Rgb(kGreen));
}

TEST(VectorsTest, HeadSizeFollowsTheAtomImageAndAZeroVectorDrawsNothing) {
  CrystalRec c;
  OneVector(c, 0.05f, 0.0f, 0.2f);
  auto port = Walk(c);
  // The drawn radius is half the atom image's width over the scale.
  const float R = float(AtomImage(c.spheres[0])->Width() / 2) / c.plotScale;
  EXPECT_FLOAT_EQ(c.vectors[0].headRadius, kVectorHeadFactor * c.bondRadius * R);

  // Without an atom image the shaft is a tenth of the bond radius, but at
  // least a pixel: 0.01 A is a fifth of a pixel here.
  OneVector(c, 0.05f, 0.0f, 0.2f);
  GetVectorTipCoordinates(&c);
  DrawVector(&c, 0);
  EXPECT_FLOAT_EQ(c.vectors[0].headRadius, kVectorHeadFactor / c.plotScale);

  // A vector of zero length draws neither arrow nor tail.
  OneVector(c, 0.0f, 0.0f, 0.0f);
  port = GraphicsPort::NewOffscreen(MakeRect(0, 0, kW, kH), 32);
  port->Pixels()->Fill(0xFF000000u);
  {
    PortSaver current(port.get());
    GetVectorTipCoordinates(&c);
    DrawVector(&c, 0);
    DrawVectorTail(&c, 0);
  }
  for (int y = 0; y < kH; y++)
    for (int x = 0; x < kW; x++)
      ASSERT_EQ(Rgb(port->Pixels()->Pixel32(x, y)), 0u);

  // An atom flagged as carrying a vector that no vector names loses the flag.
  c.vectors[0].atom = 5;
  DrawVectorAboveAtom(&c, 0);
  EXPECT_EQ(c.atoms[0].hasVector, 0);
}
