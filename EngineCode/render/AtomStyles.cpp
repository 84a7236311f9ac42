#include "render/AtomStyles.h"

#include "Alerts.h"
#include "StructureArrays.h"
#include "graphics/ImageCopy.h"
#include "ColourHelpers.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RasterPrimitives.h"
#include "render/RenderGlobals.h"
#include "render/StippleNoise.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

using namespace ovgfx;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// The highlight spot of the filled inset style: 10 degrees in from the rim,
// its ellipse's aspect and its distance up and left of the centre.
constexpr double kInsetCos = 0.984807753012208; // cos 10 degrees
constexpr double kInsetAspect = 0.8403;
constexpr double kInsetOffset = 0.3833;
constexpr int kInsetMinRadius = 6;
// Equatorial arcs are inset by this share of the disc's width.
constexpr double kEquatorInset = 0.35;
// Striped styles: stripes 5 pen units apart.
constexpr int kStripeSpacing = 5;
// The dashed outline: three segments drawn, four skipped.
constexpr int kDashOn = 3, kDashPeriod = 7;
// Two-tone and beach-ball clips reach this far beyond the disc.
constexpr int kClipMargin = 3;
// Dotted clouds: no circle with fewer dots than this.
constexpr int kMinDotsPerCircle = 6;
// Light bearings shorter than this count as straight on.
constexpr float kMinLightBearing = 0.001f;
// Pixel images are at most this radius (bounds stay within 16 bits).
constexpr int32_t kMaxImageRadius = 16383;
// The largest image radius before the first plot gives the picture's size.
constexpr int32_t kUnplottedImageRadius = 1024;

enum class Shading { kFlat, kPhong, kBanded };

int PenUnit() { return ScaledToPlotRes(1); }

uint16_t ClampChannel(float v) {
  if (!(v > 0.0f))
    return 0;
  if (v > 1.0f)
    return 65535;
  return uint16_t(v * 65535.0f);
}

// K * Ia * kA per channel, clamped.
RGBColor AmbientColour(RGBColor k, float Ia, float kA) {
  auto ch = [&](uint16_t c) {
    const float v = float(c) * Ia * kA;
    return uint16_t(std::clamp(v, 0.0f, 65535.0f));
  };
  return RGBColor{ch(k.red), ch(k.green), ch(k.blue)};
}

Rect AtomRect(int32_t x, int32_t y, int32_t r) { return MakeRect(x - r, y - r, x + r + 1, y + r + 1); }

int RoundAway(double v) { return v < 0 ? -int(std::floor(-v + 0.5)) : int(std::floor(v + 0.5)); }

// Keeps the raster target of an outer drawing session across a nested one.
struct RasterTargetSaver {
  PixelBuffer *map = dstPixMap;
  uint8_t *base = dstPixBase;
  uint32_t rowBytes = dstRowbytes;
  int16_t depth = dstBitDepth;
  Rect bounds = dstPixBounds;
  Rect clip = dstPixClipBounds;
  Rect lineClip = dstLineClipBounds;
  ~RasterTargetSaver() {
    dstPixMap = map;
    dstPixBase = base;
    dstRowbytes = rowBytes;
    dstBitDepth = depth;
    dstPixBounds = bounds;
    dstPixClipBounds = clip;
    dstLineClipBounds = lineClip;
  }
};

// Saves a port's colours, pen and clip and puts them back.
struct PortStateSaver {
  GraphicsPort *port;
  RGBColor fore, back, op;
  Region clip;
  int penW, penH;
  PenMode mode;
  Pattern pattern;
  explicit PortStateSaver(GraphicsPort *p)
      : port(p), fore(p->ForeColor()), back(p->BackColor()), op(p->OpColor()), clip(p->Clip()), penW(p->PenWidth()),
        penH(p->PenHeight()), mode(p->GetPenMode()), pattern(p->PenPattern()) {}
  ~PortStateSaver() {
    port->SetForeColor(fore);
    port->SetBackColor(back);
    port->SetOpColor(op);
    port->SetClip(clip);
    port->PenSize(penW, penH);
    port->SetPenMode(mode);
    port->SetPenPattern(pattern);
  }
};

// The back and blend colours alone.
struct ColourSaver {
  GraphicsPort *port;
  RGBColor back, op;
  explicit ColourSaver(GraphicsPort *p) : port(p), back(p->BackColor()), op(p->OpColor()) {}
  ~ColourSaver() {
    port->SetBackColor(back);
    port->SetOpColor(op);
  }
  ColourSaver(const ColourSaver &) = delete;
  ColourSaver &operator=(const ColourSaver &) = delete;
};

// Frames an oval, or the mask region when there is one, with a p x p pen.
void FrameShape(GraphicsPort *port, const Rect &r, const std::optional<Region> &mask, int p) {
  port->PenSize(p, p);
  port->SetPenPattern(kSolidPattern);
  if (mask)
    port->FrameRegion(*mask);
  else
    port->FrameOval(r);
  port->PenNormal();
}

void PaintShape(GraphicsPort *port, const Rect &r, const std::optional<Region> &mask) {
  if (mask)
    port->PaintRegion(*mask);
  else
    port->PaintOval(r);
}

void PlotAtomStylePlain(GraphicsPort *port, RGBColor colour, const Rect &r, const std::optional<Region> &mask) {
  port->SetForeColor(kRGBBlack);
  port->SetBackColor(colour);
  if (mask)
    port->EraseRegion(*mask);
  else
    port->EraseOval(r);
  FrameShape(port, r, mask, PenUnit());
}

