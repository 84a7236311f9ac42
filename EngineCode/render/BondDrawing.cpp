#include "render/BondDrawing.h"

#include "Geometry.h"
#include "RenderServices.h"
#include "StructureArrays.h"
#include "VectorMath.h"
#include "graphics/GraphicsPort.h"
#include "render/AtomStyles.h"
#include "render/DashedLines.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "render/SmoothPolygons.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

using namespace ovgfx;

BondOutlinePoint ub[kMaxBondStrips];
BondOutlinePoint lb[kMaxBondStrips];
float ucXo[3] = {0.0f, 0.0f, 0.0f};

namespace {

// ---- Small helpers ---------------------------------------------------------------------------

RGBColor Grey(float w) {
  const uint16_t g = static_cast<uint16_t>(std::clamp(w, 0.0f, 1.0f) * 65535.0f);
  return RGBColor{g, g, g};
}

bool IsSelectionYellowish(const RGBColor &c) {
  return c.red >= kYellowishMin && c.green >= kYellowishMin && c.blue <= kYellowishMaxBlue;
}

// Pen width of frames and line bonds: gPlotRes / 72, at least one pixel.
int PenPixels() { return ScaledToPlotRes(1); }

// The unrounded pixel of a point already in perspective space (no second
// perspective warp).
void FlatRealPixel(const CrystalRec &c, const float xyz[3], float pixel[2], int32_t width, int32_t height) {
  const float s = c.plotScale;
  pixel[0] = (xyz[0] - c.plotCentre[0]) * s + float(width) / 2.0f;
  pixel[1] = float(height) / 2.0f - (xyz[1] - c.plotCentre[1]) * s;
}

void SetOutlinePixel(const CrystalRec &c, BondOutlinePoint &p, int32_t width, int32_t height) {
  const float xyz[3] = {p.x, p.y, p.z};
  float real[2];
  FlatRealPixel(c, xyz, real, width, height);
  p.rh = real[0];
  p.rv = real[1];
  p.h = PixelProjector::RoundedPixel(real[0]);
  p.v = PixelProjector::RoundedPixel(real[1]);
}

int16_t LimitStrips(int32_t n) { return static_cast<int16_t>(std::clamp(n, 1, kMaxBondStrips)); }

// Strip count from a bond width in pixels, halved above the threshold in the
// anti-aliased pixel plot.
int32_t StripCount(float bondRadius, float scale, int32_t halveFrom, bool halveStrictlyAbove) {
  const float widthPixels = 2.0f * bondRadius * scale;
  int32_t n = std::isfinite(widthPixels) ? static_cast<int32_t>(std::clamp(widthPixels, 0.0f, 1.0e6f)) + 1 : 1;
  if (UseSmoothDrawing() && (halveStrictlyAbove ? n > halveFrom : n >= halveFrom)) {
    const int32_t base = halveStrictlyAbove ? halveFrom + 1 : halveFrom;
    n = (n - base) / 2 + base;
  }
  return n;
}

// Fills the outline of one end: centre `centre`, bond radius `rb`, strip
// count n, lateral step, unit directions e and e-perpendicular in the view
// plane, and the tilt t of the bond towards the viewer.
void FillEnd(const CrystalRec &c, BondOutlinePoint *out, const float centre[3], float rb, int32_t n, const float e[2],
             const float ePerp[2], float t, int32_t width, int32_t height) {
  const float step = n > 1 ? 2.0f * rb / float(n - 1) : 0.0f;
  for (int32_t k = 0; k < n; k++) {
    const float u = rb - float(k) * step;
    float w = 0.0f, h = 0.0f;
    if (k != 0 && k != n - 1 && rb > 0.0f) {
      const float across = std::max(0.0f, 1.0f - u * u / (rb * rb));
      w = rb * t * std::sqrt(across);
      const float radicand = rb * rb - u * u - w * w;
      h = radicand > 0.0f ? std::sqrt(radicand) : radicand;
    }
    BondOutlinePoint &p = out[k];
    p.x = centre[0] + u * ePerp[0] + w * e[0];
    p.y = centre[1] + u * ePerp[1] + w * e[1];
    p.z = centre[2] + h;
    SetOutlinePixel(c, p, width, height);
  }
}

// The point where a cylinder of radius rb about the axis from `from`
// towards `to` (length L) meets the sphere of radius r about `from`, moved
// one pixel into the sphere; `from` itself when r is not above rb.
void CutEnd(const float from[3], const float to[3], float L, float r, float rb, float scale, float out[3]) {
  if (!(r > rb)) {
    CopyVector(out, from);
    return;
  }
  const float along = std::sqrt(r * r - rb * rb) - 1.0f / scale;
  for (int k = 0; k < 3; k++)
    out[k] = from[k] + (to[k] - from[k]) / L * along;
}

// Unit vector from a towards b in the view plane, (1, 0) when the bond runs
// along the view direction, and its perpendicular.
void ViewPlaneDirections(const float a[3], const float b[3], float e[2], float ePerp[2]) {
  const float dx = b[0] - a[0], dy = b[1] - a[1];
  const float len = std::sqrt(dx * dx + dy * dy);
  if (len > 0.0f) {
    e[0] = dx / len;
    e[1] = dy / len;
  } else {
    e[0] = 1.0f;
    e[1] = 0.0f;
  }
  ePerp[0] = -e[1];
  ePerp[1] = e[0];
}

// ---- Pen state --------------------------------------------------------------------------------

// Sets the pen colour and, below full opacity, the blend mode.
void SetPen(GraphicsPort &port, const RGBColor &colour, float factor, int size) {
  port.SetForeColor(colour);
  port.PenSize(size, size);
  if (factor < 1.0f) {
    port.SetPenMode(kPenBlend);
    port.SetOpColor(Grey(factor));
  } else {
    port.SetPenMode(kPenCopy);
  }
}

void ResetPen(GraphicsPort &port) {
  port.PenNormal();
  port.SetForeColor(kRGBBlack);
}

// ---- Strips -------------------------------------------------------------------------------------

// First and last outline points of the visible strips.
void StripRange(const CrystalRec &c, int32_t n, bool trim, int32_t &first, int32_t &last) {
  first = 0;
  if (trim) {
    for (int32_t k = 0; k <= n - 2; k++) {
      const float toCentre[2] = {ucXo[0] - ub[k].x, ucXo[1] - ub[k].y};
      const float along[2] = {lb[k].x - ub[k].x, lb[k].y - ub[k].y};
      if (toCentre[0] * along[0] + toCentre[1] * along[1] <= 0.0f) {
        first = k;
        break;
      }
    }
  }
  last = n - 1 - first;
  (void)c;
}

bool TrimShaded(const CrystalRec &c, int32_t n) { return c.perspective && n > kTrimStripsAbove; }

// The unit normal of strip k: from the first end's centre to the middle of
// the strip's first-end edge, over the bond radius.
void StripNormal(int32_t k, float bondRadius, float normal[3]) {
  const float r = bondRadius > 0.0f ? bondRadius : 1.0f;
  normal[0] = ((ub[k].x + ub[k + 1].x) / 2.0f - ucXo[0]) / r;
  normal[1] = ((ub[k].y + ub[k + 1].y) / 2.0f - ucXo[1]) / r;
  normal[2] = ((ub[k].z + ub[k + 1].z) / 2.0f - ucXo[2]) / r;
}

// A point a fraction f of the way along strip edge k, in real pixels.
void AlongStrip(int32_t k, float f, float out[2]) {
  out[0] = ub[k].rh + (lb[k].rh - ub[k].rh) * f;
  out[1] = ub[k].rv + (lb[k].rv - ub[k].rv) * f;
}

// The outline of the flat cylinder in real pixels: the first-end point
// `first`, the second-end points first..last, the first-end points
// last..first.
std::vector<RealPoint> FlatOutline(int32_t first, int32_t last) {
  std::vector<RealPoint> pts;
  pts.push_back({ub[first].rh, ub[first].rv});
  for (int32_t k = first; k <= last; k++)
    pts.push_back({lb[k].rh, lb[k].rv});
  for (int32_t k = last; k >= first; k--)
    pts.push_back({ub[k].rh, ub[k].rv});
  return pts;
}

Polygon PixelPolygon(const std::vector<RealPoint> &pts) {
  Polygon poly;
  for (const RealPoint &p : pts)
    poly.Add(RoundHalfAway(p.x), RoundHalfAway(p.y));
  return poly;
}

// The outline of band [f0, f1] across the strips first..last.
std::vector<RealPoint> BandOutline(int32_t first, int32_t last, float f0, float f1) {
  std::vector<RealPoint> pts;
  for (int32_t k = first; k <= last; k++) {
    float p[2];
    AlongStrip(k, f0, p);
    pts.push_back({p[0], p[1]});
  }
  for (int32_t k = last; k >= first; k--) {
    float p[2];
    AlongStrip(k, f1, p);
    pts.push_back({p[0], p[1]});
  }
  return pts;
}

// Stripe positions of the striated cylinder; those past the last outline
// point are left out.
std::vector<int32_t> StripePositions(int32_t first, int32_t last) {
  std::vector<int32_t> out;
  const float step = std::max(2.0f, float(last - first) / 6.0f);
  for (int i = 1; i <= kStriatedStripes; i++) {
    const int32_t p = RoundHalfAway(float(first) + float(i) * step);
    if (p <= last)
      out.push_back(p);
  }
  return out;
}

int16_t NarrowLineStyle(int16_t style) {
  switch (style) {
  case kBondPhotoTwinBand:
  case kBondTwinBand:
    return kBondTwoColourLine;
  case kBondPhotoMultiBand:
  case kBondMultiBand:
    return kBondSegmentedLine;
  default:
    return kBondPlainLine;
  }
}

} // namespace

