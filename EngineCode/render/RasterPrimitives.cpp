#include "render/RasterPrimitives.h"

#include "graphics/GraphicsPort.h"
#include "render/SmoothLineWalk.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

using namespace ovgfx;

PixelBuffer *dstPixMap = nullptr;
uint8_t *dstPixBase = nullptr;
uint32_t dstRowbytes = 0;
int16_t dstBitDepth = 0;
Rect dstPixBounds;
Rect dstPixClipBounds;
Rect dstLineClipBounds;
StripOfPicture gStripOfPicture;

namespace {

// Vertical lines of the fractional forms: a horizontal extent at most this
// small counts as none.
constexpr float kVerticalTolerance = 1e-5f;

// The line state of the last set-up: absolute extents and slope.
struct LineState {
  int dx = 0;
  int dy = 0;
  float m = 0;
};
LineState gLine;

inline uint32_t *PixelAddress32(int x, int y) {
  return reinterpret_cast<uint32_t *>(dstPixBase + size_t(y - dstPixBounds.top) * dstRowbytes) +
         (x - dstPixBounds.left);
}

inline void SetBit(int x, int y) {
  const int c = x - dstPixBounds.left;
  dstPixBase[size_t(y - dstPixBounds.top) * dstRowbytes + size_t(c >> 3)] |= uint8_t(0x80u >> (c & 7));
}

// Orders the end points so that the driving coordinate grows from the first
// to the second and fills the line state. Answers whether the line is steep
// (a diagonal counts as steep).
bool SetUpLine(int &x1, int &y1, int &x2, int &y2) {
  int dx = x2 - x1, dy = y2 - y1;
  if (x1 != x2)
    gLine.m = float(double(dy) / double(dx));
  const bool steep = !(std::abs(dx) > std::abs(dy));
  if ((!steep && dx < 0) || (steep && dy < 0)) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  gLine.dx = std::abs(dx);
  gLine.dy = std::abs(dy);
  return steep;
}

// The one-pixel stepper over ordered end points, reading the line state;
// `put` writes one pixel known to lie inside the clip.
template <class Put> void StepLine(int x1, int y1, int x2, int y2, bool steep, Put put) {
  const Rect &clip = dstPixClipBounds;
  if (steep && gLine.dx == 0) {
    if (x1 < clip.left || x1 > clip.right)
      return;
    for (int y = std::max(y1, int(clip.top)); y <= std::min(y2, int(clip.bottom)); ++y)
      put(x1, y);
    return;
  }
  if (steep) {
    const int first = std::max(y1, int(clip.top)), last = std::min(y2, int(clip.bottom));
    const float step = 1.0f / gLine.m;
    float xa = float(x1) + float(first - y1) * step;
    for (int y = first; y <= last; ++y, xa += step) {
      const int x = int(xa);
      if (x >= clip.left && x <= clip.right)
        put(x, y);
    }
    return;
  }
  const int first = std::max(x1, int(clip.left)), last = std::min(x2, int(clip.right));
  float ya = float(y1) + float(first - x1) * gLine.m;
  for (int x = first; x <= last; ++x, ya += gLine.m) {
    const int y = int(ya);
    if (y >= clip.top && y <= clip.bottom)
      put(x, y);
  }
}

// Draws one set-up line at the target's depth.
void DrawSetUpLine(int x1, int y1, int x2, int y2, bool steep, const RGBColor &colour) {
  if (dstBitDepth == 1) {
    StepLine(x1, y1, x2, y2, steep, [](int x, int y) { SetBit(x, y); });
  } else if (dstBitDepth == 32) {
    const uint32_t pixel = RGBColorToPixel32(colour);
    StepLine(x1, y1, x2, y2, steep, [pixel](int x, int y) { *PixelAddress32(x, y) = pixel; });
  }
}

// Fractional end points must be numbers small enough for integer arithmetic
// on them; a line with any other end point is not drawn.
constexpr float kCoordinateLimit = 1.0e8f;
bool UsableEndPoints(float x1, float y1, float x2, float y2) {
  for (float v : {x1, y1, x2, y2})
    if (!(std::fabs(v) < kCoordinateLimit))
      return false;
  return true;
}

// The one-pixel line takes 16-bit coordinates.
bool Fits16(int x1, int y1, int x2, int y2) {
  for (int v : {x1, y1, x2, y2})
    if (v < INT16_MIN || v > INT16_MAX)
      return false;
  return true;
}

// Whether none of the pixels of an anti-aliased line between fractional
// points lies in the rows of the strip being drawn (OutsideStripRows). The
// walk steps from one integer end point to the other, each up to `endSlack`
// pixels beyond its fractional end, where the ideal line lies `endSlack`
// times the slope further on; a step's row, or its position across a
// shallow line rounded to a row, carries the core of `coreHigh` pixels and
// a blended pixel on each side.
bool LineOutsideStrip(float x1, float y1, float x2, float y2, float endSlack, int coreHigh) {
  if (!DrawingStripOfPicture())
    return false;
  const float dx = std::fabs(x2 - x1), dy = std::fabs(y2 - y1);
  const float slope = dx > 0.0f ? dy / dx : 0.0f;
  const float reach = endSlack * std::max(slope, 1.0f) + float(coreHigh) + 2.0f;
  return OutsideStripRows(std::min(y1, y2) - reach, std::max(y1, y2) + reach);
}

bool WhollyOutsideClip(int x1, int y1, int x2, int y2) {
  const Rect &c = dstLineClipBounds;
  return (x1 < c.left && x2 < c.left) || (y1 < c.top && y2 < c.top) || (x1 > c.right && x2 > c.right) ||
         (y1 > c.bottom && y2 > c.bottom);
}

// The walk of an anti-aliased line between fractional points whose integer
// end points (ix, iy) decide the ordering and the driving range; `coreLow`
// and `coreHigh` give the cross-section. Answers false when a vertical
// line's cross-section does not fit the clip (nothing to draw).
bool SetUpRealWalk(SmoothWalk &w, float fx1, float fy1, float fx2, float fy2, int ix1, int iy1, int ix2, int iy2,
                   int coreLow, int coreHigh) {
  const Rect &clip = dstLineClipBounds;
  const float fdx = fx2 - fx1, fdy = fy2 - fy1;
  const bool vertical = std::fabs(fdx) <= kVerticalTolerance;
  float s = 0, q = 0;
  if (!vertical) {
    s = fdy / fdx; // the double quotient rounded, as for the integer line
    q = 1.0f / std::sqrt(fdx * fdx + fdy * fdy);
  }
  const int dx = ix2 - ix1, dy = iy2 - iy1;
  const bool steep = !(std::abs(dx) > std::abs(dy));
  if ((!steep && dx < 0) || (steep && dy < 0)) {
    std::swap(ix1, ix2);
    std::swap(iy1, iy2);
    std::swap(fx1, fx2);
    std::swap(fy1, fy2);
  }
  // The second end point belongs to the line only within a pixel of the
  // diagonal; one beyond the clip is cut to the clip's last row or column.
  const bool nearDiagonal = std::abs(std::abs(dx) - std::abs(dy)) <= 1;
  auto lastStep = [nearDiagonal](int end, int clipMax) {
    if (end > clipMax)
      return clipMax;
    return nearDiagonal ? end : end - 1;
  };
  w.steep = steep;
  w.coreLow = coreLow;
  w.coreHigh = coreHigh;
  w.ox = fx1;
  w.oy = fy1;
  w.s = s;
  if (steep) {
    w.first = std::max(iy1, int(clip.top));
    w.last = lastStep(iy2, clip.bottom);
    w.k = 20.0f * std::fabs(fdy) * q;
  } else {
    w.first = std::max(ix1, int(clip.left));
    w.last = lastStep(ix2, clip.right);
    w.k = 20.0f * std::fabs(fdx) * q;
  }
  // A steep line without slope (vertical, or too small to divide by) has
  // fixed weights.
  if (steep && (vertical || s == 0.0f)) {
    w.vertical = true;
    w.column = ix1;
    return ix1 - coreLow - 1 >= clip.left && ix1 + coreHigh + 1 <= clip.right;
  }
  return true;
}

} // namespace