// Paints in the fill colour and frames in the frame colour.
void PlotAtomStyleFilled(GraphicsPort *port, RGBColor fill, RGBColor frame, const Rect &r,
                         const std::optional<Region> &mask) {
  port->SetForeColor(fill);
  PaintShape(port, r, mask);
  port->SetForeColor(frame);
  FrameShape(port, r, mask, PenUnit());
}

void PlotAtomStyleHollow(GraphicsPort *port, RGBColor colour, RGBColor background, const Rect &r,
                         const std::optional<Region> &mask) {
  PlotAtomStyleFilled(port, background, colour, r, mask);
}

// The meridian (right half) and the front of the equator (lower half).
void FrameEquator(GraphicsPort *port, RGBColor colour, const Rect &r) {
  const int p = PenUnit();
  const int k = int(kEquatorInset * r.Width());
  port->SetForeColor(colour);
  port->PenSize(p, p);
  const Rect meridian = InsetRect(r, k, 0);
  const Rect equator = InsetRect(r, 0, k);
  if (!meridian.IsEmpty())
    port->FrameArc(meridian, 0, 180);
  if (!equator.IsEmpty())
    port->FrameArc(equator, 90, 180);
  port->PenNormal();
}

void PlotAtomInset(GraphicsPort *port, const Rect &r) {
  const double a = (r.right - r.left) / 2;
  if (a < kInsetMinRadius)
    return;
  const double b = a * kInsetCos;
  const double e = std::sqrt(a * a - b * b);
  const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
  const double off = kInsetOffset * b * std::sqrt(0.5);
  const double ex = cx - off, ey = cy - off;
  const int n = 2 * int(std::floor(e)) + 4;
  const double c45 = std::sqrt(0.5);
  Polygon poly;
  for (int i = 0; i < n; ++i) {
    const double t = kTwoPi * i / n;
    const double u = e * std::cos(t), v = kInsetAspect * e * std::sin(t);
    poly.Add(RoundAway(ex + u * c45 - v * c45), RoundAway(ey + u * c45 + v * c45));
  }
  port->SetForeColor(kRGBWhite);
  port->PaintPolygon(poly);
}

void PlotAtomStyleHollowDashed(GraphicsPort *port, RGBColor colour, RGBColor background, const Rect &r) {
  port->SetForeColor(background);
  port->PaintOval(InsetRect(r, -1, -1));
  const int a = (r.right - 1 - r.left) / 2 - 1;
  const double cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  const int n = std::max(4, 2 * int(std::floor(kPi * a * 72.0 / std::max<int>(gPlotRes, 1))));
  const int p = PenUnit();
  port->SetForeColor(colour);
  port->PenSize(p, p);
  for (int i = 0; i + 1 < n; ++i) {
    if (i % kDashPeriod >= kDashOn)
      continue;
    const double t0 = kTwoPi * i / (n - 1), t1 = kTwoPi * (i + 1) / (n - 1);
    port->MoveTo(RoundAway(cx + a * std::cos(t0)), RoundAway(cy - a * std::sin(t0)));
    port->LineTo(RoundAway(cx + a * std::cos(t1)), RoundAway(cy - a * std::sin(t1)));
  }
  port->PenNormal();
}

void PlotAtomStyleHollowStriped(GraphicsPort *port, RGBColor colour, RGBColor background, const Rect &r0,
                                int families) {
  PlotAtomStyleHollow(port, colour, background, r0, std::nullopt);
  const int p = PenUnit();
  Rect r = r0;
  r.right = int16_t(r.right - p);
  r.bottom = int16_t(r.bottom - p);
  const double a = (r.right - r.left) / 2.0;
  const double cx = RoundAway((r.left + r.right) / 2.0), cy = RoundAway((r.top + r.bottom) / 2.0);
  const double c45 = std::sqrt(0.5);
  port->SetForeColor(colour);
  port->PenSize(p, p);
  for (int f = 0; f < families; ++f) {
    // Chord direction and the offset direction across it.
    const double dx = c45, dy = f == 0 ? c45 : -c45;
    const double ox = -dy, oy = dx;
    for (int t = 0; t < a; t += kStripeSpacing * p) {
      const double half = std::sqrt(a * a - double(t) * t);
      for (int sign : {1, -1}) {
        if (t == 0 && sign < 0)
          continue;
        const double mx = cx + sign * t * ox, my = cy + sign * t * oy;
        port->MoveTo(RoundAway(mx - half * dx), RoundAway(my - half * dy));
        port->LineTo(RoundAway(mx + half * dx), RoundAway(my + half * dy));
      }
    }
  }
  port->PenNormal();
}

// Draws one part of a two-tone or beach-ball atom under the current clip.
void DrawShadedPart(const CrystalRec &c, GraphicsPort *port, RGBColor colour, const Rect &r, Shading shading,
                    const std::optional<Region> &mask) {
  const int rr = (r.right - r.left) / 2 + 1;
  const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  const float N = c.phongN[kAtomReflectance];
  if (shading == Shading::kPhong)
    PhongSphere(colour, rr, cx, cy, c.kD[kAtomReflectance], c.kA[kAtomReflectance], c.kS[kAtomReflectance], N,
                c.ambientIntensity, c.pointIntensity, c.lightDirection);
  else if (shading == Shading::kBanded)
    BandShadedSphere(colour, rr, cx, cy, c.kD[kAtomReflectance], c.kA[kAtomReflectance], c.kS[kAtomReflectance], N,
                     c.ambientIntensity, c.pointIntensity, c.lightDirection);
  else
    PlotAtomStyleFilled(port, colour, c.hiliteColor, r, mask);
}

