#include "render/UnitCellFrame.h"

#include "PlotRange.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "render/PlotPipeline.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A pixel coordinate: rounded half away from zero and kept inside 16 bits;
// a coordinate that is not a number (a degenerate orientation) becomes 0
// rather than reaching integer pixel code.
int16_t PixelCoordinate(float v) {
  if (!std::isfinite(v))
    return v > 0.0f ? std::numeric_limits<int16_t>::max() : (v < 0.0f ? std::numeric_limits<int16_t>::min() : 0);
  const float r = std::round(v);
  if (r >= 32767.0f)
    return std::numeric_limits<int16_t>::max();
  if (r <= -32768.0f)
    return std::numeric_limits<int16_t>::min();
  return static_cast<int16_t>(r);
}

// The plot's projection of a view point into a plot of the given width and
// height: px = (x - centre x) x scale + W / 2, py = H / 2 - (y - centre y) x
// scale; with perspective the scale is multiplied by D / (D + front z - z),
// so that the nearest plotted object keeps the plot scale.
void ProjectToPixels(const CrystalRec &c, const float xyz[3], int16_t pixel[2], int16_t width, int16_t height) {
  float scale = c.plotScale;
  if (c.perspective) {
    const float f = c.viewDistance / (c.viewDistance + c.frontZ - xyz[2]);
    scale = scale * f;
  }
  const float px = (xyz[0] - c.plotCentre[0]) * scale + static_cast<float>(width) / 2.0f;
  const float py = static_cast<float>(height) / 2.0f - (xyz[1] - c.plotCentre[1]) * scale;
  pixel[0] = PixelCoordinate(px);
  pixel[1] = PixelCoordinate(py);
}

// One framed axis: the first framed cell, how many cells, and the number of
// points of each line along the axis.
struct FramedAxis {
  int32_t start = 0;
  int32_t count = 1;
  int64_t points = 2;
};

// Points per cell along an axis: the edge's pixel length over the piece
// length, plus one, at most 128, made even.
int64_t Subdivisions(const CrystalRec &c, int axis, float pieceLength) {
  const float origin[3] = {0.0f, 0.0f, 0.0f};
  float unit[3] = {0.0f, 0.0f, 0.0f};
  unit[axis] = 1.0f;
  float o[3], u[3];
  MatMul(c.orientationMatrix, origin, o);
  MatMul(c.orientationMatrix, unit, u);
  int16_t po[2], pu[2];
  ProjectToPixels(c, o, po, gHPixels, gVPixels);
  ProjectToPixels(c, u, pu, gHPixels, gVPixels);
  const float dx = static_cast<float>(pu[0] - po[0]);
  const float dy = static_cast<float>(pu[1] - po[1]);
  const float length = std::sqrt(dx * dx + dy * dy);
  const float s = std::floor(length / pieceLength + 1.0f);
  int64_t n = (std::isfinite(s) && s < static_cast<float>(kMaxCellEdgeSubdivisions)) ? static_cast<int64_t>(s)
                                                                                     : kMaxCellEdgeSubdivisions;
  n = std::max<int64_t>(n, 1);
  if (n % 2 != 0)
    n++;
  return n;
}

} // namespace

void AddCellPointLine(std::span<CellPoint> points, uint32_t i, uint32_t j) {
  if (i == j || i >= points.size() || j >= points.size())
    return;
  CellPoint &p = points[i];
  CellPoint &q = points[j];
  if (p.linkCount >= 2 || q.linkCount >= 2 || p.linkCount < 0 || q.linkCount < 0)
    return;
  p.links[p.linkCount++] = j;
  q.links[q.linkCount++] = i;
}

namespace ovrender {
void MakeUnitCell(CrystalRec *crystal) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  DestroyCellPts(&c);

  const float pieceLength = (c.unitCellLineWidth - 1.0f) * kCellPieceWidthFactor + kCellPieceBase;