// ---- Target ----------------------------------------------------------------------------

void ForgetSavedTargets(const PixelBuffer *freed);

namespace {

void ClearTarget() {
  dstPixMap = nullptr;
  dstPixBase = nullptr;
  dstRowbytes = 0;
  dstBitDepth = 0;
  dstPixBounds = Rect{};
  dstPixClipBounds = Rect{};
  dstLineClipBounds = Rect{};
}

// The target outlives the drawing session on purpose (the cell frame is
// drawn after the model's session ends), but never its pixels: once they
// are freed there is no target.
PixTargetSaver *gInnermostSaver = nullptr;

void ForgetFreedTarget(const PixelBuffer *freed) {
  if (freed == dstPixMap)
    ClearTarget();
  ForgetSavedTargets(freed);
}

} // namespace

void ForgetSavedTargets(const PixelBuffer *freed) {
  for (PixTargetSaver *s = gInnermostSaver; s; s = s->outer_)
    if (s->pixMap_ == freed) {
      s->pixMap_ = nullptr;
      s->pixBase_ = nullptr;
      s->rowBytes_ = 0;
      s->bitDepth_ = 0;
      s->pixBounds_ = Rect{};
      s->pixClipBounds_ = Rect{};
      s->lineClipBounds_ = Rect{};
    }
}