// Parts of the disc under rectangle clips (intersected with the mask),
// each drawn in its colour.
void DrawUnderClips(const CrystalRec &c, GraphicsPort *port, const Rect &r, Shading shading,
                    const std::optional<Region> &mask, const std::vector<std::pair<Rect, RGBColor>> &parts) {
  const Region saved = port->Clip();
  for (const auto &[clipRect, colour] : parts) {
    Region clip = saved.Intersected(Region(clipRect));
    if (mask)
      clip = clip.Intersected(*mask);
    port->SetClip(clip);
    DrawShadedPart(c, port, colour, r, shading, mask);
  }
  port->SetClip(saved);
}

void PlotAtomStyleTwoTone(const CrystalRec &c, GraphicsPort *port, RGBColor first, RGBColor second, const Rect &r,
                          Shading shading, const std::optional<Region> &mask) {
  const int mid = (r.left + r.right) / 2;
  const Rect left = MakeRect(r.left - kClipMargin, r.top - kClipMargin, mid, r.bottom + kClipMargin);
  const Rect right = MakeRect(mid, r.top - kClipMargin, r.right + kClipMargin, r.bottom + kClipMargin);
  DrawUnderClips(c, port, r, shading, mask, {{left, first}, {right, second}});
}

void PlotAtomStyleBeachBall(const CrystalRec &c, GraphicsPort *port, RGBColor first, RGBColor second, const Rect &r,
                            Shading shading, const std::optional<Region> &mask) {
  const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  const int w = r.Width() / 2 + kClipMargin;
  const Rect tl = MakeRect(r.left - kClipMargin, r.top - kClipMargin, cx, cy);
  DrawUnderClips(
      c, port, r, shading, mask,
      {{tl, first}, {OffsetRect(tl, w, 0), second}, {OffsetRect(tl, 0, w), second}, {OffsetRect(tl, w, w), first}});
}

// Unit vectors u and v completing the unit light direction l, u pointing as
// much towards the viewer as it can.
void LightFrame(const double l[3], double u[3], double v[3]) {
  double w[3] = {-l[2] * l[0], -l[2] * l[1], 1.0 - l[2] * l[2]};
  double len = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  if (len < 1e-9) {
    w[0] = 1.0;
    w[1] = w[2] = 0.0;
    len = 1.0;
  }
  for (int i = 0; i < 3; ++i)
    u[i] = w[i] / len;
  v[0] = l[1] * u[2] - l[2] * u[1];
  v[1] = l[2] * u[0] - l[0] * u[2];
  v[2] = l[0] * u[1] - l[1] * u[0];
}

bool UnitLight(const float L[3], double l[3]) {
  const double len = std::sqrt(double(L[0]) * L[0] + double(L[1]) * L[1] + double(L[2]) * L[2]);
  if (!(len > 0.0))
    return false;
  for (int i = 0; i < 3; ++i)
    l[i] = L[i] / len;
  return true;
}

int EvenUp(int n) { return n + (n & 1); }

PixelBuffer *Pixels(const OVImageHandle &h) { return static_cast<PixelBuffer *>(h.get()); }
Region *RegionOf(const OVImageHandle &h) { return static_cast<Region *>(h.get()); }


// The destination rectangle and mask of an atom's image copy.
bool PlaceRect(const CrystalRec &c, const AtomRecord &a, const Rect &bounds, Rect &dst) {
  int w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
  if (c.perspective) {
    const float f = PerspectiveFactor(c, a.cart[2]);
    w = int(float(w) * f);
    h = int(float(h) * f);
  }
  if (w <= 0 || h <= 0)
    return false;
  const int left = a.pixel[0] - w / 2, top = a.pixel[1] - h / 2;
  dst = MakeRect(left, top, left + w, top + h);
  return true;
}

bool PlaceImage(const CrystalRec &c, const AtomRecord &a, const Rect &bounds, const Region *typeMask,
                std::optional<Region> &mask, Rect &dst) {
  if (!PlaceRect(c, a, bounds, dst))
    return false;
  const int left = dst.left, top = dst.top;
  if (!mask) {
    if (c.perspective) {
      mask = Region::Oval(InsetRect(dst, 1, 1));
    } else {
      if (!typeMask)
        return false;
      mask = *typeMask;
      mask->Offset(left, top);
    }
  } else if (c.perspective) {
    mask->Inset(1, 1);
  }
  return true;
}

// The fading weight of an atom below the lower plateau.
float LowerFadeWeight(const CrystalRec &c, float t) {
  const float m = c.lowerMinOpacity;
  if (t < c.lowerBaseZ)
    return m;
  return m + (1.0f - m) * (t - c.lowerBaseZ) / (c.lowerPlateauZ - c.lowerBaseZ);
}

RGBColor Grey(float w) {
  const uint16_t g = uint16_t(std::clamp(w, 0.0f, 1.0f) * 65535.0f);
  return RGBColor{g, g, g};
}

// An off-screen image and a port drawing into it.
struct ImagePort {
  OVImageHandle image;
  std::unique_ptr<GraphicsPort> port;
  bool Make(const Rect &bounds, int16_t depth) {
    if (MakeGWorld(image, Rect{bounds.top, bounds.left, bounds.bottom, bounds.right}, depth) != 0 || !image)
      return false;
    port = std::make_unique<GraphicsPort>(Pixels(image));
    return true;
  }
};

} // namespace

