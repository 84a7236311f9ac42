#include "render/SmoothPolygons.h"

#include "render/DrawingHelpers.h"
#include "render/RasterPrimitives.h"
#include "render/SmoothLineWalk.h"

#include "graphics/GraphicsTypes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Corners of a mitre stay within this many times the growth of the vertex.
constexpr float kMiterLimit = 2.0f;
// Polygons with less area than this (square pixels) count as a segment.
constexpr float kDegenerateArea = 1e-4f;

struct Crossing {
  float x;
  int winding;
};

// Scratch rows, reused between calls: the coverage of pixels a span edge
// cuts, and the differences of the whole pixels spans cover (summed along
// the row when it is painted). Both are all zero between rows: painting a
// row clears every entry its spans wrote.
std::vector<float> gCoverage;
std::vector<float> gWhole;
std::vector<Crossing> gCrossings;

// floor for values well within int range, without a call or a rounding-mode
// change.
inline int FloorToInt(float v) {
  const int t = int(v);
  return float(t) > v ? t - 1 : t;
}

// The span [x0, x1) at weight w added to the rows, which start at `left`
// (`part` and `whole` point at pixel 0), widening [touchedFrom, touchedTo]
// to the pixels it reaches.
struct SpanRows {
  float *part;
  float *whole;
  int left, right;
  int touchedFrom, touchedTo;

  void Add(float x0, float x1, float w) {
    x0 = std::max(x0, float(left));
    x1 = std::min(x1, float(right) + 1.0f);
    if (!(x1 > x0))
      return;
    const int i0 = FloorToInt(x0), i1 = FloorToInt(x1);
    touchedFrom = std::min(touchedFrom, i0);
    touchedTo = std::max(touchedTo, std::min(i1, right));
    if (i0 == i1) {
      part[i0] += (x1 - x0) * w;
      return;
    }
    part[i0] += (float(i0 + 1) - x0) * w;
    if (i1 > i0 + 1) {
      whole[i0 + 1] += w;
      whole[i1] -= w; // one past the row's end has room
    }
    if (i1 <= right)
      part[i1] += (x1 - float(i1)) * w;
  }
};

// Whether every pixel of the polygon grown by `reach` lies outside the rows
// of the strip being drawn (OutsideStripRows); false for a point that is not
// finite, which the fill leaves out on its own.
bool OutsideStrip(const RealPoint *points, size_t count, float reach) {
  if (!DrawingStripOfPicture())
    return false;
  float top = INFINITY, bottom = -INFINITY;
  for (size_t i = 0; i < count; i++) {
    if (!std::isfinite(points[i].y))
      return false;
    top = std::min(top, points[i].y);
    bottom = std::max(bottom, points[i].y);
  }
  // The fill's rows reach from floor(top) to ceil(bottom) - 1.
  return OutsideStripRows(top - reach - 1.0f, bottom + reach);
}

float SignedArea(const RealPoint *p, size_t n) {
  float a = 0.0f;
  for (size_t i = 0; i < n; i++) {
    const RealPoint &u = p[i], &v = p[(i + 1) % n];
    a += u.x * v.y - v.x * u.y;
  }
  return a / 2.0f;
}

} // namespace