PixTargetSaver::PixTargetSaver()
    : port_(CurrentPort()), pixMap_(dstPixMap), pixBase_(dstPixBase), rowBytes_(dstRowbytes), bitDepth_(dstBitDepth),
      pixBounds_(dstPixBounds), pixClipBounds_(dstPixClipBounds), lineClipBounds_(dstLineClipBounds),
      outer_(gInnermostSaver) {
  PixelBuffer::SetReleaseObserver(ForgetFreedTarget);
  gInnermostSaver = this;
}

PixTargetSaver::PixTargetSaver(GraphicsPort *port) : PixTargetSaver() { SetCurrentPort(port); }

PixTargetSaver::~PixTargetSaver() {
  gInnermostSaver = outer_;
  SetCurrentPort(port_);
  dstPixMap = pixMap_;
  dstPixBase = pixBase_;
  dstRowbytes = rowBytes_;
  dstBitDepth = bitDepth_;
  dstPixBounds = pixBounds_;
  dstPixClipBounds = pixClipBounds_;
  dstLineClipBounds = lineClipBounds_;
}

void GetCurrentPixGlobals() {
  PixelBuffer::SetReleaseObserver(ForgetFreedTarget);
  GraphicsPort *port = CurrentPort();
  dstPixMap = port ? port->Pixels() : nullptr;
  if (!dstPixMap) {
    ClearTarget();
    return;
  }
  dstPixBase = dstPixMap->BaseAddr();
  dstRowbytes = dstPixMap->RowBytes();
  dstBitDepth = dstPixMap->Depth();
  dstPixBounds = dstPixMap->Bounds();
  Rect clip = dstPixBounds;
  const Rect box = port->Clip().Bounds();
  clip.top = std::max(clip.top, box.top);
  clip.left = std::max(clip.left, box.left);
  clip.bottom = std::min(clip.bottom, box.bottom);
  clip.right = std::min(clip.right, box.right);
  clip.right = int16_t(clip.right - 1);
  clip.bottom = int16_t(clip.bottom - 1);
  dstPixClipBounds = clip;
  dstLineClipBounds = clip;
  if (gStripOfPicture.pixels == dstPixMap) {
    dstLineClipBounds.top = std::max(gStripOfPicture.picture.top, box.top);
    dstLineClipBounds.bottom = int16_t(std::min(gStripOfPicture.picture.bottom, box.bottom) - 1);
  }
}