// ---- Style and colours ----------------------------------------------------------------------

namespace {

// The bond style and colours of GetBondColorSpecs; `length` is the distance
// of the two atoms when the element-pair rows had to measure it, else it is
// left as it was.
int16_t ChooseBondStyle(const CrystalRec *crystal, uint32_t i, uint32_t j, RGBColor &colour1, RGBColor &colour2,
                        float &length) {
  if (!crystal || UsableSiteCount(*crystal) == 0 || UsableAtomCount(*crystal) == 0 || UsableSphereCount(*crystal) == 0)
    return kBondBlank;
  const CrystalRec &c = *crystal;
  if (i >= UsableAtomSize(c) || j >= UsableAtomSize(c))
    return kBondBlank;
  const AtomRecord &ai = c.atoms[i], &aj = c.atoms[j];
  int16_t style = 0;
  bool found = false;
  const size_t customs = UsableRecords(c.customBondSpecs.size(), c.customBondSpecCount);
  for (size_t k = 0; k < customs && !found; k++) {
    const CustomBondSpec &s = c.customBondSpecs[k];
    if ((s.atomA == i && s.atomB == j) || (s.atomA == j && s.atomB == i)) {
      style = static_cast<int16_t>(s.style);
      colour1 = s.colour1;
      colour2 = s.colour2;
      found = true;
    }
  }
  if (!found && ai.site < UsableSiteSize(c) && aj.site < UsableSiteSize(c)) {
    const ElementCode ei = c.sites[ai.site].elements[0], ej = c.sites[aj.site].elements[0];
    const int32_t rows = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
    // The distance is measured only for a row of the pair, and once.
    bool measured = false;
    float d = 0.0f;
    for (int32_t k = 0; k < rows && !found; k++) {
      const BondSpec &s = c.bondSpecs[static_cast<size_t>(k)];
      if (!((s.elementA == ei && s.elementB == ej) || (s.elementA == ej && s.elementB == ei)))
        continue;
      if (!measured) {
        d = VecBondDist(ai.cart, aj.cart);
        length = d;
        measured = true;
      }
      if (s.minLength <= d && d <= s.maxLength) {
        style = static_cast<int16_t>(s.style);
        colour1 = s.colour1;
        colour2 = s.colour2;
        found = true;
      }
    }
  }
  if (!found) {
    style = static_cast<int16_t>(c.defaultBondStyle);
    colour1 = c.bondColor1;
    colour2 = c.bondColor2;
  }
  if (style == kBondPhotoTwinBand || style == kBondTwoColourLine || style == kBondTwinBand) {
    if (ai.atomType < UsableSphereSize(c))
      colour1 = c.spheres[ai.atomType].colour;
    if (aj.atomType < UsableSphereSize(c))
      colour2 = c.spheres[aj.atomType].colour;
  }
  return style;
}

} // namespace

