#include "render/EllipsoidDrawing.h"

#include "ColourHelpers.h"
#include "EllipsoidMaths.h"
#include "Geometry.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/EllipsoidStrokes.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RenderGlobals.h"
#include "render/TextStamps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace ovgfx;

const float gDashLengths[2] = {2.0f, 2.0f};

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 2.0f * kPi;
// The font of the axis labels.
constexpr const char *kAxisLabelFont = "Geneva";
constexpr float kAxisLabelSize = 10.0f;

void Sub(const float a[3], const float b[3], float out[3]) { VecDiff(a, b, out); }

// The sines and cosines of the angles k 2 pi / n, k below n, as (sin, cos)
// pairs: the ellipsoids of a model share a few sizes, so the turns of each
// count up to a bound are worked out once and kept.
const std::vector<float> &Turns(int n) {
  constexpr int kKept = 2048;
  static std::vector<std::vector<float>> kept(kKept + 1);
  static std::vector<float> once;
  std::vector<float> &turns = n <= kKept ? kept[size_t(n)] : once;
  if (turns.size() == size_t(2 * n))
    return turns;
  turns.resize(size_t(2 * n));
  for (int k = 0; k < n; ++k) {
    const float t = float(k) * kTwoPi / float(n);
    turns[size_t(2 * k)] = std::sin(t);
    turns[size_t(2 * k + 1)] = std::cos(t);
  }
  return turns;
}

// Outlines and principal ellipses carry a few vertices a pixel of their size,
// which counts at most as the picture's larger side: an ellipsoid bigger than
// the picture asks for no more.
int PictureSpan() { return std::max({int(gHPixels), int(gVPixels), 1}); }

// The painter point of a view point: the real-valued projection, moved to
// the pixel centre so that an ellipse centred on an atom covers the atom's
// pixel symmetrically.
void Project(const CrystalRec &c, const float xyz[3], float &x, float &y) {
  float p[2] = {0.0f, 0.0f};
  Xor2RealXpix(&c, xyz, p, gHPixels, gVPixels);
  x = p[0] + 0.5f;
  y = p[1] + 0.5f;
}

void ToView(const CrystalRec &c, const float fractional[3], float view[3]) {
  MatMul(c.orientationMatrix, fractional, view);
}

void SetFill(Painter &p, const float c[3], float alpha) { p.SetFillColor(c[0], c[1], c[2], alpha); }
void SetStroke(Painter &p, const float c[3], float alpha) { p.SetStrokeColor(c[0], c[1], c[2], alpha); }

// Adds a segment, or `n` consecutive points from `first` wrapping round the
// array, to the painter's path as a new subpath.
template <class Path> void AddSegment(Path &p, const CrystalRec &c, const float a[3], const float b[3]) {
  float x0, y0, x1, y1;
  Project(c, a, x0, y0);
  Project(c, b, x1, y1);
  p.MoveToPoint(x0, y0);
  p.AddLineToPoint(x1, y1);
}
// Adds n points (x, y pairs) as a new subpath.
template <class Path> void AddPoints(Path &p, const float *xy, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    if (k == 0)
      p.MoveToPoint(xy[0], xy[1]);
    else
      p.AddLineToPoint(xy[2 * k], xy[2 * k + 1]);
  }
}
void AddPoints(EllipsoidStroke &p, const float *xy, size_t n) { p.AddPolyline(xy, n); }
// The projected points of a run, kept from one run to the next (main thread
// only).
std::vector<float> gRunPoints;
template <class Path>
void AddRun(Path &p, const CrystalRec &c, const std::vector<EllipsoidPoint> &pts, size_t first, size_t n) {
  gRunPoints.resize(2 * n);
  float *xy = gRunPoints.data();
  const size_t size = pts.size();
  size_t at = first % size;
  for (size_t k = 0; k < n; ++k) {
    Project(c, pts[at].data(), xy[2 * k], xy[2 * k + 1]);
    if (++at == size)
      at = 0;
  }
  AddPoints(p, xy, n);
}

// Adds the ellipse polygon of MyDrawEllipse to the path; false when it has
// no size.
template <class Path>
bool AddEllipsePath(Path &path, const CrystalRec &c, const float b1[3], const float b2[3], const float centre[3]);

// How a principal ellipse lies on the screen: seen edge on (a line through
// its point `start` and the opposite one, in front), face on (a closed curve
// in front), or cut by the outline into a front half from `start` and a back
// half from `back`, each count/2 + 1 points.
struct PrincipalHalves {
  enum Kind : uint8_t { kNone, kEdgeOn, kFaceOn, kCut } kind = kNone;
  size_t start = 0, back = 0;
};
PrincipalHalves SplitPrincipal(const std::vector<EllipsoidPoint> &points, const float b1[3], const float b2[3]);

// Adds the front halves of a principal ellipse (`front`) or its back half to
// the path.
template <class Path>
void AddPrincipalHalves(Path &path, const CrystalRec &c, const std::vector<EllipsoidPoint> &points,
                        const PrincipalHalves &halves, bool front);

template <class Path>
void AddOctantStripes(Path &path, const CrystalRec &c, const float tipA[3], const float tipB[3], const float centre[3],
                      int n) {
  for (int i = 1; i <= n; ++i) {
    const float f = float(i) / float(n + 1);
    const float reach = std::sqrt(1.0f - f * f);
    float start[3], end[3];
    for (int k = 0; k < 3; ++k) {
      start[k] = f * tipA[k] + (1.0f - f) * centre[k];
      end[k] = start[k] + (tipB[k] - centre[k]) * reach;
    }
    AddSegment(path, c, start, end);
  }
}

// The front octant of a principal ellipse: the quarter from its point 0 to
// its point count/4 and the centre, filled, then the two radii stroked.
void FillSolidOctant(EllipsoidStroke &lines, const CrystalRec &c, const std::vector<EllipsoidPoint> &points,
                     const float colour[3], float fillOpacity, float lineOpacity) {
  const size_t count = points.size();
  if (count < 4)
    return;
  float centre[3];
  for (int k = 0; k < 3; ++k)
    centre[k] = (points[0][size_t(k)] + points[count / 2][size_t(k)]) / 2.0f;
  static std::vector<float> polygon; // kept from one octant to the next
  polygon.clear();
  for (size_t k = 0; k <= count / 4; ++k) {
    float x, y;
    Project(c, points[k].data(), x, y);
    polygon.push_back(x);
    polygon.push_back(y);
  }
  float x, y;
  Project(c, centre, x, y);
  polygon.push_back(x);
  polygon.push_back(y);
  // One colour at full opacity over pixels covered whole (a fast rotation
  // frame) goes straight into them.
  const bool asMade = fillOpacity >= 1.0f && lineOpacity >= 1.0f && lines.LayAsMade(colour);
  lines.FillConvexPolygon(polygon.data(), polygon.size() / 2);
  lines.Blend(colour, fillOpacity);
  // The radii from the polygon's own corners.
  for (size_t end : {count / 4, size_t(0)}) {
    lines.MoveToPoint(polygon[2 * end], polygon[2 * end + 1]);
    lines.AddLineToPoint(x, y);
    lines.Blend(colour, lineOpacity);
  }
  if (asMade)
    lines.LayGathered();
}

// The solid lines of the ellipsoid being drawn (main thread only).
EllipsoidStroke gLines;

