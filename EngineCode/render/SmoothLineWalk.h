// The step-by-step walk of an anti-aliased line, shared by the solid and
// dashed anti-aliased lines. For the raster sources only.
#pragma once

#include "render/RasterPrimitives.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The blend of MyPickNMix32BitColors, inlined.
inline void BlendPixel32(uint32_t &pixel, const RGBColor &reduced, float weight) {
  const uint32_t old = pixel;
  const float rest = 1.0f - weight;
  const uint32_t r = uint32_t(float(reduced.red) * weight + float(ovgfx::PixelRed(old)) * rest);
  const uint32_t g = uint32_t(float(reduced.green) * weight + float(ovgfx::PixelGreen(old)) * rest);
  const uint32_t b = uint32_t(float(reduced.blue) * weight + float(ovgfx::PixelBlue(old)) * rest);
  pixel = ovgfx::PackPixel32(0xFF, r, g, b);
}

// Each cone filter entry spread over four lanes, with 1 - entry beside it.
struct ConeSplat {
  alignas(16) float weight[4];
  alignas(16) float rest[4];
};
struct ConeSplats {
  ConeSplat entry[kConeFilterEntries];
};
inline constexpr ConeSplats kConeSplats = [] {
  ConeSplats splats{};
  for (int i = 0; i < kConeFilterEntries; ++i)
    for (int lane = 0; lane < 4; ++lane) {
      splats.entry[i].weight[lane] = ConeFilter[i];
      splats.entry[i].rest[lane] = 1.0f - ConeFilter[i];
    }
  return splats;
}();

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
    return Mix(old, _mm_set1_ps(weight), _mm_set1_ps(1.0f - weight));
#else
    uint32_t pixel = old;
    BlendPixel32(pixel, colour_, weight);
    return pixel;
#endif
  }
  // Over(old, ConeFilter[entry]) for an entry of the table.
  uint32_t OverEntry(uint32_t old, int entry) const {
#ifdef __SSE2__
    const ConeSplat &splat = kConeSplats.entry[entry];
    return Mix(old, _mm_load_ps(splat.weight), _mm_load_ps(splat.rest));
#else
    return Over(old, ConeFilter[entry]);
#endif
  }

private:
#ifdef __SSE2__
  uint32_t Mix(uint32_t old, __m128 w, __m128 rest) const {
    const __m128i zero = _mm_setzero_si128();
    const __m128i channels = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(old)), zero), zero);
    const __m128 mixed = _mm_add_ps(_mm_mul_ps(colour_, w), _mm_mul_ps(_mm_cvtepi32_ps(channels), rest));
    __m128i bytes = _mm_cvttps_epi32(mixed);
    bytes = _mm_packus_epi16(_mm_packs_epi32(bytes, zero), zero);
    return uint32_t(_mm_cvtsi128_si32(bytes)) | 0xFF000000u;
  }
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

// The cone filter index of a weight that reaches no pixel: the last entry,
// 0, which every index beyond the table also answers.
inline constexpr int kConeOutside = kConeFilterEntries - 1;
// The entries that hold a vertical line's fixed weights.
inline constexpr int kConeCentreEntry = 0;
inline constexpr int kConeNeighbourEntry = 20;

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

// Four consecutive steps of a walk: the rounded cross position of each and
// the cone filter entries (0 to 30) of its low neighbour, its core and its
// high neighbour.
struct SmoothSteps {
  alignas(16) int u[4];
  alignas(16) int low[4];
  alignas(16) int core[4];
  alignas(16) int high[4];
};