int16_t GetBondColorSpecs(const CrystalRec *crystal, uint32_t i, uint32_t j, RGBColor &colour1, RGBColor &colour2) {
  float length = 0.0f;
  return ChooseBondStyle(crystal, i, j, colour1, colour2, length);
}

// ---- Dispatch ------------------------------------------------------------------------------------

BondPainter::BondPainter(const CrystalRec *crystal, float bondRadius, int32_t width, int32_t height)
    : c_(crystal), bondRadius_(bondRadius), width_(width), height_(height),
      drawable_(crystal && UsableAtomCount(*crystal) > 0 && UsableSphereCount(*crystal) > 0),
      narrow_(crystal && !crystal->perspective &&
              LimitStrips(StripCount(bondRadius, crystal->plotScale, kHalvedStripsAbove, true)) <= 1),
      penLines_(!(gPlotMethod == kPixelPlotMethod && gPlotRes == kScreenPlotRes)) {
  if (crystal)
    project_.emplace(*crystal, width, height);
}

void MakeBond(const CrystalRec *crystal, uint32_t i, uint32_t j, float radiusI, float radiusJ, float bondRadius,
              float depth, int32_t width, int32_t height) {
  BondPainter(crystal, bondRadius, width, height).Draw(i, j, radiusI, radiusJ, depth);
}

void BondPainter::Draw(uint32_t i, uint32_t j, float radiusI, float radiusJ, float depth) const {
  if (!drawable_)
    return;
  const CrystalRec &c = *c_;
  if (i >= UsableAtomSize(c) || j >= UsableAtomSize(c))
    return;
  if (OutsideStrip(i, j, radiusI, radiusJ))
    return;
  RGBColor colour1, colour2;
  float length = -1.0f;
  const int16_t style = ChooseBondStyle(&c, i, j, colour1, colour2, length);
  const float *a = c.atoms[i].cart, *b = c.atoms[j].cart;
  switch (style) {
  case kBondBlank:
    return;
  case kBondPhotoMultiBand:
  case kBondMultiBand:
    if (j > i)
      std::swap(colour1, colour2);
    [[fallthrough]];
  case kBondPhotoRendered:
  case kBondPhotoTwinBand:
  case kBondPlain:
  case kBondTwinBand:
  case kBondStriated: {
    if (narrow_) {
      // One strip: the cylinder is its line, between the same ends; two
      // atoms at one place have no bond.
      float d[3];
      VecDiff(b, a, d);
      if (!(d[0] * d[0] + d[1] * d[1] + d[2] * d[2] > 0.0f))
        return;
      Line(a, b, radiusI, radiusJ, length, depth, colour1, colour2, NarrowLineStyle(style));
      return;
    }
    bool cap;
    if (c.modelType == kBallAndStickModel) {
      const uint32_t type = c.atoms[i].atomType;
      const uint32_t atomStyle = type < UsableSphereSize(c) ? c.spheres[type].style : AtomStyleBlank;
      cap = atomStyle == AtomStylePhotoTranslucent || atomStyle == AtomStyleBlank;
    } else {
      cap = radiusI < kNoSphereRadius;
    }
    MakeBondCylinder(&c, a, b, radiusI, radiusJ, bondRadius_, depth, width_, height_, colour1, colour2, style, cap);
    return;
  }
  case kBondSegmentedLine:
    if (j > i)
      std::swap(colour1, colour2);
    Line(a, b, radiusI, radiusJ, length, depth, colour1, colour2, style);
    return;
  default:
    Line(a, b, radiusI, radiusJ, length, depth, colour1, colour2, style);
    return;
  }
}

// Without perspective every pixel of a bond lies within the bond's radius,
// and a stroke, of the segment between its cut ends, and each cut end lies
// within its sphere's radius, or a pixel, of its atom: the bond reaches no
// further from its atoms' rows than the larger sphere and the bond's radius
// with the widest stroke and its blended pixels. Under perspective the
// primitives themselves are left out.
bool BondPainter::OutsideStrip(uint32_t i, uint32_t j, float radiusI, float radiusJ) const {
  const CrystalRec &c = *c_;
  if (c.perspective || !DrawingStripOfPicture())
    return false;
  float a[2], b[2];
  project_->Real(c.atoms[i].cart, a);
  project_->Real(c.atoms[j].cart, b);
  const float reach = (std::max({radiusI, radiusJ, 0.0f}) + std::max(bondRadius_, 0.0f)) * c.plotScale +
                      float(kLineHaloWidth * PenPixels() + kBondStrokeReach);
  return OutsideStripRows(std::min(a[1], b[1]) - reach, std::max(a[1], b[1]) + reach);
}