// Starts the solid lines over the box of the outline with semi-axis ends b1
// and b2, wide enough for lines of the ellipsoid's width and for rounding.
void BeginLines(GraphicsPort &port, const CrystalRec &c, const float b1[3], const float b2[3], const float centre[3],
                EllipsoidStroke &lines) {
  PixelBuffer *pixels = port.Pixels();
  float cx, cy, x1, y1, x2, y2;
  Project(c, centre, cx, cy);
  Project(c, b1, x1, y1);
  Project(c, b2, x2, y2);
  const float width = float(gPlotRes) / 72.0f;
  const double reach =
      (double(std::hypot(x1 - cx, y1 - cy)) + double(std::hypot(x2 - cx, y2 - cy))) * 1.05 + double(width) + 2.0;
  if (!std::isfinite(reach))
    pixels = nullptr;
  lines.Begin(pixels, cx - reach, cy - reach, cx + reach, cy + reach, width, !gUseFastRotn);
}

float CriticalValue(const CrystalRec &c) {
  return c.ellipsoidCriticalValue > 0.0f ? c.ellipsoidCriticalValue : GetEllipsoidCriticalValue(c.ellipsoidProbability);
}

// The three semi-axes of an atom in view coordinates.
void AtomSemiAxes(const CrystalRec &c, const AtomRecord &a, float axes[3][3]) {
  for (int i = 0; i < 3; ++i) {
    float end[3];
    ToView(c, a.ellipsoidAxes[i], end);
    Sub(end, a.cart, axes[i]);
  }
}

// The screen outline of an ellipsoid with perpendicular semi-axes a_i is the
// projection of the quadric along z: the ellipse x^T S^-1 x = 1 with S the
// x, y block of sum a_i a_i^T. False for a semi-axis of no length.
struct ScreenShape {
  double xx = 0.0, xy = 0.0, yy = 0.0;
};
bool OutlineShape(const float a0[3], const float a1[3], const float a2[3], ScreenShape &shape) {
  shape = ScreenShape{};
  for (const float *a : {a0, a1, a2}) {
    const double x = a[0], y = a[1], z = a[2];
    if (!(x * x + y * y + z * z > 0.0) || !std::isfinite(x + y + z))
      return false;
    shape.xx += x * x;
    shape.xy += x * y;
    shape.yy += y * y;
  }
  return true;
}

// The outline's semi-axes from the eigenvalues of S: A the shorter, at the
// angle phi from +x in [-pi/4, 3pi/4), B the longer at phi + pi/2; a circle
// takes phi 0.
bool ScreenOutline(const float a0[3], const float a1[3], const float a2[3], float &A, float &B, float &phi) {
  ScreenShape s;
  if (!OutlineShape(a0, a1, a2, s))
    return false;
  const double mean = (s.xx + s.yy) / 2.0, half = std::hypot((s.xx - s.yy) / 2.0, s.xy);
  A = float(std::sqrt(std::max(mean - half, 0.0)));
  B = float(std::sqrt(mean + half));
  double angle = 0.0;
  if (2.0 * half >= double(kCircularOutlineTolerance)) {
    angle = 0.5 * std::atan2(2.0 * s.xy, s.xx - s.yy) + double(kPi) / 2.0;
    if (angle >= 0.75 * double(kPi))
      angle -= double(kPi);
  }
  phi = float(angle);
  return true;
}

// A contrast of f: the colour mixed with white (dark colours) or black.
RGBColor Contrast(const RGBColor &colour, float f) {
  const uint32_t sum = uint32_t(colour.red) + colour.green + colour.blue;
  RGBColor out;
  MyMixRGBColors(out, colour, sum < kEllipsoidDarkSum ? kRGBWhite : kRGBBlack, f);
  return out;
}

bool SelectionIsRed(const float fill[3]) {
  const float light = float(kYellowishMin - 1) / 65535.0f;
  return fill[0] > light && fill[1] > light;
}

// The styles: their parts, fill and line colours and fill factor.
enum PartBits : uint16_t {
  kAxes = 1 << 0,
  kRearAxes = 1 << 1,
  kLabels = 1 << 2,
  kPrincipal = 1 << 3,
  kHidden = 1 << 4,
  kOutline = 1 << 5,
  kOctants = 1 << 6,
  kStripes = 1 << 7,
  kShaded = 1 << 8,
};
enum FillKind : uint8_t { kFillWhite, kFillBlack, kFillBackground, kFillAtom };
enum LineKind : uint8_t { kLineBlack, kLineWhite, kLineContrast75, kLineContrast25, kLineHilite };
struct EllipsoidStyleRow {
  uint32_t style;
  uint16_t parts;
  FillKind fill;
  LineKind line;
  float fillFactor;
};
// clang-format off
constexpr EllipsoidStyleRow kEllipsoidStyles[] = {
    {1, kOutline, kFillWhite, kLineBlack, 1.0f},
    {2, kOutline, kFillBlack, kLineWhite, 1.0f},
    {3, kOutline, kFillBackground, kLineContrast75, 1.0f},
    {4, kOutline | kOctants | kStripes, kFillBackground, kLineContrast75, 1.0f},
    {5, kOutline | kPrincipal, kFillBackground, kLineContrast75, 1.0f},
    {6, kOutline | kPrincipal | kOctants | kStripes, kFillBackground, kLineContrast75, 1.0f},
    {7, 0, kFillAtom, kLineContrast25, 1.0f},
    {8, kOctants, kFillAtom, kLineContrast25, 1.0f},
    {9, kPrincipal, kFillAtom, kLineContrast25, 1.0f},
    {10, kPrincipal | kOctants, kFillAtom, kLineContrast25, 1.0f},
    {11, kOutline, kFillAtom, kLineContrast25, 1.0f},
    {12, kOutline | kOctants, kFillAtom, kLineContrast25, 1.0f},
    {13, kOutline | kPrincipal, kFillAtom, kLineContrast25, 1.0f},
    {14, kOutline | kPrincipal | kOctants, kFillAtom, kLineContrast25, 1.0f},
    {15, kShaded, kFillAtom, kLineContrast25, 1.0f},
    {16, kShaded | kOctants, kFillAtom, kLineContrast25, 1.0f},
    {17, kShaded | kPrincipal, kFillAtom, kLineContrast25, 1.0f},
    {18, kShaded | kPrincipal | kOctants, kFillAtom, kLineContrast25, 1.0f},
    {19, kShaded, kFillAtom, kLineHilite, 0.5f},
    {20, kShaded | kAxes | kRearAxes, kFillAtom, kLineHilite, 0.5f},
    {21, kShaded | kPrincipal | kHidden, kFillAtom, kLineHilite, 0.5f},
    {22, kShaded | kPrincipal | kHidden | kAxes | kRearAxes, kFillAtom, kLineHilite, 0.5f},
    {23, kOutline, kFillAtom, kLineHilite, 0.5f},
    {24, kAxes | kRearAxes | kOutline, kFillAtom, kLineHilite, 0.5f},
    {25, kPrincipal | kHidden | kOutline, kFillAtom, kLineHilite, 0.5f},
    {26, kAxes | kRearAxes | kPrincipal | kHidden | kOutline, kFillAtom, kLineHilite, 0.5f},
    {99, kAxes | kRearAxes | kLabels | kPrincipal | kHidden | kOutline, kFillAtom, kLineContrast25, 0.5f},
};
// clang-format on

} // namespace

// ---- The shared painter ----------------------------------------------------------------------

namespace {
struct SharedPainter {
  GraphicsPort *port = nullptr;
  std::unique_ptr<Painter> painter;
};
SharedPainter gSharedPainter;
} // namespace

EllipsoidPainterScope::EllipsoidPainterScope() {
  GraphicsPort *port = CurrentPort();
  if (!port || gSharedPainter.painter)
    return;
  auto painter = std::make_unique<Painter>(*port, false);
  if (!painter->IsValid())
    return;
  gSharedPainter.port = port;
  gSharedPainter.painter = std::move(painter);
}

EllipsoidPainterScope::~EllipsoidPainterScope() {
  gSharedPainter.painter.reset();
  gSharedPainter.port = nullptr;
}

