#include "SceneSupport.h"

#include "../model/StructureWindowFixture.h"

#include "render/Highlights.h"
#include "render/LatticePlaneDrawing.h"
#include "render/OffScreen.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ovgfx;

namespace {

constexpr RGBColor kFar{65535, 0, 0}, kNear{0, 65535, 0}, kPlane{0, 0, 65535};

// The plane z = 0 of view space as a square 6 A wide, fractional and view
// coordinates the same.
void ShowPlaneAtZeroHeight(CrystalRec &c, float transparency) {
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::copy(identity, identity + 9, c.orientationMatrix);
  LatticePlane &p = c.plane;
  const float corners[4][2] = {{-3, -3}, {3, -3}, {3, 3}, {-3, 3}};
  p.vertexCount = 4;
  for (int k = 0; k < 4; ++k) {
    p.vertices[k].xyz[0] = corners[k][0];
    p.vertices[k].xyz[1] = corners[k][1];
    p.vertices[k].xyz[2] = 0;
  }
  const float normal[3] = {0, 0, 1}, origin[3] = {0, 0, 0};
  std::copy(normal, normal + 3, p.viewNormal);
  std::copy(origin, origin + 3, p.point);
  p.colour = kPlane;
  p.transparency = transparency;
  p.shown = 1;
}

} // namespace

TEST(LatticePlaneDrawingTest, ThePlaneLiesOverTheAtomsBehindItAndUnderThoseInFront) {
  CrystalRec c;
  scene::Build(c, {{0.5f, kFar, AtomStyleFilled}, {0.5f, kNear, AtomStyleFilled}},
               {{-1.5f, 0.0f, -2.0f, 0}, {1.5f, 0.0f, 2.0f, 1}});
  ShowPlaneAtZeroHeight(c, 0.25f); // 75 % opaque
  const int w = 200, h = 160;
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, w, h), 32);
  RenderSpheres(&c);
  SortAtomsByHeight(&c, c.minAtomRadius);
  GetPixelCoords(&c, w, h);
  PortSaver current(port.get());
  DrawBackground(&c, MakeRect(0, 0, w, h));
  // As the plot does: the entries behind the plane, the plane, the entries
  // in front of it.
  const std::vector<SortIndexEntry> full = c.sortIndex;
  std::vector<std::vector<uint32_t>> passes;
  for (int side : {-1, +1}) {
    c.sortIndex = full;
    passes.emplace_back();
    for (const SortIndexEntry &e : GetSortAboveOrBelowPlane(&c, side)) {
      passes.back().push_back(e.index);
      DoPlotAtom(&c, e.index, 0.0f, std::nullopt);
    }
    if (side < 0)
      PlotLatticePlane(&c, MakeRect(0, 0, w, h));
  }
  scene::Dump(*port, "lattice_plane");
  EXPECT_EQ(passes, (std::vector<std::vector<uint32_t>>{{0}, {1}}));

  // 0.75 of the plane's blue over the far atom's red; the near atom on top.
  auto blend = [](uint32_t colour, uint32_t under) { return uint32_t(float(colour) * 0.75f + float(under) * 0.25f); };
  const uint32_t far = port->Pixels()->Pixel32(scene::ExpectedPixel(-1.5f * 20, w / 2), h / 2);
  EXPECT_EQ(scene::Rgb(far), PackPixel32(0, blend(0, 255), 0, blend(255, 0)));
  const uint32_t near = port->Pixels()->Pixel32(scene::ExpectedPixel(1.5f * 20, w / 2), h / 2);
  EXPECT_EQ(scene::Rgb(near), scene::Rgb(kNear));
  // Inside the square away from the atoms: plane over background; outside
  // it: background.
  EXPECT_EQ(scene::Rgb(port->Pixels()->Pixel32(w / 2, h / 2 - 40)), PackPixel32(0, 0, 0, blend(255, 0)));
  EXPECT_EQ(scene::Rgb(port->Pixels()->Pixel32(w / 2 - 80, h / 2)), 0u);
  // The polygon's pixel positions as drawn.
  EXPECT_EQ(c.plane.vertices[0].pixel[0], w / 2 - 60);
  EXPECT_EQ(c.plane.vertices[0].pixel[1], h / 2 + 60);
}

TEST(LatticePlaneDrawingTest, ThePerpendicularRunsFromThePointToItsFootAndIsLabelledWithItsLength) {
  FakeHost host;
  viewtest::TestWindow window(host, 200, 100); // graph pane at (10, 20)
  CrystalRec &c = window.crystal();
  scene::Build(c, {{0.5f, kFar, AtomStyleFilled}}, {{0, 0, 0, 0}});
  ShowPlaneAtZeroHeight(c, 0.5f);
  const float normal[3] = {0.0f, 0.6f, 0.8f};
  std::copy(normal, normal + 3, c.plane.viewNormal);
  const float p[3] = {0.0f, 0.0f, 2.0f};
  Line2Plane(window.ref(), p);
  // d = -(p . n) = -1.6; the foot p + d n = (0, -0.96, 0.72), 19.2 pixels
  // below the point at 20 pixels per Angstrom. The line and its label go
  // to the window's highlight overlay.
  const std::vector<HiliteItem> &overlay = GetHiliteOverlay(window.ref());
  ASSERT_EQ(overlay.size(), 3u);
  EXPECT_EQ(overlay[0].points, (std::vector<float>{110, 70, 110, 89}));
  EXPECT_EQ(overlay[2].kind, HiliteItem::kText);
  EXPECT_EQ(overlay[2].text, "1.600 Å");
  EXPECT_EQ(overlay[2].size, 11.0f);
  ClearHiliteOverlay(window.ref());
}

TEST(LatticePlaneDrawingTest, APlaneWithACornerFarOffThePictureKeepsItsTrueEdges) {
  // A triangle in a 5 A cubic cell at 20 pixels per A, centred on the
  // origin in a 1000 x 800 picture: corners (-3, -1) and (-3, 1) at pixels
  // (200, 500) and (200, 300), and (999, 0) at (100400, 400), far beyond
  // 16 bits. By hand, the lower edge runs down 100 rows over 100200
  // columns: at column 995 it passes row 500 - 100 x 795 / 100200 = 499.2.
  CrystalRec c;
  const float cell[9] = {5, 0, 0, 0, 5, 0, 0, 0, 5};
  std::copy(cell, cell + 9, c.orientationMatrix);
  c.plotScale = 20.0f;
  LatticePlane &p = c.plane;
  const float corners[3][2] = {{-3, -1}, {999, 0}, {-3, 1}};
  p.vertexCount = 3;
  for (int k = 0; k < 3; ++k) {
    p.vertices[k].xyz[0] = corners[k][0];
    p.vertices[k].xyz[1] = corners[k][1];
    p.vertices[k].xyz[2] = 0;
  }
  p.colour = kPlane;
  p.transparency = 0.0f;
  p.shown = 1;
  const int w = 1000, h = 800;
  auto port = GraphicsPort::NewOffscreen(MakeRect(0, 0, w, h), 32);
  PortSaver current(port.get());
  PlotLatticePlane(&c, MakeRect(0, 0, w, h));
  auto at = [&](int x, int y) { return scene::Rgb(port->Pixels()->Pixel32(x, y)); };
  const uint32_t plane = scene::Rgb(kPlane);
  for (int y : {302, 400, 498, 499})
    EXPECT_EQ(at(995, y), plane) << "row " << y;
  EXPECT_NE(at(995, 502), plane);
  EXPECT_NE(at(995, 297), plane);
  EXPECT_NE(at(150, 400), plane);
}