// Fills `steps` for the steps from t on. Every value goes through the same
// single-precision operations, in the same order, as one step taken alone:
// the exact position (t - oy) / s + ox or (t - ox) * s + oy, rounded half
// away from zero, d = u - exact, and the entries |trunc(d * k)|,
// |trunc((d + 1) * k)|, |trunc((d - 1) * k)|.
inline void PlaceSmoothSteps(const SmoothWalk &w, int t, SmoothSteps &steps) {
#ifdef __SSE2__
  const __m128 driving = _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(t), _mm_setr_epi32(0, 1, 2, 3)));
  const __m128 exact =
      w.steep ? _mm_add_ps(_mm_div_ps(_mm_sub_ps(driving, _mm_set1_ps(w.oy)), _mm_set1_ps(w.s)), _mm_set1_ps(w.ox))
              : _mm_add_ps(_mm_mul_ps(_mm_sub_ps(driving, _mm_set1_ps(w.ox)), _mm_set1_ps(w.s)), _mm_set1_ps(w.oy));
  const __m128i whole = _mm_cvttps_epi32(exact);
  const __m128 fraction = _mm_sub_ps(exact, _mm_cvtepi32_ps(whole));
  const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), fraction);
  const __m128i away = _mm_castps_si128(_mm_cmpge_ps(magnitude, _mm_set1_ps(0.5f)));
  // +1 above zero, -1 otherwise
  const __m128i positive = _mm_castps_si128(_mm_cmpgt_ps(exact, _mm_setzero_ps()));
  const __m128i outward = _mm_or_si128(_mm_xor_si128(positive, _mm_set1_epi32(-1)), _mm_set1_epi32(1));
  const __m128i u = _mm_add_epi32(whole, _mm_and_si128(away, outward));
  _mm_store_si128(reinterpret_cast<__m128i *>(steps.u), u);
  const __m128 d = _mm_sub_ps(_mm_cvtepi32_ps(u), exact);
  const __m128 k = _mm_set1_ps(w.k), one = _mm_set1_ps(1.0f);
  // |index|, and anything beyond the table (as an unsigned number) its last
  // entry.
  const auto entry = [](__m128 scaled) {
    const __m128i index = _mm_cvttps_epi32(scaled);
    const __m128i sign = _mm_srai_epi32(index, 31);
    const __m128i size = _mm_sub_epi32(_mm_xor_si128(index, sign), sign);
    const __m128i bias = _mm_set1_epi32(INT32_MIN);
    const __m128i beyond = _mm_cmpgt_epi32(_mm_xor_si128(size, bias), _mm_set1_epi32(kConeOutside ^ INT32_MIN));
    return _mm_or_si128(_mm_and_si128(beyond, _mm_set1_epi32(kConeOutside)), _mm_andnot_si128(beyond, size));
  };
  _mm_store_si128(reinterpret_cast<__m128i *>(steps.core), entry(_mm_mul_ps(d, k)));
  _mm_store_si128(reinterpret_cast<__m128i *>(steps.high), entry(_mm_mul_ps(_mm_add_ps(d, one), k)));
  _mm_store_si128(reinterpret_cast<__m128i *>(steps.low), entry(_mm_mul_ps(_mm_sub_ps(d, one), k)));
#else
  const auto entry = [](float scaled) {
    const unsigned magnitude = unsigned(std::abs(int(scaled)));
    return int(std::min(magnitude, unsigned(kConeOutside)));
  };
  for (int i = 0; i < 4; ++i) {
    const float exact = w.steep ? (float(t + i) - w.oy) / w.s + w.ox : (float(t + i) - w.ox) * w.s + w.oy;
    const int u = RoundHalfAwayInline(exact);
    const float d = float(u) - exact;
    steps.u[i] = u;
    steps.core[i] = entry(d * w.k);
    steps.high[i] = entry((d + 1.0f) * w.k);
    steps.low[i] = entry((d - 1.0f) * w.k);
  }
#endif
}