// ---- Recipe -------------------------------------------------------------------------------

int GetEllipsoidSpecs(const CrystalRec *crystal, uint32_t atom, float depth, EllipsoidParts &parts, RGBColor &fill,
                      RGBColor &line, RGBColor &surface, float &fillFactor, float &secondFactor, float &opacity) {
  parts = EllipsoidParts{};
  fill = kRGBBlack;
  line = kRGBWhite;
  surface = kRGBWhite;
  fillFactor = secondFactor = opacity = 1.0f;
  if (!crystal || crystal->modelType != kThermalEllipsoidModel || !crystal->ellipsoidData ||
      atom >= UsableAtomSize(*crystal))
    return 0;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  if (a.site >= UsableSiteSize(c) || a.atomType >= UsableSphereSize(c))
    return 0;
  const uint32_t style = c.sites[a.site].ellipsoidStyle;
  if (style == 0)
    return 0;
  const RGBColor colour = c.spheres[a.atomType].colour;
  const EllipsoidStyleRow *row = nullptr;
  for (const EllipsoidStyleRow &r : kEllipsoidStyles)
    if (r.style == style)
      row = &r;
  if (row) {
    const uint32_t m = row->parts;
    parts = EllipsoidParts{uint8_t((m & kAxes) != 0),      uint8_t((m & kRearAxes) != 0), uint8_t((m & kLabels) != 0),
                           uint8_t((m & kPrincipal) != 0), uint8_t((m & kHidden) != 0),   uint8_t((m & kOutline) != 0),
                           uint8_t((m & kOctants) != 0),   uint8_t((m & kStripes) != 0),  uint8_t((m & kShaded) != 0)};
    switch (row->fill) {
    case kFillWhite:
      fill = kRGBWhite;
      break;
    case kFillBlack:
      fill = kRGBBlack;
      break;
    case kFillBackground:
      fill = c.backgroundColor;
      break;
    case kFillAtom:
      fill = colour;
      break;
    }
    switch (row->line) {
    case kLineBlack:
      line = kRGBBlack;
      break;
    case kLineWhite:
      line = kRGBWhite;
      break;
    case kLineContrast75:
      line = Contrast(colour, 0.75f);
      break;
    case kLineContrast25:
      line = Contrast(colour, 0.25f);
      break;
    case kLineHilite:
      line = c.hiliteColor;
      break;
    }
    fillFactor = row->fillFactor;
  }
  RGBColor pale;
  MyMixRGBColors(pale, fill, kRGBWhite, 0.5f);
  float unused;
  DepthShading(&c, depth, pale, surface, unused);
  const RGBColor plainLine = line;
  DepthShading(&c, depth, plainLine, line, opacity);
  return 1;
}

void PlotEllipsoid(CrystalRec *crystal, uint32_t atom, float depth) {
  EllipsoidParts parts;
  RGBColor fill, line, surface;
  float fillFactor, second, opacity;
  if (!GetEllipsoidSpecs(crystal, atom, depth, parts, fill, line, surface, fillFactor, second, opacity))
    return;
  float f[3], l[3], s[3];
  RGBColor2Float(fill, f[0], f[1], f[2]);
  RGBColor2Float(line, l[0], l[1], l[2]);
  RGBColor2Float(surface, s[0], s[1], s[2]);
  PlotEllipsoidAttributes(crystal, atom, parts, f, s, l, second * opacity, opacity * fillFactor);
}

void PlotEllipsoidAttributes(CrystalRec *crystal, uint32_t atom, const EllipsoidParts &parts, const float fill[3],
                             const float surface[3], const float line[3], float lineOpacity, float fillOpacity) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || atom >= UsableAtomSize(*crystal) || crystal->sites.empty())
    return;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  if (a.site >= UsableSiteSize(c))
    return;
  // The painter, for the selection only, is made ready when first asked for.
  std::optional<Painter> own;
  Painter *ready = nullptr;
  auto painter = [&]() -> Painter * {
    if (ready)
      return ready;
    if (gSharedPainter.port != port || !gSharedPainter.painter)
      own.emplace(*port, false);
    Painter &p = own ? *own : *gSharedPainter.painter;
    if (!p.IsValid())
      return nullptr;
    p.SetShouldAntialias(!gUseFastRotn);
    UseDefaultEllipsoidLines(p, true);
    ready = &p;
    return ready;
  };

  // The tips facing the viewer.
  const float *centre = a.cart;
  float tips[3][3];
  for (int i = 0; i < 3; ++i) {
    ToView(c, a.ellipsoidAxes[i], tips[i]);
    if (tips[i][2] < centre[2]) {
      float opposite[3];
      for (int k = 0; k < 3; ++k)
        opposite[k] = 2.0f * a.xyz[k] - a.ellipsoidAxes[i][k];
      ToView(c, opposite, tips[i]);
    }
    if (c.sites[a.site].ignoreEllipsoid) {
      float dir[3], unit[3];
      Sub(tips[i], centre, dir);
      if (GetUnitVector(dir, unit))
        for (int k = 0; k < 3; ++k)
          tips[i][k] = centre[k] + unit[k] * c.ellipsoidSphereRadius;
    }
  }
  float b1[3], b2[3];
  GetBoundaryEllipse(&c, tips[0], tips[1], tips[2], centre, b1, b2);

  if (!parts.shaded)
    FillEllipsoidOutline(*port, &c, tips[0], tips[1], tips[2], centre, fill, fillOpacity);
  else
    PhongRenderEllipsoid(*port, &c, tips[0], tips[1], tips[2], centre, fill, fillOpacity);

  // The lines and octants go straight into the pixels too.
  EllipsoidStroke &lines = gLines;
  BeginLines(*port, c, b1, b2, centre, lines);

  // The principal ellipses' points, kept from one ellipsoid to the next.
  static std::vector<EllipsoidPoint> principal[3];
  static constexpr int kPlanes[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  PrincipalHalves halves[3];
  for (int plane = 0; plane < 3; ++plane) {
    principal[plane].clear();
    if (parts.principal || parts.octants)
      GetPrincipalEllipse(&c, tips[kPlanes[plane][0]], tips[kPlanes[plane][1]], centre, principal[plane]);
    if (parts.principal)
      halves[plane] = SplitPrincipal(principal[plane], b1, b2);
  }

  // Each part is laid in turn, as a painter strokes one path after
  // another. A fast rotation frame covers pixels whole, so at full opacity a
  // covered pixel takes the line colour whatever lay under it: when every
  // part is in that colour, each line is laid as it is made (and each Blend
  // of the line colour then finds nothing left to lay).
  if (lineOpacity >= 1.0f && !(parts.octants && !parts.stripes))
    lines.LayAsMade(line);
  // Without octants or rear axes nothing is drawn between the outline and
  // the principal ellipses, so their solid lines are laid as one stroke.
  const bool oneStroke = !parts.octants && !(parts.axes && parts.rearAxes);
  if (parts.outline && !parts.shaded) {
    AddEllipsePath(lines, c, b1, b2, centre);
    if (!oneStroke)
      lines.Blend(line, lineOpacity);
  }
  if (parts.axes && parts.rearAxes) {
    lines.SetDash(gDashLengths[0], gDashLengths[1]);
    for (const float *tip : tips) {
      float rear[3];
      for (int k = 0; k < 3; ++k)
        rear[k] = 2.0f * centre[k] - tip[k];
      AddSegment(lines, c, centre, rear);
      lines.Blend(line, lineOpacity);
    }
    lines.SetDash(0.0f, 0.0f);
  }

  auto hiddenHalves = [&](int plane) {
    lines.SetDash(gDashLengths[0], gDashLengths[1]);
    AddPrincipalHalves(lines, c, principal[plane], halves[plane], false);
    lines.Blend(line, lineOpacity);
    lines.SetDash(0.0f, 0.0f);
  };
  if (oneStroke) {
    if (parts.principal)
      for (int plane = 0; plane < 3; ++plane)
        AddPrincipalHalves(lines, c, principal[plane], halves[plane], true);
    lines.Blend(line, lineOpacity);
    if (parts.principal && parts.hiddenHalves) {
      lines.SetDash(gDashLengths[0], gDashLengths[1]);
      for (int plane = 0; plane < 3; ++plane)
        AddPrincipalHalves(lines, c, principal[plane], halves[plane], false);
      lines.Blend(line, lineOpacity);
      lines.SetDash(0.0f, 0.0f);
    }
  } else if (parts.principal || parts.octants) {
    static constexpr int kStripeAxes[3][2] = {{0, 1}, {2, 0}, {1, 2}};
    for (int plane = 0; plane < 3; ++plane) {
      const std::vector<EllipsoidPoint> &points = principal[plane];
      if (points.empty())
        continue;
      if (parts.principal) {
        AddPrincipalHalves(lines, c, points, halves[plane], true);
        lines.Blend(line, lineOpacity);
        if (parts.hiddenHalves)
          hiddenHalves(plane);
      }
      if (parts.octants && parts.stripes) {
        AddOctantStripes(lines, c, tips[kStripeAxes[plane][0]], tips[kStripeAxes[plane][1]], centre, kOctantStripes);
        lines.Blend(line, lineOpacity);
      } else if (parts.octants) {
        const float *tipA = tips[kPlanes[plane][0]], *tipB = tips[kPlanes[plane][1]];
        float normal[3], lit[3];
        CalcPlaneNormal(tipA, tipB, centre, normal);
        RenderSurfaceColor(1.0f, 1.0f, 0.5f, 0.5f, 0.0f, 1.0f, c.lightDirection, normal, surface, lit);
        FillSolidOctant(lines, c, points, lit, fillOpacity, lineOpacity);
      }
    }
  }

  if (parts.axes || parts.octants) {
    static const float kBlack[3] = {0.0f, 0.0f, 0.0f};
    const bool dark = parts.octants && !parts.stripes;
    for (const float *tip : tips)
      AddSegment(lines, c, centre, tip);
    lines.Blend(dark ? kBlack : line, dark && !parts.axes ? lineOpacity / 10.0f : lineOpacity);
    static const char *kAxisNames[3] = {"A", "B", "C"};
    if (parts.axisLabels)
      for (int i = 0; i < 3; ++i) {
        float x, y;
        Project(c, tips[i], x, y);
        StampStrokedText(port->Pixels(), x, y, kAxisNames[i], kAxisLabelFont, kAxisLabelSize, float(gPlotRes) / 72.0f,
                         !gUseFastRotn, line, lineOpacity);
      }
  }

  if (Painter *p = a.selected ? painter() : nullptr) {
    const float red[3] = {1.0f, 0.0f, 0.0f}, yellow[3] = {1.0f, 1.0f, 0.0f};
    const float *mark = SelectionIsRed(fill) ? red : yellow;
    p->SetLineWidth(kEllipsoidSelectionWidth);
    SetFill(*p, mark, kEllipsoidSelectionFill);
    SetStroke(*p, mark, 1.0f);
    MyDrawEllipse(*p, &c, b1, b2, centre, true, true);
  }
}