int32_t AtomPixelRadius(float radius, float scale) {
  const int32_t side = std::max<int32_t>(gHPixels, gVPixels);
  const int32_t limit = std::min(side > 1 ? side / 2 : kUnplottedImageRadius, kMaxImageRadius);
  const float v = std::ceil(radius * scale);
  if (!(v >= 1.0f))
    return 1;
  return v > float(limit) ? limit : int32_t(v);
}

// ---- Lighting ----------------------------------------------------------------------

void RenderSphereColor(RGBColor &out, RGBColor colour, float r, float x, float y, float kD, float kA, float kS, float N,
                       float Ia, float Il, const float L[3]) {
  const float rad = r * r - x * x - y * y;
  const float z = rad > 0.0f ? std::sqrt(rad) : 0.0f;
  float n[3] = {x, -y, z};
  const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (len > 0.0f)
    for (float &v : n)
      v /= len;
  else
    n[2] = 1.0f;
  const float cosine = n[0] * L[0] + n[1] * L[1] + n[2] * L[2];
  const float K[3] = {float(colour.red) / 65535.0f, float(colour.green) / 65535.0f, float(colour.blue) / 65535.0f};
  float ch[3];
  for (int i = 0; i < 3; ++i)
    ch[i] = Ia * kA * K[i];
  if (cosine >= kMinLitCosine) {
    const float s = 2.0f * n[2] * cosine - L[2];
    float S = 0.0f;
    if (!(s < kMinSpecularBase) && !(s < std::pow(10.0f, -kSpecularExponentLimit / N)))
      S = Il * kS * std::pow(s, N);
    for (int i = 0; i < 3; ++i)
      ch[i] = ch[i] + Il * kD * K[i] * cosine + S;
  }
  out = RGBColor{ClampChannel(ch[0]), ClampChannel(ch[1]), ClampChannel(ch[2])};
}

void PhongSphere(RGBColor colour, int32_t r, int32_t x, int32_t y, float kD, float kA, float kS, float N, float Ia,
                 float Il, const float L[3]) {
  GraphicsPort *port = CurrentPort();
  if (!port || r < 0)
    return;
  N = std::clamp(N, float(kMinPhongN), float(kMaxPhongN));
  if (kD < kFlatShadingLimit && kS < kFlatShadingLimit) {
    const RGBColor saved = port->ForeColor();
    port->SetForeColor(AmbientColour(colour, Ia, kA));
    port->PaintOval(MakeRect(x - r + 1, y - r + 1, x + r, y + r));
    port->SetForeColor(saved);
    return;
  }
  RasterTargetSaver keep;
  GetCurrentPixGlobals();
  const float fr = float(r);
  for (int32_t j = -r; j <= r; ++j) {
    const int32_t w = int32_t(std::floor(std::sqrt(double(r) * r - double(j) * j)));
    for (int32_t i = -w; i <= w; ++i) {
      RGBColor lit;
      RenderSphereColor(lit, colour, fr, float(i), float(j), kD, kA, kS, N, Ia, Il, L);
      MySetCPixel(int16_t(x + i), int16_t(y + j), lit);
    }
  }
  DisposeCurrentPixGlobals();
}

void BandShadedSphere(RGBColor colour, int32_t r, int32_t x, int32_t y, float kD, float kA, float kS, float N, float Ia,
                      float Il, const float L[3]) {
  GraphicsPort *port = CurrentPort();
  if (!port)
    return;
  N = std::clamp(N, float(kMinPhongN), float(kMaxPhongN));
  const int rp = r + 1;
  const RGBColor savedFore = port->ForeColor();
  // The whole disc in the ambient colour.
  {
    const int n = std::max(4, 2 * EvenUp(rp));
    Polygon disc;
    for (int i = 0; i < n; ++i) {
      const double t = kTwoPi * i / n;
      disc.Add(RoundAway(x + rp * std::cos(t)), RoundAway(y - rp * std::sin(t)));
    }
    port->SetForeColor(AmbientColour(colour, Ia, kA));
    port->PaintPolygon(disc);
  }
  double l[3];
  if ((kD <= kFlatShadingLimit && kS <= kFlatShadingLimit) || rp < kMinBandedRadius || !UnitLight(L, l)) {
    port->SetForeColor(savedFore);
    return;
  }
  if (std::hypot(L[0], L[1]) <= kMinLightBearing) {
    l[0] = l[1] = 0.0;
    l[2] = 1.0;
  }
  double u[3], v[3];
  LightFrame(l, u, v);
  const int bands = rp > kHalvedBandsAbove ? rp / 2 : rp;
  uint16_t lastLuminance = 0;
  RGBColor last{};
  for (int k = 0; k < bands; ++k) {
    const double h = rp * std::sin(k * kPi / (2.0 * bands));
    const double rho = std::sqrt(std::max(0.0, double(rp) * rp - h * h));
    const int n = std::max(4, 2 * EvenUp(int(std::floor(rho))));
    Polygon band;
    RGBColor fill{};
    for (int i = 0; i < n; ++i) {
      const double t = kTwoPi * i / n;
      double p[3];
      for (int d = 0; d < 3; ++d)
        p[d] = h * l[d] + rho * (std::cos(t) * u[d] + std::sin(t) * v[d]);
      if (p[2] < 0.0) {
        // Hidden: replaced by the silhouette in the same direction.
        const double q = std::hypot(p[0], p[1]);
        if (q > 0.0) {
          p[0] = p[0] / q * rp;
          p[1] = p[1] / q * rp;
        }
      }
      if (i == 5 * n / 32)
        RenderSphereColor(fill, colour, float(rp), float(p[0]), float(-p[1]), kD, kA, kS, N, Ia, Il, L);
      band.Add(RoundAway(x + p[0]), RoundAway(y - p[1]));
    }
    const uint16_t lum = RGBLuminance(fill);
    if (k > 0 && lum < lastLuminance)
      fill = last;
    else
      lastLuminance = lum;
    last = fill;
    port->SetForeColor(fill);
    port->PaintPolygon(band);
  }
  port->SetForeColor(savedFore);
}