void DisposeCurrentPixGlobals() {
  // Our pixels never move, so there is nothing to unlock.
}

// ---- Helpers ------------------------------------------------------------------------------

float ConeWeight(int index) { return ConeWeightInline(index); }

int RoundHalfAway(float value) { return RoundHalfAwayInline(value); }

// ---- Pixels ----------------------------------------------------------------------------------

void MySetCPixel(int16_t x, int16_t y, RGBColor colour) {
  const Rect &c = dstPixClipBounds;
  if (!dstPixBase || x < c.left || x > c.right || y < c.top || y > c.bottom)
    return;
  if (dstBitDepth == 1)
    SetBit(x, y);
  else if (dstBitDepth == 32)
    *PixelAddress32(x, y) = RGBColorToPixel32(colour);
}

void MyPickNMix32BitColors(int16_t x, int16_t y, RGBColor reduced, float weight) {
  BlendPixel32(*PixelAddress32(x, y), reduced, weight);
}

void MyBlendColors(RGBColor &result, RGBColor a, RGBColor b, float w) {
  const float rest = 1.0f - w;
  result.red = uint16_t(float(a.red) * w + float(b.red) * rest);
  result.green = uint16_t(float(a.green) * w + float(b.green) * rest);
  result.blue = uint16_t(float(a.blue) * w + float(b.blue) * rest);
}

// ---- One-pixel and thick lines ------------------------------------------------------------

void MyDrawStandardLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour) {
  if (!dstPixBase)
    return;
  if (x1 == x2 && y1 == y2) {
    MySetCPixel(x1, y1, colour);
    return;
  }
  int ax = x1, ay = y1, bx = x2, by = y2;
  const bool steep = SetUpLine(ax, ay, bx, by);
  DrawSetUpLine(ax, ay, bx, by, steep, colour);
}

void MyDrawThickLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, int16_t width, RGBColor colour) {
  if (!dstPixBase)
    return;
  if (x1 == x2 && y1 == y2) {
    MySetCPixel(x1, y1, colour);
    return;
  }
  if (width <= 0)
    return;
  int ax = x1, ay = y1, bx = x2, by = y2;
  const bool steep = SetUpLine(ax, ay, bx, by);
  for (int i = 0; i < width; ++i) {
    if (steep)
      DrawSetUpLine(ax + i, ay, bx + i, by, steep, colour);
    else
      DrawSetUpLine(ax, ay + i, bx, by + i, steep, colour);
  }
}

// ---- Anti-aliased lines ---------------------------------------------------------------------