// Walks the line. For every step that the clip test keeps, `colourForStep`
// answers the blend colour of the step's pixels, or null to leave the step
// undrawn. A step whose cross-section would leave the clip is skipped
// without asking. A vertical walk asks at every step; its caller has checked
// that the cross-section fits. The clip is the lines' (dstLineClipBounds):
// pixels of a step beyond the rows of the target are not written.
template <class ColourForStep> void WalkSmoothLine(const SmoothWalk &w, ColourForStep colourForStep) {
  const Rect &clip = dstLineClipBounds;
  // The rows the target holds: all of the clip's, but for a strip.
  const int rowLow = dstPixClipBounds.top, rowHigh = dstPixClipBounds.bottom;
  // The target, held locally: the pixel stores cannot then be taken for
  // writes to it.
  uint8_t *const base = dstPixBase;
  const ptrdiff_t rowBytes = ptrdiff_t(dstRowbytes);
  const int top = dstPixBounds.top, left = dstPixBounds.left;
  const auto blend = [](uint8_t *at, const BlendColour &colour, int entry) {
    uint32_t *q = reinterpret_cast<uint32_t *>(at);
    *q = colour.OverEntry(*q, entry);
  };
  // Along the walk one step is a row (steep) or a pixel (shallow); across
  // it the other way round.
  const ptrdiff_t along = w.steep ? rowBytes : ptrdiff_t(sizeof(uint32_t));
  const ptrdiff_t across = w.steep ? ptrdiff_t(sizeof(uint32_t)) : rowBytes;
  const int alongOrigin = w.steep ? top : left;
  const int acrossOrigin = w.steep ? left : top;
  const auto at = [&](int t, int u) {
    return base + ptrdiff_t(t - alongOrigin) * along + ptrdiff_t(u - acrossOrigin) * across;
  };
  const int coreCount = w.coreLow + w.coreHigh + 1;
  if (w.vertical) {
    for (int y = w.first; y <= w.last; ++y) {
      const BlendColour *colour = colourForStep();
      if (!colour || y < rowLow || y > rowHigh)
        continue;
      uint8_t *p = at(y, w.column - w.coreLow - 1);
      blend(p, *colour, kConeNeighbourEntry);
      for (int c = 0; c < coreCount; ++c)
        blend(p += across, *colour, kConeCentreEntry);
      blend(p + across, *colour, kConeNeighbourEntry);
    }
    return;
  }
  // A step is kept when its whole cross-section lies within the clip.
  const int lowest = (w.steep ? clip.left : clip.top) + w.coreLow + 1;
  const int highest = (w.steep ? clip.right : clip.bottom) - w.coreHigh - 1;
  // Whether the target holds every pixel of a kept step: the rows of a steep
  // step's row, or of a shallow step's cross-section.
  const auto held = [&](int t, int u) {
    return w.steep ? t >= rowLow && t <= rowHigh : u - w.coreLow - 1 >= rowLow && u + w.coreHigh + 1 <= rowHigh;
  };
  // The steps are placed four at a time, a batch ahead of the blending, and
  // the pixels of each batch are asked for as soon as it is placed, so that
  // their fetches overlap one another and the blends. A shallow line's
  // cross-section spans rows, each its own cache line.
  const auto prefetch = [&](const SmoothSteps &steps, int t, int count) {
    for (int i = 0; i < count; ++i) {
      const int u = steps.u[i];
      if (u < lowest || u > highest || !held(t + i, u))
        continue;
      const uint8_t *p = at(t + i, u - w.coreLow - 1);
      __builtin_prefetch(p, 1);
      if (!w.steep) {
        for (int c = 0; c <= coreCount; ++c)
          __builtin_prefetch(p += across, 1);
      }
    }
  };
  SmoothSteps batches[2];
  int current = 0;
  PlaceSmoothSteps(w, w.first, batches[current]);
  prefetch(batches[current], w.first, std::min(4, w.last - w.first + 1));
  for (int t = w.first; t <= w.last; t += 4) {
    const SmoothSteps &steps = batches[current];
    const int count = std::min(4, w.last - t + 1);
    if (w.last - t >= 4) {
      const int ahead = t + 4;
      PlaceSmoothSteps(w, ahead, batches[current ^ 1]);
      prefetch(batches[current ^ 1], ahead, std::min(4, w.last - ahead + 1));
    }
    for (int i = 0; i < count; ++i) {
      const int u = steps.u[i];
      if (u < lowest || u > highest)
        continue;
      const BlendColour *colour = colourForStep();
      if (!colour)
        continue;
      if (!held(t + i, u)) {
        // A shallow step across the strip's edge: the rows it holds.
        if (w.steep)
          continue;
        const int from = u - w.coreLow - 1, to = u + w.coreHigh + 1;
        for (int r = std::max(from, rowLow); r <= std::min(to, rowHigh); ++r)
          blend(at(t + i, r), *colour, r == from ? steps.low[i] : r == to ? steps.high[i] : steps.core[i]);
        continue;
      }
      uint8_t *p = at(t + i, u - w.coreLow - 1);
      blend(p, *colour, steps.low[i]);
      const int core = steps.core[i];
      for (int c = 0; c < coreCount; ++c)
        blend(p += across, *colour, core);
      blend(p + across, *colour, steps.high[i]);
    }
    current ^= 1;
  }
}