// ---- Direct drawing --------------------------------------------------------------------

void PlotAtomStyleRandomFill(int32_t x, int32_t y, int32_t r, float density, RGBColor colour) {
  GraphicsPort *port = CurrentPort();
  if (!port || r <= 0)
    return;
  const int s = gPlotRes < kStippleResPerCell ? 1 : gPlotRes / kStippleResPerCell;
  std::vector<Rect> cells;
  StippleNoise noise(x, y, r);
  const double r2 = double(r) * r;
  for (int dy = -r; dy <= r; dy += s) {
    const int w = int(std::floor(std::sqrt(r2 - double(dy) * dy)));
    for (int dx = -w; dx <= w; dx += s) {
      const double chance = density * std::sqrt(1.0 - (double(dx) * dx + double(dy) * dy) / r2);
      if (chance > noise.Next())
        cells.push_back(MakeRect(x + dx, y + dy, x + dx + s, y + dy + s));
    }
  }
  const RGBColor fore = port->ForeColor(), back = port->BackColor();
  port->SetBackColor(kRGBWhite);
  port->SetForeColor(colour);
  port->DrawRegion(Region::FromRects(cells), GraphicsPort::Ink{kSolidPattern, colour, kRGBWhite, kPenCopy, {}});
  port->SetForeColor(fore);
  port->SetBackColor(back);
}

void PlotAtomStyleDotted(int32_t x, int32_t y, int32_t r, float density, RGBColor colour, const float L[3]) {
  if (!CurrentPort() || r <= 0)
    return;
  double l[3];
  if (!UnitLight(L, l))
    return;
  double u[3], v[3];
  LightFrame(l, u, v);
  const double theta = std::acos(std::clamp(l[2], -1.0, 1.0));
  const double span = std::fabs(theta) + kPi / 2.0;
  const int m = int(std::floor(r * span * density));
  RasterTargetSaver keep;
  GetCurrentPixGlobals();
  for (int k = 1; k < m; ++k) {
    const double alpha = -theta + k * span / m;
    const double h = r * std::sin(alpha);
    const double rho = std::sqrt(std::max(0.0, double(r) * r - h * h));
    const int dots = EvenUp(int(std::ceil(kTwoPi * rho * density)));
    if (dots < kMinDotsPerCircle)
      break;
    for (int i = 0; i < dots; ++i) {
      const double t = kTwoPi * i / dots;
      double p[3];
      for (int d = 0; d < 3; ++d)
        p[d] = h * l[d] + rho * (std::cos(t) * u[d] + std::sin(t) * v[d]);
      if (p[2] < 0.0)
        continue;
      MySetCPixel(int16_t(x + RoundAway(p[0])), int16_t(y - RoundAway(p[1])), colour);
    }
  }
  DisposeCurrentPixGlobals();
}

void DoShowAtomSelected(const CrystalRec *crystal, RGBColor colour, const Region &region) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port)
    return;
  PortStateSaver keep(port);
  const int p = gPlotRes < kSelectionPenGrowsAtRes ? 1 : PenUnit();
  const bool yellowish =
      colour.red >= kYellowishMin && colour.green >= kYellowishMin && colour.blue <= kYellowishMaxBlue;
  port->SetForeColor(yellowish ? kRGBRed : kRGBYellow);
  port->SetBackColor(colour);
  port->PenSize(p, p);
  port->SetPenMode(kPenCopy);
  Region ring = region;
  const Pattern *steps[4] = {&kSolidPattern, &kDarkStipplePattern, &kHalfStipplePattern, &kLightStipplePattern};
  for (int i = 0; i < 4; ++i) {
    if (i > 0)
      ring.Inset(p, p);
    port->SetPenPattern(*steps[i]);
    port->FrameRegion(ring);
  }
}