// ---- Outline --------------------------------------------------------------------------------

void GetBoundaryEllipse(const CrystalRec *crystal, const float tip0[3], const float tip1[3], const float tip2[3],
                        const float centre[3], float b1[3], float b2[3]) {
  (void)crystal;
  float a0[3], a1[3], a2[3];
  Sub(tip0, centre, a0);
  Sub(tip1, centre, a1);
  Sub(tip2, centre, a2);
  const float l0 = Magnitude(a0), l1 = Magnitude(a1), l2 = Magnitude(a2);
  auto circle = [&](float r) {
    for (int k = 0; k < 3; ++k)
      b1[k] = b2[k] = centre[k];
    b1[0] += r;
    b2[1] += r;
  };
  if (std::fabs(l0 - l1) < kEqualAxesTolerance && std::fabs(l0 - l2) < kEqualAxesTolerance &&
      std::fabs(l1 - l2) < kEqualAxesTolerance) {
    circle(l0);
    return;
  }
  float A, B, phi;
  if (!ScreenOutline(a0, a1, a2, A, B, phi)) {
    circle(0.0f);
    return;
  }
  auto depthAt = [&](float x, float y) {
    const float arg = 1.0f - x * x / (l0 * l0) - y * y / (l1 * l1);
    return arg > 0.0f ? l2 * std::sqrt(arg) : 0.0f;
  };
  const float x1 = A * std::cos(phi), y1 = A * std::sin(phi);
  const float x2 = -B * std::sin(phi), y2 = B * std::cos(phi);
  b1[0] = centre[0] + x1, b1[1] = centre[1] + y1, b1[2] = centre[2] + depthAt(x1, y1);
  b2[0] = centre[0] + x2, b2[1] = centre[1] + y2, b2[2] = centre[2] + depthAt(x2, y2);
}

bool GetEllipseFromPoints(const float p1[3], const float p2[3], const float p3[3], const float centre[3], float &A,
                          float &B, float &angle) {
  const float *pts[3] = {p1, p2, p3};
  double M[9], rhs[3] = {1.0, 1.0, 1.0};
  for (int k = 0; k < 3; ++k) {
    const double x = double(pts[k][0]) - centre[0], y = double(pts[k][1]) - centre[1];
    M[3 * k] = x * x;
    M[3 * k + 1] = x * y;
    M[3 * k + 2] = y * y;
  }
  double inverse[9];
  if (!DInv3x3Mat(M, inverse))
    return false;
  double coef[3];
  DMatMul(inverse, rhs, coef);
  const double alpha = coef[0], beta = coef[1], gamma = coef[2];
  const double s = std::sqrt((alpha - gamma) * (alpha - gamma) + beta * beta);
  const double big = alpha + gamma + s, small = alpha + gamma - s;
  if (!(big > 0.0) || !(small > 0.0))
    return false; // not an ellipse: no real semi-axes
  A = float(std::sqrt(2.0 / big));
  B = float(std::sqrt(2.0 / small));
  const double A2 = double(A) * A, B2 = double(B) * B;
  double phi = 0.0;
  if (std::fabs(B2 - A2) >= kCircularOutlineTolerance)
    phi = 0.5 * std::asin(std::clamp(beta * A2 * B2 / (B2 - A2), -1.0, 1.0));
  const double x = double(p1[0]) - centre[0], y = double(p1[1]) - centre[1];
  const double r2 = x * x + y * y, psi = std::atan2(y, x);
  auto residual = [&](double ang) {
    const double cs = std::cos(psi - ang), sn = std::sin(psi - ang);
    return std::fabs(r2 * cs * cs / A2 + r2 * sn * sn / B2 - 1.0);
  };
  if (residual(phi) > residual(kPi / 2.0 - phi))
    phi = kPi / 2.0 - phi;
  angle = float(phi);
  return true;
}

