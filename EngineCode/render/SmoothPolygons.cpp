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

// The point after i and the one before it, round the closed outline of n
// points (without a division).
inline size_t NextAround(size_t i, size_t n) { return i + 1 == n ? 0 : i + 1; }
inline size_t PreviousAround(size_t i, size_t n) { return i == 0 ? n - 1 : i - 1; }

float SignedArea(const RealPoint *p, size_t n) {
  float a = 0.0f;
  for (size_t i = 0; i < n; i++) {
    const RealPoint &u = p[i], &v = p[NextAround(i, n)];
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
// Up to four edges, one register per field: unused edges have top +inf and
// bottom -inf, so that no sub-row meets them.
struct FourEdges {
  float top[4], bottom[4], x[4], slope[4];
};

// The least and greatest x at which each of the four sub-rows `ys` crosses
// the edges, each edge's x worked out as in the scalar loop:
// x + (ys - top) x slope. An edge a sub-row misses, or whose x is not a
// number, is left out.
inline void ConvexExtremes(const FourEdges &e, __m128 ys, __m128 &lo, __m128 &hi) {
  lo = _mm_set1_ps(INFINITY);
  hi = _mm_set1_ps(-INFINITY);
  for (int k = 0; k < 4; k++) {
    const __m128 top = _mm_set1_ps(e.top[k]);
    const __m128 x = _mm_add_ps(_mm_set1_ps(e.x[k]), _mm_mul_ps(_mm_sub_ps(ys, top), _mm_set1_ps(e.slope[k])));
    const __m128 use =
        _mm_and_ps(_mm_and_ps(_mm_cmple_ps(top, ys), _mm_cmplt_ps(ys, _mm_set1_ps(e.bottom[k]))), _mm_cmpord_ps(x, x));
    lo = _mm_min_ps(lo, _mm_or_ps(_mm_and_ps(use, x), _mm_andnot_ps(use, _mm_set1_ps(INFINITY))));
    hi = _mm_max_ps(hi, _mm_or_ps(_mm_and_ps(use, x), _mm_andnot_ps(use, _mm_set1_ps(-INFINITY))));
  }
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
    const RealPoint &a = points[i], &b = points[NextAround(i, count)];
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
  static_assert(kPolygonSubRows == 4, "the four sub-rows of a row share one register");
  float subRowOffsets[4];
  if (fourEdges) {
    for (size_t k = 0; k < 4; k++) {
      four.top[k] = k < edgeCount ? edges[k].top : INFINITY;
      four.bottom[k] = k < edgeCount ? edges[k].bottom : -INFINITY;
      four.x[k] = k < edgeCount ? edges[k].x : 0.0f;
      four.slope[k] = k < edgeCount ? edges[k].slope : 0.0f;
    }
    for (int s = 0; s < 4; s++)
      subRowOffsets[s] = (float(s) + 0.5f) * share;
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
#ifdef __SSE2__
    if (fourEdges) {
      __m128 lo, hi;
      ConvexExtremes(four, _mm_add_ps(_mm_set1_ps(float(y)), _mm_loadu_ps(subRowOffsets)), lo, hi);
      float los[4], his[4];
      _mm_storeu_ps(los, lo);
      _mm_storeu_ps(his, hi);
      for (int s = 0; s < 4; s++)
        if (los[s] < his[s])
          spans.Add(los[s], his[s], share);
      PaintRow(row, spans, solid, blend, opacity);
      continue;
    }
#endif
    for (int s = 0; s < kPolygonSubRows; s++) {
      const float ys = float(y) + (float(s) + 0.5f) * share;
      if (convex) {
        float lo = INFINITY, hi = -INFINITY;
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
  // Each edge's outward unit normal, worked out once for the two corners
  // it meets; an edge without length has none.
  struct Normal {
    float x, y;
    bool has;
  };
  std::array<RealPoint, 16> small;
  std::array<Normal, 16> smallNormals;
  std::vector<RealPoint> large;
  std::vector<Normal> largeNormals;
  RealPoint *out = small.data();
  Normal *normals = smallNormals.data();
  if (count > small.size()) {
    large.resize(count);
    largeNormals.resize(count);
    out = large.data();
    normals = largeNormals.data();
  }
  for (size_t i = 0; i < count; i++) {
    const RealPoint &a = points[i], &b = points[NextAround(i, count)];
    const float len = std::hypot(b.x - a.x, b.y - a.y);
    normals[i].has = len > 0.0f;
    if (normals[i].has) {
      normals[i].x = sign * (b.y - a.y) / len;
      normals[i].y = -sign * (b.x - a.x) / len;
    }
  }
  for (size_t i = 0; i < count; i++) {
    size_t prev = PreviousAround(i, count);
    for (size_t k = 0; !normals[prev].has && k < count; k++)
      prev = PreviousAround(prev, count);
    size_t next = i;
    for (size_t k = 0; !normals[next].has && k < count; k++)
      next = NextAround(next, count);
    const float n1x = normals[prev].has ? normals[prev].x : 0.0f, n1y = normals[prev].has ? normals[prev].y : 0.0f;
    const float n2x = normals[next].has ? normals[next].x : 0.0f, n2y = normals[next].has ? normals[next].y : 0.0f;
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
    const RealPoint seg[2] = {points[i], points[NextAround(i, count)]};
    MyFillGrownConvexPolygon(seg, 2, half, colour, opacity);
  }
}