namespace {

void DrawStyle(const CrystalRec &c, GraphicsPort *port, RGBColor colour, uint32_t style, int32_t x, int32_t y,
               int32_t r, const Rect &R, const std::optional<Region> &mask) {
  const float N = c.phongN[kAtomReflectance];
  switch (style) {
  case AtomStylePlainWhite:
    PlotAtomStylePlain(port, kRGBWhite, R, mask);
    break;
  case AtomStylePlainBlack:
    PlotAtomStylePlain(port, kRGBBlack, R, mask);
    break;
  case AtomStyleHollow:
    PlotAtomStyleHollow(port, colour, c.backgroundColor, R, mask);
    break;
  case AtomStyleHollowEquatorial:
    PlotAtomStyleHollow(port, colour, c.backgroundColor, R, std::nullopt);
    FrameEquator(port, colour, R);
    break;
  case AtomStyleFilledEquatorial:
    PlotAtomStyleFilled(port, colour, c.hiliteColor, R, std::nullopt);
    FrameEquator(port, c.hiliteColor, R);
    break;
  case AtomStyleFilled:
    PlotAtomStyleFilled(port, colour, c.hiliteColor, R, mask);
    break;
  case AtomStyleFilledInset:
    PlotAtomStyleFilled(port, colour, c.hiliteColor, R, std::nullopt);
    PlotAtomInset(port, R);
    break;
  case AtomStyleTwoTone:
    PlotAtomStyleTwoTone(c, port, colour, kRGBLtGrey, R, Shading::kFlat, mask);
    break;
  case AtomStyleRandomFill: {
    port->SetBackColor(c.backgroundColor);
    port->EraseOval(R);
    const float d = std::clamp(float(RGBLuminance(colour)) / 65535.0f, kMinStippleDensity, kMaxStippleDensity);
    PlotAtomStyleRandomFill(x, y, r, d, colour);
    break;
  }
  case AtomStylePhotoTranslucent:
  case AtomStylePhotoRendered:
    BandShadedSphere(colour, r, x, y, c.kD[kAtomReflectance], c.kA[kAtomReflectance], c.kS[kAtomReflectance], N,
                     c.ambientIntensity, c.pointIntensity, c.lightDirection);
    break;
  case AtomStylePhotoTwoTone:
    PlotAtomStyleTwoTone(c, port, colour, kRGBWhite, R, Shading::kBanded, mask);
    break;
  case AtomStyleHollowDashed:
    PlotAtomStyleHollowDashed(port, colour, c.backgroundColor, R);
    break;
  case AtomStyleHollowStriped:
  case AtomStyleHollowHatched:
    PlotAtomStyleHollowStriped(port, colour, c.backgroundColor, R, style == AtomStyleHollowStriped ? 1 : 2);
    break;
  case AtomStylePhotoBeachBall:
    PlotAtomStyleBeachBall(c, port, colour, kRGBWhite, R, Shading::kBanded, mask);
    break;
  case AtomStyleBeachBall:
    PlotAtomStyleBeachBall(c, port, colour, kRGBLtGrey, R, Shading::kFlat, mask);
    break;
  default: // 8, 9, 11 and unknown codes draw nothing
    break;
  }
}

} // namespace

void PlotSimpleAtom(const CrystalRec *crystal, RGBColor colour, uint32_t style, float radius, float z, int32_t x,
                    int32_t y, bool selected, std::optional<Region> mask) {
  GraphicsPort *port = CurrentPort();
  if (style == AtomStyleBlank || !crystal || !port)
    return;
  const CrystalRec &c = *crystal;
  if (mask && mask->IsEmpty())
    return;
  const int32_t r = AtomPixelRadius(radius, c.plotScale * PerspectiveFactor(c, z));
  const Rect R = AtomRect(x, y, r);
  PortStateSaver keep(port);
  if (mask)
    port->SetClip(port->Clip().Intersected(*mask));
  DrawStyle(c, port, colour, style, x, y, r, R, mask);
  port->PenNormal();
  if (selected)
    DoShowAtomSelected(&c, colour, mask ? *mask : Region::Oval(R));
}

// ---- Atom images ---------------------------------------------------------------------------

const PixelBuffer *AtomImage(const SphereRecord &type) { return Pixels(type.image1); }
const Region *AtomMask(const SphereRecord &type) { return RegionOf(type.mask1); }
const PixelBuffer *CloudImage(const SphereRecord &type) { return Pixels(type.image2); }

bool MakeAtom(CrystalRec *crystal, uint32_t type, RGBColor colour, uint32_t style, float N, float kD, float kA,
              float kS) {
  if (!crystal || type >= UsableSphereSize(*crystal))
    return false;
  if (style == AtomStyleBlank)
    return true;
  CrystalRec &c = *crystal;
  SphereRecord &t = c.spheres[type];
  const int32_t r = AtomPixelRadius(t.drawnRadius, c.plotScale);
  const Rect bounds = MakeRect(0, 0, 2 * r + 1, 2 * r + 1);
  t.bounds1 = bounds;
  const bool inset =
      style == AtomStylePhotoTranslucent || style == AtomStylePhotoRendered || style == AtomStylePhotoTwoTone;
  auto mask = std::make_shared<Region>(Region::Oval(inset ? InsetRect(bounds, 1, 1) : bounds));
  if (mask->IsEmpty()) {
    MyCFStopAlert("Sorry, unable to create an atom (error creating new region)");
    return false;
  }
  t.mask1 = mask;
  ImagePort img;
  if (!img.Make(bounds, kOffScreenDepth)) {
    MyCFStopAlert("Error creating new GWorld for atom sphere.");
    return false;
  }
  t.image1 = img.image;
  PortSaver current(img.port.get());
  switch (style) {
  case AtomStylePhotoTranslucent:
  case AtomStylePhotoRendered:
    PhongSphere(colour, r, r, r, kD, kA, kS, N, c.ambientIntensity, c.pointIntensity, c.lightDirection);
    break;
  case AtomStylePhotoBeachBall:
  case AtomStylePhotoTwoTone: {
    // The halves or quadrants are lit with the reflectance asked for.
    CrystalRec lit; // only the lighting fields are read
    const Rect R = AtomRect(r, r, r);
    std::copy(std::begin(c.lightDirection), std::end(c.lightDirection), lit.lightDirection);
    lit.ambientIntensity = c.ambientIntensity;
    lit.pointIntensity = c.pointIntensity;
    lit.kD[kAtomReflectance] = kD;
    lit.kA[kAtomReflectance] = kA;
    lit.kS[kAtomReflectance] = kS;
    lit.phongN[kAtomReflectance] = uint16_t(std::clamp(N, float(kMinPhongN), float(kMaxPhongN)));
    if (style == AtomStylePhotoBeachBall)
      PlotAtomStyleBeachBall(lit, img.port.get(), colour, kRGBWhite, R, Shading::kPhong, std::nullopt);
    else
      PlotAtomStyleTwoTone(lit, img.port.get(), colour, kRGBWhite, R, Shading::kPhong, std::nullopt);
    break;
  }
  default: {
    const float savedFront = c.frontZ;
    PlotSimpleAtom(&c, colour, style, t.drawnRadius, c.frontZ, r, r, false, std::nullopt);
    c.frontZ = savedFront;
    break;
  }
  }
  return true;
}