// ---- Bond ends -------------------------------------------------------------------------------------

int16_t BondStripCount(const CrystalRec &crystal, float bondRadius) {
  return LimitStrips(StripCount(bondRadius, crystal.plotScale, kHalvedStripsAbove, true));
}

bool MakeBondEnds(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA, float radiusB,
                  float bondRadius, int16_t &n, int32_t width, int32_t height) {
  if (!crystal)
    return false;
  const CrystalRec &c = *crystal;
  const float s = c.plotScale;
  n = BondStripCount(c, bondRadius);
  float d[3];
  VecDiff(b, a, d);
  const float L2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  if (!(L2 > 0.0f))
    return false;
  const float L = std::sqrt(L2);
  float cA[3], cB[3];
  CutEnd(a, b, L, radiusA, bondRadius, s, cA);
  CutEnd(b, a, L, radiusB, bondRadius, s, cB);
  CopyVector(ucXo, cA);
  if (n == 1)
    return true;
  float e[2], ePerp[2];
  ViewPlaneDirections(a, b, e, ePerp);
  const float t = (a[2] - b[2]) / L;
  FillEnd(c, ub, cA, bondRadius, n, e, ePerp, t, width, height);
  FillEnd(c, lb, cB, bondRadius, n, e, ePerp, t, width, height);
  return true;
}

bool MakePerspectiveBondEnds(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA,
                             float radiusB, float bondRadius, int16_t &n, int32_t width, int32_t height) {
  if (!crystal)
    return false;
  const CrystalRec &c = *crystal;
  float pa[3], pb[3];
  Xor2Perspective(&c, a, pa);
  Xor2Perspective(&c, b, pb);
  float d[3];
  VecDiff(pb, pa, d);
  const float L2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  if (!(L2 > 0.0f))
    return false;
  const float L = std::sqrt(L2);
  const float t = (pa[2] - pb[2]) / L;
  const float D = std::max(c.viewDistance, kMinViewDistance);
  const float zf = c.frontZ;
  // Radii shrink with distance as the points do; a point at or beyond the
  // eye keeps its radius.
  const auto shrink = [&](float r, float z) {
    const float den = zf - z + D;
    return den > 0.0f ? r * D / den : r;
  };
  const float rA = shrink(radiusA, a[2]);
  const float rB = shrink(radiusB, b[2]);
  const float rbA = shrink(bondRadius, a[2] - rA * t);
  float rbB = shrink(bondRadius, b[2] + rB * t);
  if (c.modelType == kBallAndStickModel && rB > 0.0f && rbB > rB)
    rbB = kPerspectiveBondShare * rB;
  const float s = c.plotScale;
  n = LimitStrips(StripCount(rbA, s, kHalvedPerspectiveStripsFrom, false));
  float cA[3], cB[3];
  CutEnd(pa, pb, L, rA, rbA, s, cA);
  CutEnd(pb, pa, L, rB, rbB, s, cB);
  CopyVector(ucXo, cA);
  if (n == 1)
    return true;
  float e[2], ePerp[2];
  ViewPlaneDirections(pa, pb, e, ePerp);
  FillEnd(c, ub, cA, rbA, n, e, ePerp, t, width, height);
  FillEnd(c, lb, cB, rbB, n, e, ePerp, t, width, height);
  return true;
}

// ---- Cylinder choice -----------------------------------------------------------------------------