namespace {

struct Edge {
  float top, bottom; // y range, top < bottom
  float x, slope;    // x at top, dx / dy
  int winding;
};
std::vector<Edge> gEdges;

#ifdef __SSE2__
struct FourEdges {
  __m128 top, bottom, x, slope; // unused lanes: top +inf, bottom -inf
};

// The least and greatest x at which the sub-row at `ys` crosses the edges,
// each edge's x worked out as in the scalar loop: x + (ys - top) x slope.
// An edge the sub-row misses, or whose x is not a number, takes no part.
inline void ConvexExtremes(const FourEdges &e, float ys, float &lo, float &hi) {
  const __m128 y = _mm_set1_ps(ys);
  const __m128 x = _mm_add_ps(e.x, _mm_mul_ps(_mm_sub_ps(y, e.top), e.slope));
  const __m128 use =
      _mm_and_ps(_mm_and_ps(_mm_cmple_ps(e.top, y), _mm_cmplt_ps(y, e.bottom)), _mm_cmpord_ps(x, x));
  const __m128 lows = _mm_or_ps(_mm_and_ps(use, x), _mm_andnot_ps(use, _mm_set1_ps(INFINITY)));
  const __m128 highs = _mm_or_ps(_mm_and_ps(use, x), _mm_andnot_ps(use, _mm_set1_ps(-INFINITY)));
  __m128 l = _mm_min_ps(lows, _mm_shuffle_ps(lows, lows, _MM_SHUFFLE(1, 0, 3, 2)));
  l = _mm_min_ps(l, _mm_shuffle_ps(l, l, _MM_SHUFFLE(2, 3, 0, 1)));
  __m128 h = _mm_max_ps(highs, _mm_shuffle_ps(highs, highs, _MM_SHUFFLE(1, 0, 3, 2)));
  h = _mm_max_ps(h, _mm_shuffle_ps(h, h, _MM_SHUFFLE(2, 3, 0, 1)));
  lo = _mm_cvtss_f32(l);
  hi = _mm_cvtss_f32(h);
}
#endif

// Paints one row from its coverage, clearing the entries it reads.
void PaintRow(uint32_t *row, SpanRows &spans, uint32_t solid, const BlendColour &colour, float opacity) {
  const int from = spans.touchedFrom, to = spans.touchedTo;
  float *part = spans.part, *whole = spans.whole;
  float running = 0.0f;
  for (int x = from; x <= to; x++) {
    running += whole[x];
    whole[x] = 0.0f;
    const float w = std::min(running + part[x], 1.0f) * opacity;
    part[x] = 0.0f;
    if (w >= 1.0f)
      row[x] = solid;
    else if (w > 0.0f)
      row[x] = colour.Over(row[x], w);
  }
  whole[to + 1] = 0.0f;
}

// The fill; a convex polygon takes one span per sub-row.
void FillPolygon(const RealPoint *points, size_t count, RGBColor colour, float opacity, bool convex) {
  if (!dstPixBase || dstBitDepth != 32 || !points || count < 3 || !(opacity > 0.0f))
    return;
  float top = points[0].y, bottom = points[0].y, minX = points[0].x, maxX = points[0].x;
  for (size_t i = 0; i < count; i++) {
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y))
      return;
    top = std::min(top, points[i].y);
    bottom = std::max(bottom, points[i].y);
    minX = std::min(minX, points[i].x);
    maxX = std::max(maxX, points[i].x);
  }
  const Rect &clip = dstPixClipBounds;
  // Clamped to the clip before any conversion, so that no row or column
  // beyond the picture is asked for.
  const int rowFrom = ClampToPixel(std::floor(top), clip.top, clip.bottom + 1);
  const int rowTo = ClampToPixel(std::ceil(bottom) - 1.0f, clip.top - 1, clip.bottom);
  const int left = ClampToPixel(std::floor(minX), clip.left, clip.right + 1);
  const int right = ClampToPixel(std::ceil(maxX), clip.left - 1, clip.right);
  if (rowFrom > rowTo || left > right)
    return;
  const size_t width = size_t(right - left + 1);
  if (gCoverage.size() < width)
    gCoverage.resize(width, 0.0f);
  if (gWhole.size() < width + 1)
    gWhole.resize(width + 1, 0.0f);
  const uint32_t solid = ovgfx::PackPixel32(0xFF, colour.red >> 8, colour.green >> 8, colour.blue >> 8);
  const BlendColour blend(ReduceColor(colour));
  const float share = 1.0f / float(kPolygonSubRows);
  gEdges.clear();
  for (size_t i = 0; i < count; i++) {
    const RealPoint &a = points[i], &b = points[(i + 1) % count];
    if (a.y == b.y)
      continue;
    const bool down = b.y > a.y;
    const RealPoint &t = down ? a : b, &u = down ? b : a;
    gEdges.push_back({t.y, u.y, t.x, (u.x - t.x) / (u.y - t.y), down ? 1 : -1});
  }
  const Edge *edges = gEdges.data();
  const size_t edgeCount = gEdges.size();