namespace {

template <class Path>
bool AddEllipsePath(Path &painter, const CrystalRec &c, const float b1[3], const float b2[3], const float centre[3]) {
  float cx, cy, x1, y1, x2, y2;
  Project(c, centre, cx, cy);
  Project(c, b1, x1, y1);
  Project(c, b2, x2, y2);
  const float a = std::hypot(x1 - cx, y1 - cy), b = std::hypot(x2 - cx, y2 - cy);
  if (!(a > 0.0f) || !(b > 0.0f))
    return false;
  const float ux = (x1 - cx) / a, uy = (y1 - cy) / a;
  const int q = (std::min(PixelInt(std::max(a, b)), PictureSpan()) + 1) / 2;
  const int n = 4 * std::max(q, 1);
  const std::vector<float> &turns = Turns(n);
  gRunPoints.resize(size_t(2 * (n + 1)));
  float *xy = gRunPoints.data();
  for (int k = 0; k <= n; ++k) {
    const size_t at = size_t(2 * (k % n));
    const float along = a * turns[at + 1], across = b * turns[at];
    xy[2 * k] = cx + along * ux - across * uy;
    xy[2 * k + 1] = cy + along * uy + across * ux;
  }
  AddPoints(painter, xy, size_t(n + 1));
  painter.ClosePath();
  return true;
}

} // namespace

void MyDrawEllipse(Painter &painter, const CrystalRec *crystal, const float b1[3], const float b2[3],
                   const float centre[3], bool fill, bool stroke) {
  if (!crystal || (!fill && !stroke))
    return;
  painter.BeginPath();
  if (!AddEllipsePath(painter, *crystal, b1, b2, centre))
    return;
  if (fill && stroke)
    painter.FillStrokePath();
  else if (fill)
    painter.FillPath();
  else
    painter.StrokePath();
}

// ---- Principal ellipses and octants ----------------------------------------------------------

std::vector<EllipsoidPoint> GetPrincipalEllipse(const CrystalRec *crystal, const float tipA[3], const float tipB[3],
                                                const float centre[3]) {
  std::vector<EllipsoidPoint> points;
  GetPrincipalEllipse(crystal, tipA, tipB, centre, points);
  return points;
}

namespace {

} // namespace

void GetPrincipalEllipse(const CrystalRec *crystal, const float tipA[3], const float tipB[3], const float centre[3],
                         std::vector<EllipsoidPoint> &points) {
  points.clear();
  if (!crystal)
    return;
  float u[3], w[3];
  Sub(tipA, centre, u);
  Sub(tipB, centre, w);
  const float lu = Magnitude(u), lw = Magnitude(w);
  const int n = std::min(PixelInt(std::max(lu, lw) * crystal->plotScale), PictureSpan());
  if (n <= 0 || lu <= 0.0f || lw <= 0.0f)
    return;
  points.resize(size_t(4 * n));
  auto set = [&](int index, float fa, float fb) {
    for (int k = 0; k < 3; ++k)
      points[size_t(index)][size_t(k)] = centre[k] + fa * u[k] + fb * w[k];
  };
  set(0, 1, 0);
  set(n, 0, 1);
  set(2 * n, -1, 0);
  set(3 * n, 0, -1);
  const std::vector<float> &turns = Turns(4 * n);
  auto place = [&](int k, float fa, float fb) {
    set(k, fa, fb);
    set(2 * n - k, -fa, fb);
    set(2 * n + k, -fa, -fb);
    set(4 * n - k, fa, -fb);
  };
  int k = 1;
#if defined(__SSE2__)
  // The turns' shares four at a time, by the same steps as one.
  const __m128 lu4 = _mm_set1_ps(lu), lw4 = _mm_set1_ps(lw), lu2 = _mm_set1_ps(lu * lu), lw2 = _mm_set1_ps(lw * lw);
  for (; k + 4 <= n; k += 4) {
    const __m128 lo = _mm_loadu_ps(turns.data() + 2 * k), hi = _mm_loadu_ps(turns.data() + 2 * k + 4);
    const __m128 st = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)), ct = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 rho = _mm_div_ps(
        _mm_set1_ps(1.0f),
        _mm_sqrt_ps(_mm_add_ps(_mm_div_ps(_mm_mul_ps(st, st), lw2), _mm_div_ps(_mm_mul_ps(ct, ct), lu2))));
    float fa[4], fb[4];
    _mm_storeu_ps(fa, _mm_div_ps(_mm_mul_ps(rho, ct), lu4));
    _mm_storeu_ps(fb, _mm_div_ps(_mm_mul_ps(rho, st), lw4));
    for (int i = 0; i < 4; ++i)
      place(k + i, fa[i], fb[i]);
  }
#endif
  for (; k < n; ++k) {
    const float st = turns[size_t(2 * k)], ct = turns[size_t(2 * k + 1)];
    const float rho = 1.0f / std::sqrt(st * st / (lw * lw) + ct * ct / (lu * lu));
    place(k, rho * ct / lu, rho * st / lw);
  }
}

size_t GetPrincipalEllipseBound(const std::vector<EllipsoidPoint> &points, const float b1[3], const float b2[3],
                                const float centre[3]) {
  if (points.size() < 2)
    return 0;
  const float A = std::hypot(b1[0] - centre[0], b1[1] - centre[1]);
  const float B = std::hypot(b2[0] - centre[0], b2[1] - centre[1]);
  if (A <= 0.0f || B <= 0.0f)
    return 0;
  // cos(phi - phi0) of the point's bearing phi from the bearing phi0 of b1.
  const float ux = (b1[0] - centre[0]) / A, uy = (b1[1] - centre[1]) / A;
  const float ratio = A * A / (B * B);
  size_t best = 0;
  float bestGap = 0.0f;
  auto take = [&](size_t k, float gap) {
    if (k == 0 || gap < bestGap) {
      best = k;
      bestGap = gap;
    }
  };
  const size_t half = points.size() / 2;
  size_t k = 0;
#if defined(__SSE2__)
  // Four points at a time, by the same steps as one.
  const __m128 cx = _mm_set1_ps(centre[0]), cy = _mm_set1_ps(centre[1]), vux = _mm_set1_ps(ux), vuy = _mm_set1_ps(uy);
  const __m128 va = _mm_set1_ps(A), vratio = _mm_set1_ps(ratio), rest = _mm_set1_ps(1.0f - ratio);
  const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  for (; k + 4 <= half; k += 4) {
    const __m128 dx = _mm_sub_ps(_mm_setr_ps(points[k][0], points[k + 1][0], points[k + 2][0], points[k + 3][0]), cx);
    const __m128 dy = _mm_sub_ps(_mm_setr_ps(points[k][1], points[k + 1][1], points[k + 2][1], points[k + 3][1]), cy);
    const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy)));
    const __m128 some = _mm_cmpgt_ps(d, zero);
    const __m128 along = _mm_div_ps(_mm_add_ps(_mm_mul_ps(dx, vux), _mm_mul_ps(dy, vuy)), d);
    const __m128 cs = _mm_or_ps(_mm_and_ps(some, along), _mm_andnot_ps(some, one));
    const __m128 radius = _mm_div_ps(va, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(_mm_mul_ps(cs, cs), rest), vratio)));
    float gaps[4];
    _mm_storeu_ps(gaps, _mm_and_ps(_mm_sub_ps(d, radius), magnitude));
    for (size_t i = 0; i < 4; ++i)
      take(k + i, gaps[i]);
  }
#endif
  for (; k < half; ++k) {
    const float dx = points[k][0] - centre[0], dy = points[k][1] - centre[1];
    const float d = std::sqrt(dx * dx + dy * dy);
    const float cs = d > 0.0f ? (dx * ux + dy * uy) / d : 1.0f;
    const float radius = A / std::sqrt(cs * cs * (1.0f - ratio) + ratio);
    take(k, std::fabs(d - radius));
  }
  return best;
}