void MakeBondCylinder(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA, float radiusB,
                      float bondRadius, float depth, int32_t width, int32_t height, RGBColor colour1, RGBColor colour2,
                      int16_t style, bool withCap) {
  if (!crystal)
    return;
  const CrystalRec &c = *crystal;
  int16_t n = 0;
  const bool ok = c.perspective ? MakePerspectiveBondEnds(&c, a, b, radiusA, radiusB, bondRadius, n, width, height)
                                : MakeBondEnds(&c, a, b, radiusA, radiusB, bondRadius, n, width, height);
  if (!ok)
    return;
  if (n <= 1) {
    MakeBondLine(&c, a, b, radiusA, radiusB, depth, width, height, colour1, colour2, NarrowLineStyle(style));
    return;
  }
  const bool smooth = UseSmoothDrawing();
  if (SameRGBColor(colour1, colour2)) {
    if (style == kBondPhotoTwinBand || style == kBondPhotoMultiBand)
      style = kBondPhotoRendered;
    else if (style == kBondTwinBand || style == kBondMultiBand)
      style = kBondPlain;
  }
  // Under perspective the shaded radius is that of the first end.
  const float shadeRadius =
      c.perspective ? std::sqrt((ub[0].x - ucXo[0]) * (ub[0].x - ucXo[0]) + (ub[0].y - ucXo[1]) * (ub[0].y - ucXo[1]) +
                                (ub[0].z - ucXo[2]) * (ub[0].z - ucXo[2]))
                    : bondRadius;
  switch (style) {
  case kBondPhotoRendered:
    smooth ? DrawPhotoRenderedCylinder(&c, shadeRadius, n, colour1, depth, height)
           : QDrawPhotoRenderedCylinder(&c, shadeRadius, n, colour1, depth);
    break;
  case kBondPhotoTwinBand:
  case kBondPhotoMultiBand: {
    const int32_t bands = style == kBondPhotoTwinBand ? kTwinBands : kMultiBands;
    smooth ? DrawPhotoMultiBandCylinder(&c, shadeRadius, n, colour1, colour2, bands, depth, height)
           : QDrawPhotoMultiBandCylinder(&c, shadeRadius, n, colour1, colour2, bands, depth);
    break;
  }
  case kBondPlain:
    smooth ? DrawPlainCylinder(&c, n, colour1, depth, height) : QDrawPlainCylinder(&c, n, colour1, depth);
    break;
  case kBondTwinBand:
  case kBondMultiBand: {
    const int32_t bands = style == kBondTwinBand ? kTwinBands : kMultiBands;
    smooth ? DrawMultiBandCylinder(&c, n, colour1, colour2, bands, depth, height)
           : QDrawMultiBandCylinder(&c, n, colour1, colour2, bands, depth);
    break;
  }
  case kBondStriated:
    smooth ? DrawStriatedCylinder(&c, n, c.hiliteColor, depth, height)
           : QDrawStriatedCylinder(&c, n, c.hiliteColor, depth);
    break;
  default:
    return;
  }
  if (!withCap)
    return;
  RGBColor fill = colour1, frame = c.hiliteColor;
  if (style == kBondPhotoRendered || style == kBondPhotoTwinBand || style == kBondPhotoMultiBand) {
    float normal[3] = {0.0f, 0.0f, 1.0f};
    if (n >= 3) {
      float p[3], q[3];
      const float u0[3] = {ub[0].x, ub[0].y, ub[0].z};
      const float u1[3] = {ub[1].x, ub[1].y, ub[1].z};
      const float u2[3] = {ub[2].x, ub[2].y, ub[2].z};
      VecDiff(u1, u0, p);
      VecDiff(u2, u0, q);
      CrossProduct(p, q, normal);
      const float len = Magnitude(normal);
      if (len > 0.0f)
        for (float &v : normal)
          v /= len;
      if (normal[2] < 0.0f)
        for (float &v : normal)
          v = -v;
    }
    GetBondStripeColor(fill, &c, normal, n, colour1);
    frame = fill;
  } else if (style == kBondStriated) {
    fill = c.backgroundColor;
  }
  smooth ? DrawBondCap(&c, n, fill, frame, depth, width, height)
         : QDrawBondCap(&c, n, fill, frame, depth, width, height);
}

// ---- Lighting ------------------------------------------------------------------------------------

void GetBondStripeColor(RGBColor &out, const CrystalRec *crystal, const float normal[3], int32_t n, RGBColor colour) {
  out = colour;
  if (!crystal || n <= 2)
    return;
  const CrystalRec &c = *crystal;
  const float *L = c.lightDirection;
  const float kD = c.kD[kBondReflectance], kA = c.kA[kBondReflectance], kS = c.kS[kBondReflectance];
  const float N = float(c.phongN[kBondReflectance]);
  const float Ia = c.ambientIntensity, Il = c.pointIntensity;
  float d = normal[0] * L[0] + normal[1] * L[1] + normal[2] * L[2];
  d = std::clamp(d, 0.0f, 1.0f);
  const float r = 2.0f * normal[2] * d - L[2];
  float specular = 0.0f;
  if (N > 0.0f && r >= kMinBondSpecular && r >= std::pow(10.0f, -kSpecularExponentLimit / N))
    specular = Il * kS * std::pow(r, N);
  const auto channel = [&](uint16_t v) {
    const float x = (Ia * kA + Il * kD * d) * float(v) / 65535.0f + specular;
    return x > 1.0f ? uint16_t(65535) : x > 0.0f ? uint16_t(x * 65535.0f) : uint16_t(0);
  };
  out = RGBColor{channel(colour.red), channel(colour.green), channel(colour.blue)};
}

// ---- Shaded cylinders --------------------------------------------------------------------------

namespace {

// Calls `draw(k, f0, f1, colour, factor)` for every visible strip k and each
// of its `bands` bands from f0 to f1 of the way along it, with the band's
// colour (band 1 at the first end in colour 1, then alternating) lit by the
// strip's normal and depth-shaded.
template <class Draw>
void LitStrips(const CrystalRec &c, float bondRadius, int32_t n, RGBColor colour1, RGBColor colour2, int32_t bands,
               float depth, Draw draw) {
  int32_t first, last;
  StripRange(c, n, TrimShaded(c, n), first, last);
  for (int32_t k = first; k < last; k++) {
    float normal[3];
    StripNormal(k, bondRadius, normal);
    for (int32_t band = 1; band <= bands; band++) {
      RGBColor lit, shaded;
      float factor;
      GetBondStripeColor(lit, &c, normal, n, band % 2 == 1 ? colour1 : colour2);
      DepthShading(&c, depth, lit, shaded, factor);
      draw(k, float(band - 1) / float(bands), float(band) / float(bands), shaded, factor);
    }
  }
}

// A strip as a 2-pixel pen line: between the rounded end points for a
// whole strip, between the truncated points of a band otherwise.
void PenStrip(GraphicsPort &port, int32_t k, float f0, float f1, bool whole, const RGBColor &colour, float factor) {
  int16_t x0 = ub[k].h, y0 = ub[k].v, x1 = lb[k].h, y1 = lb[k].v;
  if (!whole) {
    float p0[2], p1[2];
    AlongStrip(k, f0, p0);
    AlongStrip(k, f1, p1);
    x0 = int16_t(PixelInt(p0[0]));
    y0 = int16_t(PixelInt(p0[1]));
    x1 = int16_t(PixelInt(p1[0]));
    y1 = int16_t(PixelInt(p1[1]));
  }
  if (gUseFastRotn && factor >= 1.0f) {
    MyDrawThickLine(x0, y0, x1, y1, 2, colour);
    return;
  }
  SetPen(port, colour, factor, 2);
  port.MoveTo(x0, y0);
  port.LineTo(x1, y1);
}

// A strip's band as a filled and stroked quadrilateral.
void SmoothStrip(int32_t k, float f0, float f1, const RGBColor &colour, float factor) {
  float q[4][2];
  AlongStrip(k, f0, q[0]);
  AlongStrip(k, f1, q[1]);
  AlongStrip(k + 1, f1, q[2]);
  AlongStrip(k + 1, f0, q[3]);
  const RealPoint quad[4] = {{q[0][0], q[0][1]}, {q[1][0], q[1][1]}, {q[2][0], q[2][1]}, {q[3][0], q[3][1]}};
  MyFillGrownConvexPolygon(quad, 4, kHalfStroke, colour, factor);
}

void PenShaded(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour1, RGBColor colour2,
               int32_t bands, float depth) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || n < 2 || bands < 1)
    return;
  LitStrips(*crystal, bondRadius, n, colour1, colour2, bands, depth,
            [&](int32_t k, float f0, float f1, const RGBColor &colour, float factor) {
              PenStrip(*port, k, f0, f1, bands == 1, colour, factor);
            });
  ResetPen(*port);
}