int16_t MyDrawSmoothLine(int16_t x1, int16_t y1, int16_t x2, int16_t y2, RGBColor colour) {
  if (!dstPixBase || WhollyOutsideClip(x1, y1, x2, y2))
    return 0;
  if (x1 == x2 && y1 == y2) {
    MySetCPixel(x1, y1, colour);
    return 1;
  }
  if (dstBitDepth <= 15) {
    MyDrawStandardLine(x1, y1, x2, y2, colour);
    return 1;
  }
  const Rect &clip = dstLineClipBounds;
  int ax = x1, ay = y1, bx = x2, by = y2;
  const int dx = bx - ax, dy = by - ay;
  float s = 0, q = 0;
  if (dx != 0) {
    // The slope is the double quotient rounded to a float; dividing the
    // floats gives that same float (double carries more than twice a
    // float's digits, so rounding twice changes nothing), sooner.
    s = float(dy) / float(dx);
    q = 1.0f / std::sqrt(float(int64_t(dx) * dx + int64_t(dy) * dy));
  }
  const int extentX = std::abs(dx), extentY = std::abs(dy);
  const bool steep = !(extentX > extentY);
  if ((!steep && dx < 0) || (steep && dy < 0)) {
    std::swap(ax, bx);
    std::swap(ay, by);
  }

  SmoothWalk w;
  w.steep = steep;
  w.ox = float(ax);
  w.oy = float(ay);
  w.s = s;
  if (steep && dx == 0) {
    if (ax - 1 < clip.left || ax + 1 > clip.right)
      return 0;
    w.vertical = true;
    w.column = ax;
  }
  if (steep) {
    w.first = std::max(ay, int(clip.top));
    w.last = std::min(by, int(clip.bottom));
    w.k = float(20 * extentY) * q;
  } else {
    w.first = std::max(ax, int(clip.left));
    w.last = std::min(bx, int(clip.right));
    w.k = float(20 * extentX) * q;
  }
  const BlendColour blend(ReduceColor(colour));
  WalkSmoothLine(w, [&blend] { return &blend; });
  return 1;
}

void MyDrawRealSmoothLine(float x1, float y1, float x2, float y2, RGBColor colour) {
  if (!dstPixBase || !UsableEndPoints(x1, y1, x2, y2))
    return;
  if (LineOutsideStrip(x1, y1, x2, y2, 0.5f, 0))
    return;
  const int ix1 = RoundHalfAway(x1), iy1 = RoundHalfAway(y1);
  const int ix2 = RoundHalfAway(x2), iy2 = RoundHalfAway(y2);
  if (WhollyOutsideClip(ix1, iy1, ix2, iy2))
    return;
  if (ix1 == ix2 && iy1 == iy2) {
    MySetCPixel(int16_t(ix1), int16_t(iy1), colour);
    return;
  }
  if (dstBitDepth <= 15) {
    if (Fits16(ix1, iy1, ix2, iy2))
      MyDrawStandardLine(int16_t(ix1), int16_t(iy1), int16_t(ix2), int16_t(iy2), colour);
    return;
  }
  SmoothWalk w;
  if (!SetUpRealWalk(w, x1, y1, x2, y2, ix1, iy1, ix2, iy2, 0, 0))
    return;
  const BlendColour blend(ReduceColor(colour));
  WalkSmoothLine(w, [&blend] { return &blend; });
}

void MyDrawRealSmoothThickLine(float x1, float y1, float x2, float y2, int16_t width, RGBColor colour) {
  if (!dstPixBase || !UsableEndPoints(x1, y1, x2, y2))
    return;
  if (LineOutsideStrip(x1, y1, x2, y2, 1.0f, std::max<int>(width, 0) / 2))
    return;
  const int ix1 = int(x1), iy1 = int(y1), ix2 = int(x2), iy2 = int(y2);
  if (WhollyOutsideClip(ix1, iy1, ix2, iy2))
    return;
  if (ix1 == ix2 && iy1 == iy2) {
    MySetCPixel(int16_t(ix1), int16_t(iy1), colour);
    return;
  }
  if (dstBitDepth <= 15) {
    if (Fits16(ix1, iy1, ix2, iy2))
      MyDrawStandardLine(int16_t(ix1), int16_t(iy1), int16_t(ix2), int16_t(iy2), colour);
    return;
  }
  // A negative width would put the two outer pixels on the wrong sides of
  // the clip test and let them be written outside the pixels.
  const int w = std::max<int>(width, 0);
  const int coreHigh = w / 2;
  const int coreLow = w > 0 ? (w - 1) / 2 : 0;
  SmoothWalk walk;
  if (!SetUpRealWalk(walk, x1, y1, x2, y2, ix1, iy1, ix2, iy2, coreLow, coreHigh))
    return;
  const BlendColour blend(ReduceColor(colour));
  WalkSmoothLine(walk, [&blend] { return &blend; });
}
