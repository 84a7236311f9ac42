#include "render/PolygonFill.h"

#include "graphics/GraphicsTypes.h"
#include "render/RasterPrimitives.h"

#include <algorithm>
#include <utility>

using namespace ovgfx;

namespace {

// A span's ends before any crossing reached the row.
constexpr int kNoSpanStart = 32767;
constexpr int kNoSpanEnd = -32768;

Point ppt[kMaxPolygonPoints];
uint32_t numPolygonPts = 0;
// Per row of the fill: the first column of the span and the column just
// past its last.
int lineXPix[kMaxPolygonRows][2];
int16_t polyXmin, polyXmax, polyYmin, polyYmax;

void InitLineXPix(int rows) {
  for (int i = 0; i < std::min(rows, kMaxPolygonRows); ++i) {
    lineXPix[i][0] = kNoSpanStart;
    lineXPix[i][1] = kNoSpanEnd;
  }
}

void AddPolyEdgePoint(float x, int row) {
  const int entry = row - polyYmin;
  if (entry < 0 || entry >= kMaxPolygonRows)
    return;
  int &start = lineXPix[entry][0];
  int &end = lineXPix[entry][1];
  const int t = int(x);
  if (t < start) {
    const int previous = start;
    start = t + (x > float(t) ? 1 : 0);
    if (previous != kNoSpanStart && previous > end)
      end = previous;
  } else if (t > end) {
    end = t + 1;
  }
}

// Adds the crossings of one edge with the rows inside the clip.
void GetLineXPix(int x1, int y1, int x2, int y2) {
  if (y1 > y2) {
    std::swap(x1, x2);
    std::swap(y1, y2);
  }
  const Rect &clip = dstPixClipBounds;
  if (y2 < clip.top || y1 > clip.bottom)
    return;
  const int first = std::max(y1, int(clip.top)), last = std::min(y2, int(clip.bottom));
  if (y1 == y2) {
    AddPolyEdgePoint(float(x1), y1);
    AddPolyEdgePoint(float(x2), y1);
    return;
  }
  if (x1 == x2) {
    for (int row = first; row <= last; ++row)
      AddPolyEdgePoint(float(x1), row);
    return;
  }
  const float m = float(double(y2 - y1) / double(x2 - x1));
  const float step = 1.0f / m;
  float x = float(x1) + float(first - y1) * step;
  for (int row = first; row <= last; ++row, x += step)
    AddPolyEdgePoint(x, row);
}

} // namespace

void MyOpenPolygon() { numPolygonPts = 0; }

void MyAddPolygonVertex(int16_t x, int16_t y) {
  if (numPolygonPts >= kMaxPolygonPoints)
    return;
  ppt[numPolygonPts++] = Point{y, x};
}

int16_t MyDrawPolygon(RGBColor colour, bool smooth) {
  // Only 32-bit targets take the fill's pixels; anything else would be
  // written past its rows.
  if (!dstPixBase || dstBitDepth != 32)
    return 0;
  const uint32_t fill = RGBColorToPixel32(colour);
  const Rect &clip = dstPixClipBounds;

  polyXmin = 32767;
  polyYmin = 32767;
  polyXmax = -32768;
  polyYmax = -32768;
  for (uint32_t i = 0; i < numPolygonPts; ++i) {
    polyXmin = std::min(polyXmin, ppt[i].h);
    polyXmax = std::max(polyXmax, ppt[i].h);
    polyYmin = std::min(polyYmin, ppt[i].v);
    polyYmax = std::max(polyYmax, ppt[i].v);
  }
  if (polyYmin > clip.bottom || polyYmax < clip.top || polyXmin > clip.right || polyXmax < clip.left)
    return 0;

  polyYmin = std::max(polyYmin, clip.top);
  polyYmax = int16_t(std::min(polyYmax, clip.bottom) + 1);
  InitLineXPix(polyYmax - polyYmin);

  const uint32_t n = numPolygonPts;
  for (uint32_t i = 0; i < n; ++i) {
    const Point &a = ppt[i], &b = ppt[(i + 1) % n];
    GetLineXPix(a.h, a.v, b.h, b.v);
  }

  if (smooth) {
    for (uint32_t i = 0; i < n; ++i) {
      const Point &a = ppt[i], &b = ppt[(i + 1) % n];
      MyDrawSmoothLine(a.h, a.v, b.h, b.v, colour);
    }
    // The lowest row is left to the outline.
    if (polyYmax < clip.bottom)
      --polyYmax;
  }

  const int lastRow = std::min(int(polyYmax), polyYmin + kMaxPolygonRows);
  for (int row = polyYmin; row < lastRow; ++row) {
    const int *span = lineXPix[row - polyYmin];
    const int x0 = std::max(span[0], int(clip.left));
    const int x1 = std::min(span[1], clip.right + 1);
    if (x0 >= x1)
      continue;
    uint32_t *pixels =
        reinterpret_cast<uint32_t *>(dstPixBase + size_t(row - dstPixBounds.top) * dstRowbytes) - dstPixBounds.left;
    std::fill(pixels + x0, pixels + x1, fill);
  }
  return 1;
}
