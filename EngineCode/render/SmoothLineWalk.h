// The step-by-step walk of an anti-aliased line, shared by the solid and
// dashed anti-aliased lines. For the raster sources only.
#pragma once

#include "render/RasterPrimitives.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

// The blend of MyPickNMix32BitColors, inlined into the walks.
inline void BlendPixel32(uint32_t &pixel, const RGBColor &reduced, float weight) {
  const uint32_t old = pixel;
  const float rest = 1.0f - weight;
  const uint32_t r = uint32_t(float(reduced.red) * weight + float(ovgfx::PixelRed(old)) * rest);
  const uint32_t g = uint32_t(float(reduced.green) * weight + float(ovgfx::PixelGreen(old)) * rest);
  const uint32_t b = uint32_t(float(reduced.blue) * weight + float(ovgfx::PixelBlue(old)) * rest);
  pixel = ovgfx::PackPixel32(0xFF, r, g, b);
}
inline void BlendTargetPixel32(int x, int y, const RGBColor &reduced, float weight) {
  BlendPixel32(reinterpret_cast<uint32_t *>(dstPixBase + size_t(y - dstPixBounds.top) * dstRowbytes)[x - dstPixBounds.left],
               reduced, weight);
}

inline int RoundHalfAwayInline(float value) {
  int t = int(value);
  if (std::fabs(value - float(t)) >= 0.5f)
    t += value > 0 ? 1 : -1;
  return t;
}

inline float ConeWeightInline(int index) {
  index = std::abs(index);
  return index < kConeFilterEntries ? ConeFilter[index] : 0.0f;
}

struct SmoothWalk {
  bool steep = false;    // y drives the walk, x is the cross coordinate
  bool vertical = false; // steep without horizontal extent: fixed weights
  int first = 0;         // driving range, both ends included, already within the clip
  int last = -1;
  int column = 0; // the vertical line's column
  float ox = 0;   // exact first point
  float oy = 0;
  float s = 0;      // slope dy / dx
  float k = 0;      // 20 x the cosine that turns a cross offset into a distance
  int coreHigh = 0; // cross-section: core from u - coreLow to u + coreHigh
  int coreLow = 0;
};

// Walks the line. For every step that the clip test keeps, `colourForStep`
// answers the reduced colour to blend the step's pixels with, or null to
// leave the step undrawn. A step whose cross-section would leave the clip is
// skipped without asking. A vertical walk asks at every step; its caller has
// checked that the cross-section fits.
template <class ColourForStep> void WalkSmoothLine(const SmoothWalk &w, ColourForStep colourForStep) {
  const Rect &clip = dstPixClipBounds;
  if (w.vertical) {
    for (int y = w.first; y <= w.last; ++y) {
      const RGBColor *colour = colourForStep();
      if (!colour)
        continue;
      for (int c = w.column - w.coreLow; c <= w.column + w.coreHigh; ++c)
        BlendTargetPixel32(c, y, *colour, kConeCentreWeight);
      BlendTargetPixel32(w.column + w.coreHigh + 1, y, *colour, kConeNeighbourWeight);
      BlendTargetPixel32(w.column - w.coreLow - 1, y, *colour, kConeNeighbourWeight);
    }
    return;
  }
  const int crossMin = w.steep ? clip.left : clip.top;
  const int crossMax = w.steep ? clip.right : clip.bottom;
  // The line's pixels are asked for all at once before it is drawn, so that
  // their fetches overlap rather than follow one another.
  {
    const float along = w.steep ? 1.0f / w.s : w.s;
    float cross = w.steep ? (float(w.first) - w.oy) * along + w.ox : (float(w.first) - w.ox) * along + w.oy;
    for (int t = w.first; t <= w.last; ++t, cross += along) {
      const int u = int(std::clamp(cross, float(crossMin), float(crossMax)));
      const int x = w.steep ? u : t, y = w.steep ? t : u;
      __builtin_prefetch(dstPixBase + size_t(y - dstPixBounds.top) * dstRowbytes + size_t(x - dstPixBounds.left) * 4, 1);
    }
  }
  for (int t = w.first; t <= w.last; ++t) {
    const float exact = w.steep ? (float(t) - w.oy) / w.s + w.ox : (float(t) - w.ox) * w.s + w.oy;
    const int u = RoundHalfAwayInline(exact);
    if (u - w.coreLow - 1 < crossMin || u + w.coreHigh + 1 > crossMax)
      continue;
    const RGBColor *colour = colourForStep();
    if (!colour)
      continue;
    const float d = float(u) - exact;
    const float core = ConeWeightInline(int(d * w.k));
    const float high = ConeWeightInline(int((d + 1.0f) * w.k));
    const float low = ConeWeightInline(int((d - 1.0f) * w.k));
    auto blend = [&](int cross, float weight) {
      if (w.steep)
        BlendTargetPixel32(cross, t, *colour, weight);
      else
        BlendTargetPixel32(t, cross, *colour, weight);
    };
    for (int c = u - w.coreLow; c <= u + w.coreHigh; ++c)
      blend(c, core);
    blend(u + w.coreHigh + 1, high);
    blend(u - w.coreLow - 1, low);
  }
}