void SmoothShaded(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour1, RGBColor colour2,
                  int32_t bands, float depth) {
  if (!crystal || n < 2 || bands < 1)
    return;
  LitStrips(*crystal, bondRadius, n, colour1, colour2, bands, depth, SmoothStrip);
}

} // namespace

void QDrawPhotoRenderedCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour, float depth) {
  PenShaded(crystal, bondRadius, n, colour, colour, 1, depth);
}

// The anti-aliased members paint in the raster target's own y-down pixels,
// so the plot height is not needed to turn y round.
void DrawPhotoRenderedCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour, float depth,
                               int32_t) {
  SmoothShaded(crystal, bondRadius, n, colour, colour, 1, depth);
}

void QDrawPhotoMultiBandCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour1,
                                 RGBColor colour2, int32_t bands, float depth) {
  PenShaded(crystal, bondRadius, n, colour1, colour2, bands, depth);
}

void DrawPhotoMultiBandCylinder(const CrystalRec *crystal, float bondRadius, int32_t n, RGBColor colour1,
                                RGBColor colour2, int32_t bands, float depth, int32_t) {
  SmoothShaded(crystal, bondRadius, n, colour1, colour2, bands, depth);
}

// ---- Flat, banded and striated cylinders --------------------------------------------------------

namespace {

bool TrimFlatPen(const CrystalRec &c) { return c.perspective && !gUseFastRotn; }

// Paints the polygon in `fill` and frames it in `frame`, both depth-shaded.
void PenPolygon(GraphicsPort &port, const CrystalRec &c, const std::vector<RealPoint> &pts, const RGBColor &fill,
                const RGBColor &frame, float depth) {
  const Polygon poly = PixelPolygon(pts);
  RGBColor shadedFill, shadedFrame;
  float factor;
  DepthShading(&c, depth, fill, shadedFill, factor);
  DepthShading(&c, depth, frame, shadedFrame, factor);
  SetPen(port, shadedFill, factor, 1);
  port.PaintPolygon(poly);
  // The outline edge by edge: the port's polygon frame paints whole rows
  // between its leftmost and rightmost pixels, which fills the polygon.
  SetPen(port, shadedFrame, factor, PenPixels());
  const std::vector<Point> &corners = poly.Points();
  if (corners.empty())
    return;
  port.MoveTo(corners.back().h, corners.back().v);
  for (const Point &corner : corners)
    port.LineTo(corner.h, corner.v);
}

void SmoothPolygon(const CrystalRec &c, const std::vector<RealPoint> &pts, const RGBColor &fill, const RGBColor &frame,
                   float depth, float lineWidth) {
  RGBColor shadedFill, shadedFrame;
  float factor;
  DepthShading(&c, depth, fill, shadedFill, factor);
  DepthShading(&c, depth, frame, shadedFrame, factor);
  MyFillSmoothPolygon(pts.data(), pts.size(), shadedFill, factor);
  MyFrameSmoothPolygon(pts.data(), pts.size(), lineWidth, shadedFrame, factor);
}

} // namespace

namespace {

// The flat kinds: `bands` polygons along the bond (the whole outline for
// one) filled in alternating colours and framed in `frame`, then, for the
// striated kind, its stripes in the frame colour. Pen form or anti-aliased.
void FlatCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour1, RGBColor colour2, int32_t bands,
                  RGBColor frame, bool stripes, float depth, bool pen) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || n < 2 || bands < 1 || (pen && !port))
    return;
  const CrystalRec &c = *crystal;
  int32_t first, last;
  StripRange(c, n, pen ? TrimFlatPen(c) : TrimShaded(c, n), first, last);
  if (first >= last)
    return;
  const float width = float(PenPixels());
  for (int32_t band = 1; band <= bands; band++) {
    const std::vector<RealPoint> outline =
        bands == 1 ? FlatOutline(first, last)
                   : BandOutline(first, last, float(band - 1) / float(bands), float(band) / float(bands));
    const RGBColor &fill = band % 2 == 1 ? colour1 : colour2;
    if (pen)
      PenPolygon(*port, c, outline, fill, frame, depth);
    else
      SmoothPolygon(c, outline, fill, frame, depth, width);
  }
  if (stripes) {
    RGBColor shaded;
    float factor;
    DepthShading(&c, depth, frame, shaded, factor);
    if (pen)
      SetPen(*port, shaded, factor, PenPixels());
    for (int32_t k : StripePositions(first, last)) {
      if (pen) {
        port->MoveTo(ub[k].h, ub[k].v);
        port->LineTo(lb[k].h, lb[k].v);
      } else {
        const RealPoint stripe[2] = {{ub[k].rh, ub[k].rv}, {lb[k].rh, lb[k].rv}};
        MyFillGrownConvexPolygon(stripe, 2, width / 2.0f, shaded, factor);
      }
    }
  }
  if (pen)
    ResetPen(*port);
}

} // namespace

void QDrawPlainCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth) {
  if (crystal)
    FlatCylinder(crystal, n, colour, colour, 1, crystal->hiliteColor, false, depth, true);
}

void DrawPlainCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth, int32_t) {
  if (crystal)
    FlatCylinder(crystal, n, colour, colour, 1, crystal->hiliteColor, false, depth, false);
}

void QDrawMultiBandCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour1, RGBColor colour2, int32_t bands,
                            float depth) {
  if (crystal)
    FlatCylinder(crystal, n, colour1, colour2, bands, crystal->hiliteColor, false, depth, true);
}

void DrawMultiBandCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour1, RGBColor colour2, int32_t bands,
                           float depth, int32_t) {
  if (crystal)
    FlatCylinder(crystal, n, colour1, colour2, bands, crystal->hiliteColor, false, depth, false);
}

void QDrawStriatedCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth) {
  if (crystal)
    FlatCylinder(crystal, n, crystal->backgroundColor, crystal->backgroundColor, 1, colour, true, depth, true);
}

void DrawStriatedCylinder(const CrystalRec *crystal, int32_t n, RGBColor colour, float depth, int32_t) {
  if (crystal)
    FlatCylinder(crystal, n, crystal->backgroundColor, crystal->backgroundColor, 1, colour, true, depth, false);
}

// ---- Caps --------------------------------------------------------------------------------------

namespace {

// The full end face: the first-end outline and its reflection through the
// end centre's pixel.
std::vector<RealPoint> CapOutline(const CrystalRec &c, int32_t n, int32_t width, int32_t height) {
  float q[2];
  FlatRealPixel(c, ucXo, q, width, height);
  std::vector<RealPoint> pts;
  for (int32_t k = 0; k < n; k++)
    pts.push_back({ub[k].rh, ub[k].rv});
  for (int32_t k = 0; k < n; k++)
    pts.push_back({2.0f * q[0] - ub[k].rh, 2.0f * q[1] - ub[k].rv});
  return pts;
}

} // namespace

void QDrawBondCap(const CrystalRec *crystal, int32_t n, RGBColor fill, RGBColor frame, float depth, int32_t width,
                  int32_t height) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || n < 2)
    return;
  PenPolygon(*port, *crystal, CapOutline(*crystal, n, width, height), fill, frame, depth);
  ResetPen(*port);
}

void DrawBondCap(const CrystalRec *crystal, int32_t n, RGBColor fill, RGBColor frame, float depth, int32_t width,
                 int32_t height) {
  if (!crystal || n < 2)
    return;
  SmoothPolygon(*crystal, CapOutline(*crystal, n, width, height), fill, frame, depth, 1.0f);
}

// ---- Line bonds ------------------------------------------------------------------------------------

void MakeBondLine(const CrystalRec *crystal, const float a[3], const float b[3], float radiusA, float radiusB,
                  float depth, int32_t width, int32_t height, RGBColor colour1, RGBColor colour2, int16_t style) {
  BondPainter(crystal, 0.0f, width, height).Line(a, b, radiusA, radiusB, depth, colour1, colour2, style);
}

void BondPainter::Line(const float a[3], const float b[3], float radiusA, float radiusB, float length, float depth,
                       RGBColor colour1, RGBColor colour2, int16_t style) const {
  if (!c_ || style == kBondBlank)
    return;
  const CrystalRec &c = *c_;
  int16_t p1[2], p2[2];
  if (radiusA > kLineCutRadius || radiusB > kLineCutRadius) {
    const float L = length >= 0.0f ? length : VecBondDist(a, b);
    // Two atoms at one place have no direction to cut along: no line.
    if (!(L > 0.0f))
      return;
    float from[3], to[3];
    for (int k = 0; k < 3; k++) {
      from[k] = radiusA > kLineCutRadius ? a[k] + (b[k] - a[k]) * radiusA / L : a[k];
      to[k] = radiusB > kLineCutRadius ? b[k] + (a[k] - b[k]) * radiusB / L : b[k];
    }
    project_->Pixel(from, p1);
    project_->Pixel(to, p2);
  } else {
    project_->Pixel(a, p1);
    project_->Pixel(b, p2);
  }
  RGBColor shaded1 = colour1, shaded2 = colour2;
  float factor = 1.0f;
  if (c.depthFading) {
    DepthShading(&c, depth, colour1, shaded1, factor);
    DepthShading(&c, depth, colour2, shaded2, factor);
  }

  int16_t dashStyle = 1, dashLength = kUnknownStylePeriod;
  float fraction = kDashShare;
  switch (style) {
  case kBondPlainLine:
    break;
  case kBondDashedLine:
    dashLength = static_cast<int16_t>(std::max(1, gPlotRes / kDashDivisor));
    break;
  case kBondDottedLine:
    dashLength = static_cast<int16_t>(std::max(1, gPlotRes / kDotDivisor));
    fraction = kDotShare;
    break;
  case kBondTwoColourLine:
  case kBondSegmentedLine: {
    // A line shorter than four pixels still gets segments of one pixel.
    const int longer = std::max(std::abs(p2[0] - p1[0]), std::abs(p2[1] - p1[1]));
    dashStyle = 2;
    dashLength = static_cast<int16_t>(std::max(1, style == kBondTwoColourLine ? longer : longer / 4));
    fraction = 0.5f;
    break;
  }
  default:
    break;
  }

  if (factor < 1.0f || penLines_) {
    GraphicsPort *port = CurrentPort();
    if (!port)
      return;
    SetPen(*port, shaded1, factor, PenPixels());
    if (style == kBondPlainLine) {
      port->MoveTo(p1[0], p1[1]);
      port->LineTo(p2[0], p2[1]);
    } else {
      QDrawDashedLine(p1[0], p1[1], p2[0], p2[1], shaded1, shaded2, dashStyle, dashLength, fraction);
    }
    ResetPen(*port);
    return;
  }
  if (!gUseFastRotn)
    MyDrawRealSmoothThickLine(p1[0], p1[1], p2[0], p2[1], kLineHaloWidth, c.backgroundColor);
  if (style == kBondPlainLine)
    MyDrawSmoothLine(p1[0], p1[1], p2[0], p2[1], shaded1);
  else
    MyDrawSmoothDashedLine(p1[0], p1[1], p2[0], p2[1], shaded1, shaded2, dashStyle, dashLength, fraction);
}

