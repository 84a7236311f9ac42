#include "render/UnitCellFrame.h"

#include "CancelPoll.h"
#include "PlotRange.h"
#include "Preferences.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "graphics/QtBridge.h"
#include "render/AtomLabels.h"
#include "render/DrawingHelpers.h"
#include "render/BondDrawing.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

int16_t gIUnitCellLineWidth = 1;

namespace {

// Points made between two readings of the clock for the cancel key.
constexpr int64_t kCellFrameCancelEvery = 4096;
// Within a plot, points made between two of the plot walk's checks (which
// read the clock every few checks).
constexpr int64_t kCellFramePlotCheckEvery = 256;

// A pixel coordinate: rounded half away from zero and kept inside 16 bits;
// a coordinate that is not a number (a degenerate orientation) becomes 0
// rather than reaching integer pixel code.
int16_t PixelCoordinate(float v) {
  if (!std::isfinite(v))
    return v > 0.0f ? std::numeric_limits<int16_t>::max() : (v < 0.0f ? std::numeric_limits<int16_t>::min() : 0);
  // Within 16 bits a float plus or minus a half is exact in double, and its
  // truncation is the rounding; beyond them the limit is the answer.
  const float held = std::clamp(v, -32768.0f, 32767.0f);
  return static_cast<int16_t>(double(held) + (held < 0.0f ? -0.5 : 0.5));
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
void MakeUnitCell(CrystalRec *crystal, bool withPixels) {
  if (!crystal)
    return;
  CrystalRec &c = *crystal;
  // The last frame's storage serves the new one: a plot makes the frame
  // afresh every time, and a large frame would take fresh pages each time.
  std::vector<CellPoint> points = std::move(c.cellPoints);
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
  if (total < 1 || total > kMaxArrayRecords)
    return;
  try {
    points.clear();
    points.reserve(static_cast<size_t>(total));
  } catch (const std::bad_alloc &) {
    return;
  }
  // A frame of many cells takes seconds: it hears the cancel key, through
  // the plot's check within a plot, else through its own; a stopped frame
  // leaves no cell points.
  std::optional<CancelPoll> ownCheck;
  if (withPixels)
    ownCheck.emplace(kCellFrameCancelEvery);
  int64_t sincePlotCheck = 0;
  bool stopped = false;
  auto heard = [&] {
    if (ownCheck)
      return ownCheck->Step();
    if (++sincePlotCheck < kCellFramePlotCheckEvery)
      return false;
    sincePlotCheck = 0;
    return PlotWalkCancelled();
  };

  // One line along `axis` through the corner `base` (fractional coordinates
  // of the two other axes; its own is replaced point by point).
  size_t next = 0;
  const bool solid = c.unitCellOptions[kCellOptionSolidLines] != 0;
  auto addLine = [&](int axis, float base0, float base1, float base2) {
    const FramedAxis &framed = axes[axis];
    const int64_t n = framed.points;
    const size_t first = next;
    for (int64_t k = 0; k < n; k++) {
      if ((stopped = stopped || heard()))
        return;
      float xyz[3] = {base0, base1, base2};
      xyz[axis] = static_cast<float>(framed.start) +
                  static_cast<float>(framed.count) * static_cast<float>(k) / static_cast<float>(n - 1);
      CellPoint &p = points.emplace_back(gBlankCellPoint);
      next++;
      MatMul(c.orientationMatrix, xyz, p.cart);
      if (withPixels)
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

  if (stopped) {
    points.clear();
    c.cellPoints = std::move(points);
    return;
  }
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

// ---- Drawing the frame ---------------------------------------------------------

namespace {

// Opacity above which a piece is drawn opaque.
constexpr float kOpaqueFrame = 0.9999f;

void FramePieceLine(float x1, float y1, float x2, float y2, const int16_t from[2], const int16_t to[2], int16_t dx,
                    int16_t dy, RGBColor colour) {
  if (gUseFastRotn)
    MyDrawStandardLine(static_cast<int16_t>(from[0] + dx), static_cast<int16_t>(from[1] + dy),
                       static_cast<int16_t>(to[0] + dx), static_cast<int16_t>(to[1] + dy), colour);
  else
    MyDrawRealSmoothLine(x1 + dx, y1 + dy, x2 + dx, y2 + dy, colour);
}

} // namespace

void PlotCellFrameSegment(CrystalRec *crystal, uint32_t i) {
  if (!crystal || i >= UsableRecords(crystal->cellPoints.size(), crystal->cellPointCount))
    return;
  CrystalRec &c = *crystal;
  const CellPoint &p = c.cellPoints[i];
  const bool depthSorted = c.unitCellOptions[kCellOptionDepthSorted] != 0;
  float t = 1.0f;
  if (c.depthFading && (!c.showUnitCell || depthSorted))
    t = DepthOfZ(c, p.cart[2]);
  RGBColor colour;
  float opacity = 1.0f;
  DepthShading(&c, t, c.unitCellColor, colour, opacity);
  const int16_t width = std::max<int16_t>(gIUnitCellLineWidth, 1);
  // The linked points that lie no higher: the pieces drawn at this turn.
  const size_t count = UsableRecords(c.cellPoints.size(), c.cellPointCount);
  const CellPoint *lower[2];
  int pieces = 0;
  for (int l = 0; l < std::clamp<int>(p.linkCount, 0, 2); l++)
    if (p.links[l] < count && c.cellPoints[p.links[l]].cart[2] <= p.cart[2])
      lower[pieces++] = &c.cellPoints[p.links[l]];

  if (gPlotMethod == kPixelPlotMethod && opacity > kOpaqueFrame) {
    // A fast frame's one-pixel pieces join the integer pixels: only the
    // other lines need the unrounded ends.
    const bool real = !gUseFastRotn || width >= 2;
    const PixelProjector project(c, gHPixels, gVPixels);
    float a[2] = {0.0f, 0.0f};
    if (real)
      project.Real(p.cart, a);
    for (int l = 0; l < pieces; l++) {
      const CellPoint &q = *lower[l];
      float b[2] = {0.0f, 0.0f};
      if (real)
        project.Real(q.cart, b);
      if (width < 2) {
        FramePieceLine(a[0], a[1], b[0], b[1], p.pixel, q.pixel, 0, 0, colour);
        continue;
      }
      // w lines one pixel apart, across the piece's longer extent.
      const bool acrossX = std::fabs(b[0] - a[0]) <= std::fabs(b[1] - a[1]);
      for (int16_t k = 0; k < width; k++) {
        const int16_t offset = static_cast<int16_t>(k - width / 2);
        FramePieceLine(a[0], a[1], b[0], b[1], p.pixel, q.pixel, acrossX ? offset : 0, acrossX ? 0 : offset, colour);
      }
    }
  } else if (ovgfx::GraphicsPort *port = ovgfx::CurrentPort()) {
    const RGBColor savedFore = port->ForeColor();
    port->SetForeColor(colour);
    if (opacity < 1.0f) {
      const uint16_t g = static_cast<uint16_t>(std::clamp(opacity, 0.0f, 1.0f) * 65535.0f);
      port->SetPenMode(ovgfx::kPenBlend);
      port->SetOpColor(RGBColor{g, g, g});
    }
    port->PenSize(width, width);
    for (int l = 0; l < pieces; l++) {
      port->MoveTo(p.pixel[0], p.pixel[1]);
      port->LineTo(lower[l]->pixel[0], lower[l]->pixel[1]);
    }
    port->PenNormal();
    port->SetForeColor(savedFore);
  }
  if (p.labelled)
    LabelCellPoint(&c, i, c.hiliteColor, opacity);
}

// ---- The axes glyph --------------------------------------------------------------

void GetAxesRect(const Rect &rect, float r, Rect &square) {
  const int32_t side = static_cast<int32_t>(kAxesSquareSide * r);
  square.top = static_cast<int16_t>(rect.bottom - side);
  square.left = rect.left;
  square.bottom = rect.bottom;
  square.right = static_cast<int16_t>(rect.left + side);
}

void DrawAxes(CrystalRec *crystal, const Rect &plotRect, float r) {
  ovgfx::GraphicsPort *port = ovgfx::CurrentPort();
  if (!crystal || !port || !(crystal->plotScale > 0.0f))
    return;
  CrystalRec &c = *crystal;
  const RGBColor savedFore = port->ForeColor();
  const int16_t savedSize = port->TextSize();
  const uint8_t savedPerspective = c.perspective;
  c.perspective = 0;
  GetCurrentPixGlobals();

  port->SetTextSize(static_cast<int16_t>(std::max<int>(kMinAxisLabelSize, RoundHalfAway(kAxisLabelSize * r))));
  const int16_t pen = static_cast<int16_t>(std::max(1, RoundHalfAway(r)));
  const char *labels = c.axesOption == kAxesLabelledXYZ ? "oxyz" : "0abc";

  // Each arrow is 36 r pixels long whatever the cell's shape.
  const float lengths[3] = {c.a, c.b, c.c};
  const float arrow = kAxisArrowLength * r;
  const float coneRadius = kAxisConeRadius * r / c.plotScale;
  const float coneLength = kAxisConeLengthFactor * coneRadius;
  const float shaftFraction = 1.0f - kAxisConeLengthFactor * kAxisConeRadius * r / arrow;
  float tips[3][3], shafts[3][3], origin[3] = {0.0f, 0.0f, 0.0f};
  for (int i = 0; i < 3; i++) {
    float frac[3] = {0.0f, 0.0f, 0.0f};
    frac[i] = lengths[i] > 0.0f ? arrow / (c.plotScale * lengths[i]) : 0.0f;
    MatMul(c.orientationMatrix, frac, tips[i]);
    frac[i] *= shaftFraction;
    MatMul(c.orientationMatrix, frac, shafts[i]);
  }

  // Move the glyph so that the mean of the origin and the tips projects to
  // the centre of the square and lies at the plot centre's depth; then, when
  // a label or a cone would stand outside the plot, move it in by as many
  // pixels as it lacks.
  Rect square;
  GetAxesRect(plotRect, r, square);
  float mean[3];
  for (int k = 0; k < 3; k++)
    mean[k] = (origin[k] + tips[0][k] + tips[1][k] + tips[2][k]) / 4.0f;
  const int32_t dx = (gHPixels - (square.left + square.right)) / 2;
  const int32_t dy = (gVPixels - (square.top + square.bottom)) / 2;
  float inverse[9];
  const bool invertible = Inv3x3Mat(c.orientationMatrix, inverse);
  const float baseOrigin[3] = {origin[0], origin[1], origin[2]};
  float baseTips[3][3], baseShafts[3][3];
  for (int i = 0; i < 3; i++)
    for (int k = 0; k < 3; k++) {
      baseTips[i][k] = tips[i][k];
      baseShafts[i][k] = shafts[i][k];
    }
  int16_t originPixel[2], tipPixels[3][2], shaftPixels[3][2];
  auto place = [&](int32_t moveH, int32_t moveV) {
    const float target[3] = {c.plotCentre[0] - static_cast<float>(dx - moveH) / c.plotScale,
                             c.plotCentre[1] + static_cast<float>(dy - moveV) / c.plotScale, c.plotCentre[2]};
    float shift[3];
    VecDiff(target, mean, shift);
    VecAdd(baseOrigin, shift, origin);
    for (int i = 0; i < 3; i++) {
      VecAdd(baseTips[i], shift, tips[i]);
      VecAdd(baseShafts[i], shift, shafts[i]);
    }
    Xor2Xpix(&c, origin, originPixel, gHPixels, gVPixels);
    for (int i = 0; i < 3; i++) {
      Xor2Xpix(&c, tips[i], tipPixels[i], gHPixels, gVPixels);
      Xor2Xpix(&c, shafts[i], shaftPixels[i], gHPixels, gVPixels);
    }
  };
  // Where each label's baseline starts.
  auto labelAt = [&](int i, float *lx, float *ly) {
    const char text[2] = {labels[i + 1], 0};
    *lx = static_cast<float>(originPixel[0]) + kAxisLabelReach * static_cast<float>(tipPixels[i][0] - originPixel[0]) -
          static_cast<float>(port->TextWidth(text)) / 2.0f;
    *ly = static_cast<float>(originPixel[1]) + kAxisLabelReach * static_cast<float>(tipPixels[i][1] - originPixel[1]) +
          kAxisLabelDrop * r;
  };
  place(0, 0);
  {
    const QFontMetricsF metrics(ovgfx::MakeFont(port->TextFont(), port->TextSize(), port->TextFace()),
                                ovgfx::MeasureDevice());
    const float ascent = static_cast<float>(metrics.ascent()), descent = static_cast<float>(metrics.descent());
    const float cone = kAxisConeRadius * r;
    float left = originPixel[0], right = originPixel[0], top = originPixel[1], bottom = originPixel[1];
    for (int i = 0; i < 3; i++) {
      const char text[2] = {labels[i + 1], 0};
      float lx, ly;
      labelAt(i, &lx, &ly);
      left = std::min({left, lx, tipPixels[i][0] - cone});
      right = std::max({right, lx + static_cast<float>(port->TextWidth(text)), tipPixels[i][0] + cone});
      top = std::min({top, ly - ascent, tipPixels[i][1] - cone});
      bottom = std::max({bottom, ly + descent, tipPixels[i][1] + cone});
    }
    const float inset = static_cast<float>(kAxesGlyphInset);
    int32_t moveH = 0, moveV = 0;
    if (left < plotRect.left + inset)
      moveH = static_cast<int32_t>(std::ceil(plotRect.left + inset - left));
    else if (right > plotRect.right - inset)
      moveH = -static_cast<int32_t>(std::ceil(right - (plotRect.right - inset)));
    if (bottom > plotRect.bottom - inset)
      moveV = -static_cast<int32_t>(std::ceil(bottom - (plotRect.bottom - inset)));
    else if (top < plotRect.top + inset)
      moveV = static_cast<int32_t>(std::ceil(plotRect.top + inset - top));
    if (moveH != 0 || moveV != 0)
      place(moveH, moveV);
  }

  // Farthest first; level items keep the order origin, a, b, c.
  int order[4] = {0, 1, 2, 3};
  auto depth = [&](int item) { return item == 0 ? origin[2] : tips[item - 1][2]; };
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (int k = 0; k + 1 < 4; k++)
      if (depth(order[k]) > depth(order[k + 1])) {
        std::swap(order[k], order[k + 1]);
        swapped = true;
      }
  }

  for (int item : order) {
    if (item == 0) {
      for (int i = 0; i < 3; i++)
        MyDrawLine(originPixel[0], originPixel[1], shaftPixels[i][0], shaftPixels[i][1], c.axisColors[i], pen);
      continue;
    }
    const int i = item - 1;
    const char text[2] = {labels[item], 0};
    auto drawLabel = [&]() {
      float lx, ly;
      labelAt(i, &lx, &ly);
      port->SetForeColor(c.axisColors[i]);
      port->MoveTo(static_cast<int>(lx), static_cast<int>(ly));
      port->DrawString(text);
    };
    auto drawCone = [&]() {
      if (!invertible)
        return;
      float foot[3], tip[3], offset[3];
      MatMul(inverse, shafts[i], foot);
      MatMul(inverse, tips[i], tip);
      VecDiff(tip, foot, offset);
      DrawArrowCone(&c, foot, offset, 0.1f, coneRadius, coneLength, c.axisColors[i], 0);
    };
    if (origin[2] > tips[i][2]) {
      drawLabel();
      drawCone();
    } else {
      drawCone();
      drawLabel();
    }
  }

  DisposeCurrentPixGlobals();
  port->SetTextSize(savedSize);
  port->SetForeColor(savedFore);
  c.perspective = savedPerspective;
}
