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
#include <array>
#include <cmath>
#include <utility>
#include <vector>

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

// How far beyond the plot a clipped polygon reaches, in pixels: the edges
// the clip makes lie out of sight, past the one-pixel outline.
constexpr float kPlaneClipMargin = 4.0f;

using RealPoint = std::array<float, 2>;

// The rectangle polygons are clipped to: the plot of width x height widened
// by the margin on every side.
struct ClipBox {
  float lo[2], hi[2];
  ClipBox(int32_t width, int32_t height)
      : lo{-kPlaneClipMargin, -kPlaneClipMargin}, hi{float(width) + kPlaneClipMargin,
                                                     float(height) + kPlaneClipMargin} {}
  bool Holds(const int16_t pixel[2]) const {
    return float(pixel[0]) >= lo[0] && float(pixel[0]) <= hi[0] && float(pixel[1]) >= lo[1] && float(pixel[1]) <= hi[1];
  }
};

// The polygon cut down to the box, one side of the box at a time
// (Sutherland-Hodgman); a convex polygon stays convex. Empty when nothing
// of it lies inside.
std::vector<RealPoint> ClipPolygon(std::vector<RealPoint> points, const ClipBox &box) {
  for (int axis = 0; axis < 2; ++axis)
    for (int side = 0; side < 2; ++side) {
      const float bound = side == 0 ? box.lo[axis] : box.hi[axis];
      auto inside = [&](const RealPoint &p) { return side == 0 ? p[axis] >= bound : p[axis] <= bound; };
      std::vector<RealPoint> kept;
      const size_t n = points.size();
      for (size_t k = 0; k < n; ++k) {
        const RealPoint &a = points[k], &b = points[(k + 1) % n];
        if (inside(a))
          kept.push_back(a);
        if (inside(a) != inside(b)) {
          const float t = (bound - a[axis]) / (b[axis] - a[axis]);
          RealPoint x;
          x[axis] = bound;
          x[1 - axis] = a[1 - axis] + t * (b[1 - axis] - a[1 - axis]);
          kept.push_back(x);
        }
      }
      points = std::move(kept);
      if (points.empty())
        return points;
    }
  return points;
}

// The part of the segment from a to b inside the box (Liang-Barsky); false
// when none of it is.
bool ClipSegment(RealPoint &a, RealPoint &b, const ClipBox &box) {
  float t0 = 0.0f, t1 = 1.0f;
  for (int axis = 0; axis < 2; ++axis) {
    const float d = b[axis] - a[axis];
    const float toLo = a[axis] - box.lo[axis], toHi = box.hi[axis] - a[axis];
    if (d == 0.0f) {
      if (toLo < 0.0f || toHi < 0.0f)
        return false;
      continue;
    }
    float tLo = -toLo / d, tHi = toHi / d;
    if (d < 0.0f)
      std::swap(tLo, tHi);
    t0 = std::max(t0, tLo);
    t1 = std::min(t1, tHi);
    if (t0 > t1)
      return false;
  }
  const RealPoint from = a;
  for (int axis = 0; axis < 2; ++axis) {
    a[axis] = from[axis] + t0 * (b[axis] - from[axis]);
    b[axis] = from[axis] + t1 * (b[axis] - from[axis]);
  }
  return true;
}

int16_t Rounded(float v) { return PixelProjector::RoundedPixel(v); }

} // namespace

void PlotLatticePlane(CrystalRec *crystal, const Rect &plotRect) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port)
    return;
  CrystalRec &c = *crystal;
  const uint16_t n = VertexCount(c);
  if (n == 0)
    return;
  const int32_t width = plotRect.Width(), height = plotRect.Height();
  ProjectPlane(c, width, height);
  // A plane with a corner far off the picture is cut down to the picture
  // before it is filled: a region the size of the whole 16-bit pixel range
  // takes seconds to build. A polygon inside the picture keeps its pixels.
  const ClipBox box(width, height);
  bool inside = true;
  for (uint16_t k = 0; k < n; ++k)
    inside = inside && box.Holds(c.plane.vertices[k].pixel);
  std::vector<RealPoint> real(n);
  if (!inside) {
    const PixelProjector projector(c, width, height);
    for (uint16_t k = 0; k < n; ++k)
      projector.Real(c.plane.vertices[k].cart, real[k].data());
  }
  Polygon polygon;
  if (inside) {
    for (uint16_t k = 0; k <= n; ++k)
      polygon.Add(c.plane.vertices[k % n].pixel[0], c.plane.vertices[k % n].pixel[1]);
  } else {
    const std::vector<RealPoint> clipped = ClipPolygon(real, box);
    for (size_t k = 0; !clipped.empty() && k <= clipped.size(); ++k)
      polygon.Add(Rounded(clipped[k % clipped.size()][0]), Rounded(clipped[k % clipped.size()][1]));
  }
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
    if (inside) {
      MyDrawLine(a.pixel[0], a.pixel[1], b.pixel[0], b.pixel[1], c.plane.colour, 1);
      continue;
    }
    RealPoint from = real[k], to = real[(k + 1) % n];
    if (ClipSegment(from, to, box))
      MyDrawLine(Rounded(from[0]), Rounded(from[1]), Rounded(to[0]), Rounded(to[1]), c.plane.colour, 1);
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
