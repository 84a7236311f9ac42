// The step-by-step walk of an anti-aliased line, shared by the solid and
// dashed anti-aliased lines. For the raster sources only.
#pragma once

#include "render/RasterPrimitives.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The blend of MyPickNMix32BitColors, inlined into the walks.
inline void BlendPixel32(uint32_t &pixel, const RGBColor &reduced, float weight) {
  const uint32_t old = pixel;
  const float rest = 1.0f - weight;
  const uint32_t r = uint32_t(float(reduced.red) * weight + float(ovgfx::PixelRed(old)) * rest);
  const uint32_t g = uint32_t(float(reduced.green) * weight + float(ovgfx::PixelGreen(old)) * rest);
  const uint32_t b = uint32_t(float(reduced.blue) * weight + float(ovgfx::PixelBlue(old)) * rest);
  pixel = ovgfx::PackPixel32(0xFF, r, g, b);
}

// The same blend for a colour reduced to 8-bit channels, its channels made
// floats once: Over(old, w) is the pixel BlendPixel32 makes of `old`. The
// three channels go through the same single-precision products and sum side
// by side.
class BlendColour {
public:
  explicit BlendColour(const RGBColor &reduced) {
#ifdef __SSE2__
    colour_ = _mm_setr_ps(float(reduced.blue), float(reduced.green), float(reduced.red), 0.0f);
#else
    colour_ = reduced;
#endif
  }
  uint32_t Over(uint32_t old, float weight) const {
#ifdef __SSE2__
    const __m128 w = _mm_set1_ps(weight);
    const __m128 rest = _mm_set1_ps(1.0f - weight);
    const __m128i zero = _mm_setzero_si128();
    const __m128i channels = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(old)), zero), zero);
    const __m128 mixed = _mm_add_ps(_mm_mul_ps(colour_, w), _mm_mul_ps(_mm_cvtepi32_ps(channels), rest));
    __m128i bytes = _mm_cvttps_epi32(mixed);
    bytes = _mm_packus_epi16(_mm_packs_epi32(bytes, zero), zero);
    return uint32_t(_mm_cvtsi128_si32(bytes)) | 0xFF000000u;
#else
    uint32_t pixel = old;
    BlendPixel32(pixel, colour_, weight);
    return pixel;
#endif
  }

private:
#ifdef __SSE2__
  __m128 colour_;
#else
  RGBColor colour_;
#endif
};

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
  // The target, held locally: the pixel stores cannot then be taken for
  // writes to it.
  uint8_t *const base = dstPixBase;
  const size_t rowBytes = dstRowbytes;
  const int top = dstPixBounds.top, left = dstPixBounds.left;
  const auto pixel = [base, rowBytes, top, left](int x, int y) {
    return reinterpret_cast<uint32_t *>(base + size_t(y - top) * rowBytes) + (x - left);
  };
  // The blend colour of the last step's colour, remade when the colour
  // changes.
  const RGBColor *blendFor = nullptr;
  BlendColour blend(RGBColor{});
  const auto colourOf = [&](const RGBColor *colour) -> const BlendColour & {
    if (colour != blendFor) {
      blend = BlendColour(*colour);
      blendFor = colour;
    }
    return blend;
  };
  if (w.vertical) {
    for (int y = w.first; y <= w.last; ++y) {
      const RGBColor *colour = colourForStep();
      if (!colour)
        continue;
      const BlendColour &b = colourOf(colour);
      for (int c = w.column - w.coreLow; c <= w.column + w.coreHigh; ++c) {
        uint32_t *p = pixel(c, y);
        *p = b.Over(*p, kConeCentreWeight);
      }
      uint32_t *p = pixel(w.column + w.coreHigh + 1, y);
      *p = b.Over(*p, kConeNeighbourWeight);
      p = pixel(w.column - w.coreLow - 1, y);
      *p = b.Over(*p, kConeNeighbourWeight);
    }
    return;
  }
  const int crossMin = w.steep ? clip.left : clip.top;
  const int crossMax = w.steep ? clip.right : clip.bottom;
  // The line's pixels are asked for all at once before it is drawn, so that
  // their fetches overlap rather than follow one another. A shallow line's
  // cross-section spans rows, each its own cache line.
  {
    const float along = w.steep ? 1.0f / w.s : w.s;
    float cross = w.steep ? (float(w.first) - w.oy) * along + w.ox : (float(w.first) - w.ox) * along + w.oy;
    if (w.steep) {
      for (int t = w.first; t <= w.last; ++t, cross += along) {
        const int u = int(std::clamp(cross, float(crossMin), float(crossMax)));
        __builtin_prefetch(pixel(u, t), 1);
      }
    } else {
      for (int t = w.first; t <= w.last; ++t, cross += along) {
        const int lo = std::max(int(std::clamp(cross, float(crossMin), float(crossMax))) - w.coreLow - 1, crossMin);
        const int hi = std::min(lo + w.coreLow + w.coreHigh + 3, crossMax);
        for (int u = lo; u <= hi; ++u)
          __builtin_prefetch(pixel(t, u), 1);
      }
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
    const BlendColour &b = colourOf(colour);
    const float d = float(u) - exact;
    const float core = ConeWeightInline(int(d * w.k));
    const float high = ConeWeightInline(int((d + 1.0f) * w.k));
    const float low = ConeWeightInline(int((d - 1.0f) * w.k));
    // Consecutive cross positions are one pixel apart: one column in a
    // steep line's row, one row down in a shallow line's column.
    uint8_t *p = reinterpret_cast<uint8_t *>(w.steep ? pixel(u - w.coreLow - 1, t) : pixel(t, u - w.coreLow - 1));
    const size_t next = w.steep ? sizeof(uint32_t) : rowBytes;
    const auto put = [&b](uint8_t *at, float weight) {
      uint32_t *q = reinterpret_cast<uint32_t *>(at);
      *q = b.Over(*q, weight);
    };
    put(p, low);
    for (int c = u - w.coreLow; c <= u + w.coreHigh; ++c) {
      p += next;
      put(p, core);
    }
    put(p + next, high);
  }
}
