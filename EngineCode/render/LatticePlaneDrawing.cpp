#include "render/Highlights.h"
#include "render/LatticePlaneDrawing.h"

#include "LatticePlanes.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/DrawingHelpers.h"
#include "render/OffScreen.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "window/MainWindowData.h"

#include <algorithm>
#include <cmath>
#include <utility>

using namespace ovgfx;

namespace {

// The text size of the perpendicular's length.
constexpr int16_t kLine2PlaneTextSize = 11;

uint16_t VertexCount(const CrystalRec &c) { return std::min<uint16_t>(c.plane.vertexCount, kLatticePlaneMaxVertices); }

// Brings each polygon point's view coordinates and pixel position up to
// date for a plot of width x height.
void ProjectPlane(CrystalRec &c, int32_t width, int32_t height) {
  for (uint16_t k = 0; k < VertexCount(c); ++k) {
    LatticePlaneVertex &v = c.plane.vertices[k];
    MatMul(c.orientationMatrix, v.xyz, v.cart);
    Xor2Xpix(&c, v.cart, v.pixel, width, height);
  }
}

} // namespace

void PlotLatticePlane(CrystalRec *crystal, const Rect &plotRect) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port)
    return;
  CrystalRec &c = *crystal;
  const uint16_t n = VertexCount(c);
  if (n == 0)
    return;
  ProjectPlane(c, plotRect.Width(), plotRect.Height());
  Polygon polygon;
  for (uint16_t k = 0; k <= n; ++k)
    polygon.Add(c.plane.vertices[k % n].pixel[0], c.plane.vertices[k % n].pixel[1]);
  const float opacity = std::clamp(1.0f - c.plane.transparency, 0.0f, 1.0f);
  const uint16_t op = uint16_t(opacity * 65535.0f);
  port->PenNormal();
  port->SetForeColor(c.plane.colour);
  port->SetPenMode(kPenBlend);
  port->SetOpColor(RGBColor{op, op, op});
  port->PaintPolygon(polygon);
  port->PenNormal();
  GetCurrentPixGlobals();
  for (uint16_t k = 0; k < n; ++k) {
    const LatticePlaneVertex &a = c.plane.vertices[k], &b = c.plane.vertices[(k + 1) % n];
    MyDrawLine(a.pixel[0], a.pixel[1], b.pixel[0], b.pixel[1], c.plane.colour, 1);
  }
  DisposeCurrentPixGlobals();
}

void PlotLatticePlaneOutline(WindowRef window) {
  CrystalRec *crystal = GetWindowCrystal(window);
  const ScreenHooks &hooks = GetScreenHooks();
  GraphicsPort *port = hooks.windowPort ? hooks.windowPort(window) : nullptr;
  if (!crystal || !port)
    return;
  CrystalRec &c = *crystal;
  const uint16_t n = VertexCount(c);
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  if (n == 0 || pane.IsEmpty())
    return;
  ProjectPlane(c, pane.Width(), pane.Height());
  PortSaver saver(port);
  port->PenNormal();
  port->SetForeColor(c.plane.colour);
  port->SetPenPattern(kHalfStipplePattern);
  auto at = [&](uint16_t k) {
    const LatticePlaneVertex &v = c.plane.vertices[k];
    return std::pair<int, int>(v.pixel[0] + pane.left, v.pixel[1] + pane.top);
  };
  port->MoveTo(at(0).first, at(0).second);
  if (n >= 2)
    for (uint16_t k = 1; k < n; ++k)
      port->LineTo(at(k).first, at(k).second);
  port->LineTo(at(0).first, at(0).second);
  port->PenNormal();
  port->SetForeColor(kRGBBlack);
  if (hooks.windowPortChanged)
    hooks.windowPortChanged(window, pane);
}

void Line2Plane(WindowRef window, const float p[3]) {
  CrystalRec *crystal = GetWindowCrystal(window);
  if (!crystal || !p)
    return;
  const CrystalRec &c = *crystal;
  Rect pane;
  GetWindowGraphBounds(window, &pane);
  if (pane.IsEmpty())
    return;
  const float d = Dist2Plane(&c, p);
  float foot[3];
  for (int k = 0; k < 3; ++k)
    foot[k] = p[k] + d * c.plane.viewNormal[k];
  int16_t from[2], to[2];
  Xor2Xpix(&c, p, from, pane.Width(), pane.Height());
  Xor2Xpix(&c, foot, to, pane.Width(), pane.Height());
  const Point a{int16_t(from[1] + pane.top), int16_t(from[0] + pane.left)};
  const Point b{int16_t(to[1] + pane.top), int16_t(to[0] + pane.left)};
  HiliteLine(window, a, b, false);
  WriteLineDistance(window, a, b, std::fabs(d), kLine2PlaneTextSize);
}