#ifdef __SSE2__
  // The strips of cylinders have four edges: side by side in one register.
  const bool fourEdges = convex && edgeCount <= 4;
  FourEdges four;
  if (fourEdges) {
    float tops[4] = {INFINITY, INFINITY, INFINITY, INFINITY}, bottoms[4] = {-INFINITY, -INFINITY, -INFINITY, -INFINITY};
    float xs[4] = {}, slopes[4] = {};
    for (size_t k = 0; k < edgeCount; k++) {
      tops[k] = edges[k].top;
      bottoms[k] = edges[k].bottom;
      xs[k] = edges[k].x;
      slopes[k] = edges[k].slope;
    }
    four = {_mm_loadu_ps(tops), _mm_loadu_ps(bottoms), _mm_loadu_ps(xs), _mm_loadu_ps(slopes)};
  }
#endif
  SpanRows spans{gCoverage.data() - left, gWhole.data() - left, left, right, 0, 0};
  uint8_t *const base = dstPixBase;
  const size_t rowBytes = dstRowbytes;
  const int pixTop = dstPixBounds.top, pixLeft = dstPixBounds.left;
  // Rows are fetched a few rows ahead of their painting: in a large picture
  // they are rarely in the cache.
  constexpr int kRowsAhead = 2;
  for (int y = rowFrom - kRowsAhead; y <= rowTo; y++) {
    if (y + kRowsAhead <= rowTo) {
      const uint8_t *ahead = base + size_t(y + kRowsAhead - pixTop) * rowBytes;
      for (int x = left; x <= right; x += 16)
        __builtin_prefetch(ahead + size_t(x - pixLeft) * 4, 1);
      __builtin_prefetch(ahead + size_t(right - pixLeft) * 4, 1);
    }
    if (y < rowFrom)
      continue;
    uint32_t *row = reinterpret_cast<uint32_t *>(base + size_t(y - pixTop) * rowBytes) - pixLeft;
    spans.touchedFrom = right + 1;
    spans.touchedTo = left - 1;
    for (int s = 0; s < kPolygonSubRows; s++) {
      const float ys = float(y) + (float(s) + 0.5f) * share;
      if (convex) {
        float lo = INFINITY, hi = -INFINITY;
#ifdef __SSE2__
        if (fourEdges) {
          ConvexExtremes(four, ys, lo, hi);
        } else
#endif
        {
          // Every edge is worked out and those the sub-row misses are left
          // out of the extremes, so that no branch depends on the edge.
          for (size_t k = 0; k < edgeCount; k++) {
            const Edge &e = edges[k];
            const bool crosses = e.top <= ys && ys < e.bottom;
            const float x = e.x + (ys - e.top) * e.slope;
            lo = std::min(lo, crosses ? x : INFINITY);
            hi = std::max(hi, crosses ? x : -INFINITY);
          }
        }
        if (lo < hi)
          spans.Add(lo, hi, share);
        continue;
      }
      gCrossings.clear();
      for (const Edge &e : gEdges)
        if (e.top <= ys && ys < e.bottom)
          gCrossings.push_back({e.x + (ys - e.top) * e.slope, e.winding});
      if (gCrossings.size() < 2)
        continue;
      std::sort(gCrossings.begin(), gCrossings.end(), [](const Crossing &p, const Crossing &q) { return p.x < q.x; });
      int winding = 0;
      for (size_t k = 0; k + 1 < gCrossings.size(); k++) {
        winding += gCrossings[k].winding;
        if (winding != 0)
          spans.Add(gCrossings[k].x, gCrossings[k + 1].x, share);
      }
    }
    PaintRow(row, spans, solid, blend, opacity);
  }
}

} // namespace