namespace {

PrincipalHalves SplitPrincipal(const std::vector<EllipsoidPoint> &points, const float b1[3], const float b2[3]) {
  PrincipalHalves halves;
  const size_t count = points.size();
  if (count < 4)
    return halves;
  float normal[3], centre[3];
  CalcPlaneNormal(points[0].data(), points[count / 4].data(), points[count < 8 ? 1 : count / 8].data(), normal);
  for (int k = 0; k < 3; ++k)
    centre[k] = (points[0][size_t(k)] + points[count / 2][size_t(k)]) / 2.0f;
  if (std::fabs(normal[2]) < kEdgeOnTolerance) {
    halves.kind = PrincipalHalves::kEdgeOn;
    float farthest = -1.0f;
    for (size_t k = 0; k < count / 2; ++k) {
      const float ex = points[k][0] - centre[0], ey = points[k][1] - centre[1];
      const float d = std::sqrt(ex * ex + ey * ey);
      if (d > farthest) {
        farthest = d;
        halves.start = k;
      }
    }
    return halves;
  }
  if (std::fabs(normal[0]) < kEdgeOnTolerance && std::fabs(normal[1]) < kEdgeOnTolerance) {
    halves.kind = PrincipalHalves::kFaceOn;
    return halves;
  }
  const size_t k = GetPrincipalEllipseBound(points, b1, b2, centre);
  const bool firstInFront = points[(k + count / 4) % count][2] > centre[2];
  halves.kind = PrincipalHalves::kCut;
  halves.start = firstInFront ? k : k + count / 2;
  halves.back = firstInFront ? k + count / 2 : k;
  return halves;
}

template <class Path>
void AddPrincipalHalves(Path &painter, const CrystalRec &c, const std::vector<EllipsoidPoint> &points,
                        const PrincipalHalves &halves, bool front) {
  const size_t count = points.size();
  switch (halves.kind) {
  case PrincipalHalves::kNone:
    return;
  case PrincipalHalves::kEdgeOn:
    if (front)
      AddSegment(painter, c, points[halves.start].data(), points[halves.start + count / 2].data());
    return;
  case PrincipalHalves::kFaceOn:
    if (front)
      AddRun(painter, c, points, 0, count + 1);
    return;
  case PrincipalHalves::kCut:
    AddRun(painter, c, points, front ? halves.start : halves.back, count / 2 + 1);
    return;
  }
}

} // namespace

// ---- Shaded body ---------------------------------------------------------------------------------

namespace {

// Paints the ellipsoid's screen outline pixel by pixel into the port's
// pixels: each pixel whose centre lies inside takes its colour from
// `shade(dx, n, dy, colours)`, which colours n pixels of a row at their view
// offsets (dx[i], dy) from the centre (Angstrom, y up), laid over it at
// `opacity`. The rim is anti-aliased over one pixel except in a fast
// rotation frame. Only the pixels of the port's buffer are touched. `flat`,
// when given, is the one colour `shade` gives everywhere.
template <class Shade>
void PaintOutline(GraphicsPort &port, const CrystalRec &c, const float a0[3], const float a1[3], const float a2[3],
                  const float centre[3], float opacity, Shade shade, const float *flat = nullptr) {
  PixelBuffer *pixels = port.Pixels();
  ScreenShape outline;
  if (!pixels || pixels->Depth() != 32 || !(opacity > 0.0f) || !OutlineShape(a0, a1, a2, outline))
    return;
  const double det = outline.xx * outline.yy - outline.xy * outline.xy;
  if (!(det > 0.0))
    return;
  // Pixels per Angstrom at the centre's depth, and the centre on the port.
  float X0, Y0, X1, Y1;
  const float beside[3] = {centre[0] + 1.0f, centre[1], centre[2]};
  Project(c, centre, X0, Y0);
  Project(c, beside, X1, Y1);
  const double scale = double(X1) - double(X0);
  if (!(scale > 0.0) || !std::isfinite(X0) || !std::isfinite(Y0))
    return;
  const double minor = std::sqrt(std::max(det / std::max(outline.xx, outline.yy), 0.0)) * scale;
  const double reachX = std::sqrt(outline.xx) * scale + 1.0, reachY = std::sqrt(outline.yy) * scale + 1.0;
  const Rect &b = pixels->Bounds();
  const double left = std::max(double(b.left), std::floor(X0 - reachX));
  const double right = std::min(double(b.right) - 1.0, std::ceil(X0 + reachX));
  const double top = std::max(double(b.top), std::floor(Y0 - reachY));
  const double bottom = std::min(double(b.bottom) - 1.0, std::ceil(Y0 + reachY));
  if (left > right || top > bottom)
    return;
  // Rows end where the outline, grown by a pixel, ends.
  const double grown = (minor + 1.0) / std::max(minor, 1e-6), limit = grown * grown;
  const bool smooth = !gUseFastRotn;
  const float weight = std::min(opacity, 1.0f);
  const double inverseScale = 1.0 / scale;
  std::optional<EllipsoidLay> flatLay;
  if (flat)
    flatLay.emplace(flat, weight);
  // The pixels of a row to be shaded, gathered so that their colours are
  // worked out together; kept from one ellipsoid to the next.
  static struct {
    std::vector<int> x;
    std::vector<double> dx;
    std::vector<float> cover;
    std::vector<std::array<float, 3>> colour;
  } scratch;
  const size_t span = size_t(right - left) + 1;
  if (scratch.x.size() < span) {
    scratch.x.resize(span);
    scratch.dx.resize(span);
    scratch.cover.resize(span);
    scratch.colour.resize(span);
  }
  for (int y = int(top); y <= int(bottom); ++y) {
    const double dy = -(double(y) + 0.5 - double(Y0)) * inverseScale;
    // f(dx) = (yy dx^2 - 2 xy dy dx + xx dy^2) / det <= limit.
    const double qa = outline.yy, qb = -outline.xy * dy, qc = outline.xx * dy * dy - det * limit;
    const double disc = qb * qb - qa * qc;
    if (disc < 0.0)
      continue;
    const double root = std::sqrt(disc);
    if (!(std::floor(X0 + (-qb - root) / qa * scale) <= right) || !(std::ceil(X0 + (-qb + root) / qa * scale) >= left))
      continue;
    int fromX = int(std::max(left, std::floor(X0 + (-qb - root) / qa * scale)));
    int toX = int(std::min(right, std::ceil(X0 + (-qb + root) / qa * scale)));
    uint32_t *row = pixels->Row32(y);
    auto offset = [&](int x) { return (double(x) + 0.5 - double(X0)) * inverseScale; };
    // The outline function times det, and its slope (gx, gy) over 2.
    auto rise = [&](double dx, double &gx, double &gy) {
      gx = outline.yy * dx - outline.xy * dy;
      gy = outline.xx * dy - outline.xy * dx;
      return gx * dx + gy * dy;
    };
    auto level = [&](double dx, double &gx, double &gy) { return rise(dx, gx, gy) / det; };
    if (!smooth) {
      // A fast frame covers the pixels whose centres lie inside, a run of
      // each row: its ends are found from the outline's own crossings of the
      // row and settled by the same test a pixel at a time.
      // level <= 1 without the division: for det > 0 a correctly rounded
      // quotient stays at or below 1 exactly when the dividend does not
      // pass det.
      auto inside = [&](int x) {
        double gx, gy;
        return rise(offset(x), gx, gy) <= det;
      };
      const double edge = qb * qb - qa * (outline.xx * dy * dy - det);
      if (edge >= 0.0) {
        const double reach = std::sqrt(edge);
        const int first = int(std::clamp(std::ceil(X0 + (-qb - reach) / qa * scale - 0.5), double(fromX), double(toX)));
        const int last = int(std::clamp(std::floor(X0 + (-qb + reach) / qa * scale - 0.5), double(fromX), double(toX)));
        int lo = first, hi = last;
        if (inside(lo))
          while (lo > fromX && inside(lo - 1))
            --lo;
        else
          while (lo <= toX && !inside(lo))
            ++lo;
        if (inside(hi))
          while (hi < toX && inside(hi + 1))
            ++hi;
        else
          while (hi >= fromX && !inside(hi))
            --hi;
        fromX = lo;
        toX = hi;
      }
      if (flatLay && edge >= 0.0) {
        if (fromX <= toX)
          flatLay->LayRun(row + (fromX - b.left), size_t(toX - fromX + 1));
        continue;
      }
      size_t n = 0;
      for (int x = fromX; x <= toX; ++x) {
        const double dx = offset(x);
        double gx, gy;
        if (edge < 0.0 && level(dx, gx, gy) > 1.0)
          continue;
        scratch.x[n] = x;
        scratch.dx[n++] = dx;
      }
      shade(scratch.dx.data(), n, dy, scratch.colour.data());
      for (size_t k = 0; k < n; ++k) {
        uint32_t &pixel = row[scratch.x[k] - b.left];
        pixel = BlendEllipsoidPixel(pixel, scratch.colour[k].data(), weight);
      }
      continue;
    }
    size_t n = 0;
    for (int x = fromX; x <= toX; ++x) {
      const double dx = offset(x);
      double gx, gy;
      const double f = level(dx, gx, gy);
      // Distance to the outline in pixels, from the outline function's slope.
      const double slope = 2.0 * std::sqrt(gx * gx + gy * gy) / det * inverseScale;
      const float cover = float(std::clamp(0.5 + (slope > 0.0 ? (1.0 - f) / slope : 1.0), 0.0, 1.0));
      if (cover <= 0.0f)
        continue;
      scratch.x[n] = x;
      scratch.cover[n] = cover;
      scratch.dx[n++] = dx;
    }
    shade(scratch.dx.data(), n, dy, scratch.colour.data());
    for (size_t k = 0; k < n; ++k) {
      uint32_t &pixel = row[scratch.x[k] - b.left];
      pixel = BlendEllipsoidPixel(pixel, scratch.colour[k].data(), scratch.cover[k] * weight);
    }
  }
}

} // namespace

