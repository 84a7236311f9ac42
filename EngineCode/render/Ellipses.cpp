#include "render/Ellipses.h"

#include "graphics/GraphicsPort.h"
#include "render/RasterPrimitives.h"

#include <algorithm>
#include <cmath>

using namespace ovgfx;

namespace {

struct Ring {
  int cx, cy, a, b;
  explicit Ring(const Rect &r)
      : cx((r.left + r.right) / 2), cy((r.top + r.bottom) / 2), a((r.right - r.left) / 2), b((r.bottom - r.top) / 2) {}
};

// The midpoint walk over one quadrant of the ring. `region1(x, y)` is called
// after every step of the first region (x grows by one each step);
// `region2Row(x, j)` for every row j - 1 of the second region, j from the
// first region's last y down to 1. Returns nothing; the callers mirror.
template <class Region1, class Region2> void WalkEllipse(int a, int b, Region1 region1, Region2 region2Row) {
  const int64_t a2 = int64_t(a) * a, b2 = int64_t(b) * b;
  int64_t x = 0, y = b;
  if (a2 * b > b2) {
    float d = float(a2 / 4 + (b - a2) * b);
    while (y * a2 > (x + 1) * b2) {
      int64_t delta = (2 * x + 3) * b2;
      if (d >= 0) {
        delta += (2 - 2 * y) * a2;
        --y;
      }
      ++x;
      region1(int(x), int(y));
      d += float(delta);
    }
  }
  if (y >= 1) {
    float d = float(b2 * x * x + a2 * (y - 1) * (y - 1) - a2 * b2);
    for (int64_t j = y; j >= 1; --j) {
      int64_t delta;
      if (d < 0) {
        delta = (2 * x + 2) * b2 + (3 - 2 * j) * a2;
        ++x;
      } else {
        delta = (3 - 2 * j) * a2;
      }
      region2Row(int(x), int(j));
      d += float(delta);
    }
  }
}

void MyDoFrameOval(const Rect &r, const RGBColor &colour) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  const Ring ring(r);
  auto four = [&](int x, int y) {
    port->SetPixel(ring.cx + x, ring.cy + y, colour);
    port->SetPixel(ring.cx - x, ring.cy + y, colour);
    port->SetPixel(ring.cx + x, ring.cy - y, colour);
    port->SetPixel(ring.cx - x, ring.cy - y, colour);
  };
  port->SetPixel(ring.cx, ring.cy + ring.b, colour);
  port->SetPixel(ring.cx, ring.cy - ring.b, colour);
  WalkEllipse(ring.a, ring.b, four, [&](int x, int j) { four(x, j - 1); });
}

// Four mirrored pixels blended with one weight, only when all four lie
// inside the clip, and only where pixels can be blended.
void DoSmoothEllipsePoints(const Ring &ring, int p, int q, const RGBColor &reduced, float weight) {
  const Rect &c = dstPixClipBounds;
  if (dstBitDepth < 17)
    return;
  if (ring.cx - p < c.left || ring.cx + p > c.right || ring.cy - q < c.top || ring.cy + q > c.bottom)
    return;
  MyPickNMix32BitColors(int16_t(ring.cx + p), int16_t(ring.cy + q), reduced, weight);
  MyPickNMix32BitColors(int16_t(ring.cx - p), int16_t(ring.cy + q), reduced, weight);
  MyPickNMix32BitColors(int16_t(ring.cx + p), int16_t(ring.cy - q), reduced, weight);
  MyPickNMix32BitColors(int16_t(ring.cx - p), int16_t(ring.cy - q), reduced, weight);
}

void MyDoSmoothFrameOval(const Rect &r, const RGBColor &colour) {
  const Ring ring(r);
  const RGBColor reduced = ReduceColor(colour);
  MySetCPixel(int16_t(ring.cx), int16_t(ring.cy + ring.b), colour);
  MySetCPixel(int16_t(ring.cx), int16_t(ring.cy - ring.b), colour);
  // The exact position along one axis, rounded, and its three weights.
  auto groups = [&](double exact, auto place) {
    const float e = float(exact);
    const int rounded = RoundHalfAway(e);
    const float d = float(rounded) - e;
    place(rounded, ConeWeight(int(20.0f * d)));
    place(rounded + 1, ConeWeight(int(20.0f * (d + 1.0f))));
    place(rounded - 1, ConeWeight(int(20.0f * (d - 1.0f))));
  };
  WalkEllipse(
      ring.a, ring.b,
      [&](int x, int) {
        const double y = ring.b * std::sqrt(1.0 - double(x) * x / (double(ring.a) * ring.a));
        groups(y, [&](int row, float w) { DoSmoothEllipsePoints(ring, x, row, reduced, w); });
      },
      [&](int, int j) {
        const double x = ring.a * std::sqrt(1.0 - double(j - 1) * (j - 1) / (double(ring.b) * ring.b));
        groups(x, [&](int column, float w) { DoSmoothEllipsePoints(ring, column, j - 1, reduced, w); });
      });
}

template <class DrawRing> void FrameRings(Rect r, int16_t penWidth, DrawRing drawRing) {
  const int radius = std::min((r.right - r.left) / 2, (r.bottom - r.top) / 2);
  const int rings = radius > penWidth ? penWidth : radius - 1;
  for (int i = 0; i < rings; ++i) {
    drawRing(r);
    r = MakeRect(r.left + 1, r.top + 1, r.right - 1, r.bottom - 1);
  }
}

} // namespace

void MyFrameOval(const Rect &rect, RGBColor colour, int16_t penWidth) {
  FrameRings(rect, penWidth, [&](const Rect &r) { MyDoFrameOval(r, colour); });
}

void MySmoothFrameOval(const Rect &rect, RGBColor colour, int16_t penWidth) {
  if (!dstPixBase)
    return;
  FrameRings(rect, penWidth, [&](const Rect &r) { MyDoSmoothFrameOval(r, colour); });
}

void MyFillOval(const Rect &rect, RGBColor colour) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  const Ring ring(rect);
  const RGBColor savedFore = port->ForeColor();
  port->SetForeColor(colour);
  auto spans = [&](int x, int y) {
    port->MoveTo(ring.cx - x, ring.cy + y);
    port->LineTo(ring.cx + x, ring.cy + y);
    port->MoveTo(ring.cx - x, ring.cy - y);
    port->LineTo(ring.cx + x, ring.cy - y);
  };
  WalkEllipse(ring.a, ring.b, spans, [&](int x, int j) { spans(x, j - 1); });
  port->SetForeColor(savedFore);
  port->SetPixel(ring.cx, ring.cy + ring.b, colour);
  port->SetPixel(ring.cx, ring.cy - ring.b, colour);
}