void MyFillSmoothPolygon(const RealPoint *points, size_t count, RGBColor colour, float opacity) {
  FillPolygon(points, count, colour, opacity, false);
}

void MyFillGrownConvexPolygon(const RealPoint *points, size_t count, float grow, RGBColor colour, float opacity) {
  if (!points || count < 2)
    return;
  // A corner moves by at most twice the mitre limit times the growth (a
  // shrinking polygon's mitres are not held).
  if (OutsideStrip(points, count, grow >= 0.0f ? 2.0f * kMiterLimit * grow : INFINITY))
    return;
  const float area = count >= 3 ? SignedArea(points, count) : 0.0f;
  if (std::fabs(area) < kDegenerateArea) {
    // A sliver: the segment between its two farthest points.
    size_t a = 0, b = 0;
    float best = -1.0f;
    for (size_t i = 0; i < count; i++)
      for (size_t j = i + 1; j < count; j++) {
        const float d = std::hypot(points[j].x - points[i].x, points[j].y - points[i].y);
        if (d > best) {
          best = d;
          a = i;
          b = j;
        }
      }
    float ux = 1.0f, uy = 0.0f;
    if (best > 0.0f) {
      ux = (points[b].x - points[a].x) / best;
      uy = (points[b].y - points[a].y) / best;
    }
    const float nx = -uy * grow, ny = ux * grow, ex = ux * grow, ey = uy * grow;
    const RealPoint quad[4] = {{points[a].x - ex + nx, points[a].y - ey + ny},
                               {points[b].x + ex + nx, points[b].y + ey + ny},
                               {points[b].x + ex - nx, points[b].y + ey - ny},
                               {points[a].x - ex - nx, points[a].y - ey - ny}};
    FillPolygon(quad, 4, colour, opacity, true);
    return;
  }
  // Outward normals: (dy, -dx) along each edge of a polygon of positive
  // area (clockwise on the screen, y down), the opposite otherwise.
  const float sign = area > 0.0f ? 1.0f : -1.0f;
  std::array<RealPoint, 16> small;
  std::vector<RealPoint> large;
  RealPoint *out = small.data();
  if (count > small.size()) {
    large.resize(count);
    out = large.data();
  }
  const auto normal = [&](size_t i, float &nx, float &ny) {
    const RealPoint &a = points[i], &b = points[(i + 1) % count];
    const float len = std::hypot(b.x - a.x, b.y - a.y);
    if (!(len > 0.0f))
      return false;
    nx = sign * (b.y - a.y) / len;
    ny = -sign * (b.x - a.x) / len;
    return true;
  };
  for (size_t i = 0; i < count; i++) {
    float n1x = 0, n1y = 0, n2x = 0, n2y = 0;
    size_t prev = (i + count - 1) % count;
    bool has1 = normal(prev, n1x, n1y);
    for (size_t k = 0; !has1 && k < count; k++) {
      prev = (prev + count - 1) % count;
      has1 = normal(prev, n1x, n1y);
    }
    size_t next = i;
    bool has2 = normal(next, n2x, n2y);
    for (size_t k = 0; !has2 && k < count; k++) {
      next = (next + 1) % count;
      has2 = normal(next, n2x, n2y);
    }
    const float mx = n1x + n2x, my = n1y + n2y;
    const float denom = 1.0f + n1x * n2x + n1y * n2y;
    float scale = denom > 0.0f ? grow / denom : grow;
    scale = std::min(scale, kMiterLimit * grow);
    out[i] = {points[i].x + mx * scale, points[i].y + my * scale};
  }
  FillPolygon(out, count, colour, opacity, true);
}

void MyFrameSmoothPolygon(const RealPoint *points, size_t count, float width, RGBColor colour, float opacity) {
  if (!points || count < 2)
    return;
  const float half = std::max(width, 1.0f) / 2.0f;
  for (size_t i = 0; i < count; i++) {
    const RealPoint seg[2] = {points[i], points[(i + 1) % count]};
    MyFillGrownConvexPolygon(seg, 2, half, colour, opacity);
  }
}