namespace {

// The lighting of one colour under one light, with what is the same at every
// surface point worked out once: the ambient and diffuse parts of each
// channel, the highlight's strength and the reflection below which it is cut.
struct SurfaceLight {
  float ambient[3], diffuse[3], shine, n, cutOff;
  const float *light;
  SurfaceLight(float ambientIntensity, float pointIntensity, float kA, float kD, float kS, float N,
               const float lightDirection[3], const float colour[3])
      : ambient{ambientIntensity * kA * colour[0], ambientIntensity * kA * colour[1], ambientIntensity * kA * colour[2]},
        diffuse{pointIntensity * kD * colour[0], pointIntensity * kD * colour[1], pointIntensity * kD * colour[2]},
        shine(pointIntensity * kS), n(N), cutOff(CutOff(N)), light(lightDirection) {}
  // The reflection below which a highlight of exponent N is cut; a model's
  // bodies share one exponent, so the last is kept (main thread only).
  static float CutOff(float N) {
    static float lastN = std::numeric_limits<float>::quiet_NaN(), last = 0.0f;
    if (!(N == lastN)) {
      lastN = N;
      last = std::pow(10.0f, -kSpecularExponentLimit / std::max(N, 1.0f));
    }
    return last;
  }
  void At(const float normal[3], float out[3]) const {
    const float cosine = std::clamp(DotProduct(normal, light), 0.0f, 1.0f);
    const float rz = 2.0f * normal[2] * cosine - light[2];
    float specular = 0.0f;
    if (rz >= kMinSurfaceReflection && rz >= cutOff)
      specular = shine * std::pow(rz, n);
    for (int k = 0; k < 3; ++k)
      out[k] = std::min(1.0f, ambient[k] + diffuse[k] * cosine + specular);
  }
};

// The unit normals of the surface v^T M v = 1 at its front points over the
// view offsets (dx[i], dy) (the rim beyond it), or nought where there is
// none; two pixels at a time where the machine can, by the same steps.
void SurfaceNormals(const double M[3][3], const double *dx, size_t n, double dy, std::array<float, 3> *out) {
  const double za = M[2][2];
  size_t i = 0;
#if defined(__SSE2__)
  const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0), two = _mm_set1_pd(2.0), dy2 = _mm_set1_pd(dy);
  const __m128d za2 = _mm_set1_pd(za);
  auto mul = [](__m128d a, __m128d b) { return _mm_mul_pd(a, b); };
  auto add = [](__m128d a, __m128d b) { return _mm_add_pd(a, b); };
  auto splat = [](double v) { return _mm_set1_pd(v); };
  for (; i + 2 <= n; i += 2) {
    const __m128d x = _mm_loadu_pd(dx + i);
    const __m128d zb = add(mul(splat(M[0][2]), x), mul(splat(M[1][2]), dy2));
    const __m128d zc = _mm_sub_pd(add(add(mul(mul(splat(M[0][0]), x), x), mul(mul(mul(two, splat(M[0][1])), x), dy2)),
                                      mul(mul(splat(M[1][1]), dy2), dy2)),
                                  one);
    const __m128d d = _mm_sub_pd(mul(zb, zb), mul(za2, zc));
    const __m128d held = _mm_andnot_pd(_mm_cmplt_pd(d, zero), d); // std::max(d, 0.0)
    const __m128d z = _mm_div_pd(add(_mm_xor_pd(zb, _mm_set1_pd(-0.0)), _mm_sqrt_pd(held)), za2); // -zb exactly
    __m128 v[3];
    for (int k = 0; k < 3; ++k) {
      const __m128d w = add(add(mul(splat(M[k][0]), x), mul(splat(M[k][1]), dy2)), mul(splat(M[k][2]), z));
      v[k] = _mm_cvtpd_ps(w);
    }
    const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(v[0], v[0]), _mm_mul_ps(v[1], v[1])), _mm_mul_ps(v[2], v[2]));
    const __m128 length = _mm_sqrt_ps(sum);
    const __m128 some = _mm_cmpgt_ps(sum, _mm_setzero_ps());
    float u[3][4];
    for (int k = 0; k < 3; ++k)
      _mm_storeu_ps(u[k], _mm_and_ps(some, _mm_div_ps(v[k], length)));
    out[i] = {u[0][0], u[1][0], u[2][0]};
    out[i + 1] = {u[0][1], u[1][1], u[2][1]};
  }
#endif
  for (; i < n; ++i) {
    const double x = dx[i];
    const double zb = M[0][2] * x + M[1][2] * dy;
    const double zc = M[0][0] * x * x + 2.0 * M[0][1] * x * dy + M[1][1] * dy * dy - 1.0;
    const double z = (-zb + std::sqrt(std::max(zb * zb - za * zc, 0.0))) / za;
    float normal[3];
    for (int k = 0; k < 3; ++k)
      normal[k] = float(M[k][0] * x + M[k][1] * dy + M[k][2] * z);
    GetUnitVector(normal, out[i].data());
  }
}

} // namespace

void FillEllipsoidOutline(GraphicsPort &port, const CrystalRec *crystal, const float tip0[3], const float tip1[3],
                          const float tip2[3], const float centre[3], const float colour[3], float opacity) {
  if (!crystal)
    return;
  float a[3][3];
  Sub(tip0, centre, a[0]);
  Sub(tip1, centre, a[1]);
  Sub(tip2, centre, a[2]);
  PaintOutline(
      port, *crystal, a[0], a[1], a[2], centre, opacity,
      [&](const double *, size_t n, double, std::array<float, 3> *out) {
        for (size_t i = 0; i < n; ++i)
          out[i] = {colour[0], colour[1], colour[2]};
      },
      colour);
}

