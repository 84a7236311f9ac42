#include "render/PendingBondDrawing.h"

#include "VectorMath.h"
#include "graphics/Painter.h"
#include "render/AtomStyles.h"
#include "render/PlotPipeline.h"
#include "render/Projection.h"
#include "render/RenderGlobals.h"
#include "render/Vectors.h"

#include <algorithm>
#include <cmath>

using namespace ovgfx;

namespace {

constexpr float kPi = 3.14159265358979f;
// No highlight below this reflection cosine.
constexpr float kMinSpecularCosine = 0.0001f;
// Strip counts up to this are too narrow to light.
constexpr int32_t kUnlitStripCount = 2;

} // namespace

void GetBondStripeColor(RGBColor &out, const CrystalRec *crystal, const float normal[3], int32_t n, RGBColor colour) {
  out = colour;
  if (!crystal || n <= kUnlitStripCount)
    return;
  const CrystalRec &c = *crystal;
  const float *L = c.lightDirection;
  const float d = std::clamp(DotProduct(normal, L), 0.0f, 1.0f);
  const float r = 2.0f * normal[2] * d - L[2];
  const float N = static_cast<float>(std::max<uint16_t>(c.phongN[kBondReflectance], kMinPhongN));
  float specular = 0.0f;
  if (r >= kMinSpecularCosine && r >= std::pow(10.0f, -kSpecularExponentLimit / N))
    specular = c.pointIntensity * c.kS[kBondReflectance] * std::pow(r, N);
  const float lit = c.ambientIntensity * c.kA[kBondReflectance] + c.pointIntensity * c.kD[kBondReflectance] * d;
  auto channel = [&](uint16_t v) -> uint16_t {
    const float value = lit * static_cast<float>(v) / 65535.0f + specular;
    if (value > 1.0f)
      return 65535;
    return static_cast<uint16_t>(std::max(value, 0.0f) * 65535.0f);
  };
  out = RGBColor{channel(colour.red), channel(colour.green), channel(colour.blue)};
}

void DrawArrowCone(const CrystalRec *crystal, const float foot[3], const float offset[3], float /*unusedWidth*/,
                   float coneRadius, float coneLength, RGBColor colour, uint8_t selected) {
  if (!crystal)
    return;
  const CrystalRec &c = *crystal;
  float tip[3], P0[3], P1[3], d[3];
  VecAdd(foot, offset, tip);
  MatMul(c.orientationMatrix, foot, P0);
  MatMul(c.orientationMatrix, tip, P1);
  VecDiff(P0, P1, d);
  const float L2 = DotProduct(d, d);
  if (!(L2 > 0.0f))
    return;
  const float L = std::sqrt(L2);
  const float raw = kPi * coneRadius * c.plotScale;
  int32_t n = std::isfinite(raw) ? static_cast<int32_t>(std::clamp(raw, 0.0f, 1.0e6f)) : kMaxConeRim;
  n += n % 2;
  if (gUseFastRotn) {
    n /= 2;
    n += n % 2;
  }
  n = std::clamp(n, kMinConeRim, kMaxConeRim);
  float K[3];
  for (int k = 0; k < 3; k++)
    K[k] = P1[k] + coneLength * d[k] / L;
  DrawConeHead(c, P1, K, coneRadius, n, colour, 1.0f, selected ? ConeSelection::kSolid : ConeSelection::kNone, false);
}

void MakeBondCylinder(const CrystalRec *crystal, const float xyzA[3], const float xyzB[3], float radiusA, float radiusB,
                      float bondRadius, float depth, int32_t width, int32_t height, RGBColor colour1,
                      RGBColor /*colour2*/, uint16_t /*style*/, bool /*withCap*/) {
  GraphicsPort *port = CurrentPort();
  if (!crystal || !port || !(crystal->plotScale > 0.0f))
    return;
  const CrystalRec &c = *crystal;
  float axis[3];
  VecDiff(xyzB, xyzA, axis);
  const float L = Magnitude(axis);
  if (!(L > 0.0f))
    return;
  // Cut where the cylinder leaves each sphere, one pixel into it.
  auto cut = [&](const float from[3], float r, float sign, float out[3]) {
    float along = 0.0f;
    if (r > bondRadius)
      along = std::sqrt(r * r - bondRadius * bondRadius) - 1.0f / c.plotScale;
    for (int k = 0; k < 3; k++)
      out[k] = from[k] + sign * along * axis[k] / L;
  };
  float cA[3], cB[3];
  cut(xyzA, radiusA, 1.0f, cA);
  cut(xyzB, radiusB, -1.0f, cB);
  float pa[2], pb[2];
  Xor2RealXpix(&c, cA, pa, width, height);
  Xor2RealXpix(&c, cB, pb, width, height);
  const float dx = pb[0] - pa[0], dy = pb[1] - pa[1];
  const float length = std::sqrt(dx * dx + dy * dy);
  if (!(length > 0.0f))
    return;
  const float halfA = std::max(0.5f, bondRadius * c.plotScale * PerspectiveFactor(c, cA[2]));
  const float halfB = std::max(0.5f, bondRadius * c.plotScale * PerspectiveFactor(c, cB[2]));
  const float nx = -dy / length, ny = dx / length;
  RGBColor shaded;
  float opacity = 1.0f;
  DepthShading(&c, depth, colour1, shaded, opacity);
  Painter painter(*port, false);
  if (!painter.IsValid())
    return;
  painter.SetShouldAntialias(true);
  painter.SetFillColor(shaded.red / 65535.0f, shaded.green / 65535.0f, shaded.blue / 65535.0f, opacity);
  painter.BeginPath();
  painter.MoveToPoint(pa[0] + nx * halfA, pa[1] + ny * halfA);
  painter.AddLineToPoint(pb[0] + nx * halfB, pb[1] + ny * halfB);
  painter.AddLineToPoint(pb[0] - nx * halfB, pb[1] - ny * halfB);
  painter.AddLineToPoint(pa[0] - nx * halfA, pa[1] - ny * halfA);
  painter.ClosePath();
  painter.FillPath();
}