  // Which cells to frame along each axis.
  FramedAxis axes[3];
  int32_t counts[3] = {1, 1, 1};
  CalculateNumCellsForCrystal(&c, &counts[0], &counts[1], &counts[2]);
  for (int k = 0; k < 3; k++) {
    const float lo = c.plotRange[2 * k];
    const float hi = c.plotRange[2 * k + 1];
    FramedAxis &axis = axes[k];
    if (c.unitCellOptions[kCellOptionOneCellOnly]) {
      axis.count = 1;
      const float middle = std::floor((lo + hi) / 2.0f);
      axis.start = std::isfinite(middle) ? static_cast<int32_t>(std::clamp(middle, -1.0e6f, 1.0e6f)) : 0;
      continue;
    }
    axis.count = counts[k];
    axis.start = 0;
    if (axis.count > 1) {
      if (lo > kCellFrameLowCut) {
        axis.count--;
        axis.start = 1;
      }
      const float fraction = hi - std::floor(hi);
      if (fraction < kCellFrameHighCut && axis.count >= 2)
        axis.count--;
    }
  }
  for (int k = 0; k < 3; k++)
    axes[k].points = Subdivisions(c, k, pieceLength) * axes[k].count;

  // Three blocks of lines; the number of lines of each is the product of the
  // framed cell counts plus one along the two other axes.
  const int64_t lines[3] = {int64_t{axes[1].count + 1} * (axes[2].count + 1),
                            int64_t{axes[0].count + 1} * (axes[2].count + 1),
                            int64_t{axes[0].count + 1} * (axes[1].count + 1)};
  int64_t total = 0;
  for (int k = 0; k < 3; k++) {
    total += lines[k] * axes[k].points;
    if (total > kMaxArrayRecords)
      return;
  }
  auto made = CreateCellPoints(static_cast<int32_t>(total));
  if (!made)
    return;
  std::vector<CellPoint> points = std::move(*made);

  // One line along `axis` through the corner `base` (fractional coordinates
  // of the two other axes; its own is replaced point by point).
  size_t next = 0;
  const bool solid = c.unitCellOptions[kCellOptionSolidLines] != 0;
  auto addLine = [&](int axis, float base0, float base1, float base2) {
    const FramedAxis &framed = axes[axis];
    const int64_t n = framed.points;
    const size_t first = next;
    for (int64_t k = 0; k < n; k++) {
      float xyz[3] = {base0, base1, base2};
      xyz[axis] = static_cast<float>(framed.start) +
                  static_cast<float>(framed.count) * static_cast<float>(k) / static_cast<float>(n - 1);
      CellPoint &p = points[next++];
      MatMul(c.orientationMatrix, xyz, p.cart);
      ProjectToPixels(c, p.cart, p.pixel, gHPixels, gVPixels);
    }
    // Dashed lines link the pairs (0, 1), (2, 3), ...: with an even number of
    // points the first and the last piece are both drawn.
    for (int64_t k = 0; k + 1 < n; k++)
      if (solid || (k + 1) % 2 == 1)
        AddCellPointLine(points, static_cast<uint32_t>(first + static_cast<size_t>(k)),
                         static_cast<uint32_t>(first + static_cast<size_t>(k) + 1));
  };
  auto at = [&](int axis, int32_t i) { return static_cast<float>(axes[axis].start + i); };

  // Lines along a: c outermost, then b.
  for (int32_t k = 0; k <= axes[2].count; k++)
    for (int32_t j = 0; j <= axes[1].count; j++)
      addLine(0, 0.0f, at(1, j), at(2, k));
  const size_t blockA = next;
  // Lines along b: c outermost, then a.
  for (int32_t k = 0; k <= axes[2].count; k++)
    for (int32_t i = 0; i <= axes[0].count; i++)
      addLine(1, at(0, i), 0.0f, at(2, k));
  const size_t blockB = next;
  // Lines along c: a outermost, then b.
  for (int32_t i = 0; i <= axes[0].count; i++)
    for (int32_t j = 0; j <= axes[1].count; j++)
      addLine(2, at(0, i), at(1, j), 0.0f);

  if (c.unitCellOptions[kCellOptionLabelCorners]) {
    points[0].labelled = 1;
    points[static_cast<size_t>(axes[0].points) - 1].labelled = 1;
    points[blockA + static_cast<size_t>(axes[1].points) - 1].labelled = 1;
    points[blockB + static_cast<size_t>(axes[2].points) - 1].labelled = 1;
  }
  c.cellPoints = std::move(points);
  c.cellPointCount = static_cast<int32_t>(c.cellPoints.size());
}
} // namespace ovrender
