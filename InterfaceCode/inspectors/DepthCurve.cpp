#include "DepthCurve.h"

#include <algorithm>
#include <cmath>

namespace {
struct Preset {
  const char *name;
  // By meaning: upper min opacity, upper base z, upper plateau z, lower
  // plateau z, lower base z, lower min opacity.
  float upperMin, upperBase, upperPlateau, lowerPlateau, lowerBase, lowerMin;
};
constexpr Preset gDepthPresets[kDepthPresetCount + 1] = {
    {"null", 0, 0, 0, 0, 0, 0},
    {"Slope", 1, 1, 1, 1, 0, 0},
    {"Step", 1, 1, 1, 0.8f, 0.2f, 0.2f},
    {"Block", 0, 0.6f, 0.6f, 0.4f, 0.4f, 0},
    {"Wafer", 0, 0.52f, 0.52f, 0.48f, 0.48f, 0},
    {"Trapezoid", 0, 0.75f, 0.58f, 0.42f, 0.25f, 0},
    {"Pyramid", 0, 0.75f, 0.5f, 0.5f, 0.25f, 0},
    {"Needle", 0, 0.52f, 0.5f, 0.5f, 0.48f, 0},
    {"Wedge", 0, 0.5f, 0.5f, 0.5f, 0.4f, 0},
};
float Clamp01(float v) { return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f); }
bool Near(float a, float b) { return std::fabs(a - b) <= kDepthPresetTolerance; }
} // namespace

const char *DepthPresetName(int row) { return row >= 0 && row <= kDepthPresetCount ? gDepthPresets[row].name : ""; }

DepthCurve DepthPresetCurve(int row) {
  const Preset &p = gDepthPresets[std::clamp(row, 0, kDepthPresetCount)];
  return DepthCurve{p.upperMin, p.upperBase, p.upperPlateau, p.lowerMin, p.lowerBase, p.lowerPlateau};
}

int MatchDepthPreset(const DepthCurve &c) {
  for (int row = 1; row <= kDepthPresetCount; row++) {
    const DepthCurve p = DepthPresetCurve(row);
    if (Near(c.upperMinOpacity, p.upperMinOpacity) && Near(c.upperBaseZ, p.upperBaseZ) &&
        Near(c.upperPlateauZ, p.upperPlateauZ) && Near(c.lowerMinOpacity, p.lowerMinOpacity) &&
        Near(c.lowerBaseZ, p.lowerBaseZ) && Near(c.lowerPlateauZ, p.lowerPlateauZ))
      return row;
  }
  return kDepthCustomItem;
}

QPoint DepthHandlePoint(const DepthCurve &c, const QRect &g, int handle) {
  // Right and bottom edges taken one pixel in.
  const double w = g.width() - 1, h = g.height() - 1;
  auto at = [&](float z, float opacity) {
    return QPoint(g.left() + int(std::lround((1.0 - z) * w)), g.top() + int(std::lround((1.0 - opacity) * h)));
  };
  switch (handle) {
  case 0: return at(1.0f, c.upperMinOpacity);
  case 1: return at(c.upperBaseZ, c.upperMinOpacity);
  case 2: return at(c.upperPlateauZ, 1.0f);
  case 3: return at(c.lowerPlateauZ, 1.0f);
  case 4: return at(c.lowerBaseZ, c.lowerMinOpacity);
  default: return at(0.0f, c.lowerMinOpacity);
  }
}

int HitDepthHandle(const DepthCurve &c, const QRect &g, QPoint point) {
  for (int handle : {4, 1, 3, 2, 5, 0}) {
    const QPoint p = DepthHandlePoint(c, g, handle);
    if (std::abs(point.x() - p.x()) <= kDepthHandleRadius && std::abs(point.y() - p.y()) <= kDepthHandleRadius)
      return handle;
  }
  return -1;
}

bool DragDepthHandle(DepthCurve &c, int handle, float z, float opacity) {
  const DepthCurve before = c;
  z = Clamp01(z);
  opacity = Clamp01(opacity);
  switch (handle) {
  case 0: c.upperMinOpacity = opacity; break;
  case 1:
    c.upperBaseZ = std::max(c.upperPlateauZ, z);
    c.upperMinOpacity = opacity;
    break;
  case 2: c.upperPlateauZ = std::clamp(z, c.lowerPlateauZ, c.upperBaseZ); break;
  case 3: c.lowerPlateauZ = std::clamp(z, c.lowerBaseZ, c.upperPlateauZ); break;
  case 4:
    c.lowerBaseZ = std::min(c.lowerPlateauZ, z);
    c.lowerMinOpacity = opacity;
    break;
  case 5: c.lowerMinOpacity = opacity; break;
  default: return false;
  }
  return c.upperMinOpacity != before.upperMinOpacity || c.upperBaseZ != before.upperBaseZ ||
         c.upperPlateauZ != before.upperPlateauZ || c.lowerMinOpacity != before.lowerMinOpacity ||
         c.lowerBaseZ != before.lowerBaseZ || c.lowerPlateauZ != before.lowerPlateauZ;
}

DepthZoomSaved SaveDepthZoom(const DepthCurve &c) {
  return DepthZoomSaved{c.upperBaseZ, c.lowerBaseZ, c.upperMinOpacity, c.lowerMinOpacity};
}

int DepthZoomSliderValue(const DepthCurve &c, int maximum) {
  const float w = c.upperPlateauZ - c.lowerPlateauZ;
  if (w > kDepthFullPlateau)
    return -1;
  return int(float(maximum) * (1.0f - c.upperPlateauZ) / (1.0f - w));
}

void SetDepthZoomAmount(DepthCurve &c, DepthZoomSaved &s, float zoom) {
  const float w = c.upperPlateauZ - c.lowerPlateauZ;
  const float upper = 1.0f - (1.0f - w) * (1.0f - zoom);
  const float d = upper - c.upperPlateauZ;
  c.upperPlateauZ = upper;
  c.lowerPlateauZ += d;
  s.upperBase = std::max(0.0f, s.upperBase + d);
  s.lowerBase = std::min(1.0f, s.lowerBase + d);
  // Where an edge cuts a slope the slope keeps its line. The slope's run is
  // never zero here: the saved base lies beyond the edge and the plateau
  // inside it.
  if (s.upperBase > 1.0f) {
    c.upperBaseZ = 1.0f;
    c.upperMinOpacity = s.upperOpacity + (1.0f - s.upperOpacity) * (s.upperBase - 1.0f) / (s.upperBase - c.upperPlateauZ);
  } else {
    c.upperBaseZ = s.upperBase;
    c.upperMinOpacity = s.upperOpacity;
  }
  if (s.lowerBase < 0.0f) {
    c.lowerBaseZ = 0.0f;
    c.lowerMinOpacity = s.lowerOpacity + (1.0f - s.lowerOpacity) * (0.0f - s.lowerBase) / (c.lowerPlateauZ - s.lowerBase);
  } else {
    c.lowerBaseZ = s.lowerBase;
    c.lowerMinOpacity = s.lowerOpacity;
  }
}
