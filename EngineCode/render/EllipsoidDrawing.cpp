#include "render/EllipsoidDrawing.h"

#include "ColourHelpers.h"
#include "EllipsoidMaths.h"
#include "Geometry.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RenderGlobals.h"

#include <algorithm>
#include <cmath>

using namespace ovgfx;

const float gDashLengths[2] = {2.0f, 2.0f};

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 2.0f * kPi;
// Shaded mesh: segment length in pixels, a share of the on-screen size plus
// one, within limits; coarser in a fast rotation frame.
constexpr float kMeshShare = 0.04f, kMeshMin = 2.0f, kMeshMax = 8.0f;
constexpr float kFastMeshShare = 0.25f, kFastMeshMin = 2.0f, kFastMeshMax = 20.0f;
// Seam strokes of the mesh: thin under translucency.
constexpr float kSeamWidthTranslucent = 0.1f;
// Outline radius search: 20 coarse steps of pi/22, then 20 fine ones of
// pi/242 from one coarse step before the best.
constexpr int kBoundarySteps = 20;
constexpr float kBoundaryCoarseStep = kPi / 22.0f;
constexpr float kBoundaryFineStep = kPi / 242.0f;
// The font of the axis labels.
constexpr const char *kAxisLabelFont = "Geneva";
constexpr float kAxisLabelSize = 10.0f;

void Sub(const float a[3], const float b[3], float out[3]) { VecDiff(a, b, out); }

// The painter point of a view point: the real-valued projection, moved to
// the pixel centre so that an ellipse centred on an atom covers the atom's
// pixel symmetrically.
void Project(const CrystalRec &c, const float xyz[3], float &x, float &y) {
  float p[2];
  Xor2RealXpix(&c, xyz, p, gHPixels, gVPixels);
  x = p[0] + 0.5f;
  y = p[1] + 0.5f;
}

void ToView(const CrystalRec &c, const float fractional[3], float view[3]) {
  MatMul(c.orientationMatrix, fractional, view);
}

void SetFill(Painter &p, const float c[3], float alpha) { p.SetFillColor(c[0], c[1], c[2], alpha); }
void SetStroke(Painter &p, const float c[3], float alpha) { p.SetStrokeColor(c[0], c[1], c[2], alpha); }

void StrokeSegment(Painter &p, const CrystalRec &c, const float a[3], const float b[3]) {
  float x0, y0, x1, y1;
  Project(c, a, x0, y0);
  Project(c, b, x1, y1);
  p.BeginPath();
  p.MoveToPoint(x0, y0);
  p.AddLineToPoint(x1, y1);
  p.StrokePath();
}