bool MakeBallAndStickAtom(CrystalRec *crystal, uint32_t type) {
  if (!crystal || type >= UsableSphereSize(*crystal))
    return false;
  const CrystalRec &c = *crystal;
  const SphereRecord &t = c.spheres[type];
  return MakeAtom(crystal, type, t.colour, t.style, c.phongN[kAtomReflectance], c.kD[kAtomReflectance],
                  c.kA[kAtomReflectance], c.kS[kAtomReflectance]);
}

bool MakeBallJointAtom(CrystalRec *crystal, uint32_t type) {
  if (!crystal || type >= UsableSphereSize(*crystal))
    return false;
  RGBColor colour;
  uint32_t style = 0;
  GetBallJointAttributes(crystal, type, colour, style);
  if (style == AtomStyleBlank) {
    crystal->spheres[type].drawnRadius = 0.0f;
    return true;
  }
  const CrystalRec &c = *crystal;
  return MakeAtom(crystal, type, colour, style, c.phongN[kBondReflectance], c.kD[kBondReflectance],
                  c.kA[kBondReflectance], 0.0f);
}

bool MakeSurfaceAtom(CrystalRec *crystal, uint32_t type) {
  if (!crystal || type >= UsableSphereSize(*crystal))
    return false;
  CrystalRec &c = *crystal;
  SphereRecord &t = c.spheres[type];
  const int32_t r = AtomPixelRadius(c.cloudSphereRadFrac * t.radius, c.plotScale);
  const Rect bounds = MakeRect(0, 0, 2 * r + 1, 2 * r + 1);
  t.bounds2 = bounds;
  auto mask = std::make_shared<Region>(Region::Oval(InsetRect(bounds, 1, 1)));
  if (mask->IsEmpty()) {
    MyCFStopAlert("Sorry, unable to build atom surface - error creating cloud region");
    return false;
  }
  t.mask2 = mask;
  ImagePort img;
  const bool oneBit = c.cloudSphereType == 1 || c.cloudSphereType == 2;
  if (!img.Make(bounds, oneBit ? 1 : kOffScreenDepth)) {
    MyCFStopAlert("Error creating new GWorld for atom cloud.");
    return false;
  }
  t.image2 = img.image;
  PortSaver current(img.port.get());
  const float density = 1.0f - c.cloudSphereTransparency;
  if (c.cloudSphereType == 3) {
    const RGBColor colour = c.cloudSameSphereColor ? c.cloudSphereColor : t.colour;
    PhongSphere(colour, r, r, r, c.kD[kCloudReflectance], c.kA[kCloudReflectance], c.kS[kCloudReflectance],
                c.phongN[kCloudReflectance], c.ambientIntensity, c.pointIntensity, c.lightDirection);
  } else if (c.cloudSphereType == 2) {
    PlotAtomStyleDotted(r, r, r, density, kRGBBlack, c.lightDirection);
  } else if (c.cloudSphereType == 1) {
    PlotAtomStyleRandomFill(r, r, r, density, kRGBBlack);
  }
  return true;
}

void DoPlotAtom(const CrystalRec *crystal, uint32_t atom, float t, std::optional<Region> mask) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || atom >= UsableAtomSize(*crystal))
    return;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  if (a.atomType >= UsableSphereSize(c))
    return;
  const SphereRecord &type = c.spheres[a.atomType];
  const PixelBuffer *image = AtomImage(type);
  if (type.style == AtomStyleBlank || !image)
    return;
  if (mask && mask->IsEmpty())
    return;
  Rect dst;
  // Without a mask of its own (the common case) the atom is drawn through its
  // type's mask where it lies; the moved region is made only where one is
  // needed.
  const Region *typeMask = AtomMask(type);
  const bool throughTypeMask = !mask && !c.perspective;
  if (throughTypeMask) {
    if (!typeMask || !PlaceRect(c, a, type.bounds1, dst))
      return;
  } else if (!PlaceImage(c, a, type.bounds1, typeMask, mask, dst)) {
    return;
  }
  const auto region = [&]() -> const Region & {
    if (!mask) {
      mask = *typeMask;
      mask->Offset(dst.left, dst.top);
    }
    return *mask;
  };
  const Rect src = type.bounds1;
  const auto copy = [&](CopyMode mode) {
    if (throughTypeMask)
      CopyPixelsMaskedAt(*image, *port, src, dst, mode, *typeMask, dst.left, dst.top);
    else
      CopyPixels(*image, *port, src, dst, mode, &*mask);
  };
  // The copy changes only the back and blend colours; a selected atom's mark
  // may change more of the port.
  std::optional<PortStateSaver> keepAll;
  if (a.selected)
    keepAll.emplace(port);
  const ColourSaver keep(port);
  const bool translucent = type.style == AtomStylePhotoTranslucent;
  if (c.depthFading && t < c.lowerPlateauZ) {
    float o = LowerFadeWeight(c, t);
    if (!translucent) {
      port->SetBackColor(c.backgroundColor);
      port->EraseRegion(region());
    } else {
      o = o / 2.0f;
    }
    port->SetOpColor(Grey(o));
    copy(kCopyBlend);
  } else {
    float i = 1.0f;
    if (c.depthFading && t > c.upperPlateauZ) {
      RGBColor unused;
      DepthShading(&c, t, type.colour, unused, i);
    }
    if (translucent) {
      const uint16_t g = uint16_t(std::clamp(i, 0.0f, 1.0f) * 32767.5f);
      port->SetOpColor(RGBColor{g, g, g});
      copy(kCopyBlend);
    } else if (i < 1.0f) {
      port->SetOpColor(Grey(i));
      copy(kCopyBlend);
    } else {
      copy(kCopySource);
    }
  }
  if (a.selected)
    DoShowAtomSelected(&c, type.colour, region());
}