// ---- Arrow cone ----------------------------------------------------------------------------------

void DrawArrowCone(const CrystalRec *crystal, const float foot[3], const float offset[3], float unusedWidth,
                   float coneRadius, float coneLength, RGBColor colour, uint8_t selected) {
  (void)unusedWidth;
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port)
    return;
  const CrystalRec &c = *crystal;
  float tip[3], p0[3], p1[3];
  VecAdd(foot, offset, tip);
  MatMul(c.orientationMatrix, foot, p0);
  MatMul(c.orientationMatrix, tip, p1);
  float axis[3];
  VecDiff(p0, p1, axis); // from the apex towards the foot
  const float L2 = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
  if (!(L2 > 0.0f))
    return;
  const float L = std::sqrt(L2);
  for (float &v : axis)
    v /= L;
  int32_t rim = static_cast<int32_t>(std::clamp(ClampedPixels(float(M_PI) * coneRadius * c.plotScale), 0.0f, 1.0e6f));
  rim -= rim % 2;
  if (gUseFastRotn) {
    rim /= 2;
    rim -= rim % 2;
  }
  rim = std::clamp(rim, kMinConeRim, kMaxConeRim);
  const float step = 2.0f * float(M_PI) / float(rim);
  float K[3];
  for (int k = 0; k < 3; k++)
    K[k] = p1[k] + axis[k] * coneLength;
  // The rim circle: perpendicular to the axis, point 0 along e-perpendicular.
  float e[2], ePerp[2];
  ViewPlaneDirections(p1, p0, e, ePerp);
  float u[3] = {ePerp[0], ePerp[1], 0.0f};
  const float along = u[0] * axis[0] + u[1] * axis[1];
  for (int k = 0; k < 3; k++)
    u[k] -= along * axis[k];
  float ulen = Magnitude(u);
  if (!(ulen > 0.0f)) {
    u[0] = 1.0f;
    u[1] = u[2] = 0.0f;
    ulen = 1.0f;
  }
  for (float &v : u)
    v /= ulen;
  float w[3];
  CrossProduct(axis, u, w);
  std::vector<std::array<float, 3>> points(static_cast<size_t>(rim));
  for (int32_t i = 0; i < rim; i++)
    for (int k = 0; k < 3; k++)
      points[static_cast<size_t>(i)][static_cast<size_t>(k)] =
          K[k] + coneRadius * (std::cos(float(i) * step) * u[k] + std::sin(float(i) * step) * w[k]);
  const int32_t width = gHPixels, height = gVPixels; // the plot's size, as every projection of a plot
  const RGBColor mark = IsSelectionYellowish(colour) ? kRGBRed : kRGBYellow;
  const auto paint = [&](const std::vector<const float *> &verts, const float normal[3]) {
    RGBColor lit = mark;
    if (!selected) {
      GetBondStripeColor(lit, &c, normal, rim, colour);
    }
    RGBColor shaded;
    float factor;
    DepthShading(&c, 1.0f, lit, shaded, factor);
    Polygon poly;
    for (const float *v : verts) {
      int16_t px[2] = {0, 0};
      Xor2Xpix(&c, v, px, width, height);
      poly.Add(px[0], px[1]);
    }
    SetPen(*port, shaded, factor, 1);
    port->PaintPolygon(poly);
  };
  for (int32_t i = 0; i < rim; i++) {
    const float *a = points[static_cast<size_t>(i)].data();
    const float *b = points[static_cast<size_t>((i + 1) % rim)].data();
    float ab[3], ap[3], normal[3];
    VecDiff(b, a, ab);
    VecDiff(p1, a, ap);
    CrossProduct(ab, ap, normal);
    const float len = Magnitude(normal);
    if (!(len > 0.0f))
      continue;
    for (float &v : normal)
      v /= len;
    if (normal[2] < 0.0f)
      for (float &v : normal)
        v = -v;
    // Seen from outside when the angle at rim point i between the base
    // centre and the rim point moved along the normal is at least 90 deg.
    float toK[3];
    VecDiff(K, a, toK);
    if (toK[0] * normal[0] + toK[1] * normal[1] + toK[2] * normal[2] > 0.0f)
      continue;
    paint({a, p1, b}, normal);
  }
  if (K[2] > p1[2]) {
    float normal[3] = {-axis[0], -axis[1], -axis[2]};
    if (normal[2] < 0.0f)
      for (float &v : normal)
        v = -v;
    std::vector<const float *> verts;
    for (const auto &p : points)
      verts.push_back(p.data());
    paint(verts, normal);
  }
  ResetPen(*port);
}