// Strokes `n` consecutive points from `first`, wrapping round the array.
void StrokeRun(Painter &p, const CrystalRec &c, const std::vector<EllipsoidPoint> &pts, size_t first, size_t n) {
  p.BeginPath();
  for (size_t k = 0; k < n; ++k) {
    float x, y;
    Project(c, pts[(first + k) % pts.size()].data(), x, y);
    if (k == 0)
      p.MoveToPoint(x, y);
    else
      p.AddLineToPoint(x, y);
  }
  p.StrokePath();
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
  Painter painter(*port, false);
  if (!painter.IsValid())
    return;
  painter.SetShouldAntialias(true);
  painter.SelectFont(kAxisLabelFont, kAxisLabelSize);
  painter.SetTextDrawingMode(PainterTextMode::kStroke);

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

  if (!parts.shaded) {
    UseDefaultEllipsoidLines(painter, true);
    SetStroke(painter, line, lineOpacity);
    SetFill(painter, fill, fillOpacity);
    MyDrawEllipse(painter, &c, b1, b2, centre, true, parts.outline);
  } else {
    PhongRenderEllipsoid(painter, &c, tips[0], tips[1], tips[2], centre, fill, fillOpacity);
  }

  painter.SetShouldAntialias(true);
  UseDefaultEllipsoidLines(painter, true);
  SetStroke(painter, line, lineOpacity);
  if (parts.axes && parts.rearAxes) {
    painter.SetLineDash(0.0f, gDashLengths, 2);
    for (const float *tip : tips) {
      float rear[3];
      for (int k = 0; k < 3; ++k)
        rear[k] = 2.0f * centre[k] - tip[k];
      StrokeSegment(painter, c, centre, rear);
    }
    painter.SetLineDash(0.0f, nullptr, 0);
  }

  if (parts.principal || parts.octants) {
    static constexpr int kPlanes[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    static constexpr int kStripeAxes[3][2] = {{0, 1}, {2, 0}, {1, 2}};
    for (int plane = 0; plane < 3; ++plane) {
      const float *tipA = tips[kPlanes[plane][0]], *tipB = tips[kPlanes[plane][1]];
      std::vector<EllipsoidPoint> points = GetPrincipalEllipse(&c, tipA, tipB, centre);
      if (points.empty())
        continue;
      SetStroke(painter, line, lineOpacity);
      SetFill(painter, fill, fillOpacity);
      if (parts.principal)
        PlotPrincipalEllipse(painter, &c, points, b1, b2, parts.hiddenHalves);
      if (parts.octants && parts.stripes) {
        PlotOctantStripes(painter, &c, tips[kStripeAxes[plane][0]], tips[kStripeAxes[plane][1]], centre,
                          kOctantStripes);
      } else if (parts.octants) {
        float normal[3], lit[3];
        CalcPlaneNormal(tipA, tipB, centre, normal);
        RenderSurfaceColor(1.0f, 1.0f, 0.5f, 0.5f, 0.0f, 1.0f, c.lightDirection, normal, surface, lit);
        SetFill(painter, lit, fillOpacity);
        SetStroke(painter, lit, lineOpacity);
        PlotSolidOctant(painter, &c, points);
      }
    }
  }

  if (parts.axes || parts.octants) {
    if (parts.octants && !parts.stripes)
      painter.SetStrokeColor(0.0f, 0.0f, 0.0f, parts.axes ? lineOpacity : lineOpacity / 10.0f);
    static const char *kLabels[3] = {"A", "B", "C"};
    for (int i = 0; i < 3; ++i) {
      StrokeSegment(painter, c, centre, tips[i]);
      if (parts.axisLabels) {
        float x, y;
        Project(c, tips[i], x, y);
        painter.ShowTextAtPoint(x, y, kLabels[i]);
      }
    }
  }

  if (a.selected) {
    const float red[3] = {1.0f, 0.0f, 0.0f}, yellow[3] = {1.0f, 1.0f, 0.0f};
    const float *mark = SelectionIsRed(fill) ? red : yellow;
    painter.SetLineWidth(kEllipsoidSelectionWidth);
    SetFill(painter, mark, kEllipsoidSelectionFill);
    SetStroke(painter, mark, 1.0f);
    MyDrawEllipse(painter, &c, b1, b2, centre, true, true);
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
  static const float kRoot2 = 1.0f / std::sqrt(2.0f);
  const float dirs[3][3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {kRoot2, kRoot2, 0.0f}};
  float p[3][3], radius[3];
  for (int k = 0; k < 3; ++k) {
    radius[k] = GetBoundaryEllipseRadius(a0, a1, a2, dirs[k]);
    for (int i = 0; i < 3; ++i)
      p[k][i] = centre[i] + dirs[k][i] * radius[k];
  }
  float A, B, phi;
  if (!GetEllipseFromPoints(p[0], p[1], p[2], centre, A, B, phi) || !std::isfinite(A) || !std::isfinite(B)) {
    circle((radius[0] + radius[1] + radius[2]) / 3.0f);
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

void MyDrawEllipse(Painter &painter, const CrystalRec *crystal, const float b1[3], const float b2[3],
                   const float centre[3], bool fill, bool stroke) {
  if (!crystal || (!fill && !stroke))
    return;
  float cx, cy, x1, y1, x2, y2;
  Project(*crystal, centre, cx, cy);
  Project(*crystal, b1, x1, y1);
  Project(*crystal, b2, x2, y2);
  const float a = std::hypot(x1 - cx, y1 - cy), b = std::hypot(x2 - cx, y2 - cy);
  if (a == 0.0f || b == 0.0f)
    return;
  const float ux = (x1 - cx) / a, uy = (y1 - cy) / a;
  const int q = (int(std::max(a, b)) + 1) / 2;
  const int n = 4 * std::max(q, 1);
  painter.BeginPath();
  for (int k = 0; k <= n; ++k) {
    const float t = float(k % n) * kTwoPi / float(n);
    const float along = a * std::cos(t), across = b * std::sin(t);
    const float x = cx + along * ux - across * uy, y = cy + along * uy + across * ux;
    if (k == 0)
      painter.MoveToPoint(x, y);
    else
      painter.AddLineToPoint(x, y);
  }
  painter.ClosePath();
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
  if (!crystal)
    return points;
  float u[3], w[3];
  Sub(tipA, centre, u);
  Sub(tipB, centre, w);
  const float lu = Magnitude(u), lw = Magnitude(w);
  const int n = int(std::max(lu, lw) * crystal->plotScale);
  if (n <= 0 || lu <= 0.0f || lw <= 0.0f)
    return points;
  points.resize(size_t(4 * n));
  auto set = [&](int index, float fa, float fb) {
    for (int k = 0; k < 3; ++k)
      points[size_t(index)][size_t(k)] = centre[k] + fa * u[k] + fb * w[k];
  };
  set(0, 1, 0);
  set(n, 0, 1);
  set(2 * n, -1, 0);
  set(3 * n, 0, -1);
  for (int k = 1; k < n; ++k) {
    const float t = float(k) * kTwoPi / float(4 * n);
    const float st = std::sin(t), ct = std::cos(t);
    const float rho = 1.0f / std::sqrt(st * st / (lw * lw) + ct * ct / (lu * lu));
    const float fa = rho * ct / lu, fb = rho * st / lw;
    set(k, fa, fb);
    set(2 * n - k, -fa, fb);
    set(2 * n + k, -fa, -fb);
    set(4 * n - k, fa, -fb);
  }
  return points;
}

size_t GetPrincipalEllipseBound(const std::vector<EllipsoidPoint> &points, const float b1[3], const float b2[3],
                                const float centre[3]) {
  if (points.size() < 2)
    return 0;
  const float A = std::hypot(b1[0] - centre[0], b1[1] - centre[1]);
  const float B = std::hypot(b2[0] - centre[0], b2[1] - centre[1]);
  if (A <= 0.0f || B <= 0.0f)
    return 0;
  const float phi0 = GetVectorBearing(centre, b1);
  const float ratio = A * A / (B * B);
  size_t best = 0;
  float bestGap = 0.0f;
  for (size_t k = 0; k < points.size() / 2; ++k) {
    const float d = std::hypot(points[k][0] - centre[0], points[k][1] - centre[1]);
    const float phi = GetVectorBearing(centre, points[k].data());
    const float cs = std::cos(phi - phi0);
    const float radius = A / std::sqrt(cs * cs * (1.0f - ratio) + ratio);
    const float gap = std::fabs(d - radius);
    if (k == 0 || gap < bestGap) {
      best = k;
      bestGap = gap;
    }
  }
  return best;
}

void PlotPrincipalEllipse(Painter &painter, const CrystalRec *crystal, const std::vector<EllipsoidPoint> &points,
                          const float b1[3], const float b2[3], bool showHiddenHalves) {
  const size_t count = points.size();
  if (!crystal || count < 4)
    return;
  const CrystalRec &c = *crystal;
  float normal[3], centre[3];
  CalcPlaneNormal(points[0].data(), points[count / 4].data(), points[count < 8 ? 1 : count / 8].data(), normal);
  for (int k = 0; k < 3; ++k)
    centre[k] = (points[0][size_t(k)] + points[count / 2][size_t(k)]) / 2.0f;
  if (std::fabs(normal[2]) < kEdgeOnTolerance) {
    size_t far = 0;
    float farthest = -1.0f;
    for (size_t k = 0; k < count / 2; ++k) {
      const float d = std::hypot(points[k][0] - centre[0], points[k][1] - centre[1]);
      if (d > farthest) {
        farthest = d;
        far = k;
      }
    }
    StrokeSegment(painter, c, points[far].data(), points[far + count / 2].data());
    return;
  }
  if (std::fabs(normal[0]) < kEdgeOnTolerance && std::fabs(normal[1]) < kEdgeOnTolerance) {
    StrokeRun(painter, c, points, 0, count + 1);
    return;
  }
  const size_t k = GetPrincipalEllipseBound(points, b1, b2, centre);
  const bool firstInFront = points[(k + count / 4) % count][2] > centre[2];
  auto draw = [&](size_t first, bool front) {
    if (front) {
      StrokeRun(painter, c, points, first, count / 2 + 1);
    } else if (showHiddenHalves) {
      painter.SetLineDash(0.0f, gDashLengths, 2);
      StrokeRun(painter, c, points, first, count / 2 + 1);
      painter.SetLineDash(0.0f, nullptr, 0);
    }
  };
  draw(k, firstInFront);
  draw(k + count / 2, !firstInFront);
}

void PlotOctantStripes(Painter &painter, const CrystalRec *crystal, const float tipA[3], const float tipB[3],
                       const float centre[3], int n) {
  if (!crystal)
    return;
  for (int i = 1; i <= n; ++i) {
    const float f = float(i) / float(n + 1);
    const float reach = std::sqrt(1.0f - f * f);
    float start[3], end[3];
    for (int k = 0; k < 3; ++k) {
      start[k] = f * tipA[k] + (1.0f - f) * centre[k];
      end[k] = start[k] + (tipB[k] - centre[k]) * reach;
    }
    StrokeSegment(painter, *crystal, start, end);
  }
}

void PlotSolidOctant(Painter &painter, const CrystalRec *crystal, const std::vector<EllipsoidPoint> &points) {
  const size_t count = points.size();
  if (!crystal || count < 4)
    return;
  const CrystalRec &c = *crystal;
  float centre[3];
  for (int k = 0; k < 3; ++k)
    centre[k] = (points[0][size_t(k)] + points[count / 2][size_t(k)]) / 2.0f;
  painter.BeginPath();
  for (size_t k = 0; k <= count / 4; ++k) {
    float x, y;
    Project(c, points[k].data(), x, y);
    if (k == 0)
      painter.MoveToPoint(x, y);
    else
      painter.AddLineToPoint(x, y);
  }
  float x, y;
  Project(c, centre, x, y);
  painter.AddLineToPoint(x, y);
  painter.ClosePath();
  painter.FillPath();
  StrokeSegment(painter, c, points[count / 4].data(), centre);
  StrokeSegment(painter, c, points[0].data(), centre);
}

// ---- Shaded body ---------------------------------------------------------------------------------

void PhongRenderEllipsoid(Painter &painter, const CrystalRec *crystal, const float tip0[3], const float tip1[3],
                          const float tip2[3], const float centre[3], const float colour[3], float opacity) {
  if (!crystal)
    return;
  const CrystalRec &c = *crystal;
  const float *tips[3] = {tip0, tip1, tip2};
  float L[3], R[3][3]; // R[i]: unit direction of semi-axis i
  for (int i = 0; i < 3; ++i) {
    float v[3];
    Sub(tips[i], centre, v);
    L[i] = Magnitude(v);
    if (!(L[i] > 0.0f))
      return;
    for (int k = 0; k < 3; ++k)
      R[i][k] = v[k] / L[i];
  }
  const float S = std::max({L[0], L[1], L[2]}) * c.plotScale;
  const float d = gUseFastRotn ? std::clamp(kFastMeshShare * S + 1.0f, kFastMeshMin, kFastMeshMax)
                               : std::clamp(kMeshShare * S + 1.0f, kMeshMin, kMeshMax);
  int N = int(kTwoPi * S / d);
  N -= N % 2;
  if ((N / 2) % 2 == 1)
    N += 2;
  N = std::max(N, 4);
  const float step = kTwoPi / float(N);

  // Rings from the pole at +L2 to the pole at -L2, in the ellipse frame.
  const int rings = N / 2 + 1;
  std::vector<std::vector<EllipsoidPoint>> ring(static_cast<size_t>(rings));
  auto frame = [&](float x, float y, float z) {
    EllipsoidPoint p;
    for (int k = 0; k < 3; ++k)
      p[size_t(k)] = R[0][k] * x + R[1][k] * y + R[2][k] * z + centre[k];
    return p;
  };
  ring[0] = {frame(0.0f, 0.0f, L[2])};
  ring[size_t(N / 2)] = {frame(0.0f, 0.0f, -L[2])};
  int m = 0;
  for (int k = 1; k < N / 2; ++k) {
    m = k <= N / 4 ? 6 * k : m - 6;
    const float t = std::tan(float(k) * step);
    const float rho = std::sqrt(1.0f / (1.0f / (L[2] * L[2] * t * t) + 1.0f / (L[0] * L[0])));
    const float z = rho / t;
    std::vector<EllipsoidPoint> &r = ring[size_t(k)];
    r.resize(size_t(m));
    for (int j = 0; j < m / 2; ++j) {
      const float phi = float(j) * kTwoPi / float(m);
      const float x = rho * std::cos(phi);
      const float y = -(L[1] * rho / L[0]) * std::sqrt(std::max(0.0f, 1.0f - x * x / (rho * rho)));
      r[size_t(j)] = frame(x, y, z);
      r[size_t(j + m / 2)] = frame(-x, -y, z);
    }
  }
  for (int k = 0; k + 1 < rings; ++k) {
    const std::vector<EllipsoidPoint> &a = ring[size_t(k)], &b = ring[size_t(k + 1)];
    const std::vector<EllipsoidPoint> &big = a.size() > b.size() ? a : b;
    const std::vector<EllipsoidPoint> &small = a.size() > b.size() ? b : a;
    const size_t s = big.size() / 6;
    if (s == 0)
      continue;
    auto bigAt = [&](size_t i) { return big[i % big.size()].data(); };
    auto smallAt = [&](size_t i) { return small[i % small.size()].data(); };
    for (size_t q = 0; q < 6; ++q) {
      for (size_t i = 0; i < s; ++i)
        DrawRenderedTriangle(painter, &c, centre, smallAt(q * (s - 1) + i), bigAt(q * s + i), bigAt(q * s + i + 1),
                             colour, opacity);
      for (size_t i = 0; i + 1 < s; ++i)
        DrawRenderedTriangle(painter, &c, centre, smallAt(q * (s - 1) + i), bigAt(q * s + i + 1),
                             smallAt(q * (s - 1) + i + 1), colour, opacity);
    }
  }
}

namespace {

// The outward unit normal of a triangle of an ellipsoid about `centre`.
void OutwardNormal(const float centre[3], const float p1[3], const float p2[3], const float p3[3], float n[3]) {
  CalcPlaneNormal(p1, p2, p3, n);
  float out[3];
  for (int k = 0; k < 3; ++k)
    out[k] = (p1[k] + p2[k] + p3[k]) / 3.0f - centre[k];
  if (DotProduct(n, out) < 0.0f)
    VecNegate(n);
}

void LitColour(const CrystalRec &c, const float normal[3], const float colour[3], float out[3]) {
  RenderSurfaceColor(c.ambientIntensity, c.pointIntensity, c.kA[kAtomReflectance], c.kD[kAtomReflectance],
                     c.kS[kAtomReflectance], float(c.phongN[kAtomReflectance]), c.lightDirection, normal, colour, out);
}

// The triangle's three projected points as x, y pairs.
void TrianglePoints(const CrystalRec &c, const float p1[3], const float p2[3], const float p3[3], float xy[6]) {
  Project(c, p1, xy[0], xy[1]);
  Project(c, p2, xy[2], xy[3]);
  Project(c, p3, xy[4], xy[5]);
}

} // namespace

void DrawRenderedTriangle(Painter &painter, const CrystalRec *crystal, const float centre[3], const float p1[3],
                          const float p2[3], const float p3[3], const float colour[3], float opacity) {
  if (!crystal)
    return;
  const CrystalRec &c = *crystal;
  float n[3];
  OutwardNormal(centre, p1, p2, p3, n);
  if (n[2] < 0.0f)
    return;
  float lit[3], xy[6];
  LitColour(c, n, colour, lit);
  TrianglePoints(c, p1, p2, p3, xy);
  SetFill(painter, lit, opacity);
  if (gUseFastRotn) {
    painter.SetShouldAntialias(false);
    painter.FillConvexPolygon(xy, 3, false);
    return;
  }
  painter.SetShouldAntialias(true);
  SetStroke(painter, lit, opacity);
  painter.SetLineWidth(opacity < 1.0f ? kSeamWidthTranslucent : 1.0f);
  painter.FillConvexPolygon(xy, 3, true);
}

void DrawMultiRenderedTriangle(Painter &painter, const CrystalRec *crystal, const float centre[3], const float p1[3],
                               const float p2[3], const float p3[3], const float colour[3], float opacity) {
  if (!crystal)
    return;
  float n[3];
  OutwardNormal(centre, p1, p2, p3, n);
  if (n[2] < 0.0f)
    return;
  const float mean = (VecBondDist(p1, p2) + VecBondDist(p2, p3) + VecBondDist(p3, p1)) / 3.0f;
  const int rows = std::max(1, 2 * int(mean * crystal->plotScale / 3.0f));
  // Barycentric grid: point (i, j) = p1 + i/rows (p2 - p1) + j/rows (p3 - p1).
  auto at = [&](int i, int j, float out[3]) {
    for (int k = 0; k < 3; ++k)
      out[k] = p1[k] + float(i) / float(rows) * (p2[k] - p1[k]) + float(j) / float(rows) * (p3[k] - p1[k]);
  };
  for (int i = 0; i < rows; ++i)
    for (int j = 0; i + j < rows; ++j) {
      float a[3], b[3], d[3];
      at(i, j, a);
      at(i + 1, j, b);
      at(i, j + 1, d);
      DrawRenderedSubTriangle(painter, crystal, centre, a, b, d, colour, opacity);
      if (i + j + 1 < rows) {
        float e[3];
        at(i + 1, j + 1, e);
        DrawRenderedSubTriangle(painter, crystal, centre, b, e, d, colour, opacity);
      }
    }
}

void DrawRenderedSubTriangle(Painter &painter, const CrystalRec *crystal, const float centre[3], const float p1[3],
                             const float p2[3], const float p3[3], const float colour[3], float opacity) {
  if (!crystal)
    return;
  float towards[3], n[3] = {0, 0, 1};
  for (int k = 0; k < 3; ++k)
    towards[k] = (p1[k] + p2[k] + p3[k]) / 3.0f - centre[k];
  GetUnitVector(towards, n);
  float lit[3], xy[6];
  LitColour(*crystal, n, colour, lit);
  TrianglePoints(*crystal, p1, p2, p3, xy);
  SetFill(painter, lit, opacity);
  painter.SetShouldAntialias(false);
  painter.FillConvexPolygon(xy, 3, false);
}

void RenderSurfaceColor(float ambientIntensity, float pointIntensity, float kA, float kD, float kS, float N,
                        const float light[3], const float normal[3], const float colour[3], float out[3]) {
  const float cosine = std::clamp(DotProduct(normal, light), 0.0f, 1.0f);
  const float rz = 2.0f * normal[2] * cosine - light[2];
  const float exponent = std::max(N, 1.0f);
  float specular = 0.0f;
  if (rz >= kMinSurfaceReflection && rz >= std::pow(10.0f, -kSpecularExponentLimit / exponent))
    specular = pointIntensity * kS * std::pow(rz, N);
  for (int k = 0; k < 3; ++k)
    out[k] = std::min(1.0f, ambientIntensity * kA * colour[k] + pointIntensity * kD * colour[k] * cosine + specular);
}

void UseDefaultEllipsoidLines(Painter &painter, bool scaled) {
  painter.SetLineDash(0.0f, nullptr, 0);
  painter.SetLineWidth(scaled ? float(gPlotRes) / 72.0f : 1.0f);
}

// ---- Radii -----------------------------------------------------------------------------------------

float GetEllipsoidRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]) {
  const float *axes[3] = {a0, a1, a2};
  const float ld = Magnitude(d);
  if (!(ld > 0.0f))
    return 0.0f;
  float sum = 0.0f;
  for (const float *a : axes) {
    const float la = Magnitude(a);
    if (!(la > 0.0f))
      return 0.0f;
    const float cosine = DotProduct(a, d) / (la * ld);
    sum += cosine * cosine / (la * la);
  }
  return sum > 0.0f ? 1.0f / std::sqrt(sum) : 0.0f;
}

float GetBoundaryEllipseRadius(const float a0[3], const float a1[3], const float a2[3], const float d[3]) {
  float unit[3];
  if (!GetUnitVector(d, unit))
    return 0.0f;
  auto value = [&](float theta) {
    const float s = std::sin(theta), co = std::cos(theta);
    const float u[3] = {s * unit[0], s * unit[1], s * unit[2] + co};
    return std::fabs(s * GetEllipsoidRadius(a0, a1, a2, u));
  };
  float best = 0.0f, bestTheta = 0.0f;
  for (int k = 1; k <= kBoundarySteps; ++k) {
    const float theta = float(k) * kBoundaryCoarseStep;
    const float v = value(theta);
    if (v > best) {
      best = v;
      bestTheta = theta;
    }
  }
  const float start = bestTheta - kBoundaryCoarseStep;
  for (int k = 0; k <= kBoundarySteps; ++k)
    best = std::max(best, value(start + float(k) * kBoundaryFineStep));
  return best;
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

float GetBoundaryEllipseRadiusForAtom(const CrystalRec *crystal, uint32_t atom, const float d[3]) {
  return AtomRadius(crystal, atom, d, true);
}
