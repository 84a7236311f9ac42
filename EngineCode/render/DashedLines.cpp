#include "render/DashedLines.h"

#include "graphics/GraphicsPort.h"
#include "render/RasterPrimitives.h"
#include "render/SmoothLineWalk.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

using namespace ovgfx;

uint16_t gDashWidth = 0;
uint16_t gDashRepeat = 0;

namespace {

// The least number of periods of each kind of pattern.
constexpr int kMinOneColourPeriods = 3;
constexpr int kMinTwoColourPeriods = 2;

// A fraction outside 0..1 has no meaning as a share of a period (and could
// make the period's divisor 0).
float ClampFraction(float f) { return std::clamp(f, 0.0f, 1.0f); }

} // namespace

void QDrawDashedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour1, RGBColor colour2, int16_t style,
                     int16_t dashLength, float fraction) {
  GraphicsPort *port = CurrentPort();
  if (!port || (x1 == x2 && y1 == y2) || dashLength < 1)
    return;
  const float f = ClampFraction(fraction);
  const int dx = x2 - x1, dy = y2 - y1;
  const float len = float(std::sqrt(double(dx) * dx + double(dy) * dy));
  const float L = float(dashLength);
  int n;
  float stepX, stepY;
  if (style < 2) {
    n = std::max(RoundHalfAway((len + (1.0f - f) * L) / L), kMinOneColourPeriods);
    stepX = float(double(dx) / (double(f) + n - 1));
    stepY = float(double(dy) / (double(f) + n - 1));
  } else {
    n = std::max(RoundHalfAway(len / L), kMinTwoColourPeriods);
    stepX = float(double(dx) / n);
    stepY = float(double(dy) / n);
  }
  auto at = [&](float t, int &h, int &v) {
    h = RoundHalfAway(float(x1) + t * stepX);
    v = RoundHalfAway(float(y1) + t * stepY);
  };
  port->SetForeColor(colour1);
  for (int i = 0; i < n; ++i) {
    int h, v;
    at(float(i), h, v);
    port->MoveTo(h, v);
    at(float(i) + f, h, v);
    port->LineTo(h, v);
    if (style >= 2) {
      port->SetForeColor(colour2);
      at(float(i + 1), h, v);
      port->LineTo(h, v);
      port->SetForeColor(colour1);
    }
  }
}

void MyDrawSmoothDashedLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour1, RGBColor colour2,
                            int16_t style, int16_t dashLength, float fraction) {
  if (!dstPixBase)
    return;
  if (x1 == x2 && y1 == y2) {
    MySetCPixel(x1, y1, colour1);
    return;
  }
  if (dstBitDepth <= 15) {
    QDrawDashedLine(x1, y1, x2, y2, colour1, colour2, style, dashLength, fraction);
    return;
  }
  // The period divides by the dash length: a length below 1 draws nothing,
  // as in the pen form.
  if (dashLength < 1)
    return;
  const float f = ClampFraction(fraction);
  const float dx = float(x2 - x1), dy = float(y2 - y1);
  const float len = std::sqrt(dx * dx + dy * dy);
  const float q = dx != 0.0f ? 1.0f / len : 0.0f;
  const float s = dx != 0.0f ? dy / dx : 0.0f;
  const int extentX = std::abs(int(dx)), extentY = std::abs(int(dy));

  int ax = x1, ay = y1, bx = x2, by = y2;
  const bool steep = !(extentX > extentY);
  if ((!steep && dx < 0) || (steep && dy < 0)) {
    std::swap(ax, bx);
    std::swap(ay, by);
    if (style >= 2)
      std::swap(colour1, colour2);
  }

  const float L = float(dashLength);
  double step;
  if (style == 1) {
    const int n = std::max(RoundHalfAway(((1.0f - f) * L + len) / L), kMinOneColourPeriods);
    step = double(len) / (double(f) + n - 1);
  } else {
    const int n = std::max(RoundHalfAway(len / L), kMinTwoColourPeriods);
    step = double(len) / n;
  }
  gDashRepeat = uint16_t(std::clamp(std::floor(step), 0.0, 65535.0));
  gDashWidth = uint16_t(std::max(1, int(float(gDashRepeat) * f)));

  const BlendColour blend1(ReduceColor(colour1));
  const BlendColour blend2(style >= 2 ? ReduceColor(colour2) : RGBColor{});

  const Rect &clip = dstLineClipBounds;
  SmoothWalk w;
  w.steep = steep;
  w.ox = float(ax);
  w.oy = float(ay);
  w.s = s;
  if (steep && dx == 0.0f) {
    if (ax - 1 < clip.left || ax + 1 > clip.right)
      return;
    w.vertical = true;
    w.column = ax;
  }
  if (steep) {
    w.first = std::max(ay, int(clip.top));
    w.last = std::min(by, int(clip.bottom));
    w.k = 20.0f * std::fabs(dy) * q;
  } else {
    w.first = std::max(ax, int(clip.left));
    w.last = std::min(bx, int(clip.right));
    w.k = 20.0f * std::fabs(dx) * q;
  }

  // The dash counter counts drawn steps: when it reaches the dash width the
  // gap begins; when it reaches the period it restarts with a dash. With a
  // dash as long as the period the gap never ends.
  int counter = 0;
  bool dashOn = true;
  WalkSmoothLine(w, [&]() -> const BlendColour * {
    if (counter == gDashWidth) {
      dashOn = false;
    } else if (counter == gDashRepeat) {
      counter = 0;
      dashOn = true;
    }
    ++counter;
    if (dashOn)
      return &blend1;
    return style >= 2 ? &blend2 : nullptr;
  });
}