void PhongRenderEllipsoid(GraphicsPort &port, const CrystalRec *crystal, const float tip0[3], const float tip1[3],
                          const float tip2[3], const float centre[3], const float colour[3], float opacity) {
  if (!crystal)
    return;
  const CrystalRec &c = *crystal;
  float a[3][3];
  Sub(tip0, centre, a[0]);
  Sub(tip1, centre, a[1]);
  Sub(tip2, centre, a[2]);
  // The surface v^T M v = 1 about the centre, M = sum a_i a_i^T / |a_i|^4.
  double M[3][3] = {};
  for (const auto &axis : a) {
    const double l2 = double(DotProduct(axis, axis));
    if (!(l2 > 0.0))
      return;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        M[i][j] += double(axis[i]) * axis[j] / (l2 * l2);
  }
  if (!(M[2][2] > 0.0))
    return;
  const SurfaceLight lit(c.ambientIntensity, c.pointIntensity, c.kA[kAtomReflectance], c.kD[kAtomReflectance],
                         c.kS[kAtomReflectance], float(c.phongN[kAtomReflectance]), c.lightDirection, colour);
  // The normals of a row's pixels, kept from one row to the next.
  static std::vector<std::array<float, 3>> normals;
  PaintOutline(port, c, a[0], a[1], a[2], centre, opacity,
               [&](const double *dx, size_t n, double dy, std::array<float, 3> *out) {
                 if (normals.size() < n)
                   normals.resize(n);
                 SurfaceNormals(M, dx, n, dy, normals.data());
                 for (size_t i = 0; i < n; ++i)
                   lit.At(normals[i].data(), out[i].data());
               });
}

void RenderSurfaceColor(float ambientIntensity, float pointIntensity, float kA, float kD, float kS, float N,
                        const float light[3], const float normal[3], const float colour[3], float out[3]) {
  SurfaceLight(ambientIntensity, pointIntensity, kA, kD, kS, N, light, colour).At(normal, out);
}

void UseDefaultEllipsoidLines(Painter &painter, bool scaled) {
  painter.SetLineDash(0.0f, nullptr, 0);
  painter.SetLineWidth(scaled ? float(gPlotRes) / 72.0f : 1.0f);
}

// ---- Radii -----------------------------------------------------------------------------------------

namespace {

// GetEllipsoidRadius with the semi-axes' lengths given, all above nought.
float RadiusAlong(const float *const axes[3], const float lengths[3], const float d[3]) {
  const float ld = Magnitude(d);
  if (!(ld > 0.0f))
    return 0.0f;
  float sum = 0.0f;
  for (int i = 0; i < 3; ++i) {
    const float la = lengths[i];
    const float cosine = DotProduct(axes[i], d) / (la * ld);
    sum += cosine * cosine / (la * la);
  }
  return sum > 0.0f ? 1.0f / std::sqrt(sum) : 0.0f;
}

} // namespace

float GetEllipsoidRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]) {
  const float *axes[3] = {a0, a1, a2};
  float lengths[3];
  for (int i = 0; i < 3; ++i) {
    lengths[i] = Magnitude(axes[i]);
    if (!(lengths[i] > 0.0f))
      return 0.0f;
  }
  return RadiusAlong(axes, lengths, d);
}

float GetBoundaryEllipseRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]) {
  const double length = std::hypot(double(d[0]), double(d[1]));
  ScreenShape shape;
  if (!(length > 0.0) || !OutlineShape(a0, a1, a2, shape))
    return 0.0f;
  // The outline is x^T S^-1 x = 1: along the unit u, r^2 = det S / (u^T adj(S) u).
  const double ux = double(d[0]) / length, uy = double(d[1]) / length;
  const double across = shape.yy * ux * ux - 2.0 * shape.xy * ux * uy + shape.xx * uy * uy;
  const double det = shape.xx * shape.yy - shape.xy * shape.xy;
  return across > 0.0 && det > 0.0 ? float(std::sqrt(det / across)) : 0.0f;
}

namespace {

// Shared by the two radius answers for an atom: the sphere radius, the
// isotropic radius, or the measure applied to the atom's semi-axes.
float AtomRadius(const CrystalRec *crystal, uint32_t atom, const float d[3], bool boundary) {
  if (!crystal || !crystal->ellipsoidData || atom >= UsableAtomSize(*crystal))
    return 0.0f;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  if (a.site >= UsableSiteSize(c))
    return 0.0f;
  const AsymmetricUnitRecord &site = c.sites[a.site];
  if (site.ignoreEllipsoid)
    return c.ellipsoidSphereRadius;
  if (site.displacementType == kDisplacementIsotropic)
    return site.isoValue > 0.0f ? CriticalValue(c) * std::sqrt(site.isoValue) : 0.0f;
  float axes[3][3];
  AtomSemiAxes(c, a, axes);
  return boundary ? GetBoundaryEllipseRadius(axes[0], axes[1], axes[2], d)
                  : GetEllipsoidRadius(axes[0], axes[1], axes[2], d);
}

} // namespace

float GetEllipsoidRadiusForAtom(const CrystalRec *crystal, uint32_t atom, const float d[3]) {
  return AtomRadius(crystal, atom, d, false);
}

namespace {

// What a plot knows of an atom's ellipsoid: its radius whatever the
// direction, or its semi-axes and their lengths; `plot` is the plot that
// worked it out.
struct KnownEllipsoid {
  uint32_t plot = 0;
  bool anisotropic = false;
  float radius = 0.0f;
  float axes[3][3];
  float lengths[3];
};
std::vector<KnownEllipsoid> gKnownEllipsoids;
uint32_t gRadiiPlot = 0;

} // namespace

EllipsoidRadii::EllipsoidRadii(const CrystalRec &crystal) : c_(crystal) {
  if (++gRadiiPlot == 0) {
    // Past the counter's range, nothing known is of this plot.
    for (KnownEllipsoid &known : gKnownEllipsoids)
      known.plot = 0;
    gRadiiPlot = 1;
  }
  const size_t atoms = c_.ellipsoidData ? UsableAtomSize(c_) : 0;
  if (gKnownEllipsoids.size() < atoms)
    gKnownEllipsoids.resize(atoms);
}

float EllipsoidRadii::Along(uint32_t atom, const float d[3]) {
  if (atom >= gKnownEllipsoids.size() || !c_.ellipsoidData || atom >= UsableAtomSize(c_))
    return GetEllipsoidRadiusForAtom(&c_, atom, d);
  KnownEllipsoid &known = gKnownEllipsoids[atom];
  if (known.plot != gRadiiPlot) {
    known.plot = gRadiiPlot;
    known.anisotropic = false;
    known.radius = 0.0f;
    const AtomRecord &a = c_.atoms[atom];
    if (a.site < UsableSiteSize(c_)) {
      const AsymmetricUnitRecord &site = c_.sites[a.site];
      if (site.ignoreEllipsoid)
        known.radius = c_.ellipsoidSphereRadius;
      else if (site.displacementType == kDisplacementIsotropic)
        known.radius = site.isoValue > 0.0f ? CriticalValue(c_) * std::sqrt(site.isoValue) : 0.0f;
      else {
        AtomSemiAxes(c_, a, known.axes);
        known.anisotropic = true;
        for (int i = 0; i < 3; ++i) {
          known.lengths[i] = Magnitude(known.axes[i]);
          if (!(known.lengths[i] > 0.0f))
            known.anisotropic = false; // a flat ellipsoid measures nought
        }
      }
    }
  }
  if (!known.anisotropic)
    return known.radius;
  const float *axes[3] = {known.axes[0], known.axes[1], known.axes[2]};
  return RadiusAlong(axes, known.lengths, d);
}

float GetBoundaryEllipseRadiusForAtom(const CrystalRec *crystal, uint32_t atom, const float d[3]) {
  return AtomRadius(crystal, atom, d, true);
}