void DoPlotCloud(const CrystalRec *crystal, uint32_t atom, float t, std::optional<Region> mask,
                 GraphicsPort *destination) {
  if (!crystal || !destination || atom >= UsableAtomSize(*crystal))
    return;
  const CrystalRec &c = *crystal;
  const AtomRecord &a = c.atoms[atom];
  if (a.atomType >= UsableSphereSize(c))
    return;
  const SphereRecord &type = c.spheres[a.atomType];
  const PixelBuffer *image = CloudImage(type);
  if (!image) {
    FWriteColor("Error locking offscreen cloud pixel image", kRGBRed);
    return;
  }
  if (mask && mask->IsEmpty())
    return;
  Rect dst;
  if (!PlaceImage(c, a, type.bounds2, RegionOf(type.mask2), mask, dst))
    return;
  PortSaver current(destination);
  PortStateSaver keep(destination);
  const Rect src = type.bounds2;
  const int8_t kind = c.cloudSphereType;
  CopyMode mode = kCopySource;
  if (kind == 3) {
    if (c.depthFading) {
      // The weight without the plateau test, and full where the ramp has
      // no length or the cloud is at or above its top.
      float o = 1.0f;
      if (c.lowerPlateauZ > c.lowerBaseZ && t < c.lowerPlateauZ)
        o = std::min(1.0f, LowerFadeWeight(c, t));
      destination->SetBackColor(c.backgroundColor);
      destination->EraseRegion(*mask);
      destination->SetOpColor(Grey(o));
      mode = kCopyBlend;
    }
  } else {
    if (kind == 2 && c.depthFading) {
      destination->SetBackColor(kRGBWhite);
      destination->EraseRegion(*mask);
    }
    const RGBColor base = c.cloudSameSphereColor ? c.cloudSphereColor : type.colour;
    RGBColor shaded;
    float opacity = 1.0f;
    DepthShading(&c, t, base, shaded, opacity);
    destination->SetForeColor(shaded);
    destination->SetBackColor(kRGBWhite);
    mode = kind == 1 ? kCopyOr : kCopySource;
  }
  if (CopyPixels(*image, *destination, src, dst, mode, &*mask) != 0)
    MyCFCautionAlert("An error occurred whilst copying the pixel image to the screen");
}

// ---- Ball joints and radii ------------------------------------------------------------------

bool GetBallJointAttributes(const CrystalRec *crystal, uint32_t type, RGBColor &colour, uint32_t &style) {
  if (!crystal || type >= UsableSphereSize(*crystal))
    return false;
  const CrystalRec &c = *crystal;
  const SphereRecord &t = c.spheres[type];
  colour = t.colour;
  style = t.style;
  const int32_t n = std::clamp(c.bondSpecCount, 0, kMaxBondSpecs);
  for (int32_t i = 0; i < n; ++i) {
    const BondSpec &b = c.bondSpecs[size_t(i)];
    if ((b.elementA != t.element && b.elementB != t.element) || b.style == 0)
      continue;
    switch (b.style) {
    case 2:
    case 4:
    case 6:
    case 7:
    case 8:
      style = AtomStyleBlank;
      break;
    case 1:
    case 3:
    case 5:
      style = AtomStylePhotoRendered;
      break;
    case 12:
      style = AtomStyleHollow;
      break;
    default:
      style = AtomStyleFilled;
      break;
    }
    if (b.style != 3 && b.style != 10)
      colour = b.colour1;
    return true;
  }
  colour = c.bondColor1;
  return false;
}

bool GetAtomSphereRadius(const CrystalRec *crystal, uint32_t atom, float &radius) {
  radius = 0.0f;
  if (!crystal || atom >= UsableAtomSize(*crystal))
    return false;
  const CrystalRec &c = *crystal;
  const uint32_t type = c.atoms[atom].atomType;
  if (type >= UsableSphereSize(c))
    return false;
  const SphereRecord &t = c.spheres[type];
  switch (c.modelType) {
  case 1:
  case 3:
  case 5:
  case 6:
    radius = std::max(c.minBSSphereRadius, c.bsSphereRadFrac * t.radius);
    break;
  case 2:
    radius = t.radius;
    break;
  default:
    break;
  }
  return true;
}
